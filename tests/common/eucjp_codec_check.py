"""Differential check of the Japanese converters against python3's codecs.

Usage: python3 eucjp_codec_check.py <path-to-jp_codec_probe>

Over every JIS X 0208 character that the euc_jp codec decodes, and the
half-width katakana 0x8E 0xA1-0xDF: jis2sjis, euc2sj and sj2euc must give
the bytes of the euc_jp and shift_jis codecs, and iseucalnum must agree with
the Unicode category (letter or number) except at 0xA2 0xF2, the Angstrom
sign, which the search takes as a symbol. ucsToUTF8 must give python's UTF-8
(surrogates passed) for every code point up to U+10FFFF, and utf8ToUCS must
read it back. Exits 0 only when all agree.
"""

import subprocess
import sys
import unicodedata

MAX_REPORTED = 10
LAST_CODE_POINT = 0x10FFFF
ALNUM_EXCEPTIONS = {bytes([0xA2, 0xF2])}


def euc_characters():
    chars = []
    for c1 in range(0xA1, 0xFF):
        for c2 in range(0xA1, 0xFF):
            euc = bytes([c1, c2])
            try:
                chars.append((euc, euc.decode("euc_jp")))
            except UnicodeDecodeError:
                pass
    jis_count = len(chars)
    for c2 in range(0xA1, 0xE0):
        euc = bytes([0x8E, c2])
        chars.append((euc, euc.decode("euc_jp")))
    return chars, jis_count


def main():
    probe = sys.argv[1]
    chars, jis_count = euc_characters()
    requests = []
    expected = []
    for euc, text in chars:
        sjis = text.encode("shift_jis")
        if euc[0] != 0x8E:
            requests.append("jis %02x %02x" % (euc[0] - 0x80, euc[1] - 0x80))
            expected.append(("jis2sjis", euc, sjis.hex()))
        requests.append("e2s " + euc.hex())
        expected.append(("euc2sj", euc, sjis.hex()))
        requests.append("s2e " + sjis.hex())
        expected.append(("sj2euc", euc, euc.hex()))
        category = unicodedata.category(text)
        alnum = category[0] in "LN"
        if euc in ALNUM_EXCEPTIONS:
            alnum = not alnum
        requests.append("alnum " + euc.hex())
        expected.append(("iseucalnum (%s)" % category, euc, "1" if alnum else "0"))
    # The whole grid as one text, both ways.
    all_euc = b"".join(euc for euc, _ in chars)
    all_text = "".join(text for _, text in chars)
    requests.append("e2s " + all_euc.hex())
    expected.append(("euc2sj of the whole grid", b"", all_text.encode("shift_jis").hex()))
    requests.append("s2e " + all_text.encode("shift_jis").hex())
    expected.append(("sj2euc of the whole grid", b"", all_euc.hex()))
    requests.append("utf8 0 %d" % LAST_CODE_POINT)

    run = subprocess.run([probe], input="\n".join(requests) + "\n", capture_output=True, text=True)
    if run.returncode != 0:
        print("probe failed with status %d: %s" % (run.returncode, run.stderr.strip()))
        return 1
    lines = run.stdout.split("\n")
    failures = 0

    def report(message):
        nonlocal failures
        failures += 1
        if failures <= MAX_REPORTED:
            print(message)

    for i, (what, euc, want) in enumerate(expected):
        got = lines[i] if i < len(lines) else "<missing>"
        if got != want:
            report("%s of %s: got %s, want %s" % (what, euc.hex(), got, want))
    utf8_lines = lines[len(expected):]
    for code in range(LAST_CODE_POINT + 1):
        got = utf8_lines[code] if code < len(utf8_lines) else "<missing>"
        want = "%s %d" % (chr(code).encode("utf-8", "surrogatepass").hex(), code)
        if got != want:
            report("U+%04X: got %s, want %s" % (code, got, want))

    print("%d JIS X 0208 characters, %d half-width katakana, %d code points; %d mismatches"
          % (jis_count, len(chars) - jis_count, LAST_CODE_POINT + 1, failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

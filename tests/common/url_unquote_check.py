"""Differential check: urlEncode against python's percent-decoding.

Usage: python3 url_unquote_check.py <path-to-url_coder> [seed]

For seeded random texts of bytes 1-255:
- the URLMODE_ENCODE_SCRIPT result, and the URLMODE_ENCODE result of a text
  without '+', decodes with urllib.parse.unquote_to_bytes (after '+' -> ' ')
  to the text; both results hold only bytes their mode leaves raw and
  escapes of two upper-case hex digits. python's quote() is no oracle for
  the encoding itself: it leaves '~' raw, which these modes code.
- URLMODE_DECODE of texts rich in '%', hex digits and '+' equals
  unquote_to_bytes (after '+' -> ' ') up to the first NUL it yields.
Prints the first mismatches and their count; exits 0 only when there are none.
"""

import random
import subprocess
import sys
import urllib.parse

TEXTS = 10000
DEFAULT_SEED = 20240612
MAX_LENGTH = 48
URLMODE_ENCODE, URLMODE_ENCODE_SCRIPT, URLMODE_DECODE = 0, 1, 2

CODED = set(b"'=;/#%?:{}[]\\^~<>\"")
# Bytes each mode may leave raw ('+' stands for a blank in both).
RAW = {
    URLMODE_ENCODE: {c for c in range(0x21, 0x7F) if c not in CODED},
    URLMODE_ENCODE_SCRIPT: {c for c in range(0x21, 0x7F) if c not in CODED | set(b"&")},
}
RAW[URLMODE_ENCODE_SCRIPT].add(ord("+"))
UPPER_HEX = set(b"0123456789ABCDEF")
HEX = b"0123456789abcdefABCDEF"


def random_text(rng):
    return bytes(rng.randint(1, 255) for _ in range(rng.randint(0, MAX_LENGTH)))


def random_coded_text(rng):
    # Pieces: escapes (some "%00"), cut escapes, '%' before other bytes, '+'
    # and plain bytes, so every branch of the decoder is met often.
    pieces = []
    for _ in range(rng.randint(0, MAX_LENGTH // 3)):
        kind = rng.randrange(6)
        if kind == 0:
            pieces.append(b"%" + bytes([rng.choice(HEX), rng.choice(HEX)]))
        elif kind == 1:
            pieces.append(b"%00" if rng.random() < 0.1 else b"%" + bytes([rng.choice(HEX)]))
        elif kind == 2:
            pieces.append(b"%" + bytes([rng.randint(1, 255)]))
        elif kind == 3:
            pieces.append(b"+")
        else:
            pieces.append(bytes([rng.randint(1, 255)]))
    return b"".join(pieces)


def run_coder(coder, records):
    data = b"".join(b"%d %d\n%s\n" % (mode, len(text), text) for mode, text in records)
    done = subprocess.run([coder], input=data, capture_output=True, check=False)
    if done.returncode != 0:
        sys.exit("url_coder failed with status %d: %s" % (done.returncode, done.stderr.decode(errors="replace")))
    out = done.stdout
    results = []
    pos = 0
    for _ in records:
        end = out.index(b"\n", pos)
        length, truncated = (int(x) for x in out[pos:end].split())
        results.append((out[end + 1:end + 1 + length], truncated))
        pos = end + 1 + length + 1
    if pos != len(out):
        sys.exit("url_coder gave trailing output")
    return results


def alphabet_fault(mode, coded):
    i = 0
    while i < len(coded):
        c = coded[i]
        if c == ord("%"):
            if len(coded) < i + 3 or coded[i + 1] not in UPPER_HEX or coded[i + 2] not in UPPER_HEX:
                return "bad escape at %d" % i
            i += 3
            continue
        if c not in RAW[mode]:
            return "raw byte 0x%02X at %d" % (c, i)
        i += 1
    return None


def unquote(coded):
    return urllib.parse.unquote_to_bytes(coded.replace(b"+", b" "))


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    seed = int(sys.argv[2]) if len(sys.argv) == 3 else DEFAULT_SEED
    rng = random.Random(seed)
    records = []
    for _ in range(TEXTS):
        text = random_text(rng)
        records.append((URLMODE_ENCODE_SCRIPT, text))
        records.append((URLMODE_ENCODE, text))
    for _ in range(TEXTS):
        records.append((URLMODE_DECODE, random_coded_text(rng)))
    results = run_coder(sys.argv[1], records)

    mismatches = 0
    for (mode, text), (got, truncated) in zip(records, results):
        fault = None
        if truncated:
            fault = "reported as cut"
        elif mode == URLMODE_DECODE:
            want = unquote(text).split(b"\0")[0]
            if got != want:
                fault = "decodes to %r, python %r" % (got, want)
        else:
            fault = alphabet_fault(mode, got)
            if fault is None and (mode == URLMODE_ENCODE_SCRIPT or b"+" not in text) and unquote(got) != text:
                fault = "python decodes %r to %r" % (got, unquote(got))
        if fault:
            mismatches += 1
            if mismatches <= 20:
                print("mismatch: mode %d, text %r: %s" % (mode, text, fault))
    print("seed %d: %d records, %d mismatches" % (seed, len(records), mismatches))
    return 1 if mismatches else 0


if __name__ == "__main__":
    sys.exit(main())

"""Checks the EBCDIC tables against IBM-037 as python3 or iconv has it.

Usage: python3 ebcdic_table_check.py <path-to-jp_codec_probe> python|iconv

The 256 bytes through ebcnasc must equal IBM-037 decoded to ISO-8859-1, and
ascebc of the bytes 0x00-0x7F must equal them encoded to IBM-037. With
"iconv" the oracle is the iconv program; exit 77 (skipped) when it is
missing. Exits 0 only when both tables agree.
"""

import shutil
import subprocess
import sys

SKIPPED = 77


def python_tables():
    to_ascii = bytes(range(256)).decode("cp037").encode("latin-1")
    to_ebcdic = bytes(range(128)).decode("latin-1").encode("cp037")
    return to_ascii, to_ebcdic


def iconv_tables():
    def iconv(source, target, data):
        return subprocess.run(["iconv", "-f", source, "-t", target], input=data,
                               capture_output=True, check=True).stdout
    to_ascii = iconv("IBM037", "ISO-8859-1", bytes(range(256)))
    to_ebcdic = iconv("ISO-8859-1", "IBM037", bytes(range(128)))
    return to_ascii, to_ebcdic


def main():
    probe, oracle = sys.argv[1], sys.argv[2]
    if oracle == "iconv":
        if shutil.which("iconv") is None:
            print("iconv is missing: skipped")
            return SKIPPED
        want = iconv_tables()
    else:
        want = python_tables()
    run = subprocess.run([probe], input="ebc\nasc\n", capture_output=True, text=True)
    if run.returncode != 0:
        print("probe failed with status %d: %s" % (run.returncode, run.stderr.strip()))
        return 1
    got = [bytes.fromhex(line) for line in run.stdout.split()]
    if len(got) != 2:
        print("probe gave %d tables, want 2" % len(got))
        return 1
    failures = 0
    for name, mine, theirs in zip(("ebcnasc", "ascebc"), got, want):
        if len(mine) != len(theirs):
            print("%s: %d entries, %s has %d" % (name, len(mine), oracle, len(theirs)))
            failures += 1
            continue
        for index, (a, b) in enumerate(zip(mine, theirs)):
            if a != b:
                print("%s[0x%02X] = 0x%02X, %s says 0x%02X" % (name, index, a, oracle, b))
                failures += 1
    print("EBCDIC tables against %s: %d mismatches" % (oracle, failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

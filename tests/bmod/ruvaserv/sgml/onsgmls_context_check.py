"""Differential check: the element context stack against onsgmls.

Usage: python3 onsgmls_context_check.py <path-to-sgmldump> [seed]

Writes an SGML declaration and a DTD made from `sgmldump --tagmap`, and
seeded TAVR, DOC and SET instances (gen_tavr). For each instance the pushes
and pops of `sgmldump --context TOP` must equal the "(" and ")" lines of
onsgmls over declaration, prolog and instance, and onsgmls must report no
error. Prints the first mismatches and their count; exits 0 only when
there are none.
"""

import os
import random
import shutil
import subprocess
import sys
import tempfile

import gen_tavr

INSTANCES = 500
DEFAULT_SEED = 20250311
TOPS = ["TAVR", "DOC", "SET"]
# Content for elements without children: no instance fills it.
NEVER_USED = "NEVER-USED"

# Reference concrete syntax, with names of up to 32 characters that may
# hold ":" (T:P, SET:META-DATA) and tag omission for the implied end tags.
DECLARATION = """<!SGML "ISO 8879:1986"
CHARSET
  BASESET "ISO 646:1983//CHARSET International Reference Version (IRV)//ESC 2/5 4/0"
  DESCSET 0 9 UNUSED 9 2 9 11 2 UNUSED 13 1 13 14 18 UNUSED 32 95 32 127 1 UNUSED
CAPACITY SGMLREF TOTALCAP 2000000 ELEMCAP 2000000 GRPCAP 2000000 ATTCAP 2000000
SCOPE DOCUMENT
SYNTAX
  SHUNCHAR CONTROLS 0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21 22 23
    24 25 26 27 28 29 30 31 127
  BASESET "ISO 646:1983//CHARSET International Reference Version (IRV)//ESC 2/5 4/0"
  DESCSET 0 128 0
  FUNCTION RE 13 RS 10 SPACE 32 TAB SEPCHAR 9
  NAMING LCNMSTRT "" UCNMSTRT "" LCNMCHAR "-.:" UCNMCHAR "-.:"
    NAMECASE GENERAL YES ENTITY NO
  DELIM GENERAL SGMLREF SHORTREF SGMLREF
  NAMES SGMLREF
  QUANTITY SGMLREF NAMELEN 32
FEATURES
  MINIMIZE DATATAG NO OMITTAG YES RANK NO SHORTTAG YES
  LINK SIMPLE NO IMPLICIT NO EXPLICIT NO
  OTHER CONCUR NO SUBDOC NO FORMAL NO
APPINFO NONE>
"""


def content_model(tag):
    children = list(dict.fromkeys(tag.children))  # a repeated name would make the group ambiguous
    if tag.flags & gen_tavr.EMPTY:
        return "EMPTY"
    if tag.flags & gen_tavr.OPEN_CONTENT:
        return "ANY"
    if tag.flags & gen_tavr.TEXT:
        return "(%s)*" % "|".join(["#PCDATA"] + children)
    return "(%s)*" % "|".join(children or [NEVER_USED])


def prolog(table, top):
    lines = ["<!DOCTYPE %s [" % top]
    for tag in table.values():
        lines.append("<!ELEMENT %s - O %s>" % (tag.name, content_model(tag)))
        if tag.flags & gen_tavr.EMPTY_WITH_ATTRS:
            # Given, a #CONREF attribute makes the element empty.
            lines.append("<!ATTLIST %s %s CDATA #CONREF>" % (tag.name, gen_tavr.CONREF_ATTRIBUTE))
    lines.append("<!ELEMENT %s - O EMPTY>" % NEVER_USED)
    lines.append("]>")
    return "\n".join(lines) + "\n"


def onsgmls_structure(decl, prolog_path, instance):
    proc = subprocess.run(["onsgmls", decl, prolog_path, instance], capture_output=True, text=True)
    if proc.returncode != 0 or proc.stderr:
        return None, proc.stderr.strip() or "exit status %d" % proc.returncode
    return [l for l in proc.stdout.splitlines() if l[:1] in "()"], None


def context_log(sgmldump, top, paths):
    proc = subprocess.run([sgmldump, "--context", top] + paths, capture_output=True, text=True)
    return proc.returncode, proc.stdout.splitlines(), proc.stderr.strip()


def check_top(sgmldump, decl, workdir, table, top, cases, failures):
    prolog_path = os.path.join(workdir, "prolog-%s.sgml" % top)
    with open(prolog_path, "w") as f:
        f.write(prolog(table, top))
    expected_all = []
    for path in cases:
        expected, error = onsgmls_structure(decl, prolog_path, path)
        if error:
            failures.append("%s: onsgmls: %s" % (path, error))
            return
        expected_all += expected
    # One sgmldump run per top element; only a mismatch is narrowed down
    # file by file.
    status, got, err = context_log(sgmldump, top, cases)
    if status == 0 and got == expected_all:
        return
    for path in cases:
        expected, _ = onsgmls_structure(decl, prolog_path, path)
        status, got, err = context_log(sgmldump, top, [path])
        if status != 0 or got != expected:
            with open(path) as f:
                text = f.read()
            failures.append("%s (%s): %s\n  instance %s\n  onsgmls %s\n  sgmldump %s"
                            % (path, top, err or "logs differ", text, " ".join(expected), " ".join(got)))


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    if shutil.which("onsgmls") is None:
        print("onsgmls not found: install the Debian package opensp (scripts/setup)")
        return 1
    sgmldump = sys.argv[1]
    seed = int(sys.argv[2]) if len(sys.argv) > 2 else DEFAULT_SEED
    table = gen_tavr.load_tagmap(sgmldump)
    rng = random.Random(seed)
    failures = []
    with tempfile.TemporaryDirectory(prefix="sgml-onsgmls-") as workdir:
        decl = os.path.join(workdir, "decl.dcl")
        with open(decl, "w") as f:
            f.write(DECLARATION)
        by_top = {top: [] for top in TOPS}
        for n in range(INSTANCES):
            top = TOPS[n % len(TOPS)]
            path = os.path.join(workdir, "instance-%03d.sgml" % n)
            with open(path, "w") as f:
                f.write(gen_tavr.generate(table, top, rng))
            by_top[top].append(path)
        for top in TOPS:
            check_top(sgmldump, decl, workdir, table, top, by_top[top], failures)
    for failure in failures[:10]:
        print(failure)
    print("%d instances, seed %d, %d mismatches" % (INSTANCES, seed, len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

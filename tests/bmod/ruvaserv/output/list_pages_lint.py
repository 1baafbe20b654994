"""The list writers' pages through xmllint's HTML parser.

Usage: python3 list_pages_lint.py <path-to-list_pages> [MODE...]

xmllint exits 0 even when it reports errors, so its reports are read. The
page frames give none but the two "htmlParseEntityRef: no name" of the
"&&" in the search body's script (which browsers read as written). Each
page MODE (default: plain) written with hostile request values gives the
same reports, line numbers aside, as with realistic ones: a hostile value
that escaped its attribute or text would add a report.
"""

import os
import re
import subprocess
import sys
import tempfile

SEARCH_BODY_FRAMES = {"search", "collection"}
FRAMES = ["plain", "search", "collection", "docsearch", "catchword", "japanese"]
ENTITY_NO_NAME = "htmlParseEntityRef: no name"


def lint(path):
    """xmllint's report messages, file and line numbers left out."""
    run = subprocess.run(["xmllint", "--html", "--noout", path], capture_output=True, text=True, timeout=30)
    reports = []
    for line in run.stderr.splitlines():
        m = re.match(r"^.*?:\d+: (.*)$", line)
        if m:
            reports.append(m.group(1))
    return reports


def check_frames(list_pages, tmp):
    subprocess.run([list_pages, "frames", tmp], check=True, timeout=30)
    failures = []
    for name in FRAMES:
        reports = lint(os.path.join(tmp, "frame-%s.html" % name))
        expected = ["HTML parser error : " + ENTITY_NO_NAME] * 2 if name in SEARCH_BODY_FRAMES else []
        if reports != expected:
            failures.append("frame %s: %r" % (name, reports))
    return failures


def check_page(list_pages, tmp, mode):
    plain = os.path.join(tmp, mode + ".html")
    hostile = os.path.join(tmp, mode + "-hostile.html")
    subprocess.run([list_pages, mode, plain], check=True, timeout=30)
    subprocess.run([list_pages, mode, hostile, "--hostile"], check=True, timeout=30)
    plain_reports, hostile_reports = lint(plain), lint(hostile)
    if plain_reports != hostile_reports:
        return ["%s page: hostile values change the reports\n  plain:   %r\n  hostile: %r"
                % (mode, plain_reports, hostile_reports)]
    return []


def main():
    if len(sys.argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    list_pages = sys.argv[1]
    modes = sys.argv[2:] or ["plain"]
    with tempfile.TemporaryDirectory() as tmp:
        failures = check_frames(list_pages, tmp)
        for mode in modes:
            failures += check_page(list_pages, tmp, mode)
    for f in failures:
        print("FAIL", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

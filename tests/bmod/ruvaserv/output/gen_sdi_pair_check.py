"""The generated lists read back as their records, and the libraries hold them.

Usage: gen_sdi_pair_check.py SDIDUMP

A seeded pair of 3,000 documents with 40 COD/POD documents and ZIP
libraries, and every hand-made case: sdidump must read each list's document
rows as exactly the records' titles, English titles and numbers, in list
order (the comparison tests trust the records for what the lists say). Each
library must hold both list parts, which together read as the side's rows,
one member per linked document named as the comparer asks for it and
titled as its row, and the comment "Title [ID]".
"""

import html
import json
import os
import re
import subprocess
import sys
import tempfile
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import gen_sdi_pair  # noqa: E402
import sdi_oracle  # noqa: E402

ENTRY = re.compile(r'^entry \d+ DOCUMENT .*?title=(\(null\)|"(?:[^"\\]|\\.)*") engtitle=(\(null\)|"(?:[^"\\]|\\.)*") '
                   r'module=\S+ docno=(\(null\)|"(?:[^"\\]|\\.)*")')


def dumped(value):
    return None if value == "(null)" else json.loads(value)


def dump_rows(sdidump, path):
    """(title, engtitle, number) of each document row sdidump reads."""
    out = subprocess.run([sdidump, path], capture_output=True, text=True, check=True, timeout=60,
                         encoding="latin-1").stdout
    return [tuple(dumped(v) for v in m.groups()) for m in map(ENTRY.match, out.splitlines()) if m]


def compare_rows(name, got, want):
    if got == want:
        return []
    for i, (g, w) in enumerate(zip(got, want)):
        if g != w:
            return ["%s: row %d reads %r, written %r" % (name, i, g, w)]
    return ["%s: %d rows read, %d written" % (name, len(got), len(want))]


def check_library(sdidump, tmp, path, side, rows):
    failures = []
    title, ident = gen_sdi_pair.LIBRARIES[side]
    with zipfile.ZipFile(path) as z:
        if z.comment.decode("latin-1").strip() != "%s [%s]" % (title, ident):
            failures.append("%s: comment %r" % (path, z.comment))
        names = set(z.namelist())
        parts = []
        for part in ("doclist_sd1.sgml", "doclist_sd2.sgml"):
            if part not in names:
                failures.append("%s: no %s" % (path, part))
                continue
            z.extract(part, tmp)
            parts += dump_rows(sdidump, os.path.join(tmp, part))
        failures += compare_rows(path + " parts", parts, [(t, e, n) for t, e, n, _ in rows])
        seen = set()
        for t, _, n, _ in rows:
            art, rev = sdi_oracle.art_rev(n)
            fname = sdi_oracle.to_filename(art, rev, "html") if rev and not sdi_oracle.looks_invalid(n) else None
            if fname is None or fname in seen:
                continue
            seen.add(fname)
            if fname not in names:
                failures.append("%s: no member %s" % (path, fname))
                continue
            page = z.read(fname).decode("latin-1")
            if "<title>%s</title>" % html.escape(t) not in page:
                failures.append("%s: %s is not titled %r" % (path, fname, t))
    return failures


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    sdidump = sys.argv[1]
    failures = []
    with tempfile.TemporaryDirectory() as tmp:
        out, libs = os.path.join(tmp, "pair"), os.path.join(tmp, "libs")
        gen_sdi_pair.write_pair(out, 3000, 5, "random", 40, libs)
        old, new = [], []
        for r in map(json.loads, open(os.path.join(out, "records.jsonl"), encoding="utf-8")):
            (old if r["side"] == "old" else new).append((r["title"], r["engtitle"], r["number"], r.get("blocks")))
        for side, rows in (("old", old), ("new", new)):
            failures += compare_rows(side + ".sgml", dump_rows(sdidump, os.path.join(out, side + ".sgml")),
                                     [(t, e, n) for t, e, n, _ in rows])
            failures += check_library(sdidump, tmp, os.path.join(libs, side + ".kvo"), side, rows)
        cases_path = os.path.join(HERE, "compare_cases.json")
        cases_dir = os.path.join(tmp, "cases")
        gen_sdi_pair.write_cases(cases_dir, cases_path)
        with open(cases_path, encoding="utf-8") as f:
            for i, case in enumerate(json.load(f)):
                for side in ("old", "new"):
                    # A blank number reads as none: the reader keeps no blank text.
                    want = [(t, None, n if n and n.strip() else None) for t, n in case[side]]
                    path = os.path.join(cases_dir, "case%02d" % i, side + ".sgml")
                    failures += compare_rows("case %d %s" % (i, side), dump_rows(sdidump, path), want)
    for line in failures:
        print("FAIL", line)
    print("%d failures" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

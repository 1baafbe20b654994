"""The print filter's PostScript against the DSC 3.0 rules it promises.

Usage: RUVAFILTER=<path> python3 ruvafilter_dsc_check.py

Every fixture page on every paper size: "%!PS-Adobe-3.0" first, the
header comments with the paper's size, "%%Pages:" equal to the number of
"%%Page: i i" lines (numbered in order), "%%Trailer" then "%%EOF" last,
every line ASCII and at most 255 bytes. Exits 0 only when all hold.
"""

import os
import subprocess
import sys
import tempfile

import filter_pages

SIZES = {"": (595, 842), "A4": (595, 842), "a3": (842, 1191), "A5": (420, 595), "US": (612, 792),
         "letter": (612, 792), "LEGAL": (612, 1008)}


def problems(ps, width, height):
    """The rules a document breaks, as text."""
    out = []
    lines = ps.split(b"\n")
    if lines[-1] != b"":
        out.append("no newline at the end")
    lines = lines[:-1]
    if not lines or lines[0] != b"%!PS-Adobe-3.0":
        out.append("first line %r" % (lines[:1],))
    if lines[-2:] != [b"%%Trailer", b"%%EOF"]:
        out.append("ends with %r" % (lines[-2:],))
    header = lines[:lines.index(b"%%EndComments")] if b"%%EndComments" in lines else []
    size = b"%d %d" % (width, height)
    for want in (b"%%BoundingBox: 0 0 " + size, b"%%LanguageLevel: 2"):
        if want not in header:
            out.append("header lacks %r" % want)
    if not any(line.startswith(b"%%DocumentMedia: ") and line.endswith(size + b" 0 () ()") for line in header):
        out.append("header lacks %%DocumentMedia with " + size.decode())
    if b"<< /PageSize [" + size + b"] >> setpagedevice" not in lines:
        out.append("no setpagedevice with " + size.decode())
    declared = [line for line in header if line.startswith(b"%%Pages: ")]
    pages = [line for line in lines if line.startswith(b"%%Page: ")]
    if declared != [b"%%%%Pages: %d" % len(pages)]:
        out.append("%r for %d pages" % (declared, len(pages)))
    if pages != [b"%%%%Page: %d %d" % (i, i) for i in range(1, len(pages) + 1)]:
        out.append("pages numbered %r" % pages[:5])
    for number, line in enumerate(lines, 1):
        if len(line) > 255 or any(b >= 0x80 for b in line):
            out.append("line %d: %d bytes, %r..." % (number, len(line), line[:40]))
    return out


def main():
    program = os.environ["RUVAFILTER"]
    failures = 0
    with tempfile.TemporaryDirectory() as tmp:
        for name, html, _ in filter_pages.PAGES:
            path = os.path.join(tmp, name + ".html")
            with open(path, "wb") as f:
                f.write(html)
            for size, (width, height) in SIZES.items():
                run = subprocess.run([program, "-p" + size, "-o", "-", path], capture_output=True)
                found = problems(run.stdout, width, height) if run.returncode == 0 else \
                    ["exit %d: %s" % (run.returncode, run.stderr.decode(errors="replace").strip())]
                for p in found:
                    print("%s -p%s: %s" % (name, size, p))
                failures += len(found)
                with open(path, "rb") as f:
                    if f.read() != html:
                        print("%s: the input changed" % name)
                        failures += 1
    print("DSC check: %d problems" % failures)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

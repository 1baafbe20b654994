"""The print filter's PostScript rendered by ghostscript, the oracle.

Usage: RUVAFILTER=<path> python3 ruvafilter_gs_check.py

For every fixture page: ghostscript's txtwrite text equals the page's
expected lines after white-space folding, ghostscript exits 0 without
"Error", the pages it renders are as many as "%%Pages:" says, and on each
paper size a page at 72 dpi has the paper's size in points. Exit 77
(skipped) when gs is missing.
"""

import glob
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

import filter_pages

SKIPPED = 77
GS = ["gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE"]
PAPER = {"A4": (595, 842), "US": (612, 792), "Letter": (612, 792), "A3": (842, 1191), "A5": (420, 595),
         "Legal": (612, 1008)}


def fold(text):
    return " ".join(text.split())


def ghostscript(args):
    """(exit code, output, whatever it said), failing on any "Error"."""
    run = subprocess.run(GS + args, capture_output=True)
    said = (run.stdout + run.stderr).decode("utf-8", errors="replace")
    return run.returncode, run.stdout, said


def postscript(program, path, size):
    run = subprocess.run([program, "-p" + size, "-o", "-", path], capture_output=True)
    if run.returncode != 0:
        raise AssertionError("ruvafilter -p%s exit %d: %s" % (size, run.returncode, run.stderr.decode()))
    return run.stdout


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    assert head[:8] == b"\x89PNG\r\n\x1a\n" and head[12:16] == b"IHDR", "not a PNG"
    return struct.unpack(">II", head[16:24])


def check_page(program, tmp, name, html, lines):
    """Problems of one fixture page on A4, as text."""
    out = []
    path = os.path.join(tmp, name + ".html")
    with open(path, "wb") as f:
        f.write(html)
    ps_path = os.path.join(tmp, name + ".ps")
    with open(ps_path, "wb") as f:
        f.write(postscript(program, path, "A4"))
    code, text, said = ghostscript(["-sDEVICE=txtwrite", "-sOutputFile=-", ps_path])
    if code != 0 or "Error" in said:
        out.append("txtwrite exit %d: %s" % (code, said[-300:]))
    got, want = fold(text.decode("utf-8", errors="replace")), fold("\n".join(lines))
    if got != want:
        out.append("text\n  got  %r\n  want %r" % (got[:400], want[:400]))
    pages_dir = os.path.join(tmp, name + "-pages")
    os.mkdir(pages_dir)
    code, _, said = ghostscript(["-r72", "-sDEVICE=pnggray", "-sOutputFile=" + pages_dir + "/%03d.png", ps_path])
    with open(ps_path, "rb") as f:
        declared = int(re.search(rb"^%%Pages: (\d+)$", f.read(), re.M).group(1))
    rendered = len(glob.glob(pages_dir + "/*.png"))
    if code != 0 or "Error" in said or rendered != declared:
        out.append("pnggray exit %d, %d pages for %%%%Pages: %d %s" % (code, rendered, declared, said[-300:]))
    return out


def check_sizes(program, tmp):
    """Page sizes as rendered: every paper, and the print action's sizes."""
    out = []
    path = os.path.join(tmp, "size.html")
    with open(path, "wb") as f:
        f.write(b"<p>size")
    for size, want in PAPER.items():
        ps_path = os.path.join(tmp, size + ".ps")
        with open(ps_path, "wb") as f:
            f.write(postscript(program, path, size))
        png = os.path.join(tmp, size + ".png")
        code, _, said = ghostscript(["-r72", "-sDEVICE=pnggray", "-sOutputFile=" + png, ps_path])
        if code != 0 or "Error" in said:
            out.append("%s: gs exit %d %s" % (size, code, said[-300:]))
        elif png_size(png) != want:
            out.append("%s: rendered %dx%d, want %dx%d" % ((size,) + png_size(png) + want))
    return out


def main():
    if shutil.which("gs") is None:
        print("gs is missing: skipped")
        return SKIPPED
    program = os.environ["RUVAFILTER"]
    failures = 0
    with tempfile.TemporaryDirectory() as tmp:
        for name, html, lines in filter_pages.PAGES:
            for problem in check_page(program, tmp, name, html, lines):
                print("%s: %s" % (name, problem))
                failures += 1
        for problem in check_sizes(program, tmp):
            print(problem)
            failures += 1
    print("ghostscript check: %d problems" % failures)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

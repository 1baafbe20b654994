#!/usr/bin/env python3
"""Writes the library the post-processing tests serve, with Info-ZIP zip as the
sample libraries are made:

    <dir>/lib/guide.kvo   archive comment "Guide [EN/DOCLIB1 R1A]"; members in
                          this order: the document page 1551-ABC10101Uen.A.html
                          (Latin-1, member comment "OPT: M"), 2.html, fig[1].gif,
                          fig1.gif, a.pdf (100 bytes), the viewer's frame pages
                          kivo.html, kivo2.html and kivotree.html (from
                          frame_pages/), folderindex.txt (the document and the
                          PDF in folder 7)
    <dir>/members/<name>  each member's bytes as python's zipfile reads them
    <dir>/hostile/hostile.kvo  a library whose title holds markup, kept out of
                          <dir>/lib/: index.html, and a document whose
                          title, chapter and META values break out of script
                          strings and attributes

The document page holds what post-processing acts on: a DOCTITLE div, the
body marker, headings with chapter numbers and the reference and glossary
classes, nested deleted text, chapter anchors, and program links of every
kind (also in a body script's string) beside a link to another program; the
search word "installation" first below the first screen, then in a body script,
an attribute and a link; "two words" across a line end and across &nbsp;; a
GENERATOR META of the system's own generator and markup in DOCNAME.

Usage: make_page_libraries.py <dir>
"""

import os
import shutil
import subprocess
import sys
import tempfile
import zipfile

LIBRARY = "guide.kvo"
LIBRARY_COMMENT = "Guide [EN/DOCLIB1 R1A]"
DOCUMENT = "1551-ABC10101Uen.A.html"
DOCUMENT_TITLE = "Operator Guide ABC \xe9dition"
DOCUMENT_COMMENT = "OPT: M"
FOLDER = 7
HOSTILE_LIBRARY = "hostile.kvo"
HOSTILE_TITLE = '"><script>window.__x=1</script>'
HOSTILE_COMMENT = HOSTILE_TITLE + " [EN/HOSTILE1 R1A]"
HOSTILE_DOCUMENT = "1551-XYZ10101Uen.A.html"
HOSTILE_TEXT = 'x");window.__x=1;//'
FRAME_PAGE_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "frame_pages")
# kivo2.html is kivo.html whose document frame shows the library's start page.
DOCUMENT_FRAME = b'src="http:/kivo?FN=' + DOCUMENT.encode() + b'"'
START_FRAME = b'src="http:/kivo?FN=kivodoc.html"'


def frame_page(name):
    with open(os.path.join(FRAME_PAGE_DIR, "kivo.html" if name == "kivo2.html" else name), "rb") as f:
        data = f.read()
    return data.replace(DOCUMENT_FRAME, START_FRAME) if name == "kivo2.html" else data


SEARCH_WORD = "installation"
# Enough paragraphs before the first hit to put it below the first screen.
FILLER = "".join("<p>Paragraph %d of the overview, about the system as a whole.</p>\n" % n for n in range(1, 41))

# Element ids in the document page: the anchors that are program links, the
# anchor to another program, the toolbar image; and how many marked headings
# lie outside deleted text (chapter anchors _C1.._C4).
PROGRAM_LINK_IDS = ("plain", "upper", "viewer", "pdf", "script")
OTHER_LINK_ID = "other"
OTHER_LINK = "http:/other?x=1"
TOOLBAR_IMAGE_ID = "toolbar"
CHAPTER_ANCHORS = 4

# Program links as documents carry them: the scheme in any case, the
# desktop viewer's qzl:, one in a script string, a toolbar image.
DOCUMENT_PAGE = """<html>
<head>
<title>""" + DOCUMENT_TITLE + """</title>
<META NAME="GENERATOR" CONTENT="KIVOprod 4.2">
<META NAME="DOCNAME" CONTENT="Guide <img src=x onerror=window.__x=1> ABC">
<META NAME="DOCNO" CONTENT="1551-ABC 101 01 Uen">
<META NAME="REV" CONTENT="A">
</head>
<body>
<!--@BODY-->
<div class="DOCTITLE">""" + DOCUMENT_TITLE + """</div>
<p>Pr\xe9face: read this guide before you install the system \xa9 2026.</p>
<h2><a name="CHAPTER1"><span class="CHAPNUMBER">1</span> Introduction</a></h2>
<p>See <a id="plain" href="http:/kivo?AC=LINK&amp;FN=2.html">the next page</a>,
<a id="upper" href="HTTP:/kivo?AC=LINK&amp;FN=2.html">the next page again</a> and
<a id="viewer" href="qzl:/kivo?AC=LINK&amp;FN=2.html">the viewer's link</a>.</p>
<p>The manual as <a id="pdf" href="http:/kivo?AC=LINK&amp;FN=a.pdf">PDF</a>;
another program: <a id="other" href="http:/other?x=1">other</a>.</p>
<p>Preliminary: <img id="toolbar" alt="prel" style="max-width:150px" src="http:/kivo?ac=image&amp;im=prel.gif"></p>
<h3><a name="CHAPTER1.1"><span class="CHAPNUMBER">1.1</span> Scope</a></h3>
<p>Gr\xfc\xdfe aus M\xfcnchen.</p>
<del class="atictdel"><h3><a name="CHAPTER1.2"><span class="CHAPNUMBER">1.2</span> Removed section</a></h3>
<p>Old text <del class="atictdel">older text</del> still deleted.</p></del>
<h2 class="reference"><a name="CHAPTER2">References</a></h2>
<p>Reference list.</p>
<h2 class="glossary"><a name="CHAPTER3">Glossary</a></h2>
<p>Terms.</p>
""" + FILLER + """<p>Before the installation, read the whole chapter.</p>
<p title="installation notes">Read these two
words and those two&nbsp;words first; see the <a href="#CHAPTER2">installation references</a>.</p>
<p id="scripted"></p>
<script type="text/javascript">
var step = "installation";
var next = document.createElement("a");
next.id = "script";
next.href = "http:/kivo?AC=LINK&FN=2.html";
next.textContent = "the next page from a script";
document.getElementById("scripted").appendChild(next);
</script>
</body>
</html>
"""

SECOND_PAGE = """<html>
<head>
<title>Second page</title>
</head>
<body>
<p>The second page, \xe0 bient\xf4t.</p>
</body>
</html>
"""


def gif(pixel):
    """A 1x1 GIF of one colour."""
    return (b"GIF89a\x01\x00\x01\x00\x80\x00\x00" + bytes(pixel) + b"\xff\xff\xff"
            b"!\xf9\x04\x00\x00\x00\x00\x00,\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02D\x01\x00;")


# In archive order: a pattern's first match is fig[1].gif.
MEMBERS = [
    (DOCUMENT, DOCUMENT_PAGE.encode("latin-1")),
    ("2.html", SECOND_PAGE.encode("latin-1")),
    ("fig[1].gif", gif((255, 0, 0))),
    ("fig1.gif", gif((0, 0, 255))),
    ("a.pdf", (b"%PDF-1.4\n" + b"x" * 100)[:94] + b"%%EOF\n"),
] + [(name, frame_page(name)) for name in ("kivo.html", "kivo2.html", "kivotree.html")] + [
    # Lines in central-directory order; members not listed are in no folder.
    ("folderindex.txt", "".join("FolderID:%d|File:%s|\n" % (FOLDER, name)
                                for name in (DOCUMENT, "a.pdf")).encode("latin-1")),
]

HOSTILE_PAGE = b"<html><head><title>Hostile</title></head><body><p>A library with markup in its title.</p></body></html>\n"
# A document whose title and chapter end a script string and whose META
# values end an attribute.
HOSTILE_DOCUMENT_PAGE = ("""<html>
<head>
<title>%(t)s</title>
<META NAME="GENERATOR" CONTENT="KIVOprod 4.2">
<META NAME="DOCNAME" CONTENT="<img src=x onerror=window.__x=1>">
<META NAME="DOCNO" CONTENT="'><script>window.__x=1</script>">
<META NAME="REV" CONTENT="A">
</head>
<body>
<!--@BODY-->
<div class="DOCTITLE">%(t)s</div>
<h2><a name="CHAPTER1"><span class="CHAPNUMBER">1</span> %(t)s</a></h2>
<p>Text.</p>
</body>
</html>
""" % {"t": HOSTILE_TEXT}).encode("latin-1")


def zip_add(archive, folder, name, comment=None):
    """Adds folder/name as name; -nw: a '[' in the name is no wildcard; -c takes the
    member comment from standard input."""
    args = ["zip", "-q", "-X", "-nw"] + (["-c"] if comment is not None else []) + [archive, "--", name]
    subprocess.run(args, cwd=folder, check=True,
                   input=(comment + "\n").encode("latin-1") if comment is not None else None)


def make_hostile(folder):
    archive = os.path.join(folder, HOSTILE_LIBRARY)
    staging = tempfile.mkdtemp(prefix="pagelib_")
    try:
        for name, data in (("index.html", HOSTILE_PAGE), (HOSTILE_DOCUMENT, HOSTILE_DOCUMENT_PAGE)):
            with open(os.path.join(staging, name), "wb") as f:
                f.write(data)
            zip_add(archive, staging, name)
    finally:
        shutil.rmtree(staging, ignore_errors=True)
    subprocess.run(["zip", "-q", "-z", archive], check=True, input=(HOSTILE_COMMENT + "\n").encode())


def make(out):
    if shutil.which("zip") is None:
        sys.exit("make_page_libraries.py: zip is missing (scripts/setup installs it)")
    lib = os.path.join(out, "lib")
    members = os.path.join(out, "members")
    hostile = os.path.join(out, "hostile")
    for folder in (lib, members, hostile):
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
    archive = os.path.join(lib, LIBRARY)
    staging = tempfile.mkdtemp(prefix="pagelib_")
    try:
        for name, data in MEMBERS:
            with open(os.path.join(staging, name), "wb") as f:
                f.write(data)
            zip_add(archive, staging, name, DOCUMENT_COMMENT if name == DOCUMENT else None)
    finally:
        shutil.rmtree(staging, ignore_errors=True)
    # The archive comment last: zip -z reads it from standard input.
    subprocess.run(["zip", "-q", "-z", archive], check=True, input=(LIBRARY_COMMENT + "\n").encode())
    with zipfile.ZipFile(archive) as z:
        names = z.namelist()
        if names != [name for name, _ in MEMBERS]:
            sys.exit("make_page_libraries.py: %s holds %s" % (LIBRARY, names))
        for name in names:
            with open(os.path.join(members, name), "wb") as f:
                f.write(z.read(name))
    make_hostile(hostile)


def main(argv):
    if len(argv) != 2:
        print("usage: make_page_libraries.py <dir>", file=sys.stderr)
        return 2
    make(os.path.abspath(argv[1]))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

#!/usr/bin/env python3
"""The libraries the client's end-to-end tests run ruvadaemon over, made at
test time, and a description of them that the tests compute every expected
value from.

make(folder) writes
  folder/lib/            a flat library folder for Daemon(lib=...): the
                         samples' guide.kvo and reference.kvo (Info-ZIP zip),
                         gz.kvo, mixed.kvo, index.kvo (word indexes by
                         ruvx_build.py) and extra.zip (python's zipfile)
  folder/tree/           structure.txt and the folders it names, for
                         Daemon(library_path=...)
  folder/annot/annot.anx an annotation library; place_annotations() copies
                         it into a daemon's AnnotationDb
and returns a Fixtures object. Its Library records are read back from the
archives written, so they say what the archives hold, whichever tool wrote
them. Member names are as stored (the daemon sends them in lower case).

Run as a program it writes the fixtures into the folder given and prints
their summary.
"""

import os
import random
import shutil
import subprocess
import sys
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.normpath(os.path.join(HERE, "..", "..", "..", ".."))
MAKE_SAMPLES = os.path.join(SOURCE, "samples", "make_libraries.sh")
RUVX_BUILD = os.path.join(SOURCE, "tests", "bmod", "unzipd", "search", "ruvx_build.py")

DATE = (2020, 1, 2, 3, 4, 6)
STORED, DEFLATED = zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED

# The daemon configuration that lets a second library type in: the file's
# IncludePattern lines replace the default *.kvo (*.anx, *.khx and *.ers stay).
ZIP_CONFIG = "IncludePattern *.kvo\nIncludePattern *.zip\n"

# A heading section around id "x" whose lines are indented by blanks and a
# tab; IDRETR's heading mode sends it from its <h2 up to the next heading.
SECTION = b'<h2><a name="x"></a>Head</h2><p>body\n    indented\n\ttabbed\n  </p>'
SECTION_PAGE = b"<html><body><h1>Top</h1>" + SECTION + b"<h2>Next</h2></body></html>"

# A PDF member of 100 bytes, asked for as x.fdp: the daemon answers with its
# wait page, which is larger than the PDF.
PDF = (b"%PDF-1.4\n%" + b"x" * 84 + b"\n%%EOF\n")[:100]

# Member comment with quotes inside a quoted title, two blanks and a trailing blank.
QUOTED_COMMENT = b'TITLE: "Say "hi" now" SUBTITLE: "Two  blanks" '

# Fixed-column records of PUSRCH (NUL-separated; a packed line may hold a
# byte 0x80|n for n blanks, these hold plain blanks), and their fields as
# the daemon splits them.
PU_RECORDS = [("BOOK1 CAND / PFX123 45          R1A X9", "HTM",
               ["BOOK1", "CAND", "PFX", "123", "45", "", "R1A", "X9"]),
              ("BOOK2 OTHR / ABC 7 8 9 10 ABCDEFGHIJKLMNOPQRST", "TXT",
               ["BOOK2", "OTHR", "ABC", "7", "8", "9", "10", "ABCDEFGHIJKLMNOP"])]

# Title and full-text word indexes of index.kvo: documents, and per word
# the documents it occurs in.
INDEX_DOCS = [("1551-ABC40101Uen.A.html", b'CAT:"1|1"', b"<html><body>alpha</body></html>"),
              ("1551-ABC40102Uen.A.html", b'TITLE: "Second"', b"<html><body>alpha beta</body></html>")]
TITLE_WORDS = {"alpha": [0, 1], "beta": [1]}
FULLTEXT_WORDS = {"ab": [0], "abc": [0, 1], "abd": [1]}


class Library:
    """One archive as written: name, path, comment, library id and members."""

    def __init__(self, path):
        self.path = path
        self.name = os.path.basename(path)
        with zipfile.ZipFile(path) as z:
            self.comment = z.comment
            self.infos = {i.filename: i for i in z.infolist()}
            self.members = {i.filename: z.read(i) for i in z.infolist()}
        self.member_comments = {n: i.comment for n, i in self.infos.items() if i.comment}
        text = self.comment.decode("latin-1")
        self.lib_id = text[text.index("[") + 1:text.index("]")] if "[" in text and "]" in text else ""


class Fixtures:
    """Where make() put everything, and what each case of the tests uses."""

    def __init__(self, root):
        self.root = root
        self.flat_dir = os.path.join(root, "lib")
        self.tree_dir = os.path.join(root, "tree")
        self.structure = os.path.join(self.tree_dir, "structure.txt")
        self.annot_dir = os.path.join(root, "annot")
        self.zip_config = ZIP_CONFIG
        self.libraries = {}
        # (folder name, label, level, path, library names) in the structure file's order
        self.folders = []
        # Roles: library names, and (library, member) pairs.
        self.short = "guide.kvo"
        self.g_pattern = "g*.kvo"
        self.g_second = "gz.kvo"  # second of g*.kvo in the daemon's name order
        self.zip_library = "extra.zip"
        self.annotation = "annot.anx"
        self.binary = ("mixed.kvo", "data.bin")
        self.quoted_comment = ("mixed.kvo", "1551-ABC30101Uen.A.html")
        self.pdf = ("mixed.kvo", "x.pdf")
        self.fdp = "x.fdp"
        self.section = ("mixed.kvo", "s.html", "x", SECTION)
        self.pusrch = ("mixed.kvo", "pu.txt", PU_RECORDS)
        self.index = ("index.kvo", INDEX_DOCS, TITLE_WORDS, FULLTEXT_WORDS)

    def names(self, folder):
        """Base names of the libraries in a folder written by make()."""
        return sorted(n for n in self.libraries if os.path.dirname(self.libraries[n].path) == folder)

    def served(self, zip_config=False, annotations=True):
        """Base names a daemon over flat_dir catalogues, in its name order:
        the .kvo libraries, extra.zip under zip_config, annot.anx once placed."""
        names = [n for n in self.names(self.flat_dir) if n.endswith(".kvo") or (zip_config and n.endswith(".zip"))]
        return sorted(names + ([self.annotation] if annotations else []))

    def counts(self, names):
        """(libraries, members) of the libraries named: what INFO counts for them."""
        return len(names), sum(len(self.libraries[n].members) for n in names)

    def place_annotations(self, daemon):
        """Copies annot.anx into the daemon's AnnotationDb; call before it starts."""
        shutil.copy(os.path.join(self.annot_dir, self.annotation), os.path.join(daemon.root, "annot"))


def write_library(path, comment, members):
    """members: (name, data, method, comment or None)."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with zipfile.ZipFile(path, "w") as z:
        for name, data, method, member_comment in members:
            info = zipfile.ZipInfo(name, DATE)
            info.compress_type = method
            if member_comment:
                info.comment = member_comment
            z.writestr(info, data)
        z.comment = comment


def structure_text(records):
    return "# structure\n" + "".join('Name: "%s"\nLabel: "%s"\nLevel: %s\nPath: "%s"\nIndexFile: ""\n\n' % r
                                     for r in records)


def pu_member():
    return b"\0".join((head.ljust(117) + ext).encode() for head, ext, _ in PU_RECORDS)


def binary_data():
    """Every byte value, CR, LF and NUL among them, in more than one read's worth."""
    rnd = random.Random(22)
    return bytes(range(256)) * 64 + b"\r\n\r\0\n" + rnd.randbytes(40000)


def hx(data):
    return data.hex() if data else "-"


def index_job(image, words):
    text = "type 0\ndimension 3\n"
    for name, _, _ in INDEX_DOCS:
        text += "doc 4 0 %s\n" % hx(name.encode())
    for word, docs in words.items():
        text += "word %s %s\n" % (hx(word.encode()), " ".join("%d:1" % d for d in docs))
    return text + "image %s\nend\n" % image


def write_index_library(path, work):
    jobs = os.path.join(work, "jobs.txt")
    images = {n: os.path.join(work, n) for n in ("title.qxx", "fulltext.qxx")}
    with open(jobs, "w") as f:
        f.write(index_job(images["title.qxx"], TITLE_WORDS))
        f.write(index_job(images["fulltext.qxx"], FULLTEXT_WORDS))
    subprocess.run([sys.executable, RUVX_BUILD, jobs], check=True)
    members = [(n, data, DEFLATED, c) for n, c, data in INDEX_DOCS]
    for name, image in images.items():
        with open(image, "rb") as f:
            members.append((name, f.read(), STORED, None))
    write_library(path, b"Indexed [EN/IDX1 R1A]", members)


def make_flat(fx, work):
    # Only these two of the samples: the tests' name orders (g*.kvo) count on them alone.
    samples = os.path.join(work, "samples")
    subprocess.run(["bash", MAKE_SAMPLES, samples], check=True, stdout=subprocess.DEVNULL)
    d = fx.flat_dir
    os.makedirs(d, exist_ok=True)
    for name in ("guide.kvo", "reference.kvo"):
        shutil.copy(os.path.join(samples, name), d)
    write_library(os.path.join(d, "gz.kvo"), b"Second g [EN/GZ1 R1A]",
                  [("readme.html", b"<html><body>gz</body></html>", DEFLATED, None)])
    write_library(os.path.join(d, "mixed.kvo"), b"Mixed members [SV/MIX1 R2A] STA:REL",
                  [("1551-ABC30101Uen.A.html", b"<html><body>mixed</body></html>", DEFLATED, QUOTED_COMMENT),
                   ("data.bin", binary_data(), STORED, None),
                   ("x.pdf", PDF, DEFLATED, None),
                   ("s.html", SECTION_PAGE, DEFLATED, None),
                   ("pu.txt", pu_member(), DEFLATED, None)])
    write_index_library(os.path.join(d, "index.kvo"), work)
    write_library(os.path.join(d, "extra.zip"), b"Zip kind [EN/ZIP1 R1A]",
                  [("zip.html", b"<html><body>zip</body></html>", DEFLATED, None)])


def make_tree(fx):
    # Levels 0, 1, 2, 1: a library at each level, one folder below another.
    plan = [("Root", "root", 0, "root", "top.kvo", b"Top [EN/TOP1 R1A]"),
            ("FolderA", "a", 1, "a", "a1.kvo", b"A one [EN/A1 R1A]"),
            ("FolderA2", "a2", 2, "a2", "a2.kvo", b"A two [EN/A2 R1A]"),
            ("FolderB", "b", 1, "b", "b1.kvo", b"B one [EN/B1 R1A]")]
    for name, label, level, sub, library, comment in plan:
        path = os.path.join(fx.tree_dir, sub)
        stem = library.split(".")[0]
        write_library(os.path.join(path, library), comment,
                      [(stem + ".html", b"<html><body>" + stem.encode() + b"</body></html>", DEFLATED, None)])
        fx.folders.append((name, label, level, path, [library]))
    with open(fx.structure, "w") as f:
        f.write(structure_text([(n, label, level, path) for n, label, level, path, _ in fx.folders]))


def make(folder):
    fx = Fixtures(folder)
    work = os.path.join(folder, "work")
    os.makedirs(work)
    make_flat(fx, work)
    make_tree(fx)
    write_library(os.path.join(fx.annot_dir, fx.annotation), b"",
                  [("seed.1", b"seed\0", DEFLATED, None)])
    shutil.rmtree(work)
    for top in (fx.flat_dir, fx.tree_dir, fx.annot_dir):
        for d, _, files in os.walk(top):
            for n in files:
                if n != "structure.txt":
                    fx.libraries[n] = Library(os.path.join(d, n))
    return fx


def main(argv):
    if len(argv) != 2:
        print("usage: make_client_libraries.py FOLDER", file=sys.stderr)
        return 2
    os.makedirs(argv[1], exist_ok=True)
    fx = make(os.path.abspath(argv[1]))
    for name in sorted(fx.libraries):
        lib = fx.libraries[name]
        print("%s [%s] %s" % (lib.path, lib.lib_id, " ".join(sorted(lib.members))))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

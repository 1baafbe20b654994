#!/usr/bin/env python3
"""Writes the libraries the search tests run over into <dir>.

usage: make_search_libraries.py <dir>

make(dir) writes
  dir/tree/structure.txt   the structure file for Daemon(library_path=...):
                           Root (level 0), Docs (1), Sub (2), Deep (3)
  dir/tree/root/           kivo_help.khx (help.html)
  dir/tree/docs/           guide.kvo: chaptered documents, a PDF, a member
                           the indexes name but the archive lacks, the six
                           .qxx indexes and dec-classes.xml; update.kvo, a
                           small library to rewrite; coll.kvo, the collection
                           "Set [EN/SET1 R1A] +" whose library-references.xml
                           names guide.kvo's library and one no daemon holds
  dir/tree/sub/            other.kvo: a plain library without dec-classes.xml
  dir/tree/deep/           deep.kvo: "CAT: dcat,1 STA:REL", members with
                           CAT:"1", CAT:"2" and none
  dir/jobs.txt             the ruvx_build.py jobs of the index images
and returns a Fixtures object: the libraries, the documents and the words
of each index, roles for the tests, and the manifest of what each search
over "*.kvo" must find. Index images are written by ruvx_build.py's
`image <path>` jobs, libraries by zipfile. Member names are as stored; the
daemon answers QXSRCH with the index's names and other commands in lower
case, so compare case-blind.

make_results(dir) writes dir/results/, a flat folder for Daemon(lib=...):
alpha.kvo (every index, comments with TITLE:, CTW:, ENGTITLE:, SUBTITLE:),
beta.kvo ("STA:PRE"), gamma.kvo (more full-text hits than an ordinary search
lists) and kivo_help.khx, and returns a ResultFixtures object.

Run as a program it writes the fixtures into <dir> and prints the manifest
as JSON.
"""

import json
import os
import subprocess
import sys
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.normpath(os.path.join(HERE, "..", "..", "..", ".."))
RUVX_BUILD = os.path.join(SOURCE, "tests", "bmod", "unzipd", "search", "ruvx_build.py")

DATE = (2020, 1, 2, 3, 4, 6)
HTML, PDF = (4, 0), (12, 0)

# Index member -> RUVX index type.
INDEX_TYPES = {"fulltext.qxx": 0, "title.qxx": 1, "ctw.qxx": 2, "docno.qxx": 3, "folder.qxx": 1,
               "topictitle.qxx": 5}


def page(title, chapters):
    """A chaptered document: each chapter (number, heading, text) opens with
    CHAPNUMBER and CHAPTITLE spans after the BODY mark."""
    body = "".join('<h2><span class="CHAPNUMBER">%s</span> <span class="CHAPTITLE">%s</span></h2>\n<p>%s</p>\n'
                   % c for c in chapters)
    return ("<html><head><title>%s</title></head><body>\n<!--@BODY-->\n<h1>%s</h1>\n%s</body></html>\n"
            % (title, title, body)).encode("latin-1")


class Doc:
    """One document of a library and the words each index holds for it.

    words: {index member: [word, ...]}; member False when the indexes name
    it but the archive lacks it."""

    def __init__(self, name, comment, data, words, kind=HTML, member=True):
        self.name = name
        self.comment = comment
        self.data = data
        self.words = words
        self.kind = kind
        self.member = member


class Library:
    def __init__(self, name, folder, comment, docs=(), extra=()):
        self.name = name
        self.folder = folder
        self.comment = comment
        self.docs = list(docs)
        # (member name, data, comment or None) besides the documents
        self.extra = list(extra)
        self.path = None

    def lib_id(self):
        text = self.comment.decode("latin-1")
        return text[text.index("[") + 1:text.index("]")]

    def doc(self, name):
        return next(d for d in self.docs if d.name == name)


# Documents of guide.kvo. Titles in title.qxx, catchwords in ctw.qxx (any
# case), document numbers in docno.qxx, body words in fulltext.qxx.
INSTALL = "1551-ABC10101Uen.A.html"
STARTED = "1551-ABC10102Uen.A.html"
OPERATOR = "1553-ABC10103Uen.A.html"
BOOTLOADER = "1551-ABC10104Uen.A.html"
MANUAL_PDF = "1551-ABC10105Uen.A.pdf"
GHOST = "1551-ABC10199Uen.A.html"
FOLDER_PAGE = "folder-installing.html"

GUIDE_DOCS = [
    Doc(INSTALL, b'TITLE: "Installation guide"',
        page("Installation guide", [("1", "Install", "To install the unit, open the cover and read x ab c. first."),
                                    ("2", "Setup", "Setup ends when the lamp is green.")]),
        {"title.qxx": ["installation", "guide"], "ctw.qxx": ["alarm"], "docno.qxx": ["1551-ABC10101"],
         "fulltext.qxx": ["to", "install", "the", "unit", "open", "cover", "and", "read", "x", "ab", "c",
                          "first", "setup", "ends", "when", "lamp", "is", "green"]}),
    Doc(STARTED, b'TITLE: "Getting started" CTW: Bootstrap',
        page("Getting started", [("1", "Keys", "Press c before you install anything, then the ab key.")]),
        {"title.qxx": ["getting", "started"], "ctw.qxx": ["Bootstrap"], "docno.qxx": ["1551-ABC10102"],
         "fulltext.qxx": ["press", "c", "before", "you", "install", "anything", "then", "the", "ab", "key"]}),
    Doc(OPERATOR, b'TITLE: "Operator manual"',
        page("Operator manual", [("1", "Alarms", "An alarm rings twice."), ("2", "Cables", "Cables go left.")]),
        {"title.qxx": ["operator", "manual"], "ctw.qxx": ["manual", "alarm"], "docno.qxx": ["1553-ABC10103"],
         "topictitle.qxx": ["Installing cables|2|x"],
         "fulltext.qxx": ["an", "alarm", "rings", "twice", "cables", "go", "left"]}),
    Doc(BOOTLOADER, b"CTW: BOOTLOADER",
        page("Boot loader", [("1", "Loader", "The loader starts the system.")]),
        {"title.qxx": ["boot", "loader"], "ctw.qxx": ["BOOTLOADER"], "docno.qxx": ["1551-ABC10104"],
         "fulltext.qxx": ["the", "loader", "starts", "system"]}),
    Doc(MANUAL_PDF, b'TITLE: "Manual pages"', b"%PDF-1.4\n%manual pages\n%%EOF\n",
        {"title.qxx": ["manual", "pages"], "ctw.qxx": ["manual"], "docno.qxx": ["1551-ABC10105"]}, kind=PDF),
    Doc(GHOST, b'TITLE: "Ghost page"', b"",
        {"title.qxx": ["ghost", "page"], "docno.qxx": ["1551-ABC10199"]}, member=False),
    Doc(FOLDER_PAGE, b'TITLE: "Guide|Installing"', page("Installing", [("1", "Contents", "Folder contents.")]),
        {"folder.qxx": ["installing"]}),
]

DEC_CLASSES = b"<?xml version=\"1.0\"?>\n<dec-classes>\n  <dc>190 82</dc>\n  <dc>155 17</dc>\n</dec-classes>\n"

# The collection's members: guide.kvo's library and one no daemon holds.
LIB_REFS = (b"<?xml version=\"1.0\"?>\n<library-references>\n"
            b"<library><prod-no>EN/GUIDE1</prod-no><rstate>R1A</rstate><title>Guide</title></library>\n"
            b"<library><prod-no>EN/NONE9</prod-no><rstate>R1A</rstate><title>Missing</title></library>\n"
            b"</library-references>\n")

# deep.kvo: the library bitmap defaults to 1; members by their bitmaps.
DEEP_ONE = "1560-DEE10101Uen.A.html"
DEEP_TWO = "1560-DEE10102Uen.A.html"
DEEP_NONE = "1560-DEE10103Uen.A.html"


def calibration(name, cat, n):
    return Doc(name, (b'TITLE: "Calibration %s" CAT:"%s"' % (n, cat)) if cat else b'TITLE: "Calibration %s"' % n,
               page("Calibration " + n.decode(), [("1", "Steps", "Calibrate the probe.")]),
               {"title.qxx": ["calibration", n.decode()], "fulltext.qxx": ["calibrate", "the", "probe"]})


def libraries():
    return [
        Library("kivo_help.khx", "root", b"Help [EN/HELP1 R1A]",
                extra=[("help.html", page("Help", [("1", "Search", "How to search.")]), None)]),
        Library("guide.kvo", "docs", b"Guide [EN/GUIDE1 R1A]", GUIDE_DOCS,
                extra=[("dec-classes.xml", DEC_CLASSES, None)]),
        Library("update.kvo", "docs", b"Update [EN/UPD1 R1A]",
                [Doc("1551-UPD10101Uen.A.html", b'TITLE: "Maintenance"', page("Maintenance", [("1", "Oil", "Oil.")]),
                     {"title.qxx": ["maintenance"]})]),
        Library("coll.kvo", "docs", b"Set [EN/SET1 R1A] +", extra=[("library-references.xml", LIB_REFS, None)]),
        Library("other.kvo", "sub", b"Other [EN/OTHER1 R1A]",
                [Doc("1553-OTH10101Uen.A.html", b'TITLE: "Reference"', page("Reference", [("1", "List", "A list.")]),
                     {"title.qxx": ["reference"]})]),
        Library("deep.kvo", "deep", b"Deep [EN/DEEP1 R1A] CAT: dcat,1 STA:REL",
                [calibration(DEEP_ONE, b"1", b"one"), calibration(DEEP_TWO, b"2", b"two"),
                 calibration(DEEP_NONE, None, b"three")]),
    ]


# (folder name, label, level, folder) in the structure file's order.
FOLDERS = [("Root", "root", 0, "root"), ("Docs", "docs", 1, "docs"), ("Sub", "sub", 2, "sub"),
           ("Deep", "deep", 3, "deep")]

# What each search over every library ("*.kvo", no ID) must find: query ->
# (library, member) pairs, whatever the order and however often.
MANIFEST = {
    "ST=TITLE&PA=install": {("guide.kvo", INSTALL), ("guide.kvo", FOLDER_PAGE)},
    "ST=FULLTEXT&PA=install": {("guide.kvo", INSTALL), ("guide.kvo", STARTED), ("guide.kvo", FOLDER_PAGE),
                               ("guide.kvo", OPERATOR)},
    "ST=CATCHWORD&PA=boot": {("guide.kvo", BOOTLOADER), ("guide.kvo", STARTED)},
    # ST=DOCNO sends the pattern uncompleted: a plain number is one whole word.
    "ST=DOCNO&PA=1551*": {("guide.kvo", d.name) for d in GUIDE_DOCS if d.name.startswith("1551-")},
    "ST=DOCNO&PA=1551-ABC10104": {("guide.kvo", BOOTLOADER)},
    "ST=DOCNO&PA=1551": set(),
    "ST=TITLE&PA=calibration": {("deep.kvo", DEEP_ONE), ("deep.kvo", DEEP_TWO), ("deep.kvo", DEEP_NONE)},
}


class Fixtures:
    """Where make() put everything, and what each test uses."""

    def __init__(self, root, libs):
        self.root = root
        self.tree = os.path.join(root, "tree")
        self.structure = os.path.join(self.tree, "structure.txt")
        self.libraries = {lib.name: lib for lib in libs}
        self.folders = FOLDERS
        self.manifest = MANIFEST
        # Roles.
        self.guide = "guide.kvo"                  # dec-classes.xml, every index
        self.plain = "other.kvo"                  # no dec-classes.xml
        self.help = "kivo_help.khx"
        self.collection = "coll.kvo"              # Set [EN/SET1 R1A] +
        self.collection_known = "guide.kvo"       # its member the daemon holds
        self.collection_unknown = "EN/NONE9R1A"   # its member no daemon holds
        self.rewrite = "update.kvo"               # rewrite before a search by its ID
        self.rewrite_query = "ST=TITLE&PA=maintenance"
        self.deep = "deep.kvo"                    # in the level-3 folder
        self.deep_cookie = "dcat"                 # default bitmap 1
        self.deep_bitmaps = {DEEP_ONE: "1", DEEP_TWO: "2", DEEP_NONE: None}
        self.deep_query = "ST=TITLE&PA=calibration"
        self.phrase_kept = INSTALL                # holds "x ab c."
        self.phrase_dropped = STARTED             # holds c and ab apart
        self.body_word = "install"                # in the body text of both
        self.cw_one = ("bootloader", BOOTLOADER)  # one catchword hit
        self.cw_two = ("manual", OPERATOR, MANUAL_PDF)  # two, one a PDF
        self.cw_none = "nothingsuch"
        self.cw_classes = ("alarm", INSTALL, OPERATOR)  # DO=1551 and DO=DESC keep the first
        self.title_one = ("Installation", INSTALL)  # TI= opens it
        self.title_ghost = ("Ghost", GHOST)       # an index entry without its member
        self.pdf = MANUAL_PDF

    def path(self, name):
        return self.libraries[name].path

    def member(self, library, name):
        with zipfile.ZipFile(self.path(library)) as z:
            return z.read(name)

    def manifest_json(self):
        return {q: sorted(list(p) for p in pairs) for q, pairs in self.manifest.items()}


def hx(data):
    return data.hex() if data else "-"


def index_jobs(lib, work):
    """ruvx_build.py jobs for each index of a library: {member: image path}, job text."""
    text = ""
    images = {}
    for index, itype in INDEX_TYPES.items():
        docs = [d for d in lib.docs if index in d.words]
        if not docs:
            continue
        image = os.path.join(work, "%s.%s" % (lib.name, index))
        images[index] = image
        text += "type %d\ndimension 3\n" % itype
        words = {}
        for n, d in enumerate(docs):
            text += "doc %d %d %s\n" % (d.kind[0], d.kind[1], hx(d.name.encode("latin-1")))
            for w in d.words[index]:
                words.setdefault(w, []).append(n)
        for w, postings in words.items():
            text += "word %s %s\n" % (hx(w.encode("latin-1")), " ".join("%d:1" % n for n in postings))
        text += "image %s\nend\n" % image
    return images, text


def write_library(lib, images):
    with zipfile.ZipFile(lib.path, "w") as z:
        members = [(d.name, d.data, d.comment) for d in lib.docs if d.member] + lib.extra
        for index, image in images.items():
            with open(image, "rb") as f:
                members.append((index, f.read(), None))
        for name, data, comment in members:
            info = zipfile.ZipInfo(name, DATE)
            info.compress_type = zipfile.ZIP_DEFLATED
            if comment:
                info.comment = comment
            z.writestr(info, data)
        z.comment = lib.comment


def write_libraries(libs, work, jobs_file):
    """Index images by ruvx_build.py (jobs in jobs_file, images in work),
    then each library at its path."""
    jobs = ""
    images = {}
    for lib in libs:
        images[lib.name], text = index_jobs(lib, work)
        jobs += text
    with open(jobs_file, "w") as f:
        f.write(jobs)
    subprocess.run([sys.executable, RUVX_BUILD, jobs_file], check=True)
    for lib in libs:
        write_library(lib, images[lib.name])


def structure_text(records):
    return "# structure\n" + "".join('Name: "%s"\nLabel: "%s"\nLevel: %s\nPath: "%s"\nIndexFile: ""\n\n' % r
                                     for r in records)


def make(root):
    root = os.path.abspath(root)
    libs = libraries()
    fx = Fixtures(root, libs)
    work = os.path.join(root, "images")
    os.makedirs(work, exist_ok=True)
    for _, _, _, folder in FOLDERS:
        os.makedirs(os.path.join(fx.tree, folder), exist_ok=True)
    for lib in libs:
        lib.path = os.path.join(fx.tree, lib.folder, lib.name)
    write_libraries(libs, work, os.path.join(root, "jobs.txt"))
    with open(fx.structure, "w") as f:
        f.write(structure_text([(name, label, level, os.path.join(fx.tree, folder))
                                for name, label, level, folder in FOLDERS]))
    return fx


# The results page's libraries: one flat folder for Daemon(lib=...), so the
# default root (node 0) holds them all.
ALPHA_INSTALL = "1551-ALP10101Uen.A.html"
ALPHA_NOTES = "1553-ALP10102Uen.A.html"
ALPHA_CABLES = "1543-ALP10103Uen.A.html"
ALPHA_FOLDER = "hfolder-setup.html"
# An unindexed member with one short paragraph: its SRCH context is the
# paragraph's text.
ALPHA_PLAIN = "plain.html"
ALPHA_PLAIN_TEXT = b"<html><body><!--@BODY--><p>installation here</p><!--@/BODY--></body></html>\n"
BETA_INSTALL = "1551-BET10101Uen.A.html"
BETA_OTHER = "1553-BET10102Uen.A.html"
# One title in an HTML and a PDF document.
BETA_WIRING = ("1553-BET10104Uen.A.html", "1553-BET10105Uen.A.pdf")
# Over the hit limit of an ordinary search (500): its full-text hits come
# as one count.
GAMMA_BULK = 501


def gamma_docs():
    bulk = ["1551-GAM1%04dUen.A.html" % n for n in range(GAMMA_BULK)]
    docs = [Doc(name, b'TITLE: "Bulk page %d"' % n, page("Bulk page %d" % n, [("1", "Bulk", "Installation.")]),
                {"fulltext.qxx": ["installation"]}, member=n < 3)
            for n, name in enumerate(bulk)]
    docs.append(Doc("1553-GAM20001Uen.A.html", b'TITLE: "Maintenance plan" CTW: Service',
                    page("Maintenance plan", [("1", "Plan", "Oil the gears.")]),
                    {"title.qxx": ["maintenance", "plan"], "ctw.qxx": ["Service"], "docno.qxx": ["1553-GAM20001"],
                     "topictitle.qxx": ["Oiling|1|x"], "folder.qxx": ["maintenance"]}))
    return docs


def results_libraries():
    return [
        Library("kivo_help.khx", "results", b"Help [EN/HELP1 R1A]",
                extra=[("help.html", page("Help", [("1", "Search", "How to search.")]), None)]),
        Library("alpha.kvo", "results", b"Alpha Guide [EN/ALPHA1 R1A]", [
            Doc(ALPHA_INSTALL, b'TITLE: "Installation guide" ENGTITLE: "Installation guide" SUBTITLE: "First steps"',
                page("Installation guide", [("1", "Install", "The installation of the unit.")]),
                {"title.qxx": ["installation", "guide"], "docno.qxx": ["1551-ALP10101"],
                 "fulltext.qxx": ["the", "installation", "of", "unit"]}),
            Doc(ALPHA_NOTES, b'CTW: Installation TITLE: "Operator notes"',
                page("Operator notes", [("1", "Notes", "Read before installation.")]),
                {"title.qxx": ["operator", "notes"], "ctw.qxx": ["Installation"], "docno.qxx": ["1553-ALP10102"],
                 "fulltext.qxx": ["read", "before", "installation"]}),
            Doc(ALPHA_CABLES, b'TITLE: "Cabling" SUBTITLE: "Racks"',
                page("Cabling", [("1", "Installation of cables", "Cables go left.")]),
                {"title.qxx": ["cabling"], "docno.qxx": ["1543-ALP10103"],
                 "topictitle.qxx": ["Installation of cables|1|x"],
                 "fulltext.qxx": ["installation", "of", "cables", "go", "left"]}),
            Doc(ALPHA_FOLDER, b'TITLE: "Alpha|Installation"', page("Installation", [("1", "Contents", "Pages.")]),
                {"folder.qxx": ["installation"]}),
        ], extra=[(ALPHA_PLAIN, ALPHA_PLAIN_TEXT, None)]),
        Library("beta.kvo", "results", b"Beta Reference [EN/BETA1 R1A] STA:PRE", [
            Doc(BETA_INSTALL, b'TITLE: "Installation reference" CTW: Setup',
                page("Installation reference", [("1", "Setup", "Installation in short.")]),
                {"title.qxx": ["installation", "reference"], "ctw.qxx": ["Setup"], "docno.qxx": ["1551-BET10101"],
                 "fulltext.qxx": ["installation", "in", "short"]}),
            Doc(BETA_OTHER, b'TITLE: "Maintenance"', page("Maintenance", [("1", "Oil", "Oil it.")]),
                {"title.qxx": ["maintenance"], "docno.qxx": ["1553-BET10102"], "fulltext.qxx": ["oil", "it"]}),
            Doc(BETA_WIRING[0], b'TITLE: "Wiring sheet"', page("Wiring sheet", [("1", "Wires", "Red to red.")]),
                {"title.qxx": ["wiring", "sheet"]}),
            Doc(BETA_WIRING[1], b'TITLE: "Wiring sheet"', b"%PDF-1.4\n%wiring sheet\n%%EOF\n",
                {"title.qxx": ["wiring", "sheet"]}, kind=PDF),
        ]),
        Library("gamma.kvo", "results", b"Gamma Bulk [EN/GAMMA1 R1A]", gamma_docs()),
    ]


class ResultFixtures:
    """The results libraries: folder (for Daemon(lib=...)) and their roles."""

    def __init__(self, folder, libs):
        self.folder = folder
        self.libraries = {lib.name: lib for lib in libs}
        self.help = "kivo_help.khx"
        self.preliminary = "beta.kvo"      # STA:PRE
        self.bulk = "gamma.kvo"            # 348 in the full text, 349 elsewhere
        self.word = "installation"         # hits in every index of alpha.kvo
        self.bulk_count = GAMMA_BULK

    def path(self, name):
        return self.libraries[name].path

    def indexes(self, name):
        """{index member: {word: [document names]}} of a library, words as given."""
        out = {}
        for d in self.libraries[name].docs:
            for index, words in d.words.items():
                for w in words:
                    out.setdefault(index, {}).setdefault(w, []).append(d.name)
        return out


def make_results(root):
    """Writes the results libraries into root/results; gives ResultFixtures."""
    root = os.path.abspath(root)
    folder = os.path.join(root, "results")
    work = os.path.join(root, "results-images")
    os.makedirs(folder, exist_ok=True)
    os.makedirs(work, exist_ok=True)
    libs = results_libraries()
    for lib in libs:
        lib.path = os.path.join(folder, lib.name)
    write_libraries(libs, work, os.path.join(root, "results-jobs.txt"))
    return ResultFixtures(folder, libs)


def main(argv):
    if len(argv) != 2:
        print("usage: make_search_libraries.py <dir>", file=sys.stderr)
        return 2
    fx = make(argv[1])
    print(json.dumps({"structure": fx.structure, "manifest": fx.manifest_json()}, indent=1))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

#!/usr/bin/env python3
"""Writes the libraries the request actions look up, with Info-ZIP zip, one
directory per folder, and <dir>/structure.txt naming the folders:

    Root      (level 0) root/      coll.kvo   "Set [EN/COL1234567R1A] +", a collection whose
                                              library-references.xml names ABC 123 4567 R1A,
                                              DEF 765 4321 R1A (no title, held nowhere) and
                                              GHI 111 1111 R2A
                                   one.kvo    "One [ABC 123 4567 R1A]"
                                   three.kvo  "Three [GHI 111 1111 R2A]"
                                   zul.kvo    zul_sd1.sgml with USER-INFO
                                   pairs.kvo  "Two [EN/FIRST1 R1A] see [EN/SECOND1 R1A]"
                                   v20.kvo    version "20": kvoversion.txt commented
                                              INFO: "2 0", kivo2.html and kivo.html (frames
                                              kivotree and kivodoc), tree.html, index.html
                                   v20bare.kvo  version "20" without kivo2.html
                                   v00.kvo    version "00" with kivomain.html
                                   kivo_help.khx  the help library (the daemon always
                                              includes *.khx)
                                   cat.kvo    "CAT:" in its comment, dwfilters.js, version "20"
                                   lookup.kvo ctw.qxx: catchword CTW_TWO names both of
                                              CTW_DOCS, CTW_ONE the first only
                                   meta.kvo   META pages: Latin-1 declaring iso-8859-1
                                              (META_LATIN1), EUC-JP with DOCNO "... Uja"
                                              (META_EUCJP), META after byte 6143
                                              (META_LATE), none (META_NONE)
                                   images.kvo logo.gif (a 1x1 GIF), readme (no "."),
                                              blob16k.bin and blob1m.bin (deflated, about
                                              16 KiB and 1 MiB, for the image benchmark)
                                   dita.kvo   topic.html: DITA topics with id= blocks
                                              (DITA_TOPICS) and anchored sections
                                              (MYR_SECTIONS) for IDRETR
                                   sv.kvo     a library of language SV, so LANGLIST
                                              answers two codes
    Manuals   (level 1) manuals/   no library
    Guides    (level 2) guides/    guide.kvo  "Guide [EN/ABC1234567R1A] CAT:...", with
                                              guide_sd1.sgml (no USER-INFO, the one
                                              *_sd?.sgml of its library), Sheet.XLS and
                                              kivomain.html (version "00")
    Empty     (level 1) empty/     no library
    Changing  (level 1) changing/  busy.kvo, gone.kvo: for the cases that change them
    Hostile   (level 1) hostile/   hostile.kvo  HOSTILE_COMMENT: title
                                              <img src=x onerror=window.__p=1>, reference
                                              a'b\\; version "20"; meta_script.html whose
                                              META values hold <script> and "><svg ...>

Member names are lower case but Sheet.XLS (the daemon's default FoldNames
lists them lower case anyway). Library names stay below 12 characters, so
the daemon pads them in its listings. Served through "RecursiveDir <dir>"
instead of the structure file, every library is listed at level 0. Hash ids
depend on the library's path: hash_ids(port) reads them from the daemon.

Page folders (make_page_folders(dir), run by the command line too), each
its own LibraryPath beside the tree and outside structure.txt; library
times one day apart from 2020-01-01 12:00 UTC (os.utime), so serve them
with Daemon(library_path=<dir>/<folder>):

    markers/   start.kvo  "Markers start [EN/MRK1234567R1A]", index.html with
                          every marker (marker_page(): noprnt, listdb plain,
                          by title and by date, LISTDB, cmplistdb, servname,
                          proginfo, dbname, uzaddr, kivomain, and ROOTID_SCRIPT
                          in the head) and compare.html (the compare marker)
               lib.kvo, 99999.kvo, a.b.kvo, UPPER.KVO  each with index.html
               noindex.kvo  about.html only
               blank.kvo  no comment (LIST shows "")
               Days differ from the server's and the title order.
               <dir>/markers.structure.txt serves the same folder as a tree.
    lang/      language families, each library holding
               1551-ABC10101U<code>.A.html and start pages:
               Alpha  alp_en (EN), alp_sv (SV, the only kivo2.html),
                      alp_ae (AE), alp (no prefix)
               Beta   bet_sv, bet_ae, bet: no EN, no kivo2.html
               Gamma  gam_sv, gam: gam's document is 1551-ABC10101U.A.html
               Delta  del_sv alone
               nobrack.kvo  "Library without brackets"
    dwf/       CAT: libraries whose dwfilters.js is good (dwfgood.kvo), has
               its keys reversed (dwfrev.kvo) or lacks var dwf_css=
               (dwfnocss.kvo); dwfplain.kvo has reversed keys and no CAT:
    growth/    g00.kvo .. g59.kvo, 380-character comments with '&' and '<'
    compare/   old.kvo and new.kvo (gen_sdi_pair.py's revisions, old.kvo the
               older) and cmpstart.kvo with index.html and compare.html
    marked/    marked.kvo: 1551-mrk10101uen.a.html, a title anchor and the
               headings CHAPTER1-3
    plain_text/  amp.kvo, img.kvo, marker.kvo, abc.kvo: harmless comments
    pages/     markers/ and lang/ flat together (action_pages_daemon_tests)
    hostile_text/  make_hostile(dir, port) only: comments "A & B",
               HOSTILE_IMG, HOSTILE_MARKER % port and a library a&b#c.kvo
write_slist_cache(path, [(port, comment)]) writes a known-server cache.

Usage: make_action_libraries.py <dir> [library ...]; with library names
only those are written, flat into <dir> (a benchmark's folder).
Importable: make(dir), make_flat(dir, names), hash_ids(port), member(name,
library), ActionLibraryCase (a test class's daemon over the tree) and the
names above.
"""

import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "..", "support"))
sys.path.insert(0, os.path.join(HERE, "..", "..", "unzipd", "search"))
import daemon_harness  # noqa: E402
import gen_sdi  # noqa: E402
import ruvx_build  # noqa: E402

# (label, folder, level); labels are the folder names the listings show.
FOLDERS = [("Root", "root", 0), ("Manuals", "manuals", 1), ("Guides", "guides", 2), ("Empty", "empty", 1),
           ("Changing", "changing", 1), ("Hostile", "hostile", 1)]

REFERENCES = """<?xml version="1.0" encoding="ISO-8859-1"?>
<library-references>
<library><prod-no>ABC 123 4567</prod-no><rstate>R1A</rstate><title>One</title></library>
<library><prod-no>DEF 765 4321</prod-no><rstate>R1A</rstate><title></title></library>
<library><prod-no>GHI 111 1111</prod-no><rstate>R2A</rstate><title>Three</title></library>
</library-references>
"""

PAGE = b"<html><head><title>Start</title></head><body><p>Start</p></body></html>\n"

# Library names of the request actions' cases.
V20 = "v20.kvo"
V20_BARE = "v20bare.kvo"
V00 = "v00.kvo"
HELP = "kivo_help.khx"
CAT = "cat.kvo"
LOOKUP = "lookup.kvo"
META = "meta.kvo"
IMAGES = "images.kvo"
DITA = "dita.kvo"
SWEDISH = "sv.kvo"
HOSTILE = "hostile.kvo"
SDI_PATTERN = "*_sd?.sgml"

VERSION_MEMBER = "kvoversion.txt"
VERSION_20 = 'INFO: "2 0"'

HOSTILE_TITLE = "<img src=x onerror=window.__p=1>"
HOSTILE_REFERENCE = "a'b\\"
HOSTILE_COMMENT = "%s [%s]" % (HOSTILE_TITLE, HOSTILE_REFERENCE)
HOSTILE_META = "meta_script.html"
HOSTILE_META_VALUES = {"TITLE": "<script>window.__p=1</script>", "SUBTITLE": '"><svg onload=window.__p=1>'}


def html(title, body, head=""):
    return ("<html><head><title>%s</title>%s</head><body>\n%s\n</body></html>\n" % (title, head, body)).encode(
        "latin-1")


def start_pages(title, second):
    """A second-edition library's start pages: kivo.html (and kivo2.html when
    second) as framesets of kivotree and kivodoc, with the two pages they load."""
    frames = ('<html><head><title>%s</title></head>\n<frameset cols="30%%,*">\n'
              '<frame name="kivotree" src="qzl:/kivo?FN=tree.html">\n'
              '<frame name="kivodoc" src="qzl:/kivo?FN=index.html">\n</frameset></html>\n' % title).encode("latin-1")
    pages = [(VERSION_MEMBER, b"2.0\n", VERSION_20), ("kivo.html", frames)]
    if second:
        pages.append(("kivo2.html", frames))
    pages += [("tree.html", html("Contents", '<p><a href="qzl:/kivo?FN=index.html" target="kivodoc">Start</a></p>')),
              ("index.html", html(title, "<h1>%s</h1><p>Start page.</p>" % title))]
    return pages


# dwfilters.js: the keys the tree frame reads, each value on its line, and
# harmless when the main page loads it as a script.
DWFILTERS = (b'var dwf_js="function dwfApply(){ return true; }";\n'
             b'var dwf_html="<div id=\\"dwf\\"></div>";\n'
             b'var dwf_css="#filters { display: none; }";\n'
             b'var dwf_cookie="kvocat";\n')

# lookup.kvo: two documents, one catchword for both, one for the first.
CTW_DOCS = ["1551-lkp10101uen.a.html", "1551-lkp10102uen.a.html"]
CTW_TITLES = ["Wiring the cabinet", "Wiring the rack"]
CTW_TWO = "Wiring"
CTW_ONE = "Grounding"
IXT_HTML = (4, 0)


def ctw_index():
    job = ruvx_build.new_job()
    job["type"] = ruvx_build.IXT_CTW
    job["docs"] = [(IXT_HTML[0], IXT_HTML[1], name.encode("latin-1")) for name in CTW_DOCS]
    job["words"] = [(CTW_TWO.encode("latin-1"), [(0, 1), (1, 1)]), (CTW_ONE.encode("latin-1"), [(0, 1)])]
    return ruvx_build.build_image(job)


def lookup_members():
    out = [(name, html(title, "<h1>%s</h1><p>Cables first.</p>" % title), 'TITLE: "%s"' % title)
           for name, title in zip(CTW_DOCS, CTW_TITLES)]
    return out + [("ctw.qxx", ctw_index())]


# meta.kvo: (member, META values, charset or None). Values are text; the
# page is written in its charset.
META_LATIN1 = ("meta_latin1.html",
               {"TITLE": "Caf\xe9 guide", "SUBTITLE": "Cr\xe8me and more", "CTW": "Caf\xe9",
                "DOCNO": "1/1551-LKP 101 03 Uen", "REV": "A", "DATE": "2020-01-02", "REF": "Ref \xe9",
                "PREP": "Ren\xe9e", "CHECKED": "Jos\xe9", "APPR": "Zo\xe9", "LANG": "en"},
               "iso-8859-1")
META_EUCJP = ("meta_eucjp.html",
              {"TITLE": "\u8a2d\u7f6e\u30ac\u30a4\u30c9", "SUBTITLE": "\u914d\u7dda",
               "DOCNO": "1/1551-LKP 101 04 Uja", "REV": "B", "DATE": "2020-03-04", "PREP": "\u5c71\u7530"},
              "euc-jp")
META_LATE = ("meta_late.html", {"TITLE": "Late metadata", "DOCNO": "1/1551-LKP 101 05 Uen"}, None)
META_NONE = ("meta_none.html", {}, None)
# Bytes before the late page's first META: the information page reads 6143.
META_LATE_OFFSET = 6200


def meta_page(values, charset, pad=0):
    encoding = {"iso-8859-1": "latin-1", "euc-jp": "euc_jp"}.get(charset, "latin-1")
    head = ""
    if pad:
        head += "<!-- %s -->" % ("x" * (pad - len("<html><head><title>Page</title><!--  -->")))
    if charset:
        head += '\n<meta http-equiv="Content-Type" content="text/html; charset=%s">' % charset
    # A value holding a double quote stands in single quotes.
    head += "".join(('\n<meta name="%s" content=\'%s\'>' if '"' in value else '\n<meta name="%s" content="%s">')
                    % (name, value) for name, value in values.items())
    page = "<html><head><title>Page</title>%s\n</head><body>\n<p>Body text.</p>\n</body></html>\n" % head
    return page.encode(encoding)


def meta_members():
    out = []
    for name, values, charset in (META_LATIN1, META_EUCJP, META_LATE, META_NONE):
        out.append((name, meta_page(values, charset, META_LATE_OFFSET if name == META_LATE[0] else 0)))
    return out


# images.kvo. A 1x1 GIF: header, screen 1x1 with a 2-colour table, the
# table, an image descriptor, LZW minimum 2 and one data block, trailer.
GIF = bytes.fromhex("474946383961" "01000100" "800000" "ffffff000000"
                    "2c000000000100010000" "02024401" "00" "3b")
IMAGE_GIF = "logo.gif"
IMAGE_PLAIN = "readme"
IMAGE_16K = "blob16k.bin"
IMAGE_1M = "blob1m.bin"
BENCH_SIZES = {IMAGE_16K: 16 * 1024, IMAGE_1M: 1024 * 1024}


def text_blob(size, seed):
    """Words at random: deflate shrinks them to about a third."""
    words = ["cabinet", "rack", "cable", "unit", "power", "alarm", "fan", "board", "slot", "port", "the", "a",
             "to", "of", "and", "is", "green", "red", "lamp", "cover"]
    rnd = random.Random(seed)
    out = bytearray()
    while len(out) < size:
        out += (" ".join(rnd.choice(words) for _ in range(12)) + ".\n").encode("ascii")
    return bytes(out[:size])


def image_members():
    return [(IMAGE_GIF, GIF), (IMAGE_PLAIN, b"plain text without an extension\n")] + [
        (name, text_blob(size, name)) for name, size in BENCH_SIZES.items()]


# dita.kvo: each topic a division with its id and a heading; IDRETR with
# content set DITA answers the topic's division. MYR_SECTIONS are headings
# with an anchor, which IDRETR answers with content set MYR.
DITA_MEMBER = "topic.html"
DITA_TOPICS = {"topic_mount": ("Mounting the unit", "Fix the unit with four screws."),
               "topic_cable": ("Connecting the cables", "Connect the power cable last.")}
MYR_SECTIONS = {"sect_power": ("Power supply", "Use a 48 V supply.")}


def dita_page():
    body = "".join('<div class="topic" id="%s">\n<h2 class="title">%s</h2>\n<div class="body"><p>%s</p></div>\n'
                   '</div>\n' % (topic, title, text) for topic, (title, text) in DITA_TOPICS.items())
    body += "".join('<h2><a name="%s"></a>%s</h2>\n<p>%s</p>\n' % (anchor, title, text)
                    for anchor, (title, text) in MYR_SECTIONS.items())
    return html("Topics", body, '\n<link rel="stylesheet" type="text/css" href="commonltr.css">\n')


def sdi_list(title, user_info):
    """A document list whose meta-data hold USER-INFO text or not."""
    m = gen_sdi.Markup(None, random.Random(title))
    m.raw(gen_sdi.DOCTYPE)
    m.start("TAVR")
    m.raw("\n")
    m.start("META-DATA")
    m.raw("\n")
    m.element("TITLE", title)
    if user_info:
        m.element("USER-INFO", "Zone list", ' ID="v2.2"')
    m.raw("\n")
    m.end()
    m.raw("\n")
    m.start("BODY")
    m.element("P", "Documents")
    m.end()
    m.raw("\n")
    m.end()
    m.raw("\n")
    return m.value().encode("latin-1")


# folder -> [(library, comment, [(member, bytes) or (member, bytes, member comment)])]
LIBRARIES = {
    "root": [
        ("coll.kvo", "Set [EN/COL1234567R1A] +", [("library-references.xml", REFERENCES.encode("latin-1"))]),
        ("one.kvo", "One [ABC 123 4567 R1A]", [("index.html", PAGE)]),
        ("three.kvo", "Three [GHI 111 1111 R2A]", [("index.html", PAGE)]),
        ("zul.kvo", "Zones [EN/ZUL1234567R1A]", [("zul_sd1.sgml", sdi_list("Zones", True))]),
        ("pairs.kvo", "Two [EN/FIRST1 R1A] see [EN/SECOND1 R1A]", [("index.html", PAGE)]),
        (V20, "Version Two [EN/VTWO1234567R1A]", start_pages("Version Two", True)),
        (V20_BARE, "Version Bare [EN/VBARE123456R1A]", start_pages("Version Bare", False)),
        (V00, "First Edition [EN/VOLD1234567R1A]",
         [("kivomain.html", html("First Edition", "<h1>First Edition</h1>")), ("index.html", PAGE)]),
        (HELP, "Help [EN/HELP1234567R1A]", [("index.html", html("Help", "<h1>Help</h1>"))]),
        (CAT, "Filtered [EN/CATF1234567R1A] CAT:kvocat,ff|0|1",
         start_pages("Filtered", False) + [("dwfilters.js", DWFILTERS)]),
        (LOOKUP, "Lookup [EN/LOOK1234567R1A]", lookup_members()),
        (META, "Metadata [EN/META1234567R1A]", meta_members()),
        (IMAGES, "Images [EN/IMGS1234567R1A]", image_members()),
        (DITA, "Topics [EN/DITA1234567R1A]", [(DITA_MEMBER, dita_page())]),
        (SWEDISH, "Svenska [SV/SVEN1234567R1A]", [("index.html", PAGE)]),
    ],
    "guides": [
        ("guide.kvo", "Guide [EN/ABC1234567R1A] CAT:kvocat,ff|0|1STA:REL",
         [("guide_sd1.sgml", sdi_list("Guide", False)), ("Sheet.XLS", b"sheet\t1\n"),
          ("kivomain.html", html("Guide", "<h1>Guide</h1>"))]),
    ],
    "changing": [
        ("busy.kvo", "Busy [EN/BUSY1 R1A]", [("index.html", PAGE)]),
        ("gone.kvo", "Gone [EN/GONE1 R1A]", [("index.html", PAGE)]),
    ],
    "hostile": [
        (HOSTILE, HOSTILE_COMMENT,
         start_pages("Hostile", False) + [(HOSTILE_META, meta_page(HOSTILE_META_VALUES, None))]),
    ],
}


def library(name):
    """(folder, comment, members) of a library by file name."""
    for folder, libs in LIBRARIES.items():
        for lib, comment, members in libs:
            if lib == name:
                return folder, comment, members
    raise KeyError(name)


def member(name, lib):
    """The bytes of a library's member as written."""
    for entry in library(lib)[2]:
        if entry[0] == name:
            return entry[1]
    raise KeyError(name)


def structure_text(records):
    """The structure file's records, as the daemon's tree tests write them."""
    return "# structure\n" + "".join('Name: "%s"\nLabel: "%s"\nLevel: %s\nPath: "%s"\nIndexFile: ""\n\n' % r
                                     for r in records)


def zip_add(archive, names, cwd, comment=None):
    # -nw: no name is a wildcard; -X: no extra fields; -c reads one comment
    # line per file added from standard input.
    args = ["zip", "-q", "-X", "-nw"] + (["-c"] if comment is not None else []) + [archive, "--"] + names
    subprocess.run(args, cwd=cwd, check=True, stdout=subprocess.DEVNULL,
                   input=(comment + "\n").encode("latin-1") if comment is not None else None)


def write_library(archive, comment, members):
    write_members(archive, members)
    # zip -z reads the archive comment from standard input.
    subprocess.run(["zip", "-q", "-z", archive], check=True, input=(comment + "\n").encode("latin-1"),
                   stdout=subprocess.DEVNULL)


def write_members(archive, members):
    staging = tempfile.mkdtemp(prefix="actlib_")
    try:
        for entry in members:
            with open(os.path.join(staging, entry[0]), "wb") as f:
                f.write(entry[1])
        plain = [entry[0] for entry in members if len(entry) < 3]
        if plain:
            zip_add(archive, plain, staging)
        for entry in members:
            if len(entry) == 3:
                zip_add(archive, [entry[0]], staging, entry[2])
    finally:
        shutil.rmtree(staging, ignore_errors=True)


def need_zip():
    if shutil.which("zip") is None:
        sys.exit("make_action_libraries.py: zip is missing (scripts/setup installs it)")


def make(out):
    need_zip()
    out = os.path.abspath(out)
    records = []
    for label, folder, level in FOLDERS:
        path = os.path.join(out, folder)
        shutil.rmtree(path, ignore_errors=True)
        os.makedirs(path)
        for name, comment, members in LIBRARIES.get(folder, []):
            write_library(os.path.join(path, name), comment, members)
        records.append((label, label.lower(), level, path))
    with open(os.path.join(out, "structure.txt"), "w") as f:
        f.write(structure_text(records))


def make_flat(out, names):
    """Only the named libraries, directly in out (for Daemon(lib=out))."""
    need_zip()
    os.makedirs(out, exist_ok=True)
    for name in names:
        _, comment, members = library(name)
        path = os.path.join(out, name)
        if os.path.exists(path):
            os.unlink(path)
        write_library(path, comment, members)


def hash_ids(port):
    """{library name or folder name: hash id} from the daemon's MLLIST of
    the whole tree (daemon_harness.Client)."""
    c = daemon_harness.Client(port)
    try:
        c.greeting()
        reply = c.command("MLLIST").decode("latin-1")
    finally:
        c.close()
    db = r'^300\s+DB\s+\d+\s+" *[^"]*"\s+"[^"|]*\|(\d+)\|([^"|]*)\|"'
    ids = {m.group(2): int(m.group(1)) for m in re.finditer(db, reply, re.M)}
    # A folder's name stands bare when it is letters and digits alone.
    for m in re.finditer(r'^300\s+SUB\s+\d+\s+-\s+S\|(\d+)\|-\|.*\s(?:"((?:[^"\\]|\\.)*)"|([^\s"]+))$',
                         reply, re.M):
        name = re.sub(r"\\(.)", r"\1", m.group(2)) if m.group(2) is not None else m.group(3)
        ids[name] = int(m.group(1))
    return ids


class ActionLibraryCase(daemon_harness.LibraryCase):
    """One daemon per test class over the whole tree of make(), served by
    its structure file; cls.ids holds hash_ids()."""

    make_fixtures = staticmethod(make)

    @staticmethod
    def daemon_options(fixtures):
        return {"library_path": os.path.join(fixtures, "structure.txt")}

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.ids = hash_ids(cls.d.port)

    def path(self, name):
        """A library's file in this class's tree."""
        return os.path.join(self.fixtures, library(name)[0], name)


# ---- page folders: markers, languages, filters, growth, hostile text, revisions
#
# Each folder is its own LibraryPath (one daemon each), beside the tree
# above and outside its structure file, so the tree's listings stay as
# they are. Times are set with os.utime: serve them with
# Daemon(library_path=<folder>), since Daemon(lib=...) copies and drops them.

# Modification times: day FOLDER_EPOCH + n, noon UTC, one day apart.
FOLDER_EPOCH = 1577880000  # 2020-01-01 12:00:00 UTC
DAY = 86400

MARKERS_DIR = "markers"
START = "start.kvo"
START_PAGE = "index.html"
COMPARE_PAGE = "compare.html"
ROOTID_SCRIPT = '<script>docNoTree("SUB_MAIN", <!--@@rootid-->, "", "");</script>'
MARKERS_STRUCTURE = "markers.structure.txt"
LIB = "lib.kvo"
DIGITS = "99999.kvo"
DOTTED = "a.b.kvo"
NO_INDEX = "noindex.kvo"
UPPER = "UPPER.KVO"
BLANK = "blank.kvo"


def marker_page():
    """Every marker of the served pages, each on its own line; a marker the
    pass does not know stays as written."""
    body = "\n".join([
        "<!--@@noprnt-->",
        "<h2>listdb</h2>", "<!--@@listdb-->",
        "<h2>listdb by title</h2>", "<!--@@listdb default @sort_title-->",
        "<h2>listdb by date</h2>", "<!--@@listdb default @sort_date-->",
        "<h2>LISTDB</h2>", "<!--@@LISTDB-->",
        '<form action="qzl:/kivo"><select name="DB">', "<!--@@cmplistdb-->", "</select></form>",
        '<p id="servname"><!--@@servname--></p>',
        '<p id="proginfo"><!--@@proginfo--></p>',
        '<p id="dbname"><!--@@dbname--></p>',
        '<p id="uzaddr"><!--@@uzaddr--></p>',
        '<p><a id="kivomain" href="qzl:/kivo?<!--@@kivomain-->">Main page</a></p>'])
    head = "\n<script>function docNoTree(a, b, c, d) { window.rootId = b; }</script>\n" + ROOTID_SCRIPT + "\n"
    return html("Markers", body, head)


def compare_page():
    return html("Compare", "<h1>Compare</h1>\n<!--@@compare default *.kvo-->")


# (name, comment, members, day); days differ from the server's and the
# title order, and no two comments or days are equal.
MARKER_LIBRARIES = [
    (START, "Markers start [EN/MRK1234567R1A]",
     [(START_PAGE, marker_page()), (COMPARE_PAGE, compare_page())], 3),
    (LIB, "Plain lib [EN/LIB1234567R1A]", [("index.html", html("Plain lib", "<h1>Plain lib</h1>"))], 6),
    (DIGITS, "Numbered [EN/NUM1234567R1A]", [("index.html", html("Numbered", "<h1>Numbered</h1>"))], 1),
    (DOTTED, "Dotted name [EN/DOT1234567R1A]", [("index.html", html("Dotted", "<h1>Dotted name</h1>"))], 5),
    (NO_INDEX, "No index page [EN/NOI1234567R1A]", [("about.html", html("About", "<p>No start page.</p>"))], 2),
    (UPPER, "Upper case [EN/UPP1234567R1A]", [("index.html", html("Upper", "<h1>Upper case</h1>"))], 4),
    (BLANK, "", [("index.html", html("Blank", "<h1>Blank</h1>"))], 0),
]

# Language families: a library per language version, each holding the
# document DOC_STEM + "U<code>.A.html" (the unprefixed Gamma one without a
# code). (name, comment, members).
DOC_STEM = "1551-ABC10101"
NO_BRACKETS = "nobrack.kvo"
NO_BRACKETS_COMMENT = "Library without brackets"


def lang_doc(code):
    return "%sU%s.A.html" % (DOC_STEM, code)


def lang_library(title, doc, second):
    """Start pages (kivo2.html when second) and the family's document."""
    return start_pages(title, second) + [(doc, html(title, "<h1>%s</h1><p>%s</p>" % (title, doc)))]


LANG_LIBRARIES = [
    # Alpha: every version; only SV has kivo2.html.
    ("alp_en.kvo", "Alpha English [EN/ALP1234567R1A]", lang_library("Alpha English", lang_doc("en"), False)),
    ("alp_sv.kvo", "Alpha Svenska [SV/ALP1234567R1A]", lang_library("Alpha Svenska", lang_doc("sv"), True)),
    ("alp_ae.kvo", "Alpha American [AE/ALP1234567R1A]", lang_library("Alpha American", lang_doc("en"), False)),
    ("alp.kvo", "Alpha Plain [ALP1234567R1A]", lang_library("Alpha Plain", lang_doc("en"), False)),
    # Beta: no EN (LU=en finds AE, LU=de fails at once), no kivo2.html.
    ("bet_sv.kvo", "Beta Svenska [SV/BET1234567R1A]", lang_library("Beta Svenska", lang_doc("sv"), False)),
    ("bet_ae.kvo", "Beta American [AE/BET1234567R1A]", lang_library("Beta American", lang_doc("en"), False)),
    ("bet.kvo", "Beta Plain [BET1234567R1A]", lang_library("Beta Plain", lang_doc("en"), False)),
    # Gamma: SV and unprefixed; the unprefixed document has no code.
    ("gam_sv.kvo", "Gamma Svenska [SV/GAM1234567R1A]", lang_library("Gamma Svenska", lang_doc("sv"), False)),
    ("gam.kvo", "Gamma Plain [GAM1234567R1A]", lang_library("Gamma Plain", lang_doc(""), False)),
    # Delta: SV alone, so every English try fails.
    ("del_sv.kvo", "Delta Svenska [SV/DEL1234567R1A]", lang_library("Delta Svenska", lang_doc("sv"), False)),
    (NO_BRACKETS, NO_BRACKETS_COMMENT, lang_library("No brackets", lang_doc("en"), False)),
]

# dwfilters.js as the filter editor writes it: one string per key, lines
# joined by "\n\" continuations, quotes escaped, style lines ending "}\".
# It stays a valid script.
DWF_JS = ('var dwf_js="function dwfShow(id) {\\n\\\n'
          '  var e = document.getElementById(id);\\n\\\n'
          '  if (e) { e.style.display = \\"block\\"; }\\n\\\n'
          '}\\n\\\n'
          'function dwfHide(id) {\\\n'
          '  var e = document.getElementById(id);\\\n'
          '  if (e) { e.style.display = \\"none\\"; }\\\n'
          '}\\n\\\n'
          '";\n')
DWF_HTML = 'var dwf_html="<div id=\\"dwfbox\\"><input type=\\"checkbox\\" name=\\"f1\\"> Hardware</div>";\n'
DWF_CSS = ('var dwf_css="#filters { display: none; }\\\n'
           '#bgoverlay { position: absolute; top: 0; left: 0; }\\\n'
           '";\n')
DWF_COOKIE = 'var dwf_cookie="kvocat";\n'
DWFILTERS_GOOD = (DWF_JS + DWF_HTML + DWF_CSS + DWF_COOKIE).encode("latin-1")
DWFILTERS_REVERSED = (DWF_HTML + DWF_JS + DWF_COOKIE + DWF_CSS).encode("latin-1")
DWFILTERS_NO_CSS = (DWF_JS + DWF_HTML + DWF_COOKIE).encode("latin-1")
DWF_CAT = " CAT:kvocat,ff|0|1"
DWF_GOOD = "dwfgood.kvo"
DWF_REVERSED = "dwfrev.kvo"
DWF_NO_CSS = "dwfnocss.kvo"
DWF_PLAIN = "dwfplain.kvo"


def dwf_library(title, filters):
    return start_pages(title, False) + [("dwfilters.js", filters)]


DWF_LIBRARIES = [
    (DWF_GOOD, "Filters good [EN/DWG1234567R1A]" + DWF_CAT, dwf_library("Filters good", DWFILTERS_GOOD)),
    (DWF_REVERSED, "Filters reversed [EN/DWR1234567R1A]" + DWF_CAT,
     dwf_library("Filters reversed", DWFILTERS_REVERSED)),
    (DWF_NO_CSS, "Filters no style [EN/DWN1234567R1A]" + DWF_CAT, dwf_library("Filters no style", DWFILTERS_NO_CSS)),
    # No CAT:, so its reversed filters are never read.
    (DWF_PLAIN, "No filters [EN/DWP1234567R1A]", dwf_library("No filters", DWFILTERS_REVERSED)),
]

# 60 libraries whose comments are 380 characters (the daemon refuses more
# than 383), holding '&' and '<' that grow when escaped.
GROWTH_COUNT = 60
GROWTH_COMMENT_LENGTH = 380


def growth_comment(n):
    head = "Growth %02d [EN/GRW%07dR1A] " % (n, n)
    filler = "cabinets & racks <rev> "
    text = head + filler * ((GROWTH_COMMENT_LENGTH - len(head)) // len(filler) + 1)
    return text[:GROWTH_COMMENT_LENGTH - 1] + "."


GROWTH_LIBRARIES = [("g%02d.kvo" % n, growth_comment(n), [("index.html", PAGE)]) for n in range(GROWTH_COUNT)]

# Hostile text: library comments and a name that must stay text wherever
# they are written. HOSTILE_MARKER_COMMENT names a port the test listens on.
HOSTILE_AMP = "A & B"
HOSTILE_IMG = '<img src=x onerror="window.__pwned=1">'
HOSTILE_MARKER = "<!--@@listdb 127.0.0.1:%d x-->"
HOSTILE_NAME = "a&b#c.kvo"
HOSTILE_SLIST_COMMENT = "<script>window.__pwned=1</script>"
HOSTILE_DIR = "hostile_text"
PLAIN_DIR = "plain_text"


def hostile_libraries(port):
    """(name, comment, members) of the hostile folder; port goes into the
    marker comment."""
    page = [("index.html", PAGE)]
    return [("amp.kvo", HOSTILE_AMP, page), ("img.kvo", HOSTILE_IMG, page),
            ("marker.kvo", HOSTILE_MARKER % port, page), (HOSTILE_NAME, "Hash name [EN/HSH1234567R1A]", page)]


def plain_libraries():
    """The hostile folder's shape with harmless comments and names: the same
    pages must hold as many elements."""
    page = [("index.html", PAGE)]
    return [("amp.kvo", "A and B", page), ("img.kvo", "Image text", page), ("marker.kvo", "Marker text", page),
            ("abc.kvo", "Hash name [EN/HSH1234567R1A]", page)]


def write_slist_cache(path, servers, now=None):
    """A known-server cache for Daemon(start=False).cache: servers are
    (port, comment or None) on 127.0.0.1 (16777343 in host order)."""
    now = int(time.time()) if now is None else now
    with open(path, "w") as f:
        for port, comment in servers:
            f.write('16777343 %d %d%s\n' % (port, now, "" if comment is None else ' "%s"' % comment))


# Two revisions of one library with document lists, for the comparison
# report, and a library holding the compare marker's page. old.kvo is
# older than new.kvo.
COMPARE_DIR = "compare"
COMPARE_OLD = "old.kvo"
COMPARE_NEW = "new.kvo"
COMPARE_START = "cmpstart.kvo"
COMPARE_DOCS = 12
COMPARE_SEED = 33


def write_folder(path, libraries, days=None):
    """Writes (name, comment, members) into a fresh folder; days[i] (or i)
    sets the i-th library's time to FOLDER_EPOCH + days[i] days."""
    need_zip()
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    for i, (name, comment, members) in enumerate(libraries):
        archive = os.path.join(path, name)
        write_library_with_comment(archive, comment, members)
        day = days[i] if days is not None else i
        os.utime(archive, (FOLDER_EPOCH + day * DAY, FOLDER_EPOCH + day * DAY))


def write_library_with_comment(archive, comment, members):
    """Members by zip, the comment as given: zip -z breaks lines longer than
    255 characters, and an empty comment is none (LIST shows "")."""
    write_members(archive, members)
    if comment:
        with zipfile.ZipFile(archive, "a") as z:
            z.comment = comment.encode("latin-1")


def make_markers(out):
    path = os.path.join(out, MARKERS_DIR)
    write_folder(path, [lib[:3] for lib in MARKER_LIBRARIES], [lib[3] for lib in MARKER_LIBRARIES])
    with open(os.path.join(out, MARKERS_STRUCTURE), "w") as f:
        f.write(structure_text([("Markers", "markers", 0, path)]))
    return path


def make_compare(out):
    sys.path.insert(0, os.path.join(HERE, "..", "output"))
    import gen_sdi_pair
    path = os.path.join(out, COMPARE_DIR)
    write_folder(path, [(COMPARE_START, "Compare start [EN/CMPS123456R1A]",
                         [("index.html", compare_page()), (COMPARE_PAGE, compare_page())])])
    scratch = tempfile.mkdtemp(prefix="actcmp_")
    try:
        gen_sdi_pair.write_pair(scratch, COMPARE_DOCS, COMPARE_SEED, "sorted", 2, path)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    for day, name in ((1, COMPARE_OLD), (2, COMPARE_NEW)):
        stamp = FOLDER_EPOCH + day * DAY
        os.utime(os.path.join(path, name), (stamp, stamp))
    return path


# instant/: libraries with the instant search's four metadata members
# (no category filtering, so no btm_metadata.txt), one line per entry.
# inst.kvo: INSTANT_ENTRIES entries, INSTANT_MATCHES of them with "install"
# (catchword, topic title or title), each a document of its own; entry 0's
# title is INSTANT_MARKUP_TITLE, entry 1's INSTANT_HOSTILE_TITLE; one more
# entry names an .htm file and is never listed. short.kvo: the title member
# one line short; errpage.kvo: the title member holding the front end's
# error page; xss.kvo: titled INSTANT_XSS_TITLE.
INSTANT_DIR = "instant"
INSTANT = "inst.kvo"
INSTANT_SHORT = "short.kvo"
INSTANT_ERROR_PAGE = "errpage.kvo"
INSTANT_XSS = "xss.kvo"
INSTANT_ENTRIES = 50
INSTANT_MATCHES = 40
INSTANT_MARKUP_TITLE = "<b>x</b> install notes"
INSTANT_HOSTILE_TITLE = "<img src=x onerror=window.__x=1> install"
INSTANT_XSS_TITLE = "';</script><script>window.__x=1//"


def instant_docno(i):
    return "1551-ABC 101 %02d Uen" % i


def instant_file(i):
    return "1551-ABC101%02dUen.A.html" % i


def instant_entries():
    """(catchwords, topic line, title, docno line) of each entry."""
    entries = []
    for i in range(INSTANT_ENTRIES):
        match = i < INSTANT_MATCHES
        ctw = "INSTALL|software" if match and i % 3 == 0 else ("|" if i % 2 else "")
        topic = "Installing the node|$|%d" % (i % 5 + 1) if match and i % 3 == 1 else "Overview|$|1"
        title = "Title %02d%s" % (i, " install" if match and i % 3 == 2 else "")
        if i == 0:
            title = INSTANT_MARKUP_TITLE
        elif i == 1:
            title = INSTANT_HOSTILE_TITLE
        entries.append((ctw, topic, title, "1|%s|A" % instant_docno(i)))
    entries.append(("INSTALL", "|$|", "Old page install", "1|1551-ABC 101 99 Uen.htm|A"))
    return entries


def instant_member(column, entries, drop=0):
    lines = [e[column] for e in entries]
    return ("".join(line + "\r\n" for line in lines[:len(lines) - drop])).encode("latin-1")


def instant_library(title, titles=None):
    entries = instant_entries()
    names = ("ctw_metadata.txt", "topictitle_metadata.txt", "title_metadata.txt", "docno_metadata.txt")
    members = [(name, instant_member(k, entries)) for k, name in enumerate(names)]
    if titles is not None:
        members[2] = ("title_metadata.txt", titles)
    docs = [(instant_file(i), html("Document %02d" % i, "".join(
        '<h2><a name="CHAPTER%d">Chapter %d</a></h2><p>Install step %d.</p>\n' % (c, c, c) for c in range(1, 6))))
        for i in range(INSTANT_ENTRIES)]
    return start_pages(title, True) + members + docs


INSTANT_ERROR_TEXT = (b"<html><head><title>KIVO Error Message</title></head><body><!--@error-->"
                      b"No such file<!--@/error--></body></html>\n")

INSTANT_LIBRARIES = [
    (INSTANT, "Instant [EN/INST1234567R1A]", instant_library("Instant")),
    (INSTANT_SHORT, "Instant short [EN/INSS1234567R1A]",
     instant_library("Instant short", instant_member(2, instant_entries(), drop=1))),
    (INSTANT_ERROR_PAGE, "Instant error [EN/INSE1234567R1A]", instant_library("Instant error", INSTANT_ERROR_TEXT)),
    (INSTANT_XSS, INSTANT_XSS_TITLE + " [EN/INSX1234567R1A]", start_pages("Hostile", True)),
]


# marked/: marked.kvo holds MARKED_DOC, a document whose title anchor is
# followed by the headings CHAPTER1-3, for annotation marks.
MARKED_DIR = "marked"
MARKED = "marked.kvo"
MARKED_DOC = "1551-mrk10101uen.a.html"
MARKED_LIBRARIES = [
    (MARKED, "Marked [EN/MRK1551010R1A]", [(MARKED_DOC, html("Marked", (
        '<h1><a name="TITLE">Marked document</a></h1><p>Read this first.</p>\n' + "".join(
            '<h2><a name="CHAPTER%d">Chapter %d</a></h2><p>Step %d.</p>\n' % (c, c, c) for c in range(1, 4)))))]),
]

# folder -> libraries of make_page_folders; "pages" is the flat folder of
# action_pages_daemon_tests: the markers' libraries and the families.
PAGE_FOLDERS = {
    "lang": LANG_LIBRARIES,
    "dwf": DWF_LIBRARIES,
    "growth": GROWTH_LIBRARIES,
    PLAIN_DIR: plain_libraries(),
    INSTANT_DIR: INSTANT_LIBRARIES,
    MARKED_DIR: MARKED_LIBRARIES,
    "pages": [lib[:3] for lib in MARKER_LIBRARIES] + LANG_LIBRARIES,
}


def make_hostile(out, port):
    """The hostile folder out/hostile_text for a marker naming port."""
    path = os.path.join(out, HOSTILE_DIR)
    write_folder(path, hostile_libraries(port))
    return path


def make_page_folders(out):
    """Every folder above except the hostile one (make_hostile: it needs a
    port); returns {folder: path}."""
    out = os.path.abspath(out)
    paths = {MARKERS_DIR: make_markers(out), COMPARE_DIR: make_compare(out)}
    for folder, libraries in PAGE_FOLDERS.items():
        paths[folder] = os.path.join(out, folder)
        write_folder(paths[folder], libraries)
    return paths


def page_library(name):
    """(comment, members) of a library of the page folders by name."""
    for lib in MARKER_LIBRARIES + LANG_LIBRARIES + DWF_LIBRARIES + GROWTH_LIBRARIES:
        if lib[0] == name:
            return lib[1], lib[2]
    raise KeyError(name)


def main(argv):
    if len(argv) < 2:
        print("usage: make_action_libraries.py <dir> [library ...]", file=sys.stderr)
        return 2
    if len(argv) > 2:
        make_flat(argv[1], argv[2:])
    else:
        make(argv[1])
        make_page_folders(argv[1])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

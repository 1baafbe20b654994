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
    # zip -z reads the archive comment from standard input.
    subprocess.run(["zip", "-q", "-z", archive], check=True, input=(comment + "\n").encode("latin-1"),
                   stdout=subprocess.DEVNULL)


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


def main(argv):
    if len(argv) < 2:
        print("usage: make_action_libraries.py <dir> [library ...]", file=sys.stderr)
        return 2
    if len(argv) > 2:
        make_flat(argv[1], argv[2:])
    else:
        make(argv[1])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

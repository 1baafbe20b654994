"""Reply lines as the daemon writes them (QXSRCH, LIST, MLLIST, SRCH, CONTV,
RETR, IDRETR, INFO, LANGLIST), for scripted peers and the fake daemon.

Every builder gives text lines ending in "\\n" (latin-1 when sent; encode
with as_bytes). Field formats follow the daemon's own: free texts pass
plain_field (controls as blanks) or quoted_field (quote_string after it);
library names are padded as the listings pad them. Values the daemon takes
from the file system (size, entry count, time, hash id) are the caller's:
zip_facts reads the first three of a library file, the hash id comes from
the daemon's MLLIST (it depends on the library's path).

A QXSRCH reply:
    qxsrch_reply([hit("guide.kvo", 4711, "a.html", ["INSTALL"], 'TITLE: "Guide"'),
                  summary("Docs", "big.kvo", 12, 900),
                  no_hit("Docs", "other.kvo", 13)])
A member's CONTV and RETR replies from the library file:
    contv_reply(4711, contv_lines(path, ["kivo2.html"]))
    retr_reply([retr_member("v20.kvo", m) for m in zip_members(path, ["kivo.html"])])
RETR data are bytes; as text they are latin-1 like every line here.
"""

import os
import time
import zipfile

QXSRCH_HEADER = "300-Database Filename Hash DocType Score Tokens Comment\n"
LIST_HEADER = '300-Database     Size    Entries CTime "Comment"\n'
MLLIST_HEADER = '300-Type Level Name         ID  Size\t\tEntries CTime    "Comment"\n'
SRCH_HEADER = "300-Database Filename Offset Context\n"
IDRETR_HEADER = "300-Size Database Filename Context\n"

# Characters kept of a library comment in the listings, and of a member
# comment on a hit line.
COMMENT_MAX = 1024
HIT_COMMENT_MAX = 1022

PROGRAM = "ruvadaemon"
ARTICLE = "DOCSRV 1"
REVISION = "R19K"


def plain_field(text):
    """Controls (bytes below 32 and 127) as blanks."""
    return "".join(" " if ord(c) < 32 or ord(c) == 127 else c for c in text)


def quote_string(text):
    """A text of ASCII letters and digits alone stays as it is; anything else
    (the empty text too) goes between double quotes with each quote as \\"."""
    if text and all(c.isascii() and c.isalnum() for c in text):
        return text
    return '"' + text.replace('"', '\\"') + '"'


def quoted_field(text):
    """A free text as a quoted reply field; a backslash that would escape the
    closing quote gets a blank after it."""
    out = quote_string(plain_field(text))
    if len(out) >= 2 and out.endswith('\\"'):
        out = out[:-1] + ' "'
    return out


def tokens(words, joiner=" "):
    """The Tokens field of a hit from the index words (in the index's case):
    each quoted unless letters and digits, joined as given (" " for words
    of an AND, " | " for the catchwords or topic titles of one hit)."""
    return joiner.join(quote_string(w) for w in words)


def hit(library, hash_id, member, words, comment=None, doctype="HTML"):
    """One hit line. words: a list (joined by tokens) or the Tokens text as it
    stands. comment: the member comment, or None / "" for a member without."""
    text = words if isinstance(words, str) else tokens(words)
    line = '300 "%s" %d "%s" %s 0 [%s]' % (library, hash_id, plain_field(member), doctype, plain_field(text))
    if comment:
        line += " " + quoted_field(comment[:HIT_COMMENT_MAX])
    return line + "\n"


def summary(folder, library, hash_id, count):
    """348: a library whose hits passed the hit limit, counted, not listed."""
    return '348 "%s" "%s" %d %d\n' % (plain_field(folder), library, hash_id, count)


def no_hit(folder, library, hash_id):
    """349: a library searched by node id that holds the index and had no hit."""
    return '349 "%s" "%s" %d\n' % (plain_field(folder), library, hash_id)


def final(command):
    return "200-%s executed.\n" % command


def invalid_database(arg):
    """MLLIST of a name or [LI] the catalogue does not hold."""
    return "511 Invalid database '%s'\n" % arg


def refusal(code, text):
    """A line that ends a reply: "511 Invalid ID 40000", 577, 578..."""
    return "%03d %s\n" % (code, text)


def qxsrch_reply(lines, end=None):
    """Header, the lines, then end (default the 200 line)."""
    return QXSRCH_HEADER + "".join(lines) + (end if end is not None else final("QXSRCH"))


def list_line(library, size, entries, mtime, comment):
    """One LIST line; comment None for a library without one."""
    return '300 "%13s" %8d %5d %10d %s\n' % (library, size, entries, mtime, _listed_comment(comment))


def list_reply(lines):
    return LIST_HEADER + "".join(lines) + final("LIST")


def mllist_library(library, hash_id, size, entries, mtime, comment, level=0, version="00", extranet=False):
    """One DB line of a tree listing."""
    return '300   DB %5d "%12s"  "%s|%d|%s|" \t %8d %5d %10d %s %s\n' % (
        level, library, version, hash_id, library, size, entries, mtime, _listed_comment(comment),
        "TRUE" if extranet else "FALSE")


def mllist_folder(node_id, mtime, description, level=0):
    """One SUB line of a tree listing."""
    return '300  SUB %5d            - S|%d|-|\t\t\t-     - %10d %s\n' % (
        level, node_id, mtime, _listed_comment(description))


def mllist_reply(lines):
    return MLLIST_HEADER + "".join(lines) + final("MLLIST")


def srch_line(library, member, offset, context):
    """One SRCH hit; context as the daemon joins it, quotes included."""
    return '300 "%s" "%s" %d %s\n' % (library, plain_field(member), offset, context)


def srch_reply(lines):
    return SRCH_HEADER + "".join(lines) + final("SRCH")


def identity(comment=""):
    """What the greeting and VER carry after their code."""
    return '%s "%s" %s "%s"' % (PROGRAM, ARTICLE, REVISION, plain_field(comment))


def greeting(comment=""):
    return "200 UZD %s\n" % identity(comment)


def version(comment=""):
    return "200 Version: %s\n" % identity(comment)


def zip_facts(path):
    """(size, entry count, mtime, comment) of a library file, as the listings
    show them; the comment None when the archive has none."""
    st = os.stat(path)
    with zipfile.ZipFile(path) as z:
        entries = len(z.infolist())
        comment = z.comment.decode("latin-1") if z.comment else None
    return st.st_size, entries, int(st.st_mtime), comment


# Method names of CONTV lines, by ZIP method number.
METHODS = ["Stored", "Shrunk", "Reduce1", "Reduce2", "Reduce3", "Reduce4", "Imploded", "Tokenized", "Deflated"]
VERSION_MEMBER = "kvoversion.txt"
# The folder page the daemon makes for a folder's node id, and its frame number.
SUB_MAIN_PAGE = "kvo_ml_sub_main_page"
SUB_MAIN_SIZE = 4096
SUB_MAIN_NUMBER = 9999


class Member:
    """A member as CONTV and RETR show it: name, bytes, ZIP method, stored
    size, CRC-32 and comment (None without one)."""

    def __init__(self, name, data, method=8, stored=None, crc=0, comment=None):
        self.name, self.data, self.method, self.crc, self.comment = name, data, method, crc, comment
        self.stored = len(data) if stored is None else stored


def zip_members(path, names=None, fold=True):
    """Members of a library file in archive order (only those named, when
    names is given), named as the daemon's default FoldNames lists them
    (lower case). The daemon keeps only the first word of the comment of
    kvoversion.txt (it reads the version from it)."""
    out = []
    with zipfile.ZipFile(path) as z:
        for info in z.infolist():
            name = info.filename.lower() if fold else info.filename
            if names is not None and name not in names:
                continue
            comment = info.comment.decode("latin-1") if info.comment else None
            if comment is not None and name == VERSION_MEMBER:
                comment = comment.split()[0] if comment.split() else comment
            out.append(Member(name, z.read(info), info.compress_type, info.compress_size, info.CRC, comment))
    return out


def contv_line(m):
    """One CONTV member line: sizes, method, ratio in whole percent, CRC."""
    ratio = 100 - m.stored * 100 // len(m.data) if m.stored and m.data else 0
    method = METHODS[m.method] if m.method < len(METHODS) else "Unknown[%d]" % m.method
    return "300 %8d %12s %8d %2d%% %08x %s%s\n" % (len(m.data), method, m.stored, ratio, m.crc, plain_field(m.name),
                                                 _member_comment(m.comment))


def contv_lines(path, names=None):
    return [contv_line(m) for m in zip_members(path, names)]


def contv_header(library):
    """A library's header: its hash id (int) when asked by id, else its name."""
    return "300-  Length       Method     Size Ratio CRC-32 %s\n" % library


def contv_reply(library, lines):
    """One library's block; lines of a library's contents, [] when no member matched."""
    return contv_header(library) + "".join(lines) + final("CONTV")


def contv_sub_main(node_id):
    """CONTV <node> kvo_ml_sub_main_page of an existing folder or library node."""
    return ("300-Length   Method  Size  Ratio   CRC-32  %d\n300    %d   Stored   %d    0        -   %s\n"
            % (node_id, SUB_MAIN_SIZE, SUB_MAIN_SIZE, SUB_MAIN_PAGE)) + final("CONTV")


def retr_member(library, m, folder=0):
    """Framing line, the member's bytes, the CRC line."""
    data = m.data.decode("latin-1") if isinstance(m.data, bytes) else m.data
    return ('300-Length %d "%s" "%s" "%d"\n' % (len(data), library, plain_field(m.name), folder) + data
            + "300-CRC 0x%x\n" % m.crc)


def retr_reply(members):
    """members: retr_member texts (a RETR matching nothing gets retr_not_found)."""
    return "".join(members) + final("RETR")


def retr_not_found(filepat, dbpat, checked):
    return '400-File "%s" not found in database "%s", %d database(s) checked\n' % (filepat, dbpat, checked)


def retr_sub_main(page):
    """RETR <node> kvo_ml_sub_main_page: the daemon's own folder page."""
    data = page.decode("latin-1") if isinstance(page, bytes) else page
    return ('300-Length %d "%d" %s\n' % (len(data), SUB_MAIN_NUMBER, SUB_MAIN_PAGE) + data + "300-CRC 0x00000000\n"
            + final("RETR"))


def idretr_entry(library, member, section):
    """One section: its size in bytes, library and member, two blanks, the
    section as it stands (it may hold newlines; NULs go as blanks)."""
    section = section.replace("\0", " ")
    return '300 %d "%s" "%s"  %s\n' % (len(section), plain_field(library), plain_field(member), section)


def idretr_reply(entries):
    """entries: idretr_entry texts; [] for an id found nowhere."""
    return IDRETR_HEADER + "".join(entries) + final("IDRETR")


def info_reply(start_time, databases=0, subsystems=0, files=0, sessions=1, active=1, name_bytes=0,
               zs_pool=(1, 0, 0), ch_pool=(1, 0, 0), name_heaps=1, tz=None):
    """INFO: start time in local time, counts, the cache estimate and the
    pools' (heaps, used items, item size). tz: the daemon's TZ variable
    (default this process's; the daemon prints it as given)."""
    tz = os.environ.get("TZ", "") if tz is None else tz
    t = time.localtime(start_time)
    lines = ["300-Server Information:",
             "300 Server start/reconfiguration time: [%04d-%02d-%02d %02d:%02d %s] %d"
             % (t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour, t.tm_min, tz, start_time),
             "300 Number of client sessions: %d" % sessions,
             "300 Number of active sessions: %d" % active,
             "300 Number of databases: %d" % databases,
             "300 Number of Sub-systems: %d" % subsystems,
             "300 Total number of files: %d" % files,
             "300 Estimated cache memory requirement (in bytes): %d" % (databases * 376 + files * 72 + name_bytes),
             "300 ZipStructure Pool: Heaps %d, usedItems %d, itemSize %d" % zs_pool,
             "300 CentralHeader Pool: Heaps %d, usedItems %d, itemSize %d" % ch_pool,
             "300 Name Pool: Heaps %d, allocSize %d" % (name_heaps, name_bytes)]
    return "".join(line + "\n" for line in lines) + final("INFO")


def langlist_reply(codes):
    """The codes in catalogue order, each followed by a blank, then one more;
    without any "EN" alone."""
    if not codes:
        return "200 EN\n"
    return "200 %s \n" % "".join(code + " " for code in codes)


def as_bytes(text):
    return text.encode("latin-1")


def _member_comment(comment):
    return " " + quoted_field(comment[:COMMENT_MAX]) if comment is not None else ""


def _listed_comment(comment):
    return quoted_field(comment[:COMMENT_MAX]) if comment is not None else ""

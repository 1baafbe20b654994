"""Reply lines as the daemon writes them (QXSRCH, LIST, MLLIST, SRCH), for
scripted peers and the fake daemon.

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
"""

import os
import zipfile

QXSRCH_HEADER = "300-Database Filename Hash DocType Score Tokens Comment\n"
LIST_HEADER = '300-Database     Size    Entries CTime "Comment"\n'
MLLIST_HEADER = '300-Type Level Name         ID  Size\t\tEntries CTime    "Comment"\n'
SRCH_HEADER = "300-Database Filename Offset Context\n"

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


def as_bytes(text):
    return text.encode("latin-1")


def _listed_comment(comment):
    return quoted_field(comment[:COMMENT_MAX]) if comment is not None else ""

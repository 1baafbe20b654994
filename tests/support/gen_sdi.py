"""Seeded SDI document lists, each with the dump that sdidump must print.

The one SDI builder of the tests. A document is a model (meta-data,
persons, entries) written as TAVR markup; every start tag is checked
against the tag map's allowed children (gen_tavr), so the context stack
reads the structure the model holds. The expected dump follows sdidump's
format line for line.

Usage as a module:
    table = gen_tavr.load_tagmap(sgmldump)
    doc = build(random.Random(seed), table)
    doc.markup   # bytes, latin-1
    doc.dump     # bytes, without the "file=" line
    joined = join_parts([doc1, doc2])   # parts joined as the comparison joins them
    doc = build_list(random.Random(seed), rows)   # a document list of given rows
"""

import gen_tavr

DOCTYPE = '<!DOCTYPE TAVR PUBLIC "-//VANDROVE//DTD TAVR 1/1056-ABC 901 01//EN">\n'
LANGS = ["AE", "DA", "DE", "EN", "ES", "FI", "FR", "IS", "IT", "NL", "NO", "PB", "PT", "SL", "SV", "JA"]
LANG_NUMBER = {code: i for i, code in enumerate(LANGS[:15])}
LANG_NUMBER["JA"] = 15
WORDS = ["alpha", "beta", "Gamma", "delta", "list", "x", "z9", "Part", "&trade;", "R2A"]
ROLES = ["MOD-DESC", "OPER", "lib_ref", "LIB_REF", "fetch_only", "FILE_REF", "x-1"]
HIDING_ROLES = {"LIB_REF", "FETCH_ONLY", "FILE_REF"}
# Number and comment columns: the raw text and what expansion makes of it.
REFERENCES = [
    ("&trade;", "(TM)"),
    ("&#233;", "\xe9"),
    ("&ge;", "&gt;="),
    ("&#60;", "&lt;"),
    ("& ", "&amp; "),
]


def quote(value):
    """A value as sdidump prints it (dump_value.h)."""
    if value is None:
        return "(null)"
    out = []
    for ch in value:
        if ch == '"':
            out.append('\\"')
        elif ch == "\\":
            out.append("\\\\")
        elif ch == "\n":
            out.append("\\n")
        elif ch == "\t":
            out.append("\\t")
        elif ch == "\r":
            out.append("\\r")
        elif ord(ch) < 0x20:
            out.append("\\x%02X" % ord(ch))
        else:
            out.append(ch)
    return '"' + "".join(out) + '"'


class Markup:
    """Writes tags and text, checking each start tag against its parent."""

    def __init__(self, table, rng):
        self.table = table
        self.rng = rng
        self.stack = []
        self.parts = []

    def start(self, name, attrs=""):
        if self.table is not None and self.stack:
            parent = self.table[self.stack[-1]]
            if not parent.allows(name):
                raise ValueError("%s not allowed in %s" % (name, parent.name))
        self.stack.append(name)
        self.parts.append("<%s%s>" % (gen_tavr._spell(self.rng, name), attrs))

    def end(self):
        self.parts.append("</%s>" % gen_tavr._spell(self.rng, self.stack.pop()))

    def element(self, name, text, attrs=""):
        self.start(name, attrs)
        self.text(text)
        self.end()

    def text(self, text):
        self.parts.append(text)

    def raw(self, text):
        self.parts.append(text)

    def value(self):
        return "".join(self.parts)


class Entry:
    def __init__(self, kind, title=None, engtitle=None, module=None, docno=None, comment=None):
        self.kind = kind
        self.title = title
        self.engtitle = engtitle
        self.module = module
        self.docno = docno
        self.comment = comment
        self.children = []

    def lines(self, level):
        flags = 8 if self.comment is not None else 0
        yield "entry %d %s flags=%d title=%s engtitle=%s module=%s docno=%s comment=%s" % (
            level, self.kind, flags, quote(self.title), quote(self.engtitle), quote(self.module),
            quote(self.docno), quote(self.comment))
        for child in self.children:
            yield from child.lines(level + 1)


class Builder:
    def __init__(self, rng, table):
        self.rng = rng
        self.m = Markup(table, rng)

    def words(self, low=1, high=4):
        return " ".join(self.rng.choice(WORDS) for _ in range(self.rng.randint(low, high)))

    def column(self):
        """(raw, expanded) text of a number or comment column."""
        raw, expanded = self.rng.choice(REFERENCES)
        word = self.rng.choice(["1/155 19-ABC 1", "A", "note"])
        return word + " " + raw + "x", word + " " + expanded + "x"

    def row(self, kind, m):
        e = Entry(kind)
        cells = self.rng.randint(1, 4)
        m.start("ROW")
        for i in range(cells):
            m.start("ENTRY")
            if i == 0:
                e.title = self.words()
                m.text(e.title)
                if self.rng.random() < 0.3:
                    e.engtitle = self.words()
                    m.element("LITERAL", e.engtitle)
            elif i == 1:
                raw, e.docno = self.column()
                m.text(raw)
            elif i == 2 and self.rng.random() < 0.7:
                raw, e.comment = self.column()
                m.text(raw)
            elif i == 3:
                m.text(self.words())
            m.end()
        m.end()
        return e

    def table(self, out):
        m = self.m
        m.start("TABLE")
        m.start("TGROUP", ' COLS="3"')
        if self.rng.random() < 0.5:
            m.start("THEAD")
            for _ in range(self.rng.randint(1, 2)):
                out.append(self.row("DOCHEAD", m))
            m.end()
        m.start("TBODY")
        for _ in range(self.rng.randint(0, 4)):
            out.append(self.row("DOCUMENT", m))
        m.end()
        out.append(Entry("SEPARATOR"))
        m.end()
        m.end()
        self.m.raw("\n")

    def block(self, out):
        m = self.m
        choice = self.rng.random()
        if choice < 0.3:
            e = Entry("PARA", title=self.words())
            m.element("P", e.title)
            out.append(e)
        elif choice < 0.45:
            e = Entry("XMP", title="  " + self.words())
            m.start("EXAMPLE")
            m.element("PREFORM", e.title)
            m.end()
            out.append(e)
        elif choice < 0.55:
            m.raw("<!-- %s -->" % self.words())
        elif choice < 0.6:
            # Ignored sections vanish; included ones read as if unmarked.
            m.raw("<![ IGNORE [<P>%s</P>]]>" % self.words())
        elif choice < 0.65:
            e = Entry("PARA", title=self.words())
            m.raw("<![ INCLUDE [<P>%s</P>]]>" % e.title)
            out.append(e)
        else:
            self.table(out)
        m.raw("\n")

    def heading(self, level, out):
        m = self.m
        role = self.rng.choice(ROLES + [None, None])
        e = Entry("HEADING", module=role)
        attr = self.rng.choice(["ROLE", "role"])
        m.start("CHL%d" % level, ' %s="%s"' % (attr, role) if role else "")
        e.title = self.words()
        m.element("TITLE", e.title)
        m.raw("\n")
        children = []
        for _ in range(self.rng.randint(0, 3)):
            self.block(children)
        if level < 5:
            for _ in range(self.rng.randint(0, 2 if level < 3 else 1)):
                self.heading(level + 1, children)
        m.end()
        m.raw("\n")
        if role is None or role.upper() not in HIDING_ROLES:
            e.children = children
        out.append(e)

    def body(self, out, rows=None):
        if rows is not None:
            self.big_table(out, rows)
            return
        for _ in range(self.rng.randint(1, 3)):
            self.block(out)
        for _ in range(self.rng.randint(0, 3)):
            self.heading(1, out)
        if not out:
            e = Entry("PARA", title="last")
            self.m.element("P", "last")
            out.append(e)

    def open_table_body(self, cols):
        """TABLE, TGROUP and TBODY opened; three end() calls close them."""
        m = self.m
        m.start("TABLE")
        m.start("TGROUP", ' COLS="%d"' % cols)
        m.start("TBODY")
        m.raw("\n")

    def big_table(self, out, rows):
        m = self.m
        self.open_table_body(2)
        for i in range(rows):
            e = Entry("DOCUMENT", title="Row %d" % i, docno="1/155 19-ABC %d" % i)
            m.start("ROW")
            m.element("ENTRY", e.title)
            m.element("ENTRY", e.docno)
            m.end()
            m.raw("\n")
            out.append(e)
        m.end()
        m.end()
        m.end()
        out.append(Entry("SEPARATOR"))

    def document_list(self, out, rows):
        """One row per (title, engtitle, number): title with its English
        title as LITERAL, number, empty comment."""
        m = self.m
        self.open_table_body(3)
        for title, engtitle, number in rows:
            out.append(Entry("DOCUMENT", title=title, engtitle=engtitle if title is not None else None,
                             docno=number))
            m.start("ROW")
            m.start("ENTRY")
            if title is not None:
                m.text(title)
                if engtitle is not None:
                    m.element("LITERAL", engtitle)
            m.end()
            m.element("ENTRY", number or "")
            m.element("ENTRY", "")
            m.end()
            m.raw("\n")
        m.end()
        m.end()
        m.end()
        m.raw("\n")
        out.append(Entry("SEPARATOR"))


class Document:
    def __init__(self, head, body, tail, meta_lines, entries):
        self.head, self.body, self.tail = head, body, tail
        self.meta_lines = meta_lines
        self.entries = entries

    @property
    def markup(self):
        return (self.head + self.body + self.tail).encode("latin-1")

    @property
    def dump(self):
        lines = list(self.meta_lines)
        for e in self.entries:
            lines.extend(e.lines(1))
        return ("\n".join(lines) + "\n").encode("latin-1")


def _meta(b, lines):
    """META-DATA markup; appends the meta-data and person dump lines."""
    rng, m = b.rng, b.m
    lang = rng.choice(LANGS + [None])
    docno = "1/1553-ABC 901 %02d U%s" % (rng.randint(0, 99), rng.choice(["en", "sv"]))
    vals = {"docno": docno, "docrev": rng.choice(["A", "B", "PA1"]), "datey": "2003", "datem": "04",
            "dated": "%02d" % rng.randint(1, 28), "title": b.words(), "subtitle": rng.choice([None, b.words()]),
            "userinfo": rng.choice([None, "Zone list"])}
    m.start("META-DATA")
    m.raw("\n")
    m.start("DOC-ID")
    m.element("DOC-NO", docno)
    if lang:
        m.raw('<LANGUAGE CODE="%s">' % lang.lower())
    m.element("REV", vals["docrev"])
    m.start("DATE")
    for part in ("Y", "M", "D"):
        m.element(part, vals["date" + part.lower()])
    m.end()
    m.end()
    m.raw("\n")
    m.element("TITLE", vals["title"])
    if vals["subtitle"]:
        m.element("SUBTITLE", vals["subtitle"])
    m.element("USER-INFO", vals["userinfo"] or "", ' ID="v2.2"')
    person = rng.random() < 0.5
    if person:
        name, sig = rng.choice(["John Smith", "Anna Berg"]), "JSM"
        m.start("DRAFTED-BY")
        m.start("PERSON")
        m.element("NAME", name)
        m.element("SIGNATURE", sig)
        m.element("LOCATION", "AB")
        m.element("COMPANY", "CD")
        m.element("DEPARTMENT", "EF/GH")
        m.end()
        m.end()
    m.raw("\n")
    m.end()
    m.raw("\n")
    number = LANG_NUMBER[lang] if lang else (3 if docno.endswith("Uen") else 14)
    lines.append("language=%d" % number)
    for member in ("sdiVersion", "source", "docno", "docrev", "datey", "datem", "dated", "title", "subtitle",
                   "userinfo", "partof", "copyright", "disclaimer", "trademark", "lti", "lid", "lrs"):
        value = "v2.2" if member == "sdiVersion" else vals.get(member)
        lines.append("%s=%s" % (member, quote(value)))
    if person:
        lines.append("person drafted_by flags=0 name=%s signature=\"JSM\" initials=(null) address=internal "
                     "location=\"AB\" company=\"CD\" department=\"EF/GH\" phone=notset" % quote(name))
    else:
        lines.append("person drafted_by (null)")
    lines.extend("person %s (null)" % s for s in ("checked_by", "factual_supervisor", "approved_by"))


def _document(rng, table, write_body):
    """A document whose body write_body(builder, entries) writes."""
    b = Builder(rng, table)
    m = b.m
    lines = []
    m.raw(DOCTYPE)
    m.raw("<!-- Document list -->\n")
    m.start("TAVR")
    m.raw("\n")
    _meta(b, lines)
    m.start("BODY")
    head = m.value()
    m.parts = ["\n"]
    entries = []
    write_body(b, entries)
    body = m.value()
    m.parts = []
    m.end()
    m.raw("\n")
    m.end()
    m.raw("\n")
    return Document(head, body, m.value(), lines, entries)


def build(rng, table, rows=None):
    """One document; with rows, its body is one table of that many rows."""
    return _document(rng, table, lambda b, out: b.body(out, rows))


def build_list(rng, rows, table=None):
    """A document list whose body is one table of rows (title, engtitle,
    number); a title or number of None leaves its cell empty. Texts are
    written as given, so they must hold no markup."""
    return _document(rng, table, lambda b, out: b.document_list(out, rows))


def join_parts(parts):
    """Part 1 through its BODY start tag, each part's body, then the end."""
    joined = Document(parts[0].head, "".join(p.body for p in parts), "</body>\n</tavr>\n", parts[0].meta_lines,
                      [e for p in parts for e in p.entries])
    return joined

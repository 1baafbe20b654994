"""Reading results pages for the end-to-end tests: a small element tree
built with html.parser, the parts of the page the tests compare, and the
qx_oracle case made from the commands and replies a recording relay saw.
"""

import fnmatch
import html.parser
import urllib.parse

import qx_oracle

VOID = {"img", "br", "hr", "input", "meta", "link", "area", "base", "col", "param", "source", "wbr"}

# Index member -> the search type its hits are marked with.
INDEX_TYPES = {"fulltext.qxx": 128, "docno.qxx": 256, "topictitle.qxx": 512, "title.qxx": 2048,
               "ctw.qxx": 4096, "folder.qxx": 16384}
OST_KEYWORD_LOGICAL = 1024
OST_CTW = 4096


class Node:
    def __init__(self, tag, attrs, parent):
        self.tag = tag
        self.attrs = dict(attrs)
        self.parent = parent
        self.children = []  # Nodes and strings

    def text(self):
        return "".join(c if isinstance(c, str) else c.text() for c in self.children)

    def walk(self):
        for c in self.children:
            if isinstance(c, Node):
                yield c
                yield from c.walk()

    def find_all(self, tag, **attrs):
        return [n for n in self.walk() if n.tag == tag and all(n.attrs.get(k) == v for k, v in attrs.items())]

    def find(self, tag, **attrs):
        found = self.find_all(tag, **attrs)
        return found[0] if found else None

    def ancestor(self, tag):
        n = self.parent
        while n is not None and n.tag != tag:
            n = n.parent
        return n


class TreeBuilder(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.root = Node("#document", {}, None)
        self.current = self.root

    def handle_starttag(self, tag, attrs):
        node = Node(tag, attrs, self.current)
        self.current.children.append(node)
        if tag not in VOID:
            self.current = node

    def handle_startendtag(self, tag, attrs):
        self.current.children.append(Node(tag, attrs, self.current))

    def handle_endtag(self, tag):
        n = self.current
        while n is not None and n.tag != tag:
            n = n.parent
        if n is not None and n.parent is not None:
            self.current = n.parent

    def handle_data(self, data):
        self.current.children.append(data)


def parse(page):
    b = TreeBuilder()
    b.feed(page)
    b.close()
    return b.root


# ---- parts of the page

def summary_count(doc):
    """The number of the summary cell, or None."""
    cell = doc.find("td", **{"class": "td_sy"})
    bold = cell.find("b") if cell else None
    return int(bold.text()) if bold else None


def library_table(doc):
    """[(count, title, identity, preliminary)] of the library table's rows."""
    rows = []
    for tr in doc.find_all("tr"):
        cells = [c for c in tr.children if isinstance(c, Node) and c.tag == "td"]
        counts = [c for c in cells if c.attrs.get("align") == "right" and c.attrs.get("class") in ("c4", "c3")]
        if not counts or len(cells) < 3:
            continue
        count_cell = counts[0]
        if not count_cell.text().split() or not count_cell.text().split()[0].isdigit():
            continue  # the head row
        rest = cells[cells.index(count_cell) + 1:]
        if len(rest) < 2:
            continue
        title_cell, id_cell = rest[0], rest[1]
        title = "".join(s.text() for s in title_cell.find_all("span") if s.attrs.get("class") in ("a2", "a3")
                        and "[Preliminary]" not in s.text())
        rows.append((int(count_cell.text().split()[0]), title.replace("\xa0", " ").strip(),
                     id_cell.text().strip(), "[Preliminary]" in title_cell.text()))
    return rows


def link_target(a):
    """The query of a document link (href, or the inert link's name), parsed."""
    value = a.attrs.get("href") or ""
    if "FN=" not in value:
        value = a.attrs.get("name") or ""
    if "FN=" not in value:
        return None
    query = value.split("?", 1)[1] if "?" in value else value
    return urllib.parse.parse_qs(query.split("#", 1)[0], keep_blank_values=True)


def document_rows(doc):
    """[(library id or None, DB or None, member)] of the rows in page order."""
    out = []
    for cell in doc.find_all("td", **{"class": "tdT"}):
        for a in cell.find_all("a"):
            q = link_target(a)
            if q is not None:
                out.append((q.get("ID", [None])[0], q.get("DB", [None])[0], q["FN"][0]))
                break
    return out


def script_vars(doc):
    """{name: value text} of the 'var name = value;' statements of the page's scripts."""
    out = {}
    for s in doc.find_all("script"):
        for statement in s.text().replace("\n", ";").split(";"):
            statement = statement.strip()
            if statement.startswith("var ") and "=" in statement:
                name, value = statement[4:].split("=", 1)
                out[name.strip()] = value.strip().strip("'\"")
    return out


# ---- the oracle case from the relay's log

def reply_fields(line):
    """The words of a reply line, quoted ones unquoted (\\" read as ")."""
    words, i, n = [], 0, len(line)
    while i < n:
        while i < n and line[i] in " \t":
            i += 1
        if i >= n:
            break
        if line[i] == '"':
            i += 1
            word = ""
            while i < n and line[i] != '"':
                if line[i] == "\\" and i + 1 < n and line[i + 1] == '"':
                    i += 1
                word += line[i]
                i += 1
            i += 1
        elif line[i] == "[":
            end = line.index("]", i)
            word = line[i:end + 1]
            i = end + 1
        else:
            word = ""
            while i < n and line[i] not in " \t":
                word += line[i]
                i += 1
        words.append(word)
    return words


def catchword_hit(comment, pattern):
    """The loop's mark: the CTW: word matches an alternative of the pattern,
    unless TITLE: comes first."""
    alternatives = [a.replace('"', "").upper().strip() for a in pattern.split("|")]
    words = qx_oracle.tokens(comment)
    for k, w in enumerate(words):
        if w == "TITLE:":
            return False
        if w == "CTW:":
            if k + 1 >= len(words):
                return False
            word = words[k + 1].upper()
            return any(fnmatch.fnmatchcase(word, a) for a in alternatives if a)
    return False


def relay_entries(relay):
    """The joined hit list the search loop made from the relay's QXSRCH
    exchanges (replies without a hit or count left out)."""
    entries = []
    for command, reply in relay.exchanges():
        if not command.upper().startswith("QXSRCH "):
            continue
        args = reply_fields(command[len("QXSRCH "):])
        pattern, index = args[0], args[2].lower()
        found = []
        for line in reply:
            code = line[:3]
            words = reply_fields(line[4:])
            if code == "300" and line[3] == " ":
                comment = words[6] if len(words) > 6 else ""
                stype = INDEX_TYPES[index]
                kwd, topic = 2, 2
                if index == "ctw.qxx":
                    ctw = catchword_hit(comment, pattern)
                    stype, kwd = (OST_CTW, 0) if ctw else (OST_KEYWORD_LOGICAL, 1)
                if index == "topictitle.qxx":
                    topic = 1
                found.append({"ID": words[1], "filename": words[2], "comment": comment, "hit": 1,
                              "actualHits": 0, "searchType": stype, "isKwd": kwd, "isTopic": topic,
                              "keyword": words[5][1:-1] or None})
            elif code in ("348", "349"):
                found.append({"ID": words[2], "filename": "", "comment": "", "hit": 0,
                              "actualHits": int(words[3]) if code == "348" else 0,
                              "searchType": INDEX_TYPES[index], "isKwd": 2, "isTopic": 2, "keyword": None})
        if any(e["filename"] or e["actualHits"] for e in found):
            entries += found
    return entries


def relay_titles(relay):
    """{library id: comment} from the MLLIST replies of single libraries."""
    titles = {}
    for command, reply in relay.exchanges():
        if not command.upper().startswith("MLLIST "):
            continue
        for line in reply:
            if line.startswith("300   DB "):
                words = reply_fields(line[len("300   DB "):])
                titles[words[2].split("|")[1]] = words[6] if len(words) > 7 else ""
    return titles


def full_text_rows(entries, is_sorted):
    """The entries that write rows after the full-text duplicate removal:
    an entry stays when its type is at least every earlier one of its
    (library, file name); sorted, only the key's highest stay."""
    rows, best = [], {}
    for e in entries:
        if not e["filename"] or not e["hit"]:
            continue
        key = (e["ID"].lower(), e["filename"])
        if e["searchType"] >= best.get(key, 0):
            rows.append(e)
        best[key] = max(best.get(key, 0), e["searchType"])
    if is_sorted:
        rows = [e for e in rows if e["searchType"] == best[(e["ID"].lower(), e["filename"])]]
    return rows

"""The rows of a library comparison page, read with html.parser.

Usage:
    report_rows.py PAGE.html [--check EXPECTED.json]

Prints {"no_differences": bool, "headers": [section, ...],
"rows": [[section, icon, library, fn, identity], ...]}, the form
sdi_oracle.py writes. A row is a <tr class="b1|b2"> whose first cell holds a
status icon (IM= of its image); library is the ID= or DB= value of the row's
link and fn its FN= value, both null for a row without link; identity is the
second cell's text with its non-breaking space read as a blank. Rows inside a
COD/POD block cell (colspan 3) are document text, not rows, and are skipped.
With --check the exit status is 1 when the page's reading differs from the
file's, and the first differences are printed.
"""

import argparse
import json
import sys
import urllib.parse
from html.parser import HTMLParser

NO_DIFFERENCES = "No differences found !"
ROW_SHADES = ("b1", "b2")


def link_fields(href):
    """The query fields of a qzl:/kivo link, percent-decoded."""
    query = href.split("?", 1)[1] if "?" in href else ""
    fields = {}
    for part in query.split("&"):
        key, _, value = part.partition("=")
        fields.setdefault(key, urllib.parse.unquote(value, encoding="latin-1"))
    return fields


class ReportReader(HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.headers = []
        self.rows = []
        self.no_differences = False
        self.block_tables = None  # table depth inside a block cell, None outside
        self.header_text = None  # text of a section header being read
        self.in_header_cell = False
        self.row = None  # the doc row being read
        self.cell = -1
        self.in_cell = False
        self.bold_text = None

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if self.block_tables is not None:
            if tag == "table":
                self.block_tables += 1
            return
        if tag == "td" and a.get("colspan") == "3" and (a.get("bgcolor") or "").lstrip("#") == "fcfcfc" \
                and self.row is None:
            self.block_tables = 0
            return
        if tag == "tr":
            self.row = {"icon": None, "href": None, "identity": ""} if a.get("class") in ROW_SHADES else None
            self.cell = -1
        elif tag == "td":
            if self.row is not None:
                self.cell += 1
                self.in_cell = True
            self.in_header_cell = a.get("colspan") == "4" and a.get("class") == "c4"
        elif tag == "b":
            self.bold_text = ""
        elif self.row is not None and self.cell == 0:
            if tag == "img" and self.row["icon"] is None:
                fields = link_fields(a.get("src") or "")
                if fields.get("IM", "").isdigit():
                    self.row["icon"] = int(fields["IM"])
            elif tag == "a" and self.row["href"] is None:
                self.row["href"] = a.get("href") or ""

    def handle_endtag(self, tag):
        if self.block_tables is not None:
            if tag == "table":
                self.block_tables -= 1
            elif tag == "td" and self.block_tables <= 0:
                self.block_tables = None
            return
        if tag == "b" and self.bold_text is not None:
            text = self.bold_text.replace("\xa0", " ").strip()
            if self.in_header_cell:
                self.headers.append(text)
            elif text == NO_DIFFERENCES:
                self.no_differences = True
            self.bold_text = None
        elif tag == "td":
            self.in_header_cell = False
            if self.row is not None:
                self.in_cell = False
        elif tag == "tr" and self.row is not None:
            self.finish_row()

    def handle_data(self, data):
        if self.block_tables is not None:
            return
        if self.bold_text is not None:
            self.bold_text += data
        if self.row is not None and self.cell == 1 and self.in_cell:
            self.row["identity"] += data

    def finish_row(self):
        row, self.row = self.row, None
        if row["icon"] is None:
            return
        library = fn = None
        if row["href"] is not None:
            fields = link_fields(row["href"])
            library = fields.get("ID", fields.get("DB"))
            fn = fields.get("FN")
        section = self.headers[-1] if self.headers else None
        self.rows.append([section, row["icon"], library, fn, row["identity"].replace("\xa0", " ")])

    def result(self):
        return {"no_differences": self.no_differences, "headers": self.headers, "rows": self.rows}


def read_page(path):
    with open(path, "rb") as f:
        text = f.read().decode("latin-1")
    reader = ReportReader()
    reader.feed(text)
    reader.close()
    return reader.result()


def differences(got, want, most=5):
    """Lines naming where two readings part."""
    out = []
    for key in ("no_differences", "headers"):
        if got.get(key) != want.get(key):
            out.append("%s: page %s, expected %s" % (key, json.dumps(got.get(key)), json.dumps(want.get(key))))
    g, w = got.get("rows", []), want.get("rows", [])
    if len(g) != len(w):
        out.append("rows: page %d, expected %d" % (len(g), len(w)))
    for i in range(max(len(g), len(w))):
        a = g[i] if i < len(g) else None
        b = w[i] if i < len(w) else None
        if a != b:
            out.append("row %d: page %s, expected %s" % (i, json.dumps(a), json.dumps(b)))
            if len(out) >= most + 3:
                break
    return out


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("page")
    ap.add_argument("--check", metavar="EXPECTED")
    args = ap.parse_args(argv)
    got = read_page(args.page)
    if args.check:
        with open(args.check, encoding="utf-8") as f:
            want = json.load(f)
        diff = differences(got, want)
        for line in diff:
            print(line)
        return 1 if diff else 0
    json.dump(got, sys.stdout, indent=1)
    sys.stdout.write("\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

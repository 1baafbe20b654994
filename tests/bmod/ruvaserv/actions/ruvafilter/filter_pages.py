"""Fixture pages of the print filter's python checks.

Each page: its name, its bytes, and the lines a reader sees on paper (the
title, the page's lines, "Page n of N" per page), as str. A4 gives 66
lines a page, Letter 61.
"""

ROWS = {"A4": 66, "US": 61}


def printed(title, body, rows=ROWS["A4"]):
    """Lines as printed: per page the title, its rows and the footer."""
    pages = [body[i:i + rows] for i in range(0, len(body), rows)] or [[]]
    out = []
    for n, rows_of_page in enumerate(pages, 1):
        if title:
            out.append(title)
        out.extend(rows_of_page)
        out.append("Page %d of %d" % (n, len(pages)))
    return out


def _basic():
    html = (b'<html><head><meta http-equiv="Content-Type" content="text/html; charset=iso-8859-1">'
            b'<title>Sample &amp; Test</title><style>p { color: red }</style></head>\n'
            b'<body><h1>Heading One</h1><p>Hello <b>bold</b> world caf\xe9 &eacute; &lt;x&gt; &bogus; end.</p>\n'
            b'<ul><li>first</li><li>second</li></ul>'
            b'<table><tr><th>A</th><th>B</th></tr><tr><td>1</td><td>2</td></tr></table>\n'
            b'<pre>\n  x = 1;\n\ty = 2;\n</pre><hr><img src="p.gif" alt="picture one">'
            b'<script>document.write("never")</script><!-- hidden --></body></html>\n')
    body = ["Heading One", "Hello bold world caf\u00e9 \u00e9 <x> &bogus; end.", "- first", "- second",
            "A  B", "1  2", "  x = 1;", "        y = 2;", "-" * 96, "[picture one]"]
    return html, printed("Sample & Test", body)


def _utf8():
    html = ('<?xml version="1.0" encoding="UTF-8"?><html><head><title>Caf\u00e9</title></head><body>'
            '<p>\u00e9t\u00e9 \u2018quoted\u2019</p><pre>\u250c\u2500\u2510\n\u2514\u2500\u2518</pre>'
            '<p>\u65e5\u672c</p></body></html>').encode("utf-8")
    body = ["\u00e9t\u00e9 ?quoted?", "/-\\", "\\-/", "??"]
    return html, printed("Caf\u00e9", body)


def _eucjp():
    html = (b'<html><head><meta http-equiv="Content-Type" content="text/html; charset=EUC-JP">'
            b'<title>Uja ' + "\u65e5\u672c\u8a9e".encode("euc_jp") + b'</title></head><body><p>Uja '
            + "\u3042\u3044".encode("euc_jp") + b' end</p></body></html>')
    return html, printed("Uja ???", ["Uja ?? end"])


def _line_bytes():
    html = b"<p>box \x88\x87\x81 \x80 \x8a\x87\x89 \x82\x83 \x84\x85\x86</p>"
    return html, printed("", ["box +-+ | /-/ \\\\ --+"])


def _multipage():
    body = ["line %d" % i for i in range(1, 151)]
    html = ("<title>Long</title>" + "".join("<p>%s</p>" % b for b in body)).encode()
    return html, printed("Long", body)


def _long_word():
    word = "w" * 250
    html = ("<p>short words " + word + "</p>").encode()
    return html, printed("", ["short words", word[:96], word[96:192], word[192:]])


PAGES = [
    ("basic", *_basic()),
    ("utf8", *_utf8()),
    ("eucjp", *_eucjp()),
    ("line_bytes", *_line_bytes()),
    ("multipage", *_multipage()),
    ("long_word", *_long_word()),
]

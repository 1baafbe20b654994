#!/usr/bin/env python3
"""Search words and phrases on a document page in Chromium, served by
lighttpd, kivoserv and ruvadaemon over the page-library fixture
($PAGE_LIBRARIES): the marked hits against a python count written from the
delimiter rule, their highlight and anchors, the jump to the first hit, a
phrase across a line end and a no-break space, and the redirection to a
chapter. Each page leaves a screenshot in $RUVA_ARTIFACTS."""

import html.parser
import json
import re
import unittest
import urllib.parse

import kivoserv_postprocess_e2e_test as pp
import kivoserv_viewer_e2e_test as viewer
import make_page_libraries as pages

HIGHLIGHT = "rgb(255, 238, 170)"
BODY_MARK = "<!--@BODY-->"


def is_delimiter(c):
    """Everything but ASCII letters, digits, '#', '-' and '_' ends a word."""
    return not (c.isascii() and (c.isalnum() or c in "#-_"))


class TextPieces(html.parser.HTMLParser):
    """The text of a page outside tags, attribute values, scripts and the
    title, in pieces: a tag or an entity between two pieces ends a word."""

    def __init__(self):
        super().__init__(convert_charrefs=False)
        self.pieces = []
        self.skip = 0

    def handle_starttag(self, tag, attrs):
        if tag in ("script", "title", "style"):
            self.skip += 1

    def handle_endtag(self, tag):
        if tag in ("script", "title", "style") and self.skip:
            self.skip -= 1

    def handle_data(self, data):
        if not self.skip:
            self.pieces.append(data)


def reference_hits(page, word):
    """Hits of a plain word in the body text: case-blind, a delimiter (or a
    piece's end) on both sides."""
    parser = TextPieces()
    parser.feed(page[page.index(BODY_MARK) + len(BODY_MARK):])
    parser.close()
    count = 0
    for piece in parser.pieces:
        upper = piece.upper()
        for m in re.finditer(re.escape(word.upper()), upper):
            before = upper[m.start() - 1] if m.start() else " "
            after = upper[m.end()] if m.end() < len(upper) else " "
            count += is_delimiter(before) and is_delimiter(after)
    return count


# Per SearchMatch anchor in document order: whether it lies in a script, and
# the highlighted word: the anchor's own text under a highlighted element,
# or, for an empty anchor, the first highlighted element after it and
# before the next anchor.
MARKS = """(() => {
  const hl = %s, out = [];
  const lit = e => getComputedStyle(e).backgroundColor === hl;
  const anchors = [...document.querySelectorAll('a[name^=SearchMatch]')];
  for (const a of anchors) {
    let text = null;
    if (a.textContent) {
      for (let e = a; e && e !== document.body; e = e.parentElement) if (lit(e)) { text = a.textContent; break; }
    } else {
      const walker = document.createTreeWalker(document.body, NodeFilter.SHOW_ELEMENT);
      walker.currentNode = a;
      for (let e = walker.nextNode(); e && !anchors.includes(e); e = walker.nextNode())
        if (lit(e)) { text = e.textContent; break; }
    }
    out.push({name: a.name, inScript: !!a.closest('script'), text: text});
  }
  return out;
})()""" % json.dumps(HIGHLIGHT)

# The text of the highlighted elements, white space and no-break spaces as
# one blank.
HIGHLIGHTED = """[...document.body.querySelectorAll('*')]
  .filter(e => getComputedStyle(e).backgroundColor === %s)
  .map(e => e.textContent).join(' ').replace(/[\\s\\u00a0]+/g, ' ').trim()""" % json.dumps(HIGHLIGHT)


class SearchInBrowser(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        viewer.start_viewer(cls)
        with open(viewer.page_libraries("members", pages.DOCUMENT), "rb") as f:
            cls.page = f.read().decode("latin-1")

    @classmethod
    def tearDownClass(cls):
        viewer.stop_viewer(cls)

    def tearDown(self):
        self.web.check_logs()

    def document_query(self, extra):
        return "AC=LINK&ID=%s&FN=%s&%s" % (self.library_id, pages.DOCUMENT, extra)

    def test_word_hits_are_marked_and_reached(self):
        b = self.browser
        errors = b.open(self.web.url(self.document_query("PA=%s&ST=ADVSEARCH" % pages.SEARCH_WORD)))
        marks = b.eval(MARKS)
        b.screenshot(self.id())
        self.assertEqual(errors, [])
        want = reference_hits(self.page, pages.SEARCH_WORD)
        self.assertGreater(want, 0)
        self.assertEqual([m["name"] for m in marks], ["SearchMatch%d" % n for n in range(1, want + 1)])
        for m in marks:
            with self.subTest(anchor=m["name"]):
                self.assertFalse(m["inScript"])
                self.assertEqual((m["text"] or "").lower(), pages.SEARCH_WORD)

        self.assertEqual(b.eval("window.scrollY"), 0)
        b.eval("location.hash = '#SearchMatch1'")
        self.assertTrue(viewer.wait_for(b, "window.scrollY > 0"))
        self.assertTrue(b.eval("(() => { const r = document.getElementsByName('SearchMatch1')[0]"
                               ".getBoundingClientRect(); return r.top >= 0 && r.top < innerHeight; })()"))
        b.screenshot(self.id() + "_first")

    def test_phrase_across_line_end_and_no_break_space(self):
        b = self.browser
        errors = b.open(self.web.url(self.document_query("PA=%22two%20words%22&ST=ADVSEARCH")))
        shown = b.eval(HIGHLIGHTED)
        b.screenshot(self.id())
        self.assertEqual(errors, [])
        self.assertEqual(re.sub(r"(two words ?)+", "two words", shown).strip(), "two words")
        self.assertEqual(b.eval("document.querySelectorAll('a[name^=SearchMatch]').length"), 2)

    def test_chapter_redirect_lands_on_the_file(self):
        b = self.browser
        b.open(self.web.url(self.document_query("CH=2.3")))
        landed = b.eval("location.href")
        parts = urllib.parse.urlsplit(landed)
        fields = urllib.parse.parse_qsl(parts.query, keep_blank_values=True)
        names = [n for n, _ in fields]
        self.assertEqual(parts.fragment, "2.3", landed)
        self.assertTrue(landed.endswith("#2.3"), landed)
        self.assertEqual(dict(fields).get("ID"), self.library_id)
        self.assertEqual(dict(fields).get("FN", "").lower(), pages.DOCUMENT.lower())
        self.assertEqual(dict(fields).get("AC"), "LINK")
        self.assertFalse([n for n in names if n.startswith("amp;") or not n], names)
        self.assertNotIn("CH", names)
        self.assertEqual(pp.header_types([b.eval("document.contentType")]), ["text/html"])


if __name__ == "__main__":
    unittest.main()

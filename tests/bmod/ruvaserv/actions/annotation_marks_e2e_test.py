#!/usr/bin/env python3
"""Annotations woven into a served document, under lighttpd with kivoserv
and the real ruvadaemon over the page-library fixture ($PAGE_LIBRARIES/lib,
guide.kvo): icons and boxes at the annotated chapter headings of
1551-ABC10101Uen.A.html, and the page outside them as it is served with no
annot.anx."""

import os
import re
import unittest
import urllib.parse

import annotation_records as ar
import daemon_harness
import kivoserv_answers as answers
import web_harness as wh
from annotation_action_e2e_test import Elements

DOC = "1551-ABC10101Uen.A.html"
HOSTILE = ["<img src=x onerror=window.__x=1>", "\"'><script>window.__x=1</script>",
           "</textarea><script>window.__x=1</script>", "x\");window.__x=1;//", "&lt;b&gt;", "&#8364;", "a & b"]
BOX_TAGS = {"table", "tr", "td", "b", "font", "i", "input"}
EDIT_HANDLER = re.compile(r'^javascript:openAnEd\("[^"\\]*"\)$')

MARK = re.compile(
    r'(?P<icon><a href="[^"]*?FN=[^"]*?&amp;AN=(?P<ref>[^"]*)"><img src="[^"]*AC=TBIMG&amp;IM=1"[^>]*/></a>)'
    r'|(?P<box><table width="100%" cellspacing="0" cellpadding="4" style="background-color: #fffce9;'
    r'.*?<b>(?P<header>[^<]*)</b>.*?</table>\n)'
    r'|(?P<script><script type="text/javascript">\n<!--\nvar kvTexts.*?</script>\n)', re.S)
ANCHOR = re.compile(r'name="((?:CHAPTER|TITLE)[0-9.]*)"')


def page_libraries(*parts):
    return os.path.join(os.environ["PAGE_LIBRARIES"], *parts)


def marks(page):
    """The marks in page, each "<chapter anchor before it>: <what>", and the
    page without them."""
    found, rest, at = [], [], 0
    for m in MARK.finditer(page):
        anchors = ANCHOR.findall(page, 0, m.start())
        where = anchors[-1] if anchors else "head"
        if m.group("icon"):
            what = "icon " + m.group("ref")
        elif m.group("box"):
            what = "box " + m.group("header")
        else:
            what = "openAnEd script"
        found.append("%s: %s" % (where, what))
        rest.append(page[at:m.start()])
        at = m.end()
    rest.append(page[at:])
    return found, "".join(rest)


def note(chapter):
    return (ar.member_name(DOC, chapter), ar.record(header="H" + chapter, text="Note " + chapter, chapter=chapter))


def served_page(test, d, library_name, document, members, conf_lines=(), **fields):
    """The document page served by d (a daemon not yet started, stopped
    here) with annot.anx holding members (None: no archive). Each case has
    its own servers: the port and the library's hash id become HOST and LIB."""
    if members is not None:
        ar.install(d, members)
    d.start()
    try:
        with wh.WebServer(daemon=d, conf_lines=conf_lines, env={"TZ": "UTC"}) as web:
            library = daemon_harness.mllist_entry(d.port, library_name)[0]
            query = dict(AC="LINK", ID=library, FN=document, **fields)
            status, _, body = web.request("GET", urllib.parse.urlencode(query))
            web.check_logs()
    finally:
        d.stop()
        d.cleanup()
    test.assertEqual(status, 200)
    test.assertIsNone(answers.error_message(body), body[:2000])
    page = body.decode("latin-1").replace("127.0.0.1:%d" % web.port, "HOST")
    return re.sub(r"\b%s\b" % re.escape(library), "LIB", page)


class AnnotationMarks(unittest.TestCase):
    maxDiff = None

    def document(self, members, conf_lines=(), **fields):
        """The document page as served with annot.anx holding members (None:
        no archive)."""
        d = daemon_harness.Daemon(lib=page_libraries("lib"), start=False)
        return served_page(self, d, "guide.kvo", DOC, members, conf_lines, **fields)

    def test_marks_at_the_annotated_headings(self):
        # The page's own address carries AN: each is compared with the page
        # asked for alike with no annot.anx.
        plain = {an: self.document(None, **({"AN": an} if an else {})) for an in ("", "3", "ALL")}
        for page in plain.values():
            self.assertEqual(marks(page)[0], [])
        cases = [
            ("members 1 and 3", [note("3"), note("1")], {},
             ["head: openAnEd script", "CHAPTER1: icon 1#CHAPTER1", "CHAPTER3: icon 3#CHAPTER3"]),
            ("AN=3", [note("1"), note("3")], {"AN": "3"},
             ["head: openAnEd script", "CHAPTER1: icon 1#CHAPTER1", "CHAPTER3: box H3"]),
            ("AN=ALL", [note("1"), note("3")], {"AN": "ALL"},
             ["head: openAnEd script", "CHAPTER1: box H1", "CHAPTER3: box H3"]),
            # No heading carries 2.99: it hides nothing after it.
            ("members 1, 2.99 and 3", [note("1"), note("2.99"), note("3")], {},
             ["head: openAnEd script", "CHAPTER1: icon 1#CHAPTER1", "CHAPTER3: icon 3#CHAPTER3"]),
        ]
        for name, members, fields, expected in cases:
            with self.subTest(name):
                found, rest = marks(self.document(members, **fields))
                self.assertEqual(found, expected)
                self.assertEqual(rest, plain[fields.get("AN", "")])

    def test_stored_values_stay_text_in_the_boxes(self):
        fields = ("header", "user", "text", "chapter", "docrev")
        members = []
        for c in range(3):
            values = {f: HOSTILE[(c * len(fields) + i) % len(HOSTILE)] for i, f in enumerate(fields)}
            members.append((ar.member_name(DOC, str(c + 1)), ar.record(**values)))
        page = self.document(members, AN="ALL")
        found, rest = marks(page)
        self.assertEqual([m.split(":")[0] for m in found], ["head", "CHAPTER1", "CHAPTER2", "CHAPTER3"])
        self.assertEqual(rest, self.document(None, AN="ALL"))
        text = ""
        for m in MARK.finditer(page):
            if not m.group("box"):
                continue
            p = Elements()
            p.feed(m.group("box"))
            p.close()
            text += p.text
            self.assertLessEqual({tag for tag, _ in p.tags}, BOX_TAGS)
            for tag, attrs in p.tags:
                for name, value in attrs.items():
                    if name.startswith("on"):
                        self.assertRegex(value, EDIT_HANDLER, (tag, name))
        for value in ("<img src=x onerror=window.__x=1>", "</textarea><script>window.__x=1</script>",
                      "<b>", "\u20ac", "a & b"):
            self.assertIn(value, text)

    def test_an_empty_archive_marks_nothing(self):
        page = self.document([])
        self.assertEqual(marks(page)[0], [])

    def test_use_annotation_off_marks_nothing(self):
        members = [note("1"), note("3")]
        self.assertEqual(marks(self.document(members, conf_lines=["UseAnnotation No"]))[0], [])
        self.assertEqual(marks(self.document(members, conf_lines=["UseAnnotation No"], AN="ALL"))[0], [])


if __name__ == "__main__":
    unittest.main()

#!/usr/bin/env python3
"""The listdb and cmplistdb markers on a served library page, through
lighttpd and kivoserv against ruvadaemon, over one folder that holds the
hostile libraries of make_action_libraries.py (comments with '&', an img
element and a marker naming a listening test socket P; a name with '&' and
'#'), the same shape with plain text, and 60 libraries with 380-character
comments. Hostile text stays text: the same elements as for plain text,
hrefs and option values decode to the exact names, P gets no connection,
and in Chromium nothing runs. The long list is one table of 60 rows.
A screenshot of the page is kept."""

import html.parser
import os
import socket
import unittest
import urllib.parse

import make_action_libraries as mal
from folder_web_case import FolderWebCase

PAGE_LIBRARY = "list.kvo"
HOSTILE = "[aim]*.kvo"  # amp, img, marker, a&b#c; the plain ones begin with p
PLAIN = "p*.kvo"
GROWTH = "g*.kvo"


def list_page():
    body = "\n".join([
        '<div id="hostile">', "<!--@@listdb default %s-->" % HOSTILE, "</div>",
        '<select id="hostile_options">', "<!--@@cmplistdb default %s-->" % HOSTILE, "</select>",
        '<div id="plain">', "<!--@@listdb default %s-->" % PLAIN, "</div>",
        '<select id="plain_options">', "<!--@@cmplistdb default %s-->" % PLAIN, "</select>",
        '<div id="growth">', "<!--@@listdb default %s-->" % GROWTH, "</div>"])
    return mal.html("Lists", body)


def section(page, element_id, end):
    opening = 'id="%s">\n' % element_id
    start = page.index(opening) + len(opening)
    return page[start:page.index("\n" + end, start)]


class Elements(html.parser.HTMLParser):
    """Start tags by name, link targets, option values and each link's text."""

    def __init__(self, text):
        super().__init__(convert_charrefs=True)
        self.counts = {}
        self.hrefs = []
        self.values = []
        self.texts = []
        self._in_a = None
        self.feed(text)
        self.close()

    def handle_starttag(self, tag, attrs):
        self.counts[tag] = self.counts.get(tag, 0) + 1
        attrs = dict(attrs)
        if tag == "a":
            self.hrefs.append(attrs.get("href"))
            self._in_a = ""
        elif tag == "option":
            self.values.append(attrs.get("value"))

    def handle_endtag(self, tag):
        if tag == "a" and self._in_a is not None:
            self.texts.append(self._in_a)
            self._in_a = None

    def handle_data(self, data):
        if self._in_a is not None:
            self._in_a += data


def link_names(hrefs):
    return [urllib.parse.parse_qs(urllib.parse.urlsplit(h).query)["db"][0] for h in hrefs]


class LibraryListPage(FolderWebCase):
    with_browser = True

    @classmethod
    def write_folder(cls, out):
        cls.hostile = mal.hostile_libraries(cls.trap_port)
        cls.plain = [("p" + name, comment, members) for name, comment, members in mal.plain_libraries()]
        folder = os.path.join(out, "lists")
        mal.write_folder(folder, [(PAGE_LIBRARY, "List page", [("index.html", list_page())])] + cls.hostile +
                         cls.plain + mal.GROWTH_LIBRARIES)
        return folder

    @classmethod
    def setUpClass(cls):
        cls.trap = socket.socket()
        cls.trap.bind(("127.0.0.1", 0))
        cls.trap.listen(4)
        cls.trap_port = cls.trap.getsockname()[1]
        try:
            super().setUpClass()
            status, _, body = cls.web.request("GET", "DB=%s&FN=index.html" % PAGE_LIBRARY)
            assert status == 200, status
            cls.page = body.decode("latin-1")
        except BaseException:
            cls.trap.close()
            raise

    @classmethod
    def tearDownClass(cls):
        try:
            super().tearDownClass()
        finally:
            cls.trap.close()

    def test_hostile_rows_have_the_plain_rows_elements(self):
        hostile = Elements(section(self.page, "hostile", "</div>"))
        plain = Elements(section(self.page, "plain", "</div>"))
        self.assertEqual(hostile.counts, plain.counts)
        self.assertEqual(hostile.counts, {"table": 1, "tr": 4, "td": 12, "b": 4, "a": 8})
        hostile_options = Elements(section(self.page, "hostile_options", "</select>"))
        self.assertEqual(hostile_options.counts, Elements(section(self.page, "plain_options", "</select>")).counts)

    def test_names_and_comments_come_back_exactly(self):
        names = sorted(name for name, _, _ in self.hostile)
        comments = sorted(comment for _, comment, _ in self.hostile)
        rows = Elements(section(self.page, "hostile", "</div>"))
        self.assertEqual(sorted(set(link_names(rows.hrefs))), names)
        self.assertEqual(sorted(rows.texts[0::2]), comments)
        self.assertIn("a&b#c", rows.texts[1::2])
        options = Elements(section(self.page, "hostile_options", "</select>"))
        self.assertEqual(sorted(options.values), names)

    def assert_trap_untouched(self):
        self.trap.settimeout(0.3)
        with self.assertRaises(socket.timeout):
            self.trap.accept()[0].close()

    def test_marker_in_a_comment_connects_nowhere(self):
        self.assertIn(":%d x--&gt;" % self.trap_port, self.page)
        self.assert_trap_untouched()

    def test_long_comments_give_one_table_of_sixty_rows(self):
        growth = section(self.page, "growth", "</div>")
        self.assertTrue(growth.startswith('<table width="100%">\n'))
        self.assertTrue(growth.endswith("</table>\n"))
        rows = Elements(growth)
        self.assertEqual(rows.counts["table"], 1)
        self.assertEqual(rows.counts["tr"], mal.GROWTH_COUNT)
        self.assertEqual(rows.texts[0::2], [mal.growth_comment(n) for n in range(mal.GROWTH_COUNT)])

    def test_nothing_runs_in_chromium(self):
        errors = self.browser.open(self.web.url("DB=%s&FN=index.html" % PAGE_LIBRARY))
        self.browser.screenshot(self)
        self.assertEqual(errors, [])
        self.assertEqual(self.browser.eval("typeof window.__pwned"), "undefined")
        self.assertEqual(self.browser.eval("document.querySelectorAll('img, script').length"), 0)
        self.assertEqual(self.browser.eval("document.querySelectorAll('#hostile a').length"), 8)
        self.assert_trap_untouched()


if __name__ == "__main__":
    unittest.main()

#!/usr/bin/env python3
"""The about page and the bookmark window in Chromium, through lighttpd and
kivoserv: the about page names the program, and the bookmark window shows
the opener's link with its title as text, refusing any address that is not
a web address. A script injected before load stands in for the opener."""

import json
import unittest

import web_harness
from action_web_case import ActionWebCase

HOSTILE_TITLE = "</a><img src=x onerror=alert(1)>"
NO_CLICK = "This link cannot be opened in this window. Please right click to bookmark this link."

# The link the window shows: [href attribute, text, elements inside it].
SHOWN = """(() => {
  const a = document.querySelectorAll('#bmLink a');
  if (a.length != 1) return a.length ? 'links: ' + a.length : null;
  return [a[0].getAttribute('href'), a[0].textContent, a[0].children.length];
})()"""


def opener_script(values):
    """Sets window.opener to an object holding values before the page runs."""
    return "window.opener = %s; window.__opener = window.opener;" % json.dumps(values)


class LibraryPagesBrowser(ActionWebCase):
    with_browser = True

    def open_bookmark(self, values):
        return self.browser.open(self.web.url("AC=BOOKMARK"), scripts=[opener_script(values)])

    def test_about_page(self):
        errors = self.browser.open(self.web.url("AC=ABOUT"))
        self.assertEqual(errors, [])
        self.assertEqual(self.browser.eval("document.title"), "About KIVOserv")
        self.assertEqual(self.browser.eval("document.querySelector('h1').textContent"), "KIVOserv Unix")
        self.assertIn("Product Identity: KIVOserv KIVOSRV 1 R19K", self.browser.eval("document.body.innerText"))
        self.browser.screenshot(self)

    def test_bookmark_title_is_text(self):
        target = self.web.url("AC=LINK&ID=12&FN=a.html")
        errors = self.open_bookmark({"BookmarkUrl": target, "BookmarkTitle": HOSTILE_TITLE})
        self.assertEqual(errors, [])
        self.assertEqual(self.browser.eval(SHOWN), [target, HOSTILE_TITLE, 0])
        self.assertEqual(self.browser.eval("document.images.length"), 0)
        self.assertIn("Right-click the link below", self.browser.eval("document.getElementById('bmHint').textContent"))
        # The opener's addresses are emptied once the link is written.
        self.assertEqual(self.browser.eval("window.__opener.BookmarkUrl"), "")
        self.assertEqual(self.browser.eval("window.__opener.BookmarkTitle"), HOSTILE_TITLE)
        self.browser.screenshot(self)
        # A click is turned away: the link is there to be bookmarked.
        self.browser.eval("document.querySelector('#bmLink a').click(), 0")
        self.assertEqual(self.browser.eval("location.search"), "?AC=BOOKMARK")
        self.assertEqual(self.browser.errors, ["dialog: alert " + NO_CLICK])

    def test_bookmark_addresses(self):
        page = self.web.url("")
        cases = [
            ("script address", {"BookmarkUrl": "javascript:alert(1)", "BookmarkTitle": "t"}, None),
            ("script address behind blanks", {"BookmarkUrl": " \tJavaScript:alert(1)"}, None),
            ("script address with a tab inside", {"BookmarkUrl": "java\tscript:alert(1)"}, None),
            ("data address", {"BookmarkUrl": "data:text/html,<script>alert(1)</script>"}, None),
            ("nothing offered", {}, None),
            ("relative address, its own text", {"BookmarkUrl": "kivoserv?ID=1"}, ["kivoserv?ID=1", "kivoserv?ID=1", 0]),
            ("secure address", {"BookmarkUrl": "https://example.invalid/x", "BookmarkTitle": "S"},
             ["https://example.invalid/x", "S", 0]),
            ("the context menu's link next", {"BookmarkUrl": "", "hrefValueOP": page + "?ID=2", "text_link_title": "Op",
                                              "extLink": page + "?ID=3"}, [page + "?ID=2", "Op", 0]),
            ("the external link last", {"extLink": page + "?ID=3", "text_link_title": "Ext"}, [page + "?ID=3", "Ext", 0]),
        ]
        for name, values, shown in cases:
            with self.subTest(name):
                self.assertEqual(self.open_bookmark(values), [])
                self.assertEqual(self.browser.eval(SHOWN), shown)
                self.assertEqual(self.browser.eval("location.search"), "?AC=BOOKMARK")


if __name__ == "__main__":
    unittest.main()

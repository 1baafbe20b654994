#!/usr/bin/env python3
"""The main page's instant search in Chromium, through lighttpd and kivoserv
against ruvadaemon over make_action_libraries.py's "instant" folder: typing
in the toolbar's search field lists the first 25 hits in the document frame,
each link a page of its own; show-all mode lists every entry; metadata shows
as text; a member one line short or holding the error page leaves the
search unloaded; a hostile library title runs nothing. Screenshots are kept."""

import time
import unittest
import urllib.request

import make_action_libraries as mal
from action_web_case import ActionWebCase
from main_page_browser_test import FRAMES
from main_page_web_test import PageParser, node_check
import web_harness

INJECTED = """%s.filter(([p, w]) => { try { return typeof w.__x != 'undefined'; } catch (e) { return true; } })
  .map(f => f[0])""" % FRAMES

# The result list's links, [href, text] each.
HITS = """(() => {
  const doc = top.kivomain.kivodoc.document;
  const list = doc.getElementById('search_list_is');
  return list ? [...list.querySelectorAll('a.instantHit')].map(a => [a.href, a.textContent]) : null;
})()"""


def make_instant(out):
    mal.write_folder(out, mal.INSTANT_LIBRARIES)


class InstantSearchBrowser(ActionWebCase):
    make_fixtures = staticmethod(make_instant)
    with_browser = True

    @staticmethod
    def daemon_options(fixtures):
        return {"library_path": fixtures}

    def wait_for(self, condition, what, timeout=20):
        deadline = time.time() + timeout
        while time.time() < deadline:
            try:
                if self.browser.eval(condition):
                    return
            except web_harness.BrowserError:
                pass
            time.sleep(0.1)
        self.fail("%s: %s never held" % (what, condition))

    def open_library(self, name):
        self.browser.open(self.web.url("AC=LINK&ID=%d" % self.ids[name]))
        self.wait_for("top.kivomain && top.kivomain.kivodoc && top.kivomain.kivodoc.document.readyState == 'complete'"
                      " && top.kivotbar && top.kivotbar.document.readyState == 'complete'", name + " frames")

    def type_pattern(self, text):
        """Types text into the toolbar's search field, key by key."""
        self.browser.eval("top.kivotbar.document.getElementById('search_inp').focus()")
        for ch in text:
            self.browser.call("Input.dispatchKeyEvent", {"type": "keyDown", "key": ch, "text": ch})
            self.browser.call("Input.dispatchKeyEvent", {"type": "keyUp", "key": ch})

    def page_errors(self):
        self.browser.eval("0")
        # The suggestion requests go to the hint program, which this server lacks.
        return [e for e in self.browser.errors if "kivohint" not in e]

    def test_typing_lists_the_first_25_hits(self):
        self.open_library(mal.INSTANT)
        self.wait_for("top.instantLoaded === true", "metadata")
        self.type_pattern("install")
        self.wait_for("(%s || []).length > 0 && top.kivotbar.document.getElementById('search_inp').value == 'install'"
                      % HITS, "result list")
        hits = self.browser.eval(HITS)
        self.assertEqual(len(hits), 25)
        self.assertEqual(self.browser.eval("top.performSearch('install', 1000).length"), mal.INSTANT_MATCHES)
        texts = [text for _, text in hits]
        self.assertTrue(any(mal.INSTANT_MARKUP_TITLE in t for t in texts), texts)
        self.assertTrue(any(mal.INSTANT_HOSTILE_TITLE in t for t in texts), texts)
        self.assertEqual(self.browser.eval(
            "[...top.kivomain.kivodoc.document.querySelectorAll('#search_list_is img')]"
            ".filter(i => !i.src.includes('AC=TBIMG')).length"), 0)
        self.assertEqual(self.browser.eval(INJECTED), [])
        self.browser.screenshot(self)
        for href, _ in hits:
            with self.subTest(href):
                with urllib.request.urlopen(href, timeout=30) as answer:
                    self.assertEqual(answer.status, 200)
                    self.assertNotIn(b"<!--@error-->", answer.read())
        self.assertEqual(self.page_errors(), [])

    def test_over_a_pdf_the_instant_results_page_lists_the_hits(self):
        self.open_library(mal.INSTANT)
        self.wait_for("top.instantLoaded === true", "metadata")
        self.browser.eval("top.kivomain.kivodoc.location.href = %r" % self.web.url("AC=BLANK&FN=guide.pdf"))
        self.wait_for("top.kivomain.kivodoc.location.href.includes('guide.pdf') && "
                      "top.kivomain.kivodoc.document.readyState == 'complete'", "pdf stand-in")
        self.browser.eval("top.kivotbar.document.getElementById('search_inp').value = 'install'; "
                          "top.startInstantSearch()")
        self.wait_for("top.kivomain.kivodoc.location.href.includes('AC=INSTANT') && (%s || []).length > 0" % HITS,
                      "instant results page")
        self.assertEqual(len(self.browser.eval(HITS)), 25)
        self.assertEqual(self.browser.eval(INJECTED), [])
        self.assertEqual(self.page_errors(), [])

    def test_show_all_lists_every_entry(self):
        self.open_library(mal.INSTANT)
        self.wait_for("top.instantLoaded === true", "metadata")
        self.browser.eval("top.Instantall = 1; top.kivotbar.document.getElementById('search_inp').value = '';"
                          "top.startInstantSearch()")
        self.wait_for("(%s || []).length > 0" % HITS, "result list")
        # Every entry but the one naming an .htm file.
        self.assertEqual(len(self.browser.eval(HITS)), mal.INSTANT_ENTRIES)
        self.assertEqual(self.browser.eval(INJECTED), [])
        self.assertEqual(self.page_errors(), [])
        self.browser.screenshot(self)

    def test_broken_metadata_leaves_the_search_unloaded(self):
        for name in (mal.INSTANT_SHORT, mal.INSTANT_ERROR_PAGE):
            with self.subTest(name):
                self.open_library(name)
                self.wait_for("top.instantFailed === true", "the failed load")
                self.type_pattern("install")
                time.sleep(0.5)
                self.assertEqual(self.browser.eval("top.instantLoaded"), False)
                self.assertIsNone(self.browser.eval(HITS))
                self.assertEqual(self.page_errors(), [])

    def test_hostile_library_title_runs_nothing(self):
        status, _, body = self.web.request("GET", "AC=LINK&ID=%d" % self.ids[mal.INSTANT_XSS])
        self.assertEqual(status, 200)
        page = body.decode("latin-1")
        self.assertIn("'" + mal.INSTANT_XSS_TITLE.replace("'", "\\u0027").replace("<", "\\u003C")
                      .replace(">", "\\u003E") + "'", page)
        parsed = PageParser()
        parsed.feed(page)
        node_check(self, [body for src, body in parsed.scripts if src is None], "hostile main page")
        self.open_library(mal.INSTANT_XSS)
        self.assertEqual(self.browser.eval("document.title"), mal.INSTANT_XSS_TITLE)
        self.assertEqual(self.browser.eval(INJECTED), [])
        self.assertEqual(self.page_errors(), [])
        self.browser.screenshot(self)


if __name__ == "__main__":
    unittest.main()

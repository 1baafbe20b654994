#!/usr/bin/env python3
"""A post-processed document page in Chromium, served by lighttpd, kivoserv and
ruvadaemon over the page-library fixture ($PAGE_LIBRARIES, made by
make_page_libraries.py): its program links lead back to this front end with
the library's id, other links stay, the title anchor comes before the chapter
anchors, and a PDF is reached through the daemon's wait page. Each page
leaves a screenshot in $RUVA_ARTIFACTS."""

import json
import os
import re
import unittest
import urllib.parse

import daemon_harness
import make_page_libraries as pages
import web_harness as wh

SCRIPT_PATH = "/cgi-bin/kivoserv"

LINKS = """(() => {
  const of = id => { const e = document.getElementById(id); return e ? e.href || e.src : null; };
  return {program: %s.map(of), other: document.getElementById(%s).getAttribute('href'),
          image: of(%s), anchors: [...document.querySelectorAll('a[name]')].map(a => a.name)};
})()""" % (json.dumps(pages.PROGRAM_LINK_IDS), json.dumps(pages.OTHER_LINK_ID), json.dumps(pages.TOOLBAR_IMAGE_ID))


def page_libraries(*parts):
    return os.path.join(os.environ["PAGE_LIBRARIES"], *parts)


def header(headers, name):
    return [value for key, value in headers if key.lower() == name.lower()]


class PostProcessedPage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.web = wh.WebServer(daemon=page_libraries("lib"))
        cls.web.__enter__()
        try:
            # The browser asks for it with every page; a 404 would read as the page's error.
            with open(page_libraries("members", "fig1.gif"), "rb") as icon, \
                    open(cls.web.path("www", "favicon.ico"), "wb") as f:
                f.write(icon.read())
            cls.library_id = cls.hash_id()
            cls.browser = wh.Browser()
        except BaseException:
            cls.web.__exit__(None, None, None)
            raise

    @classmethod
    def tearDownClass(cls):
        wh.close_all(cls.web, cls.browser)

    def tearDown(self):
        self.web.check_logs()

    @classmethod
    def hash_id(cls):
        return daemon_harness.mllist_entry(cls.web.daemon.port, "guide.kvo")[0]

    def query(self, file_name):
        return "AC=LINK&ID=%s&FN=%s" % (self.library_id, file_name)

    def get(self, url):
        """(status, content types, body) of a GET of an address of this front end."""
        parts = urllib.parse.urlsplit(url)
        self.assertEqual(parts.path, SCRIPT_PATH, url)
        status, headers, body = self.web.request("GET", parts.query)
        return status, header(headers, "Content-Type"), body

    def assert_own_link(self, url):
        parts = urllib.parse.urlsplit(url)
        self.assertEqual("%s://%s" % (parts.scheme, parts.netloc), "http://127.0.0.1:%d" % self.web.port, url)
        self.assertEqual(parts.path, SCRIPT_PATH, url)
        self.assertIn(self.library_id, urllib.parse.parse_qs(parts.query).get("ID", []), url)

    def test_document_page_links_and_anchors(self):
        query = self.query(pages.DOCUMENT)
        status, types, _ = self.get(self.web.url(query))
        self.assertEqual((status, header_types(types)), (200, ["text/html"]))

        b = self.browser
        errors = b.open(self.web.url(query))
        found = b.eval(LINKS)
        b.screenshot(self.id())
        self.assertEqual(errors, [])

        for name, url in zip(pages.PROGRAM_LINK_IDS, found["program"]):
            with self.subTest(link=name):
                self.assertIsNotNone(url)
                self.assert_own_link(url)
        self.assertEqual(found["other"], pages.OTHER_LINK)

        for url in found["program"] + [found["image"]]:
            with self.subTest(fetched=url):
                status, _, body = self.get(url)
                self.assertEqual(status, 200)
                self.assertNotIn(b"<!--@error-->", body)

        marks = [n for n in found["anchors"] if n == "_H" or re.fullmatch(r"_C\d+", n)]
        self.assertEqual(marks, ["_H"] + ["_C%d" % n for n in range(1, pages.CHAPTER_ANCHORS + 1)])

    def next_event(self, method, match):
        """Parameters of the first recorded event of that name for which match holds, waiting for it."""
        while True:
            params = self.browser.wait_event(method)
            if match(params):
                return params

    def test_pdf_goes_through_the_wait_page(self):
        b = self.browser
        url = self.web.url(self.query("a.pdf"))
        status, types, body = self.get(url)
        self.assertEqual((status, header_types(types)), (200, ["text/html"]))
        self.assertIn(b"Please, wait", body)

        b.call("Network.enable")
        try:
            errors = b.open(url)
            shown = self.next_event("Network.responseReceived", lambda p: p["response"]["url"] == url)
            # The wait page sends the browser on by itself.
            held = self.next_event("Network.requestWillBeSent",
                                   lambda p: p.get("type") == "Document" and p["request"]["url"] != url)
            b.wait_event("Page.loadEventFired")
            b.screenshot(self.id())
        finally:
            b.call("Network.disable")
        self.assertEqual(shown["response"]["mimeType"], "text/html")
        self.assertEqual(errors, [])
        next_url = held["request"]["url"]
        self.assert_own_link(next_url)
        self.assertEqual(urllib.parse.parse_qs(urllib.parse.urlsplit(next_url).query).get("FN"), ["a.fdp"])

        status, types, body = self.get(next_url)
        self.assertEqual((status, header_types(types)), (200, ["application/pdf"]))
        with open(page_libraries("members", "a.pdf"), "rb") as f:
            self.assertEqual(body, f.read())


def header_types(types):
    """Content types without parameters."""
    return [t.split(";")[0].strip() for t in types]


if __name__ == "__main__":
    unittest.main()

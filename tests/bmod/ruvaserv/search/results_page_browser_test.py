#!/usr/bin/env python3
"""The results page in Chromium, opened alone, through lighttpd and a
recording relay in front of ruvadaemon over the results libraries: no
error, images that load, in-page links that find their anchors, no
unwritten placeholders; the sort links and the context switch navigate as
the list writer's arguments say, and the sorted search shows the oracle's
order; the no-match page's suggestion searches the word anywhere; the
Loading document page replaces the top location. A screenshot of the
two-library page is kept."""

import os
import re
import shutil
import tempfile
import time
import unittest
import urllib.parse

import daemon_harness as h
import make_search_libraries as msl
import qx_oracle
import recording_relay
import results_page_html as rp
import web_harness

FULLTEXT_TYPES = 128 | 256 | 512 | 2048 | 4096 | 16384
QUERY = "AC=SEARCH&ST=FULLTEXT&PA=installation&ID=0&OD=0&BA=TITLE&SP=0"

# The toolbar frame's search form, which the switches write into.
TOOLBAR = "window.kivotbar = {document: {lib: {PA: {value: ''}, MT: {value: ''}, SP: {value: ''}}}};"

PAGE_CHECKS = """(() => {
  const imgs = [...document.querySelectorAll('img')].map(i => [i.getAttribute('src'), i.naturalWidth]);
  const names = new Set([...document.querySelectorAll('a[name]')].map(a => a.getAttribute('name')));
  const dead = [...document.querySelectorAll('a[href^="#"]')].map(a => a.getAttribute('href'))
    .filter(h => h != '#' && !names.has(h.substring(1)));
  const addresses = [...document.querySelectorAll('[href],[src]')]
    .map(e => (e.getAttribute('href') || '') + ' ' + (e.getAttribute('src') || ''));
  return {imgs: imgs, dead: dead, qzl: addresses.filter(a => a.includes('qzl:')),
          text: document.body ? document.body.innerText : ''};
})()"""


def click(text):
    return """(() => {
  const a = [...document.querySelectorAll('a')].find(a => a.textContent.trim() == %r);
  if (!a) return [false, null];
  const call = a.getAttribute('onclick');
  a.click();
  return [true, call];
})()""" % text


class ResultsPageBrowser(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # First, while no other thread runs: Chromium is started with a pre-exec step.
        cls.browser = web_harness.Browser()
        cls.tmp = tempfile.mkdtemp(prefix="rpb_")
        cls.fx = msl.make_results(cls.tmp)
        cls.d = h.Daemon(lib=cls.fx.folder)
        cls.relay = recording_relay.RecordingRelay(cls.d.port)
        cls.web = web_harness.WebServer(conf_lines=["RuvaDaemon 127.0.0.1:%d" % cls.relay.port])
        try:
            cls.web.start()
        except BaseException:
            cls.tearDownClass()
            raise
        cls.ids = {name: h.mllist_entry(cls.d.port, name)[0] for name in cls.fx.libraries}

    @classmethod
    def tearDownClass(cls):
        try:
            web_harness.close_all(cls.web, cls.browser)
        finally:
            cls.relay.close()
            cls.d.stop()
            left = cls.d.leftovers()
            cls.d.cleanup()
            shutil.rmtree(cls.tmp, ignore_errors=True)
            assert left == [], left

    def open(self, query, scripts=()):
        self.relay.clear()
        errors = self.browser.open(self.web.url(query), scripts)
        self.assertEqual(errors, [])
        return errors

    def navigated(self):
        """The address the page went to after a click, once it has loaded. A
        sort or a switch goes through the waiting page, which replaces itself
        with the search: the search's address is given."""
        self.browser.wait_event("Page.loadEventFired")
        deadline = time.time() + 30
        while time.time() < deadline:
            try:
                href, state = self.browser.eval("[location.href, document.readyState]")
            except web_harness.BrowserError:
                href, state = "", ""  # the page is being replaced
            if state == "complete" and not re.search(r"AC=(SEARCH|SORT)MSG", href, re.I):
                return href
            time.sleep(0.1)
        self.fail("still on the waiting page: %s" % href)

    def check_page(self):
        found = self.browser.eval(PAGE_CHECKS)
        self.assertTrue(found["imgs"])
        self.assertEqual([i for i in found["imgs"] if not i[1]], [])
        self.assertEqual(found["dead"], [])
        self.assertEqual(found["qzl"], [])
        for mark in ("(null)", "%s", "%d"):
            self.assertNotIn(mark, found["text"])

    def oracle_rows(self, od, ba):
        fields = {"ST": "FULLTEXT", "OD": od, "BA": ba, "ID": "0", "SP": "0", "PAOR": "installation"}
        sd = {"searchType": FULLTEXT_TYPES, "sTypeCounter": 6, "srchTypeBoolOperation": 0, "isAdvanced": 0}
        case = {"fields": fields, "sd": sd, "order": 1, "entries": rp.relay_entries(self.relay),
                "mllist": rp.relay_titles(self.relay)}
        res = qx_oracle.prepare(case)
        ordered = [case["entries"][k] for k in res["order"]]
        return [(e["ID"], e["filename"]) for e in rp.full_text_rows(ordered, od != "0")]

    def test_page_alone_and_its_sort_links(self):
        # Two libraries with hits: the kept screenshot.
        self.open("AC=SEARCH&ST=TITLE&PA=installation&ID=0&SP=0")
        self.check_page()
        self.assertEqual(len(rp.library_table(rp.parse(self.browser.eval("document.documentElement.outerHTML")))),
                         2)
        self.browser.screenshot(self)
        self.open(QUERY)
        self.check_page()
        for label in ("Title", "Type", "Identity"):
            with self.subTest(label):
                self.open(QUERY)
                found, call = self.browser.eval(click(label))
                self.assertTrue(found, label)
                self.assertTrue(call and call.startswith("sortdisplay("), call)
                val, key, other = [a.strip(" '") for a in call[len("sortdisplay("):call.index(")")].split(",")]
                address = self.navigated()
                fields = dict(urllib.parse.parse_qsl(urllib.parse.urlsplit(address).query))
                self.assertEqual(fields["AC"], "SEARCH")
                self.assertEqual(fields["BA"], key)
                self.assertEqual(fields["OD"], val if key == "TITLE" else other)
                self.open(urllib.parse.urlsplit(address).query)
                self.check_page()
                doc = rp.parse(self.browser.eval("document.documentElement.outerHTML"))
                rows = [(r[0] or r[1], r[2]) for r in rp.document_rows(doc)]
                self.assertEqual(rows, self.oracle_rows(fields["OD"], fields["BA"]))

    def test_context_switch_stores_its_cookie(self):
        self.open(QUERY, scripts=[TOOLBAR])
        box = self.browser.eval("""(() => {
          const b = [...document.querySelectorAll('input[type=checkbox]')]
            .find(b => (b.getAttribute('onclick') || '').includes('showContext'));
          if (!b || b.checked) return false;
          b.click();
          return true;
        })()""")
        self.assertTrue(box)
        address = self.navigated()
        fields = dict(urllib.parse.parse_qsl(urllib.parse.urlsplit(address).query))
        self.assertEqual((fields["AC"], fields["SP"]), ("SEARCH", "1"))
        cookies = dict(c.strip().split("=", 1) for c in self.browser.eval("document.cookie").split(";") if "=" in c)
        self.assertEqual(cookies.get("showContext"), "1")
        self.browser.eval("document.cookie = 'showContext=; expires=Thu, 01 Jan 1970 00:00:00 GMT; path=/'")

    def test_no_match_link_searches_anywhere(self):
        self.open("AC=SEARCH&ST=FULLTEXT&PA=abc.&ID=0")
        self.check_page()
        self.assertEqual(self.browser.eval(click("abc")), [True, None])
        self.navigated()
        text = self.browser.eval("document.body.innerText")
        self.assertIn("*abc*", text)

    def test_loading_page_replaces_the_top_location(self):
        beta = self.ids["beta.kvo"]
        self.relay.clear()
        self.browser.open(self.web.url("AC=SEARCH&ST=FULLTEXT&PA=short&ID=0&OP=1&MLIDS=%s" % beta))
        address = self.navigated()
        url = urllib.parse.urlsplit(address)
        self.assertTrue(url.path.endswith("/cgi-bin/kivoserv"), address)
        self.assertEqual(urllib.parse.parse_qsl(url.query),
                         [("ID", beta), ("FN", msl.BETA_INSTALL), ("AC", "LINKEXT"), ("OP", "1")])


if __name__ == "__main__":
    unittest.main()

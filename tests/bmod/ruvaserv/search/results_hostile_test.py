#!/usr/bin/env python3
"""Hostile input on the results and no-match pages, in Chromium through
lighttpd (a sanitizer build writes its reports under the server's log):
markup in a library comment, in a member's title and catchword, in LIBIDS,
in the showContext cookie and in the pattern; a pattern of 1,000 letters;
3,000 libraries of one hit each; and, through fake_daemon.py, library
comments of 1,024 characters, which ruvadaemon refuses to catalogue. No
dialog opens, the texts stand on the page as text, no injected element
exists, no sanitizer reports and the CGI writes nothing to stderr."""

import os
import shutil
import tempfile
import time
import unittest
import urllib.parse

import daemon_harness as h
import fake_daemon
import make_search_libraries as msl
import qxsrch_lines as q
import web_harness

INJECTED = """(() => ({
  imgs: document.querySelectorAll('img[src="x"]').length,
  svgs: document.querySelectorAll('svg').length,
  scripts: [...document.querySelectorAll('script')].filter(s => /alert\(\d/.test(s.textContent)).length,
  handlers: [...document.querySelectorAll('*')].filter(e => e.hasAttribute('onmouseover')
    || e.hasAttribute('onerror') || (e.getAttribute('onload') || '').includes('alert')).length,
  text: document.body ? document.body.innerText : ''
}))()"""


class HostileCase(unittest.TestCase):
    """A browser and a WebServer in front of cls.port (set by setUpClass)."""

    @classmethod
    def start(cls, port):
        cls.web = web_harness.WebServer(conf_lines=["RuvaDaemon 127.0.0.1:%d" % port])
        try:
            cls.web.start()
        except BaseException:
            cls.web.stop()
            raise

    @classmethod
    def stop(cls):
        web_harness.close_all(cls.web, cls.browser)

    def show(self, query):
        """Opens the page; gives its text. Fails on a dialog, an error, an
        injected element, a sanitizer report or a line on the CGI's stderr."""
        errors = self.browser.open(self.web.url(query))
        # The browser asks the server for an icon it has not got.
        self.assertEqual([e for e in errors if "favicon.ico" not in e], [], query)
        found = self.browser.eval(INJECTED)
        self.assertEqual((found["imgs"], found["svgs"], found["scripts"], found["handlers"]), (0, 0, 0, 0), query)
        self.web.check_logs()
        return found["text"]


class DaemonCase(HostileCase):
    """ruvadaemon over make_hostile's libraries, or MANY of one hit each."""

    MANY = 0

    @classmethod
    def setUpClass(cls):
        cls.browser = web_harness.Browser()
        cls.tmp = tempfile.mkdtemp(prefix="rph_")
        cls.d = h.Daemon(lib=msl.make_hostile(cls.tmp, cls.MANY))
        # The catalogue is read after the greeting: wait until it lists every library.
        deadline = time.time() + 120
        while time.time() < deadline:
            c = cls.d.client()
            c.greeting()
            listed = c.command("LIST").count(b"\n300 ")
            c.close()
            if listed >= (cls.MANY or 2):
                break
            time.sleep(0.5)
        cls.start(cls.d.port)

    @classmethod
    def tearDownClass(cls):
        try:
            cls.stop()
        finally:
            cls.d.stop()
            left = cls.d.leftovers()
            cls.d.cleanup()
            shutil.rmtree(cls.tmp, ignore_errors=True)
            assert left == [], left


class HostileDaemon(DaemonCase):
    def test_comments_stand_as_text(self):
        text = self.show("AC=SEARCH&ST=TITLE&PA=hostile&ID=0&MT=1")
        self.assertIn("Guide <img src=x onerror=alert(1)>", text)
        self.assertIn(msl.HOSTILE_TITLE, text)
        self.assertIn(msl.HOSTILE_CTW, text)

    def test_request_values(self):
        hostile_id = h.mllist_entry(self.d.port, "hostile.kvo")[0]
        cases = [
            ("LIBIDS", {"AC": "SEARCH", "ID": "0", "ST": "DOCSEARCH", "PAT": "hostile", "PROFILE": "0",
                        "LIBIDS": "1' onmouseover='alert(4)"}, None),
            ("LIBIDS with a library", {"AC": "SEARCH", "ID": "0", "ST": "DOCSEARCH", "PAT": "hostile",
                                       "PROFILE": "0", "LIBIDS": "%s 1' onmouseover='alert(4)" % hostile_id}, None),
            # Refused as an expression: the error page shows no pattern.
            ("pattern", {"AC": "SEARCH", "ST": "FULLTEXT", "ID": "0", "PA": '"><img src=x onerror=alert(5)>'},
             None),
            ("title pattern", {"AC": "SEARCH", "ST": "TITLE", "ID": "0", "PA": "hostile<img src=x onerror=alert(5)>"},
             "hostile and img and src and x and onerror and alert5"),
            ("1000 letters", {"AC": "SEARCH", "ST": "FULLTEXT", "ID": "0", "PA": "q" * 1000}, None),
        ]
        for name, fields, literal in cases:
            with self.subTest(name):
                text = self.show(urllib.parse.urlencode(fields))
                if literal:
                    self.assertIn(literal, text)

    def test_context_cookie(self):
        self.show("AC=SEARCH&ST=TITLE&PA=hostile&ID=0")
        self.browser.eval("document.cookie = \"showContext='; path=/\"")
        try:
            self.show("AC=SEARCH&ST=FULLTEXT&PA=nothingsuch&ID=0")
            self.show("AC=SEARCH&ST=FULLTEXT&PA=hostile&ID=0")
        finally:
            self.browser.eval("document.cookie = 'showContext=; expires=Thu, 01 Jan 1970 00:00:00 GMT; path=/'")


class ManyLibraries(DaemonCase):
    MANY = 3000

    def test_one_hit_in_each(self):
        text = self.show("AC=SEARCH&ST=TITLE&PA=many&ID=0&SP=0")
        self.assertIn("%d documents matching" % self.MANY, text)
        self.assertIn("Many 0000", text)
        self.assertIn("Many %04d" % (self.MANY - 1), text)


class LongComments(HostileCase):
    """Library comments of 1,024 characters, from the fake daemon."""

    @classmethod
    def setUpClass(cls):
        cls.browser = web_harness.Browser()
        cls.comments = {}
        hits = []
        for n, hid in enumerate((11, 12)):
            head = "<svg onload=alert(%d)>" % (6 + n)
            tail = " [EN/LONG%d R1A]" % n
            cls.comments[hid] = head + "x" * (1024 - len(head) - len(tail)) + tail
            hits.append(q.hit("long%d.kvo" % n, hid, "1551-LON1000%dUen.A.html" % n, ["LONG"],
                              'TITLE: "Long %d" CTW: "<b>bold</b>"' % n))
        replies = [["LIST", q.list_reply([q.list_line("kivo_help.khx", 100, 1, 1, "Help [EN/HELP1 R1A]")])],
                   ["MLLIST 0", q.mllist_reply([])],
                   ["QXSRCH", q.qxsrch_reply(hits)]]
        for hid, comment in cls.comments.items():
            replies.append(["MLLIST %d" % hid,
                            q.mllist_reply([q.mllist_library("long.kvo", hid, 100, 1, 1, comment)])])
        cls.fake = fake_daemon.FakeDaemon({"replies": replies})
        cls.start(cls.fake.port)

    @classmethod
    def tearDownClass(cls):
        try:
            cls.stop()
        finally:
            cls.fake.close()

    def test_long_comments_stand_as_text(self):
        text = self.show("AC=SEARCH&ST=TITLE&PA=long&ID=0")
        for hid in self.comments:
            self.assertIn("<svg onload=alert(%d)>" % (6 + hid - 11), text)
        self.assertIn("<b>bold</b>", text)
        self.assertTrue(any(c.startswith("MLLIST 11") for c in self.fake.commands()))


if __name__ == "__main__":
    unittest.main()

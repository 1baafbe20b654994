#!/usr/bin/env python3
"""The library frameset under lighttpd with ruvadaemon over the action
libraries: its frames, the values its script gives the other frames, its
expiry, and every script of the frameset, the toolbar and the document
frameset passing node --check as served (post-processed), hostile library
and request values included."""

import email.utils
import html.parser
import os
import re
import shutil
import subprocess
import tempfile
import unittest
import urllib.parse

import daemon_harness as h
import make_action_libraries as mal
import web_harness
from action_web_case import ActionWebCase, script_value


class PageParser(html.parser.HTMLParser):
    """The elements the frameset page is made of; script bodies as written."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.framesets = []
        self.frames = {}
        self.scripts = []  # (src or None, body)
        self.title = None
        self.elements = []
        self._in = None

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        self.elements.append(tag)
        if tag == "frameset":
            self.framesets.append(a)
        elif tag == "frame":
            self.frames[a.get("name")] = a.get("src")
        elif tag == "script":
            self.scripts.append([a.get("src"), ""])
            self._in = "script"
        elif tag == "title":
            self.title = ""
            self._in = "title"

    def handle_startendtag(self, tag, attrs):
        self.handle_starttag(tag, attrs)

    def handle_endtag(self, tag):
        if tag in ("script", "title"):
            self._in = None

    def handle_data(self, data):
        if self._in == "script":
            self.scripts[-1][1] += data
        elif self._in == "title":
            self.title += data


def node_check(test, scripts, label):
    folder = tempfile.mkdtemp(prefix="mpw_")
    try:
        for i, body in enumerate(scripts):
            path = os.path.join(folder, "%d.js" % i)
            with open(path, "w", encoding="latin-1") as f:
                f.write(body)
            done = subprocess.run(["node", "--check", path], capture_output=True, text=True, timeout=30)
            test.assertEqual(done.returncode, 0, "%s script %d: %s\n%s" % (label, i, done.stderr, body))
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def query_of(src):
    """A frame address's fields, as the browser would send them."""
    return urllib.parse.parse_qsl(urllib.parse.urlsplit(src).query, keep_blank_values=True)


class MainPageWeb(ActionWebCase):
    conf_lines = ("ExpirePeriod 1800",)

    def fetch(self, query, headers=None):
        status, head, body = self.web.request("GET", query, headers)
        self.assertEqual(status, 200, body[:2000])
        return dict((k.lower(), v) for k, v in head), body.decode("latin-1")

    def page(self, query, headers=None):
        head, text = self.fetch(query, headers)
        error = re.search(r"<!--@error-->(.*?)<!--@/error-->", text, re.S)
        self.assertIsNone(error, error and error.group(1))
        p = PageParser()
        p.feed(text)
        return head, text, p

    def test_entry_page_frames_and_values(self):
        v20 = self.ids[mal.V20]
        head, text, p = self.page("AC=LINKEXT&ID=%d&FN=index.html" % v20)
        self.assertEqual(p.title, "Version Two")
        self.assertEqual([f.get("rows") for f in p.framesets], ["32,*"])
        tbar = dict(query_of(p.frames["kivotbar"]))
        self.assertEqual((tbar.get("ac"), tbar.get("VR"), tbar.get("TB")), ("toolbar", "R19K", "0"))
        self.assertEqual(dict(query_of(p.frames["kivomain"])).get("ac"), "BLANK")
        self.assertEqual(script_value(text, "libInfType"), "'ZUL'")
        self.assertEqual(script_value(text, "libId"), "'EN/VTWO1234567R1A'")
        self.assertEqual(script_value(text, "helpCount"), "1")
        self.assertEqual(script_value(text, "helpID"), "'%s'" % mal.HELP)
        self.assertEqual(script_value(text, "kvLowerMode"), "'ext'")
        self.assertEqual(script_value(text, "kvXF"),
                         "'AC=CHNGLANG&amp;ID=%d&amp;FN=index.html&amp;EXT=TRUE&amp;LU=en'" % v20)
        # The expiry is cut to five minutes for this page.
        expires = email.utils.parsedate_to_datetime(head["expires"])
        date = email.utils.parsedate_to_datetime(head["date"])
        self.assertAlmostEqual((expires - date).total_seconds(), 300, delta=5)
        node_check(self, [body for src, body in p.scripts if src is None], "main page")

    def test_external_search_follow_up(self):
        v20 = self.ids[mal.V20]
        _, text, _ = self.page("AC=SEARCHEXT&ID=%d&PA=cable" % v20)
        xf = urllib.parse.parse_qs(script_value(text, "kvXF").strip("'").replace("&amp;", "&"))
        self.assertEqual({k: xf[k] for k in ("AC", "EXT", "SCH", "LU", "OP", "ID")},
                         {"AC": ["CHNGLANG"], "EXT": ["TRUE"], "SCH": ["TRUE"], "LU": ["en"], "OP": ["200"],
                          "ID": [str(v20)]})

    def test_library_page_frames_by_edition(self):
        cases = ((mal.V20, "ac", "LINK", "kivo2.html", "'none'"),
                 (mal.V20_BARE, "ac", "LINK", "kivo.html", "'none'"),
                 (mal.V00, "ac", "BLANK", None, "'oldLib'"))
        for library, key, action, fn, mode in cases:
            with self.subTest(library):
                _, text, p = self.page("AC=LINK&ID=%d" % self.ids[library])
                main = dict(query_of(p.frames["kivomain"]))
                self.assertEqual((main.get(key), main.get("FN")), (action, fn))
                self.assertEqual(script_value(text, "kvLowerMode"), mode)
                node_check(self, [body for src, body in p.scripts if src is None], library)

    def test_library_type_by_its_document_list(self):
        for library, kind in (("guide.kvo", "'SDI'"), ("zul.kvo", "'ZUL'"), (mal.V00, "'ZUL'")):
            with self.subTest(library):
                _, text, _ = self.page("AC=LINKEXT&ID=%d&FN=index.html" % self.ids[library])
                self.assertEqual(script_value(text, "libInfType"), kind)

    def test_collection_pairs_hold_0_for_a_missing_member(self):
        coll = self.ids["coll.kvo"]
        _, text, _ = self.page("AC=LINKEXT&ID=%d&FN=index.html" % coll)
        pairs = script_value(text, "idlilist").strip("'").split("|")
        self.assertEqual(pairs, ["%d-ABC1234567R1A" % self.ids["one.kvo"], "0-DEF7654321R1A",
                                 "%d-GHI1111111R2A" % self.ids["three.kvo"], "%d-EN/COL1234567R1A" % coll])
        self.assertEqual(script_value(text, "colLibId"), "'EN/COL1234567R1A'")
        self.assertEqual(script_value(text, "colLibTitle"), "'Set'")

    def test_hostile_values_and_every_frame_script_parse(self):
        hostile = self.ids[mal.HOSTILE]
        query = ("AC=LINKEXT&ID=%d&FN=%s&%s=%s&FS=%s&FB=%s" % (
            hostile, urllib.parse.quote("</script>"), urllib.parse.quote("a'b\"c"),
            urllib.parse.quote('"><script>'), urllib.parse.quote("\\"), urllib.parse.quote("+1+")))
        head, text, p = self.page(query, {"Cookie": 'showAllTitles="><svg onload=window.__p=1>'})
        self.assertEqual(p.title, mal.HOSTILE_TITLE)
        self.assertNotIn("img", p.elements)
        self.assertEqual(script_value(text, "libId"), "'a\\u0027b\\\\'")
        # The tree's root always has slot 0.
        self.assertEqual(script_value(text, "kvRootId"), '"0"')
        node_check(self, [body for src, body in p.scripts if src is None], "main page")
        xf = script_value(text, "kvXF").strip("'")
        for query, label in (("AC=TOOLBAR&VR=R19K&TB=0&ID=%d" % hostile, "toolbar"),
                             ("AC=DOCNOTREE&BC=EXTFUNC&XF=" + urllib.parse.quote(xf), "document frameset"),
                             ("AC=DOCNOTREE&BC=SUB_MAIN&ID=9999", "sub-library frameset")):
            with self.subTest(label):
                _, _, frame = self.page(query, {"Cookie": 'showAllTitles="><svg onload=window.__p=1>'})
                scripts = [body for src, body in frame.scripts if src is None]
                self.assertTrue(scripts)
                node_check(self, scripts, label)


class WithoutHelp(unittest.TestCase):
    """A server without the help library: the page says so."""

    def test_help_count_0(self):
        folder = tempfile.mkdtemp(prefix="mpw_")
        self.addCleanup(shutil.rmtree, folder, True)
        mal.make_flat(folder, [mal.V20])
        with web_harness.WebServer(daemon=folder) as web:
            port = web.daemon.port
            v20 = int(h.mllist_entry(port, mal.V20)[0])
            status, _, body = web.request("GET", "AC=LINKEXT&ID=%d&FN=index.html" % v20)
            self.assertEqual(status, 200)
            self.assertEqual(script_value(body.decode("latin-1"), "helpCount"), "0")
            web.check_logs()


if __name__ == "__main__":
    unittest.main()

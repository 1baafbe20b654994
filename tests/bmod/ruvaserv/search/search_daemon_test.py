#!/usr/bin/env python3
"""Searches against ruvadaemon: search_probe (path in SEARCH_PROBE) runs one
request through searchAction or the direct lookup over the libraries of
make_search_libraries.py, served by a daemon over their structure file, and
prints the hits that reach the result formatter."""

import json
import os
import re
import shutil
import subprocess
import tempfile
import unittest
import urllib.parse

import daemon_harness as h
import make_search_libraries

OST_CTW, OST_KEYWORD_LOGICAL = 4096, 1024
SRSO_DEFAULT, SRSO_SRCHTYPE = 0, 1
HIGHLIGHT = re.compile(r'<span class="ch">install</span>', re.I)


def q(text):
    return urllib.parse.quote(text, safe="=&")


class Search:
    """A daemon over fresh fixtures and a kivo.conf naming its port."""

    def __init__(self):
        self.tmp = tempfile.mkdtemp(prefix="srchd_")
        self.fx = make_search_libraries.make(os.path.join(self.tmp, "fx"))
        self.d = h.Daemon(library_path=self.fx.structure)
        self.conf = os.path.join(self.tmp, "kivo.conf")
        os.makedirs(os.path.join(self.tmp, "temp"))
        with open(self.conf, "w") as f:
            f.write("TempPath %s\nRuvaDaemon 127.0.0.1:%d\n" % (os.path.join(self.tmp, "temp"), self.d.port))
        self.ids = {}

    def hash_id(self, library):
        if library not in self.ids:
            self.ids[library] = h.mllist_entry(self.d.port, library)[0]
        return self.ids[library]

    def run(self, test, query, cookie="", lookup=False):
        """(hits, closing line) of one request; the probe must end cleanly."""
        env = dict(os.environ, QUERY_STRING=query, HTTP_COOKIE=cookie, KIVOSERVCONF=self.conf,
                   REQUEST_METHOD="GET")
        args = [os.environ["SEARCH_PROBE"]] + (["--lookup"] if lookup else [])
        done = subprocess.run(args, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
        err = done.stderr.decode("latin-1")
        test.assertEqual(done.returncode, 0, err)
        test.assertNotIn("runtime error", err)
        test.assertNotIn("Sanitizer", err)
        lines = [json.loads(line) for line in done.stdout.decode("latin-1").splitlines()]
        test.assertTrue(lines, err)
        return lines[:-1], lines[-1]

    def close(self):
        self.d.stop()
        left = self.d.leftovers()
        self.d.cleanup()
        shutil.rmtree(self.tmp, ignore_errors=True)
        return left


def documents(hits):
    """(library, member) of each hit, member names compared case-blind."""
    return {(hit.get("database"), hit["filename"].lower()) for hit in hits}


def lowered(pairs):
    return {(lib, name.lower()) for lib, name in pairs}


class SearchDaemon(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.s = Search()
        cls.fx = cls.s.fx

    @classmethod
    def tearDownClass(cls):
        left = cls.s.close()
        assert left == [], left

    def search(self, query, cookie="", lookup=False):
        return self.s.run(self, query, cookie, lookup)

    def answered(self, query, cookie="", lookup=False):
        hits, last = self.search(query, cookie, lookup)
        self.assertEqual((last["result"], last["presented"]), (1, 1), last)
        return hits, last

    def test_searches_find_the_manifest(self):
        # (query, sort order, types combined with OR)
        orders = {"ST=TITLE&PA=install": (SRSO_DEFAULT, 0), "ST=FULLTEXT&PA=install": (SRSO_SRCHTYPE, 0),
                  "ST=CATCHWORD&PA=boot": (SRSO_DEFAULT, 1), "ST=DOCNO&PA=1551*": (SRSO_DEFAULT, 1),
                  "ST=DOCNO&PA=1551-ABC10104": (SRSO_DEFAULT, 1), "ST=DOCNO&PA=1551": (SRSO_DEFAULT, 1),
                  "ST=TITLE&PA=calibration": (SRSO_DEFAULT, 0)}
        for query, want in self.fx.manifest.items():
            with self.subTest(query=query):
                hits, last = self.answered(query)
                self.assertEqual(documents(hits), lowered(want))
                self.assertEqual((last["sortOrder"], last["srchTypeBoolOperation"]), orders[query])

    def test_catchword_hits_are_told_from_keyword_hits(self):
        hits, _ = self.answered("ST=CATCHWORD&PA=boot")
        kinds = {hit["filename"].lower(): (hit["searchType"], hit["isKwd"]) for hit in hits}
        self.assertEqual(kinds, {make_search_libraries.BOOTLOADER.lower(): (OST_CTW, 0),
                                 make_search_libraries.STARTED.lower(): (OST_KEYWORD_LOGICAL, 1)})

    def test_phrase_keeps_only_the_document_holding_it(self):
        # The index finds both for ab&c; the documents' text decides.
        hits, _ = self.answered(q('ST=ADVSEARCH&PA="ab c"'))
        self.assertEqual(documents(hits), {(self.fx.guide, self.fx.phrase_kept.lower())})

    def test_context_synopses_mark_the_searched_word(self):
        for query, cookie in (("ST=ADVSEARCH&PA=install&SP=1", ""), ("ST=ADVSEARCH&PA=install", "showContext=1")):
            with self.subTest(query=query, cookie=cookie):
                hits, _ = self.answered(query, cookie)
                self.assertEqual(documents(hits), {(self.fx.guide, self.fx.phrase_kept.lower()),
                                                   (self.fx.guide, self.fx.phrase_dropped.lower())})
                for hit in hits:
                    self.assertRegex(hit["synopsis"], HIGHLIGHT)
        hits, _ = self.answered("ST=ADVSEARCH&PA=install&SP=0")
        self.assertEqual([hit["synopsis"] for hit in hits], ["", ""])

    def test_category_cookie_filters_a_library_three_folders_deep(self):
        # The library's own bitmap is 1; a bitmap sent drops members without one.
        one, two, none = (n.lower() for n in (make_search_libraries.DEEP_ONE, make_search_libraries.DEEP_TWO,
                                              make_search_libraries.DEEP_NONE))
        query = "%s&ID=%s" % (self.fx.deep_query, self.s.hash_id(self.fx.deep))
        for cookie, want in (("", {one}), ("dcat=2", {two}), ("dcat=3", {one, two}),
                             ("other=2", {one}), ("dcat=0", {one, two, none})):
            with self.subTest(cookie=cookie):
                hits, _ = self.answered(query, cookie)
                self.assertEqual(documents(hits), {(self.fx.deep, n) for n in want})

    def test_catchword_lookup_reaches_the_formatter_in_default_order(self):
        for word, count in ((self.fx.cw_two[0], 2), (self.fx.cw_none, 0)):
            with self.subTest(word=word):
                hits, last = self.answered("CW=" + word, lookup=True)
                self.assertEqual((last["hits"], len(hits), last["sortOrder"]), (count, count, SRSO_DEFAULT))

    def test_refused_fields_send_no_search(self):
        # (query, lookup, text of the message)
        for query, lookup, text in (("ST=TITLE&PA=" + "a" * 3000, False, "Illegal index value."),
                                    ("ST=ADVSEARCH&PAT=" + "a" * 3000, False, "Illegal index value."),
                                    ("CW=" + "a" * 3000, True, "Illegal index value."),
                                    ("CW=x%5C", True, "Failed to perform search of")):
            with self.subTest(query=query[:20], lookup=lookup):
                hits, last = self.search(query, lookup=lookup)
                self.assertEqual((hits, last["result"], last["presented"]), ([], 0, 0), last)
                self.assertIn(text, last["message"])
        # The daemon still answers.
        self.answered("ST=TITLE&PA=install")


class RewrittenLibrary(unittest.TestCase):
    """Only a library named by its ID is checked before the search reads it."""

    def setUp(self):
        self.s = Search()

    def tearDown(self):
        self.assertEqual(self.s.close(), [])

    def test_library_rewritten_before_a_search_by_its_id(self):
        fx = self.s.fx
        query = "%s&ID=%s" % (fx.rewrite_query, self.s.hash_id(fx.rewrite))
        hits, last = self.s.run(self, query)
        self.assertEqual((last["result"], len(hits)), (1, 1), last)
        with open(fx.path(fx.rewrite), "ab") as f:
            f.write(b" ")
        hits, last = self.s.run(self, query)
        self.assertEqual((hits, last["result"], last["presented"]), ([], 0, 0), last)
        self.assertIn("Library %s is being updated." % fx.rewrite, last["message"])


if __name__ == "__main__":
    unittest.main()

#!/usr/bin/env python3
"""Links that name a document by catchword or title, answered by kivoserv
under lighttpd with ruvadaemon over the libraries of
make_search_libraries.py: the one document found is shown, the file type
and the document class narrow the hits, and a hit whose member is gone
gives one error page."""

import os
import re
import shutil
import tempfile
import unittest
import urllib.parse

import daemon_harness as h
import make_search_libraries
import web_harness


class DocumentLookupWeb(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="lookw_")
        cls.fx = make_search_libraries.make(os.path.join(cls.tmp, "fx"))
        cls.d = h.Daemon(library_path=cls.fx.structure)
        cls.web = web_harness.WebServer(daemon=cls.d)
        try:
            cls.web.start()
        except BaseException:
            cls.web.stop()
            cls.d.stop()
            cls.d.cleanup()
            raise
        cls.guide_id = h.mllist_entry(cls.d.port, cls.fx.guide)[0]

    @classmethod
    def tearDownClass(cls):
        cls.web.stop()
        cls.d.stop()
        left = cls.web.leftovers() + cls.d.leftovers()
        cls.d.cleanup()
        shutil.rmtree(cls.tmp, ignore_errors=True)
        assert left == [], left

    def link(self, **fields):
        """The whole answer to AC=LINK in the guide with fields, as bytes."""
        query = "AC=LINK&ID=%s&%s" % (self.guide_id, urllib.parse.urlencode(fields))
        answer = self.web.raw(("GET /cgi-bin/kivoserv?%s HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n" % query).encode())
        self.assertTrue(answer.startswith(b"HTTP/1.0 200 ") or answer.startswith(b"HTTP/1.1 200 "), answer[:300])
        self.assertEqual(len(re.findall(rb"(?im)^content-type:", answer)), 1, answer[:600])
        self.web.check_logs()
        return answer.decode("latin-1")

    def document_text(self, name):
        """A sentence of the document's own body."""
        data = self.fx.member(self.fx.guide, name).decode("latin-1")
        return re.search(r"<p>([^<]*)</p>", data).group(1)

    def test_single_hit_is_shown(self):
        cw, bootloader = self.fx.cw_one
        title, install = self.fx.title_one
        cw_classes, kept, _ = self.fx.cw_classes
        cases = [
            ("one catchword hit", {"CW": cw}, bootloader),
            ("title", {"TI": title}, install),
            ("class number", {"CW": cw_classes, "DO": "1551"}, kept),
            ("class word", {"CW": cw_classes, "DO": "DESC"}, kept),
        ]
        for name, fields, document in cases:
            with self.subTest(name):
                page = self.link(**fields)
                self.assertIn(self.document_text(document), page)
                self.assertNotIn("<!--@error-->", page)

    def test_file_type_takes_the_pdf_of_two_hits(self):
        cw, _, pdf = self.fx.cw_two
        page = self.link(CW=cw, EX="pdf")
        # The wait page of the PDF, which loads it through its frame name;
        # the daemon keeps names in lower case.
        frame = pdf[:-len(".pdf")].lower() + ".fdp"
        self.assertIn("FN=" + frame, page)
        self.assertNotIn("<!--@error-->", page)

    def test_single_hit_without_member_gives_one_error_page(self):
        title, ghost = self.fx.title_ghost
        page = self.link(TI=title)
        message = page[page.index("<!--@error-->"):page.index("<!--@/error-->")]
        self.assertIn('File "%s" not found in library.' % ghost, message)
        self.assertIn("[SearchActions/1]", message)
        self.assertEqual(page.count("<!--@error-->"), 1)


if __name__ == "__main__":
    unittest.main()

#!/usr/bin/env python3
"""The results page end to end: kivoserv under lighttpd, a recording relay
in front of ruvadaemon over make_search_libraries.py's results libraries.
The summary number, the library table and the document rows equal what
qx_oracle.py computes from the QXSRCH and MLLIST replies the relay saw;
the no-match page, the single-hit shortcuts and the search kinds the
toolbar and forms send. Pages are read with html.parser."""

import os
import shutil
import tempfile
import unittest
import urllib.parse
import zipfile

import daemon_harness as h
import make_search_libraries as msl
import qx_oracle
import recording_relay
import results_page_html as rp
import web_harness

FULLTEXT_TYPES = 128 | 256 | 512 | 2048 | 4096 | 16384


def lib_title_id(comment):
    """Title and identity of a library comment: the text before the first
    '[' less the blank before it, and the text between the brackets."""
    if "[" not in comment:
        return "", ""
    at = comment.index("[")
    end = comment.find("]", at)
    return comment[:max(at - 1, 0)], comment[at + 1:end] if end > 0 else ""


class ResultsPage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="rpe_")
        cls.fx = msl.make_results(cls.tmp)
        cls.d = h.Daemon(lib=cls.fx.folder)
        cls.relay = recording_relay.RecordingRelay(cls.d.port)
        cls.web = web_harness.WebServer(conf_lines=["RuvaDaemon 127.0.0.1:%d" % cls.relay.port])
        try:
            cls.web.start()
        except BaseException:
            cls.web.stop()
            cls.relay.close()
            cls.d.cleanup()
            raise
        cls.ids = {name: h.mllist_entry(cls.d.port, name)[0] for name in cls.fx.libraries}
        cls.names = {hid: name for name, hid in cls.ids.items()}

    @classmethod
    def tearDownClass(cls):
        cls.web.stop()
        cls.relay.close()
        cls.d.stop()
        left = cls.web.leftovers() + cls.d.leftovers()
        cls.d.cleanup()
        shutil.rmtree(cls.tmp, ignore_errors=True)
        assert left == [], left

    def get(self, query, headers=None):
        """(status, {header: value}, page text) of one request; the logs stay clean."""
        self.relay.clear()
        status, head, body = self.web.request("GET", query, headers)
        self.web.check_logs()
        return status, {k.lower(): v for k, v in head}, body.decode("latin-1")

    def page(self, query):
        status, head, text = self.get(query)
        self.assertEqual(status, 200, text[:2000])
        self.assertTrue(head.get("content-type", "").startswith("text/html"), head)
        self.assertNotIn("<!--@error-->", text, text[:3000])
        return rp.parse(text), text

    def members(self, library_id):
        with zipfile.ZipFile(self.fx.path(self.names[library_id])) as z:
            return {i.filename.lower() for i in z.infolist()}

    def oracle(self, fields, sd, order):
        case = {"fields": fields, "sd": sd, "order": order, "entries": rp.relay_entries(self.relay),
                "mllist": rp.relay_titles(self.relay)}
        res = qx_oracle.prepare(case)
        self.assertEqual(res["result"], 1, res)
        return res, [case["entries"][k] for k in res["order"]], case["mllist"]

    def expected_table(self, ordered, titles):
        rows = []
        for e in ordered:
            if rows and rows[-1][0] == e["ID"]:
                rows[-1][1] += e["actualHits"] or 1
            else:
                rows.append([e["ID"], e["actualHits"] or 1])
        out = []
        for lib, count in rows:
            title, ident = lib_title_id(titles[lib])
            out.append((count, title, ident, "STA:PRE" in titles[lib]))
        return out

    def check_rows(self, doc, want):
        rows = rp.document_rows(doc)
        self.assertTrue(want)
        self.assertEqual([(r[0] or r[1], r[2]) for r in rows], [(e["ID"], e["filename"]) for e in want])
        for lib, _, member in rows:
            self.assertIsNotNone(lib)
            # The daemon keeps the index's spelling; it finds members case-blind.
            self.assertIn(member.lower(), self.members(lib))

    def test_full_text_page_equals_the_oracle(self):
        doc, _ = self.page("AC=SEARCH&ST=FULLTEXT&PA=installation&ID=0&OD=0&BA=TITLE&SP=0")
        title = doc.find("title")
        self.assertEqual(title.text(), "Kivo Browser - Search Results")
        fields = {"ST": "FULLTEXT", "OD": "0", "BA": "TITLE", "ID": "0", "SP": "0", "PAOR": "installation"}
        sd = {"searchType": FULLTEXT_TYPES, "sTypeCounter": 6, "srchTypeBoolOperation": 0, "isAdvanced": 0}
        res, ordered, titles = self.oracle(fields, sd, 1)
        # Every kind of line took part: hits, a count over the limit, no-hit lines.
        replies = [line for r in self.relay.replies("QXSRCH") for line in r]
        for code in ("300 ", "348 ", "349 "):
            self.assertTrue(any(line.startswith(code) for line in replies), code)
        self.assertEqual(rp.summary_count(doc), res["docMatchCount"])
        table = rp.library_table(doc)
        self.assertEqual(table, self.expected_table(ordered, titles))
        self.assertEqual(len(table), 3, table)
        self.assertEqual([t[3] for t in table], [t[1].startswith("Beta") for t in table])
        self.check_rows(doc, rp.full_text_rows(ordered, False))
        commands = self.relay.commands()
        self.assertEqual([c for c in commands if c.split(" ")[0] == "LIST"], ["LIST"])
        mllists = [c for c in commands if c.startswith("MLLIST")]
        self.assertEqual(len(mllists), len(set(mllists)), mllists)
        script = rp.script_vars(doc)
        self.assertEqual(script.get("helpCount"), "1")
        self.assertEqual(script.get("helpID"), self.fx.help)

    def test_sort_links_order_rows_as_the_oracle(self):
        fields = {"ST": "FULLTEXT", "ID": "0", "SP": "0", "PAOR": "installation"}
        sd = {"searchType": FULLTEXT_TYPES, "sTypeCounter": 6, "srchTypeBoolOperation": 0, "isAdvanced": 0}
        for od, ba in (("1", "TITLE"), ("9", "TITLE"), ("8", "TYPE"), ("0", "IDENTITY"), ("1", "TYPE")):
            with self.subTest(od=od, ba=ba):
                doc, _ = self.page("AC=SEARCH&ST=FULLTEXT&PA=installation&ID=0&OD=%s&BA=%s&SP=0" % (od, ba))
                _, ordered, _ = self.oracle(dict(fields, OD=od, BA=ba), sd, 1)
                self.check_rows(doc, rp.full_text_rows(ordered, od != "0"))

    def test_title_search_in_lower_case(self):
        doc, _ = self.page("AC=SEARCH&ST=title&PA=installation&ID=0&SP=0")
        fields = {"ST": "TITLE", "OD": "0", "BA": "TITLE", "ID": "0", "SP": "0", "PAOR": "installation"}
        sd = {"searchType": 2048 | 16384, "sTypeCounter": 2, "srchTypeBoolOperation": 0, "isAdvanced": 0}
        res, ordered, _ = self.oracle(fields, sd, 0)
        self.assertEqual(rp.summary_count(doc), res["docMatchCount"])
        self.check_rows(doc, [e for e in ordered if e["filename"] and e["hit"]])

    def test_phrase_keeps_its_quotes(self):
        # Two documents hold the words in this order.
        doc, _ = self.page("AC=SEARCH&ST=FULLTEXT&PA=%s&ID=0&SP=0" % urllib.parse.quote('"installation of"'))
        self.assertEqual(rp.summary_count(doc), 2)
        cell = doc.find("td", **{"class": "td_sy"})
        self.assertIn('search phrase "installation of"', cell.text())
        self.assertIn('2 hits were found with search phrase "installation of"', doc.text())
        self.assertNotIn("found in body text search", doc.text())

    def test_document_search_lists_a_library_without_hits(self):
        alpha, gamma = self.ids["alpha.kvo"], self.ids[self.fx.bulk]
        # SEARCH needs a library identifier, though the list names the libraries.
        query = urllib.parse.urlencode({"AC": "SEARCH", "ID": "0", "ST": "DOCSEARCH", "PAT": "installation",
                                        "PROFILE": "0", "LIBIDS": '"%s %s "' % (gamma, alpha), "SP": "0"})
        doc, _ = self.page(query)
        table = rp.library_table(doc)
        self.assertEqual([(t[1], t[2]) for t in table], [("Alpha Guide", "EN/ALPHA1 R1A"),
                                                         ("Gamma Bulk", "EN/GAMMA1 R1A")])
        self.assertGreater(table[0][0], 0)
        self.assertEqual(table[1][0], 0)
        # The zero row's title is not a link.
        for a in doc.find_all("a"):
            self.assertNotIn("Gamma Bulk", a.text())

    def test_no_match_suggests_the_word_anywhere(self):
        doc, _ = self.page("AC=SEARCH&ST=FULLTEXT&PA=abc.&ID=0")
        self.assertIn("The character '.' in your search expression is treated as a separator by the indexer.",
                      doc.text())
        links = [a for a in doc.find_all("a") if a.text() == "abc"]
        self.assertEqual(len(links), 1)
        href = links[0].attrs["href"]
        url = urllib.parse.urlsplit(href)
        self.assertTrue(url.path.endswith("kivoserv"), href)
        self.assertEqual(urllib.parse.parse_qsl(url.query, keep_blank_values=True),
                         [("PA", "*abc*"), ("AC", "SEARCH"), ("ST", "FULLTEXT"), ("ID", "0"), ("OD", "0"),
                          ("BA", "TITLE"), ("MT", "1"), ("SP", "1")])
        helps = [a for a in doc.find_all("a") if "openHelp" in a.attrs.get("onclick", "")]
        self.assertEqual(len(helps), 1)
        self.assertIn("top.openHelp(", helps[0].attrs["onclick"])
        self.assertIn("CH=DBsearching", helps[0].attrs["onclick"])

        # Two words left: no link. (Any one letter finds a topic title by completion.)
        doc, _ = self.page("AC=SEARCH&ST=FULLTEXT&PA=qq.zz&ID=0")
        self.assertIn("The character '.' in your search expression", doc.text())
        self.assertFalse([a for a in doc.find_all("a") if "anywhere" in (a.parent.text() if a.parent else "")
                          and "PA=" in a.attrs.get("href", "")])

    def test_single_hit_opens_the_document(self):
        beta = self.ids["beta.kvo"]
        cases = [
            ("one full-text hit", "ST=FULLTEXT&PA=short&ID=0", msl.BETA_INSTALL,
             "&PA=short&ST=FULLTEXT#SearchMatch1"),
            ("the PDF of two", "ST=TITLE&PA=wiring&ID=0&EX=pdf", msl.BETA_WIRING[1], "&PA=wiring&ST=TITLE"),
        ]
        for name, query, member, tail in cases:
            with self.subTest(name):
                status, head, text = self.get("AC=SEARCH&OP=200&" + query)
                self.assertEqual(status, 302, text[:2000])
                location = head["location"]
                self.assertTrue(location.endswith(tail), location)
                q = urllib.parse.parse_qs(urllib.parse.urlsplit(location).query)
                self.assertEqual(q["FN"], [member])
                self.assertEqual(q.get("ID", q.get("DB")), [beta])
        # SW=1 writes the page.
        doc, _ = self.page("AC=SEARCH&OP=200&SW=1&ST=FULLTEXT&PA=short&ID=0")
        self.assertEqual(rp.summary_count(doc), 1)

    def test_single_hit_of_several_libraries_loads_it(self):
        beta = self.ids["beta.kvo"]
        _, _, text = self.get("AC=SEARCH&ST=FULLTEXT&PA=short&ID=0&OP=1&MLIDS=%s" % beta)
        doc = rp.parse(text)
        self.assertIn("Loading document", doc.text())
        self.assertIn("replaceTopUrl", doc.find("body").attrs.get("onload", ""))


if __name__ == "__main__":
    unittest.main()

#!/usr/bin/env python3
"""CHNGLANG through lighttpd, kivoserv and ruvadaemon over the language
families of make_action_libraries (the "lang" folder): which library and
document each language code finds, what the daemon was asked, the
failures, and the switch page's script run in node against stub frames."""

import re
import unittest
import urllib.parse

import kivoserv_answers as ka
import make_action_libraries as mal
from action_web_case import ActionWebCase, script_value
from page_scripts import run_page_scripts

DOC_EN = mal.lang_doc("en")
NETSCAPE_4 = "Mozilla/4.7 [en] (X11; U; Linux 2.4 i686)"


def make_families(out):
    mal.write_folder(out, mal.LANG_LIBRARIES)


class LanguageSwitch(ActionWebCase):
    make_fixtures = staticmethod(make_families)

    @staticmethod
    def daemon_options(fixtures):
        # The trace tells which libraries were looked for.
        return {"library_path": fixtures, "extra_config": "VerboseMode yes\n"}

    def switch(self, library, agent=None, **fields):
        """(status, page text, the daemon's log lines of this request)."""
        before = len(self.d.log_text())
        query = urllib.parse.urlencode([("AC", "CHNGLANG"), ("ID", str(self.ids[library]))] + list(fields.items()))
        headers = {"User-Agent": agent} if agent else None
        status, _, body = self.web.request("GET", query, headers=headers)
        return status, body.decode("latin-1"), self.d.log_text()[before:]

    @staticmethod
    def tries(trace):
        """The language prefixes of the libraries looked for by identifier."""
        return re.findall(r'"MLLIST "\[([A-Z]{2}/)?[A-Z]+\d', trace)

    def values(self, target, query, kivo2=0, title=None):
        hash_id = self.ids[target]
        pd = "'[^|']*\\|%d\\|%s\\|'" % (hash_id, re.escape(target))
        shown = title if title is not None else mal.page_library(target)[0].split(" [")[0]
        return ("^{pd: %s, hashId: '%d', title: '%s', kivo2: %d, plusCoded: 0, query: '%s'}$" %
                (pd, hash_id, re.escape(shown), kivo2, re.escape(query)))

    def test_library_and_document_by_language(self):
        cases = [
            ("SV", "alp_en.kvo", {"FN": DOC_EN, "LU": "sv"}, "alp_sv.kvo", 1,
             "&NF=1551-ABC10101Usv.A.html&SW=1"),
            ("names as listings give them", "alp_en.kvo", {"FN": DOC_EN.lower(), "LU": "sv"}, "alp_sv.kvo", 1,
             "&NF=1551-abc10101usv.a.html&SW=1"),
            ("EN where there is one", "alp_sv.kvo", {"FN": mal.lang_doc("sv"), "LU": "en"}, "alp_en.kvo", 0,
             "&NF=1551-ABC10101Uen.A.html&SW=1"),
            ("EN falls back to AE", "bet_sv.kvo", {"FN": mal.lang_doc("sv"), "LU": "en"}, "bet_ae.kvo", 0,
             "&NF=1551-ABC10101Uen.A.html&SW=1"),
            # The unprefixed document has no code: its listed name is taken.
            ("then to no prefix", "gam_sv.kvo", {"FN": mal.lang_doc("sv"), "LU": "EN"}, "gam.kvo", 0,
             "&NF=1551-abc10101u.a.html&SW=1"),
        ]
        for name, library, fields, target, kivo2, query in cases:
            with self.subTest(name):
                status, page, trace = self.switch(library, **fields)
                self.assertEqual(status, 200)
                self.assertRegex(script_value(page, "kvLangSwitch"), self.values(target, query, kivo2))
                self.assertIn("please stand by for Results!", page)
        # Each English try is one MLLIST, in order, and nothing after the one found.
        _, _, trace = self.switch("gam_sv.kvo", FN=mal.lang_doc("sv"), LU="en")
        self.assertEqual(self.tries(trace), ["EN/", "AE/", ""], trace)

    def test_failures_are_one_message(self):
        cases = [
            ("no other language tried", "bet_sv.kvo", "de",
             "The requested library in the specified language (DE/BET1234567R1A) was not found on this server.",
             "kivohandler/84", ["DE/"]),
            ("every English try fails", "del_sv.kvo", "en",
             "The requested library in the specified language (EN/DEL1234567R1A) was not found on this server.",
             "kivohandler/101", ["EN/", "AE/", ""]),
            ("no identifier in the comment", mal.NO_BRACKETS, "sv",
             "Switching to another language (SV) of the same document failed.", "kivohandler/83", []),
        ]
        for name, library, code, text, tag, tries in cases:
            with self.subTest(name):
                status, page, trace = self.switch(library, FN=DOC_EN, LU=code)
                self.assertEqual(status, 200)
                message = ka.error_message(page.encode("latin-1"))
                self.assertIsNotNone(message, page[:400])
                self.assertIn(text, message)
                self.assertIn("[%s]" % tag, message)
                self.assertEqual(self.tries(trace), tries, trace)

    def test_missing_fields_give_the_generic_message(self):
        cases = [
            ("no LU", "ID=%d&FN=a.html" % self.ids["alp_en.kvo"]),
            ("no ID or DB", "FN=a.html&LU=sv"),
            ("no FN", "ID=%d&LU=sv" % self.ids["alp_en.kvo"]),
        ]
        for name, fields in cases:
            with self.subTest(name):
                out, err, status = self.web.run_cgi(ka.request_env(self.web, "AC=CHNGLANG&" + fields))
                self.assertEqual((status, err), (0, ""))
                head, _, body = out.partition(b"\n\n")
                self.assertEqual(head.lower().count(b"content-type:"), 1, out[:300])
                self.assertNotIn(b"content-type:", body.lower())
                self.assertIn("The request 'CHNGLANG' could not be completed.", ka.error_message(body))

    def load(self, page, forms, agent=None):
        """Where switchLib sends the main frame, with the toolbar's forms."""
        options = {"forms": forms, "top": {"libId": "X"}, "onload": True}
        if agent:
            options["navigator"] = {"userAgent": agent, "appVersion": "4.7", "appName": "Netscape"}
        result = run_page_scripts(page, options)
        self.assertEqual(result["errors"], [])
        self.assertEqual(result["forms"]["sdlinfo"]["LIBSWITCH"], "yes")
        self.assertEqual(len(result["kivomain"]["replaced"]), 1, result["kivomain"])
        return result["kivomain"]["replaced"][0]

    def test_switch_lib_loads_the_other_library(self):
        target = {"ID": str(self.ids["bet_ae.kvo"]), "DB": "bet_ae.kvo"}
        search = {"LU": "en", "ST": "DocSearch", "PA": "a b", "PAD": "x');alert(1);//", "SCH": "TRUE"}
        expected = "?FN=kivo.html&ID=%s&DB=bet_ae.kvo&ST=DocSearch&PAD=x%%27);alert(1);//&PA=%s&NF=SEARCH&SW=1"
        for agent, pa in ((None, "a+b"), (NETSCAPE_4, "a%2Bb")):
            with self.subTest(agent=agent):
                status, page, _ = self.switch("bet_sv.kvo", agent=agent, **search)
                self.assertEqual(status, 200)
                loaded = self.load(page, {"newlib": target}, agent)
                self.assertTrue(loaded.endswith(expected % (target["ID"], pa)), loaded)
                self.assertFalse(loaded.startswith("qzl:"), loaded)
        # kivo2.html, held only by the target, is its start page.
        status, page, _ = self.switch("alp_en.kvo", FN=DOC_EN, LU="sv")
        loaded = self.load(page, {"newlib": {"ID": str(self.ids["alp_sv.kvo"]), "DB": "alp_sv.kvo"}})
        self.assertIn("?FN=kivo2.html&ID=%d&DB=alp_sv.kvo&NF=1551-ABC10101Usv.A.html&SW=1" %
                      self.ids["alp_sv.kvo"], loaded)


if __name__ == "__main__":
    unittest.main()

#!/usr/bin/env python3
"""The link action under lighttpd with ruvadaemon over the action libraries:
a wildcard FN redirected to the member it matches or answered with the
not-found page, a library's frameset by its version, the not-here texts as
the service is configured, the start page, a catchword's results page and
the library of a structure file's sub-folder."""

import html
import re
import unittest
import urllib.parse

import kivoserv_answers as ka
import make_action_libraries as mal
from action_web_case import ActionWebCase, script_value

NOT_FOUND = "The requested document (%s) in the specified library (%s) was not found.<br><br>"
# The not-here texts, byte for byte as the message table holds them.
NOT_HERE_19 = ("The library <b>%s</b> is not available.<br><br>Possible causes:<br><ul><li>The library has been "
               "removed from this server.</li><li>The server has been restarted. Please close your web browser "
               "and reload the application.</li><li>You are using an outdated bookmark. Please use the Bookmark "
               "button in the KIVO toolbar to create persistent bookmarks.</li></ul><br>")
NOT_HERE = {
    17: ("The library <b>%s</b> is not available.<br><br>Possible causes:<br><ul><li>The library has been "
         "removed from this server.</li><li>You do not have access to this product.</li><li>The server has been "
         "restarted. Please close your web browser and reload the application.</li><li>You are using an "
         "outdated bookmark. Please use the Bookmark button in the KIVO toolbar to create persistent "
         "bookmarks.</li></ul><br>"),
    18: NOT_HERE_19 + ("If you have access to several customer portals, please select another portal at the "
                       "portal login.<br><br>"),
    19: NOT_HERE_19,
    20: ("The library <b>%s</b> is not available.<br><br>Possible causes:<br><ul><li>The library has been "
          "deleted from the current Library Directory</li></ul><br>"),
}
UNKNOWN_ID = "987654321"


def frames(page):
    """{frame name: its address's fields} of a frameset page."""
    found = {}
    for src, name in re.findall(r'<frame src="([^"]*)" name="([^"]*)"', page):
        query = urllib.parse.urlsplit(html.unescape(src)).query
        found[name] = dict(urllib.parse.parse_qsl(query, keep_blank_values=True))
    return found


class LinkActionWeb(ActionWebCase):
    def tearDown(self):
        self.configure([])
        super().tearDown()

    def configure(self, lines):
        """kivo.conf with these lines too; the program reads it per request."""
        self.web.conf_lines = list(lines)
        self.web.write_kivo_conf()

    def answer(self, query):
        """(status, {lower-case header name: [values]}, body text) of one request."""
        status, head, body = self.web.request("GET", query)
        headers = {}
        for name, value in head:
            headers.setdefault(name.lower(), []).append(value)
        return status, headers, body.decode("latin-1")

    def error_of(self, query):
        """The message of the one error page the request is answered with."""
        status, headers, body = self.answer(query)
        self.assertEqual(status, 200, body[:500])
        self.assertEqual(len(headers.get("content-type", [])), 1, headers)
        self.assertEqual(body.count("<!--@error-->"), 1, body[:2000])
        return ka.error_message(body.encode("latin-1"))

    def frameset(self, query):
        status, _, body = self.answer(query)
        self.assertEqual(status, 200, body[:2000])
        self.assertNotIn("<!--@error-->", body)
        return body, frames(body)

    def test_wildcard_file_name(self):
        guide = self.ids["guide.kvo"]
        with self.subTest("one match: a redirect to it, named as the listing names it"):
            status, headers, _ = self.answer("AC=LINK&ID=%d&FN=%s" % (guide, urllib.parse.quote(mal.SDI_PATTERN)))
            self.assertEqual(status, 302)
            self.assertEqual(len(headers["location"]), 1, headers)
            fields = dict(urllib.parse.parse_qsl(urllib.parse.urlsplit(headers["location"][0]).query))
            self.assertEqual((fields.get("AC"), fields.get("FN")), ("LINK", "guide_sd1.sgml"), fields)
        cases = [
            ("no match: the library's reference", "ID=%d&FN=*_zz?.sgml" % guide, "*_zz?.sgml", "EN/ABC1234567R1A"),
            ("unknown ID without DB: the ID", "ID=%s&FN=*.html" % UNKNOWN_ID, "*.html", UNKNOWN_ID),
            ("unknown ID with DB: the DB", "ID=%s&DB=nowhere.kvo&FN=x*" % UNKNOWN_ID, "x*", "nowhere.kvo"),
        ]
        for name, query, pattern, library in cases:
            with self.subTest(name):
                self.assertEqual(self.error_of("AC=LINK&" + query),
                                 NOT_FOUND % (pattern, library) + ka.TAG_SPAN % "kivohandler/93")

    def test_library_frameset_by_version(self):
        cases = [
            ("version 20 with kivo2.html", mal.V20, "kivo2.html"),
            ("version 20 without it", mal.V20_BARE, "kivo.html"),
        ]
        for name, library, start in cases:
            with self.subTest(name):
                hash_id = self.ids[library]
                _, found = self.frameset("AC=LINK&ID=%d" % hash_id)
                main = found["kivomain"]
                self.assertEqual((main.get("ac"), main.get("ID"), main.get("FN")), ("LINK", str(hash_id), start),
                                 main)
                self.assertEqual(found["kivotbar"].get("ac"), "toolbar")

    def test_first_edition_and_sub_folder_library(self):
        for library, title in ((mal.V00, "First Edition"), ("guide.kvo", "Guide")):
            with self.subTest(library):
                page, found = self.frameset("AC=LINK&ID=%d" % self.ids[library])
                self.assertIn("<title>%s</title>" % title, page)
                self.assertEqual(found["kivomain"].get("ac"), "BLANK")
                self.assertEqual(script_value(page, "kvLowerMode"), "'oldLib'")
                self.assertIn("FN=kivomain.html", script_value(page, "kvOldLibUrl") or "")

    def test_not_here_by_configuration(self):
        cases = [
            ("no profile, extranet", ["UseExtranet Yes"], 18),
            ("no profile, no extranet", ["UseExtranet No"], 20),
            ("store service", ["ProfileId p1", "servicename Tessaport"], 17),
            ("documentation store", ["ProfileId p1", 'servicename "MYR Store"'], 19),
            ("another service", ["ProfileId p1", "servicename Kivo"], 20),
        ]
        for name, lines, number in cases:
            with self.subTest(name):
                self.configure(lines)
                self.assertEqual(self.error_of("AC=LINK&ID=" + UNKNOWN_ID),
                                 NOT_HERE[number] % UNKNOWN_ID + ka.TAG_SPAN % "kivohandler/9" + "\n")

    def test_long_id_is_cut_before_the_tag(self):
        message = self.error_of("AC=LINK&ID=" + "7" * 3000)
        self.assertEqual(message, NOT_HERE[20] % ("7" * 200 + "...") + ka.TAG_SPAN % "kivohandler/9" + "\n")

    def test_no_library_goes_to_the_start_page(self):
        for query in ("AC=BODY", "AC=LINK&DB="):
            with self.subTest(query):
                status, headers, _ = self.answer(query)
                self.assertEqual(status, 302)
                location = urllib.parse.urlsplit(headers["location"][0])
                self.assertEqual(location.path, "/cgi-bin/kivo")
                self.assertEqual(location.query, "")

    def test_catchword_with_two_hits_gives_the_results_page(self):
        status, headers, body = self.answer("AC=LINK&ID=%d&CW=%s" % (self.ids[mal.LOOKUP], mal.CTW_TWO))
        self.assertEqual(status, 200, body[:2000])
        self.assertNotIn("<!--@error-->", body)
        for title in mal.CTW_TITLES:
            self.assertIn(title, body)


if __name__ == "__main__":
    unittest.main()

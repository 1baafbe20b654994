#!/usr/bin/env python3
"""IMAGE, INFO and COMPEXE through lighttpd, kivoserv and ruvadaemon over the
action libraries (make_action_libraries.make, served by their structure
file): members byte for byte against unzip -p, the information page's cells
and charsets in Chromium, and which pair of libraries a comparison takes.
Pages leave a screenshot in $RUVA_ARTIFACTS."""

import html.parser
import os
import re
import subprocess
import unittest
import urllib.parse

import daemon_harness
import kivoserv_answers as ka
import make_action_libraries as mal
from action_web_case import ActionWebCase


def header(headers, name):
    return [value for key, value in headers if key.lower() == name.lower()]


def unzip_member(path, name):
    return subprocess.run(["unzip", "-p", path, name], check=True, capture_output=True).stdout


class Served(ActionWebCase):
    def query(self, action, library, **fields):
        parts = [("AC", action), ("ID", str(self.ids[library]))] + list(fields.items())
        return urllib.parse.urlencode(parts)

    def error_page(self, query):
        """The one message of an error page that must be the whole answer."""
        status, headers, body = self.web.request("GET", query)
        self.assertEqual(status, 200, query)
        self.assertEqual(header(headers, "content-type"), ["text/html"])
        message = ka.error_message(body)
        self.assertIsNotNone(message, body[:400])
        return message


class Image(Served):
    conf_lines = ("ExpirePeriod 0",)

    def test_members_come_as_unzip_gives_them(self):
        path = self.path(mal.IMAGES)
        for name, mime in ((mal.IMAGE_GIF, "image/gif"), (mal.IMAGE_PLAIN, "application/octet-stream"),
                           (mal.IMAGE_1M, "application/octet-stream")):
            with self.subTest(member=name):
                status, headers, body = self.web.request("GET", self.query("IMAGE", mal.IMAGES, FN=name))
                self.assertEqual(status, 200)
                self.assertEqual(body, unzip_member(path, name))
                self.assertEqual(header(headers, "content-type"), [mime])
                self.assertEqual(header(headers, "content-length"), [str(len(body))])
                # ExpirePeriod 0: no expiry line.
                self.assertEqual(header(headers, "expires"), [])

    def test_head_gets_the_headers_only(self):
        status, headers, body = self.web.request("HEAD", self.query("IMAGE", mal.IMAGES, FN=mal.IMAGE_GIF))
        self.assertEqual(status, 200)
        self.assertEqual(body, b"")
        self.assertEqual(header(headers, "content-type"), ["image/gif"])
        self.assertEqual(header(headers, "content-length"), [str(len(mal.GIF))])

    def test_direct_run_writes_the_exact_answer(self):
        env = ka.request_env(self.web, self.query("IMAGE", mal.IMAGES, FN=mal.IMAGE_GIF))
        out, err, status = self.web.run_cgi(env)
        self.assertEqual((status, err), (0, ""))
        self.assertEqual(out, b"Content-Length: %d\nContent-type: image/gif\n\n" % len(mal.GIF) + mal.GIF)

    def test_failures_are_one_error_page(self):
        cases = [
            ("no FN", self.query("IMAGE", mal.IMAGES), "Image filename not provided.<br><br>", "kivohandler/4"),
            ("a member the library lacks", self.query("IMAGE", mal.IMAGES, FN="gone.gif"),
             "File not found in library, 'gone.gif'.<br><br>", "kivohandler/3"),
            ("a path out of the library", self.query("IMAGE", mal.IMAGES, FN="../x"),
             "File not found in library, '../x'.<br><br>", "kivohandler/3"),
        ]
        for name, query, text, tag in cases:
            with self.subTest(name):
                self.assertEqual(self.error_page(query), text + ka.TAG_SPAN % tag + "\n")

    def test_line_end_in_fn_is_never_sent(self):
        # lighttpd refuses the coded line end itself; a direct run reaches the action.
        env = ka.request_env(self.web, "AC=IMAGE&ID=%d&FN=a%%0Ab" % self.ids[mal.IMAGES])
        out, err, status = self.web.run_cgi(env)
        self.assertEqual((status, err), (0, ""))
        self.assertEqual(out.count(b"Content-type:"), 1)
        self.assertEqual(ka.error_message(out), "File not found in library, 'a\nb'.<br><br>" +
                         ka.TAG_SPAN % "kivohandler/3" + "\n")


class TitleText(html.parser.HTMLParser):
    """The information page's parts by element: h1 and the SUBTITLE lines."""

    def __init__(self):
        super().__init__()
        self.stack = []
        self.h1 = []
        self.subtitles = []

    def handle_starttag(self, tag, attrs):
        self.stack.append((tag, dict(attrs).get("class")))

    def handle_endtag(self, tag):
        while self.stack and self.stack.pop()[0] != tag:
            pass

    def handle_data(self, data):
        if any(t == "h1" for t, _ in self.stack):
            self.h1.append(data)
        if any(c == "SUBTITLE" for _, c in self.stack):
            self.subtitles.append(data)


# The data table's values by caption, and the titles, as the browser shows them.
PAGE_VALUES = """(() => {
  const cells = {};
  for (const s of document.querySelectorAll('span.mcaption')) {
    const td = s.parentElement;
    cells[s.textContent] = td.textContent.slice(s.textContent.length).replace(/\\u00a0/g, ' ');
  }
  return {cells: cells, h1: document.querySelector('h1').textContent,
          subtitles: [...document.querySelectorAll('font.SUBTITLE')].map(f => f.textContent),
          charset: document.characterSet,
          injected_elements: [...document.querySelectorAll('script, svg')].filter(e => e.outerHTML.includes('__p')).length,
          injected: window.__p === undefined ? null : window.__p};
})()"""


class Info(Served):
    with_browser = True

    def page(self, member, library=mal.META, **fields):
        if member is not None:
            fields["FN"] = member
        status, headers, body = self.web.request("GET", self.query("INFO", library, **fields))
        self.assertEqual(status, 200)
        self.assertIsNone(ka.error_message(body), body[:400])
        return body

    def shown(self, member, library=mal.META):
        self.browser.open(self.web.url(self.query("INFO", library, FN=member)))
        values = self.browser.eval(PAGE_VALUES)
        self.browser.screenshot("%s.%s" % (self.id(), member))
        return values

    def test_latin1_page_shows_its_values(self):
        name, metas, _ = mal.META_LATIN1
        body = self.page(name)
        self.assertTrue(body.startswith(b'<?xml version="1.0" encoding="iso-8859-1"?>\n'), body[:80])
        shown = self.shown(name)
        self.assertEqual(shown["h1"], metas["TITLE"])
        self.assertEqual(shown["subtitles"], [metas["SUBTITLE"]])
        want = {"Prepared (also subject responsible if other)": "PREP", "No.": "DOCNO", "Approved": "APPR",
                "Checked": "CHECKED", "Date": "DATE", "Rev": "REV", "Reference": "REF"}
        self.assertEqual(shown["cells"], {caption: metas[key] for caption, key in want.items()})

    def test_euc_jp_page_is_declared_so(self):
        name, metas, _ = mal.META_EUCJP
        body = self.page(name)
        self.assertTrue(body.startswith(b'<?xml version="1.0" encoding="euc-jp"?>\n'), body[:80])
        self.assertIn(b'<meta http-equiv="Content-type" content="text/html; charset=euc-jp">\n', body)
        shown = self.shown(name)
        self.assertEqual(shown["charset"], "EUC-JP")
        # What the browser shows equals python's reading of the page's bytes.
        self.assertEqual(shown["h1"], metas["TITLE"].encode("euc_jp").decode("euc_jp"))
        self.assertEqual(shown["subtitles"], [metas["SUBTITLE"]])
        self.assertEqual(shown["cells"]["Prepared (also subject responsible if other)"], metas["PREP"])

    def test_page_without_meta_has_empty_cells_and_no_subtitles(self):
        body = self.page(mal.META_NONE[0])
        self.assertTrue(body.startswith(b'<?xml version="1.0" encoding="UTF-8"?>\n'), body[:80])
        parser = TitleText()
        parser.feed(body.decode("latin-1"))
        self.assertEqual(parser.subtitles, [])
        self.assertEqual("".join(parser.h1), "\xa0")
        shown = self.shown(mal.META_NONE[0])
        self.assertEqual(set(shown["cells"].values()), {" "})

    def test_meta_after_byte_6143_is_not_seen(self):
        name, metas, _ = mal.META_LATE
        body = self.page(name)
        self.assertNotIn(metas["TITLE"].encode(), body)
        self.assertIn(b'<h1 align="left">&nbsp;</h1>', body)

    def test_hostile_values_stay_text(self):
        shown = self.shown(mal.HOSTILE_META, mal.HOSTILE)
        self.assertEqual(shown["h1"], mal.HOSTILE_META_VALUES["TITLE"])
        self.assertEqual(shown["subtitles"], [mal.HOSTILE_META_VALUES["SUBTITLE"]])
        self.assertIsNone(shown["injected"])
        self.assertEqual(shown["injected_elements"], 0)

    def test_catchword_without_a_hit_is_never_an_empty_information_page(self):
        status, _, body = self.web.request("GET", self.query("INFO", mal.LOOKUP, CW="Nothing"))
        self.assertEqual(status, 200)
        message = ka.error_message(body)
        if message is not None:
            self.assertEqual(message, "No document to get information on.\n.<br><br>" +
                             ka.TAG_SPAN % "kivohandler/24" + "\n")
        self.assertNotIn(b"mcaption", body)
        # One hit is the document the page is about.
        self.assertIn(b"mcaption", self.page(None, mal.LOOKUP, CW=mal.CTW_ONE))

    def test_daemon_down_gives_one_page_with_message_33(self):
        port = daemon_harness.free_port()
        env = ka.request_env(self.web, self.query("INFO", mal.META, FN=mal.META_NONE[0]),
                             RUVA_ADDR="127.0.0.1:%d" % port)
        out, _, status = self.web.run_cgi(env)
        self.assertEqual(status, 0)
        lines, body = ka.split_response(out)
        self.assertEqual(lines[0], "Content-type: text/html")
        self.assertEqual(out.count(b"Content-type:"), 1)
        message = ka.error_message(body)
        self.assertIsNotNone(message, out[:400])
        self.assertTrue(message.startswith("Cannot create session, "), message)
        self.assertTrue(message.endswith("\n.<br><br>" + ka.TAG_SPAN % "kivohandler/22" + "\n"), message)


# The title cell after "Changes in new library" on a comparison report.
NEW_LIBRARY = re.compile(rb"Changes in new library.*?<td[^>]*>(.*?)</td>", re.S)


class Compare(Served):
    def compare(self, **fields):
        query = urllib.parse.urlencode([("AC", "COMPEXE")] + [(k, str(v)) for k, v in fields.items()])
        return self.web.request("GET", query)

    def new_library(self, **fields):
        status, headers, body = self.compare(**fields)
        self.assertEqual(status, 200)
        self.assertIsNone(ka.error_message(body), body[:400])
        self.assertEqual(header(headers, "content-disposition"), ["inline; filename=compare.html"])
        found = NEW_LIBRARY.search(body)
        self.assertIsNotNone(found, body[:2000])
        return found.group(1).decode("latin-1")

    def test_ids_come_before_names(self):
        shown = self.new_library(ID=self.ids["zul.kvo"], IC=self.ids["guide.kvo"], DB="guide.kvo", DC="zul.kvo")
        self.assertIn("Zones", shown)

    def test_id_without_ic_compares_the_names(self):
        shown = self.new_library(ID=self.ids["zul.kvo"], DB="guide.kvo", DC="zul.kvo")
        self.assertIn("Guide", shown)

    def test_empty_ic_gives_message_13(self):
        query = urllib.parse.urlencode([("AC", "COMPEXE"), ("ID", self.ids["zul.kvo"]), ("IC", "")])
        self.assertEqual(self.error_page(query), ka.message(13, "kivohandler/5") + "\n")


if __name__ == "__main__":
    unittest.main()

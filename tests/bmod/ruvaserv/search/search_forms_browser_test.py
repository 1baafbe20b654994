#!/usr/bin/env python3
"""The advanced and document search pages in Chromium, through lighttpd and
kivoserv against ruvadaemon over the libraries of make_search_libraries.py
and one hostile library added here. Every page's form is filled and its
Search button clicked: a stub of HTMLFormElement.submit records what would
go, alert and window.open stubs record the alerts and the help window, all
installed by open's init scripts. Every script of both pages and the script
file pass node --check. Each page leaves a screenshot in $RUVA_ARTIFACTS."""

import html.parser
import json
import os
import re
import shutil
import subprocess
import tempfile
import unittest
import urllib.parse
import zipfile

import daemon_harness as h
import make_search_libraries as msl
import web_harness as wh

SOURCE = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", ".."))
SCRIPT_FILE = os.path.join(SOURCE, "bmod", "ruvaserv", "search", "js", "search_forms.js")

TOOLBAR_LIBRARY = "4711"
STUBS = """
window.__submits = []; window.__alerts = []; window.__opened = [];
HTMLFormElement.prototype.submit = function () {
  var fields = {};
  for (var i = 0; i < this.elements.length; i++) {
    var e = this.elements[i];
    if (e.name) fields[e.name] = e.value;
  }
  window.__submits.push({form: this.name, target: this.target, fields: fields});
};
window.alert = function (m) { window.__alerts.push(String(m)); };
window.open = function (url, name) { window.__opened.push([String(url), String(name)]); return null; };
window.kivotbar = {document: {lib: {ID: {value: '%s'}}}};
""" % TOOLBAR_LIBRARY

ALERTS = {
    "operator": "Search expression may not start with the NOT (-) or OR (|) operator.",
    "wildcards": "Search expression may not contain only wildcard (*,?) characters.",
    "lone": "Wildcard characters (* ?) can be used only as part of a word.\n\n"
            "Example of a valid search pattern: *abc*   d*ef",
    "nothing": "Please enter something to search for",
    "library": "Please select a library to search in.",
}

BUILT_IN = [
    ("15542", "Adaptation Direction (155 42)"), ("15518", "Application Information (155 18)"),
    ("19082", "Command Description (190 82)"), ("10922", "Correction Note (109 22)"),
    ("1551", "Description (1551)"), ("15517", "Function Specification (155 17)"),
    ("1531", "Installation Instruction (1531)"), ("15519", "Interwork Description (155 19)"),
    ("1546", "Job Procedure (1546)"), ("19080", "Manual Page (190 80)"),
    ("1538", "Method Description (1538)"), ("1543", "Operating Instructions (1543)"),
    ("15431", "Operational Instruction (154 31)"), ("19084", "Parameter Description (190 84)"),
    ("19083", "Printout Description (190 83)"), ("10921", "Product Revision Information (109 21)"),
    ("19602", "Table Description (196 02)"), ("1553", "User Guide (1553)"),
]

# A library whose title and document class try to run script.
HOSTILE_LIBRARY = "hostile.kvo"
HOSTILE_TITLE = "<img src=x onerror=window.__p=1>"
HOSTILE_CLASS = '1"><script>window.__p=1</script>'
HOSTILE_TEXT = '";window.__p=1;//'

# Fill the conditions form from a {name: value} object, pick the class, then
# press a button by its label; what the stubs saw.
PRESS = """(() => {
  const form = document.conditions;
  form.reset();
  const values = %s;
  for (const name in values) form.elements[name].value = values[name];
  window.__submits = []; window.__alerts = []; window.__opened = [];
  document.querySelector('input[value="%s"]').click();
  return {submits: window.__submits, alerts: window.__alerts, opened: window.__opened};
})()"""


def make_hostile(folder):
    path = os.path.join(folder, HOSTILE_LIBRARY)
    classes = ("<?xml version=\"1.0\"?>\n<dec-classes>\n  <dc>%s</dc>\n  <dc>190 82</dc>\n</dec-classes>\n"
               % HOSTILE_CLASS).encode("latin-1")
    with zipfile.ZipFile(path, "w") as z:
        z.writestr("dec-classes.xml", classes)
        z.writestr("index.html", b"<html><body>hostile</body></html>\n")
        z.comment = (HOSTILE_TITLE + " [EN/HOSTILE1 R1A]").encode("latin-1")


class Scripts(html.parser.HTMLParser):
    """The text of every <script> element of a page."""

    def __init__(self):
        super().__init__(convert_charrefs=False)
        self.scripts = []
        self._open = None

    def handle_starttag(self, tag, attrs):
        if tag == "script":
            self._open = ""

    def handle_endtag(self, tag):
        if tag == "script" and self._open is not None:
            self.scripts.append(self._open)
            self._open = None

    def handle_data(self, data):
        if self._open is not None:
            self._open += data


def node_check(test, text, name):
    folder = tempfile.mkdtemp(prefix="forms_js_")
    try:
        path = os.path.join(folder, name + ".js")
        with open(path, "w", encoding="latin-1") as f:
            f.write(text)
        done = subprocess.run(["node", "--check", path], capture_output=True, text=True, timeout=60)
        test.assertEqual(done.returncode, 0, done.stderr + text)
    finally:
        shutil.rmtree(folder, ignore_errors=True)


class SearchForms(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="forms_")
        cls.fx = msl.make(os.path.join(cls.tmp, "fx"))
        make_hostile(os.path.join(cls.fx.tree, "docs"))
        cls.daemon = h.Daemon(library_path=cls.fx.structure)
        cls.web = wh.WebServer(daemon=cls.daemon)
        cls.browser = None
        try:
            cls.web.__enter__()
            cls.ids = {name: h.mllist_entry(cls.daemon.port, name)[0]
                       for name in (cls.fx.guide, cls.fx.plain, cls.fx.collection, HOSTILE_LIBRARY)}
            cls.browser = wh.Browser()
            # The pages carry a day's Expires: each open must ask again.
            cls.browser.call("Network.enable")
            cls.browser.call("Network.setCacheDisabled", {"cacheDisabled": True})
        except BaseException:
            cls.tearDownClass()
            raise

    @classmethod
    def tearDownClass(cls):
        try:
            wh.close_all(cls.web, cls.browser)
        finally:
            cls.daemon.stop()
            cls.daemon.cleanup()
            shutil.rmtree(cls.tmp, ignore_errors=True)

    def tearDown(self):
        self.web.check_logs()

    # -- helpers --------------------------------------------------------------
    def fetch(self, query, headers=None):
        status, head, body = self.web.request("GET", query, headers=headers)
        self.assertEqual(status, 200)
        self.assertEqual([v for k, v in head if k.lower() == "content-type"], ["text/html"])
        self.assertFalse([k for k, _ in head if k.lower() == "content-disposition"], head)
        return body.decode("latin-1")

    def check_scripts(self, page, name):
        parser = Scripts()
        parser.feed(page)
        self.assertTrue(parser.scripts)
        for n, script in enumerate(parser.scripts):
            node_check(self, script, "%s_%d" % (name, n))

    def open(self, query, shot):
        errors = self.browser.open(self.web.url(query), scripts=[STUBS])
        self.assertEqual(errors, [])
        self.assertIsNone(self.browser.eval("window.__p"))
        self.browser.screenshot(shot)

    def press(self, values, button="Search"):
        return self.browser.eval(PRESS % (json.dumps(values), button))

    def submitted(self, values):
        seen = self.press(values)
        self.assertEqual(seen["alerts"], [])
        self.assertEqual(len(seen["submits"]), 1, seen)
        return seen["submits"][0]

    def options(self, name):
        return self.browser.eval("Array.from(document.conditions.elements['%s'].options)"
                                 ".map(o => [o.value, o.text])" % name)

    # -- the script file ----------------------------------------------------
    def test_script_file_parses(self):
        with open(SCRIPT_FILE, encoding="latin-1") as f:
            node_check(self, f.read(), "search_forms")

    # -- advanced page -----------------------------------------------------
    def test_advanced_page_offers_the_built_in_classes_and_submits_the_query(self):
        query = "AC=ADVSEARCH&ID=" + self.ids[self.fx.plain]
        page = self.fetch(query)
        self.assertTrue(page.startswith("<?xml"))
        self.check_scripts(page, "advanced")
        self.open(query, self)
        self.assertEqual(self.browser.eval("document.querySelector('h2').textContent"), "Advanced Search")
        self.assertEqual(self.options("ID"), [["", "All Document Types"]] + [list(r) for r in BUILT_IN])
        self.assertEqual(self.browser.eval("isColZul"), 0)
        self.assertIsNone(self.browser.eval("document.conditions.libList || null"))

        sent = self.submitted({"PA": " a ", "FS": "|", "PA2": "b", "PAT": "x", "ID": "1551"})
        self.assertEqual(sent["form"], "queryform")
        self.assertEqual(sent["target"], "kivodoc")
        self.assertEqual(sent["fields"], {
            "ST": "AdvSearch", "AC": "SEARCHMSG", "DO": "1551", "PA": "a|b", "PAT": "x", "PAC": "",
            "PAD": "", "DB": "", "ID": TOOLBAR_LIBRARY, "OD": "0", "BA": "TITLE", "MT": "1", "SP": "1"})
        enter = self.browser.eval("""(() => { const form = document.conditions; form.reset();
            form.PAT.value = 'y'; window.__submits = [];
            form.PAT.dispatchEvent(new KeyboardEvent('keydown', {key: 'Enter', keyCode: 13, bubbles: true}));
            return window.__submits.map(s => s.fields.PAT); })()""")
        self.assertEqual(enter, ["y"])
        cases = [
            ("a phrase left open is closed", {"PAT": '"x'}, {"PAT": '"x"', "PA": ""}),
            ("an operator without text after it is left out", {"PA": "a", "FS": " -", "PA3": "c"}, {"PA": "a&c"}),
            ("NOT between two fields", {"PA": "a", "FS": " -", "PA2": "b"}, {"PA": "a -b"}),
            ("wildcards inside words", {"PA": "*abc*   d*ef", "PAD": "1551-*"}, {"PA": "*abc*   d*ef", "PAD": "1551-*"}),
        ]
        for name, values, want in cases:
            with self.subTest(name):
                fields = self.submitted(values)["fields"]
                self.assertEqual({k: fields[k] for k in want}, want)

    def test_advanced_page_refuses_what_the_search_cannot_take(self):
        self.open("AC=ADVSEARCH&ID=" + self.ids[self.fx.plain], self)
        cases = [
            ({"PA": "-x"}, "operator"), ({"PA": "|x"}, "operator"), ({"PAT": "-x"}, "operator"),
            ({"PA": "*"}, "wildcards"), ({"PAC": "?*"}, "wildcards"),
            ({"PA": "a * b"}, "lone"), ({"PA": "a", "PA2": "x ?"}, "lone"),
            ({}, "nothing"), ({"PA": "   ", "ID": "1551"}, "nothing"),
        ]
        for values, alert in cases:
            with self.subTest(values=values):
                seen = self.press(values)
                self.assertEqual(seen["alerts"], [ALERTS[alert]])
                self.assertEqual(seen["submits"], [])

    def test_advanced_page_of_a_library_with_its_own_classes(self):
        query = "AC=ADVSEARCH&ID=" + self.ids[self.fx.guide]
        self.check_scripts(self.fetch(query), "advanced_classes")
        self.open(query, self)
        self.assertEqual(self.options("ID"), [["", "All Document Types"], ["19082", "Command Description (190 82)"],
                                              ["15517", "Function Specification (155 17)"]])
        self.assertEqual(self.browser.eval("isColZul"), 1)

    def test_collection_page_searches_its_known_libraries(self):
        coll, guide = self.ids[self.fx.collection], self.ids[self.fx.collection_known]
        query = "AC=ADVSEARCH&ID=" + coll
        self.check_scripts(self.fetch(query), "collection")
        self.open(query, self)
        self.assertEqual(self.browser.eval("document.querySelector('h2').textContent"),
                         "Search in Library Collection")
        self.assertEqual(self.options("libList"), [[coll, "Set"], [guide, "Guide"]])
        sent = self.submitted({"PA": "a"})["fields"]
        self.assertEqual((sent["ID"], sent["SL"], sent["PA"]), ('"%s %s"' % (coll, guide), "EN/SET1R1A", "a"))

        self.browser.eval("document.conditions.selectLib[1].checked = true, 0")
        seen = self.browser.eval("""(() => { document.conditions.PA.value = 'a';
            window.__alerts = []; window.__submits = [];
            document.querySelector('input[value="Search"]').click();
            const none = [window.__alerts.slice(), window.__submits.length];
            document.conditions.libList.options[1].selected = true;
            window.__alerts = [];
            document.querySelector('input[value="Search"]').click();
            return [none, window.__alerts, window.__submits.map(s => s.fields.ID)]; })()""")
        self.assertEqual(seen, [[[ALERTS["library"]], 0], [], ['"%s"' % guide]])

    def test_advanced_help_opens_the_help_library(self):
        self.open("AC=ADVSEARCH&ID=" + self.ids[self.fx.plain], self)
        opened = self.press({}, "Help")["opened"]
        self.assertEqual(len(opened), 1)
        fields = urllib.parse.parse_qs(urllib.parse.urlsplit(opened[0][0]).query)
        self.assertEqual((fields["DB"], fields["FN"], fields["CH"]), ([self.fx.help], ["help.html"], ["DBadvanced"]))

    def test_switches_follow_the_cookies_only_when_they_say_0_or_1(self):
        query = "AC=ADVSEARCH&ID=" + self.ids[self.fx.plain]
        cases = [("showAllTitles=0; showContext=0", "0", "0"), ("showAllTitles=0; showContext=1", "0", "1"),
                 ('showAllTitles=1"><b>; showContext=\');window.__p=1;//', "1", "1"),
                 ("showAllTitles=2; showContext=", "1", "1")]
        for cookie, mt, sp in cases:
            with self.subTest(cookie=cookie):
                page = self.fetch(query, {"Cookie": cookie})
                self.assertIn('<input type="hidden" name="MT" value="%s" />' % mt, page)
                self.assertIn('<input type="hidden" name="SP" value="%s" />' % sp, page)
        url = self.web.url("")
        cookies = [("showAllTitles", "0"), ("showContext", "0")]
        hostile = [("showAllTitles", '1"><b>'), ("showContext", "'),window.__p=1,//")]
        for jar, want in ((cookies, ("0", "0")), (hostile, ("1", "1"))):
            with self.subTest(jar=jar):
                for name, value in jar:
                    self.browser.call("Network.setCookie", {"name": name, "value": value, "url": url})
                try:
                    self.open(query, self.id() + "_" + want[0])
                    fields = self.submitted({"PA": "a"})["fields"]
                finally:
                    self.browser.call("Network.clearBrowserCookies")
                self.assertEqual((fields["MT"], fields["SP"]), want)

    # -- document page -------------------------------------------------------
    def test_document_page_over_all_libraries(self):
        query = "AC=DOCSEARCH"
        page = self.fetch(query)
        self.assertTrue(page.startswith("<?xml"))
        self.check_scripts(page, "document_all")
        self.open(query, self)
        self.assertEqual(self.browser.eval("[document.title, document.querySelector('h2').textContent]"),
                         ["Search for documents in all libraries"] * 2)
        self.assertIsNone(self.browser.eval("document.conditions.PA || null"))
        sent = self.submitted({"PAT": "x"})
        self.assertEqual(sent["target"], "")
        self.assertEqual(sent["fields"], {
            "ST": "DocSearch", "LIBIDS": "*.kvo", "PROFILE": "1", "AC": "SEARCHMSG", "DO": "", "PAT": "x",
            "PAC": "", "PAD": "", "OD": "0", "BA": "TITLE", "MT": "1", "SP": "1", "DB": ""})
        self.assertEqual(self.press({})["alerts"], [ALERTS["nothing"]])

    def test_document_page_libraries_from_the_profile(self):
        cases = [("PROFILE=12%7C34%7C", '"12 34 "'), ("PROFILE=12%7C", "12"), ("PRID=p7", "p7"),
                 ("PRID=1", "*.kvo")]
        for query, libids in cases:
            with self.subTest(query):
                self.open("AC=DOCSEARCH&" + query, self.id() + "_" + libids.strip('"* '))
                self.assertEqual(self.submitted({"PAD": "1551*"})["fields"]["LIBIDS"], libids)

    def test_document_page_over_selected_libraries(self):
        h1, h2 = self.ids[self.fx.guide], self.ids[self.fx.plain]
        query = "AC=DOCSEARCH&LIBCOUNT=2&LIB1=%s&LIB2=%s" % (h1, h2)
        self.check_scripts(self.fetch(query), "document_selected")
        self.open(query, self)
        self.assertEqual(self.browser.eval("document.querySelector('h2').textContent"),
                         "Search for documents in selected libraries")
        self.assertEqual(self.browser.eval("Array.from(document.querySelectorAll('li')).map(l => l.textContent)"),
                         ["Guide", "Other"])
        fields = self.submitted({"PA": "a", "FS": "&", "PA2": "b"})["fields"]
        self.assertEqual((fields["LIBIDS"], fields["PROFILE"], fields["PA"]), ('"%s %s"' % (h1, h2), "0", "a&b"))

    def test_document_help_and_profile_cookie(self):
        self.open("AC=DOCSEARCH&prid=p1", self)
        self.assertIn("Help=p1", self.browser.eval("document.cookie").split("; "))
        opened = self.press({}, "Help")["opened"]
        self.assertEqual(len(opened), 1)
        fields = urllib.parse.parse_qs(urllib.parse.urlsplit(opened[0][0]).query)
        self.assertEqual((fields["DB"], fields["FN"], fields["CH"]), ([self.fx.help], ["help.html"], ["LBmultiple"]))

    def test_document_page_bounds_the_library_count(self):
        page = self.fetch("AC=DOCSEARCH&LIBCOUNT=2000000000")
        self.assertIn("<h2>Search for documents in all libraries</h2>", page)

    # -- hostile input -------------------------------------------------------
    def test_hostile_values_run_no_script(self):
        hostile = urllib.parse.quote(HOSTILE_TEXT, safe="")
        queries = [
            ("advanced", "AC=ADVSEARCH&ID=" + self.ids[HOSTILE_LIBRARY]),
            ("selected", "AC=DOCSEARCH&LIBCOUNT=2&LIB1=%s&LIB2=12%%5C" % self.ids[HOSTILE_LIBRARY]),
            ("profile", "AC=DOCSEARCH&PROFILE=%s&prid=%s" % (hostile, hostile)),
            ("prid", "AC=DOCSEARCH&prid=%s" % hostile),
        ]
        for name, query in queries:
            with self.subTest(name):
                page = self.fetch(query)
                self.check_scripts(page, "hostile_" + name)
                self.open(query, self.id() + "_" + name)
                self.press({"PAT": "x"})
                self.assertIsNone(self.browser.eval("window.__p"))
        self.open(queries[0][1], self.id() + "_classes")
        self.assertIn(HOSTILE_CLASS, [value for value, _ in self.options("ID")])
        self.open(queries[1][1], self.id() + "_title")
        self.assertIn(HOSTILE_TITLE, self.browser.eval("document.querySelector('li').textContent"))
        fields = self.submitted({"PA": "a"})["fields"]
        self.assertEqual(fields["LIBIDS"], '"%s 12\\"' % self.ids[HOSTILE_LIBRARY])
        self.open(queries[2][1], self.id() + "_fields")
        self.assertEqual(self.submitted({"PAT": "x"})["fields"]["LIBIDS"], "&#34;;window.__p=1;&#47;&#47;")


class DaemonDown(unittest.TestCase):
    """The advanced page with no daemon to ask: one error page."""

    def test_advanced_page_without_daemon_is_one_error_page(self):
        port = h.free_port()
        with wh.WebServer(conf_lines=["RuvaDaemon 127.0.0.1:%d" % port]) as web:
            status, head, body = web.request("GET", "AC=ADVSEARCH&ID=12")
            web.check_logs()
        page = body.decode("latin-1")
        self.assertEqual(status, 200)
        self.assertEqual(len([k for k, _ in head if k.lower() == "content-type"]), 1)
        self.assertEqual(page.count("<!--@error-->"), 1)
        self.assertEqual(page.count("<html"), 1)
        self.assertIn("Cannot create session", page)
        self.assertIn("SearchActions/7.1", page)


if __name__ == "__main__":
    unittest.main()

#!/usr/bin/env python3
"""The annotation pages in Chromium, served by lighttpd, kivoserv and the real
ruvadaemon over the page-library fixture ($PAGE_LIBRARIES/lib): the
annotations page of a document annotated in two revisions, and the edit form
new, stored and joined, with its checks and a save. Each page leaves a
screenshot in $RUVA_ARTIFACTS."""

import json
import os
import time
import unittest
import urllib.parse

import annotation_records as ar
import daemon_harness
import web_harness as wh

DOC = "1551-ABC10101Uen.A.html"
CHAPTERS = ["0", "2", "9", "10"]

# window.open recorded instead of opening: the edit window's address and name.
RECORD_OPEN = "window.__opened = []; window.open = function (u, n) { window.__opened.push([String(u), n]); };"


def page_libraries(*parts):
    return os.path.join(os.environ["PAGE_LIBRARIES"], *parts)


def members():
    found = []
    for rev in ("A", "B"):
        for chapter in CHAPTERS:
            found.append(("1551-ABC10101Uen.%s.%s" % (rev, chapter),
                          ar.record(header="h" + rev + chapter, chapter=chapter, docrev=rev, text="t" + rev + chapter)))
    return found


class AnnotationPagesInChromium(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.daemon = daemon_harness.Daemon(lib=page_libraries("lib"), start=False)
        ar.install(cls.daemon, members())
        cls.daemon.start()
        cls.web = wh.WebServer(daemon=cls.daemon, env={"TZ": "UTC"})
        cls.browser = None
        try:
            cls.web.__enter__()
            cls.browser = wh.Browser()
        except BaseException:
            cls.tearDownClass()
            raise

    @classmethod
    def tearDownClass(cls):
        try:
            if cls.web.root is not None:
                wh.close_all(cls.web, cls.browser)
        finally:
            cls.daemon.stop()
            left = cls.daemon.leftovers()
            cls.daemon.cleanup()
            assert left == [], left

    def tearDown(self):
        self.web.check_logs()

    def url(self, **fields):
        return self.web.url(urllib.parse.urlencode(fields))

    def test_annotations_page(self):
        b = self.browser
        # As the document frame asks for it: the header links carry the library.
        library = daemon_harness.mllist_entry(self.daemon.port, "guide.kvo")[0]
        errors = b.open(self.url(AC="ANNOTS", FN=DOC, ID=library), scripts=[RECORD_OPEN])
        b.screenshot(self.id())
        self.assertEqual(errors, [])
        self.assertEqual(b.eval("document.title"), "Annotations for 1551-ABC 101 01 Uen")
        rows = b.eval("""[...document.querySelectorAll('a[href*="#CHAPTER"]')].map(a => {
            const cells = a.closest('tr').cells;
            return [a.textContent, cells[0].textContent, cells[1].textContent, a.href];
        })""")
        self.assertEqual([r[0] for r in rows], ["hB0", "hB2", "hB9", "hB10", "hA0", "hA2", "hA9", "hA10"])
        self.assertEqual([r[1] for r in rows], ["B", "", "", "", "A", "", "", ""])
        self.assertEqual([r[2] for r in rows], ["", "2", "9", "10"] * 2)
        for header, _, _, href in rows:
            parts = urllib.parse.urlsplit(href)
            self.assertEqual(parts.fragment, "CHAPTER" + header[2:])
            status, _, body = self.web.request("GET", parts.query)
            self.assertEqual(status, 200, href)
            self.assertNotIn(b"<!--@error-->", body)

        opened = b.eval("""(() => {
            document.querySelectorAll('input[value="Edit"]').forEach(e => e.click());
            return window.__opened; })()""")
        self.assertEqual([name for _, name in opened], ["annoed"] * 8)
        for (address, _), header in zip(opened, [r[0] for r in rows]):
            query = urllib.parse.parse_qs(urllib.parse.urlsplit(address).query)
            self.assertEqual(query["FN"], ["1551-ABC10101Uen.%s.html" % header[1]], address)
            self.assertEqual(query["AN"], [header[2:]])
            self.assertEqual(query["AC"], ["ANNOED"])

    def form(self):
        return self.browser.eval("""(() => {
            const f = document.forms.edannot;
            return {method: f.method, ac: f.AC.value, anType: f.AN.type, anMax: f.AN.maxLength, av: f.AV.value,
                    uz: !!f.UZ,
                    buttons: [...f.querySelectorAll('input[type=submit], input[type=button]')].map(e => e.value)};
        })()""")

    def test_edit_forms(self):
        b = self.browser
        cases = [
            ("new", {"AC": "ANNOED", "FN": DOC, "AN": "NEW"}, [],
             {"method": "post", "ac": "ANNOCR", "anType": "text", "anMax": 10, "av": "0", "uz": False,
              "buttons": ["Save", "Show Document", "Cancel"]}),
            ("stored", {"AC": "ANNOED", "FN": DOC, "AN": "2"}, [],
             {"method": "post", "ac": "ANNOUP", "anType": "hidden", "anMax": -1, "uz": False,
              "buttons": ["Save", "Remove", "Show Document", "Cancel"]}),
            ("joined", {"AC": "ANNOCR", "FN": DOC, "AN": "9", "AU": "u", "AH": "h", "AT": "new"},
             ["dialog: alert An annotation already exists for this chapter or document. Both texts are shown; "
              "Replace will replace the stored annotation."],
             {"method": "post", "ac": "ANNOUP", "anType": "hidden", "anMax": -1, "uz": False,
              "buttons": ["Replace", "Remove", "Show Document", "Cancel"]}),
        ]
        for name, fields, dialogs, want in cases:
            with self.subTest(name):
                errors = b.open(self.url(**fields))
                b.screenshot("%s_%s" % (self.id(), name))
                self.assertEqual(errors, dialogs)
                found = self.form()
                found["buttons"] = sorted(found["buttons"])
                want["buttons"] = sorted(want["buttons"])
                if "av" not in want:
                    self.assertRegex(found.pop("av"), "^[0-9a-f]{8}$")
                self.assertEqual(found, want)

    def test_checks_and_a_save(self):
        b = self.browser
        self.assertEqual(b.open(self.url(AC="ANNOED", FN=DOC, AN="NEW")), [])
        self.assertIs(b.eval("""(() => { const f = document.forms.edannot;
            f.AU.value = ''; f.AH.value = 'h'; return f.onsubmit(); })()"""), False)
        self.assertEqual(b.errors, ["dialog: alert You must specify your name or signature !"])
        b.errors.clear()
        b.eval("""(() => { const f = document.forms.edannot;
            f.AU.value = 'Ann'; f.AH.value = 'Saved'; f.AN.value = '5'; f.AT.value = 'a & c';
            if (f.onsubmit()) f.submit(); })()""")
        b.wait_event("Page.loadEventFired")
        b.screenshot(self.id())
        self.assertEqual(b.errors, [])
        self.assertIn("Action done", b.eval("document.body.textContent"))
        saved = ar.fields_of(ar.read_archive(ar.archive_path(self.daemon))["1551-ABC10101Uen.A.5"])
        self.assertEqual((saved["header"], saved["text"]), (b"Saved", b"a & c"))

    def test_window_save_reloads_the_document(self):
        library = daemon_harness.mllist_entry(self.daemon.port, "guide.kvo")[0]
        # The other cases see the fixture's members only.
        self.addCleanup(self.web.request, "GET", urllib.parse.urlencode({"AC": "ANNORM", "FN": DOC, "AN": "1"}))
        with wh.Browser(accept_dialogs=True) as b:
            self.assertEqual(b.open(self.url(AC="LINK", ID=library, FN=DOC, AN="ALL")), [])
            self.assertNotIn("Saved one", b.eval("document.body.textContent"))
            b.eval("openAnEd(%s)" % json.dumps(self.url(AC="ANNOED", ID=library, FN=DOC, AN="1")), gesture=True)
            w = b.popup("annoed")
            self.wait_for(w, "document.readyState == 'complete' && !!document.forms.edannot")
            click_save = "document.forms.edannot.querySelector('input[value=Save]').click()"
            w.eval("document.forms.edannot.AU.value = ''; document.forms.edannot.AH.value = 'h'; " + click_save)
            self.assertEqual(b.dialogs, ["dialog: alert You must specify your name or signature !"])
            self.assertFalse(w.closed())
            w.eval("(() => { const f = document.forms.edannot; f.AU.value = 'Ann'; f.AH.value = 'Saved one'; "
                   "f.AT.value = 'From the window'; })(); " + click_save)
            w.wait_closed()
            b.wait_event("Page.loadEventFired")
            b.screenshot(self.id())
            self.assertEqual(b.errors, [])
            self.assertEqual(len(b.dialogs), 1)
            text = b.eval("document.body.textContent")
            self.assertIn("Saved one", text)
            self.assertIn("From the window", text)
        saved = ar.fields_of(ar.read_archive(ar.archive_path(self.daemon))["1551-ABC10101Uen.A.1"])
        self.assertEqual((saved["user"], saved["header"]), (b"Ann", b"Saved one"))

    def wait_for(self, window, condition, timeout=20):
        deadline = time.time() + timeout
        while not window.eval(condition):
            self.assertLess(time.time(), deadline, condition)
            time.sleep(0.1)

    def test_japanese_pages_declare_euc_jp(self):
        b = self.browser
        for fields in ({"AC": "ANNOTS"}, {"AC": "ANNOED", "AN": "NEW"}):
            with self.subTest(fields["AC"]):
                self.assertEqual(b.open(self.url(FN="1551-ABC10101Uja.A.html", **fields)), [])
                self.assertEqual(b.eval("document.characterSet"), "EUC-JP")


if __name__ == "__main__":
    unittest.main()

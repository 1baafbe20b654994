#!/usr/bin/env python3
"""The comparison's pages under lighttpd with ruvadaemon over two revisions
of a library, a library holding the compare marker's page and libraries
with hostile comments: the selection page's order and forms, the swap from
ID/IC and from LI/LC, the whole road from the marker's button to the report
in Chromium, hostile titles kept as text, and the search waiting page
reloading itself as the search."""

import html.parser
import os
import re
import shutil
import socket
import tempfile
import time
import unittest
import urllib.parse

import make_action_libraries as mal
import web_harness
from action_web_case import ActionWebCase

OLD_TITLE = "Old Library"
NEW_TITLE = "New Library"
OLD_REF = "EN/LZN 901 0001 R1A"
NEW_REF = "EN/LZN 901 0001 R2A"

# Hostile comments carry brackets, so that their title and reference reach
# the selection page; each has a harmless twin of the same shape.
HOSTILE = [("himg.kvo", '<img src=x onerror="window.__pwned=1"> [EN/<script>window.__pwned=1</script>R1A]', 3),
           ("hmark.kvo", "%s & B [EN/MRK1234567R1A]", 4)]
PLAIN = [("pimg.kvo", "Image text [EN/IMG1234567R1A]", 3),
         ("pmark.kvo", "Marker text and B [EN/MRK1234567R1A]", 4)]

# The selection page's rows: (title, reference) after each header.
ROW = re.compile(r"<tr><td>(.*?)</td><td>(.*?)</td><td>(\d{4}-\d\d-\d\d)</td></tr>")


class TagCounter(html.parser.HTMLParser):
    def __init__(self):
        super().__init__()
        self.tags = {}

    def handle_starttag(self, tag, attrs):
        self.tags[tag] = self.tags.get(tag, 0) + 1


def tag_counts(page):
    counter = TagCounter()
    counter.feed(page)
    return counter.tags


def hidden(page, form, name):
    """The value of a hidden field of the named form."""
    start = page.index('<form name="%s"' % form)
    m = re.compile(r'<input type="hidden" name="%s" value="([^"]*)"' % name).search(page, start)
    return m.group(1) if m else None


class ComparePagesWeb(ActionWebCase):
    with_browser = True
    web_env = {"TZ": "UTC"}

    @classmethod
    def setUpClass(cls):
        # Nothing may connect here: a marker in a title must stay text.
        cls.listener = socket.socket()
        try:
            cls.listener.bind(("127.0.0.1", 0))
            cls.listener.listen(1)
            cls.listener.setblocking(False)
            super().setUpClass()
        except BaseException:
            cls.listener.close()
            raise

    @classmethod
    def tearDownClass(cls):
        try:
            super().tearDownClass()
        finally:
            cls.listener.close()

    @classmethod
    def make_fixtures(cls, path):
        port = cls.listener.getsockname()[1]
        libraries = [(name, comment % port if "%s" in comment else comment, [("index.html", mal.PAGE)])
                     for name, comment, _ in HOSTILE + PLAIN]
        mal.write_folder(path, libraries, [day for _, _, day in HOSTILE + PLAIN])
        given = os.environ.get("ACTION_LIBRARIES")
        scratch = None if given else tempfile.mkdtemp(prefix="cmpsrc_")
        try:
            source = os.path.join(given, mal.COMPARE_DIR) if given else mal.make_compare(scratch)
            for name in (mal.COMPARE_OLD, mal.COMPARE_NEW, mal.COMPARE_START):
                # copy2 keeps the times that order the revisions.
                shutil.copy2(os.path.join(source, name), os.path.join(path, name))
        finally:
            if scratch:
                shutil.rmtree(scratch, ignore_errors=True)

    @staticmethod
    def daemon_options(fixtures):
        return {"library_path": fixtures}

    def get(self, query):
        status, _, body = self.web.request("GET", query)
        self.assertEqual(status, 200, query)
        return body.decode("latin-1")

    def select_page(self, **fields):
        return self.get(urllib.parse.urlencode(dict(AC="COMPSEL", **fields)))

    def wait_page(self, condition, what, timeout=30):
        """Waits until the page has loaded and condition (a script expression) holds."""
        deadline = time.time() + timeout
        last = None
        while time.time() < deadline:
            try:
                last = self.browser.eval("location.href")
                if self.browser.eval("document.readyState == 'complete' && !!(%s)" % condition):
                    return last
            except web_harness.BrowserError:
                pass  # between two documents
            time.sleep(0.1)
        self.fail("%s: still at %s" % (what, last))

    def shown_order(self, page):
        rows = ROW.findall(page)
        self.assertEqual(len(rows), 2, page)
        return [title for title, _, _ in rows]

    def test_select_rows_by_time_and_order(self):
        old, new = str(self.ids[mal.COMPARE_OLD]), str(self.ids[mal.COMPARE_NEW])
        cases = [("IC newer", dict(ID=old, IC=new), [NEW_TITLE, OLD_TITLE], (new, old)),
                 ("IC older", dict(ID=new, IC=old), [NEW_TITLE, OLD_TITLE], (new, old)),
                 ("OP=NOTIME", dict(ID=old, IC=new, OP="NOTIME"), [OLD_TITLE, NEW_TITLE], (old, new)),
                 ("OP=notime", dict(ID=old, IC=new, OP="notime"), [OLD_TITLE, NEW_TITLE], (old, new))]
        for name, fields, order, send in cases:
            with self.subTest(name):
                page = self.select_page(**fields)
                self.assertEqual(self.shown_order(page), order)
                self.assertEqual((hidden(page, "send", "ID"), hidden(page, "send", "IC")), send)
                self.assertEqual(hidden(page, "send", "AC"), "COMPMSG")
                self.assertIn("<td>%s</td><td>2020-01-03</td>" % NEW_REF, page)
                self.assertIn("<td>%s</td><td>2020-01-02</td>" % OLD_REF, page)

    def test_select_without_both_ids(self):
        page = self.get("AC=COMPSEL&ID=%d" % self.ids[mal.COMPARE_OLD])
        self.assertIn("Could not find library identifiers in the incoming URL.", page)
        self.assertIn("[kivohandler/63.1]", page)

    def test_hostile_titles_stay_text(self):
        def ids(names):
            return dict(ID=self.ids[names[0][0]], IC=self.ids[names[1][0]])

        hostile = self.select_page(**ids(HOSTILE))
        plain = self.select_page(**ids(PLAIN))
        self.assertEqual(tag_counts(hostile), tag_counts(plain))
        self.assertNotIn("<!--@@", hostile)
        self.assertIn("&lt;img src=x onerror=&quot;window.__pwned=1&quot;&gt;", hostile)
        url = self.web.url(urllib.parse.urlencode(dict(AC="COMPSEL", **ids(HOSTILE))))
        self.assertEqual(self.browser.open(url), [])
        self.assertEqual(self.browser.eval("typeof window.__pwned"), "undefined")
        with self.assertRaises(BlockingIOError):
            self.listener.accept()

    def swap(self, query, first_new, shot=None):
        """Opens the selection page, checks the order, swaps, and checks it turned."""
        self.assertEqual(self.browser.open(self.web.url(query)), [])
        if shot:
            self.browser.screenshot(shot)
        shown = self.browser.eval("document.forms['send'].ID.value")
        self.assertEqual(shown, str(self.ids[first_new]))
        self.browser.eval("swapLibraries()")
        other = mal.COMPARE_OLD if first_new == mal.COMPARE_NEW else mal.COMPARE_NEW
        self.wait_page("location.href.indexOf('OP=notime') >= 0 && document.forms['send'] && "
                       "document.forms['send'].ID.value == '%d'" % self.ids[other], "swap")
        self.assertEqual(self.browser.eval("document.forms['send'].IC.value"), str(self.ids[first_new]))
        self.assertEqual(self.browser.errors, [])

    def test_swap_from_ids_and_from_references(self):
        old, new = self.ids[mal.COMPARE_OLD], self.ids[mal.COMPARE_NEW]
        self.swap("AC=COMPSEL&ID=%d&IC=%d" % (old, new), mal.COMPARE_NEW, self.id())
        self.swap(urllib.parse.urlencode(dict(AC="COMPSEL", LI=OLD_REF, LC=NEW_REF)), mal.COMPARE_NEW)
        # Swapped once more, the order holds as the swap fixed it.
        self.browser.eval("swapLibraries()")
        self.wait_page("document.forms['send'] && document.forms['send'].ID.value == '%d'" % new, "swap back")

    def test_execute_sends_the_shown_order_and_options(self):
        old, new = self.ids[mal.COMPARE_OLD], self.ids[mal.COMPARE_NEW]
        self.assertEqual(self.browser.open(self.web.url("AC=COMPSEL&ID=%d&IC=%d" % (old, new))), [])
        self.browser.eval("document.forms['Selection'].codpod.checked = true;"
                          "document.forms['Selection'].DDC.value = '19082';"
                          "document.querySelector('input[value=\"  Execute  \"]').click()")
        url = self.wait_page("/AC=COMPEXE/.test(location.href) && document.body", "report", timeout=60)
        query = urllib.parse.parse_qs(urllib.parse.urlsplit(url).query)
        self.assertEqual((query["ID"][-1], query["IC"][-1]), (str(new), str(old)))
        self.assertEqual((query["CP"], query["DDC"]), (["codpod"], ["19082"]))
        self.assertIn(NEW_TITLE, self.browser.eval("document.body.innerText"))
        self.assertEqual(self.browser.errors, [])

    def test_compare_road_from_the_marker(self):
        start = self.web.url("DB=%s&FN=%s" % (mal.COMPARE_START, mal.COMPARE_PAGE))
        self.assertEqual(self.browser.open(start), [])
        self.browser.eval("document.querySelector('input[value=\"  Compare libraries... \"]').click()")
        self.wait_page("document.forms['Selection'] && document.forms['Selection'].DC", "selection form")
        options = self.browser.eval("Array.from(document.forms['Selection'].DB.options).map(o => o.value)")
        self.assertIn(mal.COMPARE_NEW, options)
        self.assertIn(mal.COMPARE_OLD, options)
        self.browser.eval("document.forms['Selection'].DB.value = '%s';"
                          "document.forms['Selection'].DC.value = '%s';"
                          "document.querySelector('input[type=submit]').click()"
                          % (mal.COMPARE_NEW, mal.COMPARE_OLD))
        url = self.wait_page("/AC=COMPEXE/.test(location.href) && document.body", "report", timeout=60)
        query = urllib.parse.parse_qs(urllib.parse.urlsplit(url).query)
        self.assertEqual(query["DB"][-1], mal.COMPARE_NEW)
        self.assertEqual(query["DC"][-1], mal.COMPARE_OLD)
        text = self.browser.eval("document.body.innerText")
        self.assertIn(NEW_TITLE, text)
        self.assertIn(OLD_TITLE, text)
        self.assertEqual(self.browser.errors, [])
        self.browser.screenshot(self)

    def test_search_waiting_page_loads_the_search(self):
        query = "ac=searchmsg&ST=DocSearch&PA=search&ID=%d" % self.ids[mal.COMPARE_NEW]
        page = self.get(query)
        self.assertIn('<div id="horizon" class="c51">', page)
        self.browser.open(self.web.url(query))
        url = self.wait_page("/[?&]AC=SEARCH(&|$)/.test(location.href)", "search")
        self.assertNotIn("searchmsg", url.lower())
        self.assertEqual([e for e in self.browser.errors if "favicon" not in e], [])


if __name__ == "__main__":
    unittest.main()

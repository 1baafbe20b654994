#!/usr/bin/env python3
"""The list writers' pages in Chromium, with realistic and with hostile
request values: clicking every link and check box opens no dialog and raises
no error, every link and script argument decodes to the request's values,
and the row icons load from kivoserv. Each page leaves a screenshot."""

import os
import re
import subprocess
import tempfile
import unittest
import urllib.parse

import web_harness as wh

HOSTILE = "'\"\\</script><img src=x onerror=alert(1)>');alert(1);//"

# Runs before the page's own scripts: the results page's functions and the
# toolbar frame are not there, so stand-ins record what the page hands them,
# and no click navigates.
STUBS = r"""
window.__calls = [];
window.__hrefs = [];
for (const name of ['openDoc', 'sortdisplay', 'sortdisplayMulti', 'setCookie', 'setCookieMulti']) {
  window[name] = function () { window.__calls.push([name, ...Array.from(arguments).map(String)]); };
}
window.kivotbar = {document: {lib: {}}};
document.addEventListener('click', function (e) {
  const a = e.target.closest ? e.target.closest('a') : null;
  if (a) { window.__hrefs.push(a.href); e.preventDefault(); }
}, true);
"""

CLICK_ALL = """(() => {
  const links = [...document.querySelectorAll('a')];
  const boxes = [...document.querySelectorAll('input[type=checkbox]')];
  for (const el of links.concat(boxes)) el.click();
  return [links.length, boxes.length];
})()"""

ROW_ICONS = """[...document.querySelectorAll('img')].filter(i => i.src.includes('AC=TBIMG'))
  .map(i => [i.src, i.complete, i.naturalWidth])"""

# Fields the writers fill with fixed words or numbers, never with outside text.
FIXED = re.compile(r"^[A-Za-z0-9*.]*$")
FIXED_FIELDS = {"AC", "SS", "VR", "IM", "OD", "MT", "SP", "ID", "PROFILE"}
ROW_SEARCH_TYPES = {"Title", "Catchword", "DocNo", "FOLDER", "Topictitle"}


def decode(text):
    """As the front end decodes its input: '+' is a blank, %XY the byte."""
    return urllib.parse.unquote_to_bytes(text.replace("+", " ")).decode("latin-1")


def fields(address):
    """(query fields [(name, value)], fragment) of an address, decoded."""
    address, _, fragment = address.partition("#")
    _, _, query = address.partition("?")
    pairs = [part.partition("=") for part in query.split("&") if part]
    return [(name, decode(value)) for name, _, value in pairs], decode(fragment)


def keyword_anchor(token):
    return token.replace('"', "").strip().upper().replace(" ", "_")


class ListPageInChromium(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix="rlp_")
        cls.web = wh.WebServer()
        cls.web.__enter__()
        try:
            cls.browser = wh.Browser()
        except BaseException:
            cls.web.__exit__(None, None, None)
            raise

    @classmethod
    def tearDownClass(cls):
        cls.browser.close()
        cls.web.__exit__(None, None, None)
        cls.tmp.cleanup()
        assert cls.web.leftovers() == [], cls.web.leftovers()

    def write_page(self, mode, hostile):
        name = "%s%s" % (mode, "-hostile" if hostile else "")
        page = os.path.join(self.tmp.name, name + ".html")
        values = os.path.join(self.tmp.name, name + ".values")
        base = self.web.url("") + "?"
        subprocess.run([os.environ["LIST_PAGES"], mode, page, "--base", base, "--values", values]
                       + (["--hostile"] if hostile else []), check=True, timeout=30)
        with open(values, "rb") as f:
            listed = dict(line.partition("=")[::2] for line in f.read().decode("latin-1").splitlines())
        with open(page, "rb") as f:
            self.assertNotIn(b"qzl:/kivo?", f.read())
        return page, listed

    def expected(self, listed, hostile):
        """What each field may decode to: the value list's values, and the
        library, file names and tokens the page's rows were written with."""
        row = HOSTILE if hostile else None
        libs = {row} if hostile else {"lib2", "123", "17"}
        allowed = {name: {value} for name, value in listed.items()}
        allowed.setdefault("DB", set()).update(libs)
        allowed["LI"] = libs
        allowed.setdefault("ST", set()).update(ROW_SEARCH_TYPES)
        allowed.setdefault("PA", set()).update({listed[k] for k in ("PAOR",) if k in listed})
        tokens = [HOSTILE] if hostile else ["a b", "c"]
        anchors = {"SearchMatch1", ""} | {"KW:" + keyword_anchor(t) for t in tokens}
        anchors |= {"CHAPTER" + n for n in ([HOSTILE] if hostile else ["12", "3"])}
        return allowed, anchors

    def check_address(self, address, allowed, anchors, seen):
        found, fragment = fields(address)
        for name, value in found:
            if name in FIXED_FIELDS:
                self.assertRegex(value, FIXED, "%s in %s" % (name, address))
            elif name == "FN":
                self.assertRegex(value, r"^h?1551-ABC101\d\dUen\.[A-C](\.[a-z]+)?(%s)?$" % re.escape(HOSTILE),
                                 address)
            else:
                self.assertIn(name, allowed, "field %s in %s" % (name, address))
                self.assertIn(value, allowed[name], "%s in %s" % (name, address))
            seen.add(name)
        self.assertIn(fragment, anchors, address)

    def run_page(self, mode, hostile):
        page, listed = self.write_page(mode, hostile)
        b = self.browser
        errors = b.open("file://" + page, scripts=[STUBS])
        links, boxes = b.eval(CLICK_ALL)
        self.assertGreater(links, 0)
        b.eval("0")
        self.assertEqual(errors, [])
        b.screenshot("%s_%s" % (self.id(), "hostile" if hostile else "plain"))

        allowed, anchors = self.expected(listed, hostile)
        hrefs = [h for h in b.eval("window.__hrefs") if not h.startswith("file:")]
        calls = b.eval("window.__calls")
        self.assertTrue(hrefs)
        seen = set()
        for href in hrefs:
            self.check_address(href, allowed, anchors, seen)
        for call in calls:
            name, args = call[0], call[1:]
            for arg in args:
                if arg.startswith("http://"):
                    self.check_address(arg, allowed, anchors, seen)
                else:
                    # Sort keys, numbers and cookie names: the writers' own words.
                    self.assertRegex(arg, r"^[A-Za-z0-9_]*$", "%s argument" % name)
        # Each outside value the page was written with came back whole at least once.
        for name in listed:
            if name not in FIXED_FIELDS and name not in ("PAOR", "SL"):
                self.assertIn(name, seen, "%s page: %s in no address" % (mode, name))

        icons = b.eval(ROW_ICONS)
        self.assertTrue(icons)
        for src, complete, width in icons:
            self.assertTrue(complete and width > 0, src)
        return calls, boxes

    def test_plain_page(self):
        for hostile in (False, True):
            with self.subTest(hostile=hostile):
                self.run_page("plain", hostile)
        self.web.check_logs()

    def test_search_page(self):
        for hostile in (False, True):
            with self.subTest(hostile=hostile):
                calls, boxes = self.run_page("search", hostile)
                self.assertGreater(boxes, 0)
                # Only the hostile page has collection-mode rows, which call openDoc.
                wanted = {"sortdisplayMulti", "setCookieMulti"} | ({"openDoc"} if hostile else set())
                self.assertTrue(wanted <= {c[0] for c in calls}, calls)
        self.web.check_logs()


if __name__ == "__main__":
    unittest.main()

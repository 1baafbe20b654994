#!/usr/bin/env python3
"""JSNOTESINLINE, INSTANT and TREEFRAME through lighttpd, kivoserv and
ruvadaemon (VerboseMode, so its log traces each command) over the filter
libraries of make_action_libraries.py and one library whose frame set
holds the tree frame: the notes script as generated, the instant page's
search call, the filters of dwfilters.js against golden files, a library
without "CAT:" whose filters are never fetched, and the failures that
answer with the generic message. In Chromium the filtered library's frame
set and the instant page load without an error; screenshots are kept in
$RUVA_ARTIFACTS."""

import os
import re
import shutil
import subprocess
import tempfile
import unittest
import urllib.parse

import kivoserv_answers as ka
import make_action_libraries as mal
import web_harness
from action_web_case import ActionWebCase
from page_scripts import run_page_scripts

GOLDEN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "golden")
NOTES_SCRIPT = os.path.join(web_harness.TOP, "bmod", "ruvaserv", "actions", "js", "notes_inline.js")
GENERIC = "The request '%s' could not be completed.<br><br>" + ka.TAG_SPAN % "kivohandler/0"

# A filtered library whose main page names its tree frame kivotree.html, so
# the frame set asks TREEFRAME for it (the frame is found by its id then).
VIEW = "dwfview.kvo"
VIEW_FRAMES = (b'<html><head><title>Filters view</title></head>\n<frameset cols="30%,*">\n'
               b'<frame name="kivotree" src="kivotree.html">\n'
               b'<frame name="kivodoc" src="qzl:/kivo?FN=index.html">\n</frameset></html>\n')


def view_library():
    pages = [m for m in mal.start_pages("Filters view", False) if m[0] != "kivo.html"]
    return (VIEW, "Filters view [EN/DWV1234567R1A]" + mal.DWF_CAT,
            pages + [("kivo.html", VIEW_FRAMES), ("dwfilters.js", mal.DWFILTERS_GOOD)])


# Every window of the page with its address, top first.
FRAMES = """(() => {
  const out = [['top', window]];
  for (let k = 0; k < out.length; k++)
    for (let i = 0; i < out[k][1].frames.length; i++) out.push([out[k][0] + '/' + i, out[k][1].frames[i]]);
  return out.map(([p, w]) => { try { return p + ' ' + w.location.href; } catch (e) { return p; } });
})()"""


def make_fixtures(out):
    mal.write_folder(out, [lib[:3] for lib in mal.DWF_LIBRARIES] + [view_library()])


def golden(name):
    with open(os.path.join(GOLDEN, name), encoding="latin-1") as f:
        return f.read()


def node_check(test, text):
    with tempfile.NamedTemporaryFile("w", suffix=".js", encoding="latin-1", delete=False) as f:
        f.write(text)
    try:
        p = subprocess.run(["node", "--check", f.name], capture_output=True, text=True, timeout=30)
        test.assertEqual(p.returncode, 0, p.stderr)
    finally:
        os.unlink(f.name)


class ScriptPages(ActionWebCase):
    make_fixtures = staticmethod(make_fixtures)
    conf_lines = ("SearchHighLight <B>", "SearchNormal </B>")
    with_browser = True

    @staticmethod
    def daemon_options(fixtures):
        return {"library_path": fixtures, "extra_config": "VerboseMode yes\n"}

    def get(self, query):
        status, headers, body = self.web.request("GET", query)
        self.assertEqual(status, 200, query)
        return {k.lower(): v for k, v in headers}, headers, body

    def direct(self, query):
        """The program's own output for query: (header lines, body)."""
        out, err, status = self.web.run_cgi(ka.request_env(self.web, query))
        self.assertEqual((status, err), (0, ""), query)
        return ka.split_response(out)

    def commands(self):
        return re.findall(r'"([^"\n]*)" from 127\.0\.0\.1', self.d.log_text())

    def test_notes_script_is_served_as_generated(self):
        with open(NOTES_SCRIPT, encoding="latin-1") as f:
            script = f.read()
        for info, bl in (("0", "0"), ("1", "1"), ("1", "0"), ("0", "1")):
            with self.subTest(info=info, bl=bl):
                lines, body = self.direct("VR=R19K&AC=JSNOTESINLINE&BL=%s&INFO=%s" % (bl, info))
                self.assertEqual(ka.header(lines, "Content-type"), ["text/javascript"])
                expected = ("var useInfo = %s;\nvar enableCustContextMenu = %s;\nvar isContextMenuActive = false;\n"
                            % ("true" if info == "1" else "false", "false" if bl == "1" else "true")) + script
                # Byte for byte: the page pass changed nothing.
                self.assertEqual(body.decode("latin-1"), expected)
                node_check(self, expected)

    def test_notes_script_opens_only_web_links(self):
        _, body = self.direct("VR=R19K&AC=JSNOTESINLINE&BL=0&INFO=0")
        link = "http://127.0.0.1/cgi-bin/kivoserv?ID=3&FN=a.html"
        run = run_page_scripts(b"<script>" + body + b"</script>", {"calls": [
            "(hrefValueOP = %r, openLinkNewWin())" % link, "extLink",
            "(hrefValueOP = 'javascript:alert(1)', openLinkNewWin())", "extLink",
            "(hrefValueOP = '', process_URL(1))"]})
        self.assertEqual(run["errors"], [])
        self.assertEqual(run["results"][1:], [link, None, "", 0])
        opened = [c["args"] for c in run["calls"] if c["fn"] in ("open", "window.open")]
        self.assertEqual(len(opened), 1, run["calls"])
        self.assertEqual(opened[0][:2], [link, "_blank"])
        self.assertIn("toolbar=no", opened[0][2])

    def test_instant_page_calls_the_search_and_marks_nothing(self):
        query = "AC=INSTANT&ID=%d&PA=Results" % self.ids[mal.DWF_GOOD]
        headers, _, body = self.get(query)
        page = body.decode("latin-1")
        self.assertEqual(headers["content-type"], "text/html")
        self.assertIn("<div id=\"search_list_is\"></div>", page)
        self.assertNotIn("<B>", page)
        self.assertNotIn("SearchMatch", page)
        run = run_page_scripts(body, {"onload": True, "stubs": ["top.kivotbar.disableBut"]})
        self.assertEqual(run["errors"], [])
        self.assertEqual([(c["fn"], c["args"]) for c in run["calls"] if "performSearch" in c["fn"] or
                          "disableBut" in c["fn"]],
                         [("top.kivotbar.disableBut", [b]) for b in ("b3", "annot", "search_hit", "b6", "b4")] +
                         [("top.performSearch", [])])
        stub = "window.performSearch = function () { window.__searches = (window.__searches || 0) + 1; };"
        errors = self.browser.open(self.web.url(query), scripts=[stub])
        self.assertEqual(self.browser.eval("window.__searches"), 1)
        self.assertEqual(self.browser.eval("[...document.getElementsByClassName('context-menu')]"
                                           ".map(m => getComputedStyle(m).display)"), ["none"])
        self.assertEqual(errors, [])
        self.browser.screenshot(self)

    def test_filtered_library_tree_frame_carries_its_filters(self):
        headers, raw, body = self.get("AC=TREEFRAME&ID=%d&FN=kivotree.html" % self.ids[mal.DWF_GOOD])
        page = body.decode("latin-1")
        self.assertEqual(headers["content-type"], "text/html")
        names = [k.lower() for k, _ in raw]
        self.assertNotIn("content-disposition", names)
        self.assertNotIn("last-modified", names)
        self.assertIn(golden("dwfilters_style.css") + "--></STYLE>\n", page)
        self.assertIn("\n" + golden("dwfilters_script.js").removesuffix("\n") + "\n</script>\n", page)
        self.assertIn("<div id='bgoverlay'", page)
        for script in re.findall(r"<script[^>]*>(.*?)</script>", page, re.S):
            node_check(self, script)

    def test_library_without_filters_never_fetches_them(self):
        before = len(self.commands())
        # LI alone: the frame's src may carry only the library identity.
        _, _, body = self.get("AC=TREEFRAME&LI=%s&FN=kivotree.html" % urllib.parse.quote("EN/DWP1234567R1A"))
        page = body.decode("latin-1")
        self.assertIn("<title>KIVO Tree</title>", page)
        self.assertNotIn("bgoverlay", page)
        commands = self.commands()[before:]
        self.assertTrue(commands, "the daemon's trace")
        self.assertEqual([c for c in commands if "dwfilters.js" in c], [])

    def test_failures_answer_with_the_generic_message(self):
        cases = [
            ("INSTANT without a library", "AC=INSTANT&PA=x", "INSTANT"),
            ("TREEFRAME without a library", "AC=TREEFRAME&FN=kivotree.html", "TREEFRAME"),
            ("filters without a style", "AC=TREEFRAME&ID=%d" % self.ids[mal.DWF_NO_CSS], "TREEFRAME"),
            ("filters with reversed keys", "AC=TREEFRAME&ID=%d" % self.ids[mal.DWF_REVERSED], "TREEFRAME"),
        ]
        for name, query, word in cases:
            with self.subTest(name):
                out, err, status = self.web.run_cgi(ka.request_env(self.web, query))
                self.assertEqual((status, err), (0, ""))
                self.assertEqual(out.count(b"Content-type:"), 1, out[:300])
                lines, body = ka.split_response(out)
                self.assertEqual(ka.header(lines, "Content-type"), ["text/html"])
                self.assertEqual(ka.error_message(body), GENERIC % word + "\n")

    def test_filtered_frame_set_shows_its_tree_frame(self):
        errors = self.browser.open(self.web.url("AC=LINK&ID=%d" % self.ids[VIEW]))
        ready = ("(() => { try { const t = top.kivomain.document.getElementById('treeframe').contentWindow;"
                 " return t.document.readyState == 'complete' && t.document.title; } catch (e) { return null; } })()")
        title = None
        for _ in range(200):
            title = self.browser.eval(ready)
            if title:
                break
            self.browser.eval("new Promise(r => setTimeout(r, 50))")
        self.assertEqual(title, "KIVO Tree", self.browser.eval(FRAMES))
        tree = "top.kivomain.document.getElementById('treeframe').contentWindow"
        self.assertIn("AC=TREEFRAME", self.browser.eval(tree + ".location.href"))
        self.assertEqual(self.browser.eval("typeof %s.dwfShow" % tree), "function")
        self.browser.eval(tree + ".showFilters()")
        self.assertEqual(self.browser.eval(tree + ".document.getElementById('filters').style.display"), "block")
        self.assertIs(self.browser.eval("top.OvrlyDisplyed"), True)
        self.browser.screenshot(self)
        self.browser.eval(tree + ".hideFilters()")
        self.assertIs(self.browser.eval("top.OvrlyDisplyed"), False)
        self.assertEqual(errors, [])


if __name__ == "__main__":
    unittest.main()

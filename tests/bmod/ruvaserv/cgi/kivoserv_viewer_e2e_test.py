#!/usr/bin/env python3
"""The viewer in Chromium: a static top page in the server's www/ holds the
toolbar frame kivotbar (a stub recording enableBut/disableBut) and the main
frame kivomain, the library's main page kivo.html through kivoserv; the top
page stubs dynamicToolBar, setPD and OpenSL, recording their calls too. The
libraries are the page-library fixture's guide.kvo and hostile.kvo
($PAGE_LIBRARIES, made by make_page_libraries.py) under the real ruvadaemon.
A collection page made by postprocess_probe ($POSTPROCESS_PROBE) against the
same daemon is served from www/. Hostile titles and fields must run no
script in any frame and add no response header. Each page leaves a
screenshot in $RUVA_ARTIFACTS."""

import json
import os
import re
import shutil
import subprocess
import tempfile
import unittest
import urllib.parse

import daemon_harness
import kivoserv_answers as ka
import kivoserv_postprocess_e2e_test as pp
import make_page_libraries as pages
import web_harness as wh

FOLDER = pages.FOLDER
# A reference to a library no server holds: shown as its identity, no link.
MISSING_REFERENCE = "ABC99|R1A|Gone"
HOSTILE_TEXT = pages.HOSTILE_TEXT
WAIT = 20000  # ms a page condition is waited for inside the browser

TOOLBAR_PAGE = """<html><head><title>Toolbar</title><script type="text/javascript">
function enableBut(b) { top.calls.push("enableBut(" + b + ")"); }
function disableBut(b) { top.calls.push("disableBut(" + b + ")"); }
</script></head><body>toolbar</body></html>
"""

TOP_PAGE = """<html><head><title>Viewer</title><script type="text/javascript">
var calls = [];
function dynamicToolBar() { calls.push("dynamicToolBar()"); }
function setPD(id) { calls.push("setPD(" + id + ")"); }
function OpenSL(identity) { calls.push("OpenSL(" + identity + ")"); }
</script></head>
<frameset rows="40,*">
<frame name="kivotbar" src="toolbar.html">
<frame name="%s" src="%s">
</frameset></html>
"""

# A collection page as a library's collection member writes it: one head
# script, before whose end the collection tree goes.
COLLECTION_PAGE = b"""<html><head><title>Collection</title>
<script type="text/javascript">
var collectionPage = 1;
</script>
</head>
<body>
<p>The libraries of this collection.</p>
</body>
</html>
"""

# Every frame's window, depth first, with its path of names.
FRAMES = """(() => {
  const out = [];
  const walk = (w, path) => {
    out.push([path, w]);
    for (let i = 0; i < w.frames.length; i++) walk(w.frames[i], path + '/' + (w.frames[i].name || i));
  };
  walk(window, 'top');
  return out;
})()"""


def page_libraries(*parts):
    return os.path.join(os.environ["PAGE_LIBRARIES"], *parts)


def serve_libraries():
    """A folder holding copies of guide.kvo and hostile.kvo (the caller removes it)."""
    folder = tempfile.mkdtemp(prefix="viewer_libs_")
    shutil.copy(page_libraries("lib", pages.LIBRARY), folder)
    shutil.copy(page_libraries("hostile", pages.HOSTILE_LIBRARY), folder)
    return folder


def mllist_entry(daemon, name):
    """(hash id, title) of a library from the daemon's MLLIST line of it."""
    lib_id, comment = daemon_harness.mllist_entry(daemon.port, name)
    return lib_id, comment.rsplit(" [", 1)[0]


def start_viewer(test_class):
    """Sets up the class's server, ids and browser; undone by stop_viewer."""
    cls = test_class
    cls.folder = serve_libraries()
    cls.web = wh.WebServer(daemon=cls.folder, conf_lines=["ShowMissingLibs Yes"])
    try:
        cls.web.__enter__()
        with open(page_libraries("members", "fig1.gif"), "rb") as icon, \
                open(cls.web.path("www", "favicon.ico"), "wb") as f:
            f.write(icon.read())
        cls.library_id, cls.library_title = mllist_entry(cls.web.daemon, pages.LIBRARY)
        cls.browser = wh.Browser()
    except BaseException:
        stop_viewer(cls)
        raise


def stop_viewer(cls):
    try:
        wh.close_all(cls.web, getattr(cls, "browser", None))
    finally:
        shutil.rmtree(cls.folder, ignore_errors=True)


def wait_for(browser, condition):
    """Waits inside the page until the expression condition holds; its last value."""
    return browser.eval("""new Promise(done => {
  const until = Date.now() + %d;
  const test = () => { let v = false; try { v = (%s); } catch (e) {}
    if (v || Date.now() > until) done(v); else setTimeout(test, 20); };
  test();
})""" % (WAIT, condition))


def script_values(browser):
    """window.__x of every frame that can be read: {path: value}."""
    return browser.eval("""(() => {
  const seen = {};
  const walk = (w, path) => {
    try { seen[path] = typeof w.__x; } catch (e) { seen[path] = 'unreadable'; }
    for (let i = 0; i < w.frames.length; i++) walk(w.frames[i], path + '/' + (w.frames[i].name || i));
  };
  walk(window, 'top');
  return seen;
})()""")


class Viewer(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        start_viewer(cls)
        with open(cls.web.path("www", "toolbar.html"), "w") as f:
            f.write(TOOLBAR_PAGE)

    @classmethod
    def tearDownClass(cls):
        stop_viewer(cls)

    def tearDown(self):
        self.web.check_logs()

    def program(self, query):
        return "/cgi-bin/kivoserv?" + query

    def open_top(self, name, frame, frame_src):
        """Writes and opens the top page name holding frame (its src); gives the errors."""
        with open(self.web.path("www", name), "w") as f:
            f.write(TOP_PAGE % (frame, frame_src.replace("&", "&amp;")))
        return self.browser.open("http://127.0.0.1:%d/%s" % (self.web.port, name))

    def open_viewer(self):
        errors = self.open_top("viewer.html", "kivomain",
                               self.program("AC=LINK&ID=%s&FN=kivo.html" % self.library_id))
        # The document frame's onload reports to the other frames.
        self.assertTrue(wait_for(self.browser, "top.calls.indexOf('dynamicToolBar()') >= 0"), self.calls())
        return errors

    def calls(self):
        return self.browser.eval("top.calls")

    def test_main_page_document_and_pdf(self):
        b = self.browser
        errors = self.open_viewer()
        b.screenshot(self.id() + "_main")
        main = b.eval("""(() => {
  const m = top.kivomain, tree = m.document.getElementById('treeframe');
  return {togBnew: typeof m.togBnew, treeInitialize: typeof m.treeInitialize,
          handlePDFback: typeof m.handlePDFback, treeSrc: tree ? tree.getAttribute('src') : null,
          doc: m.kivodoc.location.href, folder: m.prevFolderID};
})()""")
        self.assertEqual((main["togBnew"], main["treeInitialize"], main["handlePDFback"]),
                         ("function", "function", "function"))
        self.assertIn("AC=TREEFRAME&ID=%s" % self.library_id, main["treeSrc"])
        doc = urllib.parse.parse_qs(urllib.parse.urlsplit(main["doc"]).query)
        self.assertEqual([v.lower() for v in doc.get("FN", [])], [pages.DOCUMENT.lower()])
        calls = self.calls()
        for call in ("enableBut(b3)", "setPD(%s)" % self.library_id, "dynamicToolBar()"):
            self.assertIn(call, calls)
        self.assertEqual(main["folder"], FOLDER)

        tree = b.eval("""(() => {
  const d = top.kivomain.kivodoc;
  d.generateDTOCTree();
  const nodes = [], walk = n => { nodes.push([n.text, n.target]); n.children.forEach(walk); };
  walk(d.dfT);
  return {nodes: nodes, anchors: [...d.document.querySelectorAll('a[name^=CHAPTER]')].map(a => a.name)};
})()""")
        self.assertEqual(tree["nodes"][0][1], "#TOP")
        self.assertIn(pages.DOCUMENT_TITLE, tree["nodes"][0][0])
        self.assertEqual([t for _, t in tree["nodes"][1:]], ["#" + a for a in tree["anchors"]])
        self.assertEqual(errors, [])

        # The PDF goes through the daemon's wait page, which reports its folder.
        b.eval("""(() => {
  const m = top.kivomain, old = m.handlePDFback;
  m.handlePDFback = function (f) { top.calls.push('handlePDFback(' + f + ')'); return old.apply(this, arguments); };
  m.kivodoc.location.href = %s;
})()""" % json.dumps(self.web.url("AC=LINK&ID=%s&FN=a.pdf" % self.library_id)))
        self.assertTrue(wait_for(b, "top.calls.indexOf('handlePDFback(%d)') >= 0" % FOLDER), self.calls())
        b.screenshot(self.id() + "_pdf")
        self.assertEqual(b.errors, [])

    def make_collection(self, title, identity, references):
        """The collection page as postprocess_probe writes it against this server's daemon."""
        env = dict(os.environ)
        env.update(wh.cgi_env(self.web.root))
        env["HTTP_HOST"] = "127.0.0.1:%d" % self.web.port
        env["SCRIPT_NAME"] = "/cgi-bin/kivoserv"
        lines = [("AC", "LINK")]
        head = b"%d 0 1 text/html %d %d\n" % (len(COLLECTION_PAGE), len(lines), len(references))
        frame = (head + b"".join(b"%s=%s\n" % (n.encode(), v.encode()) for n, v in lines) +
                 title.encode("latin-1") + b"\n" + identity.encode() + b"\n" +
                 b"".join(r.encode("latin-1") + b"\n" for r in references) + COLLECTION_PAGE + b"\n")
        p = subprocess.run([os.environ["POSTPROCESS_PROBE"]], input=frame, capture_output=True, env=env,
                           timeout=60)
        self.assertEqual(p.returncode, 0, p.stderr.decode("latin-1"))
        answer, _, rest = p.stdout.partition(b"\n")
        result, made, length, _, _ = (int(x) for x in answer.split())
        self.assertEqual((result, made), (1, 1), p.stderr.decode("latin-1"))
        with open(self.web.path("www", "collection.html"), "wb") as f:
            f.write(rest[:length])

    def test_collection_tree(self):
        hostile_id, hostile_title = mllist_entry(self.web.daemon, pages.HOSTILE_LIBRARY)
        references = ["EN/DOCLIB1|R1A|Guide", "EN/HOSTILE1|R1A|Hostile", MISSING_REFERENCE]
        self.make_collection("Collection", "EN/COL1R1A", references)
        b = self.browser
        errors = self.open_top("collection_top.html", "kivodoc", "/collection.html")
        b.screenshot(self.id())
        tree = b.eval("""(() => {
  const d = top.kivodoc;
  d.generateCollectionTree();
  return d.cfT.children.map(n => [n.text, n.target, n.file, n.open ? 1 : 0]);
})()""")
        self.assertEqual(tree, [[self.library_title, "", "EN/DOCLIB1R1A", 1],
                                [hostile_title, "", "EN/HOSTILE1R1A", 1],
                                ["ABC99 R1A", "#ABC99R1A", "#ABC99R1A", 0]])
        self.assertEqual(hostile_title, pages.HOSTILE_TITLE)
        self.assertNotIn("OpenSL", " ".join(self.calls()))
        self.assertEqual(errors, [])
        self.assertEqual(set(script_values(b).values()), {"undefined"})

        # Drawn in the viewer's tree frame, the titles are text.
        errors = self.open_viewer()
        b.eval("top.kivomain.kivodoc.location.href = '/collection.html'")
        self.assertTrue(wait_for(b, "top.kivomain.kivodoc.collectionPage == 1 && "
                                    "top.kivomain.kivodoc.document.readyState == 'complete'"))
        self.assertEqual(b.eval("top.kivomain.generateCTOC(1)"), 1)
        shown = b.eval("[...top.kivomain.document.getElementById('treeframe').contentDocument"
                       ".querySelectorAll('.kvoText')].map(e => e.textContent)")
        b.screenshot(self.id() + "_tree")
        self.assertEqual(shown, ["Collection", self.library_title, hostile_title, "ABC99 R1A"])
        self.assertNotIn("OpenSL", " ".join(self.calls()))
        self.assertEqual(errors + b.errors, [])
        self.assertEqual(set(script_values(b).values()), {"undefined"})

    def test_hostile_document_runs_no_script(self):
        b = self.browser
        errors = self.open_top("hostile_top.html", "kivomain",
                               self.program("AC=LINK&ID=%s&FN=kivo.html" % self.library_id))
        self.assertTrue(wait_for(b, "top.calls.indexOf('dynamicToolBar()') >= 0"), self.calls())
        hostile_id, _ = mllist_entry(self.web.daemon, pages.HOSTILE_LIBRARY)
        b.eval("top.kivomain.kivodoc.location.href = %s" %
               json.dumps(self.web.url("AC=LINK&ID=%s&FN=%s" % (hostile_id, pages.HOSTILE_DOCUMENT))))
        self.assertTrue(wait_for(b, "top.kivomain.kivodoc.document.readyState == 'complete' && "
                                    "top.kivomain.kivodoc.location.href.indexOf('FN=%s') >= 0"
                                    % pages.HOSTILE_DOCUMENT), b.eval("top.kivomain.kivodoc.location.href"))
        nodes = b.eval("""(() => {
  const d = top.kivomain.kivodoc;
  d.generateDTOCTree();
  const nodes = [], walk = n => { nodes.push(n.text); n.children.forEach(walk); };
  walk(d.dfT);
  return nodes;
})()""")
        b.screenshot(self.id())
        self.assertTrue(all(HOSTILE_TEXT in n for n in nodes), nodes)
        self.assertEqual(len(nodes), 2, nodes)
        identity = b.eval("top.kivomain.kivodoc.document.querySelector('p.IDENTITY').textContent")
        self.assertIn("<img", identity)
        self.assertEqual(errors + b.errors, [])
        self.assertEqual(set(script_values(b).values()), {"undefined"})

    def test_redirect_field_adds_no_header(self):
        query = "AC=LINK&ID=%s&FN=%s&CH=2.3&SL=%%0D%%0AX-Evil:%%201" % (self.library_id, pages.DOCUMENT)
        # Through lighttpd, which may refuse the request itself.
        _, headers, _ = self.web.request("GET", query)
        self.assertEqual(pp.header(headers, "X-Evil"), [])
        # kivoserv alone: one Location line, the field's line end coded.
        out, err, status = self.web.run_cgi(ka.request_env(self.web, query))
        self.assertEqual((err, status), ("", 0))
        head = out.split(b"\n\n", 1)[0].decode("latin-1").split("\n")
        self.assertEqual(len(head), 1, head)
        self.assertTrue(head[0].startswith("Location: http://127.0.0.1:8080/cgi-bin/kivoserv?"), head)
        self.assertTrue(head[0].endswith("&SL=%0D%0AX-Evil:%201&AC=LINK#2.3"), head)

if __name__ == "__main__":
    unittest.main()

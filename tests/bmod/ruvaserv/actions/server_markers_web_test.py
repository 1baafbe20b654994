#!/usr/bin/env python3
"""The server list and the root id in pages served through lighttpd,
kivoserv and ruvadaemon. A known server registered with a script as its
comment shows it as text, in html.parser and in Chromium; the root id in a
script call is a number whether the daemon reads a structure file or a
flat folder, and node --check passes the served scripts."""

import html.parser
import os
import shutil
import tempfile
import unittest
import urllib.parse

import daemon_harness
import make_action_libraries as mal
import web_harness
from main_page_web_test import node_check

SERVERS = "servers.kvo"
ROOT_CALL = 'docNoTree("SUB_MAIN", 0, "", "");'
HEAD = "\n<script>function docNoTree(a, b, c, d) { window.rootId = b; }</script>\n" + mal.ROOTID_SCRIPT + "\n"
# Known servers in the daemon's cache: (port, comment or None).
KNOWN = [(4567, mal.HOSTILE_SLIST_COMMENT), (4568, None), (4569, "Plain server")]


class Elements(html.parser.HTMLParser):
    """Start tags inside <pre>, the text there, and every script body."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.in_pre = self.in_script = False
        self.pre_tags, self.pre_text, self.scripts = [], "", []

    def handle_starttag(self, tag, attrs):
        if self.in_pre:
            self.pre_tags.append((tag, dict(attrs)))
        if tag == "pre":
            self.in_pre = True
        elif tag == "script":
            self.in_script = True
            self.scripts.append("")

    def handle_endtag(self, tag):
        if tag == "pre":
            self.in_pre = False
        elif tag == "script":
            self.in_script = False

    def handle_data(self, data):
        if self.in_pre:
            self.pre_text += data
        if self.in_script:
            self.scripts[-1] += data


def parsed(body):
    p = Elements()
    p.feed(body.decode("latin-1"))
    p.close()
    return p


class ServedMarkers(unittest.TestCase):
    """One folder served flat (the server list page) and the marker folder
    served by its structure file, each by its own daemon, one at a time."""

    @classmethod
    def setUpClass(cls):
        cls.browser = web_harness.Browser()
        cls.folder = tempfile.mkdtemp(prefix="srvmk_")
        page = mal.html("Servers", "<h1>Servers</h1>\n<!--@@listserv-->", HEAD)
        cls.flat = os.path.join(cls.folder, "srv")
        mal.write_folder(cls.flat, [(SERVERS, "Servers [EN/SRV1234567R1A]", [("index.html", page)])])
        mal.make_markers(cls.folder)

    @classmethod
    def tearDownClass(cls):
        cls.browser.close()
        shutil.rmtree(cls.folder, ignore_errors=True)

    def serve(self, library_path, known=(), conf_lines=()):
        d = daemon_harness.Daemon(library_path=library_path, start=False)
        if known:
            mal.write_slist_cache(d.cache, known)
        d.start()
        web = web_harness.WebServer(daemon=d, env={"TZ": "UTC"}, conf_lines=conf_lines)
        web.__enter__()
        self.addCleanup(d.cleanup)
        self.addCleanup(d.stop)
        self.addCleanup(web.__exit__, None, None, None)
        return web

    def fetch(self, web, query):
        status, _, body = web.request("GET", query)
        self.assertEqual(status, 200, query)
        return body

    def test_known_servers_show_their_comments_as_text(self):
        web = self.serve(self.flat, KNOWN, ("AllowUZonURL yes",))
        query = "DB=%s&FN=index.html" % SERVERS
        p = parsed(self.fetch(web, query))
        # One link per server and nothing else: the comment made no element.
        self.assertEqual([tag for tag, _ in p.pre_tags], ["a"] * len(KNOWN))
        addresses = [urllib.parse.parse_qs(urllib.parse.urlsplit(a["href"]).query)["uz"] for _, a in p.pre_tags]
        self.assertEqual(addresses, [["127.0.0.1:%d" % port] for port, _ in KNOWN])
        self.assertIn("127.0.0.1:4567" + " " * 20 + mal.HOSTILE_SLIST_COMMENT + "\n", p.pre_text)
        self.assertIn("127.0.0.1:4568 ?\n", p.pre_text)
        errors = self.browser.open(web.url(query))
        self.assertEqual(errors, [])
        self.assertIsNone(self.browser.eval("window.__pwned === undefined ? null : window.__pwned"))
        self.assertIn(mal.HOSTILE_SLIST_COMMENT, self.browser.eval("document.querySelector('pre').textContent"))
        self.browser.screenshot(self)
        web.check_logs()

    def test_root_id_is_a_number_with_and_without_a_structure_file(self):
        cases = [("flat folder", self.flat, SERVERS),
                 ("structure file", os.path.join(self.folder, mal.MARKERS_STRUCTURE), mal.START)]
        for name, library_path, library in cases:
            with self.subTest(name):
                web = self.serve(library_path)
                query = "DB=%s&FN=index.html" % library
                p = parsed(self.fetch(web, query))
                self.assertIn(ROOT_CALL, p.scripts)
                node_check(self, p.scripts, name)
                self.assertEqual(self.browser.open(web.url(query)), [])
                self.assertEqual(self.browser.eval("window.rootId"), 0)
                web.check_logs()


if __name__ == "__main__":
    unittest.main()

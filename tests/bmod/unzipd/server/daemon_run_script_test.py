#!/usr/bin/env python3
"""scripts/run: starts the daemon over the samples and lighttpd serving kivoserv in front of it, prints
commands and addresses that work, stops an earlier run by pid."""

import html
import http.client
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.parse

import daemon_harness as h
import web_harness

TOP = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", "..", ".."))
sys.path.insert(0, os.path.join(TOP, "tests", "bmod", "ruvaserv", "output"))
import report_rows  # noqa: E402
import sdi_oracle  # noqa: E402


def alive(pid):
    return h.pid_alive(pid)


def fetch(url):
    """(status, Content-Type, body) of a GET."""
    parts = urllib.parse.urlsplit(url)
    conn = http.client.HTTPConnection(parts.hostname, parts.port, timeout=web_harness.REPLY_TIMEOUT)
    try:
        conn.request("GET", parts.path + ("?" + parts.query if parts.query else ""))
        resp = conn.getresponse()
        return resp.status, resp.getheader("Content-Type"), resp.read()
    finally:
        conn.close()


class RunScript(unittest.TestCase):
    def setUp(self):
        h.become_subreaper()
        self.run_dir = tempfile.mkdtemp(prefix="rdrun_")
        self.pids = []
        self.port = None

    def tearDown(self):
        for pid in self.pids:
            try:
                os.kill(pid, 15)
            except ProcessLookupError:
                pass
        deadline = time.time() + 10
        while time.time() < deadline and any(alive(p) for p in self.pids):
            h.reap_all()
            time.sleep(0.05)
        h.reap_all()
        left = [p for p in self.pids if alive(p)]
        if self.port:
            h.remove_semaphore(self.port + h.UPDATE_MUTEX_KEY_BASE)
        shutil.rmtree(self.run_dir, ignore_errors=True)
        self.assertEqual(left, [])

    def run_script(self, port, web_port):
        out = subprocess.run([os.path.join(TOP, "scripts", "run"), self.run_dir, str(port), h.daemon_binary(),
                              web_harness.program_binary("kivoserv"), str(web_port)],
                             capture_output=True, text=True, timeout=60)
        self.assertEqual(out.returncode, 0, out.stderr)
        m = re.search(r"listens on 127\.0\.0\.1:(\d+) \(pid (\d+)\)", out.stdout)
        self.assertIsNotNone(m, out.stdout)
        pid = int(m.group(2))
        self.pids.append(pid)
        self.port = int(m.group(1))
        self.assertIn("stop:  kill %d\n" % pid, out.stdout)
        self.assertIn("log:   %s/ruvadaemon.log\n" % os.path.realpath(self.run_dir), out.stdout)
        # lighttpd's lines follow the daemon's.
        w = re.search(r"\nlighttpd serves kivoserv on 127\.0\.0\.1:(\d+) \(pid (\d+)\)\n", out.stdout)
        self.assertIsNotNone(w, out.stdout)
        self.assertGreater(w.start(), out.stdout.index("nc 127.0.0.1"))
        self.web_pid = int(w.group(2))
        self.pids.append(self.web_pid)
        self.web_port = int(w.group(1))
        self.assertIn("stop:  kill %d\n" % self.web_pid, out.stdout)
        self.urls = re.findall(r"^  (http://\S+)$", out.stdout, re.M)
        return out.stdout, self.port, pid

    def check_web_logs(self):
        """No sanitizer report, no CGI stderr line and no CGI line in the error log."""
        log = os.path.join(self.run_dir, "web", "log")
        self.assertEqual([n for n in os.listdir(log) if n.startswith(("asan.", "ubsan."))], [])
        with open(os.path.join(log, "cgi-stderr.log"), "rb") as f:
            self.assertEqual(f.read(), b"")
        with open(os.path.join(log, "error.log"), encoding="latin-1") as f:
            self.assertEqual([l for l in f if "mod_cgi" in l or "/cgi-bin/" in l], [])

    def check_addresses(self):
        """The start page lists the sample libraries; EMPTY is a page, TBIMG a GIF."""
        base = "http://127.0.0.1:%d/cgi-bin/" % self.web_port
        self.assertEqual(len(self.urls), 4, self.urls)
        start, empty, image, compare = self.urls
        self.assertEqual(start, base + "kivo")
        self.assertEqual(empty, base + "kivoserv?AC=EMPTY")
        self.assertTrue(image.startswith(base + "kivoserv?AC=TBIMG&IM="), image)
        self.assertEqual(compare, base + "kivoserv?AC=COMPEXE&DB=guide.kvo&DC=guide-r0.kvo")
        status, ctype, body = fetch(start)
        self.assertEqual((status, ctype), (200, "text/html"))
        page = body.decode("utf-8")
        libraries = web_harness.manifest_libraries()
        self.assertGreater(len(libraries), 0)
        for name, title in libraries:
            self.assertIn('<a href="kivoserv?DB=%s">%s</a>' % (html.escape(urllib.parse.quote(name, safe="")),
                                                               html.escape(title)), page)
        status, ctype, _ = fetch(empty)
        self.assertEqual((status, ctype), (200, "text/html"))
        status, ctype, body = fetch(image)
        self.assertEqual((status, ctype), (200, "image/gif"))
        self.assertTrue(body.startswith((b"GIF87a", b"GIF89a")), body[:16])
        self.check_compare(compare)
        self.check_web_logs()

    def check_compare(self, url):
        """The sample revisions differ by one new, one changed and one removed document."""
        status, ctype, body = fetch(url)
        self.assertEqual((status, ctype), (200, "text/html"))
        self.assertFalse(b"<!--@error-->" in body, body[-600:])
        page = os.path.join(self.run_dir, "compare.html")
        with open(page, "wb") as f:
            f.write(body)
        got = report_rows.read_page(page)
        section = sdi_oracle.section_name("1551")
        self.assertEqual(got["headers"], [section])
        self.assertEqual(got["rows"], [
            [section, sdi_oracle.ICON_NEW, "guide.kvo", "1551-ABC10102Uen.A.*", "1551-ABC 101 02 Uen A"],
            [section, sdi_oracle.ICON_CHANGED_NEW, "guide.kvo", "1551-ABC10103Uen.B.*", "1551-ABC 101 03 Uen B"],
            [section, sdi_oracle.ICON_CHANGED_OLD, "guide-r0.kvo", "1551-ABC10103Uen.A.*", "1551-ABC 101 03 Uen A"],
            [section, sdi_oracle.ICON_REMOVED, "guide-r0.kvo", "1551-ABC10104Uen.A.*", "1551-ABC 101 04 Uen A"],
        ])

    def test_start_talk_and_restart(self):
        port = h.free_port()
        web_port = h.free_port()
        while web_port == port:
            web_port = h.free_port()
        text, got_port, pid = self.run_script(port, web_port)
        self.assertEqual(got_port, port)
        self.assertEqual(self.web_port, web_port)
        self.check_addresses()
        commands = [l.strip() for l in text.splitlines() if "talk.py" in l]
        self.assertEqual(len(commands), 2, text)
        replies = []
        for c in commands:
            r = subprocess.run(shlex.split(c), capture_output=True, timeout=30)
            self.assertEqual(r.returncode, 0, r.stderr)
            replies.append(r.stdout)
        self.assertIn(b'"Getting started [EN/DOCLIB1 R1A] STA:REL"\n', replies[0])
        self.assertIn(b"200-CONT executed.\n", replies[0])
        with open(os.path.join(TOP, "samples", "docs", "1551-ABC10101Uen.A.html"), "rb") as f:
            doc = f.read()
        self.assertIn(b"300-Length %d " % len(doc), replies[1])
        self.assertIn(doc + b"300-CRC 0x", replies[1])
        self.assertTrue(replies[1].endswith(b"200-RETR executed.\n"), replies[1])
        # The commands the text sends together through nc: three replies, then end of stream.
        m = re.search(r"^  printf '([^']*)' \| nc 127\.0\.0\.1 (\d+)$", text, re.M)
        self.assertIsNotNone(m, text)
        self.assertEqual(int(m.group(2)), port)
        c = h.Client(port)
        self.assertTrue(c.greeting().startswith(b"200 UZD "))
        c.sock.sendall(subprocess.run(["printf", m.group(1)], capture_output=True, check=True).stdout)
        together = [b"".join(c.read_reply()) for _ in range(3)]
        self.assertTrue(together[0].startswith(b"200 Version: "), together)
        self.assertTrue(together[1].endswith(b"200-LIST executed.\n"), together)
        self.assertEqual(together[2], b"200-See you later.\n")
        self.assertTrue(c.at_eof())
        c.close()

        # A second run stops the first lighttpd and daemon by their pids and takes the ports again.
        web_pid = self.web_pid
        text2, port2, pid2 = self.run_script(port, web_port)
        self.assertNotEqual(pid2, pid)
        self.assertFalse(alive(pid))
        self.assertEqual(port2, port)
        self.assertNotEqual(self.web_pid, web_pid)
        self.assertFalse(alive(web_pid))
        self.assertEqual(self.web_port, web_port)
        self.check_addresses()

    def test_busy_port_moves_to_the_next(self):
        import socket
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        s.bind(("127.0.0.1", 0))
        busy = s.getsockname()[1]
        s.listen(1)
        try:
            if busy >= 65535:
                self.skipTest("no port above the busy one")
            # The daemon passes over the busy port, lighttpd over it and the daemon's.
            _, got, _ = self.run_script(busy, busy)
            self.assertGreater(got, busy)
            self.assertGreater(self.web_port, busy)
            self.assertNotEqual(self.web_port, got)
        finally:
            s.close()


if __name__ == "__main__":
    unittest.main()

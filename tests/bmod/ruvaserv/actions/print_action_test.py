#!/usr/bin/env python3
"""PRINT, PRINTA4 and PRINTUS under lighttpd with ruvadaemon over the action
libraries (and one page with bytes 0x80-0x8A): PostScript from ruvafilter
($RUVAFILTER) at its paper sizes through ghostscript, the print file as a
recording command sees it, the failing commands and paths, the UseLDAP
refusal, and clients that leave while a slow filter runs."""

import json
import os
import shutil
import signal
import socket
import struct
import subprocess
import tempfile
import threading
import time
import unittest

import daemon_harness
import kivoserv_answers as ka
import make_action_libraries as mal
import web_harness

PRINT_LIB = "print.kvo"
PRINT_MEMBER = "page.html"
# LINK maps bytes 0x80-0x8A; the print file keeps them for the filter.
PRINT_PAGE = (b"<html><head><title>Print me</title></head><body>\n<h1>Print me</h1>\n"
              b"<p>Caf\xe9 \x85 \x8a end.</p>\n</body></html>\n")
PS_HEADER = b"Content-type: application/postscript\n\n"
PS_START = b"%!PS-Adobe-3.0"
FAKE_PS = b"%!PS-Adobe-3.0\n%%EOF\n"
CLEAN_TIMEOUT = 10

RECORDER = """#!/usr/bin/env python3
import json, os, stat, sys
page = sys.argv[-1]
folder = os.path.dirname(page)
record = {"argv": sys.argv[1:], "bytes": open(page, "rb").read().decode("latin-1"),
          "file_mode": stat.S_IMODE(os.lstat(page).st_mode), "dir_mode": stat.S_IMODE(os.lstat(folder).st_mode)}
with open(%r, "a") as f:
    f.write(json.dumps(record) + "\\n")
sys.stdout.buffer.write(%r)
"""

SLOW_FILTER = """#!/usr/bin/env python3
import os, sys, time
time.sleep(%d)
os.execv(%r, [%r] + sys.argv[1:])
"""


def make_fixtures(out):
    mal.make(out)
    mal.write_library(os.path.join(out, "root", PRINT_LIB), "Print [EN/PRNT1234567R1A]",
                      [(PRINT_MEMBER, PRINT_PAGE)])


def page_sizes(postscript):
    """(width, height) of each page ghostscript renders at 72 dpi."""
    work = tempfile.mkdtemp(prefix="print_gs_")
    try:
        ps = os.path.join(work, "in.ps")
        with open(ps, "wb") as f:
            f.write(postscript)
        done = subprocess.run(["gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-r72", "-sDEVICE=pnggray",
                               "-sOutputFile=" + os.path.join(work, "p%03d.png"), ps],
                              capture_output=True, timeout=60)
        if done.returncode != 0 or b"Error" in done.stdout + done.stderr:
            raise AssertionError("gs failed: %r" % (done.stdout + done.stderr))
        sizes = []
        for name in sorted(n for n in os.listdir(work) if n.endswith(".png")):
            with open(os.path.join(work, name), "rb") as f:
                head = f.read(24)
            if head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
                raise AssertionError("no PNG from gs: %r" % head)
            sizes.append(struct.unpack(">II", head[16:24]))
        return sizes
    finally:
        shutil.rmtree(work, ignore_errors=True)


def ours(folder):
    """What the print action may leave in TempPath."""
    return sorted(n for n in os.listdir(folder) if n.startswith("kivo"))


def processes_running(marker):
    """Pids whose command line holds marker."""
    found = []
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                if marker.encode() in f.read():
                    found.append(int(pid))
        except OSError:
            pass
    return found


class Printing(mal.ActionLibraryCase):
    make_fixtures = staticmethod(make_fixtures)

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.filter = os.path.abspath(os.environ["RUVAFILTER"])
        cls.work = tempfile.mkdtemp(prefix="print_cmd_")
        cls.records = os.path.join(cls.work, "records.jsonl")
        cls.recorder = cls.script("recorder.py", RECORDER % (cls.records, FAKE_PS))
        cls.slow = cls.script("slow_filter.py", SLOW_FILTER % (2, cls.filter, cls.filter))
        # Outlives every wait of the tests: only a kill ends it in time.
        cls.stuck = cls.script("stuck_filter.py", SLOW_FILTER % (120, cls.filter, cls.filter))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)
        super().tearDownClass()

    @classmethod
    def script(cls, name, text):
        path = os.path.join(cls.work, name)
        with open(path, "w") as f:
            f.write(text)
        os.chmod(path, 0o755)
        return path

    def serve(self, conf_lines=(), env=None):
        web = web_harness.WebServer(daemon=self.d, conf_lines=conf_lines, env=env)
        web.start()
        self.addCleanup(lambda: self.assertEqual(web.leftovers(), []))
        self.addCleanup(web.stop)
        return web

    def query(self, action, **fields):
        parts = ["AC=" + action, "ID=%d" % self.ids[PRINT_LIB], "FN=" + PRINT_MEMBER]
        return "&".join(parts + ["%s=%s" % kv for kv in fields.items()])

    def records_read(self):
        try:
            with open(self.records) as f:
                return [json.loads(line) for line in f]
        except FileNotFoundError:
            return []
        finally:
            if os.path.exists(self.records):
                os.unlink(self.records)

    def direct(self, web, query, **extra):
        out, err, status = web.run_cgi(ka.request_env(web, query, **extra))
        self.assertEqual(status, 0, err)
        return out, err

    def test_ruvafilter_paper_sizes(self):
        command = 'PrintCommand "%s -p%%s -o - %%s"' % self.filter
        cases = [
            ("PRINTA4", (), (595, 842)),
            ("PRINTUS", (), (612, 792)),
            ("PRINTA4", ("PaperSize Letter",), (612, 792)),
            ("PRINTUS", ("PaperSize Letter",), (612, 792)),
        ]
        for action, extra, size in cases:
            with self.subTest(action=action, conf=extra):
                web = self.serve([command] + list(extra))
                status, headers, body = web.request("GET", self.query(action))
                self.assertEqual(status, 200)
                types = [v for k, v in headers if k.lower() == "content-type"]
                self.assertEqual(types, ["application/postscript"])
                self.assertTrue(body.startswith(PS_START), body[:80])
                self.assertEqual(set(page_sizes(body)), {size})
                out, _ = self.direct(web, self.query(action))
                self.assertTrue(out.startswith(PS_HEADER + PS_START), out[:80])
                self.assertEqual(ours(web.path("tmp")), [])
                web.check_logs()

    def test_recording_command_sees_the_print_file(self):
        web = self.serve(['PrintCommand "/bin/false %s %s"'],
                         env={"KIVO_PRINTCOMMAND": "%s -p%%s -o - %%s" % self.recorder})
        for fields in ({}, {"CH": "sec2"}):
            with self.subTest(fields=fields):
                status, headers, body = web.request("GET", self.query("PRINTUS", **fields))
                self.assertEqual((status, body), (200, FAKE_PS))
                [record] = self.records_read()
                page = record["argv"][-1]
                folder = os.path.dirname(page)
                self.assertEqual(record["argv"], ["-pUS", "-o", "-", folder + "/" + PRINT_MEMBER])
                self.assertEqual(os.path.dirname(folder), web.path("tmp"))
                self.assertTrue(os.path.basename(folder).startswith("kivo"), folder)
                self.assertEqual((record["dir_mode"], record["file_mode"]), (0o700, 0o600))
                printed = record["bytes"].encode("latin-1")
                self.assertIn(b"Caf\xe9 \x85 \x8a end.", printed)
                self.assertFalse(os.path.exists(folder))
        # The same document by LINK has those bytes mapped.
        status, _, body = web.request("GET", self.query("LINK"))
        self.assertEqual(status, 200)
        self.assertIn(b"Print me", body)
        self.assertNotIn(b"\x85 \x8a", body)
        web.check_logs()

    def test_plain_print_without_paper_size_sends_an_empty_one(self):
        web = self.serve(['PrintCommand "%s -p%%s -o - %%s"' % self.recorder])
        out, _ = self.direct(web, self.query("PRINT"))
        self.assertEqual(out, PS_HEADER + FAKE_PS)
        [record] = self.records_read()
        self.assertEqual(record["argv"][:3], ["-p", "-o", "-"])

    def test_failing_rows_leave_one_error_page(self):
        marker = os.path.join(self.work, "started")
        blank_dir = os.path.join(self.work, "a b")
        os.makedirs(blank_dir, exist_ok=True)
        cases = [
            ("no output", ['PrintCommand "true %s %s"'], "Postscript filter:<pre>true"),
            ("a missing program", ['PrintCommand "/nonexistent/filter -p%s -o - %s"'],
             "Postscript filter:<pre>/nonexistent/filter"),
            ("100 bytes, then exit 1", ['PrintCommand "head -c 100 /dev/zero; exit 1"'],
             "Postscript filter:<pre>head -c 100"),
            ("a third %s", ['PrintCommand "touch %s %%s %%s %%s"' % marker],
             "reason:<pre>invalid print command</pre>"),
            ("%n", ['PrintCommand "touch %s %%n"' % marker], "reason:<pre>invalid print command</pre>"),
            ("unwritable TempPath", ['PrintCommand "touch %s"' % marker, "TempPath /proc/"],
             "Failed to generate a temporary filename."),
            ("TempPath unfit for a shell line", ['PrintCommand "touch %s"' % marker, 'TempPath "%s"' % blank_dir],
             "Failed to generate a temporary filename."),
        ]
        for name, conf, expected in cases:
            with self.subTest(name):
                web = self.serve(conf)
                out, _ = self.direct(web, self.query("PRINTA4"))
                head, body = ka.split_response(out)
                self.assertEqual(head, ["Content-type: text/html"])
                self.assertNotIn(b"Content-type", body)
                self.assertNotIn(PS_START, out)
                self.assertIn(expected, ka.error_message(body) or "", body[-600:])
                self.assertFalse(os.path.exists(marker))
                self.assertEqual(ours(web.path("tmp")), [])
                self.assertEqual(os.listdir(blank_dir), [])

    def test_use_ldap_refuses_print_as_link(self):
        web = self.serve(['PrintCommand "%s -p%%s -o - %%s"' % self.recorder, "UseLDAP Yes"])
        pages = {}
        for action in ("LINK", "PRINTA4"):
            out, _ = self.direct(web, self.query(action), REMOTE_USER="bob")
            head, body = ka.split_response(out)
            self.assertEqual(head, ["Content-type: text/html"], action)
            pages[action] = ka.error_message(body)
            self.assertIsNotNone(pages[action], body)
        self.assertIn("UNKNOWN_ERROR", pages["PRINTA4"])
        self.assertEqual(pages["PRINTA4"], pages["LINK"])
        self.assertEqual(self.records_read(), [])

    def test_clients_leaving_while_a_slow_filter_runs_leave_nothing(self):
        web = self.serve(['PrintCommand "%s -p%%s -o - %%s"' % self.slow])
        request = ("GET /cgi-bin/kivoserv?%s HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n" % self.query("PRINTA4")).encode()
        answers = []

        def stay():
            status, headers, body = web.request("GET", self.query("PRINTA4"))
            answers.append((status, body[:len(PS_START)]))

        def leave():
            with socket.create_connection(("127.0.0.1", web.port), timeout=10) as s:
                s.sendall(request)
                time.sleep(0.5)

        threads = [threading.Thread(target=stay if i % 2 else leave) for i in range(20)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(60)
        self.assertEqual(answers, [(200, PS_START)] * 10)
        self.wait_clean(web, self.slow)
        web.check_logs()

    def wait_clean(self, web, marker):
        deadline = time.time() + CLEAN_TIMEOUT
        while (ours(web.path("tmp")) or processes_running(marker)) and time.time() < deadline:
            time.sleep(0.05)
        self.assertEqual(ours(web.path("tmp")), [])
        self.assertEqual(processes_running(marker), [])

    def test_an_ended_request_kills_its_filter_and_removes_its_file(self):
        # lighttpd ends a CGI whose client left; a hang-up ends it alike.
        web = self.serve(['PrintCommand "%s -p%%s -o - %%s"' % self.stuck])
        # A filter this test's failure leaves running is ended by its pid.
        self.addCleanup(lambda: daemon_harness.kill_and_reap(processes_running(self.stuck)))
        request = ("GET /cgi-bin/kivoserv?%s HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n" % self.query("PRINTA4")).encode()
        for sig in (signal.SIGTERM, signal.SIGHUP):
            with self.subTest(signal=sig):
                answer = []
                client = threading.Thread(target=lambda: answer.append(web.raw(request, timeout=30)))
                client.start()
                deadline = time.time() + CLEAN_TIMEOUT
                while not processes_running(self.stuck) and time.time() < deadline:
                    time.sleep(0.05)
                self.assertNotEqual(ours(web.path("tmp")), [])
                cgis = daemon_harness.children_of(web.proc.pid)
                self.assertEqual(len(cgis), 1, cgis)
                os.kill(cgis[0], sig)
                self.wait_clean(web, self.stuck)
                client.join(30)
                self.assertNotIn(PS_START, answer[0])


if __name__ == "__main__":
    unittest.main()

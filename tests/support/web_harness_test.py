#!/usr/bin/env python3
"""web_harness: lighttpd serves a stand-in CGI program the way it will serve the
front end, the logs are checked, a daemon can stand behind it, and Chromium
opens its pages."""

import os
import re
import shutil
import socket
import subprocess
import tempfile
import unittest
import urllib.parse

import daemon_harness
import web_harness as wh

# Echoes its own environment (as exec'd, so no shell variable slips in) and its
# input; the query picks a page for the browser, stderr lines or a sanitizer report.
STAND_IN = r"""#!/bin/sh
case "$QUERY_STRING" in
stderr)
    echo "KIVOserv: first complaint" >&2
    echo "KIVOserv: second complaint" >&2 ;;
asan)
    report=${ASAN_OPTIONS#log_path=}
    echo "==$$==ERROR: AddressSanitizer: heap-buffer-overflow" > "${report%%:*}.$$" ;;
exit3)
    exit 3 ;;
segv)
    kill -SEGV $$ ;;
page=ok)
    printf 'Content-type: text/html\n\n<!DOCTYPE html><html><head><title>Stand-in</title></head>'
    printf '<body><p>ok</p><script>window.answer = 6 * 7;</script></body></html>\n'
    exit 0 ;;
page=throw)
    printf 'Content-type: text/html\n\n<!DOCTYPE html><html><head><title>Throws</title></head><body>'
    printf '<img src="/missing.png"><script>console.error("said error"); throw new Error("thrown here");</script>'
    printf '</body></html>\n'
    exit 0 ;;
esac
printf 'Content-type: text/html\n\n'
/usr/bin/tr '\0' '\n' < /proc/$$/environ | LC_ALL=C /usr/bin/sort
echo ---
/bin/cat
"""

STAND_IN_DIR = tempfile.mkdtemp(prefix="rwht_")


def setUpModule():
    path = os.path.join(STAND_IN_DIR, "standin")
    with open(path, "w") as f:
        f.write(STAND_IN)
    os.chmod(path, 0o755)
    os.environ["KIVOSERV"] = path


def tearDownModule():
    shutil.rmtree(STAND_IN_DIR, ignore_errors=True)


def echoed(body):
    """The stand-in's answer: (environment as a dict, input bytes)."""
    env_text, _, stdin = body.partition(b"---\n")
    env = dict(line.split("=", 1) for line in env_text.decode("latin-1").splitlines())
    return env, stdin


def header(headers, name):
    return [v for k, v in headers if k.lower() == name.lower()]


class Served(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.web = wh.WebServer(conf_lines=["TestMode Yes"], env={"EXTRA_VAR": "x y"})
        cls.web.__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.web.__exit__(None, None, None)
        assert cls.web.leftovers() == [], cls.web.leftovers()

    def tearDown(self):
        self.web.check_logs()

    def test_cgi_sees_only_cgi_variables_and_ours(self):
        w = self.web
        status, headers, body = w.request("GET", "AC=EMPTY&x=a%20b")
        self.assertEqual(status, 200)
        self.assertEqual(header(headers, "Content-Type"), ["text/html"])
        env, stdin = echoed(body)
        self.assertEqual(stdin, b"")
        expected = {"QUERY_STRING": "AC=EMPTY&x=a%20b", "REQUEST_METHOD": "GET", "GATEWAY_INTERFACE": "CGI/1.1",
                    "SCRIPT_NAME": "/cgi-bin/kivoserv", "SERVER_PORT": str(w.port), "CONTENT_LENGTH": "0",
                    "KIVOSERVCONF": w.path("conf", "kivo.conf"), "TMPDIR": w.path("tmp"), "PATH": "/usr/bin:/bin",
                    "ASAN_OPTIONS": "log_path=" + w.path("log", "asan"),
                    "UBSAN_OPTIONS": "log_path=%s:halt_on_error=1:print_stacktrace=1" % w.path("log", "ubsan"),
                    "EXTRA_VAR": "x y"}
        self.assertEqual({k: env.get(k) for k in expected}, expected)
        self.assertNotIn("HOME", env)
        with open(w.path("conf", "kivo.conf")) as f:
            self.assertEqual(f.read(), "TempPath %s\nTestMode Yes\n" % w.path("tmp"))
        self.assertEqual(w.url("AC=EMPTY"), "http://127.0.0.1:%d/cgi-bin/kivoserv?AC=EMPTY" % w.port)
        self.assertEqual(w.url(""), "http://127.0.0.1:%d/cgi-bin/kivoserv" % w.port)

    def test_head_post_and_path_info(self):
        w = self.web
        status, headers, body = w.request("HEAD", "AC=EMPTY")
        self.assertEqual((status, body), (200, b""))
        self.assertEqual(header(headers, "Content-Type"), ["text/html"])
        status, _, body = w.request("POST", "", headers={"Content-Type": "application/x-www-form-urlencoded"},
                                    body=b"AC=blank&BG=00ff00")
        env, stdin = echoed(body)
        self.assertEqual((status, stdin), (200, b"AC=blank&BG=00ff00"))
        self.assertEqual((env["REQUEST_METHOD"], env["CONTENT_LENGTH"], env["CONTENT_TYPE"], env["QUERY_STRING"]),
                         ("POST", "18", "application/x-www-form-urlencoded", ""))
        answer = w.raw(b"GET /cgi-bin/kivoserv/AC=TBIMG/IM=5?12,34 HTTP/1.0\r\nHost: h\r\n\r\n")
        head, _, body = answer.partition(b"\r\n\r\n")
        self.assertTrue(head.startswith(b"HTTP/1.0 200 "), head)
        env, _ = echoed(body)
        self.assertEqual((env["PATH_INFO"], env["QUERY_STRING"], env["SCRIPT_NAME"]),
                         ("/AC=TBIMG/IM=5", "12,34", "/cgi-bin/kivoserv"))
        self.assertEqual(w.url("12,34", "/AC=TBIMG/IM=5"),
                         "http://127.0.0.1:%d/cgi-bin/kivoserv/AC=TBIMG/IM=5?12,34" % w.port)

    def test_only_the_front_end_programs_run(self):
        w = self.web
        with open(os.environ["KIVOSERV"], "rb") as f:
            script = f.read()
        # Executable files of other names in cgi-bin stay files, the start page too.
        shutil.copy(os.environ["KIVOSERV"], w.path("cgi-bin", "kivoservx"))
        os.chmod(w.path("cgi-bin", "kivo"), 0o755)
        with open(w.path("cgi-bin", "kivo"), "rb") as f:
            start_page = f.read()
        cases = [("/cgi-bin/kivo", start_page, "text/html"),
                 ("/cgi-bin/kivoservx", script, None),
                 ("/cgi-bin/kivoserv", None, "text/html")]
        for path, served_as_file, content_type in cases:
            with self.subTest(path=path):
                answer = w.raw(b"GET %s HTTP/1.0\r\n\r\n" % path.encode())
                head, _, body = answer.partition(b"\r\n\r\n")
                self.assertTrue(head.startswith(b"HTTP/1.0 200 "), head)
                if served_as_file is not None:
                    self.assertEqual(body, served_as_file)
                else:
                    self.assertIn(b"GATEWAY_INTERFACE=CGI/1.1\n", body)
                if content_type:
                    self.assertIn(b"\r\ncontent-type: %s\r\n" % content_type.encode(), head.lower() + b"\r\n")
        self.assertTrue(start_page.startswith(b"<!DOCTYPE html>"))

    def test_cgi_stderr_must_hold_exactly_the_expected_lines(self):
        w = self.web
        cases = [({"KIVOserv: ": 2}, None),
                 ({"KIVOserv: first": 1, "KIVOserv: ": 1}, None),
                 ({}, "unexpected CGI stderr line: 'KIVOserv: first complaint'"),
                 ({"KIVOserv: ": 1}, "CGI stderr: 2 lines starting 'KIVOserv: ', expected 1"),
                 ({"KIVOserv: ": 2, "other: ": 1}, "CGI stderr: 0 lines starting 'other: ', expected 1")]
        for expect, complaint in cases:
            with self.subTest(expect=expect):
                w.request("GET", "stderr")
                if complaint is None:
                    w.check_logs(expect)
                else:
                    with self.assertRaises(AssertionError) as caught:
                        w.check_logs(expect)
                    self.assertIn(complaint, str(caught.exception))
        # Each check covers only what came after the one before.
        w.request("GET", "")
        w.check_logs()

    def test_sanitizer_reports_and_cgi_deaths_are_caught(self):
        w = self.web
        cases = [("lighttpd", lambda: w.request("GET", "asan"), "ERROR: AddressSanitizer"),
                 ("direct run", lambda: w.run_cgi({"QUERY_STRING": "asan"}), "ERROR: AddressSanitizer"),
                 ("signal", lambda: w.request("GET", "segv"), "died with signal 11")]
        for name, run, complaint in cases:
            with self.subTest(name):
                run()
                with self.assertRaises(AssertionError) as caught:
                    w.check_logs()
                self.assertIn(complaint, str(caught.exception))
                # Reported once only.
                w.check_logs()

    def test_a_taken_port_is_retried_once_on_another(self):
        taken = socket.socket()
        taken.bind(("127.0.0.1", 0))
        taken.listen()
        busy = taken.getsockname()[1]
        probe = daemon_harness.free_port
        try:
            ports = [busy, probe()]
            daemon_harness.free_port = lambda: ports.pop(0)
            with wh.WebServer() as w:
                self.assertEqual(ports, [])
                self.assertNotEqual(w.port, busy)
                self.assertIn("Address already in use", w.log_text("lighttpd.out"))
                self.assertEqual(w.request("GET", "")[0], 200)
                w.check_logs()
            self.assertEqual(w.leftovers(), [])
            ports = [busy, busy]
            failing = wh.WebServer()
            with self.assertRaisesRegex(RuntimeError, "lighttpd did not start:(.|\n)*already in use"):
                failing.__enter__()
            self.assertEqual(failing.leftovers(), [])
        finally:
            daemon_harness.free_port = probe
            taken.close()

    def test_run_cgi_gives_exactly_that_environment(self):
        w = self.web
        out, err, status = w.run_cgi({"QUERY_STRING": "a=1", "REQUEST_METHOD": "POST", "CONTENT_LENGTH": "3"},
                                     stdin=b"xyz")
        self.assertEqual((err, status), ("", 0))
        head, _, body = out.partition(b"\n\n")
        self.assertEqual(head, b"Content-type: text/html")
        env, stdin = echoed(body)
        self.assertEqual(env, {"QUERY_STRING": "a=1", "REQUEST_METHOD": "POST", "CONTENT_LENGTH": "3",
                               "ASAN_OPTIONS": "log_path=" + w.path("log", "asan"),
                               "UBSAN_OPTIONS": "log_path=%s:halt_on_error=1:print_stacktrace=1"
                               % w.path("log", "ubsan")})
        self.assertEqual(stdin, b"xyz")
        out, err, status = w.run_cgi({"QUERY_STRING": "stderr"})
        self.assertEqual(err, "KIVOserv: first complaint\nKIVOserv: second complaint\n")
        self.assertEqual(w.run_cgi({"QUERY_STRING": "exit3"})[2], 3)


@unittest.skipUnless(os.environ.get("RUVADAEMON"), "RUVADAEMON not set")
class DaemonBehind(unittest.TestCase):
    def setUp(self):
        self.libs = tempfile.mkdtemp(prefix="rwhlib_")
        subprocess.run([os.path.join(wh.TOP, "samples", "make_libraries.sh"), self.libs], check=True,
                       stdout=subprocess.DEVNULL, timeout=60)

    def tearDown(self):
        shutil.rmtree(self.libs, ignore_errors=True)

    def daemon_port(self, web):
        with open(web.path("conf", "kivo.conf")) as f:
            found = re.findall(r"^RuvaDaemon 127\.0\.0\.1:(\d+)$", f.read(), re.M)
        self.assertEqual(len(found), 1)
        return int(found[0])

    def test_samples_daemon_is_started_linked_and_stopped(self):
        with wh.WebServer(daemon=self.libs) as w:
            port = self.daemon_port(w)
            c = daemon_harness.Client(port)
            self.assertTrue(c.greeting().startswith(b"200 UZD "))
            c.close()
            answer = w.raw(b"GET /cgi-bin/kivo HTTP/1.0\r\n\r\n")
            self.assertIn(b"\r\nContent-Type: text/html\r\n", answer)
            links = re.findall(r'<a href="kivoserv\?DB=([^"]+)">', answer.decode("utf-8"))
            names = [n for n, _ in wh.manifest_libraries()]
            self.assertTrue(names)
            self.assertEqual([urllib.parse.unquote(x) for x in links], names)
            daemon_root = w.daemon.root
            w.check_logs()
        self.assertEqual(w.leftovers(), [])
        self.assertFalse(os.path.exists(daemon_root))

    def test_a_daemon_of_the_test_is_only_named(self):
        d = daemon_harness.Daemon(lib=self.libs)
        try:
            with wh.WebServer(daemon=d) as w:
                self.assertEqual(self.daemon_port(w), d.port)
                self.assertEqual(len(re.findall(r'href="kivoserv\?DB=', open(w.path("cgi-bin", "kivo")).read())),
                                 len(wh.manifest_libraries()))
            self.assertEqual(w.leftovers(), [])
            c = d.client()
            self.assertTrue(c.greeting().startswith(b"200 UZD "))
        finally:
            d.stop()
            left = d.leftovers()
            d.cleanup()
        self.assertEqual(left, [])


class InBrowser(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.web = wh.WebServer()
        cls.web.__enter__()
        cls.browser = wh.Browser()

    @classmethod
    def tearDownClass(cls):
        pid = cls.browser.proc.pid
        helpers = wh._descendants(pid)
        cls.browser.close()
        cls.web.__exit__(None, None, None)
        alive = [p for p in [pid] + helpers if daemon_harness.pid_alive(p)]
        assert alive == [], "chromium processes left: %s" % alive
        assert cls.web.leftovers() == [], cls.web.leftovers()

    def tearDown(self):
        self.web.check_logs()

    def shot(self):
        path = self.browser.screenshot(self)
        with open(path, "rb") as f:
            self.assertTrue(f.read(8) == b"\x89PNG\r\n\x1a\n", path)
        self.assertGreater(os.path.getsize(path), 100)
        self.assertEqual(os.path.dirname(path), os.path.abspath(os.environ.get("RUVA_ARTIFACTS", os.path.dirname(path))))

    def test_page_opens_evaluates_and_leaves_a_screenshot(self):
        b = self.browser
        self.assertEqual(b.open(self.web.url("page=ok")), [])
        self.assertEqual(b.eval("document.title"), "Stand-in")
        self.assertEqual(b.eval("window.answer"), 42)
        self.assertIsNone(b.eval("undefined"))
        with self.assertRaises(wh.BrowserError):
            b.eval("noSuchName.x")
        self.shot()

    def test_exceptions_console_and_load_errors_are_collected(self):
        b = self.browser
        errors = b.open(self.web.url("page=throw"))
        self.assertEqual(b.eval("document.title"), "Throws")
        text = "\n".join(errors)
        for part in ("exception: Error: thrown here", "console: said error", "log: Failed to load resource"):
            self.assertIn(part, text)
        self.shot()
        # The next page starts with no errors.
        self.assertEqual(b.open(self.web.url("page=ok")), [])

    def test_an_unreachable_address_fails_at_once(self):
        with self.assertRaises(wh.BrowserError):
            self.browser.open("http://127.0.0.1:%d/" % daemon_harness.free_port())


if __name__ == "__main__":
    unittest.main()

#!/usr/bin/env python3
"""Serves the front-end CGI programs through a private lighttpd, and drives a
headless Chromium, for end-to-end tests.

A WebServer owns a folder T:
    www/          document root (.html files served as text/html)
    cgi-bin/      symlinks to the built programs (each found by the environment
                  variable of its name in capitals: KIVOSERV, ZOPASERV, KIVOHINT)
                  and the static start page kivo (text/html, never executed)
    conf/kivo.conf
    tmp/          the programs' TempPath and TMPDIR, lighttpd's upload folder
    log/          error.log, cgi-stderr.log (the programs' stderr), access.log,
                  lighttpd.out, and the sanitizer reports asan.<pid>, ubsan.<pid>
    lighttpd.conf
lighttpd listens on a free loopback port and is stopped by its pid; a system
lighttpd (service, configuration, pid file) is never used or touched. Its URL
normalisation is left as in service: "%41" reaches a program as "A", "<" as
"%3C", "%zz" as "%25zz", and "%00" is refused with 400; run_cgi passes
QUERY_STRING as given.

Command line: web_harness.py conf T PORT
writes T/lighttpd.conf (and the folders it names) and prints its path.
"""

import base64
import fcntl
import html
import http.client
import json
import os
import re
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.parse

import daemon_harness

TOP = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
MANIFEST = os.path.join(TOP, "samples", "manifest.txt")
CGI_URL_PATTERN = r"^/cgi-bin/(kivoserv|zopaserv|kivohint)(/|$)"
START_PAGE = "kivo"
READY_TIMEOUT = 10
# A 1x1 transparent GIF.
FAVICON = bytes.fromhex("47494638396101000100800000000000ffffff21f90401000000002c00000000010001000002024401003b")
REPLY_TIMEOUT = 30


def program_binary(name):
    """The built program `name`, from the environment variable of its name in capitals."""
    var = name.upper()
    path = os.environ.get(var)
    if not path:
        raise RuntimeError("%s not set" % var)
    return os.path.abspath(path)


def lighttpd_binary():
    path = shutil.which("lighttpd", path=os.environ.get("PATH", "") + ":/usr/sbin:/sbin")
    if not path:
        raise RuntimeError("lighttpd is missing (scripts/setup installs it)")
    return path


def sanitizer_env(root):
    """Sanitizer options that send every report to a file under T/log."""
    log = os.path.join(root, "log")
    return {"ASAN_OPTIONS": "log_path=%s" % os.path.join(log, "asan"),
            "UBSAN_OPTIONS": "log_path=%s:halt_on_error=1:print_stacktrace=1" % os.path.join(log, "ubsan")}


def cgi_env(root, extra=None):
    """What lighttpd adds to every CGI's environment: the programs see no other variable of ours."""
    env = {"KIVOSERVCONF": os.path.join(root, "conf", "kivo.conf"),
           "TMPDIR": os.path.join(root, "tmp"),
           "PATH": "/usr/bin:/bin"}
    env.update(sanitizer_env(root))
    env.update(extra or {})
    return env


def _conf_string(text):
    if any(c in text for c in '"\\\n\r\0'):
        raise ValueError("not writable into lighttpd.conf: %r" % text)
    return '"%s"' % text


def conf_text(root, port, env=None):
    """lighttpd.conf for folder T (absolute) on 127.0.0.1:port."""
    root = os.path.abspath(root)

    def path(*parts):
        return _conf_string(os.path.join(root, *parts))

    pairs = ",\n".join("    %s => %s" % (_conf_string(k), _conf_string(v))
                       for k, v in cgi_env(root, env).items())
    return """server.modules = ("mod_alias", "mod_cgi", "mod_setenv", "mod_accesslog")
server.document-root = %(www)s
server.bind = "127.0.0.1"
server.port = %(port)d
server.errorlog = %(errorlog)s
server.breakagelog = %(breakagelog)s
server.upload-dirs = (%(tmp)s)
accesslog.filename = %(accesslog)s
# Static pages of www/ (a test's frame set) are HTML, not downloads.
mimetype.assign = (".html" => "text/html")
alias.url = ("/cgi-bin/" => %(cgibin)s)
# Only the front-end programs run; anything else in cgi-bin is a file.
$HTTP["url"] =~ "%(pattern)s" {
    cgi.assign = ("" => "")
    cgi.execute-x-only = "enable"
}
$HTTP["url"] == "/cgi-bin/%(start)s" {
    mimetype.assign = ("" => "text/html")
}
setenv.add-environment = (
%(pairs)s
)
""" % {"www": path("www"), "port": port, "errorlog": path("log", "error.log"),
       "breakagelog": path("log", "cgi-stderr.log"), "tmp": path("tmp"),
       "accesslog": path("log", "access.log"), "cgibin": _conf_string(os.path.join(root, "cgi-bin") + "/"),
       "pattern": CGI_URL_PATTERN, "start": START_PAGE, "pairs": pairs}


def write_conf(root, port, env=None):
    """Writes T/lighttpd.conf and makes the folders it names; gives its path."""
    for d in ("www", "cgi-bin", "conf", "tmp", "log"):
        os.makedirs(os.path.join(root, d), exist_ok=True)
    path = os.path.join(root, "lighttpd.conf")
    with open(path, "w") as f:
        f.write(conf_text(root, port, env))
    return path


def manifest_libraries(manifest=MANIFEST):
    """(file name, title) of every library samples/manifest.txt names, in its order."""
    found = []
    with open(manifest, encoding="utf-8") as f:
        for line in f:
            line = line.rstrip("\n")
            if not line or line.startswith("#") or line.startswith("\t"):
                continue
            name, _, comment = line.partition("\t")
            found.append((name, comment.split("[", 1)[0].strip() or name))
    return found


def folder_libraries(folder):
    """The libraries of a daemon's folder: those the manifest names first, with
    their titles, then any other file under its own name."""
    if not folder or not os.path.isdir(folder):
        return []
    files = sorted(n for n in os.listdir(folder) if os.path.isfile(os.path.join(folder, n)))
    named = [(n, t) for n, t in manifest_libraries() if n in files]
    known = {n for n, _ in named}
    return named + [(n, n) for n in files if n not in known]


def start_page(libraries):
    """The static start page: one link kivoserv?DB=<library> per library."""
    items = "".join('<li><a href="kivoserv?DB=%s">%s</a></li>\n'
                    % (html.escape(urllib.parse.quote(name, safe=""), quote=True), html.escape(title))
                    for name, title in libraries)
    return ("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Libraries</title></head>\n"
            "<body><h1>Libraries</h1>\n<ul>\n%s</ul></body></html>\n" % items)


def _cgi_orphans(prefix):
    """CGI processes re-parented to us whose program or script (the interpreter's
    first argument) lies under prefix."""
    return daemon_harness.adopted(lambda args: any(a.startswith(prefix) for a in args[:2]))


def _descendants(pid):
    out = []
    todo = [pid]
    while todo:
        for child in daemon_harness.children_of(todo.pop()):
            out.append(child)
            todo.append(child)
    return out


def _stop_process(proc, timeout=10):
    """SIGTERM, then SIGKILL, by pid; gives the exit status."""
    if proc.poll() is None:
        proc.send_signal(signal.SIGTERM)
        try:
            proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait(timeout=timeout)
    return proc.returncode


class WebServer:
    """lighttpd serving the front-end programs from its own folder; a context manager.

    daemon: None; a folder of libraries, run as daemon_harness.Daemon(lib=folder),
    stopped and removed on exit; or a Daemon the test started, only named.
    """

    def __init__(self, programs=("kivoserv",), conf_lines=(), daemon=None, env=None):
        daemon_harness.become_subreaper()
        self.programs = tuple(programs)
        self.conf_lines = list(conf_lines)
        self.env = dict(env or {})
        self.daemon_arg = daemon
        self.daemon = None
        self.own_daemon = False
        self.root = None
        self.port = None
        self.proc = None
        self.proc_pid = None
        self.daemon_left = []
        self._offsets = {}
        self._seen_reports = set()

    # -- set-up -----------------------------------------------------------
    def __enter__(self):
        try:
            self.start()
        except BaseException:
            self.stop()
            raise
        return self

    def __exit__(self, *exc):
        self.stop()
        return False

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    def start(self):
        self.root = tempfile.mkdtemp(prefix="rwh_")
        write_conf(self.root, 0, self.env)
        # Chromium asks every server for one; a 404 is a console error.
        with open(self.path("www", "favicon.ico"), "wb") as f:
            f.write(FAVICON)
        for name in self.programs:
            os.symlink(program_binary(name), self.path("cgi-bin", name))
        if isinstance(self.daemon_arg, daemon_harness.Daemon):
            self.daemon = self.daemon_arg
        elif self.daemon_arg is not None:
            self.daemon = daemon_harness.Daemon(lib=self.daemon_arg)
            self.own_daemon = True
        self.write_kivo_conf()
        libraries = folder_libraries(self.daemon.library_path) if self.daemon else []
        with open(self.path("cgi-bin", START_PAGE), "w") as f:
            f.write(start_page(libraries))
        os.chmod(self.path("cgi-bin", START_PAGE), 0o644)
        self.start_lighttpd()

    def write_kivo_conf(self):
        lines = ["TempPath %s" % self.path("tmp")] + self.conf_lines
        if self.daemon:
            lines.append("RuvaDaemon 127.0.0.1:%d" % self.daemon.port)
        with open(self.path("conf", "kivo.conf"), "w") as f:
            f.write("".join(line + "\n" for line in lines))

    def log_text(self, name):
        try:
            with open(self.path("log", name), "rb") as f:
                return f.read().decode("latin-1")
        except FileNotFoundError:
            return ""

    def start_lighttpd(self):
        # A port probed free may be taken before lighttpd binds it: one more try on another.
        for _ in range(2):
            self.port = daemon_harness.free_port()
            conf = write_conf(self.root, self.port, self.env)
            starts = self.log_text("error.log").count("server started")
            with open(self.path("log", "lighttpd.out"), "ab") as out:
                self.proc = subprocess.Popen([lighttpd_binary(), "-D", "-f", conf], cwd=self.root,
                                             stdin=subprocess.DEVNULL, stdout=out, stderr=out,
                                             start_new_session=True)
            if self.wait_ready(starts):
                return
            _stop_process(self.proc)
            failure = self.log_text("error.log") + self.log_text("lighttpd.out")
            if "already in use" not in failure:
                break
        raise RuntimeError("lighttpd did not start:\n" + self.log_text("error.log") + self.log_text("lighttpd.out"))

    def wait_ready(self, starts):
        """The port accepts, and it is lighttpd's: its start line (one more than
        `starts`) is written only after it bound the port, which another process
        may hold."""
        deadline = time.time() + READY_TIMEOUT
        while time.time() < deadline:
            if self.proc.poll() is not None:
                return False
            if self.log_text("error.log").count("server started") <= starts:
                time.sleep(0.02)
                continue
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return True
            except OSError:
                time.sleep(0.02)
        return False

    # -- stopping ---------------------------------------------------------
    def stop(self):
        if self.proc is not None:
            _stop_process(self.proc)
            self.proc_pid = self.proc.pid
            self.proc = None
        if self.root:
            # A CGI still running when lighttpd ended is ours now.
            daemon_harness.kill_and_reap(_cgi_orphans(self.path("cgi-bin") + "/"))
        if self.own_daemon and self.daemon is not None:
            self.daemon.stop()
            self.daemon_left = self.daemon.leftovers()
            self.daemon.cleanup()
            self.daemon = None
        if self.root:
            shutil.rmtree(self.root, ignore_errors=True)

    def leftovers(self):
        """What a stopped WebServer left behind; empty when nothing."""
        left = list(self.daemon_left)
        if self.proc_pid and daemon_harness.pid_alive(self.proc_pid):
            left.append("lighttpd %d" % self.proc_pid)
        if self.root:
            left += ["CGI process %d" % p for p in _cgi_orphans(self.path("cgi-bin") + "/")]
            if os.path.exists(self.root):
                left.append("folder " + self.root)
        return left

    # -- requests ---------------------------------------------------------
    def url(self, query, path_info=""):
        return "http://127.0.0.1:%d/cgi-bin/%s%s%s" % (self.port, self.programs[0], path_info,
                                                      "?" + query if query else "")

    def request(self, method, query, headers=None, body=None):
        """One request to the program over http.client: (status, [(name, value)...] in order, body)."""
        path = "/cgi-bin/%s%s" % (self.programs[0], "?" + query if query else "")
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=REPLY_TIMEOUT)
        try:
            conn.request(method, path, body=body, headers=dict(headers or {}))
            resp = conn.getresponse()
            data = resp.read()
            return resp.status, resp.getheaders(), data
        finally:
            conn.close()

    def raw(self, data, timeout=REPLY_TIMEOUT):
        """Sends bytes as they are and gives all the server answers until it closes
        (so a request should say HTTP/1.0 or Connection: close)."""
        with socket.create_connection(("127.0.0.1", self.port), timeout=timeout) as s:
            s.sendall(data)
            deadline = time.time() + timeout
            out = b""
            while time.time() < deadline:
                s.settimeout(max(0.01, deadline - time.time()))
                try:
                    chunk = s.recv(65536)
                except socket.timeout:
                    break
                except ConnectionResetError:
                    break
                if not chunk:
                    break
                out += chunk
            return out

    def run_cgi(self, env, stdin=b"", timeout=REPLY_TIMEOUT):
        """Runs the program as lighttpd would (in cgi-bin) with exactly env plus the
        sanitizer options: (stdout bytes, stderr text, exit status)."""
        full = dict(env)
        full.update(sanitizer_env(self.root))
        p = subprocess.run([self.path("cgi-bin", self.programs[0])], cwd=self.path("cgi-bin"), env=full,
                           input=stdin, capture_output=True, timeout=timeout)
        return p.stdout, p.stderr.decode("latin-1"), p.returncode

    # -- logs -------------------------------------------------------------
    def _new_lines(self, name):
        text = self.log_text(name)
        start = self._offsets.get(name, 0)
        self._offsets[name] = len(text)
        return text[start:].splitlines()

    def wait_cgis_done(self, timeout=10):
        """Until lighttpd has reaped every CGI: its lines about them follow the
        answer, which the client may already have read."""
        deadline = time.time() + timeout
        while self.proc is not None and daemon_harness.children_of(self.proc.pid) and time.time() < deadline:
            time.sleep(0.01)

    def check_logs(self, expect=None):
        """Raises AssertionError unless, since the last check, no sanitizer report
        was written, the error log holds no CGI line, and the CGI stderr log holds
        exactly the expected lines: {line start: count}."""
        problems = []
        self.wait_cgis_done()
        log = self.path("log")
        for name in sorted(os.listdir(log)):
            if name.startswith(("asan.", "ubsan.")) and name not in self._seen_reports:
                self._seen_reports.add(name)
                problems.append("sanitizer report %s:\n%s" % (name, self.log_text(name)))
        stderr_lines = self._new_lines("cgi-stderr.log")
        for line in stderr_lines:
            if any(mark in line for mark in daemon_harness.SANITIZER_MARKS):
                problems.append("sanitizer report on stderr: " + line)
        counts = dict.fromkeys(expect or {}, 0)
        for line in stderr_lines:
            starts = [k for k in counts if line.startswith(k)]
            if starts:
                counts[max(starts, key=len)] += 1
            else:
                problems.append("unexpected CGI stderr line: %r" % line)
        for start, want in (expect or {}).items():
            if counts[start] != want:
                problems.append("CGI stderr: %d lines starting %r, expected %d" % (counts[start], start, want))
        for line in self._new_lines("error.log"):
            if "mod_cgi" in line or "/cgi-bin/" in line:
                problems.append("error log: " + line)
        if problems:
            raise AssertionError("\n".join(problems))


class BrowserError(AssertionError):
    """Chromium died, did not answer in time, or a command failed."""


class Browser:
    """Headless Chromium driven over the DevTools protocol on --remote-debugging-pipe
    (NUL-ended JSON: we write descriptor 3, read descriptor 4). Every read of the
    pipe has a deadline; the process and its helpers are killed by pid at close.

    By default a dialog fails the page: it is dismissed and counted among the
    errors. With accept_dialogs, dialogs are accepted and their texts kept in
    dialogs instead, for pages whose flow goes through alert or confirm."""

    def __init__(self, timeout=20, accept_dialogs=False):
        daemon_harness.become_subreaper()
        self.timeout = timeout
        self.accept_dialogs = accept_dialogs
        self.dialogs = []
        self.target = None
        self._popups = {}  # session -> target of each pop-up attached by popup()
        self.root = tempfile.mkdtemp(prefix="rwb_")
        self.errors = []
        self.proc = None
        self.session = None
        self._next_id = 0
        self._buf = b""
        self._events = []
        self._event_params = []
        self._injected = []
        self._to_child = self._from_child = None
        try:
            self._start()
        except BaseException:
            self.close()
            raise

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def _start(self):
        to_child_r, self._to_child = os.pipe()
        self._from_child, from_child_w = os.pipe()
        # Above 4, so that the two dup2 calls in the child cannot overwrite each other.
        high_r = fcntl.fcntl(to_child_r, fcntl.F_DUPFD_CLOEXEC, 10)
        high_w = fcntl.fcntl(from_child_w, fcntl.F_DUPFD_CLOEXEC, 10)
        os.close(to_child_r)
        os.close(from_child_w)

        def pipes():
            os.dup2(high_r, 3)
            os.dup2(high_w, 4)

        chromium = shutil.which("chromium") or shutil.which("chromium-browser")
        if not chromium:
            raise RuntimeError("chromium is missing (scripts/setup installs it)")
        args = [chromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
                "--no-first-run", "--user-data-dir=" + os.path.join(self.root, "profile"),
                "--remote-debugging-pipe", "about:blank"]
        try:
            with open(os.path.join(self.root, "chromium.log"), "ab") as out:
                self.proc = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=out, stderr=out,
                                             pass_fds=(3, 4), preexec_fn=pipes, start_new_session=True)
        finally:
            os.close(high_r)
            os.close(high_w)
        self.target = self.call("Target.createTarget", {"url": "about:blank"}, session=False)["targetId"]
        self.session = self.call("Target.attachToTarget", {"targetId": self.target, "flatten": True},
                                 session=False)["sessionId"]
        for domain in ("Page", "Runtime", "Log"):
            self.call(domain + ".enable")

    # -- the pipe ---------------------------------------------------------
    def _send(self, message):
        data = json.dumps(message).encode("utf-8") + b"\0"
        deadline = time.time() + self.timeout
        while data:
            _, ready, _ = select.select([], [self._to_child], [], max(0, deadline - time.time()))
            if not ready:
                raise BrowserError("chromium takes no command: %s" % message.get("method"))
            try:
                data = data[os.write(self._to_child, data):]
            except BrokenPipeError:
                raise BrowserError("chromium ended: " + self.log_tail())

    def _read(self, deadline, waiting_for):
        """The next message, or BrowserError at the deadline or when chromium ends."""
        while b"\0" not in self._buf:
            left = deadline - time.time()
            ready = select.select([self._from_child], [], [], max(0, left))[0] if left > 0 else []
            if not ready:
                raise BrowserError("no answer from chromium for %s" % waiting_for)
            chunk = os.read(self._from_child, 1 << 20)
            if not chunk:
                raise BrowserError("chromium ended while waiting for %s: %s" % (waiting_for, self.log_tail()))
            self._buf += chunk
        text, self._buf = self._buf.split(b"\0", 1)
        message = json.loads(text)
        if "method" in message:
            self._on_event(message)
        return message

    def _on_event(self, message):
        session = message.get("sessionId")
        if session != self.session and session not in self._popups:
            return
        params = message.get("params", {})
        method = message["method"]
        if session == self.session:
            self._events.append(method)
            self._event_params.append(params)
        if method == "Runtime.exceptionThrown":
            d = params.get("exceptionDetails", {})
            # The script's address, when it came from one, tells whose error it is.
            where = " " + d["url"] if d.get("url") else ""
            self.errors.append("exception: " + (d.get("exception", {}).get("description") or d.get("text", ""))
                               + where)
        elif method == "Runtime.consoleAPICalled" and params.get("type") in ("error", "assert"):
            args = params.get("args", [])
            self.errors.append("console: " + " ".join(str(a.get("value", a.get("description", ""))) for a in args))
        elif method == "Log.entryAdded" and params.get("entry", {}).get("level") == "error":
            e = params["entry"]
            self.errors.append("log: %s %s" % (e.get("text", ""), e.get("url", "")))
        elif method == "Page.javascriptDialogOpening":
            # Answered at once, or the page would wait on it and every later command with it.
            text = "dialog: %s %s" % (params.get("type", ""), params.get("message", ""))
            (self.dialogs if self.accept_dialogs else self.errors).append(text)
            self._send({"id": 0, "method": "Page.handleJavaScriptDialog", "params": {"accept": self.accept_dialogs},
                        "sessionId": session})

    def call(self, method, params=None, session=True, timeout=None):
        """Sends one command and gives its result; events read meanwhile are recorded.
        session: True for the page, False for the browser, or a pop-up's session."""
        self._next_id += 1
        message = {"id": self._next_id, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = session if isinstance(session, str) else self.session
        self._send(message)
        deadline = time.time() + (timeout or self.timeout)
        while True:
            reply = self._read(deadline, method)
            if reply.get("id") == self._next_id:
                if "error" in reply:
                    raise BrowserError("%s: %s" % (method, reply["error"]))
                return reply.get("result", {})

    def wait_event(self, method, timeout=None):
        """Takes the first recorded event of that name, waiting for one; gives its parameters."""
        deadline = time.time() + (timeout or self.timeout)
        while method not in self._events:
            self._read(deadline, method)
        at = self._events.index(method)
        del self._events[at]
        return self._event_params.pop(at)

    # -- pages ------------------------------------------------------------
    def open(self, url, scripts=()):
        """Loads url and waits for its load event; gives the errors (exceptions,
        console errors, log errors, dialogs, which are dismissed) the page raises,
        a list that keeps growing until the next open. Each of scripts runs in
        the page before any of its own, for this load only."""
        self.errors = []
        self.dialogs = []
        self._events = []
        self._event_params = []
        for old in self._injected:
            self.call("Page.removeScriptToEvaluateOnNewDocument", {"identifier": old})
        self._injected = [self.call("Page.addScriptToEvaluateOnNewDocument", {"source": source})["identifier"]
                          for source in scripts]
        result = self.call("Page.navigate", {"url": url})
        if result.get("errorText"):
            raise BrowserError("%s: %s" % (url, result["errorText"]))
        self.wait_event("Page.loadEventFired")
        # A round trip takes in what the page reported before its load ended.
        self.eval("0")
        return self.errors

    def eval(self, expression, session=True, gesture=False):
        """The value of a script expression in the page (promises awaited);
        gesture: run as if the user acted (pop-ups open only then)."""
        result = self.call("Runtime.evaluate", {"expression": expression, "returnByValue": True,
                                                 "awaitPromise": True, "userGesture": gesture}, session=session)
        if "exceptionDetails" in result:
            d = result["exceptionDetails"]
            raise BrowserError("%s: %s" % (expression, d.get("exception", {}).get("description") or d.get("text")))
        return result.get("result", {}).get("value")

    def _page_targets(self):
        return {t["targetId"] for t in self.call("Target.getTargets", session=False)["targetInfos"]
                if t["type"] == "page"}

    def popup(self, name, timeout=None):
        """The window the page opened under that name, waiting for it; its
        errors and dialogs join the page's."""
        deadline = time.time() + (timeout or self.timeout)
        while True:
            for target in self._page_targets() - {self.target} - set(self._popups.values()):
                try:
                    session = self.call("Target.attachToTarget", {"targetId": target, "flatten": True},
                                        session=False)["sessionId"]
                except BrowserError:
                    continue  # closed meanwhile
                self._popups[session] = target
                for domain in ("Page", "Runtime", "Log"):
                    self.call(domain + ".enable", session=session)
            for session, target in self._popups.items():
                try:
                    if self.eval("window.name", session=session) == name:
                        return Popup(self, session, target)
                except BrowserError:
                    pass
            if time.time() > deadline:
                raise BrowserError("no window named %s" % name)
            time.sleep(0.1)

    def screenshot(self, test):
        """Writes the page as $RUVA_ARTIFACTS/<test>.png (test: a name or a TestCase); gives the path."""
        name = test if isinstance(test, str) else test.id()
        if name.startswith("__main__."):
            name = os.path.splitext(os.path.basename(sys.argv[0]))[0] + name[len("__main__"):]
        folder = os.environ.get("RUVA_ARTIFACTS") or os.path.join(tempfile.gettempdir(), "ruva-artifacts")
        os.makedirs(folder, exist_ok=True)
        data = base64.b64decode(self.call("Page.captureScreenshot", {"format": "png"})["data"])
        path = os.path.join(folder, re.sub(r"[^A-Za-z0-9_.-]", "_", name) + ".png")
        with open(path, "wb") as f:
            f.write(data)
        return path

    def log_tail(self):
        try:
            with open(os.path.join(self.root, "chromium.log"), "rb") as f:
                return f.read()[-2000:].decode("latin-1")
        except OSError:
            return ""

    def close(self):
        if self.proc is not None:
            helpers = _descendants(self.proc.pid)
            if self.proc.poll() is None:
                try:
                    self._send({"id": 0, "method": "Browser.close"})
                    self.proc.wait(timeout=5)
                except (BrowserError, subprocess.TimeoutExpired):
                    pass
            if self.proc.poll() is None:
                helpers += _descendants(self.proc.pid)
                self.proc.kill()
                self.proc.wait(timeout=10)
            daemon_harness.kill_and_reap([p for p in helpers if daemon_harness.pid_alive(p)])
            self.proc = None
        for fd in ("_to_child", "_from_child"):
            if getattr(self, fd, None) is not None:
                os.close(getattr(self, fd))
                setattr(self, fd, None)
        if self.root:
            shutil.rmtree(self.root, ignore_errors=True)
            self.root = None


class Popup:
    """A window a page opened (Browser.popup)."""

    def __init__(self, browser, session, target):
        self.browser = browser
        self.session = session
        self.target = target

    def eval(self, expression, gesture=False):
        return self.browser.eval(expression, session=self.session, gesture=gesture)

    def closed(self):
        return self.target not in self.browser._page_targets()

    def wait_closed(self, timeout=None):
        deadline = time.time() + (timeout or self.browser.timeout)
        while not self.closed():
            if time.time() > deadline:
                raise BrowserError("the window stays open")
            time.sleep(0.1)


def close_all(web, browser):
    """Closes a test class's browser (None: never started) and WebServer; fails
    when either left a process or a folder behind."""
    pid = browser.proc.pid if browser is not None and browser.proc is not None else None
    if browser is not None:
        browser.close()
    web.__exit__(None, None, None)
    assert pid is None or not daemon_harness.pid_alive(pid), "chromium %d left" % pid
    assert web.leftovers() == [], web.leftovers()


def main(argv):
    if len(argv) != 4 or argv[1] != "conf" or not argv[3].isdigit():
        print("usage: web_harness.py conf T PORT", file=sys.stderr)
        return 2
    print(write_conf(os.path.abspath(argv[2]), int(argv[3])))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

#!/usr/bin/env python3
"""Starts, talks to and stops ruvadaemon instances for end-to-end tests.

Each daemon gets its own folder T (home/tmp, lib, annot), a free loopback
port, a configuration file, and runs through a symlink T/bin/rd_<pid>_<n> so
that its pid file is unique. Stopping leaves no process, pid file or update
semaphore set behind.

Command line: daemon_harness.py run [--lib DIR] -- CMD
starts a daemon, exports RUVA_PORT, runs CMD and stops the daemon.
"""

import ctypes
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
import unittest

PR_SET_CHILD_SUBREAPER = 36
UPDATE_MUTEX_KEY_BASE = 9350000
ARTICLE = "DOCSRV 1"
REVISION = "R19K"
PROGRAM = "ruvadaemon"
SANITIZER_MARKS = ("ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:")
IDRETR_ENTRY = re.compile(rb'300 (\d+) "[^"]*" "[^"]*"  ')

_counter = [0]
_subreaper = [False]


def become_subreaper():
    """Orphaned daemons and scanners are re-parented to us, so we can reap them."""
    if _subreaper[0]:
        return
    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)
    _subreaper[0] = True


def reap_all():
    while True:
        try:
            pid, _ = os.waitpid(-1, os.WNOHANG)
        except ChildProcessError:
            return
        if pid == 0:
            return


def adopted(matches):
    """Pids of processes re-parented to us (see become_subreaper) whose argument
    list, read from /proc, `matches` accepts."""
    found = set()
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                ppid = int(f.read().rsplit(")", 1)[1].split()[1])
            with open("/proc/%s/cmdline" % entry, "rb") as f:
                args = [a.decode("latin-1") for a in f.read().split(b"\0")]
        except (OSError, IndexError, ValueError):
            continue
        if ppid == os.getpid() and matches(args):
            found.add(int(entry))
    return found


def kill_and_reap(pids, wait=5):
    """SIGKILL to each pid, then reaps until none is left or `wait` seconds passed."""
    for p in pids:
        try:
            os.kill(p, signal.SIGKILL)
        except ProcessLookupError:
            pass
    deadline = time.time() + wait
    while time.time() < deadline and any(pid_alive(p) for p in pids):
        reap_all()
        time.sleep(0.05)
    reap_all()


def free_port():
    """A port free for TCP and UDP on 127.0.0.1 when probed."""
    for _ in range(50):
        t = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        t.bind(("127.0.0.1", 0))
        port = t.getsockname()[1]
        u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        try:
            u.bind(("127.0.0.1", port))
        except OSError:
            t.close()
            u.close()
            continue
        t.close()
        u.close()
        if port >= 1024:
            return port
    raise RuntimeError("no free port")


def daemon_binary():
    path = os.environ.get("RUVADAEMON")
    if not path:
        raise RuntimeError("RUVADAEMON not set")
    return path


def pid_alive(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            state = f.read().rsplit(")", 1)[1].split()[0]
        return state != "Z"
    except (FileNotFoundError, ProcessLookupError, IndexError):
        return False


def children_of(pid):
    try:
        with open("/proc/%d/task/%d/children" % (pid, pid)) as f:
            return [int(x) for x in f.read().split()]
    except (FileNotFoundError, ProcessLookupError):
        return []


def semaphore_keys():
    """Keys of the System V semaphore sets, from /proc."""
    keys = set()
    try:
        with open("/proc/sysvipc/sem") as f:
            next(f)
            for line in f:
                parts = line.split()
                if parts:
                    keys.add(int(parts[0]))
    except FileNotFoundError:
        pass
    return keys


def remove_semaphore(key):
    if key in semaphore_keys():
        subprocess.run(["ipcrm", "-S", str(key)], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


class SemBuf(ctypes.Structure):
    _fields_ = [("sem_num", ctypes.c_ushort), ("sem_op", ctypes.c_short), ("sem_flg", ctypes.c_short)]


SEM_UNDO = 0x1000
IPC_CREAT = 0o1000


def update_lock_ops(key, ops):
    """The update mutex's own steps on the daemon's semaphore set (key: the
    daemon's port + UPDATE_MUTEX_KEY_BASE); ops are (sem_op, sem_flg) pairs:
    [(0, 0), (1, SEM_UNDO)] takes it, [(-1, SEM_UNDO)] gives it back."""
    libc = ctypes.CDLL(None, use_errno=True)
    sid = libc.semget(key, 1, IPC_CREAT | 0o666)
    if sid < 0:
        raise OSError(ctypes.get_errno(), "semget")
    arr = (SemBuf * len(ops))(*[SemBuf(0, op, flg) for op, flg in ops])
    if libc.semop(sid, arr, len(ops)) != 0:
        raise OSError(ctypes.get_errno(), "semop")


class ReplyError(AssertionError):
    """A reply broke the framing rules: no final line, or bytes after it."""


def is_final(text):
    """A reply's last line: any line that is no 3xx line, and 2xx lines."""
    return not text or text[0] not in "3"


class Client:
    """One protocol connection; every read is time-limited."""

    # How long a reply's end is watched for bytes that should not come.
    settle = 0.02

    def __init__(self, port, host="127.0.0.1", source=None, timeout=10):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.sock.settimeout(timeout)
        if source:
            self.sock.bind((source, 0))
        self.sock.connect((host, port))
        self.buf = b""

    def read_line(self):
        while b"\n" not in self.buf:
            data = self.sock.recv(65536)
            if not data:
                line, self.buf = self.buf, b""
                return line if line else None
            self.buf += data
        line, self.buf = self.buf.split(b"\n", 1)
        return line + b"\n"

    def read_bytes(self, n):
        while len(self.buf) < n:
            data = self.sock.recv(65536)
            if not data:
                break
            self.buf += data
        out, self.buf = self.buf[:n], self.buf[n:]
        return out

    def greeting(self):
        return self.read_line()

    def read_reply(self):
        """Lines of one reply, written from the protocol's reply rules."""
        lines = []
        after_data = False
        while True:
            line = self.read_line()
            if line is None:
                return lines
            # An IDRETR section may hold newlines: its entry line is framed by
            # the size after "300 ", counting the bytes after the two blanks.
            section = IDRETR_ENTRY.match(line)
            if section and len(line) < section.end() + int(section.group(1)) + 1:
                line += self.read_bytes(section.end() + int(section.group(1)) + 1 - len(line))
            lines.append(line)
            text = line.decode("latin-1")
            # A count or CRC failure stands in the CRC line's place; the next member follows.
            if after_data and text.startswith("500-Failed, "):
                after_data = False
                continue
            after_data = False
            if not is_final(text):
                # CONTV's header also starts "300-Length", with no number.
                framing = re.match(r"300-Length (\d+)", text)
                if framing:
                    lines.append(self.read_bytes(int(framing.group(1))))
                    after_data = True
                # other 3xx- lines are headers, 3xx lines are entries
                continue
            return lines

    def reply(self, label=""):
        """One whole reply: it must end at exactly one final line with no byte
        waiting after it (EOF may follow)."""
        lines = self.read_reply()
        self.check_reply_end(label, lines)
        return b"".join(lines)

    def command(self, line):
        """Sends one command line and reads its whole reply."""
        self.sock.sendall(line.encode("latin-1") + b"\n")
        return self.reply(line)

    def check_reply_end(self, command, lines):
        if not lines or not is_final(lines[-1].decode("latin-1")):
            raise ReplyError("%r: reply ends without a final line: %r" % (command, b"".join(lines)[-200:]))
        waiting = self.buf
        if not waiting:
            ready, _, _ = select.select([self.sock], [], [], Client.settle)
            if ready:
                try:
                    waiting = self.sock.recv(65536, socket.MSG_PEEK)
                except (ConnectionResetError, socket.timeout):
                    waiting = b""
        if waiting:
            raise ReplyError("%r: bytes after the final line: %r" % (command, waiting[:200]))

    def at_eof(self):
        try:
            return self.sock.recv(1) == b"" and not self.buf
        except (ConnectionResetError, socket.timeout):
            return False

    def close(self):
        try:
            self.sock.close()
        except OSError:
            pass


def mllist_entry(port, name):
    """(hash id, comment) of a library from the daemon's MLLIST line of it:
    the id is the field between the first two bars (the name is padded)."""
    c = Client(port)
    try:
        c.greeting()
        reply = c.command('MLLIST "%s"' % name).decode("latin-1")
    finally:
        c.close()
    found = re.search(r'^300\s+DB\s+\d+\s+" *%s"\s+"[^"|]*\|(\d+)\|[^"]*"\s+\d+\s+\d+\s+\d+\s+"((?:[^"\\]|\\.)*)"'
                      % re.escape(name), reply, re.M)
    assert found, reply
    return found.group(1), re.sub(r'\\(.)', r'\1', found.group(2))


class Daemon:
    """One daemon in its own folder."""

    def __init__(self, extra_config="", args=(), lib=None, start=True, debug=False, port=None,
                 write_config=True, library_path=None):
        become_subreaper()
        _counter[0] += 1
        self.n = _counter[0]
        self.root = tempfile.mkdtemp(prefix="rdh_")
        for d in ("home/tmp", "lib", "annot", "bin"):
            os.makedirs(os.path.join(self.root, d), exist_ok=True)
        if lib:
            for name in os.listdir(lib):
                shutil.copy(os.path.join(lib, name), os.path.join(self.root, "lib", name))
        self.name = "rd_%d_%d" % (os.getpid(), self.n)
        self.link = os.path.join(self.root, "bin", self.name)
        os.symlink(os.path.abspath(daemon_binary()), self.link)
        self.pidfile = "/tmp/%s.pid" % self.name
        if os.path.exists(self.pidfile):
            os.unlink(self.pidfile)
        self.conf = os.path.join(self.root, "ruvadaemon.conf")
        self.log = os.path.join(self.root, "ruvadaemon.log")
        self.cache = os.path.join(self.root, "ruvaknown.cache")
        self.extra_config = extra_config
        self.args = list(args)
        self.debug = debug
        self.port = port
        self.write_config = write_config
        # A structure file or another folder instead of T/lib.
        self.library_path = library_path or os.path.join(self.root, "lib")
        self.pid = None
        self.launcher = None
        self.children = set()
        self.stopped = False
        self.exit_status = None
        self.clients = []
        if start:
            self.start()

    # -- set-up ---------------------------------------------------------
    def config_text(self):
        return ("WellKnownPort %d\nUseSysLog no\nLogFile %s\nLogLevel Debug\nLibraryPath %s\n"
                "AnnotationDb %s\nCacheFile %s\nParentWaitTime 5\n%s\n"
                % (self.port, self.log, self.library_path, os.path.join(self.root, "annot"),
                   self.cache, self.extra_config))

    def write_conf(self):
        with open(self.conf, "w") as f:
            f.write(self.config_text())

    def env(self):
        env = dict(os.environ)
        env["HOME"] = os.path.join(self.root, "home")
        for k in ("RUVAHOME", "PRERELHOME", "WUBHOME"):
            env.pop(k, None)
        return env

    def launch(self, args, wait=False, timeout=30):
        """Runs the daemon binary; returns the Popen (or the status when wait)."""
        out = open(os.path.join(self.root, "stdout.%d" % self.n), "ab")
        err = open(os.path.join(self.root, "stderr.%d" % self.n), "ab")

        def pre():
            os.setsid()
            import resource
            resource.setrlimit(resource.RLIMIT_CORE, (0, 0))

        p = subprocess.Popen([self.link] + list(args), cwd=self.root, env=self.env(), stdin=subprocess.DEVNULL,
                             stdout=out, stderr=err, preexec_fn=pre)
        out.close()
        err.close()
        if wait:
            return p.wait(timeout=timeout)
        return p

    def _output(self, which):
        try:
            with open(os.path.join(self.root, "%s.%d" % (which, self.n)), "rb") as f:
                return f.read().decode("latin-1")
        except FileNotFoundError:
            return ""

    def stdout_text(self):
        return self._output("stdout")

    def stderr_text(self):
        return self._output("stderr")

    def log_text(self):
        try:
            with open(self.log, "rb") as f:
                return f.read().decode("latin-1")
        except FileNotFoundError:
            return ""

    def start(self, retry=True):
        for attempt in range(2 if retry else 1):
            if self.port is None or attempt > 0:
                self.port = free_port()
            if self.write_config:
                self.write_conf()
            args = ["-c", self.conf] + self.args
            if self.debug:
                args = ["-d"] + args
            self.launcher = self.launch(args)
            if not self.debug:
                self.launcher.wait(timeout=30)
            if self.wait_ready(allow_retry=retry):
                return
            self.kill_everything()
        raise RuntimeError("daemon did not start:\n" + self.log_text())

    def read_pid(self):
        try:
            with open(self.pidfile) as f:
                text = f.read()
            if text.endswith("\n") and text[:-1].isdigit():
                return int(text)
        except FileNotFoundError:
            pass
        return None

    def wait_ready(self, allow_retry=True, timeout=20):
        deadline = time.time() + timeout
        while time.time() < deadline:
            pid = self.read_pid()
            if pid:
                self.pid = pid
                c = Client(self.port)
                g = c.greeting()
                c.close()
                if g and g.startswith(b"200 UZD "):
                    return True
            if allow_retry and "Failed to initialize server sockets" in self.log_text():
                return False
            reap_all()
            time.sleep(0.05)
        return False

    # -- talking ----------------------------------------------------------
    def client(self, **kw):
        c = Client(self.port, **kw)
        self.clients.append(c)
        return c

    def wait_log(self, text, timeout=20, count=1):
        deadline = time.time() + timeout
        while time.time() < deadline:
            if self.log_text().count(text) >= count:
                return True
            reap_all()
            time.sleep(0.05)
        return False

    def scanner_pid(self, nth=1):
        """Pid of the nth scanner, from the prefix of its start line."""
        found = [l for l in self.log_text().splitlines() if "Filesystem scan process started" in l]
        if len(found) < nth:
            return None
        return int(found[nth - 1].split("]", 1)[0].lstrip("["))

    def record_children(self):
        if self.pid:
            for c in children_of(self.pid):
                self.children.add(c)

    # -- stopping ---------------------------------------------------------
    def orphans(self):
        """Processes of this daemon re-parented to us (a detached daemon whose
        pid file never came, its scanner, its sessions), found by pid."""
        return adopted(lambda args: args[0] == self.link)

    def kill_everything(self):
        pids = set(self.children) | self.orphans()
        if self.pid:
            pids.add(self.pid)
            pids.update(children_of(self.pid))
        kill_and_reap(pids)
        if self.launcher is not None:
            try:
                self.launcher.wait(timeout=5)
            except subprocess.TimeoutExpired:
                pass
        if self.port:
            remove_semaphore(self.port + UPDATE_MUTEX_KEY_BASE)
        if os.path.exists(self.pidfile):
            os.unlink(self.pidfile)

    def stop(self, sig=signal.SIGTERM, timeout=15):
        """Clean stop; returns True when the daemon ended by itself."""
        if self.stopped:
            return True
        self.stopped = True
        for c in self.clients:
            c.close()
        self.clients = []
        pid = self.read_pid() or self.pid
        self.pid = pid
        self.record_children()
        clean = False
        if pid:
            try:
                os.kill(pid, sig)
            except ProcessLookupError:
                pass
            deadline = time.time() + timeout
            while time.time() < deadline:
                if self.launcher is not None and self.debug and self.launcher.poll() is not None:
                    self.exit_status = self.launcher.returncode
                    break
                try:
                    got, status = os.waitpid(pid, os.WNOHANG)
                    if got == pid:
                        self.exit_status = os.waitstatus_to_exitcode(status)
                        break
                except ChildProcessError:
                    if not pid_alive(pid):
                        break
                time.sleep(0.05)
            clean = not pid_alive(pid)
        self.kill_everything()
        return clean

    def leftovers(self):
        """What a stopped daemon left behind; empty when nothing."""
        left = []
        for p in set(self.children) | ({self.pid} if self.pid else set()):
            if pid_alive(p):
                left.append("process %d" % p)
        if os.path.exists(self.pidfile):
            left.append("pid file " + self.pidfile)
        if self.port and (self.port + UPDATE_MUTEX_KEY_BASE) in semaphore_keys():
            left.append("semaphore set %d" % (self.port + UPDATE_MUTEX_KEY_BASE))
        for mark in SANITIZER_MARKS:
            if mark in self.log_text():
                left.append("sanitizer report in log")
        return left

    def cleanup(self):
        self.stop()
        shutil.rmtree(self.root, ignore_errors=True)



class LibraryCase(unittest.TestCase):
    """One daemon per class over the libraries make_fixtures(folder) writes; subclasses set it."""

    make_fixtures = None

    @staticmethod
    def daemon_options(fixtures):
        """Daemon arguments: by default the fixtures are the library folder."""
        return {"lib": fixtures}

    @classmethod
    def setUpClass(cls):
        cls.fixtures = tempfile.mkdtemp(prefix="rdlib_")
        cls.make_fixtures(cls.fixtures)
        cls.d = Daemon(**cls.daemon_options(cls.fixtures))

    @classmethod
    def tearDownClass(cls):
        cls.d.stop()
        left = cls.d.leftovers()
        cls.d.cleanup()
        shutil.rmtree(cls.fixtures, ignore_errors=True)
        assert left == [], left

    def session(self):
        c = self.d.client()
        self.assertTrue(c.greeting().startswith(b"200 UZD "))
        return c


def main(argv):
    if len(argv) < 2 or argv[1] != "run" or "--" not in argv:
        print("usage: daemon_harness.py run [--lib DIR] -- CMD", file=sys.stderr)
        return 2
    sep = argv.index("--")
    opts = argv[2:sep]
    cmd = argv[sep + 1:]
    lib = None
    if len(opts) >= 2 and opts[0] == "--lib":
        lib = opts[1]
    d = Daemon(lib=lib)
    try:
        env = dict(os.environ)
        env["RUVA_PORT"] = str(d.port)
        status = subprocess.call(cmd, env=env)
    finally:
        d.stop()
        left = d.leftovers()
        d.cleanup()
    if left:
        print("left behind: " + ", ".join(left), file=sys.stderr)
        return 1
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv))

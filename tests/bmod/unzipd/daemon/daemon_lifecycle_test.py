#!/usr/bin/env python3
"""Start, sessions, clean stop, reconfiguration, fault restart and scanner deaths."""

import os
import signal
import socket
import struct
import time
import unittest
import zipfile

import daemon_harness as h

GREETING = b'200 UZD %s "%s" %s "Kivo Browser"\n' % (h.PROGRAM.encode(), h.ARTICLE.encode(), h.REVISION.encode())


def wait_until(pred, timeout):
    deadline = time.time() + timeout
    while time.time() < deadline:
        if pred():
            return True
        h.reap_all()
        time.sleep(0.05)
    return pred()


def session_id(pid):
    with open("/proc/%d/stat" % pid) as f:
        return int(f.read().rsplit(")", 1)[1].split()[3])


class Base(unittest.TestCase):
    def setUp(self):
        self.daemons = []

    def daemon(self, **kw):
        d = h.Daemon(**kw)
        self.daemons.append(d)
        return d

    def tearDown(self):
        for d in self.daemons:
            d.stop()
            left = d.leftovers()
            d.cleanup()
            self.assertEqual(left, [], d.name)


class StartAndSessions(Base):
    def test_start_greeting_version_quit(self):
        d = self.daemon()
        self.assertEqual(d.launcher.returncode, 0)
        self.assertEqual(session_id(d.pid), d.pid)
        with open(d.pidfile) as f:
            self.assertEqual(f.read(), "%d\n" % d.pid)
        c = d.client()
        self.assertEqual(c.greeting(), GREETING)
        self.assertEqual(c.command("VER"), b'200 Version: ruvadaemon "DOCSRV 1" R19K "Kivo Browser"\n')
        self.assertEqual(c.command("QUIT"), b"200-See you later.\n")
        self.assertTrue(c.at_eof())
        self.assertIn(d.port + h.UPDATE_MUTEX_KEY_BASE, h.semaphore_keys())

    def test_three_sessions_are_three_processes(self):
        d = self.daemon()
        self.assertTrue(d.wait_log("Filesystem scan process started"))
        scanner = d.scanner_pid()
        # The readiness probe's session must have been reaped first.
        self.assertTrue(wait_until(lambda: h.children_of(d.pid) == [scanner], 6))
        clients = [d.client() for _ in range(3)]
        for c in clients:
            self.assertEqual(c.greeting(), GREETING)
        kids = h.children_of(d.pid)
        self.assertEqual(len(kids), 4, kids)
        self.assertIn(scanner, kids)
        for c in clients:
            c.close()
        d.clients = []
        self.assertTrue(wait_until(lambda: h.children_of(d.pid) == [scanner], 6), h.children_of(d.pid))

    def test_resetting_clients_leave_it_serving(self):
        d = self.daemon()
        for _ in range(100):
            s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            try:
                s.connect(("127.0.0.1", d.port))
            except OSError:
                pass
            s.close()
        c = d.client()
        self.assertEqual(c.greeting(), GREETING)
        self.assertEqual(c.command("VER")[:4], b"200 ")

    def test_session_cap(self):
        d = self.daemon(extra_config="MaxSessions 2\n")
        # The readiness probe's session must have been reaped first.
        self.assertTrue(d.wait_log("Filesystem scan process started"))
        self.assertTrue(wait_until(lambda: h.children_of(d.pid) == [d.scanner_pid()], 6))
        a, b = d.client(), d.client()
        self.assertEqual(a.greeting(), GREETING)
        self.assertEqual(b.greeting(), GREETING)
        third = d.client()
        self.assertEqual(third.read_line(), b"500 Access denied.\n")
        self.assertTrue(third.at_eof())
        a.command("QUIT")

        def served():
            c = h.Client(d.port)
            g = c.greeting()
            c.close()
            return g == GREETING

        self.assertTrue(wait_until(served, 6))


class Stopping(Base):
    def test_debug_daemon_ends_after_its_session(self):
        # The readiness probe is the one session a -d daemon serves.
        d = self.daemon(debug=True)
        self.assertEqual(d.launcher.wait(timeout=10), 0)
        self.assertFalse(os.path.exists(d.pidfile))
        self.assertNotIn(d.port + h.UPDATE_MUTEX_KEY_BASE, h.semaphore_keys())
        self.assertTrue(d.log_text().splitlines()[-1].endswith("Note: ruvadaemon about to terminate"))

    def test_sigterm_stops_cleanly(self):
        d = self.daemon()
        self.assertTrue(d.wait_log("Filesystem scan process started"))
        scanner = d.scanner_pid()
        self.assertTrue(d.stop())
        self.assertEqual(d.exit_status, 0)
        self.assertFalse(h.pid_alive(scanner))
        self.assertFalse(os.path.exists(d.pidfile))
        self.assertNotIn(d.port + h.UPDATE_MUTEX_KEY_BASE, h.semaphore_keys())
        self.assertTrue(os.path.exists(d.cache))
        self.assertTrue(d.log_text().splitlines()[-1].endswith("Note: ruvadaemon about to terminate"))

    def test_foreign_pid_file_left_alone(self):
        d = self.daemon()
        pid = d.pid
        with open(d.pidfile, "w") as f:
            f.write("1\n")
        os.kill(pid, signal.SIGTERM)
        self.assertTrue(wait_until(lambda: not h.pid_alive(pid), 10))
        with open(d.pidfile) as f:
            self.assertEqual(f.read(), "1\n")
        os.unlink(d.pidfile)


class Reconfiguration(Base):
    def test_failed_reconfiguration_ends_with_status_1(self):
        d = self.daemon()
        pid = d.pid
        d.extra_config = 'IPMask "Deny 10.1.2.256"\n'
        d.write_conf()
        os.kill(pid, signal.SIGHUP)
        status = None
        deadline = time.time() + 10
        while time.time() < deadline and status is None:
            got, st = os.waitpid(pid, os.WNOHANG)
            if got == pid:
                status = os.waitstatus_to_exitcode(st)
            time.sleep(0.05)
        self.assertEqual(status, 1)
        self.assertFalse(os.path.exists(d.pidfile))

    def test_sighup_takes_new_comment(self):
        d = self.daemon()
        old = d.client()
        self.assertEqual(old.greeting(), GREETING)
        d.extra_config = 'ServerComment "New words"\n'
        d.write_conf()
        os.unlink(d.pidfile)
        os.kill(d.pid, signal.SIGHUP)
        self.assertTrue(d.wait_log("Reconfigure finished."))
        self.assertIn("Reconfigure starting", d.log_text())
        self.assertTrue(wait_until(lambda: d.read_pid() == d.pid, 5))
        c = d.client()
        self.assertEqual(c.greeting(), b'200 UZD ruvadaemon "DOCSRV 1" R19K "New words"\n')
        self.assertEqual(old.command("VER"), b'200 Version: ruvadaemon "DOCSRV 1" R19K "Kivo Browser"\n')

    def test_hangups_in_a_row_leave_it_serving(self):
        # A hang-up that comes during a reconfiguration is held for one more.
        d = self.daemon(start=False)
        with zipfile.ZipFile(os.path.join(d.root, "lib", "one.kvo"), "w") as z:
            z.writestr("page.htm", "<html>one</html>")
        d.start()
        pid = d.pid

        def reconfigured_after(mark):
            text = d.log_text()
            at = text.find("Reconfigure starting", mark)
            return (at >= 0 and text.find("Reconfigure finished.", at) >= 0
                    and text.count("Reconfigure starting") == text.count("Reconfigure finished."))

        for gaps in ((0.01,), (0.05,), (0.04, 0.04)):
            with self.subTest(gaps=gaps):
                os.kill(pid, signal.SIGHUP)
                for gap in gaps:
                    time.sleep(gap)
                    mark = len(d.log_text())
                    os.kill(pid, signal.SIGHUP)
                self.assertTrue(wait_until(lambda: reconfigured_after(mark), 30), d.log_text()[mark:])
                self.assertTrue(h.pid_alive(pid))
                c = d.client()
                self.assertEqual(c.greeting(), GREETING)
                listing = c.command("LIST")
                self.assertIn(b'300 "      one.kvo"', listing)
                self.assertTrue(listing.endswith(b"200-LIST executed.\n"), listing)
                c.close()
        self.assertTrue(d.stop())
        self.assertEqual(d.exit_status, 0)
        self.assertTrue(d.log_text().splitlines()[-1].endswith("Note: ruvadaemon about to terminate"))


class OtherRuns(Base):
    def test_index_run_leaves_the_running_daemon_alone(self):
        d = self.daemon()
        status = d.launch(["-i", "-c", d.conf], wait=True)
        self.assertEqual(status, 0)
        self.assertIn("Indexing completed, ruvadaemon about to terminate", d.log_text())
        self.assertIn("Flags: VERBOSE \nIndexing is in progress..., refer log file for more details.",
                      d.stdout_text())
        self.assertEqual(d.read_pid(), d.pid)
        self.assertEqual(d.client().greeting(), GREETING)

    def test_term_right_after_a_refresh_order_stops_cleanly(self):
        d = self.daemon()
        os.kill(d.pid, signal.SIGUSR1)
        self.assertTrue(d.stop())
        self.assertEqual(d.exit_status, 0)
        self.assertTrue(d.log_text().splitlines()[-1].endswith("Note: ruvadaemon about to terminate"))


class FaultRestart(Base):
    def test_segv_restarts_with_next_count(self):
        for args, count in (((), 1), (("-F3",), 4)):
            with self.subTest(args=args):
                self.restart_once(args, count)

    def restart_once(self, args, count):
        d = self.daemon(args=list(args))
        old = d.pid
        os.kill(old, signal.SIGSEGV)

        def restarted():
            pid = d.read_pid()
            return pid is not None and pid != old and h.pid_alive(pid)

        self.assertTrue(wait_until(restarted, 10))
        new = d.read_pid()
        with open("/proc/%d/cmdline" % new, "rb") as f:
            self.assertTrue(f.read().endswith(b"\0-F%d\0" % count))
        d.pid = new
        self.assertTrue(d.wait_ready(allow_retry=False, timeout=10))
        self.assertIn("Restart %d after SEGV/BUS error" % count, d.log_text())
        c = d.client()
        self.assertEqual(c.greeting(), GREETING)

    def test_eighth_restart_is_the_last(self):
        d = self.daemon(args=["-F8"])
        pid = d.pid
        d.record_children()
        os.kill(pid, signal.SIGSEGV)
        status = None
        deadline = time.time() + 10
        while time.time() < deadline:
            got, st = os.waitpid(pid, os.WNOHANG)
            if got == pid:
                status = os.waitstatus_to_exitcode(st)
                break
            time.sleep(0.05)
        self.assertEqual(status, 2)
        time.sleep(1)
        self.assertEqual(d.read_pid(), pid)  # no new daemon wrote it
        os.unlink(d.pidfile)


class Scanner(Base):
    def test_scanner_deaths_end_in_poll_mode(self):
        d = self.daemon()
        for n in range(1, 4):
            self.assertTrue(d.wait_log("Filesystem scan process started", count=n))
            pid = d.scanner_pid(n)
            os.kill(pid, signal.SIGKILL)
            self.assertTrue(d.wait_log("file scanner died %d restart count %d" % (pid, n - 1)))
        self.assertTrue(d.wait_log("MAJOR PROBLEM in file scanner restarting FS without pipes"))
        self.assertTrue(wait_until(lambda: len(h.children_of(d.pid)) == 1, 5))
        c = d.client()
        self.assertEqual(c.greeting(), GREETING)

    def test_scanner_ends_with_killed_daemon(self):
        d = self.daemon()
        self.assertTrue(d.wait_log("Filesystem scan process started"))
        scanner = d.scanner_pid()
        port = d.port
        os.kill(d.pid, signal.SIGKILL)
        self.assertTrue(wait_until(lambda: not h.pid_alive(scanner), 5))
        h.remove_semaphore(port + h.UPDATE_MUTEX_KEY_BASE)
        os.unlink(d.pidfile)
        d2 = self.daemon(start=False)
        d2.port = port
        d2.start(retry=False)
        self.assertNotIn("Failed to initialize server sockets", d2.log_text())

    def test_port_taken_is_retried(self):
        holder = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        holder.bind(("0.0.0.0", 0))
        holder.listen(1)
        d = self.daemon(start=False, port=holder.getsockname()[1], debug=True)
        d.write_conf()
        p = d.launch(["-d", "-c", d.conf])
        try:
            self.assertTrue(d.wait_log("Failed to initialize server sockets, retrying in 60 sec.", timeout=5))
        finally:
            p.kill()
            p.wait()
            holder.close()


if __name__ == "__main__":
    unittest.main()

#!/usr/bin/env python3
"""scripts/run: starts the daemon over the samples, prints commands that work, stops an earlier run by pid."""

import os
import re
import shlex
import shutil
import subprocess
import tempfile
import time
import unittest

import daemon_harness as h

TOP = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", "..", ".."))


def alive(pid):
    return h.pid_alive(pid)


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

    def run_script(self, port):
        out = subprocess.run([os.path.join(TOP, "scripts", "run"), self.run_dir, str(port), h.daemon_binary()],
                             capture_output=True, text=True, timeout=60)
        self.assertEqual(out.returncode, 0, out.stderr)
        m = re.search(r"listens on 127\.0\.0\.1:(\d+) \(pid (\d+)\)", out.stdout)
        self.assertIsNotNone(m, out.stdout)
        pid = int(m.group(2))
        self.pids.append(pid)
        self.port = int(m.group(1))
        self.assertIn("stop:  kill %d\n" % pid, out.stdout)
        self.assertIn("log:   %s/ruvadaemon.log\n" % os.path.realpath(self.run_dir), out.stdout)
        return out.stdout, self.port, pid

    def test_start_talk_and_restart(self):
        port = h.free_port()
        text, got_port, pid = self.run_script(port)
        self.assertEqual(got_port, port)
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

        # A second run stops the first daemon by its pid and takes the port again.
        text2, port2, pid2 = self.run_script(port)
        self.assertNotEqual(pid2, pid)
        self.assertFalse(alive(pid))
        self.assertEqual(port2, port)

    def test_busy_port_moves_to_the_next(self):
        import socket
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        s.bind(("127.0.0.1", 0))
        busy = s.getsockname()[1]
        s.listen(1)
        try:
            if busy >= 65535:
                self.skipTest("no port above the busy one")
            _, got, _ = self.run_script(busy)
            self.assertGreater(got, busy)
        finally:
            s.close()


if __name__ == "__main__":
    unittest.main()

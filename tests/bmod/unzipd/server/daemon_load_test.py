#!/usr/bin/env python3
"""RETR under load: concurrent sessions, kept and new ones, while another client
saves and removes annotation members; then the daemon is back to one session
and has no zombie child."""

import os
import random
import shutil
import subprocess
import tempfile
import threading
import time
import unittest
import zipfile
import zlib

import daemon_harness as h

SEED = 14011
CLIENTS_KEPT = 8  # one session for all their RETRs
CLIENTS_NEW = 8  # a new session per RETR
RETRS = 40
BIG = "big.html"
KEEP = "keep.1"


def make_load_library(folder):
    """Small HTML members, stored and deflated, and one of about 1 MiB."""
    rng = random.Random(SEED)
    words = ["alpha", "beta", "gamma", "delta", "kernel", "module", "install", "step", "note", "<b>x</b>"]
    path = os.path.join(folder, "load.kvo")
    with zipfile.ZipFile(path, "w") as z:
        for i in range(12):
            body = " ".join(rng.choice(words) for _ in range(rng.randint(1, 600)))
            page = ("<html><title>Page %d</title><body>%s</body></html>\n" % (i, body)).encode()
            zi = zipfile.ZipInfo("p%02d.html" % i, (2021, 3, 4, 5, 6, 8))
            zi.compress_type = zipfile.ZIP_STORED if i % 3 == 0 else zipfile.ZIP_DEFLATED
            z.writestr(zi, page)
        lines = []
        size = 0
        while size < 1 << 20:
            line = "<p>%d %s</p>\n" % (rng.getrandbits(48), " ".join(rng.choice(words) for _ in range(8)))
            lines.append(line)
            size += len(line)
        z.writestr(zipfile.ZipInfo(BIG, (2021, 3, 4, 5, 6, 8)), "".join(lines).encode(), zipfile.ZIP_DEFLATED)
    return path


def retr_reply(member, data):
    return (b'300-Length %d "load.kvo" "%s" "0"\n' % (len(data), member.encode()) + data
            + b"300-CRC 0x%x\n200-RETR executed.\n" % zlib.crc32(data))


def zombie_children(pid):
    """Children of pid in state Z, from /proc."""
    found = []
    for child in h.children_of(pid):
        try:
            with open("/proc/%d/stat" % child) as f:
                if f.read().rsplit(")", 1)[1].split()[0] == "Z":
                    found.append(child)
        except (OSError, IndexError):
            pass  # gone: reaped meanwhile
    return found


def crc_line(reply):
    """The CRC line after the data, computed from the data the reply carried."""
    head, rest = reply.split(b"\n", 1)
    n = int(head.split()[1])
    data, tail = rest[:n], rest[n:]
    return data, tail.split(b"\n", 1)[0]


class Load(unittest.TestCase):
    def setUp(self):
        self.fixtures = tempfile.mkdtemp(prefix="rdload_")
        self.lib = make_load_library(self.fixtures)
        with zipfile.ZipFile(self.lib) as z:
            self.members = z.namelist()
        # The oracle, once, before any load.
        self.expected = {m: subprocess.run(["unzip", "-p", self.lib, m], capture_output=True, check=True).stdout
                         for m in self.members}
        self.assertGreater(len(self.expected[BIG]), 1 << 20)
        self.d = h.Daemon(lib=self.fixtures)
        self.anx = os.path.join(self.d.root, "annot", "annot.anx")

    def tearDown(self):
        self.d.stop()
        left = self.d.leftovers()
        self.d.cleanup()
        shutil.rmtree(self.fixtures, ignore_errors=True)
        self.assertEqual(left, [])

    def session(self, timeout=30):
        c = h.Client(self.d.port, timeout=timeout)
        g = c.greeting()
        if not g or not g.startswith(b"200 UZD "):
            raise AssertionError("greeting %r" % g)
        return c

    def retr(self, c, member):
        reply = c.command("RETR load.kvo " + member)
        if reply != retr_reply(member, self.expected[member]):
            data, crc = crc_line(reply) if reply.startswith(b"300-Length ") else (b"", b"")
            raise AssertionError("RETR %s: %d bytes, data equal %s, CRC line %r (zlib 0x%x), reply starts %r"
                                 % (member, len(reply), data == self.expected[member], crc, zlib.crc32(data),
                                    reply[:80]))

    def retr_client(self, index, keep, start, failures):
        rng = random.Random(SEED + index)
        picks = [rng.choice(self.members) for _ in range(RETRS)]
        try:
            start.wait()
            c = self.session() if keep else None
            for member in picks:
                if keep:
                    self.retr(c, member)
                else:
                    c1 = self.session()
                    self.retr(c1, member)
                    self.assertEqual(c1.command("QUIT"), b"200-See you later.\n")
                    c1.close()
            if keep:
                self.assertEqual(c.command("QUIT"), b"200-See you later.\n")
                c.close()
        except Exception as e:  # collected and reported by the main thread
            failures.append("client %d: %r" % (index, e))

    def annotation_client(self, start, done, failures, rounds):
        try:
            start.wait()
            c = self.session()
            i = 0
            while not done.is_set() or i < 3:
                i += 1
                member = "note-%d.txt" % i
                data = (b"note %d\x00\r\n" % i) * (i * 37 % 500 + 1)
                c.sock.sendall(b"UPDFILE annot.anx %s %d\n" % (member.encode(), len(data)) + data
                               + b"200-UPDFILE END\n")
                got = c.reply()
                if got != b"200-UPDFILE executed.\n":
                    raise AssertionError("UPDFILE %s: %r" % (member, got))
                got = c.command("RMFILE annot.anx " + member)
                if got != b"200-RMFILE executed.\n":
                    raise AssertionError("RMFILE %s: %r" % (member, got))
                rounds[0] = i
            # QUIT is answered once the session's refresh wait is over.
            if c.command("QUIT") != b"200-See you later.\n":
                raise AssertionError("QUIT after the updates")
            c.close()
        except Exception as e:
            failures.append("annotation client: %r" % e)

    def test_concurrent_retrieval_with_updates(self):
        # The annotation library exists and is catalogued before the load.
        c = self.session()
        c.sock.sendall(b"UPDFILE annot.anx %s 4\nkeep200-UPDFILE END\n" % KEEP.encode())
        self.assertEqual(c.reply(), b"200-UPDFILE executed.\n")
        deadline = time.time() + 20
        while b"annot.anx" not in c.command("LIST") and time.time() < deadline:
            time.sleep(0.1)
        self.assertIn(b"annot.anx", c.command("LIST"))
        c.close()

        failures, rounds = [], [0]
        start, done = threading.Barrier(CLIENTS_KEPT + CLIENTS_NEW + 1), threading.Event()
        workers = [threading.Thread(target=self.retr_client, args=(i, i < CLIENTS_KEPT, start, failures))
                   for i in range(CLIENTS_KEPT + CLIENTS_NEW)]
        updater = threading.Thread(target=self.annotation_client, args=(start, done, failures, rounds))
        for t in workers + [updater]:
            t.start()
        for t in workers:
            t.join(timeout=90)
        done.set()
        updater.join(timeout=30)
        self.assertFalse(any(t.is_alive() for t in workers + [updater]), "clients still running")
        self.assertEqual(failures, [])
        self.assertGreaterEqual(rounds[0], 3)
        # Every save was removed again; the archive is sound.
        subprocess.run(["unzip", "-tq", self.anx], check=True, stdout=subprocess.DEVNULL)
        self.assertEqual(subprocess.run(["unzip", "-Z1", self.anx], capture_output=True).stdout.split(),
                         [KEEP.encode()])

        # Back to one session (this one) and no zombie child, within 6 s.
        c = self.session()
        deadline = time.time() + 6
        while True:
            info = c.command("INFO")
            zombies = zombie_children(self.d.pid)
            if (b"300 Number of active sessions: 1\n" in info and not zombies) or time.time() > deadline:
                break
            time.sleep(0.1)
        self.assertIn(b"300 Number of active sessions: 1\n", info)
        self.assertEqual(zombies, [])
        c.close()


if __name__ == "__main__":
    unittest.main()

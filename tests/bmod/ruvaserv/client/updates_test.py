#!/usr/bin/env python3
"""UPDFILE and RMFILE of the client against the real daemon through
uzclient_probe: the stored member byte for byte, the session in step after
the daemon's catalogue refresh and a held update lock, and the member names
refused before anything is sent."""

import os
import shutil
import subprocess
import tempfile
import threading
import unittest

import daemon_harness as h
import make_client_libraries
from probe_driver import ABSENT, Probe

MEMBER = "1551-ABC10101Uen.A.3"
STRINGS = ["line %d, with \"quotes\" and  blanks" % i for i in range(9)] + [""]
BLOCK = b"".join(s.encode() + b"\0" for s in STRINGS)
LOCK_HELD = 10  # seconds, above the reply wait of 5 and below the daemon's 15


class Updates(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="clientupd_")
        cls.fx = make_client_libraries.make(os.path.join(cls.tmp, "fx"))
        cls.d = h.Daemon(lib=cls.fx.flat_dir, start=False)
        cls.fx.place_annotations(cls.d)
        cls.d.start()
        cls.anx = os.path.join(cls.d.root, "annot", cls.fx.annotation)

    @classmethod
    def tearDownClass(cls):
        cls.d.stop()
        left = cls.d.leftovers()
        cls.d.cleanup()
        shutil.rmtree(cls.tmp, ignore_errors=True)
        assert left == [], left

    def probe(self, timeout):
        p = Probe("--server", "127.0.0.1:%d" % self.d.port, "--command-timeout", timeout)
        self.addCleanup(self.finish, p)
        return p

    def finish(self, p):
        err, status = p.close()
        self.assertEqual(status, 0, err)
        self.assertFalse(any(m in err for m in h.SANITIZER_MARKS), err)

    def stored(self, member):
        r = subprocess.run(["unzip", "-p", self.anx, member], capture_output=True)
        return r.stdout if r.returncode == 0 else None

    def test_update_list_and_remove_on_one_session(self):
        p = self.probe(20)
        self.assertEqual(p("updatafile", self.fx.annotation, MEMBER, *STRINGS)["code"], 200)
        self.assertEqual(self.stored(MEMBER), BLOCK)
        listed = p("contv", self.fx.annotation, ABSENT)
        self.assertEqual(listed["code"], 200, listed)
        self.assertIn(MEMBER.lower(), [r["filename"] for r in listed["records"]])
        self.assertEqual(p("rmfile", self.fx.annotation, MEMBER)["code"], 200)
        self.assertIsNone(self.stored(MEMBER))
        self.assertEqual(p("ver")["code"], 200)

    def test_short_reply_wait_outlasts_the_catalogue_refresh(self):
        p = self.probe(2)
        self.assertEqual(p("updatafile", self.fx.annotation, MEMBER + "b", "x")["code"], 200)
        ver = p("ver")
        self.assertEqual(ver["code"], 200, ver)
        self.assertEqual(p("rmfile", self.fx.annotation, MEMBER + "b")["code"], 200)

    def test_held_update_lock(self):
        p = self.probe(5)
        key = self.d.port + h.UPDATE_MUTEX_KEY_BASE
        h.update_lock_ops(key, [(0, 0), (1, h.SEM_UNDO)])
        release = threading.Timer(LOCK_HELD, h.update_lock_ops, (key, [(-1, h.SEM_UNDO)]))
        release.start()
        try:
            got = p("updatafile", self.fx.annotation, MEMBER + "c", "locked")
        finally:
            release.join()
        self.assertEqual(got["code"], 200, got)
        self.assertEqual(self.stored(MEMBER + "c"), b"locked\0")
        self.assertEqual(p("rmfile", self.fx.annotation, MEMBER + "c")["code"], 200)

    def test_refused_members_send_nothing(self):
        p = self.probe(20)
        before = self.d.log_text().count("UPDFILE")
        for member, strings in [("a b", ["x"]), ("../x", ["x"]), ("x\n", ["x"]), ("", ["x"]), ("ok", [])]:
            with self.subTest(member=member, strings=len(strings)):
                got = p("updatafile", self.fx.annotation, member, *strings)
                self.assertTrue(got["null"], got)
                self.assertNotEqual(got["error"], "")
        self.assertEqual(p("ver")["code"], 200)
        self.assertEqual(self.d.log_text().count("UPDFILE"), before)


if __name__ == "__main__":
    unittest.main()

#!/usr/bin/env python3
"""UPDFILE and RMFILE of the client against the real daemon through
uzclient_probe: the stored member byte for byte, the session in step after
the daemon's catalogue refresh and a held update lock, and the member names
refused before anything is sent."""

import os
import subprocess
import threading
import unittest

import daemon_harness as h
from probe_driver import ABSENT, ProbeCase

MEMBER = "1551-ABC10101Uen.A.3"
STRINGS = ["line %d, with \"quotes\" and  blanks" % i for i in range(9)] + [""]
BLOCK = b"".join(s.encode() + b"\0" for s in STRINGS)
LOCK_HELD = 10  # seconds, above the reply wait of 5 and below the daemon's 15


class Updates(ProbeCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.anx = os.path.join(cls.d.root, "annot", cls.fx.annotation)

    def stored(self, member):
        r = subprocess.run(["unzip", "-p", self.anx, member], capture_output=True)
        return r.stdout if r.returncode == 0 else None

    def test_update_list_and_remove_on_one_session(self):
        p = self.probe("--command-timeout", 20)
        self.assertEqual(p("updatafile", self.fx.annotation, MEMBER, *STRINGS)["code"], 200)
        self.assertEqual(self.stored(MEMBER), BLOCK)
        listed = p("contv", self.fx.annotation, ABSENT)
        self.assertEqual(listed["code"], 200, listed)
        self.assertIn(MEMBER.lower(), [r["filename"] for r in listed["records"]])
        self.assertEqual(p("rmfile", self.fx.annotation, MEMBER)["code"], 200)
        self.assertIsNone(self.stored(MEMBER))
        self.assertEqual(p("ver")["code"], 200)

    def test_short_reply_wait_outlasts_the_catalogue_refresh(self):
        p = self.probe("--command-timeout", 2)
        self.assertEqual(p("updatafile", self.fx.annotation, MEMBER + "b", "x")["code"], 200)
        ver = p("ver")
        self.assertEqual(ver["code"], 200, ver)
        self.assertEqual(p("rmfile", self.fx.annotation, MEMBER + "b")["code"], 200)

    def test_held_update_lock(self):
        p = self.probe("--command-timeout", 5)
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
        p = self.probe("--command-timeout", 20)
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

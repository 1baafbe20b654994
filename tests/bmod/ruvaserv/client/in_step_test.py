#!/usr/bin/env python3
"""One client session against the real daemon through uzclient_probe stays
in step after every reply that ends early: each case leaves the session so
that the next VER reads VER's own answer, not what the case left behind."""

import os
import shlex
import tempfile
import time
import unittest

import daemon_harness as h
import make_client_libraries
from probe_driver import ABSENT, ProbeCase

# Reply waits far above what an answered command takes, so that a client
# sitting one out (instead of reading the final line) is plain to see.
WAIT = 60
QUICK = WAIT / 2


class InStep(ProbeCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="clientstep_")
        cls.fx = make_client_libraries.make(os.path.join(cls.tmp, "fx"))
        # The flat libraries as one level-0 folder of a structure file: MLNLIST
        # refuses that folder, and the g*.kvo libraries stay to list.
        cls.d = h.Daemon(lib=cls.fx.flat_dir, start=False)
        cls.d.library_path = os.path.join(cls.d.root, "structure.txt")
        with open(cls.d.library_path, "w") as f:
            f.write(make_client_libraries.structure_text([("Flat", "flat", 0, os.path.join(cls.d.root, "lib"))]))
        cls.d.start()
        cls.daemons = [cls.d]

    def timed(self, p, *op):
        start = time.monotonic()
        got = p(*op)
        return got, time.monotonic() - start

    def in_step(self, p):
        ver = p("ver")
        self.assertEqual(ver.get("code"), 200, ver)
        self.assertEqual(ver["records"][0]["revision"], h.REVISION)

    def test_every_early_end_on_one_session(self):
        p = self.probe("--command-timeout", WAIT, "--wait", "get=%d" % WAIT)
        fx = self.fx
        self.in_step(p)
        library, member = fx.binary
        with self.subTest("retr to an outdir that is a regular file"):
            outdir = os.path.join(self.tmp, "plain_file")
            open(outdir, "w").close()
            got = p("retr", library, member, outdir)
            self.assertEqual(got.get("code"), 500, got)
            # Paths enter messages HTML-escaped.
            shown = outdir.replace("&", "&amp;").replace("/", "&#47;").replace('"', "&#34;").replace("'", "&#39;")
            self.assertTrue(got["message"].startswith('Cannot create outfile "%s' % shown), got)
            self.in_step(p)
        with self.subTest("getFileData of a missing member"):
            self.assertTrue(p("getFileData", library, "missing.html")["null"])
            self.in_step(p)
        with self.subTest("get of a pattern that names no library"):
            outdir = tempfile.mkdtemp(dir=self.tmp)
            got, took = self.timed(p, "get", "none*.kvo", outdir)
            self.assertEqual((got.get("code"), got.get("records")), (200, []), got)
            self.assertEqual(os.listdir(outdir), [])
            self.assertLess(took, QUICK)
            self.in_step(p)
        with self.subTest("get refused by the daemon's filter"):
            got = p("get", "abc", tempfile.mkdtemp(dir=self.tmp))
            self.assertTrue(got["null"], got)
            self.assertTrue(got["error"].startswith("No response from server, "), got)
            self.in_step(p)
        with self.subTest("mlnlist of a level-0 folder"):
            folders = [r for r in p("mllist", "")["records"] if r["type"] != 1 and r["level"] == 0]
            self.assertEqual(len(folders), 1, folders)
            got = p("mlnlist", folders[0]["ID"].split("|")[1], "user")
            self.assertEqual(got.get("code"), 550, got)
            self.in_step(p)
        # Last: the touched library stays changed until the watcher's refresh.
        with self.subTest("cont with the second library touched after the scan"):
            first, second = [n for n in fx.served(annotations=False) if n.startswith("g")]
            self.assertEqual(second, fx.g_second)
            path = os.path.join(self.d.root, "lib", second)
            st = os.stat(path)
            os.utime(path, ns=(st.st_atime_ns, st.st_mtime_ns + 10 ** 9))
            got, took = self.timed(p, "cont", fx.g_pattern, ABSENT)
            self.assertEqual(got.get("code"), 577, got)
            self.assertEqual(shlex.split(got["message"])[1], second)
            self.assertEqual({r["database"] for r in got["records"]}, {first})
            self.assertLess(took, QUICK)
            self.in_step(p)


if __name__ == "__main__":
    unittest.main()

#!/usr/bin/env python3
"""Catalogue refresh by signal: new and rewritten libraries."""

import os
import signal
import sys
import unittest
import zipfile

import daemon_harness as h


def write_library(folder, name, members):
    """Written under a name the include patterns skip, then renamed into place."""
    tmp = os.path.join(folder, name + ".part")
    with zipfile.ZipFile(tmp, "w") as z:
        for i in range(members):
            z.writestr("page%d.htm" % i, "<html><body>page %d of %s</body></html>" % (i, name))
        z.comment = ("Library " + name).encode()
    os.rename(tmp, os.path.join(folder, name))


class Refresh(unittest.TestCase):
    def setUp(self):
        self.d = h.Daemon(start=False)
        write_library(os.path.join(self.d.root, "lib"), "first.khx", 1)
        self.d.start()
        self.lib = os.path.join(self.d.root, "lib")

    def tearDown(self):
        self.d.stop()
        left = self.d.leftovers()
        self.d.cleanup()
        self.assertEqual(left, [])

    def refresh(self, expected, count):
        idle = self.d.client()
        idle.greeting()
        os.kill(self.d.pid, signal.SIGUSR1)
        self.assertTrue(self.d.wait_log("Refresh finished,", count=count), self.d.log_text())
        self.assertIn(expected, self.d.log_text())
        self.assertEqual(idle.command("VER")[:14], b"200 Version: r")

    def test_signalled_refreshes(self):
        write_library(self.lib, "second.khx", 2)
        self.refresh("Refresh finished, 0 changed, 1 new databases.", 1)
        write_library(self.lib, "first.khx", 5)
        self.refresh("Refresh finished, 1 changed, 0 new databases.", 2)


if __name__ == "__main__":
    unittest.main()

#!/usr/bin/env python3
"""The scanner child notices a new library without any signal."""

import os
import unittest

import daemon_harness as h
from daemon_refresh_test import write_library


class Watcher(unittest.TestCase):
    def test_new_library_found_by_scanner(self):
        d = h.Daemon()
        try:
            self.assertTrue(d.wait_log("Filesystem scan process started"))
            idle = d.client()
            idle.greeting()
            write_library(os.path.join(d.root, "lib"), "watched.khx", 1)
            self.assertTrue(d.wait_log("Refresh finished Added:1 Removed:0 Changed:0", timeout=75), d.log_text())
            self.assertEqual(idle.command("VER")[:14], b"200 Version: r")
        finally:
            d.stop()
            left = d.leftovers()
            d.cleanup()
        self.assertEqual(left, [])


if __name__ == "__main__":
    unittest.main()

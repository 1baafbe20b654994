#!/usr/bin/env python3
"""The scanner child notices new, changed and removed libraries without any
signal, also in folders that no node holds."""

import os
import unittest
import zlib

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

    def test_libraries_outside_every_node(self):
        """A RecursiveDir and the AnnotationDb have no node: one watcher cycle
        refreshes, adds and removes their libraries all the same."""
        d = h.Daemon(start=False)
        d.extra_config = "RecursiveDir %s\n" % os.path.join(d.root, "rec")
        rec = os.path.join(d.root, "rec", "sub")
        annot = os.path.join(d.root, "annot")
        try:
            os.makedirs(rec)
            write_library(rec, "deep.khx", 1)
            write_library(annot, "old.anx", 1)
            d.start()
            self.assertTrue(d.wait_log("Filesystem scan process started"), d.log_text())
            c = d.client()
            c.greeting()
            self.assertEqual(c.command("RETR deep.khx page2.htm"),
                             b'400-File "page2.htm" not found in database "deep.khx", 1 database(s) checked\n')
            write_library(rec, "deep.khx", 3)
            write_library(rec, "new.khx", 1)
            write_library(annot, "new.anx", 1)
            os.unlink(os.path.join(annot, "old.anx"))
            # The changes may fall into two cycles when the first check is
            # still running: wait for each, not for one summary line.
            for done in ("Sucessfully updated " + os.path.join(rec, "deep.khx"),
                         "Successfully added " + os.path.join(rec, "new.khx"),
                         "Successfully added " + os.path.join(annot, "new.anx"),
                         "Sucessfully removed " + os.path.join(annot, "old.anx")):
                self.assertTrue(d.wait_log(done, timeout=75), d.log_text())
            page = b"<html><body>page 2 of deep.khx</body></html>"
            self.assertEqual(c.command("RETR deep.khx page2.htm"),
                             b'300-Length %d "deep.khx" "page2.htm" "0"\n' % len(page) + page
                             + b"300-CRC 0x%x\n200-RETR executed.\n" % zlib.crc32(page))
            listed = c.command("LIST")
            self.assertIn(b"new.anx", listed)
            self.assertIn(b"new.khx", listed)
            self.assertNotIn(b"old.anx", listed)
            log = d.log_text()
            self.assertNotIn("ADD FAIL", log)
            self.assertNotIn("REMOVE FAIL", log)
            self.assertNotIn("CHANGE FAIL", log)
            # One scanner at start, one more after each refresh.
            self.assertLessEqual(log.count("Filesystem scan process started"),
                                 1 + log.count("Refresh finished Added:"), log)
        finally:
            d.stop()
            left = d.leftovers()
            d.cleanup()
        self.assertEqual(left, [])


if __name__ == "__main__":
    unittest.main()

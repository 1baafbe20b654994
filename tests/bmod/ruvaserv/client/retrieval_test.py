#!/usr/bin/env python3
"""The retrieval commands through uzclient_probe against the real daemon:
one session stays in step after every way GET, RETR and getFileData end
early, and retrMem takes the wait page that stands in for a PDF member
whole, as a raw connection receives it."""

import os
import re
import tempfile
import unittest
import zlib

from probe_driver import ProbeCase


class Retrieval(ProbeCase):
    def in_step(self, p):
        ver = p("ver")
        self.assertFalse(ver["null"], ver)
        self.assertEqual(ver["code"], 200, ver)

    def test_session_in_step_after_early_ends(self):
        fx, p = self.fx, self.probe()
        library, member = fx.binary
        plain = os.path.join(self.tmp, "plain")
        with open(plain, "wb") as f:
            f.write(b"x")
        got = p("retr", library, member, plain)
        self.assertEqual(got["code"], 500, got)
        self.assertTrue(got["message"].startswith("Cannot create outfile "), got)
        self.assertFalse(got["connected"], got)
        self.in_step(p)

        got = p("getFileData", library, "missing.bin")
        self.assertTrue(got["null"], got)
        self.in_step(p)

        # No library matches: an empty success, nothing written.
        out = tempfile.mkdtemp(dir=self.tmp)
        got = p("get", "none*.kvo", out)
        self.assertEqual(got["code"], 200, got)
        self.assertTrue(all(r["database"] is None for r in got["records"]), got)
        self.assertEqual(os.listdir(out), [])
        self.in_step(p)

        # The daemon ends the session without a reply for a name it refuses.
        got = p("get", "abc", out)
        self.assertTrue(got["null"], got)
        self.assertTrue(got["error"].startswith("No response from server"), got)
        self.assertEqual(os.listdir(out), [])
        self.in_step(p)

    def test_wait_page_of_a_pdf_comes_whole(self):
        fx = self.fx
        library, pdf = fx.pdf
        data = fx.libraries[library].members[pdf]
        c = self.d.client()
        self.assertTrue(c.greeting().startswith(b"200 UZD "))
        reply = c.command("RETR %s %s" % (library, fx.fdp))
        m = re.match(rb'300-Length (\d+) "[^"]*" "wait.html" "0"\n', reply)
        self.assertIsNotNone(m, reply[:200])
        page = reply[m.end():m.end() + int(m.group(1))]
        # Far longer than the member it stands for.
        self.assertGreater(len(page), len(data))

        p = self.probe()
        got = p("retrMem", library, fx.fdp)
        self.assertEqual(got["code"], 200, got)
        self.assertEqual(p.data(got), page)
        self.assertEqual(got["memDataBufLen"], len(page))
        record = got["records"][0]
        self.assertEqual((record["filename"], record["size"], record["success"]), ("wait.html", len(page), 1))
        self.assertEqual(record["crc"], zlib.crc32(data))
        self.in_step(p)


if __name__ == "__main__":
    unittest.main()

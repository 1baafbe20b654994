#!/usr/bin/env python3
"""Edges of retrieval and arguments against the real daemon through
uzclient_probe: a member whose reply is larger than the member (the PDF wait
page), a member name with a blank, and a user name with blanks that must go
as one word, or the profile it sets would let every library type through."""

import os
import re
import tempfile
import unittest
import zlib

import daemon_harness as h
from probe_driver import Probe, ProbeCase


class RetrievalEdges(ProbeCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        # The .zip library is catalogued only here: a second type for a profile to hide.
        cls.zipd = h.Daemon(lib=cls.fx.flat_dir, extra_config=cls.fx.zip_config)
        cls.daemons.append(cls.zipd)

    def probe_with(self, env, daemon):
        p = Probe("--server", "127.0.0.1:%d" % daemon.port, env=env, payloads=tempfile.mkdtemp(dir=self.tmp))
        self.addCleanup(self.finish, p)
        return p

    def raw_retr(self, library, member):
        """(framing line, data, CRC line) as a plain socket receives them."""
        c = self.d.client()
        self.addCleanup(c.close)
        self.assertTrue(c.greeting().startswith(b"200 UZD "))
        c.sock.sendall(b"RETR %s %s\n" % (library.encode(), member.encode()))
        lines = c.read_reply()
        self.assertEqual(len(lines), 4, lines)
        self.assertEqual(lines[3], b"200-RETR executed.\n")
        return lines[0], lines[1], lines[2]

    def test_wait_page_larger_than_the_member(self):
        fx, p = self.fx, self.probe()
        library, pdf = fx.pdf
        framing, page, crc_line = self.raw_retr(library, fx.fdp)
        self.assertEqual(framing, b'300-Length %d "%s" "wait.html" "0"\n' % (len(page), library.encode()))
        # The page outgrows the member it stands for: a buffer sized from CONTV overflows.
        self.assertGreater(len(page), len(fx.libraries[library].members[pdf]))
        crc = zlib.crc32(fx.libraries[library].members[pdf])
        self.assertEqual(int(re.match(rb"300-CRC 0x([0-9a-f]+)\n", crc_line).group(1), 16), crc)
        got = p("retrMem", library, fx.fdp)
        self.assertEqual(got.get("code"), 200, got)
        self.assertEqual(p.data(got), page)
        self.assertEqual(got["memDataBufLen"], len(page))
        self.assertEqual([(r["filename"], r["crc"]) for r in got["records"]], [("wait.html", crc)])
        self.assertEqual(p("ver")["code"], 200)

    def test_member_name_with_a_blank_goes_as_one_word(self):
        library = self.fx.binary[0]
        got = self.probe()("retrMem", library, "a b.html")
        self.assertEqual(got.get("code"), 400, got)
        self.assertTrue(got["message"].startswith('File "a b.html" not found in database "%s"' % library), got)
        self.assertEqual(os.path.getsize(got["data"]), 0)

    def test_portal_name_with_blanks_keeps_the_profile_narrow(self):
        # Split at its blanks, "x 63 0" would be user x with every type (63) and all systems.
        p = self.probe_with({"HTTP_MYR_TQB_PORTAL_NAME": "x 63 0"}, self.zipd)
        served = self.fx.served(zip_config=True, annotations=False)
        before = p("mllist", "")
        self.assertEqual([r["database"] for r in before["records"]], served)
        self.assertIn(self.fx.zip_library, served)
        got = p("UserP", 1, "0", 0)
        self.assertEqual((got["code"], got["message"]), (200, "User profile successfuly set"), got)
        after = p("mllist", "")
        self.assertEqual(after["code"], 200, after)
        self.assertEqual([(r["database"], r["type"]) for r in after["records"]],
                         [(n, 1) for n in served if n.endswith(".kvo")])


if __name__ == "__main__":
    unittest.main()

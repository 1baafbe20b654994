#!/usr/bin/env python3
"""Member retrieval against the real daemon: the RetrievalDaemon case of
ruvaserv_tests runs against a daemon over guide.kvo, made here with python's
zipfile; each member's bytes as zipfile reads them and the daemon's own wait
page are the expected values."""

import os
import shutil
import subprocess
import tempfile
import unittest
import zipfile

import daemon_harness as h

# Stored in this order: a pattern's first match is fig[1].gif.
MEMBERS = [
    ("fig[1].gif", b"GIF89a" + bytes(range(40)) + b"bracket"),
    ("fig1.gif", b"GIF89a" + bytes(range(40, 90)) + b"plain"),
    ("a.pdf", (b"%PDF-1.4\n" + b"x" * 100)[:94] + b"%%EOF\n"),
]


def make_library(folder):
    """guide.kvo in folder, its members in the order given."""
    with zipfile.ZipFile(os.path.join(folder, "guide.kvo"), "w", zipfile.ZIP_DEFLATED) as z:
        z.comment = b"Guide [EN/DOCLIB1 R1A]"
        for name, data in MEMBERS:
            z.writestr(name, data)


class RetrievalDaemon(h.LibraryCase):
    make_fixtures = staticmethod(make_library)

    def expected_bytes(self, folder):
        """Each member as zipfile reads it, and the daemon's own page for the PDF's frame name."""
        with zipfile.ZipFile(os.path.join(self.fixtures, "guide.kvo")) as z:
            for name, _ in MEMBERS:
                with open(os.path.join(folder, name), "wb") as f:
                    f.write(z.read(name))
        c = self.session()
        c.sock.sendall(b'RETR "guide.kvo" a.fdp\n')
        lines = c.read_reply()
        c.close()
        self.assertTrue(lines and lines[0].startswith(b"300-Length ") and b'"wait.html"' in lines[0], lines[:1])
        # Longer than the listed PDF: the listing must not size the page.
        self.assertGreater(len(lines[1]), 100)
        with open(os.path.join(folder, "wait.html"), "wb") as f:
            f.write(lines[1])

    def test_members_by_name_pattern_and_pdf_mode(self):
        members = tempfile.mkdtemp(prefix="retrmem_")
        self.addCleanup(shutil.rmtree, members, True)
        self.expected_bytes(members)
        env = dict(os.environ, RUVA_PORT=str(self.d.port), RUVA_MEMBERS=members)
        done = subprocess.run([os.environ["RUVASERV_TESTS"], "--gtest_filter=RetrievalDaemon.*"], env=env,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
        out = done.stdout.decode("latin-1")
        self.assertTrue(done.returncode == 0 and "[  PASSED  ] 1 test." in out and "SKIPPED" not in out, out)


if __name__ == "__main__":
    unittest.main()

#!/usr/bin/env python3
"""Member retrieval against the real daemon: the RetrievalDaemon case of
ruvaserv_tests runs against a daemon over guide.kvo of the page-library
fixture ($PAGE_LIBRARIES, made by make_page_libraries.py); each member's
bytes as zipfile read them and the daemon's own wait page are the expected
values."""

import os
import shutil
import subprocess
import tempfile
import unittest

import daemon_harness as h

# fig[1].gif is stored before fig1.gif: a pattern's first match.
MEMBERS = ["fig[1].gif", "fig1.gif", "a.pdf"]


def page_libraries(*parts):
    return os.path.join(os.environ["PAGE_LIBRARIES"], *parts)


def copy_library(folder):
    shutil.copy(page_libraries("lib", "guide.kvo"), folder)


class RetrievalDaemon(h.LibraryCase):
    make_fixtures = staticmethod(copy_library)

    def expected_bytes(self, folder):
        """Each member as zipfile reads it, and the daemon's own page for the PDF's frame name."""
        for name in MEMBERS:
            shutil.copy(page_libraries("members", name), folder)
        self.assertEqual(os.path.getsize(os.path.join(folder, "a.pdf")), 100)
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

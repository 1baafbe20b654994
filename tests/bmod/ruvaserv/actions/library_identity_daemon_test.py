#!/usr/bin/env python3
"""Library identity look-ups against the real daemon: the cases of
library_identity_daemon_tests ($LIBRARY_IDENTITY_TESTS) run against a daemon
over the structure file of make_action_libraries.py's libraries, written
into a folder of this run's own; the cases that touch and remove libraries
run last. Served through RecursiveDir instead, every library is listed at
level 0."""

import os
import shutil
import subprocess
import tempfile
import unittest

import daemon_harness as h
import make_action_libraries


class LibraryIdentity(h.LibraryCase):
    make_fixtures = staticmethod(make_action_libraries.make)

    @staticmethod
    def daemon_options(fixtures):
        return {"library_path": fixtures + "/structure.txt"}

    def run_cases(self, pattern):
        env = dict(os.environ, RUVA_PORT=str(self.d.port), ACTION_LIBRARIES=self.fixtures)
        done = subprocess.run([os.environ["LIBRARY_IDENTITY_TESTS"], "--gtest_filter=" + pattern], env=env,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
        out = done.stdout.decode("latin-1")
        self.assertTrue(done.returncode == 0 and "[  PASSED  ]" in out and "SKIPPED" not in out, out)

    def test_look_ups_then_changed_libraries(self):
        self.run_cases("LibraryIdentityDaemon.*")
        self.run_cases("LibraryIdentityChanging.*")


class FlatListing(unittest.TestCase):
    def test_recursive_dir_lists_every_library_at_level_0(self):
        fixtures = tempfile.mkdtemp(prefix="rdlib_")
        self.addCleanup(shutil.rmtree, fixtures, True)
        make_action_libraries.make(fixtures)
        d = h.Daemon(extra_config="RecursiveDir %s\n" % fixtures)
        try:
            c = d.client()
            c.greeting()
            lines = c.command("MLLIST").decode("latin-1").splitlines()
        finally:
            d.stop()
            left = d.leftovers()
            d.cleanup()
        self.assertEqual(left, [])
        libraries = sorted(line.split('"')[1].strip() for line in lines if line.startswith("300   DB "))
        expected = sorted(name for libs in make_action_libraries.LIBRARIES.values() for name, _, _ in libs)
        self.assertEqual(libraries, expected)
        self.assertTrue(all(line.split()[2] == "0" for line in lines if line.startswith("300   DB ")), lines)


if __name__ == "__main__":
    unittest.main()

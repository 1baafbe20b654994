#!/usr/bin/env python3
"""The request's default session against the real daemon: each
RequestSessionDaemon case of ruvaserv_tests runs against a daemon set up
here, over the libraries of make_client_libraries.py, with the daemon's own
listing as the expected values."""

import os
import shutil
import subprocess
import tempfile
import time
import unittest

import daemon_harness as h
import make_client_libraries


def db_lines(reply):
    """(name, hash id, library id) of each library line of an MLLIST reply, in order."""
    out = []
    for line in reply.decode("latin-1").splitlines():
        if line.startswith("300   DB "):
            quoted = line.split('"')
            comment = quoted[5]
            out.append((quoted[1].strip(), quoted[3].split("|")[1],
                        comment[comment.index("[") + 1:comment.index("]")]))
    return out


def run_case(name, port, **settings):
    """Runs one case of the program against the daemon at port; (passed, output)."""
    env = dict(os.environ, RUVA_PORT=str(port), **settings)
    done = subprocess.run([os.environ["RUVASERV_TESTS"], "--gtest_filter=RequestSessionDaemon." + name],
                          env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
    out = done.stdout.decode("latin-1")
    return done.returncode == 0 and "[  PASSED  ] 1 test." in out and "SKIPPED" not in out, out


class RequestSession(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="sessfx_")
        cls.fx = make_client_libraries.make(cls.tmp)
        cls.daemons = []
        cls.flat = cls.daemon(lib=cls.fx.flat_dir)
        cls.tree = cls.daemon(library_path=cls.fx.structure)

    @classmethod
    def tearDownClass(cls):
        left = []
        for d in cls.daemons:
            d.stop()
            left += d.leftovers()
            d.cleanup()
        shutil.rmtree(cls.tmp, ignore_errors=True)
        assert left == [], left

    @classmethod
    def daemon(cls, **options):
        d = h.Daemon(**options)
        cls.daemons.append(d)
        return d

    def listing(self, d, pattern=""):
        c = d.client()
        self.assertTrue(c.greeting().startswith(b"200 UZD "))
        reply = c.command(("MLLIST " + pattern).strip())
        c.close()
        return db_lines(reply)

    def check(self, name, d, **settings):
        ok, out = run_case(name, d.port, **settings)
        self.assertTrue(ok, out)

    def test_established_once(self):
        # The case drops its connection before the second call: a second VER
        # would open a second session.
        before = self.flat.log_text().count("New tcp session")
        self.check("EstablishesOnceWithTheDaemonsRevision", self.flat)
        self.assertEqual(self.flat.log_text().count("New tcp session"), before + 1)

    def test_hash_id_of_every_fixture_library(self):
        hashes = {name: hash_id for name, hash_id, _ in self.listing(self.flat)}
        served = self.fx.served(annotations=False)
        self.assertEqual(sorted(hashes), served)
        pairs = ["%s=%s" % (self.fx.libraries[n].lib_id, hashes[n]) for n in served]
        self.check("HashIdOfEveryLibraryIdentity", self.flat, RUVA_LIBRARIES=";".join(pairs))

    def test_db_pattern_gives_the_first_library(self):
        # Over the tree the pattern's one line stands at its folder's level, 1.
        _, hash_id, lib_id = self.listing(self.tree, "*.kvo")[0]
        self.check("DbPatternGivesTheFirstLibrary", self.tree, RUVA_FIRST_LIBRARY="%s|%s" % (hash_id, lib_id))

    def test_use_ldap_fails(self):
        self.check("UseLdapFailsWithUnknownError", self.flat)

    def test_stopped_daemon(self):
        d = self.daemon(lib=self.fx.flat_dir)
        self.assertTrue(d.stop())
        ok, out = run_case("StoppedDaemonIsMessage204AtOnce", d.port)
        self.assertTrue(ok, out)

    def test_session_cap_taken(self):
        d = self.daemon(lib=self.fx.flat_dir, extra_config="MaxSessions 1\n")
        # The start-up probe's session must be gone before ours takes the only place.
        self.assertTrue(d.wait_log("Ending tcp session"))
        holder = None
        deadline = time.time() + 20
        while holder is None and time.time() < deadline:
            c = d.client()
            if c.greeting().startswith(b"200 UZD "):
                holder = c
            else:
                c.close()
                time.sleep(0.05)
        self.assertIsNotNone(holder, d.log_text())
        self.check("SessionCapIsMessage204AccessDenied", d)


if __name__ == "__main__":
    unittest.main()

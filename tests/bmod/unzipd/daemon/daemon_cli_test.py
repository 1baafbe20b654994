#!/usr/bin/env python3
"""Command line of ruvadaemon: each form and its exit status."""

import os
import socket
import subprocess
import unittest

import daemon_harness as h

VERSION = "Version: %s %s %s\n" % (h.PROGRAM, h.ARTICLE, h.REVISION)


class CommandLine(unittest.TestCase):
    def setUp(self):
        self.d = h.Daemon(start=False)
        self.d.port = h.free_port()
        self.d.write_conf()

    def tearDown(self):
        left = self.d.leftovers()
        self.d.cleanup()
        self.assertEqual(left, [])

    def run_daemon(self, args):
        return self.d.launch(args, wait=True)

    def test_version_and_install(self):
        for args in (["-ver"], ["--version"]):
            before = len(self.d.stdout_text())
            self.assertEqual(self.run_daemon(args), 0, args)
            self.assertEqual(self.d.stdout_text()[before:], VERSION, args)
        self.assertEqual(self.run_daemon(["--install"]), 0)

    def test_unknown_options_print_usage(self):
        for args in (["-x"], ["-c", self.d.conf, "-ver"]):
            before = len(self.d.stderr_text())
            self.assertEqual(self.run_daemon(args), 1, args)
            usage = "Usage: %s [-c ConfigFile] [-d][-u][-v]\n" % self.d.link
            self.assertEqual(self.d.stderr_text()[before:], VERSION + usage, args)

    def test_unregister_without_central_server(self):
        self.assertEqual(self.run_daemon(["-c", self.d.conf, "-u"]), 1)
        text = self.d.stderr_text() + self.d.log_text()
        self.assertIn("No CentralServer defined, cannot unregister. Ending.\n", text)

    def test_unregister_sends_one_uzr(self):
        listener = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        listener.bind(("127.0.0.1", 0))
        listener.settimeout(5)
        self.d.extra_config = "CentralServer 127.0.0.1:%d\n" % listener.getsockname()[1]
        self.d.write_conf()
        self.assertEqual(self.run_daemon(["-c", self.d.conf, "-u"]), 0)
        data = listener.recv(70000).decode("latin-1")
        self.assertTrue(data.startswith("UZR "), data)
        self.assertTrue(data.endswith(':%d %s "%s" %s "Kivo Browser"\n' % (self.d.port, h.PROGRAM, h.ARTICLE,
                                                                        h.REVISION)), data)
        listener.settimeout(0.5)
        with self.assertRaises(socket.timeout):
            listener.recv(70000)
        listener.close()

    def test_no_library_folder_fails_the_scan(self):
        # No LibraryPath, no AnnotationDb, a HOME without libraries and tmp.
        os.rmdir(os.path.join(self.d.root, "home", "tmp"))
        with open(self.d.conf, "w") as f:
            f.write("WellKnownPort %d\nUseSysLog no\nLogFile %s\nLogLevel Debug\n" % (self.d.port, self.d.log))
        self.assertEqual(self.run_daemon(["-f", "-v", "-d", "-c", self.d.conf]), 1)
        self.assertEqual(self.d.stdout_text(), "Flags: FOLDNAMES VERBOSE DEBUG \n")
        self.assertIn("Failed to scan file system, aborting", self.d.log_text())

    def test_invalid_deny_mask_ends_start(self):
        self.d.extra_config = 'IPMask "Deny 10.1.2.256"\n'
        self.d.write_conf()
        self.assertEqual(self.run_daemon(["-d", "-c", self.d.conf]), 1)
        self.assertIn("Invalid IP mask: 10.1.2.256", self.d.log_text())

    def test_pools_beyond_the_machine_fail_the_start(self):
        for extra, sizes in (("MaxDatabases 2000000000\n", "2000000000 structures, 280000 headers"),
                             ("MaxCentralHeaders 2000000000\n", "700 structures, 2000000000 headers")):
            with self.subTest(extra=extra):
                self.d.extra_config = extra
                self.d.write_conf()
                p = self.d.launch(["-d", "-c", self.d.conf])
                try:
                    status = p.wait(timeout=2)
                except subprocess.TimeoutExpired:
                    # Still growing: it must not take the machine's memory.
                    p.kill()
                    p.wait()
                    status = None
                self.assertEqual(status, 1)
                self.assertIn("Err.: Pool allocation failure, %s, 9004800 namepoolsize\n" % sizes,
                              self.d.log_text())

    def test_default_and_tenfold_pools_start(self):
        for extra in ("", "MaxDatabases 7000\nMaxCentralHeaders 2800000\nNamePoolSize 90048000\n"):
            with self.subTest(extra=extra):
                self.d.extra_config = extra
                self.d.debug = True
                self.d.start()
                # The readiness probe is the one session a -d daemon serves.
                self.assertEqual(self.d.launcher.wait(timeout=10), 0)
                self.assertNotIn("Pool allocation failure", self.d.log_text())


if __name__ == "__main__":
    unittest.main()

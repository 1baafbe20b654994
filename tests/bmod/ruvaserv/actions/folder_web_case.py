"""A test class over one folder of libraries that the class writes: one
ruvadaemon reading the folder in place (its times kept, which date orders
read), one lighttpd with kivoserv in UTC, and Chromium when with_browser.
Nothing may be left by any of them, and after each test the logs must be
clean."""

import shutil
import tempfile
import unittest

import daemon_harness
import web_harness


class FolderWebCase(unittest.TestCase):
    with_browser = False

    @classmethod
    def write_folder(cls, out):
        """Writes the libraries below out; gives the folder to serve."""
        raise NotImplementedError

    @classmethod
    def setUpClass(cls):
        cls.out = tempfile.mkdtemp(prefix="fwc_")
        cls.browser = cls.d = cls.web = None
        try:
            # Chromium first, while no other thread runs: it is started with a pre-exec step.
            if cls.with_browser:
                cls.browser = web_harness.Browser()
            cls.d = daemon_harness.Daemon(library_path=cls.write_folder(cls.out))
            cls.web = web_harness.WebServer(daemon=cls.d, env={"TZ": "UTC"})
            cls.web.__enter__()
        except BaseException:
            cls.tearDownClass()
            raise

    @classmethod
    def tearDownClass(cls):
        try:
            if cls.web is not None:
                web_harness.close_all(cls.web, cls.browser)
            elif cls.browser is not None:
                cls.browser.close()
        finally:
            if cls.d is not None:
                cls.d.stop()
                left = cls.d.leftovers()
                cls.d.cleanup()
                assert left == [], left
            shutil.rmtree(cls.out, ignore_errors=True)

    def tearDown(self):
        self.web.check_logs()

"""A test class over the action libraries' tree served by one ruvadaemon
and one lighttpd with kivoserv, and Chromium when with_browser: the web
server starts after the daemon and stops before it, nothing may be left by
any of them, and after each test the logs must be clean."""

import re

import make_action_libraries as mal
import web_harness


def script_value(page, name):
    """The text assigned by "var <name> = " in a page's script, None when absent."""
    m = re.search(r"^var %s = (.*?);$" % re.escape(name), page, re.M)
    return m.group(1) if m else None


class ActionWebCase(mal.ActionLibraryCase):
    conf_lines = ()
    web_env = None  # lighttpd's environment for the programs, as WebServer takes it
    with_browser = False

    @classmethod
    def setUpClass(cls):
        cls.web = cls.browser = None
        # Chromium first, while no other thread runs: it is started with a pre-exec step.
        if cls.with_browser:
            cls.browser = web_harness.Browser()
        try:
            super().setUpClass()
        except BaseException:
            if cls.browser is not None:
                cls.browser.close()
            raise
        try:
            cls.web = web_harness.WebServer(daemon=cls.d, conf_lines=cls.conf_lines, env=cls.web_env)
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
            super().tearDownClass()

    def tearDown(self):
        self.web.check_logs()

"""A test class over the action libraries' tree served by one ruvadaemon
and one lighttpd with kivoserv: the web server starts after the daemon and
stops before it, nothing may be left by either, and after each test the
logs must be clean."""

import make_action_libraries as mal
import web_harness


class ActionWebCase(mal.ActionLibraryCase):
    conf_lines = ()

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.web = web_harness.WebServer(daemon=cls.d, conf_lines=cls.conf_lines)
        try:
            cls.web.start()
        except BaseException:
            cls.web.stop()
            super().tearDownClass()
            raise

    @classmethod
    def tearDownClass(cls):
        try:
            cls.web.stop()
            assert cls.web.leftovers() == [], cls.web.leftovers()
        finally:
            super().tearDownClass()

    def tearDown(self):
        self.web.check_logs()

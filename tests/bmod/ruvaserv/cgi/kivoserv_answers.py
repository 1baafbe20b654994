"""What kivoserv's answers look like to the end-to-end tests: the environment
lighttpd starts it with, the parts of a response as the program writes them,
the messages of its error pages and the toolbar images it serves; and a test
case class whose tests share one WebServer."""

import email.utils
import importlib.util
import os
import re
import unittest

import web_harness

ACTIONS = os.path.join(web_harness.TOP, "bmod", "ruvaserv", "actions")
ERROR_GOLDEN = os.path.join(web_harness.TOP, "tests", "bmod", "ruvaserv", "cgi", "golden", "error_page.txt")

# The message table's texts, byte for byte; a tag is shown greyed behind each.
MESSAGES = {
    10: 'Unknown action "%s" specified.<br><br>',
    13: "Could not find library identifiers in the incoming URL.<br><br>",
    104: "CgiEntry failed, %s\n.<br><br>",
    107: 'Cannot handle DT type "%s".\n.<br><br>',
    200: "Toolbar image failure: %s\n.<br><br>",
    208: "Failed to create toolbar object.<br><br>",
    215: "CONTENT_TYPE or CONTENT_LENGTH not set with POST method.<br><br>",
    216: "Unknown CONTENT_TYPE provided with POST method, %s.<br><br>",
    217: "Out of memory allocating CGI buffer of size %u.<br><br>",
    218: "Could not read %u bytes POST data from stdin, got %u.<br><br>",
    219: "Unknown request method %s.<br><br>",
    237: "Missing or Invalid IM argument.<br><br>",
    474: '"%s" is not a valid pattern for the library file name in the DB parameter.<br><br> When a library '
         'identity starts with "//", the wild card \'*\' can not be used in the DB parameter.<br><br>',
}
TAG_SPAN = "<span style='color:#D8D8D8'> [%s]</span>"
ERROR_MESSAGE_MAX = 1023
# Expiry periods in seconds: a page, a toolbar image or help page.
PAGE_EXPIRY = 129600
LONG_EXPIRY = 94608000


def message(number, tag, *args):
    return MESSAGES[number] % args + TAG_SPAN % tag


def unknown_action(word):
    """The dispatcher's answer to a word it has no operation for yet, as the flow shows it."""
    return message(10, "kivohandler/2", word) + "\n"


def no_library():
    """LINK's answer to a request that names no library (no LI, DB or ID), as the flow shows it."""
    return message(13, "kivohandler/NOID1") + "\n"


def request_env(web, query="", method="GET", **extra):
    """The environment lighttpd gives the program for a request to
    http://127.0.0.1:8080/cgi-bin/kivoserv; a value None in extra leaves that
    variable out."""
    env = web_harness.cgi_env(web.root)
    env.update({"GATEWAY_INTERFACE": "CGI/1.1", "REQUEST_METHOD": method, "QUERY_STRING": query,
                "CONTENT_LENGTH": "0", "SCRIPT_NAME": "/cgi-bin/kivoserv", "SERVER_NAME": "127.0.0.1",
                "SERVER_PORT": "8080", "HTTP_HOST": "127.0.0.1:8080", "SERVER_PROTOCOL": "HTTP/1.1"})
    for name, value in extra.items():
        if value is None:
            env.pop(name, None)
        else:
            env[name] = value
    return env


def split_response(data):
    """(header lines, body) of the program's own output, whose header block ends at its first empty line."""
    head, sep, body = data.partition(b"\n\n")
    if not sep:
        raise AssertionError("no header block in %r" % data[:200])
    return head.decode("latin-1").split("\n"), body


def header(lines, name):
    """The values of the header lines called name (as written, case and all)."""
    return [line[len(name) + 2:] for line in lines if line.startswith(name + ": ")]


def error_message(page):
    """The text between the error markers, or None without them."""
    found = re.findall(rb"<!--@error-->\n(.*?)<!--@/error-->", page, re.S)
    if len(found) != 1:
        return None
    return found[0].decode("latin-1")


def assert_expires_near(test, text, start, end, period, slack=5):
    """text is an RFC 1123 date of a time between start + period and end + period, within slack seconds."""
    when = email.utils.parsedate_to_datetime(text).timestamp()
    test.assertEqual(email.utils.formatdate(when, usegmt=True), text)
    test.assertGreaterEqual(when, int(start) + period - slack, text)
    test.assertLessEqual(when, end + period + slack, text)


def _generator():
    spec = importlib.util.spec_from_file_location("make_toolbar_icons", os.path.join(ACTIONS, "make_toolbar_icons.py"))
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


_icons = None


def toolbar_icon(number):
    """(GIF bytes, width, height) of toolbar image number, drawn by the generator the build runs."""
    global _icons
    if _icons is None:
        generator = _generator()
        _icons = generator, generator.read_table(os.path.join(ACTIONS, "toolbar_icons.tsv"))
    generator, rows = _icons
    _, name, width, height = rows[number - 1]
    return generator.make_icon(name, width, height)[0], width, height


class ServedTestCase(unittest.TestCase):
    """Tests sharing one WebServer with the configuration lines conf_lines; after
    each test its logs must be clean, and after the last nothing may be left."""

    conf_lines = ()

    @classmethod
    def setUpClass(cls):
        cls.web = web_harness.WebServer(conf_lines=cls.conf_lines)
        cls.web.__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.web.__exit__(None, None, None)
        assert cls.web.leftovers() == [], cls.web.leftovers()

    def tearDown(self):
        self.web.check_logs()

#!/usr/bin/env python3
"""A library page holding every template marker, served by kivoserv under
lighttpd from ruvadaemon over make_action_libraries.py's markers folder
(kivoserv?DB=start.kvo&FN=index.html): each marker's text equals its golden
file in golden/marker_page/, with AllowUZonURL off and on; a marker the
pass does not know stays as written.

Goldens hold @SCRIPT@ for the script's address (@SCRIPT_PATH@ without its
scheme), @UZ@ for the daemon's address as links carry it, @CONFIG@ for the
configuration file and @START_ID@ for start.kvo's hash id."""

import os
import socket
import unittest

import make_action_libraries as mal
from folder_web_case import FolderWebCase

GOLDEN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "golden", "marker_page")

# (golden, text before the marker's output, text after it) in the served
# page; the marker's own line is replaced by its output.
SECTIONS = [
    ("listdb.html", "<h2>listdb</h2>\n", "\n<h2>listdb by title</h2>"),
    ("listdb_sort_title.html", "<h2>listdb by title</h2>\n", "\n<h2>listdb by date</h2>"),
    ("listdb_sort_date.html", "<h2>listdb by date</h2>\n", "\n<h2>LISTDB</h2>"),
    ("listdb.html", "<h2>LISTDB</h2>\n", "\n<form "),
    ("cmplistdb.html", '<select name="DB">\n', "\n</select>"),
    ("servname.html", '<p id="servname">', "</p>"),
    ("proginfo.html", '<p id="proginfo">', "</p>"),
    ("dbname.html", '<p id="dbname">', "</p>"),
    ("uzaddr.html", '<p id="uzaddr">', "</p>"),
    ("rootid.html", 'docNoTree("SUB_MAIN", ', ', "", "");</script>'),
]


def link_address(port):
    """The daemon's address as links carry it: the loopback's name when it
    holds a dot, else an alias holding one, else the dotted address."""
    try:
        name, aliases, _ = socket.gethostbyaddr("127.0.0.1")
    except OSError:
        return "127.0.0.1:%d" % port
    for host in [name] + aliases:
        if "." in host:
            return "%s:%d" % (host[:64], port)
    return "127.0.0.1:%d" % port


def section(page, before, after):
    start = page.index(before) + len(before)
    return page[start:page.index(after, start)]


class MarkerPage(FolderWebCase):
    @classmethod
    def write_folder(cls, out):
        return mal.make_markers(out)

    def tearDown(self):
        self.set_uz(False)
        super().tearDown()

    def set_uz(self, on):
        self.web.conf_lines = ["AllowUZonURL yes"] if on else []
        self.web.write_kivo_conf()

    def served(self):
        status, _, body = self.web.request("GET", "DB=start.kvo&FN=index.html")
        self.assertEqual(status, 200)
        return body.decode("latin-1")

    def golden(self, name):
        with open(os.path.join(GOLDEN, name), encoding="latin-1") as f:
            text = f.read()
        script_path = "/127.0.0.1:%d/cgi-bin/kivoserv" % self.web.port
        return (text.replace("@SCRIPT@", "http:/" + script_path).replace("@SCRIPT_PATH@", script_path)
                .replace("@UZ@", link_address(self.d.port)).replace("@CONFIG@", self.web.path("conf", "kivo.conf"))
                .replace("@START_ID@", str(mal.hash_ids(self.d.port)[mal.START])))

    def test_markers_equal_their_goldens(self):
        page = self.served()
        for name, before, after in SECTIONS:
            with self.subTest(golden=name, at=before.strip()):
                self.assertEqual(section(page, before, after), self.golden(name))
        self.assertIn("\n<!--@@noprnt-->\n", page)

    def test_allow_uz_on_url_puts_the_server_into_the_links(self):
        self.set_uz(True)
        page = self.served()
        self.assertEqual(section(page, *SECTIONS[0][1:]), self.golden("listdb_uz.html"))
        # Options and the small markers carry no link.
        for name, before, after in SECTIONS[4:]:
            with self.subTest(golden=name):
                self.assertEqual(section(page, before, after), self.golden(name))


if __name__ == "__main__":
    unittest.main()

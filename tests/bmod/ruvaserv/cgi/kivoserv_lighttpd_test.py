#!/usr/bin/env python3
"""kivoserv under lighttpd: the answers that need no document server, as a
client receives them through the web server."""

import os
import time
import unittest

import kivoserv_answers as ka
import web_harness as wh


def header(headers, name):
    return [v for k, v in headers if k.lower() == name.lower()]


class UnderLighttpd(ka.ServedTestCase):
    def test_empty_page_and_no_response(self):
        w = self.web
        status, headers, body = w.request("GET", "AC=EMPTY")
        self.assertEqual((status, header(headers, "Content-Type")), (200, ["text/html"]))
        self.assertIn(b'<body bgcolor="#FFFFFF"></body>', body)
        status, headers, body = w.request("HEAD", "AC=empty")
        self.assertEqual((status, header(headers, "Content-Type"), body), (200, ["text/html"], b""))
        status, _, body = w.request("GET", "AC=NORESP")
        self.assertEqual((status, body), (204, b""))

    def test_toolbar_image(self):
        w = self.web
        image, _, _ = ka.toolbar_icon(5)
        for method in ("GET", "HEAD"):
            with self.subTest(method):
                start = time.time()
                status, headers, body = w.request(method, "AC=TBIMG&IM=5")
                end = time.time()
                self.assertEqual(status, 200)
                self.assertEqual(header(headers, "Content-Type"), ["image/gif"])
                self.assertEqual(header(headers, "Content-Length"), [str(len(image))])
                expires = header(headers, "Expires")
                self.assertEqual(len(expires), 1, headers)
                ka.assert_expires_near(self, expires[0], start, end, ka.LONG_EXPIRY)
                self.assertEqual(body, image if method == "GET" else b"")

    def test_image_map_click_takes_fields_from_the_path(self):
        image, _, _ = ka.toolbar_icon(5)
        answer = self.web.raw(b"GET /cgi-bin/kivoserv/AC=TBIMG/IM=5?12,34 HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n")
        head, _, body = answer.partition(b"\r\n\r\n")
        self.assertTrue(head.startswith(b"HTTP/1.0 200 "), head)
        self.assertIn(b"\r\nContent-type: image/gif\r\n", head)
        self.assertEqual(body, image)

    def test_posted_fields(self):
        w = self.web
        status, headers, body = w.request("POST", "", headers={"Content-Type": "application/x-www-form-urlencoded"},
                                          body=b"AC=blank&BG=00ff00")
        self.assertEqual((status, header(headers, "Content-Type")), (200, ["text/html"]))
        self.assertIn(b' bgcolor="#00ff00"></body>', body)
        # The query string is not read for POST.
        status, headers, body = w.request("POST", "AC=EMPTY", headers={"Content-Type": "text/plain"},
                                          body=b"AC=blank")
        self.assertEqual((status, header(headers, "Content-Type")), (200, ["text/html"]))
        self.assertEqual(ka.error_message(body),
                         ka.message(104, "kivoserv/4", ka.message(216, "cgihandler/18", "text&#47;plain")))

    def test_bare_program_runs_the_default_action(self):
        for query in ("", "AC=link", "AC=Link", "AC=LINK"):
            with self.subTest(query=query):
                status, headers, body = self.web.request("GET", query)
                self.assertEqual((status, header(headers, "Content-Type")), (200, ["text/html"]))
                self.assertEqual(ka.error_message(body), ka.no_library())

    def test_start_page_is_served_as_a_file(self):
        w = self.web
        path = w.path("cgi-bin", wh.START_PAGE)
        # Executable or not, it is never run.
        os.chmod(path, 0o755)
        with open(path, "rb") as f:
            page = f.read()
        answer = w.raw(b"GET /cgi-bin/kivo HTTP/1.0\r\n\r\n")
        head, _, body = answer.partition(b"\r\n\r\n")
        self.assertTrue(head.startswith(b"HTTP/1.0 200 "), head)
        self.assertIn(b"\r\nContent-Type: text/html\r\n", head)
        self.assertEqual(body, page)


if __name__ == "__main__":
    unittest.main()

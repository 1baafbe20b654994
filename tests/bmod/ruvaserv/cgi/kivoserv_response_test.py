#!/usr/bin/env python3
"""kivoserv's response bytes, run directly with the environment lighttpd would
give it: header lines and their order, expiry dates from the real clock, the
"no response" answer and the toolbar images."""

import time
import unittest

import kivoserv_answers as ka


class ResponseBytes(ka.ServedTestCase):
    conf_lines = ("TestMode Yes",)

    def run_request(self, query="", method="GET", **extra):
        """(stdout, start time, end time) of one run, which must end 0 and say nothing on stderr."""
        start = time.time()
        out, err, status = self.web.run_cgi(ka.request_env(self.web, query, method, **extra))
        end = time.time()
        self.assertEqual((err, status), ("", 0))
        return out, start, end

    def test_page_header_lines_and_expiry(self):
        cases = [("page", "AC=ENV", ka.PAGE_EXPIRY),
                 ("help page: three years", "AC=ENV&FN=help.html", ka.LONG_EXPIRY)]
        for name, query, period in cases:
            with self.subTest(name):
                out, start, end = self.run_request(query)
                lines, body = ka.split_response(out)
                self.assertEqual([line.split(": ")[0] for line in lines],
                                 ["Content-type", "Content-length", "Expires"])
                self.assertEqual(ka.header(lines, "Content-type"), ["text/html"])
                self.assertEqual(ka.header(lines, "Content-length"), [str(len(body))])
                ka.assert_expires_near(self, ka.header(lines, "Expires")[0], start, end, period)
                self.assertIn(b"<h1>Environment variables</h1>", body)
                self.assertIn(b"QUERY_STRING=AC=ENV", body)

    def test_head_sends_the_header_block_alone(self):
        out, start, end = self.run_request("AC=ENV", "HEAD")
        lines, body = ka.split_response(out)
        self.assertEqual(body, b"")
        self.assertEqual([line.split(": ")[0] for line in lines], ["Content-type", "Content-length", "Expires"])
        # The length of the page a GET would have had.
        self.assertGreater(int(ka.header(lines, "Content-length")[0]), 100)
        ka.assert_expires_near(self, ka.header(lines, "Expires")[0], start, end, ka.PAGE_EXPIRY)

    def test_no_response(self):
        cases = [
            ("CGI/1.1 passes the status on", {}, b"Status: 204 No response\n\n"),
            ("without an interface: back to the program", {"GATEWAY_INTERFACE": None},
             b"Location: http://127.0.0.1:8080/cgi-bin/kivoserv\n\n"),
            ("CGI/1.0 has no 204", {"GATEWAY_INTERFACE": "CGI/1.0"},
             b"Location: http://127.0.0.1:8080/cgi-bin/kivoserv\n\n"),
            ("server name and port without a Host", {"GATEWAY_INTERFACE": None, "HTTP_HOST": None,
                                                     "SERVER_NAME": "docs.example", "SERVER_PORT": "8081"},
             b"Location: http://docs.example:8081/cgi-bin/kivoserv\n\n"),
            ("port 80 is left out", {"GATEWAY_INTERFACE": None, "HTTP_HOST": None, "SERVER_NAME": "docs.example",
                                     "SERVER_PORT": "80"},
             b"Location: http://docs.example/cgi-bin/kivoserv\n\n"),
            # A Host holding a line end must not add a header line of its own.
            ("CR LF in the Host", {"GATEWAY_INTERFACE": None, "HTTP_HOST": "evil\r\nSet-Cookie: a=b"},
             b"Location: http://evilSet-Cookie: a=b/cgi-bin/kivoserv\n\n"),
            ("LF in the Host", {"GATEWAY_INTERFACE": None, "HTTP_HOST": "evil\nStatus: 500"},
             b"Location: http://evilStatus: 500/cgi-bin/kivoserv\n\n"),
        ]
        for name, extra, want in cases:
            with self.subTest(name):
                out, _, _ = self.run_request("AC=NORESP", **extra)
                self.assertEqual(out, want)

    def test_toolbar_images(self):
        cases = [("5", 5), ("1", 1), ("153", 153), ("15,14", 14), ("117", 117)]
        for im, number in cases:
            with self.subTest(im=im):
                image, _, _ = ka.toolbar_icon(number)
                out, start, end = self.run_request("AC=TBIMG&IM=" + im)
                lines, body = ka.split_response(out)
                self.assertEqual(lines[1:], ["Content-type: image/gif", "Content-length: %d" % len(image)])
                self.assertTrue(lines[0].startswith("Expires: "), lines)
                ka.assert_expires_near(self, lines[0][len("Expires: "):], start, end, ka.LONG_EXPIRY)
                self.assertEqual(body, image)
                # By HEAD the same block, closed, and no image; its Expires
                # may fall in the next second.
                head, start, end = self.run_request("AC=TBIMG&IM=" + im, "HEAD")
                head_lines, head_body = ka.split_response(head)
                self.assertEqual(head_lines[1:], lines[1:])
                self.assertEqual(head_body, b"")
                self.assertTrue(head.endswith(b"\n\n"), head)
                ka.assert_expires_near(self, head_lines[0][len("Expires: "):], start, end, ka.LONG_EXPIRY)

    def test_toolbar_image_errors_answer_one_error_page(self):
        no_such_image = ka.message(208, "cgihandler/10")
        bad_im = ka.message(237, "cgihandler/34")
        cases = [("abc", bad_im), ("", bad_im), ("0", no_such_image), ("154", no_such_image),
                 ("-5", no_such_image)]
        for im, cause in cases:
            with self.subTest(im=im):
                out, _, _ = self.run_request("AC=TBIMG&IM=" + im)
                lines, body = ka.split_response(out)
                self.assertEqual(lines, ["Content-type: text/html"])
                self.assertEqual(ka.error_message(body), ka.message(200, "cgihandler/2", cause))


if __name__ == "__main__":
    unittest.main()

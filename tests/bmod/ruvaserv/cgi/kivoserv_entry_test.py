#!/usr/bin/env python3
"""kivoserv's request road, run directly as lighttpd would run it: every
request, by GET, HEAD, POST or PATH_INFO, ends with status 0 and exactly one
response, whichever step answers it."""

import unittest

import kivoserv_answers as ka

FORM = "application/x-www-form-urlencoded"


def post(body, content_type=FORM, length=None):
    """(method, query, extra environment, standard input) of a POST."""
    extra = {"CONTENT_LENGTH": str(len(body)) if length is None else length}
    if content_type is not None:
        extra["CONTENT_TYPE"] = content_type
    return "POST", "", extra, body.encode()


def get(query, method="GET", **extra):
    return method, query, extra, b""


def entry_failed(number, tag, *args):
    return ka.message(104, "kivoserv/4", ka.message(number, tag, *args))


class RequestRoad(ka.ServedTestCase):
    def test_every_request_gets_one_response(self):
        html = ["Content-type: text/html"]
        # (name, request, first header lines, message between the error markers, part of the body)
        cases = [
            ("the action word by POST, upper case", post("AC=LINK"), html, ka.no_library(), None),
            ("an unknown word by POST", post("DB=x&AC=Fxyz"), html, ka.unknown_action("FXYZ"), None),
            ("blank page without BG", get("AC=blank"), html, None, b' bgcolor="#000000"></body>'),
            ("blank page by POST", post("AC=blank&BG=00ff00"), html, None, b' bgcolor="#00ff00"></body>'),
            ("menu script by HEAD", get("AC=JSCMENU", "HEAD"), ["Content-type: text/javascript"], None, b""),
            ("ENV without TestMode goes to the dispatcher", get("AC=ENV"), html, ka.unknown_action("ENV"), None),
            ("LINKEXT without FN is the default action", get("AC=linkext"), html, ka.no_library(), None),
            ("fields in PATH_INFO after an image-map click", get("3,4", PATH_INFO="/AC=EMPTY"), html, None,
             b'<body bgcolor="#FFFFFF"></body>'),
            ("PATH_INFO alone holds no fields", get("", PATH_INFO="/AC=EMPTY"), html, ka.no_library(),
             None),
            ("empty DT", get("DT="), html, ka.message(107, "kivoserv/7", ""), None),
            ("error page by HEAD", get("DT=XY", "HEAD"), html, None, b""),
            ("image failure", get("AC=TBIMG&IM=0"), html,
             ka.message(200, "cgihandler/2", ka.message(208, "cgihandler/10")), None),
            ("no response", get("AC=NORESP"), ["Status: 204 No response"], None, b""),
            ("POST without CONTENT_TYPE", post("AC=EMPTY", None), html, entry_failed(215, "cgihandler/17"), None),
            ("POST of text/plain", post("AC=EMPTY", "text/plain"), html,
             entry_failed(216, "cgihandler/18", "text&#47;plain"), None),
            ("POST of a negative length", post("AC=EMPTY", length="-1"), html, entry_failed(215, "cgihandler/17"),
             None),
            ("POST shorter than its length", post("AC=EMPTY", length="20"), html,
             entry_failed(218, "cgihandler/20", 20, 8), None),
            ("PUT", get("AC=EMPTY", "PUT"), html, entry_failed(219, "cgihandler/21", "PUT"), None),
        ]
        for name, (method, query, extra, stdin), head, shown, body_part in cases:
            with self.subTest(name):
                out, err, status = self.web.run_cgi(ka.request_env(self.web, query, method, **extra), stdin)
                self.assertEqual((err, status), ("", 0))
                lines, body = ka.split_response(out)
                self.assertEqual(lines[:len(head)], head)
                # One response: no second header block or page behind the first.
                self.assertEqual(out.count(b"Content-type: ") + out.count(b"Status: "), 1, out)
                self.assertLessEqual(body.count(b"<html"), 1)
                self.assertEqual(ka.error_message(body), shown)
                if body_part is not None:
                    if method == "HEAD":
                        self.assertEqual(body, body_part)
                    else:
                        self.assertIn(body_part, body)


if __name__ == "__main__":
    unittest.main()

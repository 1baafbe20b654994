#!/usr/bin/env python3
"""kivoserv's error pages as the program writes them: the fixed frame, what
the request fields SL and ST change, HEAD, and a message longer than the page
takes."""

import re
import unittest

import kivoserv_answers as ka

BODY_ATTRS = b'bgcolor="#FFFFFF" link="#004499" vlink="#004499" alink="#004499"'
BACK = b'<input type=button value="Back" onClick="history.go(-1);">\n'
HELP = b'<p align= "left"><font class="c2"><small><b>For more information about searching'


MESSAGE = ka.message(107, "kivoserv/7", "XY")


def help_link(chapter):
    return (b"window.open('http:&#47;&#47;127.0.0.1:8080&#47;cgi-bin&#47;kivoserv?VR=R19K&DB=&FN=help.html&CH=%s',"
            b"'KIVOHELP'" % chapter)


class ErrorPages(ka.ServedTestCase):
    def page(self, query, method="GET"):
        out, err, status = self.web.run_cgi(ka.request_env(self.web, query, method))
        self.assertEqual((err, status), ("", 0))
        return out

    def test_page_is_the_fixed_frame(self):
        out = self.page("AC=TBIMG&IM=abc&SL=x")
        shown = ka.message(200, "cgihandler/2", ka.message(237, "cgihandler/34"))
        self.assertEqual(ka.error_message(out), shown)
        # The golden page of the same frame, with kivoserv's body attributes and this message.
        with open(ka.ERROR_GOLDEN, "rb") as f:
            golden = f.read()
        want = golden.replace(b'<body bgcolor="#FFFFFF" onLoad', b"<body " + BODY_ATTRS + b" onLoad")
        want = re.sub(rb"(<!--@error-->\n).*?(<!--@/error-->)", lambda m: m.group(1) + shown.encode() + m.group(2),
                      want, flags=re.S)
        self.assertEqual(out, want)
        self.assertTrue(out.startswith(b'Content-type: text/html\n\n<!DOCTYPE html PUBLIC "-//W3C//DTD XHTML 1.0 '
                                       b'Transitional//EN"\r\n"http://www.w3.org/TR/xhtml1/DTD/'
                                       b'xhtml1-transitional.dtd">\r\n<html '), out[:300])
        self.assertEqual(out.count(b"\r"), 2)
        self.assertIn(b"font-size:80%;", out)
        self.assertNotIn(b"%%", out)
        self.assertIn(b'<table width="100%"', out)

    def test_request_fields_change_the_page(self):
        cases = [
            ("no SL: no Back button", "DT=XY", [b"<pre>\n\n</pre><p>\n<!--@error-->\n"], [BACK, HELP]),
            ("SL of any value: Back button", "DT=XY&SL=", [b"<!--@/error-->\n</p><div align= \"center\">\n" + BACK],
             [HELP]),
            ("another search kind: plain page", "DT=XY&ST=TITLE&SL=1", [BACK], [HELP]),
            ("full text in lower case: help paragraph, no Back button", "DT=XY&ST=fulltext&SL=1",
             [b"<!--@error-->\n<font class=\"c2\"><small>", help_link(b"DBsearching")], [BACK, b"<pre>"]),
            ("advanced search", "DT=XY&ST=AdvSearch", [help_link(b"DBsearching")], [BACK]),
            ("document search links the chapter on several libraries", "DT=XY&ST=DocSearch",
             [help_link(b"LBmultiple")], [BACK]),
        ]
        for name, query, present, absent in cases:
            with self.subTest(name):
                out = self.page(query)
                # The search kinds put the message in small grey type inside the markers.
                shown = ka.error_message(out)
                self.assertIn(shown, (MESSAGE, '<font class="c2"><small>' + MESSAGE))
                self.assertTrue(out.endswith(b"</div></body></html>\n"), out[-200:])
                for part in present:
                    self.assertIn(part, out)
                for part in absent:
                    self.assertNotIn(part, out)

    def test_head_gets_the_header_block_alone(self):
        for query in ("DT=XY&SL=1", "AC=TBIMG&IM=abc", "AC=9x"):
            with self.subTest(query):
                self.assertEqual(self.page(query, "HEAD"), b"Content-type: text/html\n\n")

    def test_long_message_is_cut_keeping_its_tag(self):
        library = ("Lib*" * 400)[:1500]
        out = self.page("DB=%s&LI=//EN/ABCDEFGHIJ" % library)
        shown = ka.error_message(out)
        self.assertLessEqual(len(shown), ka.ERROR_MESSAGE_MAX)
        tag = ka.TAG_SPAN % "kivoserv/9.1"
        self.assertTrue(shown.startswith('"Lib*Lib*'), shown[:40])
        self.assertTrue(shown.endswith(tag), shown[-80:])
        self.assertTrue(library.startswith(shown[1:-len(tag)]))
        # A library name of ordinary length gets the whole message.
        self.assertEqual(ka.error_message(self.page("DB=lib*&LI=//EN/ABCDEFGHIJ")),
                         ka.message(474, "kivoserv/9.1", "lib*"))


if __name__ == "__main__":
    unittest.main()

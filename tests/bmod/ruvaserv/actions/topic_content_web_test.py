#!/usr/bin/env python3
"""AC=CONREF under lighttpd with ruvadaemon over the action libraries: the
fragment after the style-sheet link is the section the daemon gives a
client for IDRETR, and a topic that is not there gives the failure
fragment, each as one answer."""

import os
import re
import unittest
import urllib.parse

import make_action_libraries as fx
from action_web_case import ActionWebCase

SHEET = re.compile(r'^ <link href="http://127\.0\.0\.1(:\d+)?/cgi-bin/kivoserv\?LI=//123&FN=(?P<sheet>[a-z_A-Z]+\.css)" '
                   r'rel="stylesheet" type="text/css" />')


class TopicContentWeb(ActionWebCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.dita = cls.ids[fx.DITA]

    def conref(self, **fields):
        """The body of the one answer to AC=CONREF in the DITA library."""
        query = urllib.parse.urlencode(dict({"AC": "CONREF", "ID": self.dita, "FN": fx.DITA_MEMBER}, **fields))
        status, headers, body = self.web.request("GET", query, headers={"Host": "127.0.0.1"})
        self.assertEqual(status, 200)
        self.assertEqual([v for n, v in headers if n.lower() == "content-type"], ["text/html"])
        self.assertNotIn(b"\0", body)
        self.web.check_logs()
        return body

    def section(self, topic, content_set):
        """The section as a client gets it by IDRETR."""
        c = self.session()
        try:
            reply = c.command('IDRETR %s %d %s %s' % (topic, self.dita, fx.DITA_MEMBER, content_set))
        finally:
            c.close()
        head, _, rest = reply.partition(b"\n")
        self.assertTrue(head.startswith(b"300-"), reply[:200])
        entry = re.match(rb'300 (\d+) "[^"]*" "[^"]*"  ', rest)
        self.assertIsNotNone(entry, reply[:300])
        size = int(entry.group(1))
        return rest[entry.end():entry.end() + size]

    def test_fragment_is_the_daemons_section(self):
        cases = [(topic, "DITA", "dita_myr.css") for topic in fx.DITA_TOPICS]
        cases += [(topic, "MYR", "CVL.css") for topic in fx.MYR_SECTIONS]
        for topic, content_set, sheet in cases:
            with self.subTest(topic=topic, cs=content_set):
                section = self.section(topic, content_set)
                self.assertGreater(len(section), 0)
                body = self.conref(CH=topic, CS=content_set.lower()).decode("latin-1")
                link = SHEET.match(body)
                self.assertIsNotNone(link, body[:300])
                self.assertEqual(link.group("sheet"), sheet)
                self.assertEqual(body[link.end():].encode("latin-1"), section)

    def test_missing_topic_gives_the_failure_fragment(self):
        for name, fields in [("unknown id", {"CH": "topic_none", "CS": "DITA"}),
                             ("short id", {"CH": "topic", "CS": "DITA"})]:
            with self.subTest(name):
                body = self.conref(**fields).decode("latin-1")
                self.assertIn("<p>Failed to retrieve the requested topic content.</p>", body)
                self.assertTrue(body.startswith('<link href="http://127.0.0.1'), body[:200])

    def test_unknown_library_gives_one_error_page(self):
        query = urllib.parse.urlencode({"AC": "CONREF", "LI": "EN/NONE1 R1A", "FN": fx.DITA_MEMBER,
                                        "CH": "topic_mount", "CS": "DITA"})
        answer = self.web.raw(("GET /cgi-bin/kivoserv?%s HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n" % query).encode())
        self.assertEqual(len(re.findall(rb"(?im)^content-type:", answer)), 1, answer[:600])
        self.assertIn(b"<!--@error-->", answer)
        self.assertNotIn(b"Failed to retrieve the requested topic content.", answer)
        self.web.check_logs()


if __name__ == "__main__":
    unittest.main()

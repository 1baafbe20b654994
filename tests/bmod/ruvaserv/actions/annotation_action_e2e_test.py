#!/usr/bin/env python3
"""The annotation requests under lighttpd with kivoserv and the real
ruvadaemon over the page-library fixture ($PAGE_LIBRARIES/lib, guide.kvo):
the stored record's bytes, the joined text and its Replace round trip, the
empty archive, requests refused before anything is sent, and stored or
requested values that must stay text in the pages. annot.anx is written
into the daemon's AnnotationDb before it starts and read back with unzip
and zipfile."""

import email.utils
import html.parser
import os
import re
import subprocess
import time
import unittest
import urllib.parse

import annotation_records as ar
import daemon_harness
import kivoserv_answers as answers
import web_harness as wh

DOC = "1551-ABC10101Uen.A.html"
MEMBER = ar.member_name(DOC, "3")
HOSTILE = ["<img src=x onerror=window.__x=1>", "\"'><script>window.__x=1</script>",
           "</textarea><script>window.__x=1</script>", "x\");window.__x=1;//", "&lt;b&gt;", "&#8364;", "a & b"]


def page_libraries(*parts):
    return os.path.join(os.environ["PAGE_LIBRARIES"], *parts)


def header(headers, name):
    return [value for key, value in headers if key.lower() == name.lower()]


class Elements(html.parser.HTMLParser):
    """Every start tag with its attributes, and the text, references decoded."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.tags = []
        self.text = ""

    def handle_starttag(self, tag, attrs):
        self.tags.append((tag, dict(attrs)))

    def handle_startendtag(self, tag, attrs):
        self.tags.append((tag, dict(attrs)))

    def handle_data(self, data):
        self.text += data


def elements(body):
    p = Elements()
    p.feed(body.decode("latin-1"))
    p.close()
    return p


class ServedAnnotations:
    """A test case's servers over the fixture."""

    def serve(self, members=None, conf_lines=()):
        """A daemon over the fixture, annot.anx holding members (None: no
        archive), and lighttpd with kivoserv in front of it."""
        d = daemon_harness.Daemon(lib=page_libraries("lib"), start=False)
        if members is not None:
            ar.install(d, members)
        d.start()
        web = wh.WebServer(daemon=d, conf_lines=conf_lines, env={"TZ": "UTC"})
        try:
            web.__enter__()
        except BaseException:
            d.stop()
            d.cleanup()
            raise

        def stop():
            web.__exit__(None, None, None)
            d.stop()
            left = d.leftovers()
            d.cleanup()
            self.assertEqual(left, [])
        self.addCleanup(stop)
        self.web = web
        self.daemon = d
        self.archive = ar.archive_path(d)
        return web


class AnnotationRequests(ServedAnnotations, unittest.TestCase):

    def get(self, **fields):
        status, headers, body = self.web.request("GET", urllib.parse.urlencode(fields))
        self.web.check_logs()
        return status, headers, body

    def post(self, fields):
        status, headers, body = self.web.request(
            "POST", "", headers={"Content-Type": "application/x-www-form-urlencoded"},
            body=urllib.parse.urlencode(fields))
        self.web.check_logs()
        return status, headers, body

    def archive_bytes(self):
        with open(self.archive, "rb") as f:
            return f.read()

    def member(self, name):
        done = subprocess.run(["unzip", "-p", self.archive, name], stdout=subprocess.PIPE, check=True)
        return done.stdout

    def form_fields(self, body):
        """The edit form's fields as the browser would send them."""
        found = elements(body)
        fields = {a["name"]: a.get("value", "") for tag, a in found.tags if tag == "input" and "name" in a}
        text = re.search(rb"<textarea name=\"AT\"[^>]*>\n(.*?)</textarea>", body, re.S).group(1)
        fields["AT"] = text.decode("latin-1")
        return fields

    def test_record_bytes_and_header_lines(self):
        self.serve()
        before = time.time()
        status, headers, body = self.get(AC="ANNOCR", FN=DOC, AH="Hdr", AU="Ann", AT="Text", AN="3")
        after = time.time()
        self.assertEqual(status, 200)
        self.assertIn(b"Action done", body)
        self.assertEqual(header(headers, "Content-Type"), ["text/html"])
        self.assertEqual(header(headers, "Content-Disposition"), ["inline; filename=annotupd.html"])
        # One second after the page was made, within the request.
        expires = email.utils.parsedate_to_datetime(header(headers, "Expires")[0]).timestamp()
        self.assertTrue(int(before) + 1 <= expires <= int(after) + 1, (before, expires, after))
        data = self.member(MEMBER)
        self.assertEqual(len(data), 52)
        fields = data.split(b"\0")
        self.assertEqual(fields[-1], b"")
        stamps = {time.strftime("%Y-%m-%d %H:%M:%S", time.gmtime(t)).replace(" ", "\0").encode()
                  for t in (before, after)}
        self.assertIn(b"\0".join(fields[4:6]), stamps)
        self.assertEqual(fields[:4] + fields[6:10], [b"Hdr", b"Ann", b"Text", b"3", b"A", b"1.0", b"HTMLTEXT", b"G"])

        for name, fields, member, text, answer in [
                ("no AN", {}, "0", b"t", b"Action done"),
                # Chapter 0 holds one now: the joined form answers.
                ("blank-led AN", {"AN": " 3", "AT": "u"}, "0", b"t", b"value=\"Replace\""),
                ("long text", {"AN": "4", "AT": "x" * 2500}, "4", b"x" * 2000, b"Action done"),
                ("reference at the cut", {"AN": "5", "AT": "x" * 1996 + "&#8364;"}, "5", b"x" * 1996,
                 b"Action done")]:
            with self.subTest(name):
                query = {"AC": "ANNOCR", "FN": DOC, "AH": "Hdr", "AU": "Ann", "AT": "t"}
                query.update(fields)
                status, _, body = self.get(**query)
                self.assertIn(answer, body)
                self.assertEqual(ar.fields_of(self.member(ar.member_name(DOC, member)))["text"], text)

    def test_joined_text_replace_and_the_empty_archive(self):
        self.serve([(MEMBER, ar.record(text="old"))])
        before = self.archive_bytes()
        status, _, body = self.get(AC="ANNOCR", FN=DOC, AH="Hdr", AU="Ann", AT="new", AN="3")
        self.assertEqual(status, 200)
        self.assertEqual(self.archive_bytes(), before)
        self.assertIn(b"value=\"Replace\"", body)
        fields = self.form_fields(body)
        self.assertEqual(fields["AC"], "ANNOUP")
        self.assertEqual(fields["AT"], "old\r\n- - - - -\r\nnew")

        # The form goes back as the browser sends it.
        status, _, body = self.post(fields)
        self.assertIn(b"Action done", body)
        self.assertEqual(ar.fields_of(self.member(MEMBER))["text"], b"old\r\n- - - - -\r\nnew")

        # As listings give the name: the member keeps its spelling.
        status, _, body = self.get(AC="ANNOUP", FN=DOC.lower(), AH="Hdr", AU="Ann", AT="lower", AN="3")
        self.assertIn(b"Action done", body)
        self.assertEqual(list(ar.read_archive(self.archive)), [MEMBER])
        self.assertEqual(ar.fields_of(self.member(MEMBER))["text"], b"lower")
        status, _, body = self.get(AC="ANNOTS", FN=DOC)
        self.assertIn(b">lower</td>", body)

        # A stale version is refused.
        status, _, body = self.get(AC="ANNORM", FN=DOC, AN="3", AV="0badf00d")
        self.assertIn("[annotact/18]", answers.error_message(body) or "")
        self.assertEqual(list(ar.read_archive(self.archive)), [MEMBER])

        status, _, body = self.get(AC="ANNORM", FN=DOC, AN="3")
        self.assertIn(b"Action done", body)
        self.assertEqual(len(self.archive_bytes()), 22)
        status, _, body = self.get(AC="ANNOTS", FN=DOC)
        self.assertIn(b"No annotations made for this document.", body)
        status, _, body = self.get(AC="ANNOCR", FN=DOC, AH="Hdr", AU="Ann", AT="again", AN="2")
        self.assertIn(b"Action done", body)
        self.assertEqual(list(ar.read_archive(self.archive)), [ar.member_name(DOC, "2")])

    def test_refused_requests_leave_the_archive(self):
        self.serve([(MEMBER, ar.record())])
        before = self.archive_bytes()
        rows = [({"AC": "ANNOTS", "FN": fn}, "annotact/14") for fn in
                ["*", "-h.A.html", "a b.A.html", "../x.A.html", "x\"y.A.html", "a" * 300]]
        rows += [({"AC": "ANNOTS", "FN": "stem.html"}, "annotact/16"),
                 ({"AC": "ANNORM", "FN": DOC, "AN": "*"}, "annotact/15"),
                 ({"AC": "ANNORM", "FN": DOC, "AN": "1/2"}, "annotact/15"),
                 ({"AC": "ANNORM", "FN": DOC, "AN": "-h"}, "annotact/15"),
                 ({"AC": "ANNOUP", "FN": DOC, "AN": "1" * 12, "AU": "u", "AH": "h"}, "annotact/15"),
                 ({"AC": "ANNOUP", "FN": DOC, "AN": "NEW", "AU": "u", "AH": "h"}, "annotact/15"),
                 ({"AC": "ANNOXY", "FN": DOC, "AN": "3"}, "annotact/13")]
        for fields, tag in rows:
            with self.subTest(fields=fields):
                status, _, body = self.get(**fields)
                message = answers.error_message(body)
                self.assertIsNotNone(message, body)
                self.assertIn("[%s]" % tag, message)
                self.assertEqual(self.archive_bytes(), before)

    def test_annotations_switched_off(self):
        self.serve([(MEMBER, ar.record())], conf_lines=["UseAnnotation No"])
        before = self.archive_bytes()
        for word in ["ANNOTS", "ANNOED", "ANNOCR", "ANNOUP", "ANNORM"]:
            with self.subTest(word):
                status, _, body = self.get(AC=word, FN=DOC, AN="3", AU="u", AH="h", AT="t")
                self.assertIn("[annotact/17]", answers.error_message(body) or "")
                self.assertEqual(self.archive_bytes(), before)

    def test_stored_and_requested_values_stay_text(self):
        members = []
        for n, value in enumerate(HOSTILE, 1):
            fields = {name: value for name in ("header", "user", "text", "chapter", "docrev")}
            members.append((ar.member_name(DOC, str(n)), ar.record(**fields)))
        self.serve(members)
        library = {"DB": "x\");window.__x=1;//", "ID": "x\");window.__x=1;//"}
        pages = {"annotations": self.get(AC="ANNOTS", FN=DOC, **library)}
        for n in range(1, len(HOSTILE) + 1):
            pages["form %d" % n] = self.get(AC="ANNOED", FN=DOC, AN=str(n), **library)
        # The page's own handlers, each one call whose string holds no quote.
        handler = re.compile(r'^(?:(?:javascript:)?(?:openAnEd|showDoc)\("[^"\\]*"\)|location\.href="[^"\\]*"'
                             r'|window\.close\(\)|return validate\(\);|try\{if\(top\.kivotbar.*\}catch\(e\)\{\})$')
        for name, (status, _, body) in pages.items():
            with self.subTest(name):
                self.assertEqual(status, 200)
                self.assertIsNone(answers.error_message(body), body)
                found = elements(body)
                tags = {tag for tag, _ in found.tags}
                self.assertLessEqual(tags, {"html", "head", "title", "script", "style", "body", "table", "tr", "td",
                                            "th", "h3", "a", "font", "b", "i", "input", "form", "textarea", "br"})
                self.assertEqual(sum(1 for tag, _ in found.tags if tag == "script"), 1)
                for tag, attrs in found.tags:
                    for a, value in attrs.items():
                        if a.startswith("on"):
                            self.assertRegex(value, handler, (tag, a))
                        if tag in ("a", "img") and a in ("href", "src"):
                            self.assertFalse(value.lower().startswith("javascript:"), value)
                if name == "annotations":
                    self.assertIn("\u20ac", found.text)
                    self.assertIn("<b>", found.text)
                    self.assertIn("<img src=x onerror=window.__x=1>", found.text)

if __name__ == "__main__":
    unittest.main()

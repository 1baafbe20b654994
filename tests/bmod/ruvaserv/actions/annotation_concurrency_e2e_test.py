#!/usr/bin/env python3
"""Annotation saves from several users at once under lighttpd with kivoserv
and the real ruvadaemon over the page-library fixture ($PAGE_LIBRARIES/lib,
guide.kvo): parallel saves, a read right after a save, a form made stale by
another user's save, and a save while the test holds the daemon's update
lock. annot.anx's bytes are the oracle, read with zipfile and unzip -t,
never its folder's listing (the daemon's private update folder beside it
goes only after its answer)."""

import concurrent.futures
import http.client
import os
import re
import subprocess
import sys
import time
import unittest
import urllib.parse

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import annotation_records as ar  # noqa: E402
import daemon_harness  # noqa: E402
import kivoserv_answers as answers  # noqa: E402
from annotation_action_e2e_test import ServedAnnotations  # noqa: E402

DOC = "1551-ABC10101Uen.A.html"
# A save may wait 15 s for the update lock, then up to 30 s for the
# daemon's refresh before the page is written.
SAVE_TIMEOUT = 90
LOCK_WAIT = 15
# Line ends in the text, posted as the edit form posts them (the web
# server refuses them encoded in a URL).
INJECTED = "x\r\nRMFILE annot.anx *\r\n"
LOCKED = "Cannot update ZIP, function locked by other user"


class SeveralUsers(ServedAnnotations, unittest.TestCase):
    def send(self, method, fields):
        """One request with room for the lock wait; (status, body)."""
        query = urllib.parse.urlencode(fields)
        conn = http.client.HTTPConnection("127.0.0.1", self.web.port, timeout=SAVE_TIMEOUT)
        try:
            if method == "GET":
                conn.request("GET", "/cgi-bin/%s?%s" % (self.web.programs[0], query))
            else:
                conn.request("POST", "/cgi-bin/%s" % self.web.programs[0], body=query,
                             headers={"Content-Type": "application/x-www-form-urlencoded"})
            resp = conn.getresponse()
            return resp.status, resp.read()
        finally:
            conn.close()

    def save(self, chapter, text, method="GET"):
        fields = {"AC": "ANNOUP", "FN": DOC, "AN": chapter, "AH": "Hdr", "AU": "Ann", "AT": text}
        return self.send(method, fields)

    def in_parallel(self, calls):
        with concurrent.futures.ThreadPoolExecutor(len(calls)) as pool:
            futures = [pool.submit(call) for call in calls]
            return [f.result() for f in futures]

    def members(self):
        return ar.read_archive(self.archive)

    def assert_archive_sound(self):
        done = subprocess.run(["unzip", "-t", self.archive], capture_output=True)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)

    def assert_done_or_locked(self, body):
        """A parallel save either landed or was refused for the lock."""
        if b"Action done" in body:
            return True
        message = answers.error_message(body)
        self.assertIsNotNone(message, body)
        self.assertIn("[annotation/5]", message)
        self.assertIn(LOCKED, message)
        return False

    def expected_record(self, chapter, text, stored):
        """The record a save of text wrote, with the date and time it stored."""
        return ar.record(header="Hdr", user="Ann", text=text, chapter=chapter,
                         date=stored["date"], time=stored["time"], docrev="A")

    def test_parallel_saves_on_twenty_chapters(self):
        keep = ar.member_name(DOC, "99")
        self.serve([(keep, ar.record(chapter="99"))])
        chapters = [str(n) for n in range(1, 21)]
        results = self.in_parallel([lambda c=c: self.save(c, "text of %s" % c) for c in chapters])
        self.web.check_logs()
        members = self.members()
        self.assert_archive_sound()
        self.assertIn(keep, members)
        landed = 0
        for chapter, (status, body) in zip(chapters, results):
            with self.subTest(chapter=chapter):
                self.assertEqual(status, 200)
                name = ar.member_name(DOC, chapter)
                if self.assert_done_or_locked(body):
                    landed += 1
                    self.assertIn(name, members)
                    stored = ar.fields_of(members[name])
                    self.assertEqual(members[name], self.expected_record(chapter, "text of %s" % chapter, stored))
        self.assertGreater(landed, 0)
        # No member but the kept one and the landed saves.
        self.assertEqual(len(members), landed + 1)

    def test_parallel_saves_on_one_chapter(self):
        self.serve([(ar.member_name(DOC, "2"), ar.record(chapter="2"))])
        texts = ["save %02d" % n for n in range(20)]
        results = self.in_parallel([lambda t=t: self.save("3", t) for t in texts])
        self.web.check_logs()
        landed = [t for t, (status, body) in zip(texts, results) if self.assert_done_or_locked(body)]
        self.assertTrue(landed)
        self.assert_archive_sound()
        members = self.members()
        name = ar.member_name(DOC, "3")
        self.assertEqual(sorted(members), sorted([name, ar.member_name(DOC, "2")]))
        stored = ar.fields_of(members[name])
        self.assertIn(stored["text"].decode(), landed)
        self.assertEqual(members[name], self.expected_record("3", stored["text"].decode(), stored))

    def test_a_read_right_after_a_save_sees_it(self):
        self.serve([(ar.member_name(DOC, "3"), ar.record(text="first"))])
        for n in range(3):
            text = "saved %d" % n
            status, body = self.save("3", text)
            self.assertIn(b"Action done", body)
            status, body = self.send("GET", {"AC": "ANNOTS", "FN": DOC})
            self.assertEqual(status, 200)
            self.assertIn((">%s</td>" % text).encode(), body)
        self.web.check_logs()

    def form_fields(self, body):
        fields = dict(re.findall(rb'<input type="hidden" name="(\w+)" value="([^"]*)"', body))
        fields = {k.decode(): v.decode("latin-1") for k, v in fields.items()}
        for name in ("AH", "AU"):
            found = re.search(rb'name="%s"[^>]*value="([^"]*)"' % name.encode(), body)
            fields[name] = found.group(1).decode("latin-1") if found else ""
        fields["AT"] = re.search(rb"<textarea name=\"AT\"[^>]*>\n(.*?)</textarea>", body, re.S).group(1).decode(
            "latin-1")
        return fields

    def test_a_stale_form_is_refused(self):
        name = ar.member_name(DOC, "3")
        self.serve([(name, ar.record(text="old"))])
        status, form = self.send("GET", {"AC": "ANNOED", "FN": DOC, "AN": "3"})
        self.assertEqual(status, 200)
        mine = self.form_fields(form)
        self.assertEqual(mine["AC"], "ANNOUP")
        self.assertRegex(mine["AV"], "^[0-9a-f]{8}$")

        # Another user saves while the form is open.
        status, body = self.save("3", "other")
        self.assertIn(b"Action done", body)
        theirs = self.members()[name]

        mine["AT"] = "mine"
        status, body = self.send("POST", mine)
        self.assertEqual(status, 200)
        self.assertEqual(self.members()[name], theirs)
        again = self.form_fields(body)
        self.assertIn(b'value="Replace"', body)
        self.assertEqual(again["AT"], "other\r\n- - - - -\r\nmine")
        self.assertNotEqual(again["AV"], mine["AV"])

        # Removing with the stale version is refused too.
        status, body = self.send("GET", {"AC": "ANNORM", "FN": DOC, "AN": "3", "AV": mine["AV"]})
        self.assertIn("[annotact/18]", answers.error_message(body) or "")
        self.assertEqual(self.members()[name], theirs)

        # The fresh version the joined form carries goes through.
        status, body = self.send("POST", again)
        self.assertIn(b"Action done", body)
        self.assertEqual(ar.fields_of(self.members()[name])["text"], b"other\r\n- - - - -\r\nmine")
        self.web.check_logs()

    def test_a_save_while_the_update_lock_is_held(self):
        members = [(ar.member_name(DOC, c), ar.record(chapter=c, text="kept %s" % c)) for c in ("1", "2", "3")]
        self.serve(members)
        with open(self.archive, "rb") as f:
            before = f.read()
        key = self.daemon.port + daemon_harness.UPDATE_MUTEX_KEY_BASE
        daemon_harness.update_lock_ops(key, [(0, 0), (1, daemon_harness.SEM_UNDO)])
        try:
            start = time.time()
            status, body = self.save("4", INJECTED, "POST")
            took = time.time() - start
        finally:
            daemon_harness.update_lock_ops(key, [(-1, daemon_harness.SEM_UNDO)])
        self.assertEqual(status, 200, body)
        message = answers.error_message(body)
        self.assertIsNotNone(message, body)
        self.assertIn("[annotation/5]", message)
        self.assertIn(LOCKED, message)
        self.assertGreaterEqual(took, LOCK_WAIT - 1)
        with open(self.archive, "rb") as f:
            self.assertEqual(f.read(), before)

        # Released, the same text is stored as text.
        status, body = self.save("4", INJECTED, "POST")
        self.assertIn(b"Action done", body)
        stored = self.members()
        self.assertEqual(sorted(stored), sorted([n for n, _ in members] + [ar.member_name(DOC, "4")]))
        for n, data in members:
            self.assertEqual(stored[n], data)
        self.assertEqual(ar.fields_of(stored[ar.member_name(DOC, "4")])["text"], INJECTED.encode())
        self.assert_archive_sound()
        self.web.check_logs()


if __name__ == "__main__":
    unittest.main()

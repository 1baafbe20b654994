#!/usr/bin/env python3
"""Annotation marks in a document with a title anchor, under lighttpd with
kivoserv and the real ruvadaemon over make_action_libraries.py's "marked"
folder (library_path=): the title's icon for all annotations, icons and
boxes at the chapter headings, and the page outside them as it is served
with no annot.anx."""

import os
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import annotation_records as ar  # noqa: E402
import daemon_harness  # noqa: E402
import make_action_libraries as mal  # noqa: E402
from annotation_marks_e2e_test import marks, served_page  # noqa: E402

DOC = mal.MARKED_DOC


def note(chapter):
    return (ar.member_name(DOC, chapter), ar.record(header="H" + chapter, text="Note " + chapter, chapter=chapter))


class TitleMarks(unittest.TestCase):
    maxDiff = None

    @classmethod
    def setUpClass(cls):
        cls.fixtures = tempfile.mkdtemp(prefix="marked_")
        mal.write_folder(cls.fixtures, mal.MARKED_LIBRARIES)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.fixtures, ignore_errors=True)

    def document(self, members, **fields):
        """The document page as served with annot.anx holding members (None:
        no archive)."""
        d = daemon_harness.Daemon(library_path=self.fixtures, start=False)
        return served_page(self, d, mal.MARKED, DOC, members, **fields)

    def test_marks_at_the_title_and_the_headings(self):
        plain = {an: self.document(None, **({"AN": an} if an else {})) for an in ("", "3", "ALL")}
        for page in plain.values():
            self.assertEqual(marks(page)[0], [])
            self.assertIn('name="TITLE"', page)
        cases = [
            ("members 1 and 3", [note("3"), note("1")], {},
             ["head: openAnEd script", "TITLE: icon ALL#CHAPTER1", "CHAPTER1: icon 1#CHAPTER1",
              "CHAPTER3: icon 3#CHAPTER3"]),
            ("AN=3", [note("1"), note("3")], {"AN": "3"},
             ["head: openAnEd script", "TITLE: icon ALL#CHAPTER1", "CHAPTER1: icon 1#CHAPTER1", "CHAPTER3: box H3"]),
            ("AN=ALL", [note("1"), note("3")], {"AN": "ALL"},
             ["head: openAnEd script", "CHAPTER1: box H1", "CHAPTER3: box H3"]),
            ("member 0", [note("0"), note("2")], {},
             ["head: openAnEd script", "TITLE: icon ALL", "CHAPTER2: icon 2#CHAPTER2"]),
            ("member 0, AN=ALL", [note("0"), note("2")], {"AN": "ALL"},
             ["head: openAnEd script", "TITLE: box H0", "CHAPTER2: box H2"]),
        ]
        for name, members, fields, expected in cases:
            with self.subTest(name):
                found, rest = marks(self.document(members, **fields))
                self.assertEqual(found, expected)
                self.assertEqual(rest, plain[fields.get("AN", "")])


if __name__ == "__main__":
    unittest.main()

#!/usr/bin/env python3
"""The annotation store against the real daemon: the AnnotationDaemon cases
of ruvaserv_tests ($RUVASERV_TESTS) run one by one against a daemon whose
AnnotationDb folder this file prepares, and annot.anx's bytes, read with
zipfile, are checked between them."""

import os
import subprocess
import unittest

import annotation_records as ar
import daemon_harness as h

DOC = "1551-ABC10101Uen.A.html"
MEMBER = ar.member_name(DOC, "3")


def foreign_members():
    """What another writer may have left: fields short of their NULs, more
    NULs, a long member before a short corrupt one, other documents."""
    long_member = ar.record(chapter="5", text="x" * (3000 - len(ar.record(chapter="5", text=""))))
    assert len(long_member) == 3000
    return [
        ("readme.txt", b"not an annotation"),
        (ar.member_name(DOC, "1"), ar.record(nuls=0)),
        (ar.member_name(DOC, "2"), ar.record(nuls=3, chapter="")),
        (ar.member_name(DOC, "3"), ar.record(nuls=9)),
        (ar.member_name(DOC, "4"), ar.record(nuls=12, chapter="4")),
        (ar.member_name(DOC, "5"), long_member),
        (ar.member_name(DOC, "6"), b"x\0" + b"z" * 18),
        ("9999-XYZ.A.1", ar.record()),
    ]


class AnnotationStore(unittest.TestCase):
    def daemon(self, members=None):
        d = h.Daemon(start=False)
        if members is not None:
            ar.install(d, members)
        d.start()

        def stop():
            d.stop()
            left = d.leftovers()
            d.cleanup()
            self.assertEqual(left, [])
        self.addCleanup(stop)
        return d

    def run_case(self, d, name):
        env = dict(os.environ, RUVA_PORT=str(d.port))
        done = subprocess.run([os.environ["RUVASERV_TESTS"], "--gtest_filter=AnnotationDaemon." + name], env=env,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
        out = done.stdout.decode("latin-1")
        self.assertTrue(done.returncode == 0 and "[  PASSED  ] 1 test." in out and "SKIPPED" not in out, out)

    def test_store_versions_and_the_empty_archive(self):
        d = self.daemon()
        archive = ar.archive_path(d)
        self.assertFalse(os.path.exists(archive))
        self.run_case(d, "StoreThenCreateAgain")
        # The record's bytes under the name as written; the second create
        # left the archive as it was.
        self.assertEqual(ar.read_archive(archive), {MEMBER: ar.record()})
        self.assertEqual(len(ar.record()), 52)
        self.run_case(d, "VersionsThenRemoveTheLastMember")
        with open(archive, "rb") as f:
            self.assertEqual(len(f.read()), 22)
        self.run_case(d, "EmptyArchiveListsNothingAndTakesTheNext")
        self.assertEqual(ar.read_archive(archive), {ar.member_name(DOC, "0"): ar.record(text="again", chapter="0")})

    def test_foreign_members(self):
        members = foreign_members()
        d = self.daemon(members)
        self.run_case(d, "ForeignMembers")
        self.assertEqual(ar.read_archive(ar.archive_path(d)), dict(members))


if __name__ == "__main__":
    unittest.main()

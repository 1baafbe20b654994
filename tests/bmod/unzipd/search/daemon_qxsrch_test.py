#!/usr/bin/env python3
"""QXSRCH end to end: a raw-socket client against the daemon over one folder
with two libraries whose title indexes ruvx_build.py writes; the whole reply
is computed from the fixture."""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

import daemon_harness as h

BUILDER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "ruvx_build.py")
HTML = (4, 0)
# library -> (documents, words {word: [(doc, count)]}, member comments)
HIT_DOCS = ["m0.html", "m1.html", "m2.html"]
HIT_WORDS = {"a": [(0, 1), (1, 2)], "b": [(1, 1), (2, 1)]}
HIT_COMMENTS = {"m0.html": b'CAT:"1|1"', "m1.html": b'say "hi"', "m2.html": b""}
NOHIT_DOCS = ["z.html"]
NOHIT_WORDS = {"zzz": [(0, 1)]}
DOC_TYPE_NAMES = {HTML: b"HTML"}


def hx(b):
    return b.hex() if b else "-"


def job(path, docs, words, comments):
    text = "type 0\ndimension 3\n"
    for d in docs:
        text += "doc %d %d %s\n" % (HTML[0], HTML[1], hx(d.encode()))
    for w, postings in words.items():
        text += "word %s %s\n" % (hx(w.encode()), " ".join("%d:%d" % p for p in postings))
    for d in docs:
        text += "member %s %s %s\n" % (hx(d.encode()), hx(comments.get(d, b"")), hx(b"x"))
    return text + "library %s title.qxx deflated\nend\n" % path


def add_archive_comment(path, comment):
    with open(path, "rb") as f:
        data = f.read()
    assert data[-22:-18] == b"PK\5\6"
    data = data[:-2] + bytes([len(comment) & 0xFF, len(comment) >> 8]) + comment
    with open(path, "wb") as f:
        f.write(data)


def quoted(text):
    """The member comment as the reply quotes it (nothing when empty)."""
    if not text:
        return b""
    text = bytes(b if b >= 32 else 32 for b in text)
    if text.isalnum():
        return b" " + text
    if text.endswith(b"\\"):
        text += b" "
    return b' "' + text.replace(b'"', b'\\"') + b'"'


class TreeDaemon(h.Daemon):
    """A daemon whose library path is the folder structure file."""

    def __init__(self, structure):
        self.structure = structure
        super().__init__()

    def config_text(self):
        return super().config_text().replace("LibraryPath %s\n" % os.path.join(self.root, "lib"),
                                             "LibraryPath %s\n" % self.structure)


class QxSrch(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="rdqx_")
        self.docs = os.path.join(self.tmp, "docs")
        self.r = os.path.join(self.tmp, "r")
        os.makedirs(self.docs)
        os.makedirs(self.r)
        jobs_file = os.path.join(self.tmp, "jobs.txt")
        self.hit = os.path.join(self.docs, "hit.kvo")
        self.nohit = os.path.join(self.docs, "nohit.kvo")
        with open(jobs_file, "w") as f:
            f.write(job(self.hit, HIT_DOCS, HIT_WORDS, HIT_COMMENTS))
            f.write(job(self.nohit, NOHIT_DOCS, NOHIT_WORDS, {}))
        subprocess.run([sys.executable, BUILDER, jobs_file], check=True)
        add_archive_comment(self.hit, b"Lib [EN/L1]")
        add_archive_comment(self.nohit, b"Lib [EN/L2]")
        self.structure = os.path.join(self.tmp, "structure.txt")
        with open(self.structure, "w") as f:
            f.write("# structure\n")
            for name, label, level, path in (("Root", "root", "0", self.r), ("Docs", "d", "1", self.docs)):
                f.write('Name: "%s"\nLabel: "%s"\nLevel: %s\nPath: "%s"\nIndexFile: ""\n\n'
                        % (name, label, level, path))
        self.d = TreeDaemon(self.structure)

    def tearDown(self):
        self.d.stop()
        left = self.d.leftovers()
        self.d.cleanup()
        shutil.rmtree(self.tmp, ignore_errors=True)
        self.assertEqual(left, [])

    def ids(self, c):
        """Folder IDs and library hashes as the tree listing shows them."""
        for _ in range(100):
            tree = c.command("MLLIST")
            folders = dict((m.group(2), int(m.group(1)))
                           for m in re.finditer(rb"^300  SUB .* S\|(\d+)\|.* (\S+)$", tree, re.M))
            libs = dict((m.group(2), int(m.group(1)))
                        for m in re.finditer(rb'^300   DB .*"\d+\|(\d+)\|([^|]+)\|"', tree, re.M))
            if len(libs) == 2:
                return folders, libs
            time.sleep(0.1)
        self.fail(tree)

    def test_whole_reply(self):
        c = self.d.client()
        self.assertTrue(c.greeting().startswith(b"200 UZD "))
        folders, libs = self.ids(c)
        query = ["a", "b"]
        want = b"300-Database Filename Hash DocType Score Tokens Comment\n"
        for n, name in enumerate(HIT_DOCS):
            tokens = [w.upper().encode() for w in query if any(d == n for d, _ in HIT_WORDS.get(w, []))]
            if tokens:
                want += b'300 "hit.kvo" %d "%s" %s 0 [%s]%s\n' % (
                    libs[b"hit.kvo"], name.encode(), DOC_TYPE_NAMES[HTML], b" ".join(tokens),
                    quoted(HIT_COMMENTS.get(name)))
        self.assertFalse(any(w in NOHIT_WORDS for w in query))
        want += b'349 "Docs" "nohit.kvo" %d\n' % libs[b"nohit.kvo"]
        want += b"200-QXSRCH executed.\n"
        self.assertEqual(c.command('QXSRCH "a | b" %d title.qxx' % folders[b"Docs"]), want)
        # The session answers its next command.
        self.assertTrue(c.command("VER").startswith(b"200 Version: "))


if __name__ == "__main__":
    unittest.main()

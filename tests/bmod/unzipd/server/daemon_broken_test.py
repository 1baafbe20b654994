#!/usr/bin/env python3
"""Broken and unusual archives: a corrupt deflate stream, members with data descriptors
(written by zip to a pipe), a deflated empty member, a FIFO or folder in a library's place.
Framing stays exact and the session survives."""

import os
import re
import shutil
import subprocess
import tempfile
import time
import unittest
import zipfile
import zlib

import daemon_harness as h
from daemon_commands_test import LibraryCase
from daemon_tree_test import library, structure_text, tree

TEXT = b"<html><title>Piped</title><body>" + b"line of text\n" * 400 + b"</body></html>"


def make_fixtures(folder):
    with zipfile.ZipFile(os.path.join(folder, "broken.kvo"), "w") as z:
        z.writestr("good.html", TEXT, zipfile.ZIP_DEFLATED)
        z.writestr("bad.html", TEXT, zipfile.ZIP_DEFLATED)
        z.writestr("empty.html", b"", zipfile.ZIP_DEFLATED)
    with open(os.path.join(folder, "broken.kvo"), "r+b") as f:
        raw = f.read()
        at = raw.index(b"bad.html") + len(b"bad.html")  # local header: no extra field from zipfile
        f.seek(at)
        f.write(b"\x07")  # final block of the reserved type 3
    src = os.path.join(folder, "src")
    os.makedirs(src)
    for name, data in (("p1.html", TEXT), ("p2.html", TEXT[:100])):
        with open(os.path.join(src, name), "wb") as f:
            f.write(data)
    piped = subprocess.run("zip -q - p1.html p2.html | cat", shell=True, cwd=src, capture_output=True,
                           check=True).stdout
    with open(os.path.join(folder, "piped.kvo"), "wb") as f:
        f.write(piped)
    shutil.rmtree(src)
    # One library cut short before the scan, two the test changes after it.
    for name in ("cut.kvo", "later_cut.kvo", "later_grown.kvo"):
        with zipfile.ZipFile(os.path.join(folder, name), "w") as z:
            z.writestr("good.html", TEXT, zipfile.ZIP_DEFLATED)
    cut = os.path.join(folder, "cut.kvo")
    os.truncate(cut, os.path.getsize(cut) // 2)


class Broken(LibraryCase):
    make_fixtures = staticmethod(make_fixtures)

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.lib = os.path.join(cls.d.root, "lib")

    def retr_raw(self, c, library, member):
        """The framing rule: after 300-Length n come n bytes or EOF, never a status line inside the data."""
        c.sock.sendall(b"RETR %s %s\n" % (library.encode(), member.encode()))
        first = c.read_line()
        self.assertIsNotNone(first)
        if not first.startswith(b"300-Length "):
            return first, None, None
        n = int(first.split()[1])
        data = c.read_bytes(n)
        if len(data) < n:
            self.assertTrue(c.at_eof(), member)
            return first, data, None
        return first, data, c.read_line() + (c.read_line() or b"")

    def test_piped_members_equal_unzip(self):
        c = self.session()
        lib = os.path.join(self.lib, "piped.kvo")
        for member in ("p1.html", "p2.html"):
            want = subprocess.run(["unzip", "-p", lib, member], capture_output=True, check=True).stdout
            first, data, tail = self.retr_raw(c, "piped.kvo", member)
            self.assertEqual(data, want, first)
            self.assertEqual(tail, b"300-CRC 0x%x\n200-RETR executed.\n" % zlib.crc32(want))

    def test_corrupt_stream_and_empty_member(self):
        c = self.session()
        reply = c.command("CONTV broken.kvo")
        self.assertIn(b"        0     Deflated        2  0% 00000000 empty.html\n", reply)
        self.assertTrue(reply.endswith(b"200-CONTV executed.\n"), reply)
        first, data, tail = self.retr_raw(c, "broken.kvo", "bad.html")
        if data is not None and tail is not None:
            self.assertTrue(tail.startswith(b"500-Failed, "), tail)
        if tail is None and data is not None:
            c = self.session()  # the connection was closed inside the data
        elif data is None:
            self.assertTrue(first.startswith(b"500-Failed, "), first)
        first, data, tail = self.retr_raw(c, "broken.kvo", "good.html")
        self.assertEqual(data, TEXT)
        first, data, tail = self.retr_raw(c, "broken.kvo", "empty.html")
        self.assertEqual((data, tail), (b"", b"300-CRC 0x0\n200-RETR executed.\n"))
        self.assertTrue(c.command("VER").startswith(b"200 Version: "))

    def test_library_cut_or_grown(self):
        c = self.session()
        self.assertEqual(c.command("RETR cut.kvo good.html"),
                         b'400-File "good.html" not found in database "cut.kvo", 0 database(s) checked\n')
        cut = os.path.join(self.lib, "later_cut.kvo")
        os.truncate(cut, os.path.getsize(cut) // 2)
        grown = os.path.join(self.lib, "later_grown.kvo")
        with open(grown, "ab") as f:
            f.write(b"\0" * 100)
        # Refused before any framing line.
        for command, name in (("RETR later_cut.kvo good.html", b"later_cut.kvo"), ("GET later_cut.kvo", b"later_cut.kvo"),
                              ("GET later_grown.kvo", b"later_grown.kvo"),
                              ("RETR later_grown.kvo good.html", b"later_grown.kvo")):
            self.assertEqual(c.command(command), b'577 Library "%s" is being updated. '
                             b"Please perform this operation after some time.\n" % name, command)



UPDATING = b'577 Library "%s" is being updated. Please perform this operation after some time.\n'


class NotAFile(h.LibraryCase):
    """A FIFO or a folder put in place of a folder's second library after the scan."""

    # The structure names the daemon's own annotation folder: set up by hand.
    @classmethod
    def setUpClass(cls):
        cls.fixtures = tempfile.mkdtemp(prefix="rdfifo_")
        f = cls.fixtures
        cls.d = h.Daemon(library_path=f + "/structure.txt", start=False)
        annot = os.path.join(cls.d.root, "annot")
        for folder in ("fifo", "dir"):
            for n in (1, 2, 3):
                library("%s/%s/%s%d.kvo" % (f, folder, folder, n), b"Lib [EN/%s%d]" % (folder.encode(), n))
        library(annot + "/annot.anx", b"Notes [EN/N1]")
        with open(f + "/structure.txt", "w") as out:
            out.write(structure_text([("Root", "root", 0, f), ("Fifo", "fifo", 1, f + "/fifo"),
                                      ("Dir", "dir", 1, f + "/dir"), ("Annot", "annot", 1, annot)]))
        cls.d.start()

    def timed(self, c, line):
        start = time.monotonic()
        reply = c.command(line)
        self.assertLess(time.monotonic() - start, 2, line)
        return reply

    def active_sessions(self, c):
        info = c.command("INFO").decode("latin-1")
        return int(re.search(r"Number of active sessions: (\d+)", info).group(1))

    def test_commands_by_folder_number_answer_and_sessions_end(self):
        c = self.d.client(timeout=2)
        c.greeting()
        ids = {name: number for _, name, number in tree(c.command("MLLIST"))}
        for folder, replace in (("fifo", os.mkfifo), ("dir", os.mkdir)):
            order = [name for kind, name, _ in tree(c.command("MLLIST %d" % ids[folder.capitalize()]))
                     if kind == "DB"]
            self.assertEqual(len(order), 3, order)
            second = os.path.join(self.fixtures, folder, order[1])
            os.unlink(second)
            replace(second)
            for line in ("GET %d", "RETR %d doc.html", "CONTV %d"):
                line %= ids[folder.capitalize()]
                reply = self.timed(c, line)
                self.assertTrue(reply.endswith(UPDATING % order[1].encode()), (line, reply[-200:]))
            self.assertTrue(c.command("VER").startswith(b"200 Version: "))
        c.close()
        # Every session process ended with its client; the one asking is the only one left.
        asking = self.d.client()
        asking.greeting()
        deadline = time.time() + 10
        while self.active_sessions(asking) != 1 and time.time() < deadline:
            time.sleep(0.1)
        self.assertEqual(self.active_sessions(asking), 1)

    def test_upload_into_a_fifo_answers_and_frees_the_lock(self):
        c = self.d.client(timeout=2)
        c.greeting()
        anx = os.path.join(self.d.root, "annot", "annot.anx")
        os.unlink(anx)
        os.mkfifo(anx)
        start = time.monotonic()
        c.sock.sendall(b"UPDFILE annot.anx m.1 4\nnote200-UPDFILE END\n")
        self.assertEqual(c.reply(), b"500-Failed to add file to ZIP database\n")
        self.assertLess(time.monotonic() - start, 2)
        # The session waits for the refresh it ordered before it reads RMFILE.
        c.sock.settimeout(10)
        reply = c.command("RMFILE annot.anx m.1")
        self.assertFalse(reply.startswith(b"520"), reply)


if __name__ == "__main__":
    unittest.main()

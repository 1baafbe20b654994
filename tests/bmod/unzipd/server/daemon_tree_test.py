#!/usr/bin/env python3
"""Folder tree, user profile, small listings and generated pages, end to end: a daemon
over a structure file, one whose structure file loses a folder, and one over a folder
of libraries with a second folder and a known-server cache."""

import os
import re
import shutil
import signal
import socket
import tempfile
import time
import unittest
import zipfile
import zlib

import daemon_harness as h


def library(path, comment, members=(("doc.html", b"<html>x</html>", None),)):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with zipfile.ZipFile(path, "w") as z:
        for name, data, member_comment in members:
            info = zipfile.ZipInfo(name, (2020, 1, 1, 0, 0, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            if member_comment:
                info.comment = member_comment
            z.writestr(info, data)
        z.comment = comment


PDF_MEMBERS = (("x.pdf", b"%PDF-1.4 x" * 50, None),
               ("y.pdf", b"%PDF-1.4 y", b'TITLE: "<i id=t7>x</i>"'),
               ("1551-ABC10101Uen.A.html", b"<html>d</html>", b'TITLE: "Install" SUBTITLE: "Step by step"'),
               ("1551-ABC10101Uen.A._.pdf", b"%PDF-1.4 d", None))


def structure_text(records):
    return "# structure\n" + "".join('Name: "%s"\nLabel: "%s"\nLevel: %s\nPath: "%s"\nIndexFile: ""\n\n' % r
                                     for r in records)


def tree(reply):
    """(kind, name, number) of each folder and library line of a tree listing."""
    out = []
    for line in reply.decode("latin-1").splitlines():
        if line.startswith("300  SUB "):
            out.append(("SUB", line.rsplit(" ", 1)[1], int(line.split("S|", 1)[1].split("|", 1)[0])))
        elif line.startswith("300   DB "):
            fields = line.split('"')[3].split("|")
            out.append(("DB", fields[2], int(fields[1])))
    return out


def names(reply):
    return ["%s %s" % (kind, name) for kind, name, _ in tree(reply)]


def make_tree(f):
    os.makedirs(f + "/r")
    library(f + "/a/a1.kvo", b"A one [EN/A1]")
    library(f + "/a/notes.anx", b"Notes [EN/N1]")
    library(f + "/b/b1.kvo", b"B one [EN/B1]")
    library(f + "/b/s1.kvo", b"System [//SYS1]")
    library(f + "/c/c1.kvo", b"C one [EN/C1]")
    library(f + "/c/pdf.kvo", b"Pdf pages [EN/P1]", PDF_MEMBERS)
    library(f + "/h/h1.kvo", b"Hidden [EN/H1]")
    with open(f + "/structure.txt", "w") as out:
        out.write(structure_text([("Root", "root", 0, f + "/r"), ("FolderA", "a", 1, f + "/a"),
                                  ("FolderB", "b", 1, f + "/b"), ("FolderC", "c", 1, f + "/c"),
                                  ("__Hidden", "h", 1, f + "/h")]))


class Tree(h.LibraryCase):
    """A root without libraries, three level-1 folders, a "__" folder, a "//" library id
    and an annotation library."""

    make_fixtures = staticmethod(make_tree)

    @staticmethod
    def daemon_options(fixtures):
        return {"library_path": fixtures + "/structure.txt"}

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        c = cls.d.client()
        c.greeting()
        cls.ids = {name: number for _, name, number in tree(c.command("MLLIST"))}
        c.close()

    def test_tree_hides_and_a_profile_keeps_its_folders(self):
        c = self.session()
        reply = c.command("MLLIST")
        self.assertTrue(reply.startswith(b'300-Type Level Name         ID  Size\t\tEntries CTime    "Comment"\n'))
        self.assertTrue(reply.endswith(b"200-MLLIST executed.\n"))
        self.assertEqual(names(reply), ["SUB Root", "SUB FolderA", "DB a1.kvo", "SUB FolderB", "DB b1.kvo",
                                        "SUB FolderC", "DB c1.kvo", "DB pdf.kvo"])
        self.assertEqual(c.command('USER u 1 "%d|%d"' % (self.ids["FolderA"], self.ids["FolderC"])),
                         b"200-User profile successfuly set\n")
        self.assertEqual(names(c.command("MLLIST")),
                         ["SUB Root", "SUB FolderA", "DB a1.kvo", "SUB FolderC", "DB c1.kvo", "DB pdf.kvo"])

    def test_small_answers(self):
        c = self.session()
        self.assertEqual(c.command("MLSLIST"), b"500 No Product Name/Path specified \n")
        self.assertEqual(c.command("MLNLIST %d u" % self.ids["Root"]),
                         b"550-No folder with upload access available\n")
        self.assertTrue(c.at_eof())

    def test_sub_folder_page(self):
        c = self.session()
        folder = self.ids["FolderA"]
        reply = c.command("RETR %d kvo_ml_sub_main_page" % folder)
        m = re.match(rb'300-Length (\d+) "9999" kvo_ml_sub_main_page\n', reply)
        self.assertIsNotNone(m, reply[:100])
        n = int(m.group(1))
        self.assertLessEqual(n, 4096)
        self.assertEqual(reply[m.end() + n:], b"300-CRC 0x00000000\n200-RETR executed.\n")
        self.assertEqual(c.command("CONTV %d kvo_ml_sub_main_page" % folder),
                         b"300-Length   Method  Size  Ratio   CRC-32  %d\n" % folder
                         + b"300    4096   Stored   4096    0        -   kvo_ml_sub_main_page\n"
                         + b"200-CONTV executed.\n")

    def test_wait_page_stands_in_for_a_pdf(self):
        c = self.session()
        node = self.ids["pdf.kvo"]
        data = {name: content for name, content, _ in PDF_MEMBERS}
        # (library, member asked, PDF member, texts the page holds, texts it must not hold)
        cases = [("pdf.kvo", "x.fdp", "x.pdf", [b"<title>KIVO Wait</title>", b"FN=x.fdp"], []),
                 ("pdf.kvo", "y.fdp", "y.pdf", [b"<title>KIVO Wait</title>"], [b"t7"]),
                 (str(node), "y.fdp", "y.pdf", [b"&#60;i id=t7&#62;x&#60;&#47;i&#62;"], [b"<i id=t7>"]),
                 (str(node), "1551-ABC10101Uen.A._.fdp", "1551-ABC10101Uen.A._.pdf",
                  [b"<title>Install</title>", b'content="Step by step"'], [])]
        for lib, asked, pdf, has, has_not in cases:
            with self.subTest(lib=lib, member=asked):
                reply = c.command("RETR %s %s" % (lib, asked))
                m = re.match(rb'300-Length (\d+) "pdf.kvo" "wait.html" "0"\n', reply)
                self.assertIsNotNone(m, reply[:100])
                page = reply[m.end():m.end() + int(m.group(1))]
                for text in has:
                    self.assertIn(text, page)
                for text in has_not:
                    self.assertNotIn(text, page)
                self.assertEqual(reply[m.end() + len(page):],
                                 b"300-CRC 0x%x\n200-RETR executed.\n" % zlib.crc32(data[pdf]))

    def test_info_counts_active_sessions(self):
        def active(c):
            lines = c.command("INFO").decode("latin-1").splitlines()
            self.assertEqual(lines[0], "300-Server Information:")
            self.assertEqual(len(lines), 12, lines)
            self.assertEqual(lines[-1], "200-INFO executed.")
            for line, start in zip(lines[1:11], ["Server start/reconfiguration time: ", "Number of client sessions: ",
                                                 "Number of active sessions: ", "Number of databases: ",
                                                 "Number of Sub-systems: ",
                                                 "Total number of files: ",
                                                 "Estimated cache memory requirement (in bytes): ",
                                                 "ZipStructure Pool: Heaps ", "CentralHeader Pool: Heaps ",
                                                 "Name Pool: Heaps "]):
                self.assertTrue(line.startswith("300 " + start), line)
            return int(lines[3].rsplit(" ", 1)[1])

        def settles_at(c, want):
            deadline = time.time() + 6
            while True:
                got = active(c)
                if got == want or time.time() > deadline:
                    return got
                time.sleep(0.1)

        sessions = [self.session() for _ in range(3)]
        self.assertEqual(settles_at(sessions[0], 3), 3)
        for c in sessions[1:]:
            c.close()
        self.assertEqual(settles_at(sessions[0], 1), 1)


class DroppedFolder(unittest.TestCase):
    """The watcher sees the structure file rewritten without a folder."""

    def test_folder_dropped_from_structure_file_takes_its_libraries(self):
        fixtures = tempfile.mkdtemp(prefix="rddrop_")
        d = None
        try:
            os.makedirs(fixtures + "/r")
            library(fixtures + "/a/a1.kvo", b"A one [EN/A1]")
            library(fixtures + "/b/b1.kvo", b"B one [EN/B1]")
            library(fixtures + "/b/b2.kvo", b"B two [EN/B2]")
            conf = fixtures + "/structure.txt"
            records = [("Root", "root", 0, fixtures + "/r"), ("FolderA", "a", 1, fixtures + "/a"),
                       ("FolderB", "b", 1, fixtures + "/b")]
            with open(conf, "w") as out:
                out.write(structure_text(records))
            d = h.Daemon(library_path=conf, extra_config="DetectStructChange yes\n")
            self.assertTrue(d.wait_log("Filesystem scan process started"), d.log_text())
            c = d.client()
            c.greeting()
            before = tree(c.command("MLLIST"))
            asks = ("CONT %s", "RETR %s doc.html")
            unknown = {ask: c.command(ask % "never.kvo") for ask in asks}
            c.close()
            with open(conf, "w") as out:
                out.write(structure_text(records[:2]))
            later = int(os.stat(conf).st_mtime) + 10
            os.utime(conf, (later, later))
            # One watcher cycle and its stability wait.
            self.assertTrue(d.wait_log("Reconfigure request handled for ", timeout=75), d.log_text())
            c = d.client()
            c.greeting()
            listing = c.command("LIST")
            self.assertIn(b"a1.kvo", listing)
            for name in ("b1.kvo", "b2.kvo"):
                self.assertNotIn(name.encode(), listing)
                for ask in asks:
                    self.assertEqual(c.command(ask % name), unknown[ask].replace(b"never.kvo", name.encode()),
                                     ask % name)
            self.assertEqual(tree(c.command("MLLIST")),
                             [t for t in before if t[1] not in ("FolderB", "b1.kvo", "b2.kvo")])
            c.close()
            refreshes = d.log_text().count("Refresh finished,")
            os.kill(d.pid, signal.SIGUSR1)
            self.assertTrue(d.wait_log("Refresh finished,", count=refreshes + 1), d.log_text())
            self.assertNotIn("Failed to add", d.log_text())
        finally:
            if d:
                d.stop()
                left = d.leftovers()
                d.cleanup()
            shutil.rmtree(fixtures, ignore_errors=True)
        self.assertEqual(left, [])


class Flat(unittest.TestCase):
    """An English library alone in a NonRecursiveDir folder, a Swedish one and the
    revision family in the LibraryPath folder, and a cache of two known servers."""

    def test_languages_types_servers_and_latest_revision(self):
        fixtures = tempfile.mkdtemp(prefix="rdflat_")
        peers = [socket.socket(socket.AF_INET, socket.SOCK_DGRAM) for _ in range(2)]
        d = None
        try:
            for p in peers:
                p.bind(("127.0.0.1", 0))
            ports = [p.getsockname()[1] for p in peers]
            library(fixtures + "/en/en.kvo", b"English [EN/E1]")
            library(fixtures + "/lib/sv.kvo", b"Svensk [SV/S1]")
            for mark in ("R1A", "R2A", "R10A", "P1A"):
                library(fixtures + "/lib/%s.kvo" % mark.lower(), b"Doc %s [EN/DOCLIB1 %s]" % (mark.encode(),
                                                                                           mark.encode()))
            d = h.Daemon(lib=fixtures + "/lib", start=False, extra_config="NonRecursiveDir %s/en\n" % fixtures)
            now = int(time.time())
            with open(d.cache, "w") as f:
                f.write('16777343 %d %d "a b"\n16777343 %d %d\n' % (ports[0], now, ports[1], now))
            d.start()
            c = d.client()
            self.assertTrue(c.greeting().startswith(b"200 UZD "))
            self.assertEqual(c.command("LANGLIST"), b"200 en sv  \n")
            self.assertEqual(c.command("BLOBTYPES"), b"200 1  \n")
            self.assertEqual(c.command("SLIST"),
                             b'300-Address "Comment"\n300 127.0.0.1:%d "a b"\n300 127.0.0.1:%d \n200-SLIST executed.\n'
                             % tuple(ports))
            for pattern in ("[EN/DOCLIB1*]", "[EN/DOCLIB1R*]"):
                self.assertEqual(names(c.command("MLLIST " + pattern)), ["DB r10a.kvo"], pattern)
        finally:
            if d:
                d.stop()
                left = d.leftovers()
                d.cleanup()
            for p in peers:
                p.close()
            shutil.rmtree(fixtures, ignore_errors=True)
        self.assertEqual(left, [])


if __name__ == "__main__":
    unittest.main()

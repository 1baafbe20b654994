#!/usr/bin/env python3
"""SRCH, FSRCH and IDRETR end to end: a raw-socket client against the daemon over libraries that
python's zipfile writes, one of them with a member whose deflate stream is broken halfway."""

import os
import random
import re
import unittest
import zipfile

import daemon_harness as h

CAT_PAGE = b"<html><head><title>T</title></head><body><p>Intro text. The quick cat runs home.</p></body></html>"
# SRCH's line for "cat" in it: offset in the member, the paragraph's text as context.
CAT_HIT = b'300 "cat.kvo" "doc.html" %d "Intro text. The quick cat runs home."\n' % CAT_PAGE.index(b"cat")
# Sections around id "x" in heading mode: from its <h2 up to the next heading.
SECTIONS = {"sec1.kvo": b'<h2><a name="x"></a>Head</h2><p>body\nline</p>',
            "sec2.kvo": b'<h2><a name="x"></a>Head</h2><p>more\nline\n</p>'}
PHRASE_PAGE = b"<html><body><p>First words here. Then the phrase lives in this sentence today.</p></body></html>"
IDRETR_ENTRY = re.compile(rb'300 (\d+) "([^"]*)" "([^"]*)"  ')


def library(path, members, comment):
    with zipfile.ZipFile(path, "w") as z:
        for name, data in members:
            z.writestr(zipfile.ZipInfo(name, (2020, 1, 2, 3, 4, 6)), data, zipfile.ZIP_DEFLATED)
        z.comment = comment


def broken_library(path, member):
    """A deflated member whose stream has 400 bytes flipped in its middle, so it never extracts."""
    rnd = random.Random(7)
    text = bytes(rnd.choice(b"abcdefgh ") for _ in range(200000))
    library(path, [(member, text)], b"Broken [EN/B]")
    with zipfile.ZipFile(path) as z:
        info = z.getinfo(member)
    raw = bytearray(open(path, "rb").read())
    middle = info.header_offset + 30 + len(member) + info.compress_size // 2  # zipfile writes no extra field
    for i in range(middle, middle + 400):
        raw[i] ^= 0x5A
    open(path, "wb").write(raw)


def make_fixtures(folder):
    library(os.path.join(folder, "cat.kvo"), [("doc.html", CAT_PAGE)], b"Cats [EN/C]")
    broken_library(os.path.join(folder, "cow.kvo"), "doc.html")
    for name, section in SECTIONS.items():
        page = b"<html><body><h1>Top</h1>" + section + b"<h2>Next</h2></body></html>"
        library(os.path.join(folder, name), [("s.html", page)], b"Sections [EN/S]")
    library(os.path.join(folder, "phr.kvo"), [("p.html", PHRASE_PAGE)], b"Phrases [EN/P]")


class Srch(h.LibraryCase):
    make_fixtures = staticmethod(make_fixtures)

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.lib = os.path.join(cls.d.root, "lib")

    def library_id(self, c, name):
        """The library's hash ID as the tree listing shows it."""
        tree = c.command("MLLIST")
        m = re.search(rb'^300   DB .*"\d+\|(\d+)\|%s\|"' % re.escape(name.encode()), tree, re.M)
        self.assertIsNotNone(m, tree)
        return int(m.group(1))

    def log_count(self, text):
        return self.d.log_text().count(text)

    def test_srch_whole_reply(self):
        c = self.session()
        want = b"300-Database Filename Offset Context\n" + CAT_HIT + b"200-SRCH executed.\n"
        self.assertEqual(c.command("SRCH cat cat.kvo doc.html 0 x"), want)

    def read_idretr(self, c):
        """One IDRETR reply read by its framing: after each entry line, which ends in two blanks,
        exactly size bytes of section and one LF. The bytes read and the entries."""
        raw = c.read_line() or b""
        entries = []
        while raw.endswith(b"\n") and len(entries) < 100:
            head = b""
            while not head.endswith(b"\n") and not IDRETR_ENTRY.fullmatch(head):
                byte = c.read_bytes(1)
                if not byte:
                    return raw + head, entries
                head += byte
            raw += head
            if head.endswith(b"\n"):
                break
            m = IDRETR_ENTRY.fullmatch(head)
            section = c.read_bytes(int(m.group(1)))
            end = c.read_bytes(1)
            raw += section + end
            entries.append((m.group(2), m.group(3), section, end))
        return raw, entries

    def test_idretr_sections_are_size_framed(self):
        c = self.session()
        c.sock.sendall(b"IDRETR x sec?.kvo s.html heading\n")
        raw, entries = self.read_idretr(c)
        self.assertEqual(entries, [(name.encode(), b"s.html", section, b"\n") for name, section in SECTIONS.items()])
        want = b"300-Size Database Filename Context\n"
        for name, section in SECTIONS.items():
            want += b'300 %d "%s" "s.html"  %s\n' % (len(section), name.encode(), section)
        self.assertEqual(raw, want + b"200-IDRETR executed.\n")
        self.assertTrue(c.command("VER").startswith(b"200 Version: "))

    def test_srch_over_a_member_that_never_extracts(self):
        """cat.kvo, then cow.kvo whose member fails: one refresh order, one more walk when the parent
        answers it in time, then the 310 line and the final line."""
        c = self.session()
        orders = self.log_count("Ordering cache update in parent")
        refreshed = self.log_count("Parent updated cache successfully")
        reply = c.command("SRCH cat c*.kvo doc.html 0 x")
        orders = self.log_count("Ordering cache update in parent") - orders
        walks = 1 + self.log_count("Parent updated cache successfully") - refreshed
        self.assertEqual(orders, 1, self.d.log_text())
        want = b"300-Database Filename Offset Context\n" + CAT_HIT * walks
        want += b"310-Failed to unzip %s doc.html\n" % os.path.join(self.lib, "cow.kvo").encode()
        self.assertEqual(reply, want + b"200-SRCH executed.\n")
        self.assertTrue(c.command("VER").startswith(b"200 Version: "))

    def test_fsrch_phrase_with_blanks_or_0x11(self):
        c = self.session()
        phr = self.library_id(c, "phr.kvo")
        want = b'300 "phr.kvo" "p.html" 1444 "Then the phrase lives in this sentence..."\n200-FSRCH executed.\n'
        self.assertEqual(c.command('FSRCH "phrase lives" %d p.html 1 0 x' % phr), want)
        self.assertEqual(c.command('FSRCH "phrase\x11lives" %d p.html 1 0 x' % phr), want)


if __name__ == "__main__":
    unittest.main()

#!/usr/bin/env python3
"""make_client_libraries.py against the real daemon: what its description
claims (counts, name order, sections, records, index words, tree levels,
library types) is what the daemon answers over its libraries, so the client
tests that compute their expectations from it test the client, not it."""

import os
import re
import shutil
import tempfile
import unittest
import zlib

import daemon_harness as h
import make_client_libraries

DB_LINE = re.compile(rb'^300   DB +(\d+) "\s*([^"]+)"', re.M)
SUB_LINE = re.compile(rb"^300  SUB +(\d+) .* (\S+)$", re.M)


def start(fx, **options):
    d = h.Daemon(start=False, **options)
    if options.get("lib"):
        fx.place_annotations(d)
    d.start()
    return d


class Fixtures(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="clientfx_")
        cls.fx = make_client_libraries.make(cls.tmp)
        cls.daemons = {}

    @classmethod
    def tearDownClass(cls):
        left = []
        for d in cls.daemons.values():
            d.stop()
            left += d.leftovers()
            d.cleanup()
        shutil.rmtree(cls.tmp, ignore_errors=True)
        assert left == [], left

    def session(self, kind):
        """A session with the daemon of that kind: flat, zip (two library types) or tree."""
        if kind not in self.daemons:
            fx = self.fx
            options = {"flat": {"lib": fx.flat_dir},
                       "zip": {"lib": fx.flat_dir, "extra_config": fx.zip_config},
                       "tree": {"library_path": fx.structure}}[kind]
            self.daemons[kind] = start(fx, **options)
        c = self.daemons[kind].client()
        self.assertTrue(c.greeting().startswith(b"200 UZD "))
        return c

    def test_flat_catalogue_counts_and_order(self):
        fx = self.fx
        c = self.session("flat")
        info = c.command("INFO").decode()
        served = fx.served()
        self.assertNotIn(fx.zip_library, served)
        self.assertIn(fx.annotation, served)
        dbs, files = fx.counts(served)
        self.assertIn("300 Number of databases: %d\n" % dbs, info)
        self.assertIn("300 Total number of files: %d\n" % files, info)
        self.assertEqual(c.command("LANGLIST"), b"200 en sv  \n")
        heads = re.findall(rb"^300-Contents of Database (\S+)$", c.command("CONT " + fx.g_pattern), re.M)
        self.assertEqual(heads, [fx.short.encode(), fx.g_second.encode()])
        self.assertLess(len(fx.short), 13)
        # Each library id finds its own library alone.
        for name in served:
            lib_id = fx.libraries[name].lib_id
            if lib_id:
                listed = DB_LINE.findall(c.command('MLLIST "[%s]"' % lib_id))
                self.assertEqual([n.decode() for _, n in listed], [name], lib_id)

    def test_members_the_cases_name(self):
        fx = self.fx
        c = self.session("flat")
        library, member, element, section = fx.section
        c.sock.sendall(b"IDRETR %s %s %s heading\n" % (element.encode(), library.encode(), member.encode()))
        self.assertEqual(c.read_line(), b"300-Size Database Filename Context\n")
        head = b'300 %d "%s" "%s"  ' % (len(section), library.encode(), member.encode())
        self.assertEqual(c.read_bytes(len(head) + len(section) + 1), head + section + b"\n")
        self.assertEqual(c.reply(), b"200-IDRETR executed.\n")
        library, member, records = fx.pusrch
        want = b"".join(b'300 "%s" "%s" %s ' % (library.encode(), member.encode(), ext.encode())
                        + b"".join(b'"%s" ' % f.encode() for f in fields) + b"\n" for _, ext, fields in records)
        reply = c.command("PUSRCH %s %s" % (library, member))
        self.assertIn(want, reply)
        self.assertTrue(reply.endswith(b" 1 1 %d\n" % len(records)), reply)
        library, pdf = fx.pdf
        data = fx.libraries[library].members[pdf]
        reply = c.command("RETR %s %s" % (library, fx.fdp))
        m = re.match(rb'300-Length (\d+) "%s" "wait.html" "0"\n' % library.encode(), reply)
        self.assertIsNotNone(m, reply[:200])
        self.assertEqual(len(data), 100)
        self.assertGreater(int(m.group(1)), len(data))
        self.assertTrue(reply.endswith(b"300-CRC 0x%x\n200-RETR executed.\n" % zlib.crc32(data)))

    def test_index_words(self):
        library, docs, title_words, fulltext_words = self.fx.index
        c = self.session("flat")
        for word, hits in title_words.items():
            reply = c.command("QXSRCH %s %s title.qxx 0" % (word, library))
            self.assertEqual(re.findall(rb'^300 "%s" \d+ "([^"]+)"' % library.encode(), reply, re.M),
                             [docs[i][0].encode() for i in hits], word)
        prefix = os.path.commonprefix(list(fulltext_words))
        self.assertEqual(c.command("QXSRCHSGS %s %s fulltext.qxx 10" % (prefix, library)),
                         b'300-Database Suggestions\n300 "%s" "%s" \n200-QXSRCHSGS executed.\n'
                         % (library.encode(), ",".join(sorted(fulltext_words)).upper().encode()))

    def test_tree_levels_and_library_types(self):
        fx = self.fx
        tree = self.session("tree").command("MLLIST")
        self.assertEqual([(int(level), name.decode()) for level, name in SUB_LINE.findall(tree)],
                         [(level, name) for name, _, level, _, _ in fx.folders])
        self.assertEqual([(int(level), name.decode()) for level, name in DB_LINE.findall(tree)],
                         [(level, lib) for _, _, level, _, libs in fx.folders for lib in libs])
        c = self.session("zip")
        self.assertEqual(c.command("BLOBTYPES"), b"200 1 3  \n")
        listed = [name.decode() for _, name in DB_LINE.findall(c.command("MLLIST"))]
        self.assertEqual(listed, [n for n in fx.served(zip_config=True) if not n.endswith(".anx")])


if __name__ == "__main__":
    unittest.main()

#!/usr/bin/env python3
"""Every command of the session through uzclient_probe against the real
daemon, over the libraries make_client_libraries.py writes: codes, texts and
fields as the fixtures imply them (member names as the daemon sends them, in
lower case), payloads against zipfile and zlib."""

import filecmp
import os
import tempfile
import unittest
import zlib

import daemon_harness as h
from probe_driver import ABSENT, ProbeCase


class Commands(ProbeCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.flat = cls.d
        cls.tree = h.Daemon(library_path=cls.fx.structure)
        cls.daemons.append(cls.tree)

    def outdir(self):
        return tempfile.mkdtemp(dir=self.tmp)

    def ok(self, answer, message=None):
        self.assertFalse(answer["null"], answer)
        self.assertEqual(answer["code"], 200, answer)
        if message is not None:
            self.assertEqual(answer["message"], message)
        return answer

    def test_information_commands(self):
        fx, p = self.fx, self.probe()
        ver = self.ok(p("ver"))["records"][0]
        self.assertEqual((ver["article"], ver["revision"]), (h.ARTICLE, h.REVISION))
        self.assertTrue(self.ok(p("help", ABSENT))["message"].startswith("Supported commands: "))
        upd = self.ok(p("help", "UPDFILE"))
        self.assertEqual(len(upd["records"]), 1)
        self.assertTrue(upd["message"].startswith("UPDFILE "), upd)
        user = p("help", "USER")
        self.assertEqual(user["code"], 400, user)
        qxdt = p("qxdt", "x", fx.short, "y")
        self.assertEqual((qxdt["code"], qxdt["message"]), (400, "Unknown command <QXDT>. Try HELP."))
        self.assertEqual(qxdt["records"], [])
        info = self.ok(p("info"))["records"][0]
        self.assertEqual((info["dbCount"], info["fileCount"]), fx.counts(fx.served()))
        self.assertEqual(self.ok(p("langList"))["message"], "en sv  ")
        self.assertEqual(self.ok(p("blobTypes"))["message"].split(), ["1"])
        self.ok(p("slist"))
        self.assertEqual(self.ok(p("quit"), "See you later.")["connected"], False)

    def test_lists_and_short_names(self):
        fx, p = self.fx, self.probe()
        lib = fx.libraries[fx.short]
        listed = self.ok(p("list", fx.short))["records"]
        self.assertEqual([(r["database"], r["entries"]) for r in listed], [(fx.short, len(lib.members))])
        self.assertEqual(listed[0]["comment"], lib.comment.decode("latin-1"))
        ml = self.ok(p("mllist", fx.short))["records"]
        self.assertEqual([(r["database"], r["level"]) for r in ml], [(fx.short, 0)])
        everything = self.ok(p("mllist", ""))["records"]
        self.assertEqual([r["database"] for r in everything],
                         [n for n in fx.served() if not n.endswith(".anx")])
        for verbose in ("cont", "contv"):
            with self.subTest(verbose):
                got = self.ok(p(verbose, fx.short, ABSENT))["records"]
                self.assertEqual(sorted(r["filename"] for r in got), sorted(n.lower() for n in lib.members))
                self.assertEqual({r["database"] for r in got}, {fx.short})

    def test_contv_fields_equal_the_archive(self):
        fx, p = self.fx, self.probe()
        library = fx.binary[0]
        lib = fx.libraries[library]
        got = {r["filename"]: r for r in self.ok(p("contv", library, ABSENT))["records"]}
        self.assertEqual(sorted(got), sorted(n.lower() for n in lib.members))
        for name, info in lib.infos.items():
            with self.subTest(name):
                r = got[name.lower()]
                self.assertEqual((r["usize"], r["csize"], r["method"], r["crc"]),
                                 (info.file_size, info.compress_size, info.compress_type, info.CRC))
        # Quotes inside the quoted title, two blanks and a trailing blank come back whole.
        library, member = fx.quoted_comment
        self.assertEqual(got[member.lower()]["comment"],
                         fx.libraries[library].member_comments[member].decode("latin-1"))

    def test_tree_commands(self):
        fx, p = self.fx, self.probe(daemon=self.tree)
        tree = self.ok(p("mllist", ""))["records"]
        self.assertEqual([(r["database"], r["level"]) for r in tree if r["type"] == 1],
                         [(lib, level) for _, _, level, _, libs in fx.folders for lib in libs])
        folder = next(r for r in tree if r["type"] != 1 and r["level"] == 1)
        hash_id = folder["ID"].split("|")[1]
        below = self.ok(p("mlnlist", hash_id, ""))["records"]
        self.assertIn(fx.folders[1][4][0], [r["database"] for r in below])
        sub = self.ok(p("mlslist", fx.folders[1][0], "name"))["records"]
        self.assertIn(fx.folders[1][4][0], [r["database"] for r in sub])

    def test_search_commands(self):
        fx, p = self.fx, self.probe()
        library, docs, title_words, fulltext_words = fx.index
        for word, hits in title_words.items():
            got = self.ok(p("qxsrch", word, library, "title.qxx", 10, ABSENT, 1))["records"]
            self.assertEqual([r["filename"] for r in got if r["hit"]], [docs[i][0] for i in hits], word)
        prefix = os.path.commonprefix(list(fulltext_words))
        sgs = self.ok(p("qxsrchsgs", prefix, library, "fulltext.qxx", 10))["records"]
        self.assertEqual([(r["database"], r["suggestions"]) for r in sgs],
                         [(library, ",".join(sorted(fulltext_words)).upper())])
        library, member, records = fx.pusrch
        pu = self.ok(p("pusrch", library, member))["records"]
        self.assertEqual([(r["extension"], r["puLine"][:8]) for r in pu], [(e, f) for _, e, f in records])
        lib = fx.libraries[fx.short]
        meta = self.ok(p("msrch", lib.lib_id.split()[0].split("/")[1], ABSENT))["records"]
        self.assertEqual([r["database"] for r in meta], [fx.short])
        self.ok(p("mpsrch", "nothing", "none", "a", "z", "s", ABSENT))
        word = b"gz"
        got = self.ok(p("srch", word.decode(), fx.g_second, "*", 0, ABSENT))["records"]
        self.assertEqual({r["filename"] for r in got}, {n.lower() for n, d in
                                                      fx.libraries[fx.g_second].members.items() if word in d})

    def test_user_profiles(self):
        p = self.probe()
        self.assertTrue(p("User", 0)["error"].startswith("UNKNOWN_ERROR"))
        self.ok(p("UserP", 1, "sys", 0))
        self.ok(p("ver"))

    # ---- retrieval

    def test_retrieval_bytes_equal_the_archive(self):
        fx, p = self.fx, self.probe()
        library, member = fx.binary
        data = fx.libraries[library].members[member]
        got = self.ok(p("retrMem", library, member))
        self.assertEqual(p.data(got), data)
        self.assertEqual(got["memDataBufLen"], len(data))
        self.assertEqual(got["records"][0]["crc"], zlib.crc32(data))
        file_data = p("getFileData", library, member)
        self.assertFalse(file_data["null"], file_data)
        self.assertEqual(p.data(file_data), data)
        out = self.outdir()
        retr = self.ok(p("retr", library, member, out))["records"]
        self.assertEqual([(r["filename"], r["success"], r["crc"]) for r in retr],
                         [(member.lower(), 1, zlib.crc32(data))])
        with open(os.path.join(out, member.lower()), "rb") as f:
            self.assertEqual(f.read(), data)
        # Every member of a library in one RETR, and the short name serves.
        lib = fx.libraries[fx.short]
        got = self.ok(p("retrMem", fx.short, sorted(lib.members)[0]))
        self.assertEqual(p.data(got), lib.members[sorted(lib.members)[0]])
        out = self.outdir()
        self.ok(p("retr", fx.short, "*", out))
        for name, content in lib.members.items():
            with open(os.path.join(out, name.lower()), "rb") as f:
                self.assertEqual(f.read(), content, name)

    def test_get_copies_the_archive(self):
        fx, p = self.fx, self.probe()
        out = self.outdir()
        got = self.ok(p("get", fx.short, out))["records"]
        self.assertEqual([(r["database"], r["success"]) for r in got], [(fx.short, 1)])
        self.assertTrue(filecmp.cmp(os.path.join(out, fx.short), fx.libraries[fx.short].path, shallow=False))

    def test_idretr_heading_section(self):
        fx, p = self.fx, self.probe()
        library, member, element, section = fx.section
        got = self.ok(p("idretr", element, library, member, "heading"), "IDRETR executed.")["records"]
        self.assertEqual([(r["database"], r["filename"], r["context"].encode("latin-1")) for r in got],
                         [(library, member, section)])


if __name__ == "__main__":
    unittest.main()

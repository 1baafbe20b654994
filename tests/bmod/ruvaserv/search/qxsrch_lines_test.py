#!/usr/bin/env python3
"""The scripted reply lines of qxsrch_lines.py against ruvadaemon over the
results libraries of make_search_libraries.py: for each command the whole
reply the builder makes from the fixture (hits from the index words, sizes,
entry counts and times from os.stat and zipfile, hash ids from the daemon's
MLLIST) equals the daemon's byte for byte. The fake daemon's greeting and
VER equal the daemon's, and the relay passes replies unchanged. The lines of
the request actions (MLLIST of a tree, CONTV, RETR, IDRETR, INFO, LANGLIST)
are checked the same way over make_action_libraries.py's tree."""

import os
import re
import shutil
import tempfile
import unittest

import daemon_harness as h
import fake_daemon
import make_action_libraries as act
import make_search_libraries
import qxsrch_lines as q
import recording_relay

ROOT_DESCRIPTION = "<!--@@servname-->"


class QxsrchLines(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="qxl_")
        cls.fx = make_search_libraries.make_results(cls.tmp)
        cls.d = h.Daemon(lib=cls.fx.folder)
        # The daemon copies the folder: its files are the ones it lists.
        cls.lib = os.path.join(cls.d.root, "lib")
        cls.ids = {name: int(h.mllist_entry(cls.d.port, name)[0]) for name in cls.fx.libraries}

    @classmethod
    def tearDownClass(cls):
        cls.d.stop()
        left = cls.d.leftovers()
        cls.d.cleanup()
        shutil.rmtree(cls.tmp, ignore_errors=True)
        assert left == [], left

    def assertReply(self, got, want):
        # The first difference: difflib takes too long over hundreds of lines.
        got, want = got.splitlines(True), want.splitlines(True)
        for n, (a, b) in enumerate(zip(got, want)):
            self.assertEqual(a, b, "line %d" % n)
        self.assertEqual(len(got), len(want), (got[len(want):], want[len(got):]))

    def command(self, line):
        c = self.d.client()
        self.assertTrue(c.greeting().startswith(b"200 UZD "))
        try:
            return c.command(line).decode("latin-1")
        finally:
            c.close()

    def facts(self, name):
        return q.zip_facts(os.path.join(self.lib, name))

    def catalogue_order(self):
        """Library names in the order the daemon walks its catalogue."""
        return re.findall(r'^300 " *([^"]+)"', self.command("LIST"), re.M)

    def hits(self, index, word):
        """(library, [(member, words)]) of every library holding the index,
        in catalogue order: the members whose index words match the word
        case-blind, in the index's document order."""
        out = []
        for name in self.catalogue_order():
            words = self.fx.indexes(name).get(index)
            if words is None:
                continue
            docs = [d.name for d in self.fx.libraries[name].docs if index in d.words]
            found = []
            for doc in docs:
                matched = [w for w in words if w.upper() == word.upper() and doc in words[w]]
                if matched:
                    shown = matched[0] if index == "ctw.qxx" else matched[0].upper()
                    found.append((doc, [shown]))
            out.append((name, found))
        return out

    def comment(self, library, member):
        """A member the index names but the archive lacks has no comment."""
        doc = self.fx.libraries[library].doc(member)
        return doc.comment.decode("latin-1") if doc.member else None

    def test_list_and_mllist(self):
        order = self.catalogue_order()
        self.assertEqual(sorted(order), sorted(self.fx.libraries))
        want = q.list_reply([q.list_line(n, *self.facts(n)) for n in order])
        self.assertEqual(self.command("LIST"), want)
        for name in order:
            with self.subTest(name):
                line = q.mllist_library(name, self.ids[name], *self.facts(name))
                self.assertEqual(self.command("MLLIST %d" % self.ids[name]), q.mllist_reply([line]))
        self.assertEqual(self.command("MLLIST 40000"), q.refusal(511, "Invalid ID 40000"))

    def qxsrch(self, word, where, index, limit=500):
        return self.command('QXSRCH %s %s %s %d' % (word, where, index, limit))

    def expected(self, index, word, by_node, limit=500):
        lines = []
        for name, found in self.hits(index, word):
            if limit and len(found) > limit:
                lines.append(q.summary(ROOT_DESCRIPTION, name, self.ids[name], len(found)))
                continue
            if not found:
                if by_node:
                    lines.append(q.no_hit(ROOT_DESCRIPTION, name, self.ids[name]))
                continue
            for member, words in found:
                lines.append(q.hit(name, self.ids[name], member, words, self.comment(name, member)))
        return q.qxsrch_reply(lines)

    def test_qxsrch_by_node_and_by_name(self):
        word = self.fx.word
        for index in ("fulltext.qxx", "title.qxx", "ctw.qxx", "docno.qxx", "folder.qxx"):
            pattern = word if index != "docno.qxx" else "1551*"
            for where, by_node in (("0", True), ("*.kvo", False)):
                with self.subTest(index=index, where=where):
                    got = self.qxsrch(pattern, where, index)
                    if index == "docno.qxx":
                        # Wildcards: the fixture's words decide, not one word.
                        self.assertTrue(got.startswith(q.QXSRCH_HEADER) and got.endswith(q.final("QXSRCH")), got)
                        continue
                    self.assertReply(got, self.expected(index, word, by_node))
        # The bulk library is over the limit in the full text only.
        self.assertIn(q.summary(ROOT_DESCRIPTION, self.fx.bulk, self.ids[self.fx.bulk], self.fx.bulk_count),
                      self.qxsrch(word, "0", "fulltext.qxx"))
        # Without a limit its hits are listed.
        self.assertReply(self.qxsrch(word, "0", "fulltext.qxx", 0), self.expected("fulltext.qxx", word, True, 0))

    def test_topic_title_words_join(self):
        name = "alpha.kvo"
        member = make_search_libraries.ALPHA_CABLES
        got = self.qxsrch("*Installation*", self.ids[name], "topictitle.qxx")
        want = q.qxsrch_reply([q.hit(name, self.ids[name], member, ["INSTALLATION OF CABLES|1|X"],
                                     self.comment(name, member))])
        self.assertEqual(got, want)

    def test_srch_context(self):
        name = "alpha.kvo"
        member = make_search_libraries.ALPHA_PLAIN
        text = make_search_libraries.ALPHA_PLAIN_TEXT.decode("latin-1")
        got = self.command('SRCH installation %d "%s" 0 "text string"' % (self.ids[name], member))
        want = q.srch_reply([q.srch_line(name, member, text.index("installation"), '"installation here"')])
        self.assertEqual(got, want)

    def test_fake_daemon_greets_as_the_daemon(self):
        c = self.d.client()
        greeting = c.greeting().decode("latin-1")
        ver = c.command("VER").decode("latin-1")
        c.close()
        comment = re.match(r'200 UZD .* "(.*)"\n$', greeting).group(1)
        self.assertEqual(q.greeting(comment), greeting)
        self.assertEqual(q.version(comment), ver)
        reply = q.qxsrch_reply([q.hit("x.kvo", 7, "a.html", ["A B"], 'TITLE: "say \\"hi\\""')])
        with fake_daemon.FakeDaemon({"comment": comment, "replies": [["QXSRCH", reply]]}) as fake:
            with recording_relay.RecordingRelay(fake.port) as relay:
                c = h.Client(relay.port)
                self.assertEqual(c.greeting().decode("latin-1"), greeting)
                self.assertEqual(c.command("VER").decode("latin-1"), ver)
                self.assertEqual(c.command("QXSRCH a 0 title.qxx").decode("latin-1"), reply)
                self.assertTrue(c.command("NOSUCH").startswith(b"500 Unknown command <NOSUCH>"))
                c.close()
            self.assertEqual(fake.commands(), ["VER", "QXSRCH a 0 title.qxx", "NOSUCH"])
            self.assertEqual(relay.commands(), fake.commands())
            self.assertEqual(relay.replies("QXSRCH"), [reply.splitlines()])


class ActionLines(act.ActionLibraryCase):
    def command(self, line):
        c = self.session()
        try:
            return c.command(line).decode("latin-1")
        finally:
            c.close()

    def test_tree_listing_ids_and_versions(self):
        names = {lib for libs in act.LIBRARIES.values() for lib, _, _ in libs}
        self.assertEqual(set(self.ids), names | {label for label, _, _ in act.FOLDERS})
        self.assertEqual(self.ids["Root"], 0)
        cases = [(act.V20, 0, "20"), (act.V20_BARE, 0, "20"), (act.CAT, 0, "20"), (act.V00, 0, "00"),
                 (act.HELP, 0, "00"), ("guide.kvo", 2, "00"), (act.HOSTILE, 1, "20")]
        for name, level, version in cases:
            with self.subTest(name):
                line = q.mllist_library(name, self.ids[name], *q.zip_facts(self.path(name)), level=level,
                                        version=version)
                self.assertEqual(self.command("MLLIST %d" % self.ids[name]), q.mllist_reply([line]))
                self.assertEqual(self.command('MLLIST "%s"' % name), q.mllist_reply([line]))
        line = q.mllist_library(act.V20, self.ids[act.V20], *q.zip_facts(self.path(act.V20)), version="20")
        self.assertEqual(self.command('MLLIST "[EN/VTWO1234567R1A]"'), q.mllist_reply([line]))
        self.assertEqual(self.command('MLLIST "[EN/NONE1 R1A]"'), q.invalid_database("[EN/NONE1 R1A]"))
        self.assertEqual(self.command("MLLIST nosuch.kvo"), q.invalid_database("nosuch.kvo"))

    def test_contv(self):
        v20 = self.path(act.V20)
        self.assertEqual(self.command("CONTV %d" % self.ids[act.V20]),
                         q.contv_reply(self.ids[act.V20], q.contv_lines(v20)))
        # (library, member pattern, members it matches)
        cases = [(act.V20, "kivo2.html", ["kivo2.html"]), (act.V20_BARE, "kivo2.html", []),
                 (act.IMAGES, act.IMAGE_GIF, [act.IMAGE_GIF]), (act.IMAGES, act.IMAGE_1M, [act.IMAGE_1M]),
                 (act.LOOKUP, "*.html", act.CTW_DOCS)]
        for name, pattern, members in cases:
            with self.subTest(name=name, pattern=pattern):
                want = q.contv_reply(name, q.contv_lines(self.path(name), members))
                self.assertEqual(self.command("CONTV %s %s" % (name, pattern)), want)
        # The version member's comment keeps its first word.
        self.assertIn(' kvoversion.txt "INFO:"\n', self.command("CONTV %s kvoversion.txt" % act.V20))
        for node in (self.ids["Root"], self.ids["Guides"], self.ids[act.V20]):
            self.assertEqual(self.command("CONTV %d kvo_ml_sub_main_page" % node), q.contv_sub_main(node))
        self.assertEqual(self.command("CONTV 9999 kvo_ml_sub_main_page"), q.refusal(511, "Invalid ID 9999"))

    def test_retr(self):
        for name, member in ((act.IMAGES, act.IMAGE_GIF), (act.IMAGES, act.IMAGE_PLAIN), (act.IMAGES, act.IMAGE_16K),
                             (act.V20, "kivo2.html"), (act.V20, "kvoversion.txt")):
            with self.subTest(member):
                m, = q.zip_members(self.path(name), [member])
                self.assertEqual(m.data, act.member(member, name))
                want = q.retr_reply([q.retr_member(name, m)])
                self.assertEqual(self.command("RETR %d %s" % (self.ids[name], member)), want)
                self.assertEqual(self.command("RETR %s %s" % (name, member)), want)
        self.assertEqual(self.command("RETR %d nosuch" % self.ids[act.IMAGES]),
                         q.retr_not_found("nosuch", str(self.ids[act.IMAGES]), 1))
        got = self.command("RETR %d kvo_ml_sub_main_page" % self.ids["Guides"])
        page = got[got.index("\n") + 1:got.rindex("300-CRC")]
        self.assertIn("<html>", page)
        self.assertEqual(got, q.retr_sub_main(page))
        self.assertEqual(self.command("RETR 9999 kvo_ml_sub_main_page"), q.refusal(511, "Invalid ID 9999"))

    def test_catchword_index_names_its_documents(self):
        lib = self.ids[act.LOOKUP]
        titles = dict(zip(act.CTW_DOCS, act.CTW_TITLES))
        for word, docs in ((act.CTW_TWO, act.CTW_DOCS), (act.CTW_ONE, act.CTW_DOCS[:1]), ("Nowhere", [])):
            with self.subTest(word):
                lines = [q.hit(act.LOOKUP, lib, doc, [word], 'TITLE: "%s"' % titles[doc]) for doc in docs]
                want = q.qxsrch_reply(lines or [q.no_hit("Root", act.LOOKUP, lib)])
                self.assertEqual(self.command("QXSRCH %s %d ctw.qxx 500" % (word, lib)), want)

    def test_idretr_sections(self):
        page = act.member(act.DITA_MEMBER, act.DITA).decode("latin-1")
        cases = []
        # A topic's division with the line break after it; a section up to the body's end.
        for topic in act.DITA_TOPICS:
            start = page.index('<div class="topic" id="%s">' % topic)
            end = page.index("</div>\n</div>\n", start) + len("</div>\n</div>\n")
            cases.append((topic, "DITA", page[start:end]))
        for anchor in act.MYR_SECTIONS:
            start = page.index('<h2><a name="%s">' % anchor)
            cases.append((anchor, "MYR", page[start:page.index("</body>", start)]))
        for ident, content_set, section in cases:
            for where in (str(self.ids[act.DITA]), act.DITA):
                with self.subTest(ident=ident, where=where):
                    want = q.idretr_reply([q.idretr_entry(act.DITA, act.DITA_MEMBER, section)])
                    got = self.command("IDRETR %s %s %s %s" % (ident, where, act.DITA_MEMBER, content_set))
                    self.assertEqual(got, want)
        # A DITA id asked as MYR, and an id the page lacks: no section.
        for line in ("IDRETR topic_mount %s %s MYR", "IDRETR topic_none %s %s DITA"):
            self.assertEqual(self.command(line % (act.DITA, act.DITA_MEMBER)), q.idretr_reply([]))

    def test_info_and_langlist(self):
        libraries = [lib for libs in act.LIBRARIES.values() for lib, _, _ in libs]
        files = sum(q.zip_facts(self.path(lib))[1] for lib in libraries)
        got = self.command("INFO")
        # The daemon's own figures: start time, sessions, pools.
        pool = r".*Heaps (\d+), usedItems (\d+), itemSize (\d+)\n"
        own = re.search(r"\] (\d+)\n.*sessions: (\d+)\n.*sessions: (\d+)\n(?:.*\n){4}" + pool + pool
                        + r".*Heaps (\d+), allocSize (\d+)\n", got)
        self.assertIsNotNone(own, got)
        n = [int(v) for v in own.groups()]
        want = q.info_reply(n[0], databases=len(libraries), subsystems=len(act.FOLDERS), files=files, sessions=n[1],
                            active=n[2], zs_pool=tuple(n[3:6]), ch_pool=tuple(n[6:9]), name_heaps=n[9],
                            name_bytes=n[10])
        self.assertEqual(got, want)
        # Codes in the order the catalogue first meets them.
        order = []
        for name in re.findall(r'^300 " *([^"]+)"', self.command("LIST"), re.M):
            code = "sv" if name == act.SWEDISH else "en"
            if code not in order:
                order.append(code)
        self.assertEqual(sorted(order), ["en", "sv"])
        self.assertEqual(self.command("LANGLIST"), q.langlist_reply(order))
        self.assertEqual(q.langlist_reply(["en", "sv"]), "200 en sv  \n")


if __name__ == "__main__":
    unittest.main()

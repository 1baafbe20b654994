#!/usr/bin/env python3
"""Library comparison end to end: lighttpd, kivoserv and ruvadaemon over a
folder holding new.kvo and old.kvo (2,000 documents by gen_sdi_pair.py
--zip), a Japanese pair, a library whose comment is markup and one without a
document list. The pages' rows equal the oracle's whichever way the
libraries are named and whichever is new; in Chromium the icons load, every
link serves the member it names, nothing runs that the page did not mean.
Pages leave a screenshot in $RUVA_ARTIFACTS."""

import html
import os
import random
import re
import shutil
import subprocess
import tempfile
import unittest
import urllib.parse
import zipfile
from concurrent.futures import ThreadPoolExecutor

import daemon_harness
import gen_sdi
import gen_sdi_pair
import kivoserv_answers as ka
import report_rows
import sdi_oracle
import web_harness as wh

DOCS = 2000
SEED = 28
NEW_TITLE = "New Library [EN/LZN 901 0001 R2A]"
OLD_TITLE = "Old Library [EN/LZN 901 0001 R1A]"
HOSTILE_COMMENT = "<img src=x onerror=alert(1)>"
STATUS_TEXT = {sdi_oracle.ICON_NEW: "New document", sdi_oracle.ICON_REMOVED: "Removed document",
               sdi_oracle.ICON_CHANGED_NEW: "Changed document (new)",
               sdi_oracle.ICON_CHANGED_OLD: "Changed document (old)"}
NEW_SIDE_ICONS = (sdi_oracle.ICON_NEW, sdi_oracle.ICON_CHANGED_NEW)

# Messages as the message table holds them; outside arguments are escaped.
MESSAGE_15 = "Failed to do a Compare! %s.<br><br>"
MESSAGE_118 = ("No SDI information could be found in database %s\nat server %s.\nThe database is probably "
               "produced before support\nfor the 'Compare' function was introduced.")

# Japanese lists: one document the same, one at a new revision, one only in
# each; classes 1551 and 15431 give two sections.
JA_SAME = ("設定の概要", "1/1551-CRA 119 00001 Uja A")
JA_NEW = [JA_SAME, ("警報の処理", "1/1551-CRA 119 00002 Uja B"), ("バックアップ", "1/154 31-CRA 119 00003 Uja A")]
JA_OLD = [JA_SAME, ("警報の処理", "1/1551-CRA 119 00002 Uja A"), ("復旧手順", "1/154 31-CRA 119 00004 Uja A")]

# The rows of the page in the browser: status icon, link, title (first line
# of the first cell), identity.
PAGE_ROWS = """[...document.querySelectorAll('tr.b1, tr.b2')].map(tr => {
  const img = tr.querySelector('img'), a = tr.querySelector('a');
  return {src: img ? img.src : null, alt: img ? img.alt : null, complete: img ? img.complete : false,
          width: img ? img.naturalWidth : 0, href: a ? a.href : null,
          title: tr.cells[0].innerText.split('\\n')[0].replace(/\\u00a0/g, ' ').trim(),
          identity: tr.cells.length > 1 ? tr.cells[1].innerText.replace(/\\u00a0/g, ' ') : null};
})"""

# Text of the cell after each label of the comparison header.
HEADER_TITLES = """(() => {
  const out = {};
  for (const td of document.querySelectorAll('td.c4')) {
    const label = td.innerText.trim(), next = td.nextElementSibling;
    if (next && (label === 'Changes in new library' || label === 'compared to old library'))
      out[label] = next.innerText.replace(/\\u00a0/g, ' ').trim();
  }
  return out;
})()"""

SECTIONS = "[...document.querySelectorAll('td.c4[colspan=\"4\"] b')].map(b => b.innerText.trim())"


def euc(text):
    """Japanese text as the lists carry it: its EUC-JP bytes, each one latin-1
    character, since the list writer writes latin-1."""
    return text.encode("euc_jp").decode("latin-1")


def header(headers, name):
    return [value for key, value in headers if key.lower() == name.lower()]


def spaced(text):
    """Runs of blanks as one: the browser shows them so."""
    return re.sub(r"\s+", " ", text).strip()


def member_name(number, ftype="html"):
    """The member a number names; ftype "" gives the rows' wildcard form."""
    art, rev = sdi_oracle.art_rev(number)
    return sdi_oracle.to_filename(art, rev, ftype)


def write_small_library(path, comment, rows):
    """A library of one list part and one page per row, titled as the row;
    rows of (title, number) in the lists' own characters."""
    doc = gen_sdi.build_list(random.Random(len(rows)), [(t, None, n) for t, n in rows])
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("list_sd1.sgml", doc.markup)
        for title, number in rows:
            z.writestr(member_name(number), ("<html><head><title>%s</title></head><body><p>%s</p></body></html>\n"
                                            % (html.escape(title), number)).encode("latin-1"))
        z.comment = comment.encode("latin-1")


def entries(rows):
    """The rows that take part, first per number, as the oracle reads them."""
    seen = {}
    for i, r in enumerate(rows):
        if r.get("title") is not None and (r.get("number") or "").strip(" \t\n"):
            e = sdi_oracle.Entry(r["title"], r["number"], [], i)
            seen.setdefault(e.key_number, e)
    return list(seen.values())


def titles_by_row(rows):
    """Title of each document as the report shows it, by member name (wildcard
    form), or by its raw number when that names no member."""
    return {e.fn or e.number: e.title for e in entries(rows)}


def row_key(fn, identity):
    return fn if fn is not None else identity


def lonely(rows, others):
    """Linked documents of rows that nothing of others could pair with: no
    shared number, title, catchword or article."""
    theirs = entries(others)
    keys = {k for e in theirs for k in (e.key_number, e.key_title, e.catchword, e.art) if k is not None}
    return {e.fn for e in entries(rows)
            if e.fn and not keys & {k for k in (e.key_number, e.key_title, e.catchword, e.art) if k is not None}}


class Compare(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="rcmp_")
        lib = os.path.join(cls.tmp, "lib")
        work = os.path.join(cls.tmp, "pair")
        gen_sdi_pair.main(["--docs", str(DOCS), "--seed", str(SEED), "--order", "random", "--zip", lib,
                           "--out", work])
        cls.old_rows, cls.new_rows = sdi_oracle.read_records(os.path.join(work, "records.jsonl"))
        cls.ja_new = [(euc(t), n) for t, n in JA_NEW]
        cls.ja_old = [(euc(t), n) for t, n in JA_OLD]
        write_small_library(os.path.join(lib, "janew.kvo"), "Japanese guide [JA/DOC1 R2A]", cls.ja_new)
        write_small_library(os.path.join(lib, "jaold.kvo"), "Japanese guide [JA/DOC1 R1A]", cls.ja_old)
        write_small_library(os.path.join(lib, "hostile.kvo"), HOSTILE_COMMENT, cls.ja_new)
        with zipfile.ZipFile(os.path.join(lib, "nosdi.kvo"), "w") as z:
            z.writestr("readme.html", "<html><head><title>No list</title></head><body></body></html>\n")
            z.comment = b"No list [EN/NOSDI1 R1A]"
        cls.web = wh.WebServer(daemon=lib)
        cls.web.__enter__()
        try:
            # Each library's hash id as MLLIST gives it, asked on the port kivoserv is given.
            cls.ids = {name: daemon_harness.mllist_entry(cls.daemon_port(), name)[0]
                       for name in ("new.kvo", "old.kvo", "janew.kvo", "jaold.kvo", "hostile.kvo", "nosdi.kvo")}
            # The browser asks for it with every page; a 404 would read as the page's error.
            status, _, icon = cls.web.request("GET", "AC=TBIMG&IM=21")
            assert status == 200, status
            with open(cls.web.path("www", "favicon.ico"), "wb") as f:
                f.write(icon)
            cls.browser = wh.Browser()
        except BaseException:
            cls.web.__exit__(None, None, None)
            shutil.rmtree(cls.tmp, ignore_errors=True)
            raise

    @classmethod
    def tearDownClass(cls):
        try:
            wh.close_all(cls.web, cls.browser)
        finally:
            shutil.rmtree(cls.tmp, ignore_errors=True)

    def tearDown(self):
        # No sanitizer report, no CGI complaint.
        self.web.check_logs()

    @classmethod
    def daemon_port(cls):
        with open(cls.web.path("conf", "kivo.conf")) as f:
            found = re.findall(r"^RuvaDaemon 127\.0\.0\.1:(\d+)$", f.read(), re.M)
        assert len(found) == 1, found
        return int(found[0])

    # -- helpers ------------------------------------------------------------
    def compare_query(self, new, old, form="ID"):
        if form == "ID":
            return "AC=COMPEXE&ID=%s&IC=%s" % (self.ids[new], self.ids[old])
        return "AC=COMPEXE&DB=%s&DC=%s" % (urllib.parse.quote(new), urllib.parse.quote(old))

    def fetch_page(self, query):
        """(headers, body) of a comparison page that must have come out whole."""
        status, headers, body = self.web.request("GET", query)
        self.assertEqual(status, 200, query)
        self.assertFalse(b"<!--@error-->" in body, ka.error_message(body))
        return headers, body

    def read_rows(self, body):
        path = os.path.join(self.tmp, "page.html")
        with open(path, "wb") as f:
            f.write(body)
        return report_rows.read_page(path)

    def expected(self, old_rows, new_rows, old_lib, new_lib):
        return sdi_oracle.compare(old_rows, new_rows, old_lib=old_lib, new_lib=new_lib)

    def assert_rows(self, got, want):
        self.assertEqual(report_rows.differences(got, want, most=10), [])

    def open_page(self, query):
        """Opens the page alone (outside the frame set) in Chromium: its rows, with no error raised."""
        errors = self.browser.open(self.web.url(query))
        rows = self.browser.eval(PAGE_ROWS)
        self.assertEqual(self.browser.errors, [])
        self.assertEqual(errors, [])
        return rows

    def assert_icons(self, rows):
        for row in rows:
            im = int(urllib.parse.parse_qs(urllib.parse.urlsplit(row["src"]).query)["IM"][0])
            self.assertTrue(row["complete"] and row["width"] > 0, row)
            self.assertEqual(row["alt"], STATUS_TEXT[im], row)

    def served_title(self, href):
        """The <title> of the member a row's link names, fetched by AC=LINK with its library and FN
        (a pattern in FN through the redirect it gives)."""
        fields = urllib.parse.parse_qs(urllib.parse.urlsplit(href).query)
        key = "ID" if "ID" in fields else "DB"
        query = "AC=LINK&%s=%s&FN=%s" % (key, urllib.parse.quote(fields[key][0]), urllib.parse.quote(fields["FN"][0]))
        status, headers, body = self.web.request("GET", query)
        # A name pattern redirects to the member it matches; follow that once.
        location = [value for name, value in headers if name.lower() == "location"]
        if status == 302 and len(location) == 1:
            status, _, body = self.web.request("GET", urllib.parse.urlsplit(location[0]).query)
        found = re.search(rb"<title>(.*?)</title>", body, re.S | re.I)
        return status, html.unescape(found.group(1).decode("latin-1")) if found else body[:300]

    # -- outcome 8 ------------------------------------------------------------
    def test_response_headers(self):
        headers, body = self.fetch_page(self.compare_query("new.kvo", "old.kvo"))
        self.assertEqual(header(headers, "content-type"), ["text/html"])
        self.assertEqual(header(headers, "CONTENT-DISPOSITION"), ["inline; filename=compare.html"])
        self.assertEqual(header(headers, "last-modified"), [])
        self.assertNotIn(b"qzl:/", body)

    def test_rows_equal_the_oracle_in_both_forms(self):
        for form in ("ID", "DB"):
            with self.subTest(form=form):
                _, body = self.fetch_page(self.compare_query("new.kvo", "old.kvo", form))
                self.assertNotIn(b"qzl:/", body)
                libs = (self.ids["old.kvo"], self.ids["new.kvo"]) if form == "ID" else ("old.kvo", "new.kvo")
                want = self.expected(self.old_rows, self.new_rows, *libs)
                self.assertFalse(want["no_differences"])
                self.assert_rows(self.read_rows(body), want)

    def test_page_in_the_browser(self):
        query = self.compare_query("new.kvo", "old.kvo")
        _, body = self.fetch_page(query)
        rows = self.open_page(query)
        self.browser.screenshot(self.id())
        want = self.expected(self.old_rows, self.new_rows, self.ids["old.kvo"], self.ids["new.kvo"])["rows"]
        self.assertEqual(len(rows), len(want))
        self.assert_icons(rows)

        # Each link names the row's library and member and leads back to this front end.
        titles = {True: titles_by_row(self.new_rows), False: titles_by_row(self.old_rows)}
        base = self.web.url("")
        for row, (_, icon, lib, fn, identity) in zip(rows, want):
            self.assertEqual(row["identity"], identity)
            self.assertEqual(row["title"], spaced(titles[icon in NEW_SIDE_ICONS][row_key(fn, identity)]), row)
            if fn is None:
                # A number that names no member is shown without a link.
                self.assertIsNone(row["href"], row)
                continue
            self.assertTrue(row["href"].startswith(base + "?"), row)
            fields = urllib.parse.parse_qs(urllib.parse.urlsplit(row["href"]).query)
            self.assertEqual((fields["ID"], fields["FN"]), ([lib], [fn]), row)

        # AC=LINK with a row's library and member serves a page titled as the row.
        linked = [r for r in rows if r["href"] is not None]
        self.assertTrue(linked)
        with ThreadPoolExecutor(4) as pool:
            served = list(pool.map(lambda r: self.served_title(r["href"]), linked))
        for row, (status, title) in zip(linked, served):
            self.assertEqual(status, 200, row)
            self.assertEqual(spaced(title), row["title"], row)

        # The page is HTML with one flaw kept: markup after the closing table.
        page = os.path.join(self.tmp, "lint.html")
        with open(page, "wb") as f:
            f.write(body)
        lint = subprocess.run(["xmllint", "--html", "--noout", page], capture_output=True, text=True,
                              errors="replace", timeout=120)
        reports = [line for line in lint.stderr.splitlines() if line.startswith(page + ":")]
        self.assertEqual(len(reports), 1, lint.stderr[:3000])
        self.assertTrue(reports[0].endswith("Unexpected end tag : table"), reports)

    def test_japanese_lists_give_euc_jp_titles(self):
        query = self.compare_query("janew.kvo", "jaold.kvo")
        _, body = self.fetch_page(query)
        want = self.expected([{"title": t, "number": n} for t, n in self.ja_old],
                             [{"title": t, "number": n} for t, n in self.ja_new],
                             self.ids["jaold.kvo"], self.ids["janew.kvo"])
        self.assert_rows(self.read_rows(body), want)
        rows = self.open_page(query)
        self.assertEqual(self.browser.eval("document.characterSet"), "EUC-JP")
        self.assert_icons(rows)
        titles = {member_name(n, ""): t for t, n in JA_NEW + JA_OLD}
        self.assertEqual([r["title"] for r in rows], [titles[fn] for _, _, _, fn, _ in want["rows"]])
        self.assertEqual(self.browser.eval(SECTIONS), want["headers"])
        self.assertEqual(len(want["headers"]), 2)
        self.browser.screenshot(self.id())

    def test_markup_in_a_library_comment_stays_text(self):
        query = self.compare_query("hostile.kvo", "jaold.kvo")
        self.fetch_page(query)
        self.open_page(query)
        self.assertEqual(self.browser.eval(HEADER_TITLES),
                         {"Changes in new library": HOSTILE_COMMENT,
                          "compared to old library": "Japanese guide [JA/DOC1 R1A]"})
        self.assertEqual(self.browser.eval("document.querySelectorAll('img[onerror], img[src$=\"/x\"]').length"), 0)
        self.browser.screenshot(self.id())

    def test_library_without_a_document_list(self):
        lib = self.ids["nosdi.kvo"]
        status, _, body = self.web.request("GET", "AC=COMPEXE&ID=%s&IC=%s" % (lib, self.ids["old.kvo"]))
        self.assertEqual(status, 200)
        shown = ka.error_message(body)
        self.assertIsNotNone(shown, body[:2000])
        # Message 15 around 118, each with its grey tag; the server's address is the daemon's.
        want = MESSAGE_15 % (MESSAGE_118 % (lib, "@SERVER@") + ka.TAG_SPAN % "kvosrvcompare/10") \
            + ka.TAG_SPAN % "kivohandler/7"
        found = re.fullmatch(re.escape(want).replace("@SERVER@", "(.+?)") + r"\n?", shown)
        self.assertIsNotNone(found, shown)
        self.assertTrue(found.group(1).endswith(":%d" % self.daemon_port()), found.group(1))

    # -- outcome 7 ------------------------------------------------------------
    def test_which_library_is_new(self):
        new_id, old_id = self.ids["new.kvo"], self.ids["old.kvo"]
        linked = {}
        for new, old, rows_new, rows_old in (("new.kvo", "old.kvo", self.new_rows, self.old_rows),
                                              ("old.kvo", "new.kvo", self.old_rows, self.new_rows)):
            query = self.compare_query(new, old)
            _, body = self.fetch_page(query)
            got = self.read_rows(body)
            self.assert_rows(got, self.expected(rows_old, rows_new, self.ids[old], self.ids[new]))
            rows = self.open_page(query)
            self.assertEqual(self.browser.eval(HEADER_TITLES),
                             {"Changes in new library": NEW_TITLE if new == "new.kvo" else OLD_TITLE,
                              "compared to old library": OLD_TITLE if new == "new.kvo" else NEW_TITLE})
            new_titles = titles_by_row(rows_new)
            for row, (_, icon, lib, fn, identity) in zip(rows, got["rows"]):
                # New rows and the new half of a pair link the new library, with its title.
                self.assertEqual(row["alt"], STATUS_TEXT[icon])
                if fn is not None:
                    self.assertEqual(lib, self.ids[new] if icon in NEW_SIDE_ICONS else self.ids[old], row)
                if icon in NEW_SIDE_ICONS:
                    self.assertEqual(row["title"], spaced(new_titles[row_key(fn, identity)]), row)
            linked[new] = {(fn, lib, icon) for _, icon, lib, fn, _ in got["rows"]}
        # Documents that nothing on the other side could pair with: only in new.kvo they are new,
        # linked with its id; swapped, the same documents are removed, still linked with new.kvo's id.
        only_new = lonely(self.new_rows, self.old_rows)
        only_old = lonely(self.old_rows, self.new_rows)
        self.assertTrue(only_new and only_old)
        for fn in only_new:
            self.assertIn((fn, new_id, sdi_oracle.ICON_NEW), linked["new.kvo"])
            self.assertIn((fn, new_id, sdi_oracle.ICON_REMOVED), linked["old.kvo"])
        for fn in only_old:
            self.assertIn((fn, old_id, sdi_oracle.ICON_REMOVED), linked["new.kvo"])
            self.assertIn((fn, old_id, sdi_oracle.ICON_NEW), linked["old.kvo"])


if __name__ == "__main__":
    unittest.main()

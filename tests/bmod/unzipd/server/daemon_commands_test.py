#!/usr/bin/env python3
"""Listing, retrieval, dispatch, reading and the library check, end to end, against zipfile and zlib."""

import os
import shutil
import subprocess
import tempfile
import time
import unittest
import zipfile
import zlib

import daemon_harness as h

# name, data, method, member comment (None: absent)
MEMBERS = [
    ("a.html", b"<title>A</title>hello " * 20, zipfile.ZIP_DEFLATED, None),
    ("b.html", b"stored data", zipfile.ZIP_STORED, b"abc12"),
    ("c.html", b"", zipfile.ZIP_DEFLATED, b"a b"),
    ("d.html", b"x" * 3000, zipfile.ZIP_DEFLATED, b'q"t'),
    ("e.html", b"e", zipfile.ZIP_DEFLATED, b"ends\\"),
    ("f.html", b"f" * 10, zipfile.ZIP_STORED, b"l1\nl2"),
]
LIB_COMMENT = b'Lib "one" [EN/DOCLIB9 R1A]'
UPDATING = b'577 Library "lib.kvo" is being updated. Please perform this operation after some time.\n'
REMOVED = b'578 Library "lib.kvo" has been removed.\n'


def quoted(text):
    """The reply's quoting rule: bare when alphanumeric, else quoted with \\" inside;
    control characters as blanks; a blank after a trailing backslash."""
    if text is None:
        return b""
    text = bytes(b if b >= 32 else 32 for b in text)
    if text and text.isalnum():
        return b" " + text
    if text.endswith(b"\\"):
        text += b" "
    return b' "' + text.replace(b'"', b'\\"') + b'"'


def tokens(line):
    """The fields of a reply line as a client reads them: white space separates; a field
    opening with a quote runs to the same quote, a backslash before that quote dropped."""
    out, i, n = [], 0, len(line)
    while True:
        while i < n and chr(line[i]).isspace():
            i += 1
        if i >= n:
            return out
        if line[i] in b"\"'":
            quote, field = line[i], bytearray()
            i += 1
            while i < n and line[i] != quote:
                if line[i] == ord("\\") and i + 1 < n and line[i + 1] == quote:
                    i += 1
                field.append(line[i])
                i += 1
            out.append(bytes(field))
            i += 1
        else:
            start = i
            while i < n and not chr(line[i]).isspace():
                i += 1
            out.append(line[start:i])


def as_read(comment):
    """A comment as the reader gets it back: control characters as blanks, a blank
    after a trailing backslash."""
    text = bytes(b if b >= 32 else 32 for b in comment)
    return text + b" " if text.endswith(b"\\") else text


def ratio(size, csize):
    return 0 if size == 0 or csize == 0 else 100 - csize * 100 // size


def make_library(folder):
    path = os.path.join(folder, "lib.kvo")
    with zipfile.ZipFile(path, "w") as z:
        for name, data, method, comment in MEMBERS:
            zi = zipfile.ZipInfo(name, (2020, 1, 1, 0, 0, 0))
            zi.compress_type = method
            if comment is not None:
                zi.comment = comment
            z.writestr(zi, data)
        z.comment = LIB_COMMENT
    # The same kind of library written by Info-ZIP zip, archive comment from stdin.
    src = os.path.join(folder, "src")
    os.makedirs(src)
    for name, data, _, _ in MEMBERS:
        with open(os.path.join(src, name), "wb") as f:
            f.write(data)
    subprocess.run(["zip", "-q", "-z", os.path.join(folder, "zipped.kvo")] + [m[0] for m in MEMBERS], cwd=src,
                   input=b"Zipped [EN/Z1]\n", check=True)
    shutil.rmtree(src)
    return path


class LibraryCase(h.LibraryCase):
    make_fixtures = staticmethod(make_library)


class Commands(LibraryCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.lib = os.path.join(cls.d.root, "lib", "lib.kvo")

    def test_list_cont_contv_against_zipfile(self):
        c = self.session()
        with zipfile.ZipFile(self.lib) as z:
            infos = z.infolist()
        entries = b""
        for path in (self.lib, os.path.join(os.path.dirname(self.lib), "zipped.kvo")):
            st = os.stat(path)
            with zipfile.ZipFile(path) as z:
                entries += (b'300 "%13s" %8d %5d %10d' % (os.path.basename(path).encode(), st.st_size,
                                                          len(z.infolist()), int(st.st_mtime))
                            + quoted(z.comment) + b"\n")
        self.assertEqual(c.command("LIST"),
                         b'300-Database     Size    Entries CTime "Comment"\n' + entries + b"200-LIST executed.\n")
        cont = b"".join(b"300 %s%s\n" % (i.filename.encode(), quoted(i.comment or None)) for i in infos)
        self.assertEqual(c.command("CONT lib.kvo"),
                         b"300-Contents of Database lib.kvo\n" + cont + b"200-CONT executed.\n")
        method = {zipfile.ZIP_STORED: b"Stored", zipfile.ZIP_DEFLATED: b"Deflated"}
        contv = b"".join(b"300 %8d %12s %8d %2d%% %08x %s%s\n"
                         % (i.file_size, method[i.compress_type], i.compress_size, ratio(i.file_size, i.compress_size),
                            i.CRC, i.filename.encode(), quoted(i.comment or None)) for i in infos)
        self.assertEqual(c.command("CONTV lib.kvo"),
                         b"300-  Length       Method     Size Ratio CRC-32 lib.kvo\n" + contv + b"200-CONTV executed.\n")

    def test_lines_read_back_into_their_fields(self):
        c = self.session()
        st = os.stat(self.lib)
        with zipfile.ZipFile(self.lib) as z:
            infos = z.infolist()
            comment = z.comment
        entry = [l for l in c.command("LIST").split(b"\n") if l.startswith(b"300 ")]
        self.assertEqual(tokens(entry[0]), [b"300", b"%13s" % b"lib.kvo", b"%d" % st.st_size, b"%d" % len(infos),
                                            b"%d" % int(st.st_mtime), as_read(comment)])
        method = {zipfile.ZIP_STORED: b"Stored", zipfile.ZIP_DEFLATED: b"Deflated"}
        for kind in ("CONT", "CONTV"):
            lines = [l for l in c.command(kind + " lib.kvo").split(b"\n") if l.startswith(b"300 ")]
            self.assertEqual(len(lines), len(infos))
            for line, i in zip(lines, infos):
                want = [b"300"]
                if kind == "CONTV":
                    want += [b"%d" % i.file_size, method[i.compress_type], b"%d" % i.compress_size,
                             b"%d%%" % ratio(i.file_size, i.compress_size), b"%08x" % i.CRC]
                want += [i.filename.encode()] + ([as_read(i.comment)] if i.comment else [])
                self.assertEqual(tokens(line), want, line)

    def test_info_zip_library_against_zipfile_and_unzip(self):
        c = self.session()
        lib = os.path.join(os.path.dirname(self.lib), "zipped.kvo")
        with zipfile.ZipFile(lib) as z:
            infos = z.infolist()
        method = {zipfile.ZIP_STORED: b"Stored", zipfile.ZIP_DEFLATED: b"Deflated"}
        lines = [l for l in c.command("CONTV zipped.kvo").split(b"\n") if l.startswith(b"300 ")]
        self.assertEqual([tokens(l) for l in lines],
                         [[b"300", b"%d" % i.file_size, method[i.compress_type], b"%d" % i.compress_size,
                           b"%d%%" % ratio(i.file_size, i.compress_size), b"%08x" % i.CRC, i.filename.encode()]
                          for i in infos])
        for i in infos:
            data = subprocess.run(["unzip", "-p", lib, i.filename], capture_output=True, check=True).stdout
            self.assertEqual(c.command("RETR zipped.kvo " + i.filename),
                             b'300-Length %d "zipped.kvo" "%s" "0"\n' % (len(data), i.filename.encode()) + data
                             + b"300-CRC 0x%x\n200-RETR executed.\n" % zlib.crc32(data))

    def test_retr_every_member_equals_unzip(self):
        c = self.session()
        for name, data, _, _ in MEMBERS:
            want = subprocess.run(["unzip", "-p", self.lib, name], capture_output=True, check=True).stdout
            self.assertEqual(want, data)
            self.assertEqual(c.command("RETR lib.kvo " + name),
                             b'300-Length %d "lib.kvo" "%s" "0"\n' % (len(data), name.encode()) + data
                             + b"300-CRC 0x%x\n200-RETR executed.\n" % zlib.crc32(data), name)
        self.assertEqual(c.command("RETR lib.kvo x.html"),
                         b'400-File "x.html" not found in database "lib.kvo", 1 database(s) checked\n')
        # A pattern sends its members in central-directory order.
        reply = c.command("RETR lib.kvo *.html")
        order = [l.split(b'"')[3].decode() for l in reply.split(b"\n") if l.startswith(b"300-Length ")]
        self.assertEqual(order, [m[0] for m in MEMBERS])

    def test_get_sends_the_file(self):
        c = self.session()
        with open(self.lib, "rb") as f:
            raw = f.read()
        c.sock.sendall(b"GET lib.kvo\n")
        self.assertEqual(c.read_line(), b'300-Length %d "lib.kvo"\n' % len(raw))
        self.assertEqual(c.read_bytes(len(raw)), raw)
        self.assertTrue(c.read_line().startswith(b"200"))
        self.assertEqual(c.command("VER")[:12], b"200 Version:")

    def test_dispatch(self):
        c = self.session()
        for line, first in [("ver", b"200 Version: "), ("Ver", b"200 Version: "), ("list", b"300-Database "),
                            ("Cont lib.kvo", b"300-Contents of Database lib.kvo\n"),
                            ("BLOB", b"400 Unknown command <BLOB>. Try HELP.\n"),
                            ("", b"400 Missing command. Try HELP\n"),
                            ("HELP USER", b"400 No such command <USER>\n"),
                            ("HELP UPDFILE", b"200 UPDFILE dbpat/ID filename filelength \\n data 200-UPDFILE END  "
                                             b"-- Add/update a file in a zip database\n")]:
            self.assertTrue(c.command(line).startswith(first), line)
        # FLABEL writes nothing: the next command gets its own answer.
        c.sock.sendall(b"FLABEL\n")
        self.assertTrue(c.command("VER").startswith(b"200 Version: "))

    def test_reading_ends_and_split_sends(self):
        for end in (b"\n", b"\r", b"\r\n"):
            c = self.session()
            for _ in range(2):
                c.sock.sendall(b"VER" + end)
                self.assertTrue(c.reply().startswith(b"200 Version: "), end)
            c.close()
        c = self.session()
        for b in b"CONT lib.kvo\r\n":
            c.sock.sendall(bytes([b]))
            time.sleep(0.002)
        self.assertTrue(c.reply().startswith(b"300-Contents of Database lib.kvo\n"))
        self.assertTrue(c.command("VER").startswith(b"200 Version: "))
        # The longest line still read, and one byte more without a line end.
        c.sock.sendall(b"VER" + b" " * 131140 + b"\n")
        self.assertTrue(c.reply().startswith(b"200 Version: "))
        c.sock.sendall(b"VER" + b" " * 131141)
        self.assertEqual(c.reply(), b"400 Missing command. Try HELP\n")
        self.assertTrue(c.at_eof())

    def test_commands_in_one_write(self):
        """Each command of one write gets its whole reply, in order, as when sent alone."""
        alone = self.session()
        # (one write, its commands in order, the session ends after them)
        for write, commands, ends in [
                (b"VER\nLIST\n", ["VER", "LIST"], False),
                (b"VER\nQUIT\n", ["VER", "QUIT"], True),
                (b"RETR lib.kvo *\nVER\n", ["RETR lib.kvo *", "VER"], False),
                (b"CONT lib.kvo\r\nLIST\r\n", ["CONT lib.kvo", "LIST"], False),
                (b"VER\nGET abc\nVER\n", ["VER"], True)]:
            want = [b"200-See you later.\n" if cmd == "QUIT" else alone.command(cmd) for cmd in commands]
            c = self.session()
            started = time.time()
            c.sock.sendall(write)
            got = [b"".join(c.read_reply()) for _ in commands[:-1]] + [c.reply(commands[-1])]
            self.assertEqual(got, want, write)
            if ends:
                self.assertTrue(c.at_eof(), write)
                self.assertLess(time.time() - started, 1, write)
            else:
                self.assertTrue(c.command("VER").startswith(b"200 Version: "), write)
            c.close()

    def test_get_filter(self):
        c = self.session()
        c.sock.sendall(b"GET abc\n")
        self.assertTrue(c.at_eof())
        for line in ("GET 12", "GET x.kvo", "GET *", "GET"):
            c = self.session()
            reply = c.command(line)
            self.assertTrue(reply and reply[0:1] in b"2345", (line, reply[:80]))


# Copies of lib.kvo under names that would forge or split reply and log lines:
# (name, as the log shows it).
HOSTILE = [
    (b"new\n200-LIST executed.\nx.kvo", b"new?200-LIST executed.?x.kvo"),
    (b"cr\r.kvo", b"cr?.kvo"),
    (b"tab\t.kvo", b"tab?.kvo"),
    (b'q"t.kvo', b'q"t.kvo'),
    (b"bar|1|x|.kvo", b"bar|1|x|.kvo"),
]


def make_hostile(folder):
    path = make_library(folder)
    for name, _ in HOSTILE:
        shutil.copy(path, os.path.join(os.fsencode(folder), name))


class HostileNames(h.LibraryCase):
    make_fixtures = staticmethod(make_hostile)

    def test_not_catalogued_and_replies_stay_whole(self):
        c = self.session()
        good = [b"lib.kvo", b"zipped.kvo"]
        listed = [tokens(l)[1].strip() for l in c.command("LIST").split(b"\n") if l.startswith(b"300 ")]
        self.assertEqual(sorted(listed), good)
        # MLLIST's third field is "version|hash id|file name|".
        fields = [tokens(l)[4] for l in c.command("MLLIST").split(b"\n") if l.startswith(b"300   DB ")]
        self.assertEqual(sorted(f.split(b"|")[2] for f in fields), good)
        self.assertEqual([f.count(b"|") for f in fields], [3, 3])
        cont = c.command("CONT *")
        self.assertEqual(sorted(l[len(b"300-Contents of Database "):] for l in cont.split(b"\n")
                                if l.startswith(b"300-Contents")), good)
        self.assertTrue(cont.endswith(b"\n200-CONT executed.\n"))
        self.assertEqual(c.command("RETR lib.kvo b.html"),
                         b'300-Length 11 "lib.kvo" "b.html" "0"\nstored data300-CRC 0x%x\n200-RETR executed.\n'
                         % zlib.crc32(b"stored data"))
        log = self.d.log_text().encode("latin-1")
        # One line per path in the start-up scan (the watcher's scans tell it again).
        start = log[log.index(b"Starting filesystem scan"):log.index(b"Filesystem scan finished")]
        for _, shown in HOSTILE:
            path = os.path.join(os.fsencode(self.d.root), b"lib", shown)
            self.assertEqual(start.count(b"Path skipped, it holds a control character, '\"' or '|': %s\n" % path), 1,
                             shown)
        self.assertEqual([l for l in log.split(b"\n")[:-1] if not l.startswith(b"[")], [])


class LibraryCheck(unittest.TestCase):
    """A library changed or removed after the scan is never read with the catalogue's offsets."""

    def test_touched_then_removed(self):
        fixtures = tempfile.mkdtemp(prefix="rdchk_")
        make_library(fixtures)
        d = h.Daemon(lib=fixtures)
        try:
            lib = os.path.join(d.root, "lib", "lib.kvo")
            c = d.client()
            c.greeting()
            commands = ["CONT lib.kvo", "CONTV lib.kvo", "GET lib.kvo", "RETR lib.kvo a.html"]
            st = os.stat(lib)
            os.utime(lib, (st.st_atime, st.st_mtime + 10))
            for cmd in commands:
                self.assertEqual(c.command(cmd), UPDATING, cmd)
            os.unlink(lib)
            for cmd in commands:
                self.assertEqual(c.command(cmd), REMOVED, cmd)
        finally:
            d.stop()
            left = d.leftovers()
            d.cleanup()
            shutil.rmtree(fixtures, ignore_errors=True)
        self.assertEqual(left, [])


if __name__ == "__main__":
    unittest.main()

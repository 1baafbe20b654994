#!/usr/bin/env python3
"""UPDFILE and RMFILE end to end: uploads, removal, and hostile uploads that must change nothing."""

import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time
import unittest
import uuid
import zipfile

import daemon_harness as h

from daemon_commands_test import make_library

WALKER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "zip", "zip_walk.py")
END = b"200-UPDFILE END\n"
MEMBER = "1551-ABC10101Uen.A.3"


def settled(folder, timeout=5):
    """The private upload folder goes after the answer: wait for it, bounded."""
    deadline = time.time() + timeout
    while time.time() < deadline and any(n.startswith("._upd.") for n in os.listdir(folder)):
        time.sleep(0.02)
    return folder


def snapshot(folder):
    """Names and bytes of a folder's files, and its sub-folders."""
    out = {}
    for name in sorted(os.listdir(folder)):
        p = os.path.join(folder, name)
        if os.path.isdir(p):
            out[name] = "dir"
        else:
            with open(p, "rb") as f:
                out[name] = f.read()
    return out


class Updates(unittest.TestCase):
    def setUp(self):
        self.fixtures = tempfile.mkdtemp(prefix="rdupd_")
        make_library(self.fixtures)
        self.d = h.Daemon(lib=self.fixtures)
        self.annot = os.path.join(self.d.root, "annot")
        self.anx = os.path.join(self.annot, "annot.anx")

    def tearDown(self):
        self.d.stop()
        left = self.d.leftovers()
        self.d.cleanup()
        shutil.rmtree(self.fixtures, ignore_errors=True)
        self.assertEqual(left, [])

    def session(self):
        c = self.d.client()
        self.assertTrue(c.greeting().startswith(b"200 UZD "))
        return c

    def upload(self, c, member, data, library="annot.anx"):
        c.sock.sendall(b"UPDFILE %s %s %d\n" % (library.encode(), member.encode(), len(data)) + data + END)
        return c.reply()

    def test_upload_list_replace_and_remove(self):
        earlier = self.session()
        c = self.session()
        data = b"note\x00one\r\n" * 50
        self.assertEqual(self.upload(c, MEMBER, data), b"200-UPDFILE executed.\n")
        self.assertEqual(os.stat(self.anx).st_mode & 0o777, 0o666)
        subprocess.run(["unzip", "-tq", self.anx], check=True, stdout=subprocess.DEVNULL)
        subprocess.run(["python3", WALKER, self.anx, MEMBER], check=True)
        self.assertEqual(subprocess.run(["unzip", "-p", self.anx, MEMBER], capture_output=True).stdout, data)
        # Within the same second the second save still wins.
        self.assertEqual(self.upload(c, MEMBER, b"second"), b"200-UPDFILE executed.\n")
        self.assertEqual(subprocess.run(["unzip", "-p", self.anx, MEMBER], capture_output=True).stdout, b"second")
        before = snapshot(settled(self.annot))
        self.assertEqual(c.command("RMFILE annot.anx -h"),
                         b"500-Zip Error in RMFILE, Nothing to do! (%s)\n" % self.anx.encode())
        self.assertEqual(snapshot(self.annot), before)
        self.assertEqual(c.command("RMFILE annot.anx " + MEMBER), b"200-RMFILE executed.\n")
        listed = subprocess.run(["unzip", "-Z1", self.anx], capture_output=True).stdout
        self.assertNotIn(MEMBER.encode(), listed)

    # The second upload's refresh order reaches the parent while it still
    # restarts its scanner after the first; it must not be lost.
    def test_listing_catches_up_after_two_quick_uploads(self):
        earlier = self.session()
        c = self.session()
        self.assertEqual(self.upload(c, MEMBER, b"note\x00one\r\n" * 50), b"200-UPDFILE executed.\n")
        self.assertEqual(self.upload(c, MEMBER, b"second"), b"200-UPDFILE executed.\n")
        # The refresh the upload orders comes shortly; until then the check answers 577.
        # The bound is generous for a loaded machine, far below the watcher's own pass.
        want = b"300-Contents of Database annot.anx\n300 %s\n200-CONT executed.\n" % MEMBER.lower().encode()
        deadline = time.time() + 15
        got = earlier.command("CONT annot.anx")
        while time.time() < deadline and got != want:
            self.assertTrue(got.startswith(b"577 "), got)
            time.sleep(0.1)
            got = earlier.command("CONT annot.anx")
        self.assertEqual(got, want)

    def test_hostile_uploads_change_nothing(self):
        c = self.session()
        self.assertEqual(self.upload(c, MEMBER, b"seed"), b"200-UPDFILE executed.\n")
        lib_dir = os.path.join(self.d.root, "lib")
        escape = "/tmp/rdesc_" + uuid.uuid4().hex
        before = (snapshot(settled(self.annot)), snapshot(settled(lib_dir)), sorted(os.listdir(self.d.root)))
        data = b"VER\n"
        # (library, member, length text, expected line, session ends)
        refused_member = b"500-Could not open temporary file\n"
        refused_library = b"500-ZIP file update not allowed by server\n"
        cases = [("annot.anx", m, None, refused_member, False)
                 for m in ("../x", escape, "a/b", ".", "..", "'a b'", "'\"q\"'", "*")]
        cases += [(lib, "m.1", None, refused_library, False) for lib in ("../lib/x.kvo", "x", "q*.anx")]
        cases += [("annot.anx", "m.1", n, b"500-File contained no data 'm.1'\n", True)
                  for n in ("0", "-5", "abc", "99999999999999999999", "2147483648")]
        for lib, member, length, want, ends in cases:
            c = self.session()
            if length is None:
                c.sock.sendall(b"UPDFILE %s %s %d\n" % (lib.encode(), member.encode(), len(data)) + data + END)
            else:
                c.sock.sendall(b"UPDFILE %s %s %s\n" % (lib.encode(), member.encode(), length.encode()) + data)
            self.assertEqual(c.reply(), want, (lib, member, length))
            if ends:
                self.assertTrue(c.at_eof(), (lib, member, length))
            else:
                self.assertTrue(c.command("VER").startswith(b"200 Version: "), (lib, member))
            c.close()
        # A wrong end line ends the session.
        c = self.session()
        c.sock.sendall(b"UPDFILE annot.anx %s %d\n" % (MEMBER.encode(), len(data)) + data + b"200-UPDFILE ENDX")
        self.assertEqual(c.reply(), b"500-System error, failed to terminate UPDFILE\n")
        self.assertTrue(c.at_eof())
        after = (snapshot(settled(self.annot)), snapshot(settled(lib_dir)), sorted(os.listdir(self.d.root)))
        self.assertEqual(after, before)
        self.assertFalse(os.path.exists(escape))

    def test_update_lock_held_elsewhere(self):
        c = self.d.client(timeout=30)  # the daemon waits 15 s for the lock
        self.assertTrue(c.greeting().startswith(b"200 UZD "))
        key = self.d.port + h.UPDATE_MUTEX_KEY_BASE
        h.update_lock_ops(key, [(0, 0), (1, h.SEM_UNDO)])  # wait for 0, then take it
        try:
            started = time.time()
            self.assertEqual(self.upload(c, MEMBER, b"locked out"),
                             b"520-Cannot update ZIP, function locked by other user\n")
            self.assertGreaterEqual(time.time() - started, 14)
        finally:
            h.update_lock_ops(key, [(-1, h.SEM_UNDO)])
        self.assertTrue(c.command("VER").startswith(b"200 Version: "))
        self.assertFalse(os.path.exists(self.anx))

    def test_send_timings_store_the_same_member(self):
        """However the command, data and end line are cut into writes, the
        same member is stored and the session stays in step."""
        # Starts with LF (kept: only the LF of a CR LF is skipped), holds NUL,
        # CR LF, a command and the end line inside the data.
        data = b"\nVER\r\n" + bytes(range(256)) * 300 + END + b"\x00tail\r"
        cut = len(data) // 3

        def one_write(s, cmd):
            s.sendall(cmd + b"\n" + data + END)

        # The next command follows the end line in the same write.
        def one_write_then_ver(s, cmd):
            s.sendall(cmd + b"\n" + data + END + b"VER\n")

        def data_in_pieces(s, cmd):
            s.sendall(cmd + b"\n")
            for piece in (data[:1], data[1:cut], data[cut:2 * cut], data[2 * cut:]):
                time.sleep(0.05)
                s.sendall(piece)
            time.sleep(0.05)
            s.sendall(END)

        def end_line_split(s, cmd):
            s.sendall(cmd + b"\n" + data + END[:7])
            time.sleep(0.05)
            s.sendall(END[7:15])
            time.sleep(0.05)
            s.sendall(END[15:])

        def cr_then_lf_with_data(s, cmd):
            s.sendall(cmd + b"\r")
            time.sleep(0.05)
            s.sendall(b"\n" + data + END)

        stored = {}
        for n, send in enumerate((one_write, one_write_then_ver, data_in_pieces, end_line_split,
                                  cr_then_lf_with_data)):
            library = os.path.join(self.annot, "t%d.anx" % n)
            c = self.session()
            c.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            send(c.sock, b"UPDFILE t%d.anx %s %d" % (n, MEMBER.encode(), len(data)))
            if send is one_write_then_ver:
                self.assertEqual(b"".join(c.read_reply()), b"200-UPDFILE executed.\n")
                self.assertTrue(c.reply().startswith(b"200 Version: "))
            else:
                self.assertEqual(c.reply(), b"200-UPDFILE executed.\n", send.__name__)
            self.assertTrue(c.command("VER").startswith(b"200 Version: "), send.__name__)
            # Everything up to EOF is QUIT's line: no stray line came.
            c.sock.sendall(b"QUIT\n")
            rest = c.buf
            while True:
                got = c.sock.recv(65536)
                if not got:
                    break
                rest += got
            self.assertEqual(rest, b"200-See you later.\n", send.__name__)
            c.close()
            subprocess.run(["unzip", "-tq", library], check=True, stdout=subprocess.DEVNULL)
            subprocess.run(["python3", WALKER, library, MEMBER], check=True, stdout=subprocess.DEVNULL)
            self.assertEqual(subprocess.run(["unzip", "-p", library, MEMBER], capture_output=True).stdout, data,
                             send.__name__)
            with zipfile.ZipFile(library) as z:
                stored[send.__name__] = [(i.filename, i.file_size, i.CRC, i.compress_type, i.compress_size)
                                         for i in z.infolist()]
        self.assertEqual(len(set(map(tuple, stored.values()))), 1, stored)

    def test_refresh_during_upload_catalogues_nothing_new(self):
        """A half-received upload sits in a folder a recursive scan enters;
        a refresh then must not offer it, even when the part already
        received is a whole library and the member is named like one."""
        d = h.Daemon(lib=self.fixtures, start=False)
        try:
            d.extra_config = "RecursiveDir %s\n" % d.root
            annot = os.path.join(d.root, "annot")
            with zipfile.ZipFile(os.path.join(annot, "annot.anx"), "w") as z:
                z.writestr("seed.1", b"seed")
            d.start()
            inner = os.path.join(self.fixtures, "inner.kvo")
            with zipfile.ZipFile(inner, "w") as z:
                z.writestr("page.html", b"<title>inner</title>" * 50)
            with open(inner, "rb") as f:
                whole = f.read()
            data = whole + b"more"
            lister = d.client()
            lister.greeting()
            before = lister.command("LIST")
            self.assertIn(b"annot.anx", before)
            c = d.client(timeout=30)
            c.greeting()
            c.sock.sendall(b"UPDFILE annot.anx x.kvo %d\n" % len(data) + whole)
            # Held: the received part is on disk in the private folder.
            deadline = time.time() + 10
            held = []
            while time.time() < deadline and not held:
                held = [os.path.join(annot, n, f) for n in os.listdir(annot) if n.startswith("._upd.")
                        for f in os.listdir(os.path.join(annot, n))]
                held = [p for p in held if os.path.getsize(p) == len(whole)]
                time.sleep(0.02)
            self.assertEqual(len(held), 1, os.listdir(annot))
            count = d.log_text().count("Refresh finished,")
            os.kill(d.pid, signal.SIGUSR1)
            self.assertTrue(d.wait_log("Refresh finished,", count=count + 1), d.log_text())
            self.assertTrue(os.path.exists(held[0]))
            self.assertEqual(lister.command("LIST"), before)
            fresh = d.client()
            fresh.greeting()
            self.assertEqual(fresh.command("LIST"), before)
            c.sock.sendall(b"more" + END)
            self.assertEqual(c.reply(), b"200-UPDFILE executed.\n")
            self.assertEqual(subprocess.run(["unzip", "-p", os.path.join(annot, "annot.anx"), "x.kvo"],
                                            capture_output=True).stdout, data)
            self.assertFalse([n for n in os.listdir(settled(annot)) if n.startswith("._upd.")])
        finally:
            d.stop()
            left = d.leftovers()
            d.cleanup()
        self.assertEqual(left, [])


if __name__ == "__main__":
    unittest.main()

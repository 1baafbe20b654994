#!/usr/bin/env python3
"""The telnet relay against the real daemon: what the proxy fallback tests
rely on of it (banner, recorded command, the greeting and binary members
passed through unchanged, the end passed on) must hold before they do."""

import os
import socket
import unittest
import zlib

import daemon_harness as h
import make_client_libraries
from telnet_relay import Relay


def refused_port():
    """A bound socket that never listens, and its port: a connect is refused."""
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.bind(("127.0.0.1", 0))
    return s, s.getsockname()[1]


class TelnetRelay(h.LibraryCase):
    @classmethod
    def make_fixtures(cls, folder):
        cls.fx = make_client_libraries.make(folder)

    @staticmethod
    def daemon_options(fixtures):
        return {"lib": os.path.join(fixtures, "lib")}

    def relay(self, **kw):
        r = Relay(**kw)
        self.addCleanup(r.close)
        return r

    def check_session(self, c):
        """A binary member byte for byte, then QUIT's end reaches the client."""
        library, member = self.fx.binary
        data = self.fx.libraries[library].members[member]
        want = (b'300-Length %d "%s" "%s" "0"\n' % (len(data), library.encode(), member.encode()) + data
                + b"300-CRC 0x%x\n200-RETR executed.\n" % zlib.crc32(data))
        self.assertEqual(c.command("RETR %s %s" % (library, member)), want)
        self.assertEqual(c.command("QUIT"), b"200-See you later.\n")
        self.assertTrue(c.at_eof())

    def test_sessions_through_the_relay(self):
        holder, refused = refused_port()
        self.addCleanup(holder.close)
        port = self.d.port
        daemon = ("127.0.0.1", port)
        # (name, relay options, bytes the client writes first, lines before the greeting)
        cases = [("named server", {}, b"connect 127.0.0.1 %d\r\n" % port,
                  [b"Proxy ready\r\n", b"Trying 127.0.0.1...\r\n"]),
                 ("no line end, a pause", {"pause": 0.3}, b"%%n %%d 127.0.0.1 %d %%x" % port,
                  [b"Proxy ready\r\n", b"Trying 127.0.0.1...\r\n"]),
                 ("reach elsewhere", {"reach": daemon}, b"connect 127.0.0.1 %d\r\n" % refused,
                  [b"Proxy ready\r\n", b"Trying 127.0.0.1...\r\n"]),
                 ("plain forwarder", {"forward": daemon}, b"", [])]
        for name, options, command, before in cases:
            with self.subTest(name):
                r = self.relay(**options)
                c = h.Client(r.port)
                self.addCleanup(c.close)
                if before:
                    self.assertEqual(c.read_line(), before[0])
                    c.sock.sendall(command)
                    self.assertEqual(c.read_line(), before[1])
                self.assertTrue(c.greeting().startswith(b"200 UZD "))
                self.check_session(c)
                self.assertEqual(r.commands, [command] if command else [])

    def test_unreachable_server_gets_one_line_then_the_end(self):
        holder, refused = refused_port()
        self.addCleanup(holder.close)
        r = self.relay()
        c = h.Client(r.port)
        self.addCleanup(c.close)
        self.assertEqual(c.read_line(), b"Proxy ready\r\n")
        c.sock.sendall(b"connect 127.0.0.1 %d\r\n" % refused)
        self.assertEqual(c.read_line(), b"Trying 127.0.0.1...\r\n")
        self.assertTrue(c.read_line().startswith(b"Unable to connect to remote host: "))
        self.assertTrue(c.at_eof())
        self.assertEqual(r.refused, [("127.0.0.1", refused)])


if __name__ == "__main__":
    unittest.main()

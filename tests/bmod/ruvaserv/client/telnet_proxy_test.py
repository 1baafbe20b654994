#!/usr/bin/env python3
"""The client's telnet proxy fallback through uzclient_probe and the test
relay against the real daemon: a server the client cannot reach (refused,
silent, or a connect that never completes) is reached through the proxy,
which gets the configured command with the server's address and port, and
the session then works as a direct one, binary members included."""

import socket
import tempfile
import time
import unittest

from probe_driver import Probe, ProbeCase
from telnet_relay import Relay

COMMAND = "connect %s %s\r\n"
# Far above a refusal, which comes at once.
CONNECT_WAIT = 60


def listener(backlog):
    """A listening socket that never accepts, and its port."""
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.bind(("127.0.0.1", 0))
    s.listen(backlog)
    return s, s.getsockname()[1]


def sent(port):
    """COMMAND as the relay must receive it for the server at port."""
    return b"connect 127.0.0.1 %d\r\n" % port


def escaped(text):
    """A text as a probe option: CR and LF written as \\r and \\n."""
    return text.replace("\r", "\\r").replace("\n", "\\n")


class TelnetProxy(ProbeCase):
    def hold(self, s):
        self.addCleanup(s.close)
        return s

    def refused_port(self):
        """A bound socket that never listens: a connect to its port is refused."""
        s = self.hold(socket.socket(socket.AF_INET, socket.SOCK_STREAM))
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]

    def probe_at(self, port, *options):
        """A probe on a session with 127.0.0.1:port, checked clean at the end."""
        p = Probe("--server", "127.0.0.1:%d" % port, *options, payloads=tempfile.mkdtemp(dir=self.tmp))
        self.addCleanup(self.finish, p)
        return p

    def relay(self, **kw):
        r = Relay(**kw)
        self.addCleanup(r.close)
        return r

    def proxied_probe(self, port, relay, *options, command=COMMAND):
        proxy = ["--telnet-proxy", "127.0.0.1:%d" % relay.port]
        if command is not None:
            proxy += ["--telnet-proxy-cmd", escaped(command)]
        return self.probe_at(port, *proxy, *options)

    def check_session(self, p, relay, commands):
        """VER, the commands the relay got, and a binary member as over a
        direct connection; the session is not marked refused."""
        ver = p("ver")
        self.assertEqual(ver.get("code"), 200, ver)
        self.assertEqual(ver["flags"] & 4, 0, ver)
        self.assertEqual(relay.commands, commands)
        library, member = self.fx.binary
        got = p("retrMem", library, member)
        self.assertEqual(got.get("code"), 200, got)
        self.assertEqual(p.data(got), self.fx.libraries[library].members[member])
        self.assertEqual(got["flags"] & 4, 0, got)

    def reach_daemon(self, **kw):
        return self.relay(reach=("127.0.0.1", self.d.port), **kw)

    def test_refused_port(self):
        port = self.refused_port()
        r = self.reach_daemon()
        self.check_session(self.proxied_probe(port, r), r, [sent(port)])

    def test_silent_listener(self):
        s, port = listener(8)
        self.hold(s)
        r = self.reach_daemon()
        self.check_session(self.proxied_probe(port, r, "--command-timeout", 2), r, [sent(port)])

    def test_pending_connect(self):
        # Backlog 0 holds one connection; the next connect's SYN goes unanswered.
        s, port = listener(0)
        self.hold(s)
        self.hold(socket.create_connection(("127.0.0.1", port)))
        r = self.reach_daemon()
        self.check_session(self.proxied_probe(port, r, "--wait", "connect=1"), r, [sent(port)])

    def test_command_is_no_format(self):
        port = self.refused_port()
        # Without a line end the relay takes the command once the client pauses.
        r = self.reach_daemon(pause=0.3)
        p = self.proxied_probe(port, r, command="%n %d %s %s %x")
        self.check_session(p, r, [b"%%n %%d 127.0.0.1 %d %%x" % port])

    def test_plain_forwarder(self):
        port = self.refused_port()
        r = self.relay(forward=("127.0.0.1", self.d.port))
        self.check_session(self.proxied_probe(port, r, command=None), r, [])

    def test_refused_without_proxy_fails_at_once(self):
        port = self.refused_port()
        p = self.probe_at(port, "--wait", "connect=%d" % CONNECT_WAIT)
        start = time.monotonic()
        got = p("ver")
        self.assertLess(time.monotonic() - start, CONNECT_WAIT / 2)
        self.assertTrue(got["null"], got)
        self.assertEqual(got["error"], "Connection refused")


if __name__ == "__main__":
    unittest.main()

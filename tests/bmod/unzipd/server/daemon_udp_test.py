#!/usr/bin/env python3
"""Discovery datagrams, address masks and the central server, end to end."""

import os
import signal
import socket
import time
import unittest

import daemon_harness as h

IDENTITY = ' %s "%s" %s "Kivo Browser"\n' % (h.PROGRAM, h.ARTICLE, h.REVISION)


def udp_socket(timeout=5):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("127.0.0.1", 0))
    s.settimeout(timeout)
    return s


def receive_all(s, wait=0.5):
    got = []
    s.settimeout(wait)
    while True:
        try:
            got.append(s.recv(70000).decode("latin-1"))
        except socket.timeout:
            return got


class Base(unittest.TestCase):
    config = ""

    def setUp(self):
        self.d = h.Daemon(extra_config=self.config)

    def tearDown(self):
        self.d.stop()
        left = self.d.leftovers()
        self.d.cleanup()
        self.assertEqual(left, [])


class Discovery(Base):
    config = "AnswerBroadcasts yes\n"

    def send(self, s, text):
        s.sendto(text if isinstance(text, bytes) else text.encode("latin-1"), ("127.0.0.1", self.d.port))

    def test_call_is_answered_twice(self):
        s = udp_socket()
        q = s.getsockname()[1]
        self.send(s, 'UZC 127.0.0.1:%d kivoserv "a" R19K' % q)
        got = [s.recv(70000).decode("latin-1"), s.recv(70000).decode("latin-1")]
        self.assertEqual(got[0], got[1])
        self.assertTrue(got[0].startswith("UZD "), got[0])
        self.assertTrue(got[0].endswith(":%d%s" % (self.d.port, IDENTITY)), got[0])
        s.close()

    def test_peer_announcement_is_listed_and_answered(self):
        peer = udp_socket()
        r = peer.getsockname()[1]
        self.send(peer, 'UZD 127.0.0.1:%d ruvadaemon "x" R01A "peer one"' % r)
        got = [peer.recv(70000).decode("latin-1"), peer.recv(70000).decode("latin-1")]
        for g in got:
            self.assertTrue(g.startswith("UZd "), g)
        line = '16777343 %d ' % r

        def cached():
            try:
                with open(self.d.cache) as f:
                    return [l for l in f if l.startswith(line)]
            except FileNotFoundError:
                return []

        deadline = time.time() + 8
        while time.time() < deadline and not cached():
            time.sleep(0.1)
        self.assertEqual(len(cached()), 1)
        self.assertTrue(cached()[0].endswith(' "peer one"\n'), cached())
        with open(self.d.cache) as f:
            self.assertEqual(sum(1 for l in f if l.startswith("#")), 3)
        # A later call is still answered with UZD.
        c = udp_socket()
        self.send(c, 'UZC 127.0.0.1:%d kivoserv "a" R19K' % c.getsockname()[1])
        self.assertTrue(c.recv(70000).startswith(b"UZD "))
        c.close()
        # A comment with a line feed is stored with a blank.
        other = udp_socket()
        s_port = other.getsockname()[1]
        self.send(other, 'UZD 127.0.0.1:%d ruvadaemon "x" R01A "a\nb"' % s_port)
        self.assertTrue(other.recv(70000).startswith(b"UZd "))
        # UZd adds without an answer; UZR removes.
        quiet = udp_socket()
        t = quiet.getsockname()[1]
        self.send(quiet, 'UZd 127.0.0.1:%d ruvadaemon "x" R01A "quiet"' % t)
        self.assertEqual(receive_all(quiet), [])
        self.send(peer, "UZR 127.0.0.1:%d" % r)
        self.assertTrue(self.d.wait_log("Asked to remove known server"))
        self.assertTrue(self.d.stop())
        with open(self.d.cache) as f:
            text = f.read()
        self.assertIn('16777343 %d ' % s_port, text)
        self.assertIn('"a b"\n', text)
        self.assertIn('16777343 %d ' % t, text)
        self.assertNotIn('16777343 %d ' % r, text)
        quiet.close()
        peer.close()
        other.close()

    def test_bad_datagrams_get_no_answer(self):
        s = udp_socket()
        q = s.getsockname()[1]
        bad = [
            'UZC 127.0.0.2:%d kivoserv "a" R19K' % q,
            'UZC 127.0.0.1 kivoserv "a" R19K',
            'UZC 127.0.0.1:0 kivoserv "a" R19K',
            'UZC 127.0.0.1:x kivoserv "a" R19K',
            'UZC 127.0.0.1:70000 kivoserv "a" R19K',
            "UZC",
            "A" * 65000,
            'XYZ 127.0.0.1:%d kivoserv "a" R19K' % q,
            b"",
        ]
        for text in bad:
            self.send(s, text)
        self.assertEqual(receive_all(s), [])
        self.assertTrue(self.d.wait_log("Missing peer-ID in broadcast message <"))
        self.send(s, 'UZC 127.0.0.1:%d kivoserv "a" R19K' % q)
        self.assertEqual(len(receive_all(s, 2)), 2)
        s.close()


def can_bind(addr):
    try:
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        s.bind((addr, 0))
        s.close()
        return True
    except OSError:
        return False


@unittest.skipUnless(can_bind("127.0.0.2"), "127.0.0.2 not available")
class Masks(unittest.TestCase):
    def greeting_from_second_loopback(self, config):
        d = h.Daemon(extra_config=config)
        try:
            c = h.Client(d.port, source="127.0.0.2")
            first = c.read_line()
            eof = c.at_eof() if first == b"500 Access denied.\n" else None
            c.close()
        finally:
            d.stop()
            left = d.leftovers()
            d.cleanup()
        self.assertEqual(left, [])
        return first, eof

    def test_masks(self):
        self.assertEqual(self.greeting_from_second_loopback(""), (b"500 Access denied.\n", True))
        for config in ('IPMask "Allow 127.0.0.*"\n', "EnforceIPMask no\n"):
            first, _ = self.greeting_from_second_loopback(config)
            self.assertTrue(first.startswith(b"200 UZD "), config)


class CentralServer(unittest.TestCase):
    def test_registration_refresh_and_stop(self):
        listener = udp_socket()
        expired = [udp_socket() for _ in range(2)]
        d = h.Daemon(start=False)
        d.extra_config = "CentralServer 127.0.0.1:%d\n" % listener.getsockname()[1]
        with open(d.cache, "w") as f:
            for e in expired:
                f.write('16777343 %d 0 "old"\n' % e.getsockname()[1])
        try:
            d.start()
            got = listener.recv(70000).decode("latin-1")
            self.assertTrue(got.startswith("UZD ") and got.endswith(IDENTITY), got)
            for e in expired:
                self.assertEqual(len(receive_all(e)), 1)
            self.assertTrue(d.wait_log("Expiring known server"))
            os.kill(d.pid, signal.SIGUSR1)
            self.assertTrue(d.wait_log("Refresh finished,"))
            self.assertTrue(listener.recv(70000).startswith(b"UZD "))
            self.assertTrue(d.stop())
            self.assertTrue(listener.recv(70000).startswith(b"UZR "))
            with open(d.cache) as f:
                text = f.read()
            for e in expired:
                self.assertNotIn(" %d " % e.getsockname()[1], text)
        finally:
            d.stop()
            left = d.leftovers()
            d.cleanup()
            listener.close()
            for e in expired:
                e.close()
        self.assertEqual(left, [])


if __name__ == "__main__":
    unittest.main()

#!/usr/bin/env python3
"""Broadcast discovery of a real daemon: the client's side runs as the
UzClientDaemonWire case of ruvaserv_tests, told the daemon's port and the
address the daemon announces."""

import os
import socket
import subprocess
import unittest

import daemon_harness as h


def udp_free(port):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    try:
        s.bind(("", port))
        return True
    except OSError:
        return False
    finally:
        s.close()


def announced_address(port):
    """The address the daemon names in its answer to a call of our own."""
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("127.0.0.1", 0))
    s.settimeout(10)
    call = 'UZC 127.0.0.1:%d kivoserv "DOCSRV 1" R19K\n' % s.getsockname()[1]
    s.sendto(call.encode(), ("127.0.0.1", port))
    answer = s.recv(70000).decode("latin-1")
    s.close()
    assert answer.startswith("UZD "), answer
    return answer.split()[1].rsplit(":", 1)[0]


class Discovery(unittest.TestCase):
    def test_broadcast_finds_the_daemon(self):
        port = next(p for p in (h.free_port() for _ in range(50)) if udp_free(p + 10))
        d = h.Daemon(extra_config="AnswerBroadcasts yes\n", port=port)
        self.addCleanup(d.cleanup)
        self.assertTrue(udp_free(d.port + 10), "answer port taken")
        env = dict(os.environ, RUVA_DISCOVERY_PORT=str(d.port), RUVA_DISCOVERY_ADDR=announced_address(d.port))
        r = subprocess.run([os.environ["RUVASERV_TESTS"], "--gtest_filter=UzClientDaemonWire.*"],
                           env=env, capture_output=True, text=True, timeout=60)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertIn("[  PASSED  ] 1 test.", r.stdout)
        self.assertNotIn("SKIPPED", r.stdout)
        d.stop()
        self.assertEqual(d.leftovers(), [])


if __name__ == "__main__":
    unittest.main()

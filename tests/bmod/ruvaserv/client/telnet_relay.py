#!/usr/bin/env python3
"""A telnet proxy as the client's proxy fallback expects one, for tests.

Command mode (the default), per connection: writes "Proxy ready\\r\\n";
reads the command line up to its LF, or, when none comes, until the client
pauses after naming an address and a port; records those bytes exactly;
writes "Trying <address>...\\r\\n"; connects to the first dotted address in
the line that a port word follows; then relays both ways, byte for byte
(no IAC doubling, no CR insertion: retrieved members are binary), so the
server's greeting passes through. An address it cannot reach gets one
"Unable to connect ..." line and the connection is closed.

Relay(reach=(host, port)) is the same, but connects there whatever the
command names: a proxy that reaches a server the client cannot (the named
port is refused, silent or never accepts), while the command it got is
still recorded.

Forward mode (Relay(forward=(host, port))): no banner and no command; every
connection is relayed to that server at once.
"""

import re
import select
import socket

from loopback_server import LoopbackServer, shut

# An address word followed by a port word, anywhere in the command line.
TARGET = re.compile(rb"(?:^|\s)(\d{1,3}(?:\.\d{1,3}){3})\s+(\d{1,5})(?=\s|$)")
MAX_COMMAND = 4096


class Relay(LoopbackServer):
    """Listens on 127.0.0.1 at a free port until close()."""

    def __init__(self, forward=None, reach=None, pause=1.0):
        self.forward = forward
        self.reach = reach
        # How long a command line without LF may pause before it counts as whole.
        self.pause = pause
        self.commands = []  # per connection in command mode, the bytes received before connecting
        self.refused = []  # (address, port) it could not reach
        super().__init__()

    def serve(self, client, number):
        server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        try:
            if not self.track(server):
                return
            if self.forward:
                target, early = self.forward, b""
            else:
                client.sendall(b"Proxy ready\r\n")
                command, early = self.read_command(client)
                with self.lock:
                    self.commands.append(command)
                m = TARGET.search(command)
                if not m:
                    client.sendall(b"?Invalid command\r\n")
                    return
                target = self.reach or (m.group(1).decode(), int(m.group(2)))
                client.sendall(b"Trying %s...\r\n" % m.group(1))
            try:
                server.settimeout(10)
                server.connect(target)
                server.settimeout(None)
            except OSError as e:
                with self.lock:
                    self.refused.append(target)
                client.sendall(b"Unable to connect to remote host: %s\r\n" % str(e).encode())
                return
            if early:
                server.sendall(early)
            self.pipe(client, server)
        except OSError:
            pass
        finally:
            client.close()
            server.close()

    def read_command(self, client):
        """The command line and any bytes that came after its LF."""
        got = b""
        while b"\n" not in got and len(got) < MAX_COMMAND:
            # A line without LF is whole once it names a target and the client pauses.
            wait = self.pause if TARGET.search(got) else None
            ready, _, _ = select.select([client], [], [], wait)
            if not ready:
                break
            data = client.recv(MAX_COMMAND)
            if not data:
                break
            got += data
        end = got.find(b"\n")
        return (got, b"") if end < 0 else (got[:end + 1], got[end + 1:])

    @staticmethod
    def pipe(a, b):
        """Both ways until either side ends; the other then gets EOF."""
        peers = {a: b, b: a}
        while True:
            ready, _, _ = select.select([a, b], [], [])
            for s in ready:
                try:
                    data = s.recv(65536)
                except OSError:
                    data = b""
                if not data:
                    shut(a)
                    shut(b)
                    return
                peers[s].sendall(data)

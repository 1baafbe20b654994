"""A transparent TCP relay in front of a daemon that logs each command line
and each reply line passing through.

    with RecordingRelay(daemon.port) as relay:
        ... point the client at relay.port ...
        relay.commands()            # ['VER', 'LIST', 'MLLIST "12"', ...]
        relay.replies("QXSRCH")     # the reply lines of every QXSRCH

Bytes pass unchanged both ways as soon as they arrive; the log splits them
into lines at LF (the LF removed, latin-1 text) per connection and
direction. A reply is every server line after a command up to the next
command of that connection, so the log holds whole exchanges once the
client has read its answers.
"""

import select
import socket

from loopback_server import LoopbackServer, shut


class RecordingRelay(LoopbackServer):
    """Listens on 127.0.0.1 at a free port until close()."""

    def __init__(self, target_port, target_host="127.0.0.1"):
        self.target = (target_host, target_port)
        # (connection number, "C" or "S", line) in the order lines completed.
        self.log = []
        super().__init__()

    # -- what passed ------------------------------------------------------
    def clear(self):
        with self.lock:
            self.log = []

    def entries(self):
        with self.lock:
            return list(self.log)

    def commands(self):
        """Every command line, in order, over all connections."""
        return [line for _, side, line in self.entries() if side == "C"]

    def exchanges(self):
        """[(command, [reply lines])] per command, in command order."""
        out = []
        last = {}
        for conn, side, line in self.entries():
            if side == "C":
                out.append((line, []))
                last[conn] = out[-1][1]
            elif conn in last:
                last[conn].append(line)
        return out

    def replies(self, word):
        """The reply lines of each command whose first word is `word` (any case)."""
        return [reply for command, reply in self.exchanges()
                if command.split(" ", 1)[0].upper() == word.upper()]

    # -- relaying ---------------------------------------------------------
    def serve(self, client, number):
        server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        if not self.track(server):
            server.close()
            return
        try:
            server.settimeout(10)
            server.connect(self.target)
            server.settimeout(None)
        except OSError:
            return
        partial = {client: b"", server: b""}
        side = {client: "C", server: "S"}
        peer = {client: server, server: client}
        try:
            while True:
                ready, _, _ = select.select([client, server], [], [])
                for s in ready:
                    data = s.recv(65536)
                    if not data:
                        self._record(number, side[s], partial[s], final=True)
                        return
                    # Logged first: once the client has its answer, the log holds it.
                    partial[s] = self._record(number, side[s], partial[s] + data)
                    peer[s].sendall(data)
        finally:
            shut(server)

    def _record(self, number, side, data, final=False):
        """Logs the whole lines of data; gives back the unfinished rest."""
        *lines, rest = data.split(b"\n")
        if final and rest:
            lines.append(rest)
            rest = b""
        with self.lock:
            for line in lines:
                self.log.append((number, side, line.decode("latin-1")))
        return rest

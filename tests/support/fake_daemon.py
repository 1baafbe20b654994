#!/usr/bin/env python3
"""A stand-in daemon that greets and answers VER as the real one does and
answers LIST, MLLIST, QXSRCH and SRCH from a case file, logging each line;
for replies the real daemon never sends.

The case is a dict (or a JSON file holding one):
    {"comment": "",                       # the greeting's server comment
     "replies": [[prefix, reply text], ...]}
A command line is answered by the rule with the longest prefix it starts
with (compared case-blind); several rules of one prefix answer in turn,
the last one repeating. Reply texts are whole replies, built with
qxsrch_lines. A command no rule answers gets the daemon's
"500 Unknown command <WORD>. Try HELP.", unless it is VER or QUIT.

    with FakeDaemon(case) as fake:
        ... RuvaDaemon 127.0.0.1:<fake.port> ...
        fake.commands()

Command line: fake_daemon.py CASE.json LOG  serves until killed, printing
its port; LOG gets "C <line>" and "S <line>" for each line.
"""

import json
import sys
import threading

import qxsrch_lines
from loopback_server import LoopbackServer


class FakeDaemon(LoopbackServer):
    """Listens on 127.0.0.1 at a free port until close()."""

    def __init__(self, case, log_path=None):
        self.comment = case.get("comment", "")
        self.rules = {}
        for prefix, reply in case.get("replies", []):
            self.rules.setdefault(prefix.upper(), []).append(reply)
        self.used = {}
        self.log_path = log_path
        self.log = []  # (connection number, "C" or "S", line)
        super().__init__()

    def commands(self):
        with self.lock:
            return [line for _, side, line in self.log if side == "C"]

    def answer(self, line):
        """The whole reply text to one command line."""
        word = line.split(" ", 1)[0].upper()
        if word == "VER":
            return qxsrch_lines.version(self.comment)
        if word == "QUIT":
            return "200-See you later.\n"
        upper = line.upper()
        best = max((p for p in self.rules if upper.startswith(p)), key=len, default=None)
        if best is None:
            return "500 Unknown command <%s>. Try HELP.\n" % line.split(" ", 1)[0]
        with self.lock:
            n = self.used.get(best, 0)
            self.used[best] = n + 1
        replies = self.rules[best]
        return replies[min(n, len(replies) - 1)]

    def _note(self, number, side, text):
        lines = text.split("\n")
        if lines and lines[-1] == "":
            lines.pop()
        with self.lock:
            for line in lines:
                self.log.append((number, side, line))
            if self.log_path:
                with open(self.log_path, "a", encoding="latin-1") as f:
                    f.write("".join("%s %s\n" % (side, line) for line in lines))

    def _send(self, s, number, text):
        self._note(number, "S", text)
        s.sendall(text.encode("latin-1"))

    def serve(self, s, number):
        buf = b""
        self._send(s, number, qxsrch_lines.greeting(self.comment))
        while True:
            while b"\n" not in buf:
                data = s.recv(65536)
                if not data:
                    return
                buf += data
            raw, buf = buf.split(b"\n", 1)
            line = raw.decode("latin-1").rstrip("\r")
            self._note(number, "C", line)
            self._send(s, number, self.answer(line))
            if line.split(" ", 1)[0].upper() == "QUIT":
                return


def main(argv):
    if len(argv) != 3:
        print("usage: fake_daemon.py CASE.json LOG", file=sys.stderr)
        return 2
    with open(argv[1], encoding="latin-1") as f:
        case = json.load(f)
    fake = FakeDaemon(case, argv[2])
    print(fake.port, flush=True)
    try:
        threading.Event().wait()
    except KeyboardInterrupt:
        pass
    fake.close()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

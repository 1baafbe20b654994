#!/usr/bin/env python3
"""Sends commands to a ruvadaemon one at a time and prints each reply.

    talk.py 127.0.0.1:9229 LIST "CONT guide.kvo" "RETR guide.kvo 1551-ABC10101Uen.A.html"

Without commands it reads them from standard input, one a line.
"""

import socket
import sys


class Session:
    def __init__(self, address, timeout=30):
        host, _, port = address.rpartition(":")
        self.sock = socket.create_connection((host or "127.0.0.1", int(port)), timeout=timeout)
        self.buf = b""

    def _fill(self):
        data = self.sock.recv(65536)
        self.buf += data
        return bool(data)

    def line(self):
        while b"\n" not in self.buf:
            if not self._fill():
                line, self.buf = self.buf, b""
                return line or None
        line, self.buf = self.buf.split(b"\n", 1)
        return line + b"\n"

    def data(self, n):
        while len(self.buf) < n and self._fill():
            pass
        out, self.buf = self.buf[:n], self.buf[n:]
        return out

    def reply(self):
        """Lines up to the final one: a 2xx line, or any line that is not 3xx; data after 300-Length n."""
        out = []
        while True:
            line = self.line()
            if line is None:
                out.append(b"(connection closed)\n")
                return out, False
            out.append(line)
            code = line[:3]
            if not code.isdigit() or code[:1] not in b"23":
                return out, True
            if code[:1] == b"2" and line[3:4] in (b"-", b" "):
                return out, True
            if line.startswith(b"300-Length "):
                n = int(line[len(b"300-Length "):].split()[0])
                out.append(self.data(n))

    def command(self, text):
        self.sock.sendall(text.encode("latin-1") + b"\n")
        return self.reply()


def main(argv):
    if len(argv) < 2 or ":" not in argv[1]:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    s = Session(argv[1])
    out = sys.stdout.buffer
    greeting = s.line()
    out.write(greeting or b"(no greeting)\n")
    commands = argv[2:] or (l.rstrip("\r\n") for l in sys.stdin)
    for c in commands:
        out.write(b">>> " + c.encode("latin-1") + b"\n")
        lines, open_ = s.command(c)
        for l in lines:
            out.write(l)
        out.flush()
        if not open_:
            return 1
    s.sock.close()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

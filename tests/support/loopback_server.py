"""A threaded TCP server on 127.0.0.1 for the test stand-ins: a free port,
one thread per connection, and a close() that ends every connection and
joins its thread."""

import socket
import threading


def shut(s):
    """Wakes whatever waits on s (accept, recv, select)."""
    try:
        s.shutdown(socket.SHUT_RDWR)
    except OSError:
        pass


class LoopbackServer:
    """Subclasses define serve(sock, number): one connection, numbered from 1."""

    def __init__(self):
        self.lock = threading.Lock()
        self.connections = 0
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(64)
        self.port = self.listener.getsockname()[1]
        self.sockets = []
        self.threads = []
        self.closed = False
        self.acceptor = threading.Thread(target=self._accept_loop, daemon=True)
        self.acceptor.start()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def close(self):
        with self.lock:
            self.closed = True
        shut(self.listener)
        self.acceptor.join()
        # Nothing is tracked once closed is set: the lists are final.
        for s in self.sockets:
            shut(s)
        for t in self.threads:
            t.join()
        for s in self.sockets:
            s.close()
        self.listener.close()

    def track(self, s):
        """Keeps s to be shut at close; False (s untracked) once closing."""
        with self.lock:
            if self.closed:
                return False
            self.sockets.append(s)
            return True

    def _accept_loop(self):
        while True:
            try:
                s, _ = self.listener.accept()
            except OSError:
                return
            if not self.track(s):
                s.close()
                return
            with self.lock:
                self.connections += 1
                t = threading.Thread(target=self._run, args=(s, self.connections), daemon=True)
                self.threads.append(t)
            t.start()

    def _run(self, s, number):
        try:
            self.serve(s, number)
        except OSError:
            pass
        finally:
            shut(s)

    def serve(self, s, number):
        raise NotImplementedError

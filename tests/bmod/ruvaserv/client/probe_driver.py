"""Drives uzclient_probe (path in UZCLIENT_PROBE): one operation per call,
its JSON answer back, so that a test can act on the daemon in between."""

import json
import os
import shutil
import subprocess
import tempfile
import unittest

import daemon_harness as h
import make_client_libraries

ABSENT = object()  # an optional argument left out


def field(value):
    if value is ABSENT:
        return "\\N"
    if isinstance(value, int):
        value = str(value)
    if isinstance(value, str):
        value = value.encode("latin-1")
    out = ""
    for b in value:
        c = chr(b)
        if c == "\\":
            out += "\\\\"
        elif c in "\t\n\r\0" or b >= 0x7f or b < 0x20:
            out += "\\x%02x" % b
        else:
            out += c
    return out


class Probe:
    """uzclient_probe with the options given; close() ends it and returns its stderr."""

    def __init__(self, *options, env=None, payloads=None):
        self.payloads = payloads or tempfile.mkdtemp(prefix="probe_")
        cmd = [os.environ["UZCLIENT_PROBE"], "--payloads", self.payloads] + [str(o) for o in options]
        self.p = subprocess.Popen(cmd, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                  env=dict(os.environ, **(env or {})))

    def __call__(self, op, *args):
        self.p.stdin.write(("\t".join([op] + [field(a) for a in args]) + "\n").encode("latin-1"))
        self.p.stdin.flush()
        line = self.p.stdout.readline()
        if not line:
            raise AssertionError("probe ended at %s: %s" % (op, self.close()))
        return json.loads(line)

    def data(self, answer):
        """The payload bytes an operation wrote."""
        with open(answer["data"], "rb") as f:
            return f.read()

    def close(self):
        """Ends the probe; its stderr (sanitizer reports included) and exit status."""
        if self.p.returncode is None:
            self.p.stdin.close()
            err = self.p.stderr.read().decode("latin-1")
            self.p.wait(timeout=30)
            self.p.stdout.close()
            self.p.stderr.close()
            self.err = err
        return self.err, self.p.returncode


def text(answer, key="message"):
    """A JSON text field back to the bytes the client held."""
    return answer[key].encode("latin-1")


class ProbeCase(unittest.TestCase):
    """A flat daemon over make_client_libraries' fixtures (annotations placed),
    per class; probe() starts uzclient_probe on it, checked clean at the end."""

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="clientprobe_")
        cls.fx = make_client_libraries.make(os.path.join(cls.tmp, "fx"))
        cls.d = h.Daemon(lib=cls.fx.flat_dir, start=False)
        cls.fx.place_annotations(cls.d)
        cls.d.start()
        cls.daemons = [cls.d]

    @classmethod
    def tearDownClass(cls):
        left = []
        for d in cls.daemons:
            d.stop()
            left += d.leftovers()
            d.cleanup()
        shutil.rmtree(cls.tmp, ignore_errors=True)
        assert left == [], left

    def probe(self, *options, daemon=None):
        p = Probe("--server", "127.0.0.1:%d" % (daemon or self.d).port, *options,
                  payloads=tempfile.mkdtemp(dir=self.tmp))
        self.addCleanup(self.finish, p)
        return p

    def finish(self, p):
        err, status = p.close()
        self.assertEqual(status, 0, err)
        self.assertFalse(any(m in err for m in h.SANITIZER_MARKS), err)

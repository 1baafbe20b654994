#!/usr/bin/env python3
"""Annotation members and the archive annot.anx that holds them, for tests.

A member is ten fields, each followed by one NUL byte: header, user, text,
chapter, date, time, docrev, version, type, scope. record() builds one with
any field replaced, and, for the members other writers may have left, with
another number of NULs or bytes after the end. write_archive() puts members
into an annot.anx with python's zipfile; install() writes it into a
daemon's AnnotationDb folder (daemon_harness: T/annot) before the daemon
starts, so that it is catalogued like any library.
"""

import os
import zipfile

FIELDS = ("header", "user", "text", "chapter", "date", "time", "docrev", "version", "type", "scope")
DEFAULTS = {"header": "Hdr", "user": "Ann", "text": "Text", "chapter": "3", "date": "2026-12-11",
            "time": "17:05:09", "docrev": "A", "version": "1.0", "type": "HTMLTEXT", "scope": "G"}
ARCHIVE = "annot.anx"


def _bytes(value):
    return value if isinstance(value, bytes) else value.encode("latin-1")


def record(nuls=10, trailing=b"", **fields):
    """The member's bytes. fields override DEFAULTS by name (str as Latin-1,
    or bytes). nuls: below ten, the first nuls fields each with its NUL and
    the next one without (0: the header's bytes alone, no field ended);
    above ten, the ten fields then one more NUL-ended word "extra<n>" per
    NUL beyond ten. trailing: bytes after all of it."""
    unknown = set(fields) - set(FIELDS)
    if unknown:
        raise TypeError("no such field: %s" % ", ".join(sorted(unknown)))
    values = [_bytes(fields.get(name, DEFAULTS[name])) for name in FIELDS]
    if nuls < 10:
        data = b"".join(v + b"\0" for v in values[:nuls]) + values[nuls]
    else:
        data = b"".join(v + b"\0" for v in values)
        data += b"".join(b"extra%d\0" % n for n in range(1, nuls - 9))
    return data + _bytes(trailing)


def fields_of(data):
    """The ten fields of a member as the front end reads them: each ends at
    its NUL or at the end of the bytes, missing ones empty."""
    parts = data.split(b"\0")
    if data.endswith(b"\0"):
        parts = parts[:-1]
    parts = (parts + [b""] * 10)[:10]
    return dict(zip(FIELDS, parts))


def member_name(document, chapter):
    """The member of a document file name's chapter: the name up to its last
    '.', then the chapter."""
    stem, dot, _ = document.rpartition(".")
    return stem + dot + chapter if dot else document


def write_archive(path, members, compression=zipfile.ZIP_DEFLATED):
    """annot.anx at path holding members, (name, bytes) pairs in order; none
    gives the 22-byte empty archive."""
    with zipfile.ZipFile(path, "w", compression) as z:
        for name, data in members:
            z.writestr(name, data)


def archive_path(daemon):
    return os.path.join(daemon.root, "annot", ARCHIVE)


def install(daemon, members, compression=zipfile.ZIP_DEFLATED):
    """Writes the daemon's annot.anx before it starts (Daemon(..., start=False))."""
    write_archive(archive_path(daemon), members, compression)
    return archive_path(daemon)


def read_archive(path):
    """The members of an archive as {name: bytes}, in archive order."""
    with zipfile.ZipFile(path) as z:
        return {info.filename: z.read(info) for info in z.infolist()}

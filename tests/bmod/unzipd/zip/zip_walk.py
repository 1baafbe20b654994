#!/usr/bin/env python3
"""Walks a ZIP archive from its first local header to the end of the file.

Usage: zip_walk.py ARCHIVE [NEW_NAME ...]

Checks that every local header agrees with its central header (version
needed, flags, method, time, CRC, sizes, name), that the records follow each
other without gaps (a data descriptor of a bit-3 entry counts, and supplies
the CRC and sizes), that the end record is exact and that the file ends right
after its comment. Names given after the archive are entries written anew:
their bit 3 must be clear, so the local header holds the final CRC and sizes
(unzip -t does not look at the local uncompressed size; the daemon's
extractor trusts it).

Prints "OK" and exits 0, or prints the first fault and exits 1. Tests may
also import it and call check(path, new_names).
"""
import struct
import sys

LOCAL, CENTRAL, END, DESC = b"PK\x03\x04", b"PK\x01\x02", b"PK\x05\x06", b"PK\x07\x08"


class Fault(Exception):
    pass


def fault(text):
    raise Fault(text)


def check(path, new_names=()):
    """None when the archive passes, else the first fault."""
    try:
        walk(open(path, "rb").read(), set(new_names))
    except Fault as f:
        return str(f)
    except (struct.error, IndexError) as e:
        return "malformed: %s" % e
    return None


def walk(data, new_names):
    # The end record: the last signature whose comment ends the file exactly.
    end = data.rfind(END)
    if end < 0 or len(data) - end < 22:
        fault("no end record")
    (disk, cdisk, n_this, n_all, cd_size, cd_off, clen) = struct.unpack("<HHHHIIH", data[end + 4:end + 22])
    if end + 22 + clen != len(data):
        fault("file does not end right after the archive comment")
    if disk or cdisk or n_this != n_all:
        fault("disk fields or counts differ")
    if cd_off + cd_size != end:
        fault("central directory offset/size do not reach the end record")

    centrals = []
    pos = cd_off
    for i in range(n_all):
        if data[pos:pos + 4] != CENTRAL:
            fault("central header %d missing at %d" % (i, pos))
        f = struct.unpack("<HHHHIIIIHHHHHII", data[pos + 4:pos + 46])
        (made, need, flags, method, dostime, crc, csize, usize, nlen, xlen, mlen, dstart, iattr, eattr, off) = f
        name = data[pos + 46:pos + 46 + nlen]
        centrals.append(dict(need=need, flags=flags, method=method, time=dostime, crc=crc, csize=csize,
                             usize=usize, name=name, off=off))
        pos += 46 + nlen + xlen + mlen
    if pos != end:
        fault("central directory does not end at the end record")

    # Local records in file order, contiguous from the first one.
    order = sorted(centrals, key=lambda c: c["off"])
    pos = order[0]["off"] if order else cd_off
    if data[:pos].find(LOCAL) >= 0 and order:
        fault("a local header signature lies in the preamble")
    for c in order:
        name = c["name"].decode("latin-1")
        if c["off"] != pos:
            fault("gap or overlap before %s: local at %d, expected %d" % (name, c["off"], pos))
        if data[pos:pos + 4] != LOCAL:
            fault("no local header for %s" % name)
        (need, flags, method, dostime, crc, csize, usize, nlen, xlen) = struct.unpack("<HHHIIIIHH", data[pos + 4:pos + 30])
        lname = data[pos + 30:pos + 30 + nlen]
        start = pos + 30 + nlen + xlen
        if flags & 8:
            if name in new_names:
                fault("bit 3 set on new entry %s" % name)
            after = start + c["csize"]
            if data[after:after + 4] == DESC:
                crc, csize, usize = struct.unpack("<III", data[after + 4:after + 16])
                nxt = after + 16
            else:
                crc, csize, usize = struct.unpack("<III", data[after:after + 12])
                nxt = after + 12
        else:
            nxt = start + csize
        local = (need, flags, method, dostime, crc, csize, usize, lname)
        central = (c["need"], c["flags"], c["method"], c["time"], c["crc"], c["csize"], c["usize"], c["name"])
        if local != central:
            fault("local and central differ for %s: %r != %r" % (name, local, central))
        if nxt > cd_off:
            fault("data of %s run into the central directory" % name)
        pos = nxt
    if pos != cd_off:
        fault("central directory at %d, local records end at %d" % (cd_off, pos))


if __name__ == "__main__":
    result = check(sys.argv[1], sys.argv[2:])
    print(result or "OK")
    sys.exit(1 if result else 0)

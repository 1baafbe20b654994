"""sdidump against the model of 300 seeded SDI documents, in one run.

Usage: sdi_model_check.py SDIDUMP SGMLDUMP
The last document is a 20,000-row list in two parts, joined as the
comparison joins them. Exit status 0 when every dump matches its model.
"""

import os
import random
import subprocess
import sys
import tempfile

import gen_sdi
import gen_tavr

COUNT = 300
SEED = 2026


def main():
    sdidump, sgmldump = sys.argv[1], sys.argv[2]
    table = gen_tavr.load_tagmap(sgmldump)
    docs = [gen_sdi.build(random.Random(SEED + i), table) for i in range(COUNT - 1)]
    parts = [gen_sdi.build(random.Random(SEED - 1), table, rows=10000),
             gen_sdi.build(random.Random(SEED - 2), table, rows=10000)]
    docs.append(gen_sdi.join_parts(parts))
    with tempfile.TemporaryDirectory() as tmp:
        paths = []
        for i, doc in enumerate(docs):
            path = os.path.join(tmp, "doc%03d_sd1.sgml" % i)
            with open(path, "wb") as f:
                f.write(doc.markup)
            paths.append(path)
        out = subprocess.run([sdidump] + paths, capture_output=True, check=False).stdout
    expected = b"".join(b'file="%s"\n' % p.encode() + d.dump for p, d in zip(paths, docs))
    if out == expected:
        print("%d documents, 0 mismatches" % len(docs))
        return 0
    got = out.split(b"\nfile=")
    want = expected.split(b"\nfile=")
    bad = [i for i in range(max(len(got), len(want)))
           if i >= len(got) or i >= len(want) or got[i] != want[i]]
    print("%d mismatches" % len(bad))
    for i in bad[:3]:
        g = got[i] if i < len(got) else b""
        w = want[i] if i < len(want) else b""
        glines, wlines = g.split(b"\n"), w.split(b"\n")
        for n, (a, b) in enumerate(zip(glines, wlines)):
            if a != b:
                print("document %d line %d\n  got  %r\n  want %r" % (i, n, a[:300], b[:300]))
                break
        else:
            print("document %d: %d lines, want %d" % (i, len(glines), len(wlines)))
    return 1


if __name__ == "__main__":
    sys.exit(main())

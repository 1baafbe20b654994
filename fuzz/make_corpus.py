#!/usr/bin/env python3
"""Seed inputs of the fuzz targets.

  make_corpus.py seeds [DIR]          writes the committed seeds (default
                                      fuzz/corpus/): archives from Info-ZIP zip
                                      and zipfile, and hand-built streams of
                                      every method, each checked by `unzip -t`
                                      where Info-ZIP decodes the method.
  make_corpus.py ruvx-seeds [DIR]     writes only the word-index seeds (DIR/ruvx/),
                                      images from tests' ruvx_build.py.
  make_corpus.py sgml-seeds [DIR]     writes only the SGML scanner's seeds
                                      (DIR/sgml/): the golden scanner inputs and
                                      one page per literal mode and declaration.
  make_corpus.py from-zips ZIPDIR OUT wraps the members of the archives in
                                      ZIPDIR for the decoder targets, into
                                      OUT/<target>/ (make fuzz, at run time).

A decoder input is a mode byte, ucSize (3 bytes), CRC-32 (4 bytes), then the
compressed data (fuzz/fuzz_support.h). Run `seeds` once when the input
formats change; the output is committed.
"""

import heapq
import io
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile
import zlib

MAX_MEMBER = 1 << 20
DECODERS = ('inflate', 'explode', 'unreduce', 'unshrink')


class Bits:
    """LSB-first bit writer, as all four formats read."""

    def __init__(self):
        self.out = bytearray()
        self.acc = 0
        self.n = 0

    def put(self, value, count):
        self.acc |= (value & ((1 << count) - 1)) << self.n
        self.n += count
        while self.n >= 8:
            self.out.append(self.acc & 0xFF)
            self.acc >>= 8
            self.n -= 8

    def done(self):
        if self.n:
            self.out.append(self.acc & 0xFF)
        self.acc = self.n = 0
        return bytes(self.out)


def lz77(data, max_dist, max_len, min_len):
    """Greedy parse: ('l', byte) and ('m', length, distance) tokens; the
    candidates come from a chain of earlier positions with the same three
    bytes."""
    chains = {}
    tokens = []
    i = 0

    def remember(j):
        if j + 3 <= len(data):
            chains.setdefault(data[j:j + 3], []).append(j)

    while i < len(data):
        best_len, best_dist = 0, 0
        for j in reversed(chains.get(data[i:i + 3], [])[-64:]):
            if i - j > max_dist:
                break
            n = 0
            while n < max_len and i + n < len(data) and data[i + n] == data[j + n]:
                n += 1
            if n > best_len:
                best_len, best_dist = n, i - j
        if best_len >= min_len:
            tokens.append(('m', best_len, best_dist))
            for j in range(i, i + best_len):
                remember(j)
            i += best_len
        else:
            tokens.append(('l', data[i]))
            remember(i)
            i += 1
    return tokens


# ---- shrink (method 1): LZW, 9 to 13 bits, 256 1 widens, 256 2 partial clear

def shrink(data, clear_after=None):
    """clear_after: a partial clear once this many input bytes are coded,
    placed after a single-byte code so that no freed code is a pending
    prefix."""
    w = Bits()
    if not data:
        return b''
    table = {}   # (prefix code, byte) -> code
    prefix = {}  # code -> prefix code
    size = 9
    free = 257
    cleared = clear_after is None

    def emit(code):
        nonlocal size
        while code >= 1 << size:
            w.put(256, size)
            w.put(1, size)
            size += 1
        w.put(code, size)

    def next_free(start):
        while start < 8192 and start in prefix:
            start += 1
        return start

    cur = data[0]
    for i in range(1, len(data)):
        b = data[i]
        if (cur, b) in table:
            cur = table[(cur, b)]
            continue
        emit(cur)
        if not cleared and i >= clear_after and cur < 256:
            w.put(256, size)
            w.put(2, size)
            parents = {p for c, p in prefix.items() if p >= 257 and p != c}
            for c in [c for c in prefix if c not in parents]:
                del prefix[c]
            table = {k: c for k, c in table.items() if c in prefix}
            free = next_free(257)
            cleared = True
        if free < 8192:
            table[(cur, b)] = free
            prefix[free] = cur
            free = next_free(free + 1)
        cur = b
    emit(cur)
    return w.done()


# ---- reduce (methods 2-5): escapes 144, then follower sets

def reduce(data, factor, followers=True):
    mask = 0xFF >> factor
    max_dist = (((1 << factor) - 1) << 8) + 256
    max_len = mask + 255 + 3
    seq = []
    # Length 3 at a distance below 257 would code as 144 0, a literal 144.
    for t in lz77(data, max_dist, max_len, 4):
        if t[0] == 'm':
            _, ln, dist = t
            d = dist - 1
            seq += [144, (d >> 8) << (8 - factor) | min(ln - 3, mask)]
            if ln - 3 >= mask:
                seq.append(ln - 3 - mask)
            seq.append(d & 0xFF)
        elif t[1] == 144:
            seq += [144, 0]
        else:
            seq.append(t[1])
    return code_followers(seq, followers)


def code_followers(seq, followers=True, sets=None):
    if sets is None:
        sets = [[] for _ in range(256)]
        if followers:
            counts = [{} for _ in range(256)]
            last = 0
            for c in seq:
                counts[last][c] = counts[last].get(c, 0) + 1
                last = c
            for x in range(256):
                ranked = sorted(counts[x].items(), key=lambda kv: (-kv[1], kv[0]))
                sets[x] = [c for c, k in ranked if k > 1][:32]
    w = Bits()
    for x in range(255, -1, -1):
        w.put(len(sets[x]), 6)
        for c in sets[x]:
            w.put(c, 8)
    last = 0
    for c in seq:
        s = sets[last]
        if not s:
            w.put(c, 8)
        elif c in s:
            w.put(0, 1)
            w.put(s.index(c), max((len(s) - 1).bit_length(), 1))
        else:
            w.put(1, 1)
            w.put(c, 8)
        last = c
    return w.done()


# ---- implode (method 6): Shannon-Fano trees, LZ77 with a 4 or 8 KiB window

def code_lengths(freqs, max_bits=16):
    """Huffman lengths for every symbol (each counted at least once); a
    uniform tree when they would pass max_bits."""
    n = len(freqs)
    heap = [(f + 1, s, [s]) for s, f in enumerate(freqs)]
    heapq.heapify(heap)
    lengths = [0] * n
    order = n
    while len(heap) > 1:
        fa, _, a = heapq.heappop(heap)
        fb, _, b = heapq.heappop(heap)
        for s in a + b:
            lengths[s] += 1
        heapq.heappush(heap, (fa + fb, order, a + b))
        order += 1
    if max(lengths) > max_bits:
        return [(n - 1).bit_length()] * n
    return lengths


def tree_bytes(lengths):
    runs = []
    for ln in lengths:
        if runs and runs[-1][0] == ln and runs[-1][1] < 16:
            runs[-1][1] += 1
        else:
            runs.append([ln, 1])
    return bytes([len(runs) - 1] + [(r - 1) << 4 | (ln - 1) for ln, r in runs])


def canonical(lengths):
    codes = [0] * len(lengths)
    code = 0
    for ln in range(1, 17):
        for s, l in enumerate(lengths):
            if l == ln:
                codes[s] = code
                code += 1
        code <<= 1
    return codes


def put_code(w, code, ln):
    inverted = ~code
    for i in range(ln - 1, -1, -1):
        w.put(inverted >> i & 1, 1)


def implode(data, flags, uniform=False, before_start=False):
    big = bool(flags & 2)
    lit_tree = bool(flags & 4)
    low_bits = 7 if big else 6
    min_match = 3 if lit_tree else 2
    max_dist = 64 << low_bits
    max_len = min_match + 63 + 255
    tokens = []
    if before_start:
        # A match into the zeros before the first byte of output.
        tokens.append(('m', 10, 50))
    tokens += lz77(data, max_dist, max_len, min_match)
    lit_f, len_f, dist_f = [0] * 256, [0] * 64, [0] * 64
    for t in tokens:
        if t[0] == 'l':
            lit_f[t[1]] += 1
        else:
            len_f[min(t[1] - min_match, 63)] += 1
            dist_f[(t[2] - 1) >> low_bits] += 1
    if uniform:
        lit_l, len_l, dist_l = [8] * 256, [6] * 64, [6] * 64
    else:
        lit_l, len_l, dist_l = code_lengths(lit_f), code_lengths(len_f), code_lengths(dist_f)
    head = (tree_bytes(lit_l) if lit_tree else b'') + tree_bytes(len_l) + tree_bytes(dist_l)
    lit_c, len_c, dist_c = canonical(lit_l), canonical(len_l), canonical(dist_l)
    w = Bits()
    for t in tokens:
        if t[0] == 'l':
            w.put(1, 1)
            if lit_tree:
                put_code(w, lit_c[t[1]], lit_l[t[1]])
            else:
                w.put(t[1], 8)
        else:
            _, ln, dist = t
            w.put(0, 1)
            w.put(dist - 1, low_bits)
            high = (dist - 1) >> low_bits
            put_code(w, dist_c[high], dist_l[high])
            code = min(ln - min_match, 63)
            put_code(w, len_c[code], len_l[code])
            if code == 63:
                w.put(ln - min_match - 63, 8)
    return head + w.done()


# ---- deflate (method 8) through zlib

def deflate(data, level=9, strategy=zlib.Z_DEFAULT_STRATEGY):
    c = zlib.compressobj(level, zlib.DEFLATED, -15, 9, strategy)
    return c.compress(data) + c.flush()


# ---- archives and decoder inputs

def crc(data):
    return zlib.crc32(data) & 0xFFFFFFFF


def decoder_input(data, packed, mode=0):
    return bytes([mode]) + struct.pack('<I', len(data))[:3] + struct.pack('<I', crc(data)) + packed


def archive(members, comment=b''):
    """members: dicts of name, data (uncompressed), packed, method, flags,
    comment, extra (local), cextra (central); flag bit 3 writes a data
    descriptor and zeros in the local header."""
    body, central = bytearray(), bytearray()
    for m in members:
        data, packed = m.get('data', b''), m.get('packed', m.get('data', b''))
        flags, method = m.get('flags', 0), m.get('method', 0)
        name, extra, cextra = m['name'], m.get('extra', b''), m.get('cextra', b'')
        mcomment = m.get('comment', b'')
        fields = (crc(data), len(packed), len(data))
        local = (0, 0, 0) if flags & 8 else fields
        offset = len(body)
        body += struct.pack('<IHHHHHIIIHH', 0x04034B50, 20, flags, method, 0, 0x21, *local, len(name),
                            len(extra)) + name + extra + packed
        if flags & 8:
            body += struct.pack('<IIII', 0x08074B50, *fields)
        central += struct.pack('<IHHHHHHIIIHHHHHII', 0x02014B50, 20, 20, flags, method, 0, 0x21, *fields,
                               len(name), len(cextra), len(mcomment), 0, 0, 0, offset)
        central += name + cextra + mcomment
    end = struct.pack('<IHHHHIIH', 0x06054B50, 0, 0, len(members), len(members), len(central), len(body),
                      len(comment))
    return bytes(body + central + end + comment)


def unzip_tests(zip_bytes):
    """True when Info-ZIP unzip accepts the archive."""
    with tempfile.NamedTemporaryFile(suffix='.zip') as f:
        f.write(zip_bytes)
        f.flush()
        return subprocess.run(['unzip', '-tqq', f.name], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL).returncode == 0


def text(rng, n):
    words = ('the library member archive folder index page title manual section chapter release '
             'document revision language catalogue session daemon client server request').split()
    out = []
    size = 0
    while size < n:
        line = ' '.join(rng.choice(words) for _ in range(rng.randint(3, 12))) + '.\n'
        out.append(line)
        size += len(line)
    return ''.join(out).encode()[:n]


# ---- the committed seeds

class _Unseekable:
    """A stream zipfile cannot seek in, so it writes data descriptors."""

    def __init__(self):
        self.data = bytearray()

    def write(self, b):
        self.data += b
        return len(b)

    def flush(self):
        pass

    def tell(self):
        raise OSError('unseekable')

    def seekable(self):
        return False

    def getvalue(self):
        return bytes(self.data)


def reader_seeds(rng, put):
    t1, t2 = text(rng, 1500), text(rng, 700)
    html = b'<html><head><title>Doc</title></head><body>' + text(rng, 600) + b'</body></html>\n'
    binary = bytes(rng.randrange(256) for _ in range(300))
    with tempfile.TemporaryDirectory() as tmp:
        src = os.path.join(tmp, 'src')
        os.mkdir(src)
        files = {'a.txt': t1, 'Doc.HTML': html, 'h1.html': html[:200], 'sub/b.bin': binary,
                 'kvoversion.txt': b'3.4\n'}
        for name, data in files.items():
            path = os.path.join(src, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, 'wb') as f:
                f.write(data)
            os.utime(path, (315532800 + 86400, 315532800 + 86400))
        names = sorted(files)
        env = dict(os.environ, TZ='UTC')

        def zipcmd(args, stdin=None):
            subprocess.run(['zip', '-q'] + args, cwd=src, input=stdin, env=env, check=True,
                           stdout=subprocess.PIPE)

        for opt in ('-0', '-9'):
            out = os.path.join(tmp, 'z%s.zip' % opt)
            zipcmd([opt, out] + names)
            zipcmd(['-z', out], b'   Manual R2A [EN/LZN 702 0012 R2A] STA:REL\n')
            put('zip%s-comment.zip' % opt, open(out, 'rb').read())
        out = os.path.join(tmp, 'zc.zip')
        # One line per name, in order: the kvoversion.txt line is the fourth.
        comments = b'CAT:"1|0|ff" TITLE: "x y"\n[not an id]\nTITLE: "Three"\nINFO: "3 4"\nCAT:"a|b"\n'
        zipcmd(['-X', '-c', out] + names, comments)
        put('zip-member-comments.zip', open(out, 'rb').read())
        # zip writes data descriptors only when its output cannot seek.
        piped = subprocess.run(['zip', '-q', '-', 'a.txt', 'sub/b.bin'], cwd=src, env=env, check=True,
                               stdout=subprocess.PIPE).stdout
        put('zip-piped-descriptors.zip', piped)

    buf = _Unseekable()
    with zipfile.ZipFile(buf, 'w') as z:
        z.comment = b'Py lib [sv/x y]'
        for name, data, comment, method in [
                ('doc.html', html, b'TITLE: "Doc" CAT:"1|2"', zipfile.ZIP_DEFLATED),
                ('kvoversion.txt', b'3.4\n', b'INFO: "3 4"', zipfile.ZIP_STORED),
                ('img/logo.bin', binary, b'', zipfile.ZIP_STORED)]:
            info = zipfile.ZipInfo(name, (1990, 1, 1, 0, 0, 0))
            info.compress_type = method
            info.comment = comment
            z.writestr(info, data)
    put('zipfile-pipe-descriptors.zip', buf.getvalue())

    out = io.BytesIO()
    with zipfile.ZipFile(out, 'w') as z:
        for name, data in [('empty.txt', b''), ('t.txt', t2), ('[x]1', b'x1'), ('Y1', b'y')]:
            info = zipfile.ZipInfo(name, (1990, 1, 1, 0, 0, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(info, data)
    put('zipfile-deflated.zip', out.getvalue())
    out = io.BytesIO()
    with zipfile.ZipFile(out, 'w') as z:
        with z.open(zipfile.ZipInfo('big.txt', (1990, 1, 1, 0, 0, 0)), 'w', force_zip64=True) as f:
            f.write(t2[:100])
    put('zipfile-zip64.zip', out.getvalue())

    # Every method in one archive, and the smallest archive of all.
    legacy = text(rng, 900)
    members = [dict(name=b'stored.txt', data=legacy[:100]),
               dict(name=b'shrunk.txt', data=legacy, packed=shrink(legacy), method=1)]
    for factor in range(1, 5):
        members.append(dict(name=b'reduced%d.txt' % factor, data=legacy, packed=reduce(legacy, factor),
                            method=1 + factor))
    for flags in (0, 2, 4, 6):
        members.append(dict(name=b'imploded%d.txt' % flags, data=legacy, packed=implode(legacy, flags),
                            method=6, flags=flags))
    members.append(dict(name=b'deflated.txt', data=legacy, packed=deflate(legacy), method=8,
                        comment=b'CAT:"3|4"'))
    members.append(dict(name=b'descriptor.txt', data=legacy[:200], packed=deflate(legacy[:200]), method=8,
                        flags=8, extra=b'UT\x05\x00\x01\x00\x00\x00\x00', cextra=b''))
    put('every-method.zip', archive(members, b'Legacy [de/lzn 1 2]'))
    put('empty.zip', archive([]))


def decoder_seeds(rng, put):
    t = text(rng, 3000)
    short = b'Hello, hello, hello world.\n'
    runs = b'a' * 600 + b'b' * 40 + b'a' * 700
    mixed = text(rng, 1200) + bytes(rng.randrange(256) for _ in range(300)) + text(rng, 1200)
    far = bytes(rng.randrange(256) for _ in range(600))
    far = far + b'\0' * (32768 - 600 - 10) + far  # one match at the edge of the window

    for name, data, level, strategy in [
            ('text', t, 9, zlib.Z_DEFAULT_STRATEGY), ('fixed', short * 8, 9, zlib.Z_FIXED),
            ('huffman-only', t[:800], 9, zlib.Z_HUFFMAN_ONLY), ('rle', runs, 9, zlib.Z_RLE),
            ('stored-blocks', t[:400], 0, zlib.Z_DEFAULT_STRATEGY), ('empty', b'', 9, zlib.Z_DEFAULT_STRATEGY),
            ('one-byte', b'x', 9, zlib.Z_DEFAULT_STRATEGY), ('far-distance', far, 9, zlib.Z_DEFAULT_STRATEGY),
            ('mixed', mixed, 6, zlib.Z_DEFAULT_STRATEGY)]:
        put('inflate', name, decoder_input(data, deflate(data, level, strategy)))
    put('inflate', 'descriptor', decoder_input(short, deflate(short), mode=4))

    vectors = []
    for flags in (0, 2, 4, 6):
        vectors.append(('flags%d-text' % flags, t[:2000], implode(t[:2000], flags), flags))
    vectors.append(('uniform-trees', short * 4, implode(short * 4, 0, uniform=True), 0))
    vectors.append(('uniform-literal-tree', short * 4, implode(short * 4, 4, uniform=True), 4))
    vectors.append(('long-runs', runs, implode(runs, 2), 2))
    vectors.append(('literal-only', bytes(range(200)), implode(bytes(range(200)), 0), 0))
    vectors.append(('mixed', mixed, implode(mixed, 6), 6))
    for name, data, packed, flags in vectors:
        zip_bytes = archive([dict(name=b'x', data=data, packed=packed, method=6, flags=flags)])
        if not unzip_tests(zip_bytes):
            sys.exit('make_corpus: unzip -t refuses implode vector ' + name)
        put('explode', name, decoder_input(data, packed, mode=flags >> 1))
    before = bytes(10) + t[:300]
    put('explode', 'before-start', decoder_input(before, implode(t[:300], 0, before_start=True)))

    esc = bytes([144, 1, 2, 144, 144]) * 3 + t[:200]
    for factor in range(1, 5):
        put('unreduce', 'factor%d-text' % factor, decoder_input(t[:1500], reduce(t[:1500], factor),
                                                                mode=factor - 1))
        put('unreduce', 'factor%d-no-followers' % factor,
            decoder_input(esc + runs[:400], reduce(esc + runs[:400], factor, followers=False), mode=factor - 1))
    put('unreduce', 'mixed', decoder_input(mixed, reduce(mixed, 4), mode=3))
    # 144 V D into the zeros before the start (factor 1: length 4 + 3, distance 21).
    seq = [ord('a'), 144, 4, 20, ord('b')]
    put('unreduce', 'before-start', decoder_input(b'a' + bytes(7) + b'b', code_followers(seq, False)))

    for name, data, clear in [('short', short, None), ('kwkwk', b'a' * 2000, None), ('text', t, None),
                              ('mixed-widen', mixed + t, None), ('partial-clear', t[:1500], 700),
                              ('run', b'z' * 5000, None)]:
        packed = shrink(data, clear)
        zip_bytes = archive([dict(name=b'x', data=data, packed=packed, method=1)])
        if not unzip_tests(zip_bytes):
            sys.exit('make_corpus: unzip -t refuses shrink vector ' + name)
        put('unshrink', name, decoder_input(data, packed))


def write_seeds(root):
    rng = random.Random(20240606)
    for t in ('reader',) + DECODERS:
        d = os.path.join(root, t)
        shutil.rmtree(d, ignore_errors=True)
        os.makedirs(d)

    def put_reader(name, data):
        with open(os.path.join(root, 'reader', name), 'wb') as f:
            f.write(data)

    def put_decoder(target, name, data):
        with open(os.path.join(root, target, name), 'wb') as f:
            f.write(data)

    reader_seeds(rng, put_reader)
    decoder_seeds(rng, put_decoder)
    ruvx_seeds(root)
    sgml_seeds(root)


# Small word indexes (prefix table of dimension 2) of each index type and
# both posting widths, written by the tests' independent index builder.
RUVX_BUILDER = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tests', 'bmod', 'unzipd', 'search',
                            'ruvx_build.py')


def ruvx_seeds(root):
    d = os.path.join(root, 'ruvx')
    shutil.rmtree(d, ignore_errors=True)
    os.makedirs(d)
    words = [b'A', b'AB', b'AB1', b'ABC', b'1ST', b'NETWORK', b'ZZZ', b'\xc4PFEL', b'\xb0\xa1\xb0\xa2',
             b'SAFETY|2.10|', b'abc|1|x']
    lines = []
    for name, itype, wide in [('fulltext', 0, True), ('title16', 1, False), ('ctw', 2, True), ('docno', 3, False),
                              ('topictitle', 5, True)]:
        lines += ['type %d' % itype, 'dimension 2', 'postings16 %d' % (0 if wide else 1)]
        lines += ['doc 4 %d %s' % (50 * (i % 2), ('d%d.html' % i).encode().hex()) for i in range(4)]
        for i, w in enumerate(words):
            lines.append('word %s %s' % (w.hex(), ' '.join('%d:%d' % (doc, i + 1) for doc in range(i % 4 + 1))))
        lines += ['image ' + os.path.join(d, name), 'end']
    with tempfile.NamedTemporaryFile('w', suffix='.txt', delete=False) as f:
        f.write('\n'.join(lines) + '\n')
    try:
        subprocess.run([sys.executable, RUVX_BUILDER, f.name], check=True)
    finally:
        os.unlink(f.name)


# The scanner's golden inputs, then one input per literal mode, marked
# section and declaration form; named by what they hold.
SGML_SEEDS = [
    ('text-tags', b'a<b>c</b>'),
    ('quoted-values', b'<a href="x" t=\'y\'>'),
    ('unquoted-valueless', b'<a b=c d>'),
    ('quote-in-unquoted', b'<a href=x"y>'),
    ('empty-tag-blank', b'<br />'),
    ('short-empty-tag', b'<br/>'),
    ('short-tag-text', b'<p/text/'),
    ('short-tag-attr', b'<p/a/ b'),
    ('xml-decl', b'<?xml version="1.0"?>'),
    ('comment', b'<!-- x -->'),
    ('doctype-public', b'<!DOCTYPE tavr PUBLIC "-//X//EN">'),
    ('doctype-subset-entity', b'<!DOCTYPE x [<!ENTITY % e "v">]>'),
    ('cdata-blanks', b'<![ CDATA [ <a> ]]>'),
    ('cdata-packed', b'<![CDATA[x]]>'),
    ('sdi-doctype', b'<!DOCTYPE TAVR PUBLIC "-//VANDROVE//DTD TAVR 1/X//EN" [\n'
                    b'<!--Document generated by VESKO SDI module-->\n]>\n'),
    ('preform-xtavr', b'<!DOCTYPE TAVR PUBLIC "-//VANDROVE//DTD XTAVR 1//EN">'
                      b'<PREFORM>a<b>c<EMPH>y</EMPH><SUBSCRIPT>z</PREFORM>t'),
    ('asis', b'<ASIS>x<b>y</Asis>z<ASIS/>w'),
    ('code-vara', b'<!DOCTYPE VARA><CODE>a<b></CODE>'),
    ('entity-expanded', b'<!ENTITY % ab "x y"><!ENTITY % e "">%ab; %e; %x %zz;'),
    ('entity-in-tag', b'<!ENTITY % x "<img/src=x/onerror=alert(1)>"><a%x;>'),
    ('entity-cdata-section', b'<!ENTITY % e "CDATA"><![ %e; [<b>]]>'),
    ('attlist-comment', b'<!ATTLIST SPAN %attrs; -- c -->'),
    ('pi-attributes', b'<?pi ' + b' '.join(b'a%d=%d' % (i, i) for i in range(17)) + b'?>'),
    ('high-bytes', b'<p t="\xe9\t\n\xff">\x80\r\n\xfe</p><!x \xff \x80>'),
    ('tavr-document', b'<!DOCTYPE TAVR PUBLIC "-//VANDROVE//DTD TAVR 1/X//EN"><TAVR><BODY><CHL1><P>x'
                      b'<XREF ID=a><LANGUAGE LANG=en>t</LANGUAGE><F>y<EMPH>z</EMPH></F></CHL1></BODY></TAVR>'),
]


def sgml_seeds(root):
    d = os.path.join(root, 'sgml')
    shutil.rmtree(d, ignore_errors=True)
    os.makedirs(d)
    for name, data in SGML_SEEDS:
        with open(os.path.join(d, name), 'wb') as f:
            f.write(data)


def from_zips(zipdir, out):
    targets = {1: 'unshrink', 2: 'unreduce', 3: 'unreduce', 4: 'unreduce', 5: 'unreduce', 6: 'explode',
               8: 'inflate'}
    for t in DECODERS:
        os.makedirs(os.path.join(out, t), exist_ok=True)
    count = 0
    for entry in sorted(os.listdir(zipdir)):
        path = os.path.join(zipdir, entry)
        if not entry.endswith('.zip') or not os.path.isfile(path):
            continue
        raw = open(path, 'rb').read()
        with zipfile.ZipFile(path) as z:
            for i, info in enumerate(z.infolist()):
                target = targets.get(info.compress_type)
                if not target or info.file_size > MAX_MEMBER:
                    continue
                off = info.header_offset
                nlen, elen = struct.unpack('<HH', raw[off + 26:off + 30])
                start = off + 30 + nlen + elen
                packed = raw[start:start + info.compress_size]
                if info.compress_type == 6:
                    mode = info.flag_bits >> 1 & 3
                elif target == 'unreduce':
                    mode = info.compress_type - 2
                else:
                    mode = 0
                head = bytes([mode]) + struct.pack('<I', info.file_size)[:3] + struct.pack('<I', info.CRC)
                with open(os.path.join(out, target, '%s-%d' % (entry[:-4], i)), 'wb') as f:
                    f.write(head + packed)
                count += 1
    print('make_corpus: %d members wrapped from %s' % (count, zipdir))


def main(argv):
    if len(argv) >= 2 and argv[1] == 'ruvx-seeds':
        ruvx_seeds(argv[2] if len(argv) > 2 else os.path.join(os.path.dirname(os.path.abspath(__file__)), 'corpus'))
        return
    if len(argv) >= 2 and argv[1] == 'sgml-seeds':
        sgml_seeds(argv[2] if len(argv) > 2 else os.path.join(os.path.dirname(os.path.abspath(__file__)), 'corpus'))
        return
    if len(argv) >= 2 and argv[1] == 'seeds':
        write_seeds(argv[2] if len(argv) > 2 else os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                                 'corpus'))
    elif len(argv) == 4 and argv[1] == 'from-zips':
        from_zips(argv[2], argv[3])
    else:
        sys.exit(__doc__)


if __name__ == '__main__':
    main(sys.argv)

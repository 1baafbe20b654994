"""Seeded pages through post-processing, for the sanitizer build.

Usage: python3 postprocess_fuzz.py <path-to-postprocess_probe> [seed]

Pages of up to 2 KB are built from pieces of every construct the pass
recognises, cut at random places, and from plain text, with varied request
fields; besides them, each construct cut after each of its bytes at the
page's end. All go through one probe process, each page in a heap block of
exactly its size. Checks:
- the probe ends with status 0 (a sanitizer report aborts it: the page it
  stopped at is printed with the seed and the report);
- every pass gives 1 and leaves the document buffer as it was;
- a page that is not text goes out as it is, without an output buffer;
- a text page holding no recognised construct, with no search words, comes
  out as its input up to its first NUL with bytes 128-138 mapped to line
  drawing (kept with option 0x80);
- a request without ID and IX asks no document server.
Prints the first faults and their count; exits 0 only when there are none.
"""

import random
import re
import subprocess
import sys

PAGES = 10000
MAX_PAGE = 2048
DEFAULT_SEED = 20261211

OPT_NO_BYTE_MAPPING = 0x80
OPT_PLAIN_FILE_LINKS = 0x100

CONSTRUCTS = [
    b"<!--@@listdb x",
    b"<!--@@listdb default x-->",
    b"http:/kivo?ID=1&FN=a.html",
    b'<a href="http:/kivo?AC=LINK&amp;LI=EN/LZT1&amp;FN=b.html">',
    b"HTTP:/kivo",
    b"qzl:/kivo?",
    b'<img src="http:/kivo?ac=image&amp;im=prel.gif">',
    b"<h2>",
    b"</h2>",
    b'<h3 class="x">',
    b'<span class="CHAPNUMBER">',
    b'class="reference"',
    b'class="glossary"',
    b'<del class="atictdel">',
    b"</del>",
    b'<div class="DOCTITLE">',
    b'<a name="CHAPTER1.2">',
    b'<a name="TITLE">',
    b"</a>",
    b"<title>",
    b"</title>",
    b"<script>",
    b"</script>",
    b"</head>",
    b"<body",
    b"</body>",
    b"</html>",
    b"<!--@BODY-->",
    b"/h2",
    b"<html><FRAMESET rows='*,0'>  <FRAME NAME=\"KIVOEXEL\" SRC=\"",
    b'<td width="34">',
    b"<script>zmainchg",
]

# Pieces that hold no construct on their own; "<" is never followed by a
# letter, '/', '!' or '\' here, though joined pieces may still form one (the
# page is then not held to the identity).
PLAIN = [
    b"the", b"system", b"Install", b"value", b"kivo", b"html", b"h2", b"a", b"td",
    b" ", b" ", b" ", b"\n", b"\t", b"\r\n", b"12", b"3.4",
    b"&amp;", b"&nbsp;", b"&", b";", b'"', b"'", b"=", b">", b"< ", b"<=", b"<1", b"<<",
    b"http:", b"/kivo", b"qzl", b"/", b"?", b"-",
    b"\x7f", b"\x8c", b"\x8d", b"\xe9", b"\xff",
] + [bytes([c]) for c in range(0x80, 0x8C)]

BYTE_MAP = {128: b"|", 129: b"+", 134: b"+", 136: b"+", 130: b"\\", 131: b"\\",
            132: b"-", 133: b"-", 135: b"-", 137: b"/", 138: b"/"}

# A page that holds one of these is taken as holding a construct.
CONSTRUCT_START = re.compile(rb"<[A-Za-z/!\\]|(?i:http|qzl):/")

FILE_NAMES = [b"1551-ABC10101Uen.A.html", b"kivodoc.html", b"kivotbar.html", None]
ACTIONS = [b"LINK", b"INFO", b"SEARCH", None]
OPTIONS = [0, OPT_NO_BYTE_MAPPING, OPT_PLAIN_FILE_LINKS]
MIME_TYPES = ["-"] * 6 + ["text/html", "text/plain", "image/svg+xml", "application/pdf", "image/gif"]

# The live context of the heading and title rules: a document page past its
# body marker, inside a heading.
DOCUMENT_HEAD = (b"<html><head><title>t</title></head><body><!--@BODY-->"
                 b'<div class="DOCTITLE">d</div><h2>')


def is_text(mime):
    return mime == "-" or mime.startswith("text") or mime.startswith("image/svg+xml")


def random_fields(rng):
    fields = []
    for name, values in ((b"FN", FILE_NAMES), (b"AC", ACTIONS)):
        value = rng.choice(values)
        if value is not None:
            fields.append((name, value))
    # Rare: these make the pass ask the document server, which refuses.
    if rng.random() < 0.1:
        fields.append((b"ID", b"12"))
    if rng.random() < 0.1:
        fields.append((b"IX", b"FILTER_LIBTIT"))
    if rng.random() < 0.2:
        fields.append((b"DB", b"db1"))
    if rng.random() < 0.1:
        fields.append((b"PA", rng.choice([b"system", b'"the system"', b"instal* kivo"])))
    if rng.random() < 0.05:
        fields.append((b"AN", b"ALL"))
    return fields


def random_page(rng):
    plain_only = rng.random() < 0.4
    target = rng.randint(0, MAX_PAGE)
    pieces = []
    size = 0
    while size < target:
        if not plain_only and rng.random() < 0.3:
            piece = rng.choice(CONSTRUCTS)
            if rng.random() < 0.3:
                piece = piece[:rng.randint(1, len(piece))]
        elif rng.random() < 0.003:
            piece = b"\0"
        else:
            piece = rng.choice(PLAIN)
        pieces.append(piece)
        size += len(piece)
    return b"".join(pieces)[:target]


def pages(rng):
    """(fields, options, mime, page) of every case, the random ones first."""
    for _ in range(PAGES):
        yield random_fields(rng), rng.choice(OPTIONS), rng.choice(MIME_TYPES), random_page(rng)
    document = [(b"FN", b"1551-ABC10101Uen.A.html"), (b"AC", b"LINK")]
    for construct in CONSTRUCTS:
        for end in range(1, len(construct) + 1):
            for head, fields in ((b"", []), (DOCUMENT_HEAD, document)):
                yield fields, 0, "-", head + construct[:end]


def expected_identity(page, options):
    text = page.split(b"\0", 1)[0]
    if options & OPT_NO_BYTE_MAPPING:
        return text
    return b"".join(BYTE_MAP.get(c, bytes([c])) for c in text)


def wants_identity(fields, mime, page):
    names = {name for name, _ in fields}
    return (is_text(mime) and not names & {b"PA", b"FT"} and
            not CONSTRUCT_START.search(page.split(b"\0", 1)[0]))


def record(fields, options, mime, page, echo):
    head = b"%d %x %d %s %d\n" % (len(page), options, 1 if echo else 0, mime.encode(), len(fields))
    return head + b"".join(name + b"=" + value + b"\n" for name, value in fields) + page + b"\n"


def read_answers(out, cases):
    """The answers in order; stops at the first incomplete one."""
    answers = []
    pos = 0
    for case in cases:
        end = out.find(b"\n", pos)
        if end < 0:
            break
        result, made, length, intact, asked = (int(x) for x in out[pos:end].split())
        pos = end + 1
        body = None
        if case[-1]:
            if len(out) < pos + length + 1:
                break
            body = out[pos:pos + length]
            pos += length + 1
        answers.append((result, made, length, intact, asked, body))
    return answers


def describe(case, whole=False):
    fields, options, mime, page, _ = case
    shown = page if whole or len(page) <= 160 else page[:160] + b"..."
    return "fields %r, options 0x%x, mime %s, %d bytes %r" % (
        [(n.decode(), v.decode()) for n, v in fields], options, mime, len(page), shown)


def difference(got, want):
    at = next((i for i, (a, b) in enumerate(zip(got, want)) if a != b), min(len(got), len(want)))
    return "output of %d bytes differs from the %d expected at %d: %r, want %r" % (
        len(got), len(want), at, got[max(0, at - 20):at + 40], want[max(0, at - 20):at + 40])


def fault_of(case, answer):
    fields, options, mime, page, echo = case
    result, made, length, intact, asked, body = answer
    names = {name for name, _ in fields}
    if result != 1:
        return "result %d" % result
    if not intact:
        return "the document buffer was written"
    if asked and not names & {b"ID", b"IX"}:
        return "asked a document server"
    if not is_text(mime):
        if made or body != page:
            return "a page that is not text was changed"
    elif echo:
        want = expected_identity(page, options)
        if body != want:
            return difference(body, want)
    return None


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    seed = int(sys.argv[2]) if len(sys.argv) == 3 else DEFAULT_SEED
    print("seed %d" % seed)
    rng = random.Random(seed)
    cases = []
    for fields, options, mime, page in pages(rng):
        echo = not is_text(mime) or wants_identity(fields, mime, page)
        cases.append((fields, options, mime, page, echo))
    data = b"".join(record(*case) for case in cases)
    done = subprocess.run([sys.argv[1]], input=data, capture_output=True, check=False)
    answers = read_answers(done.stdout, cases)
    if done.returncode != 0 or len(answers) != len(cases):
        at = len(answers)
        print("postprocess_probe ended with status %d after %d of %d pages" % (done.returncode, at, len(cases)))
        if at < len(cases):
            print("seed %d, page %d: %s" % (seed, at, describe(cases[at], whole=True)))
        print(done.stderr.decode(errors="replace")[-6000:])
        return 1

    faults = 0
    for index, (case, answer) in enumerate(zip(cases, answers)):
        fault = fault_of(case, answer)
        if fault:
            faults += 1
            if faults <= 20:
                print("seed %d, page %d: %s\n  %s" % (seed, index, fault, describe(case)))
    checked = sum(1 for case in cases if case[-1])
    print("seed %d: %d pages, %d held to their input, %d faults" % (seed, len(cases), checked, faults))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())

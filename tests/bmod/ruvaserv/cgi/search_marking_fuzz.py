"""Seeded pages with search words through post-processing.

Usage: python3 search_marking_fuzz.py <path-to-postprocess_probe> [seed]

Every page goes through one probe process twice, with its search words and
without, each time in a heap block of exactly its size. Two sets:
- mixed pages of 0.5-4 KB (text, tags, entities, bare '&', body scripts,
  program links, markers, headings, deleted text, "</body>", "</html>",
  cut at random places) with one to four words (plain, '*' and '?'
  wildcards, complex expressions) or a phrase: the marked output with every
  hit anchor, its "</a>", empty anchor and phrase highlight pair taken out
  must equal the output without words, byte for byte;
- generated document pages with plain words: the number of hit anchors
  equals a reference count of the words' delimited occurrences in the body
  text, and html.parser finds SearchMatch1..N in document order, none in a
  script, the title or an attribute value.
The probe must end with status 0: a sanitizer report aborts it, and the page
it stopped at is printed with the seed.
"""

import html.parser
import os
import random
import re
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from postprocess_fuzz import read_answers, record  # noqa: E402

MIXED_PAGES = 10000
GENERATED_PAGES = 2000
DEFAULT_SEED = 20261211

DOCUMENT = [(b"AC", b"LINK"), (b"FN", b"1551-ABC10101Uen.A.html")]

MIXED_PIECES = [
    b"the", b"system", b"System", b"install", b"installation", b"kivo", b"h2", b"amp", b"R", b"D",
    b"systems", b"subsystem", b"sys-tem", b"the_system", b"xaab", b"aab", b"ab",
    b" ", b" ", b" ", b"\n", b", ", b". ", b"(", b")", b"-", b"#",
    b"&amp;", b"&nbsp;", b"&#65;", b"&#x41;", b"&", b";", b"&sys;", b"R&D",
    b"<b>", b"</b>", b"<i>", b"</i>", b"<p>", b"</p>", b'<p title="the system">',
    b'<a href="x.html">', b"</a>", b"<a name=\"CHAPTER2.1\">",
    b"<h2>", b"</h2>", b'<h3 class="reference">', b"</h3>", b'<span class="CHAPNUMBER">2.1</span>',
    b'<del class="atictdel">', b"</del>", b"<script>var system = 1;</script>", b"<script>",
    b"</script>", b"<!--@BODY-->", b"<!--@@listdb x-->", b"<!-- the system -->",
    b"http:/kivo?FN=system.html", b'<a href="http:/kivo?AC=LINK&amp;FN=b.html">', b"qzl:/kivo?ID=2",
    b"xhttp:/kivo", b"</body>", b"</html>", b"/h2", b"\x85", b"\xe9", b"\xb4\xc1",
]

MIXED_WORDS = [
    b"system", b"install*", b"*tion", b"sys?em", b"the system", b"system kivo",
    b"install* the amp", b"ab aab xaab", b"*ab", b"the, system; h2 d", b"R D amp",
    b"system !kivo", b"a*", b"\xb4\xc1", b"*?",
]
MIXED_PHRASES = [b'"the system"', b'"install"', b'"R&amp;D"', b'"the  system"', b'""']

# Hit anchors and phrase highlights as the probe's request writes them
# (no configured highlight pair).
MARKS = re.compile(rb'<a name="SearchMatch\d+" class="csm"></a>|<a name="SearchMatch\d+" class="csm">([^<]*)</a>'
                   rb'|<font style="background-color:#ffeeaa">|</font>')
# The search field that ends the page's own address in the document-TOC
# script.
OWN_ADDRESS_WORDS = re.compile(rb'&(?:PA|FT)=[^"]*(?=";\n)')
ANCHOR = re.compile(rb'<a name="SearchMatch\d+" class="csm">')

# The word characters of the delimiter rule; every other byte delimits.
WORD_BYTES = set(b"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789#-_")
ENTITY = re.compile(rb"&(?:[A-Za-z][A-Za-z0-9]{0,31}|#[0-9]{1,7}|#[xX][0-9A-Fa-f]{1,6});")

GENERATED_WORDS = [b"system", b"install", b"kivo", b"h2"]
TOKENS = [b"the", b"a", b"systems", b"subsystem", b"sys-tem", b"system_x", b"#system", b"installing",
          b"reinstall", b"kivodoc", b"h2o", b"text", b"value", b"\xe9t\xe9", b"12"]
SEPARATORS = [b" ", b" ", b"\n", b", ", b". ", b"; ", b" (", b") ", b"/", b" - ", b"&amp;", b"&nbsp;", b"\xe9"]
INLINE = [(b"<b>", b"</b>"), (b"<i>", b"</i>"), (b'<a href="d.html">', b"</a>"), (b'<span title="system">',
                                                                                   b"</span>")]


def mixed_page(rng):
    target = rng.randint(512, 4096)
    pieces = [b"<html><head><title>the system</title></head><body>\n"]
    size = len(pieces[0])
    while size < target:
        piece = rng.choice(MIXED_PIECES)
        if rng.random() < 0.05:
            piece = piece[:rng.randint(1, len(piece))]
        pieces.append(piece)
        size += len(piece)
    page = b"".join(pieces)
    if rng.random() < 0.2:
        page = page[:rng.randint(len(page) // 2, len(page))]
    return page


def mixed_fields(rng):
    fields = list(DOCUMENT) if rng.random() < 0.7 else []
    if rng.random() < 0.2:
        fields.append((b"ST", rng.choice([b"ADVSEARCH", b"INSTANT", b"DocSearch"])))
    name = b"FT" if rng.random() < 0.1 else b"PA"
    words = rng.choice(MIXED_PHRASES) if rng.random() < 0.2 else rng.choice(MIXED_WORDS)
    # Last, so the page's own address in the document-TOC script differs
    # from the one without words only by its end.
    fields.append((name, words))
    return fields


def may_precede_tag(token, word):
    """A token after which a tag may follow directly: no proper prefix of the
    word ends it, so no match is in progress across the tag."""
    low = token.lower()
    return not any(low.endswith(word[:n]) for n in range(1, len(word)))


def generated_page(rng, words):
    """A document page whose body text holds the words among other tokens;
    the body's tags never split a word."""
    parts = [b"<html><head><title>system install kivo</title></head><body>\n"]
    if rng.random() < 0.5:
        parts.append(b"<!--@BODY-->\n")
    for _ in range(rng.randint(3, 30)):
        if rng.random() < 0.1:
            parts.append(b"<script>var system = 'install kivo';</script>\n")
            continue
        parts.append(b"<p>")
        for _ in range(rng.randint(1, 25)):
            token = rng.choice(words) if rng.random() < 0.3 else rng.choice(TOKENS)
            if rng.random() < 0.5:
                token = token.upper() if rng.random() < 0.5 else token.capitalize()
            if rng.random() < 0.15 and all(may_precede_tag(token, w) for w in words):
                start, end = rng.choice(INLINE)
                parts += [start, token, end]
            else:
                parts.append(token)
            parts.append(rng.choice(SEPARATORS))
        parts.append(b"</p>\n")
    parts.append(b"</body></html>\n")
    return b"".join(parts)


def reference_count(page, words):
    """Occurrences of the words in the body text outside tags, scripts and
    entities, with a delimiter (or the page's end) on both sides."""
    text = bytearray(page)
    body = page.find(b">", page.find(b"<body")) + 1
    for start in range(body):
        text[start] = 0
    for span in re.finditer(rb"<script.*?</script|<[^>]*>?|" + ENTITY.pattern, page, re.S):
        for at in range(max(span.start(), body), span.end()):
            text[at] = 0
    lower = bytes(text).lower()
    count = 0
    for word in words:
        w = word.lower()
        for found in re.finditer(re.escape(w), lower):
            at, end = found.start(), found.end()
            if 0 in text[at:end]:
                continue
            if at > 0 and page[at - 1] in WORD_BYTES:
                continue
            if end < len(page) and page[end] in WORD_BYTES:
                continue
            count += 1
    return count


class AnchorOrder(html.parser.HTMLParser):
    """Hit anchors in document order, and the places they must not be."""

    def __init__(self):
        super().__init__(convert_charrefs=False)
        self.names = []
        self.misplaced = []
        self.inside = []

    def handle_starttag(self, tag, attrs):
        for name, value in attrs:
            if value and "SearchMatch" in value and name != "name":
                self.misplaced.append("attribute %s of <%s>" % (name, tag))
        if tag in ("script", "title"):
            self.inside.append(tag)
        if tag == "a":
            name = dict(attrs).get("name") or ""
            if name.startswith("SearchMatch"):
                self.names.append(name)
                if self.inside:
                    self.misplaced.append("%s inside <%s>" % (name, self.inside[-1]))

    def handle_endtag(self, tag):
        if tag in ("script", "title") and self.inside:
            self.inside.pop()


def run_probe(probe, cases):
    data = b"".join(record(fields, 0, "-", page, True) for fields, page in cases)
    done = subprocess.run([probe], input=data, capture_output=True, check=False)
    answers = read_answers(done.stdout, [(fields, 0, "-", page, True) for fields, page in cases])
    return done, answers


def mixed_fault(marked, plain):
    result, _, _, intact, _, body = marked
    if result != 1 or plain[0] != 1:
        return "result %d, %d without words" % (result, plain[0])
    if not intact:
        return "the document buffer was written"
    stripped = OWN_ADDRESS_WORDS.sub(b"", MARKS.sub(lambda m: m.group(1) or b"", body))
    if stripped != plain[5]:
        at = next((i for i, (a, b) in enumerate(zip(stripped, plain[5])) if a != b),
                  min(len(stripped), len(plain[5])))
        return "marks taken out differ at %d: %r, without words %r" % (
            at, stripped[max(0, at - 40):at + 40], plain[5][max(0, at - 40):at + 40])
    return None


def generated_fault(answer, page, words):
    result, _, _, _, _, body = answer
    if result != 1:
        return "result %d" % result
    want = reference_count(page, words)
    got = len(ANCHOR.findall(body))
    if got != want:
        return "%d anchors, the reference counts %d" % (got, want)
    order = AnchorOrder()
    order.feed(body.decode("latin-1"))
    order.close()
    numbered = ["SearchMatch%d" % n for n in range(1, got + 1)]
    if order.names != numbered:
        return "anchors %s, want %s" % (order.names[:10], numbered[:10])
    if order.misplaced:
        return "misplaced: %s" % order.misplaced[:3]
    return None


def report(seed, done, answers, cases):
    print("postprocess_probe ended with status %d after %d of %d pages" % (done.returncode, len(answers), len(cases)))
    if len(answers) < len(cases):
        fields, page = cases[len(answers)]
        print("seed %d, record %d: fields %r, %r" % (seed, len(answers), fields, page))
    print(done.stderr.decode(errors="replace")[-6000:])


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    probe = sys.argv[1]
    seed = int(sys.argv[2]) if len(sys.argv) == 3 else DEFAULT_SEED
    print("seed %d" % seed)
    rng = random.Random(seed)

    cases = []
    for _ in range(MIXED_PAGES):
        page, fields = mixed_page(rng), mixed_fields(rng)
        cases += [(fields, page), ([f for f in fields if f[0] not in (b"PA", b"FT")], page)]
    generated = []
    for _ in range(GENERATED_PAGES):
        words = rng.sample(GENERATED_WORDS, rng.randint(1, 4))
        generated.append((words, generated_page(rng, words)))
        cases.append(((DOCUMENT if rng.random() < 0.8 else []) + [(b"PA", b" ".join(words))], generated[-1][1]))

    done, answers = run_probe(probe, cases)
    if done.returncode != 0 or len(answers) != len(cases):
        report(seed, done, answers, cases)
        return 1
    faults = []
    for n in range(MIXED_PAGES):
        fault = mixed_fault(answers[2 * n], answers[2 * n + 1])
        if fault:
            faults.append("mixed page %d, fields %r: %s" % (n, cases[2 * n][0], fault))
    for n, (words, page) in enumerate(generated):
        fault = generated_fault(answers[2 * MIXED_PAGES + n], page, words)
        if fault:
            faults.append("generated page %d, words %r: %s\n  %r" % (n, words, fault, page[:300]))
    for fault in faults[:20]:
        print("seed %d, %s" % (seed, fault))
    marked = sum(len(ANCHOR.findall(answers[2 * n][5])) for n in range(MIXED_PAGES))
    counted = sum(len(ANCHOR.findall(answer[5])) for answer in answers[2 * MIXED_PAGES:])
    print("seed %d: %d mixed pages (%d hits), %d generated pages (%d hits), %d faults" % (
        seed, MIXED_PAGES, marked, GENERATED_PAGES, counted, len(faults)))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())

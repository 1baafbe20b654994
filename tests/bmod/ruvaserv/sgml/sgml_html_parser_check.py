"""Differential check: the SGML scanner against python's html.parser.

Usage: python3 sgml_html_parser_check.py <path-to-sgmldump> [seed]

Scans the HTML fixtures (html_fixtures/ beside this script and the sample
documents) and DOCUMENTS seeded generated pages with `sgmldump --nodes`,
turns both the node lists and html.parser's events into one event stream
and compares them. The pages hold only what both read alike: no script or
style, short tag, literal element, marked section, processing
instruction, "%e;", comment holding "--", "&" in a value, valueless
attribute before "/>" or "<" that opens no tag.

Normalised: the scanner's tag and attribute names lower-cased; html.parser
runs with convert_charrefs=False and its entity and character references
are joined back into the text; CR dropped from text; in html.parser's
values LF is a blank and other codes below 32 are dropped; a tag whose
last node carries the empty-tag flag, and html.parser's start-end tag,
are a start and an end. Prints the first mismatches and their count;
exits 0 only when there are none.
"""

import html.parser
import os
import random
import shlex
import sys
import tempfile

import sgmldump_rows as rows

DOCUMENTS = 2000
DEFAULT_SEED = 20250125
HERE = os.path.dirname(os.path.abspath(__file__))
FIXTURE_DIRS = [os.path.join(HERE, 'html_fixtures'), os.path.join(HERE, '..', '..', '..', '..', 'samples', 'docs')]


def merge_text(events):
    out = []
    for e in events:
        if e[0] == 'data':
            if not e[1]:
                continue
            if out and out[-1][0] == 'data':
                out[-1] = ('data', out[-1][1] + e[1])
                continue
        out.append(e)
    return out


def decl_words(words):
    return tuple([words[0].upper()] + words[1:]) if words else ()


class Oracle(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=False)
        self.events = []

    @staticmethod
    def value(v):
        if v is None:
            return None
        return ''.join(' ' if c == '\n' else c for c in v if c == '\n' or ord(c) >= 32)

    def handle_starttag(self, tag, attrs):
        self.events.append(('start', tag, tuple((k, self.value(v)) for k, v in attrs)))

    def handle_startendtag(self, tag, attrs):
        self.handle_starttag(tag, attrs)
        self.events.append(('end', tag))

    def handle_endtag(self, tag):
        self.events.append(('end', tag))

    def handle_data(self, data):
        self.events.append(('data', data.replace('\r', '')))

    def handle_entityref(self, name):
        self.events.append(('data', '&%s;' % name))

    def handle_charref(self, name):
        self.events.append(('data', '&#%s;' % name))

    def handle_comment(self, data):
        self.events.append(('comment', data))

    def handle_decl(self, decl):
        self.events.append(('decl', decl_words(shlex.split(decl))))

    def handle_pi(self, data):
        self.events.append(('pi', data))

    def unknown_decl(self, data):
        self.events.append(('unknown_decl', data))


def oracle_events(text):
    p = Oracle()
    p.feed(text)
    p.close()
    return merge_text(p.events)


def tag_events(group):
    name = group[0].value or ''
    if name == '!--':
        return [('comment', ''.join(n.value or '' for n in group[1:] if n.state == rows.SPS_COMMENT))]
    if name.startswith('!'):
        words = [name[1:]] + [n.value or '' for n in group[1:] if n.value or n.flags & 0x0001]
        return [('decl', decl_words(words))]
    if name.startswith('?'):
        return [('pi', name)]
    if name.startswith('/'):
        return [('end', name[1:].lower())]
    attrs = []
    for n in group[1:]:
        if n.state == rows.SPS_TAGATTRNAME:
            attrs.append([n.value.lower(), None])
        elif n.state == rows.SPS_TAGATTRVALUE and attrs:
            attrs[-1][1] = n.value
        else:
            attrs.append(['?state %d' % n.state, n.value])
    events = [('start', name.lower(), tuple(tuple(a) for a in attrs))]
    if group[-1].flags & rows.NODE_EMPTY_TAG:
        events.append(('end', name.lower()))
    return events


def scanner_events(nodes):
    events = []
    for kind, item in rows.tags(nodes):
        if kind == 'text':
            events.append(('data', item.value or ''))
        elif kind == 'tag':
            events.extend(tag_events(item))
        elif item.state != rows.SPS_EOF:
            events.append(('node', item.state, item.value))
    return merge_text(events)


# ---- seeded pages

TAGS = ['p', 'P', 'div', 'Div', 'span', 'a', 'A', 'b', 'i', 'em', 'table', 'TR', 'td', 'th', 'ul', 'li', 'ol',
        'dl', 'dt', 'dd', 'h1', 'h2', 'H3', 'pre', 'code', 'blockquote', 'font', 'center', 'sub', 'sup']
VOID = ['br', 'BR', 'img', 'hr', 'input', 'meta']
ATTRS = ['href', 'class', 'ID', 'title', 'align', 'width', 'data-x', 'xml:lang', 'on_click', 'Name']
WORDS = ['manual', 'chapter', 'Installation', 'run', 'the', 'installer', 'answer', 'three', 'questions', '42',
         'x=1', 'a/b', 'end.', '(see)', 'one;', 'two:', '"quoted"', "it's", '>', ']', '[', '?', '!', '%', '#', '-',
         '--', '=', '/']
ENTITIES = ['&amp;', '&lt;', '&gt;', '&nbsp;', '&copy;', '&#169;', '&#65;', '&#x41;', '&quot;']
HIGH = ['\xe9', '\xfc\xdf', '\xc3\xa9', '\xe2\x82\xac', '\xff', '\x80']
SPACE = [' ', ' ', ' ', '\n', '\r\n', '\t', '  ']


def gen_text(rng):
    parts = []
    for _ in range(rng.randint(1, 8)):
        r = rng.random()
        if r < 0.12:
            parts.append(rng.choice(ENTITIES))
        elif r < 0.2:
            parts.append(rng.choice(HIGH))
        else:
            parts.append(rng.choice(WORDS))
        parts.append(rng.choice(SPACE))
    return ''.join(parts)


def gen_value(rng):
    r = rng.random()
    if r < 0.3:
        v = rng.choice(['x', 'top', 'chapter-3.html', '100%', 'a.b_c:d', '7'])
        return '=' + v if '%' not in v else '="%s"' % v
    chars = 'abc XYZ/.#:;,?=()>\t\n\r' + '\xe9\xff'
    body = ''.join(rng.choice(chars) for _ in range(rng.randint(0, 24)))
    if r < 0.75:
        return '="%s"' % body.replace('"', "'")
    return "='%s'" % body.replace("'", '"')


def gen_attrs(rng, before_slash):
    """Attributes of a tag; before "/>" the last one has a quoted value
    (the scanner keeps a "/" after a valueless name in the name)."""
    out = []
    for _ in range(rng.randint(0, 4)):
        space = rng.choice([' ', '  ', '\n', '\t'])
        name = rng.choice(ATTRS)
        if rng.random() < 0.2:
            out.append(space + name)
            continue
        value = gen_value(rng)
        if rng.random() < 0.1:
            value = ' = ' + value[1:]
        out.append(space + name + value)
    if before_slash and out and not out[-1].endswith(('"', "'")):
        out[-1] = out[-1].split('=')[0].rstrip() + '="q"'
    return ''.join(out)


def gen_void(rng):
    name = rng.choice(VOID)
    form = rng.randrange(3)
    if form == 0:
        return '<%s%s>' % (name, gen_attrs(rng, False))
    if form == 1:
        return '<%s%s />' % (name, gen_attrs(rng, True))
    attrs = gen_attrs(rng, True)
    return '<%s%s/>' % (name, attrs)


def gen_comment(rng):
    body = rng.choice(['', ' x ', ' navigation ', ' <b>bold</b> ', '\n  note: a > b\n', ' end of chapter '])
    return '<!--%s-->' % body


def gen_content(rng, depth, out):
    for _ in range(rng.randint(1, 6)):
        r = rng.random()
        if r < 0.35:
            out.append(gen_text(rng))
        elif r < 0.45:
            out.append(gen_void(rng))
        elif r < 0.5:
            out.append(gen_comment(rng))
        elif depth < 6:
            name = rng.choice(TAGS)
            out.append('<%s%s>' % (name, gen_attrs(rng, False)))
            gen_content(rng, depth + 1, out)
            if rng.random() < 0.9:
                close = rng.choice([name, name.lower(), name.upper()])
                out.append('</%s%s>' % (close, rng.choice(['', '', ' '])))


def gen_page(rng):
    out = []
    r = rng.random()
    if r < 0.3:
        out.append('<!DOCTYPE HTML PUBLIC "-//W3C//DTD HTML 4.01//EN" "http://www.w3.org/TR/html4/strict.dtd">\n')
    elif r < 0.6:
        out.append(rng.choice(['<!DOCTYPE html>', '<!doctype html>', '<!DOCTYPE HTML>']) + '\n')
    out.append('<html><head><title>%s</title></head>\n<body>' % gen_text(rng))
    gen_content(rng, 0, out)
    out.append('</body></html>' + rng.choice(['', '\n', '\r\n']))
    return ''.join(out)


def fixture_paths():
    paths = []
    for d in FIXTURE_DIRS:
        if not os.path.isdir(d):
            sys.exit('missing fixture directory %s' % d)
        paths += sorted(os.path.join(d, f) for f in os.listdir(d) if f.endswith('.html'))
    return paths


def compare(path, nodes, error, shown):
    with open(path, 'rb') as f:
        text = f.read().decode('latin-1')
    if nodes is None:
        if shown < 10:
            print('%s: scan failed: %s' % (path, error))
        return False
    want = oracle_events(text)
    got = scanner_events(nodes)
    if want == got:
        return True
    if shown < 10:
        i = next((k for k in range(min(len(want), len(got))) if want[k] != got[k]), min(len(want), len(got)))
        print('%s: event %d differs' % (path, i))
        print('  html.parser: %r' % (want[i:i + 3],))
        print('  scanner:     %r' % (got[i:i + 3],))
    return False


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    seed = int(sys.argv[2]) if len(sys.argv) == 3 else DEFAULT_SEED
    rng = random.Random(seed)
    with tempfile.TemporaryDirectory() as tmp:
        paths = fixture_paths()
        for i in range(DOCUMENTS):
            p = os.path.join(tmp, 'page%04d.html' % i)
            with open(p, 'wb') as f:
                f.write(gen_page(rng).encode('latin-1'))
            paths.append(p)
        lists, errors = rows.scan_files(sys.argv[1], paths)
        mismatches = 0
        for path, nodes, error in zip(paths, lists, errors):
            if not compare(path, nodes, error, mismatches):
                mismatches += 1
        print('%d documents, %d mismatches (seed %d)' % (len(paths), mismatches, seed))
    return 1 if mismatches else 0


if __name__ == '__main__':
    sys.exit(main())

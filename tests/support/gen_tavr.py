"""Seeded TAVR document instances built from the tag map of sgmldump.

The instances hold start tags, end tags and text only, on one line with
nothing between tags, and follow the rules under which an SGML parser with
OMITTAG reads the same element structure as the element context stack:

- every start tag is allowed by some open element, and the innermost such
  element becomes its parent (the elements above it end implicitly);
- text only where the innermost open element is a text element (0x04);
- no end tag of another element while F or FD (open content, 0x02) is open;
- empty elements (0x01, and LANGUAGE given its attribute) get no end tag;
- ASIS, whose content the scanner reads literally, is closed at once;
- at most MAX_OPEN elements open.

Usage as a module:
    table = load_tagmap(sgmldump)
    text = generate(table, "TAVR", random.Random(seed))
"""

import subprocess

EMPTY = 0x01
OPEN_CONTENT = 0x02
TEXT = 0x04
EMPTY_WITH_ATTRS = 0x08

MAX_OPEN = 20
# Read literally by the scanner up to its end tag.
LITERAL_ELEMENTS = {"ASIS"}
# The attribute that makes LANGUAGE empty (declared #CONREF in the DTD).
CONREF_ATTRIBUTE = "ref"

WORDS = ["alpha", "beta", "gamma", "text", "x", "word y", "z9"]


class Tag:
    def __init__(self, number, name, flags, children):
        self.number = number
        self.name = name
        self.flags = flags
        self.children = children  # names, in stored order

    def allows(self, name):
        return bool(self.flags & OPEN_CONTENT) or name in self.children


def parse_tagmap(text):
    """Tags by name from `sgmldump --tagmap` output, in table order."""
    table = {}
    for line in text.splitlines():
        words = line.split()
        if len(words) < 3:
            continue
        table[words[1]] = Tag(int(words[0]), words[1], int(words[2], 16), words[3:])
    return table


def load_tagmap(sgmldump):
    out = subprocess.run([sgmldump, "--tagmap"], check=True, capture_output=True, text=True).stdout
    table = parse_tagmap(out)
    if not table:
        raise RuntimeError("sgmldump --tagmap listed no tags")
    return table


def _spell(rng, name):
    # Names are case-blind on both sides; mix the case now and then.
    return name.lower() if rng.random() < 0.2 else name


def _parent_index(table, stack, name):
    """Index of the innermost open element that allows name; -1 when none."""
    for i in range(len(stack) - 1, -1, -1):
        if table[stack[i]].allows(name):
            return i
    return -1


def _open_content_floor(table, stack):
    """Lowest index an end tag may name: the innermost F or FD, else 0."""
    for i in range(len(stack) - 1, -1, -1):
        if table[stack[i]].flags & OPEN_CONTENT:
            return i
    return 0


def _start_tag(table, stack, rng, out):
    candidates = []
    for name in table:
        i = _parent_index(table, stack, name)
        if i >= 0 and i + 2 <= MAX_OPEN:
            candidates.append((name, i))
    if not candidates:
        return
    deepest = max(i for _, i in candidates)
    if rng.random() < 0.8:
        # Mostly a child of the innermost element that takes one, so that
        # instances grow deep.
        candidates = [c for c in candidates if c[1] == deepest]
    name, i = rng.choice(candidates)
    tag = table[name]
    del stack[i + 1 :]
    spelled = _spell(rng, name)
    if tag.flags & EMPTY:
        out.append("<%s>" % spelled)
    elif tag.flags & EMPTY_WITH_ATTRS and rng.random() < 0.5:
        out.append('<%s %s="x">' % (spelled, CONREF_ATTRIBUTE))
    elif name in LITERAL_ELEMENTS:
        text = rng.choice(WORDS) if rng.random() < 0.5 else ""
        out.append("<%s>%s</%s>" % (spelled, text, spelled))
    else:
        out.append("<%s>" % spelled)
        stack.append(name)


def generate(table, top, rng, max_steps=120):
    """One instance under the top element `top`, as text."""
    out = ["<%s>" % _spell(rng, top)]
    stack = [top]
    for _ in range(rng.randint(0, max_steps)):
        roll = rng.random()
        if roll < 0.15 and table[stack[-1]].flags & TEXT:
            out.append(rng.choice(WORDS))
        elif roll < 0.25 and len(stack) > 1:
            # The top element ends only at the end.
            i = rng.randint(max(_open_content_floor(table, stack), 1), len(stack) - 1)
            out.append("</%s>" % _spell(rng, stack[i]))
            del stack[i:]
        else:
            _start_tag(table, stack, rng, out)
    if _open_content_floor(table, stack) == 0 and rng.random() < 0.3:
        out.append("</%s>" % _spell(rng, top))
    return "".join(out)

"""Well-formedness check of the XHTML print hook.

Usage: python3 xhtml_etree_check.py <path-to-sgmldump> [seed]

Writes seeded, misnested HTML fragments inside <body>...</body>, prints
them with `sgmldump --xhtml` and parses each output with
xml.etree.ElementTree inside one <r> element. The fragments hold no
valueless or duplicate attribute and no "&" or "<" in an attribute value or
text, so only nesting and names can break the output. Exits 0 only when
every output parses.
"""

import os
import random
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree

FRAGMENTS = 1000
BATCH = 100
DEFAULT_SEED = 20250325

CONTAINERS = [
    "p", "div", "span", "b", "i", "em", "strong", "a", "ul", "ol", "li", "dl", "dt", "dd",
    "table", "tr", "td", "th", "caption", "thead", "tbody", "colgroup", "pre", "h1", "h3",
    "blockquote", "code", "tt", "form", "label", "small", "big", "sub", "font", "center",
    "address", "select", "object", "ins", "noscript", "x-unknown",
]
EMPTIES = ["br", "hr", "img", "input", "meta", "link", "col", "area", "param", "base"]
ATTRIBUTES = ["id", "class", "title", "href", "src", "align", "width", "style"]
WORDS = ["alpha", "beta", "gamma", "x", "text", "more words", "1.5", "a-b", "end."]


def random_case(rng, name):
    return "".join(c.upper() if rng.random() < 0.3 else c for c in name)


def attribute_list(rng):
    names = rng.sample(ATTRIBUTES, rng.randint(0, 3))
    parts = []
    for name in names:
        value = rng.choice(WORDS)
        quote = rng.choice(['"', "'", ""])
        if quote == "" and (" " in value or not value.replace("-", "").replace(".", "").isalnum()):
            quote = '"'
        if quote == "'" and rng.random() < 0.2:
            value += ' say "so"'
        parts.append(" %s=%s%s%s" % (random_case(rng, name), quote, value, quote))
    return "".join(parts)


def fragment(rng):
    pieces = []
    for _ in range(rng.randint(1, 40)):
        kind = rng.random()
        if kind < 0.35:
            pieces.append("<%s%s>" % (random_case(rng, rng.choice(CONTAINERS)), attribute_list(rng)))
        elif kind < 0.6:
            pieces.append("</%s>" % random_case(rng, rng.choice(CONTAINERS + EMPTIES)))
        elif kind < 0.7:
            close = rng.choice([">", "/>", " />"])
            pieces.append("<%s%s%s" % (random_case(rng, rng.choice(EMPTIES)), attribute_list(rng), close))
        elif kind < 0.75:
            pieces.append("<!-- %s -->" % rng.choice(WORDS))
        else:
            pieces.append(rng.choice(WORDS) + rng.choice(["", " ", "\n"]))
    return "<body>" + "".join(pieces) + "</body>"


def xhtml(dump, paths):
    result = subprocess.run([dump, "--xhtml"] + paths, capture_output=True)
    return result.returncode, result.stdout.decode("latin-1"), result.stderr.decode("latin-1")


def parses(output):
    try:
        ElementTree.fromstring("<r>" + output + "</r>")
        return None
    except ElementTree.ParseError as error:
        return str(error)


def main():
    dump = sys.argv[1]
    seed = int(sys.argv[2]) if len(sys.argv) > 2 else DEFAULT_SEED
    rng = random.Random(seed)
    failures = 0
    with tempfile.TemporaryDirectory() as tmp:
        paths = []
        for n in range(FRAGMENTS):
            path = os.path.join(tmp, "f%04d.html" % n)
            with open(path, "w", encoding="latin-1") as f:
                f.write(fragment(rng))
            paths.append(path)
        for start in range(0, FRAGMENTS, BATCH):
            batch = paths[start:start + BATCH]
            status, out, err = xhtml(dump, batch)
            if status == 0 and parses(out) is None:
                continue
            # Find the fragments that broke the batch.
            for path in batch:
                status, out, err = xhtml(dump, [path])
                error = "exit %d: %s" % (status, err.strip()) if status else parses(out)
                if error is None:
                    continue
                failures += 1
                if failures <= 5:
                    with open(path, encoding="latin-1") as f:
                        print("input:  %s\noutput: %s\nerror:  %s\n" % (f.read(), out, error))
    print("%d fragments, seed %d, %d not well-formed" % (FRAGMENTS, seed, failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

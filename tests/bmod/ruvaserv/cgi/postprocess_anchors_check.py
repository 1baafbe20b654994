"""The anchors post-processing adds, read back by python's html.parser.

Usage: python3 postprocess_anchors_check.py <path-to-postprocess_probe>

Each page goes through the probe as a document page request (AC LINK, FN a
document file, no ID). In what comes out, the title anchor "_H" and the
chapter anchors "_C<n>" and "_DC<n>" must be start tags of "a" elements, in
the order and number given, and no such anchor may lie inside a script, a
comment or an attribute value: every "name=" of one in the raw output must
be one html.parser reports as an element. Prints the faults; exits 0 only
when there are none.
"""

import html.parser
import re
import subprocess
import sys

import make_page_libraries as pages

FIELDS = [(b"FN", b"1551-ABC10101Uen.A.html"), (b"AC", b"LINK")]
ANCHOR_NAME = re.compile(r"^_(H|C\d+|DC\d+)$")
RAW_ANCHOR = re.compile(rb"""name\s*=\s*["']?_(H|C\d+|DC\d+)\b""", re.I)

CHAPTERS = (
    "<h2 class=\"reference\">Before</h2><!--@BODY-->\n"
    "<h2><span class=\"CHAPNUMBER\">1</span>One</h2>\n"
    "<h2 class=\"reference\">Ref</h2>\n"
    "<del class=\"atictdel\"><h3><span class=\"CHAPNUMBER\">1.1</span>Gone</h3>"
    "<del class=\"atictdel\">x</del><h3 class=\"glossary\">G</h3></del>\n"
    "<H2 CLASS=\"GLOSSARY\" id=\"g\">Two</H2>\n"
    "<h2>Plain</h2><h4 class=\"other\">n</h4>\n"
)

# Headings and titles spelt inside a script, a comment and attribute values
# are text there, not markup: they get no anchor and take no number.
LOOKALIKES = (
    "<html><head><title>t</title></head><body><!--@BODY-->\n"
    "<div class=\"DOCTITLE\">Title</div>\n"
    "<p title='<div class=\"DOCTITLE\">x</div>'>a</p>\n"
    "<p title='<h2 class=\"reference\">r</h2>' data-x=\"<h3 class='glossary'>\">b</p>\n"
    "<script>var s = '<h2><span class=\"CHAPNUMBER\">9</span>x</h2>';</script>\n"
    "<!-- <h2 class=\"reference\">old</h2> -->\n"
    "<h2><span class=\"CHAPNUMBER\">1</span>One</h2>\n"
    "</body></html>\n"
)

# (name, page, anchors in document order)
CASES = [
    ("chapters after the body marker", CHAPTERS.encode("latin-1"), ["_C1", "_C2", "_DC3", "_DC4", "_C3"]),
    ("the first document title only",
     b'<div class="DOCTITLE" id="t">A</div><div class="DOCTITLE">B</div>', ["_H"]),
    ("the fixture library's document", pages.DOCUMENT_PAGE.encode("latin-1"),
     ["_H", "_C1", "_C2", "_DC3", "_C3", "_C4"]),
    ("the hostile document", pages.HOSTILE_DOCUMENT_PAGE, ["_H", "_C1"]),
    ("lookalikes in scripts, comments and attributes", LOOKALIKES.encode("latin-1"), ["_H", "_C1"]),
]


class Anchors(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.names = []
        self.faults = []
        self.script = 0

    def handle_starttag(self, tag, attrs):
        for attr, value in attrs:
            if value and RAW_ANCHOR.search(value.encode("latin-1", "replace")):
                self.faults.append("an anchor inside the attribute %s of <%s>: %r" % (attr, tag, value))
        if tag == "script":
            self.script += 1
        if tag != "a":
            return
        name = dict(attrs).get("name")
        if name is not None and ANCHOR_NAME.match(name):
            if self.script:
                self.faults.append("anchor %s inside a script" % name)
            self.names.append(name)

    def handle_endtag(self, tag):
        if tag == "script" and self.script:
            self.script -= 1

    def handle_data(self, data):
        if self.script and RAW_ANCHOR.search(data.encode("latin-1", "replace")):
            self.faults.append("an anchor inside a script: %r" % data[:200])

    def handle_comment(self, data):
        if RAW_ANCHOR.search(data.encode("latin-1", "replace")):
            self.faults.append("an anchor inside a comment: %r" % data[:200])


def record(page):
    head = b"%d 0 1 - %d\n" % (len(page), len(FIELDS))
    return head + b"".join(name + b"=" + value + b"\n" for name, value in FIELDS) + page + b"\n"


def outputs(probe):
    """The pages as they go out, in CASES order; exits on a failed run."""
    done = subprocess.run([probe], input=b"".join(record(page) for _, page, _ in CASES),
                          capture_output=True, check=False)
    if done.returncode != 0:
        sys.exit("postprocess_probe ended with status %d\n%s" % (done.returncode, done.stderr.decode(errors="replace")))
    out, pos, pages_out = done.stdout, 0, []
    for name, _, _ in CASES:
        end = out.index(b"\n", pos)
        result, _, length, _, _ = (int(x) for x in out[pos:end].split())
        if result != 1:
            sys.exit("%s: result %d\n%s" % (name, result, done.stderr.decode(errors="replace")))
        pages_out.append(out[end + 1:end + 1 + length])
        pos = end + 1 + length + 1
    return pages_out


def faults_of(expected, page):
    parser = Anchors()
    parser.feed(page.decode("latin-1"))
    parser.close()
    faults = list(parser.faults)
    if parser.names != expected:
        faults.append("anchors %s, want %s" % (parser.names, expected))
    raw = len(RAW_ANCHOR.findall(page))
    if raw != len(parser.names):
        faults.append("%d anchor names in the bytes, %d anchor elements" % (raw, len(parser.names)))
    return faults


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    total = 0
    for (name, _, expected), page in zip(CASES, outputs(sys.argv[1])):
        faults = faults_of(expected, page)
        total += len(faults)
        for fault in faults:
            print("%s: %s" % (name, fault))
        if faults:
            print(page.decode("latin-1")[:3000])
    print("%d pages, %d faults" % (len(CASES), total))
    return 1 if total else 0


if __name__ == "__main__":
    sys.exit(main())

"""Checks written TAVR files against the element context stack's rules.

Usage: python3 check_tavr.py <path-to-sgmldump> FILE...
       python3 check_tavr.py <path-to-sgmldump> --roundtrip <path-to-sgml_tests>

Reads the TAVR tag map from `sgmldump --tagmap` and walks each file's start
and end tags as the context stack does: a start tag the open element does
not allow opens an implied parent that allows it, or else closes elements
until one does; empty elements close at once; an end tag closes everything
up to its element. A file passes when no tag is refused, no end tag finds
its element already closed, and the walk ends with TAVR closed by its own
end tag. With --roundtrip the files are those the writer's round-trip test
writes, all checked in one run. Prints each failure; exits 0 only when
every file passes.
"""

import os
import re
import subprocess
import sys
import tempfile

TAG_EMPTY = 0x01
TAG_OPEN_CONTENT = 0x02
TAG_EMPTY_WITH_ATTRS = 0x08
TAG_IMPLIED_START = 0x10
TOP = "TAVR"

DECLARATION = re.compile(r"<!--.*?-->|<!DOCTYPE(?:[^\[>]|\[.*?\])*>", re.S | re.I)
TAG = re.compile(r"<(/?)([A-Za-z][A-Za-z0-9._:-]*)((?:\"[^\"]*\"|'[^']*'|[^'\">])*)>")
ATTRIBUTE = re.compile(r"[A-Za-z]")


def read_tagmap(sgmldump):
    out = subprocess.run([sgmldump, "--tagmap"], check=True, capture_output=True, text=True).stdout
    names, flags, children = [], {}, {}
    for line in out.splitlines():
        fields = line.split()
        name = fields[1]
        names.append(name)
        flags[name] = int(fields[2], 16)
        children[name] = fields[3:]
    return names, flags, children


class Walk:
    def __init__(self, tagmap):
        self.names, self.flags, self.children = tagmap
        self.known = set(self.names)
        self.stack = []
        self.closed_top = False

    def allowed(self, parent, child):
        return bool(self.flags[parent] & TAG_OPEN_CONTENT) or child in self.children[parent]

    def start(self, name, has_attrs):
        if self.closed_top:
            return "<%s> after </%s>" % (name, TOP)
        if name not in self.known:
            if self.stack and self.flags[self.stack[-1]] & TAG_OPEN_CONTENT:
                return None
            return "unknown element <%s>" % name
        if self.stack and not self.allowed(self.stack[-1], name):
            implied = [c for c in self.children[self.stack[-1]]
                       if self.flags.get(c, 0) & TAG_IMPLIED_START and self.allowed(c, name)]
            if implied:
                self.stack.append(implied[0])
            else:
                while self.stack and not self.allowed(self.stack[-1], name):
                    self.stack.pop()
                if not self.stack and name != TOP:
                    return "<%s> closes every open element" % name
        self.stack.append(name)
        f = self.flags[name]
        if f & TAG_EMPTY or (f & TAG_EMPTY_WITH_ATTRS and has_attrs):
            self.stack.pop()
        return None

    def end(self, name):
        if not self.stack:
            return "</%s> with no open element" % name
        if name not in self.known:
            return None if self.flags[self.stack[-1]] & TAG_OPEN_CONTENT else "unknown end tag </%s>" % name
        if self.flags[self.stack[-1]] & TAG_OPEN_CONTENT and self.stack[-1] != name:
            return None
        if name not in self.stack:
            return "</%s> finds its element closed" % name
        while self.stack:
            top = self.stack.pop()
            if top == name:
                break
        if name == TOP:
            self.closed_top = True
        return None


def check_file(tagmap, path):
    with open(path, encoding="latin-1") as f:
        text = DECLARATION.sub("", f.read())
    walk = Walk(tagmap)
    for m in TAG.finditer(text):
        name = m.group(2).upper()
        if m.group(1):
            error = walk.end(name)
        else:
            error = walk.start(name, bool(ATTRIBUTE.search(m.group(3))))
        if error:
            return "%s: %s" % (path, error)
    if not walk.closed_top or walk.stack:
        return "%s: %s is not closed by its end tag" % (path, TOP)
    return None


def roundtrip_files(sgml_tests, directory):
    env = dict(os.environ, SDI_ROUNDTRIP_DIR=directory)
    listed = subprocess.run([sgml_tests, "--gtest_list_tests", "--gtest_filter=*SdiRoundTrip.*"],
                            check=True, capture_output=True, text=True).stdout
    seeds = [line.split()[0] for line in listed.splitlines() if line.startswith("  ")]
    # One process a seed, side by side: each writes its own files, and one
    # process for all took minutes under the sanitizers.
    runs = [subprocess.Popen([sgml_tests, "--gtest_filter=*SdiRoundTrip." + seed], env=env,
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
            for seed in seeds]
    outputs = [(run, run.communicate()[0]) for run in runs]
    failed = [out for run, out in outputs if run.returncode != 0]
    if not seeds or failed:
        sys.stdout.write("".join(failed)[-4000:] or "no round-trip seeds listed\n")
        return None
    return sorted(os.path.join(directory, n) for n in os.listdir(directory))


def main(argv):
    if len(argv) < 3:
        sys.stderr.write(__doc__)
        return 2
    tagmap = read_tagmap(argv[1])
    with tempfile.TemporaryDirectory() as directory:
        if argv[2] == "--roundtrip":
            files = roundtrip_files(argv[3], directory)
            if files is None:
                print("the round-trip test failed")
                return 1
        else:
            files = argv[2:]
        if not files:
            print("no files to check")
            return 1
        failures = [e for e in (check_file(tagmap, p) for p in files) if e]
    for failure in failures[:20]:
        print(failure)
    print("%d files, %d refused" % (len(files), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

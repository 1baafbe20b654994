"""The SGML scanner over the HTML 4.01 DTDs of the Debian package sgml-data.

Usage: python3 sgml_dtd_corpus_check.py <path-to-sgmldump> [dir]

For each DTD of dir (default /usr/share/sgml/html/dtd/4.01):
- the scan ends in success or in one of the scanner's own messages
  (tags sgmlscanner/1 to /23);
- the parameter entities (`sgmldump --entities`, printed also after a
  failed scan) equal, in order, the matches of ENTITY below that begin
  before the offset in the message that stopped the scan (the whole file
  after a success); the value is the literal's first word, none for an
  empty literal;
- strict.dtd and loose.dtd stop with the attribute-count message inside
  "<!ATTLIST A", frameset.dtd scans;
- the nodes of each "<![ %HTML.Reserved; [" section lie deeper than its
  declaration-name node, which reads "IGNORE" (scanned up to the line
  where the scan stopped).
"""

import os
import re
import sys
import tempfile

import sgmldump_rows as rows

DEFAULT_DIR = '/usr/share/sgml/html/dtd/4.01'
ENTITY = re.compile(r'<!ENTITY\s+%\s+(\S+)\s+("[^"]*"|\'[^\']*\'|\S+)')
SCANNER_TAG = re.compile(r'\[sgmlscanner/(\d+)\]')
OFFSET = re.compile(r'near offset (\d+)')
# File, and the tag of the message it must stop with (None: it scans).
EXPECTED = {'strict.dtd': 'Attribute count overflow for !ATTLIST near offset',
            'loose.dtd': 'Attribute count overflow for !ATTLIST near offset',
            'frameset.dtd': None}
# `sgmldump --entities`: the name, then a blank and the value unless it has none.
ENTITY_LINE = re.compile(r'^(\S+)(?: (.*))?$')


def first_word(literal):
    if literal[:1] in '"\'':
        literal = literal[1:-1]
    words = literal.split()
    return words[0] if words else None


def expected_entities(text, limit):
    return [(m.group(1), first_word(m.group(2))) for m in ENTITY.finditer(text) if m.start() < limit]


def scanned_entities(stdout):
    out = []
    for line in stdout.decode('latin-1').splitlines():
        m = ENTITY_LINE.match(line)
        if m:
            out.append((m.group(1), m.group(2)))
    return out


def check_reserved_section(sgmldump, text, limit, name, failures):
    """The scanned prefix up to the line where the scan stopped."""
    cut = text.rfind('\n', 0, limit) + 1 if limit < len(text) else len(text)
    with tempfile.NamedTemporaryFile(suffix='.dtd') as f:
        f.write(text[:cut].encode('latin-1'))
        f.flush()
        lists, errors = rows.scan_files(sgmldump, [f.name])
    nodes = lists[0]
    if nodes is None:
        failures.append('%s: the prefix up to offset %d does not scan: %s' % (name, cut, errors[0]))
        return
    sections = 0
    for i, node in enumerate(nodes):
        if node.state != rows.SPS_TAGNAME or node.value != '![':
            continue
        declname = nodes[i + 1]
        if declname.state != rows.SPS_DECLNAME:
            failures.append('%s: "<![" at node %d without a declaration name: %r' % (name, i, declname))
            continue
        if declname.value != 'IGNORE':
            continue
        sections += 1
        # The type node opens the section at the same level; its content lies deeper
        # up to the empty text that carries the closing "]]>".
        j = i + 3
        content = 0
        while j < len(nodes) and nodes[j].level > declname.level:
            content += 1
            j += 1
        if nodes[i + 2].level != declname.level or content < 4:
            failures.append('%s: section at node %d: %d nodes deeper than its name %r' % (name, i, content, declname))
    want = text.count('<![ %HTML.Reserved; [', 0, cut)
    if sections != want:
        failures.append('%s: %d IGNORE sections, want %d' % (name, sections, want))


def check_file(sgmldump, path, failures):
    name = os.path.basename(path)
    with open(path, 'rb') as f:
        text = f.read().decode('latin-1')
    done = rows.run(sgmldump, '--entities', [path])
    error = done.stderr.decode('latin-1')
    limit = len(text)
    if done.returncode == 0:
        if EXPECTED.get(name):
            failures.append('%s: scanned, want the message "%s"' % (name, EXPECTED[name]))
    else:
        tag = SCANNER_TAG.search(error)
        if not tag or not 1 <= int(tag.group(1)) <= 23:
            failures.append('%s: failed with a message not of the scan: %s' % (name, error.strip()))
            return
        offset = OFFSET.search(error)
        if offset:
            limit = int(offset.group(1))
        if name in EXPECTED and (not EXPECTED[name] or EXPECTED[name] not in error):
            failures.append('%s: %s, want %s' % (name, error.strip(), EXPECTED[name] or 'success'))
        elif EXPECTED.get(name) and not text.startswith('<!ATTLIST A\n', max(text.rfind('<!ATTLIST', 0, limit), 0)):
            failures.append('%s: stopped at offset %d, not inside "<!ATTLIST A"' % (name, limit))
    want = expected_entities(text, limit)
    got = scanned_entities(done.stdout)
    if want != got:
        n = min(len(want), len(got))
        i = next((k for k in range(n) if want[k] != got[k]), n)
        failures.append('%s: entity %d differs (want %d, got %d)\n  want: %r\n  got:  %r' %
                        (name, i, len(want), len(got), want[i:i + 2], got[i:i + 2]))
    check_reserved_section(sgmldump, text, limit, name, failures)


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    folder = sys.argv[2] if len(sys.argv) == 3 else DEFAULT_DIR
    if not os.path.isdir(folder):
        sys.exit('missing %s: install the Debian package sgml-data' % folder)
    paths = sorted(os.path.join(folder, f) for f in os.listdir(folder) if f.endswith('.dtd'))
    missing = [n for n in EXPECTED if not os.path.exists(os.path.join(folder, n))]
    if missing:
        sys.exit('missing %s in %s: install the Debian package sgml-data' % (', '.join(missing), folder))
    failures = []
    for path in paths:
        check_file(sys.argv[1], path, failures)
    for f in failures:
        print(f)
    print('%d DTDs, %d failures' % (len(paths), len(failures)))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())

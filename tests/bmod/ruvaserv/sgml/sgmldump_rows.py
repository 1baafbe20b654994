"""Reads `sgmldump --nodes` output for the differential scripts.

A row is `state/flags@level "value"`: flags in hex, "@level" left out at
level 0, the value C-escaped between double quotes and left out when the
node has none. Text is returned as latin-1 strings, so that every input
byte stays one character and scripts decode as their oracle does.
"""

import re
import subprocess

SPS_EOF = 1
SPS_FREETEXT = 2
SPS_TAGNAME = 3
SPS_TAGATTRNAME = 5
SPS_TAGATTRVALUE = 6
SPS_COMMENT = 7
SPS_DECLNAME = 8
SPS_DECLTYPE = 9
SPS_DECLID = 10

NODE_TAG_END = 0x0008
NODE_EMPTY_TAG = 0x0040

ROW = re.compile(r'^(\d+)/([0-9A-Fa-f]+)(?:@(\d+))?(?: (.*))?$')
SIMPLE_ESCAPES = {'n': '\n', 'r': '\r', 't': '\t', '"': '"', '\\': '\\', "'": "'",
                  'a': '\a', 'b': '\b', 'f': '\f', 'v': '\v', '0': '\0'}


class Node:
    __slots__ = ('state', 'flags', 'level', 'value')

    def __init__(self, state, flags, level, value):
        self.state, self.flags, self.level, self.value = state, flags, level, value

    def __repr__(self):
        level = '@%d' % self.level if self.level else ''
        value = '' if self.value is None else ' %r' % self.value
        return '%d/%02X%s%s' % (self.state, self.flags, level, value)


def unquote(text):
    """The value of a quoted C-escaped field; None when there is none."""
    if text is None or text in ('', 'NULL', '(null)'):
        return None
    if len(text) < 2 or text[0] != '"' or text[-1] != '"':
        raise ValueError('unquoted value %r' % text)
    out = []
    i, end = 1, len(text) - 1
    while i < end:
        c = text[i]
        if c != '\\':
            out.append(c)
            i += 1
            continue
        e = text[i + 1]
        if e == 'x':
            m = re.match(r'[0-9A-Fa-f]{1,2}', text[i + 2:end])
            out.append(chr(int(m.group(0), 16)))
            i += 2 + len(m.group(0))
        elif e in '01234567':
            m = re.match(r'[0-7]{1,3}', text[i + 1:end])
            out.append(chr(int(m.group(0), 8)))
            i += 1 + len(m.group(0))
        else:
            out.append(SIMPLE_ESCAPES.get(e, e))
            i += 2
    return ''.join(out)


def parse_rows(output):
    """Nodes of the rows in output (bytes); other lines are skipped."""
    nodes = []
    for line in output.decode('latin-1').split('\n'):
        m = ROW.match(line)
        if not m:
            continue
        nodes.append(Node(int(m.group(1)), int(m.group(2), 16), int(m.group(3) or 0), unquote(m.group(4))))
    return nodes


def split_lists(nodes):
    """One list per file: each ends with its SPS_EOF node."""
    lists, current = [], []
    for node in nodes:
        current.append(node)
        if node.state == SPS_EOF:
            lists.append(current)
            current = []
    return lists


def run(sgmldump, mode, paths, extra=()):
    return subprocess.run([sgmldump, mode, *extra, *paths], capture_output=True, check=False)


def scan_files(sgmldump, paths, batch=200):
    """Node lists of paths in order; a file that fails to scan gives None and
    its message in the second list."""
    lists, errors = [], []
    for start in range(0, len(paths), batch):
        part = paths[start:start + batch]
        done = run(sgmldump, '--nodes', part)
        got = split_lists(parse_rows(done.stdout))
        if done.returncode == 0 and len(got) == len(part):
            lists.extend(got)
            errors.extend([''] * len(part))
            continue
        # Some file failed: the batch cannot be aligned, so one call per file.
        for path in part:
            one = run(sgmldump, '--nodes', [path])
            got = split_lists(parse_rows(one.stdout))
            ok = one.returncode == 0 and len(got) == 1
            lists.append(got[0] if ok else None)
            errors.append('' if ok else one.stderr.decode('latin-1').strip() or 'status %d' % one.returncode)
    return lists, errors


def tags(nodes):
    """Groups a list into tags and texts: ('text', node) and ('tag', [name
    node, attribute and declaration nodes...]); a tag ends at its node
    flagged NODE_TAG_END, or before the next tag name or text."""
    out = []
    i, n = 0, len(nodes)
    while i < n:
        node = nodes[i]
        if node.state != SPS_TAGNAME:
            out.append(('text' if node.state == SPS_FREETEXT else 'other', node))
            i += 1
            continue
        group = [node]
        i += 1
        while not group[-1].flags & NODE_TAG_END and i < n and nodes[i].state not in (SPS_TAGNAME, SPS_FREETEXT,
                                                                                      SPS_EOF):
            group.append(nodes[i])
            i += 1
        out.append(('tag', group))
    return out

"""Seeded pairs of document lists, an old and a new revision of a library.

Usage:
    gen_sdi_pair.py --docs N --seed S --order sorted|random [--zip DIR] [--codpod K] --out DIR
    gen_sdi_pair.py --cases compare_cases.json --out DIR

Writes into DIR:
    records.jsonl   one object per list row, in list order (sdi_oracle.py's input)
    old.sgml        side 1, new.sgml side 2 (one ROW per document)
    expected.json   sdi_oracle.py's rows for the pair, libraries "old" and "new"
With --zip, DIR gets old.kvo and new.kvo: the list in two parts (doclist_sd1.sgml,
doclist_sd2.sgml), one HTML member per linked document, titled as its row,
and the library comment "Title [ID]". --codpod K makes K of the documents
COD/POD documents whose HTML holds blocks under <h2> headings; about half of
them differ between the revisions. With --cases each case becomes
DIR/caseNN/{old.sgml,new.sgml,expected.json}.

Numbers read "1/<class>-CRA 119 <n> Uen <rev>", n five digits and unique per
class, five-digit classes written "154 31" (now and then "15431", the same
number folded), so identity cells show them as written.
"""

import argparse
import html
import json
import os
import random
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "..", "..", "support"))

import gen_sdi  # noqa: E402
import sdi_oracle  # noqa: E402

# Share of the documents per class, in percent; "invalid" numbers say
# nothing a number could.
CLASS_MIX = [
    ("15431", 10), ("19082", 15), ("19083", 10), ("15518", 5), ("15542", 5), ("19602", 5), ("invalid", 1),
    ("1551", 7), ("15511", 7), ("1553", 6), ("15531", 6), ("15517", 6), ("1543", 3), ("15451", 3),
    ("1531", 3), ("19084", 3), ("22102", 2), ("1599", 2), ("00021", 1),
]
# What happens to a document between the revisions, in percent.
CHANGE_MIX = [("none", 80), ("revision", 8), ("renumber", 3), ("added", 3), ("removed", 3), ("retitle", 2),
              ("duplicate", 1)]
REVISIONS = ["A", "B", "C", "D", "E", "F", "G", "H", "PA1", "PA2", "R1A", "R2A", "R3A"]
WORDS = ["Alarm", "Handling", "Subscriber", "Data", "Routing", "Charging", "Traffic", "Measurement", "Backup",
         "Restore", "Signalling", "Network", "Node", "Link", "Printout", "Command", "Function", "Overview",
         "Interface", "Cable", "Operation", "Maintenance", "Recovery", "Statistics", "Table"]
LETTERS = "ABCDEFGHIJKLMNOPQRSTUVWXYZ"
FIVE_DIGIT_CLASSES = {c for c, _ in CLASS_MIX if len(c) == 5}
COD_POD = ("19082", "19083")
BLOCK_CLASS = {"19082": "comform", "19083": "format"}
LIBRARIES = {"old": ("Old Library", "EN/LZN 901 0001 R1A"), "new": ("New Library", "EN/LZN 901 0001 R2A")}


def _pick(rng, mix):
    r = rng.random() * sum(w for _, w in mix)
    for name, w in mix:
        if r < w:
            return name
        r -= w
    return mix[-1][0]


class Doc:
    """One document of the pair: its row in each list (None when absent)."""

    def __init__(self):
        self.old = None  # (title, engtitle, number, blocks)
        self.new = None
        self.extra = []  # (side, row) listed besides


class Maker:
    def __init__(self, rng):
        self.rng = rng
        self.serial = {}
        self.titles = {}  # class -> titles given, for shared ones
        self.catchwords = {}

    def serial_of(self, decclass):
        n = self.serial.get(decclass, 0) + 1
        self.serial[decclass] = n
        return n

    def spell(self, decclass, n, rev, compact=False):
        shown = decclass
        if decclass in FIVE_DIGIT_CLASSES and not compact:
            shown = decclass[:3] + " " + decclass[3:]
        return "1/%s-CRA 119 %05d Uen %s" % (shown, n, rev)

    def invalid_number(self):
        n = self.serial.get("invalid", 0) + 1
        self.serial["invalid"] = n
        return self.rng.choice(["Draft %d", "Memo %04d", "Note %d (draft)", "TBD %d"]) % n

    def word(self):
        return self.rng.choice(LETTERS) + "".join(self.rng.choice(LETTERS).lower() for _ in range(self.rng.randint(4, 8)))

    def title(self, decclass, serial):
        rng = self.rng
        if decclass in ("19082", "15518"):
            seen = self.catchwords.setdefault(decclass, [])
            if seen and rng.random() < 0.03:
                first = rng.choice(seen)
            else:
                first = self.word().upper() if decclass == "19082" else self.word()
                seen.append(first)
            sep = rng.choice([": ", " "])
            return first + sep + " ".join(rng.choice(WORDS) for _ in range(rng.randint(1, 3))) + " %d" % serial
        seen = self.titles.setdefault(decclass, [])
        if seen and rng.random() < 0.02:
            return rng.choice(seen)
        t = " ".join(rng.choice(WORDS) for _ in range(rng.randint(2, 4))) + " %d" % serial
        seen.append(t)
        return t

    def variant(self, title):
        """The same title folded: case and blanks changed."""
        out = title.upper() if self.rng.random() < 0.5 else title.lower()
        return out.replace(" ", "  ", 1)

    def blocks(self, decclass, count):
        return [" ".join(self.rng.choice(WORDS) for _ in range(3)) for _ in range(count)] if decclass in COD_POD else []


def next_revision(rev):
    i = REVISIONS.index(rev)
    return REVISIONS[min(i + 1, len(REVISIONS) - 1)] if i + 1 < len(REVISIONS) else rev + "1"


def make_docs(n_docs, seed, codpod):
    rng = random.Random(seed)
    mk = Maker(rng)
    docs = []
    for i in range(n_docs):
        d = Doc()
        forced = i < codpod
        decclass = COD_POD[i % 2] if forced else _pick(rng, CLASS_MIX)
        change = "revision" if forced else _pick(rng, CHANGE_MIX)
        eng = lambda t: ("English " + t) if rng.random() < 0.3 else None  # noqa: E731
        compact = decclass in FIVE_DIGIT_CLASSES and rng.random() < 0.05
        title = mk.title(decclass, i)
        if decclass == "invalid":
            number = mk.invalid_number()
            rev = None
        else:
            rev = rng.choice(REVISIONS[:4])
            serial = mk.serial_of(decclass)
            number = mk.spell(decclass, serial, rev, compact)
        blocks = mk.blocks(decclass, rng.randint(1, 4)) if forced else []
        d.old = (title, eng(title), number, blocks)
        d.new = d.old
        if change == "revision":
            if rev is None:
                new_number = mk.invalid_number()
            else:
                new_number = mk.spell(decclass, serial, next_revision(rev), compact)
            new_title = title
            if decclass not in ("15431", "19083", "15542", "19602") and rng.random() < 0.3:
                new_title = title.split(" ")[0] + " revised " + str(i)
            new_blocks = blocks
            if forced and i % 4 in (0, 1):
                new_blocks = list(blocks)
                if rng.random() < 0.3:
                    new_blocks.append("Added " + rng.choice(WORDS))
                else:
                    new_blocks[rng.randrange(len(blocks))] += " changed"
            d.new = (new_title, eng(new_title), new_number, new_blocks)
        elif change == "renumber":
            new_number = mk.invalid_number() if rev is None else mk.spell(decclass, mk.serial_of(decclass), "A")
            if decclass in ("19082", "15518"):
                new_title = title.split(":")[0].split(" ")[0] + ": " + " ".join(rng.sample(WORDS, 2))
            else:
                new_title = mk.variant(title) if rng.random() < 0.3 else title
            d.new = (new_title, eng(new_title), new_number, [])
        elif change == "added":
            d.old = None
        elif change == "removed":
            d.new = None
        elif change == "retitle":
            new_title = "Retitled " + title
            d.new = (new_title, eng(new_title), number, blocks)
        elif change == "duplicate":
            side = rng.choice(["old", "new"])
            if side == "old":
                d.new = None
            else:
                d.old = None
            dup_title = "Duplicate of " + title
            d.extra.append((side, (dup_title, None, number, [])))
        docs.append(d)
    return docs


def lists(docs, order, rng):
    """The two lists of (title, engtitle, number, blocks) rows."""
    old, new = [], []
    for d in docs:
        if d.old:
            old.append(d.old)
        if d.new:
            new.append(d.new)
        for side, row in d.extra:
            (old if side == "old" else new).append(row)
    for rows in (old, new):
        if order == "sorted":
            rows.sort(key=lambda r: sdi_oracle.fold(r[2]))
        else:
            rng.shuffle(rows)
    return old, new


def write_sgml(path, rows, seed):
    doc = gen_sdi.build_list(random.Random(seed), [(t, e, n) for t, e, n, *_ in rows])
    with open(path, "wb") as f:
        f.write(doc.markup)


def write_records(path, old, new):
    with open(path, "w", encoding="utf-8") as f:
        for side, rows in (("old", old), ("new", new)):
            for t, e, n, blocks in rows:
                rec = {"side": side, "title": t, "engtitle": e, "number": n}
                if blocks:
                    rec["blocks"] = [b.replace(" ", "") for b in blocks]
                f.write(json.dumps(rec) + "\n")


def records_as_rows(old, new):
    conv = lambda rows: [{"title": t, "number": n, "blocks": [b.replace(" ", "") for b in bl]}  # noqa: E731
                         for t, _, n, bl in rows]
    return conv(old), conv(new)


def write_json(path, obj):
    with open(path, "w", encoding="utf-8") as f:
        json.dump(obj, f, indent=1)
        f.write("\n")


# ---- libraries


def member_html(title, number, blocks, decclass, rng):
    """A small page titled as the row; COD/POD blocks under <h2> headings,
    spelled with varying blanks and tags that do not change their text."""
    t = html.escape(title)
    out = ["<html><head><title>%s</title></head>\n<body>\n<h1>%s</h1>\n<p>%s</p>\n" % (t, t, html.escape(number))]
    for i, block in enumerate(blocks):
        words = block.split(" ")
        if rng.random() < 0.5:
            words[0] = "<b>%s</b>" % words[0]
        sep = rng.choice([" ", "  ", " \t"])
        cls = BLOCK_CLASS[decclass]
        attr = rng.choice([" class=%s>" % cls, ' class="%s">' % cls])
        out.append("<h2>Part %d</h2>\n<p%s%s</p>%s\n" % (i + 1, attr, sep.join(words), rng.choice(["", "<hr>"])))
    out.append("</body></html>\n")
    return "".join(out)


def write_library(path, side, rows, seed):
    rng = random.Random(seed)
    title, ident = LIBRARIES[side]
    half = (len(rows) + 1) // 2
    with tempfile.TemporaryDirectory() as tmp:
        names = []
        for part, chunk in (("doclist_sd1.sgml", rows[:half]), ("doclist_sd2.sgml", rows[half:])):
            write_sgml(os.path.join(tmp, part), chunk, rng.randrange(1 << 30))
            names.append(part)
        written = set()
        for t, _, n, blocks in rows:
            if t is None or sdi_oracle.looks_invalid(n):
                continue
            art, rev = sdi_oracle.art_rev(n)
            fname = sdi_oracle.to_filename(art, rev, "html") if rev else None
            if fname is None or fname in written:
                continue
            written.add(fname)
            parts = sdi_oracle.name_parts(fname)
            with open(os.path.join(tmp, fname), "w", encoding="latin-1") as f:
                f.write(member_html(t, n, [b for b in blocks], parts[1], rng))
            names.append(fname)
        if os.path.exists(path):
            os.unlink(path)
        subprocess.run(["zip", "-q", "-X", "-D", "-@", os.path.abspath(path)], cwd=tmp, check=True,
                       input="\n".join(names) + "\n", text=True)
    subprocess.run(["zip", "-q", "-z", path], check=True, input="%s [%s]\n" % (title, ident), text=True)


# ---- main


def write_pair(out, docs_n, seed, order, codpod, zip_dir):
    os.makedirs(out, exist_ok=True)
    docs = make_docs(docs_n, seed, codpod)
    old, new = lists(docs, order, random.Random(seed + 1))
    write_records(os.path.join(out, "records.jsonl"), old, new)
    write_sgml(os.path.join(out, "old.sgml"), old, seed + 2)
    write_sgml(os.path.join(out, "new.sgml"), new, seed + 3)
    o, n = records_as_rows(old, new)
    write_json(os.path.join(out, "expected.json"), sdi_oracle.compare(o, n))
    if zip_dir:
        os.makedirs(zip_dir, exist_ok=True)
        write_library(os.path.join(zip_dir, "old.kvo"), "old", old, seed + 4)
        write_library(os.path.join(zip_dir, "new.kvo"), "new", new, seed + 5)


def write_cases(out, path):
    with open(path, encoding="utf-8") as f:
        cases = json.load(f)
    for i, case in enumerate(cases):
        d = os.path.join(out, "case%02d" % i)
        os.makedirs(d, exist_ok=True)
        for side in ("old", "new"):
            write_sgml(os.path.join(d, side + ".sgml"), [(t, None, n) for t, n in case[side]], i)
        write_json(os.path.join(d, "expected.json"), case["expected"])


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--docs", type=int, default=0)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--order", choices=["sorted", "random"], default="sorted")
    ap.add_argument("--zip", metavar="DIR", help="also write old.kvo and new.kvo into DIR")
    ap.add_argument("--codpod", type=int, default=0)
    ap.add_argument("--cases", metavar="FILE")
    ap.add_argument("--out", required=True)
    args = ap.parse_args(argv)
    if args.cases:
        write_cases(args.out, args.cases)
    else:
        write_pair(args.out, args.docs, args.seed, args.order, args.codpod, args.zip)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

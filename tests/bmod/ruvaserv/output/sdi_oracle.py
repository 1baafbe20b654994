"""Expected rows of a library comparison report, from the two lists alone.

A hash join written independently of the report: entries keyed by folded
copies of their number, title, catchword and article; side 2 walked in
(title, number) order taking the first unsettled candidate its class rule
accepts; what is left on side 1 is removed. Rows come out in report order,
each as [section, icon, library, fn, identity], the form report_rows.py
reads from a page.

Usage:
    sdi_oracle.py RECORDS.jsonl [--ddc N] [--cp codpod] [--fetched]
                  [--old-lib NAME] [--new-lib NAME]
    sdi_oracle.py --selftest compare_cases.json

RECORDS.jsonl: one object per list row, in list order:
    {"side": "old"|"new", "title": str|null, "number": str|null,
     "engtitle": str|null, "blocks": [str, ...]}
"blocks" (optional) are the folded texts of a COD/POD document's blocks;
with --fetched the documents can be fetched, so a changed COD/POD pair whose
blocks are equal is not reported.
"""

import argparse
import json
import re
import sys

ICON_NEW = 21
ICON_REMOVED = 22
ICON_CHANGED_NEW = 23
ICON_CHANGED_OLD = 24

OTHER_DOCUMENTS = "Other Documents"
INVALID_CLASS = "00000"
TITLE_MAX = 255
CATCHWORD_WORD_MAX = 15

# class -> (group, pairing logic); logic 1 catchword, 2 title, 3 article.
CLASS_RULES = {
    "15431": (1, 2),
    "19082": (2, 1),
    "19083": (3, 2),
    "15518": (4, 1),
    "15542": (5, 2),
    "19602": (6, 2),
    INVALID_CLASS: (7, 2),
}
OTHER_RULE = (7, 3)

# Section names of the classes the tests use, as the decimal-class table
# names them.
CLASS_NAMES = {
    "15431": "Operational Instruction",
    "19082": "Command Description",
    "19083": "Printout Description",
    "15518": "Application Information",
    "15542": "Adaptation Direction",
    "19602": "Table Description",
    "1550": "Description",
    "1551": "Description",
    "15511": "Sequence Diagram",
    "1553": "User Guide",
    "15531": "Language Description",
    "15517": "Function Specification",
    "1543": "Operating Instructions",
    "15451": "Troubleshooting",
    "1531": "Installation Instructions",
    "19084": "Parameter Description",
    "1555": "Description",
    "15516": "Function Description",
    "22102": "Technical Product Description",
    "00021": "Working Instructions",
}


def section_name(decclass):
    """The section title of a class (digits only, as member names give it);
    classes not typed above fall back by their first digit."""
    if decclass in CLASS_NAMES:
        return CLASS_NAMES[decclass]
    if not decclass.strip("0"):
        return "General Office Document"
    fallback = {"1": "Technical Document", "2": "Commercial Document", "3": "Financial Document",
                "0": "Administrative Document" if decclass.startswith("006") else "General Document"}
    return fallback.get(decclass[0], OTHER_DOCUMENTS)


# ---- document numbers and member names


def _is_space(ch):
    return ch == " " or "\t" <= ch <= "\r"


def _is_alpha(ch):
    return ("a" <= ch <= "z") or ("A" <= ch <= "Z")


def _is_digit(ch):
    return "0" <= ch <= "9"


_FOLD_DROPPED = re.compile(r"[\x00-\x20\x7f]+")
_FOLD_UPPER = {ord(c): ord(c.lower()) for c in "ABCDEFGHIJKLMNOPQRSTUVWXYZ"}
# What a member name drops of a number.
_STEM_DROPPED = re.compile(r"[\x00-\x20\x7f-\U0010ffff]+")
_SPACE_RUN = re.compile(r"[ \t\n\v\f\r]+")
_NUMBER_CHARS = re.compile(r"[A-Za-z0-9+\-/ ]*")
_LANGUAGE_START = re.compile(r"U(?=[A-Za-z])")
_REFUSED = re.compile(r"[_@${}\[\]?!#=`^~]")
_DIGIT = re.compile(r"[0-9]")


def fold(text):
    """Blanks and controls dropped, ASCII lower-cased, other bytes kept."""
    text = _FOLD_DROPPED.sub("", text)
    return text.lower() if text.isascii() else text.translate(_FOLD_UPPER)


def looks_invalid(number):
    """Not a number: other characters than letters, digits, blanks, '+',
    '-' and '/', 60 or more of them, or no '-' right after four digits."""
    if number is None:
        return True
    packed = number.replace(" ", "")
    if len(packed) >= 60:
        return True
    return not _NUMBER_CHARS.fullmatch(number) or "-" not in packed or not re.search(r"[0-9]{4}-", packed)


def art_rev(number):
    """(article, revision); revision "" when the last word is none."""
    art = number
    while art and _is_space(art[-1]):
        art = art[:-1]
    blank = art.rfind(" ")
    if blank < 0:
        return art, ""
    word = art[blank + 1:]
    language = len(word) >= 2 and word[0] == "U" and _is_alpha(word[1])
    if not language and (_is_alpha(word[0]) or word[0] in "*?"):
        return art[:blank], word
    return art, ""


def to_filename(number, rev, ftype):
    """Member name "<stem>.<rev>.<type>"; None when refused."""
    if number is None:
        return None
    num = number.lstrip(" \t\n\v\f\r")
    if not num or _REFUSED.search(num) or not _DIGIT.search(num):
        return None
    # A language code is lower case in names: a 'U' from position 3 on, not
    # after a capital, and the letters after it.
    pieces = []
    done = 0
    for m in _LANGUAGE_START.finditer(num):
        i = m.start()
        if i < done or i < 3 or "A" <= num[i - 1] <= "Z":
            continue
        end = i + 1
        while end < len(num) and _is_alpha(num[end]):
            end += 1
        pieces.append(num[done:i + 1])
        pieces.append(num[i + 1:end].lower())
        done = end
    pieces.append(num[done:])
    name = _STEM_DROPPED.sub("", "".join(pieces)).replace("/", "_") + "."
    if rev is not None:
        name += _SPACE_RUN.sub("", rev).replace("/", "_")
    name += "."
    if ftype is not None:
        typed = _SPACE_RUN.sub("", ftype).lower()
        name += typed or "*"
    return name


def _split_fields(fname):
    """(number, rev, type) fields of a member name; None when no revision."""
    name = fname[:255]
    pos = 0

    def next_field():
        nonlocal pos
        while pos < len(name) and name[pos] == ".":
            pos += 1
        if pos == len(name):
            return None
        end = name.find(".", pos)
        if end < 0:
            end = len(name)
        field = name[pos:end]
        pos = end
        return field

    docno = next_field()
    if docno is None:
        return None
    docno = docno[:63]
    rev = ""
    if name[pos:pos + 2] != "..":
        rev = next_field()
        if rev is None:
            return None
        rev = rev[:15]
    ftype = next_field()
    return docno, rev, None if ftype is None else ftype[:15]


def name_parts(fname):
    """(prefix, decclass, ind, variant, lang, rev) of a member name, or None."""
    fields = _split_fields(fname)
    if fields is None:
        return None
    docno, rev, _ = fields
    s = _SPACE_RUN.sub("", docno)[:64]
    u = len(s)
    while u > 1 and s[u - 1] not in "Uu":
        u -= 1
    if u > 1:
        start = u - 1
        end = start
        while end < len(s) and (_is_alpha(s[end]) or s[end] in "?*"):
            end += 1
        lang = s[start:end]
        s = s[:start]
    else:
        end = 0
        while end < len(s) and _is_alpha(s[end]):
            end += 1
        lang = s[:end]
    colon = ":" in s
    slash = s.find("/")
    prefix = ""
    p = 0
    if 0 <= slash <= 4 and not colon:
        prefix = s[:slash]
        p = slash + 1
    else:
        for i in range(min(5, len(s))):
            if i >= 1 and s[i] in "/_":
                prefix = s[:i]
                p = i + 1
                break
            if not _is_digit(s[i]) and s[i] != "-":
                break
    decclass = ""
    variant = ""
    if not colon and p < len(s) and _is_digit(s[p]):
        q = p
        while q < len(s) and q - p < 6 and _is_digit(s[q]):
            q += 1
        if q - p < 6:
            decclass = s[p:q]
        if q < len(s) and (s[q] == "-" or (s[q] == "_" and decclass)):
            q += 1
        dash = s.rfind("-")
        if dash >= 0 and dash >= q:
            ind = s[q:dash]
            variant = s[dash:]
        else:
            ind = s[q:]
    else:
        end = s.find(":" if colon else "-", p)
        end = len(s) if end < 0 else end + 1
        ind = s[p:end]
    return prefix, decclass, ind.replace("_", "/"), variant.replace("_", "/"), lang, rev


def display_number(fname):
    """The identity cell of a linked row: display form, a blank, revision."""
    prefix, decclass, ind, variant, lang, rev = name_parts(fname)
    out = prefix + "/" if prefix else ""
    if decclass:
        out += decclass if len(decclass) < 5 else decclass[:3] + " " + decclass[3:]
        if not ind.startswith("/") and not out.endswith("-"):
            out += "-"
    run = 0
    fourth = 0
    prev = ""
    for ch in ind:
        if _is_digit(ch):
            if _is_alpha(prev):
                out += " "
            run += 1
            if run == 4:
                fourth = len(out)
            if run == 5:
                out = out[:fourth] + " " + out[fourth:]
        else:
            run = 0
        out += ch
        prev = ch
    out += variant
    if lang:
        out += " " + lang
    return out[:63] + " " + rev.replace("_", "/")


def is_cod_pod(number):
    if looks_invalid(number):
        return False
    fname = to_filename(number, None, "html")
    parts = name_parts(fname) if fname else None
    return parts is not None and parts[1] in ("19082", "19083")


def read_ddc(text):
    """The number the leading digits form, at most nine read; 0 for none."""
    digits = ""
    for ch in (text or "")[:9]:
        if not _is_digit(ch):
            break
        digits += ch
    return int(digits) if digits else 0


# ---- the join


class Entry:
    def __init__(self, title, number, blocks, index):
        self.title = title[:TITLE_MAX]
        self.number = number
        self.blocks = blocks
        self.index = index
        self.settled = False
        self.key_number = fold(number)
        self.key_title = fold(self.title)
        self.fn = None
        self.art = None
        self.parts = None
        self.decclass = INVALID_CLASS
        if not looks_invalid(number):
            art, rev = art_rev(number)
            fname = to_filename(art, rev, None) if rev else None
            parts = name_parts(fname) if fname else None
            if parts is not None:
                self.art = fold(art)
                self.parts = parts
                self.decclass = parts[1]
                self.fn = to_filename(art, rev, "")
        self.group, self.logic = CLASS_RULES.get(self.decclass, OTHER_RULE)
        self.catchword = None
        if self.logic == 1:
            word = self.title
            for i, ch in enumerate(word):
                if ch in " :":
                    word = word[:i]
                    break
            self.catchword = fold(self.decclass + word[:CATCHWORD_WORD_MAX])
        self.class_number = read_ddc(self.decclass) if self.decclass.isdigit() else 0

    @property
    def cod_pod(self):
        return is_cod_pod(self.number)

    def walk_key(self):
        return self.key_title, self.key_number

    def section(self):
        return OTHER_DOCUMENTS if self.parts is None else section_name(self.decclass)

    def row(self, icon, library):
        if self.fn is None:
            return [self.section(), icon, None, None, self.number]
        return [self.section(), icon, library, self.fn, display_number(self.fn)]


def _blank(number):
    return number is None or all(ch in " \t\n" for ch in number)


def _side(rows):
    """Entries that take part: a title, a number not blank, first per number."""
    seen = set()
    out = []
    for i, r in enumerate(rows):
        if r.get("title") is None or _blank(r.get("number")):
            continue
        e = Entry(r["title"], r["number"], r.get("blocks", []), i)
        if e.key_number in seen:
            continue
        seen.add(e.key_number)
        out.append(e)
    return out


def _index(entries, key):
    idx = {}
    for e in entries:
        k = key(e)
        if k is not None:
            idx.setdefault(k, []).append(e)
    for cands in idx.values():
        cands.sort(key=lambda c: c.key_number)
    return idx


def _check(e, c):
    """'5' keeps searching, '4' same, '2' changed."""
    if c.settled:
        return "5"
    if e.logic == 3:
        return "2"
    if c.decclass != e.decclass:
        return "5"
    same = c.parts == e.parts if c.parts is not None and e.parts is not None else c.parts is e.parts
    if same and e.logic == 1:
        same = c.title == e.title
    return "4" if same else "2"


def compare(old_rows, new_rows, ddc=0, cp=False, old_lib="old", new_lib="new", fetched=False):
    """The report's JSON object for two lists of row dicts."""
    side1 = _side(old_rows)
    side2 = _side(new_rows)
    by_number1 = {e.key_number: e for e in side1}
    for e in side2:
        match = by_number1.get(e.key_number)
        if match is not None:
            match.settled = True
            e.settled = True
    titles = _index(side1, lambda c: c.key_title)
    catchwords = _index(side1, lambda c: c.catchword)
    articles = _index(side1, lambda c: c.art)

    results = []  # (group, class, status, order, rows)
    order = 0
    for e in sorted(side2, key=Entry.walk_key):
        if ddc and e.class_number != ddc:
            continue
        if e.settled:
            continue
        if e.logic == 1:
            cands = catchwords.get(e.catchword, [])
        elif e.logic == 2:
            cands = titles.get(e.key_title, [])
        else:
            cands = articles.get(e.art, []) if e.art is not None else []
        status, match = "1", None
        for c in cands:
            verdict = _check(e, c)
            if verdict != "5":
                status, match = verdict, c
                c.settled = True
                break
        if status == "4":
            continue
        if status == "1":
            order += 1
            if not cp or e.cod_pod:
                results.append((e.group, e.decclass, "1", order, [e.row(ICON_NEW, new_lib)]))
            continue
        order += 2
        if cp and not e.cod_pod:
            continue
        if cp and fetched and match.blocks == e.blocks:
            continue
        results.append((e.group, e.decclass, "2", order - 1,
                        [e.row(ICON_CHANGED_NEW, new_lib), match.row(ICON_CHANGED_OLD, old_lib)]))
    for c in sorted(side1, key=Entry.walk_key):
        if ddc and c.class_number != ddc:
            continue
        if c.settled:
            continue
        order += 1
        if not cp or c.cod_pod:
            results.append((c.group, c.decclass, "3", order, [c.row(ICON_REMOVED, old_lib)]))

    results.sort(key=lambda r: r[:4])
    rows = []
    headers = []
    section = None
    for group, decclass, _, _, pair in results:
        if (group, decclass) != section:
            section = (group, decclass)
            headers.append(pair[0][0])
        rows.extend(pair)
    return {"no_differences": not rows, "headers": headers, "rows": rows}


def read_records(path):
    old, new = [], []
    with open(path, encoding="utf-8") as f:
        for line in f:
            if line.strip():
                r = json.loads(line)
                (old if r["side"] == "old" else new).append(r)
    return old, new


def case_rows(rows):
    """A case's list rows: [title, number] pairs, null for an empty cell."""
    return [{"title": t, "number": n} for t, n in rows]


def run_case(case, old_lib="old", new_lib="new"):
    fields = case.get("fields", {})
    return compare(case_rows(case["old"]), case_rows(case["new"]), ddc=read_ddc(fields.get("DDC")),
                   cp=fields.get("CP", "").lower() == "codpod", old_lib=old_lib, new_lib=new_lib)


def selftest(path):
    with open(path, encoding="utf-8") as f:
        cases = json.load(f)
    failed = 0
    for case in cases:
        got = run_case(case)
        want = case["expected"]
        if got != want:
            failed += 1
            print("case %s:\n  got  %s\n  want %s" % (case["name"], json.dumps(got), json.dumps(want)))
    print("%d cases, %d failed" % (len(cases), failed))
    return 1 if failed else 0


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("records", nargs="?")
    ap.add_argument("--selftest", metavar="CASES")
    ap.add_argument("--ddc", default="")
    ap.add_argument("--cp", default="")
    ap.add_argument("--fetched", action="store_true")
    ap.add_argument("--old-lib", default="old")
    ap.add_argument("--new-lib", default="new")
    args = ap.parse_args(argv)
    if args.selftest:
        return selftest(args.selftest)
    if not args.records:
        ap.error("RECORDS or --selftest needed")
    old, new = read_records(args.records)
    result = compare(old, new, ddc=read_ddc(args.ddc), cp=args.cp.lower() == "codpod", old_lib=args.old_lib,
                     new_lib=args.new_lib, fetched=args.fetched)
    json.dump(result, sys.stdout, indent=1)
    sys.stdout.write("\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

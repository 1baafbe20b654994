#!/usr/bin/env python3
"""Seeded search replies for search_results_bench, with their expected order.

usage: gen_qxsrch.py OUTDIR

Writes one directory per case into OUTDIR:
  hits10000   20 libraries of 500 hits, titles drawn at random
  hits40000   20 libraries of 2,000 hits, likewise
  equal10000  20 libraries of 500 hits, every title the same
Each holds:
  fulltext.qxx, title.qxx  the daemon's QXSRCH reply lines for that index:
                the body-text hits of every document, the title hits of a
                quarter of them; libraries in catalogue order, four without
                a hit answering 349, each library's hits in index order
  mllist        the MLLIST answers: a line "= <argument>", then the reply
                lines for that argument (hash id and bracketed identity)
  expected      the prepared order, one "<hash> <member> <searchType>" a line

The search is a full-text one (OD "0", BA "TITLE", grouped by search type):
each library's title hits (2048) before its body-text hits (128), within a
search type by document type number, then title (ASCII case-blind), then
member name; the libraries keep their first appearance, as above 2,999
matches the page does not order them by title. Titles are capitalised words
with blanks only, so a case-blind order is the byte order of the lowered text.
"""
import os
import random
import sys

SEED = 3131
LIBRARIES = 20
EMPTY_LIBRARIES = 4
TITLE_SHARE = 4  # one document in this many also hits the title index
FOLDER = "<!--@@servname-->"
# Decimal classes and the document type numbers the client gives them.
CLASSES = (("1553", 1), ("15431", 9), ("1551", 18), ("19080", 19))
WORDS = ("Access Adapter Alarm Backup Cable Capacity Channel Cluster Configuration Connection Control Data "
         "Database Description Device Display Event Fault Feature Function Gateway Guide Handling Hardware "
         "Interface Link Load Management Manual Message Module Monitor Network Node Operation Overview "
         "Performance Platform Port Power Procedure Processor Protocol Radio Recovery Reference Release "
         "Route Security Server Service Setup Signal Software Station Storage Switch System Test Traffic "
         "Unit Upgrade User Voice").split()
SAME_TITLE = "Installation Guide"
CASES = (("hits10000", 500, False), ("hits40000", 2000, False), ("equal10000", 500, True))


def quote(text):
    """The daemon's quoting of a comment: letters and digits alone stay bare."""
    if text and text.isascii() and text.isalnum():
        return text
    return '"' + text.replace('"', '\\"') + '"'


def make_document(rng, lib, number, same_title, title_hit):
    decimal_class, doctype = rng.choice(CLASSES)
    extension = rng.choice(("html", "html", "html", "pdf"))
    member = "%s-CXA1%02d%05dUen.A.%s" % (decimal_class, lib, number, extension)
    if same_title:
        title, path, ctw = SAME_TITLE, "", ""
    else:
        words = rng.sample(WORDS, rng.randint(2, 4))
        if title_hit:
            words.insert(rng.randrange(len(words) + 1), "Installation")
        title = " ".join(words)
        path = rng.choice(("", "", "", "Products|%s|" % rng.choice(WORDS)))
        ctw = rng.choice(("", "", "", "", rng.choice(WORDS).upper()))
    comment = 'TITLE: "%s%s"' % (path, title)
    if ctw:
        comment += " CTW: %s" % ctw
    shown = "%s: %s" % (ctw, title) if ctw else title
    return {"member": member, "doctype": doctype, "word": "PDF" if extension == "pdf" else "HTML",
            "comment": comment, "shown": shown, "title_hit": title_hit}


def hit_line(library, document, token):
    return '300 "%s" %d "%s" %s 0 [%s] %s' % (library["file"], library["hash"], document["member"],
                                             document["word"], token, quote(document["comment"]))


def write_case(out, name, per_library, same_title):
    rng = random.Random("%d %s" % (SEED, name))
    os.makedirs(out, exist_ok=True)
    documents_per_library = per_library * TITLE_SHARE // (TITLE_SHARE + 1)
    libraries = []
    for i in range(LIBRARIES + EMPTY_LIBRARIES):
        name_word = rng.choice(WORDS)
        libraries.append({
            "index": i,
            "file": "lib%02d.kvo" % i,
            "hash": 1000 + 37 * i,
            "identity": "EN/DOCLIB%02d R1A" % i,
            "comment": "%s %s Library [EN/DOCLIB%02d R1A]" % (name_word, rng.choice(WORDS), i),
            "documents": [],
        })
    # The libraries without hits stand among the others, as the catalogue has them.
    rng.shuffle(libraries)
    with_hits = [library for library in libraries if library["index"] < LIBRARIES]
    for library in with_hits:
        titled = set(rng.sample(range(documents_per_library), per_library - documents_per_library))
        library["documents"] = [make_document(rng, library["index"], n, same_title, n in titled)
                                for n in range(documents_per_library)]

    header = "300-Database Filename Hash DocType Score Tokens Comment"
    for index, searched in (("fulltext.qxx", lambda d: True), ("title.qxx", lambda d: d["title_hit"])):
        lines = [header]
        for library in libraries:
            hits = [d for d in library["documents"] if searched(d)]
            if not hits:
                lines.append('349 "%s" "%s" %d' % (FOLDER, library["file"], library["hash"]))
            lines.extend(hit_line(library, d, "INSTALLATION") for d in hits)
        lines.append("200-QXSRCH executed.")
        with open(os.path.join(out, index), "w") as f:
            f.write("\n".join(lines) + "\n")

    with open(os.path.join(out, "mllist"), "w") as f:
        for library in libraries:
            line = ('300   DB     0 "%12s"  "R1A|%d|%s|" \t %8d %5d %10d %s FALSE'
                    % (library["file"], library["hash"], library["file"], 4096 + 512 * len(library["documents"]),
                       len(library["documents"]), 1700000000, quote(library["comment"])))
            answer = "300-Type Level Name         ID  Size\t\tEntries CTime    \"Comment\"\n%s\n200-MLLIST executed.\n" % line
            for argument in (str(library["hash"]), "[%s]" % library["identity"].replace(" ", "")):
                f.write("= %s\n%s" % (argument, answer))

    with open(os.path.join(out, "expected"), "w") as f:
        for library in with_hits:
            for search_type, chosen in ((2048, [d for d in library["documents"] if d["title_hit"]]),
                                        (128, library["documents"])):
                chosen = sorted(chosen, key=lambda d: (d["doctype"], d["shown"].lower(), d["member"]))
                for d in chosen:
                    f.write("%d %s %d\n" % (library["hash"], d["member"], search_type))


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: gen_qxsrch.py OUTDIR")
    for name, per_library, same_title in CASES:
        write_case(os.path.join(sys.argv[1], name), name, per_library, same_title)


if __name__ == "__main__":
    main()

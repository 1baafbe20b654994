#!/usr/bin/env python3
"""Seeded HTML corpus for index_search_bench, and the input of its word index.

Writes into OUTDIR:
  corpus.pages  the pages, each as "<byte length>\\n<html>"
  corpus.words   the input of tests/bmod/unzipd/search/ruvx_build.py (d = 3),
                whose image goes to corpus.qxx
  corpus.terms  the words the benchmark asks for, one "name word" a line

3000 pages of about 8 KB of body text; words drawn with Zipf frequencies
(s = 1) over 50000 made-up words, 200 of which begin "netw". The indexed
words are those of the tag-free body text cut the way isDelimiter cuts
(runs of letters, digits, '#', '-', '_'), upper-cased.
"""
import bisect
import os
import random
import re
import sys

PAGES = 3000
WORDS = 50000
NETW = 200
TEXT_BYTES = 8000
SEED = 1515

WORD_RE = re.compile(rb"[A-Za-z0-9#_-]+")


def make_words(rng):
    words, seen = [], set()
    while len(words) < WORDS:
        if len(words) % (WORDS // NETW) == 7:
            w = "netw" + "".join(rng.choice("aeiourstnl") for _ in range(rng.randint(2, 6)))
        else:
            w = "".join(rng.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(3, 10)))
        if w not in seen:
            seen.add(w)
            words.append(w)
    return words


def main():
    out = sys.argv[1]
    image_path = os.path.join(out, "corpus.qxx")
    os.makedirs(out, exist_ok=True)
    rng = random.Random(SEED)
    words = make_words(rng)
    cumulative, total = [], 0.0
    for rank in range(1, WORDS + 1):
        total += 1.0 / rank
        cumulative.append(total)

    # A rare pair planted side by side in a few pages: the phrase case.
    phrase = (words[9999], words[11999])
    phrase_pages = set(rng.sample(range(PAGES), 20))

    index = {}
    with open(os.path.join(out, "corpus.pages"), "wb") as pages:
        for p in range(PAGES):
            parts, size = [], 0
            while size < TEXT_BYTES:
                sentence = [words[bisect.bisect_left(cumulative, rng.random() * total)]
                            for _ in range(rng.randint(6, 18))]
                if rng.random() < 0.3:
                    sentence[0] = sentence[0].capitalize()
                if rng.random() < 0.2:
                    i = rng.randrange(len(sentence))
                    sentence[i] = "<b>" + sentence[i] + "</b>"
                text = " ".join(sentence) + ". "
                parts.append(text)
                size += len(text)
            if p in phrase_pages:
                parts.insert(len(parts) // 2, "see %s %s now. " % phrase)
            body = "<p>" + "</p>\n<p>".join(parts) + "</p>"
            html = ("<html><head><title>Page %d</title></head><body><!--@BODY-->\n"
                    "<h2>Section %d</h2>\n%s\n</body></html>\n" % (p, p, body)).encode("ascii")
            pages.write(b"%d\n" % len(html) + html)
            plain = re.sub(rb"<[^>]*>", b" ", html.split(b"<!--@BODY-->", 1)[1])
            counts = {}
            for w in WORD_RE.findall(plain):
                w = w.upper()
                counts[w] = counts.get(w, 0) + 1
            for w, c in counts.items():
                index.setdefault(w, []).append((p, min(c, 255)))

    with open(os.path.join(out, "corpus.words"), "w") as listing:
        listing.write("type 0\ndimension 3\npostings16 0\n")
        for p in range(PAGES):
            listing.write("doc 4 0 %s\n" % ("p%04d.html" % p).encode().hex())
        for w, postings in index.items():
            listing.write("word %s %s\n" % (w.hex(), " ".join("%d:%d" % pc for pc in postings)))
        listing.write("image %s\n" % image_path)

    with open(os.path.join(out, "corpus.terms"), "w") as terms:
        for name, rank in (("mid", 200), ("a", 40), ("b", 55), ("c", 3000), ("d", 90)):
            terms.write("%s %s\n" % (name, words[rank - 1]))
        terms.write("phrase1 %s\nphrase2 %s\n" % phrase)


if __name__ == "__main__":
    main()

"""Differential check: wildcardfit against fnmatch.fnmatchcase.

Usage: python3 wildcard_fnmatch_check.py <path-to-wildcard_matcher> [seed]

Builds seeded random (pattern, text) pairs from the elements both matchers
read alike, feeds them to wildcard_matcher in one run and compares each
answer with fnmatch.fnmatchcase. Prints the first mismatches and their
count; exits 0 only when there are none.
"""

import fnmatch
import random
import subprocess
import sys

PAIRS = 20000
DEFAULT_SEED = 20240611
MAX_LENGTH = 12
ELEMENTS = ["a", "b", "c", "*", "?", "[ab]", "[!ab]", "[a-c]"]
LETTERS = "abc"
# One text byte that each one-byte element accepts.
FITTING = {"?": "abc", "[ab]": "ab", "[!ab]": "c", "[a-c]": "abc"}


def random_text(rng, length):
    return "".join(rng.choice(LETTERS) for _ in range(length))


def fitting_text(rng, elements):
    """A text the pattern should fit, or None when it would be too long."""
    parts = []
    for element in elements:
        if element == "*":
            parts.append(random_text(rng, rng.randint(0, 3)))
        else:
            parts.append(rng.choice(FITTING.get(element, element)))
    text = "".join(parts)
    return text if len(text) <= MAX_LENGTH else None


def make_pairs(seed):
    # Uniform random texts rarely fit a long pattern, so half of the texts
    # are built from their pattern (then often mutated by one byte).
    rng = random.Random(seed)
    pairs = []
    while len(pairs) < PAIRS:
        elements = [rng.choice(ELEMENTS) for _ in range(rng.randint(0, MAX_LENGTH))]
        text = None
        if rng.random() < 0.5:
            text = fitting_text(rng, elements)
            if text and rng.random() < 0.3:
                i = rng.randrange(len(text))
                text = text[:i] + rng.choice(LETTERS) + text[i + 1:]
        if text is None:
            text = random_text(rng, rng.randint(0, MAX_LENGTH))
        pairs.append(("".join(elements), text))
    return pairs


def run_matcher(matcher, pairs):
    records = []
    for pattern, text in pairs:
        records.append(b"%d %d\n%s%s\n" % (len(pattern), len(text), pattern.encode(), text.encode()))
    done = subprocess.run([matcher], input=b"".join(records), capture_output=True, check=False)
    if done.returncode != 0:
        sys.exit("wildcard_matcher failed with status %d: %s" % (done.returncode, done.stderr.decode(errors="replace")))
    answers = done.stdout.split()
    if len(answers) != len(pairs) or any(a not in (b"0", b"1") for a in answers):
        sys.exit("wildcard_matcher gave %d answers for %d pairs" % (len(answers), len(pairs)))
    return [a == b"1" for a in answers]


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    seed = int(sys.argv[2]) if len(sys.argv) == 3 else DEFAULT_SEED
    pairs = make_pairs(seed)
    answers = run_matcher(sys.argv[1], pairs)
    mismatches = 0
    fits = 0
    for (pattern, text), got in zip(pairs, answers):
        want = fnmatch.fnmatchcase(text, pattern)
        fits += want
        if got != want:
            mismatches += 1
            if mismatches <= 20:
                print("mismatch: wildcardfit(%r, %r) = %d, fnmatchcase = %d" % (pattern, text, got, want))
    print("seed %d: %d pairs, %d fit, %d mismatches" % (seed, len(pairs), fits, mismatches))
    return 1 if mismatches else 0


if __name__ == "__main__":
    sys.exit(main())

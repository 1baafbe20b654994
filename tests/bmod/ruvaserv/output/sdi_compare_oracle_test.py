"""Comparison pages of sdi_compare_run read back and held against the oracle.

Usage: SDI_COMPARE_RUN=<path> python3 sdi_compare_oracle_test.py

Seeded pairs of 5,000 documents (three seeds) and 20,000 (one), rows sorted
by number and shuffled, also with the class filters DDC=19082 and DDC=1551
and the COD/POD option; identical lists and lists differing only by title
edits under the same numbers ("No differences found !"); and every hand-made
case of compare_cases.json. Each page must read, through report_rows.py, as
exactly the rows sdi_oracle.py computes from the records.
"""

import concurrent.futures
import json
import os
import random
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import gen_sdi_pair  # noqa: E402
import report_rows  # noqa: E402
import sdi_oracle  # noqa: E402

# The libraries side 1 and side 2 are named by, through the fields DC and DB.
OLD_LIB, NEW_LIB = "old", "new"
PAIRS = [(5000, 1, "sorted"), (5000, 1, "random"), (5000, 2, "random"), (5000, 3, "sorted"),
         (20000, 1, "sorted"), (20000, 1, "random")]
# Field sets run over some of the pairs besides the plain comparison.
FILTERS = {(5000, 1, "random"): [{"DDC": "19082"}, {"DDC": "1551"}, {"CP": "codpod"}],
           (20000, 1, "random"): [{"DDC": "19082"}, {"DDC": "1551"}]}
WORKERS = 3


def run_compare(tool, old, new, page, fields):
    fields = dict(fields, DC=OLD_LIB, DB=NEW_LIB)
    args = [tool, old, new, page] + ["%s=%s" % kv for kv in sorted(fields.items())]
    run = subprocess.run(args, capture_output=True, text=True, timeout=150)
    if run.returncode != 0:
        return ["exit %d: %s" % (run.returncode, run.stderr.strip()[:500])]
    return None


def check(tool, name, old, new, page, fields, expected):
    """Failure lines of one comparison; none when the page reads as expected."""
    failed = run_compare(tool, old, new, page, fields)
    if failed is None:
        failed = report_rows.differences(report_rows.read_page(page), expected)
    return ["%s: %s" % (name, line) for line in failed]


def oracle(old, new, fields):
    return sdi_oracle.compare(old, new, ddc=sdi_oracle.read_ddc(fields.get("DDC")),
                              cp=fields.get("CP", "").lower() == "codpod", old_lib=OLD_LIB, new_lib=NEW_LIB)


def pair_jobs(tmp):
    """(name, old, new, page, fields, expected) of the seeded pairs."""
    jobs = []
    for docs, seed, order in PAIRS:
        d = os.path.join(tmp, "pair-%d-%d-%s" % (docs, seed, order))
        os.makedirs(d)
        gen_sdi_pair.write_pair(d, docs, seed, order, 0, None)
        old_rows, new_rows = gen_sdi_pair.records_as_rows(*records(d))
        old, new = os.path.join(d, "old.sgml"), os.path.join(d, "new.sgml")
        with open(os.path.join(d, "expected.json"), encoding="utf-8") as f:
            expected = json.load(f)
        for fields in [{}] + FILTERS.get((docs, seed, order), []):
            tag = "".join("-%s%s" % kv for kv in sorted(fields.items()))
            name = "%d docs seed %d %s%s" % (docs, seed, order, tag.replace("-", " "))
            jobs.append((name, old, new, os.path.join(d, "page%s.html" % tag), fields,
                         oracle(old_rows, new_rows, fields) if fields else expected))
    return jobs


def records(d):
    """The generator's (title, engtitle, number, blocks) rows of each side."""
    old, new = sdi_oracle.read_records(os.path.join(d, "records.jsonl"))
    conv = lambda rows: [(r["title"], r["engtitle"], r["number"], [b for b in r.get("blocks", [])])  # noqa: E731
                         for r in rows]
    return conv(old), conv(new)


def no_difference_jobs(tmp):
    """Identical lists, and the same numbers with a tenth of the titles edited."""
    d = os.path.join(tmp, "same")
    os.makedirs(d)
    gen_sdi_pair.write_pair(d, 5000, 7, "random", 0, None)
    old, _ = records(d)
    rng = random.Random(7)
    edited = [(t + " (edited)" if t is not None and rng.random() < 0.1 else t, e, n, b) for t, e, n, b in old]
    rng.shuffle(edited)
    old_sgml, edited_sgml = os.path.join(d, "old.sgml"), os.path.join(d, "edited.sgml")
    gen_sdi_pair.write_sgml(edited_sgml, edited, 8)
    none = {"no_differences": True, "headers": [], "rows": []}
    o, e = gen_sdi_pair.records_as_rows(old, edited)
    assert oracle(o, e, {}) == none
    return [("identical lists", old_sgml, old_sgml, os.path.join(d, "identical.html"), {}, none),
            ("title edits only", old_sgml, edited_sgml, os.path.join(d, "edited.html"), {}, none)]


def case_jobs(tmp):
    with open(os.path.join(HERE, "compare_cases.json"), encoding="utf-8") as f:
        cases = json.load(f)
    d = os.path.join(tmp, "cases")
    gen_sdi_pair.write_cases(d, os.path.join(HERE, "compare_cases.json"))
    jobs = []
    for i, case in enumerate(cases):
        c = os.path.join(d, "case%02d" % i)
        jobs.append(("case %r" % case["name"], os.path.join(c, "old.sgml"), os.path.join(c, "new.sgml"),
                     os.path.join(c, "page.html"), case.get("fields", {}), case["expected"]))
    return jobs


def main():
    tool = os.environ.get("SDI_COMPARE_RUN")
    if not tool or not os.access(tool, os.X_OK):
        print("SDI_COMPARE_RUN does not name the test program", file=sys.stderr)
        return 1
    failures = []
    with tempfile.TemporaryDirectory() as tmp:
        jobs = case_jobs(tmp) + no_difference_jobs(tmp) + pair_jobs(tmp)
        with concurrent.futures.ThreadPoolExecutor(WORKERS) as pool:
            results = pool.map(lambda job: (job[0], check(tool, *job)), jobs)
            for name, failed in results:
                print("%s %s" % ("FAIL" if failed else "ok  ", name))
                failures += failed
    for line in failures:
        print(line)
    print("%d comparisons, %d failure lines" % (len(jobs), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

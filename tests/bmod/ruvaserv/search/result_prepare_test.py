"""The preparation of the results page through prep_dump: chosen cases with
their expected values typed here, and a differential over seeded random
cases against qx_oracle.py (RUVA_PREP_SEED repeats a run; a failure prints
its seed)."""
import json
import os
import random
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import qx_oracle  # noqa: E402
import qxsrch_lines  # noqa: E402

PREP_DUMP = os.environ.get("PREP_DUMP", "prep_dump")



def db_name(lib):
    return "lib%s.kvo" % lib


def qx_line(e):
    """One reply line of an entry dict (see qx_oracle)."""
    if e["hit"]:
        return qxsrch_lines.hit(db_name(e["ID"]), int(e["ID"]), e["filename"], e["words"], e["comment"])
    if e["actualHits"]:
        return qxsrch_lines.summary("Folder", db_name(e["ID"]), int(e["ID"]), e["actualHits"])
    return qxsrch_lines.no_hit("Folder", db_name(e["ID"]), int(e["ID"]))


def ml_reply(lib, comment):
    return qxsrch_lines.mllist_reply([qxsrch_lines.mllist_library(db_name(lib), int(lib), 984, 3, 1796961933,
                                                                  comment)])


def entry(lib, filename="", comment="", words=("W",), hit=1, actual=0, stype=128, kwd=2, topic=2):
    return {"ID": lib, "filename": filename, "comment": comment, "words": list(words) if hit else [],
            "hit": hit, "actualHits": actual, "searchType": stype, "isKwd": kwd, "isTopic": topic,
            "keyword": (words[0] if words else None) if hit else None}


def summary(lib, count, stype=128):
    return entry(lib, hit=0, actual=count, stype=stype)


def empty(lib, stype=128):
    return entry(lib, hit=0, stype=stype)


def frame(kind, body):
    data = body.encode("latin-1")
    return b"%s %d\n" % (kind.encode(), len(data)) + data + b"\n"


def exchanges(entries):
    """Consecutive entries of one type and marks as one QXSRCH each."""
    runs = []
    for e in entries:
        mark = (e["searchType"], e["isKwd"], e["isTopic"])
        if not runs or runs[-1][0] != mark:
            runs.append((mark, []))
        runs[-1][1].append(e)
    return runs


def encode_case(case):
    out = b""
    for name, value in case["fields"].items():
        out += frame("field", "%s=%s" % (name, value))
    for name, value in case["sd"].items():
        out += frame("sd", "%s=%s" % (name, value))
    out += frame("order", str(case["order"]))
    for (stype, kwd, topic), run in exchanges(case["entries"]):
        out += frame("qxsrch", "%d %d %d fulltext.qxx\n" % (stype, kwd, topic)
                     + qxsrch_lines.qxsrch_reply([qx_line(e) for e in run]))
    for lib, comment in case["mllist"].items():
        out += frame("mllist", lib + "\n" + ml_reply(lib, comment))
    return out + frame("end", "")


def run_cases(cases):
    data = b"".join(encode_case(c) for c in cases)
    done = subprocess.run([PREP_DUMP], input=data, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          timeout=600)
    if done.returncode != 0:
        raise AssertionError("prep_dump: %d %s" % (done.returncode, done.stderr.decode(errors="replace")))
    return [json.loads(line) for line in done.stdout.decode("latin-1").splitlines()]


def make_case(entries, fields=None, sd=None, order=1, mllist=None):
    base_sd = {"searchType": 128, "sTypeCounter": 1, "srchTypeBoolOperation": 0, "isAdvanced": 0}
    base_sd.update(sd or {})
    return {"fields": dict(fields or {}), "sd": base_sd, "order": order, "entries": entries,
            "mllist": dict(mllist or {})}


def docs(lib, n, cls="1553", start=0):
    return [entry(lib, "%s-%X.A.html" % (cls, start + k), "TITLE: T%05d" % (start + k)) for k in range(n)]


class Preparation(unittest.TestCase):
    def check(self, cases):
        got = run_cases([c for c, _ in cases])
        self.assertEqual(len(got), len(cases))
        for (case, expected), line in zip(cases, got):
            for key, value in expected.items():
                self.assertEqual(line.get(key), value, "%s in %s" % (key, json.dumps(line)[:400]))
        return got

    def test_extension_and_document_class_filters(self):
        names = ["1553-A.A.pdf", "1553-B.A.PDF", "1553-C", "15431-D.A.html", "19080-E.A.pdf"]
        hits = [entry("1", n, "TITLE: X" + n) for n in names] + [summary("1", 7)]
        mllist = {"1": "Guide [EN/DOC1 R1A]"}
        self.check([
            (make_case(hits, {"ST": "TITLE", "EX": "pdf"}, mllist=mllist), {"docMatchCount": 3 + 7}),
            (make_case(hits, {"ST": "TITLE", "DO": "15431"}, mllist=mllist), {"docMatchCount": 1 + 7}),
            (make_case(hits, {"ST": "TITLE", "DO": "man"}, mllist=mllist), {"docMatchCount": 1 + 7}),
            (make_case(hits, {"ST": "TITLE", "DO": "XYZ"}, mllist=mllist), {"docMatchCount": 5 + 7}),
            (make_case(hits, {"ST": "TITLE", "DO": "1234567890123"}, mllist=mllist), {"docMatchCount": 5 + 7}),
        ])

    def test_full_text_counts_a_name_once_and_shows_it_per_library(self):
        twice = [entry("1", "1553-A.A.html", "TITLE: A"), entry("1", "1553-A.A.html", "TITLE: A", stype=2048)]
        across = [entry("1", "1553-A.A.html", "TITLE: A"), entry("2", "1553-A.A.html", "TITLE: A")]
        ml = {"1": "Alpha", "2": "Beta"}
        self.check([
            (make_case(twice, {"ST": "FULLTEXT"}, order=0, mllist=ml), {"docMatchCount": 1, "order": [0, 1]}),
            (make_case(across, {}, mllist=ml), {"docMatchCount": 1, "order": [0, 1], "libHitCount": 2}),
            (make_case(twice, {"ST": "TITLE"}, order=0, mllist=ml), {"docMatchCount": 1, "order": [0]}),
        ])

    def test_libraries_grouped_in_first_appearance_order(self):
        hits = [entry(lib, "1553-%d.A.html" % k, "TITLE: T") for k, lib in enumerate(["11", "12", "13", "11", "12"])]
        # 3001 matches keep the reply's library order: grouping only.
        big = hits + [summary("13", 2996)]
        self.check([(make_case(big, {"ST": "TITLE"}), {"order": [0, 3, 1, 4, 2, 5], "libHitCount": 3})])

    def test_and_filter_counts_distinct_types_per_library_and_name(self):
        run = [entry("1", "1553-A.A.html", "TITLE: A", stype=128), entry("1", "1553-A.A.html", "TITLE: A", stype=2048),
               entry("1", "1553-A.A.html", "TITLE: A", stype=2048)]
        other = [entry("2", "1553-A.A.html", "TITLE: A", stype=256)]
        and_sd = {"srchTypeBoolOperation": 1}
        self.check([
            (make_case(run, {"ST": "TITLE"}, dict(and_sd, sTypeCounter=2), 0), {"order": [0]}),
            (make_case(run, {"ST": "TITLE"}, dict(and_sd, sTypeCounter=3), 0), {"order": [], "docMatchCount": 0}),
            # One name in two libraries counts once, but each library's
            # document stands alone in the filter.
            (make_case(run + other, {"ST": "FULLTEXT"}, dict(and_sd, sTypeCounter=2), 0),
             {"order": [0, 1, 2], "docMatchCount": 0, "libHitCount": 1}),
        ])

    def test_merge_takes_over_a_higher_type(self):
        hits = [entry("1", "1553-A.A.html", "TITLE: A", words=["LOW"], stype=128),
                entry("1", "1553-A.A.html", "TITLE: A", words=["HIGH"], stype=4096, kwd=0)]
        got = self.check([(make_case(hits, {"ST": "TITLE"}, order=0), {"order": [0], "docMatchCount": 1})])
        self.assertEqual(got[0]["marks"], [[4096, 0, "HIGH"]])

    def test_library_list_forms_and_profile(self):
        ml = {"12": "Zeta", "34": "Alpha"}
        hits = [entry("12", "1553-A.A.html", "TITLE: A")]
        for form in ['"12 34 "', "&#34;12 34 &#34;", "12 34"]:
            self.check([(make_case(hits, {"ST": "DOCSEARCH", "LIBIDS": form, "PROFILE": "0"}, mllist=ml),
                         {"libIds": ["34", "12"], "libSearchCount": 2})])
        self.check([
            (make_case(hits, {"ST": "DOCSEARCH", "LIBIDS": "12 34", "PROFILE": "1"}, mllist=ml),
             {"libIds": [], "libSearchCount": 1, "showFilterColumn": 1}),
            (make_case(hits, {"LIBIDS": "*.kvo", "PROFILE": "0"}, mllist=ml), {"showFilterColumn": 0}),
            (make_case(hits, {"MLIDS": "12 34"}, mllist=ml), {"hasMlids": 1, "ID": "&#34;12 34 &#34;"}),
        ])

    def test_language_and_option_string(self):
        uja = [entry("1", "1553-AUja.A.html", "TITLE: A")]
        plain = [entry("1", "1553-A.A.html", "TITLE: A")]
        self.check([
            (make_case(uja), {"langCode": "UJA"}),
            (make_case(plain, {"PAT": "\xa4\xa2"}), {"langCode": "UJA"}),
            (make_case(plain, {"PAT": "abc"}), {"langCode": ""}),
            (make_case(plain, {"PAOR": "x" * 90, "ST": "FULLTEXT"}),
             {"options": "&PA=" + "x" * 90 + "&ST=FULLTEXT#SearchMatch1"}),
            (make_case(plain, {"PAOR": "x" * 91, "ST": "FULLTEXT"}), {"options": "#SearchMatch1"}),
            (make_case(plain, {"PAOR": "a b", "ST": "TITLE"}, {"searchType": 2048}), {"options": "&PA=a+b&ST=TITLE"}),
            (make_case(plain, {"FT": "ft", "ST": "TITLE"}, {"searchType": 2048}), {"options": "&FT=ft#SearchMatch1"}),
            (make_case(plain, {"PAOR": '"a b"', "ST": "TITLE"}, {"searchType": 2048}),
             {"options": "&PA=%22a+b%22&ST=TITLE"}),
            (make_case([], {"PAOR": "a", "ST": "TITLE"}), {"options": "", "docMatchCount": 0}),
        ])

    def test_boundaries(self):
        two = {"1": "Zeta", "2": "Alpha"}

        def pair(n):
            first = docs("1", 1)
            return first + docs("2", 1, start=1) + [summary("1", n - 2)]

        ordered = self.check([
            (make_case(pair(2999), {"ST": "TITLE"}, mllist=two), {"docMatchCount": 2999, "order": [1, 0, 2]}),
            (make_case(pair(3000), {"ST": "TITLE"}, mllist=two), {"docMatchCount": 3000, "order": [0, 2, 1]}),
            (make_case(pair(3001), {"ST": "TITLE", "STB": "2"}, mllist=two),
             {"docMatchCount": 3001, "maxResultsCrossed": 1}),
            (make_case(pair(3001), {"ST": "TITLE", "STB": "2"}, {"isAdvanced": 1}, mllist=two),
             {"maxResultsCrossed": 0}),
            (make_case(pair(3001), {"ST": "TITLE"}, mllist=two), {"maxResultsCrossed": 0}),
            (make_case(pair(3001), {"ST": "docsearch"}, mllist=two), {"maxResultsCrossed": 1}),
        ])
        self.assertEqual(len(ordered), 6)
        huge = [summary(lib, 4294967295) for lib in ("1", "2", "3") for _ in range(116)]
        self.check([(make_case(huge, {"ST": "TITLE"}), {"docMatchCount": 348 * 4294967295, "libHitCount": 3})])
        libs = [entry(str(k), "1553-A.A.html", "TITLE: A") for k in range(1, 3002)]
        tokens = " ".join(str(k) for k in range(1, 3002))
        got = self.check([
            (make_case(libs[:3000], {"ST": "TITLE"}), {"result": 1, "libSearchCount": 3000}),
            (make_case(libs, {"ST": "TITLE"}), {"result": 0}),
            (make_case(libs[:1], {"ST": "DOCSEARCH", "LIBIDS": tokens, "PROFILE": "0"}), {"result": 0}),
        ])
        for line in got[1:]:
            self.assertIn("Number of search results exceeds the maximum number.", line["error"])
            self.assertIn("[SearchResultFmt/mem1]", line["error"])


# ---- the differential

TITLES = ["Intro", "intro", "Guide", "a|b|Guide", "Setup", "", "Zeta", "Alpha Beta", 'say \\"hi\\"']
CLASSES = ["1553", "1543", "15431", "19082", "1551", "19080", ""]
TYPES = [(128, 2, 2), (2048, 2, 2), (256, 2, 2), (4096, 0, 2), (1024, 1, 2), (512, 2, 1), (16384, 2, 2)]


def random_name(r):
    ind = "".join(r.choice("ABCDEF0123456789") for _ in range(r.randint(1, 3)))
    if r.random() < 0.1:
        return "h" + ind + ".A"
    lang = r.choice(["", "", "Uen", "Uja"])
    prefix = r.choice(["", "", "9_", "10_", "123_"])
    cls = r.choice(CLASSES)
    if not cls:
        ind = r.choice("ABCDEF") + ind  # leading digits would read as a class
    ext = r.choice(["html", "html", "pdf", "PDF"])
    stem = prefix + (cls + "-" if cls else "") + ind + lang
    return stem + "." + r.choice("AB") + "." + ext


def random_comment(r):
    parts = []
    if r.random() < 0.9:
        parts.append('TITLE: "%s"' % r.choice(TITLES))
    if r.random() < 0.2:
        parts.append("CTW: " + r.choice(["ABC", "Key"]))
    return " ".join(parts)


def random_case(r):
    libs = [str(r.randint(1, 99999)) for _ in range(r.randint(1, 40))]
    libs = list(dict.fromkeys(libs))
    mllist = {lib: r.choice(["Guide [EN/D R1A]", "alpha", "Zeta Lib", "Beta"]) for lib in libs if r.random() < 0.85}
    entries = []
    for _ in range(r.randint(0, 6)):
        stype, kwd, topic = r.choice(TYPES)
        for _ in range(int(r.random() ** 3 * 600)):
            lib = r.choice(libs)
            roll = r.random()
            if roll < 0.04:
                entries.append(summary(lib, r.randint(1, 900), stype))
            elif roll < 0.08:
                entries.append(empty(lib, stype))
            else:
                entries.append(entry(lib, random_name(r), random_comment(r), [r.choice(["W", "X"])], stype=stype,
                                     kwd=kwd, topic=topic))
    pick = r.choice
    fields = {}
    for name, values in [("OD", [None, "0", "1", "8", "9", "x"]),
                         ("BA", [None, "TITLE", "IDENTITY", "TYPE", "xyz", "type", ""]),
                         ("EX", [None, None, "pdf", "html"]),
                         ("DO", [None, None, "15431", "MAN", "XYZ", "1234567890123", "1551"]),
                         ("ST", [None, "FULLTEXT", "TITLE", "DOCSEARCH", "AdvSearch"]),
                         ("STB", [None, "1", "2"]),
                         ("PAOR", [None, "word", "two words", "x" * 95]),
                         ("FT", [None, None, "ft"]),
                         ("MLIDS", [None, None, "12 34"])]:
        value = pick(values)
        if value is not None:
            fields[name] = value
    if r.random() < 0.3:
        chosen = r.sample(libs, min(len(libs), r.randint(1, 5))) + [str(r.randint(1, 99999))]
        form = r.choice(['"%s "', "&#34;%s &#34;", "%s"])
        fields["LIBIDS"] = form % " ".join(chosen)
        fields["PROFILE"] = pick(["0", "0", "1"])
    elif r.random() < 0.1:
        fields["LIBIDS"] = "*.kvo"
    sd = {"searchType": pick([128, 2048, 128 | 2048 | 256, 4096]), "sTypeCounter": r.randint(1, 3),
          "srchTypeBoolOperation": r.randint(0, 1), "isAdvanced": r.randint(0, 1)}
    return make_case(entries, fields, sd, r.randint(0, 1), mllist)


def comparable(line):
    keys = ["result", "order", "marks", "docMatchCount", "libSearchCount", "libHitCount", "maxResultsCrossed",
            "isStb", "isSorted", "fIgnoreSearchType", "showFilterColumn", "libIds", "libraries", "hasMlids",
            "langCode", "options", "firstCounted"]
    return {k: line.get(k) for k in keys}


class Differential(unittest.TestCase):
    def test_prep_dump_equals_oracle(self):
        seed = int(os.environ.get("RUVA_PREP_SEED") or random.SystemRandom().randrange(1 << 32))
        count = int(os.environ.get("RUVA_PREP_CASES", "2000"))
        r = random.Random(seed)
        cases = [random_case(r) for _ in range(count)]
        got = run_cases(cases)
        self.assertEqual(len(got), count, "seed %d" % seed)
        for k, (case, line) in enumerate(zip(cases, got)):
            self.assertEqual(line.get("error", ""), "", "seed %d case %d" % (seed, k))
            expected = qx_oracle.prepare(case)
            self.assertEqual(comparable(line), comparable(expected),
                             "seed %d case %d (RUVA_PREP_SEED=%d repeats it)" % (seed, k, seed))


if __name__ == "__main__":
    unittest.main()

"""The order, counts, library table, cap, language and option string the
results page should show for a search reply, computed independently of the
front end; prep_dump's output and the pages are checked against it.

A case is a dict:
  fields   {name: value} of the request (as stored: plain text)
  sd       {searchType, sTypeCounter, isAdvanced, srchTypeBoolOperation,
            searchPat}
  order    0 (SRSO_DEFAULT) or 1 (SRSO_SRCHTYPE)
  entries  the joined reply in order: dicts with ID, filename, comment, hit,
           actualHits, searchType, isKwd, isTopic, keyword (first hit word
           or None)
  mllist   {library id: comment line}; an id missing here has no title

Document types are known for the decimal classes of the table below and
the fallbacks of doctype(); a name beginning with 'h' is a folder.
"""

OST_BODYTEXT = 128
OST_TITLE = 2048

# Document type numbers and English names of the classes the differential
# uses; a missing class is the general office document.
DOCTYPES = {
    "1553": (1, "User Guide"),
    "1543": (7, "Operating Instructions"),
    "15431": (9, "Operational Instruction"),
    "19082": (11, "Command Description"),
    "1551": (18, "Description"),
    "19080": (19, "Manual Page"),
    "": (366, "General Office Document"),
}

DO_WORDS = {"OPI": "15431", "COD": "19082", "POD": "19083", "ADI": "15542",
            "AI": "15518", "DESC": "1551", "MAN": "19080"}

RESULT_CAP = 3000
LIBRARY_ORDER_MAX = 2999
COUNTED_NAMES_MAX = 3000
MAX_LIBRARIES = 3000
SHOWN_MAX = 2147483647


def lower(text):
    return "".join(chr(ord(c) + 32) if "A" <= c <= "Z" else c for c in text)


def cmp(a, b):
    return (a > b) - (a < b)


def casecmp(a, b):
    return cmp(lower(a), lower(b))


def field(case, name):
    return case["fields"].get(name)


def same(a, b):
    return a is not None and lower(a) == lower(b)


# ---- member names

def name_parts(filename):
    """(prefix, decimal class, language) of a member name: the number is
    the first dot-separated field (a name without a second field has no
    parts); the language starts at its last 'U' or 'u' after the first
    character, else is its leading letters; a prefix is up to four digits
    or dashes before '/' or '_'; the class is the digits after it, fewer
    than six."""
    fields = [f for f in filename.split(".") if f]
    if len(fields) < 2 and ".." not in filename:
        return "", "", ""
    stem = "".join(c for c in fields[0] if ord(c) > 32 and ord(c) != 127)
    u = len(stem)
    while u > 1 and stem[u - 1] not in "Uu":
        u -= 1
    if u > 1:
        end = u - 1
        while end < len(stem) and (stem[end].isascii() and stem[end].isalpha() or stem[end] in "?*"):
            end += 1
        lang, stem = stem[u - 1:end], stem[:u - 1]
    else:
        end = 0
        while end < len(stem) and stem[end].isascii() and stem[end].isalpha():
            end += 1
        lang = stem[:end]
    has_colon = ":" in stem
    slash = stem.find("/")
    prefix, p = "", 0
    if 0 <= slash <= 4 and not has_colon:
        prefix, p = stem[:slash], slash + 1
    else:
        for i in range(min(5, len(stem))):
            if i >= 1 and stem[i] in "/_":
                prefix, p = stem[:i], i + 1
                break
            if not stem[i].isdigit() and stem[i] != "-":
                break
    decclass = ""
    if not has_colon and p < len(stem) and stem[p].isdigit():
        q = p
        while q < len(stem) and q - p < 6 and stem[q].isdigit():
            q += 1
        if q - p < 6:
            decclass = stem[p:q]
    return prefix, decclass, lang


def doctype(decclass):
    """(type number, English name) of a decimal class: the table, else the
    fallbacks by first character."""
    if decclass in DOCTYPES:
        return DOCTYPES[decclass]
    if atoi(decclass) == 0:
        return DOCTYPES[""]
    first = decclass[:1]
    if first == "0":
        return (363, "Administrative Document") if decclass.startswith("006") else (364, "General Document")
    return {"1": (294, "Technical Document"), "2": (311, "Commercial Document"),
            "3": (365, "Financial Document")}.get(first, (0, "ZUnknown"))


def atoi(text):
    digits = ""
    for c in text:
        if not c.isdigit():
            break
        digits += c
    return int(digits) if digits else 0


# ---- descriptor line

def tokens(comment):
    """Blank-separated words; a word opened by a quote runs to the same
    quote, a backslash-quote inside standing for the quote."""
    out, i, n = [], 0, len(comment)
    while i < n:
        while i < n and comment[i] == " ":
            i += 1
        if i >= n:
            break
        if comment[i] in "\"'":
            q, i, word = comment[i], i + 1, ""
            while i < n and comment[i] != q:
                if comment[i] == "\\" and i + 1 < n and comment[i + 1] == q:
                    i += 1
                word += comment[i]
                i += 1
            i += 1
        else:
            word = ""
            while i < n and comment[i] != " ":
                word += comment[i]
                i += 1
        out.append(word)
    return out


def shown_title(comment):
    words = tokens(comment[:1024])
    values = {}
    for k, w in enumerate(words[:-1]):
        if w in ("TITLE:", "CTW:"):
            values[w] = words[k + 1]
    title = values.get("TITLE:", "")
    if "|" in title:
        title = title[title.rindex("|") + 1:]
    title = title[:1024]
    ctw = values.get("CTW:", "")[:80]
    return ctw + ": " + title if ctw else title


# ---- the sort

class Key:
    def __init__(self, e):
        self.entry = e
        name = e["filename"]
        self.has_name = bool(name)
        self.folder = name.startswith("h")
        self.prefix, decclass, _ = name_parts(name) if name else ("", "", "")
        self.prefix_number = atoi(self.prefix)
        self.doctype, type_name = doctype(decclass)
        self.type_name = "Folder" if self.folder else type_name
        self.title = shown_title(e["comment"])
        self.is_kwd = e["isKwd"]
        self.search_type = e["searchType"]
        self.name = name


class Settings:
    def __init__(self):
        self.des_order = 0
        self.searchtype_needed = 1
        self.base = "TITLE"

    def read(self, od, ba):
        self.des_order = 0
        if od:
            u = lower(od)
            self.des_order = 1 if u in ("1", "9") else 0
            self.searchtype_needed = 0 if u in ("9", "8") else 1
        self.base = ba.upper() if ba else "TITLE"


def compare_identity(a, b, des):
    if a.prefix and b.prefix:
        return cmp(a.prefix_number, b.prefix_number) or cmp(a.name, b.name) or casecmp(a.title, b.title)
    if a.prefix:
        return -1 if b.folder else 1
    if b.prefix:
        return 1 if a.folder else -1
    if a.folder and b.folder:
        r = casecmp(a.title, b.title)
        return -r if des else r
    if a.folder != b.folder:
        return 1 if a.folder else -1
    return cmp(a.name, b.name) or casecmp(a.title, b.title)


def compare_hits(a, b, order, s):
    if not a.has_name or not b.has_name:
        return cmp(not a.has_name, not b.has_name)
    if order == 1 and s.searchtype_needed == 1:
        if a.is_kwd == 1 and b.is_kwd != 1:
            return 1 if b.search_type >= OST_TITLE else -1
        if b.is_kwd == 1 and a.is_kwd != 1:
            return -1 if a.search_type >= OST_TITLE else 1
        if a.search_type != b.search_type:
            return -1 if a.search_type > b.search_type else 1
        if a.doctype != b.doctype:
            return -1 if a.doctype < b.doctype else 1
    if s.base == "TITLE":
        r = casecmp(a.title, b.title) or cmp(a.name, b.name)
    elif s.base == "IDENTITY":
        r = compare_identity(a, b, s.des_order)
    elif s.base == "TYPE":
        r = casecmp(a.type_name, b.type_name)
        if r == 0:
            return casecmp(a.title, b.title)
    else:
        r = 0
    return -r if s.des_order == 1 else r


def stable_sort(items, compare):
    """Merge sort: equal items keep their order."""
    if len(items) < 2:
        return list(items)
    mid = len(items) // 2
    left, right = stable_sort(items[:mid], compare), stable_sort(items[mid:], compare)
    out, i, j = [], 0, 0
    while i < len(left) and j < len(right):
        if compare(right[j], left[i]) < 0:
            out.append(right[j])
            j += 1
        else:
            out.append(left[i])
            i += 1
    return out + left[i:] + right[j:]


def title_order(ids, titles):
    """Titled libraries by title (case-blind, stable), then the untitled in
    their order."""
    titled = [i for i in ids if titles.get(lower(i))]
    untitled = [i for i in ids if not titles.get(lower(i))]
    return stable_sort(titled, lambda a, b: casecmp(titles[lower(a)], titles[lower(b)])) + untitled


# ---- the preparation

def url_code(text):
    out = ""
    for b in text.encode("latin-1"):
        c = chr(b)
        if c == " ":
            out += "+"
        elif b < 0x20 or b >= 0x7F or c in "'=;/#%?:{}[]\\^~<>\"&+":
            out += "%%%02X" % b
        else:
            out += c
    return out


def prepare(case):
    f = case["fields"]
    sd = case["sd"]
    st = f.get("ST")
    full_text = st is None or same(st, "FULLTEXT")
    res = {"result": 1, "isStb": int(same(f.get("STB"), "2")),
           "isSorted": int(f.get("OD") is not None and f.get("OD") != "0"),
           "fIgnoreSearchType": int(sd.get("srchTypeBoolOperation", 1) == 1),
           "showFilterColumn": 1, "libIds": [], "hasMlids": 0,
           "maxResultsCrossed": 0, "langCode": "", "options": "", "firstCounted": -1}
    # A library's title is its MLLIST comment; none without an answer or
    # with an empty comment.
    titles = {lower(lib): comment for lib, comment in case["mllist"].items() if comment}

    libids = f.get("LIBIDS")
    if libids is not None and same(libids, "*.kvo"):
        res["showFilterColumn"] = 0
    elif libids is not None and f.get("PROFILE") == "0":
        text = libids.replace("&#34;", '"')
        if text.startswith('"'):
            text = text[1:]
        if text.endswith('"'):
            text = text[:-1]
        ids = [t for t in text.split(" ") if t]
        if len(ids) > MAX_LIBRARIES:
            return {"result": 0, "message": 477}
        res["libIds"] = title_order(ids, {lower(i): case["mllist"].get(i) for i in ids})
    if f.get("MLIDS"):
        res["hasMlids"] = 1

    entries = [dict(e, place=k) for k, e in enumerate(case["entries"])]
    ex = f.get("EX")
    if ex:
        def passes(e):
            name = e["filename"]
            return not name or ("." in name and lower(name[name.rindex(".") + 1:]) == lower(ex))
        entries = [e for e in entries if passes(e)]

    do = f.get("DO") or ""
    docclass = None
    if do and do[0].isdigit() and len(do) <= 12:
        docclass = do
    else:
        for word, cls in DO_WORDS.items():
            if same(do, word):
                docclass = cls
    if docclass is not None:
        for e in entries:
            if e["ID"] and e["filename"] and (docclass + "-") not in e["filename"]:
                e["filename"] = ""

    count, seen = 0, set()
    for e in entries:
        count += e["actualHits"]
        if e["hit"] == 1 and e["filename"]:
            if full_text:
                if e["filename"] in seen:
                    continue
                if len(seen) < COUNTED_NAMES_MAX:
                    seen.add(e["filename"])
            count += 1

    libraries, listed = [], set()
    for e in entries:
        if e["ID"] and lower(e["ID"]) not in listed:
            if len(libraries) == MAX_LIBRARIES:
                return {"result": 0, "message": 477}
            listed.add(lower(e["ID"]))
            libraries.append(e["ID"])
    lib_search = len(res["libIds"]) if res["libIds"] else len(libraries)
    lib_titles = {lower(i): titles.get(lower(i)) for i in libraries}

    settings = Settings()
    if count > 0:
        runs = {}
        for e in entries:
            runs.setdefault(lower(e["ID"]), [])
            if not (e["actualHits"] == 0 and (e["hit"] == 0 or not e["filename"])):
                runs[lower(e["ID"])].append(e)
        entries = []
        for run in runs.values():
            if run:
                settings.read(f.get("OD"), f.get("BA"))
                keys = stable_sort([Key(e) for e in run],
                                   lambda a, b: compare_hits(a, b, case["order"], settings))
                entries += [k.entry for k in keys]

    if sd.get("srchTypeBoolOperation", 1) == 1:
        stats = {}
        for k, e in enumerate(entries):
            key = (lower(e["ID"]), e["filename"]) if e["filename"] else ("\x01", k)
            seen_bits, n = stats.get(key, (0, 0))
            if n == 0 or e["searchType"] & ~seen_bits:
                n += 1
            stats[key] = (seen_bits | e["searchType"], n)
        kept = []
        for k, e in enumerate(entries):
            key = (lower(e["ID"]), e["filename"]) if e["filename"] else ("\x01", k)
            if stats[key][1] < sd.get("sTypeCounter", 0):
                count -= 1
            else:
                kept.append(e)
        entries = kept

    if count > 0 and lib_search > 1 and count <= LIBRARY_ORDER_MAX:
        ids = []
        for e in entries:
            if lower(e["ID"]) not in [lower(i) for i in ids]:
                ids.append(e["ID"])
        order = title_order(ids, lib_titles)
        entries = [e for lib in order for e in entries if lower(e["ID"]) == lower(lib)]
    count = max(count, 0)

    if not full_text and count > 1:
        kept, first = [], {}
        for e in entries:
            if not e["filename"]:
                kept.append(e)
                continue
            key = (lower(e["ID"]), e["filename"])
            if key not in first:
                first[key] = e
                kept.append(e)
                continue
            count -= 1
            k = first[key]
            if e["searchType"] > k["searchType"]:
                k["searchType"], k["isKwd"] = e["searchType"], e["isKwd"]
                if k["isKwd"] != 2 and e["keyword"] is not None:
                    k["keyword"] = e["keyword"]
        entries = kept

    if count > RESULT_CAP:
        if res["isStb"]:
            res["maxResultsCrossed"] = 0 if sd.get("isAdvanced", 0) else 1
        else:
            res["maxResultsCrossed"] = int(same(st, "DocSearch"))
    for e in entries:
        if e["hit"] == 1 and e["filename"] and e["ID"]:
            res["firstCounted"] = e["place"]
            break
    hit_count = len({lower(e["ID"]) for e in entries
                     if not (e["actualHits"] == 0 and (e["hit"] == 0 or not e["filename"]))})
    if any(e["filename"] and lower(name_parts(e["filename"])[2]) == "uja" for e in entries):
        res["langCode"] = "UJA"

    if count > 0:
        options, anchor = "", False
        if f.get("FT"):
            coded = url_code(f["FT"])
            options = "&FT=" + coded if len(coded) <= 72 else ""
            anchor = True
        if f.get("PAOR") is not None:
            coded = url_code(f["PAOR"])
            if len(coded) <= 90:
                options += "&PA=" + coded
                if coded and st is not None:
                    st_coded = url_code(st)
                    if len(st_coded) <= 60:
                        options += "&ST=" + st_coded
            if sd.get("searchType", 0) & OST_BODYTEXT:
                anchor = True
        if anchor:
            options += "#SearchMatch1"
        res["options"] = options

    res.update({
        "order": [e["place"] for e in entries],
        "marks": [[e["searchType"], e["isKwd"], e["keyword"] or ""] for e in entries],
        "docMatchCount": count,
        "libSearchCount": lib_search,
        "libHitCount": hit_count,
        "libraries": [[i, titles.get(lower(i))] for i in libraries],
    })
    return res

#!/usr/bin/env python3
"""Writes RUVX word-index images for tests, from the index format alone.

Input: a text file, one item per line (bytes as hex, "-" for none):
    type <indexType>            dimension <d>           postings16 <0|1>
    header <hex>                (replaces the header text, layout unchanged)
    doc <docType> <subType> <hex name>          (numbered 0.. in order)
    word <hex word> <doc>:<count> ...
    image <path>                (the image file to write)
    library <path> <index member> <stored|deflated>
    member <hex name> <hex comment> <hex data>  (written before the index)
    end                         (writes these files; the next index starts afresh)
Words are normalised (upper-cased unless EUC-JP; CTW keeps the case),
merged when equal and sorted by bytes. reserved1 and reserved2 both hold
the offset of the WRD end mark.
"""
import struct
import sys
import zipfile

END_MARK = b"\xff\xff\xff\xff"
NONE = 0xFFFFFFFF
IXT_CTW = 2


def unhex(text):
    return b"" if text == "-" else bytes.fromhex(text)


def is_euc(word):
    lead = [b > 0xA0 or b == 0x8E for b in word]
    return any(lead[i] and lead[i + 1] for i in range(len(word) - 1))


def upper_latin1(word):
    out = bytearray()
    for b in word:
        if 0x61 <= b <= 0x7A or b >= 0xE0:
            b -= 0x20
        out.append(b)
    return bytes(out)


def slot(word, d):
    value, weight = 0, 1
    for b in word[:d]:
        if 0x61 <= b <= 0x7A:
            b -= 0x20
        if not 0x41 <= b <= 0x5A:
            break
        value += (b - 0x40) * weight
        weight *= 26
    return value


def build_image(job):
    d = job["dimension"]
    docs = job["docs"]
    wide = not job["postings16"]
    if not wide and len(docs) > 32767:
        raise SystemExit("16-bit postings need at most 32767 documents")
    words = {}
    for word, postings in job["words"]:
        if job["type"] != IXT_CTW and not is_euc(word):
            word = upper_latin1(word)
        merged = words.setdefault(word, {})
        for doc, count in postings:
            merged[doc] = min(255, merged.get(doc, 0) + count)

    header = job.get("header") or "RUVX 1 0 {} {} {}".format(
        job["type"], d, 0 if wide else 1).encode("ascii")
    header += b"\0"

    wtb_entries = 26 * 27 ** (d - 1) + 1
    wtb = [NONE] * wtb_entries
    wrd = bytearray()
    for word in sorted(words):
        s = slot(word, d)
        if wtb[s] == NONE:
            wtb[s] = len(wrd)
        wrd += word + b"\0"
        postings = sorted(words[word].items())
        for i, (doc, count) in enumerate(postings):
            last = i == len(postings) - 1
            if wide:
                wrd += struct.pack(">IB", doc | (0x80000000 if last else 0), count)
            else:
                wrd += struct.pack(">HB", doc | (0x8000 if last else 0), count)
    end_mark = len(wrd)
    wrd += END_MARK

    lst = bytearray()
    lst_index = bytearray()
    for doc_type, sub_type, name in docs:
        lst_index += struct.pack(">I", len(lst))
        lst += struct.pack(">bB", doc_type, sub_type) + name + b"\0"
    lst_index += struct.pack(">I", NONE)

    wtb_off = len(header) + 24
    lst_index_off = wtb_off + 4 * wtb_entries
    lst_off = lst_index_off + len(lst_index)
    wrd_off = lst_off + len(lst)
    reserved = wrd_off + end_mark
    image = bytearray(header)
    image += struct.pack(">6I", wtb_off, lst_index_off, lst_off, wrd_off, reserved, reserved)
    image += struct.pack(">%dI" % wtb_entries, *wtb)
    image += lst_index + lst + wrd
    return bytes(image)


def new_job():
    return {"type": 0, "dimension": 3, "postings16": False, "docs": [], "words": [],
            "members": [], "image": None, "library": None, "header": None}


def read_jobs(path):
    jobs = []
    job = new_job()
    with open(path, encoding="ascii") as f:
        for line in f:
            f_ = line.split()
            if not f_:
                continue
            key = f_[0]
            if key == "end":
                jobs.append(job)
                job = new_job()
            elif key == "type":
                job["type"] = int(f_[1])
            elif key == "dimension":
                job["dimension"] = int(f_[1])
            elif key == "postings16":
                job["postings16"] = f_[1] == "1"
            elif key == "header":
                job["header"] = unhex(f_[1])
            elif key == "doc":
                job["docs"].append((int(f_[1]), int(f_[2]), unhex(f_[3])))
            elif key == "word":
                postings = [tuple(int(x) for x in p.split(":")) for p in f_[2:]]
                job["words"].append((unhex(f_[1]), postings))
            elif key == "image":
                job["image"] = f_[1]
            elif key == "library":
                job["library"] = (f_[1], f_[2], f_[3])
            elif key == "member":
                job["members"].append((unhex(f_[1]), unhex(f_[2]), unhex(f_[3])))
            else:
                raise SystemExit("unknown input line: " + line)
    if job["image"] or job["library"]:
        jobs.append(job)
    return jobs


def write_job(job):
    image = build_image(job)
    if job["image"]:
        with open(job["image"], "wb") as f:
            f.write(image)
    if job["library"]:
        path, index_name, method = job["library"]
        compression = zipfile.ZIP_DEFLATED if method == "deflated" else zipfile.ZIP_STORED
        with zipfile.ZipFile(path, "w") as z:
            for name, comment, data in job["members"]:
                info = zipfile.ZipInfo(name.decode("latin-1"), date_time=(2020, 1, 1, 0, 0, 0))
                info.comment = comment
                info.compress_type = zipfile.ZIP_DEFLATED
                z.writestr(info, data)
            info = zipfile.ZipInfo(index_name, date_time=(2020, 1, 1, 0, 0, 0))
            info.compress_type = compression
            z.writestr(info, image)


def main():
    for job in read_jobs(sys.argv[1]):
        write_job(job)


if __name__ == "__main__":
    main()

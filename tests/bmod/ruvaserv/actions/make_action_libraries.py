#!/usr/bin/env python3
"""Writes the libraries the request actions look up, with Info-ZIP zip, one
directory per folder, and <dir>/structure.txt naming the folders:

    Root      (level 0) root/      coll.kvo   "Set [EN/COL1234567R1A] +", a collection whose
                                              library-references.xml names ABC 123 4567 R1A,
                                              DEF 765 4321 R1A (no title, held nowhere) and
                                              GHI 111 1111 R2A
                                   one.kvo    "One [ABC 123 4567 R1A]"
                                   three.kvo  "Three [GHI 111 1111 R2A]"
                                   zul.kvo    zul_sd1.sgml with USER-INFO
                                   pairs.kvo  "Two [EN/FIRST1 R1A] see [EN/SECOND1 R1A]"
    Manuals   (level 1) manuals/   no library
    Guides    (level 2) guides/    guide.kvo  "Guide [EN/ABC1234567R1A] CAT:...", with
                                              guide_sd1.sgml (no USER-INFO) and Sheet.XLS
    Empty     (level 1) empty/     no library
    Changing  (level 1) changing/  busy.kvo, gone.kvo: for the cases that change them

Library names stay below 12 characters, so the daemon pads them in its
listings. Served through "RecursiveDir <dir>" instead of the structure file,
every library is listed at level 0.

Usage: make_action_libraries.py <dir>; importable: make(dir).
"""

import os
import random
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "support"))
import gen_sdi  # noqa: E402

# (label, folder, level); labels are the folder names the listings show.
FOLDERS = [("Root", "root", 0), ("Manuals", "manuals", 1), ("Guides", "guides", 2), ("Empty", "empty", 1),
           ("Changing", "changing", 1)]

REFERENCES = """<?xml version="1.0" encoding="ISO-8859-1"?>
<library-references>
<library><prod-no>ABC 123 4567</prod-no><rstate>R1A</rstate><title>One</title></library>
<library><prod-no>DEF 765 4321</prod-no><rstate>R1A</rstate><title></title></library>
<library><prod-no>GHI 111 1111</prod-no><rstate>R2A</rstate><title>Three</title></library>
</library-references>
"""

PAGE = b"<html><head><title>Start</title></head><body><p>Start</p></body></html>\n"


def sdi_list(title, user_info):
    """A document list whose meta-data hold USER-INFO text or not."""
    m = gen_sdi.Markup(None, random.Random(title))
    m.raw(gen_sdi.DOCTYPE)
    m.start("TAVR")
    m.raw("\n")
    m.start("META-DATA")
    m.raw("\n")
    m.element("TITLE", title)
    if user_info:
        m.element("USER-INFO", "Zone list", ' ID="v2.2"')
    m.raw("\n")
    m.end()
    m.raw("\n")
    m.start("BODY")
    m.element("P", "Documents")
    m.end()
    m.raw("\n")
    m.end()
    m.raw("\n")
    return m.value().encode("latin-1")


# folder -> [(library, comment, [(member, bytes)])]
LIBRARIES = {
    "root": [
        ("coll.kvo", "Set [EN/COL1234567R1A] +", [("library-references.xml", REFERENCES.encode("latin-1"))]),
        ("one.kvo", "One [ABC 123 4567 R1A]", [("index.html", PAGE)]),
        ("three.kvo", "Three [GHI 111 1111 R2A]", [("index.html", PAGE)]),
        ("zul.kvo", "Zones [EN/ZUL1234567R1A]", [("zul_sd1.sgml", sdi_list("Zones", True))]),
        ("pairs.kvo", "Two [EN/FIRST1 R1A] see [EN/SECOND1 R1A]", [("index.html", PAGE)]),
    ],
    "guides": [
        ("guide.kvo", "Guide [EN/ABC1234567R1A] CAT:kvocat,ff|0|1STA:REL",
         [("guide_sd1.sgml", sdi_list("Guide", False)), ("Sheet.XLS", b"sheet\t1\n")]),
    ],
    "changing": [
        ("busy.kvo", "Busy [EN/BUSY1 R1A]", [("index.html", PAGE)]),
        ("gone.kvo", "Gone [EN/GONE1 R1A]", [("index.html", PAGE)]),
    ],
}


def structure_text(records):
    """The structure file's records, as the daemon's tree tests write them."""
    return "# structure\n" + "".join('Name: "%s"\nLabel: "%s"\nLevel: %s\nPath: "%s"\nIndexFile: ""\n\n' % r
                                     for r in records)


def write_library(archive, comment, members):
    staging = tempfile.mkdtemp(prefix="actlib_")
    try:
        for name, data in members:
            with open(os.path.join(staging, name), "wb") as f:
                f.write(data)
        # -nw: no name is a wildcard; -X: no extra fields.
        subprocess.run(["zip", "-q", "-X", "-nw", archive, "--"] + [name for name, _ in members], cwd=staging,
                       check=True)
    finally:
        shutil.rmtree(staging, ignore_errors=True)
    # zip -z reads the archive comment from standard input.
    subprocess.run(["zip", "-q", "-z", archive], check=True, input=(comment + "\n").encode("latin-1"),
                   stdout=subprocess.DEVNULL)


def make(out):
    if shutil.which("zip") is None:
        sys.exit("make_action_libraries.py: zip is missing (scripts/setup installs it)")
    out = os.path.abspath(out)
    records = []
    for label, folder, level in FOLDERS:
        path = os.path.join(out, folder)
        shutil.rmtree(path, ignore_errors=True)
        os.makedirs(path)
        for name, comment, members in LIBRARIES.get(folder, []):
            write_library(os.path.join(path, name), comment, members)
        records.append((label, label.lower(), level, path))
    with open(os.path.join(out, "structure.txt"), "w") as f:
        f.write(structure_text(records))


def main(argv):
    if len(argv) != 2:
        print("usage: make_action_libraries.py <dir>", file=sys.stderr)
        return 2
    make(argv[1])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

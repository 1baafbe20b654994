// Libraries of HTML members for the text-search commands: a folder "Docs"
// of three libraries (two hold the word "cat"), a folder "One" of one
// library, a folder "Empty" without libraries, and members that end
// without NUL or body marker where the extracted text ends.
#pragma once

#include <string>

#include "bmod/unzipd/catalogue/ml_tree.h"
#include "tests/bmod/unzipd/server/library_fixture.h"

namespace ruva::test {

inline const char* kCatPage =
    "<html><head><title>T</title></head><body><p>Intro text. The quick cat runs home.</p></body></html>";

inline const char* kMakeSearchLibraries = R"PY(
import os, sys, zipfile, random
root = sys.argv[1]
def lib(path, members):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with zipfile.ZipFile(path, "w", compresslevel=1) as z:
        for name, data, method in members:
            i = zipfile.ZipInfo(name, (2020, 1, 2, 3, 4, 6))
            i.compress_type = method
            z.writestr(i, data)
        z.comment = b"Lib " + os.path.basename(path).encode() + b" [EN/X]"
cat = sys.argv[2].encode()
D, S = zipfile.ZIP_DEFLATED, zipfile.ZIP_STORED
lib(root + "/docs/d1.kvo", [("doc.html", cat, D)])
lib(root + "/docs/d2.kvo", [("doc.html", cat, S)])
lib(root + "/docs/d3.kvo", [("doc.html", b"<body>dog only</body>", D)])
os.makedirs(root + "/empty", exist_ok=True)
title = b'<h2><span class="CHAPTITLE">Say "Hi" now</span></h2>'
page = (b"<html><body>" + title + b"<p>First words here. Then the phrase lives in this sentence today.</p>"
        b"</body></html>")
lib(root + "/one/p.kvo", [("p.html", page, D)])
rnd = random.Random(7)
big = bytearray(rnd.randbytes(3 << 20).translate(bytes(b"abcdefgh "[i % 9] for i in range(256))))
big[-200:-189] = b" zebrafish "
lib(root + "/big/big.kvo", [("big.html", bytes(big), D)])
# Stored member whose data end on a page boundary; a deflated one of 2 MiB.
os.makedirs(root + "/edge", exist_ok=True)
name = "edge.html"
hdr = 30 + len(name)
fill = 4096 * 3 - hdr
body = bytearray(b"y" * fill)
body[-9:] = b" thecat y"[:9]
with zipfile.ZipFile(root + "/edge/page.kvo", "w") as z:
    i = zipfile.ZipInfo(name, (2020, 1, 2, 3, 4, 6)); i.compress_type = S
    z.writestr(i, bytes(body))
    z.comment = b"Page [EN/P]"
two = bytearray(b"z" * (2 << 20)); two[-4:] = b" cat"
with zipfile.ZipFile(root + "/edge/two.kvo", "w") as z:
    i = zipfile.ZipInfo("two.html", (2020, 1, 2, 3, 4, 6)); i.compress_type = D
    z.writestr(i, bytes(two))
    z.comment = b"Two [EN/T]"
sec = b'<html><body><h1>Top</h1><h2><a name="x"></a>Head</h2><p>body\nline</p><h2>Next</h2></body></html>'
lib(root + "/sec/s1.kvo", [("s.html", sec, D)])
lib(root + "/sec/s2.kvo", [("s.html", b"<body><h2>None</h2></body>", D)])
lib(root + "/sec/s3.kvo", [("s.html", sec.replace(b"body\n", b"more\n"), S)])
dita = b'<body><div id="t"><h2>T</h2><p id="x">in</p></div><div id="u"><h2>U</h2></div></body>'
lib(root + "/sec/s4.dita", [("d.html", dita, D)])
def pack(line):
    out, i = bytearray(), 0
    while i < len(line):
        j = i
        while j < len(line) and line[j] == " " and j - i < 127:
            j += 1
        if j - i >= 2:
            out.append(0x80 | (j - i)); i = j
        else:
            out.append(ord(line[i]) | (0x80 if False else 0)); i += 1
    return bytes(out)
def col(head, ext):
    return head.ljust(117) + ext
recs = [col("BOOK1 CAND / PFX123 45          R1A X9", "HTM"),
        col("BOOK2 OTHR / ABC 7 8 9 10 ABCDEFGHIJKLMNOPQRST", "TXT"),
        col("SHORT", "ABC")[:119],
        col("BLANK CAND / PFX123 45 6 7 8", "A C"),
        col("SHORT", "ABC")]
data = b"\0".join(pack(r) for r in recs)
lib(root + "/pu/pu.kvo", [("idx.txt", data, D)])
)PY";

class SearchSession : public LibrarySession {
protected:
    void addLibraries() override {
        root = dir.file("root");
        writeFile(dir.file("mk.py"), kMakeSearchLibraries);
        ASSERT_EQ(runShell("python3 " + shellQuote(dir.file("mk.py")) + " " + shellQuote(root) + " " +
                           shellQuote(kCatPage)),
                  0);
        ASSERT_EQ(runShell("mkdir -p " + shellQuote(root + "/r")), 0);
        writeFile(dir.file("structure.txt"), cat::structureText({{"Root", "root", "0", root + "/r"},
                                                                 {"Docs", "docs", "1", root + "/docs"},
                                                                 {"One", "one", "1", root + "/one"},
                                                                 {"Empty", "empty", "1", root + "/empty"},
                                                                 {"Big", "big", "1", root + "/big"},
                                                                 {"Edge", "edge", "1", root + "/edge"},
                                                                 {"Sec", "sec", "1", root + "/sec"},
                                                                 {"Pu", "pu", "1", root + "/pu"}}));
    }
    void configureScanner(ZipList* zl) override { zl->setMlConfFile(dir.file("structure.txt").c_str()); }
    std::string folderId(const char* name) {
        return std::to_string(inOrder(uzd.zipList->getMlRoot(), name, 2)->ID);
    }
    std::string root;
};

}  // namespace ruva::test

// GET and RETR against unzip -p, cmp and zlib's CRC; the generated pages.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/bmod/unzipd/server/library_fixture.h"

namespace ruva {
namespace {

using test::capture;
using test::readFile;
using test::readLine;
using test::runShell;
using test::sendText;
using test::shellQuote;

// pdf.kvo: a PDF with an HTML title in its comment, and a numbered PDF
// whose HTML sibling carries title and sub-title.
const char* kMakePdfLibrary = R"PY(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w") as z:
    z.writestr("notice.html", b"<html>n</html>")
    i = zipfile.ZipInfo("y.pdf"); i.comment = b'TITLE: "<i id=t7>x</i>"'; z.writestr(i, b"%PDF-1.4 y")
    i = zipfile.ZipInfo("1551-ABC10101Uen.A.html"); i.comment = b'TITLE: "Install" SUBTITLE: "Step by step"'
    z.writestr(i, b"<html>d</html>")
    z.writestr("1551-ABC10101Uen.A._.pdf", b"%PDF-1.4 d")
)PY";

class Retrieval : public test::LibrarySession {
protected:
    void addLibraries() override {
        test::writeFile(dir.file("pdf.py"), kMakePdfLibrary);
        ASSERT_EQ(runShell("python3 " + shellQuote(dir.file("pdf.py")) + " " + shellQuote(libDir + "/pdf.kvo")), 0);
    }
    static std::string crcLine(const std::string& data) {
        char buf[40];
        std::snprintf(buf, sizeof buf, "300-CRC 0x%lx",
                      crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
        return buf;
    }
    // One framed member: its framing line, then n bytes and the CRC line.
    void expectMember(const std::string& member) {
        std::string data = capture("unzip -p " + shellQuote(libDir + "/lib.kvo") + " " + shellQuote(member));
        EXPECT_EQ(readLine(sv[1]), "300-Length " + std::to_string(data.size()) + " \"lib.kvo\" \"" + member + "\" \"0\"");
        EXPECT_EQ(readBytes(data.size()), data);
        EXPECT_EQ(readLine(sv[1]), crcLine(data));
    }
};

TEST_F(Retrieval, EveryMemberEqualsUnzip) {
    startAndGreet();
    for (const char* m : {"a.html", "b.html", "c.html", "d.html", "e.html", "f.html", "empty.txt"}) {
        SCOPED_TRACE(m);
        ASSERT_TRUE(sendText(sv[1], std::string("RETR lib.kvo ") + m + "\n"));
        expectMember(m);
        EXPECT_EQ(readLine(sv[1]), "200-RETR executed.");
    }
    // A pattern sends its members in central-directory order.
    ASSERT_TRUE(sendText(sv[1], "retr lib* [abc].html\n"));
    for (const char* m : {"a.html", "b.html", "c.html"}) expectMember(m);
    EXPECT_EQ(readLine(sv[1]), "200-RETR executed.");
    // By node number.
    ASSERT_TRUE(sendText(sv[1], "RETR " + std::to_string(lib->hashID) + " b.html\n"));
    expectMember("b.html");
    EXPECT_EQ(readLine(sv[1]), "200-RETR executed.");
}

TEST_F(Retrieval, RetrRefusals) {
    startAndGreet();
    EXPECT_EQ(reply("RETR lib.kvo x.html\n"),
              (std::vector<std::string>{"400-File \"x.html\" not found in database \"lib.kvo\", 1 database(s) checked"}));
    EXPECT_EQ(reply("RETR none.kvo x.html\n"),
              (std::vector<std::string>{"400-File \"x.html\" not found in database \"none.kvo\", 0 database(s) checked"}));
    EXPECT_EQ(reply("RETR lib.kvo\n"), (std::vector<std::string>{"400-Syntax error in RETR command. Try HELP RETR"}));
    EXPECT_EQ(reply("RETR 32767 a.html\n"), (std::vector<std::string>{"511 Invalid ID 32767"}));
}

TEST_F(Retrieval, GetSendsTheFile) {
    std::string file = readFile(libDir + "/lib.kvo");
    startAndGreet();
    ASSERT_TRUE(sendText(sv[1], "GET lib.kvo\n"));
    EXPECT_EQ(readLine(sv[1]), "300-Length " + std::to_string(file.size()) + " \"lib.kvo\"");
    EXPECT_EQ(readBytes(file.size()), file);
    EXPECT_EQ(readLine(sv[1]), "200-GET executed.");
    EXPECT_EQ(reply("GET\n"), (std::vector<std::string>{"400 Syntax error in GET command. Try HELP GET"}));
    EXPECT_EQ(reply("GET 32767\n"), (std::vector<std::string>{"511 Invalid ID 32767"}));
    // ".z" lets the name through the request filter; no library matches.
    EXPECT_EQ(reply("GET *.zip\n"), (std::vector<std::string>{"200-GET executed."}));
}

TEST_F(Retrieval, ChangedLibraryIsRefusedBeforeAnyFraming) {
    std::string path = libDir + "/lib.kvo";
    const std::vector<std::string> updated = {
        "577 Library \"lib.kvo\" is being updated. Please perform this operation after some time."};
    startAndGreet();
    ASSERT_EQ(runShell("touch -d @" + std::to_string(lib->mTime + 10) + " " + shellQuote(path)), 0);
    EXPECT_EQ(reply("GET lib.kvo\n"), updated);
    EXPECT_EQ(reply("RETR lib.kvo a.html\n"), updated);
    // Grown after the scan, with its time put back: the size tells.
    ASSERT_EQ(runShell("printf x >> " + shellQuote(path) + " && touch -d @" + std::to_string(lib->mTime) + " " +
                       shellQuote(path)),
              0);
    EXPECT_EQ(reply("GET lib.kvo\n"), updated);
    ASSERT_EQ(unlink(path.c_str()), 0);
    EXPECT_EQ(reply("RETR lib.kvo a.html\n"),
              (std::vector<std::string>{"578 Library \"lib.kvo\" has been removed."}));
}

TEST_F(Retrieval, SubFolderPage) {
    startAndGreet();
    ASSERT_TRUE(sendText(sv[1], "RETR " + std::to_string(lib->hashID) + " kvo_ml_sub_main_page\n"));
    std::string framing = readLine(sv[1]);
    unsigned long n = 0;
    ASSERT_EQ(std::sscanf(framing.c_str(), "300-Length %lu \"9999\" kvo_ml_sub_main_page", &n), 1) << framing;
    EXPECT_LE(n, 4096u);
    std::string page = readBytes(n);
    EXPECT_NE(page.find("KIVO R5 or later must be used with this Ruvadaemon version"), std::string::npos);
    EXPECT_EQ(readLine(sv[1]), "300-CRC 0x00000000");
    EXPECT_EQ(readLine(sv[1]), "200-RETR executed.");
}

TEST_F(Retrieval, WaitPageStandsInForPdf) {
    ZipStructure* pdf = uzd.zipList->findZipStructure("pdf.kvo", nullptr);
    ASSERT_NE(pdf, nullptr);
    std::string y = capture("unzip -p " + shellQuote(libDir + "/pdf.kvo") + " y.pdf");
    std::string d = capture("unzip -p " + shellQuote(libDir + "/pdf.kvo") + " 1551-ABC10101Uen.A._.pdf");
    struct Case {
        std::string line;
        std::string pdfData;
        std::vector<std::string> has, hasNot;
    };
    const Case cases[] = {
        {"RETR pdf.kvo y.fdp\n", y, {"<title>KIVO Wait</title>", "FN=y.fdp"}, {"t7"}},
        {"RETR " + std::to_string(pdf->hashID) + " y.fdp\n", y, {"&#60;i id=t7&#62;x&#60;&#47;i&#62;"}, {"<i id=t7>"}},
        {"RETR " + std::to_string(pdf->hashID) + " 1551-ABC10101Uen.A._.fdp\n", d,
         {"<title>Install</title>", "content=\"Step by step\""}, {}},
    };
    startAndGreet();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        ASSERT_TRUE(sendText(sv[1], c.line));
        std::string framing = readLine(sv[1]);
        unsigned long n = 0;
        ASSERT_EQ(std::sscanf(framing.c_str(), "300-Length %lu \"pdf.kvo\" \"wait.html\" \"0\"", &n), 1) << framing;
        std::string page = readBytes(n);
        ASSERT_EQ(page.size(), n);
        for (const std::string& s : c.has) EXPECT_NE(page.find(s), std::string::npos) << s << "\n" << page;
        for (const std::string& s : c.hasNot) EXPECT_EQ(page.find(s), std::string::npos) << s << "\n" << page;
        EXPECT_EQ(readLine(sv[1]), crcLine(c.pdfData));
        EXPECT_EQ(readLine(sv[1]), "200-RETR executed.");
    }
}

// bad.kvo: a deflated member whose stream is broken in the middle; pipe.kvo:
// written by zip to a pipe, so its members carry data descriptors.
const char* kMakeBrokenLibraries = R"PY(
import os, random, subprocess, sys, zipfile
folder = sys.argv[1]
random.seed(7)
data = bytes(random.choice(b"abcdefgh ") for _ in range(200000))
bad = os.path.join(folder, "bad.kvo")
with zipfile.ZipFile(bad, "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("big.html", data)
    z.writestr("ok.html", b"fine")
raw = bytearray(open(bad, "rb").read())
start = 30 + len("big.html")
for i in range(start + 5000, start + 5400):
    raw[i] ^= 0x5a
open(bad, "wb").write(raw)
os.makedirs(os.path.join(folder, "src"), exist_ok=True)
for name, body in (("p1.html", b"<p>one</p>" * 500), ("p2.html", b"")):
    open(os.path.join(folder, "src", name), "wb").write(body)
with open(os.path.join(folder, "pipe.kvo"), "wb") as out:
    p = subprocess.Popen("zip -q - p1.html p2.html | cat", shell=True, cwd=os.path.join(folder, "src"), stdout=out)
    sys.exit(p.wait())
)PY";

class BrokenRetrieval : public Retrieval {
protected:
    void addLibraries() override {
        test::writeFile(dir.file("broken.py"), kMakeBrokenLibraries);
        ASSERT_EQ(runShell("python3 " + shellQuote(dir.file("broken.py")) + " " + shellQuote(libDir)), 0);
    }
};

TEST_F(BrokenRetrieval, BrokenStreamNeverPutsALineInsideTheData) {
    startAndGreet();
    ASSERT_TRUE(sendText(sv[1], "RETR bad.kvo big.html\n"));
    EXPECT_EQ(readLine(sv[1]), "300-Length 200000 \"bad.kvo\" \"big.html\" \"0\"");
    std::string data = readBytes(200000);
    if (data.size() == 200000) {
        // All bytes went: the check's failure stands in the CRC's place.
        EXPECT_EQ(readLine(sv[1]).rfind("500-Failed, ", 0), 0u);
        EXPECT_EQ(readLine(sv[1]), "400-File \"big.html\" not found in database \"bad.kvo\", 1 database(s) checked");
    } else {
        EXPECT_EQ(readLine(sv[1]), "<EOF>");
    }
    EXPECT_EQ(finish(), 0);
}

TEST_F(BrokenRetrieval, DataDescriptorMembersEqualUnzip) {
    startAndGreet();
    auto contv = reply("CONTV pipe.kvo\n");
    ASSERT_EQ(contv.size(), 4u);
    EXPECT_EQ(contv[2].substr(4, 36), "       0       Stored        0  0% 0");
    for (const char* m : {"p1.html", "p2.html"}) {
        SCOPED_TRACE(m);
        std::string data = capture("unzip -p " + shellQuote(libDir + "/pipe.kvo") + " " + m);
        ASSERT_TRUE(sendText(sv[1], std::string("RETR pipe.kvo ") + m + "\n"));
        EXPECT_EQ(readLine(sv[1]), "300-Length " + std::to_string(data.size()) + " \"pipe.kvo\" \"" + m + "\" \"0\"");
        EXPECT_EQ(readBytes(data.size()), data);
        EXPECT_EQ(readLine(sv[1]), crcLine(data));
        EXPECT_EQ(readLine(sv[1]), "200-RETR executed.");
    }
    // The broken member's neighbour comes out whole.
    ASSERT_TRUE(sendText(sv[1], "RETR bad.kvo ok.html\n"));
    EXPECT_EQ(readLine(sv[1]), "300-Length 4 \"bad.kvo\" \"ok.html\" \"0\"");
    EXPECT_EQ(readBytes(4), "fine");
    EXPECT_EQ(readLine(sv[1]), crcLine("fine"));
    EXPECT_EQ(readLine(sv[1]), "200-RETR executed.");
}

}  // namespace
}  // namespace ruva

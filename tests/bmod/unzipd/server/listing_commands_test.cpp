// LIST, CONT, CONTV, SLIST, LANGLIST, BLOBTYPES and the library check, on a
// catalogue of libraries made at test time with python's zipfile, whose
// figures are the oracle.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "bmod/unzipd/catalogue/zip_list.h"
#include "bmod/unzipd/daemon/known_server.h"
#include "bmod/unzipd/zip/zip_reader.h"
#include "tests/bmod/unzipd/catalogue/catalogue_fixture.h"
#include "tests/bmod/unzipd/server/server_fixture.h"

namespace ruva {
namespace {

using test::readLine;
using test::sendText;
using test::cat::shellQuote;
using test::capture;
using test::runShell;
using test::SetRemover;
using test::TempDir;
using test::writeFile;

// Members: stored, deflated, deflated empty; comments absent, "abc12",
// "a b", holding a quote, ending in a backslash, holding LF. The script
// prints the zipfile figures of each member as CONTV writes them.
const char* kMakeLibrary = R"PY(
import sys, zipfile, zlib
path = sys.argv[1]
members = [("a.html", b"<html>a</html>", zipfile.ZIP_STORED, None),
           ("b.html", b"bbbb" * 300, zipfile.ZIP_DEFLATED, b"abc12"),
           ("c.html", b"cc", zipfile.ZIP_DEFLATED, b"a b"),
           ("d.html", b"d" * 50, zipfile.ZIP_STORED, b'say "hi"'),
           ("e.html", b"e", zipfile.ZIP_STORED, b"ends\\"),
           ("f.html", b"f", zipfile.ZIP_STORED, b"two\nlines"),
           ("empty.txt", b"", zipfile.ZIP_DEFLATED, None)]
with zipfile.ZipFile(path, "w") as z:
    for name, data, method, comment in members:
        info = zipfile.ZipInfo(name, (2020, 1, 2, 3, 4, 6))
        info.compress_type = method
        if comment is not None:
            info.comment = comment
        z.writestr(info, data)
    z.comment = b"Guide [EN/DOCLIB1 R1A]"
with zipfile.ZipFile(path) as z:
    for i in z.infolist():
        m = "Stored" if i.compress_type == 0 else "Deflated"
        r = 0 if i.compress_size == 0 or i.file_size == 0 else 100 - i.compress_size * 100 // i.file_size
        print("%8d %12s %8d %2d%% %08x %s" % (i.file_size, m, i.compress_size, r, i.CRC, i.filename))
)PY";

class Listing : public test::SessionFixture {
protected:
    void SetUp() override {
        test::SessionFixture::SetUp();
        ASSERT_TRUE(dir.ok());
        libDir = dir.file("lib");
        svDir = dir.file("sv");
        ASSERT_EQ(runShell("mkdir -p " + shellQuote(libDir) + " " + shellQuote(svDir)), 0);
        writeFile(dir.file("make.py"), kMakeLibrary);
        int status = 0;
        contvOracle = capture("python3 " + shellQuote(dir.file("make.py")) + " " + shellQuote(libDir + "/lib.kvo"),
                              &status);
        ASSERT_EQ(status, 0);
        ASSERT_TRUE(test::cat::makeLibraries({{svDir + "/sv.kvo", "Handbok [SV/DOCLIB2]"}}));
        uzd.zipList = test::cat::newTestZipList(0);
        ZipList* zl = uzd.zipList.get();
        ASSERT_TRUE(zl && zl->allocZipPool(100, 1000, 65536));
        zl->filesysScanner->addNonRecursiveDir(libDir.c_str());
        zl->filesysScanner->addNonRecursiveDir(svDir.c_str());
        zl->filesysScanner->addIncludePattern("*.kvo");
        ASSERT_GE(zl->scanFilesystem(), 2);
        lib = zl->findZipStructure("lib.kvo", nullptr);
        ASSERT_NE(lib, nullptr);
    }
    void TearDown() override {
        test::SessionFixture::TearDown();
        uzd.zipList.reset();
    }
    // Every line of one reply, up to and with its final line.
    std::vector<std::string> reply(const std::string& command) {
        EXPECT_TRUE(sendText(sv[1], command));
        std::vector<std::string> lines;
        for (;;) {
            std::string l = readLine(sv[1]);
            lines.push_back(l);
            if (l.size() < 4 || l[0] != '3' || l == "<EOF>" || l == "<TIMEOUT>") break;
        }
        return lines;
    }

    TempDir dir;
    SetRemover remover{test::cat::languageKey()};
    std::string libDir, svDir, contvOracle;
    ZipStructure* lib = nullptr;
};

TEST_F(Listing, ListLinesCarrySizeEntriesTimeAndComment) {
    struct stat st;
    ASSERT_EQ(stat((libDir + "/lib.kvo").c_str(), &st), 0);
    char line[256];
    std::snprintf(line, sizeof line, "300 \"%13s\" %8lu %5u %10lu %s", "lib.kvo", static_cast<unsigned long>(st.st_size),
                  7u, static_cast<unsigned long>(st.st_mtime), "\"Guide [EN/DOCLIB1 R1A]\"");
    startAndGreet();
    auto lines = reply("LIST lib*\n");
    EXPECT_EQ(lines, (std::vector<std::string>{"300-Database     Size    Entries CTime \"Comment\"", line,
                                                "200-LIST executed."}));
    EXPECT_EQ(reply("list nothing*\n").size(), 2u);
}

TEST_F(Listing, ContQuotesComments) {
    startAndGreet();
    EXPECT_EQ(reply("CONT lib.kvo\n"),
              (std::vector<std::string>{"300-Contents of Database lib.kvo", "300 a.html", "300 b.html abc12",
                                        "300 c.html \"a b\"", "300 d.html \"say \\\"hi\\\"\"",
                                        "300 e.html \"ends\\ \"", "300 f.html \"two lines\"", "300 empty.txt",
                                        "200-CONT executed."}));
    EXPECT_EQ(reply("CONT lib.kvo [cd].html\n"),
              (std::vector<std::string>{"300-Contents of Database lib.kvo", "300 c.html \"a b\"",
                                        "300 d.html \"say \\\"hi\\\"\"", "200-CONT executed."}));
    EXPECT_EQ(reply("CONT\n"), (std::vector<std::string>{"400 Syntax error in CONT command. Try HELP CONT"}));
    EXPECT_EQ(reply("CONT 32767\n"), (std::vector<std::string>{"511 Invalid ID 32767"}));
    EXPECT_EQ(reply("CONT 99999999999\n"), (std::vector<std::string>{"511 Invalid ID 4294967295"}));
}

TEST_F(Listing, ContvFieldsEqualZipfile) {
    const char* comments[] = {"", " abc12", " \"a b\"", " \"say \\\"hi\\\"\"", " \"ends\\ \"", " \"two lines\"", ""};
    std::vector<std::string> expected = {"300-  Length       Method     Size Ratio CRC-32 lib.kvo"};
    size_t at = 0;
    for (const char* c : comments) {
        size_t nl = contvOracle.find('\n', at);
        expected.push_back("300 " + contvOracle.substr(at, nl - at) + c);
        at = nl + 1;
    }
    expected.push_back("200-CONTV executed.");
    startAndGreet();
    EXPECT_EQ(reply("CONTV lib.kvo\n"), expected);
    // By library id, the header names the hash id.
    std::vector<std::string> byId = reply("CONTV [EN/DOCLIB1R1A] a.html\n");
    ASSERT_EQ(byId.size(), 3u);
    EXPECT_EQ(byId[0], "300-  Length       Method     Size Ratio CRC-32 " + std::to_string(lib->hashID));
    EXPECT_EQ(byId[1], expected[1]);
    EXPECT_EQ(reply("CONTV [EN/NONE]\n"), (std::vector<std::string>{"500-Invalid library identifier."}));
    EXPECT_EQ(reply("CONTV " + std::to_string(lib->hashID) + " kvo_ml_sub_main_page\n"),
              (std::vector<std::string>{"300-Length   Method  Size  Ratio   CRC-32  " + std::to_string(lib->hashID),
                                        "300    4096   Stored   4096    0        -   kvo_ml_sub_main_page",
                                        "200-CONTV executed."}));
}

TEST_F(Listing, ChangedOrRemovedLibraryIsRefused) {
    std::string path = libDir + "/lib.kvo";
    const std::string updated =
        "577 Library \"lib.kvo\" is being updated. Please perform this operation after some time.";
    startAndGreet();
    ASSERT_EQ(runShell("touch -d @" + std::to_string(lib->mTime + 10) + " " + shellQuote(path)), 0);
    for (const char* cmd : {"CONT lib.kvo\n", "CONTV lib.kvo\n"}) {
        SCOPED_TRACE(cmd);
        EXPECT_EQ(reply(cmd), (std::vector<std::string>{updated}));
    }
    EXPECT_EQ(reply("CONT " + std::to_string(lib->hashID) + "\n"), (std::vector<std::string>{updated}));
    ASSERT_EQ(unlink(path.c_str()), 0);
    for (const char* cmd : {"CONT lib.kvo\n", "CONTV lib.kvo\n"}) {
        SCOPED_TRACE(cmd);
        EXPECT_EQ(reply(cmd), (std::vector<std::string>{"578 Library \"lib.kvo\" has been removed."}));
    }
}

TEST_F(Listing, SingleLineAnswers) {
    startAndGreet();
    EXPECT_EQ(reply("LANGLIST\n"), (std::vector<std::string>{"200 en sv  "}));
    EXPECT_EQ(reply("BLOBTYPES\n"), (std::vector<std::string>{"200 1  "}));
    uzd.zipList->filesysScanner->addIncludePattern("*.zgp");
    EXPECT_EQ(reply("BLOBTYPES\n"), (std::vector<std::string>{"200 1 6  "}));
}

TEST_F(Listing, SlistInFileOrder) {
    ns->ks = newKnownServer(0);
    ASSERT_TRUE(ns->ks);
    ns->ks->add(htonl(0x7f000001), 9300, "a b", nullptr);
    ns->ks->add(htonl(0x7f000001), 9301, nullptr, nullptr);
    startAndGreet();
    EXPECT_EQ(reply("SLIST\n"), (std::vector<std::string>{"300-Address \"Comment\"", "300 127.0.0.1:9300 \"a b\"",
                                                           "300 127.0.0.1:9301 ", "200-SLIST executed."}));
}

}  // namespace
}  // namespace ruva

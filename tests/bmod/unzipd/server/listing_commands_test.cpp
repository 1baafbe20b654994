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
#include "bmod/unzipd/zip/zip_pool.h"
#include "bmod/unzipd/zip/zip_reader.h"
#include "tests/bmod/unzipd/server/library_fixture.h"

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

class Listing : public test::LibrarySession {};

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

TEST_F(Listing, InfoLinesInOrder) {
    ns->startTime = 1704103200;  // 2024-01-01 10:00 UTC
    ns->sessionCount = 5;
    ns->childCount = 3;
    setenv("TZ", "", 1);
    tzset();
    startAndGreet();
    auto lines = reply("INFO\n");
    ASSERT_EQ(lines.size(), 12u);
    EXPECT_EQ(lines[0], "300-Server Information:");
    EXPECT_EQ(lines[1], "300 Server start/reconfiguration time: [2024-01-01 10:00 ] 1704103200");
    EXPECT_EQ(lines[2], "300 Number of client sessions: 5");
    EXPECT_EQ(lines[3], "300 Number of active sessions: 3");
    EXPECT_EQ(lines[4], "300 Number of databases: 2");
    EXPECT_EQ(lines[6], "300 Total number of files: 8");
    const ZipPool* pool = uzd.zipList->zipPool.get();
    EXPECT_EQ(lines[7], "300 Estimated cache memory requirement (in bytes): " +
                            std::to_string(2 * 376 + 8 * 72 + pool->namePool->allocSize));
    EXPECT_EQ(lines[8].rfind("300 ZipStructure Pool: Heaps ", 0), 0u);
    EXPECT_EQ(lines[9].rfind("300 CentralHeader Pool: Heaps ", 0), 0u);
    EXPECT_EQ(lines[10], "300 Name Pool: Heaps " + std::to_string(pool->namePool->numHeaps) + ", allocSize " +
                             std::to_string(pool->namePool->allocSize));
    EXPECT_EQ(lines[11], "200-INFO executed.");
    unsetenv("TZ");
    tzset();
}

}  // namespace
}  // namespace ruva

// MSRCH and MPSRCH as whole replies, in UTC with fixed modification times.
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <utime.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "bmod/unzipd/search/search_commands.h"
#include "common/string_format.h"
#include "tests/bmod/unzipd/search/search_commands_fixture.h"

namespace ruva {
namespace {

using Lines = std::vector<std::string>;

const std::string kMsrchHeader = "300-Database     ID    \"Comment\"    CTime  \"Path\" Size";
const std::string kMpsrchHeader = "300-Database     ID    \"Comment\"    CTime  \"Path\"  Size";

class Msrch : public test::SearchSession {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
        test::SearchSession::SetUp();
    }
    void addLibraries() override {
        test::SearchSession::addLibraries();
        // 2020-03-04 for p.kvo, 2021-05-06 for the rest.
        for (const char* f : {"/docs/d1.kvo", "/docs/d2.kvo", "/docs/d3.kvo", "/one/p.kvo", "/big/big.kvo",
                              "/edge/page.kvo", "/edge/two.kvo", "/sec/s1.kvo", "/sec/s2.kvo", "/sec/s3.kvo",
                              "/pu/pu.kvo"}) {
            struct utimbuf t;
            t.actime = t.modtime = std::string(f) == "/one/p.kvo" ? 1583280000 : 1620259200;
            ASSERT_EQ(utime((root + f).c_str(), &t), 0);
        }
    }
    std::string entry(const char* name, const std::string& path) {
        ZipStructure* zs = uzd.zipList->findZipStructure(name, nullptr);
        if (zs == nullptr) return std::string("no library ") + name;
        return format("300 \"%s\" %8i %s %10lu \"%s\" %8lu FALSE", name, zs->hashID,
                      ReplyWriter::quotedField(zs->centralDirEnd.comment).c_str(),
                      static_cast<unsigned long>(zs->mTime), path.c_str(), zs->fileSize);
    }
    // More folders after the fixture's, each record's folder made first.
    void addFolders(const std::vector<test::cat::MlRecord>& records) {
        for (const test::cat::MlRecord& r : records) std::filesystem::create_directories(r.path);
        std::string file = dir.file("structure.txt");
        test::writeFile(file, test::readFile(file) + test::cat::structureText(records));
    }
};

TEST(BlobComment, TitleAndProdid) {
    EXPECT_EQ(getBLOBTitleFromComment("Guide  [EN/X R1]"), "Guide");
    EXPECT_EQ(getBLOBTitleFromComment(nullptr), "");
    std::string p;
    EXPECT_TRUE(getBLOBProdidFromComment("Guide [EN/X] more]", &p));
    EXPECT_EQ(p, "EN/X] more");
    EXPECT_TRUE(getBLOBProdidFromComment("Guide [EN", &p));
    EXPECT_EQ(p, "EN");
    EXPECT_FALSE(getBLOBProdidFromComment("Guide", &p));
}

TEST_F(Msrch, WholeReplies) {
    startAndGreet();
    EXPECT_EQ(reply("MSRCH 2020-03-04\n"), (Lines{kMsrchHeader, entry("p.kvo", "One"), "200-MSRCH executed."}));
    EXPECT_EQ(reply("MPSRCH \"\" \"\" 2020 2020\n"),
              (Lines{kMpsrchHeader, entry("p.kvo", "One"), "200-MPSRCH executed."}));
    EXPECT_EQ(reply("MPSRCH \"lib p.kvo\" \"\" \"\" \"\"\n"),
              (Lines{kMpsrchHeader, entry("p.kvo", "One"), "200-MPSRCH executed."}));
    EXPECT_EQ(reply("MSRCH x 99999\n"), (Lines{kMsrchHeader, "500 Invalid Product Name'x'"}));
    EXPECT_EQ(reply("MPSRCH x \"\" \"\" \"\" \"\" 99999\n"), (Lines{"500-MPSRCH failed."}));
    EXPECT_EQ(reply("MSRCH \"a &\"\n"), (Lines{kMsrchHeader, "500-Invalid syntax of search pattern \"a &\""}));
    EXPECT_EQ(reply("MPSRCH \"\" \"a &\"\n"), (Lines{kMpsrchHeader, "500-Invalid syntax of prodid pattern \"a &\""}));
    std::string one = test::SearchSession::folderId("One");
    EXPECT_EQ(reply("MSRCH lib " + one + "\n"), (Lines{kMsrchHeader, entry("p.kvo", "One"), "200-MSRCH executed."}));
}

// Libraries of every kind a filter tells apart: types, product ids with
// and without brackets, "//" ids in an open folder and below "__" folders.
// Every title begins with "Hush", which no other library's does.
class MsrchFilters : public Msrch {
protected:
    void addLibraries() override {
        Msrch::addLibraries();
        addFolders({{"Kinds", "kinds", "1", root + "/kinds"},
                    {"__Hidden", "hidden", "1", root + "/hidden"},
                    {"__Inner", "inner", "2", root + "/inner"},
                    {"Open", "open", "1", root + "/open"}});
        ASSERT_TRUE(test::cat::makeLibraries({{root + "/kinds/k.ers", "Hush a ers [EN/K1]"},
                                              {root + "/kinds/k.kvo", "Hush b kvo [EN/K3]"},
                                              {root + "/kinds/nob.kvo", "Hush c plain EN/K4"},
                                              {root + "/kinds/k.zip", "Hush d zip [EN/K2]"},
                                              {root + "/hidden/h1.kvo", "Hush h1 [//H1]"},
                                              {root + "/hidden/h2.kvo", "Hush h2 [EN/H2]"},
                                              {root + "/inner/h3.kvo", "Hush h3 [//H3]"},
                                              {root + "/open/o1.kvo", "Hush o1 [//O1]"},
                                              {root + "/open/o2.kvo", "Hush o2 [EN/O2]"}}));
    }
    void configureScanner(ZipList* zl) override {
        Msrch::configureScanner(zl);
        zl->filesysScanner->addIncludePattern("*.ers");
        zl->filesysScanner->addIncludePattern("*.zip");
    }
};

TEST_F(MsrchFilters, ProdidTypesAndHiddenFolders) {
    startAndGreet();
    std::string hidden = folderId("__Hidden"), open = folderId("Open");
    std::string ers = entry("k.ers", "Kinds"), kvo = entry("k.kvo", "Kinds"), nob = entry("nob.kvo", "Kinds"),
                zip = entry("k.zip", "Kinds");
    struct Case {
        std::string command;
        Lines want;
    } cases[] = {
        // The whole tree passes over "__" folders and "//" libraries.
        {"MPSRCH hush \"\" \"\" \"\"\n",
         {kMpsrchHeader, ers, kvo, nob, zip, entry("o2.kvo", "Open"), "200-MPSRCH executed."}},
        // A comment without "[" has no product id, whatever it holds.
        {"MPSRCH hush en/k \"\" \"\"\n", {kMpsrchHeader, ers, kvo, zip, "200-MPSRCH executed."}},
        {"MPSRCH hush en/k4 \"\" \"\"\n", {kMpsrchHeader, "200-MPSRCH executed."}},
        // Below a "__" product folder nothing is hidden, down to "__" subfolders.
        {"MPSRCH hush \"\" \"\" \"\" \"\" " + hidden + "\n",
         {kMpsrchHeader, entry("h1.kvo", "__Hidden"), entry("h2.kvo", "__Hidden"),
          entry("h3.kvo", "__Hidden / __Inner"), "200-MPSRCH executed."}},
        {"MPSRCH hush \"\" \"\" \"\" \"\" " + open + "\n",
         {kMpsrchHeader, entry("o2.kvo", "Open"), "200-MPSRCH executed."}},
        // MSRCH knows no hiding rule.
        {"MSRCH //h\n",
         {kMsrchHeader, entry("h1.kvo", "__Hidden"), entry("h3.kvo", "__Hidden / __Inner"),
          "200-MSRCH executed."}},
        // Types: zip only (the value 4 allows type 3), yet ".ers" passes.
        {"USER u 4 0\n", {"200-User profile successfuly set"}},
        {"MPSRCH hush \"\" \"\" \"\"\n", {kMpsrchHeader, ers, zip, "200-MPSRCH executed."}},
        {"MSRCH hush\n", {kMsrchHeader, ers, zip, "200-MSRCH executed."}},
    };
    for (const Case& c : cases) EXPECT_EQ(reply(c.command), c.want) << c.command;
}

// A profile without a systems list filters types only, as "0" does: the
// level-1 folder's ".ers" library stays.
TEST_F(MsrchFilters, ProfileWithoutSystemsKeepsEveryFolder) {
    startAndGreet();
    std::string ers = entry("k.ers", "Kinds"), zip = entry("k.zip", "Kinds");
    struct Case {
        std::string command;
        Lines want;
    } cases[] = {
        {"USER u 4\n", {"200-User profile successfuly set"}},
        {"MPSRCH hush \"\" \"\" \"\"\n", {kMpsrchHeader, ers, zip, "200-MPSRCH executed."}},
        {"MSRCH hush\n", {kMsrchHeader, ers, zip, "200-MSRCH executed."}},
    };
    for (const Case& c : cases) EXPECT_EQ(reply(c.command), c.want) << c.command;
}

// 5000 sibling folders, then a chain of 1000 levels; one library at the
// end of each.
class MsrchWideDeep : public Msrch {
protected:
    void addLibraries() override {
        Msrch::addLibraries();
        std::vector<test::cat::MlRecord> records;
        for (int i = 1; i <= kWide; ++i) {
            std::string n = "w" + std::to_string(i);
            records.push_back({n, n, "1", root + (i == kWide ? "/wide" : "/void")});
        }
        for (int i = 1; i <= kDeep; ++i) {
            std::string n = "c" + std::to_string(i);
            records.push_back({n, n, std::to_string(i), root + (i == kDeep ? "/deep" : "/void")});
            chainPath += (i > 1 ? " / " : "") + n;
        }
        addFolders(records);
        ASSERT_TRUE(test::cat::makeLibraries(
            {{root + "/wide/wide.kvo", "Wide leaf [EN/W]"}, {root + "/deep/deep.kvo", "Deep leaf [EN/D]"}}));
    }
    void TearDown() override {
        if (smallStack_) {
            shutdown(sv[1], SHUT_RDWR);
            pthread_join(*smallStack_, nullptr);
        }
        Msrch::TearDown();
    }
    // The session on a thread with a 256 KiB stack instead of the usual
    // 8 MiB: a walk that recursed once per node would overflow it.
    void startOnSmallStack() {
        pthread_attr_t attr;
        pthread_attr_init(&attr);
        pthread_attr_setstacksize(&attr, 256 * 1024);
        pthread_t t;
        int rc = pthread_create(
            &t, &attr,
            [](void* self) -> void* {
                auto* f = static_cast<MsrchWideDeep*>(self);
                f->result = f->ns->handleConnection();
                return nullptr;
            },
            this);
        pthread_attr_destroy(&attr);
        ASSERT_EQ(rc, 0);
        smallStack_ = t;
        EXPECT_EQ(test::readLine(sv[1]), "200 UZD " + test::serverIdentity());
    }

    static constexpr int kWide = 5000;
    static constexpr int kDeep = 1000;
    std::string chainPath;
    std::optional<pthread_t> smallStack_;
};

TEST_F(MsrchWideDeep, WalksWithoutRecursion) {
    startOnSmallStack();
    std::string wide = entry("wide.kvo", "w5000"), deep = entry("deep.kvo", chainPath);
    std::string c1 = folderId("c1"), c2 = folderId("c2");
    struct Case {
        std::string command;
        Lines want;
    } cases[] = {
        {"MSRCH leaf\n", {kMsrchHeader, wide, deep, "200-MSRCH executed."}},
        {"MPSRCH leaf \"\" \"\" \"\"\n", {kMpsrchHeader, wide, deep, "200-MPSRCH executed."}},
        {"MSRCH leaf " + c1 + "\n", {kMsrchHeader, deep, "200-MSRCH executed."}},
        // A product folder below level 1 begins its path with " / ".
        {"MPSRCH leaf \"\" \"\" \"\" \"\" " + c2 + "\n",
         {kMpsrchHeader, entry("deep.kvo", " / " + chainPath.substr(5)), "200-MPSRCH executed."}},
    };
    for (const Case& c : cases) EXPECT_EQ(reply(c.command), c.want) << c.command;
}

}  // namespace
}  // namespace ruva

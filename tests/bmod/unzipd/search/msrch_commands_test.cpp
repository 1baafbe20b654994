// MSRCH and MPSRCH as whole replies, in UTC with fixed modification times.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "bmod/unzipd/search/search_commands.h"
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
    std::string entry(const char* name, const char* path) {
        ZipStructure* zs = uzd.zipList->findZipStructure(name, nullptr);
        char line[512];
        std::snprintf(line, sizeof line, "300 \"%s\" %8i %s %10lu \"%s\" %8lu FALSE", name, zs->hashID,
                      ReplyWriter::quotedField(zs->centralDirEnd.comment).c_str(),
                      static_cast<unsigned long>(zs->mTime), path, zs->fileSize);
        return line;
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

}  // namespace
}  // namespace ruva

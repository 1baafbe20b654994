// SRCH and FSRCH as whole replies over a folder of libraries.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/bmod/unzipd/search/search_commands_fixture.h"
#include "tests/support/zip_builder.h"

namespace ruva {
namespace {

using Lines = std::vector<std::string>;

class Srch : public test::SearchSession {};

TEST_F(Srch, FolderGivesOneLinePerLibraryInNodeOrder) {
    startAndGreet();
    Lines lines = reply("SRCH cat " + folderId("Docs") + " doc.html 0 x\n");
    size_t off = std::string(test::kCatPage).find("cat");
    ASSERT_EQ(lines.size(), 4u) << ::testing::PrintToString(lines);
    EXPECT_EQ(lines[0], "300-Database Filename Offset Context");
    std::string head1 = "300 \"d1.kvo\" \"doc.html\" " + std::to_string(off) + " \"";
    std::string head2 = "300 \"d2.kvo\" \"doc.html\" " + std::to_string(off) + " \"";
    EXPECT_EQ(lines[1].substr(0, head1.size()), head1) << lines[1];
    EXPECT_EQ(lines[2].substr(0, head2.size()), head2) << lines[2];
    EXPECT_NE(lines[1].find("The quick cat runs home."), std::string::npos) << lines[1];
    EXPECT_EQ(lines[3], "200-SRCH executed.");
}

TEST_F(Srch, ByPatternAndRefusals) {
    startAndGreet();
    EXPECT_EQ(reply("SRCH cat d1.kvo doc.html 0\n"), (Lines{"400 Syntax error in SRCH command. Try HELP SRCH"}));
    EXPECT_EQ(reply("FSRCH cat d1.kvo doc.html 2 0\n"), (Lines{"400 Syntax error in FSRCH command. Try HELP FSRCH"}));
    EXPECT_EQ(reply("SRCH cat 99999 doc.html 0 x\n"),
              (Lines{"300-Database Filename Offset Context", "511 Invalid ID 99999"}));
    EXPECT_EQ(reply("SRCH cat 99999999999999999999 doc.html 0 x\n"),
              (Lines{"300-Database Filename Offset Context", "511 Invalid ID 4294967295"}));
    EXPECT_EQ(reply("SRCH cat " + folderId("Empty") + " doc.html 0 x\n"),
              (Lines{"300-Database Filename Offset Context", "510 Node contains no databases 'Empty'"}));
    // Not all digits: a library-name pattern.
    Lines byName = reply("SRCH cat " + folderId("Docs") + "x doc.html 0 x\n");
    EXPECT_EQ(byName, (Lines{"300-Database Filename Offset Context", "200-SRCH executed."}));
    Lines byPattern = reply("SRCH cat d?.kvo doc.html 0 x\n");
    ASSERT_EQ(byPattern.size(), 4u);
    EXPECT_EQ(byPattern[3], "200-SRCH executed.");
    EXPECT_EQ(reply("FSRCH cat d1.kvo doc.html 3 0 x\n"), (Lines{"200-FSRCH executed."}));
}

TEST_F(Srch, LargeDeflatedMemberIsSearchedBeyondOneMiB) {
    startAndGreet();
    Lines lines = reply("SRCH zebrafish big.kvo big.html 0 x\n");
    ASSERT_EQ(lines.size(), 3u) << ::testing::PrintToString(lines);
    std::string head = "300 \"big.kvo\" \"big.html\" " + std::to_string((3u << 20) - 199) + " \"";
    EXPECT_EQ(lines[1].substr(0, head.size()), head) << lines[1];
}

TEST_F(Srch, MemberTextWithoutNulOrBody) {
    startAndGreet();
    for (const char* cmd : {"SRCH cat page.kvo edge.html 0 x\n", "SRCH cat two.kvo two.html 0 x\n",
                            "FSRCH cat page.kvo edge.html 2 0 x\n"}) {
        Lines lines = reply(cmd);
        ASSERT_FALSE(lines.empty());
        EXPECT_NE(lines.back().find("SRCH executed."), std::string::npos) << cmd;
    }
    Lines two = reply("SRCH cat two.kvo two.html 0 x\n");
    ASSERT_EQ(two.size(), 3u);
    EXPECT_EQ(two[1].substr(0, 32), "300 \"two.kvo\" \"two.html\" " + std::to_string((2u << 20) - 3)) << two[1];
}

TEST_F(Srch, FsrchContextIsCompacted) {
    startAndGreet();
    Lines lines = reply("FSRCH cat d1.kvo doc.html 2 0 x\n");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2], "200-FSRCH executed.");
    EXPECT_EQ(lines[1].back(), '"') << lines[1];
    EXPECT_NE(lines[1].find("...\""), std::string::npos) << lines[1];
}

// Members whose contexts show each step of FSRCH's compaction.
class SrchContexts : public Srch {
protected:
    void addLibraries() override {
        Srch::addLibraries();
        auto member = [](const char* name, const char* html) {
            return test::ZipMember{.name = name, .data = html};
        };
        test::writeZip(
            libDir + "/ctx.kvo",
            {.members = {member("only.html", "<body>cat</body>"),
                         member("last.html", "<body>a dog and a cat</body>"),
                         member("kw.html", "<body><a name=\"KW:foo\">foo</a> bar</body>"),
                         member("ch.html", "<body><a name=\"CHAPTERintro\">In  the intro</a> text</body>")}});
    }
};

TEST_F(SrchContexts, FsrchCompactsEveryContextAndKeepsTheHitWord) {
    startAndGreet();
    const struct {
        const char* command;
        const char* line;
    } cases[] = {
        // The hit word is the text's last word: nothing after it to cut.
        {"FSRCH cat ctx.kvo only.html 2 0 x\n", "300 \"ctx.kvo\" \"only.html\" 6 \"... cat\""},
        {"FSRCH cat ctx.kvo last.html 2 0 x\n", "300 \"ctx.kvo\" \"last.html\" 18 \"...a dog and a cat\""},
        {"FSRCH dog ctx.kvo last.html 2 0 x\n", "300 \"ctx.kvo\" \"last.html\" 8 \"...a dog and a...\""},
        // Anchor contexts are compacted too.
        {"FSRCH \"foo*\" ctx.kvo kw.html 2 1 foo\n", "300 \"ctx.kvo\" \"kw.html\" 18 \"foo\\\">foo...\""},
        {"FSRCH \"intro*\" ctx.kvo ch.html 2 2 intro\n",
         "300 \"ctx.kvo\" \"ch.html\" 22 \"intro\\\">In the intro...\""},
        // SRCH leaves them as they are.
        {"SRCH \"foo*\" ctx.kvo kw.html 1 foo\n", "300 \"ctx.kvo\" \"kw.html\" 18 \"foo\\\">foo bar\""},
    };
    for (const auto& c : cases) {
        Lines lines = reply(c.command);
        ASSERT_EQ(lines.size(), 3u) << c.command << ::testing::PrintToString(lines);
        EXPECT_EQ(lines[1], c.line) << c.command;
    }
}

TEST_F(Srch, PhraseMode) {
    startAndGreet();
    std::string one = folderId("One");
    Lines missing = reply("FSRCH \"no such words\" " + one + " p.html 1 0 x\n");
    ASSERT_EQ(missing.size(), 2u) << ::testing::PrintToString(missing);
    EXPECT_EQ(missing[0], "300 \"p.kvo\" \"p.html\" 1444 \"Say Hi now\x11" "First words here. Then the phrase lives in this sentence...\"");
    EXPECT_EQ(missing[1], "200-FSRCH executed.");
    Lines hit = reply("FSRCH \"phrase lives\" " + one + " p.html 1 0 x\n");
    Lines sep = reply("FSRCH \"phrase\x11lives\" " + one + " p.html 1 0 x\n");
    ASSERT_EQ(hit.size(), 2u);
    EXPECT_EQ(hit, sep);
    EXPECT_EQ(hit[0], "300 \"p.kvo\" \"p.html\" 1444 \"Say Hi now\x11" "Then the phrase lives in this sentence...\"");
    EXPECT_EQ(reply("FSRCH x p.kvo p.html 1 0 x\n"), (Lines{"400 Syntax error in FSRCH command. Try HELP FSRCH"}));
    EXPECT_EQ(reply("FSRCH x " + one + " none.html 1 0 x\n"), (Lines{"200-FSRCH executed."}));
}

}  // namespace
}  // namespace ruva

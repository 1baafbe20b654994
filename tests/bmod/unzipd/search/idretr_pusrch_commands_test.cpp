// IDRETR's size-framed sections and PUSRCH over packed records.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/bmod/unzipd/search/search_commands_fixture.h"

namespace ruva {
namespace {

using Lines = std::vector<std::string>;
using test::readLine;
using test::sendText;

class IdretrPusrch : public test::SearchSession {
protected:
    void configureScanner(ZipList* zl) override {
        SearchSession::configureScanner(zl);
        zl->filesysScanner->addIncludePattern("*.dita");
    }
    // One IDRETR entry: the line up to its two blanks, then size bytes and
    // the LF read by size.
    std::string entry(std::string* section) {
        std::string head;
        for (;;) {
            std::string c = readBytes(1);
            if (c.empty()) return head + "<EOF>";
            head += c;
            if (head.compare(0, 4, "300 ") != 0 || (head.size() > 2 && head.compare(head.size() - 3, 3, "\"  ") == 0))
                if (head.compare(0, 4, "300 ") == 0 || c == "\n") break;
        }
        if (head.compare(0, 4, "300 ") != 0) {
            head.pop_back();
            return head;
        }
        size_t size = std::stoul(head.substr(4));
        *section = readBytes(size);
        EXPECT_EQ(readBytes(1), "\n");
        return head;
    }
};

TEST_F(IdretrPusrch, IdretrHeadingSectionsOfAFolder) {
    startAndGreet();
    std::string id = std::to_string(inOrder(uzd.zipList->getMlRoot(), "Sec", 2)->ID);
    ASSERT_TRUE(sendText(sv[1], "IDRETR x " + id + " s.html heading\n"));
    EXPECT_EQ(readLine(sv[1]), "300-Size Database Filename Context");
    std::string sec1, sec3;
    std::string want1 = "<h2><a name=\"x\"></a>Head</h2><p>body\nline</p>";
    std::string want3 = "<h2><a name=\"x\"></a>Head</h2><p>more\nline</p>";
    EXPECT_EQ(entry(&sec1), "300 " + std::to_string(want1.size()) + " \"s1.kvo\" \"s.html\"  ");
    EXPECT_EQ(sec1, want1);
    EXPECT_EQ(entry(&sec3), "300 " + std::to_string(want3.size()) + " \"s3.kvo\" \"s.html\"  ");
    EXPECT_EQ(sec3, want3);
    EXPECT_EQ(readLine(sv[1]), "200-IDRETR executed.");
}

TEST_F(IdretrPusrch, IdretrDitaAndRefusals) {
    startAndGreet();
    ASSERT_TRUE(sendText(sv[1], "IDRETR x s4.dita d.html dita\n"));
    EXPECT_EQ(readLine(sv[1]), "300-Size Database Filename Context");
    std::string sec;
    std::string head = entry(&sec);
    EXPECT_EQ(head.substr(0, 4), "300 ");
    EXPECT_NE(sec.find("<p id=\"x\">in</p>"), std::string::npos) << sec;
    EXPECT_EQ(sec.find("<h2>U</h2>"), std::string::npos) << sec;
    EXPECT_EQ(readLine(sv[1]), "200-IDRETR executed.");
    EXPECT_EQ(reply("IDRETR x s1.kvo s.html\n"), (Lines{"400 Syntax error in IDRETR command. Try HELP IDRETR"}));
    EXPECT_EQ(reply("IDRETR x 99999 s.html h\n"), (Lines{"300-Size Database Filename Context", "511 Invalid ID 99999"}));
    // Unterminated member texts answer normally.
    EXPECT_EQ(reply("IDRETR cat page.kvo edge.html h\n"),
              (Lines{"300-Size Database Filename Context", "200-IDRETR executed."}));
    EXPECT_EQ(reply("IDRETR cat two.kvo two.html h\n"),
              (Lines{"300-Size Database Filename Context", "200-IDRETR executed."}));
}

TEST_F(IdretrPusrch, PusrchRecords) {
    startAndGreet();
    const std::string header = "300-Database Index Ext Block Prefix Caa Ind1 Ind2 Marshal Rev Adj";
    const std::string r1 = "300 \"pu.kvo\" \"idx.txt\" HTM \"BOOK1\" \"CAND\" \"PFX\" \"123\" \"45\" \"\" \"R1A\" \"X9\" ";
    const std::string r2 =
        "300 \"pu.kvo\" \"idx.txt\" TXT \"BOOK2\" \"OTHR\" \"ABC\" \"7\" \"8\" \"9\" \"10\" \"ABCDEFGHIJKLMNOP\" ";
    const std::string r3 = "300 \"pu.kvo\" \"idx.txt\" ABC \"SHORT\" \"\" \"\" \"\" \"\" \"\" \"\" \"\" ";
    const std::string all = "200-PUSRCH executed. Databases, files and lines inspected: 1 1 3";
    struct Case {
        const char* command;
        Lines want;
    } cases[] = {
        {"PUSRCH pu.kvo idx.txt\n", {header, r1, r2, r3, all}},
        {"PUSRCH pu.kvo idx.txt book1\n", {header, r1, all}},
        {"PUSRCH pu.kvo idx.txt book1 \"\" \"\" 12\n", {header, all}},
        {"PUSRCH pu.kvo idx.txt book1 \"\" \"\" 12*\n", {header, r1, all}},
        {"PUSRCH pu.kvo idx.txt \"\" \"\" \"\" \"\" \"\" \"\" \"\" abcdefghijklmnop\n", {header, r2, all}},
        {"PUSRCH pu.kvo\n", {"400 Syntax error in PUSRCH command. Try HELP PUSRCH"}},
        {"PUSRCH none.kvo idx.txt\n", {header, "200-PUSRCH executed. Databases, files and lines inspected: 0 0 0"}},
    };
    for (const Case& c : cases) EXPECT_EQ(reply(c.command), c.want) << c.command;
    // Unterminated member texts answer normally.
    EXPECT_EQ(reply("PUSRCH page.kvo edge.html\n"),
              (Lines{header, "200-PUSRCH executed. Databases, files and lines inspected: 1 1 0"}));
}

}  // namespace
}  // namespace ruva

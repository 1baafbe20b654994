// QXSRCH, QXFSRCH and QXSRCHSGS on a session over a tree of libraries
// whose index members ruvx_build.py wrote: whole replies compared.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bmod/unzipd/search/qxsrch_commands.h"
#include "bmod/unzipd/search/search_args.h"
#include "common/docmodel/content_type.h"
#include "tests/bmod/unzipd/search/ruvx_fixture.h"
#include "tests/bmod/unzipd/server/library_fixture.h"

namespace ruva {
namespace {

using Lines = std::vector<std::string>;
using test::IndexDef;

class QxSearch : public test::LibrarySession {
protected:
    void addLibraries() override {
        root = dir.file("root");
        ASSERT_EQ(test::runShell("mkdir -p " + test::shellQuote(root) + "/r " + test::shellQuote(root) + "/docs " +
                                 test::shellQuote(root) + "/h " + test::shellQuote(root) + "/f1 " +
                                 test::shellQuote(root) + "/f2 " + test::shellQuote(root) + "/big"),
                  0);
        // docs/hit.kvo: title.qxx, A in m0 and m1, B in m1 and m2.
        IndexDef hit;
        hit.doc("m0.html").doc("m1.html", 4, 50).doc("m2.html");
        hit.word("a", {{0, 1}, {1, 2}}).word("b", {{1, 1}, {2, 1}});
        hit.members = {{"m0.html", "CAT:\"1|1\"", "x"}, {"m1.html", "say \"hi\"", "x"}, {"m2.html", "", "x"}};
        IndexDef nohit;
        nohit.doc("z.html").word("zzz", {{0, 1}});
        IndexDef hidden;
        hidden.doc("h.html").word("a", {{0, 1}});
        // Full-text indexes of f1 and f2 share the document 2-X.
        IndexDef f1;
        f1.doc("1-X.R1A.html").doc("2-X.R1A.html");
        f1.word("ab", {{0, 1}}).word("abc", {{0, 1}, {1, 1}}).word("b", {{1, 1}});
        f1.members = {{"1-X.R1A.html", "", "<html><body>red apple</body></html>"},
                      {"2-X.R1A.html", "", "<html><body>green</body></html>"}};
        IndexDef f2;
        f2.doc("2-X.R1A.html").doc("3-X.R1A.html");
        f2.word("abc", {{0, 1}, {1, 1}}).word("abd", {{1, 1}}).word("ac", {{1, 1}});
        f2.members = {{"2-X.R1A.html", "", "<html><body>red apple</body></html>"},
                      {"3-X.R1A.html", "CAT:\"2|0\"", "<html><body>red</body></html>"}};
        // big.kvo: one word in 120 documents, its index stored (mapped in
        // place when unpacked), every member holding the phrase.
        IndexDef big;
        IndexDef::Postings all;
        for (unsigned i = 0; i < 120; ++i) {
            std::string name = "N" + std::to_string(i) + "-X.R1A.html";
            big.doc(name);
            big.members.push_back({name, "", "<html><body>red apple</body></html>"});
            all.push_back({i, 1});
        }
        big.word("many", all);
        // A word of 300 letters: suggestions stay within their room.
        big.word("ab" + std::string(298, 'q'), {{0, 1}});
        std::vector<test::LibraryOut> out = {{root + "/docs/hit.kvo"},
                                             {root + "/docs/nohit.kvo"},
                                             {root + "/h/hidden.kvo"},
                                             {root + "/f1/f1.kvo", "fulltext.qxx", true},
                                             {root + "/f2/f2.kvo", "fulltext.qxx"},
                                             {root + "/big/big.kvo", "fulltext.qxx"}};
        ASSERT_EQ(test::runRuvxBuilder({hit, nohit, hidden, f1, f2, big}, dir, out).size(), 6u);
        // bad.kvo: its title.qxx is no index.
        out.push_back({root + "/r/bad.kvo"});
        ASSERT_EQ(test::runShell("python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1], \"w\").writestr("
                                 "\"title.qxx\", b\"RUVY 1 0 0 3 0\")' " + test::shellQuote(out.back().path)),
                  0);
        // The catalogue takes libraries with an id in their archive comment.
        int n = 0;
        for (const test::LibraryOut& lib : out) {
            std::string bytes = test::readFile(lib.path);
            ASSERT_EQ(bytes.compare(bytes.size() - 22, 4, "PK\5\6"), 0);
            std::string comment = "Lib [EN/L" + std::to_string(++n) + "]";
            bytes[bytes.size() - 2] = static_cast<char>(comment.size());
            test::writeFile(lib.path, bytes + comment);
        }
        test::writeFile(dir.file("structure.txt"),
                        test::cat::structureText({{"Root", "root", "0", root + "/r"},
                                                  {"Docs", "d", "1", root + "/docs"},
                                                  {"__Hidden", "h", "1", root + "/h"},
                                                  {"F1", "f1", "1", root + "/f1"},
                                                  {"F2", "f2", "1", root + "/f2"},
                                                  {"Big", "big", "1", root + "/big"}}));
    }
    void configureScanner(ZipList* zl) override { zl->setMlConfFile(dir.file("structure.txt").c_str()); }
    std::string id(const char* folder) {
        return std::to_string(inOrder(uzd.zipList->getMlRoot(), folder, 2)->ID);
    }
    ZipStructure* library(const char* name) { return uzd.zipList->findZipStructure(name, nullptr); }
    std::string hash(const char* name) { return std::to_string(library(name)->hashID); }
    std::string root;
};

TEST_F(QxSearch, QxSrchWholeReply) {
    startAndGreet();
    const std::string h = hash("hit.kvo"), n = hash("nohit.kvo");
    EXPECT_EQ(reply("QXSRCH \"a | b\" " + id("Docs") + " title.qxx\n"),
              (Lines{"300-Database Filename Hash DocType Score Tokens Comment",
                     "300 \"hit.kvo\" " + h + " \"m0.html\" HTML 0 [A] \"CAT:\\\"1|1\\\"\"",
                     "300 \"hit.kvo\" " + h + " \"m1.html\" " + std::string(getDocTypeName(4, 50)) + " 0 [A B] \"say \\\"hi\\\"\"",
                     "300 \"hit.kvo\" " + h + " \"m2.html\" HTML 0 [B]",
                     "349 \"Docs\" \"nohit.kvo\" " + n, "200-QXSRCH executed."}));
    // The library bitmap keeps only members whose own bitmap passes it.
    EXPECT_EQ(reply("QXSRCH a " + id("Docs") + " title.qxx 0 1\n"),
              (Lines{"300-Database Filename Hash DocType Score Tokens Comment",
                     "300 \"hit.kvo\" " + h + " \"m0.html\" HTML 0 [A] \"CAT:\\\"1|1\\\"\"",
                     "349 \"Docs\" \"nohit.kvo\" " + n, "200-QXSRCH executed."}));
    // Over maxHits: 348 with the count and no hit lines.
    EXPECT_EQ(reply("QXSRCH \"a | b\" " + h + " title.qxx 2\n"),
              (Lines{"300-Database Filename Hash DocType Score Tokens Comment", "348 \"Docs\" \"hit.kvo\" " + h + " 3",
                     "200-QXSRCH executed."}));
    // By pattern: no 349; "x* 12" takes 12 as a pattern too.
    EXPECT_EQ(reply("QXSRCH zq \"nohit.kvo " + h + "\" title.qxx\n"),
              (Lines{"300-Database Filename Hash DocType Score Tokens Comment", "200-QXSRCH executed."}));
}

TEST_F(QxSearch, QxSrchRefusalsEndTheReply) {
    startAndGreet();
    const std::string head = "300-Database Filename Hash DocType Score Tokens Comment";
    struct Case {
        std::string line;
        Lines want;
    } cases[] = {
        {"QXSRCH * 1 title.qxx", {"400 Illegal term \"*\" in pattern."}},
        {"QXSRCH \"a ! b\" 1 title.qxx", {"400 Illegal term \"!\" in pattern."}},
        {"QXSRCH a 1", {"400 Syntax error in QXSRCH command. Try HELP QXSRCH"}},
        {"QXSRCH a 99999 title.qxx", {head, "511 Invalid ID 99999"}},
        {"QXSRCH a \"99999999999 " + id("Docs") + "\" title.qxx", {head, "511 Invalid ID 4294967295"}},
        {"QXSRCH zq* nomatch*.kvo title.qxx", {head, "200-QXSRCH executed."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(reply(c.line + "\n"), c.want);
    }
    EXPECT_EQ(reply("VER\n"), (Lines{"200 Version: " + test::serverIdentity()}));
}

TEST_F(QxSearch, HiddenLibrariesOnlyThroughTheirOwnFolder) {
    startAndGreet();
    const std::string head = "300-Database Filename Hash DocType Score Tokens Comment";
    const std::string hid = hash("hidden.kvo");
    Lines own = reply("QXSRCH a " + id("__Hidden") + " title.qxx\n");
    EXPECT_EQ(own, (Lines{head, "300 \"hidden.kvo\" " + hid + " \"h.html\" HTML 0 [A]", "200-QXSRCH executed."}));
    Lines all = reply("QXSRCH a 0 title.qxx\n");
    for (const std::string& l : all) EXPECT_EQ(l.find("hidden.kvo"), std::string::npos) << l;
    // "-.kvo" matches no library: the root is searched instead.
    EXPECT_EQ(reply("QXSRCH a -.kvo title.qxx\n"), all);
}

TEST_F(QxSearch, BrokenIndexIsReportedAndTheReplyGoesOn) {
    startAndGreet();
    const std::string bad = root + "/r/bad.kvo";
    EXPECT_EQ(reply("QXSRCH zzz \"" + hash("bad.kvo") + " " + id("Docs") + "\" title.qxx\n"),
              (Lines{"300-Database Filename Hash DocType Score Tokens Comment",
                     "310-Failed to create RUVX object from " + bad + " title.qxx",
                     "349 \"Docs\" \"hit.kvo\" " + hash("hit.kvo"),
                     "300 \"nohit.kvo\" " + hash("nohit.kvo") + " \"z.html\" HTML 0 [ZZZ]", "200-QXSRCH executed."}));
}

TEST_F(QxSearch, ChangedLibraryEndsTheReplyWithIts577) {
    const std::string path = root + "/docs/hit.kvo";
    ASSERT_EQ(test::runShell("touch -d @" + std::to_string(library("hit.kvo")->mTime + 10) + " " +
                             test::shellQuote(path)),
              0);
    startAndGreet();
    EXPECT_EQ(reply("QXSRCH a \"" + id("Docs") + " " + id("F1") + "\" title.qxx\n"),
              (Lines{"300-Database Filename Hash DocType Score Tokens Comment",
                     "577 Library \"hit.kvo\" is being updated. Please perform this operation after some time."}));
    EXPECT_EQ(reply("VER\n"), (Lines{"200 Version: " + test::serverIdentity()}));
}

TEST_F(QxSearch, QxFSrchSingleAndMulti) {
    startAndGreet();
    const std::string head = "300-Database Filename Hash DocType Score Tokens Comment";
    const std::string f1 = id("F1"), f2 = id("F2");
    EXPECT_EQ(reply("QXFSRCH abc " + f1 + " 10 0\n"),
              (Lines{head, "300 \"1-X R1A\"", "300 \"2-X R1A\"", "200-QXFSRCH executed."}));
    // Multi mode: one header per item, a document of both listed once.
    EXPECT_EQ(reply("QXFSRCH abc " + f1 + "," + f2 + " 10 0\n"),
              (Lines{head, "300 \"1-X R1A\"", "300 \"2-X R1A\"", head, "300 \"3-X R1A\"", "200-QXFSRCH executed."}));
    // The second item's bitmap drops 3-X, whose own bitmap does not pass.
    EXPECT_EQ(reply("QXFSRCH abc " + f1 + "," + f2 + " 10 0 NULL,1|0\n"),
              (Lines{head, "300 \"1-X R1A\"", "300 \"2-X R1A\"", head, "200-QXFSRCH executed."}));
    // The phrase is tested in the library whose index gave the hit.
    EXPECT_EQ(reply("QXFSRCH abc " + f1 + "," + f2 + " 10 1 \"red apple\"\n"),
              (Lines{head, "300 \"1-X R1A\"", head, "300 \"2-X R1A\"", "200-QXFSRCH executed."}));
    EXPECT_EQ(reply("QXFSRCH abc " + f1 + " 0 0\n"),
              (Lines{head, "349 \"F1\" \"f1.kvo\" " + hash("f1.kvo"), "200-QXFSRCH executed."}));
    EXPECT_EQ(reply("QXFSRCH abc " + f1 + " 10 1\n"),
              (Lines{"400 Syntax error in QXFSRCH command. Try HELP QXFSRCH"}));
}

TEST_F(QxSearch, QxSrchSgsRepliesAndRefusals) {
    startAndGreet();
    const std::string head = "300-Database Suggestions";
    const std::string f1 = id("F1"), f2 = id("F2");
    struct Case {
        std::string line;
        Lines want;
    } cases[] = {
        {"QXSRCHSGS ab 1 title.qxx 5", {"511 Suggestions are not supported for title.qxx file"}},
        {"QXSRCHSGS ab 1 fulltext.qxx 0", {"511 Suggestions are not provided for input value 0"}},
        {"QXSRCHSGS * 1 fulltext.qxx 5", {"400 Illegal term \"*\" in pattern."}},
        {"QXSRCHSGS ab 1", {"400 Syntax error in QXSRCHSGS command. Try HELP QXSRCHSGS"}},
        {"QXSRCHSGS ab " + f1 + " fulltext.qxx 500", {head, "300 \"f1.kvo\" \"AB,ABC\"", "200-QXSRCHSGS executed."}},
        {"QXSRCHSGS ab " + f1 + " fulltext.qxx 1", {head, "300 \"f1.kvo\" \"AB,...\"", "200-QXSRCHSGS executed."}},
        {"QXSRCHSGS ab f2.kvo fulltext.qxx 10", {head, "300 \"f2.kvo\" \"ABC,ABD\" ", "200-QXSRCHSGS executed."}},
        {"QXSRCHSGS ab " + f1 + "," + f2 + " fulltext.qxx 10", {head, "300 \"\" \",AB,ABC,ABD,\"", "200-QXSRCHSGS executed."}},
        // In a collection an invalid ID writes nothing.
        {"QXSRCHSGS ab 99999," + f2 + " fulltext.qxx 10", {head, "300 \"\" \",ABC,ABD,\"", "200-QXSRCHSGS executed."}},
        {"QXSRCHSGS ab 99999 fulltext.qxx 10", {head, "511 Invalid ID 99999"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(reply(c.line + "\n"), c.want);
    }
}

TEST_F(QxSearch, MultiModeStopsAt101HitLines) {
    startAndGreet();
    const std::string big = id("Big");
    Lines lines = reply("QXFSRCH many " + big + "," + big + " 200 1 \"red apple\"\n");
    ASSERT_EQ(lines.size(), 103u);
    EXPECT_EQ(lines[0], "300-Database Filename Hash DocType Score Tokens Comment");
    EXPECT_EQ(lines[1], "300 \"N0-X R1A\"");
    EXPECT_EQ(lines[101], "300 \"N100-X R1A\"");
    EXPECT_EQ(lines[102], "200-QXFSRCH executed.");
    // Single mode neither collects nor limits.
    EXPECT_EQ(reply("QXFSRCH many " + big + " 200 0\n").size(), 122u);
    Lines sugs = reply("QXSRCHSGS ab " + big + " fulltext.qxx 10\n");
    ASSERT_EQ(sugs.size(), 3u);
    EXPECT_EQ(sugs[1], "300 \"big.kvo\" \"AB" + std::string(298, 'Q') + "\"");
}

TEST_F(QxSearch, DeepExpressionsAreExpressionErrors) {
    startAndGreet();
    const std::string h = hash("hit.kvo");
    const Lines noHits = {"300-Database Filename Hash DocType Score Tokens Comment", "349 \"Docs\" \"hit.kvo\" " + h,
                          "200-QXSRCH executed."};
    EXPECT_EQ(reply("QXSRCH " + std::string(65000, '(') + " " + h + " title.qxx\n"), noHits);
    std::string words = "a";
    for (int i = 1; i < 65000; ++i) words += " a";
    EXPECT_EQ(reply("QXSRCH \"" + words + "\" " + h + " title.qxx\n"), noHits);
    // a* is a pattern, not an illegal term; maxHits 0 lists every hit.
    EXPECT_EQ(reply("QXSRCH a* " + h + " title.qxx 0\n").size(), 4u);
    EXPECT_EQ(reply("VER\n"), (Lines{"200 Version: " + test::serverIdentity()}));
}

TEST(QxSrchFilter, LibraryBitmapAgainstDocumentBitmap) {
    struct Case {
        const char* lib;
        const char* doc;
        int keep;
    } cases[] = {
        {"0|4", "ff|4", 1}, {"0|4", "ff|3", 0}, {"0|4", "ff", 0}, {"0|0", "", 1},
        {"1", "", 0},       {"||1", "1", 1},    {"0|8", "1|C", 1}, {"ffffffffffffffff", "8000000000000000", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.lib) + " " + c.doc);
        EXPECT_EQ(filterSearchResult(c.lib, c.doc), c.keep);
    }
}

TEST(QxSrchArgs, NodeIdsSaturate) {
    EXPECT_EQ(readNodeId("99999"), 99999u);
    EXPECT_EQ(readNodeId("4294967296"), 4294967295u);
    EXPECT_EQ(readNodeId("123456789012345678901234"), 4294967295u);
    EXPECT_EQ(readNodeId("12"), 12u);
}

}  // namespace
}  // namespace ruva

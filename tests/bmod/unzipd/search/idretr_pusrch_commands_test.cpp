// IDRETR's size-framed sections and PUSRCH over packed records.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <string>
#include <vector>

#include "bmod/unzipd/search/search_commands.h"
#include "tests/bmod/unzipd/search/search_commands_fixture.h"
#include "tests/support/zip_builder.h"

namespace ruva {
namespace {

using Lines = std::vector<std::string>;
using test::readLine;
using test::sendText;

// The fixture's heading sections around id "x" (s1.kvo, s3.kvo) and its
// packed records.
const std::string kSection1 = "<h2><a name=\"x\"></a>Head</h2><p>body\nline</p>";
const std::string kSection3 = "<h2><a name=\"x\"></a>Head</h2><p>more\nline</p>";
const std::string kPuHeader = "300-Database Index Ext Block Prefix Caa Ind1 Ind2 Marshal Rev Adj";
const std::string kPu1 = "300 \"pu.kvo\" \"idx.txt\" HTM \"BOOK1\" \"CAND\" \"PFX\" \"123\" \"45\" \"\" \"R1A\" \"X9\" ";
const std::string kPu2 =
    "300 \"pu.kvo\" \"idx.txt\" TXT \"BOOK2\" \"OTHR\" \"ABC\" \"7\" \"8\" \"9\" \"10\" \"ABCDEFGHIJKLMNOP\" ";
const std::string kPu3 = "300 \"pu.kvo\" \"idx.txt\" ABC \"SHORT\" \"\" \"\" \"\" \"\" \"\" \"\" \"\" ";

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
    // A whole IDRETR reply, each entry its line with the section after it;
    // cut after 100 lines, so a reply that never ends fails the test.
    Lines idretrReply(const std::string& command) {
        EXPECT_TRUE(sendText(sv[1], command));
        Lines lines;
        while (lines.size() < 100) {
            std::string section;
            std::string head = entry(&section);
            lines.push_back(head + section);
            if (head.size() < 4 || head[0] != '3' || head == "<EOF>") break;
        }
        return lines;
    }
};

TEST_F(IdretrPusrch, IdretrHeadingSectionsOfAFolder) {
    startAndGreet();
    std::string id = std::to_string(inOrder(uzd.zipList->getMlRoot(), "Sec", 2)->ID);
    ASSERT_TRUE(sendText(sv[1], "IDRETR x " + id + " s.html heading\n"));
    EXPECT_EQ(readLine(sv[1]), "300-Size Database Filename Context");
    std::string sec1, sec3;
    EXPECT_EQ(entry(&sec1), "300 " + std::to_string(kSection1.size()) + " \"s1.kvo\" \"s.html\"  ");
    EXPECT_EQ(sec1, kSection1);
    EXPECT_EQ(entry(&sec3), "300 " + std::to_string(kSection3.size()) + " \"s3.kvo\" \"s.html\"  ");
    EXPECT_EQ(sec3, kSection3);
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
    const std::string all = "200-PUSRCH executed. Databases, files and lines inspected: 1 1 3";
    struct Case {
        const char* command;
        Lines want;
    } cases[] = {
        {"PUSRCH pu.kvo idx.txt\n", {kPuHeader, kPu1, kPu2, kPu3, all}},
        {"PUSRCH pu.kvo idx.txt book1\n", {kPuHeader, kPu1, all}},
        {"PUSRCH pu.kvo idx.txt book1 \"\" \"\" 12\n", {kPuHeader, all}},
        {"PUSRCH pu.kvo idx.txt book1 \"\" \"\" 12*\n", {kPuHeader, kPu1, all}},
        {"PUSRCH pu.kvo idx.txt \"\" \"\" \"\" \"\" \"\" \"\" \"\" abcdefghijklmnop\n", {kPuHeader, kPu2, all}},
        {"PUSRCH pu.kvo\n", {"400 Syntax error in PUSRCH command. Try HELP PUSRCH"}},
        {"PUSRCH none.kvo idx.txt\n",
         {kPuHeader, "200-PUSRCH executed. Databases, files and lines inspected: 0 0 0"}},
    };
    for (const Case& c : cases) EXPECT_EQ(reply(c.command), c.want) << c.command;
    // Unterminated member texts answer normally.
    EXPECT_EQ(reply("PUSRCH page.kvo edge.html\n"),
              (Lines{kPuHeader, "200-PUSRCH executed. Databases, files and lines inspected: 1 1 0"}));
}

// Expanded packed lines split into extension and eight fields, or not
// counted. A line is its head padded to column 117 and its extension.
TEST_F(IdretrPusrch, ScanPuLineTable) {
    using Fields = std::vector<std::string>;
    struct Case {
        std::string head, ext;
        int counted;
        Fields fields;
    } cases[] = {
        // The candidate before "/" is the second field; the third splits at
        // its digits; an "R" run far after the fifth leaves the sixth empty.
        {"BOOK1 CAND / PFX123 45          R1A X9", "HTM", 1, {"BOOK1", "CAND", "PFX", "123", "45", "", "R1A", "X9"}},
        // "/" where the second field is due, dashes after it: two empty fields.
        {"BOOK2 /-- 7 8 R9 X Y", "TXT", 1, {"BOOK2", "", "", "7", "8", "R9", "X", "Y"}},
        // A run followed by "/" is the second field; the "/" after it stores
        // the candidate still remembered.
        {"BOOK3 CAND NEXT/ 12 34 56 78 90", "HTM", 1, {"BOOK3", "NEXT", "CAND", "12", "34", "56", "78", "90"}},
        // A field keeps its first 16 characters; the scan goes on after the run.
        {"BOOK5 / ABCDEFGHIJKLMNOPQRST 1 2 3 4 5", "HTM", 1,
         {"BOOK5", "", "ABCDEFGHIJKLMNOP", "1", "2", "3", "4", "5"}},
        // Second field at column 117: a short record.
        {"SHORT", "ABC", 1, {"SHORT", "", "", "", "", "", "", ""}},
        {"BOOK4 / ABC DEF 1 2 3 4", "HTM", 0, {}},  // fourth field without a digit
        {"BOOK6 / P1 2 3 4 5 6", "A C", 0, {}},     // blank in the extension
        {"1BOOK / P1 2 3 4 5 6", "HTM", 0, {}},     // no letter first
        {"BOOK7 / P1 2 3", "HTM", 0, {}},           // fewer than eight fields
    };
    for (const Case& c : cases) {
        std::string line = c.head + std::string(117 - c.head.size(), ' ') + c.ext;
        SCOPED_TRACE(line);
        ASSERT_EQ(scanPuLine(ns.get(), line.c_str()), c.counted);
        if (!c.counted) continue;
        EXPECT_STREQ(ns->extension, c.ext.c_str());
        Fields got(ns->tokBuf, ns->tokBuf + 8);
        EXPECT_EQ(got, c.fields);
    }
    // One column short of a record: not counted.
    std::string short119 = "SHORT" + std::string(112, ' ') + "AB";
    EXPECT_EQ(scanPuLine(ns.get(), short119.c_str()), 0);
}

// Libraries beside lib.kvo whose member never extracts: its deflate
// stream is broken halfway, and the library stays as it is, so a refresh
// finds it unchanged. sz.kvo follows s1-s3.kvo in name order, pz.kvo
// follows pu.kvo.
class BrokenMember : public IdretrPusrch {
protected:
    void addLibraries() override {
        IdretrPusrch::addLibraries();
        std::mt19937 rnd(7);
        std::string text(200000, ' ');
        for (char& c : text) c = "abcdefgh "[rnd() % 9];
        std::string broken = test::rawDeflate(text);
        for (size_t i = broken.size() / 2; i < broken.size() / 2 + 400; ++i) broken[i] ^= 0x5a;
        for (auto [library, member] : {std::pair{"sz.kvo", "s.html"}, std::pair{"pz.kvo", "idx.txt"}})
            test::writeZip(libDir + "/" + library,
                           {.members = {{.name = member, .data = text, .method = ZIPMETHOD_DEFLATED,
                                         .compressed = broken}}});
    }
    // The session in a forked process under a stand-in for the daemon that
    // answers each refresh order at once, as the daemon does when its
    // refresh is done. The orders come back as its exit status.
    void startUnderParent(std::unique_ptr<test::Child>* parent) {
        std::fflush(nullptr);
        *parent = std::make_unique<test::Child>([this](const test::Link&) {
            static volatile sig_atomic_t orders = 0;
            static pid_t session = 0;
            // The session's end of the pair only: a test that gives up
            // early closes its end, and the session must see that.
            close(sv[1]);
            struct sigaction sa = {};
            sa.sa_handler = [](int) {
                orders = orders + 1;
                kill(session, SIGUSR1);
            };
            sigaction(SIGUSR1, &sa, nullptr);
            sigset_t usr1;
            sigemptyset(&usr1);
            sigaddset(&usr1, SIGUSR1);
            // No order is answered before the session's pid is known.
            sigprocmask(SIG_BLOCK, &usr1, nullptr);
            session = fork();
            if (session == 0) {
                sigprocmask(SIG_UNBLOCK, &usr1, nullptr);
                ns->flags &= static_cast<uint16_t>(~kNsDebug);
                ns->handleConnection();
                _exit(0);
            }
            sigprocmask(SIG_UNBLOCK, &usr1, nullptr);
            int status;
            while (waitpid(session, &status, 0) < 0 && errno == EINTR) {
            }
            return static_cast<int>(orders);
        });
        ASSERT_TRUE((*parent)->started());
        EXPECT_EQ(readLine(sv[1]), "200 UZD " + test::serverIdentity());
    }
};

// One refresh at most per command: the member fails again after it, and the
// reply gets the 310 line and its usual final line. Without a refresh (the
// debug session has no parent) the 310 line comes at the first failure.
TEST_F(BrokenMember, OneRefreshThenThe310LineAndTheFinalLine) {
    const std::string idretrHeader = "300-Size Database Filename Context";
    Lines idretrPass = {"300 " + std::to_string(kSection1.size()) + " \"s1.kvo\" \"s.html\"  " + kSection1,
                        "300 " + std::to_string(kSection3.size()) + " \"s3.kvo\" \"s.html\"  " + kSection3};
    Lines idretrTail = {"310-Failed to unzip " + libDir + "/sz.kvo s.html", "200-IDRETR executed."};
    Lines puPass = {kPu1, kPu2, kPu3};
    // The counters start again with the walk.
    Lines puTail = {"310-Failed to unzip " + libDir + "/pz.kvo idx.txt",
                    "200-PUSRCH executed. Databases, files and lines inspected: 2 1 3"};
    auto join = [](std::initializer_list<Lines> parts) {
        Lines all;
        for (const Lines& p : parts) all.insert(all.end(), p.begin(), p.end());
        return all;
    };
    {
        std::unique_ptr<test::Child> parent;
        startUnderParent(&parent);
        EXPECT_EQ(idretrReply("IDRETR x s?.kvo s.html heading\n"),
                  join({{idretrHeader}, idretrPass, idretrPass, idretrTail}));
        EXPECT_EQ(reply("PUSRCH p?.kvo idx.txt\n"), join({{kPuHeader}, puPass, puPass, puTail}));
        shutdown(sv[1], SHUT_RDWR);
        EXPECT_EQ(parent->finish(), 2);
    }
    newSession();
    startAndGreet();
    EXPECT_EQ(idretrReply("IDRETR x s?.kvo s.html heading\n"), join({{idretrHeader}, idretrPass, idretrTail}));
    EXPECT_EQ(reply("PUSRCH p?.kvo idx.txt\n"), join({{kPuHeader}, puPass, puTail}));
}

}  // namespace
}  // namespace ruva

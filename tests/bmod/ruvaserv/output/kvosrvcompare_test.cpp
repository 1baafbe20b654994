// The comparison request over a scripted document server: how each
// library's SDI parts are listed, fetched and joined into a private file,
// how the titles are found, the message of each failure, and that no file
// is left behind.
#include "bmod/ruvaserv/output/kvosrvcompare.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "bmod/ruvaserv/sgml/sdi.h"
#include "common/html_escape.h"
#include "common/string_format.h"
#include "tests/bmod/ruvaserv/cgi/request_support.h"
#include "tests/bmod/ruvaserv/cgi/scripted_server.h"
#include "tests/bmod/ruvaserv/cgi/session_replies.h"
#include "tests/support/scripted_peer.h"
#include "tests/support/test_support.h"

namespace ruva {
namespace {

using test::CapturedRequest;
using test::contvReply;
using test::dbLine;
using test::mlReply;
using test::retrReply;
using test::ScriptedPeer;

TEST(KvoSrvCompare, KeepsItsFlags) {
    auto ksc = newKvoSrvCompare(0x12);
    ASSERT_NE(ksc, nullptr);
    EXPECT_EQ(ksc->flags, 0x12);
}

TEST(KvoSrvCompare, ClassFilterIsTheLeadingDigits) {
    const struct {
        std::optional<std::string> ddc;
        std::uint32_t filter;
    } cases[] = {
        {std::nullopt, 0}, {"", 0},       {"x19082", 0},    {"19082", 19082},
        {"1551x", 1551},   {"00042", 42}, {"1234567890123", 123456789},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ddc.value_or("(none)"));
        EXPECT_EQ(classFilterOf(c.ddc ? &*c.ddc : nullptr), c.filter);
    }
}

// ---- replies as the daemon writes them

const std::string kHead =
    "<!DOCTYPE TAVR PUBLIC \"-//VANDROVE//DTD TAVR 1/1056-ABC 901 01//EN\">\n<TAVR>\n<META-DATA>\n"
    "<TITLE>Guide</TITLE>\n</META-DATA>\n<BODY>";
const std::string kTail = "</body>\n</tavr>\n";

std::string sdiPart(const std::string& head, const std::string& body) {
    return head + body + "</BODY>\n</TAVR>\n";
}

const std::string kBody1 = "\n<P>first part</P>\n";
const std::string kBody2 = "\n<P>second part</P>\n";
const std::string kPart1 = sdiPart(kHead, kBody1);
const std::string kPart2 = sdiPart("<TAVR><body class=\"x\">", kBody2);

std::string beingUpdated(const std::string& library) {
    return "577 Library \"" + library + "\" is being updated. Please perform this operation after some time.\n";
}
std::string removed(const std::string& library) {
    return "578 Library \"" + library + "\" has been removed.\n";
}

// A CONTV reply up to its end line, for joining several libraries or
// ending in another line.
std::string contvHead(const std::string& database, const std::vector<test::Member>& members) {
    std::string reply = contvReply(database, members);
    return reply.substr(0, reply.size() - std::string("200-CONTV executed.\n").size());
}
const std::string kContvEnd = "200-CONTV executed.\n";

// A LIST entry line with the comment field as the daemon writes it: quoted,
// or nothing at all for a library without comment.
std::string listEntry(const std::string& name, const std::string& commentField) {
    return format("300 \"%13s\" %8lu %5u %10lu %s\n", name.c_str(), 1234ul, 3u,
                  static_cast<unsigned long>(test::kLibTime), commentField.c_str());
}

const std::string kTwoParts = contvReply("guide.kvo", {{100, "guide_sd1.sgml"}, {80, "guide_sd2.sgml"}});
const std::string kOnePart = contvReply("guide.kvo", {{100, "guide_sd1.sgml"}});
const std::string kContvGuide = "CONTV \"guide.kvo\" *_sd?.sgml\n";
const std::string kRetr1 = "RETR \"guide.kvo\" guide_sd1.sgml\n";
const std::string kRetr2 = "RETR \"guide.kvo\" guide_sd2.sgml\n";

// Messages as the request sets them; "@server" stands for the scripted
// server's "address:port", known only when it listens.
template <class... Args>
std::string message(int index, const char* tag, const Args&... args) {
    return formatChecked(msgFormat(index, tag), args...);
}

std::string filled(std::string text, const std::string& server) {
    for (size_t at = text.find("@server"); at != std::string::npos; at = text.find("@server", at)) {
        text.replace(at, 7, server);
        at += server.size();
    }
    return text;
}

// The names in a directory, "." and ".." left out.
std::set<std::string> entriesOf(const std::string& dir) {
    std::set<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (const dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..") names.insert(name);
        }
        closedir(d);
    }
    return names;
}

class CompareRequest : public test::ScriptedServerTest {
protected:
    void SetUp() override {
        test::ScriptedServerTest::SetUp();
        ASSERT_TRUE(temp_.ok());
    }
    // A request on peer whose TempPath is the test's directory.
    void bind(CapturedRequest& cg, const ScriptedPeer& peer) const {
        cg->docServAddr = "127.0.0.1:" + std::to_string(peer.port());
        cg->TempPath = temp_.path() + "/";
        ASSERT_EQ(cg->createDefaultSession(), 1);
    }
    std::string server(const ScriptedPeer& peer) const { return "127.0.0.1:" + std::to_string(peer.port()); }

    test::TempDir temp_;
};

enum class Call {
    kPrepare,  // prepareSdiFile of library into TempPath's "joined.sgml"
    kTitle,    // prepareSdiFile, then getDatabaseTitle of the library it named
    kCompare,  // doKvoSrvCompare(library, oldLibrary)
};

struct RequestCase {
    const char* name;
    Call call;
    std::string library;
    std::vector<std::string> replies;
    std::string sent;
    bool ok;
    std::string joined = "";    // the file's bytes (kPrepare, kTitle)
    std::string database = "";  // the library the listing named
    std::string title = "";     // kTitle
    std::string error = "";     // "@server" filled in
    std::string oldLibrary = "old.kvo";
};

TEST_F(CompareRequest, FetchJoinAndTitle) {
    const std::string join2 = kHead + kBody1 + kBody2 + kTail;
    const std::string join1 = kHead + kBody1 + kTail;
    // Longer than part 2, so a reused buffer would hold its "</BODY>".
    const std::string longPart1 = sdiPart(kHead, kBody1 + std::string(200, 'x'));
    const std::string bigPart = sdiPart(kHead, std::string(5000, 'y'));
    const std::string sent2 = kContvGuide + kRetr1 + kRetr2;
    const std::string sent1 = kContvGuide + kRetr1;
    const std::string guideHeader = contvHead("guide.kvo", {});
    const std::string cutPart = "<TAVR><BODY>short";
    const RequestCase cases[] = {
        {"two parts: the head of part 1, both bodies, the tail", Call::kPrepare, "guide.kvo",
         {kTwoParts, retrReply("guide_sd1.sgml", kPart1), retrReply("guide_sd2.sgml", kPart2)}, sent2, true, join2,
         "guide.kvo"},
        {"a pattern is fetched by the one library it names", Call::kPrepare, "gui*",
         {kOnePart, retrReply("guide_sd1.sgml", kPart1)}, "CONTV gui* *_sd?.sgml\n" + kRetr1, true, join1,
         "guide.kvo"},
        {"parts listed _sd2 before _sd1 join in number order, _sd read in any case", Call::kPrepare, "guide.kvo",
         {contvReply("guide.kvo", {{80, "GUIDE_SD2.SGML"}, {100, "guide_sd1.sgml"}}),
          retrReply("guide_sd1.sgml", kPart1), retrReply("GUIDE_SD2.SGML", kPart2)},
         kContvGuide + kRetr1 + "RETR \"guide.kvo\" GUIDE_SD2.SGML\n", true, join2, "guide.kvo"},
        {"a part longer than listed is joined from its own bytes", Call::kPrepare, "guide.kvo",
         {contvReply("guide.kvo", {{10, "guide_sd1.sgml"}}), retrReply("guide_sd1.sgml", bigPart)}, sent1, true,
         kHead + std::string(5000, 'y') + kTail, "guide.kvo"},
        {"a short part 2 without </body> is refused, never joined with stale bytes", Call::kPrepare, "guide.kvo",
         {kTwoParts, retrReply("guide_sd1.sgml", longPart1), retrReply("guide_sd2.sgml", cutPart)}, sent2, false,
         "", "", "", message(122, "kvosrvcompare/14", "guide_sd2.sgml")},
        {"a part without <body", Call::kPrepare, "guide.kvo",
         {kOnePart, retrReply("guide_sd1.sgml", "<TAVR></TAVR>")}, sent1, false, "", "", "",
         message(122, "kvosrvcompare/14", "guide_sd1.sgml")},
        {"577 before the library's header", Call::kPrepare, "guide.kvo", {beingUpdated("guide.kvo")}, kContvGuide,
         false, "", "", "", message(7, "kvosrvcompare/20", "guide.kvo")},
        {"578 after the library's header", Call::kPrepare, "guide.kvo", {guideHeader + removed("guide.kvo")},
         kContvGuide, false, "", "", "", message(8, "kvosrvcompare/21", "guide.kvo")},
        {"577 in reply to RETR", Call::kPrepare, "guide.kvo", {kOnePart, beingUpdated("guide.kvo")}, sent1, false,
         "", "", "", message(7, "kvosrvcompare/22", "guide.kvo")},
        {"578 in reply to RETR", Call::kPrepare, "guide.kvo", {kTwoParts, retrReply("guide_sd1.sgml", kPart1),
                                                               removed("a&b.kvo")},
         sent2, false, "", "", "", message(8, "kvosrvcompare/23", "a&amp;b.kvo")},
        {"no SDI member", Call::kPrepare, "guide.kvo", {guideHeader + kContvEnd}, kContvGuide, false, "", "", "",
         message(118, "kvosrvcompare/10", "guide.kvo", "@server")},
        {"no library matched", Call::kPrepare, "<none>", {kContvEnd}, "CONTV <none> *_sd?.sgml\n", false, "",
         "", "", message(118, "kvosrvcompare/10", "&#60;none&#62;", "@server")},
        {"a pattern matching two libraries", Call::kPrepare, "guide*",
         {contvHead("guide.kvo", {{100, "guide_sd1.sgml"}}) + contvReply("guide-r0.kvo", {{90, "guide-r0_sd1.sgml"}})},
         "CONTV guide* *_sd?.sgml\n", false, "", "", "",
         message(117, "kvosrvcompare/9", "@server", "the name matches several libraries")},
        {"CONTV refused: the server's text, escaped", Call::kPrepare, "guide.kvo",
         {"511 Invalid database 'guide.kvo' <x>\n"}, kContvGuide, false, "", "", "",
         message(117, "kvosrvcompare/9", "@server", "Invalid database &#39;guide.kvo&#39; &#60;x&#62;")},
        {"RETR refused", Call::kPrepare, "guide.kvo",
         {kOnePart, "400-File \"guide_sd1.sgml\" not found in database \"guide.kvo\", 1 database(s) checked\n"},
         sent1, false, "", "", "",
         message(121, "kvosrvcompare/13", "guide_sd1.sgml", "guide.kvo", "@server",
                 "File &#34;guide_sd1.sgml&#34; not found in database &#34;guide.kvo&#34;, 1 database(s) "
                 "checked")},
        {"a library id is fetched and titled by the hash id the listing gives", Call::kTitle, "[EN/X R1A]",
         {contvReply("12", {{100, "x_sd1.sgml"}}), retrReply("x_sd1.sgml", kPart1),
          mlReply(dbLine("x.kvo", 12, "X library [EN/X R1A] STA:REL"))},
         "CONTV \"[EN/X R1A]\" *_sd?.sgml\nRETR 12 x_sd1.sgml\nMLLIST 12\n", true, join1, "12",
         "X library [EN/X R1A]"},
        {"by name the title comes from LIST, cut after ']'", Call::kTitle, "guide.kvo",
         {kOnePart, retrReply("guide_sd1.sgml", kPart1),
          test::listReply(listEntry("guide.kvo", "\"Guide [EN/DOCLIB1 R1A] STA:REL\""))},
         sent1 + "LIST \"guide.kvo\"\n", true, join1, "guide.kvo", "Guide [EN/DOCLIB1 R1A]"},
        {"a library without comment is titled by its name", Call::kTitle, "guide.kvo",
         {kOnePart, retrReply("guide_sd1.sgml", kPart1), test::listReply(listEntry("guide.kvo", ""))},
         sent1 + "LIST \"guide.kvo\"\n", true, join1, "guide.kvo", "guide.kvo"},
        {"a comment of \"\" is titled by the name", Call::kTitle, "guide.kvo",
         {kOnePart, retrReply("guide_sd1.sgml", kPart1), test::listReply(listEntry("guide.kvo", "\"\""))},
         sent1 + "LIST \"guide.kvo\"\n", true, join1, "guide.kvo", "guide.kvo"},
        {"a comment without ']' is kept whole", Call::kTitle, "guide.kvo",
         {kOnePart, retrReply("guide_sd1.sgml", kPart1), test::listReply(listEntry("guide.kvo", "\"Guide\""))},
         sent1 + "LIST \"guide.kvo\"\n", true, join1, "guide.kvo", "Guide"},
        {"LIST without an entry", Call::kTitle, "guide.kvo",
         {kOnePart, retrReply("guide_sd1.sgml", kPart1), test::listReply("")}, sent1 + "LIST \"guide.kvo\"\n",
         true, join1, "guide.kvo", "", message(125, "kvosrvcompare/17", "guide.kvo")},
        {"MLLIST showing another library", Call::kTitle, "12",
         {contvReply("12", {{100, "x_sd1.sgml"}}), retrReply("x_sd1.sgml", kPart1),
          mlReply(dbLine("y.kvo", 13, "Y [EN/Y R1A]"))},
         "CONTV 12 *_sd?.sgml\nRETR 12 x_sd1.sgml\nMLLIST 12\n", true, join1, "12", "",
         message(126, "kvosrvcompare/18", "12")},
        {"MLLIST refused", Call::kTitle, "12",
         {contvReply("12", {{100, "x_sd1.sgml"}}), retrReply("x_sd1.sgml", kPart1), "511 Invalid ID 12\n"},
         "CONTV 12 *_sd?.sgml\nRETR 12 x_sd1.sgml\nMLLIST 12\n", true, join1, "12", "",
         message(126, "kvosrvcompare/18", "12")},
        {"a library name holding a line feed is refused before any byte is sent", Call::kCompare, "a\nb", {}, "",
         false, "", "", "", message(117, "kvosrvcompare/9", "@server", message(462, "uzsession/72"))},
        {"the old library failing ends the comparison", Call::kCompare, "guide.kvo",
         {kOnePart, retrReply("guide_sd1.sgml", kPart1), removed("old.kvo")},
         sent1 + "CONTV \"old.kvo\" *_sd?.sgml\n", false, "", "", "", message(8, "kvosrvcompare/21", "old.kvo")},
        {"a title failing ends the comparison", Call::kCompare, "guide.kvo",
         {kOnePart, retrReply("guide_sd1.sgml", kPart1), contvReply("old.kvo", {{100, "old_sd1.sgml"}}),
          retrReply("old_sd1.sgml", kPart2), test::listReply("")},
         sent1 + "CONTV \"old.kvo\" *_sd?.sgml\nRETR \"old.kvo\" old_sd1.sgml\nLIST \"guide.kvo\"\n", false, "", "",
         "", message(125, "kvosrvcompare/17", "guide.kvo")},
    };
    for (const RequestCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer peer({test::replyScript(c.replies)});
        ASSERT_TRUE(peer.ok());
        const std::string joinedFile = temp_.file("joined.sgml");
        {
            CapturedRequest cg;
            bind(cg, peer);
            auto ksc = newKvoSrvCompare(0);
            KvoSrvCompareResult result = KvoSrvCompareResult::kFailed;
            std::string database = "unset";
            if (c.call == Call::kCompare) {
                result = ksc->doKvoSrvCompare(*cg, c.library, c.oldLibrary);
            } else {
                result = ksc->prepareSdiFile(*cg, c.library, joinedFile, &database);
            }
            EXPECT_EQ(result == KvoSrvCompareResult::kOk, c.ok);
            if (c.ok) {
                EXPECT_EQ(test::readFile(joinedFile), c.joined);
                EXPECT_EQ(database, c.database);
            }
            if (c.call == Call::kTitle && c.ok) {
                const std::optional<std::string> title = getDatabaseTitle(*cg, database);
                EXPECT_EQ(title.value_or(""), c.title);
                EXPECT_EQ(title.has_value(), c.error.empty());
            }
            EXPECT_EQ(cg->getError(), filled(c.error, server(peer)));
            EXPECT_EQ(cg->docBuf, nullptr);
        }
        peer.stop();
        EXPECT_EQ(test::beforeQuit(peer.connections() ? peer.received(0) : ""), c.sent);
        const std::set<std::string> expected =
            c.ok ? std::set<std::string>{"joined.sgml"} : std::set<std::string>{};
        EXPECT_EQ(entriesOf(temp_.path()), expected);
        ::unlink(joinedFile.c_str());
    }
}

// A full script for the comparison of guide.kvo (new) with old.kvo: both
// libraries' parts and titles.
std::vector<std::string> bothLibraries() {
    return {kOnePart,
            retrReply("guide_sd1.sgml", kPart1),
            contvReply("old.kvo", {{100, "old_sd1.sgml"}}),
            retrReply("old_sd1.sgml", kPart2),
            test::listReply(listEntry("guide.kvo", "\"Guide\"")),
            test::listReply(listEntry("old.kvo", "\"Old guide\""))};
}

// A write past the file size limit fails with EFBIG (SIGXFSZ ignored):
// in the head it is message 123, in a body 124, and the file is gone.
TEST_F(CompareRequest, WriteFailuresNameTheirStepAndRemoveTheFile) {
    const struct {
        const char* name;
        rlim_t limit;
        int index;
        const char* tag;
    } cases[] = {
        {"inside the head", 10, 123, "kvosrvcompare/15"},
        {"inside the first body", kHead.size() + 5, 124, "kvosrvcompare/16"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer peer({test::replyScript({kOnePart, retrReply("guide_sd1.sgml", kPart1)})});
        ASSERT_TRUE(peer.ok());
        const std::string file = temp_.file("joined.sgml");
        // The path goes into the page escaped like any outside text.
        const std::string expected = message(c.index, c.tag, std::strerror(EFBIG), htmlEscaped(file));
        const int status = test::inChild([&] {
            ::signal(SIGXFSZ, SIG_IGN);
            CapturedRequest cg;
            cg->docServAddr = server(peer);
            if (cg->createDefaultSession() != 1) return 1;
            const rlimit limit{c.limit, c.limit};
            if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 2;
            if (newKvoSrvCompare(0)->prepareSdiFile(*cg, "guide.kvo", file) != KvoSrvCompareResult::kFailed)
                return 3;
            if (cg->getError() != expected) {
                std::fprintf(stderr, "error text: %s\n", cg->getError().c_str());
                return 4;
            }
            return 0;
        });
        EXPECT_EQ(status, 0);
        peer.stop();
        EXPECT_EQ(entriesOf(temp_.path()), std::set<std::string>{});
    }
}

// The names the old scheme predicted could be planted by another local
// user: files go to a fresh private directory instead.
TEST_F(CompareRequest, PlantedLinksAtPredictableNamesStayUntouched) {
    test::TempDir elsewhere;
    ASSERT_TRUE(elsewhere.ok());
    const std::string victim = elsewhere.file("victim");
    test::writeFile(victim, "victim");
    test::EnvGuard env;
    env.set("TMPDIR", std::nullopt);
    const std::string pid = std::to_string(static_cast<unsigned long>(::getpid()));
    const std::set<std::string> planted = {"ascA" + pid + "aaaaa.tmp.sgml", "ascB" + pid + "aaaaa.tmp.sgml"};
    for (const std::string& name : planted) ASSERT_EQ(::symlink(victim.c_str(), temp_.file(name).c_str()), 0);

    ScriptedPeer peer({test::replyScript(bothLibraries())});
    ASSERT_TRUE(peer.ok());
    {
        CapturedRequest cg;
        bind(cg, peer);
        newKvoSrvCompare(0)->doKvoSrvCompare(*cg, "guide.kvo", "old.kvo");
    }
    peer.stop();
    EXPECT_EQ(test::beforeQuit(peer.received(0)),
              kContvGuide + kRetr1 + "CONTV \"old.kvo\" *_sd?.sgml\nRETR \"old.kvo\" old_sd1.sgml\n"
                                     "LIST \"guide.kvo\"\nLIST \"old.kvo\"\n");
    EXPECT_EQ(test::readFile(victim), "victim");
    EXPECT_EQ(entriesOf(temp_.path()), planted);
    for (const std::string& name : planted) {
        char target[4096] = {};
        ASSERT_GT(::readlink(temp_.file(name).c_str(), target, sizeof target - 1), 0);
        EXPECT_EQ(std::string(target), victim);
    }
}

// While the second library's listing is awaited, the first library's file
// exists: only its owner may reach it.
TEST_F(CompareRequest, FilesArePrivateWhileTheComparisonRuns) {
    test::PeerScript script;
    script.send(test::kGreeting);
    script.awaitLine().send(kOnePart).awaitLine().send(retrReply("guide_sd1.sgml", kPart1));
    script.awaitLine().silence();
    ScriptedPeer peer({script});
    ASSERT_TRUE(peer.ok());
    const std::string sent = kContvGuide + kRetr1 + "CONTV \"old.kvo\" *_sd?.sgml\n";
    {
        CapturedRequest cg;
        bind(cg, peer);
        KvoSrvCompareResult result = KvoSrvCompareResult::kOk;
        std::thread run([&] { result = newKvoSrvCompare(0)->doKvoSrvCompare(*cg, "guide.kvo", "old.kvo"); });
        EXPECT_TRUE(peer.waitBytes(0, sent.size(), std::chrono::seconds(8)));
        const std::set<std::string> dirs = entriesOf(temp_.path());
        EXPECT_EQ(dirs.size(), 1u);
        if (dirs.size() == 1) {
            const std::string dir = temp_.file(*dirs.begin());
            struct stat st {};
            EXPECT_EQ(::lstat(dir.c_str(), &st), 0);
            EXPECT_TRUE(S_ISDIR(st.st_mode));
            EXPECT_EQ(st.st_mode & 07777, 0700u);
            EXPECT_EQ(entriesOf(dir), std::set<std::string>{"ascA.sgml"});
            EXPECT_EQ(::lstat((dir + "/ascA.sgml").c_str(), &st), 0);
            EXPECT_TRUE(S_ISREG(st.st_mode));
            EXPECT_EQ(st.st_mode & 07777, 0600u);
        }
        // The connection's end fails the listing, which ends the comparison.
        peer.stop();
        run.join();
        EXPECT_EQ(result, KvoSrvCompareResult::kFailed);
        EXPECT_EQ(cg->getError(), message(117, "kvosrvcompare/9", server(peer), cg->sess->getError()));
    }
    EXPECT_EQ(test::beforeQuit(peer.received(0)), sent);
    EXPECT_EQ(entriesOf(temp_.path()), std::set<std::string>{});
}

// ---- through the comparison report

// A document list part: the head up to its body start tag, and rows of
// title and "number revision".
const std::string kListHead =
    "<!DOCTYPE TAVR PUBLIC \"-//VANDROVE//DTD TAVR 1/1056-ABC 901 01//EN\">\n<TAVR>\n<META-DATA>\n"
    "<CONFIDENTIALITY CLASS=\"open\">\n<DOC-NAME>DOCUMENT LIST</DOC-NAME>\n<DOC-ID>\n"
    "<DOC-NO TYPE=\"registration\">1/1553-ABC 901 00 Uen</DOC-NO>\n<LANGUAGE CODE=\"en\">\n<REV>B</REV>\n"
    "<DATE><Y>2003</Y><M>04</M><D>17</D></DATE>\n</DOC-ID>\n<TITLE>Guide</TITLE>\n</META-DATA>\n<BODY>";

std::string listPart(const std::vector<std::pair<std::string, std::string>>& rows) {
    std::string body = "\n<CHL1><TITLE>Documents</TITLE>\n<TABLE><TGROUP COLS=\"3\"><TBODY>\n";
    for (const auto& [title, number] : rows) {
        body += "<ROW><ENTRY>" + title + "</ENTRY><ENTRY>" + number + "</ENTRY><ENTRY></ENTRY></ROW>\n";
    }
    return sdiPart(kListHead, body + "</TBODY></TGROUP></TABLE>\n</CHL1>\n");
}

// The line of the page that links FN.
std::string rowOf(const std::string& page, const std::string& fn) {
    const size_t at = page.find("FN=" + fn + "\"");
    if (at == std::string::npos) return "";
    const size_t begin = page.rfind('\n', at) + 1;
    return page.substr(begin, page.find('\n', at) - begin);
}

// The first library of a pair is the new one: a document only there is
// new and linked there, one only in the second is removed and linked
// there, whichever pair of fields names them.
TEST_F(CompareRequest, TheFirstLibraryIsTheNewOne) {
    const std::string aPart = listPart({{"Shared", "1551-ABC 101 01 Uen A"}, {"Only A", "1551-ABC 101 02 Uen A"}});
    const std::string bPart = listPart({{"Shared", "1551-ABC 101 01 Uen A"}, {"Only B", "1551-ABC 101 03 Uen A"}});
    const std::string onlyA = "1551-ABC10102Uen.A.*";
    const std::string onlyB = "1551-ABC10103Uen.A.*";
    const struct {
        const char* name;
        const char* newField;
        const char* oldField;
        std::string newLib;
        std::string oldLib;
        std::string newPart;
        std::string oldPart;
        std::string newRow;  // FN of the document only in the new library
        std::string oldRow;
    } cases[] = {
        {"names, a.kvo new", "DB", "DC", "a.kvo", "b.kvo", aPart, bPart, onlyA, onlyB},
        {"names swapped", "DB", "DC", "b.kvo", "a.kvo", bPart, aPart, onlyB, onlyA},
        {"hash ids", "ID", "IC", "12", "13", aPart, bPart, onlyA, onlyB},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const bool byId = c.newLib == "12";
        const std::string titles =
            byId ? mlReply(dbLine("a.kvo", 12, "A guide")) : test::listReply(listEntry(c.newLib, "\"New guide\""));
        const std::string oldTitles =
            byId ? mlReply(dbLine("b.kvo", 13, "B guide")) : test::listReply(listEntry(c.oldLib, "\"Old guide\""));
        ScriptedPeer peer({test::replyScript({test::verLine(), contvReply(c.newLib, {{100, "n_sd1.sgml"}}),
                                              retrReply("n_sd1.sgml", c.newPart),
                                              contvReply(c.oldLib, {{100, "o_sd1.sgml"}}),
                                              retrReply("o_sd1.sgml", c.oldPart), titles, oldTitles})});
        ASSERT_TRUE(peer.ok());
        {
            CapturedRequest cg;
            cg->docServAddr = server(peer);
            cg->TempPath = temp_.path() + "/";
            cg.field(c.newField, c.newLib.c_str());
            cg.field(c.oldField, c.oldLib.c_str());
            auto kh = newKivoHandler(cg.get());
            ASSERT_EQ(kh->entry("COMPEXE"), 1) << kh->getError();
            EXPECT_EQ(cg->mimeType, "text/html");
            EXPECT_EQ(cg->mimeFilename, "compare.html");
            ASSERT_NE(cg->docBuf, nullptr);
            const std::string page(cg->docBuf, cg->docSize);
            const std::string newTitle = byId ? "A guide" : "New guide";
            const std::string oldTitle = byId ? "B guide" : "Old guide";
            EXPECT_NE(page.find("Changes in new library</td>\n<td class=\"c4\" align=\"left\"><b><font "
                                "color=\"#666666\">&nbsp; " + newTitle + "<"),
                      std::string::npos);
            EXPECT_NE(page.find("compared to old library</td>\n<td class=\"c4\" align=\"left\"><b><font "
                                "color=\"#666666\">&nbsp; " + oldTitle + "<"),
                      std::string::npos);
            const std::string newRow = rowOf(page, c.newRow);
            EXPECT_NE(newRow.find("=" + c.newLib + "&amp;FN="), std::string::npos) << newRow;
            EXPECT_NE(newRow.find("alt=\"New document\""), std::string::npos) << newRow;
            const std::string oldRow = rowOf(page, c.oldRow);
            EXPECT_NE(oldRow.find("=" + c.oldLib + "&amp;FN="), std::string::npos) << oldRow;
            EXPECT_NE(oldRow.find("alt=\"Removed document\""), std::string::npos) << oldRow;
        }
        peer.stop();
        const std::string title = byId ? "MLLIST " : "LIST ";
        const auto quoted = [&](const std::string& lib) { return byId ? lib : "\"" + lib + "\""; };
        EXPECT_EQ(test::beforeQuit(peer.received(0)),
                  "VER\nCONTV " + quoted(c.newLib) + " *_sd?.sgml\nRETR " + quoted(c.newLib) +
                      " n_sd1.sgml\nCONTV " + quoted(c.oldLib) + " *_sd?.sgml\nRETR " + quoted(c.oldLib) +
                      " o_sd1.sgml\n" + title + quoted(c.newLib) + "\n" + title + quoted(c.oldLib) + "\n");
        EXPECT_EQ(entriesOf(temp_.path()), std::set<std::string>{});
    }
}

// A part that is HTML, not a document list, joins like any other; the
// list reader refuses it, and each layer of the failure keeps its own
// message and tag.
TEST_F(CompareRequest, ReaderFailureIsNestedInTheComparisonsMessage) {
    const std::string htmlHead = "<html><head><title>x</title></head><body>";
    const std::string htmlBody = "<p>not a list</p>";
    const std::string joined = htmlHead + htmlBody + kTail;
    test::TempDir elsewhere;
    ASSERT_TRUE(elsewhere.ok());
    test::writeFile(elsewhere.file("joined.sgml"), joined);
    std::unique_ptr<Sdi> reader = newSdi(0);
    ASSERT_EQ(reader->setInput(elsewhere.file("joined.sgml").c_str()), 0);
    ASSERT_EQ(reader->getError().rfind("Invalid SDI document type ", 0), 0u) << reader->getError();

    ScriptedPeer peer({test::replyScript({kOnePart, retrReply("guide_sd1.sgml", htmlHead + htmlBody + "</body></html>"),
                                          contvReply("old.kvo", {{100, "old_sd1.sgml"}}),
                                          retrReply("old_sd1.sgml", kPart1),
                                          test::listReply(listEntry("guide.kvo", "\"Guide\"")),
                                          test::listReply(listEntry("old.kvo", "\"Old\""))})});
    ASSERT_TRUE(peer.ok());
    CapturedRequest cg;
    bind(cg, peer);
    EXPECT_EQ(newKvoSrvCompare(0)->doKvoSrvCompare(*cg, "guide.kvo", "old.kvo"), KvoSrvCompareResult::kFailed);
    EXPECT_EQ(cg->getError(), message(116, "kvosrvcompare/8", message(153, "compare/5", reader->getError())));
    EXPECT_EQ(entriesOf(temp_.path()), std::set<std::string>{});
}

}  // namespace
}  // namespace ruva

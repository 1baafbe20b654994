// The annotation store over a scripted document server: the commands it
// sends, what it makes of each reply, and the messages of its failures.
#include "bmod/ruvaserv/actions/annotation.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/client/uzsession.h"
#include "common/html_escape.h"
#include "common/string_format.h"
#include "tests/bmod/ruvaserv/actions/action_test_support.h"
#include "tests/bmod/ruvaserv/actions/anno_peer.h"
#include "tests/bmod/ruvaserv/cgi/session_replies.h"
#include "tests/support/scripted_peer.h"

namespace ruva {
namespace {

using namespace std::string_literals;
using std::chrono::seconds;
using test::PeerScript;
using namespace annotest;
using AnnotationStore = AnnoWaits;

// A store over a request whose server plays script.
struct StoreRun {
    explicit StoreRun(PeerScript script) : request({std::move(script)}, {}) {
        if (request.cg()) request->commandTimeout = 1;
        store = newAnnotation(request.cg());
    }
    bool ok() const { return request.ok() && store; }
    CgiHandler& cg() { return *request; }
    // What the server received so far.
    std::string received() { return request.peer().received(0); }
    std::string message(int index, const char* tag) { return formatChecked(cg().msg(index, tag)); }
    template <class... Args>
    std::string message(int index, const char* tag, const Args&... args) {
        return formatChecked(cg().msg(index, tag), args...);
    }

    test::ActionRequest request;
    std::unique_ptr<Annotation> store;
};

TEST_F(AnnotationStore, NamesThatCouldReachTheDaemonAsPatternsOrOptionsAreRefusedBeforeSending) {
    struct {
        const char* name;
        std::function<bool(Annotation&)> run;  // true when it failed
        int message;
        const char* tag;
    } const cases[] = {
        {"list *", [](Annotation& an) { return !an.getAnnotFiles("*", false); }, 463, "annotation/13"},
        {"list -h.A.html", [](Annotation& an) { return !an.getAnnotFiles("-h.A.html", true); }, 463,
         "annotation/13"},
        {"list stem.html", [](Annotation& an) { return !an.getAnnotations("stem.html", true); }, 465,
         "annotation/12"},
        {"store into a non-document",
         [](Annotation& an) {
             AnnoStruct as = record("t");
             return an.putAnnotation("stem.html", as, true) == kAnnoFailed;
         },
         465, "annotation/12"},
        {"store at chapter *",
         [](Annotation& an) {
             AnnoStruct as = record("t", "*");
             return an.putAnnotation(kDoc, as, false) == kAnnoFailed;
         },
         464, "annotation/14"},
        {"remove chapter 1/2", [](Annotation& an) { return an.removeAnnotation(kDoc, "1/2") == kAnnoFailed; },
         464, "annotation/14"},
        {"remove from x\"y",
         [](Annotation& an) { return an.removeAnnotation("x\"y.A.html", "3") == kAnnoFailed; }, 463,
         "annotation/13"},
        {"read chapter -h",
         [](Annotation& an) { return an.getAnnotation(kDoc, "-h", nullptr) == AnnoRead::kFailed; }, 464,
         "annotation/14"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        StoreRun run(Daemon().done());
        ASSERT_TRUE(run.ok());
        EXPECT_TRUE(c.run(*run.store));
        EXPECT_EQ(run.cg().getError(), run.message(c.message, c.tag));
        EXPECT_EQ(run.request.peer().connections(), 0u);
    }
}

TEST_F(AnnotationStore, ListingOfOneRevisionOrAll) {
    // A second library "annot.anx" lists chapter 2 again: the first stays.
    const std::string reply = contvHeader("annot.anx") +
                              contvLines({{"1551-abc10101uen.a.10", 60},
                                          {"1551-abc10101uen.a.2", 52},
                                          {"-x.a.3", 52},
                                          {"1551-abc10101uen.a.9", 70}}) +
                              contvHeader("old/annot.anx") + contvLines({{"1551-ABC10101UEN.A.2", 99}}) +
                              "200-CONTV executed.\n";
    for (bool allRevs : {false, true}) {
        SCOPED_TRACE(allRevs);
        StoreRun run(Daemon().answer(test::verLine()).answer(reply).answer(reply).done());
        ASSERT_TRUE(run.ok());
        const std::optional<std::vector<AnnoZip>> members = run.store->getAnnotFiles(kDoc, allRevs);
        ASSERT_TRUE(members);
        std::vector<std::string> chain;
        for (const AnnoZip& z : *members) chain.push_back(z.szChapter + "/" + std::to_string(z.usize));
        EXPECT_EQ(chain, (std::vector<std::string>{"2/52", "9/70", "10/60"}));
        const std::string pattern = allRevs ? "1551-ABC10101Uen.*" : "1551-ABC10101Uen.A.*";
        EXPECT_EQ(run.store->getAnnotationList(kDoc), (std::vector<std::string>{"2", "9", "10"}));
        EXPECT_EQ(run.received(),
                  "VER\nCONTV \"annot.anx\" " + pattern + "\nCONTV \"annot.anx\" 1551-ABC10101Uen.A.*\n");
    }
}

// Only a listing that answered may say "no annotations".
TEST_F(AnnotationStore, ListingOutcomes) {
    struct {
        const char* name;
        std::string reply;
        bool listed;
        int message;
        const char* tag;
    } const cases[] = {
        {"no archive", kEmptyContv, true, 0, ""},
        {"archive without the document's members", contv({}), true, 0, ""},
        {"being updated", k577, false, 7, "annotation/10"},
        {"removed", "578 Library \"annot.anx\" has been removed.\n", false, 8, "annotation/11"},
        {"refused", "500 Bad <pattern>\n", false, 141, "annotation/2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        StoreRun run(Daemon().answer(test::verLine()).answer(c.reply).done());
        ASSERT_TRUE(run.ok());
        const auto records = run.store->getAnnotations(kDoc, true);
        ASSERT_EQ(records.has_value(), c.listed);
        if (c.listed) {
            EXPECT_TRUE(records->empty());
            EXPECT_EQ(run.cg().getError(), "");
        } else if (c.message == 141) {
            const std::string address = "127.0.0.1:" + std::to_string(run.request.peer().port());
            EXPECT_EQ(run.cg().getError(), run.message(141, c.tag, address, htmlEscaped("Bad <pattern>")));
        } else {
            EXPECT_EQ(run.cg().getError(), run.message(c.message, c.tag, "annot.anx"));
        }
    }
}

// Creating: the chapter's member is read first through the request; only
// "absent" lets the upload go, and a found member is offered joined.
TEST_F(AnnotationStore, CreateReadsTheMemberFirst) {
    const std::string stored = bytesOf(record("old"));
    const std::string upload = bytesOf(record("new"));
    const std::string readLines = "VER\nLIST \"annot.anx\"\nCONTV \"annot.anx\" " + kMember + "\n";
    const std::string written = updLine(kMember, upload) + "QUIT\n";
    struct {
        const char* name;
        PeerScript script;
        int result;
        std::string sent;
        std::string text;  // the record's text afterwards
    } cases[] = {
        {"no archive in the catalogue",
         Daemon().answer(test::verLine()).answer(kNoArchiveList).upload(kUpdOk).answer(kQuitOk).done(),
         kAnnoDone, "VER\nLIST \"annot.anx\"\n" + written, "new"},
        {"no such member", listArchive().answer(contv({})).upload(kUpdOk).answer(kQuitOk).done(), kAnnoDone,
         readLines + written, "new"},
        {"library being updated", listArchive().answer(k577).done(), kAnnoFailed, readLines, "new"},
        {"the member's read times out", listArchive().answer(contv({{kListed, stored.size()}})).stall(),
         kAnnoFailed, readLines + "RETR \"annot.anx\" " + kListed + "\n", "new"},
        {"the chapter holds one",
         listArchive().answer(contv({{kListed, stored.size()}})).answer(retr(kListed, stored)).done(),
         kAnnoJoined, readLines + "RETR \"annot.anx\" " + kListed + "\n", "old\r\n- - - - -\r\nnew"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        StoreRun run(std::move(c.script));
        ASSERT_TRUE(run.ok());
        AnnoStruct as = record("new");
        EXPECT_EQ(run.store->putAnnotation(kDoc, as, true), c.result);
        EXPECT_EQ(run.received(), c.sent);
        EXPECT_EQ(as.text, c.text);
        if (c.result == kAnnoDone) {
            EXPECT_EQ(run.cg().getError(), "");
        }
        if (c.result == kAnnoJoined) {
            EXPECT_EQ(run.store->memberVersion(), annoVersionOf(stored));
        }
        if (std::string(c.name) == "library being updated") {
            EXPECT_EQ(run.cg().getError(), run.message(7, "cgihandler/43", "annot.anx"));
        }
        if (c.result == kAnnoFailed) {
            EXPECT_NE(run.cg().getError(), "");
        }
    }
}

TEST_F(AnnotationStore, RefusedUploadsAndRemovalsGiveTheDaemonsReason) {
    const std::string upload = bytesOf(record("new"));
    struct {
        const char* name;
        bool remove;
        std::string reply;
        int message;
        std::string reason;
    } const cases[] = {
        {"upload locked", false, "520-Cannot update ZIP, function locked by other user\n", 144,
         "Cannot update ZIP, function locked by other user"},
        {"no writable folder", false, "500-ZIP file update not allowed by server\n", 144,
         "ZIP file update not allowed by server"},
        {"read-only archive", false, "500-ZIP database may not be modified '/srv/a <b>/annot.anx'\n", 144,
         "ZIP database may not be modified '/srv/a <b>/annot.anx'"},
        {"removal locked", true, "520-Cannot perform ZIP updates, the update function is busy\n", 146,
         "Cannot perform ZIP updates, the update function is busy"},
        {"nothing to remove", true, "500-Zip Error in RMFILE, Nothing to do! (/srv/annot.anx)\n", 146,
         "Zip Error in RMFILE, Nothing to do! (/srv/annot.anx)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Daemon d;
        d.answer(test::verLine());
        StoreRun run(c.remove ? d.answer(c.reply).done() : d.upload(c.reply).done());
        ASSERT_TRUE(run.ok());
        AnnoStruct as = record("new");
        const int result =
            c.remove ? run.store->removeAnnotation(kDoc, "3") : run.store->putAnnotation(kDoc, as, false);
        EXPECT_EQ(result, kAnnoFailed);
        const std::string reason = htmlEscaped(c.reason);
        if (c.remove) {
            EXPECT_EQ(run.cg().getError(), run.message(146, "annotation/7", reason, kMember, "annot.anx"));
            EXPECT_EQ(run.received(), "VER\nRMFILE \"annot.anx\" " + kMember + "\n");
        } else {
            EXPECT_EQ(run.cg().getError(), run.message(144, "annotation/5", kMember, "annot.anx", reason));
            EXPECT_EQ(run.received(), "VER\n" + updLine(kMember, upload));
        }
    }
}

// The daemon reads the next command once its catalogue is refreshed: QUIT's
// line says a reload will see the change.
TEST_F(AnnotationStore, QuitFollowsEverySuccessfulUpdate) {
    const std::string upload = bytesOf(record("new"));
    {
        StoreRun run(Daemon().answer(test::verLine()).upload(kUpdOk).answer(kQuitOk).done());
        ASSERT_TRUE(run.ok());
        AnnoStruct as = record("new");
        EXPECT_EQ(run.store->putAnnotation(kDoc, as, false), kAnnoDone);
        EXPECT_EQ(run.received(), "VER\n" + updLine(kMember, upload) + "QUIT\n");
        EXPECT_EQ(upload.size(), 51u);
    }
    {
        StoreRun run(Daemon().answer(test::verLine()).answer(kRmOk).answer(kQuitOk).done());
        ASSERT_TRUE(run.ok());
        EXPECT_EQ(run.store->removeAnnotation(kDoc, "3"), kAnnoDone);
        EXPECT_EQ(run.received(), "VER\nRMFILE \"annot.anx\" " + kMember + "\nQUIT\n");
        EXPECT_EQ(run.cg().getError(), "");
    }
    {
        // A QUIT that gets no line leaves the upload done.
        StoreRun run(Daemon().answer(test::verLine()).upload(kUpdOk).done());
        ASSERT_TRUE(run.ok());
        AnnoStruct as = record("new");
        EXPECT_EQ(run.store->putAnnotation(kDoc, as, false), kAnnoDone);
    }
}

// A form's version (AV) is compared with the member's listed CRC just
// before writing; a different one writes nothing.
TEST_F(AnnotationStore, VersionsGuardAgainstLostUpdates) {
    const std::string stored = bytesOf(record("theirs"));
    const std::string upload = bytesOf(record("mine"));
    const uint32_t storedCrc = 0xcafe0001;
    const std::string current = annoVersion(storedCrc);
    const std::string listing = "CONTV \"annot.anx\" " + kMember + "\n";
    const std::string readLines =
        "LIST \"annot.anx\"\nCONTV \"annot.anx\" " + kMember + "\nRETR \"annot.anx\" " + kListed + "\n";
    // The listing names a version other than the form's: the stored text is
    // read through the request, to be joined.
    const auto readsTheStoredOne = [&] {
        return Daemon()
            .answer(test::verLine())
            .answer(contv({{kListed, 52, storedCrc}}))
            .answer(test::listReply(test::listLine("annot.anx")))
            .answer(contv({{kListed, stored.size(), storedCrc}}))
            .answer(retr(kListed, stored))
            .done();
    };
    struct {
        const char* name;
        bool remove;
        std::string version;
        PeerScript script;
        int result;
        std::string sent;
        std::string text;
    } cases[] = {
        {"update of the version listed", false, current,
         Daemon()
             .answer(test::verLine())
             .answer(contv({{kListed, 52, storedCrc}}))
             .upload(kUpdOk)
             .answer(kQuitOk)
             .done(),
         kAnnoDone, "VER\n" + listing + updLine(kMember, upload) + "QUIT\n", "mine"},
        {"update of an older version", false, "0badf00d", readsTheStoredOne(), kAnnoJoined,
         "VER\n" + listing + readLines, "theirs\r\n- - - - -\r\nmine"},
        {"a new form while another user made it", false, std::string(kAnnoNoVersion), readsTheStoredOne(),
         kAnnoJoined, "VER\n" + listing + readLines, "theirs\r\n- - - - -\r\nmine"},
        {"update of a member removed meanwhile", false, current,
         Daemon().answer(test::verLine()).answer(contv({})).answer(kNoArchiveList).done(), kAnnoJoined,
         "VER\n" + listing + "LIST \"annot.anx\"\n", "mine"},
        {"removal of the version listed", true, current,
         Daemon()
             .answer(test::verLine())
             .answer(contv({{kListed, 52, storedCrc}}))
             .answer(kRmOk)
             .answer(kQuitOk)
             .done(),
         kAnnoDone, "VER\n" + listing + "RMFILE \"annot.anx\" " + kMember + "\nQUIT\n", ""},
        {"removal of an older version", true, "0badf00d",
         Daemon().answer(test::verLine()).answer(contv({{kListed, 52, storedCrc}})).done(), kAnnoChanged,
         "VER\n" + listing, ""},
        {"removal of a member removed meanwhile", true, current,
         Daemon().answer(test::verLine()).answer(contv({})).done(), kAnnoChanged, "VER\n" + listing, ""},
        {"a listing that failed writes nothing", true, current,
         Daemon().answer(test::verLine()).answer(k577).done(), kAnnoFailed, "VER\n" + listing, ""},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        StoreRun run(std::move(c.script));
        ASSERT_TRUE(run.ok());
        AnnoStruct as = record("mine");
        const int result = c.remove ? run.store->removeAnnotation(kDoc, "3", &c.version)
                                    : run.store->putAnnotation(kDoc, as, false, &c.version);
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(run.received(), c.sent);
        if (!c.remove) {
            EXPECT_EQ(as.text, c.text);
        }
        if (c.result == kAnnoJoined) {
            EXPECT_EQ(run.store->memberVersion(),
                      c.text == "mine" ? std::string(kAnnoNoVersion) : annoVersionOf(stored));
        }
        if (c.result == kAnnoFailed) {
            EXPECT_EQ(run.cg().getError(), run.message(7, "annotation/10", "annot.anx"));
        }
    }
}

// The listing's size is a hint: RETR says how much comes, within a bound.
TEST_F(AnnotationStore, ReadingIsBoundedByTheReplyNotTheListing) {
    AnnoStruct big = record(std::string(4958, 'x'));
    std::string bigBytes = bytesOf(big);
    bigBytes.insert(12, std::string(5000 - bigBytes.size(), 'y'));  // the text as a foreign writer left it
    ASSERT_EQ(bigBytes.size(), 5000u);
    {
        StoreRun run(Daemon()
                         .answer(test::verLine())
                         .answer(contv({{kListed, 10}}))
                         .answer(retr(kListed, bigBytes))
                         .done());
        ASSERT_TRUE(run.ok());
        const auto records = run.store->getAnnotations(kDoc, false);
        ASSERT_TRUE(records);
        ASSERT_EQ(records->size(), 1u);
        EXPECT_EQ((*records)[0].text.size(), kAnnoTextMax);
        EXPECT_EQ((*records)[0].date, "2026-12-11");  // after the text: all 5000 were read
        EXPECT_EQ((*records)[0].docrev, "A");
    }
    struct {
        const char* name;
        PeerScript script;
        std::string sent;
        int message;
    } cases[] = {
        {"listed above the bound", Daemon().answer(test::verLine()).answer(contv({{kListed, 70000}})).done(),
         "VER\nCONTV \"annot.anx\" 1551-ABC10101Uen.A.*\n", 147},
        {"sent above the bound",
         Daemon()
             .answer(test::verLine())
             .answer(contv({{kListed, 52}}))
             .answer(retr(kListed, std::string(kAnnoMemberMax + 1, 'z')))
             .done(),
         "VER\nCONTV \"annot.anx\" 1551-ABC10101Uen.A.*\nRETR \"annot.anx\" " + kListed + "\n", 148},
        {"one member's read fails",
         Daemon()
             .answer(test::verLine())
             .answer(contv({{"1551-abc10101uen.a.1", 52}, {kListed, 52}}))
             .answer(retr("1551-abc10101uen.a.1", bytesOf(record("one", "1"))))
             .answer("500 Zip error\n")
             .done(),
         "VER\nCONTV \"annot.anx\" 1551-ABC10101Uen.A.*\nRETR \"annot.anx\" 1551-abc10101uen.a.1\nRETR "
         "\"annot.anx\" " +
             kListed + "\n",
         148},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        StoreRun run(std::move(c.script));
        ASSERT_TRUE(run.ok());
        EXPECT_FALSE(run.store->getAnnotations(kDoc, false));
        EXPECT_EQ(run.received(), c.sent);
        if (c.message == 147) {
            EXPECT_EQ(run.cg().getError(), run.message(147, "annotation/8", 70000ul));
        } else {
            EXPECT_TRUE(run.cg().getError().starts_with("Failed to retrieve file from database, "))
                << run.cg().getError();
            EXPECT_NE(run.cg().getError().find(" '" + kListed + " annot.anx'."), std::string::npos);
        }
    }
}

// Members from elsewhere: each field from its own member's bytes.
TEST_F(AnnotationStore, CorruptMembersAreReadInsideTheirBytes) {
    const std::string prefix = "1551-abc10101uen.a.";
    AnnoStruct long3000 = record(std::string(2900, 'x'), "5");
    std::string longBytes = bytesOf(long3000);
    longBytes.insert(12, std::string(3000 - longBytes.size(), 'x'));
    ASSERT_EQ(longBytes.size(), 3000u);
    const std::vector<std::pair<std::string, std::string>> members = {
        {"1", "Hdr1"},
        {"2", "H2\0U2\0T2\0"s},
        {"3",
         "H3\0U3\0T3\0"
         "3\0D3\0T3\0A\0"
         "1.0\0HTMLTEXT\0"s},
        {"4", bytesOf(record("T4", "4")) + "x\0y\0"s},
        {"5", longBytes},
        {"6", "H6\0"s + std::string(17, 'z')},
    };
    std::vector<Listed> listed;
    for (const auto& [chapter, bytes] : members) listed.push_back({prefix + chapter, bytes.size()});
    Daemon d;
    d.answer(test::verLine()).answer(contv(listed));
    for (const auto& [chapter, bytes] : members) d.answer(retr(prefix + chapter, bytes));
    StoreRun run(d.done());
    ASSERT_TRUE(run.ok());
    const auto records = run.store->getAnnotations(kDoc, false);
    ASSERT_TRUE(records);
    std::vector<std::string> rows;
    for (const AnnoStruct& as : *records) {
        rows.push_back(as.header + "|" + as.user + "|" + std::to_string(as.text.size()) + "|" + as.chapter +
                       "|" + as.docrev + "|" + as.version + "|" + as.scope);
    }
    // Revision "A" first, then the ones without a revision in listing order.
    EXPECT_EQ(rows, (std::vector<std::string>{"H3|U3|2|3|A|1.0|G", "Hdr|Ann|2|4|A|1.0|G",
                                              "Hdr|Ann|2000|5|A|1.0|G", "Hdr1||0|||1.0|G", "H2|U2|2|||1.0|G",
                                              "H6|" + std::string(17, 'z') + "|0|||1.0|G"}));
}

TEST_F(AnnotationStore, DisplayOrderIsRevisionDownThenChapterUp) {
    struct Stored {
        std::string name;
        std::string chapter;
        std::string docrev;
    };
    const std::vector<Stored> stored = {
        {"1551-abc10101uen.a.10", "10", "A"}, {"1551-abc10101uen.b.9", "9", "B"},
        {"1551-abc10101uen.a.2", "2", "a"},   {"1551-abc10101uen.b.0", "0", "B"},
        {"1551-abc10101uen.b.10", "10", "B"}, {"1551-abc10101uen.a.0", "0", "A"},
        {"1551-abc10101uen.b.2", "2", "B"},   {"1551-abc10101uen.a.9", "9", "A"},
    };
    std::vector<Listed> listed;
    for (const Stored& s : stored) listed.push_back({s.name, 52});
    Daemon d;
    d.answer(test::verLine()).answer(contv(listed));
    // The order comes from the records' own fields, whichever member each
    // reply holds.
    for (const Stored& s : stored) d.answer(retr(s.name, bytesOf(record("t", s.chapter, s.docrev))));
    StoreRun run(d.done());
    ASSERT_TRUE(run.ok());
    const auto records = run.store->getAnnotations(kDoc, true);
    ASSERT_TRUE(records);
    std::string order;
    for (const AnnoStruct& as : *records) order += as.docrev + as.chapter + " ";
    EXPECT_EQ(order, "B0 B2 B9 B10 A0 a2 A9 A10 ");
    EXPECT_TRUE(run.received().starts_with("VER\nCONTV \"annot.anx\" 1551-ABC10101Uen.*\n"));
}

}  // namespace
}  // namespace ruva

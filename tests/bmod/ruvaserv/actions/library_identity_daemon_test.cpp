// The library identity look-ups against a real daemon. Run by
// library_identity_daemon_test.py, which starts the daemon at RUVA_PORT over
// the structure file of make_action_libraries.py's libraries in
// ACTION_LIBRARIES, and runs the LibraryIdentityChanging cases last: they
// touch and remove libraries. Without RUVA_PORT every case is skipped.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/actions/library_identity.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "common/docmodel/comment_tokens.h"
#include "common/net_util.h"
#include "tests/bmod/ruvaserv/cgi/request_support.h"
#include "tests/bmod/ruvaserv/cgi/session_replies.h"
#include "tests/support/test_support.h"

namespace ruva {
namespace {

using test::CapturedRequest;
using Fields = std::vector<std::pair<const char*, std::string>>;

// A request over the configuration naming the daemon, with its handler.
struct Request {
    Request(const std::string& conf, const Fields& fields) {
        EXPECT_EQ(cg->readConfigFile(conf.c_str()), 1);
        for (const auto& [name, value] : fields) cg.field(name, value.c_str());
        kh = newKivoHandler(cg.get());
    }
    std::optional<std::string> field(const char* name) const {
        const Value* v = cg->valueList->findValue(name);
        return v ? std::optional<std::string>(v->value) : std::nullopt;
    }
    // The request's server and its session's reason, as messages show them.
    std::string server() const { return makeAddrString(cg->sess->iaddr, cg->sess->port); }
    std::string reason() const { return cg->sess->getError(); }

    CapturedRequest cg;
    std::unique_ptr<KivoHandler> kh;
};

class LibraryIdentityDaemon : public ::testing::Test {
protected:
    void SetUp() override {
        std::optional<std::string> port = test::envValue("RUVA_PORT");
        if (!port) GTEST_SKIP() << "needs a daemon (library_identity_daemon_test.py)";
        libraries = test::envValue("ACTION_LIBRARIES").value_or("");
        env.set("RUVA_ADDR", std::nullopt);
        env.set("HTTP_MYR_TQB_PORTAL_NAME", std::nullopt);
        previous = setResolver(&noNames);
        ASSERT_TRUE(dir.ok());
        conf = dir.path() + "/kivo.conf";
        std::ofstream(conf) << "RuvaDaemon 127.0.0.1:" << *port << "\n";
        ids = listedIds();
    }
    void TearDown() override {
        if (previous) setResolver(previous);
    }

    // Hash id of every library by file name and of every folder by name,
    // from the whole tree's listing.
    std::map<std::string, std::string> listedIds() {
        Request r(conf, {});
        std::map<std::string, std::string> out;
        if (!r.cg->establishDefaultSession()) return out;
        std::unique_ptr<UzResponse> reply = r.cg->sess->mllist("");
        for (const UzMlListEntry* e = reply ? reply->mllist() : nullptr; e && e->filled(); e = e->next.get()) {
            std::string id = e->ID;
            out[e->type == ML_NODE_TYPE_SUB ? e->comment : *e->database] = hashID(id.data());
        }
        return out;
    }
    std::string id(const std::string& name) {
        EXPECT_TRUE(ids.count(name)) << name;
        return ids[name];
    }

    test::EnvGuard env;
    test::NoNames noNames;
    Resolver* previous = nullptr;
    test::TempDir dir;
    std::string conf;
    std::string libraries;
    std::map<std::string, std::string> ids;
};

TEST_F(LibraryIdentityDaemon, LibraryInASubFolderByNameAndIdentity) {
    const std::string guide = id("guide.kvo");
    {
        Request r(conf, {{"DB", "guide.kvo"}});
        EXPECT_EQ(r.kh->getIDbyDbName(), 1) << r.cg->getError();
        EXPECT_EQ(r.field("ID"), guide);
    }
    {
        Request r(conf, {{"DB", "guide.kvo"}});
        ASSERT_EQ(r.cg->establishDefaultSession(), 1) << r.cg->getError();
        std::string title, reference, entryId;
        EXPECT_EQ(r.kh->getLibTitleFromServer(title, reference, entryId), 1) << r.kh->getError();
        EXPECT_EQ(title, "Guide");
        EXPECT_EQ(reference, "EN/ABC1234567R1A");
        EXPECT_EQ(entryId, "00|" + guide + "|guide.kvo|");
        EXPECT_EQ(r.kh->isCatEnabled, 1);
    }
    struct Case {
        const char* name;
        Fields fields;
        std::optional<std::string> li, id, db;
        int curId;
    };
    const Case cases[] = {
        {"LI alone", {{"LI", "en/abc1234567r1a"}}, std::nullopt, guide, std::nullopt, std::stoi(guide)},
        {"LI and ID", {{"LI", "en/abc1234567r1a"}, {"ID", "5"}}, "en/abc1234567r1a", "5", std::nullopt, 0},
        {"LI and DB", {{"LI", "en/abc1234567r1a"}, {"DB", "x.kvo"}}, "en/abc1234567r1a", std::nullopt, "x.kvo", 0},
        // The daemon reads a comment's last bracket pair.
        {"second pair", {{"LI", "EN/SECOND1 R1A"}}, std::nullopt, id("pairs.kvo"), std::nullopt,
         std::stoi(id("pairs.kvo"))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Request r(conf, c.fields);
        EXPECT_EQ(r.kh->resolveLibId("LI", "ID", "DB", true), 1) << r.kh->getError();
        EXPECT_EQ(r.field("LI"), c.li);
        EXPECT_EQ(r.field("ID"), c.id);
        EXPECT_EQ(r.field("DB"), c.db);
        EXPECT_EQ(r.cg->curId, c.curId);
    }
    Request r(conf, {});
    std::string title = "kept";
    EXPECT_EQ(r.kh->getDBfromLI(title, "[EN/ABC 123 4567 R1A]"), "guide.kvo");
    EXPECT_EQ(title, "Guide");
    EXPECT_EQ(r.kh->getDBfromLI(title, "[EN/NONE1 R1A]"), std::nullopt);
    EXPECT_EQ(title, "Guide");
    EXPECT_EQ(r.kh->getLifromID(guide), "EN/ABC1234567R1A");
    // Past the catalogue's 32768 slots.
    EXPECT_EQ(r.kh->getLifromID("40000"), std::nullopt);
    // The front end reads a comment's first bracket pair.
    EXPECT_EQ(r.kh->getLifromID(id("pairs.kvo")), "EN/FIRST1 R1A");
    EXPECT_TRUE(r.kh->getLibraryType("guide.kvo"));
    EXPECT_FALSE(r.kh->getLibraryType("zul.kvo"));
}

// Members are found by identity alone: [ABC1234567R1A] is one.kvo, never
// guide.kvo's EN/ABC1234567R1A.
TEST_F(LibraryIdentityDaemon, CollectionMembersAndTheirPairs) {
    const std::string members =
        id("one.kvo") + "-ABC1234567R1A|0-DEF7654321R1A|" + id("three.kvo") + "-GHI1111111R2A";
    ASSERT_NE(id("one.kvo"), id("guide.kvo"));
    Request r(conf, {{"ID", id("coll.kvo")}});
    ASSERT_EQ(r.cg->establishDefaultSession(), 1) << r.cg->getError();
    int collection = 0;
    std::string pairs;
    EXPECT_EQ(r.kh->getSolutionFromServer(collection, pairs), 1) << r.kh->getError();
    EXPECT_EQ(collection, 1);
    EXPECT_EQ(pairs, members + "|" + id("coll.kvo") + "-EN/COL1234567R1A");
    EXPECT_EQ(r.cg->collectionHashId, std::stoi(id("coll.kvo")));
    EXPECT_EQ(r.cg->libraryTitle, "Set");
    EXPECT_EQ(r.cg->libCount, 3);
    std::string again;
    EXPECT_EQ(r.kh->createIDLIPair(again), 1);
    EXPECT_EQ(again, members);
}

TEST_F(LibraryIdentityDaemon, HashIdWithTheCollectionOfSl) {
    Request r(conf, {{"SL", "EN/COL1234567R1A"}});
    std::string text;
    EXPECT_EQ(r.kh->getHashId("ABC1234567R1A", &text), std::stoi(id("one.kvo"))) << r.kh->getError();
    EXPECT_EQ(text, id("one.kvo"));
    EXPECT_EQ(r.cg->libraryTitle, "Set");
    EXPECT_EQ(r.cg->libraryId, "EN/COL1234567R1A");
    EXPECT_EQ(r.cg->isCollection, 1);
    EXPECT_EQ(r.kh->isCollection, 1);
    EXPECT_EQ(r.cg->libCount, 3);
    // The member without a title is named by its display form alone.
    EXPECT_EQ(r.kh->getHashId("DEF7654321R1A", &text), 0);
    EXPECT_EQ(r.kh->getError(), notAvailableText(*r.cg, "", "DEF 765 4321 R1A"));
    EXPECT_EQ(text, id("one.kvo"));
}

TEST_F(LibraryIdentityDaemon, TitleOfIdsThatNameNoLibrary) {
    struct Case {
        const char* name;
        std::string id;
        int message;
        const char* tag;
    };
    const Case cases[] = {
        {"not listed", "40000", 92, "kivohandler/91"},
        // Its only library is listed one level below the folder's own line.
        {"Manuals", id("Manuals"), 13, "kivohandler/92"},
        {"Empty", id("Empty"), 13, "kivohandler/92"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Request r(conf, {{"ID", c.id}});
        ASSERT_EQ(r.cg->establishDefaultSession(), 1) << r.cg->getError();
        std::string title = "t", reference = "r", entryId = "e";
        EXPECT_EQ(r.kh->getLibTitleFromServer(title, reference, entryId), 0);
        const std::string expected = c.message == 92
                                         ? formatChecked(r.cg->msg(92, c.tag), r.server(), r.reason())
                                         : formatChecked(r.cg->msg(13, c.tag));
        EXPECT_EQ(r.kh->getError(), expected);
        EXPECT_EQ(title + reference + entryId, "tre");
    }
}

TEST_F(LibraryIdentityDaemon, FullFilenames) {
    struct Case {
        const char* name;
        Fields fields;
        int result;
        std::optional<std::string> library, file;
        int message;  // 0: none; -1: the not-available text
    };
    const std::string guide = id("guide.kvo");
    const std::string empty = id("Empty");
    const Case cases[] = {
        {"pattern by DB", {{"DB", "guide.kvo"}, {"FN", "*_sd?.sgml"}}, 1, "guide.kvo", "guide_sd1.sgml", 0},
        {"pattern by ID", {{"ID", guide}, {"FN", "*_sd?.sgml"}}, 1, guide, "guide_sd1.sgml", 0},
        {"spreadsheet", {{"DB", "guide.kvo"}, {"FN", "Sheet.XLS"}}, 1, "guide.kvo", "sheet.html", 0},
        {"folder without libraries", {{"ID", empty}, {"FN", "index.html"}}, 0, std::nullopt,
         std::nullopt, 226},
        {"library not listed", {{"DB", "nosuch.kvo"}, {"FN", "index.html"}}, 0, std::nullopt, std::nullopt, -1},
        {"no FN", {{"DB", "guide.kvo"}}, 0, std::nullopt, std::nullopt, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Request r(conf, c.fields);
        std::optional<std::string> library = "old";
        std::optional<std::string> file = "old";
        EXPECT_EQ(r.kh->getFullFilename(&library, &file), c.result) << r.cg->getError();
        EXPECT_EQ(library, c.library);
        EXPECT_EQ(file, c.file);
        std::string expected;
        if (c.message == 226) expected = formatChecked(r.cg->msg(226, "kivohandler/95"), r.server(), r.reason());
        if (c.message == -1) expected = notAvailableText(*r.cg, r.server(), r.reason());
        EXPECT_EQ(r.cg->getError(), expected);
    }
}

// Each case changes its library right before the look-up: the catalogue
// still lists it, CONTV tells.
class LibraryIdentityChanging : public LibraryIdentityDaemon {
protected:
    void expectMessage(const char* db, int message, const char* tag) {
        Request r(conf, {{"DB", db}, {"FN", "index.html"}});
        std::optional<std::string> library, file;
        EXPECT_EQ(r.kh->getFullFilename(&library, &file), 0);
        EXPECT_EQ(r.cg->getError(), formatChecked(r.cg->msg(message, tag), db));
        EXPECT_EQ(library, std::nullopt);
    }
};

TEST_F(LibraryIdentityChanging, TouchedLibraryIsBeingUpdated) {
    const std::string path = libraries + "/changing/busy.kvo";
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0) << path;
    const utimbuf moved{st.st_atime, st.st_mtime + 100};
    ASSERT_EQ(utime(path.c_str(), &moved), 0);
    expectMessage("busy.kvo", 7, "kivohandler/107");
}

TEST_F(LibraryIdentityChanging, RemovedLibraryHasBeenRemoved) {
    const std::string path = libraries + "/changing/gone.kvo";
    ASSERT_EQ(unlink(path.c_str()), 0) << path;
    expectMessage("gone.kvo", 8, "kivohandler/108");
}

}  // namespace
}  // namespace ruva

// The library identity look-ups over the listing of a scripted server.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bmod/ruvaserv/actions/library_identity.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "common/html_escape.h"
#include "common/net_util.h"
#include "tests/bmod/ruvaserv/cgi/request_support.h"
#include "tests/bmod/ruvaserv/cgi/session_replies.h"
#include "tests/support/scripted_peer.h"
#include "tests/support/test_support.h"

// In the helpers' namespace: the case names them all.
namespace ruva::test {
namespace {

TEST(LibraryIdentityWire, DbPatternListing) {
    NoNames noNames;
    Resolver* previous = setResolver(&noNames);
    EnvGuard env;
    env.set("RUVA_ADDR", std::nullopt);
    const std::string guide = dbLine("   guide.kvo", 9140, "Getting started [EN/DOCLIB1 R1A] STA:REL");
    const std::string listed =
        kMlHeader + guide + dbLine("reference.kvo", 25823, "Reference [EN/DOCLIB2 R1A] STA:REL") + kMlEnd;
    struct Case {
        const char* name;
        const char* operation;
        std::string reply;
        int result;
        const char* field;
        std::optional<std::string> value;  // none: the field stays unset
        bool message92;
    };
    const Case cases[] = {
        {"ID of the first library", "ID", listed, 1, "ID", "9140", false},
        {"a folder first names no library", "ID", kMlHeader + std::string(kFolderLine) + guide + kMlEnd, 1,
         "ID", std::nullopt, false},
        {"no entry", "ID", std::string(kMlHeader) + kMlEnd, 0, "ID", std::nullopt, false},
        {"ID: not listed", "ID", "511 Invalid database 'x*.kvo'\n", 0, "ID", std::nullopt, true},
        {"identity of the first entry", "LI", listed, 1, "LI_Hidden",
         validateAllChar("LI_Hidden", "EN/DOCLIB1 R1A"), false},
        {"LI: not listed", "LI", "511 Invalid database 'x*.kvo'\n", 0, "LI_Hidden", std::nullopt, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer peer(
            {PeerScript().send(kGreeting).awaitLine().send(verLine()).awaitLine().send(c.reply).close()});
        ASSERT_TRUE(peer.ok());
        const std::string server = "127.0.0.1:" + std::to_string(peer.port());
        {
            CapturedRequest cg;
            cg->docServAddr = server;
            cg.field("DB", "x*.kvo");
            auto kh = newKivoHandler(cg.get());
            ASSERT_NE(kh, nullptr);
            EXPECT_EQ(c.operation == std::string("ID") ? kh->getIDbyDbName() : kh->getLIbyHiddenID(),
                      c.result);
            const Value* field = cg->valueList->findValue(c.field);
            EXPECT_EQ(field ? std::optional<std::string>(field->value) : std::nullopt, c.value);
            if (c.message92) {
                EXPECT_TRUE(cg->getError().starts_with("Failed to list database on " + server + ", "))
                    << cg->getError();
                EXPECT_NE(cg->getError().find("[kivohandler/77]"), std::string::npos);
            } else {
                EXPECT_EQ(cg->getError(), "");
            }
        }
        peer.stop();
        EXPECT_TRUE(peer.received(0).starts_with("VER\nMLLIST ")) << peer.received(0);
    }
    setResolver(previous);
}

// The greeting and VER, then each reply after one more command line; the
// line after them (QUIT) closes the connection.
PeerScript afterVer(const std::vector<std::string>& replies) {
    PeerScript script;
    script.send(kGreeting).awaitLine().send(verLine());
    for (const std::string& reply : replies) script.awaitLine().send(reply);
    script.awaitLine().close();
    return script;
}

// The command lines a peer received after VER, without the closing QUIT.
std::string commandsAfterVer(const ScriptedPeer& peer) {
    std::string received = beforeQuit(peer.received(0));
    return received.starts_with("VER\n") ? received.substr(4) : "!" + received;
}

// Every field of the request as "name=value;".
std::string fieldsOf(const CgiHandler& cg) {
    std::string out;
    for (const Value* v = cg.valueList->firstValue(); v; v = cg.valueList->nextValue(v)) {
        out += v->name + "=" + v->value + ";";
    }
    return out;
}

class LibraryLookupWire : public ::testing::Test {
protected:
    void SetUp() override {
        previous = setResolver(&noNames);
        env.set("RUVA_ADDR", std::nullopt);
    }
    void TearDown() override { setResolver(previous); }

    NoNames noNames;
    Resolver* previous = nullptr;
    EnvGuard env;
};

const std::string kGuideLine = dbLine("guide.kvo", 9140, "Guide [EN/ABC1234567R1A] CAT:kvocat,ff|0|1STA:REL");

TEST_F(LibraryLookupWire, ResolveLibIdByFieldNames) {
    struct Case {
        const char* name;
        const char* names[3];  // LI-, ID- and DB-type field
        bool setCurrentId;
        std::vector<std::pair<const char*, const char*>> given;
        std::vector<std::string> replies;  // none: no session is made
        int result;
        std::string fieldsAfter;
        int curId;
        std::string sent;
    };
    const std::string listed = mlReply(kGuideLine);
    const Case cases[] = {
        // LC keeps its language prefix's '/', as LI does.
        {"second library, flag off", {"LC", "IC", "DC"}, false, {{"LC", "en/abc1234567r1a"}}, {listed}, 1,
         "IC=9140;", 77, "MLLIST \"[en/abc1234567r1a]\"\n"},
        {"first library, flag on", {"LI", "ID", "DB"}, true, {{"LI", "en/abc1234567r1a"}}, {listed}, 1,
         "ID=9140;", 9140, "MLLIST \"[en/abc1234567r1a]\"\n"},
        {"LC with IC stays", {"LC", "IC", "DC"}, true, {{"LC", "x"}, {"IC", "5"}}, {}, 1, "LC=x;IC=5;", 77, ""},
        {"LC with DC stays", {"LC", "IC", "DC"}, true, {{"LC", "x"}, {"DC", "a.kvo"}}, {}, 1, "LC=x;DC=a.kvo;",
         77, ""},
        {"no LC", {"LC", "IC", "DC"}, true, {{"LI", "x"}}, {}, 1, "LI=x;", 77, ""},
        {"not found", {"LI", "ID", "DB"}, true, {{"LI", "EN/NONE1 R1A"}},
         {"511 Invalid database '[EN/NONE1 R1A]'\n"}, 0, "LI=EN/NONE1 R1A;", 77,
         "MLLIST \"[EN/NONE1 R1A]\"\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer peer({afterVer(c.replies)});
        ASSERT_TRUE(peer.ok());
        {
            CapturedRequest cg;
            cg->docServAddr = "127.0.0.1:" + std::to_string(peer.port());
            cg->curId = 77;
            for (const auto& [name, value] : c.given) cg.field(name, value);
            auto kh = newKivoHandler(cg.get());
            EXPECT_EQ(kh->resolveLibId(c.names[0], c.names[1], c.names[2], c.setCurrentId), c.result);
            EXPECT_EQ(fieldsOf(*cg), c.fieldsAfter);
            EXPECT_EQ(cg->curId, c.curId);
            if (c.result == 0) {
                EXPECT_EQ(kh->getError(), notAvailableText(*cg, "", "EN/NONE 1 R1A"));
            }
        }
        peer.stop();
        EXPECT_EQ(peer.connections(), c.replies.empty() ? 0u : 1u);
        if (!c.replies.empty()) {
            EXPECT_EQ(commandsAfterVer(peer), c.sent);
        }
    }
}

const char kReferences[] =
    "<library-references>\n"
    "<library><prod-no>ABC 123 4567</prod-no><rstate>R1A</rstate><title>One</title></library>\n"
    "<library><prod-no>DEF 765 4321</prod-no><rstate>R1A</rstate><title></title></library>\n"
    "<library><prod-no>GHI 111 1111</prod-no><rstate>R2A</rstate><title>Three &amp; more</title></library>\n"
    "</library-references>\n";

// ID names the collection, so its hash is taken from there and its
// identity is never listed; members are listed in the file's order.
TEST_F(LibraryLookupWire, CollectionWithIdInTheRequest) {
    const std::string xml = kReferences;
    ScriptedPeer peer({afterVer({
        mlReply(dbLine("coll.kvo", 500, "Set [EN/COL1234567R1A] +")),
        contvReply("500", {{xml.size(), "library-references.xml"}}),
        retrReply("library-references.xml", xml),
        mlReply(dbLine("one.kvo", 101, "One [ABC 123 4567 R1A]")),
        "511 Invalid database '[DEF7654321R1A]'\n",
        mlReply(dbLine("three.kvo", 103, "Three [GHI 111 1111 R2A]")),
    })});
    ASSERT_TRUE(peer.ok());
    {
        CapturedRequest cg;
        cg->docServAddr = "127.0.0.1:" + std::to_string(peer.port());
        cg.field("ID", "500");
        // The look-up uses the session as it stands.
        ASSERT_EQ(cg->establishDefaultSession(), 1) << cg->getError();
        auto kh = newKivoHandler(cg.get());
        int collection = 0;
        std::string pairs;
        ASSERT_EQ(kh->getSolutionFromServer(collection, pairs), 1) << kh->getError();
        EXPECT_EQ(collection, 1);
        EXPECT_EQ(pairs, "101-ABC1234567R1A|0-DEF7654321R1A|103-GHI1111111R2A|500-EN/COL1234567R1A");
        EXPECT_EQ(cg->collectionHashId, 500);
        EXPECT_EQ(cg->libraryTitle, "Set");
        EXPECT_EQ(cg->libraryId, "EN/COL1234567R1A");
        EXPECT_EQ(cg->libCount, 3);
        ASSERT_EQ(cg->subLibrary.size(), 3u);
        EXPECT_EQ(cg->subLibrary[1], "DEF7654321|R1A|");
        EXPECT_EQ(cg->isCollection, 0);  // set only when the request names SL
        EXPECT_EQ(fieldsOf(*cg), "ID=500;");
    }
    peer.stop();
    const std::string sent = commandsAfterVer(peer);
    EXPECT_EQ(sent.find("EN/COL"), std::string::npos) << sent;
    EXPECT_TRUE(sent.starts_with("MLLIST 500\nCONTV 500 library-references.xml\nRETR 500 library-references.xml\n"))
        << sent;
    EXPECT_TRUE(sent.ends_with("MLLIST \"[ABC1234567R1A]\"\nMLLIST \"[DEF7654321R1A]\"\n"
                               "MLLIST \"[GHI1111111R2A]\"\n"))
        << sent;
}

// A minimal document list, with or without USER-INFO, padded to size.
std::string sdiList(bool userInfo, size_t size) {
    std::string doc =
        "<!DOCTYPE TAVR PUBLIC \"-//VANDROVE//DTD TAVR 1/1056-ABC 901 01//EN\">\n<TAVR>\n<META-DATA>\n"
        "<TITLE>Guide</TITLE>\n";
    if (userInfo) doc += "<USER-INFO ID=\"v2.2\">Zone list</USER-INFO>\n";
    doc += "</META-DATA>\n<BODY>\n<P>x</P>\n";
    const std::string end = "</BODY>\n</TAVR>\n";
    while (doc.size() + end.size() < size) doc += "<P>padding</P>\n";
    return doc + end;
}

// CONTV announces 10 bytes, RETR sends 5000: all of them are read, into
// the look-up's own text, never the request's document buffer.
TEST_F(LibraryLookupWire, LibraryTypeReadsWhatRetrSends) {
    struct Case {
        const char* name;
        std::string member;
        bool result;
    };
    const Case cases[] = {
        {"SDI list without USER-INFO", sdiList(false, 5000), true},
        {"SDI list with USER-INFO", sdiList(true, 5000), false},
        {"no SDI list", std::string(5000, 'x'), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_GE(c.member.size(), 5000u);
        ScriptedPeer peer({afterVer({contvReply("guide.kvo", {{10, "guide_sd1.sgml"}}),
                                     retrReply("guide_sd1.sgml", c.member)})});
        ASSERT_TRUE(peer.ok());
        {
            CapturedRequest cg;
            cg->docServAddr = "127.0.0.1:" + std::to_string(peer.port());
            cg.field("DB", "guide.kvo");
            auto kh = newKivoHandler(cg.get());
            EXPECT_EQ(kh->getLibraryType("guide.kvo"), c.result);
            EXPECT_EQ(cg->docBuf, nullptr);
            EXPECT_EQ(fieldsOf(*cg), "DB=guide.kvo;");
        }
        peer.stop();
        EXPECT_EQ(commandsAfterVer(peer), "CONTV \"guide.kvo\" *_sd1.sgml\nRETR \"guide.kvo\" guide_sd1.sgml\n");
    }
}

// SL names a collection the server does not list (500) or lists without
// an entry: no reference file is fetched, nothing is marked, and the
// member's own look-up still runs.
TEST_F(LibraryLookupWire, HashIdWithCollectionNotListed) {
    struct Case {
        const char* name;
        std::string reply;
    };
    const Case cases[] = {
        {"500", "500-Failed to list libraries\n"},
        {"200 without an entry", mlReply("")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer peer({afterVer({c.reply, c.reply, "511 Invalid database '[ABC1234567R1A]'\n"})});
        ASSERT_TRUE(peer.ok());
        {
            CapturedRequest cg;
            cg->docServAddr = "127.0.0.1:" + std::to_string(peer.port());
            cg.field("SL", "EN/COL1234567R1A");
            auto kh = newKivoHandler(cg.get());
            std::string hashText = "h";
            EXPECT_EQ(kh->getHashId("ABC1234567R1A", &hashText), 0);
            EXPECT_EQ(hashText, "h");
            EXPECT_EQ(kh->getError(), notAvailableText(*cg, "", "ABC 123 4567 R1A"));
            EXPECT_EQ(cg->libraryId, "EN/COL1234567R1A");
            EXPECT_EQ(cg->libraryTitle, "");
            EXPECT_TRUE(cg->subLibrary.empty());
            EXPECT_EQ(cg->libCount, 0);
            EXPECT_EQ(cg->isCollection, 0);
            EXPECT_EQ(kh->isCollection, 0);
            EXPECT_EQ(fieldsOf(*cg), "SL=EN/COL1234567R1A;");
        }
        peer.stop();
        EXPECT_EQ(commandsAfterVer(peer),
                  "MLLIST [EN/COL1234567R1A]\nMLLIST \"[EN/COL1234567R1A]\"\nMLLIST \"[ABC1234567R1A]\"\n");
    }
}

// A reference is one quoted token whatever it holds; one that would end
// the command line is never sent.
TEST_F(LibraryLookupWire, HashIdOfHostileReferences) {
    struct Case {
        const char* name;
        std::string reference;
        std::vector<std::string> replies;
        std::string sent;
        bool sessionReason;  // no reply: address and the session's reason
    };
    const Case cases[] = {
        {"a quote", "ABC\" 1 R1A", {"511 Invalid database '[ABC\" 1 R1A]'\n"}, "MLLIST \"[ABC\\\" 1 R1A]\"\n",
         false},
        {"a carriage return", "ABC\r1", {}, "", true},
        {"a line feed", "ABC\nMLLIST *", {}, "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer peer({afterVer(c.replies)});
        ASSERT_TRUE(peer.ok());
        const std::string server = "127.0.0.1:" + std::to_string(peer.port());
        {
            CapturedRequest cg;
            cg->docServAddr = server;
            auto kh = newKivoHandler(cg.get());
            EXPECT_EQ(kh->getHashId(c.reference, nullptr), 0);
            if (c.sessionReason) {
                EXPECT_EQ(cg->getError(), notAvailableText(*cg, server, cg->sess->getError()));
                EXPECT_NE(cg->sess->getError(), "");
            } else {
                EXPECT_EQ(kh->getError(),
                          notAvailableText(*cg, "", escapeHtmlKeepEntities(libraryRefDisplayForm(c.reference), false)));
            }
            EXPECT_EQ(fieldsOf(*cg), "");
        }
        peer.stop();
        EXPECT_EQ(commandsAfterVer(peer), c.sent);
    }
}

// The member FN of the library DB as CONTV lists it; a library named in a
// 577 or 578 line is escaped before it enters the message.
TEST_F(LibraryLookupWire, FullFilenameFromTheListing) {
    const std::string listed = mlReply(kGuideLine);
    const std::string updating =
        "577 Library \"a<b>.kvo\" is being updated. Please perform this operation after some time.\n";
    struct Case {
        const char* name;
        std::vector<std::string> replies;
        int result;
        std::optional<std::string> library, file;
        std::string error;  // with "%s" standing for the named library
        int message;
    };
    const Case cases[] = {
        {"empty members are passed over", {listed, contvReply("guide.kvo", {{0, "a.xml"}, {5, "b.xml"}})}, 1,
         "guide.kvo", "b.xml", "", 0},
        {"spreadsheet", {listed, contvReply("guide.kvo", {{5, "Data.Xlsx"}})}, 1, "guide.kvo", "Data.html", "", 0},
        {"\".xl\" anywhere", {listed, contvReply("guide.kvo", {{5, "notes.xl.txt"}})}, 1, "guide.kvo",
         "notes.xl.html", "", 0},
        {"no member with bytes", {listed, contvReply("guide.kvo", {{0, "a.xml"}})}, 0, std::nullopt, std::nullopt,
         "", 0},
        {"being updated", {listed, updating}, 0, std::nullopt, std::nullopt, "a&lt;b&gt;.kvo", 7},
        {"removed", {listed, "578 Library \"gone.kvo\" has been removed.\n"}, 0, std::nullopt, std::nullopt,
         "gone.kvo", 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer peer({afterVer(c.replies)});
        ASSERT_TRUE(peer.ok());
        {
            CapturedRequest cg;
            cg->docServAddr = "127.0.0.1:" + std::to_string(peer.port());
            cg.field("DB", "guide.kvo");
            cg.field("FN", "*.x*");
            auto kh = newKivoHandler(cg.get());
            std::optional<std::string> library, file;
            EXPECT_EQ(kh->getFullFilename(&library, &file), c.result);
            EXPECT_EQ(library, c.library);
            EXPECT_EQ(file, c.file);
            const std::string expected =
                c.message == 7   ? formatChecked(cg->msg(7, "kivohandler/107"), c.error)
                : c.message == 8 ? formatChecked(cg->msg(8, "kivohandler/108"), c.error)
                                 : "";
            EXPECT_EQ(cg->getError(), expected);
            EXPECT_EQ(fieldsOf(*cg), "DB=guide.kvo;FN=*.x*;");
        }
        peer.stop();
        EXPECT_EQ(commandsAfterVer(peer), "MLLIST \"guide.kvo\"\nCONTV \"guide.kvo\" *.x*\n");
    }
}

}  // namespace
}  // namespace ruva::test

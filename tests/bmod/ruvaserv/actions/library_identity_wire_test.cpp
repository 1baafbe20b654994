// The library identity look-ups over the listing of a scripted server.
#include <gtest/gtest.h>

#include <optional>
#include <string>

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

}  // namespace
}  // namespace ruva::test

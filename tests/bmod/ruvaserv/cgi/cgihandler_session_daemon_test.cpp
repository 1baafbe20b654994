// The request's default session against a real daemon. Each case is run by
// cgihandler_session_daemon_test.py, which starts (or stops, or fills) the
// daemon at RUVA_PORT and passes what its listing says in RUVA_LIBRARIES
// ("identity=hash;...") and RUVA_FIRST_LIBRARY ("hash|identity"). Without
// RUVA_PORT every case is skipped.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "common/html_escape.h"
#include "tests/bmod/ruvaserv/cgi/request_support.h"
#include "tests/support/test_support.h"

namespace ruva {
namespace {

using test::CapturedRequest;

// "a=b;c=d" as pairs; sep splits each one.
std::vector<std::pair<std::string, std::string>> pairs(const std::string& text, char sep) {
    std::vector<std::pair<std::string, std::string>> out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(';', start);
        if (end == std::string::npos) end = text.size();
        std::string item = text.substr(start, end - start);
        size_t at = item.find(sep);
        if (at != std::string::npos) out.emplace_back(item.substr(0, at), item.substr(at + 1));
        start = end + 1;
    }
    return out;
}

class RequestSessionDaemon : public ::testing::Test {
protected:
    void SetUp() override {
        std::optional<std::string> port = test::envValue("RUVA_PORT");
        if (!port) GTEST_SKIP() << "needs a daemon (cgihandler_session_daemon_test.py)";
        server = "127.0.0.1:" + *port;
        env.set("RUVA_ADDR", std::nullopt);
        env.set("HTTP_MYR_TQB_PORTAL_NAME", std::nullopt);
        cg->docServAddr = server;
    }

    test::EnvGuard env;
    CapturedRequest cg;
    std::string server;
};

// The script counts the daemon's sessions: the second call must not open one.
TEST_F(RequestSessionDaemon, EstablishesOnceWithTheDaemonsRevision) {
    ASSERT_EQ(cg->establishDefaultSession(), 1) << cg->getError();
    EXPECT_EQ(cg->servRev, "R19K");
    EXPECT_EQ(cg->servProg, "ruvadaemon");
    EXPECT_NE(cg->servId, "");
    cg->sess->disconnect();
    EXPECT_EQ(cg->establishDefaultSession(), 1);
}

TEST_F(RequestSessionDaemon, HashIdOfEveryLibraryIdentity) {
    auto libraries = pairs(test::envValue("RUVA_LIBRARIES").value_or(""), '=');
    ASSERT_FALSE(libraries.empty());
    for (const auto& [identity, hash] : libraries) {
        SCOPED_TRACE(identity);
        std::string hashID;
        std::string title;
        EXPECT_EQ(cg->getHashIDfromLI(identity, &hashID, &title), std::atoi(hash.c_str()));
        EXPECT_EQ(hashID, hash);
        EXPECT_NE(title, "");
    }
}

TEST_F(RequestSessionDaemon, DbPatternGivesTheFirstLibrary) {
    auto first = pairs(test::envValue("RUVA_FIRST_LIBRARY").value_or(""), '|');
    ASSERT_EQ(first.size(), 1u);
    cg.field("DB", "*.kvo");
    auto kh = newKivoHandler(cg.get());
    ASSERT_NE(kh, nullptr);
    EXPECT_EQ(kh->getIDbyDbName(), 1) << cg->getError();
    EXPECT_EQ(kh->getLIbyHiddenID(), 1) << cg->getError();
    const Value* id = cg->valueList->findValue("ID");
    const Value* li = cg->valueList->findValue("LI_Hidden");
    ASSERT_NE(id, nullptr);
    ASSERT_NE(li, nullptr);
    EXPECT_EQ(id->value, first[0].first);
    EXPECT_EQ(li->value, validateAllChar("LI_Hidden", first[0].second.c_str()));
}

// The script has stopped the daemon.
TEST_F(RequestSessionDaemon, StoppedDaemonIsMessage204AtOnce) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(cg->establishDefaultSession(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, uzWaits().connect);
    EXPECT_TRUE(cg->getError().starts_with("Could not connect to the document server.")) << cg->getError();
    EXPECT_NE(cg->getError().find("ruvadaemon " + server + " (Socket reports: "), std::string::npos)
        << cg->getError();
    EXPECT_NE(cg->getError().find("[cgihandler/6]"), std::string::npos);
}

// The script holds the daemon's only session.
TEST_F(RequestSessionDaemon, SessionCapIsMessage204AccessDenied) {
    EXPECT_EQ(cg->establishDefaultSession(), 0);
    EXPECT_TRUE(cg->getError().starts_with("Could not connect to the document server.")) << cg->getError();
    EXPECT_NE(cg->getError().find("Access denied."), std::string::npos) << cg->getError();
}

// This daemon has no directory behind USER: UseLDAP fails every request.
TEST_F(RequestSessionDaemon, UseLdapFailsWithUnknownError) {
    cg->flags |= kCgiUseLdap;
    env.set("REMOTE_USER", "bob");
    EXPECT_EQ(cg->establishDefaultSession(), 0);
    EXPECT_TRUE(cg->getError().starts_with("UNKNOWN_ERROR")) << cg->getError();
    EXPECT_EQ(cg->servId, "");
}

}  // namespace
}  // namespace ruva

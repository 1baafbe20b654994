// The request's choice of document server and the user details, which need
// no server; the rest of the session is in cgihandler_session_wire_test.cpp.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "common/net_util.h"
#include "tests/bmod/ruvaserv/cgi/request_support.h"
#include "tests/support/test_support.h"

namespace ruva {
namespace {

using test::CapturedRequest;
using test::EnvGuard;

in_addr_t ip(const char* dotted) {
    return inet_addr(dotted);
}

// Names from a table; records the host names it was asked to resolve.
class NameTable : public Resolver {
public:
    bool addressOf(const std::string& name, in_addr_t*) override {
        asked.push_back(name);
        return false;
    }
    bool namesOf(in_addr_t addr, std::string* name, std::vector<std::string>*) override {
        auto it = names.find(addr);
        if (it == names.end()) return false;
        *name = it->second;
        return true;
    }

    std::map<in_addr_t, std::string> names;
    std::vector<std::string> asked;
};

class RequestServer : public ::testing::Test {
protected:
    void SetUp() override {
        resolver.names[ip("10.0.0.1")] = "docs.example.com";
        previous = setResolver(&resolver);
        env.set("RUVA_ADDR", std::nullopt);
    }
    void TearDown() override { setResolver(previous); }

    NameTable resolver;
    Resolver* previous = nullptr;
    EnvGuard env;
};

TEST_F(RequestServer, AddressComesFromUzThenEnvironmentThenConfiguration) {
    const std::string longName = "docserver" + std::string(70, 'x') + ":9229";
    struct Case {
        const char* name;
        std::optional<std::string> uz;
        std::optional<std::string> env;  // RUVA_ADDR
        std::string configured;
        int result;
        std::string address;
    };
    const Case cases[] = {
        {"dotted UZ named by the resolver", "10.0.0.1:9229", "10.9.9.9:1", "cfg:1", 1,
         "docs.example.com:9229"},
        {"dotted UZ without a name", "10.0.0.2:9229", std::nullopt, "cfg:1", 1, "10.0.0.2:9229"},
        {"host name UZ as written", "docserver:9229", std::nullopt, "cfg:1", 1, "docserver:9229"},
        {"unreadable UZ as given", "10.0.0.2:99999", std::nullopt, "cfg:1", 1, "10.0.0.2:99999"},
        {"UZ cut to 63 characters", longName, std::nullopt, "cfg:1", 1, longName.substr(0, 63)},
        {"empty UZ: the environment", "", "10.9.9.9:7000", "cfg:1", 1, "10.9.9.9:7000"},
        {"no UZ: the configuration", std::nullopt, std::nullopt, "cfg:1", 1, "cfg:1"},
        {"no server anywhere", std::nullopt, std::nullopt, "", 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        env.set("RUVA_ADDR", c.env);
        CapturedRequest cg;
        cg->docServAddr = c.configured;
        if (c.uz) cg.field("UZ", c.uz->c_str());
        EXPECT_EQ(cg->determineDocumentServer(), c.result);
        EXPECT_EQ(cg->docServAddr, c.address);
    }
    // A host name is the daemon's to resolve when the session connects.
    EXPECT_EQ(resolver.asked, std::vector<std::string>{});
}

TEST_F(RequestServer, SessionIsRefusedBeforeAnyServerIsAsked) {
    struct Case {
        const char* name;
        std::string configured;
        std::string error;  // "" none
    };
    CapturedRequest probe;
    const Case cases[] = {
        {"no server known: no text", "", ""},
        {"port out of range", "10.0.0.2:99999",
         formatChecked(probe->msg(202, "cgihandler/4"), std::string("10.0.0.2:99999"))},
        {"a name that does not resolve", "nohost:9229",
         formatChecked(probe->msg(202, "cgihandler/4"), std::string("nohost:9229"))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CapturedRequest cg;
        cg->docServAddr = c.configured;
        EXPECT_EQ(cg->createDefaultSession(), 0);
        EXPECT_EQ(cg->getError(), c.error);
        EXPECT_EQ(cg->sess, nullptr);
        // Establishing creates first, and fails the same way.
        cg->setError(nullptr);
        EXPECT_EQ(cg->establishDefaultSession(), 0);
        EXPECT_EQ(cg->getError(), c.error);
        EXPECT_EQ(cg->servId, "");
    }
}

TEST(RequestUser, DetailsComeFromTheConfiguredVariables) {
    struct Case {
        const char* name;
        std::optional<std::string> user;
        std::optional<std::string> profile;
        int result;
        std::string userName;
        std::string profileName;
        const char* tag;  // of message 246; null when none
    };
    const Case cases[] = {
        {"domain dropped", "CORP\\bob", "admins", 1, "bob", "admins", nullptr},
        {"no domain", "bob", "admins", 1, "bob", "admins", nullptr},
        {"only the first backslash ends the domain", "A\\b\\c", "p", 1, "b\\c", "p", nullptr},
        {"empty values are given", "", "", 1, "", "", nullptr},
        {"cut to 255 characters", std::string(300, 'u'), std::string(300, 'p'), 1, std::string(255, 'u'),
         std::string(255, 'p'), nullptr},
        {"no user variable", std::nullopt, "admins", 0, "", "", "cgihandler/44"},
        {"no profile variable", "bob", std::nullopt, 0, "bob", "", "cgihandler/45"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EnvGuard env;
        env.set("KV_TEST_USER", c.user);
        env.set("KV_TEST_PROFILE", c.profile);
        CapturedRequest cg;
        cg->userEnv = "KV_TEST_USER";
        cg->profileEnv = "KV_TEST_PROFILE";
        EXPECT_EQ(cg->getUserDetails(), c.result);
        EXPECT_EQ(cg->userName, c.userName);
        EXPECT_EQ(cg->profileName, c.profileName);
        EXPECT_EQ(cg->getError(), c.tag ? formatChecked(cg->msg(246, c.tag)) : "");
    }
}

}  // namespace
}  // namespace ruva

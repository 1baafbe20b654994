#include "bmod/ruvaserv/client/uzclient.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "common/fd_io.h"
#include "common/net_util.h"
#include "common/paths.h"
#include "tests/bmod/ruvaserv/client/uzclient_support.h"

namespace ruva {
namespace {

using test::addr;

std::unique_ptr<UzClient> client(uint16_t flags = 0) {
    auto uzc = newUzClient("kivoserv", "DOCSRV 1", "R19K", flags);
    EXPECT_NE(uzc, nullptr);
    return uzc;
}

bool holds(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

TEST(UzClient, ZeroSettingsMeanTheDefaults) {
    auto uzc = newUzClient(nullptr, "", "R19K", 0);
    ASSERT_NE(uzc, nullptr);
    EXPECT_EQ(uzc->prog, "unknown");
    EXPECT_EQ(uzc->art, "unknown");
    uzc->setWellKnownPort(7000);
    uzc->setBroadcastTimeout(9);
    uzc->setCommandTimeout(3);
    EXPECT_EQ(uzc->wellKnownPort, 7000u);
    uzc->setWellKnownPort(0);
    uzc->setBroadcastTimeout(0);
    uzc->setCommandTimeout(0);
    EXPECT_EQ(uzc->wellKnownPort, 9229u);
    EXPECT_EQ(uzc->broadcastTimeout, 4);
    EXPECT_EQ(uzc->commandTimeout, 20);
}

// ---- address settings

struct AddressCase {
    const char* name;
    bool central;  // setCentralServer, else setTelnetProxy
    std::string address;
    int result;
    std::string stored;  // when accepted
};

TEST(UzClient, AddressSettingsKeepTheirLimit) {
    std::string home;
    expandTilde(home, "~");
    const std::string a63(63, 'a');
    std::vector<AddressCase> cases = {
        {"central 63", true, a63, 1, a63},
        {"central 64", true, a63 + "a", 0, ""},
        {"proxy 63", false, a63, 1, a63},
        {"proxy 64", false, a63 + "a", 0, ""},
        {"proxy ~ is not expanded", false, "~/x:23", 1, "~/x:23"},
    };
    // "~/" + tail expands to exactly 63 or 64 characters (a home of two or
    // more characters makes the second one short as written).
    if (home.size() >= 2 && home.size() < 60) {
        const std::string tail63(62 - home.size(), 'b');
        const std::string tail64(63 - home.size(), 'b');
        cases.push_back({"central ~ expanding to 63", true, "~/" + tail63, 1, home + "/" + tail63});
        cases.push_back({"central ~ expanding to 64", true, "~/" + tail64, 0, ""});
    }
    for (const AddressCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto uzc = client();
        std::string& field = c.central ? uzc->centralServer : uzc->telnetProxy;
        field = "before:1";
        int result = c.central ? uzc->setCentralServer(c.address.c_str()) : uzc->setTelnetProxy(c.address.c_str());
        EXPECT_EQ(result, c.result);
        if (c.result) {
            EXPECT_EQ(field, c.stored);
            EXPECT_EQ(uzc->getError(), "");
        } else {
            EXPECT_EQ(field, "before:1");
            EXPECT_TRUE(holds(uzc->getError(), c.central ? "Too long address string for central server '"
                                                         : "Too long address string for Telnet Proxy '"))
                << uzc->getError();
            EXPECT_TRUE(holds(uzc->getError(), c.central ? "[uzclient/6]" : "[uzclient/7]"));
        }
        EXPECT_EQ(c.central ? uzc->setCentralServer(nullptr) : uzc->setTelnetProxy(nullptr), 1);
        EXPECT_EQ(field, "");
    }
}

TEST(UzClient, RefusedAddressIsEscapedInTheMessage) {
    auto uzc = client();
    EXPECT_EQ(uzc->setTelnetProxy((std::string(60, 'a') + "<b>'x'").c_str()), 0);
    EXPECT_TRUE(holds(uzc->getError(), "&#60;b&#62;&#39;x&#39;")) << uzc->getError();
    EXPECT_FALSE(holds(uzc->getError(), "<b>"));
}

// ---- sessions

// Answers one name with one address.
class OneAddressResolver : public Resolver {
public:
    bool addressOf(const std::string& name, in_addr_t* a) override {
        if (name != "docserver") return false;
        *a = addr("10.9.8.7");
        return true;
    }
    bool namesOf(in_addr_t, std::string*, std::vector<std::string>*) override { return false; }
};

struct SessionCase {
    const char* name;
    const char* host;
    const char* iaddr;
    unsigned port;
    const char* wantAddr;  // null: refused with 377
    unsigned wantPort;
};

TEST(UzClient, NewSessionTakesItsAddressAndPort) {
    OneAddressResolver resolver;
    Resolver* previous = setResolver(&resolver);
    const SessionCase cases[] = {
        {"address given", nullptr, "10.0.0.1", 5000, "10.0.0.1", 5000},
        {"port 0 is the well-known port", nullptr, "10.0.0.1", 0, "10.0.0.1", 7000},
        {"empty host", "", "10.0.0.1", 0, "10.0.0.1", 7000},
        {"address:port text", "10.0.0.2:6000", "10.0.0.1", 5000, "10.0.0.2", 6000},
        {"dotted text", "10.0.0.3", nullptr, 5000, "10.0.0.3", 5000},
        {"name", "docserver", nullptr, 0, "10.9.8.7", 7000},
        {"name:port", "docserver:81", nullptr, 0, "10.9.8.7", 81},
        {"unreadable text keeps the address", "10.0.0.2:0", "10.0.0.1", 5000, "10.0.0.1", 5000},
        {"unknown name keeps the address", "nosuchhost", "10.0.0.1", 5000, "10.0.0.1", 5000},
        {"no address", nullptr, nullptr, 5000, nullptr, 0},
        {"unknown name and no address", "nosuchhost", nullptr, 5000, nullptr, 0},
    };
    for (const SessionCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto uzc = client();
        uzc->setWellKnownPort(7000);
        bool created = false;
        UzSession* s = uzc->newSession(c.host, c.iaddr ? addr(c.iaddr) : 0, c.port, &created);
        if (!c.wantAddr) {
            EXPECT_EQ(s, nullptr);
            EXPECT_FALSE(created);
            EXPECT_EQ(uzc->getNumSessions(), 0);
            EXPECT_TRUE(holds(uzc->getError(), "Missing address to new session.")) << uzc->getError();
            continue;
        }
        ASSERT_NE(s, nullptr);
        EXPECT_TRUE(created);
        EXPECT_EQ(s->iaddr, addr(c.wantAddr));
        EXPECT_EQ(s->port, c.wantPort);
        EXPECT_EQ(s->sockfd, -1);
        EXPECT_EQ(uzc->getNumSessions(), 1);
        EXPECT_EQ(uzc->getFirstSession(), s);
    }
    setResolver(previous);
}

std::vector<UzSession*> sessionsOf(const UzClient& uzc) {
    std::vector<UzSession*> list;
    const UzSession* prev = nullptr;
    for (UzSession* s = uzc.getFirstSession(); s; s = s->getNextSession()) {
        EXPECT_EQ(s->prev, prev);
        prev = s;
        list.push_back(s);
    }
    EXPECT_EQ(static_cast<int>(list.size()), uzc.getNumSessions());
    return list;
}

TEST(UzClient, OneSessionPerServerUnlessSeveralAreAllowed) {
    struct Case {
        const char* name;
        uint16_t flags;
        size_t sessions;  // after three calls for one server and one for another port
    };
    const Case cases[] = {
        {"without flag 2", 0, 2},
        {"with flag 2", kUzClientMultiSession, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto uzc = client(c.flags);
        bool created = false;
        UzSession* first = uzc->newSession(nullptr, addr("10.0.0.1"), 9229, &created);
        ASSERT_NE(first, nullptr);
        EXPECT_TRUE(created);
        UzSession* again = uzc->newSession("10.0.0.1:9229", 0, 0, &created);
        EXPECT_EQ(created, c.flags != 0);
        EXPECT_EQ(again == first, c.flags == 0);
        uzc->newSession(nullptr, addr("10.0.0.1"), 0, &created);  // 0 is 9229
        EXPECT_EQ(created, c.flags != 0);
        UzSession* other = uzc->newSession(nullptr, addr("10.0.0.1"), 9230, &created);
        EXPECT_TRUE(created);
        std::vector<UzSession*> list = sessionsOf(*uzc);
        ASSERT_EQ(list.size(), c.sessions);
        EXPECT_EQ(list.front(), first);
        EXPECT_EQ(list.back(), other);
    }
}

TEST(UzClient, SessionsCopyTheClientSettings) {
    auto uzc = client(kUzClientSessionFlag);
    uzc->setCommandTimeout(7);
    uzc->setTelnetProxyCmd("connect %s %s\r\n");
    ASSERT_EQ(uzc->setTelnetProxy("10.0.0.9"), 1);
    UzSession* s = uzc->newSession(nullptr, addr("10.0.0.1"), 0);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->commandTimeout, 7);
    EXPECT_EQ(s->flags, kSessClientFlag | kSessProxyAllowed);
    EXPECT_EQ(s->proxyIaddr, addr("10.0.0.9"));
    EXPECT_EQ(s->proxyPort, 23u);
    EXPECT_EQ(s->isLibFiltered, &uzc->isLibFiltered);
    // The session keeps its copy when the client's command changes.
    uzc->setTelnetProxyCmd(nullptr);
    EXPECT_EQ(s->proxyCmd, "connect %s %s\r\n");
    EXPECT_EQ(uzc->telnetProxyCmd, "");

    ASSERT_EQ(uzc->setTelnetProxy("10.0.0.9:2323"), 1);
    UzSession* t = uzc->newSession(nullptr, addr("10.0.0.2"), 0);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->proxyPort, 2323u);
    EXPECT_EQ(t->proxyCmd, "");

    // A proxy address that cannot be read gives no proxy.
    auto plain = client();
    ASSERT_EQ(plain->setTelnetProxy("10.0.0.9:x"), 1);
    UzSession* u = plain->newSession(nullptr, addr("10.0.0.1"), 0);
    ASSERT_NE(u, nullptr);
    EXPECT_EQ(u->flags, 0);
    EXPECT_EQ(u->proxyIaddr, 0u);
}

TEST(UzClient, DeleteSessionUnlinksOnlyWhatIsListed) {
    auto uzc = client();
    UzSession* a = uzc->newSession(nullptr, addr("10.0.0.1"), 0);
    UzSession* b = uzc->newSession(nullptr, addr("10.0.0.2"), 0);
    UzSession* c = uzc->newSession(nullptr, addr("10.0.0.3"), 0);
    ASSERT_TRUE(a && b && c);
    uzc->deleteSession(b);
    EXPECT_EQ(sessionsOf(*uzc), (std::vector<UzSession*>{a, c}));
    uzc->deleteSession(a);
    EXPECT_EQ(sessionsOf(*uzc), (std::vector<UzSession*>{c}));
    // A session outside the list is deleted all the same (the leak check
    // sees it), and the list stays as it is.
    uzc->deleteSession(uzc->allocSession(nullptr, addr("10.0.0.3"), 0).release());
    uzc->deleteSession(nullptr);
    EXPECT_EQ(sessionsOf(*uzc), (std::vector<UzSession*>{c}));
    uzc->setError("x");
    uzc->clear();
    EXPECT_EQ(uzc->getNumSessions(), 0);
    EXPECT_EQ(uzc->getFirstSession(), nullptr);
    EXPECT_EQ(uzc->getError(), "");
}

}  // namespace
}  // namespace ruva

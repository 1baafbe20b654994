#include "bmod/ruvaserv/client/uzclient.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>

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
using test::InterfaceScope;
using test::loopbackOnly;
using test::noInterfaces;

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
        int result =
            c.central ? uzc->setCentralServer(c.address.c_str()) : uzc->setTelnetProxy(c.address.c_str());
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

// ---- broadcast answers and interfaces

TEST(UzClient, BroadcastAnswerGivesAddressAndPort) {
    struct Case {
        const char* text;
        const char* wantAddr;  // null: refused
        unsigned wantPort;
        const char* message;
    };
    const Case cases[] = {
        {"UZD 1.2.3.4:9229 x", "1.2.3.4", 9229, nullptr},
        {"UZD 10.0.0.1:5000 ruvadaemon \"DOCSRV 1\" R19K \"c\"\n", "10.0.0.1", 5000, nullptr},
        {"UZD 10.0.0.1:5000\n", "10.0.0.1", 5000, nullptr},
        {"UZd 1.2.3.4:9229 x", nullptr, 0, "No UZD signature in broadcast, ignoring.<br><br>"},
        {"uzd 1.2.3.4:9229", nullptr, 0, "No UZD signature in broadcast, ignoring."},
        {"UZD", nullptr, 0, "No UZD signature in broadcast"},
        {"", nullptr, 0, "No UZD signature in broadcast"},
        {"UZD :5", nullptr, 0, "No address in broadcast, ignoring ':5'.<br><br>"},
        {"UZD  1.2.3.4:9229", nullptr, 0, "No address in broadcast, ignoring ' 1.2.3.4:9229'."},
        {"UZD 1.2.3.4:70000 x", nullptr, 0, "No address in broadcast, ignoring '1.2.3.4:70000 x'."},
        {"UZD <i>:1", nullptr, 0, "No address in broadcast, ignoring '&#60;i&#62;:1'."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        auto uzc = client();
        in_addr_t a = 0;
        unsigned port = 0;
        int result = uzc->getAddrPort(c.text, &a, &port);
        EXPECT_EQ(result, c.wantAddr ? 1 : 0);
        if (c.wantAddr) {
            EXPECT_EQ(a, addr(c.wantAddr));
            EXPECT_EQ(port, c.wantPort);
        } else {
            EXPECT_TRUE(holds(uzc->getError(), c.message)) << uzc->getError();
        }
    }
}

// Synthetic getifaddrs entries, linked in the order added.
class InterfaceList {
public:
    void add(const char* name, unsigned flags, int family, const char* address, const char* broadcast) {
        Entry& e = entries_.emplace_back();
        e.name = name;
        e.addr.sin_family = static_cast<sa_family_t>(family);
        e.addr.sin_addr.s_addr = address ? inet_addr(address) : 0;
        e.brd.sin_family = AF_INET;
        e.brd.sin_addr.s_addr = broadcast ? inet_addr(broadcast) : 0;
        e.node.ifa_flags = flags;
        e.hasBroadcast = broadcast != nullptr;
    }
    const ifaddrs* head() {
        for (size_t i = 0; i < entries_.size(); ++i) {
            Entry& e = entries_[i];
            e.node.ifa_name = e.name.data();
            e.node.ifa_addr = reinterpret_cast<sockaddr*>(&e.addr);
            e.node.ifa_broadaddr = e.hasBroadcast ? reinterpret_cast<sockaddr*>(&e.brd) : nullptr;
            e.node.ifa_next = i + 1 < entries_.size() ? &entries_[i + 1].node : nullptr;
        }
        return entries_.empty() ? nullptr : &entries_.front().node;
    }

private:
    struct Entry {
        std::string name;
        sockaddr_in addr{};
        sockaddr_in brd{};
        bool hasBroadcast = false;
        ifaddrs node{};
    };
    std::vector<Entry> entries_;
};

TEST(UzClient, InterfacesAreUpBroadcastCapableIpv4AtMostSixteen) {
    InterfaceList list;
    constexpr unsigned kUpBrd = IFF_UP | IFF_BROADCAST;
    list.add("lo", IFF_UP | IFF_LOOPBACK, AF_INET, "127.0.0.1", nullptr);
    list.add("eth0", kUpBrd, AF_INET, "10.0.0.5", "10.0.0.255");
    list.add("eth1", IFF_BROADCAST, AF_INET, "10.1.0.5", "10.1.0.255");  // down
    list.add("eth2", IFF_UP, AF_INET, "10.2.0.5", "10.2.0.255");         // no broadcast
    list.add("eth3", kUpBrd, AF_INET6, nullptr, "10.3.0.255");
    list.add("eth4", kUpBrd, AF_PACKET, nullptr, nullptr);
    list.add("eth5", kUpBrd, AF_INET, "10.5.0.5", nullptr);  // no broadcast address
    std::vector<std::string> addresses;
    for (int i = 0; i < 20; ++i) {
        addresses.push_back("192.168." + std::to_string(i) + ".1");
        list.add("wlan", kUpBrd | IFF_RUNNING, AF_INET, addresses.back().c_str(),
                 ("192.168." + std::to_string(i) + ".255").c_str());
    }
    std::vector<BroadcastInterface> found = broadcastInterfaces(list.head());
    ASSERT_EQ(found.size(), 16u);
    EXPECT_EQ(found[0].address, addr("10.0.0.5"));
    EXPECT_EQ(found[0].broadcast, addr("10.0.0.255"));
    for (size_t i = 1; i < found.size(); ++i) {
        EXPECT_EQ(found[i].address, addr(addresses[i - 1].c_str()));
        EXPECT_EQ(found[i].broadcast, addr(("192.168." + std::to_string(i - 1) + ".255").c_str()));
    }
    EXPECT_TRUE(broadcastInterfaces(nullptr).empty());
}

// ---- the broadcast exchange, answered by the test on the loopback

// A UDP socket on 127.0.0.1 at a port P with P + 10 free for the client.
Fd serverSocket(unsigned* port) {
    for (int attempt = 0; attempt < 50; ++attempt) {
        Fd s(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        sockaddr_in sin{};
        sin.sin_family = AF_INET;
        sin.sin_addr.s_addr = addr("127.0.0.1");
        if (bind(s.get(), reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0) continue;
        socklen_t len = sizeof sin;
        getsockname(s.get(), reinterpret_cast<sockaddr*>(&sin), &len);
        unsigned p = ntohs(sin.sin_port);
        if (p + kDiscoveryPortOffset > 65535) continue;
        Fd probe(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        sockaddr_in any{};
        any.sin_family = AF_INET;
        any.sin_port = htons(static_cast<uint16_t>(p + kDiscoveryPortOffset));
        if (bind(probe.get(), reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) continue;
        *port = p;
        return s;
    }
    ADD_FAILURE() << "no free port pair";
    return Fd();
}

size_t openDescriptors() {
    size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

TEST(UzClientBroadcast, AnswersMakeOneSessionPerServer) {
    InterfaceScope scope(loopbackOnly);
    unsigned port = 0;
    Fd server = serverSocket(&port);
    ASSERT_TRUE(server.valid());
    timeval limit{10, 0};  // a client that never calls must not hang the test
    setsockopt(server.get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    std::string call;
    std::thread answerer([&] {
        char buf[2048];
        sockaddr_in from{};
        socklen_t len = sizeof from;
        ssize_t n = recvfrom(server.get(), buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n <= 0) return;
        call.assign(buf, static_cast<size_t>(n));
        // The same server twice, a stranger's datagram, then a second
        // server; the stranger is skipped.
        for (const char* answer : {"UZD 127.0.0.1:5555 ruvadaemon \"a\" R19K \"one\"\n",
                                   "UZD 127.0.0.1:5555 ruvadaemon \"a\" R19K \"one\"\n", "HELLO",
                                   "UZD 127.0.0.2:6666 ruvadaemon \"a\" R19K \"two\"\n"}) {
            sendto(server.get(), answer, std::strlen(answer), 0, reinterpret_cast<sockaddr*>(&from), len);
        }
    });
    auto uzc = client();
    uzc->setWellKnownPort(port);
    uzc->setBroadcastTimeout(2);
    size_t descriptors = openDescriptors();
    int result = uzc->newSessionsByBroadcast();
    answerer.join();
    EXPECT_EQ(call, "UZC 127.0.0.1:" + std::to_string(port + 10) + " kivoserv \"DOCSRV 1\" R19K\n");
    EXPECT_EQ(result, 2);
    std::vector<UzSession*> list = sessionsOf(*uzc);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0]->iaddr, addr("127.0.0.1"));
    EXPECT_EQ(list[0]->port, 5555u);
    EXPECT_EQ(list[1]->iaddr, addr("127.0.0.2"));
    EXPECT_EQ(list[1]->port, 6666u);
    EXPECT_TRUE(holds(uzc->getError(), "Received invalid broadcast response.")) << uzc->getError();
    EXPECT_EQ(openDescriptors(), descriptors);
}

TEST(UzClientBroadcast, NoInterfaceSendsNothingAndGivesTheCentralServer) {
    InterfaceScope scope(noInterfaces);
    unsigned port = 0;
    Fd server = serverSocket(&port);
    ASSERT_TRUE(server.valid());
    auto uzc = client();
    uzc->setWellKnownPort(port);
    ASSERT_EQ(uzc->setCentralServer("10.1.2.3:7000"), 1);
    EXPECT_EQ(uzc->newSessionsByBroadcast(), 1);
    ASSERT_NE(uzc->getFirstSession(), nullptr);
    EXPECT_EQ(uzc->getFirstSession()->iaddr, addr("10.1.2.3"));
    EXPECT_EQ(uzc->getFirstSession()->port, 7000u);
    pollfd p{server.get(), POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 0), 0);
}

TEST(UzClientBroadcast, BusyAnswerPortFailsAndClosesTheSocket) {
    InterfaceScope scope(loopbackOnly);
    unsigned port = 0;
    Fd server = serverSocket(&port);
    ASSERT_TRUE(server.valid());
    Fd busy(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(static_cast<uint16_t>(port + kDiscoveryPortOffset));
    ASSERT_EQ(bind(busy.get(), reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
    auto uzc = client();
    uzc->setWellKnownPort(port);
    size_t descriptors = openDescriptors();
    EXPECT_EQ(uzc->newSessionsByBroadcast(), -1);
    EXPECT_TRUE(holds(uzc->getError(), "Cannot bind local address to socket, Address already in use."))
        << uzc->getError();
    EXPECT_EQ(openDescriptors(), descriptors);
}

// ---- the known-server walk over a scripted set of servers

struct FakeServer {
    bool greets = true;
    const char* greetingComment = "";
    bool lists = true;
    std::vector<std::pair<std::string, std::string>> names;
};

struct Walk {
    std::map<std::string, FakeServer> servers;
    std::vector<std::string> visits;

    KnownServerVisitor visitor() {
        return [this](const std::string& address) {
            visits.push_back(address);
            KnownServerVisit v;
            auto it = servers.find(address);
            if (it == servers.end() || !it->second.greets) return v;
            v.greeted = true;
            v.greetingComment = it->second.greetingComment;
            v.listed = it->second.lists;
            if (v.listed) v.servers = it->second.names;
            return v;
        };
    }
};

std::unique_ptr<UzResponse> knownList(std::initializer_list<std::pair<const char*, unsigned short>> records) {
    auto known = allocResponse(RT_KNOWN);
    for (const auto& [address, flags] : records) {
        UzKnownListEntry* e = known->nextEntry<UzKnownListEntry>();
        e->address = address;
        e->flags = flags;
    }
    return known;
}

TEST(UzClientKnownServers, WalkVisitsEveryServerOnce) {
    Walk walk;
    walk.servers["a:1"] = {true, "greeting a", true, {{"b:2", "from a"}, {"c:3", "c by a"}, {"a:1", "self"}}};
    walk.servers["b:2"] = {
        true, "greeting b", true, {{"a:1", ""}, {"c:3", "c by b"}, {"d:4", ""}, {"e:5", ""}}};
    walk.servers["c:3"] = {true, "greeting c", true, {}};
    walk.servers["d:4"] = {true, "greeting d", false, {}};  // SLIST fails
    // e:5 does not answer.
    auto known = knownList({{"a:1", kKnownByDiscovery}, {"x:9", kKnownByDiscovery | kKnownSlistRead}});
    EXPECT_EQ(walkKnownServers(*known, walk.visitor()), 1);
    EXPECT_EQ(walk.visits, (std::vector<std::string>{"a:1", "b:2", "c:3", "d:4", "e:5"}));
    test::expectKnownList(*known, {
                                      {"a:1", "greeting a", kKnownByDiscovery | kKnownSlistRead},
                                      {"x:9", "", kKnownByDiscovery | kKnownSlistRead},
                                      {"b:2", "from a", kKnownSlistRead},
                                      {"c:3", "c by a", kKnownSlistRead},
                                      {"d:4", "greeting d", 0},
                                      {"e:5", "", 0},
                                  });
    EXPECT_EQ(known->resultCode, 0);  // the walk leaves the code to its caller
}

TEST(UzClientKnownServers, WalkStopsAddingAtSixtyFour) {
    Walk walk;
    FakeServer& hub = walk.servers["hub:1"];
    for (int i = 0; i < 100; ++i) hub.names.emplace_back("s" + std::to_string(i) + ":1", "");
    auto known = knownList({{"hub:1", kKnownByDiscovery}});
    EXPECT_EQ(walkKnownServers(*known, walk.visitor()), 1);
    size_t records = 0;
    for (const UzKnownListEntry* e = known->known(); e; e = e->next.get()) ++records;
    EXPECT_EQ(records, kKnownServersMax);
    EXPECT_EQ(walk.visits.size(), kKnownServersMax);
    EXPECT_EQ(walk.visits.back(), "s62:1");
}

TEST(UzClientKnownServers, EmptyListVisitsNothing) {
    Walk walk;
    auto known = allocResponse(RT_KNOWN);
    EXPECT_EQ(walkKnownServers(*known, walk.visitor()), 1);
    EXPECT_TRUE(walk.visits.empty());
    EXPECT_FALSE(known->known()->filled());
}

}  // namespace
}  // namespace ruva

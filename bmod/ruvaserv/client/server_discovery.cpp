// Finding servers: UDP broadcast, the central server and the servers' own
// SLIST, over the host's broadcast-capable interfaces.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "bmod/ruvaserv/client/uzclient.h"
#include "common/fd_io.h"
#include "common/html_escape.h"
#include "common/net_util.h"

namespace ruva {
namespace {

InterfaceLister gLister = nullptr;

constexpr std::string_view kAnswerSignature = "UZD ";

bool isIpv4(const sockaddr* a) {
    return a && a->sa_family == AF_INET;
}

in_addr_t ipv4Of(const sockaddr* a) {
    sockaddr_in sin;
    std::memcpy(&sin, a, sizeof sin);
    return sin.sin_addr.s_addr;
}

std::string dottedAddress(in_addr_t address) {
    char text[INET_ADDRSTRLEN] = "";
    in_addr in{address};
    if (!inet_ntop(AF_INET, &in, text, sizeof text)) return std::string();
    return text;
}

std::string systemError() {
    return std::strerror(errno);
}

sockaddr_in socketAddress(in_addr_t address, unsigned port) {
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = address;
    sin.sin_port = htons(static_cast<uint16_t>(port));
    return sin;
}

// Milliseconds for poll, which takes an int.
int pollMillis(time_t seconds, int divisor) {
    long long ms = static_cast<long long>(seconds) * 1000 / divisor;
    return static_cast<int>(std::clamp<long long>(ms, 0, INT_MAX));
}

// One UZC datagram to the interface's broadcast address: its own address
// and the port the answers come back to.
bool sendCall(UzClient& uzc, int fd, const BroadcastInterface& itf) {
    std::string call =
        formatChecked("UZC %s:%d %s \"%s\" %s\n", dottedAddress(itf.address),
                      static_cast<int>(uzc.wellKnownPort + kDiscoveryPortOffset), uzc.prog, uzc.art, uzc.rev);
    sockaddr_in to = socketAddress(itf.broadcast, uzc.wellKnownPort);
    ssize_t sent;
    do {
        sent = sendto(fd, call.data(), call.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    } while (sent < 0 && errno == EINTR);
    if (sent != static_cast<ssize_t>(call.size())) {
        uzc.setError(msgFormat(372, "uzclient/4"), systemError());
        return false;
    }
    return true;
}

// Answers until a wait passes without one: the first wait is the broadcast
// time-out, each later one half of it. A bad answer is skipped; false only
// when a session for a good one cannot be made.
bool collectAnswers(UzClient& uzc, int fd) {
    time_t timeout = uzc.broadcastTimeout ? uzc.broadcastTimeout : kDefaultBroadcastTimeout;
    int wait = pollMillis(timeout, 1);
    std::string answer(kReplyLineMax, '\0');
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        int ready = poll(&p, 1, wait);
        if (ready == 0 || (ready < 0 && errno != EINTR)) return true;
        wait = pollMillis(timeout, 2);
        if (ready < 0) continue;
        // MSG_DONTWAIT: a datagram dropped for its checksum after poll
        // must not block the request.
        ssize_t got = recv(fd, answer.data(), answer.size(), MSG_DONTWAIT);
        if (got <= 0) continue;
        in_addr_t address = 0;
        unsigned port = 0;
        if (!uzc.getAddrPort(std::string_view(answer.data(), static_cast<size_t>(got)), &address, &port)) {
            uzc.setError(msgFormat(373, "uzclient/5"));
            continue;
        }
        if (!uzc.newSession(nullptr, address, port)) return false;
    }
}

// Adds address unless known or the list is full; false only when memory
// runs out (500 "Out of memory" in known).
bool addKnown(UzResponse& known, const std::string& address, const std::string& comment,
              unsigned short flags) {
    size_t count = 0;
    for (const UzKnownListEntry* e = known.known(); e && e->filled(); e = e->next.get()) {
        if (*e->address == address) return true;
        ++count;
    }
    if (count >= kKnownServersMax) return true;
    UzKnownListEntry* e = known.nextEntry<UzKnownListEntry>();
    if (!e) {
        known.resultCode = 500;
        known.resultMessage = "Out of memory";
        return false;
    }
    e->address = address;
    e->comment = comment;
    e->flags = flags;
    return true;
}

// One server of the walk, over a session of the walk's own, so that a
// session of the caller to the same server keeps its connection (and a
// USER profile on it).
KnownServerVisit visitServer(UzClient& uzc, const std::string& address) {
    KnownServerVisit visit;
    in_addr_t iaddr = 0;
    unsigned port = 0;
    if (!extractAddrPort(address, &iaddr, &port)) return visit;
    std::unique_ptr<UzSession> s = uzc.allocSession(nullptr, iaddr, port);
    if (!s) return visit;
    std::unique_ptr<UzResponse> greeting = s->connect();
    if (!greeting || greeting->resultCode != 200) return visit;
    visit.greeted = true;
    if (const UzConnectEntry* c = greeting->connect()) visit.greetingComment = c->comment;
    std::unique_ptr<UzResponse> reply = s->slist();
    if (reply && reply->resultCode == 200) {
        visit.listed = true;
        for (const UzSListEntry* e = reply->slist(); e && e->filled(); e = e->next.get())
            visit.servers.emplace_back(*e->address, e->comment);
    }
    s->quit();
    return visit;
}

}  // namespace

std::vector<BroadcastInterface> broadcastInterfaces(const struct ifaddrs* list) {
    std::vector<BroadcastInterface> found;
    for (const ifaddrs* p = list; p && found.size() < kBroadcastInterfacesMax; p = p->ifa_next) {
        if (!(p->ifa_flags & IFF_UP) || !(p->ifa_flags & IFF_BROADCAST)) continue;
        if (!isIpv4(p->ifa_addr) || !isIpv4(p->ifa_broadaddr)) continue;
        found.push_back({ipv4Of(p->ifa_addr), ipv4Of(p->ifa_broadaddr)});
    }
    return found;
}

std::vector<BroadcastInterface> listBroadcastInterfaces() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return {};
    std::vector<BroadcastInterface> found = broadcastInterfaces(list);
    freeifaddrs(list);
    return found;
}

InterfaceLister setInterfaceLister(InterfaceLister lister) {
    InterfaceLister old = gLister;
    gLister = lister;
    return old;
}

int UzClient::newSessionsByBroadcast() {
    Fd sock(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!sock.valid()) {
        setError(msgFormat(369, "uzclient/1"), systemError());
        return -1;
    }
    in_addr_t centralAddr = 0;
    unsigned centralPort = 0;
    if (!centralServer.empty() && extractAddrPort(centralServer, &centralAddr, &centralPort))
        newSession(nullptr, centralAddr, centralPort);
    int on = 1;
    if (setsockopt(sock.get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
        setError(msgFormat(370, "uzclient/2"), systemError());
        return -1;
    }
    std::vector<BroadcastInterface> interfaces = gLister ? gLister() : listBroadcastInterfaces();
    sockaddr_in local = socketAddress(htonl(INADDR_ANY), wellKnownPort + kDiscoveryPortOffset);
    if (bind(sock.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        setError(msgFormat(371, "uzclient/3"), systemError());
        return -1;
    }
    for (const BroadcastInterface& itf : interfaces) {
        if (!sendCall(*this, sock.get(), itf) || !collectAnswers(*this, sock.get())) return -1;
    }
    return getNumSessions();
}

int walkKnownServers(UzResponse& known, const KnownServerVisitor& visit) {
    // Records appended below are reached by this loop in turn.
    for (UzKnownListEntry* e = known.known(); e && e->filled(); e = e->next.get()) {
        if (e->flags & kKnownSlistRead) continue;
        KnownServerVisit v = visit(*e->address);
        if (v.greeted && e->comment.empty()) e->comment = v.greetingComment;
        if (!v.listed) continue;
        e->flags |= kKnownSlistRead;
        for (const auto& [address, comment] : v.servers)
            if (!addKnown(known, address, comment, 0)) return 0;
    }
    return 1;
}

std::unique_ptr<UzResponse> UzClient::findKnownServers() {
    std::vector<UzSession*> callers;
    for (UzSession* s = firstUzSession; s; s = s->next) callers.push_back(s);
    std::unique_ptr<UzResponse> known;
    if (newSessionsByBroadcast() >= 0) known = allocResponse(RT_KNOWN);
    if (known) {
        known->resultCode = 200;
        bool listed = true;
        for (UzSession* s = firstUzSession; s && listed; s = s->next)
            listed = addKnown(*known, s->getServerAddr(), std::string(), kKnownByDiscovery);
        if (listed)
            walkKnownServers(*known,
                             [this](const std::string& address) { return visitServer(*this, address); });
    }
    // Only the sessions discovery made here go; the caller's stay.
    for (UzSession* s = firstUzSession; s;) {
        UzSession* next = s->next;
        if (std::find(callers.begin(), callers.end(), s) == callers.end()) deleteSession(s);
        s = next;
    }
    return known;
}

int UzClient::getAddrPort(std::string_view text, in_addr_t* iaddr, unsigned* port) {
    if (text.substr(0, kAnswerSignature.size()) != kAnswerSignature) {
        setError(msgFormat(378, "uzclient/10"));
        return 0;
    }
    // The first word is "address:port"; program, article, revision and
    // comment follow and are not needed.
    std::string_view rest = text.substr(kAnswerSignature.size());
    std::string_view word = rest.substr(0, rest.find_first_of(" \t\r\n"));
    in_addr_t address = 0;
    unsigned answerPort = 0;
    if (!extractAddrPort(word, &address, &answerPort)) {
        setError(msgFormat(379, "uzclient/11"), htmlEscaped(std::string(rest)));
        return 0;
    }
    if (iaddr) *iaddr = address;
    if (port) *port = answerPort;
    return 1;
}

}  // namespace ruva

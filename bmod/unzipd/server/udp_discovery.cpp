// UDP discovery, registration with a central server and the broadcast line.
#include "bmod/unzipd/server/udp_discovery.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <vector>

#include "bmod/unzipd/daemon/known_server.h"
#include "bmod/unzipd/log/log_call.h"
#include "bmod/unzipd/server/network_server.h"
#include "common/fd_io.h"
#include "common/net_util.h"
#include "common/string_format.h"
#include "common/text.h"
#include "common/tokens.h"

namespace ruva {
namespace {

constexpr unsigned kMaxPort = 65535;

// A datagram as log text: its closing line feed would leave an empty line.
std::string logText(const std::string& datagram) {
    return !datagram.empty() && datagram.back() == '\n' ? datagram.substr(0, datagram.size() - 1) : datagram;
}

std::unique_ptr<PeerInfo> refused(const char* reason, const char* text) {
    if (reason != nullptr) logError(kLogNotice, reason, text);
    logError(kLogWarning, "Invalid iaddr/port specification received <%s>", text);
    return nullptr;
}

std::string dotted(in_addr_t addr) {
    char buf[INET_ADDRSTRLEN] = "";
    ::inet_ntop(AF_INET, &addr, buf, sizeof buf);
    return buf;
}

std::string addrPort(in_addr_t addr, unsigned port) { return dotted(addr) + ":" + std::to_string(port); }

bool isLoopback(in_addr_t addr) { return (ntohl(addr) >> 24) == 127; }

}  // namespace

std::unique_ptr<PeerInfo> getPeerInfo(const char* text) {
    std::string copy(text != nullptr ? text : "");
    size_t blank = copy.find(' ');
    if (blank == std::string::npos) return refused("Missing peer-ID in broadcast message <%s>", text);
    size_t colon = copy.find(':', blank + 1);
    if (colon == std::string::npos) return refused("No inet addr in broadcast message <%s>", text);
    size_t portEnd = colon + 1;
    while (portEnd < copy.size() && !isAsciiSpace(static_cast<unsigned char>(copy[portEnd]))) ++portEnd;
    if (portEnd == colon + 1) return refused("Missing port number in broadcast message <%s>", text);

    auto peer = std::make_unique<PeerInfo>();
    peer->peerId = copy.substr(0, blank);
    // A port is decimal digits only, 1-65535: "x" and 70000 name no port.
    unsigned long port = 0;
    for (size_t i = colon + 1; i < portEnd && port <= kMaxPort; ++i) {
        unsigned char c = static_cast<unsigned char>(copy[i]);
        port = isAsciiDigit(c) ? port * 10 + (c - '0') : kMaxPort + 1;
    }
    if (port == 0 || port > kMaxPort) return refused("Invalid port number in broadcast message <%s>", text);
    peer->port = static_cast<unsigned>(port);
    std::string address = copy.substr(blank + 1, colon - blank - 1);
    if (::inet_pton(AF_INET, address.c_str(), &peer->addr) != 1) return refused(nullptr, text);

    char* cursor = copy.data() + portEnd;
    std::string* fields[] = {&peer->progName, &peer->article, &peer->revision};
    for (std::string* f : fields) {
        char* tok = getNextToken(&cursor);
        if (tok == nullptr) return peer;
        *f = tok;
    }
    char* comment = getNextToken(&cursor);
    if (comment != nullptr) peer->comment = comment;
    return peer;
}

std::string NetworkServer::announcement(const char* peerId) const {
    return format("%s %s:%u %s\n", peerId, dotted(localAddr).c_str(), static_cast<unsigned>(wellKnownPort),
                  identityText().c_str());
}

void NetworkServer::buildBroadcastLine() { bResp = announcement("UZD"); }

void NetworkServer::addServerComment(const char* text) {
    if (text != nullptr) serverComment += text;
    if (!bResp.empty()) buildBroadcastLine();
}

int NetworkServer::setBroadcastResponse() {
    bResp.clear();
    char host[128] = {};
    if (::gethostname(host, sizeof host - 1) != 0) {
        logError(kLogErr, "gethostname failed, %s", std::strerror(errno));
        return 0;
    }
    in_addr_t addr = 0;
    if (!extractAddrPort(host, &addr, nullptr)) {
        logError(kLogErr, "gethostbyname failed for %s, %s", host, "no such host");
        return 0;
    }
    if (addr == 0) {
        logError(kLogErr, "Host %s has no Internet address?", host);
        return 0;
    }
    // A host name on a loopback line would announce an address no peer can
    // reach: take the first real interface when there is one.
    if (isLoopback(addr)) {
        std::optional<std::string> ip = getIpAddr();
        in_addr_t real = 0;
        if (ip && ::inet_pton(AF_INET, ip->c_str(), &real) == 1) addr = real;
    }
    localAddr = addr;
    ks->setLocalAddr(addr, wellKnownPort);
    buildBroadcastLine();
    return 1;
}

int NetworkServer::informCentralServer(const char* address, int remove) {
    in_addr_t addr = 0;
    unsigned port = 0;
    if (address == nullptr || !extractAddrPort(address, &addr, &port) || addr == 0 || port == 0) {
        logError(kLogWarning, "Could not interpret CentralServer address %s", address != nullptr ? address : "");
        return 0;
    }
    Fd s(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!s.valid()) {
        logError(kLogErr, "Cannot create socket, %s", std::strerror(errno));
        return 0;
    }
    // From the announced address when it is ours, so that the datagram's
    // source matches the address it names; else from any.
    struct sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = localAddr;
    if (localAddr == 0 || ::bind(s.get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        local.sin_addr.s_addr = htonl(INADDR_ANY);
        if (::bind(s.get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            logError(kLogErr, "Cannot bind udp socket, %s", std::strerror(errno));
            return 0;
        }
    }
    std::string line = announcement(remove ? "UZR" : "UZD");
    struct sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = addr;
    to.sin_port = htons(static_cast<uint16_t>(port));
    ssize_t n = ::sendto(s.get(), line.data(), line.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    if (n == static_cast<ssize_t>(line.size())) {
        logError(kLogDebug, "Sent: %s", logText(line).c_str());
        return 1;
    }
    logError(kLogWarning, "Cannot send UDP message to server \"%s\", %s", address,
             n < 0 ? std::strerror(errno) : "short send");
    return 0;
}

// The answer goes out twice: datagrams get lost.
int NetworkServer::sendReplyTwice(const std::string& line, const struct sockaddr_in& to, const char* what) {
    std::string dest = addrPort(to.sin_addr.s_addr, ntohs(to.sin_port));
    for (int i = 0; i < 2; ++i) {
        ssize_t n = ::sendto(udpfd, line.data(), line.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        if (n != static_cast<ssize_t>(line.size())) {
            logError(what[2] == 'C' ? kLogErr : kLogWarning, "Broadcast reply send failed to %s, s=%d, n=%d, %s",
                     dest.c_str(), udpfd, static_cast<int>(n), n < 0 ? std::strerror(errno) : "short send");
            return 0;
        }
        if (i == 0) {
            logError(kLogDebug, "Replied %u bytes to %s broadcast from %s.", static_cast<unsigned>(n), what,
                     dest.c_str());
            if (what[2] == 'D') logError(kLogDebug, "Sent: %s", logText(line).c_str());
        }
    }
    return 1;
}

void NetworkServer::writeKnownServersIfDue() {
    if (!ksChanged || uzd == nullptr || uzd->cacheFileName.empty()) return;
    // At most one write a second: a burst of announcements writes once.
    time_t now = ::time(nullptr);
    if (now == ksWritten) return;
    ksWritten = now;
    ksChanged = false;
    const char* name = uzd->cacheFileName.c_str();
    if (ks->write(name))
        logError(kLogInfo, "Wrote known server list to \"%s\"", name);
    else
        logError(kLogWarning, "Known server list writed failed to \"%s\"", name);
}

int NetworkServer::handleUdpConnection() {
    std::vector<char> buf(kCommandLineMax + 1);
    struct sockaddr_in from = {};
    socklen_t len = sizeof from;
    ssize_t n = ::recvfrom(udpfd, buf.data(), kCommandLineMax, 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) {
        logError(kLogErr, "Recvfrom failed on UDP socket, %s", std::strerror(errno));
        return 0;
    }
    if (n == 0) return 0;
    buf[static_cast<size_t>(n)] = '\0';
    const char* text = buf.data();
    if (flags & kNsVerbose) {
        logError(kLogDebug, "Read %d bytes on UDP socket", static_cast<int>(n));
        logError(kLogDebug, "Read: %s", text);
    }
    std::unique_ptr<PeerInfo> peer = getPeerInfo(text);
    if (!peer) return 0;
    const std::string& id = peer->peerId;
    // Answers go to, and servers are listed under, the sender's own address
    // only; a client's call must name its own port too.
    if (peer->addr != from.sin_addr.s_addr || (id == "UZC" && peer->port != ntohs(from.sin_port))) {
        logError(kLogWarning, "Invalid iaddr/port specification received <%s>", text);
        return 0;
    }
    struct sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = peer->addr;
    to.sin_port = htons(static_cast<uint16_t>(peer->port));
    std::string where = addrPort(peer->addr, peer->port);

    if (id == "UZD" || id == "UZd") {
        int added = 0;
        const char* comment = peer->comment ? peer->comment->c_str() : nullptr;
        if (ks->add(peer->addr, static_cast<int>(peer->port), comment, &added) != nullptr) {
            if (added)
                logError(kLogInfo, "Added server %s, \"%s\"", where.c_str(), comment != nullptr ? comment : "?");
            else
                logError(kLogInfo, "Updated server timestamp for %s", where.c_str());
            ksChanged = true;
            writeKnownServersIfDue();
        }
        if (id == "UZd") return 1;
        if (bResp.empty()) {
            logError(kLogWarning, "Broadcast response not defined");
            return 1;
        }
        std::string answer = bResp;
        answer[2] = 'd';
        sendReplyTwice(answer, to, "UZD");
        return 1;
    }
    if (id == "UZR") {
        logError(kLogInfo, "Asked to remove known server %s", where.c_str());
        if (ks->remove(peer->addr, static_cast<int>(peer->port))) logError(kLogInfo, "Removed server %s", where.c_str());
        return 1;
    }
    if (id == "UZC") {
        if (bResp.empty()) {
            logError(kLogErr, "Broadcast response not defined");
            return 0;
        }
        return sendReplyTwice(bResp, to, "UZC");
    }
    logError(kLogWarning, "Invalid peer-ID <%s> received in UDP message", id.c_str());
    return 0;
}

}  // namespace ruva

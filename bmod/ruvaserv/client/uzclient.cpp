// The client's settings and its list of sessions.
#include "bmod/ruvaserv/client/uzclient.h"

#include <new>

#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "common/html_escape.h"
#include "common/net_util.h"
#include "common/paths.h"

namespace ruva {
namespace {

std::string nameOrUnknown(const char* text) {
    return text && *text ? text : "unknown";
}

}  // namespace

std::unique_ptr<UzClient> newUzClient(const char* prog, const char* art, const char* rev, uint16_t flags) {
    std::unique_ptr<UzClient> uzc(new (std::nothrow) UzClient());
    if (!uzc) return nullptr;
    uzc->flags = flags;
    uzc->prog = nameOrUnknown(prog);
    uzc->art = nameOrUnknown(art);
    uzc->rev = nameOrUnknown(rev);
    return uzc;
}

UzClient::~UzClient() {
    clear();
}

void UzClient::clear() {
    while (firstUzSession) {
        UzSession* s = firstUzSession;
        firstUzSession = s->next;
        delete s;
    }
    nSessions = 0;
    setError(nullptr);
}

std::unique_ptr<UzSession> UzClient::allocSession(const char* host, in_addr_t iaddr, unsigned port) {
    if (port == 0) port = wellKnownPort;
    if (host && *host) {
        // "address:port" sets both; a plain name or address is resolved.
        // What cannot be read leaves the given address.
        in_addr_t hostAddr = 0;
        unsigned hostPort = 0;
        if (extractAddrPort(host, &hostAddr, &hostPort)) {
            iaddr = hostAddr;
            if (hostPort) port = hostPort;
        }
    }
    if (iaddr == 0) {
        setError(msgFormat(377, "uzclient/9"));
        return nullptr;
    }
    uint16_t sessionFlags = (flags & kUzClientSessionFlag) ? kSessClientFlag : 0;
    std::unique_ptr<UzSession> s(new (std::nothrow) UzSession(sessionFlags));
    if (!s) {
        setError(msgFormat(376, "uzclient/8"));
        return nullptr;
    }
    s->iaddr = iaddr;
    s->port = port;
    s->commandTimeout = commandTimeout;
    s->isLibFiltered = &isLibFiltered;
    in_addr_t proxyAddr = 0;
    unsigned proxyPort = 0;
    if (!telnetProxy.empty() && extractAddrPort(telnetProxy, &proxyAddr, &proxyPort)) {
        s->flags |= kSessProxyAllowed;
        s->proxyIaddr = proxyAddr;
        s->proxyPort = proxyPort ? proxyPort : kDefaultTelnetPort;
        // A copy: a later setTelnetProxyCmd must not pull it from under
        // the session.
        s->proxyCmd = telnetProxyCmd;
    }
    return s;
}

UzSession* UzClient::newSession(const char* host, in_addr_t iaddr, unsigned port, bool* created) {
    if (created) *created = false;
    std::unique_ptr<UzSession> s = allocSession(host, iaddr, port);
    if (!s) return nullptr;
    UzSession* last = nullptr;
    for (UzSession* p = firstUzSession; p; p = p->next) {
        if (!(flags & kUzClientMultiSession) && p->iaddr == s->iaddr && p->port == s->port) return p;
        last = p;
    }
    s->prev = last;
    s->next = nullptr;
    if (last) {
        last->next = s.get();
    } else {
        firstUzSession = s.get();
    }
    nSessions++;
    if (created) *created = true;
    return s.release();
}

void UzClient::deleteSession(UzSession* session) {
    if (!session) return;
    for (UzSession* p = firstUzSession; p; p = p->next) {
        if (p != session) continue;
        if (p->prev) {
            p->prev->next = p->next;
        } else {
            firstUzSession = p->next;
        }
        if (p->next) p->next->prev = p->prev;
        nSessions--;
        break;
    }
    session->next = nullptr;
    session->prev = nullptr;
    delete session;
}

void UzClient::setWellKnownPort(unsigned port) {
    wellKnownPort = port ? port : kDefaultServerPort;
}

void UzClient::setBroadcastTimeout(time_t seconds) {
    broadcastTimeout = seconds ? seconds : kDefaultBroadcastTimeout;
}

void UzClient::setCommandTimeout(time_t seconds) {
    commandTimeout = seconds ? seconds : kDefaultCommandTimeout;
}

int UzClient::setCentralServer(const char* address) {
    if (!address) {
        centralServer.clear();
        return 1;
    }
    // The limit holds for what is stored: "~" may expand to a long home.
    std::string expanded;
    expandTilde(expanded, address);
    if (expanded.size() > kClientAddressMax) {
        setError(msgFormat(374, "uzclient/6"), htmlEscaped(address));
        return 0;
    }
    centralServer = std::move(expanded);
    return 1;
}

int UzClient::setTelnetProxy(const char* address) {
    if (!address) {
        telnetProxy.clear();
        return 1;
    }
    std::string_view text(address);
    if (text.size() > kClientAddressMax) {
        setError(msgFormat(375, "uzclient/7"), htmlEscaped(address));
        return 0;
    }
    telnetProxy = text;
    return 1;
}

void UzClient::setTelnetProxyCmd(const char* text) {
    if (text) {
        telnetProxyCmd = text;
    } else {
        telnetProxyCmd.clear();
    }
}

}  // namespace ruva

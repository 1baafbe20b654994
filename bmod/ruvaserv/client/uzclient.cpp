// The client's settings and its list of sessions.
#include "bmod/ruvaserv/client/uzclient.h"

#include <new>

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
    // not yet built
}

UzSession* UzClient::newSession(const char*, in_addr_t, unsigned, bool* created) {
    if (created) *created = false;
    return nullptr;  // not yet built
}

std::unique_ptr<UzSession> UzClient::allocSession(const char*, in_addr_t, unsigned) {
    return nullptr;  // not yet built
}

void UzClient::deleteSession(UzSession*) {
    // not yet built
}

void UzClient::setWellKnownPort(unsigned) {
    // not yet built
}

void UzClient::setBroadcastTimeout(time_t) {
    // not yet built
}

void UzClient::setCommandTimeout(time_t) {
    // not yet built
}

int UzClient::setCentralServer(const char*) {
    return 0;  // not yet built
}

int UzClient::setTelnetProxy(const char*) {
    return 0;  // not yet built
}

void UzClient::setTelnetProxyCmd(const char*) {
    // not yet built
}

}  // namespace ruva

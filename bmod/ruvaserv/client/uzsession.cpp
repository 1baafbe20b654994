// The session's connection, sending, reading and the reply classification
// the command units share.
#include "bmod/ruvaserv/client/uzsession.h"

namespace ruva {
namespace {

UzWaits gWaits;
UzConnectFunction gConnect = nullptr;

}  // namespace

const UzWaits& uzWaits() {
    return gWaits;
}

void setUzWaits(const UzWaits& waits) {
    gWaits = waits;
}

UzConnectFunction setUzConnectFunction(UzConnectFunction function) {
    UzConnectFunction old = gConnect;
    gConnect = function;
    return old;
}

UzSession::UzSession(uint16_t sessionFlags) : flags(sessionFlags) {}

UzSession::~UzSession() {
    // not yet built
}

std::unique_ptr<UzResponse> UzSession::connect() {
    return nullptr;  // not yet built
}

void UzSession::disconnect() {
    // not yet built
}

int UzSession::sendCommand(std::string_view, std::span<const UzArg>) {
    return 0;  // not yet built
}

int UzSession::sendCmdBuffer(std::string_view) {
    return 0;  // not yet built
}

int UzSession::getPeerCommand(time_t) {
    return -1;  // not yet built
}

ssize_t UzSession::readSocket(char*, size_t) {
    return -1;  // not yet built
}

std::string UzSession::getServerAddr() const {
    return "Unknown";  // not yet built
}

UzLine UzSession::classifyLine(int) const {
    return {};  // not yet built
}

ssize_t UzSession::readPayload(char*, size_t) {
    return -1;  // not yet built
}

}  // namespace ruva

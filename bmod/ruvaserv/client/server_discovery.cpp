// Finding servers: UDP broadcast, the central server and the servers' own
// SLIST, over the host's broadcast-capable interfaces.
#include <ifaddrs.h>

#include "bmod/ruvaserv/client/uzclient.h"

namespace ruva {
namespace {

InterfaceLister gLister = nullptr;

}  // namespace

std::vector<BroadcastInterface> broadcastInterfaces(const struct ifaddrs*) {
    return {};  // not yet built
}

std::vector<BroadcastInterface> listBroadcastInterfaces() {
    return {};  // not yet built
}

InterfaceLister setInterfaceLister(InterfaceLister lister) {
    InterfaceLister old = gLister;
    gLister = lister;
    return old;
}

int UzClient::newSessionsByBroadcast() {
    return -1;  // not yet built
}

std::unique_ptr<UzResponse> UzClient::findKnownServers() {
    return nullptr;  // not yet built
}

int UzClient::getAddrPort(std::string_view, in_addr_t*, unsigned*) {
    return 0;  // not yet built
}

}  // namespace ruva

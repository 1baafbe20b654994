// Helpers of the client's tests: addresses and a fixed interface list for
// the time of a test.
#pragma once

#include <arpa/inet.h>

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "bmod/ruvaserv/client/uzclient.h"

namespace ruva::test {

inline in_addr_t addr(const char* dotted) {
    return inet_addr(dotted);
}

inline std::vector<BroadcastInterface> loopbackOnly() {
    return {{addr("127.0.0.1"), addr("127.0.0.1")}};
}

inline std::vector<BroadcastInterface> noInterfaces() {
    return {};
}

// Discovery sees lister's interfaces while it lives.
class InterfaceScope {
public:
    explicit InterfaceScope(InterfaceLister lister) : previous_(setInterfaceLister(lister)) {}
    ~InterfaceScope() { setInterfaceLister(previous_); }
    InterfaceScope(const InterfaceScope&) = delete;
    InterfaceScope& operator=(const InterfaceScope&) = delete;

private:
    InterfaceLister previous_;
};

}  // namespace ruva::test

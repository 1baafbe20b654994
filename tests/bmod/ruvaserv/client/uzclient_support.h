// Helpers of the client's discovery tests: addresses, a fixed interface
// list for the time of a test, and the check of a known-server list.
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

struct KnownRecord {
    std::string address;
    std::string comment;
    unsigned short flags;
};

// The records of an RT_KNOWN response are exactly want, in order.
inline void expectKnownList(const UzResponse& known, std::initializer_list<KnownRecord> want) {
    const UzKnownListEntry* e = known.known();
    for (const KnownRecord& w : want) {
        SCOPED_TRACE(w.address);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->address, w.address);
        EXPECT_EQ(e->comment, w.comment);
        EXPECT_EQ(e->flags, w.flags);
        e = e->next.get();
    }
    EXPECT_EQ(e, nullptr);
}

}  // namespace ruva::test

#include "bmod/unzipd/server/ip_mask.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ruva {
namespace {

in_addr_t addr(const char* dotted) {
    in_addr_t a = 0;
    EXPECT_EQ(inet_pton(AF_INET, dotted, &a), 1) << dotted;
    return a;
}

TEST(IpMask, ParseTable) {
    struct Case {
        const char* text;
        bool ok;
        const char* value;  // the mask as a dotted address
    } cases[] = {
        {"10.*", true, "10.255.255.255"},
        {"*", true, "255.255.255.255"},
        {"10", true, "10.255.255.255"},
        {" 172.16.59.123", true, "172.16.59.123"},
        {"192.168.*.7", true, "192.168.255.7"},
        {"0.0.0.0", true, "0.0.0.0"},
        {"10.0.0.300", false, nullptr},
        {"a.b", false, nullptr},
        {"1.2.3.4.5", false, nullptr},
        {"10..1", false, nullptr},
        {"10.", false, nullptr},
        {"", false, nullptr},
        {"10.0.0.1x", false, nullptr},
        {"-1", false, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        in_addr_t m = 12345;
        EXPECT_EQ(parseIpMask(c.text, &m), c.ok);
        if (c.ok)
            EXPECT_EQ(m, addr(c.value));
        else
            EXPECT_EQ(m, 12345u);
    }
    EXPECT_FALSE(parseIpMask(nullptr, nullptr));
}

TEST(IpMask, CheckTable) {
    auto mask = [](IpPermType t, const char* text) {
        IpMask m;
        m.permType = t;
        EXPECT_TRUE(parseIpMask(text, &m.addrMask)) << text;
        return m;
    };
    const std::vector<IpMask> none;
    const std::vector<IpMask> exact = {mask(IP_ALLOW, "10.1.2.3")};
    const std::vector<IpMask> wild = {mask(IP_ALLOW, "10.*")};
    const std::vector<IpMask> allowThenDeny = {mask(IP_ALLOW, "10.*"), mask(IP_DENY, "*")};
    const std::vector<IpMask> denyThenAllow = {mask(IP_DENY, "10.1.*"), mask(IP_ALLOW, "10.*")};
    const std::vector<IpMask> loop = {mask(IP_ALLOW, "127.0.0.1")};
    const std::vector<IpMask> lan = {mask(IP_ALLOW, "192.168.1.10")};
    const std::vector<IpMask> top = {mask(IP_ALLOW, "192.168.1.127")};
    struct Case {
        const char* name;
        const std::vector<IpMask>* masks;
        const char* client;
        bool enforce;
        int allowed;
    } cases[] = {
        {"no masks", &none, "1.2.3.4", true, 1},
        {"exact part", &exact, "10.1.2.3", true, 1},
        {"exact part differs", &exact, "10.1.2.2", true, 0},
        {"wildcard part", &wild, "10.200.3.4", true, 1},
        {"wildcard, first part differs", &wild, "11.0.0.1", true, 0},
        {"allow then deny admits 10.x", &allowThenDeny, "10.9.8.7", true, 1},
        // A bit test would have admitted 8, 2 and 0 as subsets of 10.
        {"allow then deny refuses 8.x", &allowThenDeny, "8.0.0.1", false, 0},
        {"allow then deny refuses 0.x", &allowThenDeny, "0.1.2.3", false, 0},
        {"deny then allow refuses", &denyThenAllow, "10.1.5.5", true, 0},
        {"deny then allow admits", &denyThenAllow, "10.2.5.5", true, 1},
        {"no match, enforced", &wild, "12.0.0.1", true, 0},
        {"no match, not enforced", &wild, "12.0.0.1", false, 1},
        {"10.0.0.1 is not 127.0.0.1", &loop, "10.0.0.1", true, 0},
        {"192.168.0.10 is not 192.168.1.10", &lan, "192.168.0.10", true, 0},
        {"a 127 part admits only 127", &top, "192.168.1.0", true, 0},
        {"a 127 part admits 127", &top, "192.168.1.127", true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(checkIpMasks(*c.masks, addr(c.client), c.enforce), c.allowed);
    }
}

}  // namespace
}  // namespace ruva

#include "bmod/unzipd/server/ip_mask.h"

#include <cstdint>
#include <cstring>

#include "common/text.h"

namespace ruva {
namespace {

constexpr unsigned kAnyPart = 255;
constexpr int kParts = 4;

// One part up to '.' or the end; false when it is no part at all.
bool readPart(const char** cursor, unsigned* part) {
    const char* p = *cursor;
    if (*p == '*') {
        ++p;
        *part = kAnyPart;
    } else {
        if (!isAsciiDigit(static_cast<unsigned char>(*p))) return false;
        unsigned v = 0;
        while (isAsciiDigit(static_cast<unsigned char>(*p))) {
            v = v * 10 + static_cast<unsigned>(*p++ - '0');
            if (v > 255) return false;
        }
        *part = v;
    }
    if (*p != '.' && *p != '\0') return false;
    *cursor = p;
    return true;
}

}  // namespace

bool parseIpMask(const char* text, in_addr_t* mask) {
    if (text == nullptr) return false;
    const char* p = text;
    while (isAsciiSpace(static_cast<unsigned char>(*p))) ++p;
    uint8_t parts[kParts] = {kAnyPart, kAnyPart, kAnyPart, kAnyPart};
    for (int i = 0;; ++i) {
        if (i == kParts) return false;  // a fifth part
        unsigned v = 0;
        if (!readPart(&p, &v)) return false;
        parts[i] = static_cast<uint8_t>(v);
        if (*p == '\0') break;
        ++p;  // the '.'
    }
    std::memcpy(mask, parts, sizeof parts);
    return true;
}

int checkIpMasks(const std::vector<IpMask>& masks, in_addr_t client, bool enforce) {
    if (masks.empty()) return 1;
    uint8_t c[kParts];
    std::memcpy(c, &client, sizeof c);
    for (const IpMask& m : masks) {
        uint8_t a[kParts];
        std::memcpy(a, &m.addrMask, sizeof a);
        bool match = true;
        for (int i = 0; i < kParts && match; ++i) match = a[i] == kAnyPart || a[i] == c[i];
        if (match) return m.permType == IP_ALLOW ? 1 : 0;
    }
    return enforce ? 0 : 1;
}

}  // namespace ruva

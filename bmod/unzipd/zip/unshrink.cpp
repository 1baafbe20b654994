#include "bmod/unzipd/zip/unshrink.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace ruva {

namespace {

constexpr uint16_t kFree = 0xFFFF;      // prefix of an entry not yet (or no longer) defined
constexpr uint16_t kHasChild = 0x4000;  // partial clear's mark, above every 13-bit code
constexpr unsigned kFirstFree = 257;
constexpr unsigned kMaxCodeSize = 13;

// Frees every code from 257 that is not the prefix of another code. Marks
// ride in the prefix field of the parent, which a free entry (0xFFFF)
// already carries, so a free parent stays free.
void partialClear(ShrinkTable& t) {
    for (unsigned c = kFirstFree; c < kShrinkCodes; ++c) {
        uint16_t p = t.prefix[c];
        if (p == kFree) continue;
        p &= ~kHasChild;
        if (p >= kFirstFree && p != c) t.prefix[p] |= kHasChild;
    }
    for (unsigned c = kFirstFree; c < kShrinkCodes; ++c) {
        uint16_t p = t.prefix[c];
        if (p == kFree) continue;
        t.prefix[c] = (p & kHasChild) ? uint16_t(p & ~kHasChild) : kFree;
    }
}

unsigned nextFree(const ShrinkTable& t, unsigned from) {
    while (from < kShrinkCodes && t.prefix[from] != kFree) ++from;
    return from;
}

}  // namespace

int unshrink(UnzipGlobals& G) {
    ShrinkTable& t = G.area.shrink;
    for (unsigned c = kFirstFree; c < kShrinkCodes; ++c) t.prefix[c] = kFree;

    // Strings are built backwards from the end of one of two stacks; the
    // other keeps the previous code's string, which a partial clear may
    // have freed (and the next entry reassigned) in the table.
    unsigned char spare[kShrinkCodes];
    unsigned char* cur = t.stack;
    unsigned char* prevStack = spare;
    const unsigned char* prev = nullptr;
    size_t prevLen = 0;
    unsigned prevCode = 0;

    unsigned char* out = G.outbuf;
    size_t outcnt = 0;
    int r;
    auto emit = [&](const unsigned char* s, size_t n) {
        while (n) {
            size_t k = std::min(n, kOutBufSize - outcnt);
            std::memcpy(out + outcnt, s, k);
            outcnt += k;
            s += k;
            n -= k;
            if (outcnt == kOutBufSize) {
                outcnt = 0;
                if (int e = G.flush(out, kOutBufSize)) return e;
            }
        }
        return 0;
    };

    unsigned codeSize = 9;
    unsigned freeEnt = kFirstFree;
    for (;;) {
        if (!G.need(codeSize)) break;
        unsigned code = G.bits(codeSize);
        G.drop(codeSize);

        if (prev && code == 256) {
            if (!G.need(codeSize)) break;
            unsigned control = G.bits(codeSize);
            G.drop(codeSize);
            if (control == 1) {
                if (codeSize == kMaxCodeSize) return 1;
                ++codeSize;
            } else if (control == 2) {
                partialClear(t);
                freeEnt = nextFree(t, kFirstFree);
            } else {
                return 1;
            }
            continue;  // the previous code stays for the next entry
        }

        const unsigned char* s;
        size_t n;
        if (!prev) {
            if (code > 255) return 1;
            cur[kShrinkCodes - 1] = (unsigned char)code;
            s = cur + kShrinkCodes - 1;
            n = 1;
        } else if (code >= kFirstFree && t.prefix[code] == kFree) {
            // KwKwK: only the entry about to be made may be used before it
            // exists; it is the previous string plus its own first byte.
            if (code != freeEnt || prevLen == kShrinkCodes) return 1;
            n = prevLen + 1;
            unsigned char* d = cur + kShrinkCodes - n;
            std::memcpy(d, prev, prevLen);
            d[prevLen] = prev[0];
            s = d;
        } else {
            // The walk ends at a byte code; a free prefix, code 256 or more
            // steps than the stack holds (a cycle) is invalid data.
            unsigned char* p = cur + kShrinkCodes;
            unsigned c = code;
            while (c >= kFirstFree) {
                uint16_t pre = t.prefix[c];
                if (pre == kFree || p == cur) return 1;
                *--p = t.suffix[c];
                c = pre;
            }
            if (c == 256 || p == cur) return 1;
            *--p = (unsigned char)c;
            s = p;
            n = size_t(cur + kShrinkCodes - p);
        }
        if (prev && freeEnt < kShrinkCodes) {
            t.prefix[freeEnt] = uint16_t(prevCode);
            t.suffix[freeEnt] = s[0];
            freeEnt = nextFree(t, freeEnt + 1);
        }
        if ((r = emit(s, n)) != 0) return r;
        prev = s;
        prevLen = n;
        prevCode = code;
        std::swap(cur, prevStack);
    }
    return outcnt ? G.flush(out, outcnt) : 0;
}

}  // namespace ruva

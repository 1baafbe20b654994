#include "bmod/unzipd/zip/explode.h"

#include <cstdint>
#include <cstring>

namespace ruva {

namespace {

constexpr unsigned kMaxCodeBits = 16;

// A Shannon-Fano tree as stored: a count byte (bytes - 1), then bytes of
// (repeat - 1) << 4 | (bit length - 1) over the codes in symbol order. The
// codes are the bit complements of the canonical (deflate-style) codes of
// those lengths, sent first bit first; so a lookup inverts the stream bits
// and then decodes a canonical code.
//
// Codes up to lookBits long resolve in one step through `fast`; a longer or
// unassigned pattern (entry 0) walks the lengths one bit at a time, which
// real trees need only for their rarest symbols.
struct SfTree {
    unsigned lookBits;
    uint16_t count[kMaxCodeBits + 1];  // codes of each length
    uint16_t symbol[256];              // by length, then symbol order
    uint16_t fast[1 << 9];             // length << 8 | symbol, or 0
};

unsigned reverseBits(unsigned code, unsigned len) {
    unsigned r = 0;
    for (unsigned i = 0; i < len; ++i, code >>= 1) r = r << 1 | (code & 1);
    return r;
}

// 0, 1 when the input ends, 2 over-subscribed, 4 the lengths do not cover
// exactly `codes` symbols. An incomplete tree is taken: its unused patterns
// are caught as invalid codes if they ever appear.
int readTree(UnzipGlobals& G, SfTree& t, unsigned codes, unsigned lookBits) {
    unsigned char lengths[256];
    int c = G.readByte();
    if (c < 0) return 1;
    unsigned k = 0;
    for (int n = c + 1; n > 0; --n) {
        int b = G.readByte();
        if (b < 0) return 1;
        unsigned len = (unsigned(b) & 0x0F) + 1;
        unsigned repeat = (unsigned(b) >> 4) + 1;
        if (k + repeat > codes) return 4;
        std::memset(lengths + k, int(len), repeat);
        k += repeat;
    }
    if (k != codes) return 4;

    std::memset(t.count, 0, sizeof t.count);
    for (unsigned s = 0; s < codes; ++s) ++t.count[lengths[s]];
    long left = 1;
    for (unsigned len = 1; len <= kMaxCodeBits; ++len) {
        left = (left << 1) - t.count[len];
        if (left < 0) return 2;
    }

    uint16_t offset[kMaxCodeBits + 2];
    unsigned next[kMaxCodeBits + 1];
    offset[1] = 0;
    unsigned code = 0;
    for (unsigned len = 1; len <= kMaxCodeBits; ++len) {
        offset[len + 1] = uint16_t(offset[len] + t.count[len]);
        next[len] = code;
        code = (code + t.count[len]) << 1;
    }
    t.lookBits = lookBits;
    std::memset(t.fast, 0, sizeof(t.fast[0]) << lookBits);
    for (unsigned s = 0; s < codes; ++s) {
        unsigned len = lengths[s];
        t.symbol[offset[len]++] = uint16_t(s);
        unsigned cv = next[len]++;
        if (len > lookBits) continue;
        for (unsigned i = reverseBits(cv, len); i < (1u << lookBits); i += 1u << len)
            t.fast[i] = uint16_t(len << 8 | s);
    }
    return 0;
}

// The next symbol, or -1 for an unassigned pattern. Consuming bits past the
// end of the input leaves G.zipeof set for the caller.
int decode(UnzipGlobals& G, const SfTree& t) {
    G.need(kMaxCodeBits);
    uint32_t inverted = ~G.bits(kMaxCodeBits);
    unsigned e = t.fast[inverted & ((1u << t.lookBits) - 1)];
    if (e) {
        G.drop(e >> 8);
        return int(e & 0xFF);
    }
    int code = 0, first = 0, index = 0;
    for (unsigned len = 1; len <= kMaxCodeBits; ++len) {
        code |= int(inverted >> (len - 1) & 1);
        int count = t.count[len];
        if (code - first < count) {
            G.drop(len);
            return t.symbol[index + code - first];
        }
        index += count;
        first = (first + count) << 1;
        code <<= 1;
    }
    return -1;
}

}  // namespace

int explode(UnzipGlobals& G) {
    // Nothing at all to decode: an empty member need not carry trees.
    if (G.ucsize == 0 && G.bytesLeft() == 0) return 0;

    const bool bigWindow = G.generalFlags & 0x02;
    const bool literalTree = G.generalFlags & 0x04;
    const unsigned lowDistBits = bigWindow ? 7 : 6;
    const unsigned minMatch = literalTree ? 3 : 2;

    SfTree literals, lengths, distances;
    int r;
    if (literalTree && (r = readTree(G, literals, 256, 9)) != 0) return r;
    if ((r = readTree(G, lengths, 64, 7)) != 0) return r;
    if ((r = readTree(G, distances, 64, 7)) != 0) return r;

    unsigned char* slide = G.area.Slide;
    constexpr size_t kMask = kWsize - 1;
    size_t w = 0;
    unsigned long left = G.ucsize;
    while (left) {
        if (G.getBits(1)) {
            int c = literalTree ? decode(G, literals) : int(G.getBits(8));
            if (c < 0 || G.zipeof) return 1;
            slide[w++] = (unsigned char)c;
            --left;
            if (w == kWsize) {
                if ((r = G.flush(slide, w)) != 0) return r;
                w = 0;
            }
            continue;
        }
        unsigned low = G.getBits(lowDistBits);
        int high = decode(G, distances);
        if (high < 0) return 1;
        int lcode = decode(G, lengths);
        if (lcode < 0) return 1;
        unsigned long n = unsigned(lcode) + minMatch;
        if (lcode == 63) n += G.getBits(8);
        if (G.zipeof) return 1;

        // Distances reach before the member's first byte into the zeroed
        // window, as the format intends for a fresh stream.
        size_t src = (w - ((unsigned(high) << lowDistBits | low) + 1)) & kMask;
        if (n > left) n = left;
        left -= n;
        do {
            slide[w++] = slide[src++];
            src &= kMask;
            if (w == kWsize) {
                if ((r = G.flush(slide, w)) != 0) return r;
                w = 0;
            }
        } while (--n);
    }
    if (w && (r = G.flush(slide, w)) != 0) return r;
    return G.bytesLeft() == 0 ? 0 : 5;
}

}  // namespace ruva

#include "bmod/unzipd/zip/inflate.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <new>

#include "common/crc32.h"

namespace ruva {
namespace {

// Lookup entries, one 32-bit word each:
//   bits 0-5    bits the entry's code takes (a subtable pointer: the root bits)
//   bit 6       subtable pointer: bits 16-31 its offset, bits 8-15 its index bits
//   bit 7       literal: bits 16-23 the byte
//   bits 8-15   extra bits of a length or distance (0-13), or the flags
//               kEob (end of block) and kBad (no such code, or a code the
//               format reserves: literal/length 286-287, distance 30-31)
//   bits 16-31  base length or distance, precode symbol
constexpr uint32_t kLiteral = 0x80;
constexpr uint32_t kSubtable = 0x40;
constexpr uint32_t kEob = 0x10;  // in the extra-bits byte
constexpr uint32_t kBad = 0x20;  // in the extra-bits byte

// Root widths: a 10-bit root resolves nearly every literal/length code in
// one look-up while its fill stays cheap for the small blocks of small
// members; longer codes go through one subtable.
constexpr unsigned kLitBits = 10;
constexpr unsigned kDistBits = 8;
constexpr unsigned kPreBits = 7;  // code-length codes are at most 7 bits
constexpr unsigned kMaxBits = 15;

// Each subtable serves one root prefix of a code longer than the root and
// holds at most 2^(15 - root) entries; there are no more of them than
// symbols, which bounds the tables for any input.
constexpr size_t kLitCap = (size_t(1) << kLitBits) + 288 * (size_t(1) << (kMaxBits - kLitBits));
constexpr size_t kDistCap = (size_t(1) << kDistBits) + 32 * (size_t(1) << (kMaxBits - kDistBits));

// Output window: 32 KiB of history, then a chunk decoded before the next
// flush; matches may run up to 258 bytes (plus an 8-byte word copy) past it.
constexpr size_t kHist = 0x8000;
constexpr size_t kChunk = 0x10000;
constexpr size_t kWindowSize = kHist + kChunk + 512;
// Room the fast loop needs before each step: three literals, or the
// overshoot of a match's last word copy. A match longer than the room left
// is copied exactly. So a member decoded into memory takes the fast path to
// within a few bytes of its end.
constexpr size_t kFastRoom = 8;
// Input the fast loop needs before each step: two word refills.
constexpr ptrdiff_t kFastInput = 16;

constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                    33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                    1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

constexpr uint32_t badEntry() {
    return kBad << 8;
}

// Entry templates per symbol, without the code length.
struct Templates {
    std::array<uint32_t, 288> lit{};
    std::array<uint32_t, 32> dist{};
    std::array<uint32_t, 19> pre{};
    constexpr Templates() {
        for (uint32_t s = 0; s < 256; s++) lit[s] = s << 16 | kLiteral;
        lit[256] = kEob << 8;
        for (uint32_t s = 257; s < 286; s++)
            lit[s] = uint32_t(kLengthBase[s - 257]) << 16 | uint32_t(kLengthExtra[s - 257]) << 8;
        lit[286] = lit[287] = badEntry();
        for (uint32_t s = 0; s < 30; s++)
            dist[s] = uint32_t(kDistBase[s]) << 16 | uint32_t(kDistExtra[s]) << 8;
        dist[30] = dist[31] = badEntry();
        for (uint32_t s = 0; s < 19; s++) pre[s] = s << 16;
    }
};
constexpr Templates kTemplates;

inline uint64_t load64le(const unsigned char* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
    return v;
}

inline uint32_t lowBits(uint64_t v, unsigned n) {
    return uint32_t(v & ((uint64_t(1) << n) - 1));
}

struct ReverseTable {
    uint8_t r[256]{};
    constexpr ReverseTable() {
        for (unsigned i = 0; i < 256; i++)
            for (unsigned b = 0; b < 8; b++)
                if (i & (1u << b)) r[i] |= uint8_t(0x80 >> b);
    }
};
constexpr ReverseTable kReverse;

// The low len bits of code (len <= 16) in reverse order.
inline unsigned reverseBits(unsigned code, unsigned len) {
    return (unsigned(kReverse.r[code & 0xFF]) << 8 | kReverse.r[(code >> 8) & 0xFF]) >> (16 - len);
}

// Fills table (root bits rootBits, room for capacity entries) for the code
// lengths lens[0, n). 0 on success; 1 for an incomplete set unless it is a
// single one-bit code; 2 for an over-subscribed set. Unused codes, and all
// codes of an empty set, decode as kBad entries.
int buildTable(uint32_t* table, size_t capacity, unsigned rootBits, const uint8_t* lens, unsigned n,
               const uint32_t* templ) {
    unsigned count[kMaxBits + 1] = {};
    for (unsigned s = 0; s < n; s++) count[lens[s]]++;
    int left = 1;
    unsigned maxLen = 0;
    for (unsigned len = 1; len <= kMaxBits; len++) {
        left <<= 1;
        left -= int(count[len]);
        if (left < 0) return 2;
        if (count[len]) maxLen = len;
    }
    const size_t rootSize = size_t(1) << rootBits;
    if (maxLen == 0 || left > 0) {
        if (maxLen > 1) return 1;
        std::fill(table, table + rootSize, badEntry());
        if (maxLen == 0) return 0;
    }

    // Symbols by code length, then by value: the canonical order.
    unsigned offs[kMaxBits + 2] = {};
    for (unsigned len = 1; len <= kMaxBits; len++) offs[len + 1] = offs[len] + count[len];
    uint16_t sorted[288];
    for (unsigned s = 0; s < n; s++)
        if (lens[s]) sorted[offs[lens[s]]++] = uint16_t(s);

    const unsigned rootMask = unsigned(rootSize - 1);
    unsigned code = 0;         // canonical code, first bit in the top
    unsigned curPrefix = ~0u;  // root index of the current subtable
    size_t subOffset = 0, subBits = 0, next = rootSize;
    unsigned idx = 0;
    for (unsigned len = 1; len <= maxLen; len++, code <<= 1) {
        for (unsigned k = 0; k < count[len]; k++, code++) {
            unsigned sym = sorted[idx++];
            unsigned rev = reverseBits(code, len);
            if (len <= rootBits) {
                uint32_t e = templ[sym] | len;
                for (size_t i = rev; i < rootSize; i += size_t(1) << len) table[i] = e;
                continue;
            }
            unsigned prefix = rev & rootMask;
            if (prefix != curPrefix) {
                // The subtable is as wide as the codes that share this prefix
                // need: grow while the codes left of each length leave room.
                unsigned cur = len - rootBits;
                int room = 1 << cur;
                unsigned remaining[kMaxBits + 1];
                for (unsigned l = len; l <= maxLen; l++) remaining[l] = count[l];
                remaining[len] -= k;
                while (cur + rootBits < maxLen) {
                    room -= int(remaining[cur + rootBits]);
                    if (room <= 0) break;
                    cur++;
                    room <<= 1;
                }
                if (next + (size_t(1) << cur) > capacity) return 2;
                curPrefix = prefix;
                subOffset = next;
                subBits = cur;
                next += size_t(1) << cur;
                table[prefix] = uint32_t(subOffset) << 16 | uint32_t(subBits) << 8 | kSubtable | rootBits;
            }
            uint32_t e = templ[sym] | (len - rootBits);
            for (size_t i = rev >> rootBits; i < (size_t(1) << subBits); i += size_t(1) << (len - rootBits))
                table[subOffset + i] = e;
        }
    }
    return 0;
}

}  // namespace

struct InflateTables {
    bool fixedBuilt = false;
    uint32_t fixedLit[size_t(1) << kLitBits];
    uint32_t fixedDist[size_t(1) << kDistBits];
    uint32_t lit[kLitCap];
    uint32_t dist[kDistCap];
    uint32_t pre[size_t(1) << kPreBits];
    unsigned char window[kWindowSize];
};

void deleteInflateTables(InflateTables* tables) {
    delete tables;
}

namespace {

constexpr int kMore = -1;  // the fast loop stopped at a limit, not at a code

// One member's decoding. Output goes either straight into the output's
// memory region (when it holds the rest of the member: the buffer is then
// the window), or through the private window and UnzipGlobals::flush.
class Inflater {
public:
    Inflater(UnzipGlobals& g, InflateTables& t) : g_(g), t_(t) {}
    int run();

private:
    int storedBlock();
    int fixedBlock();
    int dynamicBlock();
    int codes(const uint32_t* lt, const uint32_t* dt);
    int fastLoop(const uint32_t* lt, const uint32_t* dt);
    int endChunk();
    bool moreInput();
    void pullBytes();
    bool getBits(unsigned n, uint32_t& v);
    bool decode(const uint32_t* table, unsigned rootBits, uint32_t& e);
    void setFastEnd() {
        fastEnd_ = chunkEnd_;
        if (size_t(regEnd_ - out_) <= kFastRoom)
            fastEnd_ = out_;
        else if (regEnd_ - kFastRoom < fastEnd_)
            fastEnd_ = regEnd_ - kFastRoom;
    }

    UnzipGlobals& g_;
    InflateTables& t_;
    const unsigned char* in_ = nullptr;
    const unsigned char* inEnd_ = nullptr;
    uint64_t bitbuf_ = 0;  // bits above bitcnt are zero or the bytes at `in`
    unsigned bitcnt_ = 0;
    bool toMemory_ = false;
    unsigned char* out_ = nullptr;
    unsigned char* histStart_ = nullptr;   // the member's first output byte
    unsigned char* flushStart_ = nullptr;  // first byte not yet passed on
    unsigned char* chunkEnd_ = nullptr;    // pass output on when reaching it
    unsigned char* fastEnd_ = nullptr;     // the fast loop runs below it
    unsigned char* regEnd_ = nullptr;      // no output at or past it
};

bool Inflater::moreInput() {
    g_.inptr = in_;
    g_.inend = inEnd_;
    g_.fill();
    in_ = g_.inptr;
    inEnd_ = g_.inend;
    return in_ < inEnd_;
}

void Inflater::pullBytes() {
    if (inEnd_ - in_ >= 8) {
        bitbuf_ |= load64le(in_) << bitcnt_;
        in_ += (63 - bitcnt_) >> 3;
        bitcnt_ |= 56;
        return;
    }
    while (bitcnt_ <= 56) {
        if (in_ == inEnd_ && !moreInput()) return;
        bitbuf_ |= uint64_t(*in_++) << bitcnt_;
        bitcnt_ += 8;
    }
}

bool Inflater::getBits(unsigned n, uint32_t& v) {
    pullBytes();
    if (n > bitcnt_) return false;
    v = lowBits(bitbuf_, n);
    bitbuf_ >>= n;
    bitcnt_ -= n;
    return true;
}

// One code, consumed; false when it would take bits past the end of input.
bool Inflater::decode(const uint32_t* table, unsigned rootBits, uint32_t& e) {
    pullBytes();
    e = table[lowBits(bitbuf_, rootBits)];
    unsigned used = 0;
    if (e & kSubtable) {
        used = rootBits;
        e = table[(e >> 16) + lowBits(bitbuf_ >> rootBits, (e >> 8) & 0xFF)];
    }
    used += e & 63;
    if (used > bitcnt_) return false;
    bitbuf_ >>= used;
    bitcnt_ -= used;
    return true;
}

int Inflater::endChunk() {
    size_t n = size_t(out_ - flushStart_);
    if (toMemory_) {
        if (n) {
            g_.crc32val = crc32Update(g_.crc32val, flushStart_, n);
            g_.written += n;
            g_.out.filled += n;
        }
        flushStart_ = out_;
        chunkEnd_ = size_t(regEnd_ - out_) > kChunk ? out_ + kChunk : regEnd_;
        setFastEnd();
        return 0;
    }
    int rc = n ? g_.flush(flushStart_, n) : 0;
    if (out_ >= t_.window + kHist + kChunk) {
        std::memmove(t_.window, out_ - kHist, kHist);
        out_ = t_.window + kHist;
    }
    flushStart_ = out_;
    return rc;
}

int Inflater::run() {
    if (g_.out.fd < 0 && g_.out.buf && g_.out.room - g_.out.filled >= g_.ucsize - g_.written) {
        toMemory_ = true;
        out_ = g_.out.buf + g_.out.filled;
        regEnd_ = out_ + (g_.ucsize - g_.written);
        chunkEnd_ = size_t(regEnd_ - out_) > kChunk ? out_ + kChunk : regEnd_;
    } else {
        out_ = t_.window;
        regEnd_ = t_.window + kWindowSize;
        chunkEnd_ = t_.window + kHist + kChunk;
    }
    histStart_ = flushStart_ = out_;
    setFastEnd();
    in_ = g_.inptr;
    inEnd_ = g_.inend;
    bitbuf_ = g_.bitbuf;
    bitcnt_ = g_.bitcnt;

    int rc = 0;
    bool last = false;
    while (rc == 0 && !last) {
        uint32_t header;
        if (!getBits(3, header)) {
            rc = 1;
            break;
        }
        last = header & 1;
        switch (header >> 1) {
            case 0:
                rc = storedBlock();
                break;
            case 1:
                rc = fixedBlock();
                break;
            case 2:
                rc = dynamicBlock();
                break;
            default:
                rc = 2;
        }
    }
    int flushRc = endChunk();
    g_.inptr = in_;
    g_.inend = inEnd_;
    g_.bitbuf = bitbuf_;
    g_.bitcnt = bitcnt_;
    return rc ? rc : flushRc;
}

int Inflater::storedBlock() {
    unsigned partial = bitcnt_ & 7;
    bitbuf_ >>= partial;
    bitcnt_ -= partial;
    uint32_t len, nlen;
    if (!getBits(16, len) || !getBits(16, nlen)) return 1;
    if (len != (~nlen & 0xFFFF)) return 1;
    // Bytes already in the reservoir come first, then straight from input.
    for (; len && bitcnt_ >= 8; len--) {
        if (out_ >= chunkEnd_)
            if (int rc = endChunk()) return rc;
        if (out_ >= regEnd_) return 1;
        *out_++ = uint8_t(bitbuf_);
        bitbuf_ >>= 8;
        bitcnt_ -= 8;
    }
    if (bitcnt_ == 0) bitbuf_ = 0;
    while (len) {
        if (out_ >= chunkEnd_)
            if (int rc = endChunk()) return rc;
        if (in_ == inEnd_ && !moreInput()) return 1;
        size_t n = std::min({size_t(len), size_t(inEnd_ - in_), size_t(chunkEnd_ - out_)});
        if (n == 0) return 1;  // output bound reached
        std::memcpy(out_, in_, n);
        out_ += n;
        in_ += n;
        len -= uint32_t(n);
    }
    return 0;
}

int Inflater::fixedBlock() {
    if (!t_.fixedBuilt) {
        uint8_t lens[288];
        std::fill(lens, lens + 144, 8);
        std::fill(lens + 144, lens + 256, 9);
        std::fill(lens + 256, lens + 280, 7);
        std::fill(lens + 280, lens + 288, 8);
        buildTable(t_.fixedLit, sizeof t_.fixedLit / 4, kLitBits, lens, 288, kTemplates.lit.data());
        std::fill(lens, lens + 32, 5);
        buildTable(t_.fixedDist, sizeof t_.fixedDist / 4, kDistBits, lens, 32, kTemplates.dist.data());
        t_.fixedBuilt = true;
    }
    return codes(t_.fixedLit, t_.fixedDist);
}

int Inflater::dynamicBlock() {
    uint32_t v;
    if (!getBits(14, v)) return 1;
    unsigned nlit = (v & 31) + 257, ndist = ((v >> 5) & 31) + 1, ncode = (v >> 10) + 4;
    uint8_t clens[19] = {};
    for (unsigned i = 0; i < ncode; i++) {
        if (!getBits(3, v)) return 1;
        clens[kCodeLengthOrder[i]] = uint8_t(v);
    }
    if (int rc = buildTable(t_.pre, sizeof t_.pre / 4, kPreBits, clens, 19, kTemplates.pre.data())) return rc;

    uint8_t lens[288 + 32];
    const unsigned total = nlit + ndist;
    for (unsigned i = 0; i < total;) {
        uint32_t e;
        if (!decode(t_.pre, kPreBits, e)) return 1;
        if (e & (kBad << 8)) return 1;
        unsigned sym = e >> 16;
        if (sym < 16) {
            lens[i++] = uint8_t(sym);
            continue;
        }
        uint8_t value = 0;
        unsigned repeat;
        if (sym == 16) {
            if (i == 0) return 1;  // nothing to repeat
            value = lens[i - 1];
            if (!getBits(2, v)) return 1;
            repeat = 3 + v;
        } else if (sym == 17) {
            if (!getBits(3, v)) return 1;
            repeat = 3 + v;
        } else {
            if (!getBits(7, v)) return 1;
            repeat = 11 + v;
        }
        if (i + repeat > total) return 1;
        std::memset(lens + i, value, repeat);
        i += repeat;
    }
    if (int rc = buildTable(t_.lit, kLitCap, kLitBits, lens, nlit, kTemplates.lit.data())) return rc;
    if (int rc = buildTable(t_.dist, kDistCap, kDistBits, lens + nlit, ndist, kTemplates.dist.data()))
        return rc;
    return codes(t_.lit, t_.dist);
}

inline void copyMatch(unsigned char* op, unsigned dist, unsigned len) {
    const unsigned char* src = op - dist;
    unsigned char* end = op + len;
    if (dist >= 8) {
        // Each word read lies wholly before the write position, even when
        // source and destination overlap.
        do {
            std::memcpy(op, src, 8);
            op += 8;
            src += 8;
        } while (op < end);
    } else if (dist == 1) {
        uint64_t v = uint64_t(*src) * 0x0101010101010101ull;
        do {
            std::memcpy(op, &v, 8);
            op += 8;
        } while (op < end);
    } else {
        do *op++ = *src++;
        while (op < end);
    }
}

// Decodes while kFastInput input bytes and kFastRoom output bytes remain.
// After a refill the reservoir holds 56 bits or more: room for two
// literals (15 bits each) and a length code with its extra bits (20); a
// second refill, when needed, precedes the distance (at most 15 + 13).
// Works on locals: a byte store may alias any member.
int Inflater::fastLoop(const uint32_t* lt, const uint32_t* dt) {
    constexpr uint64_t litMask = (1u << kLitBits) - 1;
    constexpr uint64_t distMask = (1u << kDistBits) - 1;
    const unsigned char* ip = in_;
    const unsigned char* const ipLast = inEnd_ - kFastInput;
    uint64_t bb = bitbuf_;
    unsigned bc = bitcnt_;
    unsigned char* op = out_;
    unsigned char* const opEnd = fastEnd_;
    unsigned char* const regEnd = regEnd_;
    const unsigned char* const hist = histStart_;
    auto refill = [&] {
        bb |= load64le(ip) << bc;
        ip += (63 - bc) >> 3;
        bc |= 56;
    };
    int rc = kMore;
    do {
        refill();
        uint32_t e = lt[bb & litMask];
        if (e & kLiteral) {
            // Literals come in runs: up to three per refill.
            bb >>= e & 63;
            bc -= e & 63;
            *op++ = uint8_t(e >> 16);
            e = lt[bb & litMask];
            if (e & kLiteral) {
                bb >>= e & 63;
                bc -= e & 63;
                *op++ = uint8_t(e >> 16);
                e = lt[bb & litMask];
                if (e & kLiteral) {
                    bb >>= e & 63;
                    bc -= e & 63;
                    *op++ = uint8_t(e >> 16);
                    continue;
                }
            }
        }
        if (e & kSubtable) {
            bb >>= kLitBits;
            bc -= kLitBits;
            e = lt[(e >> 16) + lowBits(bb, (e >> 8) & 0xFF)];
        }
        bb >>= e & 63;
        bc -= e & 63;
        if (e & kLiteral) {
            *op++ = uint8_t(e >> 16);
            continue;
        }
        unsigned x = (e >> 8) & 0xFF;
        if (x & (kEob | kBad)) [[unlikely]] {
            rc = (x & kEob) ? 0 : 1;
            break;
        }
        unsigned len = (e >> 16) + lowBits(bb, x);
        bb >>= x;
        bc -= x;
        if (bc < 28) refill();
        e = dt[bb & distMask];
        if (e & kSubtable) {
            bb >>= kDistBits;
            bc -= kDistBits;
            e = dt[(e >> 16) + lowBits(bb, (e >> 8) & 0xFF)];
        }
        bb >>= e & 63;
        bc -= e & 63;
        x = (e >> 8) & 0xFF;
        if (x & kBad) [[unlikely]] {
            rc = 1;
            break;
        }
        unsigned dist = (e >> 16) + lowBits(bb, x);
        bb >>= x;
        bc -= x;
        if (dist > size_t(op - hist)) [[unlikely]] {
            rc = 1;
            break;
        }
        if (len + kFastRoom > size_t(regEnd - op)) [[unlikely]] {
            // Near the output bound: exact copy, and past it the member is
            // longer than declared.
            size_t fit = std::min<size_t>(len, size_t(regEnd - op));
            const unsigned char* src = op - dist;
            for (size_t i = 0; i < fit; i++) op[i] = src[i];
            op += fit;
            if (fit < len) {
                rc = 1;
                break;
            }
            continue;
        }
        copyMatch(op, dist, len);
        op += len;
    } while (ip <= ipLast && op < opEnd);
    in_ = ip;
    bitbuf_ = bb;
    bitcnt_ = bc;
    out_ = op;
    return rc;
}

int Inflater::codes(const uint32_t* lt, const uint32_t* dt) {
    for (;;) {
        if (out_ >= chunkEnd_)
            if (int rc = endChunk()) return rc;
        if (inEnd_ - in_ < kFastInput && g_.csize > 0) moreInput();
        if (inEnd_ - in_ >= kFastInput && out_ < fastEnd_) {
            int rc = fastLoop(lt, dt);
            if (rc != kMore) return rc;
            continue;
        }
        // Near the end of input or of the output bound: one code at a
        // time, every bit and byte checked.
        uint32_t e;
        if (!decode(lt, kLitBits, e)) return 1;
        if (e & kLiteral) {
            if (out_ >= regEnd_) return 1;
            *out_++ = uint8_t(e >> 16);
            continue;
        }
        unsigned x = (e >> 8) & 0xFF;
        if (x & kEob) return 0;
        if (x & kBad) return 1;
        uint32_t extra;
        if (!getBits(x, extra)) return 1;
        unsigned len = (e >> 16) + extra;
        if (!decode(dt, kDistBits, e)) return 1;
        x = (e >> 8) & 0xFF;
        if (x & kBad) return 1;
        if (!getBits(x, extra)) return 1;
        unsigned dist = (e >> 16) + extra;
        if (dist > size_t(out_ - histStart_)) return 1;
        unsigned fit = unsigned(std::min<size_t>(len, size_t(regEnd_ - out_)));
        const unsigned char* src = out_ - dist;
        for (unsigned i = 0; i < fit; i++) out_[i] = src[i];
        out_ += fit;
        if (fit < len) return 1;
    }
}

}  // namespace

int inflate(UnzipGlobals& G) {
    if (!G.inflateTables) {
        G.inflateTables = new (std::nothrow) InflateTables;
        if (!G.inflateTables) return 3;
    }
    Inflater inflater(G, *G.inflateTables);
    return inflater.run();
}

}  // namespace ruva

#include "bmod/unzipd/zip/deflate.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace ruva {
namespace {

// Alphabets of RFC 1951.
constexpr int kMaxBits = 15;
constexpr int kMaxBlBits = 7;
constexpr int kLengthCodes = 29;
constexpr int kLiterals = 256;
constexpr int kEndBlock = 256;
constexpr int kLCodes = kLiterals + 1 + kLengthCodes;  // 286
constexpr int kDCodes = 30;
constexpr int kBlCodes = 19;
constexpr int kHeapSize = 2 * kLCodes + 1;
constexpr int kRep3To6 = 16;
constexpr int kRepZero3To10 = 17;
constexpr int kRepZero11To138 = 18;
constexpr unsigned kStoredBlock = 0;
constexpr unsigned kStaticTrees = 1;
constexpr unsigned kDynTrees = 2;

constexpr unsigned kMinMatch = 3;
constexpr unsigned kMaxMatch = 258;
constexpr unsigned kWSize = 0x8000;
constexpr unsigned kWMask = kWSize - 1;
constexpr unsigned kWindowSize = 2 * kWSize;
// Bytes kept ahead so that a match can be searched at full length.
constexpr unsigned kMinLookahead = kMaxMatch + kMinMatch + 1;  // 262
// Farthest first candidate; later candidates must lie nearer. The window
// slides at strstart >= kWSize + kMaxDist, which keeps a block that starts
// in the window at most 65274 bytes long, below a stored block's 65535.
constexpr unsigned kMaxDist = kWSize - kMinLookahead;  // 32506
// A match is compared 8 bytes at a time up to 258 bytes past a position at
// most 65274; the tail is never part of a match (lengths are cut to the input).
constexpr unsigned kWindowSlack = 512;
constexpr unsigned kHashSize = 0x8000;
constexpr unsigned kHashMask = kHashSize - 1;
constexpr unsigned kHashShift = 5;
// A 3-byte match farther back costs more than three literals (levels 4-9).
constexpr unsigned kTooFar = 4096;
constexpr unsigned kLitBufSize = 0x8000;
constexpr unsigned kDistBufSize = 0x8000;
constexpr size_t kOutBufSize = 1024;

constexpr uint8_t kExtraLBits[kLengthCodes] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                               2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint8_t kExtraDBits[kDCodes] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                          6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr uint8_t kExtraBlBits[kBlCodes] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 3, 7};
constexpr uint8_t kBlOrder[kBlCodes] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

struct LevelConfig {
    uint16_t goodMatch;  // quarter the chain when the previous match is this long
    uint16_t maxLazy;    // levels 1-3: insert matches up to this long; 4-9: no lazy search from here
    uint16_t niceMatch;  // stop searching at a match this long
    uint16_t maxChainLength;
};

constexpr LevelConfig kLevels[10] = {
    {0, 0, 0, 0},    {4, 4, 8, 4},      {4, 5, 16, 8},     {4, 6, 32, 32},       {4, 4, 16, 16},
    {8, 16, 32, 32}, {8, 16, 128, 128}, {8, 32, 128, 256}, {32, 128, 258, 1024}, {32, 258, 258, 4096},
};

constexpr unsigned reverseBits(unsigned code, int len) {
    unsigned res = 0;
    do {
        res |= code & 1;
        code >>= 1;
        res <<= 1;
    } while (--len > 0);
    return res >> 1;
}

// Canonical codes from the lengths (RFC 1951 3.2.2), bit-reversed for the
// LSB-first writer.
constexpr void genCodes(uint16_t* code, const uint16_t* len, int maxCode, const uint16_t* blCount) {
    uint16_t nextCode[kMaxBits + 1] = {};
    unsigned c = 0;
    for (int bits = 1; bits <= kMaxBits; ++bits) {
        c = (c + blCount[bits - 1]) << 1;
        nextCode[bits] = static_cast<uint16_t>(c);
    }
    for (int n = 0; n <= maxCode; ++n) {
        int l = len[n];
        if (l == 0) continue;
        code[n] = static_cast<uint16_t>(reverseBits(nextCode[l]++, l));
    }
}

struct Tables {
    uint8_t lengthCode[kMaxMatch - kMinMatch + 1] = {};  // match length - 3 -> length code
    uint8_t distCode[512] = {};                          // see distCodeOf()
    uint16_t baseLength[kLengthCodes] = {};
    uint16_t baseDist[kDCodes] = {};
    uint16_t staticLCode[kLCodes + 2] = {};
    uint16_t staticLLen[kLCodes + 2] = {};
    uint16_t staticDCode[kDCodes] = {};
    uint16_t staticDLen[kDCodes] = {};
};

constexpr Tables makeTables() {
    Tables t;
    int length = 0;
    int code = 0;
    for (code = 0; code < kLengthCodes - 1; ++code) {
        t.baseLength[code] = static_cast<uint16_t>(length);
        for (int n = 0; n < (1 << kExtraLBits[code]); ++n)
            t.lengthCode[length++] = static_cast<uint8_t>(code);
    }
    // Length 258 has a code of its own, without extra bits, though code 27's
    // extra bits could say it.
    t.lengthCode[length - 1] = static_cast<uint8_t>(code);
    t.baseLength[code] = static_cast<uint16_t>(length - 1);

    int dist = 0;
    for (code = 0; code < 16; ++code) {
        t.baseDist[code] = static_cast<uint16_t>(dist);
        for (int n = 0; n < (1 << kExtraDBits[code]); ++n) t.distCode[dist++] = static_cast<uint8_t>(code);
    }
    dist >>= 7;
    for (; code < kDCodes; ++code) {
        t.baseDist[code] = static_cast<uint16_t>(dist << 7);
        for (int n = 0; n < (1 << (kExtraDBits[code] - 7)); ++n) {
            t.distCode[256 + dist++] = static_cast<uint8_t>(code);
        }
    }

    uint16_t blCount[kMaxBits + 1] = {};
    int n = 0;
    for (; n <= 143; ++n) t.staticLLen[n] = 8, ++blCount[8];
    for (; n <= 255; ++n) t.staticLLen[n] = 9, ++blCount[9];
    for (; n <= 279; ++n) t.staticLLen[n] = 7, ++blCount[7];
    for (; n <= 287; ++n) t.staticLLen[n] = 8, ++blCount[8];
    genCodes(t.staticLCode, t.staticLLen, kLCodes + 1, blCount);
    for (n = 0; n < kDCodes; ++n) {
        t.staticDLen[n] = 5;
        t.staticDCode[n] = static_cast<uint16_t>(reverseBits(n, 5));
    }
    return t;
}

constexpr Tables kTables = makeTables();

// Distance code of dist - 1 (0..32767): the first 256 directly, the rest by
// their upper bits.
inline unsigned distCodeOf(unsigned dist) {
    return dist < 256 ? kTables.distCode[dist] : kTables.distCode[256 + (dist >> 7)];
}

inline uint16_t load16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline uint64_t load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Common prefix of a and b, at most kMaxMatch bytes; reads up to 263 bytes.
inline unsigned commonLength(const uint8_t* a, const uint8_t* b) {
    for (unsigned len = 0; len < kMaxMatch; len += 8) {
        uint64_t diff = load64(a + len) ^ load64(b + len);
        if (diff != 0) {
            if constexpr (std::endian::native == std::endian::little) {
                len += static_cast<unsigned>(std::countr_zero(diff)) >> 3;
            } else {
                len += static_cast<unsigned>(std::countl_zero(diff)) >> 3;
            }
            return std::min(len, kMaxMatch);
        }
    }
    return kMaxMatch;
}

// One Huffman tree being built: frequencies in, lengths and codes out. The
// arrays hold the alphabet followed by the internal nodes.
struct Tree {
    uint16_t* freq;
    uint16_t* code;
    uint16_t* len;
    uint16_t* dad;
    const uint16_t* staticLen;  // null for the code-length tree
    const uint8_t* extraBits;
    int extraBase;
    int elems;
    int maxLength;
    int maxCode;  // largest code with a nonzero frequency, set by buildTree
};

}  // namespace

struct Deflater::State {
    DeflateOutput* output;
    DeflateInput* input;
    uint16_t* fileType;
    uint16_t* fileMethod;
    int error;
    const char* errorText;

    int level;
    unsigned goodMatch;
    unsigned maxLazy;
    unsigned niceMatch;
    unsigned maxChainLength;

    unsigned strstart;   // position of the current string
    unsigned lookahead;  // valid bytes from strstart on
    long blockStart;     // window position of the block's first byte; negative once slid out
    bool eofile;
    unsigned insH;  // hash of the bytes at strstart, strstart + 1
    unsigned matchLength;
    unsigned matchStart;
    unsigned prevLength;  // lazy evaluation: the match found at strstart - 1
    unsigned prevMatch;
    bool matchAvailable;  // a literal at strstart - 1 is still to be emitted

    unsigned lastLit;     // symbols in the block
    unsigned lastDist;    // matches in the block
    uint64_t optLen;      // bits of the block with dynamic trees
    uint64_t staticLen;   // bits of the block with the fixed trees
    bool judged;          // the text/binary judgement is made
    bool nothingWritten;  // no block of this file is written yet

    uint64_t biBuf;    // bits not yet in outBuf, from the least significant up
    unsigned biValid;  // below 32 between calls
    size_t outCnt;
    int64_t bytesOut;

    uint16_t lFreq[kHeapSize], lCode[kHeapSize], lLen[kHeapSize], lDad[kHeapSize];
    uint16_t dFreq[2 * kDCodes + 1], dCode[2 * kDCodes + 1], dLen[2 * kDCodes + 1], dDad[2 * kDCodes + 1];
    uint16_t blFreq[2 * kBlCodes + 1], blCode[2 * kBlCodes + 1], blLen[2 * kBlCodes + 1],
        blDad[2 * kBlCodes + 1];
    Tree lDesc, dDesc, blDesc;
    int heap[kHeapSize];
    int heapLen;
    int heapMax;
    uint8_t depth[kHeapSize];
    uint16_t blCount[kMaxBits + 1];

    uint8_t lBuf[kLitBufSize];   // literal, or match length - 3
    uint16_t dBuf[kLitBufSize];  // 0 for a literal, else the match distance
    uint16_t head[kHashSize];    // latest position of each hash; 0 is an empty chain
    uint16_t prev[kWSize];       // earlier position of the same hash, by position mod 32768
    uint8_t outBuf[kOutBufSize + 8];
    uint8_t window[kWindowSize + kWindowSlack];

    void setError(int code, const char* text) {
        if (error != 0) return;
        error = code;
        errorText = text;
    }

    // --- output ---
    void writeOut(const uint8_t* data, size_t n) {
        if (error == 0 && !output->write(data, n)) setError(kZipLogic, "write error on zip file");
        bytesOut += static_cast<int64_t>(n);
    }
    void flushFull() {
        writeOut(outBuf, kOutBufSize);
        outCnt -= kOutBufSize;
        std::memmove(outBuf, outBuf + kOutBufSize, outCnt);
    }
    void flushRest() {
        if (outCnt != 0) writeOut(outBuf, outCnt);
        outCnt = 0;
    }
    void putByte(uint8_t b) {
        outBuf[outCnt++] = b;
        if (outCnt >= kOutBufSize) flushFull();
    }
    void putBytes(const uint8_t* p, size_t n) {
        while (n > 0) {
            size_t k = std::min(n, kOutBufSize - outCnt);
            std::memcpy(outBuf + outCnt, p, k);
            outCnt += k;
            p += k;
            n -= k;
            if (outCnt >= kOutBufSize) flushFull();
        }
    }
    // length <= 32; biValid < 32 before and after.
    void sendBits(uint32_t value, unsigned length) {
        biBuf |= static_cast<uint64_t>(value) << biValid;
        biValid += length;
        if (biValid >= 32) {
            uint32_t word = static_cast<uint32_t>(biBuf);
            for (int i = 0; i < 4; ++i) outBuf[outCnt + i] = static_cast<uint8_t>(word >> (8 * i));
            outCnt += 4;
            if (outCnt >= kOutBufSize) flushFull();
            biBuf >>= 32;
            biValid -= 32;
        }
    }
    // Pads to a byte boundary.
    void biWindup() {
        while (biValid > 0) {
            putByte(static_cast<uint8_t>(biBuf));
            biBuf >>= 8;
            biValid = biValid > 8 ? biValid - 8 : 0;
        }
        biBuf = 0;
    }

    // --- trees ---
    void initBlock() {
        std::fill_n(lFreq, kLCodes, 0);
        std::fill_n(dFreq, kDCodes, 0);
        std::fill_n(blFreq, kBlCodes, 0);
        lFreq[kEndBlock] = 1;
        optLen = staticLen = 0;
        lastLit = lastDist = 0;
    }
    bool smaller(const Tree& t, int n, int m) const {
        return t.freq[n] < t.freq[m] || (t.freq[n] == t.freq[m] && depth[n] <= depth[m]);
    }
    void pqDownHeap(const Tree& t, int k) {
        int v = heap[k];
        int j = k << 1;
        while (j <= heapLen) {
            if (j < heapLen && smaller(t, heap[j + 1], heap[j])) ++j;
            if (smaller(t, v, heap[j])) break;
            heap[k] = heap[j];
            k = j;
            j <<= 1;
        }
        heap[k] = v;
    }
    void genBitlen(Tree& t);
    void buildTree(Tree& t);
    void scanTree(const Tree& t);
    void sendTree(const Tree& t);
    int buildBlTree();
    void sendAllTrees(int lcodes, int dcodes, int blcodes);
    void compressBlock(const uint16_t* lcode, const uint16_t* llen, const uint16_t* dcode,
                       const uint16_t* dlen);
    void judgeText();
    void flushBlock(bool eof);

    // Returns true when the block is to end here.
    bool tallyLit(uint8_t c) {
        lBuf[lastLit] = c;
        dBuf[lastLit++] = 0;
        ++lFreq[c];
        return blockFull();
    }
    bool tallyDist(unsigned dist, unsigned lc) {
        lBuf[lastLit] = static_cast<uint8_t>(lc);
        dBuf[lastLit++] = static_cast<uint16_t>(dist);
        ++lastDist;
        ++lFreq[kTables.lengthCode[lc] + kLiterals + 1];
        ++dFreq[distCodeOf(dist - 1)];
        return blockFull();
    }
    bool blockFull() {
        // Well-compressing data end their block early, so that the next
        // block's trees can follow a change in the data.
        if (level > 2 && (lastLit & 0xfff) == 0) {
            uint64_t outLength = static_cast<uint64_t>(lastLit) * 8;
            uint64_t inLength = static_cast<uint64_t>(static_cast<long>(strstart) - blockStart);
            for (int d = 0; d < kDCodes; ++d)
                outLength += static_cast<uint64_t>(dFreq[d]) * (5 + kExtraDBits[d]);
            outLength >>= 3;
            if (lastDist < lastLit / 2 && outLength < inLength / 2) return true;
        }
        return lastLit == kLitBufSize - 1 || lastDist == kDistBufSize;
    }

    // --- matching ---
    unsigned insertString(unsigned pos) {
        insH = ((insH << kHashShift) ^ window[pos + kMinMatch - 1]) & kHashMask;
        unsigned h = head[insH];
        prev[pos & kWMask] = static_cast<uint16_t>(h);
        head[insH] = static_cast<uint16_t>(pos);
        return h;
    }
    unsigned longestMatch(unsigned curMatch);
    bool fillWindow();
    void deflateFast();
    void deflateSlow();
};

void Deflater::State::genBitlen(Tree& t) {
    const uint16_t* stree = t.staticLen;
    for (int bits = 0; bits <= kMaxBits; ++bits) blCount[bits] = 0;

    // Lengths from the root down (the heap's tail holds the nodes in
    // decreasing frequency, parents before children); longer ones are cut.
    t.len[heap[heapMax]] = 0;
    int overflow = 0;
    int h;
    for (h = heapMax + 1; h < kHeapSize; ++h) {
        int n = heap[h];
        int bits = t.len[t.dad[n]] + 1;
        if (bits > t.maxLength) bits = t.maxLength, ++overflow;
        t.len[n] = static_cast<uint16_t>(bits);
        if (n > t.maxCode) continue;  // not a leaf
        ++blCount[bits];
        int xbits = n >= t.extraBase ? t.extraBits[n - t.extraBase] : 0;
        uint64_t f = t.freq[n];
        optLen += f * static_cast<unsigned>(bits + xbits);
        if (stree) staticLen += f * static_cast<unsigned>(stree[n] + xbits);
    }
    if (overflow == 0) return;

    // Each overflowing leaf moves down under a shorter one: the shorter leaf
    // becomes an internal node with two children one level lower.
    do {
        int bits = t.maxLength - 1;
        while (blCount[bits] == 0) --bits;
        --blCount[bits];
        blCount[bits + 1] += 2;
        --blCount[t.maxLength];
        overflow -= 2;
    } while (overflow > 0);

    // Hand the lengths out again by decreasing frequency.
    for (int bits = t.maxLength; bits != 0; --bits) {
        int n = blCount[bits];
        while (n != 0) {
            int m = heap[--h];
            if (m > t.maxCode) continue;
            if (t.len[m] != bits) {
                optLen += (static_cast<uint64_t>(bits) - t.len[m]) * t.freq[m];
                t.len[m] = static_cast<uint16_t>(bits);
            }
            --n;
        }
    }
}

void Deflater::State::buildTree(Tree& t) {
    int maxCode = -1;
    heapLen = 0;
    heapMax = kHeapSize;
    for (int n = 0; n < t.elems; ++n) {
        if (t.freq[n] != 0) {
            heap[++heapLen] = maxCode = n;
            depth[n] = 0;
        } else {
            t.len[n] = 0;
        }
    }
    // A decoder wants at least two codes: force one or two with frequency 1,
    // at the cost of one bit more than the estimate counts.
    while (heapLen < 2) {
        int node = heap[++heapLen] = (maxCode < 2 ? ++maxCode : 0);
        t.freq[node] = 1;
        depth[node] = 0;
        --optLen;
        if (t.staticLen) staticLen -= t.staticLen[node];
    }
    t.maxCode = maxCode;

    for (int n = heapLen / 2; n >= 1; --n) pqDownHeap(t, n);

    // Join the two least frequent nodes until one is left; internal nodes are
    // numbered from the alphabet size on.
    int node = t.elems;
    do {
        int n = heap[1];
        heap[1] = heap[heapLen--];
        pqDownHeap(t, 1);
        int m = heap[1];
        heap[--heapMax] = n;
        heap[--heapMax] = m;
        t.freq[node] = static_cast<uint16_t>(t.freq[n] + t.freq[m]);
        depth[node] = static_cast<uint8_t>(std::max(depth[n], depth[m]) + 1);
        t.dad[n] = t.dad[m] = static_cast<uint16_t>(node);
        heap[1] = node++;
        pqDownHeap(t, 1);
    } while (heapLen >= 2);
    heap[--heapMax] = heap[1];

    genBitlen(t);
    genCodes(t.code, t.len, maxCode, blCount);
}

// Counts the code-length symbols the tree will be sent with: runs of a
// nonzero length as 16 (after the length itself), zeros as 17 or 18.
void Deflater::State::scanTree(const Tree& t) {
    int prevlen = -1;
    int nextlen = t.len[0];
    int count = 0;
    int maxCount = 7;
    int minCount = 4;
    if (nextlen == 0) maxCount = 138, minCount = 3;
    for (int n = 0; n <= t.maxCode; ++n) {
        int curlen = nextlen;
        nextlen = n < t.maxCode ? t.len[n + 1] : 0xffff;
        if (++count < maxCount && curlen == nextlen) {
            continue;
        } else if (count < minCount) {
            blFreq[curlen] = static_cast<uint16_t>(blFreq[curlen] + count);
        } else if (curlen != 0) {
            if (curlen != prevlen) ++blFreq[curlen];
            ++blFreq[kRep3To6];
        } else if (count <= 10) {
            ++blFreq[kRepZero3To10];
        } else {
            ++blFreq[kRepZero11To138];
        }
        count = 0;
        prevlen = curlen;
        if (nextlen == 0) {
            maxCount = 138, minCount = 3;
        } else if (curlen == nextlen) {
            maxCount = 6, minCount = 3;
        } else {
            maxCount = 7, minCount = 4;
        }
    }
}

void Deflater::State::sendTree(const Tree& t) {
    auto sendCode = [this](int c) { sendBits(blCode[c], blLen[c]); };
    int prevlen = -1;
    int nextlen = t.len[0];
    int count = 0;
    int maxCount = 7;
    int minCount = 4;
    if (nextlen == 0) maxCount = 138, minCount = 3;
    for (int n = 0; n <= t.maxCode; ++n) {
        int curlen = nextlen;
        nextlen = n < t.maxCode ? t.len[n + 1] : 0xffff;
        if (++count < maxCount && curlen == nextlen) {
            continue;
        } else if (count < minCount) {
            do sendCode(curlen);
            while (--count != 0);
        } else if (curlen != 0) {
            if (curlen != prevlen) {
                sendCode(curlen);
                --count;
            }
            sendCode(kRep3To6);
            sendBits(count - 3, 2);
        } else if (count <= 10) {
            sendCode(kRepZero3To10);
            sendBits(count - 3, 3);
        } else {
            sendCode(kRepZero11To138);
            sendBits(count - 11, 7);
        }
        count = 0;
        prevlen = curlen;
        if (nextlen == 0) {
            maxCount = 138, minCount = 3;
        } else if (curlen == nextlen) {
            maxCount = 6, minCount = 3;
        } else {
            maxCount = 7, minCount = 4;
        }
    }
}

// Builds the code-length tree; returns the index in kBlOrder of the last
// code-length code to send (at least 3, so that four are sent).
int Deflater::State::buildBlTree() {
    scanTree(lDesc);
    scanTree(dDesc);
    buildTree(blDesc);
    int maxBlIndex;
    for (maxBlIndex = kBlCodes - 1; maxBlIndex >= 3; --maxBlIndex) {
        if (blLen[kBlOrder[maxBlIndex]] != 0) break;
    }
    // HLIT, HDIST, HCLEN and 3 bits per code-length code.
    optLen += 3 * (static_cast<uint64_t>(maxBlIndex) + 1) + 5 + 5 + 4;
    return maxBlIndex;
}

void Deflater::State::sendAllTrees(int lcodes, int dcodes, int blcodes) {
    sendBits(lcodes - 257, 5);
    sendBits(dcodes - 1, 5);
    sendBits(blcodes - 4, 4);
    for (int rank = 0; rank < blcodes; ++rank) sendBits(blLen[kBlOrder[rank]], 3);
    sendTree(lDesc);
    sendTree(dDesc);
}

void Deflater::State::compressBlock(const uint16_t* lcode, const uint16_t* llen, const uint16_t* dcode,
                                    const uint16_t* dlen) {
    for (unsigned i = 0; i < lastLit; ++i) {
        unsigned lc = lBuf[i];
        unsigned dist = dBuf[i];
        if (dist == 0) {
            sendBits(lcode[lc], llen[lc]);
            continue;
        }
        // Length symbol and its extra bits (at most 15 + 5), then the distance
        // symbol and its extra bits (at most 15 + 13), each in one call.
        unsigned code = kTables.lengthCode[lc];
        unsigned sym = code + kLiterals + 1;
        unsigned extra = kExtraLBits[code];
        sendBits(lcode[sym] | ((lc - kTables.baseLength[code]) << llen[sym]), llen[sym] + extra);
        --dist;
        code = distCodeOf(dist);
        extra = kExtraDBits[code];
        sendBits(dcode[code] | ((dist - kTables.baseDist[code]) << dlen[code]), dlen[code] + extra);
    }
    sendBits(lcode[kEndBlock], llen[kEndBlock]);
}

void Deflater::State::judgeText() {
    unsigned ascii = 0;
    unsigned bin = 0;
    for (int n = 0; n < 7; ++n) bin += lFreq[n];
    for (int n = 7; n < 128; ++n) ascii += lFreq[n];
    for (int n = 128; n < kLiterals; ++n) bin += lFreq[n];
    *fileType = bin > (ascii >> 2) ? kBinary : kText;
}

// Ends the block [blockStart, strstart) in its cheapest form.
void Deflater::State::flushBlock(bool eof) {
    const uint8_t* buf = blockStart >= 0 ? window + blockStart : nullptr;
    uint64_t storedLen = static_cast<uint64_t>(static_cast<long>(strstart) - blockStart);

    if (!judged) {
        judgeText();
        judged = true;
    }
    buildTree(lDesc);
    buildTree(dDesc);
    int maxBlIndex = buildBlTree();

    // Costs in whole bytes, with the 3-bit block header.
    uint64_t optLenB = (optLen + 3 + 7) >> 3;
    uint64_t staticLenB = (staticLen + 3 + 7) >> 3;
    if (staticLenB <= optLenB) optLenB = staticLenB;

    // The raw form needs the block's bytes, which are gone once the window
    // slid past its start.
    if (storedLen <= optLenB && eof && nothingWritten && buf != nullptr) {
        putBytes(buf, storedLen);
        *fileMethod = 0;
    } else if (storedLen + 4 <= optLenB && buf != nullptr) {
        sendBits((kStoredBlock << 1) + eof, 3);
        biWindup();
        putByte(static_cast<uint8_t>(storedLen));
        putByte(static_cast<uint8_t>(storedLen >> 8));
        putByte(static_cast<uint8_t>(~storedLen));
        putByte(static_cast<uint8_t>(~storedLen >> 8));
        putBytes(buf, storedLen);
    } else if (staticLenB == optLenB) {
        sendBits((kStaticTrees << 1) + eof, 3);
        compressBlock(kTables.staticLCode, kTables.staticLLen, kTables.staticDCode, kTables.staticDLen);
    } else {
        sendBits((kDynTrees << 1) + eof, 3);
        sendAllTrees(lDesc.maxCode + 1, dDesc.maxCode + 1, maxBlIndex + 1);
        compressBlock(lCode, lLen, dCode, dLen);
    }
    initBlock();
    if (eof) biWindup();
    blockStart = strstart;
    nothingWritten = false;
}

// Zlib's search: candidates from the hash chain, newest first; the first may
// lie kMaxDist back, later ones must lie nearer. Returns the best length,
// never more than the bytes ahead; sets matchStart when it beats prevLength.
inline unsigned Deflater::State::longestMatch(unsigned curMatch) {
    unsigned chainLength = maxChainLength;
    const uint8_t* scan = window + strstart;
    unsigned bestLen = prevLength;
    unsigned nice = niceMatch;
    unsigned limit = strstart > kMaxDist ? strstart - kMaxDist : 0;

    if (prevLength >= goodMatch) chainLength >>= 2;
    // The bytes past the input are an earlier file's: a match reaching the
    // end stops the search, and its length is cut below.
    if (nice > lookahead) nice = lookahead;

    uint16_t scanEnd = load16(scan + bestLen - 1);
    uint16_t scanStart = load16(scan);
    do {
        const uint8_t* match = window + curMatch;
        // Only a candidate that agrees at the current best length can beat it.
        if (load16(match + bestLen - 1) != scanEnd || load16(match) != scanStart) continue;
        unsigned len = commonLength(scan, match);
        if (len > bestLen) {
            matchStart = curMatch;
            bestLen = len;
            if (len >= nice) break;
            scanEnd = load16(scan + bestLen - 1);
        }
    } while ((curMatch = prev[curMatch & kWMask]) > limit && --chainLength != 0);

    return bestLen <= lookahead ? bestLen : lookahead;
}

// Slides the window when strstart reaches 65274 and reads until 262 bytes
// are ahead or the input ends. False on a read error.
bool Deflater::State::fillWindow() {
    do {
        unsigned more = kWindowSize - lookahead - strstart;
        if (strstart >= kWSize + kMaxDist) {
            std::memcpy(window, window + kWSize, kWSize - more);
            matchStart -= kWSize;
            strstart -= kWSize;
            blockStart -= static_cast<long>(kWSize);
            for (unsigned n = 0; n < kHashSize; ++n) head[n] = head[n] >= kWSize ? head[n] - kWSize : 0;
            for (unsigned n = 0; n < kWSize; ++n) prev[n] = prev[n] >= kWSize ? prev[n] - kWSize : 0;
            more += kWSize;
        }
        if (eofile) break;
        ptrdiff_t n = input->read(window + strstart + lookahead, more);
        if (n < 0) {
            setError(kZipRead, "");
            return false;
        }
        if (n == 0) {
            eofile = true;
            break;
        }
        lookahead += static_cast<unsigned>(std::min<size_t>(static_cast<size_t>(n), more));
    } while (lookahead < kMinLookahead);
    return true;
}

// Levels 1-3: every match is taken at once.
void Deflater::State::deflateFast() {
    for (;;) {
        if (lookahead < kMinLookahead) {
            if (!fillWindow()) return;
            if (lookahead == 0) break;
        }
        unsigned hashHead = 0;
        if (lookahead >= kMinMatch) hashHead = insertString(strstart);
        if (hashHead != 0 && strstart - hashHead <= kMaxDist) matchLength = longestMatch(hashHead);

        bool endBlock;
        if (matchLength >= kMinMatch) {
            endBlock = tallyDist(strstart - matchStart, matchLength - kMinMatch);
            lookahead -= matchLength;
            if (matchLength <= maxLazy && lookahead >= kMinMatch) {
                --matchLength;
                do insertString(++strstart);
                while (--matchLength != 0);
                ++strstart;
            } else {
                // A long match is skipped over; its strings stay out of the hash.
                strstart += matchLength;
                matchLength = 0;
                insH = ((window[strstart] << kHashShift) ^ window[strstart + 1]) & kHashMask;
            }
        } else {
            endBlock = tallyLit(window[strstart]);
            --lookahead;
            ++strstart;
        }
        if (endBlock) {
            flushBlock(false);
            if (error != 0) return;
        }
    }
    flushBlock(true);
}

// Levels 4-9: a match is taken only when the next position has no longer one.
void Deflater::State::deflateSlow() {
    for (;;) {
        if (lookahead < kMinLookahead) {
            if (!fillWindow()) return;
            if (lookahead == 0) break;
        }
        unsigned hashHead = 0;
        if (lookahead >= kMinMatch) hashHead = insertString(strstart);

        prevLength = matchLength;
        prevMatch = matchStart;
        matchLength = kMinMatch - 1;
        if (hashHead != 0 && prevLength < maxLazy && strstart - hashHead <= kMaxDist) {
            matchLength = longestMatch(hashHead);
            if (matchLength == kMinMatch && strstart - matchStart > kTooFar) matchLength = kMinMatch - 1;
        }

        if (prevLength >= kMinMatch && matchLength <= prevLength) {
            unsigned maxInsert = strstart + lookahead - kMinMatch;
            bool endBlock = tallyDist(strstart - 1 - prevMatch, prevLength - kMinMatch);
            // The match began at strstart - 1; insert its strings that have
            // three bytes of input.
            lookahead -= prevLength - 1;
            prevLength -= 2;
            do {
                if (++strstart <= maxInsert) insertString(strstart);
            } while (--prevLength != 0);
            matchAvailable = false;
            matchLength = kMinMatch - 1;
            ++strstart;
            if (endBlock) {
                flushBlock(false);
                if (error != 0) return;
            }
        } else if (matchAvailable) {
            if (tallyLit(window[strstart - 1])) {
                flushBlock(false);
                if (error != 0) return;
            }
            ++strstart;
            --lookahead;
        } else {
            matchAvailable = true;
            ++strstart;
            --lookahead;
        }
    }
    if (matchAvailable) {
        tallyLit(window[strstart - 1]);
        matchAvailable = false;
    }
    flushBlock(true);
}

Deflater::Deflater() : s_(std::make_unique<State>()) {
    State& s = *s_;
    s.lDesc = {s.lFreq,     s.lCode,       s.lLen,  s.lDad,   kTables.staticLLen,
               kExtraLBits, kLiterals + 1, kLCodes, kMaxBits, 0};
    s.dDesc = {s.dFreq, s.dCode, s.dLen, s.dDad, kTables.staticDLen, kExtraDBits, 0, kDCodes, kMaxBits, 0};
    s.blDesc = {s.blFreq, s.blCode, s.blLen, s.blDad, nullptr, kExtraBlBits, 0, kBlCodes, kMaxBlBits, 0};
    s.errorText = "";
}

Deflater::~Deflater() = default;

void Deflater::bi_init(DeflateOutput* output) {
    State& s = *s_;
    s.output = output;
    s.biBuf = 0;
    s.biValid = 0;
    s.outCnt = 0;
    s.bytesOut = 0;
    s.error = 0;
    s.errorText = "";
}

void Deflater::ct_init(uint16_t* attribute, uint16_t* method) {
    State& s = *s_;
    s.fileType = attribute;
    s.fileMethod = method;
    s.judged = false;
    s.nothingWritten = true;
    s.initBlock();
}

int Deflater::lm_init(int level, uint16_t* flags, DeflateInput* input) {
    State& s = *s_;
    if (level < 1 || level > 9) {
        s.setError(kZipLogic, "bad pack level");
        return s.error;
    }
    const LevelConfig& c = kLevels[level];
    s.level = level;
    s.goodMatch = c.goodMatch;
    s.maxLazy = c.maxLazy;
    s.niceMatch = c.niceMatch;
    s.maxChainLength = c.maxChainLength;
    if (level == 1) *flags |= 4;
    if (level == 9) *flags |= 2;

    s.input = input;
    std::fill_n(s.head, kHashSize, 0);
    s.strstart = 0;
    s.blockStart = 0;
    s.lookahead = 0;
    s.eofile = false;
    s.matchStart = 0;
    s.matchLength = s.prevLength = kMinMatch - 1;
    s.prevMatch = 0;
    s.matchAvailable = false;
    if (!s.fillWindow()) return s.error;
    s.insH = ((s.window[0] << kHashShift) ^ s.window[1]) & kHashMask;
    return 0;
}

int64_t Deflater::deflate() {
    State& s = *s_;
    if (s.error != 0) return -1;
    *s.fileMethod = 8;
    if (s.level <= 3) {
        s.deflateFast();
    } else {
        s.deflateSlow();
    }
    s.flushRest();
    return s.error != 0 ? -1 : s.bytesOut;
}

int Deflater::errorCode() const {
    return s_->error;
}

const char* Deflater::errorText() const {
    return s_->errorText;
}

}  // namespace ruva

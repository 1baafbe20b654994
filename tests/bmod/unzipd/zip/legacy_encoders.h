// Small encoders for the old ZIP methods (shrink, reduce, implode), for
// building test streams the provided archives lack. They
// favour clarity over ratio; each shrink and implode stream is checked by
// `unzip -t` before a test relies on it, so an encoder sharing a decoder's
// misreading cannot hide it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <numeric>
#include <string>
#include <unordered_map>
#include <vector>

namespace ruva::test {

using Bytes = std::vector<uint8_t>;

inline uint32_t crc32Of(const Bytes& data) {
    static const auto table = [] {
        std::vector<uint32_t> t(256);
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    uint32_t c = 0xFFFFFFFF;
    for (uint8_t b : data) c = table[(c ^ b) & 0xFF] ^ (c >> 8);
    return ~c;
}

// Bits LSB-first, as all the ZIP methods read them.
class BitWriter {
public:
    void put(uint32_t value, unsigned n) {
        for (unsigned i = 0; i < n; ++i) {
            if (nbits_ % 8 == 0) out_.push_back(0);
            out_.back() |= uint8_t((value >> i & 1) << (nbits_ % 8));
            ++nbits_;
        }
    }
    // A code sent most significant bit first (Shannon-Fano codes).
    void putMsbFirst(uint32_t code, unsigned n) {
        while (n--) put(code >> n & 1, 1);
    }
    void byte(uint8_t b) { put(b, 8); }
    Bytes& bytes() { return out_; }

private:
    Bytes out_;
    size_t nbits_ = 0;
};

// ---- Shrink (method 1) ------------------------------------------------------

// LZW with codes of 9-13 bits. `limit` caps the code table below 8192 so
// that small inputs reach the partial clear (256, 2) that a full table
// triggers; the decoder does not care why a clear comes.
//
// The partial clear keeps the decoder's view: when the encoder sends code w
// it has not yet made the entry (w, next byte), since the decoder makes it
// only on reading the following code. So the clear is sent after w and
// before that entry, which then goes into the lowest free code. `clears`,
// when given, receives the number of partial clears sent.
inline Bytes shrinkEncode(const Bytes& in, unsigned limit = 8192, unsigned* clears = nullptr) {
    constexpr unsigned kCodes = 8192, kFirst = 257;
    constexpr uint16_t kFree = 0xFFFF;
    BitWriter bw;
    if (in.empty()) return {};
    std::vector<uint16_t> prefix(kCodes, kFree);
    std::vector<uint8_t> suffix(kCodes, 0);
    std::unordered_map<uint32_t, uint16_t> dict;  // prefix << 8 | byte -> code
    unsigned codeSize = 9;
    auto emit = [&](unsigned code) {
        while (code >= (1u << codeSize)) {
            bw.put(256, codeSize);
            bw.put(1, codeSize);
            ++codeSize;
        }
        bw.put(code, codeSize);
    };
    auto lowestFree = [&]() -> unsigned {
        for (unsigned c = kFirst; c < limit; ++c)
            if (prefix[c] == kFree) return c;
        return kCodes;
    };
    auto partialClear = [&] {
        std::vector<bool> parent(kCodes, false);
        for (unsigned c = kFirst; c < kCodes; ++c)
            if (prefix[c] != kFree && prefix[c] != c) parent[prefix[c]] = true;
        for (unsigned c = kFirst; c < kCodes; ++c) {
            if (prefix[c] == kFree || parent[c]) continue;
            auto it = dict.find(uint32_t(prefix[c]) << 8 | suffix[c]);
            if (it != dict.end() && it->second == c) dict.erase(it);
            prefix[c] = kFree;
        }
    };
    unsigned w = in[0];
    for (size_t i = 1; i < in.size(); ++i) {
        uint32_t key = uint32_t(w) << 8 | in[i];
        auto it = dict.find(key);
        if (it != dict.end()) {
            w = it->second;
            continue;
        }
        emit(w);
        unsigned f = lowestFree();
        if (f == kCodes) {
            bw.put(256, codeSize);
            bw.put(2, codeSize);
            if (clears) ++*clears;
            partialClear();
            f = lowestFree();
        }
        if (f != kCodes) {
            prefix[f] = uint16_t(w);
            suffix[f] = in[i];
            dict[key] = uint16_t(f);
        }
        w = in[i];
    }
    emit(w);
    return bw.bytes();
}

// ---- LZ77 matching shared by implode and reduce ----------------------------

// Greedy longest match over a window that, before the first byte, holds
// zeros: a stream may reach back before its start, and the decoder reads
// zeros there.
class Matcher {
public:
    Matcher(const Bytes& in, size_t window) : window_(window) {
        buf_.assign(window, 0);
        buf_.insert(buf_.end(), in.begin(), in.end());
        head_.assign(1 << 16, -1);
        chain_.assign(buf_.size(), -1);
        for (size_t p = 0; p < window_; ++p) insert(p);
    }
    // Best (length, distance) at input position pos, lengths in
    // [minLen, maxLen], or length 0.
    std::pair<size_t, size_t> find(size_t pos, size_t minLen, size_t maxLen) const {
        size_t p = pos + window_, best = 0, bestDist = 0;
        if (p + 3 > buf_.size()) return {0, 0};
        maxLen = std::min(maxLen, buf_.size() - p);
        int tries = 256;
        for (long q = head_[hash(p)]; q >= 0 && tries--; q = chain_[q]) {
            size_t d = p - size_t(q);
            if (d > window_) break;
            size_t n = 0;
            while (n < maxLen && buf_[size_t(q) + n] == buf_[p + n]) ++n;
            if (n > best) {
                best = n;
                bestDist = d;
                if (n == maxLen) break;
            }
        }
        if (best < minLen) return {0, 0};
        return {best, bestDist};
    }
    void advance(size_t pos, size_t n) {
        for (size_t k = 0; k < n; ++k) insert(pos + window_ + k);
    }

private:
    unsigned hash(size_t p) const { return (buf_[p] * 251u + buf_[p + 1] * 13u + buf_[p + 2]) & 0xFFFF; }
    void insert(size_t p) {
        if (p + 3 > buf_.size()) return;
        unsigned h = hash(p);
        chain_[p] = head_[h];
        head_[h] = long(p);
    }
    size_t window_;
    Bytes buf_;
    std::vector<long> head_, chain_;
};

// ---- Implode (method 6) -----------------------------------------------------

// Code lengths per symbol; empty means uniform (8 bits for 256 literals, 6
// for 64 lengths or distances).
struct ImplodeTrees {
    std::vector<uint8_t> literal, length, distance;
};

// The stored form: count byte (bytes - 1), then (repeat - 1) << 4 |
// (length - 1) for runs of up to 16 equal lengths.
inline Bytes implodeTreeBytes(const std::vector<uint8_t>& lengths) {
    Bytes runs;
    for (size_t i = 0; i < lengths.size();) {
        size_t j = i;
        while (j < lengths.size() && j - i < 16 && lengths[j] == lengths[i]) ++j;
        runs.push_back(uint8_t((j - i - 1) << 4 | (lengths[i] - 1)));
        i = j;
    }
    Bytes out{uint8_t(runs.size() - 1)};
    out.insert(out.end(), runs.begin(), runs.end());
    return out;
}

// Shannon-Fano codes as the format's note builds them: lengths sorted
// ascending (stable), codes counted up from the longest in steps of
// 2^(16 - length), each code then being the top `length` bits.
inline std::vector<uint32_t> shannonFanoCodes(const std::vector<uint8_t>& lengths) {
    std::vector<size_t> order(lengths.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return lengths[a] < lengths[b]; });
    std::vector<uint32_t> codes(lengths.size());
    uint32_t code = 0, increment = 0;
    unsigned lastLength = 0;
    for (size_t k = order.size(); k-- > 0;) {
        code += increment;
        unsigned len = lengths[order[k]];
        if (len != lastLength) {
            lastLength = len;
            increment = 1u << (16 - len);
        }
        codes[order[k]] = (code & 0xFFFF) >> (16 - len);
    }
    return codes;
}

struct ImplodeOptions {
    bool literalOnly = false;
    ImplodeTrees trees;
};

// Flags 0x02 (8 KiB window) and 0x04 (literal tree) as in the local header.
inline Bytes implodeEncode(const Bytes& in, uint16_t flags, const ImplodeOptions& opt = {}) {
    const bool bigWindow = flags & 0x02, literalTree = flags & 0x04;
    const unsigned lowBits = bigWindow ? 7 : 6;
    const size_t minMatch = literalTree ? 3 : 2;
    auto orUniform = [](const std::vector<uint8_t>& v, size_t n, uint8_t len) {
        return v.empty() ? std::vector<uint8_t>(n, len) : v;
    };
    auto litLen = orUniform(opt.trees.literal, 256, 8);
    auto lenLen = orUniform(opt.trees.length, 64, 6);
    auto distLen = orUniform(opt.trees.distance, 64, 6);
    auto litCode = shannonFanoCodes(litLen), lenCode = shannonFanoCodes(lenLen),
         distCode = shannonFanoCodes(distLen);

    Bytes out;
    auto append = [&](const Bytes& b) { out.insert(out.end(), b.begin(), b.end()); };
    if (literalTree) append(implodeTreeBytes(litLen));
    append(implodeTreeBytes(lenLen));
    append(implodeTreeBytes(distLen));

    BitWriter bw;
    Matcher m(in, bigWindow ? 8192 : 4096);
    for (size_t pos = 0; pos < in.size();) {
        auto [len, dist] = opt.literalOnly ? std::pair<size_t, size_t>{0, 0}
                                           : m.find(pos, std::max<size_t>(minMatch, 3), minMatch + 63 + 255);
        if (len == 0) {
            bw.put(1, 1);
            if (literalTree)
                bw.putMsbFirst(litCode[in[pos]], litLen[in[pos]]);
            else
                bw.byte(in[pos]);
            m.advance(pos, 1);
            ++pos;
            continue;
        }
        size_t d = dist - 1, l = len - minMatch;
        bw.put(0, 1);
        bw.put(uint32_t(d & ((1u << lowBits) - 1)), lowBits);
        size_t high = d >> lowBits;
        bw.putMsbFirst(distCode[high], distLen[high]);
        size_t lc = std::min<size_t>(l, 63);
        bw.putMsbFirst(lenCode[lc], lenLen[lc]);
        if (lc == 63) bw.byte(uint8_t(l - 63));
        m.advance(pos, len);
        pos += len;
    }
    append(bw.bytes());
    return out;
}

// ---- Reduce (methods 2-5) ---------------------------------------------------

// The escape layer: bytes, 144 0 for a literal 144, and 144 V [extra] D for
// a match (V: high distance bits and length; D: low distance byte).
inline Bytes reduceEscape(const Bytes& in, int factor, bool matches = true) {
    const unsigned shift = 8 - unsigned(factor), mask = 0xFFu >> factor;
    const size_t maxDist = size_t(256) << factor, maxLen = mask + 255 + 3;
    Bytes out;
    Matcher m(in, maxDist);
    for (size_t pos = 0; pos < in.size();) {
        auto [len, dist] = matches ? m.find(pos, 3, maxLen) : std::pair<size_t, size_t>{0, 0};
        size_t d = dist - 1, l = len - 3;
        unsigned v = unsigned(d >> 8) << shift | unsigned(std::min<size_t>(l, mask));
        if (len == 0 || v == 0) {  // V 0 would read as a literal 144
            out.push_back(in[pos]);
            if (in[pos] == 144) out.push_back(0);
            m.advance(pos, 1);
            ++pos;
            continue;
        }
        out.push_back(144);
        out.push_back(uint8_t(v));
        if (l >= mask) out.push_back(uint8_t(l - mask));
        out.push_back(uint8_t(d & 0xFF));
        m.advance(pos, len);
        pos += len;
    }
    return out;
}

// The follower layer over an escaped stream. With maxFollowers 0 every set
// is empty: 192 zero bytes of set sizes, then the bytes as they are.
inline Bytes reduceFollowers(const Bytes& escaped, unsigned maxFollowers) {
    std::vector<std::vector<uint8_t>> sets(256);
    if (maxFollowers) {
        std::vector<std::map<uint8_t, size_t>> freq(256);
        unsigned last = 0;
        for (uint8_t c : escaped) {
            ++freq[last][c];
            last = c;
        }
        for (unsigned x = 0; x < 256; ++x) {
            std::vector<std::pair<size_t, uint8_t>> byCount;
            for (auto [c, n] : freq[x]) byCount.push_back({n, c});
            std::stable_sort(byCount.begin(), byCount.end(),
                             [](auto a, auto b) { return a.first > b.first; });
            for (size_t k = 0; k < byCount.size() && k < maxFollowers; ++k)
                sets[x].push_back(byCount[k].second);
        }
    }
    BitWriter bw;
    for (int x = 255; x >= 0; --x) {
        bw.put(uint32_t(sets[x].size()), 6);
        for (uint8_t c : sets[x]) bw.byte(c);
    }
    unsigned last = 0;
    for (uint8_t c : escaped) {
        const auto& s = sets[last];
        if (s.empty()) {
            bw.byte(c);
        } else {
            auto it = std::find(s.begin(), s.end(), c);
            if (it == s.end()) {
                bw.put(1, 1);
                bw.byte(c);
            } else {
                unsigned bits = 1;
                while ((1u << bits) < s.size()) ++bits;
                bw.put(0, 1);
                bw.put(uint32_t(it - s.begin()), bits);
            }
        }
        last = c;
    }
    return bw.bytes();
}

inline Bytes reduceEncode(const Bytes& in, int factor, unsigned maxFollowers) {
    return reduceFollowers(reduceEscape(in, factor), maxFollowers);
}

}  // namespace ruva::test

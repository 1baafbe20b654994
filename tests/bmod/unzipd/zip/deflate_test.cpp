#include "bmod/unzipd/zip/deflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/html_corpus.h"

namespace ruva {
namespace {

// --- ends of the compressor ---

class MemInput : public DeflateInput {
public:
    // chunk limits each read, as a reader of pipes or short files may.
    explicit MemInput(std::string_view data, size_t chunk = SIZE_MAX) : data_(data), chunk_(chunk) {}
    ptrdiff_t read(uint8_t* buf, size_t n) override {
        if (failAt_ != SIZE_MAX && pos_ >= failAt_) return -1;
        n = std::min({n, chunk_, data_.size() - pos_});
        std::memcpy(buf, data_.data() + pos_, n);
        pos_ += n;
        return static_cast<ptrdiff_t>(n);
    }
    void failAt(size_t pos) { failAt_ = pos; }

private:
    std::string_view data_;
    size_t chunk_;
    size_t pos_ = 0;
    size_t failAt_ = SIZE_MAX;
};

class MemOutput : public DeflateOutput {
public:
    bool write(const uint8_t* data, size_t n) override {
        pieces.push_back(n);
        if (failAfter != SIZE_MAX && bytes.size() + n > failAfter) return false;
        bytes.append(reinterpret_cast<const char*>(data), n);
        return true;
    }
    std::string bytes;
    std::vector<size_t> pieces;
    size_t failAfter = SIZE_MAX;
};

struct Compressed {
    int64_t size = -1;
    uint16_t method = 0xffff;
    uint16_t attribute = 0xffff;
    uint16_t flags = 0;
    std::string bytes;
};

// One file through the engine's sequence of calls.
Compressed compress(Deflater& d, std::string_view in, int level, size_t chunk = SIZE_MAX) {
    Compressed c;
    MemInput input(in, chunk);
    MemOutput output;
    d.bi_init(&output);
    d.ct_init(&c.attribute, &c.method);
    if (d.lm_init(level, &c.flags, &input) != 0) return c;
    c.size = d.deflate();
    d.lm_free();
    c.bytes = std::move(output.bytes);
    return c;
}

Compressed compress(std::string_view in, int level) {
    Deflater d;
    return compress(d, in, level);
}

// The reference: raw deflate, default memory level and strategy, one call.
std::string zlibDeflate(std::string_view in, int level) {
    z_stream s{};
    EXPECT_EQ(deflateInit2(&s, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::string out(deflateBound(&s, in.size()), '\0');
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    s.avail_in = static_cast<uInt>(in.size());
    s.next_out = reinterpret_cast<Bytef*>(out.data());
    s.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&s, Z_FINISH), Z_STREAM_END);
    out.resize(s.total_out);
    deflateEnd(&s);
    return out;
}

struct Inflated {
    int ret = Z_DATA_ERROR;
    size_t unusedIn = 0;
    std::string bytes;
    std::vector<int> blockTypes;  // 0 stored, 1 fixed, 2 dynamic, in stream order
};

// Raw inflate, stopping at the end of every block to read the next block's
// 3-bit header from the input position zlib reports.
Inflated zlibInflate(const std::string& in, size_t expectedSize) {
    Inflated r;
    z_stream s{};
    EXPECT_EQ(inflateInit2(&s, -15), Z_OK);
    r.bytes.resize(expectedSize + 1);
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    s.avail_in = static_cast<uInt>(in.size());
    s.next_out = reinterpret_cast<Bytef*>(r.bytes.data());
    s.avail_out = static_cast<uInt>(r.bytes.size());
    const auto* base = reinterpret_cast<const uint8_t*>(in.data());
    if (!in.empty()) r.blockTypes.push_back((base[0] >> 1) & 3);
    for (;;) {
        r.ret = inflate(&s, Z_BLOCK);
        if (r.ret != Z_OK) break;
        if ((s.data_type & 128) == 0) {
            if (s.avail_in == 0 || s.avail_out == 0) break;
            continue;
        }
        if (s.data_type & 64) continue;  // the end of the last block
        // Before a block header: its bits start after the unused ones of the
        // last byte taken.
        size_t pos = s.next_in - base;
        int unused = s.data_type & 7;
        uint32_t bits = 0;
        if (unused > 0) bits = base[pos - 1] >> (8 - unused);
        if (pos < in.size()) bits |= static_cast<uint32_t>(base[pos]) << unused;
        r.blockTypes.push_back(static_cast<int>((bits >> 1) & 3));
    }
    r.unusedIn = s.avail_in;
    r.bytes.resize(s.total_out);
    inflateEnd(&s);
    return r;
}

// --- inputs ---

class Lcg {
public:
    explicit Lcg(uint32_t seed) : state_(seed) {}
    uint32_t next() {
        state_ = state_ * 1103515245u + 12345u;
        return state_ >> 8;
    }

private:
    uint32_t state_;
};

std::string randomBytes(size_t n, uint32_t seed) {
    Lcg rng(seed);
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(rng.next() >> 16);  // the low bits repeat early
    return s;
}

std::string prose(size_t n, uint32_t seed) {
    static const char* const kWords[] = {
        "the",    "river",   "ran",    "quietly",  "past",       "old",    "mill",    "where",  "children",
        "once",   "played",  "and",    "a",        "heron",      "stood",  "waiting", "for",    "fish",
        "while",  "evening", "light",  "fell",     "across",     "fields", "of",      "barley", "in",
        "summer", "nobody",  "spoke",  "about",    "storm",      "that",   "had",     "taken",  "bridge",
        "years",  "before",  "though", "everyone", "remembered", "it",     "well",    "enough", "to",
    };
    Lcg rng(seed);
    std::string s;
    while (s.size() < n) {
        s += kWords[rng.next() % std::size(kWords)];
        unsigned r = rng.next() % 16;
        s += r == 0 ? ". " : r == 1 ? ", " : r == 2 ? ".\n" : " ";
    }
    s.resize(n);
    return s;
}

std::string cLike(size_t n, uint32_t seed) {
    static const char* const kNames[] = {"len",  "buf",   "pos",   "count", "entry",
                                         "node", "table", "flags", "size"};
    Lcg rng(seed);
    std::string s;
    char line[160];
    while (s.size() < n) {
        const char* a = kNames[rng.next() % std::size(kNames)];
        const char* b = kNames[rng.next() % std::size(kNames)];
        switch (rng.next() % 4) {
            case 0:
                std::snprintf(line, sizeof line, "    if (%s->%s < %u) return -1;\n", a, b,
                              rng.next() % 1000);
                break;
            case 1:
                std::snprintf(line, sizeof line, "    %s = %s_get(%s, 0x%04x);\n", a, b, a,
                              rng.next() % 65536);
                break;
            case 2:
                std::snprintf(line, sizeof line, "static int %s_%s(struct %s *%s)\n{\n", a, b, a, b);
                break;
            default:
                std::snprintf(line, sizeof line, "    for (i = 0; i < %s; i++) %s[i] = 0;\n}\n", a, b);
                break;
        }
        s += line;
    }
    s.resize(n);
    return s;
}

// Bytes of all 256 values with log-normal weights: many distinct code
// lengths in no order, so that the code-length tree outgrows 7 bits and is
// cut back.
std::string skewedBytes(size_t n, uint32_t seed) {
    Lcg rng(seed);
    auto uniform = [&rng] { return static_cast<double>(rng.next()) / 16777216.0; };
    double cum[257] = {};
    for (int i = 0; i < 256; ++i) {
        double g = -6;
        for (int k = 0; k < 12; ++k) g += uniform();
        cum[i + 1] = cum[i] + std::exp(g);
    }
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        double x = uniform() * cum[256];
        s += static_cast<char>(std::upper_bound(cum + 1, cum + 257, x) - (cum + 1));
    }
    return s;
}

std::string html(size_t n, uint64_t seed) {
    std::string s = bench::htmlPage(seed, n);
    s.resize(n);
    return s;
}

// Text that compresses to few symbols: a 47-byte sentence over and over.
std::string filler(size_t n, size_t phase = 0) {
    static constexpr std::string_view kSentence = "all work and no play makes a dull day, my boy. ";
    std::string s;
    s.reserve(n);
    for (size_t i = 0; i < n; ++i) s += kSentence[(i + phase) % kSentence.size()];
    return s;
}

// marker at 1000 and again at 1000 + distance, in filler.
std::string markersAt(size_t distance, std::string_view marker, size_t tail = 3000) {
    std::string s = filler(1000);
    s += marker;
    s += filler(distance - marker.size(), 7);
    s += marker;
    s += filler(tail, 19);
    return s;
}

// A 3-byte match: the bytes around the two copies differ, so the match is
// exactly the three bytes.
std::string threeByteMatchAt(size_t distance) {
    std::string s = filler(1000);
    s += "<\x01\x02\x03>";
    s += filler(distance - 5, 11);
    s += "[\x01\x02\x03]";
    s += filler(3000, 23);
    return s;
}

std::string runOf(size_t n) {
    return "xy" + std::string(n, 'a') + "z" + filler(200);
}

constexpr char kEndCase[] =
    "xy ABCD\x00the quick brown fox jumps over it; ABCD-lazy dogs sleep well in the sun. ABCD";
constexpr std::string_view kEnd(kEndCase, sizeof kEndCase - 1);

void expectRoundTrip(std::string_view in, int level) {
    Deflater d;
    Compressed c = compress(d, in, level);
    ASSERT_GE(c.size, 0) << d.errorText();
    EXPECT_EQ(static_cast<size_t>(c.size), c.bytes.size());
    if (c.method == 0) {
        EXPECT_EQ(c.bytes, in);
        return;
    }
    ASSERT_EQ(c.method, 8);
    Inflated r = zlibInflate(c.bytes, in.size());
    EXPECT_EQ(r.ret, Z_STREAM_END);
    EXPECT_EQ(r.unusedIn, 0u);
    EXPECT_TRUE(r.bytes == in) << "inflated " << r.bytes.size() << " of " << in.size() << " bytes";
}

// --- byte identity with zlib ---

struct Input {
    const char* name;
    std::string data;
};

void expectSameAsZlib(const std::vector<Input>& inputs, int fromLevel, int toLevel) {
    Deflater d;  // one object throughout, as the engine keeps it
    for (const Input& in : inputs) {
        for (int level = fromLevel; level <= toLevel; ++level) {
            SCOPED_TRACE(std::string(in.name) + " level " + std::to_string(level));
            Compressed c = compress(d, in.data, level);
            ASSERT_EQ(c.method, 8) << "written whole-file stored";
            EXPECT_TRUE(c.bytes == zlibDeflate(in.data, level)) << c.bytes.size() << " bytes";
        }
    }
}

TEST(DeflateZlibIdentity, InputsBelow4096BytesAtEveryLevel) {
    expectSameAsZlib(
        {
            {"html 200", html(200, 1)},
            {"html 1500", html(1500, 2)},
            {"html 4095", html(4095, 3)},
            {"prose 700", prose(700, 4)},
            {"prose 4095", prose(4095, 5)},
            {"c 2000", cLike(2000, 6)},
            {"c 4095", cLike(4095, 7)},
            {"filler 4000", filler(4000)},
            {"run 258", runOf(258)},
            {"run 259", runOf(259)},
            {"run 260", runOf(260)},
            {"end of input", std::string(kEnd)},
            {"skewed 4000", skewedBytes(4000, 1)},
            {"skewed 4095", skewedBytes(4095, 2)},
        },
        1, 9);
}

TEST(DeflateZlibIdentity, InputsBelow16383BytesAtLevels1And2) {
    expectSameAsZlib(
        {
            {"html 9000", html(9000, 11)},
            {"html 16382", html(16382, 12)},
            {"prose 16382", prose(16382, 13)},
            {"c 16382", cLike(16382, 14)},
            {"skewed 16382", skewedBytes(16382, 15)},
        },
        1, 2);
}

// With fewer than 4096 symbols no block end is tested early and both write
// one block, so these equal zlib's bytes though they are longer: they pin the
// distance limits. The first candidate may lie 32506 back, not 32507; a
// 3-byte match more than 4096 back is dropped from level 4 on.
TEST(DeflateZlibIdentity, CraftedMatchDistances) {
    expectSameAsZlib(
        {
            {"marker 32505", markersAt(32505, "#Q!7xZ%k")},
            {"marker 32506", markersAt(32506, "#Q!7xZ%k")},
            {"marker 32507", markersAt(32507, "#Q!7xZ%k")},
            {"3 bytes 4096", threeByteMatchAt(4096)},
            {"3 bytes 4097", threeByteMatchAt(4097)},
            {"periodic 32 KiB + 1", filler(32769)},
        },
        1, 9);
}

// The bytes past the input hold an earlier file's: here ones that would
// extend the last match, were they counted.
TEST(DeflateZlibIdentity, MatchAtEndOfInputIgnoresStaleWindow) {
    std::string previous[] = {std::string(kEnd) + "-lazy dogs sleep well" + filler(5000),
                              std::string(kEnd) + std::string("\0the quick brown fox", 20) + filler(5000)};
    for (int level = 1; level <= 9; ++level) {
        SCOPED_TRACE(level);
        std::string want = zlibDeflate(kEnd, level);
        EXPECT_EQ(want.size(), 76u);
        for (const std::string& before : previous) {
            Deflater d;
            compress(d, before, level);
            Compressed c = compress(d, kEnd, level);
            EXPECT_EQ(c.method, 8);
            EXPECT_TRUE(c.bytes == want);
        }
    }
}

// --- round trips ---

std::vector<Input> smallRoundTripInputs() {
    return {
        {"1 byte", "a"},
        {"3 bytes", "abc"},
        {"run 258", runOf(258)},
        {"run 259", runOf(259)},
        {"run 260", runOf(260)},
        {"periodic 32 KiB + 1", filler(32769)},
        {"marker 32505", markersAt(32505, "#Q!7xZ%k")},
        {"marker 32506", markersAt(32506, "#Q!7xZ%k")},
        {"marker 32507", markersAt(32507, "#Q!7xZ%k")},
        {"3 bytes 4096", threeByteMatchAt(4096)},
        {"3 bytes 4097", threeByteMatchAt(4097)},
        {"end of input", std::string(kEnd)},
    };
}

TEST(DeflateRoundTrip, BoundaryInputs) {
    for (const Input& in : smallRoundTripInputs()) {
        for (int level : {1, 4, 6, 9}) {
            SCOPED_TRACE(std::string(in.name) + " level " + std::to_string(level));
            expectRoundTrip(in.data, level);
        }
    }
}

TEST(DeflateRoundTrip, TinyInputsAreStoredWhole) {
    for (std::string_view in : {std::string_view("a"), std::string_view("abc")}) {
        for (int level = 1; level <= 9; ++level) {
            SCOPED_TRACE(std::string(in) + " level " + std::to_string(level));
            Compressed c = compress(in, level);
            EXPECT_EQ(c.method, 0);
            EXPECT_EQ(c.size, static_cast<int64_t>(in.size()));
            EXPECT_EQ(c.bytes, in);
        }
    }
}

// A megabyte slides the window many times.
TEST(DeflateRoundTrip, MegabyteOfHtmlAtLevels1And4) {
    static const std::string in = html(1 << 20, 21);
    for (int level : {1, 4}) {
        SCOPED_TRACE(level);
        expectRoundTrip(in, level);
    }
}

TEST(DeflateRoundTrip, MegabyteOfHtmlAtLevels6And9) {
    static const std::string in = html(1 << 20, 21);
    for (int level : {6, 9}) {
        SCOPED_TRACE(level);
        expectRoundTrip(in, level);
    }
}

// Stored blocks cost 5 bytes each and hold up to 32767 bytes; two more for
// a final empty block's worth of slack.
TEST(DeflateRoundTrip, RandomDataStaysWithinStoredBound) {
    const std::string in = randomBytes(300 * 1000, 31);
    size_t bound = in.size() + 5 * ((in.size() + 32766) / 32767) + 2;
    for (int level : {1, 4, 6, 9}) {
        SCOPED_TRACE(level);
        Deflater d;
        Compressed c = compress(d, in, level);
        ASSERT_EQ(c.method, 8);
        EXPECT_LE(c.bytes.size(), bound);
        Inflated r = zlibInflate(c.bytes, in.size());
        EXPECT_EQ(r.ret, Z_STREAM_END);
        EXPECT_EQ(r.unusedIn, 0u);
        EXPECT_TRUE(r.bytes == in);
    }
}

// Reads of any size give the same bytes: matching never depends on how much
// input is buffered beyond 262 bytes.
TEST(DeflateRoundTrip, ShortReadsGiveTheSameOutput) {
    const std::string in = html(200 * 1000, 41);
    Deflater d;
    std::string whole = compress(d, in, 6).bytes;
    for (size_t chunk : {1u, 7u, 4096u, 65535u}) {
        SCOPED_TRACE(chunk);
        EXPECT_TRUE(compress(d, in, 6, chunk).bytes == whole);
    }
}

// The object is reused for every file; nothing of one file leaks into the next.
TEST(DeflateRoundTrip, ReuseEqualsAFreshObject) {
    const std::string first = html(300 * 1000, 51);
    const std::string second = prose(20000, 52);
    for (int level : {1, 6, 9}) {
        SCOPED_TRACE(level);
        Deflater reused;
        compress(reused, first, level);
        Compressed again = compress(reused, second, level);
        Compressed fresh = compress(second, level);
        EXPECT_TRUE(again.bytes == fresh.bytes);
        EXPECT_EQ(again.attribute, fresh.attribute);
    }
}

// --- blocks ---

TEST(DeflateBlocks, TinyRepetitiveTextIsOneFixedBlock) {
    std::string in = "hello hello hello hello\n";
    for (int level = 1; level <= 9; ++level) {
        SCOPED_TRACE(level);
        Compressed c = compress(in, level);
        ASSERT_EQ(c.method, 8);
        Inflated r = zlibInflate(c.bytes, in.size());
        EXPECT_EQ(r.ret, Z_STREAM_END);
        EXPECT_EQ(r.blockTypes, std::vector<int>{1});
    }
}

TEST(DeflateBlocks, TenKilobytesOfTextIsOneDynamicBlock) {
    std::string in = prose(10 * 1000, 61);
    for (int level : {1, 6, 9}) {
        SCOPED_TRACE(level);
        Compressed c = compress(in, level);
        Inflated r = zlibInflate(c.bytes, in.size());
        EXPECT_EQ(r.ret, Z_STREAM_END);
        EXPECT_EQ(r.blockTypes, std::vector<int>{2});
    }
}

// Lines of a fresh random word and one of 30 sentences compress well, so
// from level 3 on blocks end early every 4096 symbols; level 2 fills them.
TEST(DeflateBlocks, WellCompressingTextEndsBlocksEarlyFromLevel3) {
    Lcg rng(71);
    std::vector<std::string> sentences;
    for (int i = 0; i < 30; ++i) sentences.push_back(prose(60 + rng.next() % 61, 100 + i));
    std::string in;
    while (in.size() < 200 * 1000) {
        for (int i = 0; i < 8; ++i) in += static_cast<char>('a' + rng.next() % 26);
        in += ' ';
        in += sentences[rng.next() % sentences.size()];
        in += '\n';
    }
    Inflated blocks[10];
    for (int level : {2, 3, 6}) {
        SCOPED_TRACE(level);
        blocks[level] = zlibInflate(compress(in, level).bytes, in.size());
        EXPECT_EQ(blocks[level].ret, Z_STREAM_END);
        EXPECT_TRUE(blocks[level].bytes == in);
    }
    EXPECT_GT(blocks[3].blockTypes.size(), blocks[2].blockTypes.size());
    EXPECT_GT(blocks[6].blockTypes.size(), blocks[2].blockTypes.size());
}

TEST(DeflateBlocks, IncompressibleFileInOneBlockIsStoredWhole) {
    std::string in = randomBytes(20 * 1000, 81);
    for (int level : {1, 6, 9}) {
        SCOPED_TRACE(level);
        Compressed c = compress(in, level);
        EXPECT_EQ(c.method, 0);
        EXPECT_EQ(c.size, static_cast<int64_t>(in.size()));
        EXPECT_TRUE(c.bytes == in);
    }
}

TEST(DeflateBlocks, IncompressibleLargeFileGetsStoredBlocks) {
    std::string in = randomBytes(300 * 1000, 91);
    Compressed c = compress(in, 6);
    ASSERT_EQ(c.method, 8);
    Inflated r = zlibInflate(c.bytes, in.size());
    EXPECT_EQ(r.ret, Z_STREAM_END);
    EXPECT_GE(r.blockTypes.size(), 10u);
    EXPECT_EQ(std::count(r.blockTypes.begin(), r.blockTypes.end(), 0),
              static_cast<ptrdiff_t>(r.blockTypes.size()));
}

// --- text judgement, flags, errors ---

// ascii bytes 7-127 and bin bytes 0-6 and 128-255, shuffled until no
// 3-byte string repeats, so that every byte is a literal of the first block.
std::string literalsOnly(unsigned ascii, unsigned bin, uint32_t seed) {
    std::string s;
    for (unsigned i = 0; i < ascii; ++i) s += static_cast<char>(7 + i % 121);
    for (unsigned i = 0; i < bin; ++i) {
        unsigned b = i % 135;
        s += static_cast<char>(b < 7 ? b : 128 + (b - 7));
    }
    Lcg rng(seed);
    for (;;) {
        for (size_t i = s.size() - 1; i > 0; --i) std::swap(s[i], s[rng.next() % (i + 1)]);
        std::vector<std::string> grams;
        for (size_t i = 0; i + 3 <= s.size(); ++i) grams.push_back(s.substr(i, 3));
        std::sort(grams.begin(), grams.end());
        if (std::adjacent_find(grams.begin(), grams.end()) == grams.end()) return s;
    }
}

TEST(DeflateText, JudgedFromTheFirstBlocksLiterals) {
    const struct {
        const char* name;
        unsigned ascii;
        unsigned bin;
        uint16_t want;
    } cases[] = {
        {"bin == ascii / 4", 400, 100, Deflater::kText},
        {"bin == ascii / 4 + 1", 400, 101, Deflater::kBinary},
        {"ascii / 4 rounds down", 403, 100, Deflater::kText},
        {"all ascii", 500, 0, Deflater::kText},
        {"all bin", 0, 300, Deflater::kBinary},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string in = literalsOnly(c.ascii, c.bin, 7);
        for (int level : {1, 6}) {
            Compressed r = compress(in, level);
            EXPECT_EQ(r.attribute, c.want);
        }
    }
}

TEST(DeflateText, HtmlIsTextAndRandomIsBinary) {
    EXPECT_EQ(compress(html(50000, 3), 6).attribute, Deflater::kText);
    EXPECT_EQ(compress(randomBytes(50000, 3), 6).attribute, Deflater::kBinary);
}

TEST(DeflateFlags, Level1AddsFlag4AndLevel9Flag2) {
    for (int level = 1; level <= 9; ++level) {
        SCOPED_TRACE(level);
        Deflater d;
        MemInput input("abc");
        uint16_t flags = 8;
        ASSERT_EQ(d.lm_init(level, &flags, &input), 0);
        EXPECT_EQ(flags, level == 1 ? 8 + 4 : level == 9 ? 8 + 2 : 8);
    }
}

TEST(DeflateErrors, BadPackLevel) {
    for (int level : {0, -1, 10}) {
        SCOPED_TRACE(level);
        Deflater d;
        MemInput input("abc");
        MemOutput output;
        uint16_t attribute = 0, method = 8, flags = 0;
        d.bi_init(&output);
        d.ct_init(&attribute, &method);
        EXPECT_EQ(d.lm_init(level, &flags, &input), Deflater::kInternalError);
        EXPECT_STREQ(d.errorText(), "bad pack level");
        EXPECT_EQ(d.deflate(), -1);
        EXPECT_EQ(flags, 0);
    }
}

TEST(DeflateErrors, WriteErrorEndsTheFile) {
    std::string in = html(100000, 5);
    Deflater d;
    MemInput input(in);
    MemOutput output;
    output.failAfter = 3000;
    uint16_t attribute = 0, method = 0, flags = 0;
    d.bi_init(&output);
    d.ct_init(&attribute, &method);
    ASSERT_EQ(d.lm_init(6, &flags, &input), 0);
    EXPECT_EQ(d.deflate(), -1);
    EXPECT_EQ(d.errorCode(), Deflater::kInternalError);
    EXPECT_STREQ(d.errorText(), "write error on zip file");

    // The next file starts clean.
    EXPECT_TRUE(compress(d, in, 6).bytes.size() > 3000);
    EXPECT_EQ(d.errorCode(), 0);
}

TEST(DeflateErrors, ReadErrorEndsTheFile) {
    std::string in = html(300000, 6);
    for (size_t failAt : {size_t{0}, size_t{65536}, size_t{200000}}) {
        SCOPED_TRACE(failAt);
        Deflater d;
        MemInput input(in);
        input.failAt(failAt);
        MemOutput output;
        uint16_t attribute = 0, method = 0, flags = 0;
        d.bi_init(&output);
        d.ct_init(&attribute, &method);
        int rc = d.lm_init(6, &flags, &input);
        if (failAt == 0) {
            EXPECT_EQ(rc, Deflater::kReadError);
        } else {
            ASSERT_EQ(rc, 0);
        }
        EXPECT_EQ(d.deflate(), -1);
        EXPECT_EQ(d.errorCode(), Deflater::kReadError);
    }
}

TEST(DeflateOutputPieces, WritesAre1024BytesButTheLast) {
    std::string in = html(300000, 8);
    Deflater d;
    MemInput input(in);
    MemOutput output;
    uint16_t attribute = 0, method = 0, flags = 0;
    d.bi_init(&output);
    d.ct_init(&attribute, &method);
    ASSERT_EQ(d.lm_init(6, &flags, &input), 0);
    int64_t size = d.deflate();
    ASSERT_GT(output.pieces.size(), 2u);
    for (size_t i = 0; i + 1 < output.pieces.size(); ++i) ASSERT_EQ(output.pieces[i], 1024u) << i;
    EXPECT_LE(output.pieces.back(), 1024u);
    EXPECT_EQ(size, static_cast<int64_t>(output.bytes.size()));
}

// --- ratio ---

// Beyond the small sizes the blocks differ from zlib's; the size must not.
TEST(DeflateRatio, TwoMegabytesOfHtmlWithinOnePercentOfZlib) {
    std::string in;
    for (const std::string& page : bench::htmlCorpus(2024, 2 << 20)) in += page;
    in.resize(2 << 20);
    Compressed c = compress(in, 6);
    std::string z = zlibDeflate(in, 6);
    EXPECT_LE(static_cast<double>(c.bytes.size()), 1.01 * static_cast<double>(z.size()))
        << "ours " << c.bytes.size() << ", zlib " << z.size();
    Inflated r = zlibInflate(c.bytes, in.size());
    EXPECT_EQ(r.ret, Z_STREAM_END);
    EXPECT_TRUE(r.bytes == in);
}

}  // namespace
}  // namespace ruva

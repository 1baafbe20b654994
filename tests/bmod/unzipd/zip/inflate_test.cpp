// Inflate on raw deflate streams held in memory, driven through the decoder
// state alone: payloads made by zlib, and hand-built streams for each error.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bmod/unzipd/zip/decoder_state.h"
#include "common/crc32.h"
#include "tests/support/payloads.h"
#include "tests/support/test_support.h"

namespace ruva {
namespace {

using test::randomBytes;
using test::runs;
using test::SocketReader;
using test::text;

// ---- payloads and zlib

// A random block repeated with small changes: distances near 32 KiB.
std::string farRepeats(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::string block = randomBytes(32000, seed);
    std::string s;
    while (s.size() < n) {
        block[rng() % block.size()] = char(rng());
        s += block;
    }
    s.resize(n);
    return s;
}

std::string zlibDeflate(const std::string& in, int level, int strategy) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, -15, 9, strategy), Z_OK);
    std::string out(deflateBound(&z, in.size()) + 16, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    z.avail_in = unsigned(in.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = unsigned(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

uint32_t zlibCrc(const std::string& s) {
    return uint32_t(crc32(0, reinterpret_cast<const Bytef*>(s.data()), unsigned(s.size())));
}

// ---- running inflate on a raw stream

enum class Sink { Memory, Descriptor };

struct Result {
    int rc = -1;
    std::string out;
    uint32_t crc = 0;
};

// The input is read from the string's bytes; memory output goes into a
// region of exactly ucsize bytes, the room the fast path decodes into.
Result inflateWith(UnzipGlobals& G, const std::string& compressed, unsigned long ucsize, Sink sink) {
    Result r;
    const auto* in = reinterpret_cast<const unsigned char*>(compressed.data());
    G.reset(in, compressed.size(), ucsize, 0, 8);
    G.out = DecoderOutput{};
    if (sink == Sink::Memory) {
        std::vector<unsigned char> region(ucsize ? ucsize : 1);
        G.out.buf = region.data();
        G.out.room = region.size();
        r.rc = inflate(G);
        r.out.assign(reinterpret_cast<char*>(region.data()), G.out.filled);
    } else {
        SocketReader reader;
        G.out.fd = reader.fd();
        r.rc = inflate(G);
        G.out.fd = -1;
        r.out = reader.finish();
    }
    r.crc = ~G.crc32val;
    return r;
}

// One state for every call, as one Unzip serves a session's members; a
// fresh one per call costs more than most of the streams here.
Result inflateRaw(const std::string& compressed, unsigned long ucsize, Sink sink = Sink::Memory) {
    static UnzipGlobals* const G = new UnzipGlobals;
    return inflateWith(*G, compressed, ucsize, sink);
}

// ---- hand-built streams

// Deflate bits, first bit in the lowest position; Huffman codes go first bit
// first, that is most significant bit first.
class BitWriter {
public:
    BitWriter& bits(uint32_t value, unsigned n) {
        for (unsigned i = 0; i < n; i++) put((value >> i) & 1);
        return *this;
    }
    BitWriter& code(uint32_t code, unsigned len) {
        for (unsigned i = len; i-- > 0;) put((code >> i) & 1);
        return *this;
    }
    BitWriter& align() {
        while (n_ % 8) put(0);
        return *this;
    }
    BitWriter& byte(uint8_t b) { return bits(b, 8); }
    std::string str() const { return bytes_; }

private:
    void put(unsigned bit) {
        if (n_ % 8 == 0) bytes_ += '\0';
        if (bit) bytes_.back() = char(bytes_.back() | (1 << (n_ % 8)));
        n_++;
    }
    std::string bytes_;
    size_t n_ = 0;
};

// Canonical codes of a set of lengths.
std::vector<uint32_t> canonical(const std::vector<int>& lens) {
    int count[16] = {};
    for (int l : lens) count[l]++;
    count[0] = 0;
    uint32_t next[16] = {};
    uint32_t code = 0;
    for (int l = 1; l < 16; l++) {
        code = (code + uint32_t(count[l - 1])) << 1;
        next[l] = code;
    }
    std::vector<uint32_t> codes(lens.size());
    for (size_t s = 0; s < lens.size(); s++)
        if (lens[s]) codes[s] = next[lens[s]]++;
    return codes;
}

void fixedLiteral(BitWriter& w, unsigned sym) {
    if (sym < 144)
        w.code(0x30 + sym, 8);
    else if (sym < 256)
        w.code(0x190 + sym - 144, 9);
    else if (sym < 280)
        w.code(sym - 256, 7);
    else
        w.code(0xC0 + sym - 280, 8);
}

// A dynamic block's header. The code-length code gives 4 bits to 0-12 and 5
// bits to 13-18 (a complete set); items are (code-length symbol, extra bits).
struct CodeLengthItem {
    int sym;
    uint32_t extra;
};

void dynamicHeader(BitWriter& w, int nlit, int ndist, const std::vector<CodeLengthItem>& items) {
    static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    std::vector<int> clens(19);
    for (int s = 0; s < 19; s++) clens[s] = s < 13 ? 4 : 5;
    std::vector<uint32_t> ccodes = canonical(clens);
    w.bits(uint32_t(nlit - 257), 5).bits(uint32_t(ndist - 1), 5).bits(19 - 4, 4);
    for (int i = 0; i < 19; i++) w.bits(uint32_t(clens[order[i]]), 3);
    for (const CodeLengthItem& it : items) {
        w.code(ccodes[it.sym], unsigned(clens[it.sym]));
        if (it.sym == 16) w.bits(it.extra, 2);
        if (it.sym == 17) w.bits(it.extra, 3);
        if (it.sym == 18) w.bits(it.extra, 7);
    }
}

std::vector<CodeLengthItem> plain(const std::vector<int>& lens) {
    std::vector<CodeLengthItem> items;
    for (int l : lens) items.push_back({l, 0});
    return items;
}

// A dynamic block with the given lengths; returns the codes for the data.
struct Dynamic {
    std::vector<uint32_t> lit, dist;
    std::vector<int> litLens, distLens;
};

Dynamic dynamicBlock(BitWriter& w, bool final, std::vector<int> litLens, std::vector<int> distLens) {
    w.bits(final ? 1 : 0, 1).bits(2, 2);
    std::vector<int> all = litLens;
    all.insert(all.end(), distLens.begin(), distLens.end());
    dynamicHeader(w, int(litLens.size()), int(distLens.size()), plain(all));
    return {canonical(litLens), canonical(distLens), litLens, distLens};
}

void put(BitWriter& w, const Dynamic& d, unsigned litSym) {
    w.code(d.lit[litSym], unsigned(d.litLens[litSym]));
}
void putDist(BitWriter& w, const Dynamic& d, unsigned distSym) {
    w.code(d.dist[distSym], unsigned(d.distLens[distSym]));
}

// ---- payloads against zlib

struct Strategy {
    const char* name;
    int level;
    int strategy;
};
const Strategy kStrategies[] = {
    {"default", Z_DEFAULT_COMPRESSION, Z_DEFAULT_STRATEGY},
    {"level9", 9, Z_DEFAULT_STRATEGY},
    {"fixed", 6, Z_FIXED},
    {"huffman-only", 6, Z_HUFFMAN_ONLY},
    {"rle", 6, Z_RLE},
    {"level0", 0, Z_DEFAULT_STRATEGY},
};
const size_t kSizes[] = {0, 1, 32767, 32768, 32769, 1 << 20};

void roundTrips(const char* kind, std::string (*make)(size_t, uint32_t)) {
    auto G = std::make_unique<UnzipGlobals>();
    for (size_t size : kSizes) {
        std::string payload = make(size, uint32_t(size) + 7);
        for (const Strategy& st : kStrategies) {
            std::string z = zlibDeflate(payload, st.level, st.strategy);
            for (Sink sink : {Sink::Memory, Sink::Descriptor}) {
                SCOPED_TRACE(std::string(kind) + " size " + std::to_string(size) + " " + st.name +
                             (sink == Sink::Memory ? " memory" : " socket"));
                Result r = inflateWith(*G, z, size, sink);
                EXPECT_EQ(r.rc, 0);
                EXPECT_TRUE(r.out == payload);
                EXPECT_EQ(r.crc, zlibCrc(payload));
            }
        }
    }
}

TEST(InflatePayload, RandomBytesEqualSource) {
    roundTrips("random", randomBytes);
}
TEST(InflatePayload, TextEqualsSource) {
    roundTrips("text", text);
}
TEST(InflatePayload, LongRunsEqualSource) {
    roundTrips("runs", runs);
}
TEST(InflatePayload, FarMatchesEqualSource) {
    roundTrips("far", farRepeats);
}

TEST(InflatePayload, OneUnzipDecodesFixedBlocksTwice) {
    // The fixed tables are built at the first fixed block and kept.
    auto G = std::make_unique<UnzipGlobals>();
    for (uint32_t seed : {1u, 2u}) {
        std::string payload = text(50000, seed);
        Result r = inflateWith(*G, zlibDeflate(payload, 6, Z_FIXED), payload.size(), Sink::Memory);
        EXPECT_EQ(r.rc, 0);
        EXPECT_TRUE(r.out == payload);
    }
}

TEST(InflatePayload, BufferSmallerThanMemberKeepsWhatFits) {
    // Without room for the whole member the output goes through the window
    // and flush, which appends what fits and drops the rest.
    std::string payload = text(100000, 3);
    std::string z = zlibDeflate(payload, 9, Z_DEFAULT_STRATEGY);
    std::vector<unsigned char> region(40000);
    auto globals = std::make_unique<UnzipGlobals>();
    UnzipGlobals& G = *globals;
    G.reset(reinterpret_cast<const unsigned char*>(z.data()), z.size(), payload.size(), 0, 8);
    G.out.buf = region.data();
    G.out.room = region.size();
    EXPECT_EQ(inflate(G), 0);
    EXPECT_EQ(G.out.filled, 40000u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(G.out.buf), 40000), payload.substr(0, 40000));
    EXPECT_EQ(~G.crc32val, zlibCrc(payload));
}

// ---- errors and edges

TEST(InflateStream, HandBuiltErrorsGiveTheirCodes) {
    struct Case {
        const char* name;
        std::string stream;
        int rc;
        std::string out;  // expected output on success
    };
    std::vector<Case> cases;
    {
        BitWriter w;
        w.bits(1, 1).bits(3, 2);
        cases.push_back({"block type 3", w.str(), 2, ""});
    }
    {
        BitWriter w;
        w.bits(1, 1).bits(0, 2).align().bits(5, 16).bits(0xFFFF ^ 4, 16);
        cases.push_back({"stored LEN/NLEN mismatch", w.str() + "abcde", 1, ""});
    }
    {
        BitWriter w;
        w.bits(1, 1).bits(0, 2).align().bits(5, 16).bits(0xFFFF ^ 5, 16);
        cases.push_back({"stored block", w.str() + "abcde", 0, "abcde"});
    }
    {
        BitWriter w;
        w.bits(1, 1).bits(0, 2).align().bits(0, 16).bits(0xFFFF, 16);
        cases.push_back({"empty stored block", w.str(), 0, ""});
    }
    for (unsigned sym : {286u, 287u}) {
        BitWriter w;
        w.bits(1, 1).bits(1, 2);
        fixedLiteral(w, 'a');
        fixedLiteral(w, sym);
        w.bits(0, 5);
        fixedLiteral(w, 256);
        cases.push_back({sym == 286 ? "fixed symbol 286" : "fixed symbol 287", w.str(), 1, ""});
    }
    for (unsigned d : {30u, 31u}) {
        BitWriter w;
        w.bits(1, 1).bits(1, 2);
        fixedLiteral(w, 'a');
        fixedLiteral(w, 257);
        w.code(d, 5);
        fixedLiteral(w, 256);
        cases.push_back({d == 30 ? "distance code 30" : "distance code 31", w.str(), 1, ""});
    }
    {
        BitWriter w;
        w.bits(1, 1).bits(1, 2);
        fixedLiteral(w, 'a');
        fixedLiteral(w, 257);  // length 3
        w.code(1, 5);          // distance 2: one byte before the start
        fixedLiteral(w, 256);
        cases.push_back({"distance past the start", w.str(), 1, ""});
    }
    {
        BitWriter w;
        w.bits(1, 1).bits(1, 2);
        fixedLiteral(w, 'a');
        fixedLiteral(w, 'b');
        fixedLiteral(w, 258);  // length 4
        w.code(1, 5);          // distance 2
        fixedLiteral(w, 256);
        cases.push_back({"overlapping match", w.str(), 0, "ababab"});
    }
    {
        // Three one-bit codes.
        BitWriter w;
        std::vector<int> lit(257, 0);
        lit['a'] = lit['b'] = lit[256] = 1;
        dynamicBlock(w, true, lit, {1});
        cases.push_back({"over-subscribed literal code", w.str() + std::string(4, '\0'), 2, ""});
    }
    {
        // Three two-bit codes leave a quarter of the code space unused.
        BitWriter w;
        std::vector<int> lit(257, 0);
        lit['a'] = lit['b'] = lit[256] = 2;
        dynamicBlock(w, true, lit, {1});
        cases.push_back({"incomplete literal code", w.str() + std::string(4, '\0'), 1, ""});
    }
    {
        // One distance code, of one bit: accepted, as zlib does.
        BitWriter w;
        std::vector<int> lit(258, 0);
        lit['a'] = 1;
        lit[256] = 2;
        lit[257] = 2;
        Dynamic d = dynamicBlock(w, true, lit, {1});
        put(w, d, 'a');
        put(w, d, 257);
        putDist(w, d, 0);
        put(w, d, 256);
        cases.push_back({"single distance code", w.str(), 0, "aaaa"});
    }
    {
        // No distance codes at all: a literal-only block.
        BitWriter w;
        std::vector<int> lit(257, 0);
        lit['x'] = 1;
        lit[256] = 1;
        Dynamic d = dynamicBlock(w, true, lit, {0});
        put(w, d, 'x');
        put(w, d, 'x');
        put(w, d, 256);
        cases.push_back({"literal-only block", w.str(), 0, "xx"});
    }
    {
        // A length code in a block without distance codes.
        BitWriter w;
        std::vector<int> lit(258, 0);
        lit['x'] = 1;
        lit[256] = 2;
        lit[257] = 2;
        Dynamic d = dynamicBlock(w, true, lit, {0});
        put(w, d, 'x');
        put(w, d, 257);
        put(w, d, 256);
        cases.push_back({"match without distance codes", w.str() + std::string(2, '\0'), 1, ""});
    }
    {
        // 257 + 1 lengths declared; 18 then asks for 138 zeros.
        BitWriter w;
        w.bits(1, 1).bits(2, 2);
        dynamicHeader(w, 257, 1, {{18, 127}, {18, 127}, {18, 127}});
        cases.push_back({"repeat past the count", w.str() + std::string(4, '\0'), 1, ""});
    }
    {
        BitWriter w;
        w.bits(1, 1).bits(2, 2);
        dynamicHeader(w, 257, 1, {{16, 0}});
        cases.push_back({"repeat with nothing before", w.str() + std::string(4, '\0'), 1, ""});
    }
    {
        // Two blocks, the first not final; then nothing.
        BitWriter w;
        w.bits(0, 1).bits(1, 2);
        fixedLiteral(w, 'q');
        fixedLiteral(w, 256);
        cases.push_back({"input ends before the final block", w.str(), 1, ""});
    }
    cases.push_back({"empty input", "", 1, ""});

    for (const Case& c : cases) {
        for (Sink sink : {Sink::Memory, Sink::Descriptor}) {
            SCOPED_TRACE(std::string(c.name) + (sink == Sink::Memory ? " memory" : " socket"));
            Result r = inflateRaw(c.stream, c.rc == 0 ? c.out.size() : 1000, sink);
            EXPECT_EQ(r.rc, c.rc);
            if (c.rc == 0) {
                EXPECT_EQ(r.out, c.out);
                EXPECT_EQ(r.crc, zlibCrc(c.out));
            }
        }
    }
}

TEST(InflateStream, EveryTruncationFails) {
    std::string payload = text(3000, 5) + randomBytes(300, 5);
    for (int strategy : {Z_DEFAULT_STRATEGY, Z_FIXED}) {
        std::string z = zlibDeflate(payload, 9, strategy);
        ASSERT_EQ(inflateRaw(z, payload.size()).rc, 0);
        for (size_t cut = 0; cut < z.size(); cut++) {
            SCOPED_TRACE("cut at " + std::to_string(cut));
            EXPECT_EQ(inflateRaw(z.substr(0, cut), payload.size()).rc, 1);
        }
    }
}

TEST(InflateStream, FlippedBytesNeverCrash) {
    // Any result code will do; the sanitizers watch the reads and writes.
    std::string payload = text(20000, 9);
    std::string z = zlibDeflate(payload, 9, Z_DEFAULT_STRATEGY);
    std::mt19937 rng(11);
    for (int i = 0; i < 300; i++) {
        std::string bad = z;
        bad[rng() % bad.size()] ^= char(1 << (rng() % 8));
        Result r = inflateRaw(bad, payload.size());
        EXPECT_GE(r.rc, 0);
        EXPECT_LE(r.out.size(), payload.size());
    }
}

TEST(InflateStream, OutputStopsAtTheDeclaredSize) {
    // A deflate bomb: 1 MiB of zeros declared as 1000 bytes.
    std::string zeros(1 << 20, '\0');
    std::string z = zlibDeflate(zeros, 9, Z_DEFAULT_STRATEGY);
    for (Sink sink : {Sink::Memory, Sink::Descriptor}) {
        SCOPED_TRACE(sink == Sink::Memory ? "memory" : "socket");
        Result r = inflateRaw(z, 1000, sink);
        EXPECT_EQ(r.rc, 1);
        EXPECT_EQ(r.out, std::string(1000, '\0'));
    }
    // Declared one byte short of a stored block.
    BitWriter w;
    w.bits(1, 1).bits(0, 2).align().bits(5, 16).bits(0xFFFF ^ 5, 16);
    Result r = inflateRaw(w.str() + "abcde", 4, Sink::Memory);
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.out, "abcd");
}

TEST(InflateStream, StreamShorterThanDeclaredSizeSucceeds) {
    // The decoder stops at the final block; the count check is unzip's.
    std::string payload = text(5000, 2);
    Result r = inflateRaw(zlibDeflate(payload, 6, Z_DEFAULT_STRATEGY), payload.size() + 100);
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.out, payload);
}

TEST(Crc32, MatchesZlibAtEveryAlignmentAndLength) {
    // Short tails, single words, and the three-lane rounds of 1536 bytes.
    std::string data = randomBytes(5000, 4);
    std::vector<size_t> lengths;
    for (size_t n = 0; n < 40; n++) lengths.push_back(n);
    for (size_t n : {1535, 1536, 1537, 1543, 3071, 3072, 3080, 4600}) lengths.push_back(n);
    for (size_t start = 0; start < 9; start++)
        for (size_t len : lengths) {
            std::string part = data.substr(start, len);
            uint32_t own = ~crc32Update(0xFFFFFFFF, reinterpret_cast<const unsigned char*>(part.data()), len);
            EXPECT_EQ(own, zlibCrc(part)) << start << " " << len;
        }
    // Running over pieces gives the CRC of the whole.
    uint32_t running = 0xFFFFFFFF;
    for (size_t at = 0; at < data.size(); at += 1700)
        running = crc32Update(running, reinterpret_cast<const unsigned char*>(data.data()) + at,
                              std::min<size_t>(1700, data.size() - at));
    EXPECT_EQ(~running, zlibCrc(data));
    EXPECT_EQ(~crc32Update(0xFFFFFFFF, reinterpret_cast<const unsigned char*>("123456789"), 9), 0xCBF43926u);
}

}  // namespace
}  // namespace ruva

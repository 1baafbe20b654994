// The old methods: unshrink (1), unreduce (2-5) and explode (6), over the
// provided archives of ../shared/testdata/oldzip and over streams built here.
// Decoders run both directly on their state over a byte buffer and through
// Unzip::unzip, to a descriptor and into memory; Info-ZIP's `unzip` checks
// every shrink and implode stream and settles the expected bytes where it
// can.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "bmod/unzipd/zip/explode.h"
#include "bmod/unzipd/zip/unreduce.h"
#include "bmod/unzipd/zip/unshrink.h"
#include "bmod/unzipd/zip/unzip.h"
#include "bmod/unzipd/zip/zip_reader.h"
#include "tests/bmod/unzipd/zip/legacy_encoders.h"
#include "tests/support/test_support.h"
#include "tests/support/zip_builder.h"

namespace ruva {
namespace {

using test::Bytes;
using test::TempDir;

// ---- files, oracles, logs ---------------------------------------------------

Bytes readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    std::string s = ss.str();
    return Bytes(s.begin(), s.end());
}

bool writeFile(const std::string& path, const Bytes& data) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
    return bool(f);
}

Bytes bytesOf(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// The legacy archives; a missing directory fails the test, naming it.
std::string oldzipDir() {
    std::string base = test::testDataDir();
    if (base.empty()) return "";
    std::string dir = base + "/oldzip";
    struct stat st;
    if (::stat((dir + "/shrink.zip").c_str(), &st) != 0) {
        ADD_FAILURE() << "legacy test archives missing: " << dir;
        return "";
    }
    return dir;
}

Bytes unzipPipe(const std::string& zip, const std::string& member) {
    std::string cmd = "unzip -p '" + zip + "' '" + member + "' 2>/dev/null";
    Bytes out;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return out;
    unsigned char chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, p)) > 0) out.insert(out.end(), chunk, chunk + n);
    ::pclose(p);
    return out;
}

bool unzipTestPasses(const std::string& zip) {
    return std::system(("unzip -tq '" + zip + "' >/dev/null 2>&1").c_str()) == 0;
}

// Unzip's messages for the life of one test.
class LogCapture {
public:
    LogCapture() { setUnzipLogSink(&LogCapture::sink, this); }
    ~LogCapture() { setUnzipLogSink(nullptr, nullptr); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::string joined() const {
        std::string all;
        for (const auto& l : lines) all += l + "\n";
        return all;
    }
    std::vector<std::string> lines;

private:
    static void sink(void* context, int level, const char* message) {
        static_cast<LogCapture*>(context)->lines.push_back(std::to_string(level) + " " + message);
    }
};

__attribute__((format(printf, 3, 4))) void readerWarn(void* clientData, int level, const char* format, ...) {
    char text[1024];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    static_cast<std::vector<std::string>*>(clientData)->push_back(std::to_string(level) + " " + text);
}

struct ZsDel {
    void operator()(ZipStructure* zs) const { zs->del(); }
};
using ZsPtr = std::unique_ptr<ZipStructure, ZsDel>;

// ---- running the decoders -----------------------------------------------------

struct Decoded {
    int rc;
    Bytes out;
    unsigned long bytesLeft;  // compressed bytes the decoder left unread
};

// Methods 2-5 take factor method - 1 unless one is given.
int runDecoder(UnzipGlobals& G, int method, int factor) {
    if (method == 1) return unshrink(G);
    if (method == 6) return explode(G);
    return unreduce(G, factor >= 0 ? factor : method - 1);
}

// One decoder over a raw stream held in memory, on a fresh decoder state
// whose output goes into a memory region (at most 4 MiB are kept).
Decoded decodeRaw(int method, uint16_t flags, const Bytes& stream, unsigned long ucSize, int factor = -1) {
    auto G = std::make_unique<UnzipGlobals>();
    Bytes region(std::min<unsigned long>(ucSize, 1ul << 22));
    G->reset(stream.data(), stream.size(), ucSize, flags, method);
    G->out.buf = region.data();
    G->out.room = region.size();
    Decoded d{runDecoder(*G, method, factor), Bytes(region.begin(), region.begin() + long(G->out.filled)),
              G->bytesLeft()};
    return d;
}

struct Extracted {
    int ok;
    Bytes out;
};

Extracted toDescriptor(Unzip& uz, ZipStructure* zs, const CentralHeader* ch, const std::string& outPath) {
    int fd = ::open(outPath.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) return {-1, {}};
    int ok = uz.unzip(zs, ch, -1, fd);
    ::close(fd);
    return {ok, readFile(outPath)};
}

Extracted toMemory(Unzip& uz, ZipStructure* zs, const CentralHeader* ch) {
    int ok = uz.unzip(zs, ch, -1, -1);
    if (!ok) return {ok, {}};
    return {ok, Bytes(uz.buf, uz.buf + uz.bufwritten)};
}

const CentralHeader* member(ZipStructure* zs, const std::string& name) {
    for (const CentralHeader* ch = zs->getFirstCentralHeader(); ch;
         ch = ZipStructure::getNextCentralHeader(ch))
        if (name == ch->fname) return ch;
    return nullptr;
}

// Members read straight from the local headers, independent of the reader.
struct LocalEntry {
    std::string name;
    uint16_t flags, method;
    uint32_t crc, cSize, ucSize;
    size_t dataOffset;
};

std::vector<LocalEntry> localEntries(const Bytes& zip) {
    std::vector<LocalEntry> out;
    auto u16 = [&](size_t p) { return uint16_t(zip[p] | zip[p + 1] << 8); };
    auto u32 = [&](size_t p) { return uint32_t(u16(p) | uint32_t(u16(p + 2)) << 16); };
    size_t p = 0;
    while (p + 30 <= zip.size() && u32(p) == 0x04034b50) {
        LocalEntry e;
        e.flags = u16(p + 6);
        e.method = u16(p + 8);
        e.crc = u32(p + 14);
        e.cSize = u32(p + 18);
        e.ucSize = u32(p + 22);
        size_t nameLen = u16(p + 26), extraLen = u16(p + 28);
        e.name.assign(zip.begin() + long(p + 30), zip.begin() + long(p + 30 + nameLen));
        e.dataOffset = p + 30 + nameLen + extraLen;
        p = e.dataOffset + e.cSize;
        out.push_back(e);
    }
    return out;
}

// ---- generated data -------------------------------------------------------

// Words, line breaks and now and then a few random bytes (144, the reduce
// escape, among them), from a fixed seed.
Bytes mixedText(size_t n, unsigned seed) {
    static const char* const words[] = {"the ",  "quick ", "brown ", "fox ", "jumps ",   "over ",
                                        "lazy ", "dog ",   "\n",     "to ",  "be ",      "or not ",
                                        "that ", "is ",    "\x90 ",  "42 ",  "Hamlet, ", "Prince "};
    std::mt19937 rng(seed);
    Bytes b;
    while (b.size() < n) {
        for (const char* w = words[rng() % std::size(words)]; *w && b.size() < n; ++w)
            b.push_back(uint8_t(*w));
        if (rng() % 40 == 0)
            for (int i = 0; i < 6 && b.size() < n; ++i) b.push_back(uint8_t(rng()));
    }
    return b;
}

// Zeros first: the first back-reference of any of these encoders reaches
// before the start of the member.
Bytes zerosThenText() {
    Bytes b(100, 0);
    Bytes t = mixedText(3000, 11);
    b.insert(b.end(), t.begin(), t.end());
    return b;
}

Bytes longRuns() {
    Bytes b(3000, 'a');
    Bytes t = mixedText(2000, 12);
    b.insert(b.end(), t.begin(), t.end());
    b.insert(b.end(), 1500, 'b');
    return b;
}

// ---- the hand-built vectors ---------------------------------------------------

struct Vector {
    std::string name;  // also the member name
    uint16_t method;
    uint16_t flags;
    Bytes plain;
    Bytes stream;
};

std::vector<Vector> implodeVectors() {
    std::vector<Vector> v;
    const Bytes small = mixedText(3000, 1), mid = mixedText(8192, 2), large = mixedText(40000, 3);
    const Bytes zeros = zerosThenText(), runs = longRuns();
    for (uint16_t flags : {0, 2, 4, 6}) {
        std::string f = "-f" + std::to_string(flags);
        test::ImplodeOptions literalOnly;
        literalOnly.literalOnly = true;
        v.push_back({"implode-3k" + f, 6, flags, small, test::implodeEncode(small, flags)});
        v.push_back({"implode-8k" + f, 6, flags, mid, test::implodeEncode(mid, flags)});
        v.push_back({"implode-40k" + f, 6, flags, large, test::implodeEncode(large, flags)});
        v.push_back({"implode-literals" + f, 6, flags, mid, test::implodeEncode(mid, flags, literalOnly)});
        v.push_back({"implode-before-start" + f, 6, flags, zeros, test::implodeEncode(zeros, flags)});
        v.push_back({"implode-long-runs" + f, 6, flags, runs, test::implodeEncode(runs, flags)});
    }
    // Complete trees with length and distance codes of 1-10, 15 and 16 bits,
    // literals of 7-9 bits.
    test::ImplodeOptions deep;
    for (uint8_t len = 1; len <= 10; ++len) deep.trees.distance.push_back(len);
    deep.trees.distance.insert(deep.trees.distance.end(), 10, 15);
    deep.trees.distance.insert(deep.trees.distance.end(), 44, 16);
    deep.trees.length = deep.trees.distance;
    deep.trees.literal = std::vector<uint8_t>(256, 8);
    deep.trees.literal[' '] = 7;
    deep.trees.literal['q'] = 9;
    deep.trees.literal['z'] = 9;
    v.push_back({"implode-deep-trees-f6", 6, 6, large, test::implodeEncode(large, 6, deep)});
    return v;
}

std::vector<Vector> shrinkVectors() {
    std::vector<Vector> v;
    const Bytes hello = bytesOf("hello, hello, hello world\n");
    const Bytes as(1000, 'a'), run(100000, 'x'), mixed = mixedText(150000, 4);
    v.push_back({"shrink-short", 1, 0, hello, test::shrinkEncode(hello)});
    v.push_back({"shrink-kwkwk", 1, 0, as, test::shrinkEncode(as)});
    v.push_back({"shrink-mixed-150k", 1, 0, mixed, test::shrinkEncode(mixed)});
    v.push_back({"shrink-one-byte-run", 1, 0, run, test::shrinkEncode(run)});
    return v;
}

std::vector<Vector> reduceVectors() {
    std::vector<Vector> v;
    const Bytes text = mixedText(40000, 5), zeros = zerosThenText(), runs = longRuns();
    for (int factor = 1; factor <= 4; ++factor) {
        uint16_t method = uint16_t(factor + 1);
        std::string f = "-x" + std::to_string(factor);
        v.push_back({"reduce-empty-sets" + f, method, 0, text, test::reduceEncode(text, factor, 0)});
        v.push_back({"reduce-full-sets" + f, method, 0, text, test::reduceEncode(text, factor, 32)});
        v.push_back({"reduce-before-start" + f, method, 0, zeros, test::reduceEncode(zeros, factor, 0)});
        v.push_back({"reduce-long-runs" + f, method, 0, runs, test::reduceEncode(runs, factor, 8)});
    }
    return v;
}

const std::vector<Vector>& vectors(int method) {
    static const std::vector<Vector> implode = implodeVectors(), shrink = shrinkVectors(),
                                     reduce = reduceVectors();
    return method == 6 ? implode : method == 1 ? shrink : reduce;
}

// A member of plain as the encoder left it in stream, at version 1.0 and
// with no date.
test::ZipMember zipMember(std::string name, uint16_t method, uint16_t flags, const Bytes& stream,
                          const Bytes& plain) {
    return {.name = std::move(name),
            .data = std::string(plain.begin(), plain.end()),
            .method = method,
            .compressed = std::string(stream.begin(), stream.end()),
            .flags = flags,
            .versionNeeded = 10,
            .versionMadeBy = 10,
            .dosDate = 0};
}

Bytes zipOf(const std::vector<test::ZipMember>& members) {
    return bytesOf(test::buildZip({.members = members}).bytes);
}

std::vector<test::ZipMember> zipMembers(const std::vector<Vector>& vs) {
    std::vector<test::ZipMember> ms;
    for (const Vector& v : vs) ms.push_back(zipMember(v.name, v.method, v.flags, v.stream, v.plain));
    return ms;
}

// ---- provided archives ------------------------------------------------------

struct ProvidedCase {
    const char* archive;
    bool unzipDecodes;  // Debian's unzip has no unreduce
};

void PrintTo(const ProvidedCase& c, std::ostream* os) {
    *os << c.archive;
}

class ProvidedArchive : public ::testing::TestWithParam<ProvidedCase> {
protected:
    std::string expectedPath(const std::string& dir, const std::string& name) {
        struct stat st;
        std::string p = dir + "/originals/" + name;
        return ::stat(p.c_str(), &st) == 0 ? p : dir + "/expected/" + name;
    }
};

TEST_P(ProvidedArchive, EveryMemberDecodesDirectly) {
    std::string dir = oldzipDir();
    ASSERT_FALSE(dir.empty());
    Bytes zip = readFile(dir + "/" + GetParam().archive);
    auto entries = localEntries(zip);
    ASSERT_FALSE(entries.empty());
    for (const LocalEntry& e : entries) {
        SCOPED_TRACE(e.name);
        Bytes expected = readFile(expectedPath(dir, e.name));
        ASSERT_EQ(expected.size(), e.ucSize);
        if (e.method == 0) continue;
        Bytes stream(zip.begin() + long(e.dataOffset), zip.begin() + long(e.dataOffset + e.cSize));
        Decoded d = decodeRaw(e.method, e.flags, stream, e.ucSize);
        EXPECT_EQ(d.rc, 0);
        EXPECT_TRUE(d.out == expected);
        EXPECT_EQ(test::crc32Of(d.out), e.crc);
    }
}

TEST_P(ProvidedArchive, EveryMemberExtractsToDescriptorAndMemory) {
    std::string dir = oldzipDir();
    ASSERT_FALSE(dir.empty());
    std::string zipPath = dir + "/" + GetParam().archive;
    std::vector<std::string> readerMsgs;
    ZsPtr zs(newZipStructure(nullptr, zipPath.c_str(), 0, &readerMsgs, readerWarn));
    ASSERT_TRUE(zs) << (readerMsgs.empty() ? "" : readerMsgs[0]);
    LogCapture log;
    auto uz = newUnzip(0);
    ASSERT_TRUE(uz);
    TempDir tmp;
    int members = 0;
    for (const CentralHeader* ch = zs->getFirstCentralHeader(); ch;
         ch = ZipStructure::getNextCentralHeader(ch)) {
        SCOPED_TRACE(ch->fname);
        ++members;
        Bytes expected = readFile(expectedPath(dir, ch->fname));
        Extracted fd = toDescriptor(*uz, zs.get(), ch, tmp.file("out"));
        EXPECT_EQ(fd.ok, 1);
        EXPECT_TRUE(fd.out == expected);
        Extracted mem = toMemory(*uz, zs.get(), ch);
        EXPECT_EQ(mem.ok, 1);
        EXPECT_TRUE(mem.out == expected);
        if (GetParam().unzipDecodes) {
            EXPECT_TRUE(unzipPipe(zipPath, ch->fname) == fd.out);
        }
    }
    EXPECT_GT(members, 0);
    EXPECT_EQ(log.joined(), "");
}

INSTANTIATE_TEST_SUITE_P(
    LegacyDecoders, ProvidedArchive,
    ::testing::Values(ProvidedCase{"shrink.zip", true}, ProvidedCase{"reduce1.zip", false},
                      ProvidedCase{"reduce2.zip", false}, ProvidedCase{"reduce3.zip", false},
                      ProvidedCase{"reduce4.zip", false}, ProvidedCase{"implode00.zip", true},
                      ProvidedCase{"implode01.zip", true}, ProvidedCase{"implode10.zip", true},
                      ProvidedCase{"implode11.zip", true}, ProvidedCase{"example-i.zip", true},
                      ProvidedCase{"example-r.zip", false}, ProvidedCase{"example-s.zip", true}),
    [](const ::testing::TestParamInfo<ProvidedCase>& info) {
        std::string n = info.param.archive;
        n = n.substr(0, n.find('.'));
        for (char& c : n)
            if (c == '-') c = '_';
        return n;
    });

// ---- hand-built vectors -----------------------------------------------------

// The Shannon-Fano trees of the uniform vectors, byte for byte.
TEST(Explode, UniformTreesAreStoredAsTheNoteShows) {
    EXPECT_EQ(test::implodeTreeBytes(std::vector<uint8_t>(64, 6)), (Bytes{3, 0xF5, 0xF5, 0xF5, 0xF5}));
    Bytes literals{15};
    literals.insert(literals.end(), 16, 0xF7);
    EXPECT_EQ(test::implodeTreeBytes(std::vector<uint8_t>(256, 8)), literals);
}

// Directly on the globals, then through Unzip::unzip to a descriptor and
// into memory with one Unzip for the whole archive. Shrink and implode
// streams must first pass `unzip -t`, and `unzip -p` must agree.
void checkVectors(int method) {
    TempDir tmp;
    std::string path = tmp.file("vectors.zip");
    ASSERT_TRUE(writeFile(path, zipOf(zipMembers(vectors(method)))));
    const bool oracle = method == 1 || method == 6;
    if (oracle) {
        ASSERT_TRUE(unzipTestPasses(path));
    }
    for (const Vector& v : vectors(method)) {
        SCOPED_TRACE(v.name);
        Decoded d = decodeRaw(v.method, v.flags, v.stream, v.plain.size());
        EXPECT_EQ(d.rc, 0);
        EXPECT_TRUE(d.out == v.plain);
    }
    std::vector<std::string> readerMsgs;
    ZsPtr zs(newZipStructure(nullptr, path.c_str(), 0, &readerMsgs, readerWarn));
    ASSERT_TRUE(zs);
    LogCapture log;
    auto uz = newUnzip(0);
    ASSERT_TRUE(uz);
    for (const Vector& v : vectors(method)) {
        SCOPED_TRACE(v.name);
        if (oracle) {
            EXPECT_TRUE(unzipPipe(path, v.name) == v.plain);
        }
        const CentralHeader* ch = member(zs.get(), v.name);
        ASSERT_NE(ch, nullptr);
        Extracted fd = toDescriptor(*uz, zs.get(), ch, tmp.file("out"));
        EXPECT_EQ(fd.ok, 1);
        EXPECT_TRUE(fd.out == v.plain);
        Extracted mem = toMemory(*uz, zs.get(), ch);
        EXPECT_EQ(mem.ok, 1);
        EXPECT_TRUE(mem.out == v.plain);
    }
    EXPECT_EQ(log.joined(), "");
}

TEST(Explode, HandBuiltStreamsDecode) {
    checkVectors(6);
}

TEST(Unshrink, HandBuiltStreamsDecode) {
    checkVectors(1);
}

TEST(Unreduce, HandBuiltStreamsDecode) {
    checkVectors(2);
}

TEST(Unshrink, MixedTextReachesThirteenBitsAndPartialClears) {
    unsigned clears = 0;
    Bytes mixed = mixedText(150000, 4);
    test::shrinkEncode(mixed, 8192, &clears);
    EXPECT_GE(clears, 1u);
}

// A table capped at 300 or 600 codes clears every few hundred codes, so the
// codes above the lowest free one stay in use while it is refilled: a free
// code is known by its marker, never by comparing with the next free code.
// (unzip refuses these, so they stand on this reading alone.)
TEST(Unshrink, FrequentPartialClearsReuseLowestFreeCodes) {
    Bytes text = mixedText(40000, 6);
    for (unsigned limit : {300u, 600u}) {
        SCOPED_TRACE(limit);
        unsigned clears = 0;
        Bytes stream = test::shrinkEncode(text, limit, &clears);
        EXPECT_GT(clears, 10u);
        Decoded d = decodeRaw(1, 0, stream, text.size());
        EXPECT_EQ(d.rc, 0);
        EXPECT_TRUE(d.out == text);
    }
}

// Empty follower sets leave the escape layer in plain bytes: 192 zero bytes
// of set sizes, then 144 0 for a literal 144 and 144 V [extra] D for a
// match (factor 1: length = V & 0x7F, plus the extra byte when 0x7F, plus
// 3; distance = (V >> 7) * 256 + D + 1).
TEST(Unreduce, EmptyFollowerSetsReadPlainBytes) {
    Bytes stream(192, 0);
    Bytes body = {
        144, 0x05, 0xFF,           // 8 bytes from 256 back: before the start, zeros
        'a', 'b',  'c',  144,  0,  // "abc", a literal 144
        144, 0x02, 0x03,           // 5 bytes from 4 back, overlapping
        144, 0x7F, 10,   0x00,     // 127 + 10 + 3 bytes from 1 back
    };
    stream.insert(stream.end(), body.begin(), body.end());
    Bytes expected(8, 0);
    for (char c : std::string("abc\x90"
                              "abc\x90"
                              "a"))
        expected.push_back(uint8_t(c));
    expected.insert(expected.end(), 140, 'a');
    Decoded d = decodeRaw(2, 0, stream, expected.size());
    EXPECT_EQ(d.rc, 0);
    EXPECT_TRUE(d.out == expected);
}

// An empty member may come with no compressed bytes at all: no trees, no
// follower sets.
TEST(LegacyDecoders, EmptyMembersNeedNoHeaders) {
    for (int method : {1, 2, 5, 6}) {
        SCOPED_TRACE(method);
        Decoded d = decodeRaw(method, 0, {}, 0);
        EXPECT_EQ(d.rc, 0);
        EXPECT_TRUE(d.out.empty());
    }
}

// ---- refusals -------------------------------------------------------------------

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST(Explode, BrokenStreamsGiveTheirCodes) {
    const Bytes uniform6 = {3, 0xF5, 0xF5, 0xF5, 0xF5};
    const Bytes text = mixedText(3000, 7);
    const Bytes good = test::implodeEncode(text, 0);
    Bytes truncated(good.begin(), good.end() - 3);
    struct Case {
        const char* name;
        Bytes stream;
        unsigned long ucSize;
        int rc;
    } cases[] = {
        {"valid", good, text.size(), 0},
        {"63 length codes", cat({{3, 0xF5, 0xF5, 0xF5, 0xE5}, uniform6, {0, 0}}), 10, 4},
        {"65 length codes", cat({{4, 0xF5, 0xF5, 0xF5, 0xF5, 0x00}, uniform6, {0, 0}}), 10, 4},
        {"65 distance codes", cat({uniform6, {4, 0xF5, 0xF5, 0xF5, 0xF5, 0x00}, {0, 0}}), 10, 4},
        {"over-subscribed tree", cat({{3, 0xF4, 0xF4, 0xF4, 0xF4}, uniform6, {0, 0}}), 10, 2},
        {"tree cut short", {3, 0xF5}, 10, 1},
        // 64 seven-bit length codes fill half the tree; all-zero input bits
        // invert to a pattern no code has.
        {"invalid code", cat({{3, 0xF6, 0xF6, 0xF6, 0xF6}, uniform6, {0, 0, 0}}), 10, 1},
        {"one trailing byte", cat({good, {0}}), text.size(), 5},
        {"truncated", truncated, text.size(), 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(decodeRaw(6, 0, c.stream, c.ucSize).rc, c.rc);
    }
}

// Codes for hand-made shrink streams: 9 bits, widened after each 256 1.
Bytes lzwCodes(const std::vector<unsigned>& codes) {
    test::BitWriter bw;
    unsigned width = 9;
    for (size_t i = 0; i < codes.size(); ++i) {
        bw.put(codes[i], width);
        if (codes[i] == 256 && i + 1 < codes.size()) {
            bw.put(codes[++i], width);
            if (codes[i] == 1) ++width;
        }
    }
    return bw.bytes();
}

TEST(Unshrink, HandMadeCodesDecodeOrFail) {
    struct Case {
        const char* name;
        std::vector<unsigned> codes;
        int rc;
        const char* out;
    } cases[] = {
        {"KwKwK", {'a', 257, 258}, 0, "aaaaaa"},
        {"previous code survives a widen", {'a', 256, 1, 257}, 0, "aaa"},
        // 257 ("ab") is freed by the clear; the next code reuses it as the
        // KwKwK case, taking the string kept from before the clear.
        {"previous string kept across a partial clear", {'a', 'b', 257, 256, 2, 257}, 0, "abababa"},
        // 257 becomes (259, 'x') while 259 is free; 259 is reassigned "yz"
        // before 257 is used.
        {"prefix reassigned before use",
         {'a', 'b', 'c', 'd', 259, 256, 2, 'x', 'y', 'z', 257},
         0,
         "abcdcdxyzyzx"},
        {"control cut off by the end", {'a', 'b', 256}, 0, "ab"},
        {"first code above 255", {257}, 1, nullptr},
        {"first code a control", {256, 1, 'a'}, 1, nullptr},
        {"unknown control value", {'a', 256, 3}, 1, nullptr},
        {"widen past 13 bits", {'a', 256, 1, 256, 1, 256, 1, 256, 1, 256, 1}, 1, nullptr},
        {"free code other than the next", {'a', 300}, 1, nullptr},
        // 257 is freed and then assigned with itself as prefix.
        {"self-prefixed code", {'a', 'b', 257, 256, 2, 'c', 257}, 1, nullptr},
        {"prefix still free when used", {'a', 'b', 'c', 'd', 259, 256, 2, 'x', 257}, 1, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Decoded d = decodeRaw(1, 0, lzwCodes(c.codes), 1000);
        EXPECT_EQ(d.rc, c.rc);
        if (c.out) {
            EXPECT_EQ(std::string(d.out.begin(), d.out.end()), c.out);
        }
    }
}

TEST(Unreduce, BrokenStreamsGiveOne) {
    const Bytes text = mixedText(5000, 8);
    const Bytes good = test::reduceEncode(text, 2, 32);
    // Set 0 holds three followers (2-bit indexes); index 3 lies outside.
    test::BitWriter outside;
    for (int x = 255; x > 0; --x) outside.put(0, 6);
    outside.put(3, 6);
    for (uint8_t c : {'a', 'b', 'c'}) outside.byte(c);
    outside.put(0, 1);
    outside.put(3, 2);
    struct Case {
        const char* name;
        int factor;
        Bytes stream;
        unsigned long ucSize;
        int rc;
    } cases[] = {
        {"valid", 2, good, text.size(), 0},
        {"follower sets cut short", 2, Bytes(100, 0), 10, 1},
        {"data cut short", 2, Bytes(good.begin(), good.begin() + long(good.size() / 2)), text.size(), 1},
        {"follower index outside its set", 2, outside.bytes(), 5, 1},
        {"factor 0", 0, good, text.size(), 1},
        {"factor 5", 5, good, text.size(), 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Decoded d = decodeRaw(2, 0, c.stream, c.ucSize, c.factor);
        EXPECT_EQ(d.rc, c.rc);
        if (c.rc == 0) {
            EXPECT_TRUE(d.out == text);
        }
    }
}

// ---- through Unzip: limits and member isolation ---------------------------

// A member cut short with its sizes falsified (cSize the bytes kept, ucSize
// 0xFFFFFFF0) ends in an error after little output, never in a stream of
// invented bytes; a member declaring fewer bytes than it holds writes
// exactly those; a bad code fails the member with the decoder's code.
TEST(LegacyDecoders, BrokenMembersFailThroughUnzip) {
    const Bytes text = mixedText(40000, 9);
    const Bytes imploded = test::implodeEncode(text, 6), reduced = test::reduceEncode(text, 4, 32),
                shrunk = test::shrinkEncode(text);
    auto half = [](const Bytes& b) { return Bytes(b.begin(), b.begin() + long(b.size() / 2)); };
    auto sized = [&](const char* name, uint16_t method, uint16_t flags, const Bytes& stream,
                     uint32_t ucSize) {
        test::ZipMember m = zipMember(name, method, flags, stream, text);
        m.local.size = m.central.size = ucSize;
        return m;
    };
    constexpr uint32_t kHuge = 0xFFFFFFF0;
    struct Case {
        test::ZipMember member;
        std::string message;  // the start of the one message expected
        long written;         // bytes expected on the descriptor, -1: any prefix under 1 MiB
    } cases[] = {
        {sized("cut-implode", 6, 6, half(imploded), kHuge), "3 Unzip, explode failed with code 1", -1},
        {sized("cut-reduce", 5, 0, half(reduced), kHuge), "2 Unzip, wrote only ", -1},
        {sized("cut-shrink", 1, 0, half(shrunk), kHuge), "2 Unzip, wrote only ", -1},
        {sized("small-implode", 6, 6, imploded, 1000), "3 Unzip, explode failed with code 5", 1000},
        {sized("small-reduce", 5, 0, reduced, 1000), "3 Unzip, CRC mismatch, ", 1000},
        {sized("small-shrink", 1, 0, shrunk, 1000), "3 Unzip, unshrink failed with code 1", 1000},
        {zipMember("trailing-implode", 6, 6, cat({imploded, {0}}), text),
         "3 Unzip, explode failed with code 5", long(text.size())},
        {zipMember("self-prefixed-shrink", 1, 0, lzwCodes({'a', 'b', 257, 256, 2, 'c', 257}),
                   bytesOf("abcab")),
         "3 Unzip, unshrink failed with code 1", 0},
    };
    TempDir tmp;
    std::string path = tmp.file("broken.zip");
    std::vector<test::ZipMember> members;
    for (const Case& c : cases) members.push_back(c.member);
    ASSERT_TRUE(writeFile(path, zipOf(members)));
    std::vector<std::string> readerMsgs;
    ZsPtr zs(newZipStructure(nullptr, path.c_str(), 0, &readerMsgs, readerWarn));
    ASSERT_TRUE(zs);
    auto uz = newUnzip(0);
    ASSERT_TRUE(uz);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.member.name);
        LogCapture log;
        Extracted fd = toDescriptor(*uz, zs.get(), member(zs.get(), c.member.name), tmp.file("out"));
        EXPECT_EQ(fd.ok, 0);
        EXPECT_EQ(uz->fdwritten, fd.out.size());
        if (c.written < 0) {
            EXPECT_LT(fd.out.size(), size_t(1) << 20);
            EXPECT_TRUE(std::equal(fd.out.begin(), fd.out.end(), text.begin()));
        } else {
            EXPECT_EQ(fd.out.size(), size_t(c.written));
        }
        ASSERT_EQ(log.lines.size(), 1u) << log.joined();
        EXPECT_EQ(log.lines[0].rfind(c.message, 0), 0u) << log.lines[0];
        if (c.message.find("wrote only") != std::string::npos) {
            EXPECT_EQ(log.lines[0], "2 Unzip, wrote only " + std::to_string(fd.out.size()) + " bytes of " +
                                        std::to_string(kHuge) + ", " + c.member.name);
        }
    }
}

// A failed write stops the decoder at once: one "disk write failed", and
// the member fails.
TEST(LegacyDecoders, WriteFailureStopsTheDecoder) {
    const Bytes text = mixedText(100000, 13);
    std::vector<test::ZipMember> members = {
        zipMember("implode", 6, 2, test::implodeEncode(text, 2), text),
        zipMember("reduce", 3, 0, test::reduceEncode(text, 2, 0), text),
        zipMember("shrink", 1, 0, test::shrinkEncode(text), text),
    };
    const char* failure[] = {"3 Unzip, explode failed with code 1",
                             "2 Unzip, wrote only 0 bytes of 100000, reduce",
                             "3 Unzip, unshrink failed with code 1"};
    TempDir tmp;
    std::string path = tmp.file("w.zip");
    ASSERT_TRUE(writeFile(path, zipOf(members)));
    std::vector<std::string> readerMsgs;
    ZsPtr zs(newZipStructure(nullptr, path.c_str(), 0, &readerMsgs, readerWarn));
    ASSERT_TRUE(zs);
    auto uz = newUnzip(0);
    ASSERT_TRUE(uz);
    int readOnly = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(readOnly, 0);
    for (size_t i = 0; i < members.size(); ++i) {
        SCOPED_TRACE(members[i].name);
        LogCapture log;
        EXPECT_EQ(uz->unzip(zs.get(), member(zs.get(), members[i].name), -1, readOnly), 0);
        ASSERT_EQ(log.lines.size(), 2u) << log.joined();
        EXPECT_EQ(log.lines[0].rfind("2 Unzip, disk write failed, ", 0), 0u) << log.lines[0];
        EXPECT_EQ(log.lines[1], failure[i]);
    }
    ::close(readOnly);
}

// One Unzip, member A then member B whose first match reaches before B's
// start: B sees zeros there, never A's last bytes.
TEST(LegacyDecoders, NoBytesLeakBetweenMembers) {
    const Bytes a = mixedText(20000, 10), b = zerosThenText();
    std::vector<test::ZipMember> members = {
        zipMember("a-implode", 6, 2, test::implodeEncode(a, 2), a),
        zipMember("b-implode", 6, 2, test::implodeEncode(b, 2), b),
        zipMember("a-reduce", 3, 0, test::reduceEncode(a, 2, 0), a),
        zipMember("b-reduce", 3, 0, test::reduceEncode(b, 2, 0), b),
    };
    TempDir tmp;
    std::string path = tmp.file("leak.zip");
    ASSERT_TRUE(writeFile(path, zipOf(members)));
    std::vector<std::string> readerMsgs;
    ZsPtr zs(newZipStructure(nullptr, path.c_str(), 0, &readerMsgs, readerWarn));
    ASSERT_TRUE(zs);
    LogCapture log;
    auto uz = newUnzip(0);
    ASSERT_TRUE(uz);
    for (bool memory : {false, true}) {
        SCOPED_TRACE(memory ? "memory" : "descriptor");
        for (size_t i = 0; i < members.size(); ++i) {
            SCOPED_TRACE(members[i].name);
            const CentralHeader* ch = member(zs.get(), members[i].name);
            ASSERT_NE(ch, nullptr);
            Extracted e =
                memory ? toMemory(*uz, zs.get(), ch) : toDescriptor(*uz, zs.get(), ch, tmp.file("out"));
            EXPECT_EQ(e.ok, 1);
            EXPECT_TRUE(e.out == (i % 2 ? b : a));
        }
    }
    EXPECT_EQ(log.joined(), "");
    EXPECT_TRUE(unzipPipe(path, "a-implode") == a);
    EXPECT_TRUE(unzipPipe(path, "b-implode") == b);
}

}  // namespace
}  // namespace ruva

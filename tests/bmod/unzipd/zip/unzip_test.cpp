// Member extraction through Unzip::unzip: archives made by zip, jar,
// python's zipfile and the archive builder, extracted to a socket and into
// memory, against their sources and `unzip -p`.
#include "bmod/unzipd/zip/unzip.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bmod/unzipd/zip/zip_reader.h"
#include "tests/support/payloads.h"
#include "tests/support/test_support.h"
#include "tests/support/zip_builder.h"

namespace ruva {
namespace {

using test::capture;
using test::crc32Of;
using test::randomBytes;
using test::rawDeflate;
using test::readFile;
using test::runs;
using test::runShell;
using test::SocketReader;
using test::text;
using test::writeFile;
using test::writeZip;
using test::ZipMember;

using test::TempDir;

// ---- messages

struct Message {
    int level;
    std::string text;
};

// Collects Unzip::warn and the reader's warn for one test.
class Log {
public:
    Log() { setUnzipLogSink(&Log::sink, this); }
    ~Log() { setUnzipLogSink(nullptr, nullptr); }
    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;

    static void zipWarn(void* self, int level, const char* format, ...)
        __attribute__((format(printf, 3, 4))) {
        char text[4096];
        va_list ap;
        va_start(ap, format);
        std::vsnprintf(text, sizeof text, format, ap);
        va_end(ap);
        static_cast<Log*>(self)->lines.push_back({level, text});
    }
    bool has(int level, const std::string& text) const {
        for (const Message& m : lines)
            if (m.level == level && m.text == text) return true;
        return false;
    }
    std::string all() const {
        std::string s;
        for (const Message& m : lines) s += std::to_string(m.level) + " " + m.text + "\n";
        return s;
    }
    void clear() { lines.clear(); }
    std::vector<Message> lines;

private:
    static void sink(void* self, int level, const char* message) {
        static_cast<Log*>(self)->lines.push_back({level, message});
    }
};

// ---- fixtures

// A member deflated unless a case says otherwise.
ZipMember member(std::string name, std::string data, uint16_t method = ZIPMETHOD_DEFLATED) {
    return {.name = std::move(name), .data = std::move(data), .method = method};
}

// Runs a python3 script in dir.
bool runPython(const TempDir& dir, const std::string& script) {
    writeFile(dir.file("fixture.py"), script);
    return runShell("cd '" + dir.path() + "' && " + test::pythonCommand() + " fixture.py") == 0;
}

struct ZsDel {
    void operator()(ZipStructure* zs) const {
        if (zs) zs->del();
    }
};
using ZsPtr = std::unique_ptr<ZipStructure, ZsDel>;

ZsPtr openArchive(const std::string& path, Log& log, uint16_t flags = 0) {
    return ZsPtr(newZipStructure(nullptr, path.c_str(), flags, &log, &Log::zipWarn));
}

struct Extracted {
    int ok;
    std::string bytes;
};

Extracted toMemory(Unzip& uz, ZipStructure* zs, const CentralHeader* ch, int zipfd = -1) {
    int ok = uz.unzip(zs, ch, zipfd, -1);
    return {ok, ok && uz.buf ? std::string(reinterpret_cast<char*>(uz.buf), uz.bufwritten) : ""};
}

Extracted toSocket(Unzip& uz, ZipStructure* zs, const CentralHeader* ch, int zipfd = -1) {
    SocketReader reader;
    int ok = uz.unzip(zs, ch, zipfd, reader.fd());
    return {ok, reader.finish()};
}

const CentralHeader* find(ZipStructure* zs, const char* name) {
    return zs->findCentralHeader(name, nullptr);
}

// ---- extraction equals the sources and unzip -p

// The sources in src/: each kind at sizes around deflate's 32 KiB window.
std::vector<std::string> writeCorpus(const TempDir& dir) {
    mkdir(dir.file("src").c_str(), 0755);
    std::vector<std::string> names;
    for (size_t size : {0, 1, 32767, 32768, 32769, 1 << 20}) {
        for (auto [kind, make] : {std::pair{"text", &text}, {"rand", &randomBytes}, {"runs", &runs}}) {
            const std::string name = std::string(kind) + "-" + std::to_string(size);
            writeFile(dir.file("src/" + name), make(size, unsigned(size + 3)));
            names.push_back(name);
        }
    }
    return names;
}

// Every member of the archive, to a socket and into memory, equals its
// source file in src/ and unzip -p.
void checkArchive(const TempDir& dir, const std::string& archive) {
    Log log;
    ZsPtr zs = openArchive(dir.file(archive), log);
    ASSERT_TRUE(zs) << log.all();
    std::unique_ptr<Unzip> uz = newUnzip(0);
    int members = 0;
    for (const CentralHeader* ch = zs->getFirstCentralHeader(); ch;
         ch = ZipStructure::getNextCentralHeader(ch)) {
        SCOPED_TRACE(archive + " " + ch->fname);
        members++;
        std::string source = readFile(dir.file(std::string("src/") + ch->fname));
        std::string oracle = capture("unzip -p " + dir.file(archive) + " " + ch->fname);
        EXPECT_TRUE(oracle == source);
        Extracted s = toSocket(*uz, zs.get(), ch);
        EXPECT_EQ(s.ok, 1);
        EXPECT_TRUE(s.bytes == source);
        Extracted m = toMemory(*uz, zs.get(), ch);
        EXPECT_EQ(m.ok, 1);
        EXPECT_TRUE(m.bytes == source);
    }
    EXPECT_GT(members, 0);
    EXPECT_EQ(log.all(), "");
}

void zipCorpus(const char* level) {
    TempDir dir;
    std::string names;
    for (const std::string& name : writeCorpus(dir)) names += " " + name;
    ASSERT_EQ(runShell("cd '" + dir.file("src") + "' && zip -q -X " + level + " ../a.zip" + names), 0);
    checkArchive(dir, "a.zip");
}

TEST(UnzipExtract, StoredByZipEqualsSourceAndUnzipP) {
    zipCorpus("-0");
}
TEST(UnzipExtract, DeflatedFastByZipEqualsSourceAndUnzipP) {
    zipCorpus("-1");
}
TEST(UnzipExtract, DeflatedBestByZipEqualsSourceAndUnzipP) {
    zipCorpus("-9");
}

// One strategy a case: each runs a few dozen unzip -p children, so together
// they would crowd the time limit of one case on a slow machine.
void zlibStrategyCorpus(const char* sname, int level, int strategy) {
    TempDir dir;
    std::vector<ZipMember> members;
    for (const std::string& name : writeCorpus(dir)) {
        if (name.ends_with(std::to_string(1 << 20)) && !name.starts_with("text")) continue;
        const std::string data = readFile(dir.file("src/" + name));
        const std::string member = name + "-" + sname;
        writeFile(dir.file("src/" + member), data);
        members.push_back({.name = member,
                           .data = data,
                           .method = ZIPMETHOD_DEFLATED,
                           .compressed = rawDeflate(data, level, strategy, 9)});
    }
    writeZip(dir.file("z.zip"), {.members = members});
    checkArchive(dir, "z.zip");
}

TEST(UnzipExtract, ZlibDefaultStrategyEqualsSourceAndUnzipP) {
    zlibStrategyCorpus("default", 6, Z_DEFAULT_STRATEGY);
}
TEST(UnzipExtract, ZlibFixedStrategyEqualsSourceAndUnzipP) {
    zlibStrategyCorpus("fixed", 6, Z_FIXED);
}
TEST(UnzipExtract, ZlibHuffmanOnlyEqualsSourceAndUnzipP) {
    zlibStrategyCorpus("huffman", 6, Z_HUFFMAN_ONLY);
}
TEST(UnzipExtract, ZlibRleEqualsSourceAndUnzipP) {
    zlibStrategyCorpus("rle", 6, Z_RLE);
}
TEST(UnzipExtract, ZlibLevel0EqualsSourceAndUnzipP) {
    zlibStrategyCorpus("level0", 0, Z_DEFAULT_STRATEGY);
}

TEST(UnzipExtract, ZipfileArchiveEqualsSource) {
    TempDir dir;
    std::string names = "names = [";
    for (const std::string& name : writeCorpus(dir)) names += "'" + name + "', ";
    ASSERT_TRUE(runPython(dir, names + "]\n" + R"PY(
import zipfile
with zipfile.ZipFile('p.zip', 'w') as z:
    for i, name in enumerate(names):
        if name.endswith(str(1 << 20)): continue
        z.write('src/' + name, name, compress_type=zipfile.ZIP_STORED if i % 2 else zipfile.ZIP_DEFLATED)
)PY"));
    checkArchive(dir, "p.zip");
}

// ---- data descriptors

TEST(UnzipExtract, DataDescriptorMembersUseTheCentralValues) {
    TempDir dir;
    mkdir(dir.file("d").c_str(), 0755);
    mkdir(dir.file("d/sub").c_str(), 0755);
    writeFile(dir.file("d/a.txt"), text(70000, 1));
    writeFile(dir.file("d/sub/b.bin"), randomBytes(5000, 2));
    writeFile(dir.file("d/empty"), "");
    writeFile(dir.file("d/c.txt"), runs(200000, 3));
    ASSERT_TRUE(runPython(dir, R"PY(
import subprocess, zipfile
files = ['d/a.txt', 'd/sub/b.bin', 'd/empty', 'd/c.txt']
# zip writes descriptors only when its output cannot seek.
zipped = subprocess.run(['zip', '-q', '-X', '-', *files], stdout=subprocess.PIPE, check=True).stdout
open('piped.zip', 'wb').write(zipped)
subprocess.check_call(['jar', 'cf', 'x.jar', 'd'])
# zipfile writing to a pipe leaves CRC and sizes 0, stored members too.
class Pipe:
    def __init__(self): self.buf = bytearray()
    def write(self, b): self.buf += b; return len(b)
    def flush(self): pass
    def tell(self): raise OSError('unseekable')
    def seek(self, *a): raise OSError('unseekable')
p = Pipe()
with zipfile.ZipFile(p, 'w') as z:
    for i, name in enumerate(files):
        z.write(name, name, compress_type=zipfile.ZIP_STORED if i % 2 else zipfile.ZIP_DEFLATED)
open('pyz.zip', 'wb').write(p.buf)
)PY"));
    for (const char* archive : {"piped.zip", "x.jar", "pyz.zip"}) {
        Log log;
        ZsPtr zs = openArchive(dir.file(archive), log);
        ASSERT_TRUE(zs) << archive << log.all();
        std::unique_ptr<Unzip> uz = newUnzip(0);
        int descriptors = 0;
        for (const CentralHeader* ch = zs->getFirstCentralHeader(); ch;
             ch = ZipStructure::getNextCentralHeader(ch)) {
            if (ch->fname[std::strlen(ch->fname) - 1] == '/' || std::strncmp(ch->fname, "META-INF", 8) == 0)
                continue;
            SCOPED_TRACE(std::string(archive) + " " + ch->fname);
            LocalHeader* lh = zs->readLocalHeader(ch, -1);
            ASSERT_NE(lh, nullptr);
            descriptors += (lh->generalFlags & 8) != 0;
            zs->freeLocalHeader(lh);
            std::string source = readFile(dir.file(ch->fname));
            Extracted s = toSocket(*uz, zs.get(), ch);
            EXPECT_EQ(s.ok, 1);
            EXPECT_TRUE(s.bytes == source);
            Extracted m = toMemory(*uz, zs.get(), ch);
            EXPECT_EQ(m.ok, 1);
            EXPECT_TRUE(m.bytes == source);
        }
        EXPECT_GE(descriptors, 3) << archive;
        EXPECT_EQ(log.all(), "") << archive;
    }
}

// ---- refusals

TEST(UnzipRefusal, EachGivesItsMessage) {
    TempDir dir;
    const std::string data = text(3000, 1);
    const uint32_t size = uint32_t(data.size());
    writeZip(
        dir.file("t.zip"),
        {.members = {
             {.name = "v20", .data = data, .method = ZIPMETHOD_DEFLATED, .versionNeeded = 20},
             {.name = "v21", .data = data, .method = ZIPMETHOD_DEFLATED, .versionNeeded = 21},
             member("m7", data, 7),
             member("m9", data, 9),
             member("m12", data, 12),
             {.name = "badcrc",
              .data = data,
              .method = ZIPMETHOD_DEFLATED,
              .local = {.crc = crc32Of(data) ^ 1}},
             {.name = "storedlong", .data = data, .method = ZIPMETHOD_STORED, .local = {.size = size + 1}},
             {.name = "deflatedlong",
              .data = data,
              .method = ZIPMETHOD_DEFLATED,
              .local = {.size = size + 1000}},
             {.name = "beyond",
              .data = data,
              .method = ZIPMETHOD_DEFLATED,
              .local = {.compressedSize = 1 << 24}},
             {.name = "huge", .data = data, .method = ZIPMETHOD_DEFLATED, .local = {.size = (1u << 30) + 1}},
         }});
    writeFile(dir.file("secret.txt"), data);
    ASSERT_EQ(runShell("cd '" + dir.path() + "' && zip -q -X -P pw e.zip secret.txt"), 0);
    struct Case {
        const char* archive;
        const char* member;
        bool toMemory;
        int level;
        std::string message;  // "@" stands for the archive's path
    };
    const Case cases[] = {
        {"t.zip", "v21", false, 3, "Unzip, version needed 2.1, supported 2.0, v21"},
        {"e.zip", "secret.txt", false, 3, "Unzip, encrypted file 'secret.txt'"},
        {"t.zip", "m7", false, 3, "Unzip, unknown compression method 7 in @"},
        {"t.zip", "m9", true, 3, "Unzip, unknown compression method 9 in @"},
        {"t.zip", "m12", false, 3, "Unzip, unknown compression method 12 in @"},
        {"t.zip", "badcrc", false, 3, "Unzip, CRC mismatch, calculated 0x"},
        {"t.zip", "storedlong", false, 3, "Unzip, store failed with code 1"},
        {"t.zip", "storedlong", true, 3, "Unzip, store failed with code 1"},
        {"t.zip", "deflatedlong", false, 2, "Unzip, wrote only 3000 bytes of 4000, deflatedlong"},
        {"t.zip", "deflatedlong", true, 2, "Unzip, wrote only 3000 bytes of 4000, deflatedlong"},
        {"t.zip", "beyond", true, 3, "Unzip, data of beyond beyond end of @"},
        {"t.zip", "huge", true, 3, "No memory for 1073741825 bytes buffer for file huge"},
    };
    std::unique_ptr<Unzip> uz = newUnzip(0);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.member) + (c.toMemory ? " into memory" : " to a socket"));
        Log log;
        std::string path = dir.file(c.archive);
        ZsPtr zs = openArchive(path, log);
        ASSERT_TRUE(zs) << log.all();
        const CentralHeader* ch = find(zs.get(), c.member);
        ASSERT_NE(ch, nullptr);
        Extracted e = c.toMemory ? toMemory(*uz, zs.get(), ch) : toSocket(*uz, zs.get(), ch);
        EXPECT_EQ(e.ok, 0);
        std::string expected;
        for (char ch2 : c.message) expected += ch2 == '@' ? path : std::string(1, ch2);
        ASSERT_EQ(log.lines.size(), 1u) << log.all();
        EXPECT_EQ(log.lines[0].level, c.level);
        EXPECT_EQ(log.lines[0].text.substr(0, expected.size()), expected);
        if (std::string(c.member) == "m7") {
            EXPECT_EQ(e.bytes, "");
        }
    }
    // The mismatch names both values and the member.
    Log log;
    ZsPtr zs = openArchive(dir.file("t.zip"), log);
    const CentralHeader* ch = find(zs.get(), "badcrc");
    LocalHeader* lh = zs->readLocalHeader(ch, -1);
    char expected[200];
    std::snprintf(expected, sizeof expected, "Unzip, CRC mismatch, calculated 0x%lx, expected 0x%lx, badcrc",
                  lh->crc ^ 1, lh->crc);
    zs->freeLocalHeader(lh);
    EXPECT_EQ(toSocket(*uz, zs.get(), ch).ok, 0);
    EXPECT_TRUE(log.has(3, expected)) << log.all();
    // Version 2.0 is accepted.
    EXPECT_EQ(toSocket(*uz, zs.get(), find(zs.get(), "v20")).ok, 1);
}

TEST(UnzipRefusal, ArgumentsAndOpenFailures) {
    TempDir dir;
    writeZip(dir.file("t.zip"), {.members = {member("one", "abc")}});
    Log log;
    ZsPtr zs = openArchive(dir.file("t.zip"), log);
    ASSERT_TRUE(zs);
    std::unique_ptr<Unzip> uz = newUnzip(0);
    EXPECT_EQ(uz->unzip(nullptr, zs->getFirstCentralHeader(), -1, -1), 0);
    EXPECT_EQ(uz->unzip(zs.get(), nullptr, -1, -1), 0);
    EXPECT_EQ(log.all(), "3 Invalid arguments given to unzip\n3 Invalid arguments given to unzip\n");
    log.clear();
    // The message names the member, not the archive.
    ASSERT_EQ(unlink(dir.file("t.zip").c_str()), 0);
    EXPECT_EQ(uz->unzip(zs.get(), zs->getFirstCentralHeader(), -1, -1), 0);
    EXPECT_TRUE(log.has(3, "Unzip, failed to open ZIP file 'one'")) << log.all();
}

TEST(UnzipRefusal, BrokenLocalHeaderIsNotRead) {
    TempDir dir;
    // "QK\3\4": the first byte of the signature off by one.
    writeZip(dir.file("t.zip"), {.members = {{.name = "one",
                                              .data = text(100, 1),
                                              .method = ZIPMETHOD_DEFLATED,
                                              .local = {.signature = kZipLocalSignature + 1}}}});
    Log log;
    ZsPtr zs = openArchive(dir.file("t.zip"), log);
    ASSERT_TRUE(zs);
    std::unique_ptr<Unzip> uz = newUnzip(0);
    EXPECT_EQ(toMemory(*uz, zs.get(), zs->getFirstCentralHeader()).ok, 0);
    EXPECT_TRUE(log.has(3, "Unzip, failed to read LocalHeader of one")) << log.all();
}

// ---- corruption and declared sizes

TEST(UnzipCorruption, FlippedDataByteFails) {
    TempDir dir;
    test::BuiltZip zip = test::buildZip({.members = {member("one", text(50000, 4))}});
    zip.bytes[zip.places[0].data + 2000] ^= 0x10;
    writeFile(dir.file("t.zip"), zip.bytes);
    Log log;
    ZsPtr zs = openArchive(dir.file("t.zip"), log);
    ASSERT_TRUE(zs);
    std::unique_ptr<Unzip> uz = newUnzip(0);
    EXPECT_EQ(toSocket(*uz, zs.get(), zs->getFirstCentralHeader()).ok, 0);
    EXPECT_EQ(toMemory(*uz, zs.get(), zs->getFirstCentralHeader()).ok, 0);
    EXPECT_EQ(log.lines.size(), 2u) << log.all();
}

TEST(UnzipCorruption, StoredMemberIntoMemoryFailsItsCrcCheck) {
    TempDir dir;
    const std::string data = text(10000, 5);
    writeZip(dir.file("t.zip"), {.members = {{.name = "one",
                                              .data = data,
                                              .method = ZIPMETHOD_STORED,
                                              .local = {.crc = crc32Of(data) ^ 1}}}});
    writeFile(dir.file("one"), data);
    Log log;
    ZsPtr zs = openArchive(dir.file("t.zip"), log);
    ASSERT_TRUE(zs);
    std::unique_ptr<Unzip> uz = newUnzip(0);
    const CentralHeader* ch = zs->getFirstCentralHeader();
    Extracted m = toMemory(*uz, zs.get(), ch);
    EXPECT_EQ(m.ok, 0);
    ASSERT_EQ(log.lines.size(), 1u);
    const Message memory = log.lines[0];
    log.clear();
    EXPECT_EQ(toSocket(*uz, zs.get(), ch).ok, 0);
    ASSERT_EQ(log.lines.size(), 1u);
    // The deflated members' message, into memory as through a descriptor.
    EXPECT_EQ(memory.level, 3);
    EXPECT_EQ(memory.text, log.lines[0].text);
    EXPECT_EQ(memory.text.rfind("Unzip, CRC mismatch, calculated 0x", 0), 0u) << memory.text;
}

TEST(UnzipCorruption, DeflateBombStopsAtTheDeclaredSize) {
    TempDir dir;
    writeZip(dir.file("t.zip"), {.members = {{.name = "bomb",
                                              .data = std::string(1 << 20, '\0'),
                                              .method = ZIPMETHOD_DEFLATED,
                                              .local = {.size = 1000}}}});
    Log log;
    ZsPtr zs = openArchive(dir.file("t.zip"), log);
    ASSERT_TRUE(zs);
    std::unique_ptr<Unzip> uz = newUnzip(0);
    Extracted s = toSocket(*uz, zs.get(), zs->getFirstCentralHeader());
    EXPECT_EQ(s.ok, 0);
    EXPECT_EQ(s.bytes, std::string(1000, '\0'));
    EXPECT_EQ(uz->fdwritten, 1000u);
    EXPECT_EQ(log.all(), "3 Unzip, inflate failed with code 1\n");
    log.clear();
    EXPECT_EQ(toMemory(*uz, zs.get(), zs->getFirstCentralHeader()).ok, 0);
    EXPECT_EQ(uz->bufwritten, 1000u);
    EXPECT_EQ(log.all(), "3 Unzip, inflate failed with code 1\n");
}

TEST(UnzipCorruption, StoredMemberPastTheEndOfATruncatedCopyIsRefused) {
    // The library shrank after it was indexed: mapping the member would
    // raise SIGBUS, so the child must end normally with a message.
    TempDir dir;
    writeZip(dir.file("t.zip"), {.members = {member("big", randomBytes(300000, 6), ZIPMETHOD_STORED)}});
    Log log;
    ZsPtr zs = openArchive(dir.file("t.zip"), log);
    ASSERT_TRUE(zs);
    ASSERT_EQ(truncate(dir.file("t.zip").c_str(), 100000), 0);
    std::string path = dir.file("t.zip");
    int status = test::inChild([&] {
        std::unique_ptr<Unzip> uz = newUnzip(0);
        const CentralHeader* ch = zs->getFirstCentralHeader();
        if (uz->unzip(zs.get(), ch, -1, -1) != 0) return 1;
        if (!log.has(3, "Unzip, data of big beyond end of " + path)) return 2;
        int null = open("/dev/null", O_WRONLY);
        if (uz->unzip(zs.get(), ch, -1, null) != 0) return 3;
        close(null);
        return 0;
    });
    EXPECT_EQ(status, 0);
}

// ---- the memory buffer

TEST(UnzipBuffer, ReusedGrownMappedAndEmptied) {
    TempDir dir;
    const std::vector<ZipMember> members = {member("small", text(5000, 1)),
                                            member("large", text(300000, 2)),
                                            member("stored", text(7000, 3), ZIPMETHOD_STORED),
                                            member("empty", ""),
                                            member("emptystored", "", ZIPMETHOD_STORED),
                                            member("small2", text(4000, 4))};
    writeZip(dir.file("t.zip"), {.members = members});
    for (const ZipMember& m : members)
        if (!m.data.empty()) writeFile(dir.file(m.name), m.data);
    Log log;
    ZsPtr zs = openArchive(dir.file("t.zip"), log);
    ASSERT_TRUE(zs);
    std::unique_ptr<Unzip> uz = newUnzip(4096);
    ASSERT_NE(uz, nullptr);
    EXPECT_EQ(uz->bufsize, 4096u);
    EXPECT_EQ(uz->flags & kUnzipBufMapped, kUnzipBufMapped);

    // Too small: a new buffer of the member's size.
    Extracted m = toMemory(*uz, zs.get(), find(zs.get(), "small"));
    EXPECT_EQ(m.ok, 1);
    EXPECT_TRUE(m.bytes == readFile(dir.file("small")));
    EXPECT_GE(uz->bufsize, 5000u);
    // Regrown for a larger member.
    m = toMemory(*uz, zs.get(), find(zs.get(), "large"));
    EXPECT_EQ(m.ok, 1);
    EXPECT_TRUE(m.bytes == readFile(dir.file("large")));
    EXPECT_GE(uz->bufsize, 300000u);
    unsigned char* largeBuf = uz->buf;
    // Reused for a smaller one.
    m = toMemory(*uz, zs.get(), find(zs.get(), "small2"));
    EXPECT_EQ(m.ok, 1);
    EXPECT_TRUE(m.bytes == readFile(dir.file("small2")));
    EXPECT_EQ(uz->buf, largeBuf);

    // A stored member is mapped in place and stays until the next call.
    m = toMemory(*uz, zs.get(), find(zs.get(), "stored"));
    EXPECT_EQ(m.ok, 1);
    EXPECT_TRUE(m.bytes == readFile(dir.file("stored")));
    EXPECT_NE(uz->mmapbufstart, nullptr);
    EXPECT_EQ(uz->bufwritten, 7000u);
    // A private mapping: writing to it leaves the archive alone.
    std::string archive = readFile(dir.file("t.zip"));
    size_t at = archive.find(readFile(dir.file("stored")));
    ASSERT_NE(at, std::string::npos);
    uz->buf[0] ^= 1;
    EXPECT_EQ(readFile(dir.file("t.zip"))[at], archive[at]);
    m = toMemory(*uz, zs.get(), find(zs.get(), "small"));
    EXPECT_EQ(m.ok, 1);
    EXPECT_EQ(uz->mmapbufstart, nullptr);
    EXPECT_TRUE(m.bytes == readFile(dir.file("small")));
    EXPECT_EQ(toSocket(*uz, zs.get(), find(zs.get(), "stored")).bytes, readFile(dir.file("stored")));

    // Empty members: nothing written, no mapping, no message.
    for (const char* name : {"empty", "emptystored"}) {
        SCOPED_TRACE(name);
        m = toMemory(*uz, zs.get(), find(zs.get(), name));
        EXPECT_EQ(m.ok, 1);
        EXPECT_EQ(uz->bufwritten, 0u);
        EXPECT_EQ(uz->mmapbufstart, nullptr);
        Extracted s = toSocket(*uz, zs.get(), find(zs.get(), name));
        EXPECT_EQ(s.ok, 1);
        EXPECT_EQ(s.bytes, "");
    }
    EXPECT_EQ(log.all(), "");

    uz->freeUnzipBuffer();
    EXPECT_EQ(uz->buf, nullptr);
    EXPECT_EQ(uz->bufsize, 0u);
    EXPECT_EQ(uz->allocUnzipBuffer(10000, 0), 1);
    EXPECT_EQ(uz->bufsize, 10000u);
    EXPECT_EQ(uz->flags & kUnzipBufMapped, 0);
    EXPECT_EQ(uz->allocUnzipBuffer(0, 1), 1);
    EXPECT_EQ(uz->buf, nullptr);
}

TEST(UnzipBuffer, ErrorTextIsKept) {
    std::unique_ptr<Unzip> uz = newUnzip(0);
    EXPECT_STREQ(uz->getError(), "");
    uz->setError("code %d", 7);
    EXPECT_STREQ(uz->getError(), "code 7");
    uz->setError(nullptr);
    EXPECT_STREQ(uz->getError(), "");
}

TEST(UnzipExtract, VerboseLibraryLogsEachExtraction) {
    TempDir dir;
    writeZip(dir.file("t.zip"), {.members = {member("one", "abc")}});
    Log log;
    ZsPtr zs = openArchive(dir.file("t.zip"), log, kZipVerbose);
    ASSERT_TRUE(zs);
    std::unique_ptr<Unzip> uz = newUnzip(0);
    EXPECT_EQ(toMemory(*uz, zs.get(), zs->getFirstCentralHeader()).bytes, "abc");
    EXPECT_EQ(log.all(), "7 Uncompressed one in " + dir.file("t.zip") + "\n");
}

TEST(UnzipExtract, OpenArchiveDescriptorIsUsedAndKept) {
    TempDir dir;
    std::string abc;
    for (int i = 0; i < 1000; ++i) abc += "abc";
    writeZip(dir.file("t.zip"), {.members = {member("one", abc), member("two", "xyz")}});
    Log log;
    ZsPtr zs = openArchive(dir.file("t.zip"), log);
    ASSERT_TRUE(zs);
    std::unique_ptr<Unzip> uz = newUnzip(0);
    int fd = zs->openZipFile();
    ASSERT_GE(fd, 0);
    EXPECT_EQ(toMemory(*uz, zs.get(), find(zs.get(), "two"), fd).bytes, "xyz");
    EXPECT_EQ(toSocket(*uz, zs.get(), find(zs.get(), "one"), fd).bytes.size(), 3000u);
    EXPECT_NE(fcntl(fd, F_GETFD), -1);
    zs->closeZipFile(fd);
}

// ---- signals while writing

volatile sig_atomic_t g_usr2Count = 0;
void onUsr2(int) {
    g_usr2Count = g_usr2Count + 1;
}

TEST(UnzipSignals, SlowReaderAndSigusr2KeepBytesAndCrc) {
    // Session processes keep the parent's SIGUSR2 handler, installed without
    // SA_RESTART: blocked writes come back with EINTR or short.
    TempDir dir;
    writeFile(dir.file("src"), text(1 << 20, 8) + randomBytes(1000, 8));
    writeZip(dir.file("t.zip"), {.members = {member("big", readFile(dir.file("src")))}});
    std::string source = readFile(dir.file("src"));
    std::string path = dir.file("t.zip");
    int status = test::inChild([&] {
        struct sigaction sa {};
        sa.sa_handler = onUsr2;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = 0;
        sigaction(SIGUSR2, &sa, nullptr);
        signal(SIGPIPE, SIG_IGN);
        int fds[2];
        if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return 1;
        int small = 4096;
        setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
        std::string got;
        pthread_t writer = pthread_self();
        std::thread reader([&] {
            char chunk[1500];
            ssize_t n;
            while ((n = read(fds[1], chunk, sizeof chunk)) > 0) {
                got.append(chunk, size_t(n));
                pthread_kill(writer, SIGUSR2);
                if (got.size() % 64 < 8) usleep(100);
            }
        });
        Log log;
        ZsPtr zs = openArchive(path, log);
        if (!zs) return 2;
        std::unique_ptr<Unzip> uz = newUnzip(0);
        int ok = uz->unzip(zs.get(), zs->getFirstCentralHeader(), -1, fds[0]);
        close(fds[0]);
        reader.join();
        if (ok != 1) return 3;
        if (got != source) return 4;
        if (g_usr2Count == 0) return 5;
        return log.all().empty() ? 0 : 6;
    });
    EXPECT_EQ(status, 0);
}

// A stored member is shown from a mapping of the archive; the buffer the
// deflated members decode into is set aside, not freed, so the member after
// it needs no fresh buffer.
TEST(UnzipBuffer, StoredMemberKeepsTheReusableBuffer) {
    TempDir dir;
    const std::vector<ZipMember> members = {member("a", text(20000, 1)),
                                            member("s.gz", randomBytes(9000, 2), ZIPMETHOD_STORED),
                                            member("b", text(30000, 3))};
    writeZip(dir.file("t.zip"), {.members = members});
    for (const ZipMember& m : members) writeFile(dir.file(m.name), m.data);
    Log log;
    ZsPtr zs = openArchive(dir.file("t.zip"), log);
    ASSERT_TRUE(zs);
    std::unique_ptr<Unzip> uz = newUnzip(1 << 20);
    ASSERT_NE(uz, nullptr);
    unsigned char* const buffer = uz->buf;
    const size_t size = uz->bufsize;
    for (const char* name : {"a", "s.gz", "b", "a", "s.gz"}) {
        SCOPED_TRACE(name);
        Extracted m = toMemory(*uz, zs.get(), find(zs.get(), name));
        EXPECT_EQ(m.ok, 1);
        EXPECT_TRUE(m.bytes == readFile(dir.file(name)));
        if (name[0] == 's') {
            EXPECT_NE(uz->mmapbufstart, nullptr);
        } else {
            EXPECT_EQ(uz->buf, buffer);
            EXPECT_EQ(uz->bufsize, size);
        }
    }
    uz->freeUnzipBuffer();
    EXPECT_EQ(uz->buf, nullptr);
    EXPECT_EQ(log.all(), "");
}

// A stored member into memory stays a view of the archive, checked before
// it is returned: a byte changed in the file fails it, and the buffer is
// back for the next member.
TEST(UnzipCorruption, StoredMemberIsCheckedInPlace) {
    TempDir dir;
    const std::string good = text(12000, 21), bad = text(12000, 22);
    test::BuiltZip zip = test::buildZip(
        {.members = {member("good", good, ZIPMETHOD_STORED), member("flipped", bad, ZIPMETHOD_STORED)}});
    zip.bytes[zip.places[1].data + 5000] ^= 0x20;
    writeFile(dir.file("t.zip"), zip.bytes);
    Log log;
    ZsPtr zs = openArchive(dir.file("t.zip"), log);
    ASSERT_TRUE(zs);
    std::unique_ptr<Unzip> uz = newUnzip(1 << 16);
    unsigned char* const buffer = uz->buf;
    for (int round = 0; round < 2; round++) {
        SCOPED_TRACE(round);
        Extracted m = toMemory(*uz, zs.get(), find(zs.get(), "good"));
        EXPECT_EQ(m.ok, 1);
        EXPECT_TRUE(m.bytes == good);
        ASSERT_NE(uz->mmapbufstart, nullptr);
        EXPECT_GE(uz->buf, uz->mmapbufstart);
        EXPECT_LE(uz->buf + uz->bufwritten, uz->mmapbufstart + uz->mmapbufsize);
        EXPECT_EQ(log.all(), "");

        EXPECT_EQ(toMemory(*uz, zs.get(), find(zs.get(), "flipped")).ok, 0);
        EXPECT_EQ(uz->mmapbufstart, nullptr);
        EXPECT_EQ(uz->buf, buffer);
        ASSERT_EQ(log.lines.size(), 1u);
        EXPECT_EQ(log.lines[0].level, 3);
        char expected[128];
        std::snprintf(expected, sizeof expected,
                      "Unzip, CRC mismatch, calculated 0x%x, expected 0x%x, flipped",
                      crc32Of(zip.bytes.substr(zip.places[1].data, bad.size())), crc32Of(bad));
        EXPECT_EQ(log.lines[0].text, expected);
        log.clear();
    }
}

// The central entry names a member; its local header must name the same
// one, or another member's bytes would be served under that name.
TEST(UnzipRefusal, LocalHeaderNameMustMatchTheCentralName) {
    const std::string a = text(6000, 31), b = text(7000, 32);
    struct Case {
        const char* name;
        bool overlap;           // b.html's central entry points at a.html's local header
        const char* localName;  // written into b.html's local header instead, same length
        const char* bName;      // b's name in the archive
        uint16_t flags;         // of the library
        bool served;
    };
    const Case cases[] = {
        {"overlapping members", true, nullptr, "b.html", 0, false},
        {"renamed local header", false, "c.html", "b.html", 0, false},
        {"case differs", false, "B.html", "b.html", 0, false},
        {"equal names", false, nullptr, "b.html", 0, true},
        {"equal names folded", false, nullptr, "B.html", kZipFoldNames, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        ZipMember second = member(c.bName, b);
        if (c.overlap) second.central.localHeaderOffset = 0;  // a.html's local header comes first
        test::BuiltZip zip = test::buildZip({.members = {member("a.html", a), second}});
        if (c.localName)
            zip.bytes.replace(zip.places[1].localHeader + kZipLocalHeaderSize, std::strlen(c.localName),
                              c.localName);
        writeFile(dir.file("t.zip"), zip.bytes);
        Log log;
        ZsPtr zs = openArchive(dir.file("t.zip"), log, c.flags);
        ASSERT_TRUE(zs) << log.all();
        const CentralHeader* ch = zs->getFirstCentralHeader()->next;
        std::unique_ptr<Unzip> uz = newUnzip(0);
        Extracted m = toMemory(*uz, zs.get(), ch);
        Extracted s = toSocket(*uz, zs.get(), ch);
        if (c.served) {
            EXPECT_EQ(m.ok, 1);
            EXPECT_TRUE(m.bytes == b);
            EXPECT_EQ(s.ok, 1);
            EXPECT_TRUE(s.bytes == b);
            EXPECT_EQ(log.all(), "");
        } else {
            EXPECT_EQ(m.ok, 0);
            EXPECT_EQ(s.ok, 0);
            EXPECT_EQ(s.bytes, "");
            const std::string line =
                "3 Unzip, local header name of " + std::string(ch->fname) + " does not match\n";
            EXPECT_EQ(log.all(), line + line);
        }
        // The member the entry pointed at is still served under its own name.
        Extracted first = toMemory(*uz, zs.get(), zs->getFirstCentralHeader());
        EXPECT_EQ(first.ok, 1);
        EXPECT_TRUE(first.bytes == a);
    }
}

}  // namespace
}  // namespace ruva

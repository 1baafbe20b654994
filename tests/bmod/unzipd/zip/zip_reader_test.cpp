#include "bmod/unzipd/zip/zip_reader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bmod/unzipd/zip/zip_pool.h"
#include "common/string_list.h"
#include "tests/support/test_support.h"
#include "tests/support/zip_builder.h"

namespace ruva {
namespace {

using test::buildZip;
using test::readFile;
using test::runShell;
using test::writeFile;
using test::writeZip;
using test::ZipArchive;
using test::ZipMember;

using test::TempDir;

// ---- warn sink ------------------------------------------------------------

struct Message {
    int level;
    std::string text;
};

struct Messages {
    std::vector<Message> list;
    std::string joined() const {
        std::string all;
        for (const Message& m : list) all += std::to_string(m.level) + " " + m.text + "\n";
        return all;
    }
};

__attribute__((format(printf, 3, 4))) void captureWarn(void* clientData, int level, const char* format, ...) {
    char text[4096];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    static_cast<Messages*>(clientData)->list.push_back({level, text});
}

// "@" in an expected message stands for the archive's path.
std::string withPath(const std::string& pattern, const std::string& path) {
    std::string out;
    for (char c : pattern) out += c == '@' ? path : std::string(1, c);
    return out;
}

struct ZsDel {
    void operator()(ZipStructure* zs) const { zs->del(); }
};
using ZsPtr = std::unique_ptr<ZipStructure, ZsDel>;

// ---- fixtures ---------------------------------------------------------------

// Archives are laid out by the archive builder, made by Info-ZIP zip or by
// zipfile; a case that breaks one field names it as an override.

// A stored member, as most cases need.
ZipMember member(std::string name, std::string data = "") {
    return {.name = std::move(name), .data = std::move(data)};
}

// Runs a python3 script in dir.
bool python(const TempDir& dir, const std::string& script) {
    std::ofstream(dir.file("fixture.py")) << script;
    return runShell("cd '" + dir.path() + "' && " + test::pythonCommand() + " fixture.py") == 0;
}

std::string fromHex(const std::string& hex) {
    std::string out;
    if (hex == "-") return out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out += char(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

std::vector<std::string> memberNames(const ZipStructure* zs) {
    std::vector<std::string> names;
    for (CentralHeader* ch = zs->getFirstCentralHeader(); ch; ch = ZipStructure::getNextCentralHeader(ch))
        names.push_back(ch->fname);
    return names;
}

std::unique_ptr<ZipPool> smallPool(unsigned headers = 64) {
    return newZipPool(sizeof(ZipStructure), sizeof(CentralHeader), 4, headers, 65536);
}

// What a pool holds before a library is read: all of it must come back.
struct PoolUse {
    size_t structures, headers, nameBytes;
    int nameHeaps;
    explicit PoolUse(const ZipPool& zp)
        : structures(zp.zipStructurePool->usedItems),
          headers(zp.centralHeaderPool->usedItems),
          nameBytes(zp.namePool->allocSize),
          nameHeaps(zp.namePool->numHeaps) {}
    bool operator==(const PoolUse&) const = default;
};

// ---- A. agreement with zipfile ----------------------------------------------

struct ArchiveCase {
    const char* file;
    const char* comment;  // stripped; null when the archive has none
    const char* libID;
    const char* languageCode;
    const char* version;
    const char* catMember;  // member whose comment holds CAT:"..."
    const char* bitmap;
    bool infoZip;      // Info-ZIP's local extra field is longer than the central one
    bool descriptors;  // CRC and sizes follow the data
};

const ArchiveCase kArchives[] = {
    {"z0.zip", nullptr, "", "EN", "", nullptr, nullptr, true, false},
    {"z9.zip", "Manual R2A [EN/LZN 702 0012 R2A] STA:REL", "EN/LZN7020012R2A", "EN", "", nullptr, nullptr,
     true, false},
    {"zc.zip", "Two parts [abc] [de/lzn 1 2]", "DE/LZN12", "DE", "", "a.txt", "1|0|ff", true, false},
    {"zp.zip", "Py lib [sv/x y]", "SV/XY", "SV", "34", "img/logo.bin", "a|b", false, false},
    {"zs.zip", nullptr, "", "EN", "", nullptr, nullptr, true, true},
    {"zpipe.zip", nullptr, "", "EN", "", nullptr, nullptr, false, true},
};

class ZipReaderCrossCheck : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir;
        ok_ = python(*dir_, R"PY(
import os, random, subprocess, sys, zipfile

def write(path, data):
    with open(path, 'wb') as f:
        f.write(data)

def sh(cmd, stdin=None, cwd='.'):
    subprocess.run(cmd, shell=True, check=True, cwd=cwd, input=stdin)

# zipfile's view of an archive, for the C++ side: the comment, then per
# member name, comment, local header offset, CRC, sizes, central extra
# length and the data of stored members (hex, '-' for empty).
def dump(path):
    h = lambda b: b.hex() or '-'
    with zipfile.ZipFile(path) as z, open(path + '.expect', 'w') as out:
        out.write('C %s\n' % h(z.comment))
        for i in z.infolist():
            name = i.orig_filename.encode('utf-8' if i.flag_bits & 0x800 else 'cp437')
            stored = z.read(i) if i.compress_type == 0 else b''
            out.write('M %s %s %d %d %d %d %d %s\n' % (h(name), h(i.comment), i.header_offset, i.CRC,
                      i.compress_size, i.file_size, len(i.extra), h(stored)))

random.seed(7)
os.makedirs('src/sub')
files = {'a.txt': b'hello\n', 'Doc.HTML': b'<p>' + b'words ' * 400 + b'</p>\n',
         'sub/b.bin': bytes(random.getrandbits(8) for _ in range(3000)), 'empty.txt': b''}
for name, data in files.items():
    write('src/' + name, data)
names = ' '.join(files)
sh('zip -q -0 ../z0.zip ' + names, cwd='src')
sh('zip -q -9 ../z9.zip ' + names, cwd='src')
sh('zip -q -z ../z9.zip', b'   Manual R2A [EN/LZN 702 0012 R2A] STA:REL\n', cwd='src')
sh('zip -q -c ../zc.zip ' + names, b'CAT:"1|0|ff" TITLE: "x y"\n[not an id]\n\nTITLE: "Three"\n', cwd='src')
sh('zip -q -z ../zc.zip', b'  Two parts [abc] [de/lzn 1 2]\n', cwd='src')
sh('zip -q - ' + names + ' | cat > ../zs.zip', cwd='src')
with zipfile.ZipFile('zp.zip', 'w') as z:
    z.comment = b'Py lib [sv/x y]'
    for name, data, comment, method in [
            ('readme.txt', b'read me\n' * 50, b'TITLE: "Readme"', zipfile.ZIP_DEFLATED),
            ('kvoversion.txt', b'3.4\n', b'INFO: "3 4"', zipfile.ZIP_STORED),
            ('img/logo.bin', bytes(range(256)) * 4, b'TITLE: "Logo" CAT:"a|b"', zipfile.ZIP_STORED)]:
        info = zipfile.ZipInfo(name, (2020, 1, 2, 3, 4, 6))
        info.compress_type = method
        info.comment = comment
        z.writestr(info, data)
piped = '''import sys, zipfile
with zipfile.ZipFile(sys.stdout.buffer, "w") as z:
    z.writestr("one.txt", b"one\\n" * 100, zipfile.ZIP_DEFLATED)
    z.writestr("two.txt", b"two\\n", zipfile.ZIP_STORED)
'''
write('piped.py', piped.encode())
sh(sys.executable + ' piped.py | cat > zpipe.zip')
for f in ('z0.zip', 'z9.zip', 'zc.zip', 'zp.zip', 'zs.zip', 'zpipe.zip'):
    dump(f)
)PY");
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }

    // Checks one library read against zipfile's dump.
    void check(const ArchiveCase& c, ZipPool* pool) {
        const std::string path = dir_->file(c.file);
        Messages msgs;
        ZsPtr zs(newZipStructure(pool, path.c_str(), 0, &msgs, captureWarn));
        ASSERT_TRUE(zs) << msgs.joined();
        EXPECT_TRUE(msgs.list.empty()) << msgs.joined();
        EXPECT_STREQ(zs->zipName, path.c_str());
        EXPECT_STREQ(zs->zipBasename, c.file);
        EXPECT_EQ(zs->fileSize, readFile(path).size());
        EXPECT_EQ(zs->zipPool, pool);
        if (c.comment) {
            ASSERT_TRUE(zs->centralDirEnd.comment);
            EXPECT_STREQ(zs->centralDirEnd.comment, c.comment);
            EXPECT_EQ(zs->centralDirEnd.commentLen, strlen(c.comment));
        } else {
            EXPECT_EQ(zs->centralDirEnd.comment, nullptr);
        }
        EXPECT_STREQ(zs->libID, c.libID);
        EXPECT_STREQ(zs->languageCode, c.languageCode);
        EXPECT_STREQ(zs->version, c.version);

        std::istringstream expect(readFile(path + ".expect"));
        std::string tag, hex;
        expect >> tag >> hex;
        ASSERT_EQ(tag, "C");
        const std::string file = readFile(path);
        CentralHeader* ch = zs->getFirstCentralHeader();
        unsigned members = 0;
        bool extraLengthsDiffer = false, sawDescriptor = false;
        std::string nameHex, commentHex, storedHex;
        unsigned long offset, crc, cSize, ucSize, centralExtra;
        while (expect >> tag >> nameHex >> commentHex >> offset >> crc >> cSize >> ucSize >> centralExtra >>
               storedHex) {
            const std::string name = fromHex(nameHex);
            SCOPED_TRACE(name);
            ASSERT_TRUE(ch);
            ++members;
            EXPECT_EQ(ch->fname, name);
            // The version tokens are cut out of the stored comment.
            std::string comment = name == "kvoversion.txt" ? "INFO:" : fromHex(commentHex);
            if (comment.empty())
                EXPECT_EQ(ch->comment, nullptr);
            else
                EXPECT_STREQ(ch->comment, comment.c_str());
            if (c.catMember && name == c.catMember)
                EXPECT_STREQ(ch->bitmap, c.bitmap);
            else
                EXPECT_EQ(ch->bitmap, nullptr);
            EXPECT_EQ(ch->folder, 0);
            EXPECT_EQ(ch->localHeaderOffset, offset);
            EXPECT_EQ(ch->crc, crc);
            EXPECT_EQ(ch->cSize, cSize);
            EXPECT_EQ(ch->ucSize, ucSize);

            LocalHeader* lh = zs->readLocalHeader(ch, -1);
            ASSERT_TRUE(lh) << msgs.joined();
            EXPECT_EQ(lh->crc, crc);
            EXPECT_EQ(lh->cSize, cSize);
            EXPECT_EQ(lh->ucSize, ucSize);
            EXPECT_EQ(lh->fnameLen, name.size());
            sawDescriptor |= (lh->generalFlags & 0x08) != 0;
            extraLengthsDiffer |= lh->extraLen != centralExtra;
            // The data starts after the local name and extra field.
            const size_t dataOffset = ch->localHeaderOffset + 30 + lh->fnameLen + lh->extraLen;
            ASSERT_LE(dataOffset + lh->cSize, file.size());
            if (lh->method == 0) {
                EXPECT_EQ(file.substr(dataOffset, lh->cSize), fromHex(storedHex));
            }
            zs->freeLocalHeader(lh);
            ch = ZipStructure::getNextCentralHeader(ch);
        }
        EXPECT_EQ(ch, nullptr);
        EXPECT_GE(members, 2u);
        EXPECT_EQ(zs->centralDirEnd.totalCentralEntries, members);
        EXPECT_EQ(extraLengthsDiffer, c.infoZip);
        EXPECT_EQ(sawDescriptor, c.descriptors);
        EXPECT_TRUE(msgs.list.empty()) << msgs.joined();
    }

    static TempDir* dir_;
    static bool ok_;
};

TempDir* ZipReaderCrossCheck::dir_ = nullptr;
bool ZipReaderCrossCheck::ok_ = false;

TEST_F(ZipReaderCrossCheck, MallocPathAgreesWithZipfile) {
    ASSERT_TRUE(ok_);
    for (const ArchiveCase& c : kArchives) {
        SCOPED_TRACE(c.file);
        check(c, nullptr);
    }
}

TEST_F(ZipReaderCrossCheck, PoolModeAgreesWithZipfileAndGivesEverythingBack) {
    ASSERT_TRUE(ok_);
    auto pool = smallPool();
    ASSERT_TRUE(pool);
    const PoolUse before(*pool);
    for (const ArchiveCase& c : kArchives) {
        SCOPED_TRACE(c.file);
        check(c, pool.get());
        EXPECT_TRUE(PoolUse(*pool) == before);
    }
}

TEST_F(ZipReaderCrossCheck, FoldedNamesAreStoredInLowerCase) {
    ASSERT_TRUE(ok_);
    Messages msgs;
    ZsPtr zs(newZipStructure(nullptr, dir_->file("z0.zip").c_str(), kZipFoldNames, &msgs, captureWarn));
    ASSERT_TRUE(zs) << msgs.joined();
    EXPECT_EQ(memberNames(zs.get()),
              (std::vector<std::string>{"a.txt", "doc.html", "sub/b.bin", "empty.txt"}));
}

// ---- A. end record ------------------------------------------------------------

enum Mode { kBoth, kPoolOnly, kMallocOnly };

struct EndCase {
    const char* file;
    Mode mode;
    const char* message;  // "" when the library opens; '@' is the path
    std::string comment;  // expected archive comment when it opens
    bool nullComment;
    unsigned members;
};

void writeEndRecordArchives(const TempDir& dir) {
    auto build = [&dir](const std::string& file, const ZipArchive& a) { writeZip(dir.file(file), a); };
    const std::vector<ZipMember> one = {member("a.txt", "hello, world\n")};
    build("c0.zip", {.members = one});
    build("blanks.zip", {.members = one, .comment = "   "});
    build("c1.zip", {.members = one, .comment = "x"});
    build("lead.zip", {.members = one, .comment = "   Manual [de/x 1]"});
    for (size_t n : {383, 384, 1001, 1002, 1023, 1024})
        build("c" + std::to_string(n) + ".zip", {.members = one, .comment = std::string(n, 'y')});
    // An end record one byte short.
    writeFile(dir.file("s21.zip"), buildZip({}).bytes.substr(0, 21));
    build("s22.zip", {});
    // One stored member "p" padded so the file has exactly this size.
    for (size_t size : {1023, 1024, 65557, 70000})
        build("s" + std::to_string(size) + ".zip", {.members = {member("p", std::string(size - 100, 'z'))}});
    // The end record at offset 0, visible only to the second window.
    build("at0.zip", {.comment = std::string(1002, 'q')});
    build("at0long.zip", {.comment = std::string(65535, 'q')});
    // The end record at 1021, across the 1023-byte mark, comment 1010 bytes.
    build("straddle.zip",
          {.members = {member("p", std::string(943, 'z'))}, .comment = std::string(1010, 'r')});
    for (size_t size : {500, 2000, 70000})
        writeFile(dir.file("none" + std::to_string(size) + ".zip"), std::string(size, '\0'));
    // A second end record inside the comment is the rightmost and is taken.
    const std::string fake =
        buildZip({.count = 1, .centralDirSize = 46, .centralDirOffset = 0x7FFFFFF0}).bytes;
    build("fake.zip", {.members = one, .comment = "note " + fake});
}

class ZipReaderEndRecord : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir;
        writeEndRecordArchives(*dir_);
        ok_ = !::testing::Test::HasFailure();
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static TempDir* dir_;
    static bool ok_;
};

TempDir* ZipReaderEndRecord::dir_ = nullptr;
bool ZipReaderEndRecord::ok_ = false;

TEST_F(ZipReaderEndRecord, CommentLengthsAndFileSizes) {
    ASSERT_TRUE(ok_);
    const std::string y(1023, 'y');
    const EndCase cases[] = {
        {"c0.zip", kBoth, "", "", true, 1},
        {"blanks.zip", kBoth, "", "", false, 1},
        {"c1.zip", kBoth, "", "x", false, 1},
        {"lead.zip", kBoth, "", "Manual [de/x 1]", false, 1},
        {"c383.zip", kBoth, "", y.substr(0, 383), false, 1},
        {"c384.zip", kPoolOnly, "File @, out of memory for string", "", false, 0},
        {"c384.zip", kMallocOnly, "", y.substr(0, 384), false, 1},
        {"c1001.zip", kMallocOnly, "", y.substr(0, 1001), false, 1},
        {"c1002.zip", kMallocOnly, "", y.substr(0, 1002), false, 1},
        {"c1023.zip", kMallocOnly, "", y, false, 1},
        {"c1023.zip", kPoolOnly, "File @, out of memory for string", "", false, 0},
        {"c1024.zip", kBoth, "File @, read only 1023 bytes", "", false, 0},
        {"s21.zip", kBoth, "File @ too small, 21", "", false, 0},
        {"s22.zip", kBoth, "", "", true, 0},
        {"s1023.zip", kBoth, "", "", true, 1},
        {"s1024.zip", kBoth, "", "", true, 1},
        {"s65557.zip", kBoth, "", "", true, 1},
        {"s70000.zip", kBoth, "", "", true, 1},
        {"at0.zip", kMallocOnly, "", std::string(1002, 'q'), false, 0},
        {"at0long.zip", kBoth, "File @, read only 1023 bytes", "", false, 0},
        {"straddle.zip", kMallocOnly, "", std::string(1010, 'r'), false, 1},
        {"none500.zip", kBoth, "File @, cannot find start of CentralEnd header, offset 0", "", false, 0},
        {"none2000.zip", kBoth, "File @, cannot find start of CentralEnd header, offset 0", "", false, 0},
        {"none70000.zip", kBoth, "File @, cannot find start of CentralEnd header, offset 4443", "", false, 0},
        {"fake.zip", kBoth, "File @, invalid centralStartOffset 2147483632", "", false, 0},
    };
    for (const EndCase& c : cases) {
        for (bool pooled : {false, true}) {
            if ((c.mode == kPoolOnly && !pooled) || (c.mode == kMallocOnly && pooled)) continue;
            SCOPED_TRACE(std::string(c.file) + (pooled ? " pool" : " malloc"));
            auto pool = pooled ? smallPool() : nullptr;
            std::unique_ptr<PoolUse> before(pool ? new PoolUse(*pool) : nullptr);
            const std::string path = dir_->file(c.file);
            Messages msgs;
            ZsPtr zs(newZipStructure(pool.get(), path.c_str(), 0, &msgs, captureWarn));
            if (*c.message) {
                EXPECT_FALSE(zs);
                ASSERT_EQ(msgs.list.size(), 1u) << msgs.joined();
                EXPECT_EQ(msgs.list[0].level, 3);
                EXPECT_EQ(msgs.list[0].text, withPath(c.message, path));
            } else {
                ASSERT_TRUE(zs) << msgs.joined();
                EXPECT_TRUE(msgs.list.empty()) << msgs.joined();
                if (c.nullComment) {
                    EXPECT_EQ(zs->centralDirEnd.comment, nullptr);
                } else {
                    ASSERT_TRUE(zs->centralDirEnd.comment);
                    EXPECT_EQ(zs->centralDirEnd.comment, c.comment);
                }
                EXPECT_EQ(zs->centralDirEnd.commentLen, c.comment.size());
                EXPECT_EQ(memberNames(zs.get()).size(), c.members);
                EXPECT_EQ(zs->centralDirEnd.totalCentralEntries, c.members);
                zs.reset();
            }
            // A refused or deleted library leaves nothing behind, and a
            // text too long for the name pool adds no heap.
            if (pool) {
                EXPECT_TRUE(PoolUse(*pool) == *before);
            }
        }
    }
}

// ---- A. lookup -----------------------------------------------------------------

TEST(ZipReaderLookup, NamesAndPatternsVisitMatchesInDirectoryOrder) {
    TempDir dir;
    ZipArchive look;
    for (const char* name :
         {"Doc.HTML", "h0001_1.html", "x1", "a.txt", "H0002_2.HTML", "y1", "z2", "1abc", "b1"})
        look.members.push_back(member(name, "."));
    writeZip(dir.file("look.zip"), look);
    const std::string path = dir.file("look.zip");
    Messages msgs;
    ZsPtr folded(newZipStructure(nullptr, path.c_str(), kZipFoldNames, &msgs, captureWarn));
    ZsPtr exact(newZipStructure(nullptr, path.c_str(), 0, &msgs, captureWarn));
    ASSERT_TRUE(folded && exact) << msgs.joined();

    struct Case {
        bool fold;
        const char* name;
        std::vector<std::string> hits;
    };
    const Case cases[] = {
        {true, "DOC.html", {"doc.html"}},
        {true, "doc.html", {"doc.html"}},
        {false, "DOC.html", {}},
        {false, "Doc.HTML", {"Doc.HTML"}},
        {false, "doc.html", {}},
        {true, "h*.html", {"h0001_1.html", "h0002_2.html"}},
        {false, "h*.html", {"h0001_1.html"}},
        {true, "H*.HTML", {"h0001_1.html", "h0002_2.html"}},
        {false, "[xyz]1", {"x1", "y1"}},
        {true, "[xyz]1", {"x1", "y1"}},
        {true, "?1", {"x1", "y1", "b1"}},
        // The first letter or digit pre-filters case-blind; the match decides.
        {true, "D*", {"doc.html"}},
        {false, "d*", {}},
        {false, "1*", {"1abc"}},
        {true, "*", {"doc.html", "h0001_1.html", "x1", "a.txt", "h0002_2.html", "y1", "z2", "1abc", "b1"}},
        {true, "nothing*", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + (c.fold ? " folded" : " exact"));
        ZipStructure* zs = c.fold ? folded.get() : exact.get();
        std::vector<std::string> hits;
        for (CentralHeader* ch = zs->findCentralHeader(c.name, nullptr); ch;
             ch = zs->findCentralHeader(c.name, ch))
            hits.push_back(ch->fname);
        EXPECT_EQ(hits, c.hits);
    }
    EXPECT_EQ(exact->findCentralHeader(nullptr, nullptr), nullptr);
    EXPECT_TRUE(msgs.list.empty()) << msgs.joined();
}

// ---- A. version and pool sizes ------------------------------------------------------

TEST(ZipReaderVersion, InfoCommentOfKvoversionGivesTheVersionAndReadsInfoAfterwards) {
    TempDir dir;
    auto one = [&dir](const char* file, const char* name, const char* comment) {
        writeZip(dir.file(file),
                 {.members = {member("a.txt", "a"), {.name = name, .data = "v", .comment = comment}}});
    };
    // Long enough that the cut text rounds to a smaller pool item than the copy.
    one("quoted.zip", "kvoversion.txt", "INFO: \"3 4\" built for the 2024 release by the nightly job");
    one("lower.zip", "kvoversion.txt", "info: \"5 6\"");
    one("single.zip", "kvoversion.txt", "INFO: 34");
    one("bare.zip", "kvoversion.txt", "INFO:");
    one("upper.zip", "KVOversion.txt", "INFO: \"7 8\"");
    one("other.zip", "version.txt", "INFO: \"3 4\"");
    struct Case {
        const char* file;
        uint16_t flags;
        const char* version;
        const char* comment;  // of the second member afterwards
    };
    const Case cases[] = {
        {"quoted.zip", 0, "34", "INFO:"},
        {"lower.zip", 0, "56", "info:"},
        {"single.zip", 0, "", "INFO:"},  // one sub-token: no version
        {"bare.zip", 0, "", "INFO:"},
        {"upper.zip", 0, "", "INFO: \"7 8\""},  // not the member's name
        {"upper.zip", kZipFoldNames, "78", "INFO:"},
        {"other.zip", 0, "", "INFO: \"3 4\""},
    };
    auto pool = smallPool();
    ASSERT_TRUE(pool);
    const PoolUse before(*pool);
    for (const Case& c : cases) {
        for (ZipPool* zp : {static_cast<ZipPool*>(nullptr), pool.get()}) {
            SCOPED_TRACE(std::string(c.file) + (zp ? " pool" : " malloc") + (c.flags ? " folded" : ""));
            Messages msgs;
            ZsPtr zs(newZipStructure(zp, dir.file(c.file).c_str(), c.flags, &msgs, captureWarn));
            ASSERT_TRUE(zs) << msgs.joined();
            EXPECT_STREQ(zs->version, c.version);
            ASSERT_TRUE(zs->lastCentralHeader);
            EXPECT_STREQ(zs->lastCentralHeader->comment, c.comment);
            zs.reset();
            // The cut comment goes back with the size it was allocated with.
            EXPECT_TRUE(PoolUse(*pool) == before);
        }
    }
}

TEST(ZipReaderPool, NamesCommentsAndBitmapsUpTo383CharactersFit) {
    TempDir dir;
    writeZip(
        dir.file("fits.zip"),
        {.members = {
             {.name = std::string(383, 'n'), .data = "x", .comment = "CAT:\"" + std::string(377, '1') + "\""},
             {.name = "short", .comment = std::string(383, 'c')}}});
    writeZip(dir.file("longname.zip"),
             {.members = {member("a.txt", "x"), member(std::string(384, 'n'), "x")}});
    writeZip(dir.file("longcomment.zip"),
             {.members = {{.name = "a.txt", .data = "x", .comment = std::string(384, 'c')}}});
    auto pool = smallPool();
    ASSERT_TRUE(pool);
    const PoolUse before(*pool);
    Messages msgs;
    ZsPtr zs(newZipStructure(pool.get(), dir.file("fits.zip").c_str(), 0, &msgs, captureWarn));
    ASSERT_TRUE(zs) << msgs.joined();
    EXPECT_EQ(strlen(zs->firstCentralHeader->fname), 383u);
    EXPECT_EQ(strlen(zs->firstCentralHeader->bitmap), 377u);
    EXPECT_EQ(strlen(zs->lastCentralHeader->comment), 383u);
    zs.reset();
    EXPECT_TRUE(PoolUse(*pool) == before);

    struct Case {
        const char* file;
        const char* message;
    };
    const Case cases[] = {
        {"longname.zip", "File @, out of memory for filename"},
        {"longcomment.zip", "File @, out of memory for string"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        Messages refused;
        const std::string path = dir.file(c.file);
        EXPECT_EQ(newZipStructure(pool.get(), path.c_str(), 0, &refused, captureWarn), nullptr);
        ASSERT_EQ(refused.list.size(), 1u) << refused.joined();
        EXPECT_EQ(refused.list[0].text, withPath(c.message, path));
        EXPECT_TRUE(PoolUse(*pool) == before);
        // Without a pool the same library opens.
        ZsPtr plain(newZipStructure(nullptr, path.c_str(), 0, &refused, captureWarn));
        EXPECT_TRUE(plain) << refused.joined();
    }
}

// ---- A. folder index hook ---------------------------------------------------------

struct Observed {
    int calls = 0;
    std::vector<std::string> pages;
    const CentralHeader* indexMember = nullptr;
};
Observed g_observed;

void observe(const ZipStructure*, const StringList* pages, const CentralHeader* indexMember) {
    ++g_observed.calls;
    for (String* s = pages->first; s; s = s->next) g_observed.pages.push_back(s->value);
    g_observed.indexMember = indexMember;
}

struct ObserverGuard {
    ObserverGuard() {
        g_observed = Observed();
        setFolderIndexObserver(observe);
    }
    ~ObserverGuard() { setFolderIndexObserver(nullptr); }
};

TEST(ZipReaderKvo, KvoPathHandsTheHookThePagesInOrderAndTheFirstIndexMember) {
    TempDir dir;
    const std::vector<std::string> names = {"h0001_1.html", "a.html",           "H0002_2.html",
                                            "hx.htm",       "h0003_3.html.bak", "folderindex.txt",
                                            "h0004_4.html", "folderindex.txt"};
    ZipArchive lib, noindex;
    for (size_t i = 0; i < names.size(); ++i) {
        lib.members.push_back(member(names[i], "."));
        if (i != 5 && i != 7) noindex.members.push_back(member(names[i], "."));
    }
    writeZip(dir.file("lib.kvo"), lib);
    writeZip(dir.file("noindex.kvo"), noindex);
    writeZip(dir.file("lib.zip"), lib);
    ObserverGuard guard;
    struct Case {
        const char* file;
        uint16_t flags;
        std::vector<std::string> pages;
        int indexPosition;  // -1: none
        bool notice;
    };
    const Case cases[] = {
        {"lib.kvo", 0, {"h0001_1.html", "h0003_3.html.bak"}, 5, false},
        {"lib.kvo", kZipFoldNames, {"h0001_1.html", "h0002_2.html", "h0003_3.html.bak"}, 5, false},
        {"lib.kvo", kZipIndexBuilder, {"h0001_1.html", "h0003_3.html.bak"}, 5, true},
        {"noindex.kvo", kZipIndexBuilder, {"h0001_1.html", "h0003_3.html.bak", "h0004_4.html"}, -1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " flags " + std::to_string(c.flags));
        g_observed = Observed();
        const std::string path = dir.file(c.file);
        Messages msgs;
        ZsPtr zs(newZipStructure(nullptr, path.c_str(), c.flags, &msgs, captureWarn));
        ASSERT_TRUE(zs) << msgs.joined();
        EXPECT_EQ(g_observed.calls, 1);
        EXPECT_EQ(g_observed.pages, c.pages);
        const CentralHeader* expected = nullptr;
        if (c.indexPosition >= 0) {
            expected = zs->getFirstCentralHeader();
            for (int i = 0; i < c.indexPosition; ++i) expected = expected->next;
        }
        EXPECT_EQ(g_observed.indexMember, expected);
        if (c.notice) {
            ASSERT_EQ(msgs.list.size(), 1u) << msgs.joined();
            EXPECT_EQ(msgs.list[0].level, 5);
            EXPECT_EQ(msgs.list[0].text, "Index file already exists in library " + path);
        } else {
            EXPECT_TRUE(msgs.list.empty()) << msgs.joined();
        }
        for (CentralHeader* ch = zs->getFirstCentralHeader(); ch; ch = ch->next) EXPECT_EQ(ch->folder, 0);
    }
    g_observed = Observed();
    Messages msgs;
    ZsPtr plain(newZipStructure(nullptr, dir.file("lib.zip").c_str(), kZipIndexBuilder, &msgs, captureWarn));
    ASSERT_TRUE(plain);
    EXPECT_EQ(g_observed.calls, 0);
    EXPECT_TRUE(msgs.list.empty()) << msgs.joined();
}

// ---- B. hostile archives -------------------------------------------------------------

// The base archive: "a.txt" and "b.txt", 13 stored bytes each. Local
// headers at 0 and 48, central directory at 96 (2 x 51 bytes), end record
// at 198, 220 bytes in all.
void writeHostileArchives(const TempDir& dir) {
    auto build = [&dir](const std::string& file, const ZipArchive& a) { return writeZip(dir.file(file), a); };
    const std::string text = "hello, world\n";
    const ZipMember a = member("a.txt", text);
    const ZipMember b = member("b.txt", text);
    const std::string base = build("base.zip", {.members = {a, b}}).bytes;
    writeFile(dir.file("empty.zip"), "");
    for (size_t cut : {21, 30, 48, 83, 96, 147, 198, 202, 212})
        writeFile(dir.file("cut" + std::to_string(cut) + ".zip"), base.substr(0, cut));
    writeFile(dir.file("cutcomment.zip"),
              buildZip({.members = {a, b}, .comment = std::string(20, 'c')}).bytes.substr(0, 225));
    build("cso.zip", {.members = {a, b}, .centralDirOffset = 0x100000});
    build("intoend.zip", {.members = {a, b}, .centralDirSize = 103});
    build("count.zip", {.members = {a, b}, .count = 3});
    build("prepended.zip", {.members = {a, b}, .stub = "SFX...."});
    // 100 + 65500 wraps to 64 in 16 bits, which the 122 directory bytes would hold.
    build("trailer.zip",
          {.members = {{.name = "a.txt", .data = text, .central = {.nameLength = 100, .extraLength = 65500}},
                       {.name = "b.txt", .data = text, .comment = std::string(20, 'c')}}});
    build("name0.zip", {.members = {{.name = "a.txt", .data = text, .central = {.nameLength = 0}}, b}});
    build("z64csize.zip",
          {.members = {a, {.name = "b.txt", .data = text, .central = {.compressedSize = 0xFFFFFFFF}}}});
    build("z64usize.zip", {.members = {a, {.name = "b.txt", .data = text, .central = {.size = 0xFFFFFFFF}}}});
    build("z64offset.zip",
          {.members = {a, {.name = "b.txt", .data = text, .central = {.localHeaderOffset = 0xFFFFFFFF}}}});
    build("z64dirsize.zip", {.members = {a, b}, .centralDirSize = 0xFFFFFFFF});
    build("z64diroffset.zip", {.members = {a, b}, .centralDirOffset = 0xFFFFFFFF});
    // A ZIP64 end locator, its fields zero, before the end record.
    build("z64locator.zip",
          {.members = {a, b}, .beforeEnd = std::string("PK\x06\x07", 4) + std::string(16, '\0')});
    build("wrapped.zip", {.members = {a, b}, .count = 1});
    writeFile(dir.file("a.txt"), text);
    EXPECT_EQ(runShell("cd '" + dir.path() + "' && zip -q -fz fz.zip a.txt"), 0);
}

TEST(ZipReaderHostile, RefusedWithTheirMessage) {
    TempDir dir;
    ASSERT_NO_FATAL_FAILURE(writeHostileArchives(dir));
    struct Case {
        const char* file;
        const char* message;
    };
    const Case cases[] = {
        {"empty.zip", "File @ too small, 0"},
        {"cut21.zip", "File @ too small, 21"},
        {"cut30.zip", "File @, cannot find start of CentralEnd header, offset 0"},
        {"cut48.zip", "File @, cannot find start of CentralEnd header, offset 0"},
        {"cut83.zip", "File @, cannot find start of CentralEnd header, offset 0"},
        {"cut96.zip", "File @, cannot find start of CentralEnd header, offset 0"},
        {"cut147.zip", "File @, cannot find start of CentralEnd header, offset 0"},
        {"cut198.zip", "File @, cannot find start of CentralEnd header, offset 0"},
        {"cut202.zip", "File @, read only 0 bytes"},
        {"cut212.zip", "File @, read only 10 bytes"},
        {"cutcomment.zip", "File @, read only 5 bytes"},
        {"cso.zip", "File @, invalid centralStartOffset 1048576"},
        {"intoend.zip", "File @, read only 102 bytes"},
        {"count.zip", "File @, read only 0 bytes of CentralHeader"},
        // Offset 96 now holds bytes 6-9 of b.txt's data.
        {"prepended.zip", "File @, CentralDirectory signature mismatch 0x20776f72, ZIP file corrupt"},
        {"trailer.zip", "File @, CentralHeader trailer too long (65600), only have 122"},
        {"name0.zip", "File @, CentralHeader indicates 0 length filename, ZIP file corrupt"},
        {"z64csize.zip", "File @, ZIP64 archive not supported"},
        {"z64usize.zip", "File @, ZIP64 archive not supported"},
        {"z64offset.zip", "File @, ZIP64 archive not supported"},
        {"z64dirsize.zip", "File @, ZIP64 archive not supported"},
        {"z64diroffset.zip", "File @, ZIP64 archive not supported"},
        {"z64locator.zip", "File @, ZIP64 archive not supported"},
        {"wrapped.zip", "File @, ZIP64 archive not supported"},
        {"fz.zip", "File @, ZIP64 archive not supported"},
    };
    auto pool = smallPool();
    ASSERT_TRUE(pool);
    const PoolUse before(*pool);
    for (const Case& c : cases) {
        for (ZipPool* zp : {static_cast<ZipPool*>(nullptr), pool.get()}) {
            SCOPED_TRACE(std::string(c.file) + (zp ? " pool" : " malloc"));
            const std::string path = dir.file(c.file);
            Messages msgs;
            EXPECT_EQ(newZipStructure(zp, path.c_str(), 0, &msgs, captureWarn), nullptr);
            ASSERT_EQ(msgs.list.size(), 1u) << msgs.joined();
            EXPECT_EQ(msgs.list[0].level, 3);
            EXPECT_EQ(msgs.list[0].text, withPath(c.message, path));
            EXPECT_TRUE(PoolUse(*pool) == before);
        }
    }
    Messages msgs;
    ZsPtr base(newZipStructure(pool.get(), dir.file("base.zip").c_str(), 0, &msgs, captureWarn));
    ASSERT_TRUE(base) << msgs.joined();
    EXPECT_EQ(memberNames(base.get()), (std::vector<std::string>{"a.txt", "b.txt"}));
}

TEST(ZipReaderHostile, BadLocalHeadersAreRefusedWhenRead) {
    TempDir dir;
    const std::string text = "hello, world\n";
    writeZip(dir.file("past.zip"),
             {.members = {member("a.txt", text),
                          {.name = "b.txt", .data = text, .central = {.localHeaderOffset = 0x100000}}}});
    // A descriptor's signature where b.txt's local header should start.
    writeZip(dir.file("sig.zip"),
             {.members = {member("a.txt", text),
                          {.name = "b.txt", .data = text, .local = {.signature = kZipDescriptorSignature}}}});
    writeZip(dir.file("gone.zip"), {.members = {member("a.txt", text), member("b.txt", text)}});
    struct Case {
        const char* file;
        int level;
        const char* message;
    };
    const Case cases[] = {
        {"past.zip", 3, "File @, read only 0 bytes"},
        {"sig.zip", 3, "File @, Central Header signature mismatch 0x504b0708"},
        {"gone.zip", 3, "Failed to open ZIP file, No such file or directory '@'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string path = dir.file(c.file);
        Messages msgs;
        ZsPtr zs(newZipStructure(nullptr, path.c_str(), 0, &msgs, captureWarn));
        ASSERT_TRUE(zs) << msgs.joined();
        // The first member is sound.
        LocalHeader* lh = zs->readLocalHeader(zs->firstCentralHeader, -1);
        ASSERT_TRUE(lh) << msgs.joined();
        zs->freeLocalHeader(lh);
        if (std::string(c.file) == "gone.zip") {
            ASSERT_EQ(unlink(path.c_str()), 0);
        }
        EXPECT_EQ(zs->readLocalHeader(zs->lastCentralHeader, -1), nullptr);
        ASSERT_EQ(msgs.list.size(), 1u) << msgs.joined();
        EXPECT_EQ(msgs.list[0].level, c.level);
        EXPECT_EQ(msgs.list[0].text, withPath(c.message, path));
    }
    Messages msgs;
    ZsPtr zs(newZipStructure(nullptr, dir.file("sig.zip").c_str(), 0, &msgs, captureWarn));
    ASSERT_TRUE(zs);
    EXPECT_EQ(zs->readLocalHeader(nullptr, -1), nullptr);
    ASSERT_EQ(msgs.list.size(), 1u);
    EXPECT_EQ(msgs.list[0].level, 2);
    EXPECT_EQ(msgs.list[0].text, "Invalid arguments to readLocalHeader");
}

TEST(ZipReaderHostile, MissingFileIsRefused) {
    TempDir dir;
    const std::string path = dir.file("missing.zip");
    Messages msgs;
    EXPECT_EQ(newZipStructure(nullptr, path.c_str(), 0, &msgs, captureWarn), nullptr);
    ASSERT_EQ(msgs.list.size(), 1u);
    EXPECT_EQ(msgs.list[0].text, "File " + path + ", stat failed, No such file or directory");
}

// Empty members named 0, 1, ... in hex.
std::vector<ZipMember> hexNamedMembers(unsigned n) {
    std::vector<ZipMember> members;
    char name[16];
    for (unsigned i = 0; i < n; ++i) {
        std::snprintf(name, sizeof name, "%x", i);
        members.push_back(member(name));
    }
    return members;
}

// Many members: a count of 0xFFFF is read; more need ZIP64 records, and a
// 16-bit count that wrapped without them must not drop members silently.
TEST(ZipReaderMembers, CountOf65535IsRead) {
    TempDir dir;
    writeZip(dir.file("many.zip"), {.members = hexNamedMembers(65535)});
    Messages msgs;
    ZsPtr zs(newZipStructure(nullptr, dir.file("many.zip").c_str(), 0, &msgs, captureWarn));
    ASSERT_TRUE(zs) << msgs.joined();
    EXPECT_EQ(memberNames(zs.get()).size(), 65535u);
    EXPECT_STREQ(zs->lastCentralHeader->fname, "fffe");
}

TEST(ZipReaderMembers, WrappedCountWithoutZip64RecordsIsRefused) {
    TempDir dir;
    writeZip(dir.file("wrap.zip"), {.members = hexNamedMembers(65537)});
    const std::string path = dir.file("wrap.zip");
    Messages msgs;
    EXPECT_EQ(newZipStructure(nullptr, path.c_str(), 0, &msgs, captureWarn), nullptr);
    ASSERT_EQ(msgs.list.size(), 1u);
    EXPECT_EQ(msgs.list[0].text, "File " + path + ", ZIP64 archive not supported");
}

TEST(ZipReaderMembers, ZipfileArchiveOfMoreThan65535MembersIsRefused) {
    TempDir dir;
    ASSERT_TRUE(python(dir, R"PY(
import zipfile
with zipfile.ZipFile('big.zip', 'w') as z:
    for i in range(65536):
        z.writestr('%x' % i, b'')
)PY"));
    const std::string path = dir.file("big.zip");
    Messages msgs;
    EXPECT_EQ(newZipStructure(nullptr, path.c_str(), 0, &msgs, captureWarn), nullptr);
    ASSERT_EQ(msgs.list.size(), 1u);
    EXPECT_EQ(msgs.list[0].text, "File " + path + ", ZIP64 archive not supported");
}

// ---- single header reads ----------------------------------------------------------------

TEST(ZipReaderHeader, ReadCentralHeaderParsesOneHeaderAtTheDescriptorsPosition) {
    TempDir dir;
    writeZip(dir.file("two.zip"), {.members = {member("a.txt", "hello"), member("b.txt", "world")}});
    const std::string path = dir.file("two.zip");
    Messages msgs;
    ZsPtr zs(newZipStructure(nullptr, path.c_str(), 0, &msgs, captureWarn));
    ASSERT_TRUE(zs) << msgs.joined();
    int fd = zs->openZipFile();
    ASSERT_GE(fd, 0);
    // The second central header: after two local headers and one central one.
    ASSERT_EQ(lseek(fd, 2 * (30 + 5 + 5) + 46 + 5, SEEK_SET), 2 * (30 + 5 + 5) + 46 + 5);
    CentralHeader* ch = zs->readCentralHeader(fd);
    ASSERT_TRUE(ch) << msgs.joined();
    EXPECT_STREQ(ch->fname, "b.txt");
    EXPECT_EQ(ch->localHeaderOffset, 40u);
    EXPECT_EQ(zs->lastCentralHeader, ch);
    EXPECT_EQ(memberNames(zs.get()), (std::vector<std::string>{"a.txt", "b.txt", "b.txt"}));
    ASSERT_EQ(lseek(fd, 0, SEEK_SET), 0);
    EXPECT_EQ(zs->readCentralHeader(fd), nullptr);
    zs->closeZipFile(fd);
    zs->closeZipFile(-1);
    ASSERT_EQ(msgs.list.size(), 1u);
    EXPECT_EQ(msgs.list[0].text,
              "File " + path + ", CentralDirectory signature mismatch 0x504b0304, ZIP file corrupt");
}

}  // namespace
}  // namespace ruva

#include "bmod/unzipd/zip/folder_index.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bmod/unzipd/zip/unzip.h"
#include "bmod/unzipd/zip/zip_reader.h"
#include "common/string_list.h"
#include "common/sysv_lock.h"
#include "tests/bmod/unzipd/zip/zip_write_fixture.h"
#include "tests/support/zip_builder.h"

namespace ruva {
namespace {

using namespace test::zw;
using test::TempDir;
using test::writeZip;
using test::ZipMember;

struct LogLine {
    int level;
    std::string text;
};

void captureLog(void* context, int level, const char* message) {
    static_cast<std::vector<LogLine>*>(context)->push_back({level, message});
}

// The folder index installed, its messages captured, TZ pinned and a mutex
// key of this process's own, so no daemon or parallel test is waited for.
class FolderIndexEnv {
public:
    FolderIndexEnv() : tz_("UTC") {
        installFolderIndex();
        setUnzipLogSink(captureLog, &log);
        key_ = kZipUpdateMutexKeyBase + 20000 + key_t(getpid() % 30000);
        setZipUpdateMutexKey(key_);
    }
    ~FolderIndexEnv() {
        setFolderIndexHooks(nullptr);
        setUnzipLogSink(nullptr, nullptr);
        if (std::unique_ptr<Mutex> m = newMutex(key_, 0)) m->del();
        setZipUpdateMutexKey(kDefaultZipUpdateMutexKey);
    }
    FolderIndexEnv(const FolderIndexEnv&) = delete;
    FolderIndexEnv& operator=(const FolderIndexEnv&) = delete;

    key_t key() const { return key_; }
    int count(int level, const std::string& text) const {
        int n = 0;
        for (const LogLine& l : log) n += l.level == level && l.text == text;
        return n;
    }
    int countPrefix(const std::string& prefix) const {
        int n = 0;
        for (const LogLine& l : log) n += l.text.compare(0, prefix.size(), prefix) == 0;
        return n;
    }
    std::string joined() const {
        std::string all;
        for (const LogLine& l : log) all += "<" + std::to_string(l.level) + "> " + l.text + "\n";
        return all;
    }

    std::vector<LogLine> log;

private:
    TzGuard tz_;
    key_t key_;
};

struct ZsDeleter {
    void operator()(ZipStructure* zs) const { zs->del(); }
};
using ZsPtr = std::unique_ptr<ZipStructure, ZsDeleter>;

ZsPtr open(const std::string& path, uint16_t flags) {
    return ZsPtr(newZipStructure(nullptr, path.c_str(), flags, nullptr, nullptr));
}

using FolderTable = std::vector<std::pair<std::string, int>>;

FolderTable folders(const ZipStructure& zs) {
    FolderTable t;
    for (const CentralHeader* ch = zs.getFirstCentralHeader(); ch; ch = ch->next)
        t.emplace_back(ch->fname, ch->folder);
    return t;
}

// A member as python's zipfile writes one: deflated at zlib's default
// level unless stored, made by version 2.0 on Unix, 2020-01-01 12:00, mode
// 0644. The libraries of these tests are laid out so.
ZipMember page(std::string name, std::string data, uint16_t method = ZIPMETHOD_DEFLATED) {
    return {.name = std::move(name),
            .data = std::move(data),
            .method = method,
            .level = Z_DEFAULT_COMPRESSION,
            .versionMadeBy = 0x0314,
            .dosTime = 0x6000,
            .dosDate = 0x5021,
            .externalAttributes = 0100644u << 16};
}

// A document line of a folder page.
std::string td(const std::string& name) {
    return "<TR><TD valign=top nowrap><A HREF=\"show.cgi?FN=" + name + "\">x</A></TD></TR>\n";
}

// ---- parseIndexfile ---------------------------------------------------------------

// Members a.html .. d.html, then "folderindex.txt" holding the case's text.
TEST(FolderIndexParse, ReadsLinesInDirectoryOrderAndReportsStrays) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    struct Case {
        const char* name;
        std::string index;
        uint16_t flags;
        std::vector<int> folders;               // a, b, c, d
        std::vector<std::string> missingOrder;  // names, in order
        std::vector<std::string> missingEntry;
    };
    const std::string mib5(5 << 20, 'y');
    const Case cases[] = {
        {"in order",
         "FolderID:1|File:a.html|\nFolderID:2|File:b.html|\nFolderID:3|File:c.html|\nFolderID:4|File:d.html|"
         "\n",
         0,
         {1, 2, 3, 4},
         {},
         {}},
        {"reversed",
         "FolderID:4|File:d.html|\nFolderID:3|File:c.html|\nFolderID:2|File:b.html|\nFolderID:1|File:a.html|"
         "\n",
         0,
         {1, 2, 3, 4},
         {"c.html", "b.html", "a.html"},
         {}},
        {"a set folder is kept",
         "FolderID:1|File:a.html|\nFolderID:9|File:a.html|\nFolderID:2|File:b.html|\n",
         0,
         {1, 2, 0, 0},
         {"a.html"},
         {}},
        // The lookup after a miss starts from the first member again.
        {"unknown name",
         "FolderID:1|File:a.html|\nFolderID:5|File:zz.html|\nFolderID:2|File:a.html|\nFolderID:3|File:c.html|"
         "\n",
         0,
         {1, 0, 3, 0},
         {},
         {"zz.html"}},
        // The last line has no line feed.
        {"numbers",
         "FolderID:99999999999|File:a.html|\nFolderID: "
         "12|File:b.html|\nFolderID:x|File:c.html|\nFolderID:7|File:d.html|",
         0,
         {0, 12, 0, 7},
         {},
         {}},
        {"not index lines",
         "File:a.html|FolderID:3|\nFolderID:3 File:b.html|\nFolderID:3|File:c.html\nFolderID:3|d.html|\n",
         0,
         {0, 0, 0, 0},
         {},
         {}},
        {"pattern and crlf",
         "FolderID:6|File:[bc].html|\r\nFolderID:8|File:c*|\r\n",
         0,
         {0, 6, 8, 0},
         {},
         {}},
        {"folded names",
         "FolderID:6|File:B.HTML|\nFolderID:7|File:C.html|\n",
         kZipFoldNames,
         {0, 6, 7, 0},
         {},
         {}},
        {"exact names", "FolderID:6|File:B.HTML|\n", 0, {0, 0, 0, 0}, {}, {"B.HTML"}},
        // Lines end after 1024 characters: the first entry is cut in two,
        // the second starts a line of its own.
        {"long lines",
         std::string(1020, 'x') + "FolderID:8|File:c.html|\n" + std::string(1024, 'x') +
             "FolderID:7|File:b.html|\n",
         0,
         {0, 7, 0, 0},
         {},
         {}},
        {"5 MiB without a line feed", mib5 + "FolderID:4|File:d.html|" + mib5, 0, {0, 0, 0, 4}, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file("parse.kvo");
        writeZip(path, {.members = {page("a.html", "a"), page("b.html", "b"), page("c.html", "c"),
                                    page("d.html", "d"), page("folderindex.txt", c.index)}});
        FolderIndexEnv env;
        ZsPtr zs = open(path, c.flags);
        ASSERT_TRUE(zs) << env.joined();
        const FolderTable expected = {{"a.html", c.folders[0]},
                                      {"b.html", c.folders[1]},
                                      {"c.html", c.folders[2]},
                                      {"d.html", c.folders[3]},
                                      {"folderindex.txt", 0}};
        EXPECT_EQ(folders(*zs), expected);
        for (const std::string& n : c.missingOrder)
            EXPECT_EQ(env.count(7, "Missing order in " + path + "-> File:" + n + "|"), 1) << n << "\n"
                                                                                          << env.joined();
        for (const std::string& n : c.missingEntry)
            EXPECT_EQ(env.count(7, "Missing entry in " + path + "-> File:" + n + "|"), 1) << n << "\n"
                                                                                          << env.joined();
        EXPECT_EQ(env.log.size(), c.missingOrder.size() + c.missingEntry.size()) << env.joined();
    }
}

TEST(FolderIndexParse, UnreadableIndexMemberLeavesFoldersAndSaysSo) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    // The index member's deflated data is damaged in its middle.
    std::string index;
    for (int i = 0; i < 200; ++i) index += "FolderID:1|File:a.html|\n";
    test::BuiltZip bad = test::buildZip({.members = {page("a.html", "a"), page("folderindex.txt", index)}});
    bad.bytes[bad.places[1].data + bad.places[1].compressedSize / 2] ^= 0xFF;
    writeFile(dir.file("bad.kvo"), bad.bytes);
    FolderIndexEnv env;
    const std::string path = dir.file("bad.kvo");
    ZsPtr zs = open(path, 0);
    ASSERT_TRUE(zs);
    EXPECT_EQ(env.count(3, "Failed to unzip folderindex.txt "), 1) << env.joined();
    // No fallback to the folder pages.
    EXPECT_EQ(folders(*zs), (FolderTable{{"a.html", 0}, {"folderindex.txt", 0}}));
    EXPECT_EQ(zs->parseIndexfile(nullptr), 0);
    EXPECT_EQ(env.count(3, "Failed to parse index file of " + path), 1) << env.joined();
}

// ---- createIndexfile: the library of the folder-index outcome ----------------------

// Directory order matters: the index lists members in it.
void writeLibrary(const std::string& path) {
    std::string big;
    for (int n = 0; n < 30000; ++n)
        big += "<P>filler line " + std::to_string(n) + " of a long folder page</P>\n";
    ASSERT_GT(big.size(), 1u << 20);
    writeZip(
        path,
        {.members = {
             page("h0001_17.html", td("doc.html") + td("doc.v.html") + td("r19089_0.v1.html") + td("hx.txt") +
                                       "<TD valign=top nowrap>no document here</TD>\n" +
                                       "<A HREF=\"show.cgi?FN=loose.html\">not a document line</A>\n"),
             page("doc.html", "doc"),
             page("doc.v.html", "doc v"),
             page("doc.v-2.html", "doc v part 2"),
             page("r19089_0.v1.html", "r"),
             page("r19089_0.v1.c.html", "r c"),
             page("r19089_1.v1.c.html", "r1 c"),
             page("h0002_5.html", td("doc.v-2.html") + td("x.y.html") + td("zzz._.pdf"), ZIPMETHOD_STORED),
             page("x.y.html", "x y"),
             page("x.y-3.html", "x y 3"),
             page("doc._.pdf", "%PDF doc"),
             page("zzz._.pdf", "%PDF zzz"),
             page("zzz.html", "zzz"),
             page("nopage.v-1.html", "no page"),
             page("loose.html", "loose"),
             page("loose._.pdf", "%PDF loose"),
             page("hidx.html", td("idx.html")),
             page("idx.html", "idx"),
             page("h0003_9.html", big + td("big.html")),
             page("big.html", "big"),
             page("hx.txt", "hx"),
             page("readme.txt", "readme"),
         }});
}

// The folders when the library is opened normally: a member with a related
// member takes its folder even when a page gave it one (doc.v-2.html,
// zzz._.pdf), 0 included.
const FolderTable kNormalFolders = {
    {"h0001_17.html", 17},     {"doc.html", 17},         {"doc.v.html", 17},
    {"doc.v-2.html", 17},      {"r19089_0.v1.html", 17}, {"r19089_0.v1.c.html", 17},
    {"r19089_1.v1.c.html", 0}, {"h0002_5.html", 5},      {"x.y.html", 5},
    {"x.y-3.html", 5},         {"doc._.pdf", 17},        {"zzz._.pdf", 0},
    {"zzz.html", 0},           {"nopage.v-1.html", 0},   {"loose.html", 0},
    {"loose._.pdf", 0},        {"hidx.html", 5},         {"idx.html", 5},
    {"h0003_9.html", 9},       {"big.html", 9},          {"hx.txt", 0},
    {"readme.txt", 0},
};

// In the index-builder run a member keeps the folder its page gave it.
FolderTable indexRunFolders() {
    FolderTable t = kNormalFolders;
    for (auto& [name, folder] : t) {
        if (name == "doc.v-2.html" || name == "zzz._.pdf") folder = 5;
    }
    return t;
}

constexpr const char* kExpectedIndex =
    "FolderID:17|File:h0001_17.html|\n"
    "FolderID:17|File:doc.html|\n"
    "FolderID:17|File:doc.v.html|\n"
    "FolderID:5|File:doc.v-2.html|\n"
    "FolderID:17|File:r19089_0.v1.html|\n"
    "FolderID:17|File:r19089_0.v1.c.html|\n"
    "FolderID:5|File:h0002_5.html|\n"
    "FolderID:5|File:x.y.html|\n"
    "FolderID:5|File:x.y-3.html|\n"
    "FolderID:17|File:doc._.pdf|\n"
    "FolderID:5|File:zzz._.pdf|\n"
    "FolderID:0|File:loose._.pdf|\n"
    "FolderID:5|File:hidx.html|\n"
    "FolderID:5|File:idx.html|\n"
    "FolderID:9|File:h0003_9.html|\n"
    "FolderID:9|File:big.html|\n";

std::vector<std::string> entries(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = opendir(dir.c_str());
    if (!d) return names;
    while (dirent* e = readdir(d))
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

time_t mtimeOf(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_mtime : 0;
}

constexpr time_t kLibraryTime = 1500000000;

TEST(FolderIndexCreate, NormalRunWorksOutFoldersAndWritesNothing) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    const std::string path = dir.file("lib.kvo");
    ASSERT_NO_FATAL_FAILURE(writeLibrary(path));
    setMtime(path, kLibraryTime);
    const std::string before = readFile(path);
    FolderIndexEnv env;
    ZsPtr zs = open(path, 0);
    ASSERT_TRUE(zs) << env.joined();
    EXPECT_EQ(folders(*zs), kNormalFolders);
    EXPECT_TRUE(env.log.empty()) << env.joined();
    EXPECT_EQ(readFile(path), before);
    EXPECT_EQ(mtimeOf(path), kLibraryTime);
    EXPECT_EQ(entries(dir.path()), (std::vector<std::string>{"lib.kvo"}));

    // Without the folder index nothing is numbered.
    setFolderIndexHooks(nullptr);
    ZsPtr plain = open(path, 0);
    ASSERT_TRUE(plain);
    for (const auto& [name, folder] : folders(*plain)) EXPECT_EQ(folder, 0) << name;
}

TEST(FolderIndexCreate, IndexRunAddsTheIndexAndKeepsTheLibraryTime) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    // A name a shell would split twice over.
    const std::string path = dir.file("a b;x.kvo");
    ASSERT_NO_FATAL_FAILURE(writeLibrary(path));
    setMtime(path, kLibraryTime);
    const auto before = records(path);
    FolderIndexEnv env;

    ZsPtr zs = open(path, kZipIndexBuilder);
    ASSERT_TRUE(zs) << env.joined();
    EXPECT_EQ(folders(*zs), indexRunFolders());
    EXPECT_EQ(env.count(5, "Index file added to " + path), 1) << env.joined();
    EXPECT_EQ(env.log.size(), 1u) << env.joined();
    EXPECT_EQ(zs->mTime, kLibraryTime);
    EXPECT_EQ(zs->fileSize, static_cast<unsigned long>(readFile(path).size()));

    // The archive: the old entries untouched, the index added after them.
    EXPECT_EQ(mtimeOf(path), kLibraryTime);
    Listing l = expectValid(path, {"folderindex.txt"});
    ASSERT_TRUE(l.ok) << l.error;
    ASSERT_EQ(l.entries.size(), before.size() + 1);
    EXPECT_EQ(l.entries.back().name, "folderindex.txt");
    EXPECT_EQ(l.entries.back().data, kExpectedIndex);
    const auto after = records(path);
    for (const auto& [name, record] : before) {
        SCOPED_TRACE(name);
        ASSERT_EQ(after.count(name), 1u);
        EXPECT_TRUE(after.at(name) == record);
    }
    EXPECT_EQ(entries(dir.path()), (std::vector<std::string>{"a b;x.kvo"}));
    // The update mutex was given back.
    std::unique_ptr<Mutex> mutex = newMutex(env.key(), 0);
    ASSERT_TRUE(mutex);
    EXPECT_EQ(mutex->lock(1), 1);
    mutex->unlock();

    // Opened again, the index gives the index run's folders; a second index
    // run adds nothing.
    env.log.clear();
    ZsPtr again = open(path, 0);
    ASSERT_TRUE(again);
    FolderTable withIndex = indexRunFolders();
    withIndex.emplace_back("folderindex.txt", 0);
    EXPECT_EQ(folders(*again), withIndex);
    EXPECT_TRUE(env.log.empty()) << env.joined();
    const std::string bytes = readFile(path);
    ZsPtr rerun = open(path, kZipIndexBuilder);
    ASSERT_TRUE(rerun);
    EXPECT_EQ(readFile(path), bytes);
}

TEST(FolderIndexCreate, FailedZipLeavesTheLibraryAndNoFiles) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    const std::string path = dir.file("lib.kvo");
    ASSERT_NO_FATAL_FAILURE(writeLibrary(path));
    // A second hard link: the rewrite refuses to split it.
    ASSERT_EQ(link(path.c_str(), dir.file("link.kvo").c_str()), 0);
    setMtime(path, kLibraryTime);
    const std::string before = readFile(path);
    FolderIndexEnv env;
    ZsPtr zs = open(path, kZipIndexBuilder);
    ASSERT_TRUE(zs);
    EXPECT_EQ(folders(*zs), indexRunFolders());
    EXPECT_EQ(env.countPrefix("Failure during Zip," + dir.path() + "/._upd."), 1) << env.joined();
    EXPECT_EQ(env.countPrefix("Index file added"), 0) << env.joined();
    EXPECT_EQ(readFile(path), before);
    EXPECT_EQ(mtimeOf(path), kLibraryTime);
    EXPECT_EQ(entries(dir.path()), (std::vector<std::string>{"lib.kvo", "link.kvo"}));
}

// A read-only library in a writable directory: the folders are worked out,
// the index is not added. Root may write anything, so as root this runs in
// a child that has become uid 65534.
TEST(FolderIndexCreate, LibraryNotWritableIsLeftAlone) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    const std::string path = dir.file("ro.kvo");
    ASSERT_NO_FATAL_FAILURE(writeLibrary(path));
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    giveToNobody(dir.path());
    const std::string before = readFile(path);
    const FolderTable expected = indexRunFolders();
    const std::string notice = "Failed to add index file, library is not writable " + path;
    int status = test::inChild([&] {
        if (!dropToNobody()) return 99;
        FolderIndexEnv env;
        ZsPtr zs = open(path, kZipIndexBuilder);
        if (!zs) return 1;
        if (folders(*zs) != expected) return 2;
        if (env.count(5, notice) != 1 || env.log.size() != 1) return 3;
        if (readFile(path) != before) return 4;
        if (entries(dir.path()) != std::vector<std::string>{"ro.kvo"}) return 5;
        return 0;
    });
    if (status == 99) GTEST_SKIP() << "cannot become uid 65534 to test a library that is not writable";
    EXPECT_EQ(status, 0);
}

// ---- createIndexfile: hostile and broken pages -----------------------------------

TEST(FolderIndexCreate, HostilePagesNameNothingTheyShouldNot) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    // One 5 MiB line, read in cuts of 1024 characters: a document line is
    // seen when a cut starts with it, not when a cut falls inside it.
    const std::string half(5 << 19, 'z');
    std::string line = half + td("five.html").substr(0, td("five.html").size() - 1) + half;
    line += std::string((1014 + 1024 - line.size() % 1024) % 1024, 'x') + td("cut.html");
    std::string broken;
    for (int i = 0; i < 500; ++i) broken += td("broken.html");
    test::BuiltZip hostile = test::buildZip({.members = {
                                                 page("h0001_3.html", line),
                                                 page("h0002_4.html",
                                                      "<TD valign=top nowrap><A HREF=\"?FN=open.html>\n\"\n"
                                                      "?FN=before.html\" <TD valign=top nowrap>\n"
                                                      "<TD valign=top nowrap>?FN=" +
                                                          std::string(1100, 'w') +
                                                          "\"\n"
                                                          "<TD valign=top nowrap>?FN=\"\n"),
                                                 page("h0003_99999999999.html", td("ovf.html")),
                                                 page("h[1]_6.html", td("pattern.html")),
                                                 page("h0005_7.html", broken),
                                                 page("five.html", "5"),
                                                 page("cut.html", "c"),
                                                 page("open.html", "o"),
                                                 page("before.html", "b"),
                                                 page("ovf.html", "v"),
                                                 page("pattern.html", "p"),
                                                 page("broken.html", "b"),
                                             }});
    // h0005_7.html's deflated data damaged in its middle.
    const test::ZipPlace& damaged = hostile.places[4];
    hostile.bytes[damaged.data + damaged.compressedSize / 2] ^= 0xFF;
    writeFile(dir.file("hostile.kvo"), hostile.bytes);
    const std::string path = dir.file("hostile.kvo");
    FolderIndexEnv env;
    ZsPtr zs = open(path, 0);
    ASSERT_TRUE(zs) << env.joined();
    const FolderTable expected = {
        {"h0001_3.html", 3}, {"h0002_4.html", 4}, {"h0003_99999999999.html", 0},
        {"h[1]_6.html", 0},  {"h0005_7.html", 7}, {"five.html", 3},
        {"cut.html", 0},     {"open.html", 0},    {"before.html", 0},
        {"ovf.html", 0},     {"pattern.html", 0}, {"broken.html", 0},
    };
    EXPECT_EQ(folders(*zs), expected);
    // The page name is a pattern that does not match itself.
    EXPECT_EQ(env.count(3, "failed to findCentralHeader h[1]_6.html"), 1) << env.joined();
    EXPECT_EQ(env.count(3, "failed to unzip h0005_7.html "), 1) << env.joined();
}

TEST(FolderIndexCreate, PagesNumberedInOrderAndNamesFoldedWhenAsked) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    writeZip(dir.file("fold.kvo"),
             {.members = {page("h0001_2.html", td("doc.html") + td("Other.HTML")),
                          page("hnext.html", td("next.html")), page("h0002_x.html", td("nan.html")),
                          page("Doc.HTML", "d"), page("other.html", "o"), page("next.html", "n"),
                          page("nan.html", "n")}});
    writeZip(dir.file("first.kvo"),
             {.members = {page("hfirst.html", td("a.html")), page("h0001_8.html", td("b.html")),
                          page("a.html", "a"), page("b.html", "b")}});
    struct Case {
        const char* file;
        uint16_t flags;
        FolderTable folders;
    };
    const Case cases[] = {
        {"fold.kvo",
         0,
         {{"h0001_2.html", 2},
          {"hnext.html", 2},
          {"h0002_x.html", 0},
          {"Doc.HTML", 0},
          {"other.html", 0},
          {"next.html", 2},
          {"nan.html", 0}}},
        {"fold.kvo",
         kZipFoldNames,
         {{"h0001_2.html", 2},
          {"hnext.html", 2},
          {"h0002_x.html", 0},
          {"doc.html", 2},
          {"other.html", 2},
          {"next.html", 2},
          {"nan.html", 0}}},
        // A first page without a number is folder 0.
        {"first.kvo", 0, {{"hfirst.html", 0}, {"h0001_8.html", 8}, {"a.html", 0}, {"b.html", 8}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " flags " + std::to_string(c.flags));
        FolderIndexEnv env;
        ZsPtr zs = open(dir.file(c.file), c.flags);
        ASSERT_TRUE(zs) << env.joined();
        EXPECT_EQ(folders(*zs), c.folders);
        EXPECT_TRUE(env.log.empty()) << env.joined();
    }
}

TEST(FolderIndexCreate, InvalidInputOrAGoneArchiveIsRefused) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    writeZip(dir.file("lib.kvo"), {.members = {page("a.html", "a")}});
    const std::string path = dir.file("lib.kvo");
    FolderIndexEnv env;
    ZsPtr zs = open(path, 0);
    ASSERT_TRUE(zs);
    EXPECT_EQ(zs->createIndexfile(nullptr), 0);
    EXPECT_EQ(env.count(3, "Create index file invalid input"), 1) << env.joined();

    ASSERT_EQ(rename(path.c_str(), dir.file("moved.kvo").c_str()), 0);
    StringList pages;
    EXPECT_EQ(zs->createIndexfile(&pages), 0);
    EXPECT_EQ(env.count(3, "Failed to open " + path), 1) << env.joined();
    EXPECT_EQ(zs->parseIndexfile(zs->getFirstCentralHeader()), 0);
    EXPECT_EQ(env.count(3, "Failed to parse index file from " + path), 1) << env.joined();
}

}  // namespace
}  // namespace ruva

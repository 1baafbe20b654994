#include "bmod/unzipd/catalogue/filesys_scanner.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "bmod/unzipd/log/log_call.h"
#include "tests/support/test_support.h"

namespace ruva {
namespace {

using test::runShell;
using test::TempDir;

struct LogCapture {
    std::vector<std::string> lines;
    LogCapture() {
        setLogLineSink([](void* c, const std::string& l) { static_cast<LogCapture*>(c)->lines.push_back(l); },
                       this);
    }
    ~LogCapture() { setLogLineSink(nullptr, nullptr); }
    // The lines whose text (after "Level: ") is exactly text.
    int count(const std::string& levelAndText) const {
        return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const std::string& l) {
            size_t at = l.find(levelAndText);
            return at != std::string::npos && at + levelAndText.size() + 1 == l.size();
        }));
    }
};

// What a scan delivered: each path with the list kind reported during its call.
struct Delivered {
    FilesysScanner* fs = nullptr;
    std::vector<std::pair<std::string, int>> seen;
    int answer = 1;
    int stopAfter = 0;

    static int take(void* self, const char* path) {
        auto* d = static_cast<Delivered*>(self);
        d->seen.emplace_back(path, d->fs->getDbDirType());
        if (d->stopAfter && static_cast<int>(d->seen.size()) == d->stopAfter) d->fs->stop();
        return d->answer;
    }
    std::vector<std::string> sortedPaths() const {
        std::vector<std::string> out;
        for (const auto& s : seen) out.push_back(s.first);
        std::sort(out.begin(), out.end());
        return out;
    }
};

// A scanner reporting to got, reading its owner's flags from *flags.
template <typename Word>
std::unique_ptr<FilesysScanner> scannerFor(const Word* flags, Delivered& got) {
    auto fs = newFilesysScanner(flags, &Delivered::take);
    got.fs = fs.get();
    return fs;
}

std::vector<std::string> sortedLines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    std::sort(out.begin(), out.end());
    return out;
}

void makeTree(const std::string& root, const std::vector<std::string>& dirs,
              const std::vector<std::string>& files) {
    for (const auto& d : dirs) ASSERT_EQ(runShell("mkdir -p '" + root + "/" + d + "'"), 0) << d;
    for (const auto& f : files) test::writeFile(root + "/" + f, "x");
}

TEST(FilesysScanner, ListsFollowTheirOwnersFlagsAndRefuseBadArguments) {
    LogCapture log;
    uint16_t flags = 0;
    auto fs = newFilesysScanner(&flags, nullptr);
    ASSERT_NE(fs, nullptr);
    EXPECT_EQ(fs->getDbDirType(), DBDIR_NONRECURSIVE);

    EXPECT_EQ(fs->scan(nullptr), 0);
    EXPECT_EQ(log.count("Crit: Invalid arguments to scan"), 1);
    EXPECT_EQ(fs->setCallback(nullptr), 0);
    EXPECT_EQ(log.count("Crit: Invalid arguments to setCallback"), 1);

    EXPECT_EQ(fs->addRecursiveDir(nullptr), 0);
    EXPECT_EQ(fs->addExcludePattern(nullptr), 0);
    EXPECT_EQ(log.count("Crit: Null to addRecursiveDir"), 1);
    EXPECT_EQ(log.count("Crit: Null to addExcludePattern"), 1);

    // A directory given twice, with or without its trailing "/", is kept once.
    struct Case {
        int (FilesysScanner::*add)(const char*);
        StringList* list;
    } cases[] = {{&FilesysScanner::addNonRecursiveDir, fs->nonRecursiveDirs.get()},
                 {&FilesysScanner::addRecursiveDir, fs->recursiveDirs.get()},
                 {&FilesysScanner::addWritableNonRecursiveDir, fs->writableNonRecursiveDirs.get()}};
    for (const Case& c : cases) {
        EXPECT_EQ((fs.get()->*c.add)("/lib/a"), 1);
        EXPECT_EQ((fs.get()->*c.add)("/lib/a/"), 1);
        EXPECT_EQ((fs.get()->*c.add)("/lib/a"), 1);
        EXPECT_EQ((fs.get()->*c.add)("/lib/ab"), 1);
        EXPECT_EQ(c.list->countEntries(), 2);
    }
    // Patterns are kept as given, repeats included.
    EXPECT_EQ(fs->addIncludePattern("*.kvo"), 1);
    EXPECT_EQ(fs->addIncludePattern("*.kvo"), 1);
    EXPECT_EQ(fs->includePatterns->countEntries(), 2);

    fs->clear();
    for (StringList* l :
         {fs->nonRecursiveDirs.get(), fs->recursiveDirs.get(), fs->writableNonRecursiveDirs.get(),
          fs->includePatterns.get(), fs->excludePatterns.get()}) {
        EXPECT_EQ(l->countEntries(), 0);
    }
}

TEST(FilesysScanner, IncludeFileTable) {
    LogCapture log;
    uint16_t flags = 0;
    auto fs = newFilesysScanner(&flags, nullptr);
    ASSERT_NE(fs, nullptr);
    fs->addIncludePattern("*.kvo");
    fs->addExcludePattern("*/skip");
    fs->addExcludePattern("*/OLD*");
    auto empty = newStringList();

    struct Case {
        const char* name;
        uint16_t flags;
        bool withInclude;
        int expected;
    } cases[] = {
        {"/d/a.kvo", 0, true, 1},
        {"/d/a.KVO", 0, true, 0},  // include follows fold names
        {"/d/a.KVO", kScanFoldNames, true, 1},
        {"/d/x.kvo/y.zip", kScanFoldNames, true, 0},  // the whole path must match
        {"/d/SKIP", 0, false, 0},                     // exclude is always case-blind
        {"/d/skip.kvo", 0, true, 1},
        {"/d/old1.kvo", 0, true, 0},
        {"/d/anything", 0, false, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        flags = c.flags;
        EXPECT_EQ(fs->includeFile(c.name, c.withInclude ? fs->includePatterns.get() : nullptr,
                                  fs->excludePatterns.get()),
                  c.expected);
    }
    // No list, or an empty include list, limits nothing.
    EXPECT_EQ(fs->includeFile("/d/x", nullptr, nullptr), 1);
    EXPECT_EQ(fs->includeFile("/d/x", empty.get(), empty.get()), 1);
    EXPECT_EQ(fs->includeFile(nullptr, nullptr, nullptr), 0);

    EXPECT_EQ(log.count("Dbg.: Excluded /d/SKIP, due to excludePattern */skip"), 1);
    EXPECT_EQ(log.count("Dbg.: Excluded /d/old1.kvo, due to excludePattern */OLD*"), 1);
    // The include miss is told only with verbose.
    EXPECT_EQ(log.count("Dbg.: Excluded /d/a.KVO, not in includePattern"), 0);
    flags = kScanVerbose;
    EXPECT_EQ(fs->includeFile("/d/a.KVO", fs->includePatterns.get(), nullptr), 0);
    EXPECT_EQ(log.count("Dbg.: Excluded /d/a.KVO, not in includePattern"), 1);
}

// The scan against find over the same tree: fold off, then fold on through
// the owner's flags word on the same scanner.
TEST(FilesysScanner, DeliversWhatFindFinds) {
    TempDir tmp;
    ASSERT_TRUE(tmp.ok());
    const std::string& t = tmp.path();
    makeTree(
        t, {"rec/sub/deep", "rec/skip", "rec/SKIP", "rec/x.KVO", "non/inner", "non/f.kvo", "wr/deeper"},
        {"rec/a.kvo", "rec/b.txt", "rec/B.KVO", "rec/sub/c.kvo", "rec/sub/deep/d.kvo", "rec/sub/g.KVO",
         "rec/skip/e.kvo", "rec/SKIP/e.kvo", "rec/x.KVO/y.kvo", "rec/x.KVO/z.zip", "non/h.kvo", "non/i.KVO",
         "non/j.doc", "non/inner/k.kvo", "non/f.kvo/o.kvo", "wr/l.kvo", "wr/m.txt", "wr/deeper/n.kvo"});
    uint16_t flags = 0;
    Delivered got;
    auto fs = scannerFor(&flags, got);
    ASSERT_NE(fs, nullptr);
    ASSERT_TRUE(fs->addRecursiveDir((t + "/rec").c_str()));
    ASSERT_TRUE(fs->addNonRecursiveDir((t + "/non/").c_str()));
    ASSERT_TRUE(fs->addWritableNonRecursiveDir((t + "/wr").c_str()));
    ASSERT_TRUE(fs->addIncludePattern("*.kvo"));
    ASSERT_TRUE(fs->addExcludePattern("*/skip"));

    for (uint16_t fold : {uint16_t{0}, uint16_t{kScanFoldNames}}) {
        SCOPED_TRACE(fold);
        flags = fold;
        got.seen.clear();
        std::string pick = fold ? "\\( -type f -o -type d \\) -ipath '*.kvo'" : "-type f -path '*.kvo'";
        std::string prune = "\\( -ipath '*/skip' -prune \\) -o \\( " + pick + " -print \\)";
        std::string oracle = test::capture("find '" + t + "/rec' -mindepth 1 " + prune + "; find '" + t +
                                           "/non/' '" + t + "/wr' -mindepth 1 -maxdepth 1 " + prune);
        int count = fs->scan(&got);
        EXPECT_EQ(got.sortedPaths(), sortedLines(oracle));
        EXPECT_EQ(count, static_cast<int>(got.seen.size()));

        // Lists in order recursive, non-recursive, writable; each call knows its list.
        int last = 0;
        for (const auto& [path, type] : got.seen) {
            int expected = path.rfind(t + "/rec/", 0) == 0   ? DBDIR_RECURSIVE
                           : path.rfind(t + "/non/", 0) == 0 ? DBDIR_NONRECURSIVE
                                                             : DBDIR_WRITABLE;
            EXPECT_EQ(type, expected) << path;
            EXPECT_GE(type, last) << path;
            last = type;
        }
        EXPECT_EQ(fs->getDbDirType(), DBDIR_WRITABLE);
    }
    // With fold on the folders x.KVO and f.kvo were offered and went on being read.
    std::vector<std::string> paths = got.sortedPaths();
    for (const char* p : {"/rec/x.KVO", "/rec/x.KVO/y.kvo", "/non/f.kvo"}) {
        EXPECT_TRUE(std::binary_search(paths.begin(), paths.end(), t + p)) << p;
    }

    // Files count whatever the callback answers; offered folders only when taken.
    got.seen.clear();
    got.answer = 0;
    int files = static_cast<int>(std::count_if(paths.begin(), paths.end(), [](const std::string& p) {
        return p.find("x.KVO", p.size() - 5) == std::string::npos &&
               p.find("f.kvo", p.size() - 5) == std::string::npos;
    }));
    EXPECT_EQ(fs->scan(&got), files);

    // A callback that stops the scan ends it after that entry; the next scan starts afresh.
    got.seen.clear();
    got.answer = 1;
    got.stopAfter = 1;
    EXPECT_EQ(fs->scan(&got), 1);
    EXPECT_EQ(got.seen.size(), 1u);
    got.stopAfter = 0;
    got.seen.clear();
    EXPECT_EQ(fs->scan(&got), static_cast<int>(paths.size()));
}

// One name that makes a path over 254 characters is skipped and the rest of
// its directory is still read.
TEST(FilesysScanner, OverlongPathIsSkippedWithItsSiblingsDelivered) {
    LogCapture log;
    TempDir tmp;
    ASSERT_TRUE(tmp.ok());
    std::string dir = tmp.file("long");
    ASSERT_EQ(runShell("mkdir '" + dir + "'"), 0);
    auto nameFor = [&](size_t fullLength) {
        return std::string(fullLength - dir.size() - 1 - 4, 'n') + ".kvo";
    };
    std::vector<std::string> expected;
    for (int i = 0; i < 10; ++i) {
        std::string p = dir + "/s" + std::to_string(i) + ".kvo";
        test::writeFile(p, "x");
        expected.push_back(p);
    }
    test::writeFile(dir + "/" + nameFor(254), "x");
    expected.push_back(dir + "/" + nameFor(254));
    test::writeFile(dir + "/" + nameFor(255), "x");
    test::writeFile(dir + "/" + nameFor(260), "x");
    std::sort(expected.begin(), expected.end());

    uint16_t flags = 0;
    Delivered got;
    auto fs = scannerFor(&flags, got);
    ASSERT_NE(fs, nullptr);
    fs->addNonRecursiveDir(dir.c_str());
    fs->addIncludePattern("*.kvo");
    EXPECT_EQ(fs->scan(&got), 11);
    EXPECT_EQ(got.sortedPaths(), expected);
    EXPECT_EQ(log.count("Warn: Path too long, skipped " + dir + "/" + nameFor(260)), 1);
    EXPECT_EQ(log.count("Warn: Path too long, skipped " + dir + "/" + nameFor(255)), 1);
}

// A name that could end a reply or log line, or split a '|' field, is never
// handed on nor entered; each is told once per scan with its controls as '?'.
TEST(FilesysScanner, NamesThatWouldBreakALineAreSkipped) {
    LogCapture log;
    TempDir tmp;
    ASSERT_TRUE(tmp.ok());
    const std::string rec = tmp.file("rec");
    struct Case {
        const char* name;
        const char* shown;  // nullptr: delivered
    } cases[] = {
        {"good.kvo", nullptr},
        {"caf\xe9.kvo", nullptr},  // Latin-1 and UTF-8 bytes are names like any other
        {"new\n200-LIST executed.\nx.kvo", "new?200-LIST executed.?x.kvo"},
        {"cr\r.kvo", "cr?.kvo"},
        {"tab\t.kvo", "tab?.kvo"},
        {"del\x7f.kvo", "del?.kvo"},
        {"q\"t.kvo", "q\"t.kvo"},
        {"bar|1|x|.kvo", "bar|1|x|.kvo"},
        {"dir\nsub", "dir?sub"},  // a folder: its files are not reached
    };
    ASSERT_EQ(::mkdir(rec.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((rec + "/dir\nsub").c_str(), 0755), 0);
    test::writeFile(rec + "/dir\nsub/inner.kvo", "x");
    for (const Case& c : cases)
        if (std::string(c.name).find("sub") == std::string::npos) test::writeFile(rec + "/" + c.name, "x");

    uint16_t flags = kScanFoldNames;  // folders are offered too
    Delivered got;
    auto fs = scannerFor(&flags, got);
    ASSERT_NE(fs, nullptr);
    fs->addRecursiveDir(rec.c_str());
    fs->addIncludePattern("*.kvo");
    fs->addIncludePattern("*sub");
    EXPECT_EQ(fs->scan(&got), 2);
    EXPECT_EQ(got.sortedPaths(), (std::vector<std::string>{rec + "/caf\xe9.kvo", rec + "/good.kvo"}));
    for (const Case& c : cases) {
        if (!c.shown) continue;
        SCOPED_TRACE(c.name);
        EXPECT_EQ(log.count(std::string("Warn: Path skipped, it holds a control character, '\"' or '|': ") +
                            rec + "/" + c.shown),
                  1);
    }
    EXPECT_EQ(log.lines.size(), 7u) << "one line per skipped path, nothing else";
}

// Links back up the tree would make the walk endless (two of them: the paths
// double at every level); a directory is read once per scan.
TEST(FilesysScanner, LinksBackUpDoNotHangAndDeliverEachFileOnce) {
    TempDir tmp;
    ASSERT_TRUE(tmp.ok());
    const std::string& t = tmp.path();
    makeTree(t, {"rec/sub", "rec/other"}, {"rec/a.kvo", "rec/sub/b.kvo", "rec/other/c.kvo"});
    ASSERT_EQ(runShell("cd '" + t + "/rec/sub' && ln -s .. loop1 && ln -s .. loop2 && ln -s ../other twin"),
              0);
    uint16_t flags = 0;
    Delivered got;
    auto fs = scannerFor(&flags, got);
    ASSERT_NE(fs, nullptr);
    fs->addRecursiveDir((t + "/rec").c_str());
    fs->addIncludePattern("*.kvo");
    EXPECT_EQ(fs->scan(&got), 3);
    std::vector<std::string> names;
    for (const std::string& p : got.sortedPaths()) names.push_back(p.substr(p.rfind('/') + 1));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a.kvo", "b.kvo", "c.kvo"}));
    EXPECT_EQ(got.seen[0].first.find("loop"), std::string::npos);

    // A second scan reads everything again.
    got.seen.clear();
    EXPECT_EQ(fs->scan(&got), 3);
}

TEST(FilesysScanner, ListedDirectoryIsAlwaysRead) {
    TempDir tmp;
    ASSERT_TRUE(tmp.ok());
    const std::string& t = tmp.path();
    makeTree(t, {"rec/sub"}, {"rec/sub/b.kvo"});
    uint16_t flags = 0;
    Delivered got;
    auto fs = scannerFor(&flags, got);
    ASSERT_NE(fs, nullptr);
    fs->addRecursiveDir((t + "/rec").c_str());
    fs->addNonRecursiveDir((t + "/rec/sub").c_str());
    fs->addNonRecursiveDir((t + "/missing").c_str());
    EXPECT_EQ(fs->scan(&got), 2);
    ASSERT_EQ(got.seen.size(), 2u);
    EXPECT_EQ(got.seen[0], std::make_pair(t + "/rec/sub/b.kvo", int{DBDIR_RECURSIVE}));
    EXPECT_EQ(got.seen[1], std::make_pair(t + "/rec/sub/b.kvo", int{DBDIR_NONRECURSIVE}));
}

TEST(FilesysScanner, VerboseTellsEachDirectoryRead) {
    LogCapture log;
    TempDir tmp;
    ASSERT_TRUE(tmp.ok());
    makeTree(tmp.path(), {"rec/sub"}, {});
    unsigned flags = kScanVerbose;  // an owner whose flags word is wider
    Delivered got;
    auto fs = scannerFor(&flags, got);
    ASSERT_NE(fs, nullptr);
    fs->addRecursiveDir(tmp.file("rec").c_str());
    EXPECT_EQ(fs->scan(&got), 0);
    EXPECT_EQ(log.count("Dbg.: scanDir " + tmp.file("rec")), 1);
    EXPECT_EQ(log.count("Dbg.: scanDir " + tmp.file("rec/sub")), 1);
    flags = 0;
    log.lines.clear();
    fs->scan(&got);
    EXPECT_TRUE(log.lines.empty());
}

}  // namespace
}  // namespace ruva

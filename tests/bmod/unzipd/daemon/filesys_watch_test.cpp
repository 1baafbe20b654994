// The watcher's checks and lines, and the parent's refresh from them, on a
// catalogue over a fixture folder with millisecond timings.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "bmod/unzipd/catalogue/filesys_scanner.h"
#include "bmod/unzipd/catalogue/zip_list.h"
#include "bmod/unzipd/daemon/uzd_main.h"
#include "bmod/unzipd/zip/zip_reader.h"
#include "tests/bmod/unzipd/catalogue/catalogue_fixture.h"
#include "tests/support/test_support.h"

namespace ruva {
namespace {

using test::cat::LibrarySpec;
using test::cat::LogCapture;

// Reads what is in a pipe without waiting.
std::string drain(int fd) {
    std::string got;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0) got.append(buf, static_cast<size_t>(n));
    return got;
}

class Watch : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.ok());
        lib = dir.file("lib");
        u.zipList = test::cat::newTestZipList();
        ASSERT_TRUE(u.zipList);
        ASSERT_TRUE(u.zipList->allocZipPool(0, 0, 0));
        FilesysScanner& s = *u.zipList->filesysScanner;
        s.addNonRecursiveDir(lib.c_str());
        s.addIncludePattern("*.khx");
        u.ruvaScanCount = 50;
        u.timings = WatchTimings{100, 5000, 200, 10, 100, 50};
        ASSERT_EQ(::pipe2(lines, O_NONBLOCK), 0);
    }
    void TearDown() override {
        ::close(lines[0]);
        ::close(lines[1]);
    }

    // Libraries in folder (the node's folder lib unless given), each with
    // members members: extraN.txt are added after the first.
    void makeLibs(const std::vector<std::string>& names, int members = 1, const std::string& folder = "") {
        const std::string& in = folder.empty() ? lib : folder;
        std::vector<LibrarySpec> specs;
        for (const std::string& n : names) specs.push_back({in + "/" + n, "Library " + n});
        ASSERT_TRUE(test::cat::makeLibraries(specs));
        for (int i = 1; i < members; ++i) {
            for (const std::string& n : names) {
                std::string cmd = "cd " + dir.path() + " && printf 'more %d' > extra" + std::to_string(i) +
                                  ".txt && zip -q -j -X " + in + "/" + n + " extra" + std::to_string(i) + ".txt";
                ASSERT_EQ(test::runShell(cmd), 0);
            }
        }
    }
    // Folders that no node holds: a recursive one and a writable one, as
    // RecursiveDir and AnnotationDb give them.
    void addOuterFolders() {
        rec = dir.file("rec");
        annot = dir.file("annot");
        FilesysScanner& s = *u.zipList->filesysScanner;
        s.addRecursiveDir(rec.c_str());
        s.addWritableNonRecursiveDir(annot.c_str());
        s.addIncludePattern("*.anx");
    }
    // Outer libraries scanned in, then one changed in place, one removed and
    // two new ones, one per folder. The changed one's hash id.
    int changeOuterLibraries() {
        addOuterFolders();
        makeLibs({"a.khx"});
        makeLibs({"sub/deep.khx"}, 1, rec);
        makeLibs({"old.anx"}, 1, annot);
        scanAll();
        ZipStructure* deep = u.zipList->findZipStructureByPath((rec + "/sub/deep.khx").c_str());
        EXPECT_NE(deep, nullptr);
        if (deep == nullptr) return -1;
        EXPECT_EQ(deep->MlSub, nullptr);
        int hd = deep->hashID;
        makeLibs({"sub/deep.khx"}, 2, rec);
        EXPECT_EQ(::unlink((annot + "/old.anx").c_str()), 0);
        makeLibs({"sub/new.khx"}, 1, rec);
        makeLibs({"new.anx"}, 1, annot);
        return hd;
    }
    void scanAll() {
        ASSERT_GE(u.zipList->scanFilesystem(), 0);
        u.rememberStructureTime();
    }
    ZipStructure* byName(const std::string& name) const {
        return u.zipList->findZipStructureByPath((lib + "/" + name).c_str());
    }
    // The next cycle's lines, as the scanner would send them.
    std::string cycle() {
        if (u.checkFullFilesystemChanges() != 1) return "";
        u.writeDataToParent(lines[1]);
        return drain(lines[0]);
    }

    test::TempDir dir;
    test::SetRemover remover{test::cat::languageKey()};
    std::string lib;
    std::string rec;
    std::string annot;
    UzdMain u;
    int lines[2] = {-1, -1};
};

TEST_F(Watch, SizeChangeDeletionAndNewFileGiveTheirLines) {
    makeLibs({"a.khx", "b.khx"});
    scanAll();
    int ha = byName("a.khx")->hashID;
    int hb = byName("b.khx")->hashID;
    makeLibs({"a.khx"}, 2);
    ASSERT_EQ(::unlink((lib + "/b.khx").c_str()), 0);
    makeLibs({"c.khx"});
    std::string got = cycle();
    int node = u.zipList->findMlNode(u.zipList->getMlRoot(), (lib + "/a.khx").c_str())->ID;
    char expect[2048];
    std::snprintf(expect, sizeof expect, "CH-FILE:|%s/a.khx|HASHID:|%d|MLID:|%d|\nRM-FILE:|%s/b.khx|HASHID:|%d|\n"
                  "AD-FILE:|%s/c.khx|MLID:|%d|\n",
                  lib.c_str(), ha, node, lib.c_str(), hb, lib.c_str(), node);
    EXPECT_EQ(got, expect);
    // The catalogue was not refreshed: the next check finds the changes again.
    EXPECT_EQ(u.checkFullFilesystemChanges(), 1);
    u.zipList->freeFileChangeInfoList();
    u.zipList->changeCount = 0;
}

TEST_F(Watch, LibrariesOutsideEveryNodeGiveTheirLines) {
    int hd = changeOuterLibraries();
    LogCapture log;
    // By base name for the catalogue, then recursive before writable folders
    // for the new files; an .anx holds no hash id.
    char expect[4096];
    std::snprintf(expect, sizeof expect,
                  "CH-FILE:|%s/sub/deep.khx|HASHID:|%d|MLID:|-1|\nRM-FILE:|%s/old.anx|HASHID:|0|\n"
                  "AD-FILE:|%s/sub/new.khx|MLID:|-1|\nAD-FILE:|%s/new.anx|MLID:|-1|\n",
                  rec.c_str(), hd, annot.c_str(), rec.c_str(), annot.c_str());
    EXPECT_EQ(cycle(), expect);
    EXPECT_FALSE(log.has("MLnode not found for'" + rec + "/sub/deep.khx'")) << log.all();
}

TEST_F(Watch, StructureFileTouchIsSentAlone) {
    makeLibs({"a.khx", "b.khx"});
    std::string conf = dir.file("structure.txt");
    test::writeFile(conf, test::cat::structureText({{"Top", "Top", "1", lib}}));
    ASSERT_TRUE(u.zipList->setMlConfFile(conf.c_str()));
    u.zipList->flags |= kCatalogueWatchStructure;
    scanAll();
    int hb = byName("b.khx")->hashID;
    struct utimbuf later = {::time(nullptr) + 100, ::time(nullptr) + 100};
    ASSERT_EQ(::utime(conf.c_str(), &later), 0);
    ASSERT_EQ(::unlink((lib + "/b.khx").c_str()), 0);
    EXPECT_EQ(cycle(), "FS-FILE:|" + conf + "|\n");
    char rm[1024];
    std::snprintf(rm, sizeof rm, "RM-FILE:|%s/b.khx|HASHID:|%d|\n", lib.c_str(), hb);
    EXPECT_EQ(cycle(), rm);
}

TEST_F(Watch, FileGrowingInTheStabilityWaitIsUnstable) {
    makeLibs({"a.khx"});
    scanAll();
    makeLibs({"grow.khx"});
    LogCapture log;
    ASSERT_EQ(u.checkFullFilesystemChanges(), 1);
    std::thread writer([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        FILE* f = std::fopen((lib + "/grow.khx").c_str(), "ab");
        std::fputs("more bytes", f);
        std::fclose(f);
    });
    int wrote = u.writeDataToParent(lines[1]);
    writer.join();
    EXPECT_EQ(wrote, 0);
    EXPECT_EQ(drain(lines[0]), "");
    int node = u.zipList->findMlNode(u.zipList->getMlRoot(), (lib + "/grow.khx").c_str())->ID;
    EXPECT_TRUE(log.has("FS: UNSTABLE file-AD-FILE:|" + lib + "/grow.khx|MLID:|" + std::to_string(node) + "|"))
        << log.all();
}

TEST_F(Watch, LibraryStatusFileListsAChangedLibrary) {
    makeLibs({"a.khx", "b.khx"});
    scanAll();
    ZipStructure* a = byName("a.khx");
    int node = u.zipList->findMlNode(u.zipList->getMlRoot(), a->zipName)->ID;
    char expect[1024];
    std::snprintf(expect, sizeof expect, "CH-FILE:|%s|HASHID:|%d|MLID:|%d|\n", a->zipName, a->hashID, node);
    u.libStatusFromPath = dir.file("status.txt");
    u.libStatusToPath = dir.file("libraryStatus.txt");
    test::writeFile(u.libStatusFromPath, lib + "/a.khx new members\n");
    EXPECT_EQ(cycle(), expect);
    // Moved, read whole, removed: no shell, nothing left behind.
    EXPECT_NE(::access(u.libStatusFromPath.c_str(), F_OK), 0);
    EXPECT_NE(::access(u.libStatusToPath.c_str(), F_OK), 0);
    EXPECT_EQ(cycle(), "");
}

TEST_F(Watch, PollCheckSeesChangesAndStableNewFiles) {
    makeLibs({"a.khx"});
    scanAll();
    EXPECT_EQ(u.checkFilesystemChanges(), 0);
    makeLibs({"b.khx"});
    EXPECT_EQ(u.checkFilesystemChanges(), 1);
    ASSERT_EQ(::unlink((lib + "/b.khx").c_str()), 0);
    ASSERT_EQ(::unlink((lib + "/a.khx").c_str()), 0);
    EXPECT_EQ(u.checkFilesystemChanges(), 1);
}

TEST_F(Watch, PathsThatWouldBreakALineAreNotReported) {
    makeLibs({"a.khx"});
    scanAll();
    makeLibs({"bar|x.khx", "new\nx.khx"});
    LogCapture log;
    EXPECT_EQ(cycle(), "");
    const std::string skipped = "Path skipped, it holds a control character, '\"' or '|': ";
    EXPECT_EQ(log.levelOf(skipped + lib + "/bar|x.khx"), kLogWarning);
    EXPECT_EQ(log.levelOf(skipped + lib + "/new?x.khx"), kLogWarning);
}

// Signals the scanner sends, written to a pipe so that a forked scanner
// reports them to the test.
int sinkFd = -1;
int recordSignal(void*, pid_t, int sig) {
    char c = static_cast<char>(sig);
    return ::write(sinkFd, &c, 1) == 1 ? 0 : -1;
}

TEST_F(Watch, FiftyNewFilesGiveOneFullScanRequest) {
    makeLibs({"a.khx"});
    scanAll();
    makeLibs({"n0.khx"});
    ASSERT_EQ(test::runShell("cd " + lib + " && for i in $(seq 1 50); do cp n0.khx n$i.khx; done"), 0);
    int sig[2];
    ASSERT_EQ(::pipe(sig), 0);
    sinkFd = sig[1];
    u.signalSink = recordSignal;
    test::Child scanner([this](const test::Link&) {
        u.watchParent = ::getppid();
        return u.filesysScanProcess(lines[1]);
    });
    ASSERT_TRUE(scanner.started());
    char got = 0;
    ASSERT_EQ(::read(sig[0], &got, 1), 1);
    EXPECT_EQ(got, SIGUSR1);
    ::kill(scanner.pid(), SIGHUP);  // the kill order
    EXPECT_EQ(scanner.finish(), 0);
    ::close(sig[1]);
    EXPECT_EQ(drain(sig[0]), "");  // one signal only
    EXPECT_EQ(drain(lines[0]), "");  // and no lines
    ::close(sig[0]);
}

class Refresh : public Watch {};

TEST_F(Refresh, ScriptedAndForgedLines) {
    makeLibs({"a.khx", "b.khx"});
    scanAll();
    ZipStructure* a = byName("a.khx");
    int ha = a->hashID;
    int hb = byName("b.khx")->hashID;
    int node = u.zipList->findMlNode(u.zipList->getMlRoot(), a->zipName)->ID;
    makeLibs({"c.khx"});
    makeLibs({"a.khx"}, 3);
    LogCapture log;
    auto line = [](const char* format, auto... args) {
        char buf[2048];
        std::snprintf(buf, sizeof buf, format, args...);
        return std::string(buf);
    };
    struct Row {
        std::string text;
        int result;
    };
    const std::string L = lib;
    std::vector<Row> rows = {
        {line("AD-FILE:|%s/c.khx|MLID:|%d|", L.c_str(), node), 'A'},
        {line("AD-FILE:|%s/b.khx|MLID:|%d|", L.c_str(), node), 'A'},            // already there: skipped
        {line("CH-FILE:|%s/b.khx|HASHID:|%d|MLID:|%d|", L.c_str(), ha, node), 'C'},  // slot holds a.khx
        {line("CH-FILE:|%s/a.khx|HASHID:|%d|MLID:|%d|", L.c_str(), ha, node), 'C'},
        {line("RM-FILE:|%s/b.khx|HASHID:|%d|", L.c_str(), 32767), 'R'},          // unknown id
        {line("RM-FILE:|%s/b.khx|HASHID:|0|", L.c_str()), 'R'},  // holds a slot: never found by path alone
        {line("AD-FILE:|%s/d.khx|MLID:|%d|", L.c_str(), 12345), 'A'},            // no such node
        {line("RM-FILE:|%s/b.khx|HASHID:|%d|", L.c_str(), hb), 'R'},
        {line("AD-FILE:|%s/x|y.khx|MLID:|%d|", L.c_str(), node), 'A'},           // cut at the bar: no file
        {"ZZ-FILE:|/nowhere|", 0},
        {"garbage", 0},
    };
    int counts[3] = {0, 0, 0};
    for (const Row& r : rows) EXPECT_EQ(u.applyPipeLine(r.text.c_str(), counts), r.result) << r.text;
    EXPECT_EQ(counts[0], 1);  // c added
    EXPECT_EQ(counts[1], 1);  // b removed
    EXPECT_EQ(counts[2], 1);  // a changed
    ASSERT_NE(byName("a.khx"), nullptr);
    EXPECT_EQ(byName("a.khx")->hashID, ha);
    EXPECT_EQ(byName("b.khx"), nullptr);
    ASSERT_NE(byName("c.khx"), nullptr);
    EXPECT_TRUE(log.has(line("Invalid hashID:%d or mlID:%d for Removing\n", ha, node))) << log.all();
    EXPECT_TRUE(log.has("Invalid hashID 32767 for Removing\n"));
    EXPECT_TRUE(log.has("Invalid hashID 0 for Removing\n"));
    EXPECT_TRUE(log.has("Invalid Node ID 12345"));
    EXPECT_TRUE(log.has("INVALID: ZZ-FILE:|/nowhere|"));
    EXPECT_TRUE(log.has("ADD FAIL: " + L + "/x"));
    // No pipe entry: nothing read, the tree is rebuilt, success.
    EXPECT_EQ(u.updateCache(), 1);
    EXPECT_EQ(test::cat::nodeLibraries(u.zipList->findMlNodeLabel(u.zipList->getMlRoot(), node)).size(), 2u);
}

TEST_F(Refresh, LibrariesOutsideEveryNodeFollowTheirFiles) {
    int hd = changeOuterLibraries();
    std::string sent = cycle();
    LogCapture log;
    int counts[3] = {0, 0, 0};
    for (size_t at = 0, end; (end = sent.find('\n', at)) != std::string::npos; at = end + 1)
        EXPECT_NE(u.applyPipeLine(sent.substr(at, end - at).c_str(), counts), 0);
    EXPECT_EQ(u.updateCache(), 1);
    EXPECT_EQ(counts[0], 2);
    EXPECT_EQ(counts[1], 1);
    EXPECT_EQ(counts[2], 1);
    ZipStructure* deep = u.zipList->findZipStructureByPath((rec + "/sub/deep.khx").c_str());
    ASSERT_NE(deep, nullptr);
    EXPECT_EQ(deep->hashID, hd);
    EXPECT_NE(deep->findCentralHeader("extra1.txt", nullptr), nullptr);
    EXPECT_EQ(u.zipList->findZipStructureByPath((annot + "/old.anx").c_str()), nullptr);
    EXPECT_NE(u.zipList->findZipStructureByPath((rec + "/sub/new.khx").c_str()), nullptr);
    ZipStructure* anx = u.zipList->findZipStructureByPath((annot + "/new.anx").c_str());
    ASSERT_NE(anx, nullptr);
    EXPECT_TRUE(anx->flags & kZipWritableDir);
    for (const std::string& t : log.texts) EXPECT_EQ(t.find("FAIL"), std::string::npos) << t;
    // Nothing is left to send: the scanner is not restarted for them again.
    EXPECT_EQ(cycle(), "");
}

TEST_F(Refresh, StructureFileLineReadsTheTreeAgainOrKeepsTheOld) {
    makeLibs({"a.khx"});
    std::string conf = dir.file("structure.txt");
    test::writeFile(conf, test::cat::structureText({{"Top", "Top", "1", lib}}));
    ASSERT_TRUE(u.zipList->setMlConfFile(conf.c_str()));
    scanAll();
    int counts[3] = {0, 0, 0};
    std::string line = "FS-FILE:|" + conf + "|";
    test::writeFile(conf, test::cat::structureText({{"Top", "Top", "1", lib}, {"Sub", "Sub", "2", lib + "/sub"}}));
    LogCapture log;
    EXPECT_EQ(u.applyPipeLine(line.c_str(), counts), 'F');
    EXPECT_TRUE(log.has("Reconfigured " + conf)) << log.all();
    MlZipStruct* root = u.zipList->getMlRoot();
    ASSERT_NE(root, nullptr);
    ASSERT_EQ(::unlink(conf.c_str()), 0);
    EXPECT_EQ(u.applyPipeLine(line.c_str(), counts), -1);
    EXPECT_TRUE(log.has("Attempting to proceed with last known good configuration"));
    EXPECT_EQ(u.zipList->getMlRoot(), root);
    EXPECT_NE(byName("a.khx"), nullptr);
}

TEST(ParseFSstring, FieldsAndMissingOnes) {
    std::string name;
    int h = 0, m = 0;
    ASSERT_TRUE(parseFSstring("CH-FILE:|/a/b.khx|HASHID:|12|MLID:|3|", &name, &h, &m));
    EXPECT_EQ(name, "/a/b.khx");
    EXPECT_EQ(h, 12);
    EXPECT_EQ(m, 3);
    ASSERT_TRUE(parseFSstring("RM-FILE:|/a/b.khx|HASHID:|7|", &name, &h, &m));
    EXPECT_EQ(h, 7);
    EXPECT_EQ(m, -1);
    EXPECT_FALSE(parseFSstring("RM-FILE:||", &name, &h, &m));
    EXPECT_FALSE(parseFSstring("nothing", &name, &h, &m));
}

TEST_F(Refresh, ChangedLibraryKeepsItsIdAndAFailedReopenPassesOn) {
    makeLibs({"a.khx", "b.khx", "c.khx"});
    scanAll();
    int ha = byName("a.khx")->hashID;
    makeLibs({"a.khx"}, 2);
    test::writeFile(lib + "/b.khx", "no library at all, and of another size");
    LogCapture log;
    EXPECT_EQ(u.checkChangedZipFiles(), 2);
    ASSERT_NE(byName("a.khx"), nullptr);
    EXPECT_EQ(byName("a.khx")->hashID, ha);
    EXPECT_EQ(byName("b.khx"), nullptr);
    EXPECT_NE(byName("c.khx"), nullptr);
    bool corrupt = false;
    for (const CorruptFile& c : u.zipList->corruptFiles) corrupt = corrupt || c.path == lib + "/b.khx";
    EXPECT_TRUE(corrupt);
    EXPECT_TRUE(log.has("Failed to refresh \"" + lib + "/b.khx\"")) << log.all();
    EXPECT_EQ(u.checkChangedZipFiles(), 0);
}

TEST_F(Refresh, FolderDroppedFromTheStructureFileTakesItsLibraries) {
    makeLibs({"a.khx", "sub/s1.khx", "sub/s2.khx"});
    test::writeFile(lib + "/sub/bad.khx", test::readFile(lib + "/a.khx").substr(0, 200));
    // Libraries that never had a node are no dropped folder's: they stay.
    addOuterFolders();
    makeLibs({"deep.khx"}, 1, rec);
    makeLibs({"w.khx"}, 1, annot);
    test::writeFile(rec + "/rbad.khx", test::readFile(lib + "/a.khx").substr(0, 200));
    std::string conf = dir.file("structure.txt");
    test::writeFile(conf, test::cat::structureText({{"Top", "Top", "1", lib}, {"Sub", "Sub", "2", lib + "/sub"}}));
    ASSERT_TRUE(u.zipList->setMlConfFile(conf.c_str()));
    scanAll();
    ASSERT_NE(byName("sub/s1.khx"), nullptr);
    ASSERT_EQ(u.zipList->corruptFiles.size(), 2u);
    int ha = byName("a.khx")->hashID;
    int counts[3] = {0, 0, 0};
    std::string line = "FS-FILE:|" + conf + "|";
    LogCapture log;
    // An emptied file reads no root: a failed read, nothing leaves.
    test::writeFile(conf, "");
    EXPECT_EQ(u.applyPipeLine(line.c_str(), counts), -1);
    EXPECT_NE(byName("sub/s1.khx"), nullptr);
    EXPECT_EQ(u.zipList->corruptFiles.size(), 2u);

    test::writeFile(conf, test::cat::structureText({{"Top", "Top", "1", lib}}));
    EXPECT_EQ(u.applyPipeLine(line.c_str(), counts), 'F');
    for (const char* gone : {"sub/s1.khx", "sub/s2.khx"}) {
        EXPECT_EQ(byName(gone), nullptr) << gone;
        EXPECT_EQ(log.levelOf("Remove '" + lib + "/" + gone + "' as MLnode removed"), kLogNotice) << log.all();
    }
    for (const std::string& kept : {rec + "/deep.khx", annot + "/w.khx"}) {
        EXPECT_NE(u.zipList->findZipStructureByPath(kept.c_str()), nullptr) << kept;
        EXPECT_FALSE(log.has("Remove '" + kept + "'")) << log.all();
    }
    ASSERT_EQ(u.zipList->corruptFiles.size(), 1u);
    EXPECT_EQ(u.zipList->corruptFiles[0].path, rec + "/rbad.khx");
    ASSERT_NE(byName("a.khx"), nullptr);
    EXPECT_EQ(byName("a.khx")->hashID, ha);
    // Later refreshes find every library of the tree a node, and the dropped
    // folder is no longer scanned.
    EXPECT_EQ(u.updateCache(), 1);
    EXPECT_EQ(u.rescanFilesystem(), 1);
    EXPECT_EQ(byName("sub/s1.khx"), nullptr);
    for (const std::string& t : log.texts) EXPECT_EQ(t.find("Failed to add '" + lib + "/"), std::string::npos) << t;
    EXPECT_EQ(test::cat::nodeLibraries(u.zipList->getMlRoot()), std::vector<std::string>{lib + "/a.khx"});
}

}  // namespace
}  // namespace ruva

// The pid file's rules and forwardFlags.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "bmod/unzipd/catalogue/filesys_scanner.h"
#include "bmod/unzipd/catalogue/zip_list.h"
#include "bmod/unzipd/daemon/daemon_start.h"
#include "bmod/unzipd/daemon/uzd_main.h"
#include "bmod/unzipd/server/network_server.h"
#include "bmod/unzipd/zip/zip_reader.h"
#include "tests/bmod/unzipd/catalogue/catalogue_fixture.h"
#include "tests/support/test_support.h"

namespace ruva {
namespace {

// A program name of this test process, so parallel runs never meet.
std::string progName(const char* tag) { return std::string("uzdtest_") + tag + "_" + std::to_string(::getpid()); }

class PidFile : public ::testing::Test {
protected:
    void TearDown() override {
        if (!u.pidfile.empty()) ::unlink(u.pidfile.c_str());
    }
    UzdMain u;
    test::TempDir dir;
};

TEST_F(PidFile, WrittenAndRemovedOnlyWhileItIsOurs) {
    std::string argv0 = "/some/where/" + progName("own");
    ASSERT_EQ(writePidFile(&u, argv0.c_str()), 1);
    EXPECT_EQ(u.pidfile, "/tmp/" + progName("own") + ".pid");
    EXPECT_EQ(test::readFile(u.pidfile), std::to_string(::getpid()) + "\n");
    struct stat st;
    ASSERT_EQ(::stat(u.pidfile.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    // Another daemon's pid: left alone.
    test::writeFile(u.pidfile, "1\n");
    removePidFile(&u);
    EXPECT_EQ(test::readFile(u.pidfile), "1\n");
    ASSERT_EQ(writePidFile(&u, argv0.c_str()), 1);
    removePidFile(&u);
    EXPECT_NE(::access(u.pidfile.c_str(), F_OK), 0);
}

TEST_F(PidFile, SymlinkAndFifoAreRefused) {
    std::string target = dir.file("target");
    test::writeFile(target, "keep");
    std::string name = progName("link");
    std::string path = "/tmp/" + name + ".pid";
    ASSERT_EQ(::symlink(target.c_str(), path.c_str()), 0);
    EXPECT_EQ(writePidFile(&u, name.c_str()), 0);
    EXPECT_EQ(test::readFile(target), "keep");
    ::unlink(path.c_str());
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    EXPECT_EQ(writePidFile(&u, name.c_str()), 0);  // neither blocks nor writes
    ::unlink(path.c_str());
    u.pidfile.clear();
}

TEST_F(PidFile, NameIsCutAtSixtyThreeCharacters) {
    std::string base = progName("long") + std::string(80, 'x');
    ASSERT_EQ(writePidFile(&u, base.c_str()), 1);
    EXPECT_EQ(u.pidfile.size(), 63u);
    EXPECT_EQ(u.pidfile, ("/tmp/" + base + ".pid").substr(0, 63));
}

TEST(ForwardFlags, SetsBitsAndKeepsTheWritableMark) {
    test::TempDir dir;
    test::SetRemover remover{test::cat::languageKey()};
    std::string wr = dir.file("wr");
    ASSERT_TRUE(test::cat::makeLibraries({{wr + "/a.khx", "Library a"}}));
    UzdMain u;
    u.zipList = test::cat::newTestZipList();
    ASSERT_TRUE(u.zipList->allocZipPool(0, 0, 0));
    FilesysScanner& s = *u.zipList->filesysScanner;
    ASSERT_EQ(::mkdir(dir.file("plain").c_str(), 0755), 0);
    s.addNonRecursiveDir(dir.file("plain").c_str());
    s.addWritableNonRecursiveDir(wr.c_str());
    s.addIncludePattern("*.khx");
    ASSERT_EQ(u.zipList->scanFilesystem(), 1);
    u.networkServer = newNetworkServer(&u, 0, 0);
    ASSERT_TRUE(u.networkServer);
    ZipStructure* zs = u.zipList->getFirstZipStructure();
    ASSERT_NE(zs, nullptr);
    ASSERT_TRUE(zs->flags & kZipWritableDir);
    zs->flags |= kZipIndexBuilder;
    u.forwardFlags(kZipFoldNames | kZipVerbose | kCatalogueDebug);
    EXPECT_EQ(zs->flags & (kZipFoldNames | kZipVerbose | kCatalogueDebug | kZipWritableDir | kZipIndexBuilder),
              kZipFoldNames | kZipVerbose | kCatalogueDebug | kZipWritableDir | kZipIndexBuilder);
    EXPECT_TRUE(u.networkServer->flags & kNsVerbose);
    EXPECT_TRUE(u.networkServer->flags & kNsDebug);
    // Never cleared by a later call without them.
    u.forwardFlags(0);
    EXPECT_TRUE(zs->flags & kZipVerbose);
    EXPECT_TRUE(u.networkServer->flags & kNsVerbose);
}

}  // namespace
}  // namespace ruva

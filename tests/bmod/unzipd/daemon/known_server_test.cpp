#include "bmod/unzipd/daemon/known_server.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "tests/bmod/unzipd/daemon/daemon_fixture.h"
#include "tests/support/test_support.h"

namespace ruva {
namespace {

using test::LogCapture;

in_addr_t addr(const char* dotted) {
    return inet_addr(dotted);
}

const char kHeader[] =
    "# List of known servers, written by ruvadaemon.\n"
    "# Automatically maintained, not designed for manual editing.\n"
    "# iaddr(ulong) port(int) lastUpdate(time_t) comment(string)\n";

int filesIn(const std::string& dir) {
    int n = 0;
    DIR* d = opendir(dir.c_str());
    while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
    closedir(d);
    return n;
}

TEST(KnownServer, WritesTheCacheByteForByte) {
    test::TempDir dir;
    auto ks = newKnownServer(0);
    int added = 0;
    ASSERT_NE(ks->add(addr("10.0.0.1"), 9229, "a b", &added), nullptr);
    EXPECT_EQ(added, 1);
    ASSERT_NE(ks->add(addr("10.0.0.2"), 1, nullptr, nullptr), nullptr);
    const time_t t = 1700000000;
    for (auto& e : ks->entries) e.lastUpdate = t;
    std::string path = dir.file("ruvaknown.cache");
    ASSERT_EQ(ks->write(path.c_str()), 1);

    // The address words as python works them out, independently.
    std::string words = test::capture(
        "python3 -c \"import socket,struct;"
        "print(*[struct.unpack('<I', socket.inet_aton(a))[0] for a in ('10.0.0.1','10.0.0.2')])\"");
    ASSERT_EQ(words, "16777226 33554442\n");
    std::string expected = std::string(kHeader) + "16777226 9229 1700000000 \"a b\"\n33554442 1 1700000000 \n";
    EXPECT_EQ(test::readFile(path), expected);
    EXPECT_EQ(filesIn(dir.path()), 1) << "no temporary file stays";

    auto back = newKnownServer(0);
    ASSERT_EQ(back->read(path.c_str()), 1);
    ASSERT_EQ(back->entries.size(), 2u);
    auto it = back->entries.begin();
    EXPECT_EQ(it->iaddr, addr("10.0.0.1"));
    EXPECT_EQ(it->port, 9229);
    EXPECT_EQ(it->lastUpdate, t);
    EXPECT_EQ(it->comment, "a b");
    ++it;
    EXPECT_EQ(it->port, 1);
    EXPECT_FALSE(it->comment.has_value());
}

TEST(KnownServer, CommentsRoundTrip) {
    struct Case {
        const char* comment;
        const char* readBack;
    } cases[] = {
        {"plain", "plain"},
        {"", ""},
        {"say \"hi\"", "say \"hi\""},
        {"two\nlines", "two lines"},
        {"ends in \\", "ends in \\ "},
        {"back\\\"slash", "back\\\"slash"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.comment);
        test::TempDir dir;
        auto ks = newKnownServer(0);
        ks->add(addr("10.1.2.3"), 80, c.comment, nullptr);
        ks->add(addr("10.1.2.4"), 81, "next", nullptr);
        std::string path = dir.file("c");
        ASSERT_EQ(ks->write(path.c_str()), 1);
        auto back = newKnownServer(0);
        ASSERT_EQ(back->read(path.c_str()), 1);
        ASSERT_EQ(back->entries.size(), 2u);
        EXPECT_EQ(back->entries.front().comment, c.readBack);
        EXPECT_EQ(back->entries.back().comment, "next");
    }
}

TEST(KnownServer, LongCommentIsCutAndTheListIsBounded) {
    auto ks = newKnownServer(0);
    std::string longComment(300, 'c');
    KnownServEntry* e = ks->add(addr("10.0.0.1"), 1, longComment.c_str(), nullptr);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->comment, std::string(255, 'c'));
    for (int i = 1; i < 1024; ++i) ASSERT_NE(ks->add(addr("10.0.0.1"), 1 + i, nullptr, nullptr), nullptr);
    LogCapture log;
    int added = 0;
    EXPECT_EQ(ks->add(addr("10.9.8.7"), 5, nullptr, &added), nullptr);
    EXPECT_EQ(added, 0);
    EXPECT_TRUE(log.has("Warn: Too many known servers, 10.9.8.7:5 not added")) << log.all();
    // A known one still answers.
    EXPECT_NE(ks->add(addr("10.0.0.1"), 1, nullptr, nullptr), nullptr);
}

TEST(KnownServer, AddFindsExistingAndRefusesItself) {
    auto ks = newKnownServer(0);
    ks->setLocalAddr(addr("127.0.0.1"), 9229);
    EXPECT_EQ(ks->add(addr("127.0.0.1"), 9229, nullptr, nullptr), nullptr);
    int added = 0;
    KnownServEntry* e = ks->add(addr("127.0.0.1"), 9230, "x", &added);
    ASSERT_NE(e, nullptr);
    e->lastUpdate = 5;
    added = 0;
    EXPECT_EQ(ks->add(addr("127.0.0.1"), 9230, "y", &added), e);
    EXPECT_EQ(added, 0);
    EXPECT_GT(e->lastUpdate, 5);
    EXPECT_EQ(ks->remove(addr("127.0.0.1"), 9230), 1);
    EXPECT_EQ(ks->remove(addr("127.0.0.1"), 9230), 0);
    EXPECT_TRUE(ks->entries.empty());
}

TEST(KnownServer, ExpireGivesTheFirstEntryAWeekOld) {
    auto ks = newKnownServer(0);
    time_t now = time(nullptr);
    ks->add(addr("10.0.0.1"), 1, nullptr, nullptr)->lastUpdate = now - 604799 + 60;
    EXPECT_EQ(ks->expire(), nullptr);
    ks->add(addr("10.0.0.2"), 2, nullptr, nullptr)->lastUpdate = now - 604800;
    KnownServEntry* e = ks->expire();
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->port, 2);
    ks->remove(e->iaddr, e->port);
    EXPECT_EQ(ks->expire(), nullptr);
}

TEST(KnownServer, ReadSkipsBadLines) {
    test::TempDir dir;
    std::string path = dir.file("c");
    test::writeFile(path, std::string(kHeader) +
                              "16777226 0 5\n"             // port 0
                              "16777226 70000 5\n"         // port too big
                              "#\n"
                              "16777226 80\n"              // two tokens
                              "x 1 2\n"
                              "4294967296 1 2\n"           // address too big
                              "16777226 -1 2\n"
                              "16777226 1 -2\n"
                              "16777226 2 " + std::string(5000, '9') + "\n" +
                              "16777226 3 7 " + std::string(5000, 'c') + "\n" +
                              "16777226 4 0 ok\n"
                              "16777226 4 9 again\n"       // the last time wins
                              "33554442 5 6");             // no final LF
    auto ks = newKnownServer(0);
    ASSERT_EQ(ks->read(path.c_str()), 1);
    ASSERT_EQ(ks->entries.size(), 2u);
    EXPECT_EQ(ks->entries.front().port, 4);
    EXPECT_EQ(ks->entries.front().lastUpdate, 9);
    EXPECT_EQ(ks->entries.front().comment, "ok");
    EXPECT_EQ(ks->entries.back().port, 5);
    EXPECT_EQ(ks->entries.back().lastUpdate, 6);
}

TEST(KnownServer, EntryReadWithTimeZeroExpires) {
    test::TempDir dir;
    std::string path = dir.file("c");
    test::writeFile(path, "16777343 9229 0\n");
    auto ks = newKnownServer(0);
    ASSERT_EQ(ks->read(path.c_str()), 1);
    ASSERT_NE(ks->expire(), nullptr);
    EXPECT_EQ(ks->expire()->iaddr, addr("127.0.0.1"));
}

TEST(KnownServer, SymlinksAreNeitherFollowedNorWrittenThrough) {
    test::TempDir dir;
    std::string target = dir.file("target");
    test::writeFile(target, "16777226 1 2\n");
    std::string path = dir.file("ruvaknown.cache");
    ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0);

    auto ks = newKnownServer(0);
    EXPECT_EQ(ks->read(path.c_str()), 0);
    EXPECT_TRUE(ks->entries.empty());

    std::string fifo = dir.file("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    LogCapture log;
    int fd = open(fifo.c_str(), O_RDWR);  // so that opening for reading does not block
    EXPECT_EQ(ks->read(fifo.c_str()), 0);
    close(fd);
    EXPECT_TRUE(log.has("Warn: Cache file " + fifo + " is not a regular file")) << log.all();

    ks->add(addr("10.0.0.3"), 3, nullptr, nullptr);
    ASSERT_EQ(ks->write(path.c_str()), 1);
    struct stat st;
    ASSERT_EQ(lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(test::readFile(target), "16777226 1 2\n");
    EXPECT_EQ(filesIn(dir.path()), 3);
}

TEST(KnownServer, FailedWriteLeavesNothing) {
    test::TempDir dir;
    auto ks = newKnownServer(0);
    ks->add(addr("10.0.0.3"), 3, nullptr, nullptr);
    EXPECT_EQ(ks->write(dir.file("missing/c").c_str()), 0);
    // A folder in the way of the rename.
    ASSERT_EQ(mkdir(dir.file("d").c_str(), 0700), 0);
    test::writeFile(dir.file("d/x"), "x");
    EXPECT_EQ(ks->write(dir.file("d").c_str()), 0);
    EXPECT_EQ(filesIn(dir.path()), 1);
    EXPECT_EQ(ks->read(dir.file("missing/c").c_str()), 0);
}

}  // namespace
}  // namespace ruva

// UPDFILE, RMFILE and USER on an annotation folder made at test time:
// results checked with Info-ZIP unzip, hostile uploads with cmp and the
// folder listings.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "bmod/unzipd/daemon/config.h"
#include "bmod/unzipd/daemon/uzd_error.h"
#include "bmod/unzipd/daemon/zupd_mutex.h"
#include "tests/bmod/unzipd/server/library_fixture.h"

namespace ruva {
namespace {

using test::capture;
using test::readFile;
using test::readLine;
using test::runShell;
using test::sendText;
using test::shellQuote;

const std::string kEnd = "200-UPDFILE END\n";
const std::string kMember = "1551-ABC10101Uen.A.3";

class Update : public test::LibrarySession {
protected:
    void addLibraries() override {
        annotDir = dir.file("annot");
        ASSERT_EQ(runShell("mkdir -p " + shellQuote(annotDir) + " && cd " + shellQuote(annotDir) +
                           " && printf old > note.txt && zip -q -X annot.anx note.txt && rm note.txt"),
                  0);
        // A port of the test's own keys the update lock apart from others.
        int port = 20000 + getpid() % 20000;
        std::string conf = dir.file("ruvadaemon.conf");
        test::writeFile(conf, "AnnotationDb " + annotDir + "\nWellKnownPort " + std::to_string(port) + "\n");
        uzd.config = newConfig(conf.c_str());
        ASSERT_TRUE(uzd.config);
        uzd.config->registerConfigTypes(uzdConfigRegister);
        ASSERT_GT(uzd.config->readConfig(), 0);
        lockKey = zupdMutexKey(uzd.config.get());
    }
    void configureScanner(ZipList* zl) override {
        zl->filesysScanner->addWritableNonRecursiveDir(annotDir.c_str());
        zl->filesysScanner->addIncludePattern("*.anx");
    }
    void TearDown() override {
        test::LibrarySession::TearDown();
        if (lockKey != 0) test::removeSemaphoreSet(lockKey);
    }
    // Entries without "." and "..": the folder's own time moves whenever an
    // upload's private folder comes and goes, and ls shows it to the minute.
    std::string listing(const std::string& folder) { return capture("ls -lA " + shellQuote(folder) + " | tail -n +2"); }
    std::string annot() const { return annotDir + "/annot.anx"; }
    std::string unzipP(const std::string& lib, const std::string& member) {
        return capture("unzip -p " + shellQuote(lib) + " " + shellQuote(member));
    }

    std::string annotDir;
    key_t lockKey = 0;
};

TEST_F(Update, SendTimingsGiveTheSameArchive) {
    const std::string data = std::string("upload\0data\r\n", 13) + std::string(70000, 'x');
    const std::string line = "UPDFILE annot.anx " + kMember + " " + std::to_string(data.size());
    struct Case {
        const char* name;
        std::vector<std::string> writes;
    };
    const Case cases[] = {
        {"one write", {line + "\n" + data + kEnd}},
        {"data in pieces", {line + "\n", data.substr(0, 10), data.substr(10, 40000), data.substr(40010) + kEnd}},
        {"end line split", {line + "\n" + data + kEnd.substr(0, 5), kEnd.substr(5)}},
        {"CR, then LF with the data", {line + "\r", "\n" + data + kEnd}},
    };
    startAndGreet();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const std::string& w : c.writes) {
            ASSERT_TRUE(sendText(sv[1], w));
            usleep(20 * 1000);
        }
        EXPECT_EQ(readLine(sv[1]), "200-UPDFILE executed.");
        EXPECT_EQ(runShell("unzip -tq " + shellQuote(annot()) + " >/dev/null"), 0);
        EXPECT_EQ(unzipP(annot(), kMember), data);
        EXPECT_EQ(unzipP(annot(), "note.txt"), "old");
        // In step: no stray line waits.
        EXPECT_EQ(ask("VER\n"), "200 Version: " + test::serverIdentity());
    }
    EXPECT_EQ(listing(annotDir).find("._upd"), std::string::npos);
    // A second save within the same second replaces the first.
    EXPECT_EQ(ask("UPDFILE annot.anx " + kMember + " 3\nxyz" + kEnd), "200-UPDFILE executed.");
    EXPECT_EQ(ask("UPDFILE annot.anx " + kMember + " 3\nuvw" + kEnd), "200-UPDFILE executed.");
    EXPECT_EQ(ask("VER\n"), "200 Version: " + test::serverIdentity());
    EXPECT_EQ(unzipP(annot(), kMember), "uvw");
}

TEST_F(Update, NewLibraryIsWorldWritableAndRmfileRemoves) {
    startAndGreet();
    EXPECT_EQ(ask("UPDFILE new.anx " + kMember + " 3\nabc" + kEnd), "200-UPDFILE executed.");
    // The mode is set after the answer: the next answer comes after it.
    EXPECT_EQ(ask("VER\n"), "200 Version: " + test::serverIdentity());
    struct stat st;
    ASSERT_EQ(stat((annotDir + "/new.anx").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0666u);
    EXPECT_EQ(unzipP(annotDir + "/new.anx", kMember), "abc");
    EXPECT_EQ(runShell("python3 " + shellQuote(RUVA_ZIP_WALKER) + " " + shellQuote(annotDir + "/new.anx") + " " +
                       kMember + " >/dev/null"),
              0);

    std::string before = readFile(annot());
    EXPECT_EQ(ask("RMFILE annot.anx -h\n"), "500-Zip Error in RMFILE, Nothing to do! (" + annot() + ")");
    EXPECT_EQ(readFile(annot()), before);
    EXPECT_EQ(ask("RMFILE annot.anx note.txt\n"), "200-RMFILE executed.");
    EXPECT_NE(runShell("unzip -l " + shellQuote(annot()) + " | grep -q note.txt"), 0);
    EXPECT_EQ(ask("RMFILE lib.kvo a.html\n"),
              "500-Database is not in a writable directory, cannot remove '" + libDir + "/lib.kvo'");
    EXPECT_EQ(ask("RMFILE none.anx x\n"), "500-Cannot remove database, file does not exist 'none.anx'");
    EXPECT_EQ(ask("RMFILE annot.anx\n"), "400-Syntax error in RMFILE command. Try HELP RMFILE");
}

TEST_F(Update, HostileUploadsChangeNothing) {
    std::string tmpName = "/tmp/ruva-upd-" + std::to_string(getpid());
    struct Case {
        std::string line;   // the command line
        std::string data;   // what follows it
        std::string first;  // the answer
        bool closes;
    };
    const std::string notAllowed = "500-ZIP file update not allowed by server";
    const std::string tempFile = "500-Could not open temporary file";
    const Case cases[] = {
        {"UPDFILE annot.anx ../x 3", "abc" + kEnd, tempFile, false},
        {"UPDFILE annot.anx " + tmpName + " 3", "abc" + kEnd, tempFile, false},
        {"UPDFILE annot.anx a/b 3", "abc" + kEnd, tempFile, false},
        {"UPDFILE annot.anx . 3", "abc" + kEnd, tempFile, false},
        {"UPDFILE annot.anx .. 3", "abc" + kEnd, tempFile, false},
        {"UPDFILE annot.anx 'a b' 3", "abc" + kEnd, tempFile, false},
        {"UPDFILE annot.anx '\"q\"' 3", "abc" + kEnd, tempFile, false},
        {"UPDFILE annot.anx * 3", "abc" + kEnd, tempFile, false},
        {"UPDFILE ../lib/x.kvo m 3", "abc" + kEnd, notAllowed, false},
        {"UPDFILE x m 3", "abc" + kEnd, notAllowed, false},
        {"UPDFILE q*.anx m 3", "abc" + kEnd, notAllowed, false},
        {"UPDFILE annot.anx m 0", "", "500-File contained no data 'm'", true},
        {"UPDFILE annot.anx m -5", "", "500-File contained no data 'm'", true},
        {"UPDFILE annot.anx m abc", "", "500-File contained no data 'm'", true},
        {"UPDFILE annot.anx m 99999999999999999999", "", "500-File contained no data 'm'", true},
        {"UPDFILE annot.anx m 2147483648", "", "500-File contained no data 'm'", true},
        {"UPDFILE annot.anx m", "", "400-Syntax error in UPDFILE command. Try HELP UPDFILE", true},
        {"UPDFILE annot.anx m 3", "abc200-UPDFILE END!", "500-System error, failed to terminate UPDFILE", true},
        {"UPDFILE lib.kvo m 4", "VER\n" + kEnd, "500-ZIP database may not be modified '" + libDir + "/lib.kvo'",
         false},
    };
    std::string annotBefore = readFile(annot()), libBefore = readFile(libDir + "/lib.kvo");
    std::string annotList = listing(annotDir), libList = listing(libDir);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        newSession();
        startAndGreet();
        ASSERT_TRUE(sendText(sv[1], c.line + "\n" + c.data));
        EXPECT_EQ(readLine(sv[1]), c.first);
        if (c.closes) {
            EXPECT_EQ(readLine(sv[1]), "<EOF>");
        } else {
            EXPECT_EQ(ask("VER\n"), "200 Version: " + test::serverIdentity());
        }
        EXPECT_EQ(readFile(annot()), annotBefore);
        EXPECT_EQ(readFile(libDir + "/lib.kvo"), libBefore);
        EXPECT_EQ(listing(annotDir), annotList);
        EXPECT_EQ(listing(libDir), libList);
        EXPECT_EQ(access(tmpName.c_str(), F_OK), -1);
    }
}

// The verbose trace shows upload bytes on one log line each: blank '@',
// LF '$', NUL '#', other unprintable bytes '.'.
TEST_F(Update, VerboseTraceKeepsEachUploadLineWhole) {
    ns->flags |= kNsVerbose;
    auto shown = [](std::string bytes) {
        for (char& c : bytes)
            c = c == ' ' ? '@' : c == '\n' ? '$' : c == '\0' ? '#' : c < '!' || c > '~' ? '.' : c;
        return bytes;
    };
    auto dataLines = [this] {
        std::vector<std::string> out;
        for (const std::string& l : log.lines)
            if (test::LogCapture::tail(l).compare(0, 11, "Dbg.: data=") == 0)
                out.push_back(test::LogCapture::tail(l));
        return out;
    };
    // Bytes that came with the command line are the rest data.
    startAndGreet();
    ASSERT_TRUE(
        sendText(sv[1], "UPDFILE annot.anx " + kMember + " 7\n" + std::string("a b\n\0\x01\xff", 7) + kEnd));
    EXPECT_EQ(readLine(sv[1]), "200-UPDFILE executed.");
    endSession();
    EXPECT_TRUE(log.has("Dbg.: restdata=[a@b$#..200-UPDFILE@END$] restcnt=23")) << log.all();
    EXPECT_EQ(dataLines().size(), 0u);
    EXPECT_EQ(unzipP(annot(), kMember), std::string("a b\n\0\x01\xff", 7));

    // Over 200 bytes of rest data are not shown; each socket read is, cut to
    // fit, its count kept. The reads end where the stream ends.
    log.lines.clear();
    newSession();
    startAndGreet();
    std::string data;
    for (int i = 0; i < 300000; ++i) data += static_cast<char>(i % 251);
    ASSERT_TRUE(sendText(
        sv[1], "UPDFILE annot.anx " + kMember + " " + std::to_string(data.size()) + "\n" + data + kEnd));
    EXPECT_EQ(readLine(sv[1]), "200-UPDFILE executed.");
    endSession();
    EXPECT_TRUE(log.has("Dbg.: Annotations: Too much data to trace"));
    const std::string stream = data + kEnd;
    size_t end = stream.size();
    std::vector<std::string> lines = dataLines();
    ASSERT_FALSE(lines.empty());
    for (auto l = lines.rbegin(); l != lines.rend(); ++l) {
        SCOPED_TRACE(*l);
        size_t cntAt = l->rfind("] cnt=");
        ASSERT_NE(cntAt, std::string::npos);
        size_t cnt = std::stoul(l->substr(cntAt + 6));
        ASSERT_LE(cnt, end);
        std::string text = l->substr(11 + 1, cntAt - 12);
        EXPECT_LE(l->size() - 6, kLogObjectTextMax);
        EXPECT_FALSE(text.empty());
        EXPECT_EQ(text, shown(stream.substr(end - cnt, text.size())));
        end -= cnt;
    }
    EXPECT_GT(end, 200u);  // what came with the command line
}

TEST_F(Update, UserProfileOnce) {
    startAndGreet();
    EXPECT_EQ(ask("USER u\n"), "500-LDAP support not compiled into this version");
    EXPECT_EQ(ask("USER u 1 \"3|4\"\n"), "200-User profile successfuly set");
    EXPECT_EQ(ask("USER u 1\n"), "500-User profile already exists");
}

}  // namespace
}  // namespace ruva

// The retrieval commands over a scripted peer: the bytes they bring, the
// files they leave, and that the session stays in step however a reply
// ends.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "bmod/ruvaserv/client/uzsession.h"
#include "bmod/ruvaserv/client/uzsession_retrieval.h"
#include "common/html_escape.h"
#include "common/string_format.h"
#include "tests/bmod/ruvaserv/client/session_wire_support.h"
#include "tests/support/scripted_peer.h"

using namespace std::string_literals;

namespace ruva {
namespace {

using std::chrono::milliseconds;
using test::PeerScript;
using test::ScriptedPeer;
namespace fs = std::filesystem;

constexpr const char* kGreeting = "200 UZD ruvadaemon \"CXA 113 01\" R19K \"Test server\"\n";
constexpr const char* kVerReply = "200 Version: ruvadaemon \"CXA 113 01\" R19K \"Test server\"\n";
constexpr const char* kRetrEnd = "200-RETR executed.\n";

// Greets, answers the first command line with reply, then VER, then closes.
PeerScript answeringThenVer(const std::string& reply) {
    return PeerScript().send(kGreeting).awaitLine().send(reply).awaitLine().send(kVerReply).close();
}
// Greets and answers VER: the connection a session makes after it
// disconnected.
PeerScript verOnly() {
    return PeerScript().send(kGreeting).awaitLine().send(kVerReply).close();
}
// Greets, answers the first command line with reply and never more.
PeerScript answering(const std::string& reply) {
    return PeerScript().send(kGreeting).awaitLine().send(reply).silence();
}

// A member as the server frames it: length line, bytes, CRC line.
std::string member(const std::string& name, const std::string& bytes, unsigned long crc = 0x1234abcd) {
    return format("300-Length %zu \"guide.kvo\" \"%s\" \"0\"\n", bytes.size(), name.c_str()) + bytes +
           format("300-CRC 0x%lx\n", crc);
}

// Bytes a line reader must never take for lines: NUL, LF, CR, CR LF.
std::string binary(size_t n, unsigned seed) {
    std::string bytes(n, '\0');
    for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<char>((i * 131 + seed) % 256);
    if (n > 8) bytes.replace(1, 6, "\r\n\0\n\r\0"s);
    return bytes;
}

using test::firstLine;
using test::sessionTo;

std::string fileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> namesIn(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void expectInStep(UzSession& s) {
    auto v = s.ver();
    ASSERT_NE(v, nullptr) << s.getError();
    EXPECT_EQ(v->resultCode, 200);
}

// Short waits, and a scratch directory for the files RETR and GET write.
class RetrievalWire : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = uzWaits();
        UzWaits waits = saved_;
        waits.retr = std::chrono::seconds(2);
        waits.retrMainPage = std::chrono::seconds(2);
        waits.settle = std::chrono::seconds(0);
        waits.get = std::chrono::seconds(2);
        waits.idretr = std::chrono::seconds(2);
        setUzWaits(waits);
        std::string tmpl = (fs::temp_directory_path() / "retrwireXXXXXX").string();
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override {
        setUzWaits(saved_);
        fs::remove_all(dir_);
    }

    UzWaits saved_;
    fs::path dir_;
};

TEST_F(RetrievalWire, RetrMemTakesTheFirstMemberAndDrainsTheRest) {
    const std::string first = binary(3000, 1);
    ScriptedPeer peer({answeringThenVer(member("a.bin", first, 0xa) + member("b.bin", binary(20000, 2), 0xb) +
                                        member("c.bin", binary(5, 3), 0xc) + kRetrEnd)});
    ASSERT_TRUE(peer.ok());
    auto s = sessionTo(peer);
    std::string data = "left over";
    auto r = s->retrMem("guide.kvo", "*.bin", data);
    ASSERT_NE(r, nullptr) << s->getError();
    EXPECT_EQ(r->resultCode, 200);
    EXPECT_EQ(data, first);
    EXPECT_EQ(s->getFileDataLength(), first.size());
    const UzRetrEntry* e = r->retr();
    ASSERT_TRUE(e->filled());
    EXPECT_EQ(*e->database, "guide.kvo");
    EXPECT_EQ(e->filename, "a.bin");
    EXPECT_EQ(e->size, first.size());
    EXPECT_EQ(e->crc, 0xaul);
    EXPECT_EQ(e->success, 1);
    EXPECT_EQ(e->next, nullptr);
    expectInStep(*s);
    EXPECT_EQ(peer.connections(), 1u);
    s.reset();
    peer.stop();
    EXPECT_EQ(firstLine(peer), "RETR \"guide.kvo\" *.bin\n");
}

TEST_F(RetrievalWire, RetrMemReadsAMemberArrivingInPieces) {
    const std::string bytes = binary(200000, 7);
    const std::string head = format("300-Length %zu \"guide.kvo\" \"big.bin\" \"0\"\n", bytes.size());
    PeerScript script = PeerScript().send(kGreeting).awaitLine().send(head + bytes.substr(0, 10));
    for (size_t at = 10; at < bytes.size(); at += 65536) {
        script.delay(milliseconds(20)).send(bytes.substr(at, 65536));
    }
    script.send("300-CRC 0x1\n"s + kRetrEnd).awaitLine().send(kVerReply).close();
    ScriptedPeer peer({script});
    ASSERT_TRUE(peer.ok());
    auto s = sessionTo(peer);
    std::string data;
    auto r = s->retrMem("guide.kvo", "big.bin", data);
    ASSERT_NE(r, nullptr) << s->getError();
    EXPECT_EQ(r->resultCode, 200);
    EXPECT_TRUE(data == bytes);
    expectInStep(*s);
}

TEST_F(RetrievalWire, ShortPayloadFailsAndDisconnects) {
    // Ten million bytes announced, ten sent: nothing is taken as complete
    // and nothing is reserved beyond the cap.
    ScriptedPeer peer({PeerScript()
                           .send(kGreeting)
                           .awaitLine()
                           .send("300-Length 10000000 \"guide.kvo\" \"m.pdf\" \"0\"\n0123456789")
                           .close(),
                       verOnly()});
    ASSERT_TRUE(peer.ok());
    auto s = sessionTo(peer);
    std::string data;
    auto r = s->retrMem("guide.kvo", "m.pdf", data);
    ASSERT_NE(r, nullptr) << s->getError();
    EXPECT_EQ(r->resultCode, 500);
    EXPECT_EQ(r->resultMessage, getMsgStr(460, "uzsession/61"));
    EXPECT_EQ(r->retr()->success, 0);
    EXPECT_EQ(data, "0123456789");
    EXPECT_EQ(s->getFileDataLength(), 10u);
    EXPECT_EQ(s->flags & kSessConnected, 0);
}

// Room for what the reply announces, with guard bytes past it that no
// write may reach; refuses when told to.
class RecordingSink : public UzMemberSink {
public:
    explicit RecordingSink(bool refuse = false) : refuse_(refuse) {}
    char* room(size_t size) override {
        ++calls;
        asked = size;
        if (refuse_) return nullptr;
        buf_.assign(size + kGuard, '\x5a');
        return buf_.data();
    }
    std::string bytes() const { return buf_.substr(0, asked); }
    bool guardIntact() const { return buf_.size() < kGuard || buf_.substr(asked) == std::string(kGuard, '\x5a'); }
    int calls = 0;
    size_t asked = 0;

private:
    static constexpr size_t kGuard = 64;
    bool refuse_;
    std::string buf_;
};

TEST_F(RetrievalWire, RetrMemIntoASinkTakesExactlyTheFirstMember) {
    const std::string big = binary(200000, 8);
    const std::string head = format("300-Length %zu \"guide.kvo\" \"big.bin\" \"0\"\n", big.size());
    // In pieces, so that reads land at offsets inside the room.
    PeerScript pieces = PeerScript().send(kGreeting).awaitLine().send(head + big.substr(0, 10));
    for (size_t at = 10; at < big.size(); at += 65536) pieces.delay(milliseconds(5)).send(big.substr(at, 65536));
    pieces.send("300-CRC 0x1\n" + member("next.bin", binary(3000, 9)) + kRetrEnd).awaitLine().send(kVerReply).close();
    const struct {
        const char* name;
        PeerScript script;
        bool refuse;
        int code;
        std::string message;
        std::string bytes;  // in the room after a success
        bool connected;
    } cases[] = {
        {"in pieces, the next member drained", pieces, false, 200, "RETR executed.", big, true},
        {"empty member", answeringThenVer(member("e.txt", "") + kRetrEnd), false, 200, "RETR executed.", "", true},
        {"short payload", PeerScript().send(kGreeting).awaitLine().send("300-Length 100 \"guide.kvo\" \"m\" \"0\"\nab").close(),
         false, 500, getMsgStr(460, "uzsession/61"), "", false},
        {"no room", answering(member("a.bin", binary(5000, 1)) + kRetrEnd), true, 500,
         getMsgStr(448, "uzsession/59"), "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer peer({c.script, verOnly()});
        ASSERT_TRUE(peer.ok());
        auto s = sessionTo(peer);
        RecordingSink sink(c.refuse);
        auto r = s->retrMem("guide.kvo", "*", sink);
        ASSERT_NE(r, nullptr) << s->getError();
        EXPECT_EQ(r->resultCode, c.code);
        EXPECT_EQ(r->resultMessage, c.message);
        EXPECT_EQ(sink.calls, 1);
        EXPECT_TRUE(sink.guardIntact());
        EXPECT_EQ(r->retr()->success, c.code == 200 ? 1 : 0);
        if (c.code == 200) {
            EXPECT_TRUE(sink.bytes() == c.bytes);
            EXPECT_EQ(s->getFileDataLength(), c.bytes.size());
        } else {
            EXPECT_EQ(s->getFileDataLength(), 0u);
        }
        EXPECT_EQ((s->flags & kSessConnected) != 0, c.connected);
        expectInStep(*s);
    }
}

struct CrcPositionCase {
    const char* name;
    std::string afterFirst;  // where the first member's CRC line belongs
    int code;
    const char* message;  // resultMessage; null: the client's 445
    bool inStep;          // the session still holds its connection
};

TEST_F(RetrievalWire, CrcPositionDecidesEachMember) {
    const std::string second = member("b.txt", "second");
    const CrcPositionCase cases[] = {
        // Unpacking failed after all bytes went out; the next member and
        // the end line follow. The bytes in data are not the member's.
        {"member failed", "500-Failed, inflate error\n" + second + kRetrEnd, 500, "Failed, inflate error", true},
        // The whole reply ends there.
        {"library changed", "577 Library \"guide.kvo\" is being updated. Please perform this operation after some time.\n",
         577, "Library \"guide.kvo\" is being updated. Please perform this operation after some time.", true},
        {"no crc word", "300-CRC\n" + second + kRetrEnd, 500, nullptr, false},
        {"more data than announced", "xyz\n300-CRC 0x1\n"s + kRetrEnd, 500, nullptr, false},
    };
    for (const CrcPositionCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer peer({answeringThenVer("300-Length 5 \"guide.kvo\" \"a.txt\" \"0\"\nfirst" + c.afterFirst),
                           verOnly()});
        ASSERT_TRUE(peer.ok());
        auto s = sessionTo(peer);
        std::string data;
        auto r = s->retrMem("guide.kvo", "*.txt", data);
        ASSERT_NE(r, nullptr) << s->getError();
        EXPECT_EQ(r->resultCode, c.code);
        EXPECT_EQ(r->resultMessage, c.message ? std::string(c.message) : getMsgStr(445, "uzsession/56"));
        EXPECT_EQ(r->retr()->success, 0);
        EXPECT_EQ(r->retr()->filename, "a.txt");
        EXPECT_EQ((s->flags & kSessConnected) != 0, c.inStep);
        expectInStep(*s);
    }
}

TEST_F(RetrievalWire, FailedMemberLeavesNoFileAndTheNextIsWritten) {
    ScriptedPeer peer({answeringThenVer("300-Length 5 \"guide.kvo\" \"a.txt\" \"0\"\nfirst500-Failed, inflate error\n" +
                                        member("doc/b.txt", "second") + kRetrEnd)});
    ASSERT_TRUE(peer.ok());
    auto s = sessionTo(peer);
    auto r = s->retr("guide.kvo", "*.txt", dir_.string());
    ASSERT_NE(r, nullptr) << s->getError();
    EXPECT_EQ(r->resultCode, 200);
    EXPECT_EQ(r->resultMessage, "Failed, inflate error");
    const UzRetrEntry* a = r->retr();
    ASSERT_NE(a->next, nullptr);
    const UzRetrEntry* b = a->next.get();
    EXPECT_EQ(a->success, 0);
    EXPECT_EQ(b->success, 1);
    EXPECT_EQ(b->filename, "doc/b.txt");
    EXPECT_EQ(b->outname, (dir_ / "b.txt").string());
    EXPECT_EQ(namesIn(dir_), std::vector<std::string>{"b.txt"});
    EXPECT_EQ(fileBytes(dir_ / "b.txt"), "second");
    expectInStep(*s);
}

TEST_F(RetrievalWire, RetrWritesEveryMemberInsideOutdir) {
    const std::string bytes = binary(9000, 4);
    ScriptedPeer peer({answeringThenVer(member("../../x.bin", bytes) + member("e.txt", "") + kRetrEnd)});
    ASSERT_TRUE(peer.ok());
    auto s = sessionTo(peer);
    auto r = s->retr("guide.kvo", "*", dir_.string() + "/");
    ASSERT_NE(r, nullptr) << s->getError();
    EXPECT_EQ(r->resultCode, 200);
    EXPECT_EQ(r->resultMessage, "RETR executed.");
    ASSERT_NE(r->retr()->next, nullptr);
    EXPECT_EQ(r->retr()->outname, (dir_ / "x.bin").string());
    EXPECT_EQ(r->retr()->success, 1);
    EXPECT_EQ(r->retr()->next->success, 1);
    // Written whole, and nothing else left in the directory.
    EXPECT_EQ(namesIn(dir_), (std::vector<std::string>{"e.txt", "x.bin"}));
    EXPECT_TRUE(fileBytes(dir_ / "x.bin") == bytes);
    EXPECT_EQ(fs::file_size(dir_ / "e.txt"), 0u);
    expectInStep(*s);
}

TEST_F(RetrievalWire, RetrRefusesWhatCannotBeWritten) {
    const std::string regular = (dir_ / "plain").string();
    std::ofstream(regular) << "x";
    const struct {
        const char* name;
        std::string member;
        std::string outdir;
        std::string shown;  // in the message
    } cases[] = {
        {"dot dot", "..", dir_.string(), ".."},
        {"name ending in a slash", "sub/", dir_.string(), "sub/"},
        {"outdir a regular file", "m.txt", regular, regular + "/m.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer peer({answering(member(c.member, "bytes") + kRetrEnd), verOnly()});
        ASSERT_TRUE(peer.ok());
        auto s = sessionTo(peer);
        auto r = s->retr("guide.kvo", "*", c.outdir);
        ASSERT_NE(r, nullptr) << s->getError();
        EXPECT_EQ(r->resultCode, 500);
        EXPECT_EQ(r->resultMessage, formatChecked(msgFormat(442, "uzsession/53"), htmlEscaped(c.shown)));
        EXPECT_EQ(s->flags & kSessConnected, 0);
        EXPECT_EQ(namesIn(dir_), std::vector<std::string>{"plain"});
        expectInStep(*s);
    }
}

TEST_F(RetrievalWire, CutTransferKeepsTheFileThatWasThere) {
    std::ofstream(dir_ / "m.txt") << "old";
    ScriptedPeer peer({PeerScript()
                           .send(kGreeting)
                           .awaitLine()
                           .send("300-Length 100 \"guide.kvo\" \"m.txt\" \"0\"\nnew")
                           .close()});
    ASSERT_TRUE(peer.ok());
    auto s = sessionTo(peer);
    auto r = s->retr("guide.kvo", "m.txt", dir_.string());
    ASSERT_NE(r, nullptr) << s->getError();
    EXPECT_EQ(r->resultCode, 500);
    EXPECT_EQ(namesIn(dir_), std::vector<std::string>{"m.txt"});
    EXPECT_EQ(fileBytes(dir_ / "m.txt"), "old");
}

TEST_F(RetrievalWire, RefusalsAndTheSubFolderPage) {
    const std::string page = "<html>\n<body>x</body>\n</html>\n";
    const struct {
        const char* name;
        std::string member;
        std::string reply;
        const char* line;
        int code;
        std::string message;
        std::string data;
    } cases[] = {
        {"not found", "a b.html",
         "400-File \"a b.html\" not found in database \"guide.kvo\", 1 database(s) checked\n",
         "RETR \"guide.kvo\" \"a b.html\"\n", 400,
         "File \"a b.html\" not found in database \"guide.kvo\", 1 database(s) checked", ""},
        {"sub-folder page", std::string(kSubMainPage),
         format("300-Length %zu \"9999\" kvo_ml_sub_main_page\n", page.size()) + page + "300-CRC 0x00000000\n" +
             kRetrEnd,
         "RETR \"guide.kvo\" kvo_ml_sub_main_page\n", 200, "RETR executed.", page},
        {"sub-folder page refused", std::string(kSubMainPage), "514 Failed to allocate outbuf\n",
         "RETR \"guide.kvo\" kvo_ml_sub_main_page\n", 514, "Failed to allocate outbuf", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer peer({answeringThenVer(c.reply)});
        ASSERT_TRUE(peer.ok());
        auto s = sessionTo(peer);
        std::string data;
        auto r = s->retrMem("guide.kvo", c.member, data);
        ASSERT_NE(r, nullptr) << s->getError();
        EXPECT_EQ(r->resultCode, c.code);
        EXPECT_EQ(r->resultMessage, c.message);
        EXPECT_EQ(data, c.data);
        EXPECT_EQ(r->retr()->success, c.code == 200 ? 1 : 0);
        expectInStep(*s);
        EXPECT_EQ(peer.connections(), 1u);
        s.reset();
        peer.stop();
        EXPECT_EQ(firstLine(peer), c.line);
    }
}

TEST_F(RetrievalWire, RetrWaitsLongerThanTheCommandTimeout) {
    // The daemon may refresh its catalogue before it unpacks.
    UzWaits waits = uzWaits();
    waits.retr = std::chrono::seconds(1);
    waits.settle = std::chrono::seconds(4);
    setUzWaits(waits);
    ScriptedPeer peer({PeerScript()
                           .send(kGreeting)
                           .awaitLine()
                           .delay(milliseconds(2000))
                           .send(member("a.txt", "abc") + kRetrEnd)
                           .close()});
    ASSERT_TRUE(peer.ok());
    auto s = sessionTo(peer);
    s->commandTimeout = 1;
    std::string data;
    auto r = s->retrMem("guide.kvo", "a.txt", data);
    ASSERT_NE(r, nullptr) << s->getError();
    EXPECT_EQ(r->resultCode, 200);
    EXPECT_EQ(data, "abc");
}

// An archive as GET frames it.
std::string archive(const std::string& name, const std::string& bytes) {
    return format("300-Length %zu \"%s\"\n", bytes.size(), name.c_str()) + bytes;
}

TEST_F(RetrievalWire, GetWritesEachArchive) {
    const std::string a = binary(5000, 5);
    const std::string b = binary(70000, 6);
    ScriptedPeer peer({answeringThenVer(archive("a.kvo", a) + archive("b.kvo", b) + "200-GET executed.\n")});
    ASSERT_TRUE(peer.ok());
    auto s = sessionTo(peer);
    auto r = s->get("*.kvo", dir_.string());
    ASSERT_NE(r, nullptr) << s->getError();
    EXPECT_EQ(r->resultCode, 200);
    EXPECT_EQ(r->resultMessage, "GET executed.");
    const UzGetEntry* e = r->get();
    ASSERT_NE(e->next, nullptr);
    EXPECT_EQ(*e->database, "a.kvo");
    EXPECT_EQ(e->size, a.size());
    EXPECT_EQ(e->outname, (dir_ / "a.kvo").string());
    EXPECT_EQ(e->success, 1);
    EXPECT_EQ(e->next->outname, (dir_ / "b.kvo").string());
    EXPECT_EQ(e->next->success, 1);
    EXPECT_EQ(namesIn(dir_), (std::vector<std::string>{"a.kvo", "b.kvo"}));
    EXPECT_TRUE(fileBytes(dir_ / "a.kvo") == a);
    EXPECT_TRUE(fileBytes(dir_ / "b.kvo") == b);
    expectInStep(*s);
    s.reset();
    peer.stop();
    EXPECT_EQ(firstLine(peer), "GET \"*.kvo\"\n");
}

TEST_F(RetrievalWire, GetAnswersThatEndAtTheFirstLine) {
    const struct {
        const char* name;
        const char* reply;
        int code;
        const char* message;
    } cases[] = {
        // No library matched: an empty success, no wait for data.
        {"nothing matched", "200-GET executed.\n", 200, "GET executed."},
        {"refused, blank", "400 Syntax error in GET command. Try HELP GET\n", 400,
         "Failed to get, Syntax error in GET command. Try HELP GET"},
        {"refused, dash", "500-Could not open \"a.kvo\"\n", 500, "Failed to get, Could not open \"a.kvo\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer peer({answeringThenVer(c.reply)});
        ASSERT_TRUE(peer.ok());
        auto s = sessionTo(peer);
        auto r = s->get("none*.kvo", dir_.string());
        ASSERT_NE(r, nullptr) << s->getError();
        EXPECT_EQ(r->resultCode, c.code);
        EXPECT_EQ(r->resultMessage, c.message);
        EXPECT_FALSE(r->get()->filled());
        EXPECT_TRUE(namesIn(dir_).empty());
        expectInStep(*s);
        EXPECT_EQ(peer.connections(), 1u);
    }
}

TEST_F(RetrievalWire, GetFailuresLeaveNoFile) {
    const struct {
        const char* name;
        std::string reply;
        std::string message;
    } cases[] = {
        {"cut archive", "300-Length 100 \"a.kvo\"\n0123456789",
         formatChecked(msgFormat(392, "uzsession/13"), "connection closed or no data in time")},
        {"no line after the archive", archive("a.kvo", "0123456789"), getMsgStr(388, "uzsession/9")},
        {"name leaving outdir", archive("..", "0123456789") + "200-GET executed.\n",
         formatChecked(msgFormat(386, "uzsession/7"), "..")},
        {"no name", "300-Length 10\n0123456789200-GET executed.\n", getMsgStr(385, "uzsession/6")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer peer({PeerScript().send(kGreeting).awaitLine().send(c.reply).close(), verOnly()});
        ASSERT_TRUE(peer.ok());
        auto s = sessionTo(peer);
        auto r = s->get("a.kvo", dir_.string());
        ASSERT_NE(r, nullptr) << s->getError();
        EXPECT_EQ(r->resultCode, 500);
        EXPECT_EQ(r->resultMessage, c.message);
        EXPECT_EQ(r->get()->success, 0);
        EXPECT_TRUE(namesIn(dir_).empty());
        EXPECT_EQ(s->flags & kSessConnected, 0);
        expectInStep(*s);
    }
}

TEST_F(RetrievalWire, GetFilteredByTheServerGivesNoResponse) {
    // The daemon ends the session without a line for a name it refuses;
    // the command is sent once more on a new session, which ends alike.
    const PeerScript filtering = PeerScript().send(kGreeting).awaitLine().close();
    ScriptedPeer peer({filtering, filtering, verOnly()});
    ASSERT_TRUE(peer.ok());
    auto s = sessionTo(peer);
    EXPECT_EQ(s->get("abc", dir_.string()), nullptr);
    EXPECT_FALSE(s->getError().empty());
    EXPECT_TRUE(namesIn(dir_).empty());
    expectInStep(*s);
}

TEST_F(RetrievalWire, GetFileDataNeedsAListedMemberAndAWholeRetrieval) {
    const std::string bytes = binary(4000, 8);
    const std::string listed =
        "300-  Length       Method     Size Ratio CRC-32 guide.kvo\n"
        "300     4000     Deflated     1200 70% 1234abcd a.bin\n"
        "200-CONTV executed.\n";
    const struct {
        const char* name;
        std::string contv;
        std::string retr;  // "" when RETR must not be sent
        bool found;
    } cases[] = {
        {"whole member", listed, member("a.bin", bytes) + kRetrEnd, true},
        {"not listed", "300-  Length       Method     Size Ratio CRC-32 guide.kvo\n200-CONTV executed.\n", "", false},
        {"no such library", "511 Invalid database 'x.kvo'\n", "", false},
        {"member failed on the server",
         listed, "300-Length 4000 \"guide.kvo\" \"a.bin\" \"0\"\n" + bytes + "500-Failed, inflate error\n" + kRetrEnd,
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PeerScript script = PeerScript().send(kGreeting).awaitLine().send(c.contv);
        if (!c.retr.empty()) script.awaitLine().send(c.retr);
        ScriptedPeer peer({script.awaitLine().send(kVerReply).close()});
        ASSERT_TRUE(peer.ok());
        auto s = sessionTo(peer);
        std::optional<std::string> data = s->getFileData("guide.kvo", "a.bin");
        ASSERT_EQ(data.has_value(), c.found) << s->getError();
        if (data) {
            EXPECT_TRUE(*data == bytes);
        }
        EXPECT_EQ(s->getFileDataLength(), c.found ? bytes.size() : 0u);
        expectInStep(*s);
        s.reset();
        peer.stop();
        const std::string sent = peer.received(0);
        const std::string expected = c.retr.empty() ? "CONTV \"guide.kvo\" a.bin\nVER\n"
                                                    : "CONTV \"guide.kvo\" a.bin\nRETR \"guide.kvo\" a.bin\nVER\n";
        EXPECT_EQ(sent.substr(0, expected.size()), expected);
    }
}

// An IDRETR entry as the server writes it.
std::string idretrEntry(const std::string& member, const std::string& section) {
    return format("300 %zu \"guide.kvo\" \"%s\"  ", section.size(), member.c_str()) + section + "\n";
}

TEST_F(RetrievalWire, IdretrSectionsComeBackByteForByte) {
    std::string lines;
    while (lines.size() < kIdRetrSectionMax) lines += "<p>" + std::string(70, 'x') + "</p>\r\n";
    lines.resize(kIdRetrSectionMax);
    const std::vector<std::string> sections = {
        "<p>two  blanks</p>",
        "\tcell\t\tcell",
        "\"quoted\" start",
        "<h1>T</h1>\r\n<p>text</p>\r\n",
        "trailing blank ",
        "<h1>T</h1>\n<p>x</p>\n\n",
        "",
        std::string(kIdRetrSectionMax, 's'),
        lines,
    };
    std::string reply = "300-Size Database Filename Context\n";
    for (size_t i = 0; i < sections.size(); ++i) reply += idretrEntry(format("s%zu.html", i), sections[i]);
    reply += "200-IDRETR executed.\n";
    ScriptedPeer peer({answeringThenVer(reply)});
    ASSERT_TRUE(peer.ok());
    auto s = sessionTo(peer);
    auto r = s->idretr("id*", "guide.kvo", "*.html", "DITA");
    ASSERT_NE(r, nullptr) << s->getError();
    EXPECT_EQ(r->resultCode, 200);
    EXPECT_EQ(r->resultMessage, "IDRETR executed.");
    const UzIdRetrEntry* e = r->idretr();
    for (size_t i = 0; i < sections.size(); ++i, e = e->next.get()) {
        SCOPED_TRACE(i);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->size, std::to_string(sections[i].size()));
        EXPECT_EQ(*e->database, "guide.kvo");
        EXPECT_EQ(e->filename, format("s%zu.html", i));
        EXPECT_TRUE(e->context == sections[i]) << e->context.size() << " bytes";
    }
    EXPECT_EQ(e, nullptr);
    expectInStep(*s);
    EXPECT_EQ(peer.connections(), 1u);
    s.reset();
    peer.stop();
    EXPECT_EQ(firstLine(peer), "IDRETR \"id*\" \"guide.kvo\" *.html DITA\n");
}

TEST_F(RetrievalWire, IdretrSectionTrickledInWithLineEnds) {
    // Every byte its own read: a CR ends a line and its LF arrives later.
    const std::string section = "<h1>T</h1>\r\n\r\n<p>a</p>\r";
    ScriptedPeer peer({PeerScript()
                           .send(kGreeting)
                           .awaitLine()
                           .trickle("300-Size Database Filename Context\n" + idretrEntry("a.html", section) +
                                        "200-IDRETR executed.\n",
                                    milliseconds(1))
                           .awaitLine()
                           .send(kVerReply)
                           .close()});
    ASSERT_TRUE(peer.ok());
    auto s = sessionTo(peer);
    auto r = s->idretr("id", "guide.kvo", "a.html", "plain");
    ASSERT_NE(r, nullptr) << s->getError();
    EXPECT_EQ(r->resultCode, 200);
    EXPECT_EQ(r->idretr()->context, section);
    expectInStep(*s);
}

TEST_F(RetrievalWire, IdretrEndsOnEveryKindOfLine) {
    const struct {
        const char* name;
        std::string reply;
        int code;
        std::string message;
        bool inStep;
        bool filled;
    } cases[] = {
        {"syntax error as the first line", "400 Syntax error in IDRETR command. Try HELP IDRETR\n", 400,
         "Syntax error in IDRETR command. Try HELP IDRETR", true, false},
        {"member that cannot be unpacked",
         "300-Size Database Filename Context\n310-Failed to unzip /l/guide.kvo a.html\n200-IDRETR executed.\n", 200,
         "IDRETR executed.", true, false},
        {"library changed after a section",
         "300-Size Database Filename Context\n" + idretrEntry("a.html", "x") +
             "577 Library \"b.kvo\" is being updated. Please perform this operation after some time.\n",
         577, "Library \"b.kvo\" is being updated. Please perform this operation after some time.", true, true},
        {"section above the limit",
         "300-Size Database Filename Context\n" + idretrEntry("a.html", std::string(kIdRetrSectionMax + 1, 's')) +
             "200-IDRETR executed.\n",
         500, getMsgStr(430, "uzsession/41"), false, false},
        {"section cut short", "300-Size Database Filename Context\n300 100 \"guide.kvo\" \"a.html\"  abc\n", 500,
         getMsgStr(430, "uzsession/41"), false, false},
        {"reply cut short", "300-Size Database Filename Context\n" + idretrEntry("a.html", "x"), 500,
         getMsgStr(427, "uzsession/40"), false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer peer({c.inStep ? answeringThenVer(c.reply)
                                    : PeerScript().send(kGreeting).awaitLine().send(c.reply).close(),
                           verOnly()});
        ASSERT_TRUE(peer.ok());
        auto s = sessionTo(peer);
        auto r = s->idretr("id", "guide.kvo", "*.html", "plain");
        ASSERT_NE(r, nullptr) << s->getError();
        EXPECT_EQ(r->resultCode, c.code);
        EXPECT_EQ(r->resultMessage, c.message);
        EXPECT_EQ(r->idretr()->filled(), c.filled);
        EXPECT_EQ((s->flags & kSessConnected) != 0, c.inStep);
        expectInStep(*s);
    }
}

}  // namespace
}  // namespace ruva

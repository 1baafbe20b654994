#include "bmod/unzipd/server/reply.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "common/tokens.h"
#include "tests/support/test_support.h"

namespace ruva {
namespace {

using test::SocketReader;

// What a client's tokenizer makes of a field.
std::string readBack(const std::string& field) {
    std::string copy = field;
    char* cursor = copy.data();
    char* tok = getNextToken(&cursor);
    return tok != nullptr ? tok : "<none>";
}

TEST(ReplyWriter, FieldsCarryControlsAsBlanks) {
    const std::string withNul("a\nb\rc\td\0e", 9);
    EXPECT_EQ(ReplyWriter::quotedField(std::string_view(withNul)), "\"a b c d e\"");
    EXPECT_EQ(ReplyWriter::plainField(std::string_view(withNul)), "a b c d e");
    EXPECT_EQ(ReplyWriter::quotedField("Plain42"), "Plain42");
    EXPECT_EQ(readBack(ReplyWriter::quotedField("say \"hi\"")), "say \"hi\"");
}

TEST(ReplyWriter, TrailingBackslashCannotSwallowTheClosingQuote) {
    struct Case {
        const char* text;
        const char* field;
        const char* readBack;
    } cases[] = {
        {"C:\\dir\\", "\"C:\\dir\\ \"", "C:\\dir\\ "},
        {"\\", "\"\\ \"", "\\ "},
        {"end\\\"", "\"end\\\\\"\"", "end\\\""},  // an escaped quote is no trailing backslash
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::string field = ReplyWriter::quotedField(c.text);
        EXPECT_EQ(field, c.field);
        std::string line = field + " next";
        char* cursor = line.data();
        EXPECT_EQ(std::string(getNextToken(&cursor)), c.readBack);
        EXPECT_EQ(std::string(getNextToken(&cursor)), "next");
    }
}

TEST(ReplyWriter, EmptyAndAbsentCommentsDiffer) {
    EXPECT_EQ(ReplyWriter::quotedField(""), "\"\"");
    EXPECT_EQ(ReplyWriter::quotedField(static_cast<const char*>(nullptr)), "");
    EXPECT_EQ(ReplyWriter::plainField(static_cast<const char*>(nullptr)), "");
}

TEST(ReplyWriter, NothingFollowsAnErrorLine) {
    SocketReader reader;
    ReplyWriter w(reader.fd());
    w.beginReply();
    EXPECT_TRUE(w.line(kReplyData, kReplyEntry, "entry %d", 1));
    EXPECT_TRUE(w.line(kReplySyntax, kReplyEntry, "Unknown command <%s>. Try HELP.", "X"));
    EXPECT_TRUE(w.ended());
    EXPECT_FALSE(w.line(kReplyData, kReplyEntry, "late"));
    EXPECT_FALSE(w.line(kReplyOk, kReplyHeader, "LIST executed."));
    EXPECT_FALSE(w.raw("xyz", 3));
    w.beginReply();
    EXPECT_TRUE(w.line(kReplyFailed, kReplyHeader, "next reply"));
    EXPECT_EQ(reader.finish(), "300 entry 1\n400 Unknown command <X>. Try HELP.\n500-next reply\n");
}

TEST(ReplyWriter, RawDataFollowsTheLinesBeforeIt) {
    SocketReader reader;
    ReplyWriter w(reader.fd());
    w.beginReply();
    EXPECT_TRUE(w.line(kReplyData, kReplyHeader, "Length %lu \"%s\"", 4UL, "a.kvo"));
    const char data[] = {'\x11', '\0', '\n', 'z'};
    EXPECT_TRUE(w.raw(data, sizeof data));
    EXPECT_TRUE(w.line(kReplyData, kReplyHeader, "CRC 0x%lx", 0xabcUL));
    EXPECT_TRUE(w.line(kReplyOk, kReplyHeader, "RETR executed."));
    const char expected[] = "300-Length 4 \"a.kvo\"\n\x11\0\nz300-CRC 0xabc\n200-RETR executed.\n";
    EXPECT_EQ(reader.finish(), std::string(expected, sizeof expected - 1));
}

// SIGPIPE keeps its default here: a write without MSG_NOSIGNAL would kill
// the child instead of failing.
TEST(ReplyWriter, WriteToAClosedClientFailsWithoutSignal) {
    int status = test::inChild([] {
        signal(SIGPIPE, SIG_DFL);
        int sv[2];
        if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0) return 1;
        close(sv[1]);
        ReplyWriter w(sv[0]);
        if (w.line(kReplyOk, kReplyEntry, "Version: x")) return 2;
        if (!w.failed()) return 3;
        w.beginReply();
        if (w.line(kReplyOk, kReplyEntry, "again")) return 4;
        return 0;
    });
    EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace ruva

#include "bmod/ruvaserv/client/uzsession_retrieval.h"

#include <limits.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>

#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "bmod/ruvaserv/client/uzsession.h"

using namespace std::string_literals;

namespace ruva {
namespace {

struct FrameCase {
    const char* name;
    std::string line;
    bool parses;
    size_t size = 0;
    std::string database = "";
    std::string filename = "";
    int folder = 0;
    bool holdsNul = false;
};

TEST(RetrFrame, ReadsTheFramingLine) {
    const FrameCase cases[] = {
        {"member", R"(300-Length 1234 "guide.kvo" "1551-abc10101uen.a.html" "3")", true, 1234, "guide.kvo",
         "1551-abc10101uen.a.html", 3},
        {"member name with blanks", R"(300-Length 7 "guide.kvo" "a b.html" "0")", true, 7, "guide.kvo", "a b.html"},
        {"empty member", R"(300-Length 0 "guide.kvo" "e.txt" "0")", true, 0, "guide.kvo", "e.txt"},
        {"wait page of a pdf", R"(300-Length 2203 "guide.kvo" "wait.html" "2")", true, 2203, "guide.kvo", "wait.html", 2},
        // The generated sub-folder page names the node, and no folder.
        {"sub-folder page", R"(300-Length 612 "9999" kvo_ml_sub_main_page)", true, 612, "9999",
         "kvo_ml_sub_main_page"},
        {"blank after the code", R"(300 Length 5 "l" "m" "1")", true, 5, "l", "m", 1},
        {"largest size", "300-Length 18446744073709551615 \"l\" \"m\" \"0\"", true, SIZE_MAX, "l", "m"},
        {"name cut at a NUL", "300-Length 5 \"l\" \"a\0b\" \"0\""s, true, 5, "l", "a", 0, true},
        {"size beyond size_t", "300-Length 18446744073709551616 \"l\" \"m\" \"0\"", false},
        {"negative size", R"(300-Length -5 "l" "m" "0")", false},
        {"size with a sign", R"(300-Length +5 "l" "m" "0")", false},
        {"size with letters", R"(300-Length 5k "l" "m" "0")", false},
        {"no member", R"(300-Length 5 "l")", false},
        {"not a length line", R"(300-CRC 0x1234abcd)", false},
        {"other code", R"(310-Length 5 "l" "m" "0")", false},
        {"refusal", R"(514 Failed to allocate outbuf)", false},
        {"short", "30", false},
    };
    for (const FrameCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<LengthFrame> f = parseRetrFrame(c.line);
        ASSERT_EQ(f.has_value(), c.parses);
        if (!f) continue;
        EXPECT_EQ(f->size, c.size);
        EXPECT_EQ(f->database, c.database);
        EXPECT_EQ(f->filename, c.filename);
        EXPECT_EQ(f->folder, c.folder);
        EXPECT_EQ(f->holdsNul, c.holdsNul);
    }
}

struct CrcCase {
    const char* name;
    std::string line;
    CrcLine::Kind kind;
    unsigned long crc = 0;
};

TEST(RetrCrcLine, DecidesTheMembersOutcome) {
    const CrcCase cases[] = {
        {"crc", "300-CRC 0x1234abcd", CrcLine::kCrc, 0x1234abcd},
        {"short crc", "300-CRC 0x5", CrcLine::kCrc, 5},
        {"sub-folder page", "300-CRC 0x00000000", CrcLine::kCrc, 0},
        {"upper-case prefix", "300-CRC 0XFFFFFFFF", CrcLine::kCrc, 0xFFFFFFFF},
        // The member could not be unpacked after all its bytes went out;
        // the next member or the end line follows.
        {"inflate error", "500-Failed, inflate error", CrcLine::kMemberFailed},
        {"300 without a crc", "300-CRC", CrcLine::kMalformed},
        {"crc not hexadecimal", "300-CRC 0xZZ", CrcLine::kMalformed},
        {"crc beyond 32 bits", "300-CRC 0x100000000", CrcLine::kMalformed},
        // More data than announced: a header where the CRC belongs.
        {"next header instead", R"(300-Length 5 "l" "m" "0")", CrcLine::kMalformed},
        {"no code", "abc", CrcLine::kMalformed},
        {"empty", "", CrcLine::kMalformed},
        {"library being updated", R"(577 Library "b.kvo" is being updated. Please perform this operation after some time.)",
         CrcLine::kFinal},
        {"library removed", R"(578 Library "b.kvo" has been removed.)", CrcLine::kFinal},
        {"invalid id", "511 Invalid ID 7", CrcLine::kFinal},
        {"node without libraries", "510 Node contains no databases 'x'", CrcLine::kFinal},
        {"unknown node", "519 Unknown node type", CrcLine::kFinal},
        {"end line", "200-RETR executed.", CrcLine::kFinal},
        {"local header", R"(500-Failed to read Local Header of file "m" in database "l")", CrcLine::kFinal},
    };
    for (const CrcCase& c : cases) {
        SCOPED_TRACE(c.name);
        CrcLine got = parseCrcLine(c.line);
        EXPECT_EQ(got.kind, c.kind);
        if (c.kind == CrcLine::kCrc) {
            EXPECT_EQ(got.crc, c.crc);
        }
    }
}

TEST(GetFrame, ReadsTheArchiveHeader) {
    std::optional<LengthFrame> f = parseGetFrame(R"(300-Length 4096 "guide.kvo")");
    ASSERT_TRUE(f);
    EXPECT_EQ(f->size, 4096u);
    EXPECT_EQ(f->database, "guide.kvo");
    EXPECT_FALSE(parseGetFrame("300-Length 4096"));
    EXPECT_FALSE(parseGetFrame(R"(300-Length x "guide.kvo")"));
    EXPECT_FALSE(parseGetFrame(R"(500-Could not open "guide.kvo")"));
}

struct PathCase {
    const char* name;
    std::string outdir;
    std::string member;
    std::optional<std::string> path;
};

TEST(OutputPath, KeepsEveryNameInsideOutdir) {
    const std::string longDir(PATH_MAX - 8, 'd');
    const PathCase cases[] = {
        {"working directory", "", "a.html", "a.html"},
        {"directory", "/tmp/out", "a.html", "/tmp/out/a.html"},
        {"directory with slash", "/tmp/out/", "a.html", "/tmp/out/a.html"},
        {"folders of the name dropped", "/tmp/out", "doc/img/p.gif", "/tmp/out/p.gif"},
        {"climbing name", "/tmp/out", "../../etc/passwd", "/tmp/out/passwd"},
        {"absolute name", "/tmp/out", "/etc/passwd", "/tmp/out/passwd"},
        {"name with blanks", "o", "a b.html", "o/a b.html"},
        {"name ending in a slash", "o", "dir/", std::nullopt},
        {"empty name", "o", "", std::nullopt},
        {"dot", "o", ".", std::nullopt},
        {"dot dot", "o", "..", std::nullopt},
        {"dot dot after a folder", "o", "a/..", std::nullopt},
        {"name holding a NUL", "o", "a\0b"s, std::nullopt},
        {"outdir holding a NUL", "o\0p"s, "a", std::nullopt},
        {"path just fitting", longDir, "123456", longDir + "/123456"},
        {"path one too long", longDir, "1234567", std::nullopt},
    };
    for (const PathCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(outputPath(c.outdir, c.member), c.path);
    }
}

TEST(RetrTarget, OneOfDirectoryAndBufferIsNeeded) {
    // Refused before anything is sent: no connection is even tried.
    UzSession s;
    std::string data;
    EXPECT_EQ(s.handleRetrCommand("guide.kvo", "a.html", std::nullopt, nullptr), nullptr);
    EXPECT_EQ(s.getError(), getMsgStr(440, "uzsession/51"));
    s.setError(nullptr);
    EXPECT_EQ(s.handleRetrCommand("guide.kvo", "a.html", "/tmp", &data), nullptr);
    EXPECT_EQ(s.getError(), getMsgStr(440, "uzsession/51"));
    EXPECT_EQ(s.flags & kSessConnected, 0);
}

TEST(IdRetrHead, ReadsTheEntryHead) {
    const std::string line = "300 0012 \"guide.kvo\" \"1551-abc10101uen.a.html\"  <h1>x";
    std::optional<IdRetrHead> h = parseIdRetrHead(line);
    ASSERT_TRUE(h);
    EXPECT_EQ(h->sizeWord, "0012");
    EXPECT_EQ(h->size, 12u);
    EXPECT_EQ(h->database, "guide.kvo");
    EXPECT_EQ(h->filename, "1551-abc10101uen.a.html");
    EXPECT_EQ(line.substr(h->sectionStart), "<h1>x");

    const struct {
        const char* name;
        std::string line;
    } refused[] = {
        {"one blank before the section", "300 5 \"l\" \"m\" abcde"},
        {"no section blanks", "300 5 \"l\" \"m\""},
        {"unquoted library", "300 5 l \"m\"  abcde"},
        {"unterminated member", "300 5 \"l\" \"m  abcde"},
        {"no size", "300 \"l\" \"m\"  abcde"},
        {"size with a sign", "300 +5 \"l\" \"m\"  abcde"},
        {"19 digits", "300 1000000000000000000 \"l\" \"m\"  abcde"},
        {"header line", "300-Size Database Filename Context"},
        {"other code", "310 5 \"l\" \"m\"  abcde"},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(parseIdRetrHead(c.line));
    }
}

// How the session's line reader cuts what the server sent: the line (up to
// the first LF or CR, at most kReplyLineMax characters), the byte that
// ended it, and the bytes after it.
struct ReaderCut {
    std::string line;
    std::optional<char> ender;
    std::string raw;
};

ReaderCut cutAsLineReader(const std::string& wire) {
    size_t end = wire.find_first_of("\r\n");
    if (end == std::string::npos || end >= kReplyLineMax) {
        return {wire.substr(0, kReplyLineMax), std::nullopt, wire.substr(std::min(wire.size(), kReplyLineMax))};
    }
    return {wire.substr(0, end), wire[end], wire.substr(end + 1)};
}

// The server's entry for section, then what follows it.
std::string idretrEntry(const std::string& section, size_t announced) {
    return "300 " + std::to_string(announced) + " \"guide.kvo\" \"a.html\"  " + section + "\n200-IDRETR executed.\n";
}

// Assembles the entry as the session does: the line, then raw pieces of at
// most wanted() bytes. What is left after it must be the next line.
IdRetrSection::State assemble(const std::string& wire, std::string* text, std::string* after) {
    ReaderCut cut = cutAsLineReader(wire);
    std::optional<IdRetrHead> head = parseIdRetrHead(cut.line);
    if (!head) return IdRetrSection::State::kBad;
    IdRetrSection section(head->size, std::string_view(cut.line).substr(head->sectionStart), cut.ender);
    std::string_view raw = cut.raw;
    while (section.state() == IdRetrSection::State::kNeedBytes && !raw.empty()) {
        size_t n = std::min({section.wanted(), raw.size(), kDataChunk});
        section.feed(raw.substr(0, n));
        raw.remove_prefix(n);
    }
    *text = section.text();
    *after = std::string(raw);
    return section.state();
}

TEST(IdRetrSection, SectionsComeBackAsSent) {
    std::string longLines;
    while (longLines.size() < kIdRetrSectionMax) longLines += std::string(79, 'l') + "\n";
    longLines.resize(kIdRetrSectionMax);
    const struct {
        const char* name;
        std::string section;
    } cases[] = {
        {"double blanks", "<p>two  blanks   three</p>"},
        {"tabs", "\tcell\t\tcell\t"},
        {"leading quote", "\"quoted\" start"},
        {"quote and backslash", "a \\\" b"},
        {"cr lf", "<h1>Title</h1>\r\n<p>text</p>\r\n<p>more</p>"},
        {"lone cr", "one\rtwo\r"},
        {"trailing blank", "<p>text</p> "},
        {"empty last line", "<h1>Title</h1>\n<p>text</p>\n"},
        {"blank lines", "\n\n\n"},
        {"empty", ""},
        {"NUL inside", std::string("a\0b", 3)},
        {"one line at the limit", std::string(kIdRetrSectionMax, 's')},
        {"many lines at the limit", longLines},
        // The head before these sections is 33 characters, so the reader
        // cuts the line right before the line end or the section's end.
        {"cr lf where the reader cuts", std::string(kReplyLineMax - 33, 'c') + "\r\n" + std::string(1000, 'd')},
        {"lf where the reader cuts", std::string(kReplyLineMax - 33, 'c') + "\n" + std::string(1001, 'd')},
        {"section ending where the reader cuts", std::string(kReplyLineMax - 33, 'c')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string text, after;
        EXPECT_EQ(assemble(idretrEntry(c.section, c.section.size()), &text, &after), IdRetrSection::State::kDone);
        EXPECT_TRUE(text == c.section) << text.size() << " bytes";
        EXPECT_EQ(after, "200-IDRETR executed.\n");
    }
}

TEST(IdRetrSection, SizeTheBytesDoNotKeepIsRefused) {
    const struct {
        const char* name;
        std::string wire;
    } cases[] = {
        {"above the limit", idretrEntry(std::string(kIdRetrSectionMax + 1, 's'), kIdRetrSectionMax + 1)},
        {"line longer than the size", idretrEntry("abcdef", 3)},
        {"no line feed after the section", "300 3 \"l\" \"m\"  abcX200-IDRETR executed.\n"},
        {"section shorter than announced", idretrEntry("ab\ncd", 9)},
        {"carriage return after the section", "300 3 \"l\" \"m\"  abc\r200-IDRETR executed.\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string text, after;
        EXPECT_EQ(assemble(c.wire, &text, &after), IdRetrSection::State::kBad);
    }
}

}  // namespace
}  // namespace ruva

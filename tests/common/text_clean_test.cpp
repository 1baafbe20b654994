#include "common/text_clean.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace ruva {
namespace {

// A heap buffer of exactly the size a limit allows, so AddressSanitizer
// reports any byte written past it. Filled with '#' to show untouched bytes.
struct Exact {
    explicit Exact(size_t size) : data(new char[size]) { std::memset(data.get(), '#', size); }
    char* get() { return data.get(); }
    std::unique_ptr<char[]> data;
};

using Cleaner = char* (*)(char*, const char*, int);

struct CleanCase {
    const char* name;
    const char* src;
    int max;
    const char* out;
};

// Runs each case into a buffer of max + extra bytes; the cleaner returns dst.
void runCleaner(Cleaner clean, const CleanCase* cases, size_t count, int extra) {
    for (size_t i = 0; i < count; ++i) {
        const CleanCase& c = cases[i];
        SCOPED_TRACE(c.name);
        Exact dst(c.max + extra);
        EXPECT_EQ(clean(dst.get(), c.src, c.max), dst.get());
        EXPECT_STREQ(dst.get(), c.out);
    }
}

TEST(TextCleanRemoveControls, Table) {
    const CleanCase cases[] = {
        {"LF becomes a blank", "a\nb", 10, "a b"},
        {"no blank after a blank", "a \nb", 10, "a b"},
        {"LF run gives one blank", "a\n\nb", 10, "a b"},
        {"other controls dropped", "a\tb\rc\x01", 10, "abc"},
        {"DEL is not below 0x20", "a\x7f", 10, "a\x7f"},
        {"leading and trailing trimmed", "\n  a b  \n", 20, "a b"},
        {"at most max-1 characters", "abcdef", 4, "abc"},
        {"cut then trimmed", "ab   cd", 5, "ab"},
        {"max 1 leaves only the NUL", "abc", 1, ""},
        {"Latin-1 bytes kept", "caf\xE9\xA0\xFF", 10, "caf\xE9\xA0\xFF"},
        {"empty", "", 5, ""},
    };
    runCleaner(removeControls, cases, std::size(cases), 0);
}

TEST(TextCleanRemoveControls, NullOrZeroDoesNothing) {
    char dst[4] = "xyz";
    EXPECT_EQ(removeControls(dst, nullptr, 4), nullptr);
    EXPECT_EQ(removeControls(dst, "abc", 0), nullptr);
    EXPECT_STREQ(dst, "xyz");
    EXPECT_EQ(removeControls(nullptr, "abc", 4), nullptr);
}

TEST(TextCleanControlsToSpace, Table) {
    const CleanCase cases[] = {
        {"a run becomes one blank", "a\n\r\tb", 10, "a b"},
        {"no blank after a blank", "a \nb", 10, "a b"},
        {"DEL is a control", "a\177b", 10, "a b"},
        {"leading LF keeps one blank", "\nabc", 10, " abc"},
        {"leading LF then blanks keeps one", "\n  abc", 10, " abc"},
        {"lone LF", "\n", 10, " "},
        {"other leading white space removed", " \tabc", 10, "abc"},
        {"single-blank source", " ", 10, " "},
        {"two blanks", "  ", 10, ""},
        {"trailing blank stays", "caf\xE9\n", 10, "caf\xE9 "},
        {"at most max characters", "abcdef", 3, "abc"},
        {"cut before trimming", "   abc", 4, "a"},
        {"max 0", "abc", 0, ""},
        {"empty", "", 3, ""},
    };
    runCleaner(controlsToSpace, cases, std::size(cases), 1);
}

TEST(TextCleanRemoveSpaces, Table) {
    const CleanCase cases[] = {
        {"white space out", "a b\tc\nd", 10, "abcd"},        {"controls out", "a\001b\177", 10, "ab"},
        {"Latin-1 kept", "caf\xE9 \xA0", 10, "caf\xE9\xA0"}, {"at most max", "abcdef", 3, "abc"},
        {"blanks do not count", "a b c d", 3, "abc"},        {"max 0", "abc", 0, ""},
    };
    runCleaner(removeSpaces, cases, std::size(cases), 1);
}

// The pairing key of B-tree NoSpc look-ups and of the library comparison:
// both must fold alike, so the bytes it keeps are pinned here.
TEST(TextCleanFoldNoSpc, Table) {
    struct Case {
        const char* name;
        const char* src;
        const char* out;
    };
    const Case cases[] = {
        {"blanks and controls out", " A b\t\nC\001\177", "abc"},
        {"only ASCII lower-cased", "\xC4\xE4Z\xA0", "\xC4\xE4z\xA0"},
        {"wildcards are plain bytes", "Table [1] a*b?", "table[1]a*b?"},
        {"no length limit", "1/1551-CRA 119 12345 Uen", "1/1551-cra11912345uen"},
        {"empty", "", ""},
    };
    std::string out = "stale";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        foldNoSpc(c.src, out);
        EXPECT_EQ(out, c.out);
    }
}

TEST(TextCleanRemoveSpacesforpn, Table) {
    const CleanCase cases[] = {
        {"white space out, controls kept", "a b\001c\177", 10, "ab\001c\177"},
        {"at most max", "ab cdef", 3, "abc"},
        {"trailing slash kept", "a/ b/", 10, "a/b/"},
    };
    runCleaner(removeSpacesforpn, cases, std::size(cases), 1);
}

TEST(TextCleanRemoveSpacesforpath, Table) {
    const CleanCase cases[] = {
        {"trailing slash dropped", "/usr/ local/", 20, "/usr/local"},
        {"inner slashes kept", "/a/b", 10, "/a/b"},
        {"only the last slash", "a//", 10, "a/"},
        {"lone slash", "/", 10, ""},
        {"controls kept", "a\x01/", 10, "a\x01"},
        {"at most max", "abc/", 2, "ab"},
    };
    runCleaner(removeSpacesforpath, cases, std::size(cases), 1);
}

TEST(TextCleanRemoveSpaces, NullSourceGivesEmptyText) {
    char dst[4] = "xyz";
    EXPECT_EQ(removeSpaces(dst, nullptr, 3), dst);
    EXPECT_STREQ(dst, "");
}

TEST(TextCleanTrimwhitespace, MovesTextToStartAndReturnsIt) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"  a b \t\n", "a b"}, {"abc", "abc"}, {"", ""},
        {" \r\n\v\f ", ""},    {"x  ", "x"},   {"\xA0x\xA0", "\xA0x\xA0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        std::string buf = c.in;
        char* start = buf.data();
        char* result = trimwhitespace(start);
        EXPECT_EQ(result, start);  // callers that ignore the result see it too
        EXPECT_STREQ(start, c.out);
    }
    EXPECT_EQ(trimwhitespace(nullptr), nullptr);
}

TEST(TextCleanUnpackLine, Table) {
    struct Case {
        const char* name;
        const char* src;
        int max;
        int result;
        std::string out;
    } cases[] = {
        {"top bit gives blanks", "a\203b", 10, 1, "a   b"},
        {"0x80 gives no blanks", "a\200b", 10, 1, "ab"},
        {"0x85 fits with its NUL", "\x85", 6, 1, "     "},
        {"0x85 reaches max", "\x85", 5, 0, "    "},
        {"plain text fits", "abcd", 5, 1, "abcd"},
        {"plain text reaches max", "abcde", 5, 0, "abcd"},
        {"empty", "", 1, 1, ""},
        {"0xFF is 127 blanks", "\xFF", 128, 1, std::string(127, ' ')},
        {"0xFF reaches 127", "\xFF", 127, 0, std::string(126, ' ')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Exact dst(c.max);
        EXPECT_EQ(unpackLine(dst.get(), c.src, c.max), c.result);
        EXPECT_EQ(std::string(dst.get()), c.out);
    }
}

TEST(TextCleanUnpackLine, NoRoomFails) {
    char dst[1] = {'#'};
    EXPECT_EQ(unpackLine(dst, "a", 0), 0);
    EXPECT_EQ(dst[0], '#');
    EXPECT_EQ(unpackLine(nullptr, "a", 5), 0);
    EXPECT_EQ(unpackLine(dst, nullptr, 1), 0);
}

TEST(TextCleanEstimateVisualLength, EntitiesCountOneTagsNone) {
    struct Case {
        const char* html;
        int length;
    } cases[] = {
        {"", 0},
        {"abc", 3},
        {"&amp;", 1},
        {"a&amp;b", 3},
        {"&amp x", 3},  // the entity ends at the blank, which is visible
        {"&lt;&gt;", 2},
        {"&", 1},
        {"a<b>c</b>d", 3},
        {"<a href=\"x\">link</a>", 4},
        {"ab<unterminated tag", 2},
        {"caf\xE9", 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.html);
        EXPECT_EQ(estimateVisualLength(c.html), c.length);
    }
    EXPECT_EQ(estimateVisualLength(nullptr), 0);
}

TEST(TextCleanNormalizeDate, Table) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"2024-01-15", "20240115"},   {"24/1/5", "20240105"}, {"85.12.31", "19851231"},
        {"69", "20690000"},           {"70", "19700000"},     {"7-3-9", "20070309"},
        {"20240115", "20240115"},     {"2024-1", "20240100"}, {"123456789", "12345678"},
        {"1999-12-31-5", "19991231"}, {"", "00000000"},       {"x", "00000000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(normalizeDate(c.in), c.out);
    }
    EXPECT_EQ(normalizeDate(nullptr), "");
}

TEST(TextCleanAddField, CutsToWidthLessOneAndPads) {
    struct Case {
        const char* value;
        int width;
        const char* out;
    } cases[] = {
        {"abc", 5, "xabc  "}, {"abcdef", 4, "xabc "}, {"abc", 1, "x "}, {nullptr, 3, "x   "}, {"abc", 0, "x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.width);
        Exact dst(2 + (c.width > 0 ? c.width : 0));
        std::strcpy(dst.get(), "x");
        addField(dst.get(), c.value, c.width);
        EXPECT_STREQ(dst.get(), c.out);
    }
}

}  // namespace
}  // namespace ruva

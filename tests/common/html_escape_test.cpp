#include "common/html_escape.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/test_support.h"

namespace ruva {
namespace {

// How a field treats the characters it may keep.
enum FieldKind { kSearch, kKeepsSlash, kPlain };

TEST(HtmlEscapeValidateAllChar, FieldsByCharacters) {
    struct Field {
        const char* name;
        FieldKind kind;
    } const fields[] = {
        {"PA", kSearch},      {"PAT", kSearch},     {"PAC", kSearch},    {"PAD", kSearch},
        {"SYPA", kSearch},    {"LI", kKeepsSlash},  {"SL", kKeepsSlash}, {"LL", kKeepsSlash},
        {"TLL", kKeepsSlash}, {"TSL", kKeepsSlash}, {"FN", kKeepsSlash}, {"TI", kPlain},
        {"pa", kSearch},      {"Tll", kKeepsSlash}, {"PAX", kPlain},     {"P", kPlain},
        {"", kPlain},
    };
    struct Char {
        const char* name;
        const char* value;
        const char* out[3];  // by FieldKind
    } const chars[] = {
        {"quote first", "\"ab", {"\"ab", "&#34;ab", "&#34;ab"}},
        {"quote inner", "a\"b", {"a&#34;b", "a&#34;b", "a&#34;b"}},
        {"quote last", "ab\"", {"ab\"", "ab&#34;", "ab&#34;"}},
        {"apostrophe", "a'b", {"a'b", "a&#39;b", "a&#39;b"}},
        {"slash", "a/b", {"a/b", "a/b", "a&#47;b"}},
        {"less than", "a<b", {"a b", "a b", "a b"}},
        {"greater than", "a>b", {"a b", "a b", "a b"}},
    };
    for (const Field& f : fields) {
        for (const Char& c : chars) {
            SCOPED_TRACE(std::string(f.name) + " / " + c.name);
            EXPECT_EQ(validateAllChar(f.name, c.value), c.out[f.kind]);
        }
    }
}

TEST(HtmlEscapeValidateAllChar, WholeValues) {
    struct {
        const char* name;
        const char* field;
        const char* value;
        const char* out;
    } const cases[] = {
        {"phrase keeps both quotes", "PA", "\"a b\"", "\"a b\""},
        {"title escapes both quotes", "TI", "\"a\"", "&#34;a&#34;"},
        {"library keeps slash", "LI", "EN/ABC", "EN/ABC"},
        {"title escapes slash", "TI", "a/b", "a&#47;b"},
        {"lone quote is first and last", "PA", "\"", "\""},
        {"two quotes", "PA", "\"\"", "\"\""},
        {"search mix", "SYPA", "\"it's a/b <x>\"", "\"it's a/b  x \""},
        {"empty", "TI", "", ""},
        {"other bytes copied", "TI", "a&b\\c\t\xE9", "a&b\\c\t\xE9"},
        {"null name is an ordinary field", nullptr, "'/", "&#39;&#47;"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(validateAllChar(c.field, c.value), c.out);
    }
    EXPECT_EQ(validateAllChar("TI", nullptr), "");
}

TEST(HtmlEscapeValidateAllChar, GrowsAtMostFivefold) {
    std::string value(1000, '"');
    std::string out = validateAllChar("TI", value.c_str());
    EXPECT_EQ(out.size(), 5 * value.size());
}

TEST(HtmlEscapeValidateQuotesAndChar, QuotesAlwaysTheRestWithAll) {
    struct {
        const char* value;
        bool all;
        const char* out;
    } const cases[] = {
        {"\"it's\"", false, "&#34;it&#39;s&#34;"},
        {"a/<b>", false, "a/<b>"},
        {"a/<b>", true, "a&#47;&#60;b&#62;"},
        {"'\"/<>", true, "&#39;&#34;&#47;&#60;&#62;"},
        {"", true, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(validateQuotesAndChar(c.value, c.all), c.out);
    }
    EXPECT_EQ(validateQuotesAndChar(nullptr, true), "");
}

TEST(HtmlEscapeAmpEsc, EscapesAmpersandsNotAlreadyEscaped) {
    struct {
        const char* in;
        const char* out;
    } const cases[] = {
        {"a&b&amp;c", "a&amp;b&amp;c"},
        {"x&AMP;", "x&AMP;"},
        {"x&amp;", "x&amp;"},
        {"x&Amp;y", "x&Amp;y"},
        {"x&amp", "x&amp;amp"},
        {"&amp ;", "&amp;amp ;"},
        {"&lt;", "&amp;lt;"},
        {"&", "&amp;"},
        {"&a", "&amp;a"},
        {"&am", "&amp;am"},
        {"&&", "&amp;&amp;"},
        {"plain", "plain"},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        // No slack after the NUL: a look past "&am" would be reported.
        auto in = test::exactCopy(c.in);
        EXPECT_EQ(AmpEsc(in.get()), c.out);
    }
    EXPECT_EQ(AmpEsc(nullptr), "");
}

TEST(HtmlEscapeEscapeSpecialChar, Table) {
    struct {
        const char* name;
        std::string in;
        std::string out;
    } const cases[] = {
        {"CR dropped, LF a blank", "a\r\nb\nc\r", "a b c"},
        {"quotes", "it's \"x\"", "it\\'s \\\"x\\\""},
        {"backslash", "a\\b", "a\\\\b"},
        {"already escaped quote escaped again", "\\\"", "\\\\\\\""},
        {"other bytes copied", "\t<&>\xE9", "\t<&>\xE9"},
        {"empty", "", ""},
        {"256 plain", std::string(256, 'x'), std::string(256, 'x')},
        {"300 plain cut to 256", std::string(300, 'x'), std::string(256, 'x')},
        {"escape filling 256", std::string(254, 'x') + "'", std::string(254, 'x') + "\\'"},
        {"escape not fitting after 255", std::string(255, 'x') + "\\y", std::string(255, 'x')},
        {"dropped CR takes no room", std::string(10, '\r') + std::string(256, 'x'), std::string(256, 'x')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(escapeSpecialChar(c.in.c_str()), c.out);
    }
    EXPECT_EQ(escapeSpecialChar(nullptr), "");
}

TEST(HtmlEscapeEscapeSpecialChar, CapNeverSplitsAnEscape) {
    std::string in = "a" + std::string(10000, '"');
    std::string out = escapeSpecialChar(in.c_str());
    ASSERT_EQ(out.size(), 255u);
    std::string expected = "a";
    for (int i = 0; i < 127; ++i) expected += "\\\"";
    EXPECT_EQ(out, expected);

    // At the other parity the cap is reached exactly.
    out = escapeSpecialChar(std::string(10000, '\\').c_str());
    EXPECT_EQ(out, std::string(256, '\\'));
}

}  // namespace
}  // namespace ruva

#include "common/html_escape.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

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
        {"SYPA", kSearch},    {"PAOR", kSearch},    {"LI", kKeepsSlash},  {"LC", kKeepsSlash}, {"SL", kKeepsSlash}, {"LL", kKeepsSlash},
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
        {"raw pattern keeps its phrase", "PAOR", "\"a b\"", "\"a b\""},
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

// Outside text for a page: every special character escaped once, entities
// already escaped left as they are.
TEST(HtmlEscapeHtmlEscaped, EscapesOnce) {
    EXPECT_EQ(htmlEscaped("<img src=x onerror='a(\"/\")'>&amp;&"),
              "&#60;img src=x onerror=&#39;a(&#34;&#47;&#34;)&#39;&#62;&amp;&amp;");
    EXPECT_EQ(htmlEscaped(""), "");
}

// Text that is HTML already: markup and quotes escaped, entities kept.
TEST(HtmlEscapeKeepEntities, Table) {
    struct {
        const char* name;
        const char* in;
        bool singleQuoted;
        const char* out;
    } const cases[] = {
        {"markup", "a<b>", false, "a&lt;b&gt;"},
        {"tag as text", "<img src=x onerror=alert(1)>", false, "&lt;img src=x onerror=alert(1)&gt;"},
        {"entities kept", "&lt;&amp;&nbsp;&#34;", false, "&lt;&amp;&nbsp;&#34;"},
        {"bare ampersand kept", "R&D", false, "R&D"},
        {"double quote", "say \"x\"", false, "say &quot;x&quot;"},
        {"apostrophe kept", "it's", false, "it's"},
        {"apostrophe single-quoted", "it's", true, "it&#39;s"},
        {"double quote single-quoted", "\"", true, "&quot;"},
        {"slash unchanged", "TCP/IP", true, "TCP/IP"},
        {"other bytes copied", "\t\xE9\x01", false, "\t\xE9\x01"},
        {"empty", "", true, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(escapeHtmlKeepEntities(c.in, c.singleQuoted), c.out);
    }
}

// Plain text is passed eight bytes at a time: a special byte at any place of
// a word, or in the tail after the last whole word, is still escaped.
TEST(HtmlEscapeKeepEntities, SpecialAtEveryPlace) {
    const struct {
        char c;
        const char* single;
        const char* doubled;
    } specials[] = {
        {'<', "&lt;", "&lt;"}, {'>', "&gt;", "&gt;"}, {'"', "&quot;", "&quot;"}, {'\'', "&#39;", "'"}};
    for (const auto& s : specials) {
        for (size_t at = 0; at < 19; ++at) {
            SCOPED_TRACE(std::string(1, s.c) + " at " + std::to_string(at));
            std::string in(19, 'x');
            in[at] = s.c;
            const std::string x(at, 'x');
            const std::string rest(18 - at, 'x');
            EXPECT_EQ(escapeHtmlKeepEntities(in, true), x + s.single + rest);
            EXPECT_EQ(escapeHtmlKeepEntities(in, false), x + s.doubled + rest);
        }
    }
    // Bytes from 0x80 up and ones next to the specials are not taken for them.
    const std::string near = "\xBC\xBE\xA2\xA7;=?&\x1C\x1E\x02\x07\x3B\x3D\x3F\x26";
    EXPECT_EQ(escapeHtmlKeepEntities(near, true), near);
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

TEST(HtmlEscapeEscapeScriptString, Table) {
    using namespace std::string_literals;
    struct {
        const char* name;
        std::string in;
        std::string out;
    } const cases[] = {
        {"backslash", "a\\b", "a\\\\b"},
        {"double quote", "a\"b", "a\\\"b"},
        {"apostrophe", "a'b", "a\\u0027b"},
        {"less than", "a<b", "a\\u003Cb"},
        {"greater than", "a>b", "a\\u003Eb"},
        {"CR kept as escape", "a\rb", "a\\rb"},
        {"LF", "a\nb", "a\\nb"},
        {"line separator", "a\xE2\x80\xA8z", "a\\u2028z"},
        {"paragraph separator", "a\xE2\x80\xA9z", "a\\u2029z"},
        {"other three-byte character copied", "\xE2\x80\xA7\xE2\x82\xAC", "\xE2\x80\xA7\xE2\x82\xAC"},
        {"separator cut short at the end", "a\xE2\x80", "a\xE2\x80"},
        {"lone lead byte at the end", "a\xE2", "a\xE2"},
        {"end of script element", "</script><script>x()", "\\u003C/script\\u003E\\u003Cscript\\u003Ex()"},
        {"comment opener", "<!--", "\\u003C!--"},
        {"escape already there escaped again", "\\'", "\\\\\\u0027"},
        {"other bytes copied", "\t&/%\x01\xE9", "\t&/%\x01\xE9"},
        {"NUL copied", "a\0b"s, "a\0b"s},
        {"empty", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(escapeScriptString(c.in), c.out);
    }
}

TEST(HtmlEscapeEscapeScriptString, LongTextKeptWhole) {
    std::string plain(5000, 'x');
    EXPECT_EQ(escapeScriptString(plain), plain);

    std::string quotes(5000, '"');
    std::string expected;
    for (int i = 0; i < 5000; ++i) expected += "\\\"";
    EXPECT_EQ(escapeScriptString(quotes), expected);
}

// Every escape form is also JSON's, so python's json module reads the
// literal back to the original bytes.
TEST(HtmlEscapeEscapeScriptString, JsonDecodesToTheOriginal) {
    test::TempDir dir;
    ASSERT_TRUE(dir.ok());
    const std::string original =
        "say \"hi\" it's <b>\r\n\\path\\</script>\xE2\x80\xA8\xE2\x80\xA9 \xC3\xA9\xE2\x82\xAC 100%";
    const std::string escaped = escapeScriptString(original);
    ASSERT_EQ(escaped.find_first_of("<>'\r\n"), std::string::npos);
    const std::string path = dir.file("literal");
    test::writeFile(path, escaped);
    int status = -1;
    std::string decoded = test::capture(
        test::pythonCommand() +
            " -c 'import json,sys; sys.stdout.buffer.write(json.loads(\"\\\"\" + "
            "open(sys.argv[1], encoding=\"utf-8\").read() + \"\\\"\").encode(\"utf-8\"))' '" +
            path + "'",
        &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(decoded, original);
}

}  // namespace
}  // namespace ruva


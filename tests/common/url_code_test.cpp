#include "common/url_code.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "tests/support/test_support.h"

namespace ruva {
namespace {

std::string encoded(int mode, const std::string& in, size_t dstsize = 1000, bool* truncated = nullptr) {
    return urlEncode(mode, in.c_str(), dstsize, truncated);
}

TEST(UrlCodeUrlEncode, EverySpecialCharacterInBothModes) {
    struct {
        std::string in;
        const char* query;   // URLMODE_ENCODE
        const char* script;  // URLMODE_ENCODE_SCRIPT
    } const cases[] = {
        {"'", "%27", "%27"},
        {"=", "%3D", "%3D"},
        {";", "%3B", "%3B"},
        {"/", "%2F", "%2F"},
        {"#", "%23", "%23"},
        {"%", "%25", "%25"},
        {"?", "%3F", "%3F"},
        {":", "%3A", "%3A"},
        {"{", "%7B", "%7B"},
        {"}", "%7D", "%7D"},
        {"[", "%5B", "%5B"},
        {"]", "%5D", "%5D"},
        {"\\", "%5C", "%5C"},
        {"^", "%5E", "%5E"},
        {"~", "%7E", "%7E"},
        {"<", "%3C", "%3C"},
        {">", "%3E", "%3E"},
        {"\"", "%22", "%22"},
        {"&", "&", "%26"},
        {"+", "+", "%2B"},
        {" ", "+", "+"},
        {"\x01", "%01", "%01"},
        {"\t", "%09", "%09"},
        {"\n", "%0A", "%0A"},
        {"\x1F", "%1F", "%1F"},
        {"\x7F", "%7F", "%7F"},
        {"\x80", "%80", "%80"},
        {"\xA0", "%A0", "%A0"},
        {"\xE9", "%E9", "%E9"},
        {"\xFF", "%FF", "%FF"},
        // Everything else printable goes through as it is.
        {"azAZ09-_.!*()$,@|`", "azAZ09-_.!*()$,@|`", "azAZ09-_.!*()$,@|`"},
        {"", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("input \"" + c.in + "\"");
        bool truncated = true;
        EXPECT_EQ(encoded(URLMODE_ENCODE, c.in, 1000, &truncated), c.query);
        EXPECT_FALSE(truncated);
        truncated = true;
        EXPECT_EQ(encoded(URLMODE_ENCODE_SCRIPT, c.in, 1000, &truncated), c.script);
        EXPECT_FALSE(truncated);
    }
}

TEST(UrlCodeUrlEncode, DecodeCases) {
    struct {
        const char* in;
        std::string out;
    } const cases[] = {
        {"a+b%2Fc", "a b/c"},
        {"%2f%2F", "//"},
        {"%e9%C3%a9", "\xE9\xC3\xA9"},
        {"%", "%"},
        {"%4", "%4"},
        {"%zz", "%zz"},
        {"%4g", "%4g"},
        {"%g4", "%g4"},
        {"100%", "100%"},
        {"%%41", "%A"},
        {"%2B+", "+ "},
        {"%25%32%30", "%20"},  // decoded once only
        {"a%00b", "a"},
        {"%00", ""},
        {"%01", "\x01"},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        // Tight copies: "%" and "%4" at the end must not be read past.
        auto in = test::exactCopy(c.in);
        bool truncated = true;
        EXPECT_EQ(urlEncode(URLMODE_DECODE, in.get(), 100, &truncated), c.out);
        EXPECT_FALSE(truncated);
    }
}

TEST(UrlCodeUrlEncode, RoundTrip) {
    EXPECT_EQ(encoded(URLMODE_ENCODE, "a b/c", 100), "a+b%2Fc");
    EXPECT_EQ(encoded(URLMODE_DECODE, "a+b%2Fc", 100), "a b/c");

    std::string all;
    for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
    EXPECT_EQ(encoded(URLMODE_DECODE, encoded(URLMODE_ENCODE_SCRIPT, all)), all);
}

TEST(UrlCodeUrlEncode, LimitWritesAStartedEscapeWhole) {
    struct {
        int mode;
        const char* in;
        size_t dstsize;
        const char* out;
        bool truncated;
    } const cases[] = {
        {URLMODE_ENCODE, "a b/c", 100, "a+b%2Fc", false},
        {URLMODE_ENCODE, "a b/c", 7, "a+b%2Fc", false},
        {URLMODE_ENCODE, "a b/c", 6, "a+b%2F", true},
        {URLMODE_ENCODE, "a b/c", 4, "a+b%2F", true},
        {URLMODE_ENCODE, "a b/c", 3, "a+b", true},
        {URLMODE_ENCODE, "a b/c", 0, "", true},
        {URLMODE_ENCODE, "", 0, "", false},
        {URLMODE_ENCODE_SCRIPT, "a&&", 2, "a%26", true},
        {URLMODE_ENCODE_SCRIPT, "a&&", 3, "a%26", true},
        {URLMODE_ENCODE_SCRIPT, "a&&", 4, "a%26", true},
        {URLMODE_ENCODE_SCRIPT, "a&&", 5, "a%26%26", false},
        {URLMODE_DECODE, "a%20b", 2, "a ", true},
        {URLMODE_DECODE, "a%20b", 3, "a b", false},
        {URLMODE_DECODE, "ab", 0, "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.in) + " mode " + std::to_string(c.mode) + " size " +
                     std::to_string(c.dstsize));
        bool truncated = !c.truncated;
        EXPECT_EQ(urlEncode(c.mode, c.in, c.dstsize, &truncated), c.out);
        EXPECT_EQ(truncated, c.truncated);
    }
}

TEST(UrlCodeUrlEncode, OtherModeOrNullSourceGivesEmpty) {
    bool truncated = true;
    EXPECT_EQ(urlEncode(3, "a b", 100, &truncated), "");
    EXPECT_FALSE(truncated);
    EXPECT_EQ(urlEncode(-1, "a b", 100), "");
    EXPECT_EQ(urlEncode(URLMODE_ENCODE, nullptr, 100), "");
}

TEST(UrlCodeEncodeURL, QuotesBecomePercent27) {
    struct {
        const char* name;
        std::string in;
        std::string out;
    } const cases[] = {
        {"quote", "it's", "it%27s"},
        {"only quotes coded", "a b/\"c\"%", "a b/\"c\"%"},
        {"empty", "", ""},
        {"fits exactly", std::string(3069, 'a') + "'", std::string(3069, 'a') + "%27"},
        {"escape cut whole", std::string(3070, 'a') + "'b", std::string(3070, 'a')},
        {"escape cut whole, one short", std::string(3071, 'a') + "'", std::string(3071, 'a')},
        {"plain cut", std::string(4000, 'a'), std::string(3072, 'a')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(encodeURL(c.in.c_str()), c.out);
    }
    std::string quotes(4000, '\'');
    std::string expected;
    for (int i = 0; i < 1024; ++i) expected += "%27";
    EXPECT_EQ(encodeURL(quotes.c_str()), expected);
    EXPECT_EQ(encodeURL(nullptr), "");
}

TEST(UrlCodeEncodeLinkValue, CodesOnlyWhatEndsALinkOrScriptValue) {
    struct {
        const char* name;
        std::string in;
        std::string out;
    } const cases[] = {
        {"apostrophe", "'", "%27"},
        {"double quote", "\"", "%22"},
        {"backslash", "\\", "%5C"},
        {"less than", "<", "%3C"},
        {"greater than", ">", "%3E"},
        {"ampersand", "&", "%26"},
        {"percent", "%", "%25"},
        {"plus", "+", "%2B"},
        {"hash", "#", "%23"},
        {"tab", "\t", "%09"},
        {"byte 0x01", "\x01", "%01"},
        {"byte 0x1F", "\x1F", "%1F"},
        {"delete", "\x7F", "%7F"},
        {"blank, slash, bar, colon kept", "a b/c|d:e", "a b/c|d:e"},
        {"bytes from 0x80 kept", "\x80\xC3\xA9\xFF", "\x80\xC3\xA9\xFF"},
        {"other punctuation kept", "=;?{}[]^~!()*,.-_@$", "=;?{}[]^~!()*,.-_@$"},
        {"script breakout", "');alert(1);//", "%27);alert(1);//"},
        {"markup", "<img src=x onerror=alert(1)>", "%3Cimg src=x onerror=alert(1)%3E"},
        {"empty", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(encodeLinkValue(c.in), c.out);
    }
}

TEST(UrlCodeEncodeLinkValue, DecodingGivesTheValueBack) {
    std::mt19937 rng(27);
    std::uniform_int_distribution<int> length(0, 64);
    std::uniform_int_distribution<int> byte(1, 255);  // "%00" would end the decoded text
    for (int i = 0; i < 10000; ++i) {
        std::string value;
        for (int n = length(rng); n > 0; --n) value += static_cast<char>(byte(rng));
        const std::string coded = encodeLinkValue(value);
        ASSERT_EQ(urlEncode(URLMODE_DECODE, coded.c_str(), value.size() + 1), value) << "case " << i;
    }
}

}  // namespace
}  // namespace ruva

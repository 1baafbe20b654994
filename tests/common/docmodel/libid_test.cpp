#include "common/docmodel/libid.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace ruva {
namespace {

// Optional text as the tables write it: nullptr for "no value".
std::optional<std::string> opt(const char* text) {
    return text ? std::optional<std::string>(text) : std::nullopt;
}

struct TextCase {
    const char* name;
    const char* text;
    const char* expected;
};

TEST(LibidGetFromText, TakesTheLastBracketsUpperCasedWithoutBlanks) {
    const TextCase cases[] = {
        {"second of two", "T [en/a b] x [de/xyz r1a]", "DE/XYZR1A"},
        {"one", "My Library R2A [EN/LZN 702 0012 R2A]", "EN/LZN7020012R2A"},
        {"tabs, line feeds and controls go",
         "[a\tb\nc\x01"
         "d]",
         "ABCD"},
        {"Latin-1 upper case", "[sv/\xe5r]", "SV/\xc5R"},
        {"last '[' before the last ']'", "x [ab] y ] z", "AB]Y"},
        {"a '[' after the last ']' is not used", "[ab] [cd", "AB"},
        {"only blanks inside", "[  ]", ""},
        {"empty brackets", "x []", nullptr},
        {"no ']'", "x [ab", nullptr},
        {"no '[' before the ']'", "ab] [", nullptr},
        {"no brackets", "plain title", nullptr},
        {"empty", "", nullptr},
        {"null", nullptr, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(libidGetFromText(c.text), opt(c.expected));
    }
}

struct CodeCase {
    const char* libid;
    const char* slash;  // text from the '/' on, or nullptr
    const char* code;
    const char* orDefault;
};

TEST(LibidLanguageCode, FoundOnlyAsTwoLettersAndSlash) {
    const CodeCase cases[] = {
        {"de/x", "/x", "DE", "DE"},
        {"DE/ABC", "/ABC", "DE", "DE"},
        {"sv/", "/", "SV", "SV"},
        {"ABC", nullptr, nullptr, "EN"},
        {"de", nullptr, nullptr, "EN"},
        {"d1/x", nullptr, nullptr, "EN"},
        {"1d/x", nullptr, nullptr, "EN"},
        {"deu/x", nullptr, nullptr, "EN"},
        {"/de/x", nullptr, nullptr, "EN"},
        {"", nullptr, nullptr, "EN"},
        {nullptr, nullptr, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.libid ? c.libid : "(null)");
        const char* slash = libidFindLanguageCode(c.libid);
        if (c.slash) {
            ASSERT_NE(slash, nullptr);
            EXPECT_EQ(slash, c.libid + 2);
            EXPECT_STREQ(slash, c.slash);
        } else {
            EXPECT_EQ(slash, nullptr);
        }
        EXPECT_EQ(libidGetLanguageCode(c.libid), opt(c.code));
        EXPECT_EQ(libidGetLanguageCodeOrDefault(c.libid), opt(c.orDefault));
    }
}

TEST(LibidIsValidLanguageCode, NeedsTwoLeadingAsciiLetters) {
    EXPECT_EQ(libidIsValidLanguageCode("en"), 1);
    EXPECT_EQ(libidIsValidLanguageCode("EN"), 1);
    EXPECT_EQ(libidIsValidLanguageCode("de-at"), 1);
    EXPECT_EQ(libidIsValidLanguageCode("e"), 0);
    EXPECT_EQ(libidIsValidLanguageCode("e1"), 0);
    EXPECT_EQ(libidIsValidLanguageCode("1"), 0);
    EXPECT_EQ(libidIsValidLanguageCode("\xe5r"), 0);
    EXPECT_EQ(libidIsValidLanguageCode(""), 0);
    EXPECT_EQ(libidIsValidLanguageCode(nullptr), 0);
}

struct SetCase {
    const char* libid;
    const char* code;
    const char* expected;
};

TEST(LibidSetLanguageCode, ReplacesOrDropsThePrefix) {
    const SetCase cases[] = {
        // With a code: the code as given, the rest upper-cased.
        {"DE/ABC", "sv", "sv/ABC"},
        {"de/abc x", "sv", "sv/ABC X"},
        {"abc", "SV", "SV/ABC"},
        {"d1/abc", "sv", "sv/D1/ABC"},
        // Without one: the rest as it was.
        {"DE/ABC", nullptr, "ABC"},
        {"de/abc", nullptr, "abc"},
        {"abc", nullptr, "abc"},
        {nullptr, "sv", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.libid ? c.libid : "(null)") + " + " + (c.code ? c.code : "(null)"));
        EXPECT_EQ(libidSetLanguageCode(c.libid, c.code), opt(c.expected));
    }
}

struct DocCase {
    const char* docid;
    int result;
    size_t start;
    size_t length;
    const char* masked;
    const char* changed;  // code replaced by "sv"
};

TEST(DocidLanguageCode, FindMaskAndChange) {
    const DocCase cases[] = {
        {"1_1553-CXA1234567Uen.R1A.html", 1, 18, 2, "1_1553-CXA1234567U*.R1A.html",
         "1_1553-CXA1234567Usv.R1A.html"},
        {"CXA1234567Ue.R1A.html", 1, 11, 1, "CXA1234567U*.R1A.html", "CXA1234567Usv.R1A.html"},
        {"Uen..html", 1, 1, 2, "U*..html", "Usv..html"},
        {"1_1553-CXA1234567Uabc.R1A.html", 0, 0, 0, "1_1553-CXA1234567Uabc.R1A.html",
         "1_1553-CXA1234567Uabc.R1A.html"},
        {"CXA1234567U.R1A.html", 0, 0, 0, "CXA1234567U.R1A.html", "CXA1234567U.R1A.html"},
        {"CXA1234567uen.R1A.html", 0, 0, 0, "CXA1234567uen.R1A.html", "CXA1234567uen.R1A.html"},
        {"CXA1234567Ue1.html", 0, 0, 0, "CXA1234567Ue1.html", "CXA1234567Ue1.html"},
        // Only the last 'U' of the stem counts.
        {"UenU.html", 0, 0, 0, "UenU.html", "UenU.html"},
        {"AUBUen.html", 1, 4, 2, "AUBU*.html", "AUBUsv.html"},
        // The stem ends at the first '.'.
        {"1Uen.R1A.Ude", 1, 2, 2, "1U*.R1A.Ude", "1Usv.R1A.Ude"},
        {"1.R1A.Uen", 0, 0, 0, "1.R1A.Uen", "1.R1A.Uen"},
        {"CXA1234567Uen", 0, 0, 0, "CXA1234567Uen", "CXA1234567Uen"},
        {"", -1, 0, 0, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.docid);
        size_t start = 99;
        size_t length = 99;
        EXPECT_EQ(docidFindLanguageCode(c.docid, &start, &length), c.result);
        EXPECT_EQ(start, c.start);
        EXPECT_EQ(length, c.length);
        EXPECT_EQ(docidMaskLanguageCode(c.docid), opt(c.masked));
        EXPECT_EQ(docidChangeLanguageCode(c.docid, "sv"), opt(c.changed));
        EXPECT_EQ(docidChangeLanguageCode(c.docid, nullptr), opt(c.docid));
    }
}

TEST(DocidLanguageCode, NullArguments) {
    size_t start = 99;
    size_t length = 99;
    EXPECT_EQ(docidFindLanguageCode(nullptr, &start, &length), -1);
    EXPECT_EQ(start, 0u);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(docidFindLanguageCode("aUen.x", nullptr, &length), -1);
    EXPECT_EQ(docidFindLanguageCode("aUen.x", &start, nullptr), -1);
    EXPECT_EQ(docidMaskLanguageCode(nullptr), std::nullopt);
    EXPECT_EQ(docidChangeLanguageCode(nullptr, "sv"), std::nullopt);
    EXPECT_EQ(docidChangeLanguageCode(nullptr, nullptr), std::nullopt);
}

}  // namespace
}  // namespace ruva

#include "common/docmodel/class_ref_readers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace ruva {
namespace {

using namespace std::string_literals;
using test::exactCopy;

std::string option(const std::string& value, const std::string& text) {
    return "            <option value=\"" + value + "\">" + text + "</option>\n";
}

std::string classes(const std::vector<std::string>& contents) {
    std::string text = "<dec-classes>";
    for (const std::string& c : contents) text += "<dc>" + c + "</dc>";
    return text + "</dec-classes>";
}

size_t countLines(const std::string& text) {
    size_t n = 0;
    for (const char c : text) n += c == '\n';
    return n;
}

TEST(ClassRefReadersDecimalClasses, ExactOptionLines) {
    EXPECT_EQ(parseDecimalClass(
                  "<dec-classes><dc>1553</dc><dc>155 31</dc><dc>4711</dc><dc>0061</DC></dec-classes>"),
              option("15531", "Language Description (155 31)") + option("0061", "Letter (0061)") +
                  option("1553", "User Guide (1553)"));
}

TEST(ClassRefReadersDecimalClasses, WhatIsListed) {
    const struct {
        const char* name;
        std::string text;
        std::string expected;
    } cases[] = {
        {"no list", "<dc>1553</dc>", ""},
        {"opening tag is case-sensitive", "<DEC-CLASSES><dc>1553</dc></DEC-CLASSES>", ""},
        {"only classes without a type", classes({"4711", "0", "", " ", "A12", "INST", "+1553"}), ""},
        {"unlisted class has its range's type", classes({"1999"}),
         option("1999", "Technical Document (1999)")},
        {"blanks and controls dropped from the value", classes({" 15\t53\n"}),
         option("1553", "User Guide ( 15\t53\n)")},
        {"class outside the lists ignored; a later list read",
         "<dec-classes><dc>1553</DC></DEC-CLASSES><dc>0061</dc><dec-classes><dc>15531</dc></dec-classes>",
         option("15531", "Language Description (15531)") + option("1553", "User Guide (1553)")},
        {"list without its end runs to the end of the text", "<dec-classes><dc>1553</dc><dc>0061</dc>",
         option("0061", "Letter (0061)") + option("1553", "User Guide (1553)")},
        {"class without its closing tag ends the list", "<dec-classes><dc>1553</dc><dc>0061",
         option("1553", "User Guide (1553)")},
        {"a closing tag after the list's end is not taken", "<dec-classes><dc>1553</dec-classes></dc>", ""},
        {"NUL ends the text", "<dec-classes><dc>1553</dc>\0<dc>0061</dc>"s,
         option("1553", "User Guide (1553)")},
        {"markup in a class is written as entities", classes({"1553\"><b>"}),
         option("1553&#34;&#62;&#60;b&#62;", "Technical Document (1553&#34;&#62;&#60;b&#62;)")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(parseDecimalClass(c.text), c.expected);
    }
}

TEST(ClassRefReadersDecimalClasses, SortIsCaseBlindAndStable) {
    // strcasecmp puts '_' before letters in either case; a plain byte order
    // would put 'A' first.
    EXPECT_EQ(parseDecimalClass(classes({"1A", "1_"})),
              option("1_", "Technical Document (1_)") + option("1A", "Technical Document (1A)"));
    // Entries that differ only in case keep the order they were read in.
    EXPECT_EQ(parseDecimalClass(classes({"1x", "1X"})),
              option("1x", "Technical Document (1x)") + option("1X", "Technical Document (1X)"));
    EXPECT_EQ(parseDecimalClass(classes({"1X", "1x"})),
              option("1X", "Technical Document (1X)") + option("1x", "Technical Document (1x)"));

    const struct {
        const char* a;
        const char* b;
        int sign;
    } cases[] = {
        {"abc", "ABC", 0}, {"a", "b", -1}, {"B", "a", 1},    {"A_", "Aa", -1},
        {"ab", "abc", -1}, {"", "", 0},    {"\xE9", "a", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
        const int result = sortDecimalClassCallback(c.a, c.b);
        EXPECT_EQ((result > 0) - (result < 0), c.sign);
    }
}

TEST(ClassRefReadersDecimalClasses, AtMost500Entries) {
    std::vector<std::string> list(600, "1553");
    EXPECT_EQ(countLines(parseDecimalClass(classes(list))), 500u);
    // The first 500 read are kept: the later Letter would sort first.
    std::vector<std::string> late(500, "1553");
    late.insert(late.end(), 100, "0061");
    const std::string options = parseDecimalClass(classes(late));
    EXPECT_EQ(countLines(options), 500u);
    EXPECT_EQ(options.find("Letter"), std::string::npos);
}

TEST(ClassRefReadersDecimalClasses, EntryCutAt254) {
    // "User Guide (" is 12 characters and ")" one: 241 characters of class
    // fit in 254, 242 lose the closing parenthesis and with it the option.
    const std::string fits = "1553" + std::string(237, ' ');
    EXPECT_EQ(parseDecimalClass(classes({fits})), option("1553", "User Guide (" + fits + ")"));
    EXPECT_EQ(parseDecimalClass(classes({fits + " "})), "");
    EXPECT_EQ(parseDecimalClass(classes({"1553" + std::string(10000, ' ')})), "");
}

TEST(ClassRefReadersLibRefs, Records) {
    const struct {
        const char* name;
        std::string text;
        std::vector<std::string> expected;
    } cases[] = {
        {"one library",
         "<library-references>\n <library>\n  <prod-no>ABC 123</prod-no>\n  <rstate> R1A\n</rstate>\n"
         "  <title> My  Library </title>\n </library>\n</library-references>",
         {"ABC123|R1A| My  Library "}},
        {"missing rstate stays empty",
         "<library-references><library><prod-no>A</prod-no><title>T1</title></library>"
         "<library><prod-no>B</prod-no><rstate>R2B</rstate><title>T2</title></library></library-references>",
         {"A||T1", "B|R2B|T2"}},
        {"library without its closing tag ends at the next one",
         "<library-references><library><prod-no>A</prod-no>"
         "<library><prod-no>B</prod-no><rstate>R2B</rstate><title>T2</title></library></library-references>",
         {"A||", "B|R2B|T2"}},
        {"element without its closing tag is empty",
         "<library-references><library><prod-no>A</prod-no><rstate>R1A<title>T</title></library>"
         "</library-references>",
         {"A||T"}},
        {"elements in another order",
         "<library-references><library><title>T</title><rstate>R1A</rstate><prod-no>A</prod-no></library>"
         "</library-references>",
         {"A|R1A|T"}},
        {"end of the list in any case",
         "<library-references><library><prod-no>A</prod-no></library></LIBRARY-References>"
         "<library><prod-no>B</prod-no></library>",
         {"A||"}},
        {"list without its end runs to the end of the text",
         "<library-references><library><prod-no>A</prod-no></library><library><prod-no>B</prod-no>",
         {"A||", "B||"}},
        {"libraries before the list are not read",
         "<library><prod-no>X</prod-no></library><library-references><library><prod-no>A</prod-no></library>",
         {"A||"}},
        {"no list", "<library><prod-no>A</prod-no></library>", {}},
        {"list without records", "<library-references></library-references>", {}},
        {"empty text", "", {}},
        {"NUL ends the text",
         "<library-references><library><prod-no>A</prod-no></library>\0<library></library>"s,
         {"A||"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(parseLibRefFile(c.text), c.expected);
    }
}

TEST(ClassRefReadersLibRefs, AtMost127Records) {
    std::string text = "<library-references>";
    for (int i = 0; i < 200; ++i) {
        text += "<library><prod-no>P" + std::to_string(i) +
                "</prod-no><rstate>R1A</rstate><title>T</title></library>";
    }
    text += "</library-references>";
    const std::vector<std::string> records = parseLibRefFile(text);
    ASSERT_EQ(records.size(), 127u);
    EXPECT_EQ(records.front(), "P0|R1A|T");
    EXPECT_EQ(records.back(), "P126|R1A|T");
}

TEST(ClassRefReadersLibRefs, IdentityAndName) {
    const struct {
        const char* record;
        const char* identity;
        const char* name;
    } cases[] = {
        {"ABC123|R1A|", "ABC123R1A", "No Title"},
        {"ABC123|R1A|My Library", "ABC123R1A", "My Library"},
        {"A|B|C|D", "AB", "D"},
        {"A|B", "AB", "B"},
        {"ABC", "ABC", "No Title"},
        {"||", "", "No Title"},
        {"", "", "No Title"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.record);
        std::string identity = "old";
        std::string name = "old";
        EXPECT_EQ(getLibIdNameFromLibRefString(exactCopy(c.record).get(), identity, name), 1);
        EXPECT_EQ(identity, c.identity);
        EXPECT_EQ(name, c.name);
    }
    std::string identity = "old";
    std::string name = "old";
    EXPECT_EQ(getLibIdNameFromLibRefString(nullptr, identity, name), 0);
    EXPECT_EQ(identity, "");
    EXPECT_EQ(name, "");
}

TEST(ClassRefReadersLibRefs, RecordsSplitBack) {
    const std::vector<std::string> records = parseLibRefFile(
        "<library-references><library><prod-no>ABC 123</prod-no><rstate>R1A</rstate><title></title></library>"
        "</library-references>");
    ASSERT_EQ(records.size(), 1u);
    std::string identity;
    std::string name;
    EXPECT_EQ(getLibIdNameFromLibRefString(records[0].c_str(), identity, name), 1);
    EXPECT_EQ(identity, "ABC123R1A");
    EXPECT_EQ(name, "No Title");
}

}  // namespace
}  // namespace ruva

#include "common/chapter_titles.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "tests/support/test_support.h"

namespace ruva {
namespace {

using namespace std::string_literals;

TEST(ChapterTitlesDocTitle, TextBetweenFirstTagEndAndNextTag) {
    struct {
        const char* name;
        std::string in;
        std::optional<std::string> out;
    } const cases[] = {
        {"title element", "<title>User guide</title>", "User guide"},
        {"empty", "<title></title>", ""},
        {"first > then next <", "a<b>c<d>e<", "c"},
        {"no >", "plain text <", std::nullopt},
        {"no < after >", "<title>open", std::nullopt},
        {"< only before >", "<x>", std::nullopt},
        {"NUL ends the text", "<t>ab\0<"s, std::nullopt},
        {"cut at 254", "<t>" + std::string(300, 'w') + "</t>", std::string(254, 'w')},
        {"exactly 254", "<t>" + std::string(254, 'w') + "<", std::string(254, 'w')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto copy = test::exactCopy(c.in);
        EXPECT_EQ(getDocTitle(std::string_view(copy.get(), c.in.size())), c.out);
    }
}

TEST(ChapterTitlesChapter, ReadsNumberTitleAndNodeNames) {
    struct {
        const char* name;
        std::string in;
        const char* title;
        const char* number;
        const char* child;
        const char* parent;
    } const cases[] = {
        {"nested", R"(<a name="CHAPTER2.3.1">Scope <b>and</b> aims</a>)", "Scope and aims", "2.3.1",
         "dfT2_3_1", "dfT2_3"},
        {"top level", R"(<a name="CHAPTER2">Safety</a> more)", "Safety", "2", "dfT2", "dfT"},
        {"dash", R"(<a name="CHAPTER4-1">Annex</a>)", "Annex", "4-1", "dfT4x1", "dfT"},
        {"dash below a dot", R"(<a name="CHAPTER2.3-1">X</a>)", "X", "2.3-1", "dfT2_3x1", "dfT2"},
        {"single quotes", "<a name='CHAPTER5.1'>T</a>", "T", "5.1", "dfT5_1", "dfT5"},
        {"unquoted", "<a name=CHAPTER5.1>T</a>", "T", "5.1", "dfT5_1", "dfT5"},
        {"cases", R"(<A NAME="chapter7">T</A>)", "T", "7", "dfT7", "dfT"},
        {"other attributes", "<a\tclass=\"x\" id='y' Name = \"Chapter3\" href=z>T</a>", "T", "3", "dfT3",
         "dfT"},
        {"number ends at other text", R"(<a name="CHAPTER3_b">T</a>)", "T", "3", "dfT3", "dfT"},
        {"number cut at 20", R"(<a name="CHAPTER1.2.3.4.5.6.7.8.9.10.11">T</a>)", "T", "1.2.3.4.5.6.7.8.9.10",
         "dfT1_2_3_4_5_6_7_8_9_10", "dfT1_2_3_4_5_6_7_8_9"},
        {"empty number", R"(<a name="CHAPTER">T</a>)", "T", "", "", ""},
        {"entities kept", R"(<a name="CHAPTER1">A &amp; B</a>)", "A &amp; B", "1", "dfT1", "dfT"},
        {"empty title", R"(<a name="CHAPTER1"></a>)", "", "1", "dfT1", "dfT"},
        {"no closing anchor", R"(<a name="CHAPTER1">Rest <i>of</i> it)", "Rest of it", "1", "dfT1", "dfT"},
        {"closing anchor any case", R"(<a name="CHAPTER1">T</A>x</a>)", "T", "1", "dfT1", "dfT"},
        {"first name counts", R"(<a name="CHAPTER1" name="CHAPTER2">T</a>)", "T", "1", "dfT1", "dfT"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto copy = test::exactCopy(c.in);
        const auto chapter = getChapterTitleAndNumber(std::string_view(copy.get(), c.in.size()));
        ASSERT_TRUE(chapter.has_value());
        EXPECT_EQ(chapter->title, c.title);
        EXPECT_EQ(chapter->number, c.number);
        EXPECT_EQ(chapter->childHeader, c.child);
        EXPECT_EQ(chapter->parentHeader, c.parent);
    }
}

TEST(ChapterTitlesChapter, NoChapterAnchorGivesNoValue) {
    const std::string cases[] = {
        "",
        "<a",
        R"( <a name="CHAPTER1">T</a>)",
        R"(<abbr name="CHAPTER1">T</abbr>)",
        R"(<a href="#CHAPTER1">T</a>)",
        R"(<a name="TOPIC1">T</a>)",
        R"(<a name="CHAPTE">T</a>)",
        R"(<a title="name=CHAPTER1">T</a>)",
        "<a name=\"CHAPTER1",
        // The value must close inside the tag.
        R"(<a name="CHAPTER1>T</a> <a x=">)",
        R"(<p><a name="CHAPTER1">T</a>)",
    };
    for (const std::string& in : cases) {
        SCOPED_TRACE(in);
        EXPECT_FALSE(getChapterTitleAndNumber(in).has_value());
    }
    // A NUL inside the tag ends the text before the tag ends.
    EXPECT_FALSE(getChapterTitleAndNumber("<a name=\"CHAPTER1\"\0>T</a>"s).has_value());
}

TEST(ChapterTitlesChapter, NulEndsTheTitle) {
    const std::string in = "<a name=\"CHAPTER1\">T\0x</a>"s;
    const auto chapter = getChapterTitleAndNumber(in);
    ASSERT_TRUE(chapter.has_value());
    EXPECT_EQ(chapter->title, "T");
}

TEST(ChapterTitlesChapter, TitleIsCutAt256Characters) {
    const std::string words = std::string(150, 'a') + "<b>" + std::string(150, 'b') + "</b>";
    const auto chapter = getChapterTitleAndNumber("<a name=\"CHAPTER9\">" + words + "</a>");
    ASSERT_TRUE(chapter.has_value());
    EXPECT_EQ(chapter->title, std::string(150, 'a') + std::string(106, 'b'));
}

TEST(ChapterTitlesChapter, NodeNamesAreOneToOne) {
    const char* numbers[] = {"1", "1.1", "1-1", "11", "1.1.1", "1-1.1", "1.1-1", "1..1", "1.-1", "1-.1"};
    std::set<std::string> seen;
    for (const char* number : numbers) {
        const auto chapter = getChapterTitleAndNumber(std::string("<a name=\"CHAPTER") + number + "\">T</a>");
        ASSERT_TRUE(chapter.has_value());
        EXPECT_TRUE(seen.insert(chapter->childHeader).second) << number;
    }
}

TEST(ChapterTitlesSortTopic, OrdersPairsByChapterNumber) {
    struct {
        const char* name;
        const char* in;
        const char* out;
    } const cases[] = {
        {"daemon form", R"("INSTALLATION|10.1|" | "SAFETY|2.10|" | "SCOPE|2.3|")",
         "SCOPE|2.3|SAFETY|2.10|INSTALLATION|10.1|"},
        {"normalised form", "SAFETY|2.10|SCOPE|2.3|", "SCOPE|2.3|SAFETY|2.10|"},
        {"levels by value, prefix first", "T|10|A|2.10|B|2|C|2.1|", "B|2|C|2.1|A|2.10|T|10|"},
        {"equal numbers stay in order", "B|3|A|3|C|1|", "C|1|B|3|A|3|"},
        {"leading zeros compare by value", "Z|02|Y|2|X|1|", "X|1|Z|02|Y|2|"},
        {"long digit runs", "B|123456789012345678901|A|99|", "A|99|B|123456789012345678901|"},
        {"remainder compares as text", "B|4-2|A|4-10|C|4|", "C|4|A|4-10|B|4-2|"},
        {"rest items dropped", R"("A|3|x y" | "B|1|z")", "B|1|A|3|"},
        {"number without title", "|2|A|1|", "A|1||2|"},
        {"blanks trimmed", "  Scope and aims | 2 |Safety|1", "Safety|1|Scope and aims|2|"},
        {"escaped quote removed", R"("SAY \"HI\"|2|" | "A|1|")", "A|1|SAY HI|2|"},
        {"single pair", R"("ONLY|1|")", "ONLY|1|"},
        {"no number: unchanged", R"("A|B|" | "C")", R"("A|B|" | "C")"},
        {"empty", "", ""},
        {"number item needs only digits, dots, dashes", "A|2a|B|1|", "B|1|"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(sortTopicTitle(c.in), c.out);
    }
}

}  // namespace
}  // namespace ruva

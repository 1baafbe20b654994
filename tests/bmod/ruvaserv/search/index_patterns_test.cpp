#include "bmod/ruvaserv/search/index_patterns.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "bmod/ruvaserv/search/pattern_prep.h"
#include "bmod/ruvaserv/search/search_functions.h"
#include "common/eucjp.h"
#include "common/search_expr.h"
#include "common/url_code.h"
#include "tests/bmod/ruvaserv/cgi/request_support.h"

namespace ruva {
namespace {

const std::string kAgain = "\xa1\xb9";  // 々, an EUC-JP letter (python3's euc_jp)

class IndexPatterns : public ::testing::Test {
protected:
    void SetUp() override {
        sd_ = newSearchData();
        ASSERT_TRUE(sd_);
        sf_ = newSearchFunctions(*sd_, *req_);
        ASSERT_TRUE(sf_);
    }

    // The loop's road to an index: the field as the request parser stored
    // it, EUC-JP symbols separated, the phrase quotes taken.
    std::string road(const char* field, const std::string& value) {
        const std::string query = std::string(field) + "=" + encodeLinkValue(value);
        EXPECT_EQ(req_->parseCgiInput(query.c_str(), query.size(), '&'), 1);
        const Value* stored = req_->valueList->findValue(field);
        std::string pattern = separateCharacters(stored ? stored->value.c_str() : "");
        EXPECT_EQ(preparePhraseSearch(pattern, sd_->isPhraseSearch, *sf_), 1) << sf_->getError();
        return pattern;
    }

    test::CapturedRequest req_;
    std::unique_ptr<SearchData> sd_;
    std::unique_ptr<SearchFunctions> sf_;
};

TEST_F(IndexPatterns, EachTypeHasItsIndexFieldsAndClass) {
    struct Case {
        KivoSearchType type;
        const char* index;
        const char* formField;
        const char* classNo;
    } const cases[] = {
        {OST_2AI, "fulltext.qxx", "PA", "15518"},     {OST_ADI, "fulltext.qxx", "PA", "15542"},
        {OST_POD, "fulltext.qxx", "PA", "19083"},     {OST_COD, "fulltext.qxx", "PA", "19082"},
        {OST_MAN, "fulltext.qxx", "PA", "19080"},     {OST_OPI, "fulltext.qxx", "PA", "15431"},
        {OST_CTW, "ctw.qxx", "PAC", nullptr},         {OST_TITLE, "title.qxx", "PAT", nullptr},
        {OST_FOLTITLE, "folder.qxx", "PAT", nullptr}, {OST_TOPICTITLE, "topictitle.qxx", "PA", nullptr},
        {OST_DOCNO, "docno.qxx", "PAD", nullptr},     {OST_BODYTEXT, "fulltext.qxx", "PA", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.index);
        const IndexOfType* row = indexOfType(c.type);
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(row->type, c.type);
        EXPECT_STREQ(row->index, c.index);
        EXPECT_STREQ(row->field, "PA");
        EXPECT_STREQ(row->formField, c.formField);
        if (c.classNo == nullptr)
            EXPECT_EQ(row->classNo, nullptr);
        else
            EXPECT_STREQ(row->classNo, c.classNo);
    }
    for (KivoSearchType none : {OST_UNKNOWN, OST_COMBINED, OST_KEYWORD_LOGICAL, OST_TITLE | OST_FOLTITLE})
        EXPECT_EQ(indexOfType(none), nullptr);
}

TEST_F(IndexPatterns, SearchFieldNormalised) {
    struct Case {
        std::string pa;
        std::string want;
    } const cases[] = {
        {"  --abc", "abc"},
        {"abc +", "abc"},
        {"abc -  ", "abc"},
        {"a  b", "a b"},
        {"a**b", "a*b"},
        {"a||b", "a|b"},
        {"a--b", "a-b"},
        {"+abc", "abc"},
        {"a ++", "a"},
        {"a &", "a"},
        {"a&", "a&"},
        {"(a)", "(a)"},
        {"\"a b\"", "\"a b\""},
        {"?x", "?x"},
        {"**x", "*x"},
        {"--", ""},
        {"", ""},
        {", x", "x"},
        // Japanese text is a word too, not junk before one.
        {"  " + kAgain + " abc", kAgain + " abc"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pa);
        EXPECT_EQ(normaliseSearchField(c.pa), c.want);
    }
}

TEST_F(IndexPatterns, PreparedPerIndex) {
    struct Case {
        const char* name;
        const char* index;
        const char* ST;
        std::string pa;
        bool external;
        bool llf;
        std::string want;
        std::optional<std::string> shown;
        std::string SearchData::*kept;
    } const cases[] = {
        {"body text",
         "fulltext.qxx",
         "FULLTEXT",
         "install",
         false,
         false,
         "install",
         {},
         &SearchData::searchPatBodyText},
        {"body text operators",
         "fulltext.qxx",
         "FULLTEXT",
         "a +b -c",
         false,
         false,
         "a&(b&!c)",
         {},
         &SearchData::searchPatBodyText},
        {"body text phrase",
         "fulltext.qxx",
         "FULLTEXT",
         "\"a+b c\"",
         false,
         false,
         "a&b&c",
         {},
         &SearchData::searchPatBodyText},
        {"title",
         "title.qxx",
         "TITLE",
         "install",
         false,
         false,
         "*install*",
         {},
         &SearchData::searchPatTitle},
        {"title phrase keeps its plus",
         "title.qxx",
         "TITLE",
         "\"a+b c\"",
         false,
         false,
         "*a*+*b*&*c*",
         {},
         &SearchData::searchPatTitle},
        {"title grouped",
         "title.qxx",
         "TITLE",
         "a b|c",
         false,
         false,
         "*a*&(*b*|*c*)",
         {},
         &SearchData::searchPatTitle},
        {"title with LLF not grouped",
         "title.qxx",
         "TITLE",
         "a b|c",
         false,
         true,
         "*a*&*b*|*c*",
         {},
         &SearchData::searchPatTitle},
        {"title external",
         "title.qxx",
         "TITLE",
         "install",
         true,
         false,
         "install",
         {},
         &SearchData::searchPatTitle},
        {"folder", "folder.qxx", "TITLE", "install", false, false, "*install*", "install",
         &SearchData::searchPatFolTitle},
        {"folder external", "folder.qxx", "TITLE", "install", true, false, "*install*", "install",
         &SearchData::searchPatFolTitle},
        {"topic title",
         "topictitle.qxx",
         "FULLTEXT",
         "install",
         false,
         false,
         "*install*",
         {},
         &SearchData::searchPatTopicTitle},
        {"topic title external",
         "topictitle.qxx",
         "FULLTEXT",
         "install",
         true,
         false,
         "install",
         {},
         &SearchData::searchPatTopicTitle},
        {"docno in a combined search",
         "docno.qxx",
         "FULLTEXT",
         "install",
         false,
         false,
         "*install*",
         {},
         &SearchData::searchPatDocNo},
        {"docno slash",
         "docno.qxx",
         "FULLTEXT",
         "a/b",
         false,
         false,
         "*a_b*",
         {},
         &SearchData::searchPatDocNo},
        {"docno external",
         "docno.qxx",
         "FULLTEXT",
         "install",
         true,
         false,
         "install",
         {},
         &SearchData::searchPatDocNo},
        {"document search by number",
         "docno.qxx",
         "DOCSEARCH",
         "1551-ABC123 R1A",
         false,
         false,
         "*1551-ABC123*&(*R1A*)*",
         {},
         &SearchData::searchPatDocNo},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string pattern = road("PA", c.pa);
        const IndexPatternRequest request{c.ST, "", std::nullopt, c.external, c.llf};
        std::optional<std::string> shown = "stale";
        ASSERT_EQ(prepareIndexPattern(*sf_, c.index, request, pattern, shown), 1) << sf_->getError();
        EXPECT_EQ(pattern, c.want);
        EXPECT_EQ(shown, c.shown);
        EXPECT_EQ((*sd_).*c.kept, c.want);
        // The clean-up's phrase step belongs to the full-text group.
        EXPECT_EQ(sf_->cleanupPhrase,
                  std::string_view(c.index) == "fulltext.qxx" && sd_->isPhraseSearch == 1);
    }
}

// ST=DOCNO&PA=1551 ABC 123 R1A: grouping runs before the revision mark.
TEST_F(IndexPatterns, DocumentNumberRoadStepByStep) {
    const std::string field = road("PA", "1551 ABC 123 R1A");
    ASSERT_EQ(sd_->isPhraseSearch, 0u);

    std::string p = field;
    removeSpacesExceptLast(p);
    EXPECT_EQ(p, "1551ABC123 R1A");
    p = paranthesisPattern(operatorPlusMinusSupport(p));
    EXPECT_EQ(p, "1551ABC123 (R1A)");
    const std::string shownHere = p;
    EXPECT_EQ(handleDocnoRev(p), 1);
    p += '*';
    EXPECT_EQ(p, "1551ABC123*(R1A)*");
    ASSERT_EQ(srchPattCleanup(p, {}, *sf_), 1);
    EXPECT_EQ(p, "1551ABC123*&(R1A)*");

    std::string pattern = field;
    std::optional<std::string> shown;
    const IndexPatternRequest request{"DOCNO", "", std::nullopt, false, false};
    ASSERT_EQ(prepareIndexPattern(*sf_, "docno.qxx", request, pattern, shown), 1);
    // ST DOCNO: shown before the mark, and not completed.
    EXPECT_EQ(pattern, p);
    EXPECT_EQ(shown, shownHere);
    EXPECT_EQ(sd_->searchPatDocNo, p);
}

TEST_F(IndexPatterns, CatchwordRoad) {
    struct Case {
        const char* name;
        std::string pa;
        const char* DO;
        std::optional<std::string> ORPA;
        std::string want;
        uint32_t phraseAfter;
    } const cases[] = {
        {"one alternative with a shared word", "a|b c", "", {}, R"("*a c*" | "*b c*")", 0},
        {"shared word in front", "x a|b", "", {}, R"("*x a*" | "*x b*")", 0},
        {"two grouped alternatives", "(a|b) (c|d)", "", {}, R"("*a c*" | "*a d*" | "*b c*" | "*b d*")", 0},
        {"two alternatives joined by and",
         "(a|b)&(c|d)",
         "",
         {},
         R"("*a c*" | "*a d*" | "*b c*" | "*b d*")",
         0},
        {"alternatives alone", "a|b", "", {}, "a*|b*", 0},
        {"words", "a b", "", {}, R"("*a b*")", 0},
        {"plus word", "a +b", "", {}, R"("*a b*")", 0},
        {"phrase of plain words", "\"a b\"", "", {}, R"("a b")", 0},
        {"phrase with a separator", "\"a.b c\"", "", {}, "a* b* c*", 1},
        {"class document wildcard", "ab*", "COD", {}, "ab*", 0},
        {"class document word", "ab", "MAN", {}, "ab*", 0},
        {"one word", "install", "", {}, "install*", 0},
        {"wildcard", "boot*", "", {}, "boot*", 0},
        {"minus word", "a -b", "", {}, "a*&!b*", 0},
        {"grouped alternatives from ORPA", "x (a|b) (c|d)", "", "x (a|b) (c|d)", R"("*x (a|b) (c|d)*")", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string pattern = road("PA", c.pa);
        const IndexPatternRequest request{"CATCHWORD", c.DO, c.ORPA, false, false};
        ASSERT_EQ(prepareCatchwordPattern(*sf_, request, pattern), 1) << sf_->getError();
        EXPECT_EQ(pattern, c.want);
        EXPECT_EQ(sd_->isPhraseSearch, c.phraseAfter);
        EXPECT_EQ(sd_->searchPatCtw, c.want);
        EXPECT_FALSE(sf_->kwd_check);
    }
}

// "a|b c" through its rule: grouping gone, keyword clean-up, then written out.
TEST_F(IndexPatterns, CatchwordAlternativeStepByStep) {
    std::string p = road("PA", "(a|b)  c");
    p = operatorPlusMinusSupport(p);
    std::erase_if(p, [](char c) { return c == '(' || c == ')'; });
    EXPECT_EQ(p, "a|b  c");
    ASSERT_EQ(srchPattCleanup(p, {true, false}, *sf_), 1);
    EXPECT_EQ(p, "a|b c");
    EXPECT_EQ(keywordProcessing_oneExpandableword(p), R"("*a c*" | "*b c*")");

    std::string pattern = road("PA", "(a|b)  c");
    ASSERT_EQ(prepareCatchwordPattern(*sf_, {"CATCHWORD", "", std::nullopt, false, false}, pattern), 1);
    EXPECT_EQ(pattern, R"("*a c*" | "*b c*")");
}

TEST_F(IndexPatterns, FailuresSetTheirMessage) {
    const std::string tooLong = getMsgStr(97, "SearchFunctions/2");
    const std::string invalid = getMsgStr(98, nullptr);
    std::string spaced = "x";
    while (spaced.size() < 1023) spaced += " y";
    struct Case {
        const char* name;
        const char* index;  // ctw.qxx: the catchword rules
        const char* ST;
        std::string pattern;
        uint32_t phrase;
        std::string error;
    } const cases[] = {
        {"1024 characters", "title.qxx", "TITLE", std::string(1024, 'a'), 0, tooLong},
        {"1024 characters of catchword", "ctw.qxx", "CATCHWORD", std::string(1024, 'a'), 0, tooLong},
        {"grouping grows past 1023", "fulltext.qxx", "FULLTEXT", spaced, 0, tooLong},
        {"revision mark reaches 1024", "docno.qxx", "DOCNO", std::string(1019, 'A') + " R1A", 1, tooLong},
        {"enclosed words reach 1024", "ctw.qxx", "CATCHWORD", std::string(1018, 'a') + " b", 0, tooLong},
        {"quoted phrase reaches 1024", "ctw.qxx", "CATCHWORD", std::string(1020, 'a') + " b", 1, tooLong},
        {"unknown index", "other.qxx", "TITLE", "a", 0, tooLong},
        {"open parenthesis", "title.qxx", "TITLE", "(a", 0, invalid},
        {"open parenthesis of catchword", "ctw.qxx", "CATCHWORD", "(a b", 0, invalid},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sf_->setError(nullptr);
        sd_->isPhraseSearch = c.phrase;
        std::string pattern = c.pattern;
        std::optional<std::string> shown;
        const IndexPatternRequest request{c.ST, "", std::nullopt, false, false};
        const int result = std::string_view(c.index) == "ctw.qxx"
                               ? prepareCatchwordPattern(*sf_, request, pattern)
                               : prepareIndexPattern(*sf_, c.index, request, pattern, shown);
        EXPECT_EQ(result, 0);
        EXPECT_EQ(sf_->getError(), c.error);
        EXPECT_FALSE(sf_->kwd_check);
    }
    // One less fits.
    std::string fits = std::string(1017, 'a') + " b";
    ASSERT_EQ(prepareCatchwordPattern(*sf_, {"CATCHWORD", "", std::nullopt, false, false}, fits), 1);
    EXPECT_EQ(fits.size(), 1023u);
}

}  // namespace
}  // namespace ruva

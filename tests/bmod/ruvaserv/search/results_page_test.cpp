#include "bmod/ruvaserv/search/search_result_fmt.h"

#include <gtest/gtest.h>

#include <string>

#include "bmod/ruvaserv/search/results_scripts.h"
#include "tests/bmod/ruvaserv/cgi/request_support.h"

namespace ruva {
namespace {

TEST(ResultsPage, FormatterStartsGroupedWithThisProgramsRevision) {
    test::CapturedRequest req;
    std::unique_ptr<SearchData> sd = newSearchData();
    ASSERT_TRUE(sd);
    std::unique_ptr<SearchResultFmt> fmt = newSearchResultFmt(*sd, *req, SRSO_SRCHTYPE);
    ASSERT_TRUE(fmt);
    EXPECT_EQ(fmt->sortSettings.searchtypeNeeded, 1);
    EXPECT_EQ(std::string(fmt->edition.revision), "R19K");
}

TEST(ResultsPage, ScriptsAreCompiledIn) {
    EXPECT_FALSE(resultsPageScriptFile().empty());
    EXPECT_FALSE(loadingPageScriptFile().empty());
    EXPECT_FALSE(collectionSearchScriptFile().empty());
}

}  // namespace
}  // namespace ruva

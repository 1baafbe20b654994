#include "bmod/ruvaserv/search/search_result_fmt.h"

#include <gtest/gtest.h>

#include "tests/bmod/ruvaserv/cgi/request_support.h"

namespace ruva {
namespace {

TEST(NoMatchPage, FormatterStartsWithoutLookups) {
    test::CapturedRequest req;
    std::unique_ptr<SearchData> sd = newSearchData();
    ASSERT_TRUE(sd);
    std::unique_ptr<SearchResultFmt> fmt = newSearchResultFmt(*sd, *req, SRSO_DEFAULT);
    ASSERT_TRUE(fmt);
    EXPECT_EQ(fmt->lookups.size(), 0u);
}

}  // namespace
}  // namespace ruva

#include "bmod/ruvaserv/search/search_type.h"

#include <gtest/gtest.h>

namespace ruva {
namespace {

TEST(SearchType, NewSearchDataStartsWithAndAndNoType) {
    std::unique_ptr<SearchData> sd = newSearchData();
    ASSERT_TRUE(sd);
    EXPECT_EQ(sd->srchTypeBoolOperation, STYPE_AND);
    EXPECT_EQ(sd->searchType, 0u);
    EXPECT_EQ(sd->searchScope, OSS_UNKNOWN);
}

}  // namespace
}  // namespace ruva

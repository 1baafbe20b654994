#include "bmod/ruvaserv/search/result_sort.h"

#include <gtest/gtest.h>

namespace ruva {
namespace {

TEST(HitSortSettings, StartGroupedAscendingByTitle) {
    HitSortSettings settings;
    EXPECT_EQ(settings.desOrder, 0);
    EXPECT_EQ(settings.searchtypeNeeded, 1);
    EXPECT_EQ(settings.base, "TITLE");
}

}  // namespace
}  // namespace ruva

#include "bmod/ruvaserv/search/result_prepare.h"

#include <gtest/gtest.h>

namespace ruva {
namespace {

TEST(ShownCount, SaturatesAtIntMax) {
    EXPECT_EQ(shownCount(0), 0);
    EXPECT_EQ(shownCount(kShownCountMax), 2147483647);
    EXPECT_EQ(shownCount(348LL * 4294967295LL), 2147483647);
}

}  // namespace
}  // namespace ruva

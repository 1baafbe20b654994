#include "bmod/ruvaserv/search/pattern_display.h"

#include <gtest/gtest.h>

namespace ruva {
namespace {

TEST(PatternDisplay, EmptyPatternHasNoWords) {
    EXPECT_EQ(filterPattern(""), "");
}

}  // namespace
}  // namespace ruva

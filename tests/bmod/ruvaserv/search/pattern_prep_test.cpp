#include "bmod/ruvaserv/search/pattern_prep.h"

#include <gtest/gtest.h>

namespace ruva {
namespace {

TEST(PatternPrep, ModesStartOff) {
    const CleanupMode mode;
    EXPECT_FALSE(mode.keyword);
    EXPECT_FALSE(mode.phrase);
}

}  // namespace
}  // namespace ruva

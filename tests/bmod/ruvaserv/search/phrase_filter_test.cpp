#include "bmod/ruvaserv/search/phrase_filter.h"

#include <gtest/gtest.h>

namespace ruva {
namespace {

TEST(PhraseFilter, ModeStartsOff) {
    const PhraseFilterMode mode;
    EXPECT_FALSE(mode.documentSearch);
    EXPECT_FALSE(mode.contexts);
}

}  // namespace
}  // namespace ruva

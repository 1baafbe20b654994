// The library's frameset page: its script values, frames and the follow-up
// request of setLowerFrame.
#include <gtest/gtest.h>

#include "bmod/ruvaserv/actions/action_scripts.h"

namespace ruva {
namespace {

TEST(MainPageAction, ScriptIsCompiledIn) {
    EXPECT_TRUE(mainPageScriptFile().starts_with("//"));
}

}  // namespace
}  // namespace ruva

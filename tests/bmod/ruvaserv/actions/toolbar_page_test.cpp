// The toolbar frame's page and the library drop-down.
#include <gtest/gtest.h>

#include "bmod/ruvaserv/actions/action_scripts.h"

namespace ruva {
namespace {

TEST(ToolbarPage, ScriptAndStylesAreCompiledIn) {
    EXPECT_FALSE(toolbarScriptFile().empty());
    EXPECT_TRUE(toolbarStyleFile().starts_with("/*"));
}

}  // namespace
}  // namespace ruva

// CONREF: the fragment's exact bytes and the IDRETR line sent.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/bmod/ruvaserv/actions/action_test_support.h"

namespace ruva {
namespace {

using test::ActionRequest;

// The style-sheet addresses come from the request's environment, which is
// put back when the request ends.
TEST(TopicContent, EnvironmentLastsForTheRequest) {
    const std::optional<std::string> before = test::envValue("HTTP_HOST");
    {
        ActionRequest cg({.env = {{"HTTP_HOST", "docs.example"}, {"SCRIPT_NAME", std::nullopt}}});
        ASSERT_TRUE(cg.ok());
        EXPECT_EQ(test::envValue("HTTP_HOST"), "docs.example");
        EXPECT_EQ(std::getenv("SCRIPT_NAME"), nullptr);
    }
    EXPECT_EQ(test::envValue("HTTP_HOST"), before);
}

}  // namespace
}  // namespace ruva

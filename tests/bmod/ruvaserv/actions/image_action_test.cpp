// IMAGE run in process: the header lines and the member's bytes on the CGI
// output.
#include <gtest/gtest.h>

#include "tests/bmod/ruvaserv/actions/action_test_support.h"

namespace ruva {
namespace {

using test::ActionRequest;

// The request's session talks to the scripted server.
TEST(ImageAction, RequestSessionReachesTheScriptedServer) {
    ActionRequest cg({.replies = {test::verLine()}});
    ASSERT_TRUE(cg.ok());
    EXPECT_EQ(cg->establishDefaultSession(), 1);
    EXPECT_EQ(cg.sent(), "VER\n");
}

}  // namespace
}  // namespace ruva

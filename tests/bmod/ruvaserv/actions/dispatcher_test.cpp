// The word table: which operation each AC word reaches, with the fields
// and bits its preparation leaves.
#include <gtest/gtest.h>

#include "tests/bmod/ruvaserv/actions/action_test_support.h"

namespace ruva {
namespace {

using test::ActionRequest;
using test::RecordingKivoHandler;

TEST(Dispatcher, LinkReachesTheLinkOperationWithoutOption40) {
    ActionRequest cg({.fields = {{"ID", "12"}, {"FN", "a.html"}}});
    ASSERT_TRUE(cg.ok());
    cg->options = 0x41;
    auto& kh = cg.useHandler<RecordingKivoHandler>();
    EXPECT_EQ(kh.entry("link"), 1);
    EXPECT_EQ(kh.operations(), "linkAction");
    EXPECT_EQ(kh.calls[0].options, 0x1u);
    EXPECT_EQ(kh.calls[0].field("fn"), "a.html");
    EXPECT_EQ(cg.written(), "");
}

}  // namespace
}  // namespace ruva

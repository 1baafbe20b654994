// INFO in process: the META cells, the charset and the error pages.
#include <gtest/gtest.h>

#include "tests/bmod/ruvaserv/actions/action_test_support.h"

namespace ruva {
namespace {

using test::ActionRequest;

TEST(InfoPage, PageIsTheDocumentBuffer) {
    ActionRequest cg;
    ASSERT_TRUE(cg.ok());
    EXPECT_EQ(cg.page(), "");
    ASSERT_EQ(cg->allocDocBuf(64), 1);
    cg->docSize = 0;
    ASSERT_EQ(cg->docPrintf("<p>%s</p>", "x"), 1);
    EXPECT_EQ(cg.page(), "<p>x</p>");
}

}  // namespace
}  // namespace ruva

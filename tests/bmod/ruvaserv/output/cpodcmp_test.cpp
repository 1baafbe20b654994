#include "bmod/ruvaserv/output/cpodcmp.h"

#include <gtest/gtest.h>

#include "tests/bmod/ruvaserv/cgi/request_support.h"

namespace ruva {
namespace {

TEST(CPodCmp, StartsWithoutResults) {
    test::CapturedRequest req;
    auto cp = NewCPodCmp(*req);
    ASSERT_NE(cp, nullptr);
    EXPECT_EQ(cp->getResultsSize(), 0u);
    EXPECT_EQ(cp->findResult("1"), nullptr);
    EXPECT_EQ(cp->getError(), "");
}

}  // namespace
}  // namespace ruva

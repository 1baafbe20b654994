#include "bmod/ruvaserv/output/kvosrvcompare.h"

#include <gtest/gtest.h>

namespace ruva {
namespace {

TEST(KvoSrvCompare, KeepsItsFlags) {
    auto ksc = newKvoSrvCompare(0x12);
    ASSERT_NE(ksc, nullptr);
    EXPECT_EQ(ksc->flags, 0x12);
}

}  // namespace
}  // namespace ruva

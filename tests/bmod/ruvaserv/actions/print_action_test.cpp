// PRINT in process: the print command's line, the filter's result and the
// print file's life.
#include <gtest/gtest.h>

#include "tests/bmod/ruvaserv/actions/action_test_support.h"

namespace ruva {
namespace {

using test::ActionRequest;
using test::RecordingKivoHandler;

TEST(PrintAction, RecorderNamesThePaperSize) {
    ActionRequest cg;
    ASSERT_TRUE(cg.ok());
    auto& kh = cg.useHandler<RecordingKivoHandler>();
    kh.result = 0;
    EXPECT_EQ(kh.locationPrint(PSIZE_US), 0);
    EXPECT_EQ(kh.locationPrint(PSIZE_A4), 0);
    EXPECT_EQ(kh.operations(), "locationPrint(PSIZE_US) locationPrint(PSIZE_A4)");
}

}  // namespace
}  // namespace ruva

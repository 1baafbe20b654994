#include "bmod/ruvaserv/output/compare.h"

#include <gtest/gtest.h>

#include "bmod/ruvaserv/output/htmloutput.h"
#include "bmod/ruvaserv/output/kvooutput.h"
#include "tests/bmod/ruvaserv/cgi/request_support.h"

namespace ruva {
namespace {

TEST(SdiCompare, StartsWithTheInitialReportState) {
    test::CapturedRequest req;
    KvoOutput ao(0);
    ao.kvoSetOutput(req.get(), KVO_OUT_INTERNAL);
    auto fmt = newKvoHtmlFormat(&ao);
    ASSERT_NE(fmt, nullptr);
    auto sc = newSdiCompare(*fmt);
    ASSERT_NE(sc, nullptr);
    EXPECT_EQ(sc->report.rl_type, '0');
    EXPECT_EQ(sc->report.rl_status, '0');
    EXPECT_EQ(sc->report.rl_pair, 0);
    EXPECT_EQ(sc->report.rl_rowNum, 48);
    EXPECT_EQ(sc->documentType, 0u);
}

}  // namespace
}  // namespace ruva

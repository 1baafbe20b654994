// SEARCH and SEARCHEXT: the fields, cookies and replies in, the fields, the
// operation and the lines sent out.
#include <gtest/gtest.h>

#include "common/cookie.h"
#include "tests/bmod/ruvaserv/actions/action_test_support.h"

namespace ruva {
namespace {

using test::ActionRequest;

// The cookies the defaults are taken from are the request's own.
TEST(SearchArguments, CookiesAreTheRequests) {
    {
        ActionRequest cg({.fields = {{"MT", "2"}}, .cookies = "showAllTitles=0; showContext=1"});
        ASSERT_TRUE(cg.ok());
        EXPECT_EQ(getcookieforpn("showAllTitles"), "0");
        EXPECT_EQ(cg.value("MT"), "2");
    }
    ActionRequest none;
    EXPECT_EQ(getcookieforpn("showAllTitles"), std::nullopt);
}

}  // namespace
}  // namespace ruva

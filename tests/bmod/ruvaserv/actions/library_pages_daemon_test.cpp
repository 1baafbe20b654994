// A library's start page by name against the daemon: the name completed to
// a library file, the member fetched, and the daemon's refusals.
#include <gtest/gtest.h>

#include <string>

#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "tests/bmod/ruvaserv/actions/action_pages_daemon.h"

namespace ruva::test {
namespace {

TEST_F(ActionPagesDaemon, DatabaseMainPageServesTheLibrarysIndex) {
    const std::string noIndex = formatChecked(msgFormat(58, "kivohandler/43"), "noindex.kvo");
    struct {
        const char* value;
        std::string page;   // a part of the page served; "" when it fails
        std::string error;  // the request's error text on failure
    } const cases[] = {
        {"lib", "<h1>Plain lib</h1>", ""},
        {"UPPER.KVO", "<h1>Upper case</h1>", ""},
        // Digits are a hash id, not a file name: none is this high.
        {"99999", "", formatChecked(msgFormat(57, "kivohandler/42"), "99999", "Invalid ID 99999")},
        // A dot keeps the name as it is, so a.b.kvo is not asked for.
        {"a.b", "", formatChecked(msgFormat(58, "kivohandler/43"), "a.b")},
        {"noindex", "", formatChecked(msgFormat(58, "kivohandler/43"), "noindex")},
        {"noindex.kvo", "", noIndex},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        auto r = request({});
        const int result = r->handler().outputDatabaseMainPage(c.value);
        if (c.page.empty()) {
            EXPECT_EQ(result, 0);
            EXPECT_EQ((*r)->getError(), c.error);
        } else {
            ASSERT_EQ(result, 1) << (*r)->getError();
            EXPECT_NE(r->page().find(c.page), std::string::npos) << r->page();
        }
    }
}

}  // namespace
}  // namespace ruva::test

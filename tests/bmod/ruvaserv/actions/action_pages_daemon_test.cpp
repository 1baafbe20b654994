// The page cases' harness against the daemon: the folder's libraries are
// listed, a request reaches a member, and a request leaves no descriptor
// open behind it.
#include <gtest/gtest.h>

#include <string>

#include "tests/bmod/ruvaserv/actions/action_pages_daemon.h"

namespace ruva::test {
namespace {

TEST_F(ActionPagesDaemon, ListsTheFolderAndServesAMemberWithoutLeaks) {
    for (const char* name : {"start.kvo", "lib.kvo", "99999.kvo", "a.b.kvo", "noindex.kvo", "UPPER.KVO", "alp_en.kvo",
                             "alp_sv.kvo", "gam.kvo", "nobrack.kvo"}) {
        EXPECT_FALSE(id(name).empty()) << name;
    }
    const size_t before = openDescriptors();
    {
        auto r = request({{"DB", "lib.kvo"}, {"FN", "index.html"}});
        ASSERT_EQ((*r)->establishDefaultSession(), 1) << (*r)->getError();
        EXPECT_EQ(r->server(), address());
        std::string file = "index.html";
        ASSERT_EQ((*r)->retrieveFile("lib.kvo", file), 1) << (*r)->getError();
        EXPECT_NE(r->page().find("<h1>Plain lib</h1>"), std::string::npos) << r->page();
        EXPECT_EQ(r->value("DB"), "lib.kvo");
    }
    EXPECT_EQ(openDescriptors(), before);
}

}  // namespace
}  // namespace ruva::test

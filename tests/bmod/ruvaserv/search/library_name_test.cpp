#include "bmod/ruvaserv/search/library_name.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "tests/bmod/ruvaserv/cgi/request_support.h"

namespace ruva {
namespace {

TEST(LibraryName, IdThenDbThenEveryLibrary) {
    struct {
        const char* name;
        std::vector<std::pair<const char*, const char*>> fields;
        std::string library;
    } const cases[] = {
        {"ID wins over DB", {{"DB", "guide.kvo"}, {"ID", "12"}}, "12"},
        {"an empty ID counts as none", {{"ID", ""}, {"DB", "guide.kvo"}}, "guide.kvo"},
        {"DB without a dot gets the extension", {{"DB", "guide"}}, "guide.kvo"},
        {"DB with a dot stays", {{"DB", "guide.v2"}}, "guide.v2"},
        {"a DB pattern with a dot stays", {{"DB", "gui*.kvo"}}, "gui*.kvo"},
        {"empty ID and DB", {{"ID", ""}, {"DB", ""}}, "*.kvo"},
        {"neither", {}, "*.kvo"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::CapturedRequest cg;
        for (const auto& [name, value] : c.fields) cg.field(name, value);
        EXPECT_EQ(getLibraryName(*cg), c.library);
    }
}

}  // namespace
}  // namespace ruva

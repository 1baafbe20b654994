#include "bmod/ruvaserv/search/result_prepare.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bmod/ruvaserv/search/library_ids.h"

namespace ruva {
namespace {

TEST(ShownCount, SaturatesAtIntMax) {
    EXPECT_EQ(shownCount(0), 0);
    EXPECT_EQ(shownCount(kShownCountMax), 2147483647);
    EXPECT_EQ(shownCount(348LL * 4294967295LL), 2147483647);
}

TEST(SplitLibraryIds, QuotedFormsAndBlanks) {
    struct {
        const char* value;
        std::vector<std::string> ids;
    } const cases[] = {
        {"\"12 34 \"", {"12", "34"}},
        {"&#34;12 34 &#34;", {"12", "34"}},
        {"12 34", {"12", "34"}},
        {"  12   34  ", {"12", "34"}},
        {"\"12\"", {"12"}},
        {"\"12\"34\"", {"12\"34"}},  // only the outer quotes go
        {"123456789 x.kvo", {"123456789", "x.kvo"}},  // identities stay whole
        {"", {}},
        {"\"", {}},
        {"&#34;&#34;", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(splitLibraryIds(c.value), c.ids);
    }
}

}  // namespace
}  // namespace ruva

#include "bmod/ruvaserv/search/result_prepare.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/client/uzresponse.h"
#include "bmod/ruvaserv/search/library_ids.h"
#include "bmod/ruvaserv/search/search_result_fmt.h"
#include "tests/bmod/ruvaserv/cgi/request_support.h"

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

struct Hit {
    const char* id;
    const char* filename;
    unsigned long searchType;
};

TEST(RmvDocsFromResults, KeepsDocumentsFoundByEveryType) {
    struct {
        const char* name;
        std::vector<Hit> hits;
        uint32_t sTypeCounter;
        std::vector<size_t> kept;
    } const cases[] = {
        {"three entries, two types, two needed", {{"1", "a", 128}, {"1", "a", 2048}, {"1", "a", 2048}}, 2, {0, 1, 2}},
        {"three entries, two types, three needed", {{"1", "a", 128}, {"1", "a", 2048}, {"1", "a", 2048}}, 3, {}},
        {"a document's entries apart still join",
         {{"1", "a", 128}, {"1", "b", 128}, {"1", "a", 2048}},
         2,
         {0, 2}},
        {"one name in two libraries stays two documents", {{"1", "a", 128}, {"2", "a", 2048}}, 2, {}},
        {"libraries compared case-blind", {{"ab", "a", 128}, {"AB", "a", 2048}}, 2, {0, 1}},
        {"an entry without file name stands alone", {{"1", "", 128}, {"1", "", 2048}}, 2, {}},
        {"two bits at once count one type", {{"1", "a", 128 | 2048}, {"1", "a", 128}}, 2, {}},
        {"one type needed keeps all", {{"1", "a", 128}, {"1", "", 256}}, 1, {0, 1}},
    };
    test::CapturedRequest req;
    std::unique_ptr<SearchData> sd = newSearchData();
    ASSERT_TRUE(sd);
    std::unique_ptr<SearchResultFmt> fmt = newSearchResultFmt(*sd, *req, SRSO_DEFAULT);
    ASSERT_TRUE(fmt);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::unique_ptr<UzQxSearchEntry>> owned;
        std::vector<UzQxSearchEntry*> hits;
        for (const Hit& h : c.hits) {
            owned.push_back(std::make_unique<UzQxSearchEntry>());
            owned.back()->database = "lib.kvo";
            owned.back()->ID = h.id;
            owned.back()->filename = h.filename;
            owned.back()->hit = 1;
            owned.back()->searchType = h.searchType;
            hits.push_back(owned.back().get());
        }
        sd->sTypeCounter = c.sTypeCounter;
        std::int64_t count = 10;
        EXPECT_EQ(fmt->rmvDocsFromResults(hits, count), 1);
        std::vector<UzQxSearchEntry*> expected;
        for (size_t k : c.kept) expected.push_back(owned[k].get());
        EXPECT_EQ(hits, expected);
        EXPECT_EQ(count, 10 - static_cast<std::int64_t>(c.hits.size() - c.kept.size()));
    }
}

}  // namespace
}  // namespace ruva

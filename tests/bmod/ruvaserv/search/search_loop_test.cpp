#include "bmod/ruvaserv/search/search_result_fmt.h"

#include <gtest/gtest.h>

#include <memory>

#include "bmod/ruvaserv/actions/kivohandler.h"
#include "tests/bmod/ruvaserv/cgi/request_support.h"

namespace ruva {
namespace {

class CountingFmt : public SearchResultFmt {
public:
    CountingFmt(SearchData& sd, CgiHandler& cg, SearchResultSortOrder order) : SearchResultFmt(sd, cg, order) {}
    int presentSearchResult(KivoHandler&, UzResponse*, unsigned, const std::optional<std::string>&) override {
        return 3001;
    }
};

std::unique_ptr<SearchResultFmt> makeCounting(SearchData& sd, CgiHandler& cg, SearchResultSortOrder order) {
    return std::make_unique<CountingFmt>(sd, cg, order);
}

TEST(SearchResultFmtSeam, DefaultAnswersAsUnfinishedAndFactoryReplacesIt) {
    test::CapturedRequest req;
    std::unique_ptr<SearchData> sd = newSearchData();
    std::unique_ptr<KivoHandler> kh = newKivoHandler(req.get());
    ASSERT_TRUE(sd && kh);

    std::unique_ptr<SearchResultFmt> fmt = newSearchResultFmt(*sd, *req, SRSO_SRCHTYPE);
    ASSERT_TRUE(fmt);
    EXPECT_EQ(fmt->srchSortOrder, SRSO_SRCHTYPE);
    EXPECT_EQ(fmt->presentSearchResult(*kh, nullptr, 0, std::nullopt), 0);
    EXPECT_NE(fmt->getError().find("SEARCH"), std::string::npos);

    EXPECT_EQ(setSearchResultFmtFactory(&makeCounting), nullptr);
    fmt = newSearchResultFmt(*sd, *req, SRSO_DEFAULT);
    EXPECT_EQ(fmt->presentSearchResult(*kh, nullptr, 0, std::nullopt), 3001);
    EXPECT_EQ(setSearchResultFmtFactory(nullptr), &makeCounting);
    EXPECT_EQ(newSearchResultFmt(*sd, *req, SRSO_DEFAULT)->presentSearchResult(*kh, nullptr, 0, std::nullopt), 0);
}

}  // namespace
}  // namespace ruva

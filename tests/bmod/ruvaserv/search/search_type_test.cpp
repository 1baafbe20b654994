// The search types a request's fields choose, driven through the request's
// own input parser so that the stored values are the ones the road sees.
#include "bmod/ruvaserv/search/search_type.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "bmod/ruvaserv/search/search_actions.h"
#include "bmod/ruvaserv/search/search_result_fmt.h"
#include "tests/bmod/ruvaserv/cgi/request_support.h"
#include "tests/bmod/ruvaserv/cgi/scripted_server.h"
#include "tests/support/scripted_peer.h"

namespace ruva {
namespace {

using test::CapturedRequest;
using test::ScriptedPeer;

void parse(CapturedRequest& cg, std::string_view query) {
    ASSERT_EQ(cg->parseCgiInput(query.data(), query.size(), '&'), 1);
}

std::optional<std::string> fieldOf(CapturedRequest& cg, const char* name) {
    const Value* v = cg->valueList->findValue(name);
    return v ? std::optional<std::string>(v->value) : std::nullopt;
}

struct Chosen {
    int result = -1;
    SearchRequest request;
    ErrorText error;
};

// chooseSearchTypes over the fields of query as cg stores them.
Chosen choose(CapturedRequest& cg, std::string_view query) {
    Chosen chosen;
    parse(cg, query);
    chosen.result = chooseSearchTypes(*cg->valueList, cg->messages(), chosen.request, chosen.error);
    return chosen;
}

TEST(SearchType, NewSearchDataStartsWithAndAndNoType) {
    std::unique_ptr<SearchData> sd = newSearchData();
    ASSERT_TRUE(sd);
    EXPECT_EQ(sd->srchTypeBoolOperation, STYPE_AND);
    EXPECT_EQ(sd->searchType, 0u);
    EXPECT_EQ(sd->searchScope, OSS_UNKNOWN);
}

TEST(SearchType, ClearResetsEveryPattern) {
    std::unique_ptr<SearchData> sd = newSearchData();
    ASSERT_TRUE(sd);
    sd->srchTypeBoolOperation = STYPE_OR;
    sd->searchType = OST_TITLE;
    sd->searchScope = OSS_DATABASE;
    for (std::string* p : {&sd->searchPat, &sd->searchPatTitle, &sd->searchPatDocNo, &sd->searchPatBodyText,
                           &sd->searchPatCtw, &sd->searchPatTopicTitle, &sd->searchPatFolTitle})
        *p = "x";
    sd->sTypeCounter = sd->isAdvanced = sd->isExternSearch = 1;
    sd->clear();
    EXPECT_EQ(sd->srchTypeBoolOperation, STYPE_AND);
    EXPECT_EQ(sd->searchType, OST_UNKNOWN);
    EXPECT_EQ(sd->searchScope, OSS_UNKNOWN);
    for (const std::string* p : {&sd->searchPat, &sd->searchPatTitle, &sd->searchPatDocNo, &sd->searchPatBodyText,
                                 &sd->searchPatCtw, &sd->searchPatTopicTitle, &sd->searchPatFolTitle})
        EXPECT_EQ(*p, "");
    EXPECT_EQ(sd->sTypeCounter + sd->isAdvanced + sd->isExternSearch, 0u);
}

TEST(SearchType, FieldsChooseTypesOperatorAndOrder) {
    struct {
        const char* query;
        KivoSearchType type;
        SearchTypeBooleanOperator op;
        uint32_t advanced;
        SearchResultSortOrder order;
        const char* storedST;  // ST as the value list holds it afterwards
    } const cases[] = {
        {"ST=TITLE&PA=x", 2049, STYPE_OR, 0, SRSO_DEFAULT, "TITLE"},
        {"ST=title&PA=x", 2049, STYPE_OR, 0, SRSO_DEFAULT, "TITLE"},
        // Not exactly TITLE: the blanks are skipped to choose, kept to compare.
        {"ST=%20%20title&PA=x", 2049, STYPE_AND, 0, SRSO_DEFAULT, "  TITLE"},
        {"ST=OPI&PA=x", 5, STYPE_AND, 0, SRSO_DEFAULT, "OPI"},
        {"ST=other&PA=x", 5, STYPE_AND, 0, SRSO_DEFAULT, "OTHER"},
        {"ST=AI&PA=x", 65, STYPE_AND, 0, SRSO_DEFAULT, "AI"},
        {"ST=ADI&PA=x", 33, STYPE_AND, 0, SRSO_DEFAULT, "ADI"},
        {"ST=POD&PA=x", 17, STYPE_AND, 0, SRSO_DEFAULT, "POD"},
        {"ST=COD&PA=x", 9, STYPE_AND, 0, SRSO_DEFAULT, "COD"},
        {"ST=CMAN&PA=x", 8193, STYPE_AND, 0, SRSO_DEFAULT, "CMAN"},
        {"ST=CATCHWORD&PA=x", 4097, STYPE_AND, 0, SRSO_DEFAULT, "CATCHWORD"},
        {"ST=FOLDER&PA=x", 16385, STYPE_AND, 0, SRSO_DEFAULT, "FOLDER"},
        {"ST=DOCNO&PA=x", 257, STYPE_AND, 0, SRSO_DEFAULT, "DOCNO"},
        {"ST=Docno&PA=x&STB=2", 257, STYPE_OR, 0, SRSO_DEFAULT, "DOCNO"},
        {"ST=COMBINED&PA=x", 23297, STYPE_OR, 0, SRSO_SRCHTYPE, "COMBINED"},
        {"ST=FULLTEXT&PA=x", 23425, STYPE_OR, 0, SRSO_SRCHTYPE, "FULLTEXT"},
        {"ST=ADVSEARCH&PAT=x", 18433, STYPE_OR, 1, SRSO_DEFAULT, "ADVSEARCH"},
        {"ST=AdvSearch&PAT=x&PA=y", 2177, STYPE_AND, 1, SRSO_DEFAULT, "ADVSEARCH"},
        {"ST=ADVSEARCH&PAT=x&PA=", 18433, STYPE_OR, 1, SRSO_DEFAULT, "ADVSEARCH"},
        {"ST=ADVSEARCH&PAT=x&STB=2", 18433, STYPE_OR, 0, SRSO_DEFAULT, "ADVSEARCH"},
        {"ST=ADVSEARCH&PAT=x&PA=y&STB=2", 18561, STYPE_OR, 0, SRSO_DEFAULT, "ADVSEARCH"},
        {"ST=ADVSEARCH&PAC=x&PAD=y", 4353, STYPE_AND, 1, SRSO_DEFAULT, "ADVSEARCH"},
        {"ST=DOCSEARCH&PAD=x", 257, STYPE_AND, 1, SRSO_DEFAULT, "DOCSEARCH"},
        {"ST=DOCSEARCH&PAT=x&STB=2", 18433, STYPE_OR, 1, SRSO_DEFAULT, "DOCSEARCH"},
        {"ST=TITLE&SYPA=x", 2049, STYPE_OR, 0, SRSO_DEFAULT, "TITLE"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query);
        CapturedRequest cg;
        const Chosen chosen = choose(cg, c.query);
        ASSERT_EQ(chosen.result, 1) << chosen.error.getError();
        EXPECT_EQ(chosen.request.searchType, c.type);
        EXPECT_EQ(chosen.request.srchTypeBoolOperation, c.op);
        EXPECT_EQ(chosen.request.isAdvanced, c.advanced);
        EXPECT_EQ(chosen.request.sortOrder, c.order);
        EXPECT_EQ(fieldOf(cg, "ST"), c.storedST);
        EXPECT_EQ(chosen.error.getError(), "");
    }
}

TEST(SearchType, RefusedRequestsNameTheirMessage) {
    struct {
        const char* query;
        int message;
        const char* tag;
        const char* named;  // message 24's word
    } const cases[] = {
        {"PA=x", 21, "SearchActions/4", nullptr},
        {"ST=&PA=x", 21, "SearchActions/4", nullptr},
        {"ST=DOCSEARCH", 23, "SearchActions/6", nullptr},
        {"ST=DOCSEARCH&PA=&PAT=&PAC=&PAD=", 23, "SearchActions/6", nullptr},
        {"ST=ADVSEARCH&SYPA=", 23, "SearchActions/6", nullptr},
        {"ST=TITLE", 23, "SearchActions/6.1", nullptr},
        {"ST=TITLE&PA=", 23, "SearchActions/6.1", nullptr},
        {"ST=TITLE&PAT=x", 23, "SearchActions/6.1", nullptr},
        // The pattern is asked for before the type is known.
        {"ST=MAN", 23, "SearchActions/6.1", nullptr},
        {"ST=MAN&PA=x", 24, "SearchActions/7", "MAN"},
        {"ST=xyz&PA=x", 24, "SearchActions/7", "XYZ"},
        {"ST=2AI&PA=x", 24, "SearchActions/7", "2AI"},
        {"ST=FOO&PA=x", 24, "SearchActions/7", "FOO"},
        {"ST=--&PA=x", 24, "SearchActions/7", "--"},
        // A form word not at the start picks no row.
        {"ST=XADVSEARCH&PAT=x", 24, "SearchActions/7", "XADVSEARCH"},
        // The word as stored: the value list has made the markup harmless.
        {"ST=%3Cb%3E&PA=x", 24, "SearchActions/7", " B "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query);
        CapturedRequest cg;
        const Chosen chosen = choose(cg, c.query);
        EXPECT_EQ(chosen.result, 0);
        const std::string expected = c.named ? formatChecked(msgFormat(c.message, c.tag), c.named)
                                             : formatChecked(msgFormat(c.message, c.tag));
        EXPECT_EQ(chosen.error.getError(), expected);
    }
}

// SYPA stands in for PA: stored as PA through the value list, replacing a
// PA given beside it; an empty SYPA leaves PA alone. SL is handed on as
// stored.
TEST(SearchType, SypaBecomesThePatternAndSlIsKept) {
    struct {
        const char* query;
        std::optional<std::string> pa;
        std::optional<std::string> sl;
    } const cases[] = {
        {"ST=TITLE&SYPA=x", "x", std::nullopt},
        {"ST=TITLE&PA=y&SYPA=x", "x", std::nullopt},
        {"ST=TITLE&SYPA=&PA=y", "y", std::nullopt},
        {"ST=TITLE&SYPA=%22a%20b%22", "\"a b\"", std::nullopt},
        {"ST=TITLE&PA=x&SL=EN/SET1R1A", "x", "EN/SET1R1A"},
        {"ST=TITLE&PA=x&SL=", "x", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query);
        CapturedRequest cg;
        const Chosen chosen = choose(cg, c.query);
        ASSERT_EQ(chosen.result, 1);
        EXPECT_EQ(fieldOf(cg, "PA"), c.pa);
        EXPECT_EQ(chosen.request.SL, c.sl);
    }
}

// What searchAction handed the result formatter.
struct Presented {
    bool called = false;
    SearchResultSortOrder order = SRSO_DEFAULT;
    KivoSearchType type = 0;
    SearchTypeBooleanOperator op = STYPE_AND;
    uint32_t advanced = 0;
    KivoSearchScope scope = OSS_UNKNOWN;
    unsigned extern_ = 0;
    std::optional<std::string> SL;
    bool docBufFreed = false;
};
Presented presented;
int presentResult = 1;  // what the recording formatter answers

class RecordingFmt : public SearchResultFmt {
public:
    RecordingFmt(SearchData& sd, CgiHandler& cg, SearchResultSortOrder order) : SearchResultFmt(sd, cg, order) {}
    int presentSearchResult(KivoHandler&, UzResponse*, unsigned isExternSearch,
                            const std::optional<std::string>& SL) override {
        presented = {true, srchSortOrder, sd.searchType, sd.srchTypeBoolOperation, sd.isAdvanced,
                     sd.searchScope, isExternSearch, SL, cg.docBuf == nullptr};
        if (presentResult <= 0) setError("formatter failed");
        return presentResult;
    }
};

std::unique_ptr<SearchResultFmt> makeRecording(SearchData& sd, CgiHandler& cg, SearchResultSortOrder order) {
    return std::make_unique<RecordingFmt>(sd, cg, order);
}
std::unique_ptr<SearchResultFmt> makeNone(SearchData&, CgiHandler&, SearchResultSortOrder) { return nullptr; }

class SearchRequestRoad : public test::ScriptedServerTest {
protected:
    void SetUp() override {
        test::ScriptedServerTest::SetUp();
        presented = Presented{};
        presentResult = 1;
        previous_ = setSearchResultFmtFactory(&makeRecording);
    }
    void TearDown() override {
        setSearchResultFmtFactory(previous_);
        test::ScriptedServerTest::TearDown();
    }

private:
    SearchResultFmtFactory previous_ = nullptr;
};

// One searchAction over a scripted server and what it left.
struct SearchRun {
    int result = -1;
    std::string error;         // the search object's
    std::string requestError;  // the request object's
    std::string written;       // the request's output
    std::string sent;          // the session's lines after VER, QUIT left out
};

SearchRun runSearch(test::PeerScript script, std::string_view query) {
    SearchRun run;
    ScriptedPeer peer({std::move(script)});
    EXPECT_TRUE(peer.ok());
    {
        CapturedRequest cg;
        cg->docServAddr = "127.0.0.1:" + std::to_string(peer.port());
        parse(cg, query);
        auto kh = newKivoHandler(cg.get());
        auto sa = newSearchActions(cg.get());
        EXPECT_NE(sa, nullptr);
        if (!sa) return run;
        // The dispatcher marks external searches; a page left from before
        // must be gone when the formatter writes.
        sa->sd->isExternSearch = 1;
        cg->allocDocBuf(16);
        run.result = sa->searchAction(*kh);
        run.error = sa->getError();
        run.requestError = cg->getError();
        run.written = cg.written();
    }
    peer.stop();
    run.sent = test::beforeQuit(peer.received(0));
    if (run.sent.starts_with("VER")) run.sent.erase(0, run.sent.find('\n') + 1);
    return run;
}

// Refused before any library is asked: the version is, nothing else is
// sent, the formatter is never reached. A search field counts as the value
// list stores it: an inner quote takes five characters there.
TEST_F(SearchRequestRoad, RefusedRequestSendsNothingAfterVer) {
    const std::string long3000(3000, 'a');
    const std::string a1024(1024, 'a');
    const std::string quoted = std::string(510, 'a') + "%22" + std::string(509, 'a');  // 1020 in, 1024 stored
    const std::string tooLong = formatChecked(msgFormat(97, "SearchFunctions/2"));
    struct {
        std::string name;
        std::string query;
        std::string error;
    } const cases[] = {
        {"no ST", "PA=x", formatChecked(msgFormat(21, "SearchActions/4"))},
        {"no pattern", "ST=TITLE&PA=", formatChecked(msgFormat(23, "SearchActions/6.1"))},
        {"no type", "ST=MAN&PA=x", formatChecked(msgFormat(24, "SearchActions/7"), "MAN")},
        {"PA of 3000", "ST=TITLE&PA=" + long3000, tooLong},
        {"PAT of 3000", "ST=ADVSEARCH&PAT=" + long3000, tooLong},
        {"SYPA of 3000", "ST=TITLE&SYPA=" + long3000, tooLong},
        {"ORPA of 3000", "ST=CATCHWORD&PA=(a|b)&ORPA=" + long3000, tooLong},
        {"PAC of 1024", "ST=ADVSEARCH&PAC=" + a1024, tooLong},
        {"PAD of 1024", "ST=DOCSEARCH&PAD=" + a1024, tooLong},
        {"PA of 1024 by its stored quote", "ST=TITLE&PA=" + quoted, tooLong},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        presented = Presented{};
        const SearchRun run = runSearch(test::replyScript({test::verLine()}), c.query);
        EXPECT_EQ(run.result, 0);
        EXPECT_EQ(run.error, c.error);
        EXPECT_EQ(run.written, "");
        EXPECT_EQ(run.sent, "");
        EXPECT_FALSE(presented.called);
    }
}

// A server that does not answer VER: that failure is the request's error
// text, the search object keeps none, so the error page shows the session's.
TEST_F(SearchRequestRoad, SessionFailureIsLeftToTheRequest) {
    const SearchRun run = runSearch(test::PeerScript().close(), "ST=TITLE&PA=x");
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.error, "");
    EXPECT_NE(run.requestError, "");
    EXPECT_FALSE(presented.called);
}

TEST_F(SearchRequestRoad, FormatterThatCannotBeMadeIsNamed) {
    setSearchResultFmtFactory(&makeNone);
    const SearchRun run = runSearch(test::replyScript({test::verLine()}), "ST=TITLE&PA=x");
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.error, formatChecked(msgFormat(0, "SearchActions/5"), "SearchResultFmt"));
    EXPECT_EQ(run.sent, "");
}

// One library's MLLIST and QXSRCH replies as the daemon writes them.
const std::string kLibrary12 = test::mlReply(test::dbLine("guide.kvo", 12, "Guide [EN/DOCLIB1 R1A]"));
const std::string kNoHit = "300-Database Filename Hash DocType Score Tokens Comment\n200-QXSRCH executed.\n";
const std::string kOneHit =
    "300-Database Filename Hash DocType Score Tokens Comment\n"
    "300 \"guide.kvo\" 12 \"install.html\" HTML 0 [INSTALL] \"TITLE: Install\"\n200-QXSRCH executed.\n";

// The loop's hits reach the formatter with the request's choices; any
// positive answer of it is a written page, and its failure is the search's.
TEST_F(SearchRequestRoad, LoopResultReachesTheFormatter) {
    struct {
        const char* name;
        const char* query;
        std::vector<std::string> replies;  // after VER's
        int formatterAnswer;
        KivoSearchType type;
        SearchTypeBooleanOperator op;
        SearchResultSortOrder order;
        uint32_t advanced;
        std::optional<std::string> SL;
        int result;
        const char* error;
    } const cases[] = {
        {"title search written", "ST=TITLE&PA=install&ID=12&SL=EN/SET1R1A", {kLibrary12, kOneHit, kNoHit}, 1, 2049,
         STYPE_OR, SRSO_DEFAULT, 0, "EN/SET1R1A", 1, ""},
        {"a count from the formatter is a written page", "ST=TITLE&PA=install&ID=12", {kLibrary12, kOneHit, kNoHit},
         3001, 2049, STYPE_OR, SRSO_DEFAULT, 0, std::nullopt, 1, ""},
        {"the formatter's failure", "ST=TITLE&PA=install&ID=12", {kLibrary12, kNoHit, kNoHit}, 0, 2049, STYPE_OR,
         SRSO_DEFAULT, 0, std::nullopt, 0, "formatter failed"},
        {"full text, sorted by type", "ST=fulltext&PA=install&ID=12",
         {kLibrary12, kNoHit, kNoHit, kNoHit, kNoHit, kNoHit, kNoHit}, 1, 23425, STYPE_OR, SRSO_SRCHTYPE, 0,
         std::nullopt, 1, ""},
        {"advanced form", "ST=ADVSEARCH&PAT=install&PA=setup&ID=12", {kLibrary12, kNoHit, kNoHit}, 1, 2177,
         STYPE_AND, SRSO_DEFAULT, 1, std::nullopt, 1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        presented = Presented{};
        presentResult = c.formatterAnswer;
        std::vector<std::string> replies = {test::verLine()};
        replies.insert(replies.end(), c.replies.begin(), c.replies.end());
        const SearchRun run = runSearch(test::replyScript(replies), c.query);
        EXPECT_EQ(run.result, c.result);
        EXPECT_EQ(run.error, c.error);
        ASSERT_TRUE(presented.called);
        EXPECT_EQ(presented.type, c.type);
        EXPECT_EQ(presented.op, c.op);
        EXPECT_EQ(presented.order, c.order);
        EXPECT_EQ(presented.advanced, c.advanced);
        EXPECT_EQ(presented.scope, OSS_DATABASE);
        EXPECT_EQ(presented.extern_, 1u);
        EXPECT_EQ(presented.SL, c.SL);
        EXPECT_TRUE(presented.docBufFreed);
        EXPECT_TRUE(run.sent.starts_with("MLLIST 12\nQXSRCH ")) << run.sent;
    }
}

// A failed loop is the search's failure with the loop's text; no page is
// asked for.
TEST_F(SearchRequestRoad, LoopFailureSkipsTheFormatter) {
    const SearchRun run = runSearch(
        test::replyScript({test::verLine(), kLibrary12,
                           "577 Library \"guide.kvo\" is being updated. Please perform this operation after some "
                           "time.\n"}),
        "ST=TITLE&PA=install&ID=12");
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.error, formatChecked(msgFormat(7, "SearchFunctions/11"), "guide.kvo"));
    EXPECT_FALSE(presented.called);
    EXPECT_EQ(run.sent, "MLLIST 12\nQXSRCH \"*install*\" 12 title.qxx 500\n");
}

}  // namespace
}  // namespace ruva

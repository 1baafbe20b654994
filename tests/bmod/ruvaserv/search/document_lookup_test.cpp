// The direct document lookup over a scripted server: the index search sent,
// the class and extension filters, and where the hits go (the document, the
// formatter or an error page).
#include "bmod/ruvaserv/search/document_lookup.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "bmod/ruvaserv/client/uzresponse.h"
#include "bmod/ruvaserv/search/search_actions.h"
#include "bmod/ruvaserv/search/search_result_fmt.h"
#include "tests/bmod/ruvaserv/cgi/request_support.h"
#include "tests/bmod/ruvaserv/cgi/scripted_server.h"
#include "tests/bmod/ruvaserv/cgi/session_replies.h"
#include "tests/support/scripted_peer.h"

namespace ruva {
namespace {

using test::CapturedRequest;
using test::ScriptedPeer;

TEST(DocumentLookup, ClassPatternAndExtension) {
    const struct {
        const char* DO;
        std::optional<std::string> pattern;
    } classes[] = {
        {"1551", "*1551-*"},
        {"155 17", "*155 17-*"},
        {"123456789012", "*123456789012-*"},
        {"1234567890123", std::nullopt},  // too long for a class number
        {"DESC", "*1551-*"},
        {"desc", "*1551-*"},
        {"OPI", "*15431-*"},
        {"COD", "*19082-*"},
        {"POD", "*19083-*"},
        {"ADI", "*15542-*"},
        {"ai", "*15518-*"},
        {"MAN", "*19080-*"},
        {"MANUAL", std::nullopt},
        {"2AI", "*2AI-*"},
        {"", std::nullopt},
    };
    for (const auto& c : classes) EXPECT_EQ(lookupClassPattern(c.DO), c.pattern) << c.DO;

    const struct {
        const char* file;
        const char* ext;
        int result;
    } extensions[] = {
        {"a.pdf", "pdf", 1},
        {"A.PDF", "pdf", 1},
        {"a.pdf.html", "pdf", 0},
        {"a.html", "pdf", 0},
        {"apdf", "pdf", 0},
        {"dir.pdf/a", "pdf", 0},
        {"dir/a.pdf", "pdf", 1},
        {"a.", "", 1},
        {"a", "", 1},
        {"a.\xe9t\xe9", "\xc9T\xc9", 1},
    };
    for (const auto& c : extensions) EXPECT_EQ(hasExtension(c.file, c.ext), c.result) << c.file << " " << c.ext;
}

// What the formatter saw.
struct Presented {
    bool called = false;
    unsigned hits = 0;  // hits with a file name
    SearchResultSortOrder order = SRSO_SRCHTYPE;
    KivoSearchScope scope = OSS_UNKNOWN;
    bool SL = false;
};
Presented presented;
int formatterResult = 1;

class RecordingFmt : public SearchResultFmt {
public:
    RecordingFmt(SearchData& sd, CgiHandler& cg, SearchResultSortOrder order) : SearchResultFmt(sd, cg, order) {}
    int presentSearchResult(KivoHandler&, UzResponse* reply, unsigned, const std::optional<std::string>& SL) override {
        presented.called = true;
        presented.order = srchSortOrder;
        presented.scope = sd.searchScope;
        presented.SL = SL.has_value();
        for (const UzQxSearchEntry* e = reply ? reply->qxsrch() : nullptr; e; e = e->next.get())
            if (e->filled() && !e->filename.empty()) ++presented.hits;
        if (formatterResult <= 0) setError("no page");
        return formatterResult;
    }
};

std::unique_ptr<SearchResultFmt> makeRecording(SearchData& sd, CgiHandler& cg, SearchResultSortOrder order) {
    return std::make_unique<RecordingFmt>(sd, cg, order);
}

const std::string kQxHeader = "300-Database Filename Hash DocType Score Tokens Comment\n";
const std::string kQxDone = "200-QXSRCH executed.\n";
const std::string kPage = "<html><body>found</body></html>\n";

std::string qxReply(const std::vector<std::string>& files) {
    std::string reply = kQxHeader;
    for (const std::string& f : files)
        reply += "300 \"guide.kvo\" 12 \"" + f + "\" HTML 0 [INSTALL] \"TITLE: Install\"\n";
    return reply + kQxDone;
}

// MLLIST, CONTV and RETR of one member of library 12.
std::vector<std::string> fetchOf(const std::string& file) {
    return {test::mlReply(test::dbLine("guide.kvo", 12, "Guide")), test::contvReply("12", {{100, file}}),
            test::retrReply(file, kPage)};
}

std::string fetchSent(const std::string& file) {
    return "MLLIST 12\nCONTV 12 " + file + "\nRETR 12 " + file + "\n";
}

std::vector<std::string> joined(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

using Fields = std::vector<std::pair<const char*, std::string>>;

// A request with its session to the scripted server at port, the fields
// stored as cgiEntry stores them, and the objects of the link action.
struct LookupRequest {
    LookupRequest(unsigned port, const Fields& fields) {
        cg->docServAddr = "127.0.0.1:" + std::to_string(port);
        cg->kivoServName = "/127.0.0.1:8080/cgi-bin/kivoserv";
        for (const auto& [name, value] : fields) cg.field(name, value.c_str());
        session = cg->createDefaultSession();
        kh = newKivoHandler(cg.get());
        sa = newSearchActions(cg.get());
    }
    bool ready() const { return session == 1 && kh && sa; }

    CapturedRequest cg;
    int session = 0;
    std::unique_ptr<KivoHandler> kh;
    std::unique_ptr<SearchActions> sa;
};

class LookupRoad : public test::ScriptedServerTest {
protected:
    void SetUp() override {
        test::ScriptedServerTest::SetUp();
        previous_ = setSearchResultFmtFactory(&makeRecording);
    }
    void TearDown() override {
        setSearchResultFmtFactory(previous_);
        test::ScriptedServerTest::TearDown();
    }

private:
    SearchResultFmtFactory previous_ = nullptr;
};

TEST_F(LookupRoad, SearchesTheIndexAndShowsTheSingleHitOrTheFormattersPage) {
    enum Outcome { kDocument, kFormatter, kNotFound, kError };
    const std::string long3000(3000, 'a');
    struct Case {
        const char* name;
        Fields fields;
        std::optional<DocumentLookup> lookup;  // none: the request's library
        std::vector<std::string> replies;
        std::string sent;
        int result;
        Outcome outcome;
        std::string expect;  // document: the page; formatter: hit count; error page: file; error: message
        KivoSearchType type = 0;
        std::string searchPat{};
        int fmtResult = 1;
    };
    const std::string lacks = test::mlReply(test::dbLine("guide.kvo", 12, "Guide"));
    const Case cases[] = {
        {"TI with one hit opens it",
         {{"ID", "12"}, {"TI", "Installation"}},
         std::nullopt,
         joined({qxReply({"install.html"})}, fetchOf("install.html")),
         "QXSRCH \"Installation*\" 12 title.qxx 500\n" + fetchSent("install.html"),
         1, kDocument, kPage, OST_TITLE, "Installation"},
        {"TI with blanks goes quoted, none found: the no-match page",
         {{"ID", "12"}, {"TI", "Getting started"}},
         std::nullopt,
         {qxReply({})},
         "QXSRCH \"\\\"Getting* started*\\\"\" 12 title.qxx 500\n",
         1, kFormatter, "0", OST_TITLE, "\"Getting started\""},
        {"CW in the given library, two hits: the results page, 3001 counts as written",
         {{"ID", "12"}, {"CW", "abc"}},
         DocumentLookup{"77", true},
         {qxReply({"a.html", "b.html"})},
         "QXSRCH \"abc*\" 77 ctw.qxx 500\n",
         1, kFormatter, "2", OST_CTW, "abc", 3001},
        {"CW before TI",
         {{"ID", "12"}, {"TI", "x"}, {"CW", "abc"}},
         std::nullopt,
         {qxReply({"a.html", "b.html"})},
         "QXSRCH \"abc*\" 12 ctw.qxx 500\n",
         1, kFormatter, "2", OST_CTW, "abc"},
        {"a formatter that fails passes its error on",
         {{"ID", "12"}, {"CW", "abc"}},
         std::nullopt,
         {qxReply({"a.html", "b.html"})},
         "QXSRCH \"abc*\" 12 ctw.qxx 500\n",
         0, kError, "no page", OST_CTW, "abc", 0},
        {"EX picks the one file of that type",
         {{"ID", "12"}, {"CW", "abc"}, {"EX", "HTML"}},
         std::nullopt,
         joined({qxReply({"a.pdf", "b.html"})}, fetchOf("b.html")),
         "QXSRCH \"abc*\" 12 ctw.qxx 500\n" + fetchSent("b.html"),
         1, kDocument, kPage, OST_CTW, "abc"},
        {"EX that no hit has: the formatter gets them all",
         {{"ID", "12"}, {"CW", "abc"}, {"EX", "doc"}},
         std::nullopt,
         {qxReply({"a.pdf", "b.html"})},
         "QXSRCH \"abc*\" 12 ctw.qxx 500\n",
         1, kFormatter, "2", OST_CTW, "abc"},
        {"DO as class number keeps its own names",
         {{"ID", "12"}, {"CW", "abc"}, {"DO", "1551"}},
         std::nullopt,
         joined({qxReply({"19082-a.html", "EN-1551-b.html", "15512-c.html"})}, fetchOf("EN-1551-b.html")),
         "QXSRCH \"abc*\" 12 ctw.qxx 500\n" + fetchSent("EN-1551-b.html"),
         1, kDocument, kPage, OST_CTW, "abc"},
        {"DO as class word, the dropped hits never reach the formatter",
         {{"ID", "12"}, {"CW", "abc"}, {"DO", "desc"}},
         std::nullopt,
         {qxReply({"1551-a.html", "19082-b.html", "x-1551-c.html"})},
         "QXSRCH \"abc*\" 12 ctw.qxx 500\n",
         1, kFormatter, "2", OST_CTW, "abc"},
        {"a DO word of no class filters nothing",
         {{"ID", "12"}, {"CW", "abc"}, {"DO", "other"}},
         std::nullopt,
         {qxReply({"1551-a.html", "19082-b.html"})},
         "QXSRCH \"abc*\" 12 ctw.qxx 500\n",
         1, kFormatter, "2", OST_CTW, "abc"},
        {"the single hit's member is gone: message 83 with its name",
         {{"ID", "12"}, {"CW", "abc"}},
         std::nullopt,
         {qxReply({"gone.html"}), lacks, test::contvReply("12", {})},
         "QXSRCH \"abc*\" 12 ctw.qxx 500\nMLLIST 12\nCONTV 12 gone.html\n",
         1, kNotFound, "gone.html", OST_CTW, "abc"},
        {"FN that fails names the lookup's library in message 83",
         {{"ID", "12"}, {"FN", "x.html"}},
         DocumentLookup{"77", true},
         {test::mlReply(test::dbLine("guide.kvo", 77, "Guide")), test::contvReply("77", {})},
         "MLLIST 77\nCONTV 77 x.html\n",
         1, kNotFound, "x.html"},
        {"empty CW and TI: nothing to look up",
         {{"ID", "12"}, {"CW", ""}, {"TI", ""}},
         std::nullopt, {}, "", 0, kError, getMsgStr(85, "SearchActions/3")},
        {"a CW of 3000 characters is refused unsent",
         {{"ID", "12"}, {"CW", long3000}},
         std::nullopt, {}, "", 0, kError, getMsgStr(97, "SearchFunctions/2")},
        {"a TI of 3000 characters is refused unsent",
         {{"ID", "12"}, {"TI", long3000}},
         std::nullopt, {}, "", 0, kError, getMsgStr(97, "SearchFunctions/2")},
        {"a TI that passes the limit once quoted is refused unsent",
         {{"ID", "12"}, {"TI", std::string(1021, 'a') + " b"}},
         std::nullopt, {}, "", 0, kError, getMsgStr(97, "SearchFunctions/2")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        presented = {};
        formatterResult = c.fmtResult;
        ScriptedPeer peer({test::replyScript(c.replies)});
        ASSERT_TRUE(peer.ok());
        {
            LookupRequest r(peer.port(), c.fields);
            ASSERT_TRUE(r.ready());
            auto& [cg, session, kh, sa] = r;
            EXPECT_EQ(c.lookup ? sa->getKivoDocument(*kh, *c.lookup) : sa->getKivoDocument(*kh), c.result);
            EXPECT_EQ(sa->getError(), c.outcome == kError ? c.expect : "");
            EXPECT_EQ(presented.called, c.outcome == kFormatter || c.fmtResult <= 0);
            if (c.outcome == kFormatter) {
                EXPECT_EQ(std::to_string(presented.hits), c.expect);
                EXPECT_EQ(presented.order, SRSO_DEFAULT);
                EXPECT_EQ(presented.scope, OSS_DATABASE);
                EXPECT_FALSE(presented.SL);
            }
            const std::string written = cg.written();
            if (c.outcome == kNotFound) {
                EXPECT_TRUE(cg->flags & kCgiResponseDone);
                const std::string second = c.lookup ? c.lookup->library : cg->getError();
                EXPECT_EQ(test::errorMessageOf(written), formatChecked(cg->msg(83, "SearchActions/1"), c.expect, second));
                EXPECT_NE(second, "");
            } else {
                EXPECT_EQ(written, "");
                EXPECT_FALSE(cg->flags & kCgiResponseDone);
            }
            if (c.outcome == kDocument) {
                ASSERT_NE(cg->docBuf, nullptr);
                EXPECT_EQ(std::string(cg->docBuf, cg->docSize), c.expect);
            }
            EXPECT_EQ(sa->sd->searchType, c.type);
            EXPECT_EQ(sa->sd->searchPat, c.searchPat);
        }
        peer.stop();
        EXPECT_EQ(test::beforeQuit(peer.connections() ? peer.received(0) : ""), c.sent);
    }
}

// The client refuses what would break QXSRCH's quoting or line: the lookup
// fails with the search's message 86 carrying that refusal, and nothing is sent.
TEST_F(LookupRoad, CatchwordTheClientCannotSendFailsUnsent) {
    const char* const catchwords[] = {"x\\", "a\nb"};
    const std::string refused = getMsgStr(462, nullptr);
    for (const char* cw : catchwords) {
        SCOPED_TRACE(cw);
        presented = {};
        ScriptedPeer peer({test::replyScript({})});
        ASSERT_TRUE(peer.ok());
        {
            LookupRequest r(peer.port(), {{"ID", "12"}, {"CW", cw}});
            ASSERT_TRUE(r.ready());
            auto& [cg, session, kh, sa] = r;
            EXPECT_EQ(sa->getKivoDocument(*kh), 0);
            EXPECT_TRUE(sa->getError().starts_with("Failed to perform search of ")) << sa->getError();
            EXPECT_NE(sa->getError().find(refused.substr(0, refused.find("<br>"))), std::string::npos)
                << sa->getError();
            EXPECT_FALSE(presented.called);
            EXPECT_EQ(cg.written(), "");
        }
        peer.stop();
        EXPECT_EQ(test::beforeQuit(peer.connections() ? peer.received(0) : ""), "");
    }
}

// With CH the single hit is not fetched: the browser goes to the file in the
// hit's library, the chapter as fragment.
TEST_F(LookupRoad, SingleHitWithChapterRedirectsToIt) {
    presented = {};
    ScriptedPeer peer({test::replyScript({qxReply({"install.html"})})});
    ASSERT_TRUE(peer.ok());
    {
        LookupRequest r(peer.port(), {{"DB", "guide.kvo"}, {"CW", "inst"}, {"CH", "2.3"}});
        ASSERT_TRUE(r.ready());
        auto& [cg, session, kh, sa] = r;
        EXPECT_EQ(sa->getKivoDocument(*kh), 1);
        EXPECT_EQ(cg.written(),
                  "Location: http://127.0.0.1:8080/cgi-bin/kivoserv?ID=12&FN=install.html&AC=LINK#2.3\n\n");
        EXPECT_FALSE(presented.called);
    }
    peer.stop();
    EXPECT_EQ(test::beforeQuit(peer.received(0)), "QXSRCH \"inst*\" \"guide.kvo\" ctw.qxx 500\n");
}

TEST_F(LookupRoad, ClassListOfTheLibraryOrNone) {
    const std::string classes =
        "<dec-classes><dc>190 82</dc><dc>155 17</dc></dec-classes>";
    struct {
        const char* name;
        std::vector<std::string> replies;
        bool listed;
    } const cases[] = {
        {"the library's own classes",
         {test::mlReply(test::dbLine("guide.kvo", 12, "Guide")), test::contvReply("12", {{100, "dec-classes.xml"}}),
          test::retrReply("dec-classes.xml", classes)},
         true},
        {"no class list in the library",
         {test::mlReply(test::dbLine("guide.kvo", 12, "Guide")), test::contvReply("12", {})},
         false},
        {"a class list without classes",
         {test::mlReply(test::dbLine("guide.kvo", 12, "Guide")), test::contvReply("12", {{100, "dec-classes.xml"}}),
          test::retrReply("dec-classes.xml", "<dec-classes></dec-classes>")},
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer peer({test::replyScript(c.replies)});
        ASSERT_TRUE(peer.ok());
        {
            LookupRequest r(peer.port(), {{"ID", "12"}});
            ASSERT_TRUE(r.ready());
            auto& [cg, session, kh, sa] = r;
            const std::optional<std::string> list = sa->getDecimalClassAction();
            ASSERT_EQ(list.has_value(), c.listed);
            if (list) {
                EXPECT_NE(list->find("(190 82)"), std::string::npos) << *list;
                EXPECT_NE(list->find("<option value=\"15517\">"), std::string::npos) << *list;
            }
            // The forms fall back on their own list; no error is left behind.
            EXPECT_EQ(cg->getError(), "");
            EXPECT_EQ(cg->docBuf, nullptr);
            EXPECT_EQ(cg.written(), "");
        }
        peer.stop();
    }
}

}  // namespace
}  // namespace ruva

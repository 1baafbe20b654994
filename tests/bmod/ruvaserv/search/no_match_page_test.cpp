// The page a search without hits gets: what was searched, the hint for the
// pattern and the link to a search that may match. Expected texts are typed
// from the page's wording, never taken from the code.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "bmod/ruvaserv/client/uzclient.h"
#include "bmod/ruvaserv/client/uzsession.h"
#include "bmod/ruvaserv/search/search_result_fmt.h"
#include "tests/bmod/ruvaserv/cgi/request_support.h"
#include "tests/bmod/ruvaserv/cgi/scripted_server.h"
#include "tests/support/scripted_peer.h"
#include "tests/support/test_support.h"

namespace ruva {
namespace {

using test::CapturedRequest;

constexpr KivoSearchType kFulltextTypes =
    OST_BODYTEXT | OST_TITLE | OST_DOCNO | OST_CTW | OST_FOLTITLE | OST_TOPICTITLE;

const std::string kHead = "<tr><td class=\"zR\" colspan=\"3\">\n";
const std::string kBase = "http://host:8080/cgi-bin/kivoserv";
const std::string kHelp =
    "<p><b>For more information about searching and search patterns, see <a href=\"#\" "
    "onclick=\"top.openHelp('http://host:8080/cgi-bin/"
    "kivoserv?VR=R19K&amp;FN=help.html&amp;CH=DBsearching')\">Help</a>.</b></p>";
const std::string kEnd = "</td></tr></table>\n</body></html>\n";

const std::string kDocnoHint =
    "<p><b>Hint:</b> By adding '*' to the start and end of the expression, you can search for incomplete "
    "document numbers.</p>";
const std::string kKeywordHint =
    "<p><b>Hint:</b> By adding '*' to the start or end of the expression, you can search for incomplete "
    "keywords.</p>";
const std::string kTitleHint =
    "<p><b>Hint:</b> By adding '*' at the first and last position in the expression, the search string may "
    "occur anywhere in the title.</p><p>'string*' will find all titles beginning with "
    "'string'.</p><p>'*string' will find all titles ending with 'string'.</p><p>Without any '*', the "
    "string must match the complete title.</p></p>";
const std::string kNotTitleHint =
    "<p><b>Hint:</b> Maybe the information you are looking for is not part of a title.</p>";
const std::string kPhraseHint =
    "<p><b>Hint:</b> When searching for a quoted phrase, the words you gave in the search expression must "
    "occur in exactly the same order in the document text, title or identity with no other words in "
    "between. In case of keywords, the quoted search expression must exactly match a complete keyword "
    "defined in the document. Perhaps removing a word or changing word order would help?</p>";
const std::string kEmptyHint =
    "<p><b>Hint:</b> No search expression was provided. No search was made.</p>\n"
    "<p>Example search expression: <tt><b>statistics</b></tt></p>\n";
const std::string kAndHint =
    "<p><b>Hint:</b> In case of a simple search, spaces are converted into logical AND operators. Try a "
    "single word search or use advanced search.</p>";
const std::string kLessHint = "<p><b>Hint:</b> Try with a less restricting search expression.</p>";
const std::string kTryAnother = "<p>Try to make another search with a different expression.</p>";
const std::string kAvoid =
    "<p><b>Please avoid using the characters:</b></p><p><tt><b>,.:$/=&lt;&gt;{}~^`'%</b></tt> in your "
    "search expression.</p>";

std::string separatorHint(const std::string& shown) {
    return "<p><b>Hint:</b> The character '" + shown +
           "' in your search expression is treated as a separator by the indexer.</p>" + kAvoid;
}

std::string fulltextLink(const std::string& word, const std::string& library = "&ID=12") {
    return "<p>Search for documents matching <a href='" + kBase + "?PA=*" + word + "*&AC=SEARCH&ST=FULLTEXT" +
           library + "&OD=0&BA=TITLE&MT=1&SP=1'><b>" + word + "</b></a> anywhere in a word.</p>";
}

using Fields = std::vector<std::pair<const char*, std::string>>;

struct Search {
    Search(Fields f, KivoSearchType t, uint32_t count = 1, uint32_t adv = 0, std::string pattern = "")
        : fields(std::move(f)), types(t), counter(count), advanced(adv), pastr(std::move(pattern)) {}
    Fields fields;
    KivoSearchType types;
    uint32_t counter;   // sTypeCounter
    uint32_t advanced;  // isAdvanced
    std::string pastr;
};

class NoMatchPage : public test::ScriptedServerTest {
protected:
    void SetUp() override {
        test::ScriptedServerTest::SetUp();
        env_.set("HTTP_COOKIE", std::nullopt);
    }

    // presentNoMatch's page for the search; prepare runs on the request
    // before it.
    static std::string page(const Search& s, const std::function<void(CgiHandler&)>& prepare = {}) {
        CapturedRequest cg;
        cg->urlProto = "http:/";
        cg->kivoServName = "/host:8080/cgi-bin/kivoserv";
        for (const auto& [name, value] : s.fields) cg.field(name, value.c_str());
        if (prepare) prepare(*cg);
        std::unique_ptr<SearchData> sd = newSearchData();
        sd->searchType = OST_UNKNOWN | s.types;
        sd->sTypeCounter = s.counter;
        sd->isAdvanced = s.advanced;
        std::unique_ptr<SearchResultFmt> fmt = newSearchResultFmt(*sd, *cg, SRSO_DEFAULT);
        if (!fmt || !cg->allocDocBuf(0)) {
            ADD_FAILURE() << "no formatter or buffer";
            return "";
        }
        EXPECT_EQ(fmt->presentNoMatch(s.pastr, "&PA=x"), 1) << fmt->getError();
        EXPECT_TRUE(cg->flags & kCgiNoSearchWords);
        return std::string(cg->docBuf, cg->docSize);
    }

    // What the page says between its heading and its help line.
    static std::string hintsOf(const std::string& page, bool advanced) {
        const size_t from = advanced ? page.find(kHead, 1) + kHead.size() : page.find("</p>\n") + 5;
        size_t to = page.find("<p><b>For more information");
        if (to == std::string::npos) to = page.find("</td></tr></table>\n");
        if (from > page.size() || to == std::string::npos || to < from) return "(no such part) " + page;
        return page.substr(from, to - from);
    }

    test::EnvGuard env_;
};

TEST_F(NoMatchPage, SimpleSearchPageWithSeparatorHintAndLink) {
    const Search s{
        {{"ST", "FULLTEXT"}, {"ID", "0"}, {"PA", "abc."}, {"PAOR", "abc."}}, kFulltextTypes, 6, 0, "abc."};
    EXPECT_EQ(page(s),
              kHead +
                  "<p style=\"margin-top:0px;line-height:12%;\">&nbsp;</p><p>No documents matching "
                  "<b>abc.</b>.</p>\n" +
                  separatorHint(".") +
                  "<p>Search for documents matching <a "
                  "href='http://host:8080/cgi-bin/"
                  "kivoserv?PA=*abc*&AC=SEARCH&ST=FULLTEXT&ID=0&OD=0&BA=TITLE&MT=1&SP=1'><b>abc</b></a> "
                  "anywhere in a word.</p>" +
                  kHelp + kEnd);
}

TEST_F(NoMatchPage, HintFollowsTheSearchTypeAndPattern) {
    const Fields docno = {{"ST", "DOCNO"}, {"PA", "x"}};
    const Fields fulltext = {{"ST", "FULLTEXT"}, {"ID", "12"}, {"PA", "x"}};
    auto with = [](Fields f, std::string paor) {
        f.emplace_back("PAOR", std::move(paor));
        return f;
    };
    const struct {
        const char* name;
        Search search;
        std::string hints;
    } cases[] = {
        {"document number", {with(docno, "1551-ABC"), OST_DOCNO}, kDocnoHint},
        {"document number wild at one end", {with(docno, "1551*"), OST_DOCNO}, kDocnoHint},
        {"document number wild at both ends", {with(docno, "*1551*"), OST_DOCNO}, ""},
        {"catchword", {with({{"ST", "CATCHWORD"}}, "safety"), OST_CTW}, kKeywordHint},
        {"catchword wild inside its quotes", {with({{"ST", "CATCHWORD"}}, "\"*safe*\""), OST_CTW}, ""},
        // The loop counts the title and folder indexes as two types.
        {"title", {with({{"ST", "TITLE"}}, "Guide"), OST_TITLE, 2}, kTitleHint},
        {"title with a leading wildcard", {with({{"ST", "TITLE"}}, "*Guide"), OST_TITLE, 2}, kNotTitleHint},
        {"folder titles alone", {with({{"ST", "FOLDER"}}, "Guide"), OST_FOLTITLE}, ""},
        {"two words around a separator: no link",
         {with(fulltext, "a.b"), kFulltextTypes, 6},
         separatorHint(".")},
        {"a word before a separator: the link",
         {with(fulltext, "abc."), kFulltextTypes, 6},
         separatorHint(".") + fulltextLink("abc")},
        {"separator in a quoted phrase", {with(fulltext, "\"a.b c\""), kFulltextTypes, 6}, kPhraseHint},
        {"separator shown as text", {fulltext, kFulltextTypes, 6, 0, "a<b"}, separatorHint("&lt;")},
        {"empty pattern", {with(fulltext, ""), kFulltextTypes, 6}, kEmptyHint},
        {"quoted phrase", {with(fulltext, "\"a b\""), kFulltextTypes, 6}, kPhraseHint},
        {"quoted phrase with an operator", {with(fulltext, "\"a b\"|c"), kFulltextTypes, 6}, kPhraseHint},
        // Without PAOR the prepared pattern is examined: "a b" as a&b.
        {"simple search holding an and", {fulltext, kFulltextTypes, 6, 0, "a&b"}, kAndHint},
        {"wildcard", {with(fulltext, "ab*"), kFulltextTypes, 6}, ""},
        {"single word", {with(fulltext, "abc"), kFulltextTypes, 6}, fulltextLink("abc")},
        {"body text alone goes to the separators",
         {with(fulltext, "abc"), OST_BODYTEXT, 1},
         fulltextLink("abc")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(hintsOf(page(c.search), false), c.hints);
    }
}

TEST_F(NoMatchPage, AdvancedSearchHints) {
    const struct {
        const char* name;
        Search search;
        std::string hints;
    } cases[] = {
        {"two types",
         {{{"ST", "ADVSEARCH"}, {"PA", "abc"}, {"PAT", "x"}, {"PAOR", "x"}}, OST_BODYTEXT | OST_TITLE, 2, 1},
         kTryAnother},
        // The form's title search runs the folder index too: one type.
        {"title and folder titles",
         {{{"ST", "ADVSEARCH"}, {"PAT", "Guide"}, {"PAOR", "Guide"}}, OST_TITLE | OST_FOLTITLE, 2, 1},
         kTitleHint},
        {"body text with an operator and a blank",
         {{{"ST", "ADVSEARCH"}, {"PA", "a &b"}, {"PAOR", "a &b"}}, OST_BODYTEXT, 1, 1},
         kLessHint},
        {"body text with an operator, no blank",
         {{{"ST", "ADVSEARCH"}, {"PA", "a&b"}, {"PAOR", "a&b"}}, OST_BODYTEXT, 1, 1},
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(hintsOf(page(c.search), true), c.hints);
    }
}

TEST_F(NoMatchPage, SuggestionLinkFormsAndSwitches) {
    const std::string tail = "<b>abc</b></a> anywhere in a word.</p>";
    const struct {
        const char* name;
        Search search;
        std::optional<std::string> cookie;
        std::string hints;
    } cases[] = {
        {"document search: LIBIDS coded, MT from the request, SP from the cookie's first character",
         {{{"ST", "DocSearch"}, {"LIBIDS", "\"12 34\""}, {"PA", "abc"}, {"PAOR", "abc"}, {"MT", "0"}},
          OST_BODYTEXT,
          1,
          1},
         "showContext=0x",
         "<p>Search for documents matching <a href='" + kBase +
             "?ST=DocSearch&AC=search&LIBIDS=%2212+34%22&PROFILE=&DO=&PA=*abc*&PAT=&PAC=&PAD=&DB=&OD=0&BA="
             "TITLE&MT="
             "0&SP=0'>" +
             tail},
        {"advanced search with SL, MT from the cookie, SP not 0 or 1 in the request",
         {{{"ST", "AdvSearch"},
           {"ID", "12 34 "},
           {"SL", "EN/DOC R1A"},
           {"PA", "abc"},
           {"PAOR", "abc"},
           {"SP", "2"}},
          OST_BODYTEXT,
          1,
          1},
         "showAllTitles=0",
         "<p>Search for documents matching <a href='" + kBase +
             "?ST=AdvSearch&AC=SEARCH&DO=&PA=*abc*&PAT=&PAC=&PAD=&ID=12+34+&OD=0&BA=TITLE&MT=0&SP=1&SL=EN%"
             "2FDOC+R1A'>" +
             tail},
        {"advanced search by DB without SL, a cookie not 0 or 1",
         {{{"ST", "AdvSearch"}, {"DB", "guide.kvo"}, {"PA", "abc"}, {"PAOR", "abc"}}, OST_BODYTEXT, 1, 1},
         "showContext=yes; showAllTitles=",
         "<p>Search for documents matching <a href='" + kBase +
             "?ST=AdvSearch&AC=SEARCH&DO=&PA=*abc*&PAT=&PAC=&PAD=&DB=guide.kvo&OD=0&BA=TITLE&MT=1&SP=1'>" +
             tail},
        {"simple search by LI, request over cookie",
         {{{"ST", "fulltext"}, {"LI", "EN/DOC"}, {"PA", "abc"}, {"PAOR", "abc"}, {"MT", "1"}, {"SP", "0"}},
          kFulltextTypes,
          6},
         "showContext=1; showAllTitles=0",
         "<p>Search for documents matching <a href='" + kBase +
             "?PA=*abc*&AC=SEARCH&ST=FULLTEXT&LI=EN%2FDOC&OD=0&BA=TITLE&MT=1&SP=0'>" + tail},
        {"ID before DB",
         {{{"ST", "FULLTEXT"}, {"DB", "a.kvo"}, {"ID", "7"}, {"PA", "abc"}, {"PAOR", "abc"}},
          kFulltextTypes,
          6},
         std::nullopt,
         fulltextLink("abc", "&ID=7")},
        {"no library field",
         {{{"ST", "FULLTEXT"}, {"PA", "abc"}, {"PAOR", "abc"}}, kFulltextTypes, 6},
         std::nullopt,
         fulltextLink("abc", "")},
        {"another search type: no link",
         {{{"ST", "OPI"}, {"PA", "abc"}, {"PAOR", "abc"}}, OST_OPI, 1},
         std::nullopt,
         ""},
        {"no PA: no link", {{{"ST", "FULLTEXT"}, {"PAOR", "abc"}}, kFulltextTypes, 6}, std::nullopt, ""},
        {"characters that end a value or an attribute are coded",
         {{{"ST", "FULLTEXT"}, {"ID", "1&x=y"}, {"PA", "a"}, {"PAOR", "a+b#c"}}, kFulltextTypes, 6},
         std::nullopt,
         "<p>Search for documents matching <a href='" + kBase +
             "?PA=*a%2Bb%23c*&AC=SEARCH&ST=FULLTEXT&ID=1%26x%3Dy&OD=0&BA=TITLE&MT=1&SP=1'><b>a+b#c</b></a> "
             "anywhere in a word.</p>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::EnvGuard cookie;
        cookie.set("HTTP_COOKIE", c.cookie);
        EXPECT_EQ(hintsOf(page(c.search), c.search.advanced != 0), c.hints);
    }
}

TEST_F(NoMatchPage, AdvancedHeadingListsEachPattern) {
    const Search s{{{"ST", "ADVSEARCH"},
                    {"PA", "abc"},
                    {"PAOR", "abc|def"},
                    {"PAT", "+user|guide"},
                    {"PAC", "\"x y\""},
                    {"PAD", "1551*"}},
                   OST_BODYTEXT | OST_TITLE | OST_CTW | OST_DOCNO,
                   4,
                   1,
                   "abc"};
    EXPECT_EQ(page(s), kHead + "<b>No documents matching search pattern:</b></td></tr>\n" +
                           "<tr><td class=\"sf\">document body text: <b>abc</b> or "
                           "<b>def</b></td></tr><tr><td class=\"sf\">title: <b> user or guide "
                           "</b>&nbsp;</td></tr><tr><td class=\"sf\">keyword: <b> &quot;x y&quot; </b> "
                           "&nbsp;</td></tr>"
                           "<tr><td class=\"sf\">document identity:<b> 1551 </b></td></tr>\n" +
                           kHead + kTryAnother + kHelp + kEnd);
}

TEST_F(NoMatchPage, AdvancedHeadingLines) {
    const struct {
        const char* name;
        Fields fields;
        std::string lines;
    } cases[] = {
        {"quoted body text shown as written",
         {{"PA", "\"a b\""}, {"PAOR", "\"a b\""}},
         "<tr><td class=\"sf\">document body text: <b> &quot;a b&quot; </b>&nbsp;</td></tr>"},
        {"a PA of operators alone has no line", {{"PA", "+"}, {"PAOR", "+"}}, ""},
        {"title of a link list keeps its plus",
         {{"PAT", "+a|b"}, {"LLF", "1"}},
         "<tr><td class=\"sf\">title: <b> +a or b </b>&nbsp;</td></tr>"},
        {"keyword in words",
         {{"PAC", "a|b*"}},
         "<tr><td class=\"sf\">keyword: <b> a or b </b> &nbsp;</td></tr>"},
        {"quoted identity shown as written",
         {{"PAD", "\"15 51\""}},
         "<tr><td class=\"sf\">document identity:<b> &quot;15 51&quot; </b></td></tr>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fields fields = c.fields;
        fields.emplace_back("ST", "ADVSEARCH");
        const std::string shown = page({fields, OST_BODYTEXT | OST_CTW, 2, 1, "x"});
        EXPECT_EQ(shown.substr(0, shown.find(kHead, 1)),
                  kHead + "<b>No documents matching search pattern:</b></td></tr>\n" + c.lines + "\n");
    }
}

// The client's flag stays set by the first of two libraries even though
// the second one's bitmap does not filter.
TEST_F(NoMatchPage, FilterWordingWhenAnySearchedLibraryWasFiltered) {
    const std::string header = "300-Database Filename Hash DocType Score Tokens Comment\n";
    const std::string done = "200-QXSRCH executed.\n";
    test::ScriptedPeer peer({test::replyScript({header + done, header + done})});
    ASSERT_TRUE(peer.ok());
    auto searchTwoLibraries = [&](CgiHandler& cg) {
        cg.docServAddr = "127.0.0.1:" + std::to_string(peer.port());
        ASSERT_EQ(cg.createDefaultSession(), 1);
        ASSERT_NE(cg.sess->qxsrch("abc", "12 13", "fulltext.qxx", 500, "0|1 0|0", 2), nullptr);
        ASSERT_EQ(cg.uzc->isLibFiltered, 1);
    };
    const Fields fields = {{"ST", "FULLTEXT"}, {"PA", "abc"}, {"PAOR", "abc"}};
    const std::string shown = page({fields, kFulltextTypes, 6, 0, "abc"}, searchTwoLibraries);
    EXPECT_EQ(
        shown.substr(0, shown.find("</p>\n") + 5),
        kHead +
            "<p style=\"margin-top:0px;line-height:12%;\">&nbsp;</p><p>No documents matching <b>abc</b> "
            "with current filter selections.</p>\n");
    peer.stop();
    EXPECT_EQ(test::beforeQuit(peer.received(0)),
              "QXSRCH abc 12 fulltext.qxx 0 0|1\nQXSRCH abc 13 fulltext.qxx 500\n");
}

TEST_F(NoMatchPage, HeadingsWithAndWithoutFilter) {
    auto filtered = [](CgiHandler& cg) { cg.uzc->isLibFiltered = 1; };
    const struct {
        const char* name;
        Search search;
        bool filter;
        std::string heading;
    } cases[] = {
        {"phrase",
         {{{"ST", "FULLTEXT"}, {"PAOR", "\"a b\""}}, kFulltextTypes, 6, 0, "\"a b\""},
         false,
         "<p>&nbsp;</p><p>No documents matching phrase <b> &quot;a b&quot;</b>.</p>\n"},
        {"phrase, filtered",
         {{{"ST", "FULLTEXT"}, {"PAOR", "\"a b\""}}, kFulltextTypes, 6, 0, "\"a b\""},
         true,
         "<p>&nbsp;</p><p>No documents matching phrase <b> &quot;a b&quot;</b> with current filter "
         "selections.</p>\n"},
        {"no PAOR: the pattern given",
         {{{"ST", "TITLE"}}, OST_TITLE, 2, 0, "a|b*"},
         false,
         "<p style=\"margin-top:0px;line-height:12%;\">&nbsp;</p><p>No documents matching <b>a</b> or "
         "<b>b*</b>.</p>\n"},
        {"advanced, filtered",
         {{{"ST", "ADVSEARCH"}}, OST_TITLE, 1, 1, ""},
         true,
         "<b>No documents matching search pattern with current filter selections:</b></td></tr>\n\n" + kHead},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string shown =
            page(c.search, c.filter ? std::function<void(CgiHandler&)>(filtered) : nullptr);
        EXPECT_EQ(shown.substr(0, kHead.size() + c.heading.size()), kHead + c.heading);
    }
}

TEST_F(NoMatchPage, JapaneseNoticeForKanjiInABodyTextSearch) {
    const std::string hiragana = "\xa4\xa2\xa4\xa4";
    const std::string kanji = "\xb4\xc1";
    const std::string message = getMsgStr(99, nullptr);
    const std::string japanese =
        message.substr(message.find("<br>(") + 5, message.find(")<br><br>") - message.find("<br>(") - 5);
    const std::string notice =
        "Please note that search query contained Hiragana/Kanji which were not searched in documents body "
        "text by "
        "this KIVO version.<br>" +
        japanese + "<br>";
    const struct {
        const char* name;
        KivoSearchType types;
        std::string pattern;
        bool shown;
    } cases[] = {
        {"hiragana in full text", kFulltextTypes, hiragana, true},
        {"kanji in full text", kFulltextTypes, "x" + kanji, true},
        {"no Japanese", kFulltextTypes, "x", false},
        {"title search", OST_TITLE, hiragana, false},
    };
    ASSERT_EQ(japanese.size(), 88u);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string shown = page({{{"ST", "FULLTEXT"}, {"PAOR", c.pattern}}, c.types, 6, 0, c.pattern});
        EXPECT_EQ(shown.find(notice) != std::string::npos, c.shown);
        if (c.shown) {
            EXPECT_EQ(shown.substr(shown.find(notice) + notice.size(), kHelp.size()), kHelp);
        }
    }
}

TEST_F(NoMatchPage, HelpLineAndCollectionScript) {
    const std::string docHelp =
        "<p><b>For more information about searching and search patterns, see <a href=\"#\" "
        "onclick=\"openHelp('http://host:8080/cgi-bin/"
        "kivoserv?VR=R19K&amp;FN=help.html&amp;CH=LBmultiple')\">Help</a>.</b></p>";
    auto noHelp = [](CgiHandler& cg) { cg.flags &= ~kCgiUseHelp; };
    const Search docSearch{{{"ST", "DOCSEARCH"}, {"PAOR", "ab*"}}, OST_BODYTEXT, 1, 1, "ab*"};
    const Search simple{{{"ST", "FULLTEXT"}, {"PAOR", "ab*"}, {"STB", "1"}}, kFulltextTypes, 6, 0, "ab*"};

    std::string shown = page(docSearch);
    EXPECT_EQ(shown.substr(shown.size() - docHelp.size() - kEnd.size()), docHelp + kEnd);
    shown = page(docSearch, noHelp);
    EXPECT_EQ(shown.find("For more information"), std::string::npos);
    shown = page(simple, noHelp);
    EXPECT_EQ(shown.substr(shown.size() - kHelp.size() - kEnd.size()), kHelp + kEnd);

    // STB "1": the collection script before the help line; none otherwise.
    const size_t script = shown.find("<script type=\"text/javascript\">");
    ASSERT_NE(script, std::string::npos);
    EXPECT_LT(script, shown.find("For more information"));
    EXPECT_EQ(page(docSearch).find("<script"), std::string::npos);
}

TEST_F(NoMatchPage, HostileValuesStayText) {
    auto hostileServer = [](CgiHandler& cg) {
        cg.kivoServName = "/h'x\"y/kivoserv";
        cg.valueList->addValue("LIBIDS", "1' onmouseover='alert(4)");
    };
    const Search s{{{"ST", "DocSearch"}, {"PA", "abc"}, {"PAOR", "abc"}},
                   OST_BODYTEXT,
                   1,
                   1,
                   "\"><img src=x onerror=alert(5)>"};
    const std::string shown = page(s, hostileServer);
    EXPECT_EQ(shown.find("<img"), std::string::npos);
    EXPECT_NE(shown.find("<a "
                         "href='http://h&#39;x&quot;y/"
                         "kivoserv?ST=DocSearch&AC=search&LIBIDS=1%27+onmouseover%3D%27alert(4)&PROFILE="),
              std::string::npos);
    EXPECT_NE(shown.find("onclick=\"openHelp('http://h\\u0027x\\&quot;y/kivoserv?VR=R19K"),
              std::string::npos);

    const Search pattern{{{"ST", "FULLTEXT"}}, kFulltextTypes, 6, 0, "\"><img src=x onerror=alert(5)>"};
    const std::string heading = page(pattern);
    EXPECT_EQ(heading.find("<img"), std::string::npos);
    EXPECT_NE(heading.find("No documents matching <b>&quot;&gt;&lt;img src=x onerror=alert5&gt;</b>"),
              std::string::npos);
}

TEST_F(NoMatchPage, NoDocumentBufferIsAFailure) {
    CapturedRequest cg;
    std::unique_ptr<SearchData> sd = newSearchData();
    std::unique_ptr<SearchResultFmt> fmt = newSearchResultFmt(*sd, *cg, SRSO_DEFAULT);
    ASSERT_TRUE(fmt);
    EXPECT_EQ(fmt->presentNoMatch("abc", ""), 0);
    EXPECT_EQ(fmt->getError(), getMsgStr(235, "SearchResultFmt/7"));
    EXPECT_FALSE(cg->flags & kCgiNoSearchWords);
}

}  // namespace
}  // namespace ruva

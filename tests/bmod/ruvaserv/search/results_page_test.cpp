// The results page written from prepared hits over a server that answers
// MLLIST by argument: the single-hit shortcuts, the summary, the library
// table, the rows, the closing notes and the failed library lookups.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/client/uzresponse.h"
#include "bmod/ruvaserv/search/result_prepare.h"
#include "bmod/ruvaserv/search/results_scripts.h"
#include "bmod/ruvaserv/search/search_result_fmt.h"
#include "common/string_list.h"
#include "tests/bmod/ruvaserv/cgi/request_support.h"
#include "tests/bmod/ruvaserv/cgi/scripted_server.h"
#include "tests/bmod/ruvaserv/search/answering_server.h"

namespace ruva {
namespace {

using Fields = std::vector<std::pair<const char*, std::string>>;

constexpr char kProgram[] = "/127.0.0.1:8080/cgi-bin/kivoserv";

// The fixture's libraries: hash id, file, comment.
const std::map<std::string, std::string> kLibraryLines = {
    {"11", test::dbLine("guide.kvo", 11, "Guide [EN/DOCLIB1 R1A]")},
    {"22", test::dbLine("alpha.kvo", 22, "Alpha <b>Manual</b> [EN/ALPHA R1A] STA:PRE")},
    {"33", test::dbLine("coll.kvo", 33, "Collection [EN/COLL R1A] +")},
    {"40", test::dbLine("beta.kvo", 40, "Beta [EN/BETA R1A]")},
    {"55", test::dbLine("omega.kvo", 55, "Omega [EN/OMEGA R1A]")},
};

test::ServerScript libraryServer(std::vector<std::string> refused = {}) {
    test::ServerScript s;
    for (const auto& [id, line] : kLibraryLines) {
        if (std::find(refused.begin(), refused.end(), id) == refused.end())
            s.mllist[id] = test::mlReply(line);
    }
    s.mllist["[EN/DOCLIB1R1A]"] = test::mlReply(kLibraryLines.at("11"));
    s.mllist["[EN/ALPHAR1A]"] = test::mlReply(kLibraryLines.at("22"));
    return s;
}

struct Hit {
    Hit(std::string i, std::string f, unsigned long t = OST_BODYTEXT,
        std::string c = "TITLE: \"Installation\"", unsigned n = 0, std::string w = "", int kwd = 2,
        int topic = 2)
        : id(std::move(i)),
          fn(std::move(f)),
          type(t),
          comment(std::move(c)),
          actualHits(n),
          word(std::move(w)),
          isKwd(kwd),
          isTopic(topic) {}
    std::string id;
    std::string fn;
    unsigned long type;
    std::string comment;
    unsigned actualHits;
    std::string word;  // the first keyword or topic
    int isKwd;
    int isTopic;
};

// A page request: fields, search data and prepared hits, written through
// writeResultsPage against a server.
class PageRun {
public:
    PageRun(unsigned port, const Fields& fields) {
        cg_->docServAddr = "127.0.0.1:" + std::to_string(port);
        cg_->kivoServName = kProgram;
        for (const auto& [name, value] : fields) cg_.field(name, value.c_str());
        sd = newSearchData();
        kh_ = newKivoHandler(cg_.get());
        fmt = newSearchResultFmt(*sd, *cg_, SRSO_SRCHTYPE);
        out.fIgnoreSearchType = 1;
    }

    void add(const Hit& h) {
        auto e = std::make_unique<UzQxSearchEntry>();
        e->servname = "127.0.0.1:9229";
        e->database = h.id == "11" ? "guide.kvo" : h.id == "33" ? "coll.kvo" : "alpha.kvo";
        e->ID = h.id;
        e->filename = h.fn;
        e->comment = h.comment;
        e->hit = h.fn.empty() ? 0 : 1;
        e->searchType = h.type;
        e->actualHits = h.actualHits;
        e->isKwd = h.isKwd;
        e->isTopic = h.isTopic;
        if (!h.word.empty()) {
            e->keywords = newStringList();
            e->keywords->add(h.word.c_str());
            e->topics = newStringList();
            e->topics->add(h.word.c_str());
        }
        if (!out.firstCounted && !h.fn.empty()) out.firstCounted = e.get();
        if (out.libHitCount == 0 || out.hits.back()->ID != h.id) ++out.libHitCount;
        out.docMatchCount += h.actualHits ? h.actualHits : 1;
        out.hits.push_back(e.get());
        entries_.push_back(std::move(e));
    }

    int write(unsigned isExternSearch = 0, const std::optional<std::string>& SL = std::nullopt) {
        if (out.libSearchCount == 0) out.libSearchCount = out.libHitCount;
        if (cg_->createDefaultSession() != 1) return -1;
        return fmt->writeResultsPage(*kh_, out, isExternSearch, SL);
    }
    std::string page() const { return cg_->docBuf ? std::string(cg_->docBuf, cg_->docSize) : std::string(); }
    CgiHandler& cg() { return *cg_; }
    std::string written() const { return cg_.written(); }

    std::unique_ptr<SearchData> sd;
    std::unique_ptr<SearchResultFmt> fmt;
    PreparedResults out;

private:
    test::CapturedRequest cg_;
    std::unique_ptr<KivoHandler> kh_;
    std::vector<std::unique_ptr<UzQxSearchEntry>> entries_;
};

size_t count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
    return n;
}

// The text between the first begin and the end after it.
std::string between(const std::string& text, const std::string& begin, const std::string& end) {
    const size_t b = text.find(begin);
    if (b == std::string::npos) return "";
    const size_t e = text.find(end, b + begin.size());
    return text.substr(b + begin.size(), e == std::string::npos ? std::string::npos : e - b - begin.size());
}

class ResultsPage : public test::ScriptedServerTest {
protected:
    // Runs body on a page whose server answers as script says.
    template <class Body>
    void withServer(const test::ServerScript& script, Body body) {
        test::AnsweringServer server;
        ASSERT_TRUE(server.ok());
        std::thread serving = server.accept(script);
        body(server.port());
        serving.join();
    }
};

TEST(ResultsPageScripts, AreCompiledIn) {
    EXPECT_NE(resultsPageScriptFile().find("function sortdisplay("), std::string::npos);
    EXPECT_NE(loadingPageScriptFile().find("function replaceTopUrl("), std::string::npos);
    EXPECT_NE(collectionSearchScript("results").find("Show All Results in the whole Library Collection"),
              std::string::npos);
    EXPECT_NE(collectionSearchScript("nomatch").find(" in the whole Library Collection."), std::string::npos);
}

// One counted hit of an external search without MLIDS, or of AC=search
// with LD=1, opens the document at once; SW=1 or MLIDS keep the page.
TEST_F(ResultsPage, SingleHitGoesStraightToItsDocument) {
    const std::string target = "Location: http:/" + std::string(kProgram) + "?";
    struct {
        const char* name;
        Fields fields;
        unsigned isExtern;
        size_t flags;
        std::string id;
        std::string location;
    } const cases[] = {
        {"external search",
         {{"AC", "SEARCH"}},
         1,
         0,
         "11",
         target + "ID=11&FN=1551-abc.html&AC=LINK&OP=200&PA=installation&ST=FULLTEXT#SearchMatch1\n\n"},
        {"the server travels with AllowUZonURL",
         {{"AC", "SEARCH"}},
         1,
         kCgiAllowUzOnUrl,
         "11",
         target + "UZ=127.0.0.1:9229&ID=11&FN=1551-abc.html&AC=LINK&OP=200&PA=installation&ST=FULLTEXT"
                  "#SearchMatch1\n\n"},
        {"an identity with a dot names the library file",
         {{"AC", "SEARCH"}},
         1,
         0,
         "guide.kvo",
         target +
             "DB=guide.kvo&FN=1551-abc.html&AC=LINK&OP=200&PA=installation&ST=FULLTEXT#SearchMatch1\n\n"},
        {"AC search with LD 1 from inside",
         {{"AC", "search"}, {"LD", "1"}},
         0,
         0,
         "11",
         target + "ID=11&FN=1551-abc.html&AC=LINK&OP=200&PA=installation&ST=FULLTEXT#SearchMatch1\n\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PageRun run(1, c.fields);
        run.cg().options = 0x200;
        run.cg().flags |= c.flags;
        run.out.options = "&PA=installation&ST=FULLTEXT#SearchMatch1";
        run.add({c.id, "1551-abc.html"});
        EXPECT_EQ(run.fmt->writeResultsPage(*newKivoHandler(&run.cg()), run.out, c.isExtern, std::nullopt),
                  1);
        EXPECT_EQ(run.written(), c.location);
        EXPECT_TRUE(run.cg().flags & kCgiResponseDone);
    }
}

TEST_F(ResultsPage, SingleHitOfAListedLibraryLoadsItThroughTheTopWindow) {
    struct {
        const char* name;
        size_t flags;
        std::string args;
    } const cases[] = {
        {"library by id", 0, "ID=11&FN=1551-abc.html&SL=EN%2FCOLL&AC=LINKEXT&OP=1"},
        {"with the server", kCgiAllowUzOnUrl,
         "UZ=127.0.0.1%3A9229&ID=11&FN=1551-abc.html&SL=EN%2FCOLL&AC=LINKEXT&OP=1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PageRun run(1, {{"AC", "SEARCH"}, {"SL", "EN/COLL"}});
        run.cg().options = 1;
        run.cg().flags |= c.flags;
        run.out.hasMlids = true;
        run.add({"11", "1551-abc.html"});
        EXPECT_EQ(run.fmt->writeResultsPage(*newKivoHandler(&run.cg()), run.out, 1, std::nullopt), 1);
        const std::string page = run.page();
        EXPECT_EQ(run.written(), "");
        EXPECT_TRUE(
            page.starts_with("<HTML>\n<HEAD>\n<TITLE>\n Generating Test Results\n</TITLE>\n</HEAD>\n"
                             "<BODY onload=\"replaceTopUrl();\n\">"));
        EXPECT_NE(page.find("var protocol = 'http:/';\nvar kivoserv = '" + std::string(kProgram) +
                            "';\nvar args = '" + c.args + "';\n"),
                  std::string::npos);
        EXPECT_NE(page.find("Loading document"), std::string::npos);
        EXPECT_TRUE(page.ends_with("</BODY>\n</HTML>"));
    }
}

// The summary's parts stop once the running length passes 45; the first
// part past it is one "<b>...</b>".
TEST_F(ResultsPage, SummaryKeepsToItsLengthBudget) {
    struct {
        const char* name;
        Fields fields;
        bool advanced;
        std::string searchPat;
        std::string shown;  // the summary cell after the count
    } const cases[] = {
        {"body of 5 and a title: 44",
         {{"ST", "ADVSEARCH"}, {"AC", "SEARCH"}, {"PA", "abcde"}, {"PAOR", "abcde"}, {"PAT", "x"}},
         true,
         "abcde",
         "<b>abcde</b> in body, and <b>x</b> in title"},
        {"body of 6: 45, still written",
         {{"ST", "ADVSEARCH"}, {"AC", "SEARCH"}, {"PA", "abcdef"}, {"PAOR", "abcdef"}, {"PAT", "x"}},
         true,
         "abcdef",
         "<b>abcdef</b> in body, and <b>x</b> in title"},
        {"body of 7: 46, cut",
         {{"ST", "ADVSEARCH"}, {"AC", "SEARCH"}, {"PA", "abcdefg"}, {"PAOR", "abcdefg"}, {"PAT", "x"}},
         true,
         "abcdefg",
         "<b>abcdefg</b> in body<b>...</b>"},
        {"a phrase body",
         {{"ST", "ADVSEARCH"}, {"AC", "SEARCH"}, {"PA", "\"a b\""}, {"PAOR", "\"a b\""}, {"PAC", "K"}},
         true,
         "\"a b\"",
         "<b>&quot;a b&quot;</b> in body , and <b>K</b> in keyword"},
        {"identity alone",
         {{"ST", "ADVSEARCH"}, {"AC", "SEARCH"}, {"PAD", "1551*"}},
         true,
         "",
         "<b>1551</b> in document identity "},
        {"a link list",
         {{"TI", "Guide"}, {"CW", "ABC"}},
         false,
         "",
         "<b>Guide</b> in title, and <b>ABC</b> in keyword"},
        {"a pattern of 29",
         {{"ST", "FULLTEXT"}, {"AC", "SEARCH"}, {"PAOR", std::string(29, 'a')}},
         false,
         std::string(29, 'a'),
         "<b>" + std::string(29, 'a') + "</b>"},
        {"a pattern of 30",
         {{"ST", "FULLTEXT"}, {"AC", "SEARCH"}, {"PAOR", std::string(30, 'a')}},
         false,
         std::string(30, 'a'),
         "<b>...</b>"},
        {"a phrase",
         {{"ST", "FULLTEXT"}, {"AC", "SEARCH"}, {"PAOR", "\"a&b\""}},
         false,
         "a&b",
         "search phrase <b>&quot;a&b&quot;</b>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        withServer(libraryServer(), [&](unsigned port) {
            PageRun run(port, c.fields);
            run.sd->isAdvanced = c.advanced;
            run.sd->searchPat = c.searchPat;
            run.add({"11", "1551-abc.html"});
            ASSERT_EQ(run.write(), 1) << run.fmt->getError();
            EXPECT_EQ(between(run.page(), "<td class=\"td_sy\"><b>1</b> documents matching ", "</td>\n"),
                      c.shown);
        });
    }
}

// Two libraries with hits and the requested ones without: the zero rows go
// before the first library with hits that follows them in the list.
TEST_F(ResultsPage, LibraryTableListsRequestedLibrariesInTheirOrder) {
    withServer(libraryServer({"44"}), [&](unsigned port) {
        PageRun run(port, {{"ST", "DOCSEARCH"}, {"AC", "DOCSEARCH"}, {"PA", "x"}});
        run.out.libIds = {"40", "11", "44", "33", "55"};
        run.add({"11", "1551-abc.html"});
        run.add({"11", "1551-abd.html"});
        run.add({"33", "", OST_BODYTEXT, "", 600});
        run.add({"33", "1551-abe.html"});
        ASSERT_EQ(run.write(), 1) << run.fmt->getError();
        const std::string page = run.page();
        const std::string table = between(page, "<table cellspacing=\"0\" cellpadding=\"2\">\n", "</table>");
        // Identities in table order: zero row, library, (44 refused: none), library, zero row.
        size_t at = 0;
        for (const char* id : {"EN/BETA R1A", "EN/DOCLIB1 R1A", "EN/COLL R1A", "EN/OMEGA R1A"}) {
            const size_t next = table.find(id, at);
            ASSERT_NE(next, std::string::npos) << id;
            at = next;
        }
        EXPECT_NE(table.find("title=\"Library contains filters\""), std::string::npos);
        EXPECT_NE(table.find("<b>2</b> &nbsp;"), std::string::npos);
        EXPECT_NE(table.find("<b>601</b> &nbsp;"), std::string::npos);
        EXPECT_EQ(count(table, "<td class=\"c3\" align=\"right\"><b>0</b> &nbsp;</td>"), 2u);
        EXPECT_NE(table.find("IM=87\"/><span class='a2'>&nbsp;&nbsp;Guide</span>"), std::string::npos);
        EXPECT_NE(table.find("IM=89\"/><span class='a2'>&nbsp;&nbsp;Collection</span>"), std::string::npos);
        // Each table link finds its heading.
        EXPECT_NE(table.find("href=\"#11|EN/DOCLIB1 R1A\""), std::string::npos);
        EXPECT_NE(page.find("<a name=\"11|EN/DOCLIB1 R1A\">Guide</a>"), std::string::npos);
        EXPECT_NE(page.find("<a name=\"33|EN/COLL R1A\">Collection</a>"), std::string::npos);
        EXPECT_EQ(count(page, "<tr bgcolor=\"#e5e5e5\">\n<th class=\"c4\""), 2u);
    });
}

TEST_F(ResultsPage, LibraryTableForms) {
    struct {
        const char* name;
        Fields fields;
        int showFilterColumn;
        int maxResultsCrossed;
        bool linked;
        const char* prelimClass;
    } const cases[] = {
        {"full text: no heading follows, titles unlinked",
         {{"ST", "FULLTEXT"}, {"AC", "SEARCH"}, {"PAOR", "x"}},
         1,
         0,
         false,
         "a2"},
        {"*.kvo: no filter column",
         {{"ST", "DOCSEARCH"}, {"AC", "DOCSEARCH"}, {"PAOR", "x"}},
         0,
         0,
         true,
         "a2"},
        {"the cap", {{"ST", "DOCSEARCH"}, {"AC", "DOCSEARCH"}, {"PAOR", "x"}}, 1, 1, false, "a3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        withServer(libraryServer(), [&](unsigned port) {
            PageRun run(port, c.fields);
            run.out.showFilterColumn = c.showFilterColumn;
            run.out.maxResultsCrossed = c.maxResultsCrossed;
            run.add({"11", "1551-abc.html"});
            run.add({"22", "", OST_BODYTEXT, "", 3000});
            const int result = run.write();
            const std::string page = run.page();
            EXPECT_EQ(result, c.maxResultsCrossed ? 3001 : 1) << run.fmt->getError();
            EXPECT_EQ(page.find("Library contains filters") != std::string::npos, c.showFilterColumn == 1);
            EXPECT_EQ(page.find("href=\"#22|EN/ALPHA R1A\"") != std::string::npos, c.linked);
            EXPECT_NE(
                page.find(c.linked ? "<span class='a2'>&nbsp;&nbsp;Alpha &lt;b&gt;Manual&lt;/b&gt;</span>"
                                   : "<span class='a3'>&nbsp;&nbsp;Alpha &lt;b&gt;Manual&lt;/b&gt;</span>"),
                std::string::npos);
            EXPECT_NE(page.find(std::string("<span class='") + c.prelimClass +
                                "'><font color=\"red\">&nbsp;[Preliminary]</font></span>"),
                      std::string::npos);
            EXPECT_EQ(count(page, "[Preliminary]"), 1u);
            if (c.maxResultsCrossed) {
                EXPECT_NE(
                    page.find(
                        "<b>&nbsp; Total 3001 matching document(s) were found with search pattern:x</b>"),
                    std::string::npos);
                EXPECT_NE(page.find("by selecting fewer libraries"), std::string::npos);
                EXPECT_EQ(page.find("class=\"tdT\""), std::string::npos);  // no rows
                EXPECT_TRUE(page.ends_with("</body></html>\n"));
            }
        });
    }
}

// Rows: the match anchor only on body-text rows, the divider before the
// first of them, keyword and topic lines, a catchword title.
TEST_F(ResultsPage, RowsCarryTheirKindsMarks) {
    withServer(libraryServer(), [&](unsigned port) {
        PageRun run(port, {{"ST", "FULLTEXT"}, {"AC", "SEARCH"}, {"PA", "abc"}, {"PAOR", "abc"}});
        run.out.options = "&PA=abc&ST=FULLTEXT#SearchMatch1";
        run.add({"11", "1551-t.html", OST_TITLE, "TITLE: \"Title hit\""});
        run.add({"11", "1551-k.html", OST_KEYWORD_LOGICAL, "TITLE: \"Keyword hit\"", 0, "ABC", 1, 2});
        run.add({"11", "1551-p.html", OST_TOPICTITLE, "TITLE: \"Topic hit\"", 0, "Intro|1.2|", 2, 1});
        run.add({"11", "1551-c.html", OST_CTW, "TITLE: \"Intro\" CTW: \"ABC\"", 0, "ABC", 0, 2});
        run.add({"11", "h12.html", OST_FOLTITLE, "TITLE: \"Books|Folder hit\""});
        run.add({"11", "1551-b.html", OST_BODYTEXT, "TITLE: \"Body hit\""});
        run.add({"11", "1551-d.html", OST_BODYTEXT, "TITLE: \"Body two\""});
        ASSERT_EQ(run.write(), 1) << run.fmt->getError();
        const std::string page = run.page();
        EXPECT_EQ(count(page, "#SearchMatch1"), 2u);
        EXPECT_EQ(count(page, "<b>Hits in body text</b>"), 1u);
        EXPECT_LT(page.find("<b>Hits in body text</b>"), page.find("Body hit"));
        EXPECT_GT(page.find("<b>Hits in body text</b>"), page.find("Folder hit"));
        EXPECT_NE(
            page.find("pointer-events: none;color:#333333;cursor: default;\" name=\"kivo?AC=LINK&amp;LI="),
            std::string::npos);
        EXPECT_NE(page.find("#KW:ABC"), std::string::npos);
        EXPECT_NE(page.find("CHAPTER1.2"), std::string::npos);
        EXPECT_NE(page.find("ABC:</font>"), std::string::npos);
        EXPECT_EQ(run.cg().highlightFlag, 1);
        EXPECT_NE(page.find(">Folder</td>"), std::string::npos);
        // Rows link the library by its hash id and its comment identity.
        EXPECT_NE(page.find("LI=EN/DOCLIB1 R1A&amp;ID=11&amp;FN=1551-b.html"), std::string::npos);
        EXPECT_TRUE(page.ends_with("</table>\n</body>\n</html>"));
    });
}

// Full text keeps, of one document in one library, the entries not lower
// than an earlier one; a sorted page only the highest.
TEST_F(ResultsPage, FullTextDuplicatesKeepTheHigherType) {
    struct {
        const char* name;
        const char* od;
        unsigned long first;
        unsigned long second;
        size_t rows;
    } const cases[] = {
        {"body then title, unsorted: both", "0", OST_BODYTEXT, OST_TITLE, 2},
        {"body then title, sorted: the title", "1", OST_BODYTEXT, OST_TITLE, 1},
        {"title then body: the title", "0", OST_TITLE, OST_BODYTEXT, 1},
        {"equal types both stay", "1", OST_TITLE, OST_TITLE, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        withServer(libraryServer(), [&](unsigned port) {
            PageRun run(port, {{"ST", "FULLTEXT"}, {"AC", "SEARCH"}, {"OD", c.od}});
            run.out.isSorted = std::string(c.od) != "0";
            run.add({"11", "1551-a.html", c.first});
            run.add({"11", "1551-a.html", c.second});
            run.add({"22", "1551-a.html", c.first});  // another library: its own document
            ASSERT_EQ(run.write(), 1) << run.fmt->getError();
            EXPECT_EQ(count(run.page(), "FN=1551-a.html"), c.rows + 1);
        });
    }
}

// Each note sums its type over the libraries; keyword and topic title
// share one note, the later one's; a phrase search writes none.
TEST_F(ResultsPage, NotesSumTheLibrariesSummaries) {
    struct {
        const char* name;
        std::string paor;
        std::vector<Hit> hits;
        std::vector<std::string> notes;
    } const cases[] = {
        {"body text over two libraries",
         "abc",
         {{"11", "", OST_BODYTEXT, "", 600}, {"22", "", OST_BODYTEXT, "", 700}},
         {"1300 documents found in body text search"}},
        {"keyword, then topic title: the topic note",
         "abc",
         {{"11", "", OST_CTW, "", 510}, {"11", "", OST_TOPICTITLE, "", 520}, {"22", "", OST_TITLE, "", 530}},
         {"520 documents found in topic-title search", "530 hits found in title search"}},
        {"a phrase: no notes", "\"a b\"", {{"11", "", OST_BODYTEXT, "", 600}}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        withServer(libraryServer(), [&](unsigned port) {
            PageRun run(port, {{"ST", "FULLTEXT"}, {"AC", "SEARCH"}, {"PAOR", c.paor}});
            run.out.fIgnoreSearchType = 0;
            run.add({"11", "1551-a.html"});
            for (const Hit& h : c.hits) run.add(h);
            ASSERT_EQ(run.write(), 1) << run.fmt->getError();
            const std::string page = run.page();
            EXPECT_EQ(count(page, " found in "), c.notes.size());
            size_t at = 0;
            for (const std::string& note : c.notes) {
                at = page.find("<b> " + note + "</b>", at);
                EXPECT_NE(at, std::string::npos) << note;
            }
        });
    }
}

TEST_F(ResultsPage, ClosingLinesNameThePatterns) {
    struct {
        const char* name;
        Fields fields;
        bool advanced;
        bool phraseNote;
        int extra;  // summaries of 100 hits each added
        std::vector<std::string> lines;
    } const cases[] = {
        {"a phrase over 500 matches",
         {{"ST", "FULLTEXT"}, {"AC", "SEARCH"}, {"PAOR", "\"a b\""}},
         false,
         true,
         6,
         {"<b> <b>601</b> documents found containing the words from the phrase <b>&quot;a b&quot;</b></b>"}},
        {"the second edition shows the hits",
         {{"ST", "FULLTEXT"}, {"AC", "SEARCH"}, {"PAOR", "\"a b\""}},
         false,
         false,
         6,
         {"<b>601</b> hits were found with search phrase <b>&quot;a b&quot;</b>"}},
        {"500 matches",
         {{"ST", "FULLTEXT"}, {"AC", "SEARCH"}, {"PAOR", "\"a b\""}},
         false,
         true,
         4,
         {"<b>401</b> hits were found with search phrase <b>&quot;a b&quot;</b>"}},
        {"the advanced recap",
         {{"ST", "ADVSEARCH"}, {"AC", "SEARCH"}, {"PAT", "a|b"}, {"PAC", "K"}, {"PAD", "\"1551\""}},
         true,
         true,
         0,
         {"<b> 1 </b> documents found matching", "title:</td><td class=\"c4\"><b> a or b </b>",
          "keyword:</td><td class=\"c4\"><b> K </b>",
          "document identity:</td><td class=\"c4\"><b> &quot;1551&quot; </b>"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        withServer(libraryServer(), [&](unsigned port) {
            PageRun run(port, c.fields);
            run.sd->isAdvanced = c.advanced;
            run.fmt->edition.phraseNote = c.phraseNote;
            run.add({"11", "1551-a.html"});
            for (int i = 0; i < c.extra; ++i) run.add({"11", "", OST_BODYTEXT, "", 100});
            ASSERT_EQ(run.write(), 1) << run.fmt->getError();
            const std::string page = run.page();
            for (const std::string& line : c.lines) EXPECT_NE(page.find(line), std::string::npos) << line;
        });
    }
}

// A library the server refuses ends the page with message 55, in the
// table and in the rows.
TEST_F(ResultsPage, FailedLibraryLookupIsMessage55) {
    struct {
        const char* name;
        Fields fields;
        const char* tag;
    } const cases[] = {
        {"table", {{"ST", "DOCSEARCH"}, {"AC", "DOCSEARCH"}}, "SearchResultFmt/6"},
        {"rows", {{"ST", "FULLTEXT"}, {"AC", "SEARCH"}}, "SearchResultFmt/4"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        withServer(libraryServer(), [&](unsigned port) {
            PageRun run(port, c.fields);
            run.add({"40000", "1551-a.html"});
            EXPECT_EQ(run.write(), 0);
            EXPECT_EQ(run.fmt->getError(),
                      formatChecked(run.cg().msg(55, c.tag), "127.0.0.1:" + std::to_string(port),
                                    "Invalid ID 40000"));
        });
    }
}

// The help documents the server lists, and one question per library.
TEST_F(ResultsPage, HeadCountsHelpAndAsksEachLibraryOnce) {
    test::ScriptedPeer peer(
        {test::replyScript({test::listReply(test::listLine("kivo_help.khx") + test::listLine("guide.kvo")),
                            test::mlReply(kLibraryLines.at("11")), test::mlReply(kLibraryLines.at("22"))})});
    ASSERT_TRUE(peer.ok());
    {
        PageRun run(peer.port(), {{"ST", "FULLTEXT"}, {"AC", "SEARCH"}, {"SW", "1"}});
        run.add({"11", "1551-a.html"});
        run.add({"11", "1551-b.html"});
        run.add({"22", "1551-c.html"});
        ASSERT_EQ(run.write(1), 1) << run.fmt->getError();
        const std::string page = run.page();
        EXPECT_NE(page.find("<title>Kivo Browser - Search Results</title>"), std::string::npos);
        EXPECT_NE(page.find("var helpID = 'kivo_help.khx';\nvar helpCount = 1;\n"), std::string::npos);
        EXPECT_EQ(run.cg().helpCount, 1);
        EXPECT_TRUE(run.cg().flags & kCgiNoSearchWords);
        EXPECT_TRUE(run.cg().flags & kCgiNoExpires);
    }
    peer.stop();
    EXPECT_EQ(test::beforeQuit(peer.received(0)), "LIST\nMLLIST 11\nMLLIST 22\n");
}

}  // namespace
}  // namespace ruva

// The search loop over scripted servers: the lines it sends, its result
// and message, the hits it hands on and the fields it writes.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "bmod/ruvaserv/client/uzresponse.h"
#include "bmod/ruvaserv/client/uzsession.h"
#include "bmod/ruvaserv/search/search_functions.h"
#include "bmod/ruvaserv/search/search_result_fmt.h"
#include "common/html_escape.h"
#include "tests/bmod/ruvaserv/cgi/request_support.h"
#include "tests/bmod/ruvaserv/cgi/scripted_server.h"
#include "tests/bmod/ruvaserv/cgi/session_replies.h"
#include "tests/support/scripted_peer.h"
#include "tests/support/test_support.h"

namespace ruva {
namespace {

class CountingFmt : public SearchResultFmt {
public:
    CountingFmt(SearchData& sd, CgiHandler& cg, SearchResultSortOrder order)
        : SearchResultFmt(sd, cg, order) {}
    int presentSearchResult(KivoHandler&, UzResponse*, unsigned, const std::optional<std::string>&) override {
        return 3001;
    }
};

std::unique_ptr<SearchResultFmt> makeCounting(SearchData& sd, CgiHandler& cg, SearchResultSortOrder order) {
    return std::make_unique<CountingFmt>(sd, cg, order);
}

TEST(SearchResultFmtSeam, DefaultWritesTheNoMatchPageAndFactoryReplacesIt) {
    test::CapturedRequest req;
    req.field("ST", "FULLTEXT");
    req.field("PA", "abc");
    std::unique_ptr<SearchData> sd = newSearchData();
    std::unique_ptr<KivoHandler> kh = newKivoHandler(req.get());
    ASSERT_TRUE(sd && kh);

    std::unique_ptr<SearchResultFmt> fmt = newSearchResultFmt(*sd, *req, SRSO_SRCHTYPE);
    ASSERT_TRUE(fmt);
    EXPECT_EQ(fmt->srchSortOrder, SRSO_SRCHTYPE);
    EXPECT_EQ(fmt->presentSearchResult(*kh, nullptr, 0, std::nullopt), 1);
    EXPECT_EQ(fmt->getError(), "");
    ASSERT_NE(req->docBuf, nullptr);
    EXPECT_NE(std::string(req->docBuf, req->docSize).find("No documents matching "), std::string::npos);

    EXPECT_EQ(setSearchResultFmtFactory(&makeCounting), nullptr);
    fmt = newSearchResultFmt(*sd, *req, SRSO_DEFAULT);
    EXPECT_EQ(fmt->presentSearchResult(*kh, nullptr, 0, std::nullopt), 3001);
    EXPECT_EQ(setSearchResultFmtFactory(nullptr), &makeCounting);
    EXPECT_EQ(newSearchResultFmt(*sd, *req, SRSO_DEFAULT)->presentSearchResult(*kh, nullptr, 0, std::nullopt),
              1);
}

// ---- the loop on the wire

using test::CapturedRequest;
using test::PeerScript;
using test::ScriptedPeer;

constexpr char kQxHeader[] = "300-Database Filename Hash DocType Score Tokens Comment\n";
constexpr char kQxEnd[] = "200-QXSRCH executed.\n";
constexpr char kSrchHeader[] = "300-Database Filename Offset Context\n";
constexpr char kSrchEnd[] = "200-SRCH executed.\n";
constexpr char kBeingUpdated[] =
    "577 Library \"guide.kvo\" is being updated. Please perform this operation after some time.\n";
constexpr char kRemoved[] = "578 Library \"guide.kvo\" has been removed.\n";
constexpr char kSyntaxError[] = "400 Syntax error in QXSRCH command. Try HELP QXSRCH\n";
constexpr char kQuitReply[] = "200-See you later.\n";
constexpr char kTokens[] = " 0 \"text string for bodytext that will never be used\"\n";
// A reply that stands for the server closing once the line has come.
constexpr char kCloseAfterLine[] = "";
// Stand-ins in expected messages for what the run decides.
constexpr char kServer[] = "@server";
constexpr char kSessionError[] = "@session-error";

std::string hit(const std::string& name, const std::string& comment, const std::string& tokens = "INSTALL") {
    return "300 \"guide.kvo\" 12 \"" + name + "\" HTML 0 [" + tokens + "] \"" + comment + "\"\n";
}

std::string qx(const std::vector<std::string>& hits = {}) {
    std::string reply = kQxHeader;
    for (const std::string& h : hits) reply += h;
    return reply + kQxEnd;
}

// An SRCH reply: one context line, or none for an empty context.
std::string srch(const std::string& member, const std::string& context) {
    std::string reply = kSrchHeader;
    if (!context.empty()) reply += "300 \"guide.kvo\" \"" + member + "\" 120 \"" + context + "\"\n";
    return reply + kSrchEnd;
}

// MLLIST of one library, listed at level (the daemon writes a folder's
// absolute level).
std::string ml(const std::string& comment, int level = 0) {
    std::string line = test::dbLine("guide.kvo", 12, comment);
    line.replace(line.find("DB     0"), 8, "DB     " + std::to_string(level));
    return test::mlReply(line);
}

const std::string kGuide = ml("Guide [EN/DOCLIB1 R1A]");
const std::string kCatGuide = ml("Guide [EN/DOCLIB1 R1A] CAT: xcat,0|1 STA:REL");

PeerScript serverScript(const std::vector<std::string>& replies, bool greet = true) {
    PeerScript script;
    if (greet) script.send(test::kGreeting);
    for (const std::string& reply : replies) {
        script.awaitLine();
        if (reply == kCloseAfterLine) return script.close();
        script.send(reply);
    }
    return script.close();
}

struct Message {
    int index;
    const char* tag;
    std::vector<std::string> args;
};

std::string render(const CgiHandler& cg, const std::optional<Message>& m, const std::string& server) {
    if (!m) return "";
    std::vector<std::string> a = m->args;
    for (std::string& arg : a) {
        if (arg == kServer) arg = server;
        if (arg == kSessionError) arg = cg.sess ? cg.sess->getError() : "";
    }
    const TableFormat f = cg.msg(m->index, m->tag);
    switch (a.size()) {
        case 0:
            return formatChecked(f);
        case 1:
            return formatChecked(f, a[0]);
        case 5:
            return formatChecked(f, a[0], a[1], a[2], a[3], a[4]);
    }
    ADD_FAILURE() << "no rendering for " << a.size() << " arguments";
    return "";
}

// A hit as "file type isKwd isTopic [synopsis]"; "-" for a dropped one.
std::vector<std::string> hitsOf(const UzResponse* r) {
    std::vector<std::string> out;
    for (const UzQxSearchEntry* e = r ? r->qxsrch() : nullptr; e && e->filled(); e = e->next.get()) {
        std::string h = (e->filename.empty() ? "-" : e->filename) + " " + std::to_string(e->searchType) +
                        " " + std::to_string(e->isKwd) + std::to_string(e->isTopic);
        if (!e->synopsis.empty()) h += " " + e->synopsis;
        out.push_back(h);
    }
    return out;
}

struct LoopCase {
    const char* name;
    std::string query;
    KivoSearchType types;  // as the search request chose them
    uint32_t advanced;
    const char* cookie;                // HTTP_COOKIE, null for none
    std::vector<std::string> replies;  // after VER
    std::string sent;                  // after VER
    int result;
    std::optional<Message> message;
    std::vector<std::string> hits;
    uint32_t sTypeCounter;
    std::vector<std::pair<const char*, const char*>> fields;  // afterwards
};

// The request as searchAction leaves it before the loop: the session has
// answered VER, the types are chosen, the scope is the database.
class SearchLoopRun {
public:
    SearchLoopRun(const std::string& query, unsigned port, KivoSearchType types, uint32_t advanced) {
        cg_->docServAddr = "127.0.0.1:" + std::to_string(port);
        cg_->parseCgiInput(query.c_str(), query.size(), '&');
        sessionOk = cg_->establishDefaultSession() == 1;
        sd_ = newSearchData();
        sd_->searchType = OST_UNKNOWN | types;
        sd_->isAdvanced = advanced;
        sd_->searchScope = OSS_DATABASE;
        sf = newSearchFunctions(*sd_, *cg_);
    }
    CgiHandler& cg() { return *cg_; }
    SearchData& sd() { return *sd_; }
    std::string field(const char* name) {
        const Value* v = cg_->valueList->findValue(name);
        return v ? v->value : "(absent)";
    }

    bool sessionOk = false;
    std::unique_ptr<SearchFunctions> sf;

private:
    CapturedRequest cg_;
    std::unique_ptr<SearchData> sd_;
};

class SearchLoopWire : public test::ScriptedServerTest {};

TEST_F(SearchLoopWire, TypesLibrariesBitmapsRepliesAndHits) {
    const std::string install = hit("install.html", "TITLE: Install");
    const std::string kLongPattern(3000, 'a');
    const std::vector<LoopCase> cases = {
        // Types and their order.
        {"TITLE: titles, then folder titles",
         "ST=TITLE&PA=install&ID=12",
         OST_TITLE,
         0,
         nullptr,
         {kGuide, qx({install}), qx()},
         "MLLIST 12\nQXSRCH \"*install*\" 12 title.qxx 500\nQXSRCH \"*install*\" 12 folder.qxx 500\n",
         1,
         std::nullopt,
         {"install.html 2048 22"},
         2,
         {{"PAOR", "install"}}},
        {"FULLTEXT: catchwords first, body text last, hits marked by their index",
         "ST=FULLTEXT&PA=install&ID=12",
         OST_BODYTEXT | OST_TITLE | OST_DOCNO | OST_CTW | OST_FOLTITLE | OST_TOPICTITLE,
         0,
         nullptr,
         {kGuide, qx({hit("boot.html", "CTW: INSTALLER"), hit("setup.html", "TITLE: Setup CTW: INSTALLER")}),
          qx(), qx(), qx({hit("topics.html", "TITLE: Topics", "Install|3|")}), qx(),
          qx({hit("guide.html", "TITLE: Guide")})},
         "MLLIST 12\nQXSRCH \"install*\" 12 ctw.qxx 500\nQXSRCH \"*install*\" 12 title.qxx 500\n"
         "QXSRCH \"*install*\" 12 folder.qxx 500\nQXSRCH \"*install*\" 12 topictitle.qxx 500\n"
         "QXSRCH \"*install*\" 12 docno.qxx 500\nQXSRCH install 12 fulltext.qxx 500\n",
         1,
         std::nullopt,
         {"boot.html 4096 02", "setup.html 1024 12", "topics.html 512 21", "guide.html 128 22"},
         6,
         {{"PA", "install"}, {"PACW", "install*"}}},
        {"CATCHWORD: a hit is a catchword hit when its CTW: value fits the pattern",
         "ST=CATCHWORD&PA=boot*&ID=12",
         OST_CTW,
         0,
         nullptr,
         {kGuide, qx({hit("boot.html", "CTW: BOOTLOADER"), hit("flash.html", "CTW: FLASHING")})},
         "MLLIST 12\nQXSRCH \"boot*\" 12 ctw.qxx 500\n",
         1,
         std::nullopt,
         {"boot.html 4096 02", "flash.html 1024 12"},
         1,
         {}},
        {"ADVSEARCH with PAT and PA: titles and body text, without limit",
         "ST=ADVSEARCH&PAT=install&PA=setup&ID=12",
         OST_TITLE | OST_BODYTEXT,
         1,
         nullptr,
         {kGuide, qx(), qx()},
         "MLLIST 12\nQXSRCH \"*install*\" 12 title.qxx 0\nQXSRCH setup 12 fulltext.qxx 0\n",
         1,
         std::nullopt,
         {},
         2,
         {}},
        {"DO lifts the limit of titles, not of folder titles",
         "DO=1551&ST=TITLE&PA=install&ID=12",
         OST_TITLE,
         0,
         nullptr,
         {kGuide, qx(), qx()},
         "MLLIST 12\nQXSRCH \"*install*\" 12 title.qxx 0\nQXSRCH \"*install*\" 12 folder.qxx 500\n",
         1,
         std::nullopt,
         {},
         2,
         {}},
        {"ST=COD keeps only names holding its class",
         "ST=COD&PA=install&ID=12",
         OST_COD,
         0,
         nullptr,
         {kGuide, qx({hit("1551-19082-a.html", "TITLE: A"), hit("other.html", "TITLE: B")})},
         "MLLIST 12\nQXSRCH install 12 fulltext.qxx 500\n",
         1,
         std::nullopt,
         {"1551-19082-a.html 8 22", "- 8 22"},
         1,
         {}},

        {"PA normalised before it is searched",
         "ST=FULLTEXT&PA=%20%20--abc&ID=12",
         OST_BODYTEXT,
         0,
         nullptr,
         {kGuide, qx()},
         "MLLIST 12\nQXSRCH abc 12 fulltext.qxx 500\n",
         1,
         std::nullopt,
         {},
         1,
         {{"PA", "abc"}}},
        {"an external search leaves titles uncompleted, not folder titles",
         "ST=TITLE&PA=install&ID=12&SC=external",
         OST_TITLE,
         0,
         nullptr,
         {kGuide, qx(), qx()},
         "MLLIST 12\nQXSRCH install 12 title.qxx 500\nQXSRCH \"*install*\" 12 folder.qxx 500\n",
         1,
         std::nullopt,
         {},
         2,
         {}},
        {"hiragana in the body text of a form search: message 99, nothing sent",
         "ST=ADVSEARCH&PA=%A4%A2&ID=12",
         OST_BODYTEXT,
         1,
         nullptr,
         {},
         "",
         0,
         Message{99, "SearchFunctions/8", {}},
         {},
         0,
         {}},

        // Library lists: one MLLIST and one QXSRCH per library.
        {"LIBIDS of a document search",
         "ST=DOCSEARCH&PAT=install&LIBIDS=%2212%2034%20%22",
         OST_TITLE | OST_FOLTITLE,
         1,
         nullptr,
         {kGuide, kGuide, qx(), qx(), qx(), qx()},
         "MLLIST 12\nMLLIST 34\nQXSRCH \"*install*\" 12 title.qxx 0\nQXSRCH \"*install*\" 34 title.qxx 0\n"
         "QXSRCH \"*install*\" 12 folder.qxx 0\nQXSRCH \"*install*\" 34 folder.qxx 0\n",
         1,
         std::nullopt,
         {},
         2,
         {}},
        {"MLIDS of an advanced search",
         "ST=ADVSEARCH&PAT=install&MLIDS=12%2034",
         OST_TITLE | OST_FOLTITLE,
         1,
         nullptr,
         {kGuide, kGuide, qx(), qx(), qx(), qx()},
         "MLLIST 12\nMLLIST 34\nQXSRCH \"*install*\" 12 title.qxx 0\nQXSRCH \"*install*\" 34 title.qxx 0\n"
         "QXSRCH \"*install*\" 12 folder.qxx 0\nQXSRCH \"*install*\" 34 folder.qxx 0\n",
         1,
         std::nullopt,
         {},
         2,
         {}},
        {"an ID in quotes, stored as entities",
         "ST=ADVSEARCH&PAT=install&ID=%2212%2034%22",
         OST_TITLE | OST_FOLTITLE,
         1,
         nullptr,
         {kGuide, kGuide, qx(), qx(), qx(), qx()},
         "MLLIST 12\nMLLIST 34\nQXSRCH \"*install*\" 12 title.qxx 0\nQXSRCH \"*install*\" 34 title.qxx 0\n"
         "QXSRCH \"*install*\" 12 folder.qxx 0\nQXSRCH \"*install*\" 34 folder.qxx 0\n",
         1,
         std::nullopt,
         {},
         2,
         {}},
        {"LIBIDS outside a document search: the ID rule",
         "ST=TITLE&PA=install&LIBIDS=34&ID=12",
         OST_TITLE,
         0,
         nullptr,
         {kGuide, qx(), qx()},
         "MLLIST 12\nQXSRCH \"*install*\" 12 title.qxx 500\nQXSRCH \"*install*\" 12 folder.qxx 500\n",
         1,
         std::nullopt,
         {},
         2,
         {}},
        {"DB names the library file",
         "ST=TITLE&PA=install&DB=guide",
         OST_TITLE,
         0,
         nullptr,
         {kGuide, qx(), qx()},
         "MLLIST \"guide.kvo\"\nQXSRCH \"*install*\" \"guide.kvo\" title.qxx 500\n"
         "QXSRCH \"*install*\" \"guide.kvo\" folder.qxx 500\n",
         1,
         std::nullopt,
         {},
         2,
         {}},
        {"no library field: every library, no MLLIST",
         "ST=TITLE&PA=install",
         OST_TITLE,
         0,
         nullptr,
         {qx(), qx()},
         "QXSRCH \"*install*\" \"*.kvo\" title.qxx 500\nQXSRCH \"*install*\" \"*.kvo\" folder.qxx 500\n",
         1,
         std::nullopt,
         {},
         2,
         {}},

        // Category bitmaps.
        {"the CAT: mark's default bitmap",
         "ST=TITLE&PA=install&ID=12",
         OST_TITLE,
         0,
         nullptr,
         {kCatGuide, qx(), qx()},
         "MLLIST 12\nQXSRCH \"*install*\" 12 title.qxx 0 0|1\nQXSRCH \"*install*\" 12 folder.qxx 0 0|1\n",
         1,
         std::nullopt,
         {},
         2,
         {}},
        {"the category cookie's bitmap",
         "ST=TITLE&PA=install&ID=12",
         OST_TITLE,
         0,
         "xcat=A|0",
         {kCatGuide, qx(), qx()},
         "MLLIST 12\nQXSRCH \"*install*\" 12 title.qxx 0 A|0\nQXSRCH \"*install*\" 12 folder.qxx 0 A|0\n",
         1,
         std::nullopt,
         {},
         2,
         {}},
        {"a cookie holding a blank gives no bitmap",
         "ST=TITLE&PA=install&ID=12",
         OST_TITLE,
         0,
         "xcat=1 2",
         {kCatGuide, qx(), qx()},
         "MLLIST 12\nQXSRCH \"*install*\" 12 title.qxx 500\nQXSRCH \"*install*\" 12 folder.qxx 500\n",
         1,
         std::nullopt,
         {},
         2,
         {}},
        {"a cookie holding a quote gives no bitmap",
         "ST=TITLE&PA=install&ID=12",
         OST_TITLE,
         0,
         "xcat=1\"",
         {kCatGuide, qx(), qx()},
         "MLLIST 12\nQXSRCH \"*install*\" 12 title.qxx 500\nQXSRCH \"*install*\" 12 folder.qxx 500\n",
         1,
         std::nullopt,
         {},
         2,
         {}},
        {"a library in a sub-folder keeps its bitmap",
         "ST=TITLE&PA=install&ID=12",
         OST_TITLE,
         0,
         nullptr,
         {ml("Guide [EN/DOCLIB1 R1A] CAT: xcat,0|1 STA:REL", 3), qx(), qx()},
         "MLLIST 12\nQXSRCH \"*install*\" 12 title.qxx 0 0|1\nQXSRCH \"*install*\" 12 folder.qxx 0 0|1\n",
         1,
         std::nullopt,
         {},
         2,
         {}},

        // Replies.
        {"577 in the second type fails with message 7; the reply keeps the first type's hits",
         "ST=TITLE&PA=install&ID=12",
         OST_TITLE,
         0,
         nullptr,
         {kGuide, qx({install}), kQxHeader + std::string(kBeingUpdated)},
         "MLLIST 12\nQXSRCH \"*install*\" 12 title.qxx 500\nQXSRCH \"*install*\" 12 folder.qxx 500\n",
         0,
         Message{7, "SearchFunctions/11", {"guide.kvo"}},
         {"install.html 2048 22"},
         2,
         {}},
        {"578 fails with message 8",
         "ST=TITLE&PA=install&ID=12",
         OST_TITLE,
         0,
         nullptr,
         {kGuide, kQxHeader + std::string(kRemoved)},
         "MLLIST 12\nQXSRCH \"*install*\" 12 title.qxx 500\n",
         0,
         Message{8, "SearchFunctions/12", {"guide.kvo"}},
         {},
         1,
         {}},
        {"an error line before any hit: message 86 with the server's text",
         "ST=TITLE&PA=install&ID=12",
         OST_TITLE,
         0,
         nullptr,
         {kGuide, kSyntaxError},
         "MLLIST 12\nQXSRCH \"*install*\" 12 title.qxx 500\n",
         0,
         Message{
             86,
             "SearchFunctions/3",
             {"*install*", kServer, "12", "title.qxx", "Syntax error in QXSRCH command. Try HELP QXSRCH"}},
         {},
         1,
         {}},
        {"a closed connection before any hit: message 86 with the session's text",
         "ST=TITLE&PA=install&ID=12",
         OST_TITLE,
         0,
         nullptr,
         {kGuide, kCloseAfterLine},
         "MLLIST 12\nQXSRCH \"*install*\" 12 title.qxx 500\n",
         0,
         Message{86,
                 "SearchFunctions/3",
                 {"*install*", kServer, "12", "title.qxx", getMsgStr(416, "uzsession/27")}},
         {},
         1,
         {}},
        {"an error line after a hit: the hits stand",
         "ST=TITLE&PA=install&ID=12",
         OST_TITLE,
         0,
         nullptr,
         {kGuide, qx({install}), kSyntaxError},
         "MLLIST 12\nQXSRCH \"*install*\" 12 title.qxx 500\nQXSRCH \"*install*\" 12 folder.qxx 500\n",
         1,
         std::nullopt,
         {"install.html 2048 22"},
         2,
         {}},

        // Phrases and contexts.
        {"a phrase: PAOR keeps its quotes, hits without the phrase go",
         "ST=TITLE&PA=%22a%20b%22&ID=12",
         OST_TITLE,
         0,
         nullptr,
         {kGuide, qx({hit("ab.html", "TITLE: Install a b guide"), hit("ba.html", "TITLE: b a")}), qx()},
         "MLLIST 12\nQXSRCH \"*a*&*b*\" 12 title.qxx 500\nQXSRCH \"*a*&*b*\" 12 folder.qxx 500\n",
         1,
         std::nullopt,
         {"ab.html 2048 22"},
         2,
         {{"PAOR", "\"a b\""}}},
        {"SP=1: a context per hit, none for a PDF, a hit without one dropped",
         "ST=FULLTEXT&PA=install&ID=12&SP=1",
         OST_BODYTEXT,
         0,
         nullptr,
         {kGuide, qx({hit("doc.PDF", "TITLE: D"), install, hit("other.html", "TITLE: O")}),
          srch("install.html", "Run install to begin the setup"), srch("other.html", "")},
         std::string("MLLIST 12\nQXSRCH install 12 fulltext.qxx 500\nSRCH install 12 install.html") +
             kTokens + "SRCH install 12 other.html" + kTokens,
         1,
         std::nullopt,
         {"doc.PDF 128 22", "install.html 128 22 Run <span class=\"ch\">install</span> to begin the...",
          "- 128 22"},
         1,
         {}},
        {"the cookie showContext asks for contexts too; the next word while none came, four at most",
         "ST=FULLTEXT&PA=a|b|c|d|e&ID=12",
         OST_BODYTEXT,
         0,
         "showContext=1",
         {kGuide, qx({install}), srch("install.html", ""), srch("install.html", ""), srch("install.html", ""),
          srch("install.html", "")},
         std::string("MLLIST 12\nQXSRCH \"a|b|c|d|e\" 12 fulltext.qxx 500\nSRCH a 12 install.html") +
             kTokens + "SRCH b 12 install.html" + kTokens + "SRCH c 12 install.html" + kTokens +
             "SRCH d 12 install.html" + kTokens,
         1,
         std::nullopt,
         {"- 128 22"},
         1,
         {}},
        {"577 from a context search fails with message 7",
         "ST=FULLTEXT&PA=install&ID=12&SP=1",
         OST_BODYTEXT,
         0,
         nullptr,
         {kGuide, qx({install}), kSrchHeader + std::string(kBeingUpdated)},
         std::string("MLLIST 12\nQXSRCH install 12 fulltext.qxx 500\nSRCH install 12 install.html") + kTokens,
         0,
         Message{7, "SearchFunctions/13", {"guide.kvo"}},
         {"install.html 128 22"},
         1,
         {}},

        // Hostile fields.
        {"a PA of 3000 characters sends nothing",
         "ST=TITLE&ID=12&PA=" + kLongPattern,
         OST_TITLE,
         0,
         nullptr,
         {},
         "",
         0,
         Message{97, "SearchFunctions/2", {}},
         {},
         0,
         {}},
        {"a PAT of 3000 characters sends nothing",
         "ST=ADVSEARCH&ID=12&PAT=" + kLongPattern,
         OST_TITLE | OST_FOLTITLE,
         1,
         nullptr,
         {},
         "",
         0,
         Message{97, "SearchFunctions/2", {}},
         {},
         0,
         {}},
    };
    for (const LoopCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> replies{test::verLine()};
        replies.insert(replies.end(), c.replies.begin(), c.replies.end());
        ScriptedPeer peer({serverScript(replies)});
        ASSERT_TRUE(peer.ok());
        test::EnvGuard env;
        env.set("HTTP_COOKIE", c.cookie ? std::optional<std::string>(c.cookie) : std::nullopt);
        {
            SearchLoopRun run(c.query, peer.port(), c.types, c.advanced);
            ASSERT_TRUE(run.sessionOk && run.sf);
            std::unique_ptr<UzResponse> reply;
            EXPECT_EQ(run.sf->ruvxSearchLoop(reply, nullptr), c.result);
            EXPECT_EQ(run.sf->getError(),
                      render(run.cg(), c.message, "127.0.0.1:" + std::to_string(peer.port())));
            EXPECT_EQ(hitsOf(reply.get()), c.hits);
            EXPECT_EQ(run.sd().sTypeCounter, c.sTypeCounter);
            for (const auto& [name, value] : c.fields) EXPECT_EQ(run.field(name), value) << name;
        }
        peer.stop();
        EXPECT_EQ(test::beforeQuit(peer.received(0)), "VER\n" + c.sent);
    }
}

// A second server known to the first is searched in turn over a session of
// its own, deleted after its pass; its hits join the first server's. The
// context words of the first server's body text fetch no contexts for the
// second server's titles.
TEST_F(SearchLoopWire, KnownServerIsSearchedInTurnAndItsSessionDeleted) {
    struct {
        const char* name;
        const char* query;
        KivoSearchType types;
        std::vector<std::string> firstReplies;  // after VER
        std::vector<std::string> otherReplies;  // before QUIT
        std::vector<std::string> hits;          // the first server's, then the other's
        unsigned searchCount;
        std::string otherReceived;
    } const cases[] = {
        {"titles",
         "ST=TITLE&PA=install&ID=12",
         OST_TITLE,
         {kGuide, qx({hit("a.html", "TITLE: A")}), qx()},
         {kGuide, qx({hit("b.html", "TITLE: B")}), qx()},
         {"a.html 2048 22", "b.html 2048 22"},
         4,
         "MLLIST 12\nQXSRCH \"*install*\" 12 title.qxx 500\nQXSRCH \"*install*\" 12 folder.qxx 500\nQUIT\n"},
        {"titles and body text with contexts",
         "ST=TITLE&PA=install&ID=12&SP=1",
         OST_TITLE | OST_BODYTEXT,
         {kGuide, qx({hit("a.html", "TITLE: A")}), qx(), qx({hit("c.html", "TITLE: C")}),
          srch("c.html", "Run install now ok")},
         {kGuide, qx({hit("b.html", "TITLE: B")}), qx(), qx()},
         {"a.html 2048 22", "c.html 128 22 Run <span class=\"ch\">install</span> now...", "b.html 2048 22"},
         6,
         "MLLIST 12\nQXSRCH \"*install*\" 12 title.qxx 500\nQXSRCH \"*install*\" 12 folder.qxx 500\n"
         "QXSRCH install 12 fulltext.qxx 500\nQUIT\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> firstReplies{test::verLine()};
        firstReplies.insert(firstReplies.end(), c.firstReplies.begin(), c.firstReplies.end());
        ScriptedPeer first({serverScript(firstReplies)});
        // No VER on the known server's session; its QUIT is answered, so the
        // line is in before the loop returns.
        std::vector<std::string> otherReplies = c.otherReplies;
        otherReplies.push_back(kQuitReply);
        ScriptedPeer other({serverScript(otherReplies)});
        ASSERT_TRUE(first.ok() && other.ok());
        const std::string otherAddress = "127.0.0.1:" + std::to_string(other.port());
        std::unique_ptr<UzResponse> servers = allocResponse(RT_KNOWN);
        ASSERT_NE(servers, nullptr);
        servers->known()->address = otherAddress;
        {
            SearchLoopRun run(c.query, first.port(), c.types, 0);
            ASSERT_TRUE(run.sessionOk && run.sf);
            std::unique_ptr<UzResponse> reply;
            EXPECT_EQ(run.sf->ruvxSearchLoop(reply, servers->known()), 1);
            EXPECT_EQ(run.sf->getError(), "");
            EXPECT_EQ(hitsOf(reply.get()), c.hits);
            ASSERT_NE(reply, nullptr);
            const UzQxSearchEntry* last = reply->qxsrch();
            while (last->next) last = last->next.get();
            EXPECT_EQ(reply->qxsrch()->servname, "127.0.0.1:" + std::to_string(first.port()));
            EXPECT_EQ(last->servname, otherAddress);
            EXPECT_EQ(run.sf->searchSessions, 2u);
            EXPECT_EQ(run.sf->searchCount, c.searchCount);
            EXPECT_EQ(run.cg().uzc->getNumSessions(), 1);
        }
        first.stop();
        other.stop();
        EXPECT_EQ(other.received(0), c.otherReceived);
    }
}

// A QXSRCH that stalls ends the search with 451 or 452, without a tag; the
// client has given up the connection, so the session's next command goes
// over a new one.
TEST_F(SearchLoopWire, StalledSearchTimesOutAndTheSessionReconnects) {
    struct {
        const char* name;
        const char* query;
        int message;
    } const cases[] = {
        {"a library-id search", "ST=TITLE&PA=install&ID=12&LIBIDS=12", 451},
        {"any other search", "ST=TITLE&PA=install&ID=12", 452},
    };
    const UzWaits saved = uzWaits();
    UzWaits waits = saved;
    waits.qxsrch = std::chrono::seconds(1);
    setUzWaits(waits);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PeerScript stalled;
        stalled.send(test::kGreeting)
            .awaitLine()
            .send(test::verLine())
            .awaitLine()
            .send(kGuide)
            .awaitLine()
            .silence();
        PeerScript fresh;
        fresh.send(test::kGreeting).awaitLine().send(test::verLine()).close();
        ScriptedPeer peer({stalled, fresh});
        ASSERT_TRUE(peer.ok());
        {
            SearchLoopRun run(c.query, peer.port(), OST_TITLE, 0);
            ASSERT_TRUE(run.sessionOk && run.sf);
            std::unique_ptr<UzResponse> reply;
            EXPECT_EQ(run.sf->ruvxSearchLoop(reply, nullptr), 0);
            EXPECT_EQ(run.sf->getError(), formatChecked(run.cg().msg(c.message, nullptr)));
            EXPECT_EQ(reply, nullptr);
            std::unique_ptr<UzResponse> again = run.cg().sess->ver();
            ASSERT_NE(again, nullptr);
            EXPECT_EQ(again->resultCode, 200);
            EXPECT_EQ(peer.connections(), 2u);
        }
        peer.stop();
        EXPECT_EQ(peer.received(0), "VER\nMLLIST 12\nQXSRCH \"*install*\" 12 title.qxx 500\n");
    }
    setUzWaits(saved);
}
// The lookup's one-index search: a completed copy of the pattern, the
// library as given, limit 500; failures as messages 86, 7 and 8.
TEST_F(SearchLoopWire, OneIndexSearchOfTheLookup) {
    struct {
        const char* name;
        const char* pattern;
        const char* library;
        std::vector<std::string> replies;  // after VER
        std::string sent;
        bool answered;
        std::optional<Message> message;
    } const cases[] = {
        {"a completed copy in the library given",
         "abc",
         "77",
         {qx({hit("abc.html", "CTW: ABC")})},
         "QXSRCH \"abc*\" 77 ctw.qxx 500\n",
         true,
         std::nullopt},
        {"of a library list only the first is searched",
         "abc",
         "12 34",
         {qx()},
         "QXSRCH \"abc*\" 12 ctw.qxx 500\n",
         true,
         std::nullopt},
        {"577: message 7",
         "abc",
         "77",
         {kQxHeader + std::string(kBeingUpdated)},
         "QXSRCH \"abc*\" 77 ctw.qxx 500\n",
         false,
         Message{7, "SearchFunctions/9", {"guide.kvo"}}},
        {"578: message 8",
         "abc",
         "77",
         {kQxHeader + std::string(kRemoved)},
         "QXSRCH \"abc*\" 77 ctw.qxx 500\n",
         false,
         Message{8, "SearchFunctions/10", {"guide.kvo"}}},
        {"an error line: message 86 with its text",
         "abc",
         "<b>",
         {kSyntaxError},
         "QXSRCH \"abc*\" <b> ctw.qxx 500\n",
         false,
         Message{
             86,
             "SearchFunctions/7",
             {"abc*", kServer, "&#60;b&#62;", "ctw.qxx", "Syntax error in QXSRCH command. Try HELP QXSRCH"}}},
        // Completed, x\ would end its quoted word in a backslash.
        {"a pattern ending in a backslash is not sent",
         "x\\",
         "77",
         {},
         "",
         false,
         Message{86, "SearchFunctions/7", {"x*\\", kServer, "77", "ctw.qxx", kSessionError}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> replies{test::verLine()};
        replies.insert(replies.end(), c.replies.begin(), c.replies.end());
        ScriptedPeer peer({serverScript(replies)});
        ASSERT_TRUE(peer.ok());
        {
            SearchLoopRun run("AC=LINK&CW=abc", peer.port(), 0, 0);
            ASSERT_TRUE(run.sessionOk && run.sf);
            std::unique_ptr<UzResponse> r = run.sf->makeRuvxSearch("ctw.qxx", c.pattern, c.library);
            EXPECT_EQ(r != nullptr, c.answered);
            EXPECT_EQ(run.sf->getError(),
                      render(run.cg(), c.message, "127.0.0.1:" + std::to_string(peer.port())));
            EXPECT_EQ(run.field("CW"), "abc");
        }
        peer.stop();
        EXPECT_EQ(test::beforeQuit(peer.received(0)), "VER\n" + c.sent);
    }
}

}  // namespace
}  // namespace ruva

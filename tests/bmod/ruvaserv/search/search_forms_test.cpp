// The search form pages over a scripted server: what is asked of it, the
// values the page's script gets, and the failures, which write no page.
#include "bmod/ruvaserv/search/search_forms_script.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/search/search_actions.h"
#include "tests/bmod/ruvaserv/cgi/request_support.h"
#include "tests/bmod/ruvaserv/cgi/scripted_server.h"
#include "tests/bmod/ruvaserv/cgi/session_replies.h"
#include "tests/support/scripted_peer.h"
#include "tests/support/test_support.h"

namespace ruva {
namespace {

using test::CapturedRequest;
using test::ScriptedPeer;

using Fields = std::vector<std::pair<const char*, const char*>>;

TEST(SearchFormsScript, IsCompiledIn) {
    for (const char* section : {"shared", "advanced", "document"}) {
        SCOPED_TRACE(section);
        EXPECT_NE(searchFormsScript(section).find("function"), std::string_view::npos);
    }
}

class SearchForms : public test::ScriptedServerTest {
protected:
    // Runs one page against a server that answers replies in turn; the
    // page (docBuf) or "", the result, the error, and what the server got.
    struct Run {
        int result = -1;
        std::string page;
        std::string error;
        std::string requestError;
        std::string written;
        std::string sent;
    };
    // Without replies nothing listens at the server's address.
    Run run(bool advanced, const Fields& fields, const std::vector<std::string>& replies,
            const std::function<void(CgiHandler&)>& setUp = nullptr) {
        Run out;
        ScriptedPeer peer({test::replyScript(replies)});
        EXPECT_TRUE(peer.ok());
        if (replies.empty()) peer.stop();
        {
            CapturedRequest cg;
            cg->docServAddr = "127.0.0.1:" + std::to_string(peer.port());
            cg->kivoServName = "/h:8080/cgi-bin/kivoserv";
            for (const auto& [name, value] : fields) cg.field(name, value);
            if (setUp) setUp(*cg);
            auto sa = newSearchActions(cg.get());
            EXPECT_NE(sa, nullptr);
            out.result = advanced ? sa->advsearchAction() : sa->docsearchAction();
            out.error = sa->getError();
            out.requestError = cg->getError();
            if (cg->docBuf) out.page.assign(cg->docBuf, cg->docSize);
            out.written = cg.written();
        }
        peer.stop();
        out.sent = test::beforeQuit(peer.connections() ? peer.received(0) : "");
        return out;
    }
};

const std::string kLibraries = test::mlReply(test::dbLine("guide.kvo", 11, "Guide [EN/GUIDE1 R1A]") +
                                             test::dbLine("other.kvo", 22, "Other [EN/OTHER1 R1A]") +
                                             test::dbLine("kivo_help.khx", 33, "Help [EN/HELP1 R1A]"));

TEST_F(SearchForms, DocumentPageSearchesTheChosenLibraries) {
    struct {
        const char* name;
        Fields fields;
        const char* assignments;
    } const cases[] = {
        {"all libraries", {}, "var selectedLibraries = 0;\nvar searchLibraries = '*.kvo';\n"},
        {"a profile of two", {{"PROFILE", "12|34|"}}, "var searchLibraries = '\\\"12 34 \\\"';\n"},
        {"a profile of one", {{"PROFILE", "12|"}}, "var searchLibraries = '12';\n"},
        {"one bar inside", {{"PROFILE", "12|34"}}, "var searchLibraries = '12 34';\n"},
        {"a profile id", {{"PRID", "p7"}}, "var searchLibraries = 'p7';\n"},
        {"profile id 1 means none", {{"prid", "1"}}, "var searchLibraries = '*.kvo';\n"},
        {"selected libraries", {{"LIBCOUNT", "2"}, {"LIB1", "11"}, {"LIB2", "22"}},
         "var selectedLibraries = 1;\nvar searchLibraries = '\\\"11 22\\\"';\n"},
        {"a missing LIB ends the list", {{"LIBCOUNT", "2"}, {"LIB1", "11"}}, "var searchLibraries = '\\\"11\\\"';\n"},
        {"no more than the server's libraries",
         {{"LIBCOUNT", "2000000000"}, {"LIB1", "11"}, {"LIB2", "22"}, {"LIB3", "33"}, {"LIB4", "44"}},
         "var searchLibraries = '\\\"11 22 33\\\"';\n"},
        {"a count that is no number", {{"LIBCOUNT", "x2"}, {"LIB1", "11"}}, "var selectedLibraries = 0;\n"},
        {"a library id ending in a backslash", {{"LIBCOUNT", "1"}, {"LIB1", "1\\"}},
         "var searchLibraries = '\\\"1\\\\\\\"';\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Run r = run(false, c.fields, {test::verLine(), kLibraries});
        EXPECT_EQ(r.result, 1) << r.error;
        EXPECT_EQ(r.sent, "VER\nMLLIST\n");
        EXPECT_NE(r.page.find(c.assignments), std::string::npos) << r.page.substr(0, 600);
        EXPECT_NE(r.page.find("kivoserv?VR=R19K&DB=kivo_help.khx&FN=help.html&CH=LBmultiple"), std::string::npos);
        EXPECT_EQ(r.written, "");
    }
}

TEST_F(SearchForms, CollectionPageListsTheMembersTheServerKnows) {
    const std::string refs =
        "<library-references>\n"
        "<library><prod-no>EN/GUIDE1</prod-no><rstate>R1A</rstate><title>Guide</title></library>\n"
        "<library><prod-no>EN/NONE9</prod-no><rstate>R1A</rstate><title>Missing</title></library>\n"
        "</library-references>\n";
    Run r = run(true, {{"ID", "12"}},
                {test::verLine(), test::mlReply(test::dbLine("coll.kvo", 12, "Set [EN/SET1 R1A] +")),
                 test::contvReply("12", {{refs.size(), "library-references.xml"}}),
                 test::retrReply("library-references.xml", refs),
                 test::mlReply(test::dbLine("guide.kvo", 34, "Guide &amp; more [EN/GUIDE1 R1A]")),
                 test::mlReply(""), test::mlReply(test::dbLine("coll.kvo", 12, "Set [EN/SET1 R1A] +")),
                 test::contvReply("12", {}),
                 test::mlReply(test::dbLine("kivo_help.khx", 33, "Help [EN/HELP1 R1A]"))});
    ASSERT_EQ(r.result, 1) << r.error;
    // One look-up per member; the class list is asked for and missing.
    EXPECT_EQ(r.sent,
              "VER\nMLLIST 12\nCONTV 12 library-references.xml\nRETR 12 library-references.xml\n"
              "MLLIST \"[EN/GUIDE1R1A]\"\nMLLIST \"[EN/NONE9R1A]\"\nMLLIST 12\nCONTV 12 dec-classes.xml\n"
              "MLLIST \"kivo_help.khx\"\n");
    for (const char* part : {"var isColZul = 0;\nvar libraryIds = [];\nlibraryIds[0] = '12';\nlibraryIds[1] = '34';\n"
                             "var collectionSL = 'EN/SET1R1A';\n",
                             "<h2>Search in Library Collection</h2>",
                             "<option value=\"12\">Set</option>\n<option value=\"34\">Guide &amp; more</option>\n"
                             "</select>",
                             "<option value=\"1551\">Description (1551)</option>",
                             "<input type=\"hidden\" name=\"SL\" value=\"\" />"}) {
        EXPECT_NE(r.page.find(part), std::string::npos) << part;
    }
    EXPECT_EQ(r.page.find("Missing"), std::string::npos);
}

TEST_F(SearchForms, RequestOptionsShapeTheAdvancedPage) {
    const std::string library = test::mlReply(test::dbLine("other.kvo", 12, "Other [EN/OTHER1 R1A]"));
    const std::vector<std::string> withoutHelp = {test::verLine(), library, library, test::contvReply("12", {})};
    std::vector<std::string> withHelp = withoutHelp;
    withHelp.push_back(test::mlReply(test::dbLine("kivo_help.khx", 33, "Help [EN/HELP1 R1A]")));
    struct {
        const char* name;
        std::function<void(CgiHandler&)> setUp;
        std::vector<std::string> replies;
        const char* sentLast;
        std::vector<const char*> present;
        std::vector<const char*> absent;
    } const cases[] = {
        {"defaults", nullptr, withHelp, "MLLIST \"kivo_help.khx\"\n",
         {"<title></title>", "<h2>Advanced Search</h2>", "onclick=\"openFormHelp();\"",
          "var helpURL = 'http://h:8080/cgi-bin/kivoserv?VR=R19K&DB=kivo_help.khx&FN=help.html&CH=DBadvanced';",
          "<input type=\"hidden\" name=\"ID\" value=\"12\" />"},
         {"name=\"UZ\"", "<meta", "name=\"SL\"", "libraryIds[0]"}},
        {"help off", [](CgiHandler& cg) { cg.flags &= ~kCgiUseHelp; }, withoutHelp, "CONTV 12 dec-classes.xml\n",
         {"var helpURL = '';"}, {"openFormHelp();\" /"}},
        {"daemon address in URLs and a character set",
         [](CgiHandler& cg) {
             cg.flags |= kCgiAllowUzOnUrl;
             cg.charEnc = 1;
             cg.charEncoding = "euc-jp";
         },
         withHelp, "MLLIST \"kivo_help.khx\"\n",
         {"<input type=\"hidden\" name=\"UZ\" value=\"<!--@@uzaddr-->\" />",
          "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=euc-jp\" />"},
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Run r = run(true, {{"ID", "12"}}, c.replies, c.setUp);
        ASSERT_EQ(r.result, 1) << r.error;
        EXPECT_TRUE(r.page.starts_with("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<!DOCTYPE html"));
        EXPECT_TRUE(r.sent.ends_with(c.sentLast)) << r.sent;
        for (const char* part : c.present) EXPECT_NE(r.page.find(part), std::string::npos) << part;
        for (const char* part : c.absent) EXPECT_EQ(r.page.find(part), std::string::npos) << part;
    }
}

TEST_F(SearchForms, FailuresWriteNoPage) {
    const std::string refused = "500 Refused\n";
    struct {
        const char* name;
        bool advanced;
        std::vector<std::string> replies;  // empty: no server at all
        std::string error;                 // the search object's; "" for the request's
    } const cases[] = {
        {"advanced: no server", true, {}, "Cannot create session, "},
        {"advanced: no answer to the library's listing", true, {test::verLine()}, "The library <b>127.0.0.1:"},
        {"document: no server", false, {}, ""},
        {"document: listing refused", false, {test::verLine(), refused},
         "Failed to list multilevel libraries on 127.0.0.1:"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Run r = run(c.advanced, {{"ID", "12"}}, c.replies);
        EXPECT_EQ(r.result, 0);
        EXPECT_EQ(r.written, "");
        EXPECT_EQ(r.page, "");
        if (c.error.empty()) {
            // The request's own text stands for the page main writes.
            EXPECT_EQ(r.error, "");
            EXPECT_NE(r.requestError, "");
        } else {
            EXPECT_TRUE(r.error.starts_with(c.error)) << r.error;
        }
        // A long reason is shortened, never the message's own tag.
        EXPECT_LE(r.error.size(), kSearchErrorMax);
        if (c.advanced && c.replies.empty()) {
            EXPECT_TRUE(r.error.ends_with("[SearchActions/7.1]</span>")) << r.error;
        }
    }
}

}  // namespace
}  // namespace ruva

// The small markers over a scripted server: the server list with its
// columns and failures, the server's name, program information, the library
// name, the server address and the root node's id in a script call.
#include <arpa/inet.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "tests/bmod/ruvaserv/actions/action_test_support.h"
#include "tests/bmod/ruvaserv/cgi/scripted_server.h"

namespace ruva {
namespace {

using test::ActionRequest;
using test::PeerScript;

constexpr char kScript[] = "/host:8080/cgi-bin/kivoserv";
constexpr char kRefused[] = "500 Access denied\n";

// What a marker operation wrote at its place, as inside the copy pass.
struct Written {
    int result = -1;
    std::string text;
};

Written runMarker(ActionRequest& cg, int (KivoHandler::*operation)()) {
    Written out;
    if (!cg.ok() || !cg->allocDstBuf(64)) return out;
    cg->beginDstPass();
    out.result = (cg.handler().*operation)();
    cg->endDstPass();
    out.text.assign(cg->dstBuf, cg->dstOffs);
    return out;
}

std::string slistReply(const std::string& entries) {
    return "300-Address \"Comment\"\n" + entries + "200-SLIST executed.\n";
}

// Names 10.0.0.1 and 10.0.0.2; no other address has a name.
class TwoHosts : public Resolver {
public:
    bool addressOf(const std::string&, in_addr_t*) override { return false; }
    bool namesOf(in_addr_t addr, std::string* name, std::vector<std::string>*) override {
        if (addr == htonl(0x0a000001)) *name = "host-name-of-thirty-five-chars.test";
        else if (addr == htonl(0x0a000002)) *name = "<b>x.test";
        else return false;
        return true;
    }
};

TEST(ListServMarker, LinesPadTheHostToItsColumnAndEscapeWhatPeersChose) {
    const std::string pad20(20, ' ');
    struct {
        const char* name;
        std::string entries;
        bool uzOnUrl;
        std::string lines;
    } const cases[] = {
        {"a comment, address in the link", "300 127.0.0.1:4567 \"Main server\"\n", true,
         "<a href=\"http:/" + std::string(kScript) + "?uz=127.0.0.1:4567&op=20\">127.0.0.1:4567</a>" + pad20 +
             "Main server\n"},
        {"a comment, the anchor empty", "300 127.0.0.1:4567 \"Main server\"\n", false,
         "<a href=\"http:/" + std::string(kScript) + "?op=20\"></a>" + pad20 + "Main server\n"},
        {"no comment", "300 127.0.0.1:4567 \n", true,
         "<a href=\"http:/" + std::string(kScript) + "?uz=127.0.0.1:4567&op=20\">127.0.0.1:4567</a> ?\n"},
        {"no comment, the anchor empty", "300 127.0.0.1:4567 \n", false,
         "<a href=\"http:/" + std::string(kScript) + "?op=20\"></a> ?\n"},
        {"an empty comment is none", "300 127.0.0.1:4567 \"\"\n", false,
         "<a href=\"http:/" + std::string(kScript) + "?op=20\"></a> ?\n"},
        {"a 40-character host name: one blank", "300 10.0.0.1:9229 \"C\"\n", true,
         "<a href=\"http:/" + std::string(kScript) +
             "?uz=host-name-of-thirty-five-chars.test:9229&op=20\">host-name-of-thirty-five-chars.test:9229</a> C\n"},
        {"hostile comment and host name", "300 10.0.0.2:1 \"<script>window.__pwned=1</script> A & B\"\n", true,
         "<a href=\"http:/" + std::string(kScript) + "?uz=%3Cb%3Ex.test:1&op=20\">&lt;b&gt;x.test:1</a>" +
             std::string(34 - 11, ' ') + "&lt;script&gt;window.__pwned=1&lt;/script&gt; A & B\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TwoHosts hosts;
        ActionRequest cg({.replies = {test::verLine(), slistReply(c.entries)}});
        setResolver(&hosts);
        cg->kivoServName = kScript;
        cg->options = 0x20;
        if (c.uzOnUrl) cg->flags |= kCgiAllowUzOnUrl;
        const Written out = runMarker(cg, &KivoHandler::outputListServ);
        EXPECT_EQ(out.result, 1);
        EXPECT_EQ(out.text, "<pre>" + c.lines + "</pre>");
        EXPECT_EQ(cg.sent(), "VER\nSLIST\n");
    }
}

TEST(ListServMarker, FailuresWriteTheirMessageInsideThePreBlock) {
    for (const bool failed : {false, true}) {
        SCOPED_TRACE(failed ? "500" : "200 without entries");
        ActionRequest cg({.replies = {test::verLine(), failed ? "500 No list\n" : slistReply("")}});
        const std::string server = cg->docServAddr;
        const Written out = runMarker(cg, &KivoHandler::outputListServ);
        EXPECT_EQ(out.result, 1);
        const std::string message = failed ? formatChecked(msgFormat(69, "kivohandler/54"), server)
                                           : formatChecked(msgFormat(70, "kivohandler/55"));
        EXPECT_EQ(out.text, "<pre>" + message + "</pre>");
    }
}

TEST(ListServMarker, AccessDeniedBeforeOrOnTheSessionWritesMessage67) {
    const std::string refusedEarlier = formatChecked(msgFormat(67, "kivohandler/52"));
    const std::string refusedNow = formatChecked(msgFormat(67, "kivohandler/53"));
    {
        SCOPED_TRACE("a session refused before the marker");
        ActionRequest cg;
        ASSERT_TRUE(cg.ok() && cg->createDefaultSession());
        cg->sess->flags |= kSessAccessDenied;
        const Written out = runMarker(cg, &KivoHandler::outputListServ);
        EXPECT_EQ(out.result, 0);
        EXPECT_EQ(out.text, refusedEarlier);
        EXPECT_EQ(cg.sent(), "");
    }
    {
        SCOPED_TRACE("the server refuses the greeting");
        ActionRequest cg({PeerScript().send(kRefused).close()}, {});
        const Written out = runMarker(cg, &KivoHandler::outputListServ);
        EXPECT_EQ(out.result, 0);
        EXPECT_EQ(out.text, refusedNow);
    }
    {
        SCOPED_TRACE("no server answers: nothing written");
        ActionRequest cg({PeerScript().close()}, {});
        const Written out = runMarker(cg, &KivoHandler::outputListServ);
        EXPECT_EQ(out.result, 0);
        EXPECT_EQ(out.text, "");
        EXPECT_NE(cg->getError(), "");
    }
}

TEST(ServNameMarker, TheGreetingsCommentElseTheAddressInBrackets) {
    struct {
        const char* name;
        std::vector<PeerScript> scripts;
        const char* docServAddr;  // null: the peer's
        int result;
        std::string text;         // "@" stands for the peer's address
    } cases[] = {
        {"the comment, escaped", {test::replyScript({test::verLine("R19K", "Kivo <i>Browser</i> &amp; more")})},
         nullptr, 1, "Kivo &lt;i&gt;Browser&lt;/i&gt; &amp; more"},
        {"no comment: the address", {test::replyScript({"200 Version: ruvadaemon \"DOCSRV 1\" R19K\n"})}, nullptr,
         1, "[@]"},
        {"access denied: the configured address", {PeerScript().send(kRefused).close()}, nullptr, 0, "[@]"},
        {"an address that does not parse, escaped", {}, "<x>:1", 0, "[&lt;x&gt;:1]"},
        {"no server at all", {}, "", 0, formatChecked(msgFormat(71, "kivohandler/56"))},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        ActionRequest cg(std::move(c.scripts), {});
        const std::string peer = cg->docServAddr;
        if (c.docServAddr) cg->docServAddr = c.docServAddr;
        const Written out = runMarker(cg, &KivoHandler::outputServName);
        EXPECT_EQ(out.result, c.result);
        std::string expected = c.text;
        if (const size_t at = expected.find('@'); at != std::string::npos) expected.replace(at, 1, peer);
        EXPECT_EQ(out.text, expected);
    }
}

TEST(ProgInfoMarker, BothProgramsAndTheServerAddress) {
    {
        ActionRequest cg({.replies = {test::verLine()}});
        cg->kivoServName = kScript;
        cg->configName = "/etc/<kivo>.conf";
        const std::string server = cg->docServAddr;
        const Written out = runMarker(cg, &KivoHandler::outputProgInfo);
        EXPECT_EQ(out.result, 1);
        EXPECT_EQ(out.text, "kivoserv KIVOSRV 1 R19K [" + std::string(kScript) +
                                ", \"/etc/&lt;kivo&gt;.conf\"]<br />\nruvadaemon DOCSRV 1 R19K [" + server + "]");
    }
    {
        SCOPED_TRACE("the session fails: empty brackets at the end");
        ActionRequest cg({PeerScript().send(kRefused).close()}, {});
        cg->kivoServName = kScript;
        const Written out = runMarker(cg, &KivoHandler::outputProgInfo);
        EXPECT_EQ(out.text, "kivoserv KIVOSRV 1 R19K [" + std::string(kScript) + ", \"\"]<br />\n   []");
    }
}

TEST(DbNameMarker, IdElseDbCutAtAThreeLetterExtension) {
    const std::string a60(60, 'a');
    struct {
        const char* name;
        test::Fields fields;
        std::string text;
    } const cases[] = {
        {"ID", {{"ID", "lib.kvo"}, {"DB", "other.kvo"}}, "lib"},
        {"an empty ID gives DB", {{"ID", ""}, {"DB", "x.y.kvo"}}, "x.y"},
        {"a two-letter extension stays", {{"DB", "a.zi"}}, "a.zi"},
        {"four characters keep theirs", {{"DB", ".kvo"}}, ".kvo"},
        {"63 characters, then no cut", {{"DB", a60 + ".kvo"}}, a60 + ".kv"},
        {"a number", {{"ID", "4242"}}, "4242"},
        // Fields arrive with '<' blanked and quotes as entities: not escaped twice.
        {"entities kept", {{"DB", "<b>a&amp;b\".kvo"}}, " b a&amp;b&#34;"},
        {"none", {{"DB", ""}}, "[No Library]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ActionRequest cg({.fields = c.fields});
        const Written out = runMarker(cg, &KivoHandler::outputDbName);
        EXPECT_EQ(out.result, 1);
        EXPECT_EQ(out.text, c.text);
        EXPECT_EQ(cg.sent(), "");
    }
}

TEST(UzAddrMarker, TheSessionsAddressOrNothing) {
    ActionRequest cg;
    const std::string server = cg->docServAddr;
    Written out = runMarker(cg, &KivoHandler::outputUzAddr);
    EXPECT_EQ(out.result, 1);
    EXPECT_EQ(out.text, "");
    ASSERT_TRUE(cg->createDefaultSession());
    out = runMarker(cg, &KivoHandler::outputUzAddr);
    EXPECT_EQ(out.text, server);
}

// A top-level folder line of MLLIST with the given ID field.
std::string rootLine(const std::string& id) {
    return "300  SUB     0            - " + id + "\t\t\t-     - 1796961933 \"Root\"\n";
}

TEST(RootIdMarker, AlwaysANumberInTheScriptCall) {
    struct {
        const char* name;
        std::string reply;
        int result;
        std::string id;
    } const cases[] = {
        {"a structure file's root", test::mlReply(rootLine("S|0|-|") + test::folderLine(12)), 1, "0"},
        {"the first top-level folder", test::mlReply(test::kFolderLine), 1, "12"},
        {"libraries only", test::mlReply(test::dbLine("a.kvo", 4242, "A") + test::dbLine("b.kvo", 4243, "B")), 1,
         "0"},
        {"no entry", test::mlReply(""), 0, "0"},
        {"an id that is no number", test::mlReply(rootLine("S|1);alert(1|-|")), 1, "0"},
        {"MLLIST refused", "500 Unknown command\n", 0, "0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ActionRequest cg({.replies = {test::verLine(), c.reply}});
        const std::string server = cg->docServAddr;
        const Written out = runMarker(cg, &KivoHandler::outputRootID);
        EXPECT_EQ(out.result, c.result);
        EXPECT_EQ(out.text, c.id);
        const std::string page = "<script>docNoTree(\"SUB_MAIN\", " + out.text + ", \"\", \"\");</script>";
        EXPECT_EQ(test::checkPageScripts(page), 1);
        if (c.reply.starts_with("500")) {
            EXPECT_TRUE(cg.handler().getError().starts_with("Failed to list database on " + server + ", "))
                << cg.handler().getError();
        }
        EXPECT_EQ(cg.sent(), "VER\nMLLIST\n");
    }
}

}  // namespace
}  // namespace ruva

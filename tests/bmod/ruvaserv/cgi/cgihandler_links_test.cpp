// Program links rewritten as the post-processing pass meets them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "common/net_util.h"
#include "common/text_view.h"
#include "common/url_code.h"
#include "tests/bmod/ruvaserv/cgi/session_replies.h"
#include "tests/support/scripted_peer.h"
#include "tests/support/test_support.h"

extern char** environ;

namespace ruva {
namespace {

using test::kGreeting;
using test::PeerScript;
using test::ScriptedPeer;
using test::verLine;

constexpr size_t kPassRoom = 522240;

enum Session : bool { kNoSession = false, kGreeted = true };

class Links : public ::testing::Test {
protected:
    void SetUp() override {
        previous = setResolver(&noNames);
        env.set("RUVA_ADDR", std::nullopt);
    }
    void TearDown() override {
        if (cg) {
            cg->endDstPass();
            cg->freeDocBuf();
            cg->freeDstBuf();
        }
        cg.reset();
        setResolver(previous);
    }

    void makeRequest() {
        cg = newCgiHandler(kKivoservFlags, environ);
        ASSERT_NE(cg, nullptr);
        cg->kivoServName = "/127.0.0.1:8080/cgi-bin/kivoserv";
        cg->urlProto = "https:/";
    }

    // The page in a heap block of exactly its size: ASan reports any read
    // at or past docSize.
    void page(std::string_view text) {
        cg->freeDocBuf();
        cg->docBuf = static_cast<char*>(std::malloc(text.empty() ? 1 : text.size()));
        ASSERT_NE(cg->docBuf, nullptr);
        std::memcpy(cg->docBuf, text.data(), text.size());
        cg->docSize = text.size();
        cg->docbufSize = text.size();
    }

    // Copies the page as the pass does: through the first scheme ("qzl:/"
    // written as urlProto), the link, then the rest from where the link
    // left the read position.
    std::string run(std::string_view text, bool inScript) {
        size_t scheme = 0;
        while (scheme < text.size() && !startsCaseBlindAt(text, scheme, "http:/") &&
               !startsCaseBlindAt(text, scheme, "qzl:/"))
            ++scheme;
        EXPECT_EQ(cg->allocDstBuf(cg->docSize + kPassRoom), 1);
        cg->beginDstPass();
        if (scheme == text.size()) {
            EXPECT_EQ(cg->dstWriteBuf(text), 1);
        } else {
            const bool qzl = startsCaseBlindAt(text, scheme, "qzl:/");
            EXPECT_EQ(cg->dstWriteBuf(text.substr(0, scheme)), 1);
            EXPECT_EQ(cg->dstWriteBuf(qzl ? std::string_view(cg->urlProto) : text.substr(scheme, 6)), 1);
            size_t so = scheme + (qzl ? 5 : 6);
            EXPECT_EQ(cg->httpPostProcess(so, inScript), 1);
            EXPECT_LE(so, cg->docSize);
            if (so < cg->docSize) {
                EXPECT_EQ(cg->dstWriteBuf(text.substr(so)), 1);
            }
        }
        cg->endDstPass();
        EXPECT_FALSE(cg->dstPassFailed());
        return std::string(cg->dstBuf, cg->dstOffs);
    }

    test::NoNames noNames;
    Resolver* previous = nullptr;
    test::EnvGuard env;
    std::unique_ptr<CgiHandler> cg;
};

TEST_F(Links, ProgramLinksReachTheFrontEndWithTheRequestContext) {
    const std::string kivo = "http://127.0.0.1:8080/cgi-bin/kivoserv";
    struct Case {
        const char* name;
        std::string page;
        bool inScript;
        int curId;
        std::string curDb;
        uint32_t options;
        bool allowUz;
        Session session;
        std::string sent;  // "{UZ}" stands for the scripted server's address
    } const cases[] = {
        {"another program's link is copied", "<a href=\"http:/other?x=1\">", false, 12, "db1", 0, false,
         kNoSession, "<a href=\"http:/other?x=1\">"},
        {"a host that only begins kivo in another case", "<a href=\"http:/KIVO?x=1\">", false, 12, "db1", 0,
         false, kNoSession, "<a href=\"http:/KIVO?x=1\">"},
        {"ID and DB with &amp; in HTML", "<a href=\"HTTP:/kivo?AC=LINK&FN=a.html\">x</a>", false, 12, "db1", 0,
         false, kNoSession,
         "<a href=\"HTTP://127.0.0.1:8080/cgi-bin/kivoserv?ID=12&amp;DB=db1&amp;AC=LINK&FN=a.html\">x</a>"},
        {"& inside a script", "w(\"HTTP:/kivo?AC=LINK&FN=a.html\");", true, 12, "db1", 0, false, kNoSession,
         "w(\"HTTP://127.0.0.1:8080/cgi-bin/kivoserv?ID=12&DB=db1&AC=LINK&FN=a.html\");"},
        {"a link holding id= gets no ID", "<a href=\"http:/kivo?AC=LINK&amp;id=5\">", false, 12, "db1", 0,
         false, kNoSession, "<a href=\"" + kivo + "?DB=db1&amp;AC=LINK&amp;id=5\">"},
        {"a link holding IM= gets neither ID nor DB", "<img src=\"http:/kivo?AC=X&IM=7\">", false, 12, "db1",
         0, false, kNoSession, "<img src=\"" + kivo + "?AC=X&IM=7\">"},
        {"HID= is not ID, TSL= not SL", "<a href=\"http:/kivo?HID=3&TSL=x\">", false, 12, "db1", 0, false,
         kNoSession, "<a href=\"" + kivo + "?ID=12&amp;DB=db1&amp;HID=3&TSL=x\">"},
        {"fields after the link's end do not count",
         "<a href=\"http:/kivo?AC=LINK\" data-x=\"&ID=1&DB=2\">", false, 12, "db1", 0, false, kNoSession,
         "<a href=\"" + kivo + "?ID=12&amp;DB=db1&amp;AC=LINK\" data-x=\"&ID=1&DB=2\">"},
        {"a toolbar image link", "<img src=\"http:/kivo?ac=image&amp;im=prel.gif\">", false, 12, "db1", 0x20,
         true, kNoSession, "<img src=\"" + kivo + "?VR=R19K&amp;AC=TBIMG&amp;IM=117\">"},
        {"a toolbar image link in a script", "s='http:/kivo?AC=IMAGE&IM=prel.gif';", true, 12, "db1", 0,
         false, kNoSession, "s='" + kivo + "?VR=R19K&AC=TBIMG&IM=117';"},
        {"ac=toolbar gets nothing", "<a href=\"http:/kivo?ac=toolbar&x=1\">", false, 12, "db1", 0x20, false,
         kNoSession, "<a href=\"" + kivo + "?ac=toolbar&x=1\">"},
        {"qzl takes urlProto", "<a href=\"QZL:/kivo?FN=b.html\">", false, 12, "db1", 0, false, kNoSession,
         "<a href=\"https://127.0.0.1:8080/cgi-bin/kivoserv?ID=12&amp;DB=db1&amp;FN=b.html\">"},
        {"OP in hexadecimal", "<a href=\"http:/kivo?FN=a.html\">", false, 0, "", 0x2a0, false,
         kNoSession, "<a href=\"" + kivo + "?OP=2a0&amp;FN=a.html\">"},
        {"a link holding OP keeps its own", "<a href=\"http:/kivo?op=1&FN=a.html\">", false, 0, "", 0x20,
         false, kNoSession, "<a href=\"" + kivo + "?op=1&FN=a.html\">"},
        {"a DB value survives the field parser", "<a href=\"http:/kivo?FN=a.html\">", false, 0, "a&b+c", 0,
         false, kNoSession, "<a href=\"" + kivo + "?DB=a%26b%2Bc&amp;FN=a.html\">"},
        {"without a query only the address", "<a href=\"http:/kivo\">", false, 12, "db1", 0, false,
         kNoSession, "<a href=\"" + kivo + "\">"},
        {"cut after the host", "x http:/kivo", false, 12, "db1", 0, false, kNoSession, "x " + kivo},
        {"cut in the query", "x http:/kivo?I", false, 12, "db1", 0, false, kNoSession,
         "x " + kivo + "?ID=12&amp;DB=db1&amp;I"},
        {"cut after a field start", "x http:/kivo?a=1&amp", false, 12, "", 0, false, kNoSession,
         "x " + kivo + "?ID=12&amp;a=1&amp"},
        {"plain files: href keeps the other attributes",
         "<a class=\"x\" href=\"http:/kivo?AC=LINK&FN=a.html\" target=\"_top\">", false, 12, "db1", 0x100,
         false, kNoSession, "<a class=\"x\" href=\"a.html\" target=\"_top\">"},
        {"plain files: FN before other fields", "<a href='HTTP:/kivo?FN=a.html&ID=3'>t</a>", false, 12, "db1",
         0x100, false, kNoSession, "<a href=\"a.html\">t</a>"},
        {"plain files: without href the bare name", "w(\"http:/kivo?AC=LINK&FN=b.html\");", true, 12, "db1",
         0x100, false, kNoSession, "w(\"b.html\");"},
        {"plain files: qzl without href", "w(\"qzl:/kivo?FN=b.html\");", true, 12, "db1", 0x100, false,
         kNoSession, "w(\"b.html\");"},
        {"plain files: a link without a query", "<a href=\"http:/kivo\">", false, 12, "db1", 0x100, false,
         kNoSession, "<a href=\"\">"},
        {"UZ with a session and AllowUZonURL", "<a href=\"http:/kivo?FN=a.html\">", false, 12, "", 0, true,
         kGreeted, "<a href=\"" + kivo + "?UZ={UZ}&amp;ID=12&amp;FN=a.html\">"},
        {"UZ in a script", "u=\"http:/kivo?FN=a.html\"", true, 0, "", 0x20, true, kGreeted,
         "u=\"" + kivo + "?UZ={UZ}&OP=20&FN=a.html\""},
        {"no UZ without AllowUZonURL", "<a href=\"http:/kivo?FN=a.html\">", false, 12, "", 0, false,
         kGreeted, "<a href=\"" + kivo + "?ID=12&amp;FN=a.html\">"},
        {"no UZ without a session", "<a href=\"http:/kivo?FN=a.html\">", false, 12, "", 0, true, kNoSession,
         "<a href=\"" + kivo + "?ID=12&amp;FN=a.html\">"},
        {"a link holding UZ keeps its own", "<a href=\"http:/kivo?uz=h:1&FN=a.html\">", false, 0, "", 0,
         true, kGreeted, "<a href=\"" + kivo + "?uz=h:1&FN=a.html\">"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<ScriptedPeer> peer;
        makeRequest();
        std::string sent = c.sent;
        if (c.session == kGreeted) {
            peer.emplace(std::vector<PeerScript>{PeerScript().send(kGreeting).awaitLine().send(verLine()).close()});
            ASSERT_TRUE(peer->ok());
            cg->docServAddr = "127.0.0.1:" + std::to_string(peer->port());
            ASSERT_EQ(cg->establishDefaultSession(), 1) << cg->getError();
            const size_t at = sent.find("{UZ}");
            if (at != std::string::npos) sent.replace(at, 4, cg->docServAddr);
        }
        cg->curId = c.curId;
        cg->curDb = c.curDb;
        cg->options = c.options;
        if (c.allowUz) cg->flags |= kCgiAllowUzOnUrl;
        page(c.page);
        EXPECT_EQ(run(c.page, c.inScript), sent);
        cg->freeDocBuf();
        cg->freeDstBuf();
        cg.reset();
        if (peer) peer->stop();
    }
}

// The library references behind LI links: asked for once per request, and a
// matching reference adds the current library's title as SL. This daemon
// never lists hash id 0 for a library, so only a scripted server reaches it.
TEST_F(Links, LibraryLinksTakeTheTitleOfAMatchingReference) {
    const std::string refs =
        "<library-references><library><prod-no>ABC 99</prod-no><rstate>R1A</rstate>"
        "<title>Other</title></library></library-references>";
    for (const unsigned hash : {0u, 12u}) {
        SCOPED_TRACE(hash);
        PeerScript script;
        script.send(kGreeting).awaitLine().send(verLine()).awaitLine().send(
            test::mlReply(test::dbLine("guide.kvo", hash, "The Guide [EN/DOCLIB1 R1A]")));
        if (hash == 0) {
            script.awaitLine()
                .send(test::contvReply("0", {{refs.size(), "library-references.xml"}}))
                .awaitLine()
                .send(test::retrReply("library-references.xml", refs));
        }
        ScriptedPeer peer({script.awaitLine().close()});
        ASSERT_TRUE(peer.ok());
        makeRequest();
        cg->docServAddr = "127.0.0.1:" + std::to_string(peer.port());
        cg->curId = 12;
        const std::string kivo = "http://127.0.0.1:8080/cgi-bin/kivoserv";
        const std::string sl = hash == 0 ? "SL=TheGuide&amp;" : "";
        const struct {
            std::string link, sent;
        } links[] = {
            // The 16 characters after LI= stop only at the link's end, so
            // the field comes last.
            {"<a href=\"http:/kivo?FN=a.html&LI=ABC99R1A\">",
             "<a href=\"" + kivo + "?ID=12&amp;" + sl + "FN=a.html&LI=ABC99R1A\">"},
            {"<a href=\"http:/kivo?FN=b.html&LI=abc99\">",
             "<a href=\"" + kivo + "?ID=12&amp;" + sl + "FN=b.html&LI=abc99\">"},
            {"<a href=\"http:/kivo?FN=c.html&LI=XYZ1\">", "<a href=\"" + kivo + "?ID=12&amp;FN=c.html&LI=XYZ1\">"},
        };
        for (const auto& l : links) {
            page(l.link);
            EXPECT_EQ(run(l.link, false), l.sent);
            cg->freeDstBuf();
        }
        cg->freeDocBuf();
        cg.reset();
        peer.stop();
        const std::string received = peer.connections() ? peer.received(0) : "";
        size_t mllists = 0;
        for (size_t at = received.find("MLLIST"); at != std::string::npos; at = received.find("MLLIST", at + 1))
            ++mllists;
        EXPECT_EQ(mllists, 1u) << received;
        EXPECT_EQ(received.find("RETR") != std::string::npos, hash == 0) << received;
    }
}

TEST_F(Links, AddedDatabaseDecodesToTheRequestsValue) {
    makeRequest();
    cg->curDb = "a&b+c d";
    const std::string text = "<a href=\"http:/kivo?FN=a.html\">";
    page(text);
    const std::string sent = run(text, false);
    const size_t db = sent.find("DB=");
    ASSERT_NE(db, std::string::npos);
    const std::string value = sent.substr(db + 3, sent.find("&amp;", db) - db - 3);
    EXPECT_EQ(urlEncode(URLMODE_DECODE, value.c_str(), 3071), "a&b+c d");
}

TEST_F(Links, CurrentPageAddressTakesAnotherFileName) {
    const std::string base = "http://127.0.0.1:8080/cgi-bin/kivoserv?";
    struct Case {
        const char* name;
        std::string query;
        std::string fileName;
        std::string url;
    } const cases[] = {
        {"no file name keeps the address", "AC=LINK&FN=a.html&ID=3", "", base + "AC=LINK&FN=a.html&ID=3"},
        {"the fields after FN stay", "AC=LINK&FN=a.html&ID=3", "b.html", base + "AC=LINK&FN=b.html&ID=3"},
        {"FN last", "ID=3&FN=a.HTML", "b.html", base + "ID=3&FN=b.html"},
        {"another extension ends after FN=", "FN=a.pdf&ID=3", "b.html", base + "FN="},
        {"no extension ends after FN=", "FN=a&ID=3", "b.html", base + "FN="},
        {"script-breaking bytes are coded", "FN=a.html&Q='\"<>`\\", "b.html",
         base + "FN=b.html&Q=%27%22%3C%3E%60%5C"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        env.set("QUERY_STRING", c.query);
        makeRequest();
        cg->urlProto = "http:/";
        EXPECT_EQ(getURL(*cg, c.fileName), c.url);
    }
    env.set("QUERY_STRING", "FN=" + std::string(4000, '\'') + ".html");
    makeRequest();
    const std::string longUrl = getURL(*cg, "");
    EXPECT_LE(longUrl.size(), kGetUrlMax);
    EXPECT_TRUE(longUrl.ends_with("%27")) << longUrl.substr(longUrl.size() - 8);
}

}  // namespace
}  // namespace ruva

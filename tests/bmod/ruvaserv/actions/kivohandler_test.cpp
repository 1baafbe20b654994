#include "bmod/ruvaserv/actions/kivohandler.h"

#include <gtest/gtest.h>

#include <string>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "tests/bmod/ruvaserv/cgi/request_support.h"
#include "tests/bmod/ruvaserv/cgi/scripted_server.h"
#include "tests/support/scripted_peer.h"

namespace ruva {
namespace {

using test::CapturedRequest;

std::string unknownActionText(const std::string& word) {
    return formatChecked(msgFormat(10, "kivohandler/2"), word);
}

TEST(KivoHandler, MarkerHandlerIsRegisteredForTheHandlersLifetime) {
    CapturedRequest cg;
    auto kh = newKivoHandler(cg.get());
    ASSERT_NE(kh, nullptr);
    EXPECT_EQ(cg->specCallback, &KivoHandler::specCallback);
    EXPECT_EQ(cg->specClientData, kh.get());
    EXPECT_EQ(kh->getError(), "");
    kh.reset();
    EXPECT_EQ(cg->specCallback, nullptr);
    EXPECT_EQ(cg->specClientData, nullptr);
}

// Until their actions exist, the later words answer as unknown ones do,
// naming the row's own word, so every spelling of a word shows the row it
// reached.
TEST(KivoHandler, UnknownAndUnbuiltWordsAnswerMessage10) {
    struct {
        const char* word;
        std::string named;
    } const cases[] = {
        {"9x", "9x"},
        {"Fxyz", "Fxyz"},
        {"fxyz", "Fxyz"},
        {"Linkx", "Linkx"},
        {"Vx", "Vx"},
        {"", ""},
        {"LINK ", "LINK "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.word);
        CapturedRequest cg;
        auto kh = newKivoHandler(cg.get());
        EXPECT_EQ(kh->entry(c.word), 0);
        EXPECT_EQ(kh->getError(), unknownActionText(c.named));
        EXPECT_EQ(cg.written(), "");
    }
}

TEST(KivoHandler, LongWordIsCutBeforeTheTagSpan) {
    CapturedRequest cg;
    auto kh = newKivoHandler(cg.get());
    const std::string word = "F" + std::string(5000, 'x');
    EXPECT_EQ(kh->entry(word.c_str()), 0);
    EXPECT_EQ(kh->getError(), unknownActionText(word.substr(0, kErrorArgumentMax) + "..."));
}

TEST(KivoHandler, ErrorTextIsKeptWhole) {
    CapturedRequest cg;
    auto kh = newKivoHandler(cg.get());
    kh->setError(msgFormat(0, "kivohandler/81"), std::string(1000, 'x'));
    EXPECT_EQ(kh->getError(), formatChecked(msgFormat(0, "kivohandler/81"), std::string(1000, 'x')));
    EXPECT_TRUE(kh->getError().ends_with("</span>"));
    kh->clear();
    EXPECT_EQ(kh->getError(), "");
}

TEST(KivoHandler, BlankAndScriptRowsPrepareTheirAnswer) {
    CapturedRequest cg;
    auto kh = newKivoHandler(cg.get());
    kh->entry("blank");
    EXPECT_FALSE(cg->flags & kCgiBodyHandlers);

    CapturedRequest script;
    auto sh = newKivoHandler(script.get());
    sh->entry("jscmenu");
    EXPECT_EQ(script->mimeType, "text/javascript");
    EXPECT_TRUE(script->flags & kCgiBodyHandlers);
}

class KivoHandlerSearchForms : public test::ScriptedServerTest {};

// SEARCH takes the external mark and the carried bit 0x40 out of the
// options and fills the sort fields before the search runs; a session that cannot be had leaves its
// error with the request, the handler's own text empty.
TEST_F(KivoHandlerSearchForms, SearchRowPreparesTheSearchAndPassesItsFailure) {
    struct {
        const char* od;
        const char* ba;
        const char* wantOd;
        const char* wantBa;
    } const cases[] = {
        {nullptr, nullptr, "0", "TITLE"},
        {"", "", "0", "TITLE"},
        {"9", "TYPE", "9", "TYPE"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.od ? c.od : "(none)");
        test::ScriptedPeer peer({test::PeerScript().close()});
        ASSERT_TRUE(peer.ok());
        CapturedRequest cg;
        cg->docServAddr = "127.0.0.1:" + std::to_string(peer.port());
        cg.field("ID", "12");
        cg.field("ST", "TITLE");
        cg.field("PA", "x");
        if (c.od) cg.field("OD", c.od);
        if (c.ba) cg.field("BA", c.ba);
        cg->options = 0x240;
        auto kh = newKivoHandler(cg.get());
        EXPECT_EQ(kh->entry("search"), 0);
        EXPECT_EQ(cg->options, 0x0u);
        EXPECT_EQ(cg->valueList->findValue("OD")->value, c.wantOd);
        EXPECT_EQ(cg->valueList->findValue("BA")->value, c.wantBa);
        EXPECT_EQ(kh->getError(), "");
        EXPECT_NE(cg->getError(), "");
        EXPECT_EQ(cg.written(), "");
    }
}

// With the daemon gone the forms write nothing: the row leaves the body
// handlers off and hands the form's error text to the handler, so the
// program writes exactly one error page.
TEST_F(KivoHandlerSearchForms, RowsDropBodyHandlersAndPassTheFormsError) {
    struct {
        const char* word;
        bool formError;  // the form names the failure itself (message 33)
    } const cases[] = {
        {"AdvSearch", true},
        {"DOCSEARCH", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.word);
        test::ScriptedPeer peer({test::PeerScript().close()});
        ASSERT_TRUE(peer.ok());
        CapturedRequest cg;
        cg->docServAddr = "127.0.0.1:" + std::to_string(peer.port());
        auto kh = newKivoHandler(cg.get());
        EXPECT_EQ(kh->entry(c.word), 0);
        EXPECT_FALSE(cg->flags & kCgiBodyHandlers);
        EXPECT_NE(cg->getError(), "");
        // Message 33 as the form wrote it; the document form leaves the
        // session's error to the request.
        EXPECT_EQ(kh->getError().starts_with("Cannot create session"), c.formError);
        EXPECT_EQ(kh->getError().empty(), !c.formError);
        EXPECT_EQ(cg.written(), "");
    }
}

TEST(KivoHandler, UpRedirectsAndPreviousGoesBack) {
    CapturedRequest up;
    up->kivoServName = "/h/cgi-bin/kivoserv";
    up.field("ID", "5");
    up.field("FN", "a.html");
    auto kh = newKivoHandler(up.get());
    EXPECT_EQ(kh->entry("up"), 1);
    EXPECT_EQ(up.written(), "Location: http://h/cgi-bin/kivoserv?ID=5&AC=link&OP=0\n\n");
    EXPECT_EQ(kh->getError(), "");

    CapturedRequest previous;
    auto ph = newKivoHandler(previous.get());
    EXPECT_EQ(ph->entry("Previous"), 1);
    EXPECT_NE(std::string(previous->docBuf, previous->docSize).find("window.history.go(-2)"), std::string::npos);
    EXPECT_TRUE(previous->flags & kCgiWholePage);
    EXPECT_EQ(previous.written(), "");
}

}  // namespace
}  // namespace ruva

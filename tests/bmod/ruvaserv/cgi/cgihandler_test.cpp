#include "bmod/ruvaserv/cgi/cgihandler.h"

#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <string>

#include "bmod/ruvaserv/cgi/kivo_version.h"
#include "tests/bmod/ruvaserv/cgi/request_support.h"

namespace ruva {
namespace {

using test::CapturedRequest;

TEST(CgiHandlerLife, NewObjectHoldsTheDefaults) {
    char* env[] = {nullptr};
    auto cg = newCgiHandler(kKivoservFlags, env);
    ASSERT_NE(cg, nullptr);
    EXPECT_EQ(cg->getError(), "");
    EXPECT_EQ(cg->flags, kKivoservFlags);
    EXPECT_EQ(cg->envp, env);
    EXPECT_EQ(cg->cgifile, stdout);
    EXPECT_EQ(cg->catCookieExpire, 30);
    EXPECT_EQ(cg->urlProto, "http:/");
    EXPECT_EQ(cg->kivoProgName, "kivo");
    EXPECT_EQ(cg->authEnv, "REMOTE_USER");
    EXPECT_EQ(cg->userEnv, "REMOTE_USER");
    EXPECT_EQ(cg->profileEnv, "REMOTE_USER");
    EXPECT_EQ(cg->FileTransferTimeLimit, 10);
    EXPECT_EQ(cg->commandTimeout, 0);
    EXPECT_EQ(cg->expiryPrelDocNotes, 180);
    EXPECT_EQ(cg->expiryPrelDoc, 600);
    EXPECT_EQ(cg->expiryRRelDoc, 1800);
    EXPECT_EQ(cg->expiryMyDoc, 518400);
    EXPECT_EQ(cg->expiryMyDocLatestRel, 21600);
    EXPECT_NE(cg->disclaimer.find("Note_disclaimer()"), std::string::npos);
    // The client greets servers as this program; no session yet.
    ASSERT_NE(cg->uzc, nullptr);
    EXPECT_EQ(cg->uzc->prog, "kivoserv");
    EXPECT_EQ(cg->uzc->art, kKivoservArticle);
    EXPECT_EQ(cg->uzc->rev, "R19K");
    EXPECT_EQ(cg->uzc->flags, 0);
    EXPECT_EQ(cg->uzc->isLibFiltered, 0);
    EXPECT_EQ(cg->sess, nullptr);
    // Both lists compare names without regard to case.
    ASSERT_NE(cg->valueList, nullptr);
    ASSERT_NE(cg->langList, nullptr);
    cg->valueList->addValue("ac", "x");
    EXPECT_NE(cg->valueList->findValue("AC"), nullptr);
    EXPECT_EQ(cg->langList->flags() & kValueListNoCase, kValueListNoCase);
}

TEST(CgiHandlerLife, ClearDropsTheRequestStateAndKeepsTheClient) {
    CapturedRequest cg;
    cg.field("AC", "LINK");
    cg->langList->addValue("EN", "English");
    cg->toolbar = newToolbar();
    cg->buffer = "AC=LINK";
    cg->buflen = 7;
    cg->kivoServName = "/h:1/cgi-bin/kivoserv";
    cg->kivoName = "http://h:1/cgi-bin/kivo";
    cg->scriptName = "/cgi-bin/";
    cg->pathInfo = "/x";
    cg->mimeType = "image/gif";
    cg->mimeFilename = "a.gif";
    cg->curDb = "lib";
    cg->userName = "bob";
    cg->extranetSupportURL = "http://support";
    cg->setError("failed");
    UzClient* const client = cg->uzc.get();
    ASSERT_NE(client, nullptr);  // made with the request
    cg->sess = reinterpret_cast<UzSession*>(&cg);  // any address: clear only forgets it
    cg->clear();
    EXPECT_EQ(cg->valueList->firstValue(), nullptr);
    EXPECT_EQ(cg->langList->firstValue(), nullptr);
    EXPECT_EQ(cg->toolbar, nullptr);
    EXPECT_EQ(cg->buffer, "");
    EXPECT_EQ(cg->buflen, 0u);
    for (const std::string* text :
         {&cg->kivoServName, &cg->kivoName, &cg->scriptName, &cg->pathInfo, &cg->mimeType, &cg->mimeFilename,
          &cg->curDb, &cg->userName, &cg->extranetSupportURL, &cg->kivoProgName, &cg->authEnv, &cg->userEnv,
          &cg->profileEnv}) {
        EXPECT_EQ(*text, "");
    }
    EXPECT_EQ(cg->getError(), "");
    EXPECT_EQ(cg->flags, 0u);
    EXPECT_EQ(cg->uzc.get(), client);  // the client stays; its sessions go
    EXPECT_EQ(cg->sess, nullptr);
}

TEST(CgiHandlerLife, ErrorTextIsCutAt639Characters) {
    CapturedRequest cg;
    cg->setError("%s", std::string(1000, 'x'));
    EXPECT_EQ(cg->getError(), std::string(kErrorTextMax, 'x'));
    cg->setError(nullptr);
    EXPECT_EQ(cg->getError(), "");
}

TEST(GenericActions, RequestFieldsAreNotedBeforeTheAction) {
    struct {
        const char* name;
        std::optional<std::string> db;  // none: no field
        std::optional<std::string> id;
        std::optional<std::string> ch;
        std::string curDb;
        int curId;
        std::string curCh;
    } const cases[] = {
        {"no fields", {}, {}, {}, "", 0, ""},
        {"blanks and controls leave DB", "a b\tc", "12", "C1", "abc", 12, "C1"},
        {"a DB beginning with '-' names no library", "-abc", "x", "", "", 0, ""},
        {"DB cut to 256", std::string(300, 'd'), {}, {}, std::string(256, 'd'), 0, ""},
        {"ID beyond int", {}, "99999999999", std::string(20, 'c'), "", INT_MAX, std::string(15, 'c')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CapturedRequest cg;
        if (c.db) cg.field("DB", c.db->c_str());
        if (c.id) cg.field("ID", c.id->c_str());
        if (c.ch) cg.field("CH", c.ch->c_str());
        cg->docCTime = 5;
        EXPECT_EQ(cg->handleGenericActions(), 0);
        EXPECT_EQ(cg->curDb, c.curDb);
        EXPECT_EQ(cg->curId, c.curId);
        EXPECT_EQ(cg->curCh, c.curCh);
        EXPECT_EQ(cg->docCTime, 0);
        EXPECT_EQ(cg.written(), "");
    }
}

TEST(GenericActions, EmptyAnswersTheBlankPageInAnyCase) {
    const std::string page = std::string("Content-type: text/html\n\n") + kXhtmlDoctype + kXhtmlStartTag +
                             "<head><title></title></head><body bgcolor=\"#FFFFFF\"></body></html>\n";
    struct {
        const char* word;
        size_t extraFlags;
        std::string want;
    } const cases[] = {
        {"EMPTY", 0, page},
        {"empty", 0, page},
        {"Empty", kCgiHeadRequest, "Content-type: text/html\n\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.word);
        CapturedRequest cg;
        cg.field("AC", c.word);
        cg->flags |= c.extraFlags;
        EXPECT_EQ(cg->handleGenericActions(), 1);
        EXPECT_EQ(cg.written(), c.want);
        EXPECT_TRUE(cg->flags & kCgiResponseDone);
        EXPECT_EQ(cg->valueList->findValue("AC")->value, "EMPTY");
    }
}

TEST(GenericActions, AnsweredRequestGetsNoSecondResponse) {
    for (const char* word : {"EMPTY", "NORESP"}) {
        SCOPED_TRACE(word);
        CapturedRequest cg;
        cg.field("AC", word);
        cg->flags |= kCgiResponseDone;
        EXPECT_EQ(cg->handleGenericActions(), 1);
        EXPECT_EQ(cg.written(), "");
    }
}

TEST(GenericActions, OtherWordsGoOnToTheActions) {
    struct {
        const char* word;
        const char* fn;  // null: no FN field
        size_t extraFlags;
        const char* acAfter;  // null: AC removed
    } const cases[] = {
        {"env", nullptr, 0, "ENV"},  // ENV answers only in test mode
        {"linkext", nullptr, 0, nullptr},
        {"LINKEXT", "a.html", 0, "LINKEXT"},
        {"link", nullptr, 0, "LINK"},
        {"Toolbar", nullptr, kCgiTestMode, "TOOLBAR"},
        {"", nullptr, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.word);
        CapturedRequest cg;
        cg.field("AC", c.word);
        if (c.fn) cg.field("FN", c.fn);
        cg->flags |= c.extraFlags;
        EXPECT_EQ(cg->handleGenericActions(), 0);
        const Value* ac = cg->valueList->findValue("AC");
        if (c.acAfter) {
            ASSERT_NE(ac, nullptr);
            EXPECT_EQ(ac->value, c.acAfter);
        } else {
            EXPECT_EQ(ac, nullptr);
        }
        EXPECT_EQ(cg.written(), "");
        EXPECT_FALSE(cg->flags & kCgiResponseDone);
    }
}

TEST(GenericActions, NoResponseOutsideCgi11SendsTheBrowserHome) {
    struct {
        const char* name;
        const char* gateway;
        const char* servName;
        std::string want;
    } const cases[] = {
        {"no gateway", "", "/127.0.0.1:8080/cgi-bin/kivoserv",
         "Location: http://127.0.0.1:8080/cgi-bin/kivoserv\n\n"},
        {"CGI/1.0 passes no status", "CGI/1.0", "/h/cgi-bin/kivoserv",
         "Location: http://h/cgi-bin/kivoserv\n\n"},
        {"a Host with CR LF adds no header line", "", "/h\r\nSet-Cookie: a=b\n/cgi-bin/kivoserv",
         "Location: http://hSet-Cookie: a=b/cgi-bin/kivoserv\n\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CapturedRequest cg;
        cg.field("AC", "noresp");
        cg->gatewayInterface = c.gateway;
        cg->kivoServName = c.servName;
        EXPECT_EQ(cg->handleGenericActions(), 1);
        EXPECT_EQ(cg.written(), c.want);
        EXPECT_TRUE(cg->flags & kCgiResponseDone);
    }
}

}  // namespace
}  // namespace ruva

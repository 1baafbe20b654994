// A library's start page, the about page, the kivomain marker and the
// bookmark window.
#include <strings.h>

#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "bmod/ruvaserv/actions/action_scripts.h"
#include "bmod/ruvaserv/actions/body_tags.h"
#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/kivo_version.h"
#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "bmod/ruvaserv/cgi/kvo_text.h"
#include "bmod/ruvaserv/cgi/server_reply.h"
#include "bmod/ruvaserv/client/uzresponse.h"
#include "bmod/ruvaserv/client/uzsession.h"
#include "common/html_escape.h"
#include "common/url_code.h"

namespace ruva {

namespace {

constexpr size_t kAboutBufSize = 8000;
constexpr size_t kBookmarkBufSize = 3000;
constexpr int kCodeBeingUpdated = 577;
constexpr int kCodeRemoved = 578;
constexpr std::string_view kStartPage = "index.html";
// The escaped ampersand the marker's query begins with.
constexpr std::string_view kQueryJoin = "&amp;";

bool isAllDigits(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// The library file a start-page name stands for: a bare word is a ".kvo".
std::string startPageLibrary(std::string_view name) {
    std::string library(name);
    if (library.find('.') == std::string::npos && !isAllDigits(library)) library += ".kvo";
    return library;
}

// The first listed member that names its library; null for none.
const UzContEntry* listedStartPage(const UzResponse& reply) {
    for (const UzContEntry* entry = reply.cont(); entry && entry->filled(); entry = entry->next.get()) {
        if (!entry->database->empty()) return entry;
    }
    return nullptr;
}

// Gives the request's fields to a query writer as a changed copy: the
// marker runs in the middle of the page pass, and the rest of the page (a
// second marker, the Expires rules of FN) must see the request as it came.
class FieldCopy {
public:
    explicit FieldCopy(CgiHandler& cg) : cg_(cg), copy_(newValueList(cg.valueList->flags())) {
        const ValueList& fields = *cg.valueList;
        for (const Value* v = fields.firstValue(); v; v = fields.nextValue(v))
            copy_->addValue(v->name.c_str(), v->value.c_str());
    }
    ValueList& fields() { return *copy_; }
    // buildURLstring over the copy; the request's own list is back in
    // place before this returns.
    std::string query(std::initializer_list<std::string_view> excluded) {
        std::swap(cg_.valueList, copy_);
        std::string text = cg_.buildURLstring(kUrlScriptQuery, excluded);
        std::swap(cg_.valueList, copy_);
        return text;
    }

private:
    CgiHandler& cg_;
    std::unique_ptr<ValueList> copy_;
};

// The query as the marker writes it: without its leading "&amp;" right
// after a '?' or '&'.
int writeMarkerQuery(CgiHandler& cg, std::string_view query) {
    const bool joined = cg.dstBuf && cg.dstOffs > 0 &&
                        (cg.dstBuf[cg.dstOffs - 1] == '?' || cg.dstBuf[cg.dstOffs - 1] == '&');
    if (joined && query.starts_with(kQueryJoin)) query.remove_prefix(kQueryJoin.size());
    return query.empty() || cg.dstWriteBuf(query);
}

}  // namespace

int KivoHandler::outputDatabaseMainPage(const char* dbValue) {
    if (!cg) return 0;
    if (!dbValue || !*dbValue) {
        cg->setError(msgFormat(56, "kivohandler/41"));
        return 0;
    }
    const std::string named = escapeHtmlKeepEntities(dbValue, false);
    const std::string library = startPageLibrary(dbValue);
    if (!cg->establishDefaultSession()) {
        if (cg->getError().empty()) cg->setError(msgFormat(57, "kivohandler/42"), named, std::string());
        return 0;
    }
    std::unique_ptr<UzResponse> reply = cg->sess->cont(library, kStartPage);
    const int code = reply ? reply->resultCode : 0;
    if (code == kCodeBeingUpdated || code == kCodeRemoved) {
        const std::string replied = escapeHtmlKeepEntities(libraryOfReply(reply->resultMessage), false);
        if (code == kCodeBeingUpdated) {
            cg->setError(msgFormat(7, "kivohandler/103"), replied);
        } else {
            cg->setError(msgFormat(8, "kivohandler/104"), replied);
        }
        return 0;
    }
    if (code != 200) {
        cg->setError(msgFormat(57, "kivohandler/42"), named, replyReason(*cg->sess, reply.get()));
        return 0;
    }
    const UzContEntry* entry = listedStartPage(*reply);
    if (!entry) {
        cg->setError(msgFormat(58, "kivohandler/43"), named);
        return 0;
    }
    // The reply goes before the fetch: retrieveFile talks on the session.
    const std::string database = *entry->database;
    std::string file = entry->filename;
    reply.reset();
    return cg->retrieveFile(database, file);
}

int KivoHandler::outputAbout() {
    if (!cg) return 0;
    cg->freeDocBuf();
    if (!cg->allocDocBuf(kAboutBufSize)) {
        setError(msgFormat(59, "kivohandler/44"), static_cast<unsigned long>(kAboutBufSize));
        return 0;
    }
    cg->docSize = 0;
    const std::string product = getTextStr(52);
    const bool written =
        cg->docPrintf("%s%s\n<head>\n<title>%s</title>\n</head>\n", kXhtmlDoctype, kXhtmlStartTag,
                      getTextStr(51)) &&
        cg->docWriteBuf(kToolbarBodyTag) &&
        cg->docPrintf("<h1 align=\"center\">%s%s</h1>\n", product, getTextStr(53)) &&
        cg->docPrintf("<p align=\"center\"><big><strong>\n%s%s %s %s</strong></big></p>\n",
                      getTextStr(55), product, kKivoservArticle, kSystemRevision) &&
        cg->docWriteBuf("<div align=\"center\">\n</div>\n") && cg->outputTail();
    if (!written) {
        setError(msgFormat(59, "kivohandler/44"), static_cast<unsigned long>(cg->docbufSize));
        return 0;
    }
    return 1;
}

int KivoHandler::outputKivoDoc() {
    if (!cg || !cg->valueList) return 0;
    FieldCopy copy(*cg);
    ValueList& fields = copy.fields();
    const std::string ac = valueOf(fields, "AC");
    if (strcasecmp(ac.c_str(), "SEARCHEXT") == 0) {
        fields.addValue("AC", "SEARCH");
        return writeMarkerQuery(*cg, copy.query({"IM"}));
    }
    if (strcasecmp(ac.c_str(), "LINKEXT") == 0) {
        fields.addValue("AC", "LINK");
        const std::string chapter = valueOf(fields, "CH");
        fields.removeValue(fields.findValue("CH"));
        if (!writeMarkerQuery(*cg, copy.query({"IM"}))) return 0;
        // The anchor goes into the same link as the fields, so it is coded
        // as they are; a chapter name keeps its bytes.
        return chapter.empty() || cg->dstWriteBuf("#" + encodeLinkValue(chapter));
    }
    if (!hasFilledValue(fields, "ID") && !hasFilledValue(fields, "DB")) return 1;
    fields.addValue("AC", "LINK");
    fields.addValue("FN", "kivomain.html");
    return writeMarkerQuery(*cg, copy.query({"IM", "UZ", "DB"}));
}

int KivoHandler::BookmarkAction() {
    if (!cg) return 0;
    cg->freeDocBuf();
    if (!cg->allocDocBuf(kBookmarkBufSize)) {
        cg->setError(msgFormat(44, "kivohandler/31"), static_cast<unsigned long>(kBookmarkBufSize));
        return 0;
    }
    cg->docSize = 0;
    // The link is built by the script from the opener's variables; the
    // page holds only its places.
    const bool written =
        cg->docPrintf("%s%s\n<head>\n<title>Add Bookmark\n</title>\n", kXhtmlDoctype, kXhtmlStartTag) &&
        cg->docWriteBuf(
            "<style type=\"text/css\">\n"
            "body { font-family:helvetica, arial, sans-serif; font-size:10pt; }\n"
            "#bmLink { font-size:11pt; font-weight:bold; padding:6px 0px; word-wrap:break-word; }\n"
            "</style>\n<script type=\"text/javascript\">\n") &&
        cg->docWriteBuf(bookmarkScriptFile()) &&
        cg->docWriteBuf(
            "</script>\n</head>\n<body bgcolor=\"#FFFFFF\">\n"
            "<div id=\"bmHint\"></div>\n<div id=\"bmLink\"></div>\n"
            "<script type=\"text/javascript\">writeBookmark();</script>\n"
            "<form action=\"\" onsubmit=\"return false;\"><div align=\"center\">"
            "<input type=\"button\" value=\"   Close   \" onclick=\"window.close();\" />"
            "</div></form>\n") &&
        cg->outputTail();
    if (!written) {
        cg->setError(msgFormat(44, "kivohandler/31"), static_cast<unsigned long>(cg->docbufSize));
        return 0;
    }
    return 1;
}

}  // namespace ruva

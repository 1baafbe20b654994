#include "bmod/ruvaserv/cgi/cgihandler.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

#include "bmod/ruvaserv/cgi/kivo_version.h"
#include "common/html_escape.h"
#include "common/text_clean.h"

namespace ruva {

namespace {

constexpr size_t kEnvPageSize = 50000;

constexpr const char kDisclaimer[] =
    "<div class=\"disclaimer\">Notes on this library can be read by everyone who may read the library. "
    "Before you write one, please read and confirm the <a href=\"javascript:Note_disclaimer()\">rules "
    "for notes</a>.</div>";

// A response is written once: after flag 0x8 nothing more may go out.
bool mayWrite(const CgiHandler& cg) {
    return cg.cgifile && !(cg.flags & kCgiResponseDone);
}

int writeAll(FILE* out, std::string_view bytes) {
    if (std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size()) return 0;
    return std::fflush(out) == 0;
}

// Header values are built partly from the request (its Host): a CR or LF
// would let the client add header lines of its own.
std::string headerValue(std::string_view text) {
    std::string value;
    for (char c : text) {
        if (c != '\r' && c != '\n' && c != '\0') value += c;
    }
    return value;
}

// ASCII only, so that the bytes of a UTF-8 word stay as they came.
void upperCaseAscii(std::string& text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
}

int fieldNumber(const Value* field) {
    if (!field) return 0;
    long n = std::strtol(field->value.c_str(), nullptr, 10);
    if (n > INT_MAX) return INT_MAX;
    if (n < INT_MIN) return INT_MIN;
    return static_cast<int>(n);
}

// The request state that the pages and links of every action read.
void noteRequestFields(CgiHandler& cg) {
    cg.docCTime = 0;
    const ValueList& fields = *cg.valueList;
    // A DB beginning with '-' names no library.
    if (const Value* db = fields.findValue("DB"); db && db->value[0] != '-') {
        char kept[kCurDbMax + 1];
        removeSpaces(kept, db->value.c_str(), static_cast<int>(kCurDbMax));
        cg.curDb = kept;
    }
    cg.curId = fieldNumber(fields.findValue("ID"));
    if (const Value* ch = fields.findValue("CH")) cg.curCh = ch->value.substr(0, kCurChMax);
}

int answerEmpty(CgiHandler& cg) {
    if (mayWrite(cg)) {
        std::string page = "Content-type: text/html\n\n";
        if (!(cg.flags & kCgiHeadRequest)) {
            page += kXhtmlDoctype;
            page += kXhtmlStartTag;
            page += "<head><title></title></head><body bgcolor=\"#FFFFFF\"></body></html>\n";
        }
        writeAll(cg.cgifile, page);
    }
    cg.flags |= kCgiResponseDone;
    return 1;
}

// "No response" where the web server passes status lines on; elsewhere the
// browser is sent back to the program's own address.
int answerNoResponse(CgiHandler& cg) {
    if (cg.outputNoResponse()) return 1;
    if (mayWrite(cg))
        writeAll(cg.cgifile, "Location: " + headerValue(cg.urlProto + cg.kivoServName) + "\n\n");
    cg.flags |= kCgiResponseDone;
    return 1;
}

}  // namespace

std::unique_ptr<CgiHandler> newCgiHandler(size_t flags, char** envp, TextTable messages, ConfigKeys keys,
                                          size_t decodeLimit) {
    std::unique_ptr<CgiHandler> cg(new (std::nothrow) CgiHandler(messages, keys, decodeLimit));
    if (!cg) return nullptr;
    cg->flags = flags;
    cg->envp = envp;
    cg->disclaimer = kDisclaimer;
    cg->uzc = newUzClient(kKivoservProgName, kKivoservArticle, kSystemRevision, 0);
    if (!cg->uzc) return nullptr;
    cg->valueList = newValueList(kValueListNoCase);
    cg->langList = newValueList(kValueListNoCase);
    if (!cg->valueList || !cg->langList) return nullptr;
    return cg;
}

CgiHandler::~CgiHandler() {
    clear();
}

void CgiHandler::clear() {
    if (uzc) uzc->clear();
    sess = nullptr;
    if (valueList) valueList->clear();
    if (langList) langList->clear();
    toolbar.reset();
    freeDocBuf();
    freeDstBuf();
    buffer = std::string();  // a POST body may be megabytes
    buflen = 0;
    for (std::string* text :
         {&scriptName, &kivoServName, &kivoName, &pathInfo, &errmsg, &UserDocUrlDita, &UserDocUrlXTAVR,
          &isZopaUrl, &kivoProgName, &curDb, &mimeType, &mimeFilename, &userEnv, &userName, &profileEnv,
          &profileName, &extranetSupportURL, &authEnv}) {
        text->clear();
    }
    flags = 0;
    linkState_ = LinkState();
    pageSwitches = PageSwitches();
}

void CgiHandler::keepError(std::string text) {
    errmsg = std::move(text);
    if (errmsg.size() > kErrorTextMax) errmsg.resize(kErrorTextMax);
}

int CgiHandler::handleGenericActions() {
    noteRequestFields(*this);
    Value* ac = valueList->findValue("AC");
    if (!ac) return 0;
    upperCaseAscii(ac->value);
    const std::string& word = ac->value;
    if (word == "EMPTY") return answerEmpty(*this);
    if (word == "ENV") {
        // The environment holds the server's secrets: test installations only.
        if (!(flags & kCgiTestMode)) return 0;
        if (!printEnv()) outputError(msg(199, "cgihandler/1"));
        return 1;
    }
    if (word == "LINKEXT") {
        if (!valueList->findValue("FN")) valueList->removeValue(ac);
        return 0;
    }
    if (word == "NORESP") return answerNoResponse(*this);
    if (word == "TBIMG") {
        options &= ~kOptBit40;
        if (!tbimgAction()) outputError(msg(200, "cgihandler/2"), errmsg);
        flags |= kCgiResponseDone;
        return 1;
    }
    return 0;
}

int CgiHandler::tbimgAction() {
    if (!initToolbar()) return 0;
    if (!toolbar->createToolbar()) {
        setError(msg(208, "cgihandler/10"));
        return 0;
    }
    if (!mayWrite(*this)) return 0;
    std::string head;
    if (std::optional<std::string> expires = createExpireHeader(kLongExpirePeriod)) head = *expires + "\n";
    head += "Content-type: image/gif\n";
    if (flags & kCgiHeadRequest) {
        // The header block must be closed here: displayToolbar, which
        // would close it, writes the image too.
        head += formatChecked("Content-length: %lu\n\n", static_cast<unsigned long>(toolbar->toolbarLen));
    }
    // From here on the block is open: an error page could only corrupt it.
    flags |= kCgiResponseDone;
    int written = writeAll(cgifile, head);
    if (written && !(flags & kCgiHeadRequest)) written = toolbar->displayToolbar(cgifile);
    if (!written) {
        setError("%s", std::strerror(errno));
        return 0;
    }
    return 1;
}

int CgiHandler::printEnv() {
    if (!allocDocBuf(kEnvPageSize)) {
        setError(msg(243, "cgihandler/40"), static_cast<unsigned long>(kEnvPageSize));
        return 0;
    }
    docSize = 0;
    if (!outputHead(textFormat(126))) return 0;
    // environ, not envp: main's copy misses what the configuration set since
    // (TMPDIR).
    for (char** entry = environ; entry && *entry; ++entry) {
        if (!docPrintf("%s<br />\n", htmlEscaped(*entry))) return 0;
    }
    return outputTail();
}

}  // namespace ruva

#include "bmod/ruvaserv/actions/kivohandler.h"

#include <strings.h>

#include <new>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/search/search_actions.h"
#include "common/html_escape.h"

namespace ruva {

namespace {

// What a row of the word table runs. kLater: the action is not built yet;
// the word is answered as an unknown one, without the row's preparation.
enum class ActionOp { kLater, kAdvSearch, kBlank, kCompare, kDocSearch, kJsMenu, kLink, kPrevious, kSearch, kUp };

struct ActionRow {
    const char* word;
    ActionOp op;
    bool prefix;  // ANNO: every word beginning so, the whole word passed on
};

// Grouped by first letter; within a letter the first matching row wins.
constexpr ActionRow kActionRows[] = {
    {"ABOUT", ActionOp::kLater, false},     {"ANNO", ActionOp::kLater, true},
    {"ADVSEARCH", ActionOp::kAdvSearch, false}, {"BLANK", ActionOp::kBlank, false},
    {"BODY", ActionOp::kLater, false},      {"BOOKMARK", ActionOp::kLater, false},
    {"CHNGLANG", ActionOp::kLater, false},  {"COMPMEXT", ActionOp::kLater, false},
    {"COMPSEL", ActionOp::kLater, false},   {"COMPMSG", ActionOp::kLater, false},
    {"COMPEXT", ActionOp::kLater, false},   {"COMPEXE", ActionOp::kCompare, false},
    {"CONREF", ActionOp::kLater, false},    {"DOCNOTREE", ActionOp::kLater, false},
    {"DOCSEARCH", ActionOp::kDocSearch, false}, {"EXPORT", ActionOp::kLater, false},
    {"IMAGE", ActionOp::kLater, false},     {"INFO", ActionOp::kLater, false},
    {"INSTANT", ActionOp::kLater, false},   {"JSNOTESINLINE", ActionOp::kLater, false},
    {"JSCMENU", ActionOp::kJsMenu, false},  {"LINK", ActionOp::kLink, false},
    {"LINKEXT", ActionOp::kLater, false},   {"PRINT", ActionOp::kLater, false},
    {"PRINTA4", ActionOp::kLater, false},   {"PRINTUS", ActionOp::kLater, false},
    {"PREVIOUS", ActionOp::kPrevious, false}, {"SEARCH", ActionOp::kSearch, false},
    {"SEARCHEXT", ActionOp::kLater, false}, {"SEARCHMSG", ActionOp::kLater, false},
    {"SORTMSG", ActionOp::kLater, false},   {"SUB_MAIN", ActionOp::kLater, false},
    {"TOOLBAR", ActionOp::kLater, false},   {"TREEFRAME", ActionOp::kLater, false},
    {"UP", ActionOp::kUp, false},
};

// The marker names specCallback knows, tried in this order by their first
// letters.
constexpr const char* kMarkerNames[] = {"cmplistdb", "listdb", "listserv", "servname", "proginfo",
                                        "kivomain",  "dbname", "rootid",   "uzaddr",   "compare"};

// A word named in message 10 is cut to this: the handler keeps its whole
// error text, so the argument must not push the tag span out of the page's
// 1023-character message.
constexpr size_t kShownWordMax = 255;
constexpr size_t kBlankPageSize = 1000;
constexpr size_t kBgColourMax = 6;

bool startsWithNoCase(std::string_view text, const char* head) {
    size_t n = std::char_traits<char>::length(head);
    return text.size() >= n && strncasecmp(text.data(), head, n) == 0;
}

const ActionRow* findActionRow(const std::string& word) {
    // Only the letters A to U begin an action.
    if (word.empty() || word[0] < 'A' || word[0] > 'U') return nullptr;
    for (const ActionRow& row : kActionRows) {
        if (row.word[0] != word[0]) continue;
        if (row.prefix ? startsWithNoCase(word, row.word) : strcasecmp(word.c_str(), row.word) == 0)
            return &row;
    }
    return nullptr;
}

void unknownAction(KivoHandler& kh, const std::string& word) {
    kh.setError(msgFormat(10, "kivohandler/2"), word.substr(0, kShownWordMax));
}

int blankPage(KivoHandler& kh) {
    CgiHandler& cg = *kh.cg;
    cg.flags &= ~kCgiBodyHandlers;
    const Value* bg = cg.valueList->findValue("BG");
    std::string colour = bg && !bg->value.empty() ? bg->value.substr(0, kBgColourMax) : "000000";
    int built = cg.allocDocBuf(kBlankPageSize);
    if (built) {
        cg.docSize = 0;
        built = cg.docPrintf("%s%s<head><title></title></head><body bgcolor=\"#%s\"></body></html>\n",
                             kXhtmlDoctype, kXhtmlStartTag, htmlEscaped(colour));
    }
    if (!built) kh.setError(msgFormat(9, "kivohandler/1"), static_cast<unsigned long>(cg.docbufSize));
    return built;
}

// LINK's preparation but resolving LI, which comes with the library
// look-ups: an action that needs a library must be given one.
int linkRow(KivoHandler& kh) {
    CgiHandler& cg = *kh.cg;
    cg.options &= ~kOptBit40;
    const ValueList& fields = *cg.valueList;
    if (!fields.findValue("LI") && !fields.findValue("DB") && !fields.findValue("ID")) {
        kh.setError(msgFormat(13, "kivohandler/NOID1"));
        return 0;
    }
    // A DB names the library by its file: its id becomes ID. A failure here
    // leaves the action to the fields it has.
    kh.getIDbyDbName();
    return kh.linkAction();
}

// The search form pages: a search object per request, its error text
// becoming the handler's when the form cannot be written.
int searchFormRow(KivoHandler& kh, bool advanced) {
    CgiHandler& cg = *kh.cg;
    if (advanced) cg.flags &= ~kCgiBodyHandlers;
    std::unique_ptr<SearchActions> sa = newSearchActions(&cg);
    if (!sa) {
        kh.setError(msgFormat(0, "kivohandler/81"), "SearchActions");
        return 0;
    }
    if (!advanced) cg.flags &= ~kCgiBodyHandlers;
    const int written = advanced ? sa->advsearchAction() : sa->docsearchAction();
    if (!written) kh.errmsg = sa->getError();
    return written;
}

void defaultField(ValueList& fields, const char* name, const char* value) {
    const Value* field = fields.findValue(name);
    if (!field || field->value.empty()) fields.addValue(name, value);
}

// SEARCH as far as running the search: the external mark and the sort
// defaults the results page reads. Resolving the library and list searches
// are not done here.
int searchRow(KivoHandler& kh) {
    CgiHandler& cg = *kh.cg;
    std::unique_ptr<SearchActions> sa = newSearchActions(&cg);
    if (!sa) {
        kh.setError(msgFormat(0, "kivohandler/82"), "SearchActions");
        return 0;
    }
    if (cg.options & kOptExternSearch) {
        cg.options &= ~kOptExternSearch;
        sa->sd->isExternSearch = 1;
    }
    defaultField(*cg.valueList, "BA", "TITLE");
    defaultField(*cg.valueList, "OD", "0");
    const int written = sa->searchAction(kh);
    if (!written) kh.errmsg = sa->getError();
    return written;
}

int contextMenuScript(KivoHandler& kh) {
    kh.cg->mimeType = "text/javascript";
    return kh.cg->generateJSBGMenuFunctions();
}

}  // namespace

int KivoHandler::isValSL = 0;
int KivoHandler::presentLL = 0;

std::unique_ptr<KivoHandler> newKivoHandler(CgiHandler* cg) {
    std::unique_ptr<KivoHandler> kh(new (std::nothrow) KivoHandler(cg));
    if (!kh) return nullptr;
    if (cg) cg->setSpecCallback(&KivoHandler::specCallback, kh.get());
    return kh;
}

KivoHandler::~KivoHandler() {
    clear();
    if (cg) cg->setSpecCallback(nullptr, nullptr);
}

void KivoHandler::clear() {
    errmsg.clear();
}

int KivoHandler::entry(const char* action) {
    std::string word = action ? action : "";
    if (!word.empty() && word[0] >= 'a' && word[0] <= 'z') word[0] = static_cast<char>(word[0] - 'a' + 'A');
    const ActionRow* row = findActionRow(word);
    if (!row || !cg) {
        unknownAction(*this, word);
        return 0;
    }
    switch (row->op) {
        case ActionOp::kAdvSearch:
            return searchFormRow(*this, true);
        case ActionOp::kBlank:
            return blankPage(*this);
        case ActionOp::kCompare:
            return compareAction();
        case ActionOp::kDocSearch:
            return searchFormRow(*this, false);
        case ActionOp::kJsMenu:
            return contextMenuScript(*this);
        case ActionOp::kLink:
            return linkRow(*this);
        case ActionOp::kPrevious:
            return cg->outputPrevious();
        case ActionOp::kSearch:
            return searchRow(*this);
        case ActionOp::kUp:
            return cg->locationDbTop();
        case ActionOp::kLater:
            break;
    }
    // The row's own word, so that every spelling of it reads the same.
    unknownAction(*this, row->prefix ? word : row->word);
    return 0;
}

int KivoHandler::resolveLibrary(const char*) {
    setError(msgFormat(10, "kivohandler/2"), "LINK");
    return 0;
}

int KivoHandler::resolveBoth() {
    setError(msgFormat(10, "kivohandler/2"), "COMPEXE");
    return 0;
}

int KivoHandler::runSearchOperation(SearchActions&, SearchOperation) {
    setError(msgFormat(10, "kivohandler/2"), "SEARCH");
    return 0;
}

int KivoHandler::specCallback(void*, std::string_view marker) {
    for (const char* name : kMarkerNames) {
        // Known markers write nothing until the listing actions exist.
        if (startsWithNoCase(marker, name)) return 1;
    }
    return 0;
}

}  // namespace ruva

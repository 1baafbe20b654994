#include "bmod/ruvaserv/actions/kivohandler.h"

#include <strings.h>

#include <new>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/client/uzsession_retrieval.h"
#include "bmod/ruvaserv/search/search_actions.h"
#include "common/html_escape.h"
#include "common/text_view.h"

namespace ruva {

namespace {

// The operation a row of the word table runs after its preparation.
// clang-format off
enum class ActionOp {
    kAbout, kAnnotation, kAdvSearch, kBlank, kLink, kBookmark, kChangeLanguage, kMainPage,
    kCompareSelect, kCompareMessage, kCompare, kTopicContent, kDocNoTree, kDocSearch, kImage, kInfo,
    kInstant, kNotesScript, kMenuScript, kPrint, kPrintA4, kPrintUs, kPrevious, kSearch,
    kExternalSearch, kSearchMessage, kSortMessage, kSubMain, kToolbar, kTreeFrame, kUp,
};
// clang-format on

// A row's preparation, applied in this order before its operation.
enum RowPrep : unsigned {
    kNoBodyHandlers = 0x1,  // flag 0x200 cleared
    kClearOption40 = 0x2,
    kSetOptionBody = 0x4,    // option 0x1
    kSetOptionExport = 0x8,  // option 0x100
    kResolve = 0x10,         // LI, ID, DB; the row's tag when an identifier is needed
    kResolveBoth = 0x20,     // LI, ID, DB and LC, IC, DC
    kScriptAnswer = 0x40,    // the answer's type is text/javascript
};

struct ActionRow {
    const char* word;
    ActionOp op;
    unsigned prep = 0;
    const char* noIdTag = nullptr;  // with kResolve: message 13 so tagged without LI, ID and DB
    bool prefix = false;            // ANNO: every word beginning so, the whole word passed on
};

// Grouped by first letter; within a letter the first matching row wins.
constexpr ActionRow kActionRows[] = {
    {"ABOUT", ActionOp::kAbout, kClearOption40},
    {"ANNO", ActionOp::kAnnotation, kNoBodyHandlers, nullptr, true},
    {"ADVSEARCH", ActionOp::kAdvSearch, kNoBodyHandlers},
    {"BLANK", ActionOp::kBlank, kNoBodyHandlers},
    {"BODY", ActionOp::kLink, kSetOptionBody},
    {"BOOKMARK", ActionOp::kBookmark, kNoBodyHandlers},
    {"CHNGLANG", ActionOp::kChangeLanguage, kNoBodyHandlers},
    {"COMPMEXT", ActionOp::kMainPage},
    {"COMPSEL", ActionOp::kCompareSelect, kNoBodyHandlers | kResolveBoth},
    {"COMPMSG", ActionOp::kCompareMessage, kResolveBoth},
    {"COMPEXT", ActionOp::kCompareMessage, kResolveBoth},
    {"COMPEXE", ActionOp::kCompare, kResolveBoth},
    // The compare marker's button and form.
    {"COMPBUT", ActionOp::kLink, kClearOption40 | kResolve, "kivohandler/NOID1"},
    {"COMPARE", ActionOp::kCompareMessage, kResolveBoth},
    {"CONREF", ActionOp::kTopicContent},
    {"DOCNOTREE", ActionOp::kDocNoTree},
    {"DOCSEARCH", ActionOp::kDocSearch},
    {"EXPORT", ActionOp::kLink, kClearOption40 | kSetOptionExport},
    {"IMAGE", ActionOp::kImage, kClearOption40},
    {"INFO", ActionOp::kInfo},
    {"INSTANT", ActionOp::kInstant},
    {"JSNOTESINLINE", ActionOp::kNotesScript, kScriptAnswer},
    {"JSCMENU", ActionOp::kMenuScript, kScriptAnswer},
    {"LINK", ActionOp::kLink, kClearOption40 | kResolve, "kivohandler/NOID1"},
    {"LINKEXT", ActionOp::kMainPage, kResolve},
    {"PRINT", ActionOp::kPrint},
    {"PRINTA4", ActionOp::kPrintA4},
    {"PRINTUS", ActionOp::kPrintUs},
    {"PREVIOUS", ActionOp::kPrevious},
    {"SEARCH", ActionOp::kSearch},
    {"SEARCHEXT", ActionOp::kExternalSearch},
    {"SEARCHMSG", ActionOp::kSearchMessage},
    {"SORTMSG", ActionOp::kSortMessage},
    {"SUB_MAIN", ActionOp::kSubMain},
    {"TOOLBAR", ActionOp::kToolbar, kNoBodyHandlers},
    // The frame's src may carry only LI.
    {"TREEFRAME", ActionOp::kTreeFrame, kResolve},
    {"UP", ActionOp::kUp},
};

constexpr size_t kBlankPageSize = 1000;
constexpr size_t kBgColourMax = 6;
// The library a sub-library main page is asked of when ID names none.
constexpr const char* kSubMainLibrary = "9999";

const ActionRow* findActionRow(const std::string& word) {
    // Only the letters A to U begin an action.
    if (word.empty() || word[0] < 'A' || word[0] > 'U') return nullptr;
    for (const ActionRow& row : kActionRows) {
        if (row.word[0] != word[0]) continue;
        if (row.prefix ? startsCaseBlindAt(word, 0, row.word) : strcasecmp(word.c_str(), row.word) == 0)
            return &row;
    }
    return nullptr;
}

void unknownAction(KivoHandler& kh, const std::string& word) {
    kh.setError(msgFormat(10, "kivohandler/2"), errorArgument(word));
}

int blankPage(KivoHandler& kh) {
    CgiHandler& cg = *kh.cg;
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

// The search form pages: a search object per request, made before the
// document form drops the body handlers.
int searchFormRow(KivoHandler& kh, KivoHandler::SearchOperation operation) {
    CgiHandler& cg = *kh.cg;
    std::unique_ptr<SearchActions> sa = newSearchActions(&cg);
    if (!sa) {
        kh.setError(msgFormat(0, "kivohandler/81"), "SearchActions");
        return 0;
    }
    if (operation == KivoHandler::SearchOperation::kDocument) cg.flags &= ~kCgiBodyHandlers;
    return kh.runSearchOperation(*sa, operation);
}

int subMainRow(KivoHandler& kh) {
    ValueList& fields = *kh.cg->valueList;
    const Value* id = fields.findValue("ID");
    if (!id || id->value.empty()) fields.addValue("ID", kSubMainLibrary);
    fields.removeValue(fields.findValue("AC"));
    fields.addValue("FN", std::string(kSubMainPage).c_str());
    return kh.linkAction();
}

// The row's field and bit changes; 0 when resolving failed (its text set).
int prepareRow(KivoHandler& kh, const ActionRow& row) {
    CgiHandler& cg = *kh.cg;
    if (row.prep & kNoBodyHandlers) cg.flags &= ~kCgiBodyHandlers;
    if (row.prep & kClearOption40) cg.options &= ~kOptBit40;
    if (row.prep & kSetOptionBody) cg.options |= kOptBody;
    if (row.prep & kSetOptionExport) cg.options |= kOptPlainFileLinks;
    if (row.prep & kScriptAnswer) cg.mimeType = "text/javascript";
    if ((row.prep & kResolve) && !kh.resolveLibrary(row.noIdTag)) return 0;
    if ((row.prep & kResolveBoth) && !kh.resolveBoth()) return 0;
    return 1;
}

int runOperation(KivoHandler& kh, ActionOp op, const std::string& word) {
    using Search = KivoHandler::SearchOperation;
    CgiHandler& cg = *kh.cg;
    // clang-format off
    switch (op) {
        case ActionOp::kAbout: return kh.outputAbout();
        case ActionOp::kAnnotation: return kh.annotAction(word);
        case ActionOp::kAdvSearch: return searchFormRow(kh, Search::kAdvanced);
        case ActionOp::kBlank: return blankPage(kh);
        case ActionOp::kLink: return kh.linkAction();
        case ActionOp::kBookmark: return kh.BookmarkAction();
        case ActionOp::kChangeLanguage: return kh.externalLinkAction();
        case ActionOp::kMainPage: return kh.mainPageAction(0);
        case ActionOp::kCompareSelect: return kh.outputCompareSelect();
        case ActionOp::kCompareMessage: return kh.outputCompareMessage();
        case ActionOp::kCompare: return kh.compareAction();
        case ActionOp::kTopicContent: return kh.topicContent();
        case ActionOp::kDocNoTree: return kh.docNoTreeAction();
        case ActionOp::kDocSearch: return searchFormRow(kh, Search::kDocument);
        case ActionOp::kImage: return kh.imageAction();
        case ActionOp::kInfo: return kh.infoAction();
        case ActionOp::kInstant: return kh.writeInstantResultsPage();
        case ActionOp::kNotesScript: return kh.writeJSFunctions();
        case ActionOp::kMenuScript: return cg.generateJSBGMenuFunctions();
        case ActionOp::kPrint: return kh.printAction();
        case ActionOp::kPrintA4: return kh.locationPrint(PSIZE_A4);
        case ActionOp::kPrintUs: return kh.locationPrint(PSIZE_US);
        case ActionOp::kPrevious: return cg.outputPrevious();
        case ActionOp::kSearch: return kh.searchArguments();
        case ActionOp::kExternalSearch: return kh.externalSearchArguments();
        case ActionOp::kSearchMessage: return kh.outputSearchMessage("SEARCHMSG");
        case ActionOp::kSortMessage: return kh.outputSearchMessage("SORTMSG");
        case ActionOp::kSubMain: return subMainRow(kh);
        case ActionOp::kToolbar: return kh.toolbarAction();
        case ActionOp::kTreeFrame: return kh.writeDummyTreeFrame();
        case ActionOp::kUp: return cg.locationDbTop();
    }
    // clang-format on
    return 0;
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
    const int result = prepareRow(*this, *row) ? runOperation(*this, row->op, word) : 0;
    if (result) return result;
    // An action that wrote its answer has answered, whatever it returned:
    // the program must not write a second page after it.
    if (cg->flags & kCgiResponseDone) return 1;
    if (getError().empty() && cg->getError().empty()) {
        setError(msgFormat(476, "kivohandler/0"), errorArgument(word));
    }
    return 0;
}

int KivoHandler::resolveLibrary(const char* noIdTag) {
    if (!resolveLibId("LI", "ID", "DB", true)) return 0;
    ValueList& fields = *cg->valueList;
    if (noIdTag && !fields.findValue("LI") && !fields.findValue("DB") && !fields.findValue("ID")) {
        setError(msgFormat(13, noIdTag));
        return 0;
    }
    // The library named by its file gets its id; a failed look-up leaves
    // the action to the fields it has, and its text must not stand in for
    // a later failure.
    if (const Value* db = fields.findValue("DB"); db && !db->value.empty()) {
        const std::string earlier = cg->getError();
        getIDbyDbName();
        cg->errmsg = earlier;
    }
    return 1;
}

int KivoHandler::resolveBoth() {
    return resolveLibId("LI", "ID", "DB", false) && resolveLibId("LC", "IC", "DC", false) ? 1 : 0;
}

int KivoHandler::runSearchOperation(SearchActions& sa, SearchOperation operation) {
    int result = 0;
    switch (operation) {
        case SearchOperation::kAdvanced:
            result = sa.advsearchAction();
            break;
        case SearchOperation::kDocument:
            result = sa.docsearchAction();
            break;
        case SearchOperation::kSearch:
            result = sa.searchAction(*this);
            break;
    }
    if (!result) errmsg = sa.getError();
    return result;
}

}  // namespace ruva

#include "bmod/ruvaserv/search/search_functions.h"

#include <new>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/client/uzresponse.h"
#include "bmod/ruvaserv/search/pattern_prep.h"
#include "bmod/ruvaserv/search/phrase_filter.h"
#include "common/cookie.h"
#include "common/text_view.h"

namespace ruva {
namespace {

// The free operations set the text through ErrorText, which keeps it whole.
int keptAt511(SearchFunctions& sf, int result) {
    if (sf.errmsg.size() > kSearchErrorMax) sf.errmsg.resize(kSearchErrorMax);
    return result;
}

bool beginsWithOne(const std::optional<std::string>& value) {
    return value && !value->empty() && (*value)[0] == '1';
}

}  // namespace

std::unique_ptr<SearchFunctions> newSearchFunctions(SearchData& sd, CgiHandler& cg) {
    return std::unique_ptr<SearchFunctions>(new (std::nothrow) SearchFunctions(sd, cg));
}

int SearchFunctions::srchPattCleanup(std::string& pattern) {
    return keptAt511(*this, ruva::srchPattCleanup(pattern, CleanupMode{kwd_check, cleanupPhrase}, *this));
}

int SearchFunctions::srchPattSyntaxChk(std::string_view pattern) {
    return keptAt511(*this, ruva::srchPattSyntaxChk(pattern, *this));
}

int SearchFunctions::srchPattComplete(std::string& pattern, int whrAdd) {
    return keptAt511(*this, ruva::srchPattComplete(pattern, whrAdd, *this));
}

int SearchFunctions::handleDocnoRev(std::string& pattern) {
    return ruva::handleDocnoRev(pattern);
}

int SearchFunctions::preparePhraseSearch(std::string& pattern) {
    return keptAt511(*this, ruva::preparePhraseSearch(pattern, sd.isPhraseSearch, *this));
}

int SearchFunctions::processJapaneseFulltextExpression(std::string& pattern,
                                                       std::vector<std::string>& tokens) {
    return keptAt511(*this, ruva::processJapaneseFulltextExpression(pattern, tokens, *this));
}

bool SearchFunctions::contextsWanted() const {
    const Value* sp = cg.valueList ? cg.valueList->findValue("SP") : nullptr;
    if (sp && !sp->value.empty() && sp->value[0] == '1') return true;
    return beginsWithOne(getcookieforpn("showContext"));
}

int SearchFunctions::rmvDocsPhraseSearch(UzSession& session, UzResponse& reply, const char* phrase) {
    if (!phrase) return 0;
    const Value* st = cg.valueList ? cg.valueList->findValue("ST") : nullptr;
    PhraseFilterMode mode;
    mode.documentSearch = st && st->value.size() == 9 && startsCaseBlindAt(st->value, 0, "docsearch");
    mode.contexts = contextsWanted();
    return ruva::rmvDocsPhraseSearch(session, reply, phrase, mode);
}

std::optional<std::string> SearchFunctions::makeSynopsis(int isKwd, const char* context,
                                                         const std::vector<ContextWord>& words) {
    if (!context) return std::nullopt;
    SynopsisMode mode;
    mode.isKwd = isKwd;
    mode.phrase = sd.isPhraseSearch != 0;
    mode.japaneseText = japaneseText;
    return ruva::makeSynopsis(context, words, mode);
}

}  // namespace ruva

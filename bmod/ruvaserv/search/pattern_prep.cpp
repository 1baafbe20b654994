#include "bmod/ruvaserv/search/pattern_prep.h"

namespace ruva {

int srchPattCleanup(std::string&, CleanupMode, ErrorText&) {
    return 0;
}

int srchPattSyntaxChk(std::string_view, ErrorText&) {
    return 0;
}

int srchPattComplete(std::string&, int, ErrorText&) {
    return 0;
}

int preparePhraseSearch(std::string&, uint32_t&, ErrorText&) {
    return 0;
}

int handleDocnoRev(std::string&) {
    return 0;
}

int completeDocnoInUrl(std::string&) {
    return 0;
}

void removeSpacesExceptLast(std::string&) {}

std::string keywordProcessing_oneExpandableword(std::string_view) {
    return {};
}

std::string keywordProcessing_twoExpandablewords(std::string_view) {
    return {};
}

int processJapaneseFulltextExpression(std::string&, std::vector<std::string>&, ErrorText&) {
    return 0;
}

}  // namespace ruva

#include "bmod/ruvaserv/search/search_functions.h"

#include <new>

#include "bmod/ruvaserv/client/uzresponse.h"

namespace ruva {

std::unique_ptr<SearchFunctions> newSearchFunctions(SearchData& sd, CgiHandler& cg) {
    return std::unique_ptr<SearchFunctions>(new (std::nothrow) SearchFunctions(sd, cg));
}

int SearchFunctions::srchPattCleanup(std::string&) {
    return 0;
}

int SearchFunctions::srchPattSyntaxChk(std::string_view) {
    return 0;
}

int SearchFunctions::srchPattComplete(std::string&, int) {
    return 0;
}

int SearchFunctions::handleDocnoRev(std::string&) {
    return 0;
}

int SearchFunctions::preparePhraseSearch(std::string&) {
    return 0;
}

int SearchFunctions::processJapaneseFulltextExpression(std::string&, std::vector<std::string>&) {
    return 0;
}

int SearchFunctions::rmvDocsPhraseSearch(UzSession&, UzResponse&, const char*) {
    return 0;
}

std::optional<std::string> SearchFunctions::makeSynopsis(int, const char*, const std::vector<ContextWord>&) {
    return std::nullopt;
}

}  // namespace ruva

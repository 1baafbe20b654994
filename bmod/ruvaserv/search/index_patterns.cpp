#include "bmod/ruvaserv/search/index_patterns.h"

#include "bmod/ruvaserv/search/search_functions.h"

namespace ruva {

const IndexOfType* indexOfType(KivoSearchType) {
    return nullptr;
}

std::string normaliseSearchField(std::string_view) {
    return {};
}

int prepareIndexPattern(SearchFunctions&, std::string_view, const IndexPatternRequest&, std::string&,
                        std::optional<std::string>&) {
    return 0;
}

int prepareCatchwordPattern(SearchFunctions&, const IndexPatternRequest&, std::string&) {
    return 0;
}

}  // namespace ruva

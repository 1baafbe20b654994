#include "bmod/ruvaserv/search/phrase_filter.h"

namespace ruva {

int rmvDocsPhraseSearch(UzSession&, UzResponse&, std::string_view, PhraseFilterMode) {
    return 0;
}

std::optional<std::string> phraseInDocument(std::string_view, std::string_view, bool) {
    return std::nullopt;
}

std::string keepTopicPairs(std::string_view, std::string_view) {
    return {};
}

int checkDochit(std::string_view, std::string_view) {
    return 0;
}

}  // namespace ruva

#include "bmod/ruvaserv/search/library_ids.h"

namespace ruva {

std::vector<std::string> splitLibraryIds(std::string_view value) {
    // The forms submit the list quoted, and the quote may arrive as the
    // entity the request stores it as.
    std::string text;
    text.reserve(value.size());
    constexpr std::string_view kQuoteEntity = "&#34;";
    for (size_t i = 0; i < value.size();) {
        if (value.substr(i, kQuoteEntity.size()) == kQuoteEntity) {
            text += '"';
            i += kQuoteEntity.size();
        } else {
            text += value[i++];
        }
    }
    std::string_view rest = text;
    if (!rest.empty() && rest.front() == '"') rest.remove_prefix(1);
    if (!rest.empty() && rest.back() == '"') rest.remove_suffix(1);

    std::vector<std::string> ids;
    while (!rest.empty()) {
        const size_t blank = rest.find(' ');
        const std::string_view token = rest.substr(0, blank);
        if (!token.empty()) ids.emplace_back(token);
        if (blank == std::string_view::npos) break;
        rest.remove_prefix(blank + 1);
    }
    return ids;
}

}  // namespace ruva

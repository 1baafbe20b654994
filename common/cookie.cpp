#include "common/cookie.h"

#include <cstdlib>
#include <string_view>

namespace ruva {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

}  // namespace

std::optional<std::string> getcookieforpn(const char* name) {
    if (name == nullptr || *name == '\0') return std::nullopt;
    const char* variable = std::getenv("HTTP_COOKIE");
    if (variable == nullptr) return std::nullopt;

    // Matching whole names keeps "cat" from finding "xcat=1" or a value.
    const std::string_view wanted = name;
    std::string_view rest = variable;
    while (!rest.empty()) {
        const size_t semicolon = rest.find(';');
        const std::string_view item = trimBlanks(rest.substr(0, semicolon));
        rest = semicolon == std::string_view::npos ? std::string_view() : rest.substr(semicolon + 1);
        const size_t equals = item.find('=');
        if (equals != std::string_view::npos && item.substr(0, equals) == wanted)
            return std::string(item.substr(equals + 1));
    }
    return std::nullopt;
}

}  // namespace ruva

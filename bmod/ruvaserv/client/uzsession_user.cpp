// USER, RMFILE and UPDFILE, and two small text functions.
#include "bmod/ruvaserv/client/uzsession.h"

namespace ruva {

std::unique_ptr<UzResponse> UzSession::User(int) {
    return nullptr;  // not yet built
}

std::unique_ptr<UzResponse> UzSession::UserP(int, std::string_view, int) {
    return nullptr;  // not yet built
}

std::unique_ptr<UzResponse> UzSession::rmfile(std::string_view, std::string_view) {
    return nullptr;  // not yet built
}

std::unique_ptr<UzResponse> UzSession::updatafile(std::string_view, std::string_view,
                                                  std::span<const std::string_view>) {
    return nullptr;  // not yet built
}

std::optional<std::string> getcookiepn(const char*) {
    return std::nullopt;  // not yet built
}

char* str_replace(char* text, char, char) {
    return text;  // not yet built
}

}  // namespace ruva

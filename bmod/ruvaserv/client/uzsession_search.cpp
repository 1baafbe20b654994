// The word-index, text, property and library searches.
#include "bmod/ruvaserv/client/uzsession.h"

namespace ruva {

std::unique_ptr<UzResponse> UzSession::qxsrch(std::string_view, std::string_view, std::string_view, int,
                                              std::optional<std::string_view>, int) {
    return nullptr;  // not yet built
}

std::unique_ptr<UzResponse> UzSession::qxsrchsgs(std::string_view, std::string_view, std::string_view, int) {
    return nullptr;  // not yet built
}

std::unique_ptr<UzResponse> UzSession::qxdt(std::string_view, std::string_view, std::string_view) {
    return nullptr;  // not yet built
}

std::unique_ptr<UzResponse> UzSession::srch(std::string_view, std::string_view, std::string_view, int,
                                            std::string_view) {
    return nullptr;  // not yet built
}

std::unique_ptr<UzResponse> UzSession::pusrch(std::string_view, std::string_view,
                                              std::span<const std::string_view>) {
    return nullptr;  // not yet built
}

std::unique_ptr<UzResponse> UzSession::msrch(std::string_view, std::optional<std::string_view>) {
    return nullptr;  // not yet built
}

std::unique_ptr<UzResponse> UzSession::mpsrch(std::string_view, std::string_view, std::string_view,
                                              std::string_view, std::string_view,
                                              std::optional<std::string_view>) {
    return nullptr;  // not yet built
}

std::unique_ptr<UzResponse> UzSession::handleMsrchCommand(std::string_view, std::span<const UzArg>) {
    return nullptr;  // not yet built
}

}  // namespace ruva

// The commands that ask a server about itself and its libraries.
#include "bmod/ruvaserv/client/uzsession.h"

namespace ruva {

std::unique_ptr<UzResponse> UzSession::ver() {
    return nullptr;  // not yet built
}

std::unique_ptr<UzResponse> UzSession::help(std::optional<std::string_view>) {
    return nullptr;  // not yet built
}

std::unique_ptr<UzResponse> UzSession::info() {
    return nullptr;  // not yet built
}

std::unique_ptr<UzResponse> UzSession::list(std::string_view) {
    return nullptr;  // not yet built
}

std::unique_ptr<UzResponse> UzSession::mllist(std::string_view) {
    return nullptr;  // not yet built
}

std::unique_ptr<UzResponse> UzSession::mlnlist(std::string_view, std::string_view) {
    return nullptr;  // not yet built
}

std::unique_ptr<UzResponse> UzSession::mlslist(std::string_view, std::string_view) {
    return nullptr;  // not yet built
}

std::unique_ptr<UzResponse> UzSession::slist() {
    return nullptr;  // not yet built
}

std::unique_ptr<UzResponse> UzSession::cont(std::string_view library, std::optional<std::string_view> pattern) {
    return handleContCommand(library, pattern, false);
}

std::unique_ptr<UzResponse> UzSession::contv(std::string_view library, std::optional<std::string_view> pattern) {
    return handleContCommand(library, pattern, true);
}

std::unique_ptr<UzResponse> UzSession::handleContCommand(std::string_view, std::optional<std::string_view>, bool) {
    return nullptr;  // not yet built
}

std::unique_ptr<UzResponse> UzSession::langList() {
    return nullptr;  // not yet built
}

std::unique_ptr<UzResponse> UzSession::blobTypes() {
    return nullptr;  // not yet built
}

std::unique_ptr<UzResponse> UzSession::quit() {
    return nullptr;  // not yet built
}

}  // namespace ruva

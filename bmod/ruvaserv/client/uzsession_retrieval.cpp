// The commands that bring archives, members and sections from a server.
#include "bmod/ruvaserv/client/uzsession.h"

namespace ruva {

std::unique_ptr<UzResponse> UzSession::get(std::string_view, std::string_view) {
    return nullptr;  // not yet built
}

std::unique_ptr<UzResponse> UzSession::retr(std::string_view library, std::string_view member,
                                            std::string_view outdir) {
    return handleRetrCommand(library, member, outdir, nullptr);
}

std::unique_ptr<UzResponse> UzSession::retrMem(std::string_view library, std::string_view member,
                                               std::string& data) {
    return handleRetrCommand(library, member, std::nullopt, &data);
}

std::unique_ptr<UzResponse> UzSession::handleRetrCommand(std::string_view, std::string_view,
                                                         std::optional<std::string_view>, std::string*) {
    return nullptr;  // not yet built
}

std::optional<std::string> UzSession::getFileData(std::string_view, std::string_view) {
    return std::nullopt;  // not yet built
}

std::unique_ptr<UzResponse> UzSession::idretr(std::string_view, std::string_view, std::string_view,
                                              std::string_view) {
    return nullptr;  // not yet built
}

}  // namespace ruva

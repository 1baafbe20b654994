#include "bmod/ruvaserv/cgi/cgihandler.h"

namespace ruva {

int CgiHandler::cgiEntry() {
    return 0;  // not yet built
}

int CgiHandler::parseCgiInput(const char*, size_t, char) {
    return 0;  // not yet built
}

std::optional<std::string> CgiHandler::extractCgiField(const char**, char, std::ptrdiff_t*) {
    return std::nullopt;  // not yet built
}

std::string CgiHandler::unescapeUrl(const char*) const {
    return {};  // not yet built
}

}  // namespace ruva

#include "bmod/ruvaserv/cgi/cgihandler.h"

namespace ruva {

// Hits are not marked yet: the region stays as written.
int CgiHandler::patternPostProcess(int& paState, unsigned&, bool, size_t&, std::span<const std::string>) {
    paState = 0;
    return 1;
}

int CgiHandler::patternHighlight(std::string_view htmlCode, std::string_view, std::string_view, std::string_view,
                                 std::string_view, std::string& result) {
    result.assign(htmlCode);
    return 1;
}

}  // namespace ruva

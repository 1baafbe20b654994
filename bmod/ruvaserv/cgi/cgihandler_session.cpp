// Stand-ins for the document-server session and the page post-processing,
// so that a request runs end to end before they exist.
#include "bmod/ruvaserv/cgi/cgihandler.h"

namespace ruva {

int CgiHandler::determineDocumentServer() {
    return 0;  // not yet built
}

int CgiHandler::createDefaultSession() {
    // No session yet: the request goes on without one, and the actions
    // that need the server report it themselves.
    return 1;
}

int CgiHandler::establishDefaultSession() { return 0; }

int CgiHandler::getHashIDfromLI(std::string_view, std::string*, std::string*) {
    return 0;  // not yet built
}

int CgiHandler::getUserDetails() {
    return 0;  // not yet built
}

int CgiHandler::postProcessFile() {
    // No output buffer: output then sends the document buffer as it is.
    return 1;
}

}  // namespace ruva

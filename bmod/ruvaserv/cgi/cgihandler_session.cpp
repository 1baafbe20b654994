// Stand-ins for the document-server session and the page post-processing,
// so that a request runs end to end before they exist.
#include "bmod/ruvaserv/cgi/cgihandler.h"

namespace ruva {

int CgiHandler::createDefaultSession() {
    // No client yet: the request goes on without a session, and the
    // actions that need the server report it themselves.
    return 1;
}

int CgiHandler::establishDefaultSession() { return 0; }

int CgiHandler::postProcessFile() {
    // No output buffer: output then sends the document buffer as it is.
    return 1;
}

}  // namespace ruva

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/page_scan.h"
#include "bmod/ruvaserv/cgi/postprocess_texts.h"

namespace ruva {

int CgiHandler::postProcessFile() {
    // No output buffer: output then sends the document buffer as it is.
    pass_ = PassState();
    return 1;
}

}  // namespace ruva

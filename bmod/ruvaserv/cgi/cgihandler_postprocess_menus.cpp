#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/postprocess_texts.h"

namespace ruva {

int CgiHandler::insertHeadEnd() { return 1; }

int CgiHandler::insertBodyEnd() { return 1; }

int CgiHandler::toolbarPageRule(size_t&) { return 0; }

}  // namespace ruva

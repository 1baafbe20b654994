#include "bmod/ruvaserv/cgi/cgihandler.h"

namespace ruva {

// not yet built: every operation below gives its failure value.

void CgiHandler::writeErrorPage(std::string_view) {}
int CgiHandler::writeHead(std::string_view) { return 0; }
int CgiHandler::outputTail() { return 0; }

std::string CgiHandler::buildURLstring(int, std::initializer_list<std::string_view>) const { return {}; }

int CgiHandler::initToolbar() { return 0; }
int CgiHandler::generateJSBGMenuFunctions() { return 0; }

}  // namespace ruva

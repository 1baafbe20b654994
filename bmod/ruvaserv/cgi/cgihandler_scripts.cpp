#include "bmod/ruvaserv/cgi/cgihandler.h"

namespace ruva {

// The body attributes and the tree scripts come with the viewer script;
// until then they write nothing.
int CgiHandler::bodyPostProcess(size_t&) { return 1; }

int CgiHandler::insertCTOCGenerateScript(size_t&) { return 1; }

int CgiHandler::insertTOCGenerateScript() { return 1; }

int CgiHandler::insertAutoSyncScript() { return 1; }

int CgiHandler::writeDocTOCJavaScript(std::string_view text, size_t&) {
    if (text.empty()) return 1;
    return dstWriteBuf(text);
}

}  // namespace ruva

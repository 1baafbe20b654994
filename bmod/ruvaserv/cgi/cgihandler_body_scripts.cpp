#include <cstdint>

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
    // Room for the text and its NUL, grown in one step; a failed growth
    // leaves the output as it was.
    if (dstOffs >= dstbufSize || text.size() >= dstbufSize - dstOffs) {
        const bool overflow = text.size() > SIZE_MAX - 1 - dstOffs;
        const size_t n = overflow ? SIZE_MAX : dstOffs + text.size() + 1;
        if (overflow || !reallocDstBuf(n)) {
            if (dstPass_) {
                setError(msg(211, "cgihandler/13"), static_cast<unsigned long>(n));
                dstPassFailed_ = true;
            }
            return 0;
        }
    }
    return dstWriteBuf(text);
}

}  // namespace ruva

#include <cstring>
#include <string_view>

#include "bmod/ruvaserv/cgi/cgihandler.h"

namespace ruva {

namespace {

constexpr std::string_view kMarkerOpen = "<!--@@";

}  // namespace

int CgiHandler::specPostProcess(size_t& so) {
    // The pass copied "<!--@@" before it knew the marker; the handler's
    // text or the marker as written replaces it.
    dstOffs = dstOffs >= kMarkerOpen.size() ? dstOffs - kMarkerOpen.size() : 0;
    if (dstBuf && dstOffs < dstbufSize) dstBuf[dstOffs] = '\0';

    const size_t start = so < docSize ? so : docSize;
    const void* close = docBuf ? std::memchr(docBuf + start, '>', docSize - start) : nullptr;
    // Without a '>' the marker runs to the page's end and takes all of it.
    const size_t end = close ? static_cast<size_t>(static_cast<const char*>(close) - docBuf) : docSize;
    const std::string_view marker(docBuf ? docBuf + start : "", end - start);
    so = close ? end + 1 : docSize;
    if (!specCallback) return 1;

    if (specCallback(specClientData, marker)) return dstPassFailed() ? 0 : 1;
    // A refused marker stays as the page had it, its '>' included.
    std::string_view rest(docBuf ? docBuf + start : "", so - start);
    if (!dstWriteBuf(kMarkerOpen) || !dstWriteBuf(rest)) return 0;
    return 1;
}

}  // namespace ruva

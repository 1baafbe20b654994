#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "common/mapped_file.h"

namespace ruva {

namespace {

// Moves a buffer to a new mapping of n bytes holding its used bytes, or its
// text up to the first NUL when a writer left that longer, as far as they
// fit with a NUL; release frees the old buffer. Copying only up to the NUL
// would drop what was appended behind the zero bytes allocDocBuf counts as
// used. 0, the buffer as it was, when no mapping can be had.
template <class Release>
int remapBuffer(char*& buf, size_t& capacity, size_t& used, size_t n, Release release) {
    size_t size = n;
    char* fresh = static_cast<char*>(mapMem(&size));
    if (!fresh) return 0;
    size_t keep = buf ? std::min({std::max(used, strnlen(buf, capacity)), capacity, size - 1}) : 0;
    if (keep) std::memcpy(fresh, buf, keep);
    size_t kept = std::min(used, keep);
    release();
    buf = fresh;
    capacity = size;
    used = kept;
    return 1;
}

// Appends text at *offs when it stays below capacity with its NUL.
int appendBelow(char* buf, size_t capacity, size_t* offs, std::string_view text) {
    if (!buf || *offs >= capacity || text.size() >= capacity - *offs) return 0;
    std::memcpy(buf + *offs, text.data(), text.size());
    *offs += text.size();
    buf[*offs] = '\0';
    return 1;
}

}  // namespace

int CgiHandler::allocDocBuf(size_t n) {
    freeDocBuf();
    const size_t wanted = n > SIZE_MAX - kDocBufSlack ? n : n + kDocBufSlack;
    size_t size = wanted;
    void* buf = wanted > n ? mapMem(&size) : nullptr;
    if (!buf) {
        setError(msg(234, "cgihandler/31"), static_cast<unsigned long>(wanted));
        return 0;
    }
    docBuf = static_cast<char*>(buf);
    docSize = n;
    docbufSize = size;
    flags |= kCgiDocBufMapped;
    return 1;
}

int CgiHandler::reallocDocBuf(size_t n) {
    if (!remapBuffer(docBuf, docbufSize, docSize, n, [this] { freeDocBuf(); })) {
        setError(msg(232, "cgihandler/30"), static_cast<unsigned long>(n));
        return 0;
    }
    flags |= kCgiDocBufMapped;
    return 1;
}

void CgiHandler::freeDocBuf() {
    if (docBuf) {
        if (flags & kCgiDocBufFile) {
            unmapFile(&docBuf, &docbufSize);
        } else if (flags & kCgiDocBufMapped) {
            unmapMem(docBuf, docbufSize);
        } else {
            std::free(docBuf);
        }
    }
    docBuf = nullptr;
    docSize = 0;
    docbufSize = 0;
    // A later buffer of another kind must not be released as this one was.
    flags &= ~(kCgiDocBufMapped | kCgiDocBufFile);
}

int CgiHandler::allocDstBuf(size_t n) {
    freeDstBuf();
    size_t size = n;
    void* buf = mapMem(&size);
    if (!buf) {
        setError(msg(230, "cgihandler/28"), static_cast<unsigned long>(n));
        return 0;
    }
    dstBuf = static_cast<char*>(buf);
    dstbufSize = size;
    dstOffs = 0;
    return 1;
}

int CgiHandler::reallocDstBuf(size_t n) {
    if (!remapBuffer(dstBuf, dstbufSize, dstOffs, n, [this] { freeDstBuf(); })) {
        setError(msg(231, "cgihandler/29"), static_cast<unsigned long>(n));
        return 0;
    }
    return 1;
}

void CgiHandler::freeDstBuf() {
    if (dstBuf) unmapMem(dstBuf, dstbufSize);
    dstBuf = nullptr;
    dstbufSize = 0;
    dstOffs = 0;
}

int CgiHandler::docWriteBuf(std::string_view text) {
    if (!docBuf) return 0;
    if (docSize > SIZE_MAX - kDocBufSlack - 1 - text.size()) return 0;
    // A mapped file is read-only, so the first write moves it into memory.
    // Growth keeps the slack that post-processing counts on.
    if ((flags & kCgiDocBufFile) || docSize + text.size() >= docbufSize) {
        if (!reallocDocBuf(docSize + text.size() + 1 + kDocBufSlack)) return 0;
    }
    return appendBelow(docBuf, docbufSize, &docSize, text);
}

int CgiHandler::dstWriteBuf(std::string_view text) {
    return appendBelow(dstBuf, dstbufSize, &dstOffs, text);
}

int CgiHandler::dstPrintFormatted(std::string_view text) {
    if (!dstBuf || dstOffs >= dstbufSize) return 0;
    if (dstbufSize - dstOffs < kDstPrintfMinFree || !appendBelow(dstBuf, dstbufSize, &dstOffs, text)) {
        dstBuf[dstOffs] = '\0';
        return 0;
    }
    return 1;
}

int CgiHandler::dstWriteKvoURL() {
    if (!dstWriteBuf(urlProto + kivoServName + "?")) return 0;
    // UZ carries the default session's server; there is none until the
    // document-server client exists.
    if (options && !dstWriteBuf(formatChecked("OP=%x&amp;", options))) return 0;
    if (curId) return dstWriteBuf(formatChecked("ID=%d&amp;", curId));
    if (!curDb.empty()) return dstWriteBuf(formatChecked("DB=%s&amp;", curDb));
    return 1;
}

// not yet built: every operation below gives its failure value.

int CgiHandler::output() {
    return 0;
}
int CgiHandler::outputNoResponse() {
    return 0;
}

std::optional<std::string> CgiHandler::createExpireHeader(time_t) const {
    return std::nullopt;
}
std::optional<std::string> CgiHandler::createLastModifiedHeader() const {
    return std::nullopt;
}
std::optional<std::string> CgiHandler::createHttpTime(time_t) {
    return std::nullopt;
}

void setResponseClock(time_t (*)()) {}

int activateTimeout(CgiHandler&) {
    return 0;
}
void deactivateTimeout() {}

}  // namespace ruva

#include "bmod/unzipd/zip/decoder_state.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "bmod/unzipd/zip/inflate.h"
#include "common/crc32.h"
#include "common/fd_io.h"

namespace ruva {

UnzipGlobals::~UnzipGlobals() {
    deleteInflateTables(inflateTables);
}

void UnzipGlobals::reset(int fd, unsigned long compressedSize, unsigned long ucSize, uint16_t flags,
                         int method) {
    zipfd = fd;
    source = nullptr;
    memberCompressedSize = compressedSize;
    csize = compressedSize;
    ucsize = ucSize;
    generalFlags = flags;
    written = 0;
    crc32val = 0xFFFFFFFF;
    zipeof = false;
    inptr = inbuf;
    inend = inbuf;
    bitbuf = 0;
    bitcnt = 0;
    // Inflate checks its distances against what it produced; the others may
    // reach before the start of the member and must see zeros there.
    if (method >= 1 && method <= 6) std::memset(&area, 0, sizeof area);
}

void UnzipGlobals::reset(const unsigned char* data, unsigned long compressedSize, unsigned long ucSize,
                         uint16_t flags, int method) {
    reset(-1, compressedSize, ucSize, flags, method);
    source = data;
}

bool UnzipGlobals::fill() {
    // Unread bytes move to the front, so that a reader of whole words keeps
    // a contiguous view across blocks.
    size_t keep = size_t(inend - inptr);
    if (keep > kInBufSlack) return true;
    if (csize == 0) return keep != 0;
    std::memmove(inbuf, inptr, keep);
    size_t want = std::min<unsigned long>(csize, kInBufSize);
    ssize_t n;
    if (source) {
        std::memcpy(inbuf + keep, source, want);
        source += want;
        n = ssize_t(want);
    } else {
        n = readRetry(zipfd, inbuf + keep, want);
    }
    inptr = inbuf;
    if (n <= 0) {
        // A read error or an early end of file ends the data.
        csize = 0;
        inend = inbuf + keep;
        return keep != 0;
    }
    csize -= (unsigned long)n;
    inend = inbuf + keep + size_t(n);
    return true;
}

int UnzipGlobals::flush(const unsigned char* data, size_t n) {
    int rc = 0;
    if (n > ucsize - written) {
        n = ucsize - written;
        rc = 1;
    }
    if (n == 0) return rc;
    crc32val = crc32Update(crc32val, data, n);
    written += n;
    if (out.fd >= 0) {
        if (!writeAll(out.fd, data, n)) {
            out.writeError = errno;
            return 1;
        }
        out.fdWritten += n;
    } else {
        size_t k = std::min(n, out.room - out.filled);
        if (k) std::memcpy(out.buf + out.filled, data, k);
        out.filled += k;
    }
    return rc;
}

}  // namespace ruva

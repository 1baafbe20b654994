#include "bmod/unzipd/zip/unzip.h"

#include <errno.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "bmod/unzipd/zip/crc32.h"
#include "bmod/unzipd/zip/inflate.h"
#include "bmod/unzipd/zip/zip_reader.h"
#include "common/heap_mapping.h"
#include "common/mapped_file.h"

namespace ruva {
namespace {

// A new buffer bigger than this comes only from a hostile header: no
// library member the daemon serves is near it.
constexpr size_t kMaxUnzipBuffer = size_t(1) << 30;

constexpr int kMaxVersionNeeded = 20;  // 2.0: deflate and the older methods
constexpr uint16_t kFlagEncrypted = 0x01;
constexpr uint16_t kFlagDataDescriptor = 0x08;
constexpr unsigned long kLocalHeaderSize = 30;

struct LogSink {
    UnzipLogSink fn = nullptr;
    void* context = nullptr;
};
LogSink logSink;

void defaultSink(void*, int level, const char* message) {
    std::fprintf(stderr, "<%d> %s\n", level, message);
}

std::string vformat(const char* format, va_list ap) {
    char small[512];
    va_list again;
    va_copy(again, ap);
    int n = std::vsnprintf(small, sizeof small, format, ap);
    std::string out;
    if (n < 0) {
        va_end(again);
        return out;
    }
    if (size_t(n) < sizeof small) {
        out.assign(small, size_t(n));
    } else {
        out.resize(size_t(n) + 1);
        std::vsnprintf(out.data(), out.size(), format, again);
        out.resize(size_t(n));
    }
    va_end(again);
    return out;
}

// Bytes sent (all of them, or fewer on a real error); short writes go on
// and EINTR is retried, since session processes take SIGUSR2 while writing.
ssize_t writeAll(int fd, const unsigned char* data, size_t len) {
    size_t done = 0;
    while (done < len) {
        ssize_t n = ::write(fd, data + done, len - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        done += size_t(n);
    }
    return ssize_t(done);
}

}  // namespace

void setUnzipLogSink(UnzipLogSink sink, void* context) {
    logSink.fn = sink;
    logSink.context = context;
}

// ---- UnzipGlobals

UnzipGlobals::~UnzipGlobals() {
    deleteInflateTables(inflateTables);
}

void UnzipGlobals::reset(int fd, unsigned long memberCSize, unsigned long ucSize, uint16_t flags,
                         int method) {
    zipfd = fd;
    cSize = memberCSize;
    csize = memberCSize;
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

bool UnzipGlobals::fill() {
    // Unread bytes move to the front, so that a reader of whole words keeps
    // a contiguous view across blocks.
    size_t keep = size_t(inend - inptr);
    if (keep > kInBufSlack) return true;
    if (csize == 0) return keep != 0;
    std::memmove(inbuf, inptr, keep);
    size_t want = std::min<unsigned long>(csize, kInBufSize);
    ssize_t n;
    do {
        n = ::read(zipfd, inbuf + keep, want);
    } while (n < 0 && errno == EINTR);
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
    if (uz->fd >= 0) {
        ssize_t sent = writeAll(uz->fd, data, n);
        if (sent < 0) {
            uz->warn(2, "Unzip, disk write failed, %s", std::strerror(errno));
            return 1;
        }
        uz->fdwritten += (unsigned long)sent;
    } else {
        size_t room = uz->bufsize - uz->bufwritten;
        size_t k = std::min(n, room);
        if (k) std::memcpy(uz->buf + uz->bufwritten, data, k);
        uz->bufwritten += k;
    }
    return rc;
}

// ---- Unzip

std::unique_ptr<Unzip> newUnzip(size_t bufsize) {
    std::unique_ptr<Unzip> uz(new (std::nothrow) Unzip());
    if (!uz) return nullptr;
    uz->unzipGlobals.uz = uz.get();
    if (bufsize && !uz->allocUnzipBuffer(bufsize, 1)) return nullptr;
    return uz;
}

Unzip::~Unzip() {
    freeUnzipBuffer();
}

void Unzip::setError(const char* format, ...) {
    if (!format) {
        errmsg.clear();
        return;
    }
    va_list ap;
    va_start(ap, format);
    errmsg = vformat(format, ap);
    va_end(ap);
}

void Unzip::warn(int level, const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    std::string line = vformat(format, ap);
    va_end(ap);
    if (logSink.fn)
        logSink.fn(logSink.context, level, line.c_str());
    else
        defaultSink(nullptr, level, line.c_str());
}

void Unzip::freeUnzipBuffer() {
    if (mmapbufstart) {
        ::munmap(mmapbufstart, mmapbufsize);
    } else if (buf) {
        if (flags & kUnzipBufMapped)
            unmapMem(buf, bufsize);
        else
            std::free(buf);
    }
    mmapbufstart = nullptr;
    mmapbufsize = 0;
    buf = nullptr;
    bufsize = 0;
    bufwritten = 0;
    flags &= uint16_t(~kUnzipBufMapped);
}

int Unzip::mmapUnzipBuffer(int zipfd, unsigned long start, size_t length) {
    unsigned long aligned = start & ~(unsigned long)(pageSize() - 1);
    size_t maplen = length + (start - aligned);
    void* p = ::mmap(nullptr, maplen, PROT_READ | PROT_WRITE, MAP_PRIVATE, zipfd, off_t(aligned));
    if (p == MAP_FAILED) {
        warn(4, "Failed to mmap ZIP data at [%lu %lu], %s", aligned, (unsigned long)maplen,
             std::strerror(errno));
        return 0;
    }
    freeUnzipBuffer();
    mmapbufstart = static_cast<unsigned char*>(p);
    mmapbufsize = maplen;
    buf = mmapbufstart + (start - aligned);
    bufsize = length;
    return 1;
}

bool Unzip::takeBuffer(size_t size, int mapped) {
    freeUnzipBuffer();
    if (size == 0) return true;
    if (mapped & 1) {
        size_t rounded = size;
        void* p = mapMem(&rounded);
        if (!p) return false;
        buf = static_cast<unsigned char*>(p);
        bufsize = rounded;
        flags |= kUnzipBufMapped;
    } else {
        buf = static_cast<unsigned char*>(std::malloc(size));
        if (!buf) return false;
        bufsize = size;
    }
    return true;
}

int Unzip::allocUnzipBuffer(size_t size, int mapped) {
    if (takeBuffer(size, mapped)) return 1;
    warn(2, "No memory for %lu bytes", (unsigned long)size);
    return 0;
}

int Unzip::unzip(ZipStructure* zs, const CentralHeader* ch, int zipfd, int outfd) {
    if (!zs || !ch) {
        warn(3, "Invalid arguments given to unzip");
        return 0;
    }
    // A stored member held in place lives only until the next call.
    if (mmapbufstart) freeUnzipBuffer();
    fdwritten = 0;
    fd = outfd < 0 ? -1 : outfd;
    bool ownFd = false;
    if (zipfd < 0) {
        zipfd = zs->openZipFile();
        if (zipfd < 0) {
            warn(3, "Unzip, failed to open ZIP file '%s'", ch->fname);
            return 0;
        }
        ownFd = true;
    }
    int ok = extract(zs, ch, zipfd);
    if (ownFd) zs->closeZipFile(zipfd);
    return ok;
}

int Unzip::checkMember(ZipStructure* zs, const CentralHeader* ch, const LocalHeader* lh, int zipfd) {
    const char* name = ch->fname;
    int version = lh->versionNeeded[0];
    if (version > kMaxVersionNeeded) {
        refuse(3, "Unzip, version needed %d.%d, supported %d.%d, %s", version / 10, version % 10,
               kMaxVersionNeeded / 10, kMaxVersionNeeded % 10, name);
        return 0;
    }
    if (lh->generalFlags & kFlagEncrypted) {
        refuse(3, "Unzip, encrypted file '%s'", name);
        return 0;
    }
    bool descriptor = lh->generalFlags & kFlagDataDescriptor;
    unsigned long cSize = descriptor ? ch->cSize : lh->cSize;
    unsigned long ucSize = descriptor ? ch->ucSize : static_cast<unsigned long>(lh->ucSize);
    unsigned long offset = ch->localHeaderOffset + kLocalHeaderSize + lh->fnameLen + lh->extraLen;
    // Mapping or reading past the end of the file would raise SIGBUS or
    // leave the decoders short: the data must lie inside the archive.
    struct stat st;
    if (::fstat(zipfd, &st) != 0 || (unsigned long long)offset + cSize > (unsigned long long)st.st_size) {
        refuse(3, "Unzip, data of %s beyond end of %s", name, zs->zipName);
        return 0;
    }
    int method = lh->method;
    if (method == 0 && cSize != ucSize) {
        refuse(3, "Unzip, store failed with code %d", 1);
        return 0;
    }
    if (method > 8 || method == 7) {
        refuse(3, "Unzip, unknown compression method %d in %s", method, zs->zipName);
        return 0;
    }
    return 1;
}

void Unzip::refuse(int level, const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    errmsg = vformat(format, ap);
    va_end(ap);
    warn(level, "%s", errmsg.c_str());
}

int Unzip::extract(ZipStructure* zs, const CentralHeader* ch, int zipfd) {
    LocalHeader* lh = zs->readLocalHeader(ch, zipfd);
    if (!lh) {
        warn(3, "Unzip, failed to read LocalHeader of %s", ch->fname);
        return 0;
    }
    struct FreeLocal {
        ZipStructure* zs;
        LocalHeader* lh;
        ~FreeLocal() { zs->freeLocalHeader(lh); }
    } freeLocal{zs, lh};

    if (!checkMember(zs, ch, lh, zipfd)) return 0;
    const char* name = ch->fname;
    // Behind a data descriptor the local CRC and sizes are zeros; the
    // central directory has the real ones.
    unsigned long crc = lh->crc, cSize = lh->cSize;
    size_t ucSize = lh->ucSize;
    if (lh->generalFlags & kFlagDataDescriptor) {
        crc = ch->crc;
        cSize = ch->cSize;
        ucSize = ch->ucSize;
    }
    unsigned long offset = ch->localHeaderOffset + kLocalHeaderSize + lh->fnameLen + lh->extraLen;
    int method = lh->method;

    if (fd < 0) {
        if (method == 0 && ucSize > 0 && mmapUnzipBuffer(zipfd, offset, ucSize)) {
            bufwritten = bufsize;
            return 1;
        }
        if (!mmapbufstart && bufsize >= ucSize) {
            bufwritten = 0;
        } else if (ucSize > kMaxUnzipBuffer || !takeBuffer(ucSize, 1)) {
            warn(3, "No memory for %lu bytes buffer for file %s", (unsigned long)ucSize, name);
            return 0;
        }
    }

    if (::lseek(zipfd, off_t(offset), SEEK_SET) == off_t(-1)) {
        warn(3, "Unzip, seek failed to pos %lu in %s", offset, zs->zipName);
        return 0;
    }

    UnzipGlobals& G = unzipGlobals;
    G.uz = this;
    G.reset(zipfd, cSize, ucSize, lh->generalFlags, method);
    int rc;
    switch (method) {
        case 0:
            rc = 0;
            while (rc == 0 && G.fill()) {
                rc = G.flush(G.inptr, size_t(G.inend - G.inptr));
                G.inptr = G.inend;
            }
            if (rc) {
                warn(3, "Unzip, store failed with code %d", rc);
                return 0;
            }
            break;
        case 1:
            if ((rc = unshrink(G)) != 0) {
                warn(3, "Unzip, unshrink failed with code %d", rc);
                return 0;
            }
            break;
        case 2:
        case 3:
        case 4:
        case 5:
            unreduce(G, method - 1);  // short output fails the count below
            break;
        case 6:
            if ((rc = explode(G)) != 0) {
                warn(3, "Unzip, explode failed with code %d", rc);
                return 0;
            }
            break;
        case 8:
            if ((rc = inflate(G)) != 0) {
                warn(3, "Unzip, inflate failed with code %d", rc);
                return 0;
            }
            break;
        default:
            warn(3, "Unzip, unknown compression method %d in %s", method, zs->zipName);
            return 0;
    }

    unsigned long written = fd >= 0 ? fdwritten : (unsigned long)bufwritten;
    if (written != ucSize) {
        warn(2, "Unzip, wrote only %ld bytes of %ld, %s", long(written), long(ucSize), name);
        return 0;
    }
    unsigned long calculated = ~G.crc32val & 0xFFFFFFFFul;
    if (calculated != crc) {
        warn(3, "Unzip, CRC mismatch, calculated 0x%lx, expected 0x%lx, %s", calculated, crc, name);
        return 0;
    }
    if (zs->flags & kZipVerbose) warn(7, "Uncompressed %s in %s", name, zs->zipName);
    return 1;
}

}  // namespace ruva

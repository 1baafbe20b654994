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

#include "bmod/unzipd/zip/decoder_state.h"
#include "bmod/unzipd/zip/zip_reader.h"
#include "common/crc32.h"
#include "common/fd_io.h"
#include "common/heap_mapping.h"
#include "common/log_levels.h"
#include "common/mapped_file.h"
#include "common/string_format.h"
#include "common/text.h"
#include "common/zip_format.h"

namespace ruva {
namespace {

// A new buffer bigger than this comes only from a hostile header: no
// library member the daemon serves is near it.
constexpr size_t kMaxUnzipBuffer = size_t(1) << 30;

constexpr int kMaxVersionNeeded = 20;  // 2.0: deflate and the older methods

struct LogSink {
    UnzipLogSink fn = nullptr;
    void* context = nullptr;
};
LogSink g_logSink;

void defaultSink(void*, int level, const char* message) {
    std::fprintf(stderr, "<%d> %s\n", level, message);
}

void sendLine(int level, const char* format, va_list ap) {
    std::string line = vformat(format, ap);
    if (g_logSink.fn)
        g_logSink.fn(g_logSink.context, level, line.c_str());
    else
        defaultSink(nullptr, level, line.c_str());
}

// The stored bytes pass through the input block unchanged.
int copyStored(UnzipGlobals& G) {
    int rc = 0;
    while (rc == 0 && G.fill()) {
        rc = G.flush(G.inptr, size_t(G.inend - G.inptr));
        G.inptr = G.inend;
    }
    return rc;
}

}  // namespace

void setUnzipLogSink(UnzipLogSink sink, void* context) {
    g_logSink.fn = sink;
    g_logSink.context = context;
}

void unzipLog(int level, const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    sendLine(level, format, ap);
    va_end(ap);
}

// ---- Unzip

// What extract learns from the local header: where the data lies and how
// it is coded. readLocalHeader has already put the central CRC and sizes in
// place of a data descriptor's zeros.
struct Unzip::Member {
    const char* name;
    ZipMethod method;
    uint16_t flags;
    unsigned long crc;
    unsigned long cSize;
    size_t ucSize;
    unsigned long offset;  // of the data in the archive
};

std::unique_ptr<Unzip> newUnzip(size_t bufsize) {
    std::unique_ptr<Unzip> uz(new (std::nothrow) Unzip());
    if (!uz) return nullptr;
    uz->unzipGlobals.reset(new (std::nothrow) UnzipGlobals());
    if (!uz->unzipGlobals) return nullptr;
    if (bufsize && !uz->allocUnzipBuffer(bufsize, 1)) return nullptr;
    return uz;
}

Unzip::Unzip() = default;

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
    sendLine(level, format, ap);
    va_end(ap);
}

void Unzip::releaseMapping() {
    if (!mmapbufstart) return;
    ::munmap(mmapbufstart, mmapbufsize);
    mmapbufstart = nullptr;
    mmapbufsize = 0;
    buf = heldBuf_;
    bufsize = heldBufSize_;
    bufwritten = 0;
    heldBuf_ = nullptr;
    heldBufSize_ = 0;
}

void Unzip::freeUnzipBuffer() {
    releaseMapping();
    if (buf) {
        if (flags & kUnzipBufMapped)
            unmapMem(buf, bufsize);
        else
            std::free(buf);
    }
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
        warn(kLogWarning, "Failed to mmap ZIP data at [%lu %lu], %s", aligned, (unsigned long)maplen,
             std::strerror(errno));
        return 0;
    }
    releaseMapping();
    heldBuf_ = buf;
    heldBufSize_ = bufsize;
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
    warn(kLogCrit, "No memory for %lu bytes", (unsigned long)size);
    return 0;
}

int Unzip::unzip(ZipStructure* zs, const CentralHeader* ch, int zipfd, int outfd) {
    if (!zs || !ch) {
        warn(kLogErr, "Invalid arguments given to unzip");
        return 0;
    }
    // A stored member held in place lives only until the next call.
    releaseMapping();
    fdwritten = 0;
    fd = outfd < 0 ? -1 : outfd;
    bool ownFd = false;
    if (zipfd < 0) {
        zipfd = zs->openZipFile();
        if (zipfd < 0) {
            warn(kLogErr, "Unzip, failed to open ZIP file '%s'", ch->fname);
            return 0;
        }
        ownFd = true;
    }
    int ok = extract(zs, ch, zipfd);
    if (ownFd) zs->closeZipFile(zipfd);
    return ok;
}

void Unzip::refuse(int level, const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    errmsg = vformat(format, ap);
    va_end(ap);
    warn(level, "%s", errmsg.c_str());
}

int Unzip::extract(ZipStructure* zs, const CentralHeader* ch, int zipfd) {
    Member m;
    if (!checkHeader(zs, ch, zipfd, m)) return 0;
    switch (placeOutput(zipfd, m)) {
        case Placed::kFailed:
            return 0;
        case Placed::kMapped:
            return 1;
        case Placed::kReady:
            break;
    }
    return decode(zs, zipfd, m) && verify(zs, m);
}

bool Unzip::checkHeader(ZipStructure* zs, const CentralHeader* ch, int zipfd, Member& m) {
    LocalHeader* lh = zs->readLocalHeader(ch, zipfd);
    if (!lh) {
        warn(kLogErr, "Unzip, failed to read LocalHeader of %s", ch->fname);
        return false;
    }
    m = Member{ch->fname,
               static_cast<ZipMethod>(lh->method),
               lh->generalFlags,
               lh->crc,
               lh->cSize,
               lh->ucSize,
               ch->localHeaderOffset + kZipLocalHeaderSize + lh->fnameLen + lh->extraLen};
    const bool ok = checkMember(zs, ch, lh, zipfd);
    zs->freeLocalHeader(lh);
    return ok;
}

int Unzip::checkMember(ZipStructure* zs, const CentralHeader* ch, const LocalHeader* lh, int zipfd) {
    const char* name = ch->fname;
    // A central entry pointing at another member's local header would serve
    // that member's bytes under its own name.
    if (!localNameMatches(zs, ch, zipfd, lh->fnameLen)) {
        refuse(kLogErr, "Unzip, local header name of %s does not match", name);
        return 0;
    }
    const int version = lh->versionNeeded[0];
    if (version > kMaxVersionNeeded) {
        refuse(kLogErr, "Unzip, version needed %d.%d, supported %d.%d, %s", version / 10, version % 10,
               kMaxVersionNeeded / 10, kMaxVersionNeeded % 10, name);
        return 0;
    }
    if (lh->generalFlags & kZipFlagEncrypted) {
        refuse(kLogErr, "Unzip, encrypted file '%s'", name);
        return 0;
    }
    // Mapping or reading past the end of the file would raise SIGBUS or
    // leave the decoders short: the data must lie inside the archive.
    const unsigned long offset = ch->localHeaderOffset + kZipLocalHeaderSize + lh->fnameLen + lh->extraLen;
    struct stat st;
    if (::fstat(zipfd, &st) != 0 || (unsigned long long)offset + lh->cSize > (unsigned long long)st.st_size) {
        refuse(kLogErr, "Unzip, data of %s beyond end of %s", name, zs->zipName);
        return 0;
    }
    if (lh->method == ZIPMETHOD_STORED && lh->cSize != lh->ucSize) {
        refuse(kLogErr, "Unzip, store failed with code %d", 1);
        return 0;
    }
    // Refused before a buffer is taken for it.
    if (lh->method > ZIPMETHOD_DEFLATED || lh->method == ZIPMETHOD_TOKENIZED) {
        refuse(kLogErr, "Unzip, unknown compression method %d in %s", int(lh->method), zs->zipName);
        return 0;
    }
    return 1;
}

bool Unzip::localNameMatches(ZipStructure* zs, const CentralHeader* ch, int zipfd, uint16_t length) {
    const size_t centralLength = ch->fnameSize - 1;
    if (length != centralLength) return false;
    std::string local(length, '\0');
    const off_t at = off_t(ch->localHeaderOffset + kZipLocalHeaderSize);
    if (preadRetry(zipfd, local.data(), length, at) != ssize_t(length)) return false;
    // The central name was folded when read; the local one is folded alike.
    if (zs->flags & kZipFoldNames) lstrlwr(local.data());
    return std::memcmp(local.data(), ch->fname, length) == 0;
}

Unzip::Placed Unzip::placeOutput(int zipfd, const Member& m) {
    if (fd >= 0) return Placed::kReady;
    // A stored member is served from a private mapping of the archive,
    // checked in place: its bytes may no longer match the CRC.
    if (m.method == ZIPMETHOD_STORED && m.ucSize > 0 && mmapUnzipBuffer(zipfd, m.offset, m.ucSize)) {
        if (!crcMatches(~crc32Update(0xFFFFFFFF, buf, m.ucSize), m)) {
            releaseMapping();
            return Placed::kFailed;
        }
        bufwritten = bufsize;
        return Placed::kMapped;
    }
    if (bufsize >= m.ucSize) {
        bufwritten = 0;
    } else if (m.ucSize > kMaxUnzipBuffer || !takeBuffer(m.ucSize, 1)) {
        warn(kLogErr, "No memory for %lu bytes buffer for file %s", (unsigned long)m.ucSize, m.name);
        return Placed::kFailed;
    }
    return Placed::kReady;
}

bool Unzip::decode(ZipStructure* zs, int zipfd, const Member& m) {
    if (::lseek(zipfd, off_t(m.offset), SEEK_SET) == off_t(-1)) {
        warn(kLogErr, "Unzip, seek failed to pos %lu in %s", m.offset, zs->zipName);
        return false;
    }
    UnzipGlobals& G = *unzipGlobals;
    G.reset(zipfd, m.cSize, m.ucSize, m.flags, int(m.method));
    G.out = DecoderOutput{};
    G.out.fd = fd;
    if (fd < 0) {
        G.out.buf = buf;
        G.out.room = bufsize;
        G.out.filled = bufwritten;
    }
    int rc = 0;
    const char* what = nullptr;  // the decoder named when it fails
    switch (m.method) {
        case ZIPMETHOD_STORED:
            rc = copyStored(G);
            what = "store";
            break;
        case ZIPMETHOD_SHRUNK:
            rc = unshrink(G);
            what = "unshrink";
            break;
        case ZIPMETHOD_REDUCED1:
        case ZIPMETHOD_REDUCED2:
        case ZIPMETHOD_REDUCED3:
        case ZIPMETHOD_REDUCED4:
            unreduce(G, int(m.method) - ZIPMETHOD_SHRUNK);  // short output fails the count in verify
            break;
        case ZIPMETHOD_IMPLODED:
            rc = explode(G);
            what = "explode";
            break;
        case ZIPMETHOD_DEFLATED:
            rc = inflate(G);
            what = "inflate";
            break;
        default:
            warn(kLogErr, "Unzip, unknown compression method %d in %s", int(m.method), zs->zipName);
            return false;
    }
    if (fd < 0) bufwritten = G.out.filled;
    fdwritten = G.out.fdWritten;
    if (G.out.writeError) warn(kLogCrit, "Unzip, disk write failed, %s", std::strerror(G.out.writeError));
    if (rc && what) {
        warn(kLogErr, "Unzip, %s failed with code %d", what, rc);
        return false;
    }
    return true;
}

bool Unzip::crcMatches(uint32_t calculated, const Member& m) {
    if (calculated == m.crc) return true;
    warn(kLogErr, "Unzip, CRC mismatch, calculated 0x%lx, expected 0x%lx, %s", (unsigned long)calculated,
         m.crc, m.name);
    return false;
}

bool Unzip::verify(ZipStructure* zs, const Member& m) {
    unsigned long written = fd >= 0 ? fdwritten : (unsigned long)bufwritten;
    if (written != m.ucSize) {
        warn(kLogCrit, "Unzip, wrote only %ld bytes of %ld, %s", long(written), long(m.ucSize), m.name);
        return false;
    }
    if (!crcMatches(~unzipGlobals->crc32val, m)) return false;
    if (zs->flags & kZipVerbose) warn(kLogDebug, "Uncompressed %s in %s", m.name, zs->zipName);
    return true;
}

}  // namespace ruva

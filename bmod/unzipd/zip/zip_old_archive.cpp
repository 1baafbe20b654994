#include "bmod/unzipd/zip/zip_old_archive.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/byte_order.h"
#include "common/fd_io.h"
#include "common/string_format.h"
#include "common/zip_format.h"

namespace ruva {

namespace {

// The local header's fields from the version needed to the name length,
// which the central header repeats after its version made by.
constexpr size_t kSharedLen = ZipLocalField::kExtraLength - ZipLocalField::kVersionNeeded;
constexpr size_t kSharedFlagsHigh = ZipLocalField::kFlags + 1 - ZipLocalField::kVersionNeeded;

// The old archive read through a 64 KiB window. Every offset and length is
// checked against the file size before it is used. A failed call stores its
// failure in the one the caller gave and returns false.
class Source {
public:
    Source(int fd, uint64_t size, const std::string& path, ZipFailure& failure)
        : fd_(fd), size_(size), path_(path), failure_(failure), win_(65536) {}

    bool read(uint64_t off, void* buf, size_t n) {
        if (off > size_ || n > size_ - off) return fail(kZipEof, 0);
        if (off >= winOff_ && off + n <= winOff_ + winLen_) {
            memcpy(buf, win_.data() + (off - winOff_), n);
            return true;
        }
        if (n > win_.size()) return fill(off, static_cast<char*>(buf), n);
        size_t want = static_cast<size_t>(std::min<uint64_t>(win_.size(), size_ - off));
        winLen_ = 0;
        if (!fill(off, win_.data(), want)) return false;
        winOff_ = off;
        winLen_ = want;
        memcpy(buf, win_.data(), n);
        return true;
    }
    bool string(uint64_t off, size_t n, std::string& s) {
        s.assign(n, '\0');
        return n == 0 || read(off, s.data(), n);
    }
    // Offset of the next signature a or b at or after from into at; size()
    // when none.
    bool find(uint64_t from, uint32_t a, uint32_t b, uint64_t& at) {
        unsigned char buf[4096];
        uint64_t pos = from;
        while (pos < size_ && size_ - pos >= 4) {
            size_t n = static_cast<size_t>(std::min<uint64_t>(sizeof buf, size_ - pos));
            if (!read(pos, buf, n)) return false;
            for (size_t i = 0; i + 4 <= n; ++i) {
                if (buf[i] != 'P' || buf[i + 1] != 'K') continue;
                uint32_t sig = L2H(&buf[i]);
                if (sig == a || sig == b) {
                    at = pos + i;
                    return true;
                }
            }
            pos += n - 3;
        }
        at = size_;
        return true;
    }
    uint64_t size() const { return size_; }

private:
    bool fail(int code, int err) {
        failure_ = ZipFailure{code, path_, err};
        return false;
    }
    bool fill(uint64_t off, char* buf, size_t n) {
        size_t got = 0;
        while (got < n) {
            ssize_t r = preadRetry(fd_, buf + got, n - got, static_cast<off_t>(off + got));
            if (r < 0) return fail(kZipRead, errno);
            if (r == 0) return fail(kZipEof, 0);
            got += static_cast<size_t>(r);
        }
        return true;
    }
    int fd_;
    uint64_t size_;
    const std::string& path_;
    ZipFailure& failure_;
    std::vector<char> win_;
    uint64_t winOff_ = 0;
    size_t winLen_ = 0;
};

void put16(unsigned char*& p, uint32_t v) {
    *p++ = static_cast<unsigned char>(v & 0xFF);
    *p++ = static_cast<unsigned char>((v >> 8) & 0xFF);
}
void put32(unsigned char*& p, uint64_t v) {
    put16(p, static_cast<uint32_t>(v & 0xFFFF));
    put16(p, static_cast<uint32_t>((v >> 16) & 0xFFFF));
}

// Reads from the front: local records, then one central header per local
// one in the same order, then the end record. Each step returns false with
// failure_ set.
class Reader {
public:
    Reader(int fd, uint64_t size, const std::string& path, bool verbose, OldArchive& out)
        : src_(fd, size, path, failure_), size_(size), path_(path), verbose_(verbose), out_(out) {}

    ZipFailure run() {
        if (size_ == 0) return {};
        if (readLocals() && readCentrals() && readEnd()) return {};
        return failure_;
    }

private:
    struct Shared {
        unsigned char bytes[kSharedLen];
    };

    void warn(std::string text, std::string detail = "") {
        out_.warnings.push_back({std::move(text), std::move(detail)});
    }
    // A structure fault: said in a warning, then the run ends.
    bool structure(const std::string& text, const std::string& detail = "") {
        warn(text, detail);
        failure_ = ZipFailure{kZipFormat, path_, 0};
        return false;
    }
    // A record boundary at the very end of the file is a missing record, not
    // a truncated one.
    bool signatureAt(uint64_t at) {
        if (at == size_) {
            memset(h_, 0, kZipSignatureSize);
            return true;
        }
        return src_.read(at, h_, kZipSignatureSize);
    }

    bool readLocals();
    bool readLocal(ArchiveEntry& e, uint64_t& end);
    bool readDescriptor(ArchiveEntry& e, uint64_t data, uint64_t& end);
    bool readCentrals();
    bool readCentral(ArchiveEntry& e, const Shared& local);
    void compareHeaders(ArchiveEntry& e, const Shared& local);
    bool readEnd();

    ZipFailure failure_;
    Source src_;
    uint64_t size_;
    const std::string& path_;
    bool verbose_;
    OldArchive& out_;
    uint64_t pos_ = 0;
    unsigned char h_[kZipCentralHeaderSize];
    std::vector<Shared> localShared_;
};

bool Reader::readLocals() {
    if (!src_.find(0, kZipLocalSignature, kZipEndSignature, pos_)) return false;
    if (pos_ >= size_) return structure("missing end signature--probably not a zip file");
    out_.preambleLen = pos_;
    if (pos_ > 0) warn(path_, " has a preamble of " + std::to_string(pos_) + " bytes");
    for (;;) {
        if (!signatureAt(pos_)) return false;
        if (!isZipSignature(h_, kZipLocalSignature)) break;
        auto e = std::make_unique<ArchiveEntry>();
        uint64_t end = 0;
        if (!readLocal(*e, end)) return false;
        e->oldOffset = pos_;
        e->recordLen = end - pos_;
        out_.entries.push_back(std::move(e));
        pos_ = end;
    }
    out_.centralStart = pos_;
    return true;
}

// One local record at pos_, its signature already in h_; end gets the offset
// after its data (and descriptor).
bool Reader::readLocal(ArchiveEntry& e, uint64_t& end) {
    if (!src_.read(pos_ + kZipSignatureSize, h_ + kZipSignatureSize, kZipLocalHeaderSize - kZipSignatureSize))
        return false;
    ZipLocalRecord h = decodeZipLocal(h_);
    e.versionNeeded = static_cast<uint16_t>(h.versionNeeded | h.hostNeeded << 8);
    e.localFlags = h.flags;
    e.generalFlags = e.localFlags;
    e.method = h.method;
    e.dosTime = h.time | uint32_t{h.date} << 16;
    e.crc = h.crc;
    e.compressedSize = h.compressedSize;
    e.size = h.size;
    uint16_t nameLen = h.nameLength;
    uint16_t extraLen = h.extraLength;
    if (!src_.string(pos_ + kZipLocalHeaderSize, nameLen, e.iname)) return false;
    if (nameLen == 0)
        return structure("zero-length name for entry #", std::to_string(out_.entries.size() + 1));
    if (!src_.string(pos_ + kZipLocalHeaderSize + nameLen, extraLen, e.localExtra)) return false;
    uint64_t data = pos_ + kZipLocalHeaderSize + nameLen + extraLen;
    if (e.localFlags & kZipFlagDescriptor) {
        if (!readDescriptor(e, data, end)) return false;
    } else {
        if (e.compressedSize > size_ - data) {
            failure_ = ZipFailure{kZipEof, path_, 0};
            return false;
        }
        end = data + e.compressedSize;
    }
    // What the central header must repeat: the descriptor's values, when
    // there is one.
    Shared shared;
    unsigned char* p = shared.bytes;
    put16(p, e.versionNeeded);
    put16(p, e.localFlags);
    put16(p, e.method);
    put32(p, e.dosTime);
    put32(p, e.crc);
    put32(p, e.compressedSize);
    put32(p, e.size);
    put16(p, nameLen);
    localShared_.push_back(shared);
    return true;
}

// The data descriptor after the data at data: its CRC and sizes replace the
// local header's.
bool Reader::readDescriptor(ArchiveEntry& e, uint64_t data, uint64_t& end) {
    unsigned char d[kZipDescriptorSize];
    uint64_t at = 0;
    if (e.compressedSize != 0) {
        at = data + e.compressedSize;
        if (at > size_ || size_ - at < kZipDescriptorSize)
            return structure("extended local header not found for ", e.iname);
        if (!src_.read(at, d, kZipDescriptorSize)) return false;
        if (!isZipSignature(d, kZipDescriptorSignature))
            return structure("extended local header not found for ", e.iname);
    } else {
        // Streamed: the descriptor is the first one that ends where its
        // compressed size says the data end.
        bool seen = false;
        for (at = data;; ++at) {
            if (!src_.find(at, kZipDescriptorSignature, kZipDescriptorSignature, at)) return false;
            if (at >= size_) break;
            seen = true;
            if (size_ - at < kZipDescriptorSize) continue;
            if (!src_.read(at, d, kZipDescriptorSize)) return false;
            if (L2H(d + ZipDescriptorField::kCompressedSize) == at - data) break;
        }
        if (at >= size_)
            return structure(seen ? "bad extended local header for " : "extended local header not found for ",
                             e.iname);
    }
    e.crc = L2H(d + ZipDescriptorField::kCrc);
    e.compressedSize = L2H(d + ZipDescriptorField::kCompressedSize);
    e.size = L2H(d + ZipDescriptorField::kSize);
    end = at + kZipDescriptorSize;
    return true;
}

bool Reader::readCentrals() {
    for (size_t i = 0; i < out_.entries.size(); ++i) {
        if (!isZipSignature(h_, kZipCentralSignature))
            return structure("missing end signature--probably not a zip file");
        if (!readCentral(*out_.entries[i], localShared_[i])) return false;
        if (!signatureAt(pos_)) return false;
    }
    return true;
}

// The central header at pos_ of entry e, its signature already in h_;
// leaves pos_ after its comment.
bool Reader::readCentral(ArchiveEntry& e, const Shared& local) {
    if (!src_.read(pos_ + kZipSignatureSize, h_ + kZipSignatureSize,
                   kZipCentralHeaderSize - kZipSignatureSize))
        return false;
    ZipCentralRecord h = decodeZipCentral(h_);
    uint16_t nameLen = h.nameLength;
    uint16_t extraLen = h.extraLength;
    uint16_t commentLen = h.commentLength;
    std::string name;
    if (!src_.string(pos_ + kZipCentralHeaderSize, nameLen, name)) return false;
    if (name != e.iname) return structure("names in local and central differ for ", e.iname);
    if (h.localHeaderOffset != e.oldOffset)
        return structure("local offset in central header incorrect for ", e.iname);
    e.versionMadeBy = h.versionMadeBy;
    compareHeaders(e, local);
    e.diskStart = h.diskStart;
    e.internalAttributes = h.internalAttributes;
    e.externalAttributes = h.externalAttributes;
    if (!src_.string(pos_ + kZipCentralHeaderSize + nameLen, extraLen, e.centralExtra)) return false;
    if (!src_.string(pos_ + kZipCentralHeaderSize + nameLen + extraLen, commentLen, e.comment)) return false;
    pos_ += kZipCentralHeaderSize + nameLen + extraLen + commentLen;
    return true;
}

// The central header's copy of the local fields, in h_ from byte 6. A
// difference is no fault (the local values win) and is told only with
// verbose; the high flag bits may differ freely.
void Reader::compareHeaders(ArchiveEntry& e, const Shared& local) {
    const unsigned char* central = h_ + ZipCentralField::kVersionNeeded;
    bool differ = false;
    for (size_t k = 0; k < kSharedLen; ++k) {
        unsigned char l = local.bytes[k];
        unsigned char c = central[k];
        if (k == kSharedFlagsHigh) {
            l &= 0x1F;
            c &= 0x1F;
        }
        if (l == c) continue;
        if (verbose_ && !differ) warn("local and central headers differ for ", e.iname);
        if (verbose_)
            warn(format(" offset %d--local = %02x, central = %02x", static_cast<int>(k), local.bytes[k],
                        central[k]));
        differ = true;
    }
    // The local values win; equal flags keep the central's high bits.
    e.generalFlags = differ ? e.localFlags : W2H(h_ + ZipCentralField::kFlags);
}

// The end record at pos_, its first four bytes already in h_.
bool Reader::readEnd() {
    if (isZipSignature(h_, kZipCentralSignature)) return structure("extraneous central header signature");
    if (!isZipSignature(h_, kZipEndSignature))
        return structure("missing end signature--probably not a zip file");
    if (!src_.read(pos_ + kZipSignatureSize, h_ + kZipSignatureSize, kZipEndRecordSize - kZipSignatureSize))
        return false;
    ZipEndRecord end = decodeZipEnd(h_);
    size_t count = out_.entries.size();
    if (end.diskNumber != 0 || end.centralDisk != 0) warn("multiple disk information ignored");
    if (end.entriesThisDisk != count || end.totalEntries != count)
        return structure("count in end of central directory incorrect");
    if (end.centralSize != pos_ - out_.centralStart)
        warn("central directory size is incorrect (made by stzip?)");
    if (end.centralOffset != out_.centralStart) return structure("central directory start is incorrect");
    uint16_t commentLen = end.commentLength;
    if (!src_.string(pos_ + kZipEndRecordSize, commentLen, out_.comment)) return false;
    if (pos_ + kZipEndRecordSize + commentLen < size_) warn("garbage at end of zip file ignored");
    return true;
}

}  // namespace

ZipFailure readOldArchive(int fd, uint64_t size, const std::string& path, bool verbose, OldArchive& out) {
    return Reader(fd, size, path, verbose, out).run();
}

}  // namespace ruva

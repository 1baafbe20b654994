#include "bmod/unzipd/zip/zip_output.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/crc32.h"
#include "common/fd_io.h"
#include "common/zip_format.h"

namespace ruva {

namespace {

constexpr size_t kOutBufSize = 16384;

void put16(std::string& s, uint32_t v) {
    s.push_back(static_cast<char>(v & 0xFF));
    s.push_back(static_cast<char>((v >> 8) & 0xFF));
}
void put32(std::string& s, uint64_t v) {
    put16(s, static_cast<uint32_t>(v & 0xFFFF));
    put16(s, static_cast<uint32_t>((v >> 16) & 0xFFFF));
}

// The run of fields both headers share, from the method to the size.
void putMethodThroughSizes(std::string& h, const ArchiveEntry& e) {
    put16(h, e.method);
    put32(h, e.dosTime);
    put32(h, e.crc);
    put32(h, e.compressedSize);
    put32(h, e.size);
}

}  // namespace

void ArchiveOutput::attach(int fd) {
    fd_ = fd;
    used_ = 0;
    pos_ = 0;
    if (!buf_) buf_.reset(new char[kOutBufSize]);
}

bool ArchiveOutput::write(const void* data, size_t n) {
    auto p = static_cast<const char*>(data);
    pos_ += n;
    while (n > 0) {
        if (used_ == kOutBufSize && !flush()) return false;
        size_t take = std::min(n, kOutBufSize - used_);
        memcpy(buf_.get() + used_, p, take);
        used_ += take;
        p += take;
        n -= take;
    }
    return true;
}

bool ArchiveOutput::flush() {
    if (used_ == 0) return true;
    if (!writeAll(fd_, buf_.get(), used_)) return false;
    used_ = 0;
    return true;
}

bool ArchiveOutput::rewrite(uint64_t at, const std::string& s) {
    return flush() && pwriteAll(fd_, s.data(), s.size(), static_cast<off_t>(at));
}

bool DeflateSink::write(const uint8_t* data, size_t n) {
    if (!out_.write(data, n)) {
        err = errno;
        return false;
    }
    written += n;
    return true;
}

ptrdiff_t FileInput::read(uint8_t* buf, size_t n) {
    ssize_t r = readRetry(fd_, buf, n);
    if (r < 0) {
        err = errno;
        return -1;
    }
    crc = crc32Update(crc, buf, static_cast<size_t>(r));
    count += static_cast<uint64_t>(r);
    return r;
}

std::string zipLocalHeaderBytes(const ArchiveEntry& e) {
    std::string h;
    put32(h, kZipLocalSignature);
    put16(h, e.versionNeeded);
    put16(h, e.localFlags);
    putMethodThroughSizes(h, e);
    put16(h, static_cast<uint32_t>(e.iname.size()));
    put16(h, static_cast<uint32_t>(e.localExtra.size()));
    h += e.iname;
    h += e.localExtra;
    return h;
}

std::string zipCentralHeaderBytes(const ArchiveEntry& e) {
    std::string h;
    put32(h, kZipCentralSignature);
    put16(h, e.versionMadeBy);
    put16(h, e.versionNeeded);
    put16(h, e.generalFlags);
    putMethodThroughSizes(h, e);
    put16(h, static_cast<uint32_t>(e.iname.size()));
    put16(h, static_cast<uint32_t>(e.centralExtra.size()));
    put16(h, static_cast<uint32_t>(e.comment.size()));
    put16(h, e.diskStart);
    put16(h, e.internalAttributes);
    put32(h, e.externalAttributes);
    put32(h, e.localHeaderOffset);
    h += e.iname;
    h += e.centralExtra;
    h += e.comment;
    return h;
}

std::string zipEndRecordBytes(uint64_t count, uint64_t centralSize, uint64_t centralStart,
                              const std::string& comment) {
    std::string end;
    put32(end, kZipEndSignature);
    put16(end, 0);  // this disk
    put16(end, 0);  // the directory's disk
    put16(end, static_cast<uint32_t>(count));
    put16(end, static_cast<uint32_t>(count));
    put32(end, centralSize);
    put32(end, centralStart);
    put16(end, static_cast<uint32_t>(comment.size()));
    end += comment;
    return end;
}

}  // namespace ruva

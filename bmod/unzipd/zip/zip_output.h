// Internal to the ZIP layer.
// What the rewrite engine writes through: the buffered archive stream with
// its positioned patch of a header already written, the compressor's two
// ends, and the byte layout of the records it writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "bmod/unzipd/zip/deflate.h"
#include "bmod/unzipd/zip/zip_old_archive.h"

namespace ruva {

// The archive stream: a 16384-byte buffer in front of the temporary file.
// tell() counts every byte handed to write, flushed or not. False with
// errno on a failed write; the stream is then not to be used further.
class ArchiveOutput {
public:
    // Starts a new stream on fd (not owned) at offset 0.
    void attach(int fd);
    uint64_t tell() const { return pos_; }
    bool write(const void* data, size_t n);
    bool write(const std::string& s) { return write(s.data(), s.size()); }
    bool flush();
    // Overwrites bytes already written (the local header's final values).
    bool rewrite(uint64_t at, const std::string& s);

private:
    int fd_ = -1;
    std::unique_ptr<char[]> buf_;
    size_t used_ = 0;
    uint64_t pos_ = 0;
};

// The compressor's output: counts what it wrote and keeps the write error.
class DeflateSink : public DeflateOutput {
public:
    explicit DeflateSink(ArchiveOutput& out) : out_(out) {}
    bool write(const uint8_t* data, size_t n) override;
    uint64_t written = 0;
    int err = 0;

private:
    ArchiveOutput& out_;
};

// The file being compressed (fd not owned): counts the CRC-32 (not yet
// inverted) and the size of what is read, and keeps the read error.
class FileInput : public DeflateInput {
public:
    explicit FileInput(int fd) : fd_(fd) {}
    ptrdiff_t read(uint8_t* buf, size_t n) override;
    uint32_t crc = 0xFFFFFFFFu;
    uint64_t count = 0;
    int err = 0;

private:
    int fd_;
};

// The records, little-endian, names and extra fields appended.
std::string zipLocalHeaderBytes(const ArchiveEntry& e);
std::string zipCentralHeaderBytes(const ArchiveEntry& e);
// The end record of a single-disk archive of count entries.
std::string zipEndRecordBytes(uint64_t count, uint64_t centralSize, uint64_t centralStart,
                              const std::string& comment);

}  // namespace ruva

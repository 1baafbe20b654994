// Internal to the ZIP layer.
// The archive a rewrite starts from: its entries in archive order, where each
// one's local record lies, and the archive comment. The reader is strict,
// as the writer must be before it copies records it does not understand:
// every central header must match its local one and the end record must
// count and place the directory right.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bmod/unzipd/zip/zip_error.h"

namespace ruva {

// One entry of the archive being written. Copied entries keep every value
// read from the old archive but the local header offset.
struct ArchiveEntry {
    uint16_t versionMadeBy = 0;
    uint16_t versionNeeded = 0;
    uint16_t generalFlags = 0;  // as written in the central header
    uint16_t method = 0;
    uint64_t dosTime = 0;  // DOS time and date
    uint64_t crc = 0;
    uint64_t compressedSize = 0;
    uint64_t size = 0;  // uncompressed
    uint16_t diskStart = 0;
    uint16_t internalAttributes = 0;
    uint16_t localFlags = 0;  // as written in the local header
    uint32_t externalAttributes = 0;
    uint64_t localHeaderOffset = 0;  // in the new archive
    std::string path;                // file-system path of a replacement; empty when none
    std::string localExtra;
    std::string centralExtra;
    std::string comment;
    std::string iname;   // the name in the archive
    bool mark = false;   // to be deleted or replaced
    bool trash = false;  // its file exists and is not older than "-t"
    // Where the local record (header through data and descriptor) lies in the
    // old archive; recordLen 0 for a new entry.
    uint64_t oldOffset = 0;
    uint64_t recordLen = 0;
    std::optional<std::string> newComment;  // a "-c" text for a replacement
};

// A warning for the run's messages, printed as "warning: <text><detail>".
// Two parts because a detail read from the archive may hold a NUL byte,
// which ends only its own part.
struct ZipWarning {
    std::string text;
    std::string detail;
};

struct OldArchive {
    std::vector<std::unique_ptr<ArchiveEntry>> entries;  // archive order
    std::string comment;
    uint64_t preambleLen = 0;          // bytes before the first record, copied as they are
    uint64_t centralStart = 0;         // offset of the central directory
    std::vector<ZipWarning> warnings;  // in order, also those before a failure
};

// Reads the archive open on fd (size bytes; path names it in texts). An
// empty file is an empty archive. Header differences are reported only with
// verbose. Failure: kZipFormat after a warning that says what is wrong,
// kZipEof when a record runs past the end, kZipRead with errno on a read
// error; the warnings gathered so far stay in out.
ZipFailure readOldArchive(int fd, uint64_t size, const std::string& path, bool verbose, OldArchive& out);

}  // namespace ruva

// The ZIP record layout, shared by the reader, the writer and the file-type
// tests: signatures, fixed record lengths, field offsets, general-flag bits
// and compression methods. All fields are little-endian.
//
//   local header (30)    signature, version needed, flags, method, time,
//                        date, crc, sizes, name and extra lengths; then the
//                        name, the extra field and the data
//   data descriptor (16) signature, crc, sizes; after the data when flag
//                        bit 3 is set (the local crc and sizes are then 0)
//   central header (46)  the local fields plus version made by, comment
//                        length, disk, attributes, local header offset
//   end record (22)      disk numbers, entry counts, directory size and
//                        offset, comment length; then the archive comment
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/byte_order.h"

namespace ruva {

inline constexpr uint32_t kZipLocalSignature = 0x04034b50;       // "PK\3\4"
inline constexpr uint32_t kZipCentralSignature = 0x02014b50;     // "PK\1\2"
inline constexpr uint32_t kZipEndSignature = 0x06054b50;         // "PK\5\6"
inline constexpr uint32_t kZipDescriptorSignature = 0x08074b50;  // "PK\7\x8"
// Only recognised, to refuse ZIP64 archives.
inline constexpr uint32_t kZip64LocatorSignature = 0x07064b50;
// The local signature as the first bytes of a file, for magic-number tables.
inline constexpr std::string_view kZipFileMagic = "PK\x03\x04";

inline constexpr size_t kZipSignatureSize = 4;
inline constexpr size_t kZipLocalHeaderSize = 30;
inline constexpr size_t kZipCentralHeaderSize = 46;
inline constexpr size_t kZipEndRecordSize = 22;
inline constexpr size_t kZipDescriptorSize = 16;
inline constexpr size_t kZip64LocatorSize = 20;

// General-purpose flag bits.
inline constexpr uint16_t kZipFlagEncrypted = 0x01;
inline constexpr uint16_t kZipFlagDescriptor = 0x08;
// Bits 1-2 of a deflated entry: the compressor's effort.
inline constexpr uint16_t kZipFlagDeflateMaximum = 0x02;
inline constexpr uint16_t kZipFlagDeflateFast = 0x04;

// A 32-bit size or offset of all ones: the value is in a ZIP64 record.
inline constexpr uint32_t kZip64Field = 0xFFFFFFFF;

enum ZipMethod : uint16_t {
    ZIPMETHOD_STORED = 0,
    ZIPMETHOD_SHRUNK = 1,
    ZIPMETHOD_REDUCED1 = 2,
    ZIPMETHOD_REDUCED2 = 3,
    ZIPMETHOD_REDUCED3 = 4,
    ZIPMETHOD_REDUCED4 = 5,
    ZIPMETHOD_IMPLODED = 6,
    ZIPMETHOD_TOKENIZED = 7,
    ZIPMETHOD_DEFLATED = 8,
    ZIPMETHOD_UNKNOWN = 255,
};

// Field offsets from the start of each record (its signature).
struct ZipLocalField {
    static constexpr size_t kVersionNeeded = 4, kFlags = 6, kMethod = 8, kTime = 10, kDate = 12,
                            kCrc = 14, kCompressedSize = 18, kSize = 22, kNameLength = 26,
                            kExtraLength = 28;
};
struct ZipCentralField {
    static constexpr size_t kVersionMadeBy = 4, kVersionNeeded = 6, kFlags = 8, kMethod = 10, kTime = 12,
                            kDate = 14, kCrc = 16, kCompressedSize = 20, kSize = 24, kNameLength = 28,
                            kExtraLength = 30, kCommentLength = 32, kDiskStart = 34,
                            kInternalAttributes = 36, kExternalAttributes = 38, kLocalHeaderOffset = 42;
};
struct ZipEndField {
    static constexpr size_t kDiskNumber = 4, kCentralDisk = 6, kEntriesThisDisk = 8, kTotalEntries = 10,
                            kCentralSize = 12, kCentralOffset = 16, kCommentLength = 20;
};
struct ZipDescriptorField {
    static constexpr size_t kCrc = 4, kCompressedSize = 8, kSize = 12;
};

// True when the 4 bytes at p are the signature.
inline bool isZipSignature(const void* p, uint32_t signature) {
    return L2H(p) == signature;
}

// The fixed part of each record, decoded. The decoders read exactly the
// record's fixed length from p and check no signature.
struct ZipLocalRecord {
    uint8_t versionNeeded, hostNeeded;  // 10 x major + minor, then the host system
    uint16_t flags, method, time, date;
    uint32_t crc, compressedSize, size;
    uint16_t nameLength, extraLength;
};
struct ZipCentralRecord {
    uint16_t versionMadeBy, versionNeeded, flags, method, time, date;
    uint32_t crc, compressedSize, size;
    uint16_t nameLength, extraLength, commentLength, diskStart, internalAttributes;
    uint32_t externalAttributes, localHeaderOffset;
};
struct ZipEndRecord {
    uint16_t diskNumber, centralDisk, entriesThisDisk, totalEntries;
    uint32_t centralSize, centralOffset;
    uint16_t commentLength;
};

inline ZipLocalRecord decodeZipLocal(const unsigned char* p) {
    using F = ZipLocalField;
    return {p[F::kVersionNeeded], p[F::kVersionNeeded + 1], W2H(p + F::kFlags), W2H(p + F::kMethod),
            W2H(p + F::kTime),    W2H(p + F::kDate),        L2H(p + F::kCrc),   L2H(p + F::kCompressedSize),
            L2H(p + F::kSize),    W2H(p + F::kNameLength),  W2H(p + F::kExtraLength)};
}

inline ZipCentralRecord decodeZipCentral(const unsigned char* p) {
    using F = ZipCentralField;
    return {W2H(p + F::kVersionMadeBy),     W2H(p + F::kVersionNeeded),      W2H(p + F::kFlags),
            W2H(p + F::kMethod),            W2H(p + F::kTime),               W2H(p + F::kDate),
            L2H(p + F::kCrc),               L2H(p + F::kCompressedSize),     L2H(p + F::kSize),
            W2H(p + F::kNameLength),        W2H(p + F::kExtraLength),        W2H(p + F::kCommentLength),
            W2H(p + F::kDiskStart),         W2H(p + F::kInternalAttributes), L2H(p + F::kExternalAttributes),
            L2H(p + F::kLocalHeaderOffset)};
}

inline ZipEndRecord decodeZipEnd(const unsigned char* p) {
    using F = ZipEndField;
    return {W2H(p + F::kDiskNumber),   W2H(p + F::kCentralDisk),   W2H(p + F::kEntriesThisDisk),
            W2H(p + F::kTotalEntries), L2H(p + F::kCentralSize),   L2H(p + F::kCentralOffset),
            W2H(p + F::kCommentLength)};
}

}  // namespace ruva

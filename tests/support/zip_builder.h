// The tests' one way to lay out a ZIP archive: local headers, central
// directory and end record, sound by default, with named overrides for the
// field a case breaks. Info-ZIP zip and python's zipfile stay what the
// cross-check tests compare against; this is for archives they cannot make.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/zip_format.h"

namespace ruva::test {

// Fields of one header written as given instead of as the member implies.
// Each changes that field only: the bytes around it stay where they were.
struct ZipHeaderOverrides {
    std::optional<uint32_t> signature{};
    std::optional<uint16_t> flags{};
    std::optional<uint16_t> method{};
    std::optional<uint32_t> crc{};
    std::optional<uint32_t> compressedSize{};
    std::optional<uint32_t> size{};
    std::optional<uint16_t> nameLength{};
    std::optional<uint16_t> extraLength{};
    // Central header only.
    std::optional<uint16_t> commentLength{};
    std::optional<uint32_t> localHeaderOffset{};
};

// One member. The defaults are what the reader tests were built on: version
// 2.0, 1980-01-01 00:00, no attributes. Fields in declaration order, so a
// case names only what it sets:
//   {.name = "a", .data = d, .method = ZIPMETHOD_DEFLATED}
// Every field has an initializer, "{}" included, so that g++ does not warn
// about the ones a designated initializer leaves out.
struct ZipMember {
    std::string name{};
    std::string data{};  // uncompressed; its CRC and size go in the headers
    // ZIPMETHOD_STORED writes data as is, ZIPMETHOD_DEFLATED raw deflate at
    // level (zlib, memLevel 8, as python's zlib); any other method stores
    // data as is unless compressed is given.
    uint16_t method = ZIPMETHOD_STORED;
    int level = 9;
    std::optional<std::string> compressed{};  // the bytes stored, instead of data compressed
    std::string comment{};
    uint16_t flags = 0;
    std::string localExtra{};
    std::string centralExtra{};
    // Sets kZipFlagDescriptor, writes 0 for the local CRC and sizes and puts a
    // descriptor with its signature after the data.
    bool descriptor = false;
    uint16_t versionNeeded = 20;
    uint16_t versionMadeBy = 20;
    uint16_t dosTime = 0;
    uint16_t dosDate = 0x21;
    uint16_t internalAttributes = 0;
    uint32_t externalAttributes = 0;
    ZipHeaderOverrides local{};
    ZipHeaderOverrides central{};
};

// The members in directory order, the archive comment, and what a case
// puts or falsifies around them.
struct ZipArchive {
    std::vector<ZipMember> members{};
    std::string comment{};
    // Bytes before the first member that no offset counts, as a stub
    // prepended to an archive without adjusting it.
    std::string stub{};
    // Bytes between the central directory and the end record.
    std::string beforeEnd{};
    // End record fields; count sets both entry counts.
    std::optional<uint32_t> endSignature{};
    std::optional<uint16_t> count{};
    std::optional<uint32_t> centralDirSize{};
    std::optional<uint32_t> centralDirOffset{};
    std::optional<uint16_t> commentLength{};
};

// Where a member landed, as file offsets (the stub included).
struct ZipPlace {
    size_t localHeader;
    size_t data;
    size_t compressedSize;
};

struct BuiltZip {
    std::string bytes;
    std::vector<ZipPlace> places;  // in member order
    size_t centralDir = 0;
    size_t endRecord = 0;
};

BuiltZip buildZip(const ZipArchive& archive);
// Builds and writes the archive; fails the calling test when it cannot write.
BuiltZip writeZip(const std::string& path, const ZipArchive& archive);

// Raw deflate (no zlib header) of data by zlib.
std::string rawDeflate(std::string_view data, int level = 9, int strategy = Z_DEFAULT_STRATEGY,
                       int memLevel = 8);
uint32_t crc32Of(std::string_view data);

}  // namespace ruva::test

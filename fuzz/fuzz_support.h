// What the fuzz targets share: the archive under test lives in a memfd,
// opened by path as /proc/self/fd/N (nothing lands in /tmp), and every
// member is extracted into memory and to /dev/null with its output bounded.
//
// Beyond the sanitizers, a run aborts when an extraction breaks a promise
// of the ZIP layer: more output than the member declares, a memory result
// whose CRC differs, memory and descriptor extraction disagreeing, or pool
// items left behind by ZipStructure::del.
//
// FUZZ_VERBOSE=1 in the environment prints every message and every
// member's results, for looking into one input.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ruva::fuzz {

// Members with a larger uncompressed size are skipped, so that a tiny input
// cannot claim seconds of output.
constexpr size_t kMaxMemberSize = size_t(1) << 20;

// Reader target: the input is a whole archive, read without pools and
// with the catalogue's shared pools.
void readArchive(const uint8_t* data, size_t size);

// Decoder targets: the input is a header of kDecoderHeaderSize bytes, then
// the compressed data, which becomes the only member of an archive:
//   byte 0     mode: bits 0-1 the variant (unreduce: factor - 1, giving
//              methods 2-5; explode: general flag bits 1 and 2), bit 2 a
//              data descriptor (general flag bit 3; the local CRC and sizes
//              are 0 and the central directory has them);
//   bytes 1-3  ucSize, little-endian, capped at kMaxMemberSize;
//   bytes 4-7  CRC-32 of the output, little-endian.
enum class Decoder { kInflate, kExplode, kUnreduce, kUnshrink };
constexpr size_t kDecoderHeaderSize = 8;
void decodeMember(Decoder decoder, const uint8_t* data, size_t size);

}  // namespace ruva::fuzz

// What the fuzz targets share. The reader's archive lives in a memfd,
// opened by path as /proc/self/fd/N (nothing lands in /tmp), and every
// member is extracted into memory and to /dev/null with its output bounded;
// a decoder target drives one decoder over the input bytes, no archive.
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
// the compressed data, which one decoder reads straight from memory, once
// into a region of exactly ucSize bytes and once to /dev/null:
//   byte 0     mode: bits 0-1 the variant (unreduce: factor - 1, giving
//              methods 2-5; explode: general flag bits 1 and 2), bit 2
//              general flag bit 3 (no decoder reads it; kept so that older
//              inputs mean what they meant);
//   bytes 1-3  ucSize, little-endian, capped at kMaxMemberSize;
//   bytes 4-7  CRC-32 of the output, little-endian.
// Both runs must stay within ucSize and agree on success (the count and the
// CRC, as Unzip judges them).
enum class Decoder { kInflate, kExplode, kUnreduce, kUnshrink };
constexpr size_t kDecoderHeaderSize = 8;
void decodeMember(Decoder decoder, const uint8_t* data, size_t size);

}  // namespace ruva::fuzz

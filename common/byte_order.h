// Fixed-width integers at any address: little-endian for ZIP records,
// big-endian for index and tree files. Loads are bytewise, so odd addresses
// are fine; the compiler folds them into single loads.
#pragma once

#include <cstdint>
#include <cstdio>

namespace ruva {

inline uint16_t W2H(const void* p) {
    auto b = static_cast<const unsigned char*>(p);
    return static_cast<uint16_t>(b[0] | b[1] << 8);
}
inline uint32_t L2H(const void* p) {
    auto b = static_cast<const unsigned char*>(p);
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

inline uint32_t getLong(const void* p) {
    auto b = static_cast<const unsigned char*>(p);
    return uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | uint32_t(b[3]);
}
inline uint16_t getWord(const void* p) {
    auto b = static_cast<const unsigned char*>(p);
    return static_cast<uint16_t>(b[0] << 8 | b[1]);
}
inline uint8_t getByte(const void* p) {
    return *static_cast<const unsigned char*>(p);
}

inline void putLong(void* p, uint32_t v) {
    auto b = static_cast<unsigned char*>(p);
    b[0] = static_cast<unsigned char>(v >> 24);
    b[1] = static_cast<unsigned char>(v >> 16);
    b[2] = static_cast<unsigned char>(v >> 8);
    b[3] = static_cast<unsigned char>(v);
}

// Big-endian to a stream; 1 when every byte was written.
int writeLong(FILE* fp, uint32_t v);
int writeWord(FILE* fp, uint16_t v);
int writeByte(FILE* fp, uint8_t v);

inline uint16_t swapWord(uint16_t v) {
    return static_cast<uint16_t>(v << 8 | v >> 8);
}
inline uint32_t swapLong(uint32_t v) {
    return v << 24 | (v & 0xff00) << 8 | (v >> 8 & 0xff00) | v >> 24;
}

}  // namespace ruva

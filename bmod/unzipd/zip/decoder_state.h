// Internal to the ZIP layer.
// The state the decoders (inflate, explode, unreduce, unshrink) share for
// one member: its compressed bytes in, a bit reader over them, the work
// areas, and the output target the caller fills in. Nothing here knows the
// archive or the extractor: a test or a fuzz target drives a decoder over a
// byte buffer with only this header.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ruva {

struct InflateTables;

// Sizes of the decoders' buffers. The input block is read up to kInBufSize
// bytes at a time, never past the member's compressed data.
constexpr size_t kWsize = 0x8000;       // sliding window (inflate, explode)
constexpr size_t kOutBufSize = 0x8000;  // unshrink's output block
constexpr size_t kInBufSize = 0x10000;
constexpr size_t kInBufSlack = 64;  // unread bytes fill() keeps in front of a read

// Unshrink's code table: 13-bit codes, prefix 0xFFFF marks a free entry.
constexpr size_t kShrinkCodes = 8192;
struct ShrinkTable {
    uint16_t prefix[kShrinkCodes];
    unsigned char suffix[kShrinkCodes];
    unsigned char stack[kShrinkCodes];  // a prefix walk's output, reversed
};

// Unreduce's window (first 16 KiB) and its 256 follower sets of up to 64.
struct ReduceArea {
    unsigned char window[0x4000];
    unsigned char followers[256][64];
};

union UnzipArea {
    unsigned char Slide[kWsize];
    ShrinkTable shrink;
    ReduceArea reduce;
};

// Where a member's output goes: every byte to fd when fd >= 0, else into
// buf[filled, room), what does not fit being dropped (the caller's count
// check then fails the member).
struct DecoderOutput {
    int fd = -1;
    unsigned char* buf = nullptr;
    size_t room = 0;
    size_t filled = 0;
    unsigned long fdWritten = 0;  // bytes written to fd
    int writeError = 0;           // errno of a failed write to fd, else 0
};

// The decoders' shared state for one member, reset by reset() before each.
//
// Input: the member's compressed bytes, read from zipfd (or copied from a
// byte buffer) in blocks. The bit reader takes them LSB-first into a 64-bit
// reservoir `bitbuf` holding `bitcnt` valid bits; bits above bitcnt read as
// zero or as the next input bytes, so peeking past the end of the data is
// harmless:
//   need(n)  tries to hold n (<= 56) bits; false when the data ends first
//            (the bits there are still valid, the rest read as zero);
//   bits(n)  the low n (<= 32) bits, without consuming them;
//   drop(n)  consumes n bits; consuming more than held sets `zipeof`, the
//            decoder's cue for "input exhausted before the end" (return 1);
//   getBits(n) need + bits + drop.
// readByte() returns the next byte, or -1 at the end of the data; it takes
// whole bytes left in the reservoir first (call it only when bitcnt is a
// multiple of 8). bytesLeft() counts compressed bytes not yet consumed:
// unread in the source, left in the input block and whole bytes in bitbuf.
//
// Output: flush(data, n) hands a block on: it updates crc32val, then writes
// to out.fd or appends to out.buf. Never more than ucsize bytes in all
// leave: a block passing ucsize is cut there and flush returns 1, as it
// does when a write fails (its errno is kept in out.writeError for the
// caller to report); 0 otherwise. `written` counts the bytes accepted.
//
// `area` is zeroed by reset() for unshrink, unreduce and explode (methods
// 1-6), so that references before the start of a member's output read zeros.
struct UnzipGlobals {
    DecoderOutput out;
    int zipfd = -1;
    const unsigned char* source = nullptr;  // the bytes to read when not from zipfd
    unsigned long memberCompressedSize = 0;
    unsigned long csize = 0;         // compressed bytes still unread in the source
    unsigned long ucsize = 0;        // the member's uncompressed size
    uint16_t generalFlags = 0;       // local header; explode reads bits 1, 2
    unsigned long written = 0;       // bytes passed on by flush
    uint32_t crc32val = 0xFFFFFFFF;  // running CRC-32, not yet complemented
    bool zipeof = false;             // bits were consumed past the data's end

    const unsigned char* inptr = nullptr;  // next unread byte of inbuf
    const unsigned char* inend = nullptr;  // end of the bytes read into inbuf
    uint64_t bitbuf = 0;
    unsigned bitcnt = 0;

    InflateTables* inflateTables = nullptr;  // inflate's tables and window, kept
    unsigned char Slen[256];                 // unreduce's follower-set lengths
    unsigned char outbuf[kOutBufSize];
    UnzipArea area;
    unsigned char inbuf[kInBufSlack + kInBufSize];

    UnzipGlobals() = default;
    ~UnzipGlobals();
    UnzipGlobals(const UnzipGlobals&) = delete;
    UnzipGlobals& operator=(const UnzipGlobals&) = delete;

    // Starts a member read from zipfd, positioned at its data; method
    // decides whether `area` is zeroed (1-6). `out` is left to the caller.
    void reset(int zipfd, unsigned long compressedSize, unsigned long ucSize, uint16_t generalFlags,
               int method);
    // The same over compressedSize bytes at data, which must outlive the
    // decoding.
    void reset(const unsigned char* data, unsigned long compressedSize, unsigned long ucSize,
               uint16_t generalFlags, int method);

    // Reads the next block into inbuf behind the unread bytes (if there are
    // no more than kInBufSlack of them); false when no byte is left (a read
    // error ends the data too).
    bool fill();

    bool need(unsigned n) {
        while (bitcnt < n) {
            if (inptr == inend && !fill()) return false;
            bitbuf |= uint64_t(*inptr++) << bitcnt;
            bitcnt += 8;
        }
        return true;
    }
    uint32_t bits(unsigned n) const { return uint32_t(bitbuf & ((uint64_t(1) << n) - 1)); }
    void drop(unsigned n) {
        if (n > bitcnt) {
            zipeof = true;
            bitbuf = 0;
            bitcnt = 0;
            return;
        }
        bitbuf >>= n;
        bitcnt -= n;
    }
    uint32_t getBits(unsigned n) {
        need(n);
        uint32_t v = bits(n);
        drop(n);
        return v;
    }
    int readByte() {
        if (bitcnt >= 8) {
            int b = int(bitbuf & 0xFF);
            bitbuf >>= 8;
            bitcnt -= 8;
            return b;
        }
        if (inptr == inend && !fill()) return -1;
        return *inptr++;
    }
    unsigned long bytesLeft() const { return csize + (unsigned long)(inend - inptr) + bitcnt / 8; }

    int flush(const unsigned char* data, size_t n);
};

// The decoders: 0 on success, else 1 invalid or truncated data or an output
// failure, 2 invalid block type or over-subscribed code, 3 out of memory,
// 4 invalid imploding tree, 5 compressed size mismatch after exploding.
int inflate(UnzipGlobals& G);
int explode(UnzipGlobals& G);
int unreduce(UnzipGlobals& G, int factor);  // factor 1-4 (methods 2-5)
int unshrink(UnzipGlobals& G);

}  // namespace ruva

// Extraction of one library member to a descriptor or into memory, and the
// state the decoders (inflate, explode, unreduce, unshrink) share.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace ruva {

class ZipStructure;
struct CentralHeader;
struct LocalHeader;
class Unzip;
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

// The decoders' shared state for one member, reset by reset() before each.
//
// Input: the member's compressed bytes, read from zipfd in blocks. The bit
// reader takes them LSB-first into a 64-bit reservoir `bitbuf` holding
// `bitcnt` valid bits; bits above bitcnt read as zero or as the next input
// bytes, so peeking past the end of the data is harmless:
//   need(n)  tries to hold n (<= 56) bits; false when the data ends first
//            (the bits there are still valid, the rest read as zero);
//   bits(n)  the low n (<= 32) bits, without consuming them;
//   drop(n)  consumes n bits; consuming more than held sets `zipeof`, the
//            decoder's cue for "input exhausted before the end" (return 1);
//   getBits(n) need + bits + drop.
// readByte() returns the next byte, or -1 at the end of the data; it takes
// whole bytes left in the reservoir first (call it only when bitcnt is a
// multiple of 8). bytesLeft() counts compressed bytes not yet consumed:
// unread in the file, left in the input block and whole bytes in bitbuf.
//
// Output: flush(data, n) hands a block on: it updates crc32val, then writes
// to the Unzip's descriptor or appends to its memory buffer. Never more than
// ucsize bytes in all leave: a block passing ucsize is cut there and flush
// returns 1, as it does when a write fails ("Unzip, disk write failed" is
// logged); 0 otherwise. `written` counts the bytes accepted so far.
//
// `area` is zeroed by reset() for unshrink, unreduce and explode (methods
// 1-6), so that references before the start of a member's output read zeros.
struct UnzipGlobals {
    Unzip* uz = nullptr;
    int zipfd = -1;
    unsigned long cSize = 0;         // the member's compressed size
    unsigned long csize = 0;         // compressed bytes still unread in zipfd
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

    // Starts a member: zipfd is positioned at its data; method decides
    // whether `area` is zeroed (1-6).
    void reset(int zipfd, unsigned long cSize, unsigned long ucSize, uint16_t generalFlags, int method);

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

// The decoders: 0 on success, else the code logged by unzip (1 invalid or
// truncated data or an output failure, 2 invalid block type or
// over-subscribed code, 3 out of memory, 4 invalid imploding tree, 5
// compressed size mismatch after exploding).
int inflate(UnzipGlobals& G);
int explode(UnzipGlobals& G);
int unreduce(UnzipGlobals& G, int factor);  // factor 1-4 (methods 2-5)
int unshrink(UnzipGlobals& G);

// Sink of Unzip::warn until the daemon log takes its place: level (2
// critical ... 7 debug) and the formatted line. Null restores the default,
// standard error.
using UnzipLogSink = void (*)(void* context, int level, const char* message);
void setUnzipLogSink(UnzipLogSink sink, void* context);

// Unzip::flags bit 0: the buffer is an anonymous mapping (mapMem), else
// malloc'd. The buffer is "ordinary memory" either way, unlike mmapbufstart.
constexpr uint16_t kUnzipBufMapped = 0x01;

// Extraction of members, one at a time; reusable for any number of them.
// After a successful extraction into memory the text is buf[0, bufwritten)
// (not NUL-ended), valid until the next unzip, allocUnzipBuffer,
// freeUnzipBuffer or destruction.
class Unzip {
public:
    ~Unzip();  // frees the buffer, the blocks and the fixed tables
    Unzip(const Unzip&) = delete;
    Unzip& operator=(const Unzip&) = delete;

    // errmsg, or "" when none; setError(nullptr) clears it.
    const char* getError() const { return errmsg.c_str(); }
    void setError(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // Unmaps or frees the buffer; size and fill become 0.
    void freeUnzipBuffer();
    // Replaces the buffer by a private read/write mapping of length bytes of
    // fd at start (buf points at start within the page-aligned mapping).
    // 1, or 0 with a level 4 message.
    int mmapUnzipBuffer(int fd, unsigned long start, size_t length);
    // Replaces the buffer by size bytes: mapped bit 0 an anonymous mapping
    // (rounded up to whole pages), else malloc. Size 0 only empties it.
    // 1, or 0 with "No memory for %lu bytes" (level 2).
    int allocUnzipBuffer(size_t size, int mapped);
    // Extracts member ch of zs to outfd, or into buf when outfd < 0. zipfd
    // is an open descriptor of the archive, or -1 to open it for the call.
    // 1 done, 0 failed (logged with the member name).
    int unzip(ZipStructure* zs, const CentralHeader* ch, int zipfd, int outfd);
    // What unzip refuses before it writes a byte: version needed above 2.0,
    // encryption, a method other than 0-6 and 8, a stored member whose sizes
    // differ, data past the end of zipfd's file. 1 when none holds; else 0
    // with the reason logged and kept as the error text.
    int checkMember(ZipStructure* zs, const CentralHeader* ch, const LocalHeader* lh, int zipfd);
    void warn(int level, const char* format, ...) __attribute__((format(printf, 3, 4)));

    int fd = -1;  // output of the current extraction, -1 = memory
    uint16_t flags = 0;
    unsigned char* mmapbufstart = nullptr;  // mapping of a stored member held in place
    size_t mmapbufsize = 0;
    unsigned char* buf = nullptr;
    size_t bufsize = 0;
    size_t bufwritten = 0;
    unsigned long fdwritten = 0;
    std::string errmsg;
    UnzipGlobals unzipGlobals;

private:
    friend std::unique_ptr<Unzip> newUnzip(size_t bufsize);
    Unzip() = default;
    bool takeBuffer(size_t size, int mapped);
    void refuse(int level, const char* format, ...) __attribute__((format(printf, 3, 4)));
    int extract(ZipStructure* zs, const CentralHeader* ch, int zipfd);
};

// A new Unzip; with a non-zero bufsize it starts with a mapped buffer of
// that size. Null when memory runs out.
std::unique_ptr<Unzip> newUnzip(size_t bufsize);

}  // namespace ruva

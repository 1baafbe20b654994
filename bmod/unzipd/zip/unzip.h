// Extraction of one library member to a descriptor or into memory.
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
struct UnzipGlobals;

// Sink of Unzip::warn until the daemon log takes its place: level (2
// critical ... 7 debug) and the formatted line. Null restores the default,
// standard error.
using UnzipLogSink = void (*)(void* context, int level, const char* message);
void setUnzipLogSink(UnzipLogSink sink, void* context);
// Formats one line and hands it to that sink; what Unzip::warn does, for
// the ZIP layer's code that holds no Unzip.
void unzipLog(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

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
    // Shows a private read/write mapping of length bytes of fd at start in
    // place of the buffer (buf points at start within the page-aligned
    // mapping) until the next unzip; the buffer is set aside meanwhile, not
    // freed. 1, or 0 with a level 4 message.
    int mmapUnzipBuffer(int fd, unsigned long start, size_t length);
    // Replaces the buffer by size bytes: mapped bit 0 an anonymous mapping
    // (rounded up to whole pages), else malloc. Size 0 only empties it.
    // 1, or 0 with "No memory for %lu bytes" (level 2).
    int allocUnzipBuffer(size_t size, int mapped);
    // Extracts member ch of zs to outfd, or into buf when outfd < 0. zipfd
    // is an open descriptor of the archive, or -1 to open it for the call.
    // 1 done, 0 failed (logged with the member name).
    int unzip(ZipStructure* zs, const CentralHeader* ch, int zipfd, int outfd);
    // What unzip refuses before it writes a byte: a local header naming
    // another member, version needed above 2.0,
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
    std::unique_ptr<UnzipGlobals> unzipGlobals;  // the decoders' state, kept between members

private:
    struct Member;
    enum class Placed { kFailed, kReady, kMapped };

    friend std::unique_ptr<Unzip> newUnzip(size_t bufsize);
    Unzip();
    bool takeBuffer(size_t size, int mapped);
    // Unmaps a stored member shown in place and brings the buffer back.
    void releaseMapping();
    // Logs the reason and keeps it as the error text.
    void refuse(int level, const char* format, ...) __attribute__((format(printf, 3, 4)));
    // The steps of one extraction; each false (or kFailed) has logged why.
    int extract(ZipStructure* zs, const CentralHeader* ch, int zipfd);
    bool checkHeader(ZipStructure* zs, const CentralHeader* ch, int zipfd, Member& m);
    // The local header's name equals the central one, byte for byte.
    bool localNameMatches(ZipStructure* zs, const CentralHeader* ch, int zipfd, uint16_t length);
    // Memory output only: a stored member mapped in place is done.
    Placed placeOutput(int zipfd, const Member& m);
    bool decode(ZipStructure* zs, int zipfd, const Member& m);
    bool verify(ZipStructure* zs, const Member& m);
    bool crcMatches(uint32_t calculated, const Member& m);

    // The buffer set aside while a mapping is shown: a deflated member after
    // a stored one decodes into it instead of a fresh mapping.
    unsigned char* heldBuf_ = nullptr;
    size_t heldBufSize_ = 0;
};

// A new Unzip; with a non-zero bufsize it starts with a mapped buffer of
// that size. Null when memory runs out.
std::unique_ptr<Unzip> newUnzip(size_t bufsize);

}  // namespace ruva

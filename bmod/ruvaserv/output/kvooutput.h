// The output channel of the generated list pages: one writer says once
// which buffer of a request it fills, then only formats and writes. The
// channel owns no buffer; the request object does and frees them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "bmod/ruvaserv/cgi/checked_format.h"

namespace ruva {

class CgiHandler;

enum KvoOutMode {
    KVO_OUT_INTERNAL = 0,  // the request's document buffer (docBuf, docSize, docbufSize)
    KVO_OUT_EXTERNAL = 1,  // the request's output buffer (dstBuf, dstOffs, dstbufSize)
    KVO_OUT_STDOUT = 2,    // the process's standard output; no buffer is touched
};

// kvoOpenOutput's results: 0 is success here, unlike most calls of the tree.
inline constexpr int kKvoOpenOk = 0;
inline constexpr int kKvoOpenFailed = 1;

class KvoOutput {
public:
    explicit KvoOutput(std::uint16_t outFlags) : flags(outFlags) {}
    KvoOutput(const KvoOutput&) = delete;
    KvoOutput& operator=(const KvoOutput&) = delete;
    ~KvoOutput() = default;

    // Binds the request (not owned; null: reads no fields, writes go
    // nowhere) and the mode. Returns 0. Call before any write.
    int kvoSetOutput(CgiHandler* request, KvoOutMode outMode);
    // Internal mode: a new document buffer of size bytes (plus the request's
    // margin), docSize 0. Other modes: a new output buffer of size bytes.
    // kKvoOpenOk, or kKvoOpenFailed with message 234 (document) or 230
    // (output) in the request's error text.
    [[nodiscard]] int kvoOpenOutput(std::size_t size);
    // Does nothing; returns 0.
    int kvoCloseOutput();

    // Formats (no length limit) and writes as kvoWrite does. Outside text
    // goes in only as an argument of a program format.
    template <class... Args>
    void kvoPrintf(FormatLiteral format, const Args&... args) {
        kvoWrite(formatChecked(format, args...));
    }
    template <class... Args>
    void kvoPrintf(const TableFormat& format, const Args&... args) {
        kvoWrite(formatChecked(format, args...));
    }
    // Appends text verbatim to the mode's target, growing the buffer first
    // when it is short. Never reports failure: a text the request refuses is
    // lost, and a failed growth leaves message 232 (document) or 231
    // (output) in the request's error text.
    void kvoWrite(std::string_view text);
    // Internal mode: "qzl:/kivo?", which post-processing turns into the
    // front end's address; other modes: the request's own prefix
    // (dstWriteKvoURL).
    void kvoPrintURL();

    KvoOutMode mode = KVO_OUT_INTERNAL;
    std::uint16_t flags = 0;  // kept for the caller; no operation reads it
    CgiHandler* cg = nullptr;
};

// A channel in internal mode without a request; null when memory is short.
std::unique_ptr<KvoOutput> newKvoOutput(std::uint16_t flags);

}  // namespace ruva

// The deflate compressor of the archive writer: raw RFC 1951 data for one
// entry at a time.
//
// The rewrite engine owns one Deflater for the process and, for every file
// it compresses, calls in this order
//   bi_init(output); ct_init(&attribute, &method); lm_init(level, &flags, input);
//   deflate(); lm_free();
// The data follow the entry's local header on the engine's archive stream;
// the engine seeks back afterwards to write the final CRC and sizes.
//
// The choices left open by the format are zlib's (window 32 KiB, hash of 15
// bits, levels 1-9 with zlib's tuning), so that small inputs compress to the
// same bytes as zlib's raw deflate. Where this compressor differs: blocks hold
// up to 32767 symbols; from level 3 on a block may end early at every 4096th
// symbol when it compresses well; and a file that does not shrink and fits in
// one block is written raw, with the entry's method turned to 0 (stored).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "bmod/unzipd/zip/zip_error.h"

namespace ruva {

// Where the bytes to compress come from: for files, the engine's reader,
// which also counts the CRC-32 and the size.
class DeflateInput {
public:
    virtual ~DeflateInput() = default;
    // Reads up to n bytes into buf; returns the count, 0 at the end of the
    // input, or -1 on a read error.
    virtual ptrdiff_t read(uint8_t* buf, size_t n) = 0;
};

// Where the compressed bytes go: the archive stream. Writes come in pieces
// of 1024 bytes (the last one of a file shorter).
class DeflateOutput {
public:
    virtual ~DeflateOutput() = default;
    // Appends n bytes; false on a write error.
    virtual bool write(const uint8_t* data, size_t n) = 0;
};

class Deflater {
public:
    // Error codes, as the engine reports them.
    static constexpr int kInternalError = kZipLogic;  // "bad pack level", "write error on zip file"
    static constexpr int kReadError = kZipRead;       // the input returned -1; the engine knows why

    // Internal attribute values written through ct_init's attribute pointer.
    static constexpr uint16_t kBinary = 0;
    static constexpr uint16_t kText = 1;

    // Allocates every buffer (about 300 KB) once; compressing allocates nothing.
    Deflater();
    ~Deflater();
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    // Starts the bit writer on the archive stream, which must outlive deflate().
    // Clears the error of the previous file.
    void bi_init(DeflateOutput* output);

    // Remembers where to write the text/binary judgement (kText or kBinary,
    // from the first block's literals) and the final method (8, or 0 when the
    // data were stored raw after all); starts a block. Both pointers must stay
    // valid until deflate() returns.
    void ct_init(uint16_t* attribute, uint16_t* method);

    // Loads the level's tuning, adds general flag 4 at level 1 and flag 2 at
    // level 9 to *flags, and reads the first input (up to 65536 bytes, then
    // until 262 bytes are ahead or the input ends). Returns 0, kInternalError
    // for a level outside 1..9 ("bad pack level") or kReadError.
    int lm_init(int level, uint16_t* flags, DeflateInput* input);

    // Compresses the rest of the input. Returns the number of bytes written
    // to the output, or -1 with errorCode() and errorText() set.
    int64_t deflate();

    // Nothing to release: the buffers live as long as the object.
    void lm_free() {}

    // Whether a file may be written raw without a block header (the engine
    // then rewrites the local header as stored). The engine's archive stream
    // always seeks.
    bool seekable() const { return true; }

    int errorCode() const;
    const char* errorText() const;

private:
    struct State;
    std::unique_ptr<State> s_;
};

}  // namespace ruva

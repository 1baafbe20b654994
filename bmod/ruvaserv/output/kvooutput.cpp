#include "bmod/ruvaserv/output/kvooutput.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <new>

#include "bmod/ruvaserv/cgi/cgihandler.h"

namespace ruva {

namespace {

// The output buffer grows when fewer than this many bytes would remain, and
// then by kDstGrowth past the need, so that a run of small writes does not
// remap it each time.
constexpr size_t kDstMinFree = 1024;
constexpr size_t kDstGrowth = 0x8000;

// Sums that would wrap count as a need no mapping can hold.
size_t addCapped(size_t a, size_t b) {
    return a > SIZE_MAX - b ? SIZE_MAX : a + b;
}

// Doubling keeps a page of 20,000 rows from being copied once per row; the
// slack past the text is what post-processing inserts into.
void growDocFor(CgiHandler& cg, size_t length) {
    const size_t needed = addCapped(addCapped(cg.docSize, length), 1);
    if (needed <= cg.docbufSize) return;
    const size_t doubled = cg.docbufSize > SIZE_MAX / 2 ? SIZE_MAX : cg.docbufSize * 2;
    (void)cg.reallocDocBuf(std::max(doubled, addCapped(needed, kDocBufSlack)));
}

void writeDst(CgiHandler& cg, std::string_view text) {
    const size_t filled = addCapped(cg.dstOffs, text.size());
    // A failed growth (message 231) keeps the old buffer; the append still
    // takes the text if it fits, and in the post-processing pass grows itself.
    if (addCapped(filled, kDstMinFree) >= cg.dstbufSize) (void)cg.reallocDstBuf(addCapped(filled, kDstGrowth));
    (void)cg.dstWriteBuf(text);
}

}  // namespace

std::unique_ptr<KvoOutput> newKvoOutput(std::uint16_t flags) {
    return std::unique_ptr<KvoOutput>(new (std::nothrow) KvoOutput(flags));
}

int KvoOutput::kvoSetOutput(CgiHandler* request, KvoOutMode outMode) {
    cg = request;
    mode = outMode;
    return 0;
}

int KvoOutput::kvoOpenOutput(std::size_t size) {
    if (!cg) return kKvoOpenFailed;
    if (mode == KVO_OUT_INTERNAL) {
        cg->freeDocBuf();
        if (!cg->allocDocBuf(size)) return kKvoOpenFailed;
        // allocDocBuf counts the n bytes as used; the page starts empty.
        cg->docSize = 0;
        return kKvoOpenOk;
    }
    cg->freeDstBuf();
    return cg->allocDstBuf(size) ? kKvoOpenOk : kKvoOpenFailed;
}

int KvoOutput::kvoCloseOutput() {
    return 0;
}

void KvoOutput::kvoWrite(std::string_view text) {
    switch (mode) {
    case KVO_OUT_STDOUT:
        // fwrite, not "%s": a NUL inside the text must not end it.
        if (!text.empty()) (void)std::fwrite(text.data(), 1, text.size(), stdout);
        return;
    case KVO_OUT_INTERNAL:
        if (!cg) return;
        growDocFor(*cg, text.size());
        (void)cg->docWriteBuf(text);
        return;
    case KVO_OUT_EXTERNAL:
        if (cg) writeDst(*cg, text);
        return;
    }
}

void KvoOutput::kvoPrintURL() {
    if (!cg) return;
    // Post-processing replaces this marker by the front end's address.
    if (mode == KVO_OUT_INTERNAL)
        kvoWrite("qzl:/kivo?");
    else
        (void)cg->dstWriteKvoURL();
}

}  // namespace ruva

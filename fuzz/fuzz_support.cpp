#include "fuzz/fuzz_support.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "bmod/unzipd/zip/decoder_state.h"
#include "bmod/unzipd/zip/unzip.h"
#include "bmod/unzipd/zip/zip_pool.h"
#include "bmod/unzipd/zip/zip_reader.h"
#include "common/crc32.h"
#include "common/patterns.h"
#include "common/zip_format.h"

namespace ruva::fuzz {
namespace {

// Bounds on one input's work: an archive of many headers pointing at the
// same deflate bomb must not add up to a timeout.
constexpr size_t kTotalOutputBudget = size_t(8) << 20;
constexpr unsigned kMaxMembers = 512;
constexpr unsigned kMaxLookups = 16;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "fuzz: %s\n", what);
    std::abort();
}

void check(bool ok, const char* what) {
    if (!ok) fail(what);
}

struct Env {
    int memfd = -1;
    int devnull = -1;
    char path[32] = {};
    std::unique_ptr<ZipPool> pool;
    std::unique_ptr<Unzip> unzip;
    std::unique_ptr<UnzipGlobals> globals;  // the decoder targets' state, kept as Unzip keeps it
    bool verbose = false;
};

void logSink(void* context, int level, const char* message) {
    if (static_cast<const Env*>(context)->verbose) std::fprintf(stderr, "<%d> %s\n", level, message);
}

void setUp(Env& env) {
    const char* v = std::getenv("FUZZ_VERBOSE");
    env.verbose = v && *v && std::strcmp(v, "0") != 0;
    env.memfd = ::memfd_create("fuzz-archive", MFD_CLOEXEC);
    check(env.memfd >= 0, "memfd_create failed");
    std::snprintf(env.path, sizeof env.path, "/proc/self/fd/%d", env.memfd);
    env.devnull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    check(env.devnull >= 0, "cannot open /dev/null");
    // Small shared pools; more heaps are added when an archive needs them.
    env.pool = newZipPool(sizeof(ZipStructure), sizeof(CentralHeader), 4, 4096, 1 << 20);
    check(env.pool != nullptr, "newZipPool failed");
    env.unzip = newUnzip(0);
    check(env.unzip != nullptr, "newUnzip failed");
    env.globals = std::make_unique<UnzipGlobals>();
    setUnzipLogSink(logSink, &env);
}

Env& env() {
    static Env e;
    static const bool ready = (setUp(e), true);
    (void)ready;
    return e;
}

// The reader's messages, formatted as the log would, so that a format that
// does not fit its arguments shows under the sanitizers.
void warn(void*, int level, const char* format, ...) {
    char line[1024];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(line, sizeof line, format, ap);
    va_end(ap);
    if (env().verbose) std::fprintf(stderr, "<%d> %s\n", level, line);
}

void writeArchive(const uint8_t* data, size_t size) {
    Env& e = env();
    check(::ftruncate(e.memfd, 0) == 0, "ftruncate failed");
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::pwrite(e.memfd, data + done, size - done, off_t(done));
        if (n < 0 && errno == EINTR) continue;
        check(n > 0, "pwrite to the memfd failed");
        done += size_t(n);
    }
}

void lookUpNames(ZipStructure* zs) {
    const bool folded = zs->flags & kZipFoldNames;
    unsigned n = 0;
    for (CentralHeader* ch = zs->getFirstCentralHeader(); ch && n < kMaxLookups; ch = ch->next, ++n) {
        CentralHeader* found = zs->findCentralHeader(ch->fname, nullptr);
        if (isSearchPattern(ch->fname)) continue;
        check(found &&
                  (folded ? strcasecmp(found->fname, ch->fname) : std::strcmp(found->fname, ch->fname)) == 0,
              "a member is not found by its own name");
    }
    for (CentralHeader* ch = zs->findCentralHeader("*", nullptr); ch && n < 2 * kMaxLookups; ++n)
        ch = zs->findCentralHeader("*", ch);
}

// Every member within the bounds, into memory and to /dev/null. One Unzip
// serves every input, as one serves a whole session in the daemon (and a
// fresh one costs more than most inputs); its buffer goes at the end.
// The first member's archive is opened by unzip itself, the others are read
// through zipfd.
void extractAll(ZipStructure* zs, int zipfd) {
    Env& e = env();
    Unzip* uz = e.unzip.get();
    size_t budget = kTotalOutputBudget;
    unsigned n = 0;
    for (CentralHeader* ch = zs->getFirstCentralHeader(); ch && n < kMaxMembers; ch = ch->next, ++n) {
        LocalHeader* lh = zs->readLocalHeader(ch, zipfd);
        if (!lh) {
            check(uz->unzip(zs, ch, zipfd, -1) == 0, "unzip without a local header succeeded");
            continue;
        }
        // With a data descriptor these are already the central values.
        const size_t ucSize = lh->ucSize;
        const unsigned long cSize = std::min<unsigned long>(lh->cSize, zs->fileSize);
        const unsigned method = lh->method;
        const uint32_t crc = uint32_t(lh->crc);
        zs->freeLocalHeader(lh);
        if (ucSize > kMaxMemberSize || ucSize + cSize > budget) {
            if (e.verbose) std::fprintf(stderr, "member %s: skipped, ucSize %zu\n", ch->fname, ucSize);
            continue;
        }
        budget -= ucSize + cSize;

        int inMemory = uz->unzip(zs, ch, n == 0 ? -1 : zipfd, -1);
        if (inMemory) {
            check(uz->bufwritten == ucSize, "memory output differs from ucSize");
            check((~crc32Update(0xFFFFFFFF, uz->buf, uz->bufwritten)) == crc,
                  "memory output differs from its CRC");
        }
        int toNull = uz->unzip(zs, ch, zipfd, e.devnull);
        check(uz->fdwritten <= ucSize, "more output to the descriptor than ucSize");
        if (toNull) check(uz->fdwritten == ucSize, "descriptor output differs from ucSize");
        check(inMemory == toNull, "memory and descriptor extraction disagree");
        if (e.verbose)
            std::fprintf(stderr, "member %s: method %u, ucSize %zu, memory %d, descriptor %d\n", ch->fname,
                         method, ucSize, inMemory, toNull);
    }
    // A stored member's mapping must not outlive the archive's bytes.
    uz->freeUnzipBuffer();
}

void checkPoolEmpty(const ZipPool& pool) {
    check(pool.zipStructurePool->usedItems == 0, "ZipStructure left in its pool");
    check(pool.centralHeaderPool->usedItems == 0, "CentralHeader left in its pool");
    check(pool.namePool->allocSize == 0, "name pool bytes not given back");
}

uint32_t get32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

void readArchive(const uint8_t* data, size_t size) {
    Env& e = env();
    writeArchive(data, size);

    // The malloc path, where the address sanitizer watches every text.
    if (ZipStructure* zs = newZipStructure(nullptr, e.path, kZipVerbose, nullptr, warn)) {
        lookUpNames(zs);
        extractAll(zs, e.memfd);
        zs->del();
    }
    // The catalogue's pools: 383-character texts at most, folded names, and
    // every item given back.
    if (ZipStructure* zs = newZipStructure(e.pool.get(), e.path, kZipFoldNames, nullptr, warn)) {
        lookUpNames(zs);
        zs->del();
    }
    checkPoolEmpty(*e.pool);
}

void decodeMember(Decoder decoder, const uint8_t* data, size_t size) {
    if (size < kDecoderHeaderSize) return;
    const unsigned mode = data[0];
    const unsigned variant = mode & 3;
    const uint32_t ucSize = std::min<uint32_t>(
        uint32_t(data[1]) | uint32_t(data[2]) << 8 | uint32_t(data[3]) << 16, kMaxMemberSize);
    const uint32_t crc = get32(data + 4);
    const uint8_t* payload = data + kDecoderHeaderSize;
    const uint32_t cSize = uint32_t(size - kDecoderHeaderSize);

    int method = ZIPMETHOD_DEFLATED;
    uint16_t flags = mode & 4 ? kZipFlagDescriptor : 0;
    switch (decoder) {
        case Decoder::kInflate:
            break;
        case Decoder::kExplode:
            method = ZIPMETHOD_IMPLODED;
            flags = uint16_t(flags | variant << 1);
            break;
        case Decoder::kUnreduce:
            method = ZIPMETHOD_REDUCED1 + int(variant);
            break;
        case Decoder::kUnshrink:
            method = ZIPMETHOD_SHRUNK;
            break;
    }
    auto run = [&](UnzipGlobals& G) {
        switch (decoder) {
            case Decoder::kInflate:
                return inflate(G);
            case Decoder::kExplode:
                return explode(G);
            case Decoder::kUnreduce:
                return unreduce(G, int(variant) + 1);
            case Decoder::kUnshrink:
                return unshrink(G);
        }
        return -1;
    };
    // What Unzip would call success: unreduce's code is not looked at, the
    // count and the CRC are.
    auto succeeded = [&](const UnzipGlobals& G, int rc) {
        return (decoder == Decoder::kUnreduce || rc == 0) && G.written == ucSize && ~G.crc32val == crc;
    };

    // Into a region of exactly ucSize bytes (inflate decodes straight into
    // it), then to /dev/null through the window and flush.
    Env& e = env();
    UnzipGlobals& G = *e.globals;
    std::vector<uint8_t> region(ucSize);
    G.reset(payload, cSize, ucSize, flags, method);
    G.out = DecoderOutput{};
    G.out.buf = region.data();
    G.out.room = region.size();
    const int memoryRc = run(G);
    check(G.written <= ucSize && G.out.filled == G.written, "memory output differs from the count");
    check(~crc32Update(0xFFFFFFFF, region.data(), G.out.filled) == ~G.crc32val,
          "memory output differs from its running CRC");
    const bool inMemory = succeeded(G, memoryRc);

    G.reset(payload, cSize, ucSize, flags, method);
    G.out = DecoderOutput{};
    G.out.fd = e.devnull;
    const int descriptorRc = run(G);
    check(G.written <= ucSize && G.out.fdWritten == G.written, "descriptor output differs from the count");
    check(inMemory == succeeded(G, descriptorRc), "memory and descriptor decoding disagree");
    if (e.verbose)
        std::fprintf(stderr, "method %d, ucSize %u: memory %d, descriptor %d, %s\n", method, ucSize, memoryRc,
                     descriptorRc, inMemory ? "ok" : "failed");
}

}  // namespace ruva::fuzz

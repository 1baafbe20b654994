#include "bmod/unzipd/zip/zip_rewrite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "bmod/unzipd/zip/crc32.h"
#include "bmod/unzipd/zip/deflate.h"
#include "common/byte_order.h"

namespace ruva {

// One entry of the archive being written. Copied entries keep every value
// read from the old archive but the local header offset.
struct ArchiveEntry {
    uint16_t vem = 0;  // version made by
    uint16_t ver = 0;  // version needed
    uint16_t flg = 0;  // central general flags
    uint16_t how = 0;  // method
    uint64_t tim = 0;  // DOS time and date
    uint64_t crc = 0;
    uint64_t siz = 0;  // compressed
    uint64_t len = 0;  // uncompressed
    uint16_t dsk = 0;
    uint16_t att = 0;   // internal attributes
    uint16_t lflg = 0;  // local general flags
    uint32_t atx = 0;   // external attributes
    uint64_t off = 0;   // local header offset in the new archive
    std::string name;   // file-system path of a replacement; empty when none
    std::string extra;  // local extra field
    std::string cextra;
    std::string comment;
    std::string iname;
    bool mark = false;
    bool trash = false;
    // Where the local record (header through data and descriptor) lies in the
    // old archive; recordLen 0 for a new entry.
    uint64_t oldOff = 0;
    uint64_t recordLen = 0;
    std::optional<std::string> newComment;  // a "-c" text for a replacement
};

// One file to add.
struct PendingFile {
    std::string path;
    std::string iname;
    std::optional<std::string> comment;
};

namespace {

constexpr uint32_t kLocalSig = 0x04034b50;
constexpr uint32_t kCentralSig = 0x02014b50;
constexpr uint32_t kEndSig = 0x06054b50;
constexpr uint32_t kDescriptorSig = 0x08074b50;
constexpr size_t kLocalLen = 30;
constexpr size_t kCentralLen = 46;
constexpr size_t kEndLen = 22;
constexpr size_t kDescriptorLen = 16;
constexpr size_t kOutBufSize = 16384;
constexpr size_t kStoreReadSize = 16384;
constexpr size_t kMaxNewText = 383;  // the reader's name-pool item
constexpr size_t kMaxZipComment = 2047;
constexpr uint64_t kMaxEntries = 65535;
constexpr uint64_t kMax32 = 0xFFFFFFFFu;
constexpr uint16_t kMadeBy = 788;  // Unix, version 2.0
constexpr uint16_t kExtFlag = 8;   // general flag: data descriptor follows

const char* const kDefaultSuffixes = ".Z:.zip:.zoo:.arc:.lzh:.arj";

const char* errorText(int code) {
    switch (code) {
        case 2:
            return "Unexpected end of zip file";
        case 3:
            return "Zip file structure invalid";
        case 4:
            return "Out of memory";
        case 5:
            return "Internal logic error";
        case 6:
            return "Entry too big to split";
        case 7:
            return "Invalid comment format";
        case 8:
            return "Zip file invalid or insufficient memory";
        case 9:
            return "Interrupted";
        case 10:
            return "Temporary file failure";
        case 11:
            return "Input file read failure";
        case 12:
            return "Nothing to do!";
        case 13:
            return "Missing or empty zip file";
        case 14:
            return "Output file write failure";
        case 15:
            return "Could not create output file";
        case 16:
            return "Invalid command arguments";
        case 18:
            return "File not found or no read permission";
        default:
            return "";
    }
}

bool withSystemText(int code) {
    return code == 10 || code == 11 || code == 14 || code == 15 || code == 18;
}

// Ends a run; caught in the entry points.
struct RunFailure {
    int code;
    std::string detail;
    int sysErr;
};

[[noreturn]] void fail(int code, std::string detail, int sysErr = 0) {
    throw RunFailure{code, std::move(detail), sysErr};
}

ZipStepHook g_stepHook = nullptr;
bool g_running = false;

Deflater& deflater() {
    // Allocated once for the process: compressing a file allocates nothing.
    static std::unique_ptr<Deflater> d(new Deflater());
    return *d;
}

void put16(std::string& s, uint32_t v) {
    s.push_back(static_cast<char>(v & 0xFF));
    s.push_back(static_cast<char>((v >> 8) & 0xFF));
}
void put32(std::string& s, uint64_t v) {
    put16(s, static_cast<uint32_t>(v & 0xFFFF));
    put16(s, static_cast<uint32_t>((v >> 16) & 0xFFFF));
}

ssize_t readRetry(int fd, void* buf, size_t n) {
    ssize_t r;
    do r = ::read(fd, buf, n);
    while (r < 0 && errno == EINTR);
    return r;
}

ssize_t preadRetry(int fd, void* buf, size_t n, off_t off) {
    ssize_t r;
    do r = ::pread(fd, buf, n, off);
    while (r < 0 && errno == EINTR);
    return r;
}

// Whole-range write; false with errno set.
bool writeAll(int fd, const void* data, size_t n) {
    auto p = static_cast<const char*>(data);
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (w == 0) {
            errno = EIO;
            return false;
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

bool pwriteAll(int fd, const void* data, size_t n, off_t off) {
    auto p = static_cast<const char*>(data);
    while (n > 0) {
        ssize_t w = ::pwrite(fd, p, n, off);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (w == 0) {
            errno = EIO;
            return false;
        }
        p += w;
        n -= static_cast<size_t>(w);
        off += w;
    }
    return true;
}

int fsyncRetry(int fd) {
    int r;
    do r = ::fsync(fd);
    while (r < 0 && errno == EINTR);
    return r;
}

// The archive stream: a 16384-byte buffer in front of the temporary file.
class Output {
public:
    void attach(int fd) {
        fd_ = fd;
        used_ = 0;
        pos_ = 0;
        if (!buf_) buf_.reset(new char[kOutBufSize]);
    }
    uint64_t tell() const { return pos_; }
    bool write(const void* data, size_t n) {
        auto p = static_cast<const char*>(data);
        pos_ += n;
        while (n > 0) {
            if (used_ == kOutBufSize && !flush()) return false;
            size_t take = std::min(n, kOutBufSize - used_);
            memcpy(buf_.get() + used_, p, take);
            used_ += take;
            p += take;
            n -= take;
        }
        return true;
    }
    bool write(const std::string& s) { return write(s.data(), s.size()); }
    bool flush() {
        if (used_ == 0) return true;
        if (!writeAll(fd_, buf_.get(), used_)) return false;
        used_ = 0;
        return true;
    }
    // Overwrites bytes already written (the local header's final values).
    bool rewrite(uint64_t at, const std::string& s) {
        return flush() && pwriteAll(fd_, s.data(), s.size(), static_cast<off_t>(at));
    }

private:
    int fd_ = -1;
    std::unique_ptr<char[]> buf_;
    size_t used_ = 0;
    uint64_t pos_ = 0;
};

// The compressor's output: counts what it wrote and keeps the write error.
class DeflateSink : public DeflateOutput {
public:
    explicit DeflateSink(Output& out) : out_(out) {}
    bool write(const uint8_t* data, size_t n) override {
        if (!out_.write(data, n)) {
            err = errno;
            return false;
        }
        written += n;
        return true;
    }
    uint64_t written = 0;
    int err = 0;

private:
    Output& out_;
};

// The file being compressed: counts the CRC-32 and the size of what is read.
class FileInput : public DeflateInput {
public:
    explicit FileInput(int fd) : fd_(fd) {}
    ptrdiff_t read(uint8_t* buf, size_t n) override {
        ssize_t r = readRetry(fd_, buf, n);
        if (r < 0) {
            err = errno;
            return -1;
        }
        crc = crc32Update(crc, buf, static_cast<size_t>(r));
        count += static_cast<uint64_t>(r);
        return r;
    }
    uint32_t crc = 0xFFFFFFFFu;
    uint64_t count = 0;
    int err = 0;

private:
    int fd_;
};

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_ = -1;
};

unsigned char lowerAscii(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c;
}

bool equalFold(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(static_cast<unsigned char>(a[i])) != lowerAscii(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// Matches one bracket set at pattern[p] ('[') against c. Returns the index
// after the closing ']', or npos when the set is not closed (the '[' is then
// an ordinary character).
size_t matchSet(std::string_view pat, size_t p, unsigned char c, bool fold, bool& matched) {
    size_t i = p + 1;
    bool negate = false;
    if (i < pat.size() && (pat[i] == '!' || pat[i] == '^')) {
        negate = true;
        ++i;
    }
    bool hit = false;
    bool first = true;
    unsigned char lc = lowerAscii(c);
    unsigned char uc = (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 32) : c;
    while (i < pat.size()) {
        unsigned char lo = static_cast<unsigned char>(pat[i]);
        if (lo == ']' && !first) {
            matched = hit != negate;
            return i + 1;
        }
        first = false;
        if (lo == '\\' && i + 1 < pat.size()) lo = static_cast<unsigned char>(pat[++i]);
        ++i;
        unsigned char hi = lo;
        if (i + 1 < pat.size() && pat[i] == '-' && pat[i + 1] != ']') {
            hi = static_cast<unsigned char>(pat[i + 1]);
            i += 2;
            if (hi == '\\' && i < pat.size()) hi = static_cast<unsigned char>(pat[i++]);
        }
        if (c >= lo && c <= hi) hit = true;
        if (fold && ((lc >= lo && lc <= hi) || (uc >= lo && uc <= hi))) hit = true;
    }
    return std::string_view::npos;
}

std::string lastComponent(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Directory part of a path, for the temporary file: "" means the current one.
std::string dirPart(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return "";
    return path.substr(0, slash + 1);
}

std::string percentText(uint64_t n, uint64_t m) {
    // The share saved, rounded half up; large sizes are scaled so that the
    // product stays small.
    while (n > 0xFFFFFF) {
        n = (n + 0x80) >> 8;
        m = (m + 0x80) >> 8;
    }
    int pct = n > m ? static_cast<int>((200 * (n - m) / n + 1) / 2) : 0;
    return std::to_string(pct);
}

class Run {
public:
    Run(Zip* zip, ZipAction action) : zip_(zip), action_(action) {
        pathput_ = (zip->flags & kZipJunkPaths) ? 0 : 1;
    }
    ~Run() {
        zip_->curZList = nullptr;
        zip_->curFList = nullptr;
    }

    int commandLine(int argc, const char* const* argv);
    int putFile(const char* archive, const char* filePath, const char* memberName, bool foldNames);
    int deleteMembers(const char* archive, const char* pattern, bool foldNames);

    // Cleanup after a failure: closes and removes the temporary files unless
    // a failed rename left the new archive there on purpose.
    void abandon() {
        old_.reset();
        temp_.reset();
        if (!tempzip_.empty() && !keepTemp_) ::unlink(tempzip_.c_str());
        copyTemp_.reset();
        if (!copyTempPath_.empty() && !keepCopyTemp_) ::unlink(copyTempPath_.c_str());
    }

private:
    enum class Pending { Comment, ZipComment, TempDir, Date, Suffixes };
    struct Item {
        bool isComment;
        std::string text;
    };

    void warn(const std::string& a, const std::string& b = "") {
        zip_->printf("warning: %s%s\n", a.c_str(), b.c_str());
    }
    void step(ZipStep s) {
        unsigned long n = ++stepCount_[static_cast<int>(s)];
        if (g_stepHook) g_stepHook(s, n);
    }

    void setArchive(const std::string& path);
    void readZipFile();
    void readEntries(int fd, uint64_t size);
    void sortEntries();
    ArchiveEntry* findEntry(const std::string& iname) const;

    bool filter(const std::string& iname) const;
    void processName(const std::string& arg);
    void matchPattern(const std::string& pattern);
    void newName(const std::string& path, std::string iname);
    std::string internalName(const std::string& path) const;
    void attachComment(const std::string& text);
    void parseDate(const std::string& text);
    void checkNewName(const std::string& iname);

    int finish();
    void write();
    void copyEntry(ArchiveEntry& e);
    void copyRange(int fd, uint64_t from, uint64_t len, const std::string& what);
    bool zipFile(ArchiveEntry& e, const std::string& path, const char* verb);
    std::string localHeader(const ArchiveEntry& e) const;
    void writeCentral();
    void replace();
    void copyAcross();
    void setMode(int fd);
    void syncDir();

    Zip* zip_;
    ZipAction action_;
    bool fold_ = false;

    // Options, reset for every run.
    int pathput_ = 1;
    int method_ = -1;  // -1 automatic, 0 store
    int level_ = 6;
    int dirnames_ = 1;
    int verbose_ = 0;
    std::string special_ = kDefaultSuffixes;
    bool suffixGiven_ = false;
    uint32_t before_ = 0;  // -t as a DOS time, 0 when not given
    bool haveBefore_ = false;
    std::optional<std::string> tempdir_;
    bool comadd_ = false;
    bool zipedit_ = false;
    std::vector<std::pair<bool, std::string>> patterns_;  // (include, pattern)

    // The archive.
    std::string zipfile_;  // as named
    std::string target_;   // the file renamed over: symlinks resolved
    bool haveZipfile_ = false;
    bool exists_ = false;
    struct stat zipStat_ {};
    Fd old_;
    uint64_t zipbeg_ = 0;
    uint64_t cenbeg_ = 0;
    std::vector<std::unique_ptr<ArchiveEntry>> zfiles_;
    std::vector<ArchiveEntry*> zsort_;
    std::string zcomment_;
    std::string zipComment_;
    std::vector<std::unique_ptr<PendingFile>> found_;
    bool namesGiven_ = false;
    bool couldNotRead_ = false;

    // Writing.
    std::string tempath_;
    std::string tempzip_;
    Fd temp_;
    bool keepTemp_ = false;
    std::string copyTempPath_;
    Fd copyTemp_;
    bool keepCopyTemp_ = false;
    Output out_;
    mode_t newMode_ = 0;
    unsigned long ordinal_ = 0;
    unsigned long stepCount_[7] = {};
    std::unique_ptr<char[]> copyBuf_;
};

void Run::setArchive(const std::string& path) {
    zipfile_ = path;
    haveZipfile_ = true;
    if (zipfile_.empty()) fail(16, "no zip file name");
    target_ = zipfile_;
    struct stat lst;
    if (::lstat(zipfile_.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)) {
        // The rename goes to the link's target, so the link stays a link.
        char* real = ::realpath(zipfile_.c_str(), nullptr);
        if (!real) fail(15, zipfile_, errno);
        target_ = real;
        free(real);
    }
    readZipFile();
}

void Run::readZipFile() {
    int fd;
    do fd = ::open(target_.c_str(), O_RDONLY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        // A missing archive is an empty one; any other failure must not be
        // taken for one, or its entries would be lost.
        if (errno == ENOENT) return;
        fail(11, zipfile_, errno);
    }
    old_.reset(fd);
    if (::fstat(fd, &zipStat_) != 0) fail(11, zipfile_, errno);
    exists_ = true;
    if (!S_ISREG(zipStat_.st_mode)) fail(11, zipfile_, S_ISDIR(zipStat_.st_mode) ? EISDIR : EINVAL);
    readEntries(fd, static_cast<uint64_t>(zipStat_.st_size));
    sortEntries();
}

// The old archive read through a 64 KiB window. Every offset and length is
// checked against the file size before it is used.
class Source {
public:
    Source(int fd, uint64_t size, const std::string& path) : fd_(fd), size_(size), path_(path), win_(65536) {}

    void read(uint64_t off, void* buf, size_t n) {
        if (off > size_ || n > size_ - off) fail(2, path_);
        if (off >= winOff_ && off + n <= winOff_ + winLen_) {
            memcpy(buf, win_.data() + (off - winOff_), n);
            return;
        }
        if (n > win_.size()) {
            fill(off, static_cast<char*>(buf), n);
            return;
        }
        size_t want = static_cast<size_t>(std::min<uint64_t>(win_.size(), size_ - off));
        winLen_ = 0;
        fill(off, win_.data(), want);
        winOff_ = off;
        winLen_ = want;
        memcpy(buf, win_.data(), n);
    }
    std::string string(uint64_t off, size_t n) {
        std::string s(n, '\0');
        if (n) read(off, s.data(), n);
        return s;
    }
    // Offset of the next signature a or b at or after from; size() when none.
    uint64_t find(uint64_t from, uint32_t a, uint32_t b) {
        unsigned char buf[4096];
        uint64_t pos = from;
        while (pos < size_ && size_ - pos >= 4) {
            size_t n = static_cast<size_t>(std::min<uint64_t>(sizeof buf, size_ - pos));
            read(pos, buf, n);
            for (size_t i = 0; i + 4 <= n; ++i) {
                if (buf[i] != 'P' || buf[i + 1] != 'K') continue;
                uint32_t sig = L2H(&buf[i]);
                if (sig == a || sig == b) return pos + i;
            }
            pos += n - 3;
        }
        return size_;
    }
    uint64_t size() const { return size_; }

private:
    void fill(uint64_t off, char* buf, size_t n) {
        size_t got = 0;
        while (got < n) {
            ssize_t r = preadRetry(fd_, buf + got, n - got, static_cast<off_t>(off + got));
            if (r < 0) fail(11, path_, errno);
            if (r == 0) fail(2, path_);
            got += static_cast<size_t>(r);
        }
    }
    int fd_;
    uint64_t size_;
    const std::string& path_;
    std::vector<char> win_;
    uint64_t winOff_ = 0;
    size_t winLen_ = 0;
};

// Reads the old archive from the front: local records, then one central
// header per local one in the same order, then the end record.
void Run::readEntries(int fd, uint64_t size) {
    Source src(fd, size, zipfile_);
    auto readAt = [&](uint64_t off, void* buf, size_t n) { src.read(off, buf, n); };
    auto readString = [&](uint64_t off, size_t n) { return src.string(off, n); };
    auto structure = [&](const std::string& text, const std::string& name = "") {
        warn(text, name);
        fail(3, zipfile_);
    };
    auto scan = [&](uint64_t from, uint32_t a, uint32_t b) { return src.find(from, a, b); };
    // A record boundary at the very end of the file is a missing record, not
    // a truncated one.
    auto signatureAt = [&](uint64_t at, unsigned char* buf) {
        if (at == size) {
            memset(buf, 0, 4);
            return;
        }
        readAt(at, buf, 4);
    };

    if (size == 0) return;
    uint64_t pos = scan(0, kLocalSig, kEndSig);
    if (pos >= size) structure("missing end signature--probably not a zip file");
    zipbeg_ = pos;
    if (zipbeg_ > 0) warn(zipfile_, " has a preamble of " + std::to_string(zipbeg_) + " bytes");

    // The 24 bytes after the version made by: compared between the headers.
    std::vector<std::string> localFields;
    unsigned char h[kCentralLen];
    for (;;) {
        signatureAt(pos, h);
        if (L2H(h) != kLocalSig) break;
        readAt(pos + 4, h + 4, kLocalLen - 4);
        auto e = std::make_unique<ArchiveEntry>();
        e->ver = W2H(h + 4);
        e->lflg = W2H(h + 6);
        e->flg = e->lflg;
        e->how = W2H(h + 8);
        e->tim = L2H(h + 10);
        e->crc = L2H(h + 14);
        e->siz = L2H(h + 18);
        e->len = L2H(h + 22);
        uint16_t nam = W2H(h + 26);
        uint16_t ext = W2H(h + 28);
        e->iname = readString(pos + kLocalLen, nam);
        if (nam == 0) structure("zero-length name for entry #", std::to_string(zfiles_.size() + 1));
        e->extra = readString(pos + kLocalLen + nam, ext);
        uint64_t data = pos + kLocalLen + nam + ext;
        uint64_t end;
        if (e->lflg & kExtFlag) {
            unsigned char d[kDescriptorLen];
            uint64_t at;
            if (e->siz != 0) {
                at = data + e->siz;
                if (at > size || size - at < kDescriptorLen)
                    structure("extended local header not found for ", e->iname);
                readAt(at, d, kDescriptorLen);
                if (L2H(d) != kDescriptorSig) structure("extended local header not found for ", e->iname);
            } else {
                // Streamed: the descriptor is the first one that ends where
                // its compressed size says the data end.
                bool seen = false;
                for (at = data;; ++at) {
                    at = scan(at, kDescriptorSig, kDescriptorSig);
                    if (at >= size) break;
                    seen = true;
                    if (size - at < kDescriptorLen) continue;
                    readAt(at, d, kDescriptorLen);
                    if (L2H(d + 8) == at - data) break;
                }
                if (at >= size)
                    structure(
                        seen ? "bad extended local header for " : "extended local header not found for ",
                        e->iname);
            }
            e->crc = L2H(d + 4);
            e->siz = L2H(d + 8);
            e->len = L2H(d + 12);
            end = at + kDescriptorLen;
        } else {
            if (e->siz > size - data) fail(2, zipfile_);
            end = data + e->siz;
        }
        std::string fields;
        put16(fields, e->ver);
        put16(fields, e->lflg);
        put16(fields, e->how);
        put32(fields, e->tim);
        put32(fields, e->crc);
        put32(fields, e->siz);
        put32(fields, e->len);
        put16(fields, nam);
        localFields.push_back(std::move(fields));
        e->oldOff = pos;
        e->recordLen = end - pos;
        zfiles_.push_back(std::move(e));
        pos = end;
    }

    cenbeg_ = pos;
    for (size_t i = 0; i < zfiles_.size(); ++i) {
        ArchiveEntry& e = *zfiles_[i];
        uint32_t sig = L2H(h);
        if (sig != kCentralSig) structure("missing end signature--probably not a zip file");
        readAt(pos + 4, h + 4, kCentralLen - 4);
        uint16_t nam = W2H(h + 28);
        uint16_t cext = W2H(h + 30);
        uint16_t com = W2H(h + 32);
        std::string name = readString(pos + kCentralLen, nam);
        if (name != e.iname) structure("names in local and central differ for ", e.iname);
        if (L2H(h + 42) != e.oldOff) structure("local offset in central header incorrect for ", e.iname);
        e.vem = W2H(h + 4);
        const std::string& local = localFields[i];
        unsigned char central[24];
        memcpy(central, h + 6, 24);
        bool differ = false;
        for (size_t k = 0; k < 24; ++k) {
            unsigned char l = static_cast<unsigned char>(local[k]);
            unsigned char c = central[k];
            if (k == 3) {  // high byte of the flags
                l &= 0x1F;
                c &= 0x1F;
            }
            if (l != c) {
                if (verbose_ && !differ) warn("local and central headers differ for ", e.iname);
                if (verbose_) {
                    char line[80];
                    snprintf(line, sizeof line, " offset %d--local = %02x, central = %02x",
                             static_cast<int>(k), static_cast<unsigned char>(local[k]), central[k]);
                    warn(line);
                }
                differ = true;
            }
        }
        // The local values win; equal flags keep the central's high bits.
        e.flg = differ ? e.lflg : W2H(h + 8);
        e.dsk = W2H(h + 34);
        e.att = W2H(h + 36);
        e.atx = L2H(h + 38);
        e.cextra = readString(pos + kCentralLen + nam, cext);
        e.comment = readString(pos + kCentralLen + nam + cext, com);
        pos += kCentralLen + nam + cext + com;
        signatureAt(pos, h);
    }
    if (L2H(h) == kCentralSig) structure("extraneous central header signature");
    if (L2H(h) != kEndSig) structure("missing end signature--probably not a zip file");
    readAt(pos + 4, h + 4, kEndLen - 4);
    if (W2H(h + 4) != 0 || W2H(h + 6) != 0) warn("multiple disk information ignored");
    if (W2H(h + 8) != zfiles_.size() || W2H(h + 10) != zfiles_.size())
        structure("count in end of central directory incorrect");
    if (L2H(h + 12) != pos - cenbeg_) warn("central directory size is incorrect (made by stzip?)");
    if (L2H(h + 16) != cenbeg_) structure("central directory start is incorrect");
    uint16_t clen = W2H(h + 20);
    zcomment_ = readString(pos + kEndLen, clen);
    if (pos + kEndLen + clen < size) warn("garbage at end of zip file ignored");
}

void Run::sortEntries() {
    zsort_.clear();
    zsort_.reserve(zfiles_.size());
    for (auto& e : zfiles_) zsort_.push_back(e.get());
    std::stable_sort(zsort_.begin(), zsort_.end(),
                     [](const ArchiveEntry* a, const ArchiveEntry* b) { return a->iname < b->iname; });
}

// The entry of that internal name: the first in archive order among equals,
// which is the one the reader serves; case-blind with folded names.
ArchiveEntry* Run::findEntry(const std::string& iname) const {
    if (fold_) {
        for (auto& e : zfiles_)
            if (equalFold(e->iname, iname)) return e.get();
        return nullptr;
    }
    auto it = std::lower_bound(zsort_.begin(), zsort_.end(), iname,
                               [](const ArchiveEntry* a, const std::string& n) { return a->iname < n; });
    if (it == zsort_.end() || (*it)->iname != iname) return nullptr;
    return *it;
}

bool Run::filter(const std::string& iname) const {
    bool haveInclude = false;
    bool included = false;
    for (const auto& [include, pat] : patterns_) {
        bool m = zipNameMatch(pat, iname, false);
        if (!include && m) return false;
        if (include) {
            haveInclude = true;
            included = included || m;
        }
    }
    return !haveInclude || included;
}

std::string Run::internalName(const std::string& path) const {
    size_t start = path.find_first_not_of('/');
    std::string n = start == std::string::npos ? std::string() : path.substr(start);
    if (!pathput_) n = lastComponent(n);
    return n;
}

void Run::checkNewName(const std::string& iname) {
    // The reader keeps names in 384-byte pool items.
    if (iname.size() > kMaxNewText)
        fail(16, "name longer than 383 characters: " + iname.substr(0, 64) + "...");
}

void Run::processName(const std::string& arg) {
    zip_->curZList = nullptr;
    zip_->curFList = nullptr;
    namesGiven_ = true;
    struct stat st;
    if (zipHasWildcard(arg) || ::stat(arg.c_str(), &st) != 0) {
        matchPattern(arg);
        return;
    }
    std::string path = arg;
    if (S_ISDIR(st.st_mode)) {
        if (!dirnames_) return;
        if (path.back() != '/') path += '/';
    }
    std::string iname = internalName(path);
    if (iname.empty()) {
        if (pathput_) fail(5, "empty name without -j");
        return;
    }
    if (!filter(iname)) return;
    // Never the archive itself.
    if (exists_ && st.st_dev == zipStat_.st_dev && st.st_ino == zipStat_.st_ino) return;
    newName(arg, iname);
}

void Run::matchPattern(const std::string& pattern) {
    bool any = false;
    for (auto& e : zfiles_) {
        if (!zipNameMatch(pattern, e->iname, fold_) || !filter(e->iname)) continue;
        e->mark = true;
        if (e->name.empty()) e->name = e->iname;
        zip_->curZList = e.get();
        any = true;
    }
    if (!any) warn("name not matched: ", pattern);
}

void Run::newName(const std::string& path, std::string iname) {
    if (ArchiveEntry* e = findEntry(iname)) {
        if (!e->name.empty() && e->name != e->iname && e->name != path) {
            warn("name in zip file repeated: ", e->iname);
            warn("  first full name: ", e->name);
            warn(" second full name: ", path);
            fail(16, "cannot repeat names in zip file");
        }
        e->mark = true;
        e->name = path;
        zip_->curZList = e;
        return;
    }
    checkNewName(iname);
    for (auto& f : found_) {
        if (f->iname != iname) continue;
        if (f->path == path) {  // named twice: kept once
            zip_->curFList = f.get();
            return;
        }
        warn("name in zip file repeated: ", iname);
        warn("  first full name: ", f->path);
        warn(" second full name: ", path);
        fail(16, "cannot repeat names in zip file");
    }
    auto f = std::make_unique<PendingFile>();
    f->path = path;
    f->iname = std::move(iname);
    zip_->curFList = f.get();
    found_.push_back(std::move(f));
}

void Run::attachComment(const std::string& text) {
    if (!zip_->curZList && !zip_->curFList) return;
    if (text.size() > kMaxNewText) fail(7, zipfile_);
    if (zip_->curZList)
        zip_->curZList->newComment = text;
    else
        zip_->curFList->comment = text;
}

void Run::parseDate(const std::string& text) {
    auto bad = [] { fail(16, "invalid date entered for -t option"); };
    if (text.size() != 6) bad();
    for (char c : text)
        if (c < '0' || c > '9') bad();
    int m = (text[0] - '0') * 10 + (text[1] - '0');
    int d = (text[2] - '0') * 10 + (text[3] - '0');
    int y = (text[4] - '0') * 10 + (text[5] - '0');
    if (m < 1 || m > 12 || d < 1 || d > 31) bad();
    y += y < 80 ? 2000 : 1900;
    before_ = static_cast<uint32_t>((y - 1980) << 25 | m << 21 | d << 16);
    haveBefore_ = true;
}

int Run::commandLine(int argc, const char* const* argv) {
    std::vector<Pending> pending;
    std::vector<Item> items;
    int selecting = 0;  // 'i' or 'x' once a selection list began
    bool nGiven = false;
    bool tSeen = false;

    for (int i = 0; i < argc; ++i) {
        std::string arg = argv[i] ? argv[i] : "";
        if (!pending.empty()) {
            Pending p = pending.front();
            pending.erase(pending.begin());
            switch (p) {
                case Pending::Comment:
                    items.push_back({true, arg});
                    break;
                case Pending::ZipComment:
                    zipComment_ += arg;
                    if (zipComment_.size() > kMaxZipComment) zipComment_.resize(kMaxZipComment);
                    break;
                case Pending::TempDir:
                    tempdir_ = arg;
                    break;
                case Pending::Date:
                    parseDate(arg);
                    break;
                case Pending::Suffixes:
                    special_ = arg;
                    suffixGiven_ = true;
                    break;
            }
            continue;
        }
        if (arg == "-") fail(16, "no such option: -");
        if (arg.size() > 1 && arg[0] == '-') {
            for (size_t k = 1; k < arg.size(); ++k) {
                char c = arg[k];
                switch (c) {
                    case '0':
                        method_ = 0;
                        level_ = 0;
                        break;
                    case '1':
                    case '2':
                    case '3':
                    case '4':
                    case '5':
                    case '6':
                    case '7':
                    case '8':
                    case '9':
                        level_ = c - '0';
                        break;
                    case '?':
                    case 'H':
                    case 'h':
                        zip_->printf("%s", "");
                        zip_->printf("%s",
                                     "zip [-options] [-b path] [-t mmddyy] [-n suffixes] [-z comment] [[-c "
                                     "comment]...]");
                        zip_->printf("%s", "    [zipfile list] [-xi list]");
                        return 1;
                    case 'c':
                        comadd_ = true;
                        pending.push_back(Pending::Comment);
                        break;
                    case 'z':
                        zipedit_ = true;
                        pending.push_back(Pending::ZipComment);
                        break;
                    case 'j':
                        pathput_ = 0;
                        break;
                    case 'D':
                        dirnames_ = 0;
                        break;
                    case 'b':
                        if (haveZipfile_) fail(16, "use -b before zip file name");
                        pending.push_back(Pending::TempDir);
                        break;
                    case 't':
                        if (tSeen) fail(16, "can only have one -t");
                        tSeen = true;
                        pending.push_back(Pending::Date);
                        break;
                    case 'n':
                        nGiven = true;
                        pending.push_back(Pending::Suffixes);
                        break;
                    case 'i':
                    case 'x': {
                        bool names = false;
                        for (const Item& it : items) names = names || !it.isComment;
                        if (!names && !(haveZipfile_ &&
                                        (action_ == ZIP_ACTION_UPDATE || action_ == ZIP_ACTION_FRESHEN)))
                            fail(16, "nothing to select from");
                        selecting = c;
                        break;
                    }
                    case 'q':
                        verbose_ = 0;
                        break;
                    case 'v':
                        verbose_ = 1;
                        break;
                    case 'S':
                    case 'e':
                    case 'p':
                        break;
                    default: {
                        char text[32];
                        snprintf(text, sizeof text, "no such option: %c", c);
                        fail(16, text);
                    }
                }
            }
            continue;
        }
        if (selecting) {
            patterns_.emplace_back(selecting == 'i', arg);
            continue;
        }
        if (!haveZipfile_) {
            std::string path = arg;
            if (lastComponent(path).find('.') == std::string::npos) path += ".zip";
            setArchive(path);
            continue;
        }
        items.push_back({false, arg});
    }
    for (Pending p : pending) {
        if (p == Pending::Comment) fail(16, "-C must be followed by comment string argument");
        if (p == Pending::ZipComment) fail(16, "-z must be followed by comment string");
        if (p == Pending::TempDir) fail(16, "-b must be followed by a path");
        if (p == Pending::Date) fail(16, "invalid date entered for -t option");
    }
    if (!haveZipfile_) fail(16, "no zip file name");

    for (const Item& it : items) {
        if (it.isComment)
            attachComment(it.text);
        else
            processName(it.text);
    }
    zip_->curZList = nullptr;
    zip_->curFList = nullptr;

    // Check 1: update and freshen without names take every entry.
    if (!namesGiven_ && (action_ == ZIP_ACTION_UPDATE || action_ == ZIP_ACTION_FRESHEN)) {
        for (auto& e : zfiles_) {
            if (!filter(e->iname)) continue;
            e->mark = true;
            if (e->name.empty()) e->name = e->iname;
        }
    }
    // Check 3.
    bool missingList = nGiven && !suffixGiven_;
    if (missingList) fail(16, "missing suffix list");
    if (level_ == 9 || special_ == ";" || special_ == ":") special_.clear();
    // Check 4.
    if (action_ == ZIP_ACTION_DELETE && (method_ == 0 || comadd_ || zipedit_))
        fail(16, "invalid option(s) used with -d");
    if (zipedit_ && zipComment_.size() > kMaxNewText) fail(7, zipfile_);
    return finish();
}

int Run::putFile(const char* archive, const char* filePath, const char* memberName, bool foldNames) {
    if (action_ != ZIP_ACTION_ADD && action_ != ZIP_ACTION_UPDATE && action_ != ZIP_ACTION_FRESHEN)
        fail(16, "putFile takes add, update or freshen");
    if (!archive || !filePath || !memberName || !*memberName) fail(16, "missing argument");
    fold_ = foldNames;
    setArchive(archive);
    namesGiven_ = true;
    struct stat st;
    if (::stat(filePath, &st) != 0) {
        warn("name not matched: ", filePath);
    } else if (S_ISDIR(st.st_mode)) {
        fail(16, std::string(filePath) + " is a directory");
    } else if (!(exists_ && st.st_dev == zipStat_.st_dev && st.st_ino == zipStat_.st_ino)) {
        newName(filePath, memberName);
    }
    zip_->curZList = nullptr;
    zip_->curFList = nullptr;
    return finish();
}

int Run::deleteMembers(const char* archive, const char* pattern, bool foldNames) {
    if (!archive || !pattern) fail(16, "missing argument");
    fold_ = foldNames;
    setArchive(archive);
    namesGiven_ = true;
    matchPattern(pattern);
    zip_->curZList = nullptr;
    return finish();
}

// Checks 5 to 10, then the writing and the replace.
int Run::finish() {
    if (zfiles_.empty() && action_ != ZIP_ACTION_ADD) warn(zipfile_, " not found or empty");

    // Check 6: the temporary file lies beside the file that is renamed over.
    tempath_ = tempdir_ ? *tempdir_ : dirPart(target_);
    if (!tempath_.empty() && tempath_.back() != '/') tempath_ += '/';

    // Check 7.
    for (auto& e : zfiles_) {
        if (!e->mark || action_ == ZIP_ACTION_DELETE) continue;
        struct stat st;
        bool keep = false;
        if (::stat(e->name.c_str(), &st) == 0) {
            uint32_t t = zipDosTime(st.st_mtime);
            e->trash = !haveBefore_ || t >= before_;
            keep = e->trash && (action_ == ZIP_ACTION_ADD || t > e->tim);
        }
        e->mark = keep;
    }
    // Check 8.
    std::vector<std::unique_ptr<PendingFile>> kept;
    for (auto& f : found_) {
        if (action_ == ZIP_ACTION_DELETE || action_ == ZIP_ACTION_FRESHEN) continue;
        struct stat st;
        if (::stat(f->path.c_str(), &st) != 0) continue;
        if (haveBefore_ && zipDosTime(st.st_mtime) < before_) continue;
        if (f->path == zipfile_) continue;
        kept.push_back(std::move(f));
    }
    found_ = std::move(kept);
    // Check 9.
    bool marked = std::any_of(zfiles_.begin(), zfiles_.end(), [](auto& e) { return e->mark; });
    if (!marked && found_.empty() && !(zipedit_ && !zfiles_.empty())) {
        if (action_ == ZIP_ACTION_UPDATE || action_ == ZIP_ACTION_FRESHEN) return 1;
        fail(12, zipfile_);
    }
    // Check 10: prove the archive can be replaced before writing anything.
    if (exists_) {
        int fd;
        do fd = ::open(target_.c_str(), O_WRONLY | O_CLOEXEC);
        while (fd < 0 && errno == EINTR);
        if (fd < 0) fail(15, zipfile_, errno);
        struct stat st;
        int r = ::fstat(fd, &st);
        int e = errno;
        ::close(fd);
        if (r != 0) fail(15, zipfile_, e);
        // A rename would split the links silently.
        if (st.st_nlink > 1) fail(15, zipfile_, EMLINK);
        zipStat_ = st;
        newMode_ = st.st_mode & 07777;
    } else {
        mode_t mask = ::umask(0);
        ::umask(mask);
        newMode_ = 0666 & ~mask;
        if (!tempdir_) {
            std::string dir = dirPart(target_);
            if (dir.empty()) dir = ".";
            if (::faccessat(AT_FDCWD, dir.c_str(), W_OK, AT_EACCESS) != 0) fail(15, zipfile_, errno);
        }
    }

    write();
    replace();
    return couldNotRead_ ? 0 : 1;
}

std::string Run::localHeader(const ArchiveEntry& e) const {
    std::string h;
    put32(h, kLocalSig);
    put16(h, e.ver);
    put16(h, e.lflg);
    put16(h, e.how);
    put32(h, e.tim);
    put32(h, e.crc);
    put32(h, e.siz);
    put32(h, e.len);
    put16(h, static_cast<uint32_t>(e.iname.size()));
    put16(h, static_cast<uint32_t>(e.extra.size()));
    h += e.iname;
    h += e.extra;
    return h;
}

void Run::copyRange(int fd, uint64_t from, uint64_t len, const std::string& what) {
    if (!copyBuf_) copyBuf_.reset(new char[kStoreReadSize]);
    char* buf = copyBuf_.get();
    while (len > 0) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(len, kStoreReadSize));
        ssize_t r = preadRetry(fd, buf, n, static_cast<off_t>(from));
        if (r < 0) fail(11, what, errno);
        if (r == 0) fail(2, what);
        if (!out_.write(buf, static_cast<size_t>(r))) fail(14, what, errno);
        from += static_cast<uint64_t>(r);
        len -= static_cast<uint64_t>(r);
    }
}

void Run::copyEntry(ArchiveEntry& e) {
    e.off = out_.tell();
    copyRange(old_.get(), e.oldOff, e.recordLen, "was copying " + e.iname);
}

// Compresses one file into entry e (new or replaced). False when the file
// cannot be opened: nothing was written then.
bool Run::zipFile(ArchiveEntry& e, const std::string& path, const char* verb) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) fail(18, path, errno);
    bool isDir = S_ISDIR(st.st_mode);
    Fd in;
    if (!isDir) {
        int fd;
        do fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        while (fd < 0 && errno == EINTR);
        if (fd < 0) return false;
        in.reset(fd);
    }
    const std::string what = "was zipping " + path;
    e.tim = zipDosTime(st.st_mtime);
    e.atx =
        static_cast<uint32_t>(st.st_mode) << 16 | ((st.st_mode & S_IWUSR) ? 0 : 0x01) | (isDir ? 0x10 : 0);
    uint64_t size = S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;

    bool store = isDir || (S_ISREG(st.st_mode) && size == 0) || method_ == 0 || level_ == 0;
    if (!store && !special_.empty()) {
        size_t start = 0;
        while (start <= special_.size()) {
            size_t end = special_.find_first_of(":;", start);
            if (end == std::string::npos) end = special_.size();
            std::string suffix = special_.substr(start, end - start);
            if (!suffix.empty() && e.iname.size() >= suffix.size() &&
                e.iname.compare(e.iname.size() - suffix.size(), suffix.size(), suffix) == 0)
                store = true;
            start = end + 1;
        }
    }
    e.vem = kMadeBy;
    e.how = store ? 0 : 8;
    e.ver = store ? 10 : 20;
    e.lflg = kExtFlag;
    if (!store && level_ == 1) e.lflg |= 4;
    if (!store && level_ == 9) e.lflg |= 2;
    e.crc = 0;
    e.siz = store ? size : 0;
    e.len = size;
    e.att = 0;
    e.dsk = 0;
    e.extra.clear();
    e.cextra.clear();
    e.off = out_.tell();
    if (!out_.write(localHeader(e))) fail(14, what, errno);
    uint64_t dataStart = out_.tell();

    uint32_t crc = 0xFFFFFFFFu;
    uint64_t count = 0;
    if (store) {
        if (!isDir) {
            std::unique_ptr<char[]> buf(new char[kStoreReadSize]);
            for (;;) {
                ssize_t r = readRetry(in.get(), buf.get(), kStoreReadSize);
                if (r < 0) fail(11, what, errno);
                if (r == 0) break;
                crc = crc32Update(crc, reinterpret_cast<unsigned char*>(buf.get()), static_cast<size_t>(r));
                count += static_cast<uint64_t>(r);
                if (!out_.write(buf.get(), static_cast<size_t>(r))) fail(14, what, errno);
            }
        }
        e.siz = count;
    } else {
        Deflater& d = deflater();
        FileInput input(in.get());
        DeflateSink sink(out_);
        uint16_t method = 8;
        uint16_t attribute = 0;
        d.bi_init(&sink);
        d.ct_init(&attribute, &method);
        int rc = d.lm_init(level_, &e.lflg, &input);
        if (rc == Deflater::kReadError) fail(11, what, input.err);
        if (rc != 0) fail(5, d.errorText());
        int64_t n = d.deflate();
        d.lm_free();
        if (n < 0) {
            if (sink.err) fail(14, what, sink.err);
            if (d.errorCode() == Deflater::kReadError) fail(11, what, input.err);
            fail(5, d.errorText());
        }
        if (static_cast<uint64_t>(n) != sink.written || out_.tell() - dataStart != sink.written)
            fail(5, "incorrect compressed size");
        crc = input.crc;
        count = input.count;
        e.how = method;
        e.ver = method == 0 ? 10 : 20;
        e.att = attribute;
        e.siz = sink.written;
    }
    e.crc = crc ^ 0xFFFFFFFFu;
    e.len = count;
    if (S_ISREG(st.st_mode) && count != size) warn(" file size changed while zipping ", path);
    if (e.siz >= kMax32 || e.len >= kMax32 || e.off >= kMax32) {
        warn("entry sizes and offsets must stay below 4 GiB (0xFFFFFFFF) without zip64: ", e.iname);
        fail(6, zipfile_);
    }
    if (verbose_) {
        std::string tail = e.how == 8 ? " (deflated " + percentText(e.len, e.siz) + "%)" : " (stored 0%)";
        zip_->printf("%s%s%s\n", verb, e.iname.c_str(), tail.c_str());
    }
    // The final values go into the local header; no descriptor follows.
    e.lflg &= static_cast<uint16_t>(~kExtFlag);
    e.flg = e.lflg;
    if (!out_.rewrite(e.off, localHeader(e))) fail(14, what, errno);
    return true;
}

void Run::writeCentral() {
    uint64_t cenStart = out_.tell();
    for (auto& p : zfiles_) {
        ArchiveEntry& e = *p;
        std::string h;
        put32(h, kCentralSig);
        put16(h, e.vem);
        put16(h, e.ver);
        put16(h, e.flg);
        put16(h, e.how);
        put32(h, e.tim);
        put32(h, e.crc);
        put32(h, e.siz);
        put32(h, e.len);
        put16(h, static_cast<uint32_t>(e.iname.size()));
        put16(h, static_cast<uint32_t>(e.cextra.size()));
        put16(h, static_cast<uint32_t>(e.comment.size()));
        put16(h, e.dsk);
        put16(h, e.att);
        put32(h, e.atx);
        put32(h, e.off);
        h += e.iname;
        h += e.cextra;
        h += e.comment;
        if (!out_.write(h)) fail(14, "was writing central directory", errno);
    }
    uint64_t cenEnd = out_.tell();
    if (cenEnd >= kMax32) {
        warn("the central directory must end below 4 GiB (0xFFFFFFFF) without zip64");
        fail(6, zipfile_);
    }
    if (zfiles_.empty()) warn("zip file empty");
    const std::string& comment = zipedit_ ? zipComment_ : zcomment_;
    std::string end;
    put32(end, kEndSig);
    put16(end, 0);
    put16(end, 0);
    put16(end, static_cast<uint32_t>(zfiles_.size()));
    put16(end, static_cast<uint32_t>(zfiles_.size()));
    put32(end, cenEnd - cenStart);
    put32(end, cenStart);
    put16(end, static_cast<uint32_t>(comment.size()));
    end += comment;
    if (!out_.write(end)) fail(14, "was writing central directory", errno);
}

void Run::write() {
    std::string pattern = tempath_ + "_ZXXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) fail(10, tempath_.empty() ? "." : tempath_, errno);
    tempzip_ = name.data();
    temp_.reset(fd);
    step(ZipStep::TempCreated);
    out_.attach(fd);

    if (zipbeg_ > 0) copyRange(old_.get(), 0, zipbeg_, zipfile_);

    std::vector<std::unique_ptr<ArchiveEntry>> kept;
    kept.reserve(zfiles_.size());
    for (auto& p : zfiles_) {
        ArchiveEntry& e = *p;
        if (!e.mark) {
            copyEntry(e);
            step(ZipStep::EntryCopied);
            kept.push_back(std::move(p));
            continue;
        }
        ++ordinal_;
        if (zip_->statusCallback) zip_->statusCallback(zip_->clientData, e.iname.c_str(), ordinal_);
        step(ZipStep::Status);
        if (action_ == ZIP_ACTION_DELETE) {
            if (verbose_) zip_->printf("deleting: %s\n", e.iname.c_str());
            continue;
        }
        // A replacement keeps its member comment unless "-c" gives one.
        ArchiveEntry fresh;
        fresh.iname = e.iname;
        fresh.comment = e.newComment ? *e.newComment : e.comment;
        if (zipFile(fresh, e.name, "updating: ")) {
            fresh.name = e.name;
            e = std::move(fresh);
        } else {
            zip_->setError("warn: Could not open %s for reading, will copy over %s", e.name.c_str(),
                           e.iname.c_str());
            couldNotRead_ = true;
            copyEntry(e);
        }
        kept.push_back(std::move(p));
    }
    zfiles_ = std::move(kept);

    for (auto& f : found_) {
        auto e = std::make_unique<ArchiveEntry>();
        e->iname = f->iname;
        if (f->comment) e->comment = *f->comment;
        ++ordinal_;
        if (zip_->statusCallback) zip_->statusCallback(zip_->clientData, e->iname.c_str(), ordinal_);
        step(ZipStep::Status);
        if (!zipFile(*e, f->path, "  adding: ")) {
            zip_->setError("warn: Could not open %s for reading", f->path.c_str());
            couldNotRead_ = true;
            continue;
        }
        e->name = f->path;
        if (zip_->okCallback) zip_->okCallback(zip_->okClientData, e->iname.c_str(), f->path.c_str());
        zfiles_.push_back(std::move(e));
    }

    // The reader takes no zip64 records: refuse what it could not read.
    if (zfiles_.size() > kMaxEntries) {
        warn("a zip file without zip64 holds at most 65535 entries");
        fail(6, zipfile_);
    }
    for (auto& e : zfiles_) {
        if (e->off >= kMax32 || e->siz >= kMax32 || e->len >= kMax32) {
            warn("entry sizes and offsets must stay below 4 GiB (0xFFFFFFFF) without zip64: ", e->iname);
            fail(6, zipfile_);
        }
    }
    writeCentral();
    if (!out_.flush()) fail(14, tempzip_, errno);
    step(ZipStep::DataWritten);
    setMode(temp_.get());
    if (fsyncRetry(temp_.get()) != 0) fail(14, tempzip_, errno);
    if (::close(temp_.release()) != 0) fail(10, tempzip_, errno);
    step(ZipStep::Synced);
    old_.reset();
}

// The new archive gets the old one's owner (where permitted) and mode.
void Run::setMode(int fd) {
    if (exists_ && ::fchown(fd, zipStat_.st_uid, zipStat_.st_gid) != 0 && errno != EPERM)
        fail(10, tempzip_, errno);
    if (::fchmod(fd, newMode_) != 0) fail(10, tempzip_, errno);
}

void Run::replace() {
    if (::rename(tempzip_.c_str(), target_.c_str()) != 0) {
        if (errno == EXDEV) {
            copyAcross();
        } else {
            int e = errno;
            keepTemp_ = true;
            warn("new zip file left as: ", tempzip_);
            fail(15, "was replacing the original zip file", e);
        }
    }
    step(ZipStep::Renamed);
    syncDir();
    step(ZipStep::DirSynced);
}

// "-b" on another file system: a second temporary file beside the archive.
void Run::copyAcross() {
    std::string pattern = dirPart(target_) + "_ZXXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) fail(10, dirPart(target_).empty() ? "." : dirPart(target_), errno);
    copyTempPath_ = name.data();
    copyTemp_.reset(fd);
    Fd src;
    int s;
    do s = ::open(tempzip_.c_str(), O_RDONLY | O_CLOEXEC);
    while (s < 0 && errno == EINTR);
    if (s < 0) {
        zip_->printf(" replace: can't open %s\n", tempzip_.c_str());
        fail(10, tempzip_, errno);
    }
    src.reset(s);
    std::unique_ptr<char[]> buf(new char[kOutBufSize]);
    for (;;) {
        ssize_t r = readRetry(s, buf.get(), kOutBufSize);
        if (r < 0) fail(11, tempzip_, errno);
        if (r == 0) break;
        if (!writeAll(fd, buf.get(), static_cast<size_t>(r))) fail(14, copyTempPath_, errno);
    }
    setMode(fd);
    if (fsyncRetry(fd) != 0) fail(14, copyTempPath_, errno);
    if (::close(copyTemp_.release()) != 0) fail(10, copyTempPath_, errno);
    if (::rename(copyTempPath_.c_str(), target_.c_str()) != 0) {
        int e = errno;
        keepCopyTemp_ = true;
        warn("new zip file left as: ", copyTempPath_);
        fail(15, "was replacing the original zip file", e);
    }
    src.reset();
    ::unlink(tempzip_.c_str());
    tempzip_.clear();
}

void Run::syncDir() {
    std::string dir = dirPart(target_);
    if (dir.size() > 1) dir.pop_back();
    if (dir.empty()) dir = ".";
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    bool ok = fd >= 0 && fsyncRetry(fd) == 0;
    if (fd >= 0) ::close(fd);
    if (!ok) warn("could not sync directory ", dir);
}

// Runs body as one run: failures become the Zip's error text and 0.
template <class Body>
int runOnce(Zip* zip, ZipAction action, const char* archive, Body body) {
    if (!zip) return 0;
    if (g_running) {
        zip->setError("%s (%s)", errorText(5), archive ? archive : "");
        return 0;
    }
    g_running = true;
    int result = 0;
    std::optional<Run> run;
    try {
        run.emplace(zip, action);
        result = body(*run);
    } catch (const RunFailure& f) {
        if (run) run->abandon();
        const std::string& detail = f.detail;
        if (withSystemText(f.code))
            zip->setError("%s, %s (%s)", errorText(f.code), strerror(f.sysErr), detail.c_str());
        else
            zip->setError("%s (%s)", errorText(f.code), detail.c_str());
        result = 0;
    } catch (const std::bad_alloc&) {
        if (run) run->abandon();
        zip->setError("%s (%s)", errorText(4), "was adding files to zip file");
        result = 0;
    }
    run.reset();
    g_running = false;
    return result;
}

}  // namespace

int zipEntry(Zip* zip, ZipAction action, int argc, const char* const* argv) {
    const char* archive = argc > 0 && argv ? argv[0] : nullptr;
    return runOnce(zip, action, archive, [&](Run& run) { return run.commandLine(argc, argv); });
}

int zipEntryPutFile(Zip* zip, ZipAction action, const char* archive, const char* filePath,
                    const char* memberName, bool foldNames) {
    return runOnce(zip, action, archive,
                   [&](Run& run) { return run.putFile(archive, filePath, memberName, foldNames); });
}

int zipEntryDeleteMembers(Zip* zip, const char* archive, const char* pattern, bool foldNames) {
    return runOnce(zip, ZIP_ACTION_DELETE, archive,
                   [&](Run& run) { return run.deleteMembers(archive, pattern, foldNames); });
}

bool zipNameMatch(std::string_view pat, std::string_view name, bool fold) {
    size_t p = 0;
    size_t n = 0;
    size_t starP = std::string_view::npos;
    size_t starN = 0;
    auto same = [fold](unsigned char a, unsigned char b) {
        return a == b || (fold && lowerAscii(a) == lowerAscii(b));
    };
    while (n < name.size()) {
        if (p < pat.size()) {
            char c = pat[p];
            if (c == '*') {
                while (p < pat.size() && pat[p] == '*') ++p;
                starP = p;
                starN = n;
                continue;
            }
            unsigned char nc = static_cast<unsigned char>(name[n]);
            if (c == '?') {
                ++p;
                ++n;
                continue;
            }
            if (c == '[') {
                bool matched = false;
                size_t next = matchSet(pat, p, nc, fold, matched);
                if (next != std::string_view::npos) {
                    if (matched) {
                        p = next;
                        ++n;
                        continue;
                    }
                    goto backtrack;
                }
            }
            if (c == '\\' && p + 1 < pat.size()) {
                if (same(static_cast<unsigned char>(pat[p + 1]), nc)) {
                    p += 2;
                    ++n;
                    continue;
                }
                goto backtrack;
            }
            if (same(static_cast<unsigned char>(c), nc)) {
                ++p;
                ++n;
                continue;
            }
        }
    backtrack:
        // The last star takes one more character; earlier stars never need
        // to, so the walk stays linear in each star's span.
        if (starP == std::string_view::npos) return false;
        p = starP;
        n = ++starN;
    }
    while (p < pat.size() && pat[p] == '*') ++p;
    return p == pat.size();
}

bool zipHasWildcard(std::string_view name) {
    for (size_t i = 0; i < name.size(); ++i) {
        char c = name[i];
        if (c == '\\') {
            ++i;
            continue;
        }
        if (c == '*' || c == '?' || c == '[') return true;
    }
    return false;
}

uint32_t zipDosTime(time_t t) {
    time_t even = t + (t & 1);
    struct tm tm;
    if (!localtime_r(&even, &tm) || tm.tm_year < 80) return (0u << 25) | (1u << 21) | (1u << 16);
    int year = tm.tm_year + 1900;
    if (year > 2107) return (127u << 25) | (12u << 21) | (31u << 16) | (23u << 11) | (59u << 5) | 29u;
    return static_cast<uint32_t>(year - 1980) << 25 | static_cast<uint32_t>(tm.tm_mon + 1) << 21 |
           static_cast<uint32_t>(tm.tm_mday) << 16 | static_cast<uint32_t>(tm.tm_hour) << 11 |
           static_cast<uint32_t>(tm.tm_min) << 5 | static_cast<uint32_t>(tm.tm_sec / 2);
}

void setZipStepHook(ZipStepHook hook) {
    g_stepHook = hook;
}

}  // namespace ruva

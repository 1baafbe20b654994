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

#include "bmod/unzipd/zip/deflate.h"
#include "bmod/unzipd/zip/zip_command.h"
#include "bmod/unzipd/zip/zip_old_archive.h"
#include "bmod/unzipd/zip/zip_output.h"
#include "bmod/unzipd/zip/zip_select.h"
#include "common/crc32.h"
#include "common/fd_io.h"
#include "common/mapped_file.h"
#include "common/zip_format.h"

namespace ruva {

namespace {

constexpr size_t kStoreReadSize = 16384;
constexpr uint64_t kMaxEntries = 65535;
constexpr uint64_t kMax32 = 0xFFFFFFFFu;
constexpr uint16_t kMadeBy = 788;  // Unix, version 2.0
// Version needed to extract (10 x major + minor).
constexpr uint16_t kStoredVersion = 10;
constexpr uint16_t kDeflatedVersion = 20;
// MS-DOS attribute bits, the low byte of the external attributes.
constexpr uint32_t kDosReadOnly = 0x01;
constexpr uint32_t kDosDirectory = 0x10;

// Ends a run; caught in the entry points.
struct RunFailure {
    ZipFailure failure;
};

[[noreturn]] void fail(ZipFailure f) {
    throw RunFailure{std::move(f)};
}
[[noreturn]] void fail(int code, std::string detail, int sysErr = 0) {
    fail(ZipFailure{code, std::move(detail), sysErr});
}

ZipStepHook g_stepHook = nullptr;
bool g_running = false;

Deflater& deflater() {
    // Allocated once for the process: compressing a file allocates nothing.
    static std::unique_ptr<Deflater> d(new Deflater());
    return *d;
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

    // Cleanup after a failure: closes and removes the temporary file unless
    // a failed rename left the new archive there on purpose (a copy made
    // across file systems is renameFile's to clean up or keep).
    void abandon() {
        old_.reset();
        temp_.reset();
        if (!tempzip_.empty() && !keepTemp_) ::unlink(tempzip_.c_str());
    }

private:
    void warn(const std::string& a, const std::string& b = "") {
        zip_->printf("warning: %s%s\n", a.c_str(), b.c_str());
    }
    void step(ZipStep s) {
        unsigned long n = ++stepCount_[static_cast<int>(s)];
        if (g_stepHook) g_stepHook(s, n);
    }
    void statusCallback(const std::string& iname) {
        ++ordinal_;
        if (zip_->statusCallback) zip_->statusCallback(zip_->clientData, iname.c_str(), ordinal_);
        step(ZipStep::Status);
    }
    void clearCurrent() {
        zip_->curZList = nullptr;
        zip_->curFList = nullptr;
    }

    // The old archive.
    void setArchive(const std::string& path, bool verbose);
    void readZipFile(bool verbose);

    // The names: looked up by a selection over the old entries.
    ZipSelection selection();
    void take(ZipSelection& s) {
        found_ = std::move(s.found);
        namesGiven_ = s.namesGiven;
    }

    // The checks before writing.
    int finish();
    void selectEntries();
    void selectFiles();
    void proveReplaceable();

    // Writing.
    void write();
    void writeOldEntries();
    void writeNewFiles();
    void checkLimits();
    void syncTemp();
    void copyEntry(ArchiveEntry& e);
    void copyRange(int fd, uint64_t from, uint64_t len, const std::string& what);
    bool zipFile(ArchiveEntry& e, const std::string& path, const char* verb);
    void startEntry(ArchiveEntry& e, const struct stat& st, bool store, const std::string& what);
    void storeData(ArchiveEntry& e, int fd, const std::string& what);
    void deflateData(ArchiveEntry& e, int fd, uint64_t dataStart, const std::string& what);
    void endEntry(ArchiveEntry& e, const struct stat& st, const std::string& path, const char* verb,
                  const std::string& what);
    void writeCentral();
    void replace();
    bool applyMode(int fd) const;
    void setMode(int fd);

    Zip* zip_;
    ZipAction action_;
    bool fold_ = false;
    int pathput_ = 1;
    ZipRequest req_;  // the options; defaults for the typed calls

    // The archive.
    std::string zipfile_;  // as named
    std::string target_;   // the file renamed over: symlinks resolved
    bool exists_ = false;
    struct stat zipStat_ {};
    Fd old_;
    uint64_t zipbeg_ = 0;
    std::vector<std::unique_ptr<ArchiveEntry>> zfiles_;
    std::string zcomment_;
    std::vector<std::unique_ptr<PendingFile>> found_;
    bool namesGiven_ = false;
    bool couldNotRead_ = false;

    // Writing.
    std::string tempath_;
    std::string tempzip_;
    Fd temp_;
    bool keepTemp_ = false;
    ArchiveOutput out_;
    mode_t newMode_ = 0;
    unsigned long ordinal_ = 0;
    unsigned long stepCount_[7] = {};
    std::unique_ptr<char[]> copyBuf_;
};

void Run::setArchive(const std::string& path, bool verbose) {
    zipfile_ = path;
    if (zipfile_.empty()) fail(kZipBadArgs, "no zip file name");
    target_ = zipfile_;
    struct stat lst;
    if (::lstat(zipfile_.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)) {
        // The rename goes to the link's target, so the link stays a link.
        char* real = ::realpath(zipfile_.c_str(), nullptr);
        if (!real) fail(kZipCreate, zipfile_, errno);
        target_ = real;
        free(real);
    }
    readZipFile(verbose);
}

void Run::readZipFile(bool verbose) {
    int fd = openRegularFile(target_.c_str(), O_RDONLY);
    if (fd < 0) {
        // A missing archive is an empty one; any other failure must not be
        // taken for one, or its entries would be lost.
        if (errno == ENOENT) return;
        fail(kZipRead, zipfile_, errno);
    }
    old_.reset(fd);
    if (::fstat(fd, &zipStat_) != 0) fail(kZipRead, zipfile_, errno);
    exists_ = true;
    OldArchive old;
    ZipFailure failure = readOldArchive(fd, static_cast<uint64_t>(zipStat_.st_size), zipfile_, verbose, old);
    for (const ZipWarning& w : old.warnings) warn(w.text, w.detail);
    if (failure) fail(std::move(failure));
    zfiles_ = std::move(old.entries);
    zcomment_ = std::move(old.comment);
    zipbeg_ = old.preambleLen;
}

ZipSelection Run::selection() {
    ZipSelectOptions o;
    o.archive = zipfile_;
    o.fold = fold_;
    o.pathput = pathput_ != 0;
    o.dirnames = req_.dirnames != 0;
    o.patterns = req_.patterns;
    o.archiveExists = exists_;
    o.archiveDev = zipStat_.st_dev;
    o.archiveIno = zipStat_.st_ino;
    return ZipSelection(zfiles_, std::move(o), zip_->curZList, zip_->curFList,
                        [this](const std::string& text, const std::string& detail) { warn(text, detail); });
}

int Run::commandLine(int argc, const char* const* argv) {
    req_ = parseZipCommand(action_, argc, argv);
    // The archive is read when its name comes before the argument that ended
    // reading, so that its faults come first, as they are met in the line.
    if (req_.archive && (req_.stopAt < 0 || req_.archiveAt < req_.stopAt))
        setArchive(*req_.archive, req_.verboseAtArchive != 0);
    if (req_.failure) fail(req_.failure);
    if (req_.help) {
        for (size_t i = 0; i < kZipUsageLines; ++i) zip_->printf("%s", zipUsageLine(i));
        return 1;
    }
    if (req_.junkPaths) pathput_ = 0;
    ZipSelection sel = selection();
    ZipFailure picked = sel.addItems(req_.items);
    take(sel);
    if (picked) fail(std::move(picked));

    // Check 1: update and freshen without names take every entry.
    if (!namesGiven_ && (action_ == ZIP_ACTION_UPDATE || action_ == ZIP_ACTION_FRESHEN)) {
        for (auto& e : zfiles_) {
            if (!sel.filter(e->iname)) continue;
            e->mark = true;
            if (e->path.empty()) e->path = e->iname;
        }
    }
    // Checks 3 and 4: the options fit together and fit the action.
    if (ZipFailure f = checkZipOptions(action_, req_, zipfile_)) fail(std::move(f));
    return finish();
}

int Run::putFile(const char* archive, const char* filePath, const char* memberName, bool foldNames) {
    if (action_ != ZIP_ACTION_ADD && action_ != ZIP_ACTION_UPDATE && action_ != ZIP_ACTION_FRESHEN)
        fail(kZipBadArgs, "putFile takes add, update or freshen");
    if (!archive || !filePath || !memberName || !*memberName) fail(kZipBadArgs, "missing argument");
    fold_ = foldNames;
    setArchive(archive, false);
    ZipSelection sel = selection();
    sel.namesGiven = true;
    struct stat st;
    if (::stat(filePath, &st) != 0) {
        warn("name not matched: ", filePath);
    } else if (S_ISDIR(st.st_mode)) {
        fail(kZipBadArgs, std::string(filePath) + " is a directory");
    } else if (!sel.isArchive(st)) {
        if (ZipFailure f = sel.addFile(filePath, memberName)) fail(std::move(f));
    }
    clearCurrent();
    take(sel);
    return finish();
}

int Run::deleteMembers(const char* archive, const char* pattern, bool foldNames) {
    if (!archive || !pattern) fail(kZipBadArgs, "missing argument");
    fold_ = foldNames;
    setArchive(archive, false);
    ZipSelection sel = selection();
    sel.namesGiven = true;
    sel.matchPattern(pattern);
    zip_->curZList = nullptr;
    take(sel);
    return finish();
}

// Checks 5 to 10, then the writing and the replace.
int Run::finish() {
    // Check 5: say when there is no old archive to start from.
    if (zfiles_.empty() && action_ != ZIP_ACTION_ADD) warn(zipfile_, " not found or empty");

    // Check 6: the temporary file lies beside the file that is renamed over.
    tempath_ = req_.tempdir ? *req_.tempdir : dirPart(target_);
    if (!tempath_.empty() && tempath_.back() != '/') tempath_ += '/';

    selectEntries();
    selectFiles();
    // Check 9: with nothing to delete, replace, add or comment on, update
    // and freshen are done; the other actions fail.
    bool marked = std::any_of(zfiles_.begin(), zfiles_.end(), [](auto& e) { return e->mark; });
    if (!marked && found_.empty() && !(req_.zipedit && !zfiles_.empty())) {
        if (action_ == ZIP_ACTION_UPDATE || action_ == ZIP_ACTION_FRESHEN) return 1;
        fail(kZipNothing, zipfile_);
    }
    proveReplaceable();
    write();
    replace();
    return couldNotRead_ ? 0 : 1;
}

// Check 7: a named entry is replaced only when its file exists, is not
// older than "-t", and, but for add, is newer than the entry (DOS time).
void Run::selectEntries() {
    for (auto& e : zfiles_) {
        if (!e->mark || action_ == ZIP_ACTION_DELETE) continue;
        struct stat st;
        bool keep = false;
        if (::stat(e->path.c_str(), &st) == 0) {
            uint32_t t = zipDosTime(st.st_mtime);
            e->trash = !req_.before || t >= *req_.before;
            keep = e->trash && (action_ == ZIP_ACTION_ADD || t > e->dosTime);
        }
        e->mark = keep;
    }
}

// Check 8: a new file is added only by add and update, when it still
// exists, is not older than "-t" and is not the archive itself.
void Run::selectFiles() {
    std::vector<std::unique_ptr<PendingFile>> kept;
    for (auto& f : found_) {
        if (action_ == ZIP_ACTION_DELETE || action_ == ZIP_ACTION_FRESHEN) continue;
        struct stat st;
        if (::stat(f->path.c_str(), &st) != 0) continue;
        if (req_.before && zipDosTime(st.st_mtime) < *req_.before) continue;
        if (f->path == zipfile_) continue;
        kept.push_back(std::move(f));
    }
    found_ = std::move(kept);
}

// Check 10: prove the archive can be replaced before writing anything: an
// existing one must open for writing and have one link; a new one needs a
// writable directory.
void Run::proveReplaceable() {
    if (exists_) {
        int fd = openRegularFile(target_.c_str(), O_WRONLY);
        if (fd < 0) fail(kZipCreate, zipfile_, errno);
        struct stat st;
        int r = ::fstat(fd, &st);
        int e = errno;
        ::close(fd);
        if (r != 0) fail(kZipCreate, zipfile_, e);
        // A rename would split the links silently.
        if (st.st_nlink > 1) fail(kZipCreate, zipfile_, EMLINK);
        zipStat_ = st;
        newMode_ = st.st_mode & 07777;
        return;
    }
    mode_t mask = ::umask(0);
    ::umask(mask);
    newMode_ = 0666 & ~mask;
    if (!req_.tempdir) {
        std::string dir = dirPart(target_);
        if (dir.empty()) dir = ".";
        if (::faccessat(AT_FDCWD, dir.c_str(), W_OK, AT_EACCESS) != 0) fail(kZipCreate, zipfile_, errno);
    }
}

void Run::copyRange(int fd, uint64_t from, uint64_t len, const std::string& what) {
    if (!copyBuf_) copyBuf_.reset(new char[kStoreReadSize]);
    char* buf = copyBuf_.get();
    while (len > 0) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(len, kStoreReadSize));
        ssize_t r = preadRetry(fd, buf, n, static_cast<off_t>(from));
        if (r < 0) fail(kZipRead, what, errno);
        if (r == 0) fail(kZipEof, what);
        if (!out_.write(buf, static_cast<size_t>(r))) fail(kZipWrite, what, errno);
        from += static_cast<uint64_t>(r);
        len -= static_cast<uint64_t>(r);
    }
}

void Run::copyEntry(ArchiveEntry& e) {
    e.localHeaderOffset = out_.tell();
    copyRange(old_.get(), e.oldOffset, e.recordLen, "was copying " + e.iname);
}

// Compresses one file into entry e (new or replaced). False when the file
// cannot be opened: nothing was written then.
bool Run::zipFile(ArchiveEntry& e, const std::string& path, const char* verb) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) fail(kZipNoFile, path, errno);
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
    uint64_t size = S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
    bool store = isDir || (S_ISREG(st.st_mode) && size == 0) || req_.method == 0 || req_.level == 0;
    if (!store) store = zipStoredBySuffix(e.iname, req_.special);
    startEntry(e, st, store, what);
    uint64_t dataStart = out_.tell();
    if (store) {
        if (!isDir) storeData(e, in.get(), what);
    } else {
        deflateData(e, in.get(), dataStart, what);
    }
    endEntry(e, st, path, verb, what);
    return true;
}

// Fills in what is known before the data and writes a provisional local
// header with the descriptor flag; endEntry rewrites it.
void Run::startEntry(ArchiveEntry& e, const struct stat& st, bool store, const std::string& what) {
    bool isDir = S_ISDIR(st.st_mode);
    uint64_t size = S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
    e.dosTime = zipDosTime(st.st_mtime);
    e.externalAttributes = static_cast<uint32_t>(st.st_mode) << 16 |
                           ((st.st_mode & S_IWUSR) ? 0 : kDosReadOnly) | (isDir ? kDosDirectory : 0);
    e.versionMadeBy = kMadeBy;
    e.method = store ? ZIPMETHOD_STORED : ZIPMETHOD_DEFLATED;
    e.versionNeeded = store ? kStoredVersion : kDeflatedVersion;
    e.localFlags = kZipFlagDescriptor;
    if (!store && req_.level == 1) e.localFlags |= kZipFlagDeflateFast;
    if (!store && req_.level == 9) e.localFlags |= kZipFlagDeflateMaximum;
    e.crc = 0;
    e.compressedSize = store ? size : 0;
    e.size = size;
    e.internalAttributes = 0;
    e.diskStart = 0;
    e.localExtra.clear();
    e.centralExtra.clear();
    e.localHeaderOffset = out_.tell();
    if (!out_.write(zipLocalHeaderBytes(e))) fail(kZipWrite, what, errno);
}

void Run::storeData(ArchiveEntry& e, int fd, const std::string& what) {
    uint32_t crc = 0xFFFFFFFFu;
    uint64_t count = 0;
    std::unique_ptr<char[]> buf(new char[kStoreReadSize]);
    for (;;) {
        ssize_t r = readRetry(fd, buf.get(), kStoreReadSize);
        if (r < 0) fail(kZipRead, what, errno);
        if (r == 0) break;
        crc = crc32Update(crc, reinterpret_cast<unsigned char*>(buf.get()), static_cast<size_t>(r));
        count += static_cast<uint64_t>(r);
        if (!out_.write(buf.get(), static_cast<size_t>(r))) fail(kZipWrite, what, errno);
    }
    e.crc = crc ^ 0xFFFFFFFFu;
    e.size = count;
    e.compressedSize = count;
}

void Run::deflateData(ArchiveEntry& e, int fd, uint64_t dataStart, const std::string& what) {
    Deflater& d = deflater();
    FileInput input(fd);
    DeflateSink sink(out_);
    uint16_t method = ZIPMETHOD_DEFLATED;
    uint16_t attribute = 0;
    d.bi_init(&sink);
    d.ct_init(&attribute, &method);
    int rc = d.lm_init(req_.level, &e.localFlags, &input);
    if (rc == kZipRead) fail(kZipRead, what, input.err);
    if (rc != kZipOk) fail(kZipLogic, d.errorText());
    int64_t n = d.deflate();
    d.lm_free();
    if (n < 0) {
        if (sink.err) fail(kZipWrite, what, sink.err);
        if (d.errorCode() == kZipRead) fail(kZipRead, what, input.err);
        fail(kZipLogic, d.errorText());
    }
    if (static_cast<uint64_t>(n) != sink.written || out_.tell() - dataStart != sink.written)
        fail(kZipLogic, "incorrect compressed size");
    e.crc = input.crc ^ 0xFFFFFFFFu;
    e.size = input.count;
    e.method = method;
    e.versionNeeded = method == ZIPMETHOD_STORED ? kStoredVersion : kDeflatedVersion;
    e.internalAttributes = attribute;
    e.compressedSize = sink.written;
}

// The final values go into the local header; no descriptor follows.
void Run::endEntry(ArchiveEntry& e, const struct stat& st, const std::string& path, const char* verb,
                   const std::string& what) {
    if (S_ISREG(st.st_mode) && e.size != static_cast<uint64_t>(st.st_size))
        warn(" file size changed while zipping ", path);
    if (e.compressedSize >= kMax32 || e.size >= kMax32 || e.localHeaderOffset >= kMax32) {
        warn("entry sizes and offsets must stay below 4 GiB (0xFFFFFFFF) without zip64: ", e.iname);
        fail(kZipTooBig, zipfile_);
    }
    if (req_.verbose) {
        std::string tail = e.method == ZIPMETHOD_DEFLATED
                               ? " (deflated " + percentText(e.size, e.compressedSize) + "%)"
                               : " (stored 0%)";
        zip_->printf("%s%s%s\n", verb, e.iname.c_str(), tail.c_str());
    }
    e.localFlags &= static_cast<uint16_t>(~kZipFlagDescriptor);
    e.generalFlags = e.localFlags;
    if (!out_.rewrite(e.localHeaderOffset, zipLocalHeaderBytes(e))) fail(kZipWrite, what, errno);
}

void Run::writeCentral() {
    uint64_t cenStart = out_.tell();
    for (auto& p : zfiles_)
        if (!out_.write(zipCentralHeaderBytes(*p))) fail(kZipWrite, "was writing central directory", errno);
    uint64_t cenEnd = out_.tell();
    if (cenEnd >= kMax32) {
        warn("the central directory must end below 4 GiB (0xFFFFFFFF) without zip64");
        fail(kZipTooBig, zipfile_);
    }
    if (zfiles_.empty()) warn("zip file empty");
    const std::string& comment = req_.zipedit ? req_.zipComment : zcomment_;
    std::string end = zipEndRecordBytes(zfiles_.size(), cenEnd - cenStart, cenStart, comment);
    if (!out_.write(end)) fail(kZipWrite, "was writing central directory", errno);
}

void Run::write() {
    std::string pattern = tempath_ + "_ZXXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) fail(kZipTemp, tempath_.empty() ? "." : tempath_, errno);
    tempzip_ = name.data();
    temp_.reset(fd);
    step(ZipStep::TempCreated);
    out_.attach(fd);

    if (zipbeg_ > 0) copyRange(old_.get(), 0, zipbeg_, zipfile_);
    writeOldEntries();
    writeNewFiles();
    checkLimits();
    writeCentral();
    syncTemp();
}

// The old entries in archive order: copied, left out (delete) or replaced
// by their file.
void Run::writeOldEntries() {
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
        statusCallback(e.iname);
        if (action_ == ZIP_ACTION_DELETE) {
            if (req_.verbose) zip_->printf("deleting: %s\n", e.iname.c_str());
            continue;
        }
        // A replacement keeps its member comment unless "-c" gives one.
        ArchiveEntry fresh;
        fresh.iname = e.iname;
        fresh.comment = e.newComment ? *e.newComment : e.comment;
        if (zipFile(fresh, e.path, "updating: ")) {
            fresh.path = e.path;
            e = std::move(fresh);
        } else {
            zip_->setError("warn: Could not open %s for reading, will copy over %s", e.path.c_str(),
                           e.iname.c_str());
            couldNotRead_ = true;
            copyEntry(e);
        }
        kept.push_back(std::move(p));
    }
    zfiles_ = std::move(kept);
}

void Run::writeNewFiles() {
    for (auto& f : found_) {
        auto e = std::make_unique<ArchiveEntry>();
        e->iname = f->iname;
        if (f->comment) e->comment = *f->comment;
        statusCallback(e->iname);
        if (!zipFile(*e, f->path, "  adding: ")) {
            zip_->setError("warn: Could not open %s for reading", f->path.c_str());
            couldNotRead_ = true;
            continue;
        }
        e->path = f->path;
        if (zip_->okCallback) zip_->okCallback(zip_->okClientData, e->iname.c_str(), f->path.c_str());
        zfiles_.push_back(std::move(e));
    }
}

// The reader takes no zip64 records: refuse what it could not read.
void Run::checkLimits() {
    if (zfiles_.size() > kMaxEntries) {
        warn("a zip file without zip64 holds at most 65535 entries");
        fail(kZipTooBig, zipfile_);
    }
    for (auto& e : zfiles_) {
        if (e->localHeaderOffset >= kMax32 || e->compressedSize >= kMax32 || e->size >= kMax32) {
            warn("entry sizes and offsets must stay below 4 GiB (0xFFFFFFFF) without zip64: ", e->iname);
            fail(kZipTooBig, zipfile_);
        }
    }
}

// Data first: the rename must never put a file in place whose bytes may
// still be lost.
void Run::syncTemp() {
    if (!out_.flush()) fail(kZipWrite, tempzip_, errno);
    step(ZipStep::DataWritten);
    setMode(temp_.get());
    if (fsyncRetry(temp_.get()) != 0) fail(kZipWrite, tempzip_, errno);
    if (::close(temp_.release()) != 0) fail(kZipTemp, tempzip_, errno);
    step(ZipStep::Synced);
    old_.reset();
}

// The new archive gets the old one's owner (where permitted) and mode.
// False with errno.
bool Run::applyMode(int fd) const {
    if (exists_ && ::fchown(fd, zipStat_.st_uid, zipStat_.st_gid) != 0 && errno != EPERM) return false;
    return ::fchmod(fd, newMode_) == 0;
}

void Run::setMode(int fd) {
    if (!applyMode(fd)) fail(kZipTemp, tempzip_, errno);
}

// The synced temporary file goes over the archive. With "-b" on another
// file system it is first copied to a second temporary file beside the
// archive. Each step keeps its own message.
void Run::replace() {
    ReplaceOptions options;
    options.sourceSynced = true;
    options.copyName = "_ZXXXXXX";
    options.prepareCopy = [this](int fd) { return applyMode(fd); };
    options.renamed = [this] { step(ZipStep::Renamed); };
    options.keepCopyOnFailedRename = true;
    ReplaceReport r;
    renameFile(tempzip_.c_str(), target_.c_str(), options, &r);
    const std::string& copy = r.copyPath;
    switch (r.failed) {
        case ReplaceStep::None:
            break;
        case ReplaceStep::SyncSource:  // not asked for
        case ReplaceStep::Rename:
            keepTemp_ = true;
            warn("new zip file left as: ", tempzip_);
            fail(kZipCreate, "was replacing the original zip file", r.err);
        case ReplaceStep::CreateCopy: {
            std::string dir = dirPart(target_);
            fail(kZipTemp, dir.empty() ? "." : dir, r.err);
        }
        case ReplaceStep::OpenSource:
            zip_->printf(" replace: can't open %s\n", tempzip_.c_str());
            fail(kZipTemp, tempzip_, r.err);
        case ReplaceStep::ReadSource:
            fail(kZipRead, tempzip_, r.err);
        case ReplaceStep::WriteCopy:
        case ReplaceStep::SyncCopy:
            fail(kZipWrite, copy, r.err);
        case ReplaceStep::PrepareCopy:
            fail(kZipTemp, tempzip_, r.err);
        case ReplaceStep::CloseCopy:
            fail(kZipTemp, copy, r.err);
        case ReplaceStep::RenameCopy:
            warn("new zip file left as: ", copy);
            fail(kZipCreate, "was replacing the original zip file", r.err);
    }
    tempzip_.clear();
    if (r.dirSyncErr) {
        std::string dir = dirPart(target_);
        if (dir.size() > 1) dir.pop_back();
        if (dir.empty()) dir = ".";
        warn("could not sync directory ", dir);
    }
    step(ZipStep::DirSynced);
}

// Runs body as one run: failures become the Zip's error text and 0.
template <class Body>
int runOnce(Zip* zip, ZipAction action, const char* archive, Body body) {
    if (!zip) return 0;
    if (g_running) {
        zip->setError("%s (%s)", zipErrorText(kZipLogic), archive ? archive : "");
        return 0;
    }
    g_running = true;
    int result = 0;
    std::optional<Run> run;
    try {
        run.emplace(zip, action);
        result = body(*run);
    } catch (const RunFailure& rf) {
        if (run) run->abandon();
        const ZipFailure& f = rf.failure;
        if (zipErrorHasSystemText(f.code))
            zip->setError("%s, %s (%s)", zipErrorText(f.code), strerror(f.sysErr), f.detail.c_str());
        else
            zip->setError("%s (%s)", zipErrorText(f.code), f.detail.c_str());
        result = 0;
    } catch (const std::bad_alloc&) {
        if (run) run->abandon();
        zip->setError("%s (%s)", zipErrorText(kZipMemory), "was adding files to zip file");
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

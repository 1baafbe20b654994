#include "bmod/unzipd/zip/zip_reader.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bmod/unzipd/zip/zip_pool.h"
#include "common/docmodel/comment_tokens.h"
#include "common/docmodel/libid.h"
#include "common/fd_io.h"
#include "common/log_levels.h"
#include "common/patterns.h"
#include "common/string_list.h"
#include "common/text.h"
#include "common/tokens.h"
#include "common/zip_format.h"

namespace ruva {
namespace {

// The end record is looked for in the last 1023 bytes, then in the last
// 65535 + 22. The comment is read with one 1023-byte read, so a longer one
// makes the library unreadable.
constexpr unsigned long kFirstWindow = 1023;
constexpr unsigned long kLastWindow = 65557;
constexpr size_t kMaxArchiveComment = 1023;
// readCentralHeader reads this much for one header.
constexpr size_t kCentralReadSize = 1023;

FolderIndexObserver g_folderIndexObserver = nullptr;

int noCreateIndexfile(ZipStructure*, StringList*) {
    return 0;
}
int noAddIndexfile(ZipStructure*, const char*) {
    return 0;
}
int noParseIndexfile(ZipStructure*, CentralHeader*) {
    return 0;
}
FolderIndexHooks g_folderIndexHooks = {noCreateIndexfile, noAddIndexfile, noParseIndexfile};

template <class... Args>
void say(const ZipStructure* zs, int level, const char* format, Args... args) {
    if (zs->warn) zs->warn(zs->clientData, level, format, args...);
}

const char* errorText() {
    return std::strerror(errno);
}

// Texts come from the name pool, or malloc without a ZipPool. Every free
// passes the size that was allocated.
char* allocText(const ZipStructure* zs, size_t size) {
    if (zs->zipPool) return static_cast<char*>(zs->zipPool->namePool->alloc(size));
    return static_cast<char*>(std::malloc(size));
}

char* copyText(const ZipStructure* zs, const void* bytes, size_t len) {
    char* text = allocText(zs, len + 1);
    if (!text) return nullptr;
    std::memcpy(text, bytes, len);
    text[len] = '\0';
    return text;
}

char* copyText(const ZipStructure* zs, const std::string& text) {
    return copyText(zs, text.data(), text.size());
}

void freeText(const ZipStructure* zs, char* text, size_t size) {
    if (!text) return;
    if (zs->zipPool)
        zs->zipPool->namePool->free(text, size);
    else
        std::free(text);
}

void freeText(const ZipStructure* zs, char* text) {
    if (text) freeText(zs, text, std::strlen(text) + 1);
}

CentralHeader* allocHeader(const ZipStructure* zs) {
    void* mem;
    if (zs->zipPool) {
        Pool* pool = zs->zipPool->centralHeaderPool.get();
        mem = pool && pool->itemSize >= sizeof(CentralHeader) ? pool->alloc() : nullptr;
    } else {
        mem = std::malloc(sizeof(CentralHeader));
    }
    return mem ? new (mem) CentralHeader{} : nullptr;
}

void freeHeader(const ZipStructure* zs, CentralHeader* ch) {
    freeText(zs, ch->fname, ch->fnameSize);
    freeText(zs, ch->comment, ch->commentSize);
    freeText(zs, ch->bitmap);
    if (zs->zipPool)
        zs->zipPool->centralHeaderPool->free(ch);
    else
        std::free(ch);
}

bool readAt(int fd, unsigned long offset, void* buf, size_t n) {
    return ::lseek(fd, off_t(offset), SEEK_SET) >= 0 && readUpTo(fd, buf, n) == n;
}

// "kvoversion.txt" carries the library's content version as INFO: "3 4".
// The tokenizer cuts the stored comment in place; it then reads "INFO:".
void readKvoVersion(ZipStructure* zs, char* comment) {
    char* cursor = comment;
    const char* keyword = getNextToken(&cursor);
    if (!keyword || strcasecmp(keyword, "INFO:") != 0) return;
    char* value = getNextToken(&cursor);
    if (!value) return;
    const char* first = getNextToken(&value);
    const char* second = getNextToken(&value);
    if (!first || !second) return;
    zs->version[0] = first[0];
    zs->version[1] = second[0];
    zs->version[2] = '\0';
}

enum class EndSearch { kFound, kNotFound, kFailed };

// One attempt over the bytes from start to the end of the file: the
// rightmost signature wins, even one inside the comment. Sets *endOffset.
EndSearch findEndRecord(ZipStructure* zs, int fd, unsigned long start, unsigned long* endOffset) {
    if (::lseek(fd, off_t(start), SEEK_SET) < 0) {
        say(zs, kLogErr, "File %s [%d], lseek %lu failed, %s", zs->zipName, fd, start, errorText());
        return EndSearch::kFailed;
    }
    std::vector<unsigned char> window(zs->fileSize - start);
    size_t got = readUpTo(fd, window.data(), window.size());
    if (got < kZipSignatureSize) return EndSearch::kNotFound;
    size_t pos = got - kZipSignatureSize;
    while (!isZipSignature(&window[pos], kZipEndSignature)) {
        if (pos == 0) return EndSearch::kNotFound;
        --pos;
    }

    const unsigned char* p = &window[pos];
    size_t behind = got - pos - kZipSignatureSize;
    if (behind < kZipEndRecordSize - kZipSignatureSize) {
        say(zs, kLogErr, "File %s, read only %d bytes", zs->zipName, int(behind));
        return EndSearch::kFailed;
    }
    *endOffset = start + pos;
    const ZipEndRecord record = decodeZipEnd(p);
    CentralDirEnd& end = zs->centralDirEnd;
    end.diskNumber = record.diskNumber;
    end.diskCentralStart = record.centralDisk;
    end.centralEntryCountThisDisk = record.entriesThisDisk;
    end.totalCentralEntries = record.totalEntries;
    end.centralDirSize = record.centralSize;
    end.centralStartOffset = record.centralOffset;
    uint16_t storedLen = record.commentLength;
    end.comment = nullptr;
    end.commentLen = 0;
    if (storedLen == 0) return EndSearch::kFound;

    size_t available = got - pos - kZipEndRecordSize;
    if (available < storedLen || storedLen > kMaxArchiveComment) {
        say(zs, kLogErr, "File %s, read only %d bytes", zs->zipName,
            int(std::min(available, kMaxArchiveComment)));
        return EndSearch::kFailed;
    }
    const unsigned char* comment = p + kZipEndRecordSize;
    size_t blanks = 0;
    while (blanks < storedLen && comment[blanks] == ' ') ++blanks;
    uint16_t len = uint16_t(storedLen - blanks);
    end.comment = copyText(zs, comment + blanks, len);
    if (!end.comment) {
        say(zs, kLogErr, "File %s, out of memory for string", zs->zipName);
        return EndSearch::kFailed;
    }
    end.commentLen = len;
    return EndSearch::kFound;
}

// Finds and checks the end record; *endOffset is where it starts.
bool readEndRecord(ZipStructure* zs, int fd, unsigned long* endOffset) {
    unsigned long start = zs->fileSize > kFirstWindow ? zs->fileSize - kFirstWindow : 0;
    EndSearch found = findEndRecord(zs, fd, start, endOffset);
    if (found == EndSearch::kNotFound && zs->fileSize > kFirstWindow) {
        start = zs->fileSize > kLastWindow ? zs->fileSize - kLastWindow : 0;
        found = findEndRecord(zs, fd, start, endOffset);
    }
    if (found == EndSearch::kNotFound)
        say(zs, kLogErr, "File %s, cannot find start of CentralEnd header, offset %lu", zs->zipName, start);
    if (found != EndSearch::kFound) return false;

    // A ZIP64 archive keeps its real counts, sizes and offsets elsewhere:
    // reading the 32-bit end record would lose members.
    const CentralDirEnd& end = zs->centralDirEnd;
    unsigned char locator[kZipSignatureSize];
    bool hasLocator = *endOffset >= kZip64LocatorSize &&
                      readAt(fd, *endOffset - kZip64LocatorSize, locator, sizeof locator) &&
                      isZipSignature(locator, kZip64LocatorSignature);
    if (hasLocator || end.centralDirSize == kZip64Field || end.centralStartOffset == kZip64Field) {
        say(zs, kLogErr, "File %s, ZIP64 archive not supported", zs->zipName);
        return false;
    }
    if (end.centralStartOffset > zs->fileSize) {
        say(zs, kLogErr, "File %s, invalid centralStartOffset %lu", zs->zipName, end.centralStartOffset);
        return false;
    }
    return true;
}

bool setLibraryId(ZipStructure* zs) {
    std::optional<std::string> id = libidGetFromText(zs->centralDirEnd.comment);
    zs->libID = copyText(zs, id.value_or(std::string()));
    if (!zs->libID) {
        say(zs, kLogErr, "File %s, out of memory for LZN number", zs->zipName);
        return false;
    }
    std::optional<std::string> code = libidGetLanguageCodeOrDefault(zs->libID);
    zs->languageCode = copyText(zs, code.value_or(std::string()));
    if (!zs->languageCode) {
        say(zs, kLogErr, "File %s, out of memory for language code", zs->zipName);
        return false;
    }
    return true;
}

// Kvo libraries: the folder pages and the index member seen while reading.
struct FolderPages {
    bool kvo = false;
    StringList pages;
    CentralHeader* indexMember = nullptr;

    void see(CentralHeader* ch) {
        if (!kvo || indexMember) return;
        if (std::strcmp(ch->fname, "folderindex.txt") == 0)
            indexMember = ch;
        else if (ch->fname[0] == 'h' && std::strstr(ch->fname, ".html"))
            pages.add(ch->fname);
    }
};

// Parses totalCentralEntries headers, each limited to the directory bytes
// left. The directory is read whole; only when that buffer cannot be had is
// each header read on its own (up to 1023 bytes).
bool readCentralDirectory(ZipStructure* zs, int fd, unsigned long endOffset, FolderPages& folders) {
    const CentralDirEnd& end = zs->centralDirEnd;
    const unsigned long dirStart = end.centralStartOffset;
    const size_t dirSize = end.centralDirSize;
    // Bounded by the file before anything is allocated from the header field.
    if (dirStart + dirSize > endOffset) {
        say(zs, kLogErr, "File %s, read only %d bytes", zs->zipName,
            int(endOffset > dirStart ? endOffset - dirStart : 0));
        return false;
    }
    std::unique_ptr<unsigned char, decltype(&std::free)> dir(
        static_cast<unsigned char*>(std::malloc(dirSize ? dirSize : 1)), &std::free);
    if (dir) {
        if (::lseek(fd, off_t(dirStart), SEEK_SET) < 0) {
            say(zs, kLogErr, "File %s [%d], failed to seek to %lu", zs->zipName, fd, dirStart);
            return false;
        }
        size_t got = readUpTo(fd, dir.get(), dirSize);
        if (got < dirSize) {
            say(zs, kLogErr, "File %s, read only %d bytes", zs->zipName, int(got));
            return false;
        }
    }
    unsigned char single[kCentralReadSize];
    // The bytes of the directory from pos on, at most 1023 without the buffer.
    auto bytesAt = [&](size_t pos) -> std::pair<const unsigned char*, size_t> {
        size_t left = dirSize - pos;
        if (dir) return {dir.get() + pos, left};
        unsigned long offset = dirStart + pos;
        if (::lseek(fd, off_t(offset), SEEK_SET) < 0) {
            say(zs, kLogErr, "File %s [%d], failed to seek to %lu", zs->zipName, fd, offset);
            return {nullptr, 0};
        }
        return {single, readUpTo(fd, single, std::min(left, sizeof single))};
    };

    size_t pos = 0;
    for (unsigned i = 0; i < end.totalCentralEntries; ++i) {
        auto [bytes, count] = bytesAt(pos);
        if (!bytes) return false;
        CentralHeader* ch = zs->parseCentralHeader(bytes, count);
        if (!ch) return false;
        pos += kZipCentralHeaderSize + ch->trailerLen;
        folders.see(ch);
    }
    // One more header inside the directory: the 16-bit count has wrapped.
    if (dirSize - pos >= kZipSignatureSize) {
        auto [bytes, count] = bytesAt(pos);
        if (!bytes) return false;
        if (count >= kZipSignatureSize && isZipSignature(bytes, kZipCentralSignature)) {
            say(zs, kLogErr, "File %s, ZIP64 archive not supported", zs->zipName);
            return false;
        }
    }
    return true;
}

}  // namespace

void setFolderIndexHooks(const FolderIndexHooks* hooks) {
    g_folderIndexHooks.createIndexfile =
        hooks && hooks->createIndexfile ? hooks->createIndexfile : noCreateIndexfile;
    g_folderIndexHooks.addIndexfile = hooks && hooks->addIndexfile ? hooks->addIndexfile : noAddIndexfile;
    g_folderIndexHooks.parseIndexfile =
        hooks && hooks->parseIndexfile ? hooks->parseIndexfile : noParseIndexfile;
}

void setFolderIndexObserver(FolderIndexObserver observer) {
    g_folderIndexObserver = observer;
}

ZipStructure* newZipStructure(ZipPool* zipPool, const char* path, uint16_t flags, void* clientData,
                              ZipWarnFn warn) {
    if (!path) return nullptr;
    struct stat st;
    if (::stat(path, &st) != 0) {
        if (warn) warn(clientData, kLogErr, "File %s, stat failed, %s", path, errorText());
        return nullptr;
    }
    if (st.st_size <= off_t(kZipEndRecordSize - 1)) {
        if (warn)
            warn(clientData, kLogErr, "File %s too small, %lu", path, static_cast<unsigned long>(st.st_size));
        return nullptr;
    }

    void* mem;
    if (zipPool) {
        Pool* pool = zipPool->zipStructurePool.get();
        mem = pool && pool->itemSize >= sizeof(ZipStructure) ? pool->alloc() : nullptr;
    } else {
        mem = std::malloc(sizeof(ZipStructure));
    }
    if (!mem) {
        if (warn) warn(clientData, kLogErr, "File %s, out of memory for ZIP structure", path);
        return nullptr;
    }
    ZipStructure* zs = new (mem) ZipStructure{};
    zs->zipPool = zipPool;
    zs->warn = warn;
    zs->clientData = clientData;
    zs->flags = flags;
    zs->fileSize = static_cast<unsigned long>(st.st_size);
    zs->mTime = st.st_mtime;
    const char* slash = std::strrchr(path, '/');
    zs->zipName = copyText(zs, path, std::strlen(path));
    zs->zipBasename =
        zs->zipName ? copyText(zs, slash ? slash + 1 : path, std::strlen(slash ? slash + 1 : path)) : nullptr;
    if (!zs->zipBasename) {
        say(zs, kLogErr, "File %s, out of memory for string", path);
        zs->del();
        return nullptr;
    }

    int fd = zs->openZipFile();
    if (fd < 0) {
        zs->del();
        return nullptr;
    }
    FolderPages folders;
    folders.kvo = std::strstr(zs->zipName, ".kvo") != nullptr;
    unsigned long endOffset = 0;
    bool ok = readEndRecord(zs, fd, &endOffset) && setLibraryId(zs) &&
              readCentralDirectory(zs, fd, endOffset, folders);
    zs->closeZipFile(fd);
    if (!ok) {
        zs->del();
        return nullptr;
    }

    if (folders.kvo) {
        if (g_folderIndexObserver) g_folderIndexObserver(zs, &folders.pages, folders.indexMember);
        if (folders.indexMember) {
            zs->parseIndexfile(folders.indexMember);
            if (zs->flags & kZipIndexBuilder)
                say(zs, kLogNotice, "Index file already exists in library %s", zs->zipName);
        } else {
            zs->createIndexfile(&folders.pages);
        }
    }
    return zs;
}

void ZipStructure::del() {
    for (CentralHeader* ch = firstCentralHeader; ch;) {
        CentralHeader* following = ch->next;
        freeHeader(this, ch);
        ch = following;
    }
    firstCentralHeader = lastCentralHeader = nullptr;
    freeText(this, zipName);
    freeText(this, zipBasename);
    freeText(this, centralDirEnd.comment, size_t(centralDirEnd.commentLen) + 1);
    freeText(this, libID);
    freeText(this, languageCode);
    zipName = zipBasename = centralDirEnd.comment = libID = languageCode = nullptr;
    next = MlNext = nextLZN = nullptr;
    if (zipPool)
        zipPool->zipStructurePool->free(this);
    else
        std::free(this);
}

CentralHeader* ZipStructure::findCentralHeader(const char* name, CentralHeader* after) {
    if (!name) return nullptr;
    const bool folded = flags & kZipFoldNames;
    CentralHeader* ch = after ? after->next : firstCentralHeader;
    if (isSearchPattern(name)) {
        // A pattern starting with a letter or digit can only match names
        // starting with it: skip the others before the full match.
        const unsigned char lead = static_cast<unsigned char>(name[0]);
        const bool prefilter = isAsciiAlpha(lead) || isAsciiDigit(lead);
        for (; ch; ch = ch->next) {
            if (prefilter && ltolower(static_cast<unsigned char>(ch->fname[0])) != ltolower(lead)) continue;
            if (matchPattern(name, ch->fname, folded ? 1 : 0)) return ch;
        }
        return nullptr;
    }
    for (; ch; ch = ch->next) {
        if (folded ? strcasecmp(name, ch->fname) == 0 : std::strcmp(name, ch->fname) == 0) return ch;
    }
    return nullptr;
}

CentralHeader* ZipStructure::readCentralHeader(int fd) {
    unsigned char bytes[kCentralReadSize];
    return parseCentralHeader(bytes, readUpTo(fd, bytes, sizeof bytes));
}

CentralHeader* ZipStructure::parseCentralHeader(const unsigned char* bytes, size_t count) {
    if (!bytes || count < kZipCentralHeaderSize) {
        say(this, kLogErr, "File %s, read only %d bytes of CentralHeader", zipName, int(bytes ? count : 0));
        return nullptr;
    }
    if (!isZipSignature(bytes, kZipCentralSignature)) {
        say(this, kLogErr,
            "File %s, CentralDirectory signature mismatch 0x%02x%02x%02x%02x, ZIP file corrupt", zipName,
            bytes[0], bytes[1], bytes[2], bytes[3]);
        return nullptr;
    }
    const ZipCentralRecord record = decodeZipCentral(bytes);
    if (record.compressedSize == kZip64Field || record.size == kZip64Field ||
        record.localHeaderOffset == kZip64Field) {
        say(this, kLogErr, "File %s, ZIP64 archive not supported", zipName);
        return nullptr;
    }
    CentralHeader* ch = allocHeader(this);
    if (!ch) {
        say(this, kLogErr, "File %s, out of memory for CentralHeader", zipName);
        return nullptr;
    }
    const uint16_t nameLen = record.nameLength;
    const uint16_t extraLen = record.extraLength;
    const uint16_t commentLen = record.commentLength;
    // Up to 3 x 65535: a 16-bit sum would wrap and let the copies run past
    // the bytes given.
    ch->trailerLen = uint32_t(nameLen) + extraLen + commentLen;
    auto fail = [&]() -> CentralHeader* {
        freeHeader(this, ch);
        return nullptr;
    };
    if (count - kZipCentralHeaderSize < ch->trailerLen) {
        say(this, kLogErr, "File %s, CentralHeader trailer too long (%u), only have %d", zipName,
            unsigned(ch->trailerLen), int(std::min<size_t>(count, 0x7fffffff)));
        return fail();
    }
    if (nameLen == 0) {
        say(this, kLogErr, "File %s, CentralHeader indicates 0 length filename, ZIP file corrupt", zipName);
        return fail();
    }
    const unsigned char* trailer = bytes + kZipCentralHeaderSize;
    ch->fname = copyText(this, trailer, nameLen);
    if (!ch->fname) {
        say(this, kLogErr, "File %s, out of memory for filename", zipName);
        return fail();
    }
    ch->fnameSize = uint32_t(nameLen) + 1;
    if (flags & kZipFoldNames) lstrlwr(ch->fname);
    if (commentLen) {
        ch->comment = copyText(this, trailer + nameLen + extraLen, commentLen);
        if (!ch->comment) {
            say(this, kLogErr, "File %s, out of memory for string", zipName);
            return fail();
        }
        ch->commentSize = uint32_t(commentLen) + 1;
        if (std::strstr(ch->comment, "CAT:")) {
            std::optional<std::string> bitmap = extractDocumentBitmap(ch->comment);
            if (bitmap && !(ch->bitmap = copyText(this, *bitmap))) {
                say(this, kLogErr, "File %s, out of memory for string", zipName);
                return fail();
            }
        }
    }
    ch->folder = 0;
    ch->localHeaderOffset = record.localHeaderOffset;
    ch->crc = record.crc;
    ch->cSize = record.compressedSize;
    ch->ucSize = record.size;
    if (ch->comment && std::strcmp(ch->fname, "kvoversion.txt") == 0) readKvoVersion(this, ch->comment);

    if (lastCentralHeader)
        lastCentralHeader->next = ch;
    else
        firstCentralHeader = ch;
    lastCentralHeader = ch;
    return ch;
}

int ZipStructure::openZipFile() {
    int fd = openRegularFile(zipName, O_RDONLY);
    if (fd < 0) say(this, kLogErr, "Failed to open ZIP file, %s '%s'", errorText(), zipName);
    return fd;
}

void ZipStructure::closeZipFile(int fd) {
    if (fd >= 0) ::close(fd);
}

LocalHeader* ZipStructure::readLocalHeader(const CentralHeader* ch, int fd) {
    if (!ch) {
        say(this, kLogCrit, "Invalid arguments to readLocalHeader");
        return nullptr;
    }
    int ownFd = -1;
    if (fd < 0) {
        fd = ownFd = openZipFile();
        if (fd < 0) return nullptr;
    }
    LocalHeader* lh = nullptr;
    unsigned char b[kZipLocalHeaderSize];
    size_t got = 0;
    if (::lseek(fd, off_t(ch->localHeaderOffset), SEEK_SET) < 0) {
        say(this, kLogErr, "File %s [%d], lseek to %lu failed, %s", zipName, fd, ch->localHeaderOffset,
            errorText());
    } else if ((got = readUpTo(fd, b, sizeof b)) < sizeof b) {
        say(this, kLogErr, "File %s, read only %d bytes", zipName, int(got));
    } else if (!isZipSignature(b, kZipLocalSignature)) {
        // The text names the wrong header; callers' logs are matched on it.
        say(this, kLogErr, "File %s, Central Header signature mismatch 0x%02x%02x%02x%02x", zipName, b[0],
            b[1], b[2], b[3]);
    } else if (!(lh = static_cast<LocalHeader*>(std::malloc(sizeof(LocalHeader))))) {
        say(this, kLogErr, "File %s, no memory for LocalHeader", zipName);
    } else {
        const ZipLocalRecord record = decodeZipLocal(b);
        lh = new (lh) LocalHeader{};
        lh->versionNeeded[0] = record.versionNeeded;
        lh->versionNeeded[1] = record.hostNeeded;
        lh->generalFlags = record.flags;
        lh->method = record.method;
        lh->modTime = record.time;
        lh->modDate = record.date;
        lh->crc = record.crc;
        lh->cSize = record.compressedSize;
        lh->ucSize = record.size;
        lh->fnameLen = record.nameLength;
        lh->extraLen = record.extraLength;
        // The local fields are 0 (or unreliable) when a descriptor follows
        // the data; the central directory has the real values.
        if (lh->generalFlags & kZipFlagDescriptor) {
            lh->crc = ch->crc;
            lh->cSize = ch->cSize;
            lh->ucSize = ch->ucSize;
        }
    }
    closeZipFile(ownFd);
    return lh;
}

void ZipStructure::freeLocalHeader(LocalHeader* lh) {
    std::free(lh);
}

int ZipStructure::createIndexfile(StringList* pageNames) {
    return g_folderIndexHooks.createIndexfile(this, pageNames);
}

int ZipStructure::addIndexfile(const char* path) {
    return g_folderIndexHooks.addIndexfile(this, path);
}

int ZipStructure::parseIndexfile(CentralHeader* indexMember) {
    return g_folderIndexHooks.parseIndexfile(this, indexMember);
}

}  // namespace ruva

#include "bmod/unzipd/zip/folder_index.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "bmod/unzipd/zip/unzip.h"
#include "bmod/unzipd/zip/zip_reader.h"
#include "bmod/unzipd/zip/zip_update.h"
#include "common/log_levels.h"
#include "common/patterns.h"
#include "common/string_list.h"
#include "common/sysv_lock.h"
#include "common/text.h"

namespace ruva {
namespace {

// The extraction buffer each operation starts with; a bigger member gets a
// buffer of its own size from Unzip.
constexpr size_t kUnzipBufferSize = size_t(1) << 20;
constexpr size_t kMaxLine = 1024;
constexpr int kMutexWaitSeconds = 15;
constexpr size_t kWriteChunk = 65536;

constexpr std::string_view kFolderTag = "FolderID:";
constexpr std::string_view kFileTag = "File:";
constexpr std::string_view kDocumentLine = "TD valign=top nowrap";
constexpr std::string_view kDocumentRef = "?FN=";
constexpr const char kIndexName[] = "folderindex.txt";
constexpr const char kPrivateDirTemplate[] = "._upd.XXXXXX";

key_t g_updateMutexKey = kDefaultZipUpdateMutexKey;

// Calls fn for each line of text: a line ends at a line feed or after
// kMaxLine characters, so no line of a hostile member is ever longer.
template <class Fn>
void forEachLine(std::string_view text, Fn fn) {
    size_t pos = 0;
    while (pos < text.size()) {
        std::string_view rest = text.substr(pos, kMaxLine);
        size_t lf = rest.find('\n');
        if (lf == std::string_view::npos) {
            fn(rest);
            pos += rest.size();
        } else {
            fn(rest.substr(0, lf));
            pos += lf + 1;
        }
    }
}

// The leading decimal number of text as atoi reads it (blanks, a sign,
// digits); 0 when there is none or when it does not fit an int.
int leadingNumber(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && isAsciiSpace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && isAsciiDigit(static_cast<unsigned char>(text[i])); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) return 0;
    }
    if (negative) value = -value;
    return value < INT_MIN || value > INT_MAX ? 0 : static_cast<int>(value);
}

// Folder number of a page: the number after the first '_', up to ".html".
// False when the name has no '_' (the page keeps the previous number).
bool pageFolder(std::string_view page, int* folder) {
    size_t underscore = page.find('_');
    if (underscore == std::string_view::npos) return false;
    std::string_view number = page.substr(underscore + 1);
    *folder = leadingNumber(number.substr(0, number.find(".html")));
    return true;
}

// The member name a document line names, or empty: the text after "?FN="
// up to the next double quote, both after "TD valign=top nowrap".
std::string_view documentName(std::string_view line) {
    size_t td = line.find(kDocumentLine);
    if (td == std::string_view::npos) return {};
    size_t ref = line.find(kDocumentRef, td + kDocumentLine.size());
    if (ref == std::string_view::npos) return {};
    size_t start = ref + kDocumentRef.size();
    size_t quote = line.find('"', start);
    if (quote == std::string_view::npos) return {};
    return line.substr(start, quote - start);
}

// One "FolderID:<n>|File:<name>|" line; false when the line is not one.
bool indexLine(std::string_view line, int* folder, std::string_view* name) {
    size_t tag = line.find(kFolderTag);
    if (tag == std::string_view::npos) return false;
    size_t bar = line.find('|', tag + kFolderTag.size());
    if (bar == std::string_view::npos) return false;
    size_t file = line.find(kFileTag, bar + 1);
    if (file == std::string_view::npos) return false;
    size_t start = file + kFileTag.size();
    size_t end = line.find('|', start);
    if (end == std::string_view::npos) return false;
    *folder = leadingNumber(line.substr(tag + kFolderTag.size(), bar - tag - kFolderTag.size()));
    *name = line.substr(start, end - start);
    return true;
}

// The member whose folder a member without a page inherits, by name alone:
//   a. "19089" and "_0" in it, and ".html" after its second dot: the name
//      cut after the second dot, plus "html" (a.b.c.html -> a.b.html);
//   b. a '-' after its first dot and ".html" after that: the name cut at
//      the '-', plus ".html" (x.y-3.html -> x.y.html);
//   c. "._.pdf" in it: ".html" in its place (doc._.pdf -> doc.html).
// The first rule whose condition holds decides. False when none does.
bool relatedName(std::string_view name, std::string* related) {
    const size_t firstDot = name.find('.');
    if (name.find("19089") != std::string_view::npos && name.find("_0") != std::string_view::npos &&
        firstDot != std::string_view::npos) {
        size_t secondDot = name.find('.', firstDot + 1);
        if (secondDot != std::string_view::npos &&
            name.find(".html", secondDot + 1) != std::string_view::npos) {
            related->assign(name.substr(0, secondDot + 1)).append("html");
            return true;
        }
    }
    if (firstDot != std::string_view::npos) {
        size_t dash = name.find('-', firstDot + 1);
        if (dash != std::string_view::npos && name.find(".html", dash + 1) != std::string_view::npos) {
            related->assign(name.substr(0, dash)).append(".html");
            return true;
        }
    }
    size_t pdf = name.find("._.pdf");
    if (pdf != std::string_view::npos) {
        related->assign(name.substr(0, pdf)).append(".html").append(name.substr(pdf + 6));
        return true;
    }
    return false;
}

// findCentralHeader(name, nullptr) for many names: the first member in
// directory order equal to the name (ASCII case-blind when names are folded,
// as strcasecmp) found in a table; a pattern still goes through the list.
class MemberIndex {
public:
    explicit MemberIndex(ZipStructure* zs) : zs_(zs), folded_(zs->flags & kZipFoldNames) {
        // Folded names are stored lower-cased, so they are their own keys.
        for (CentralHeader* ch = zs->getFirstCentralHeader(); ch; ch = ch->next)
            byName_.emplace(ch->fname, ch);
    }

    CentralHeader* find(const std::string& name) {
        if (isSearchPattern(name.c_str())) return zs_->findCentralHeader(name.c_str(), nullptr);
        std::string key = name.substr(0, name.find('\0'));
        if (folded_)
            for (char& c : key) c = static_cast<char>(asciiLower(static_cast<unsigned char>(c)));
        auto it = byName_.find(key);
        return it == byName_.end() ? nullptr : it->second;
    }

private:
    ZipStructure* zs_;
    bool folded_;
    std::unordered_map<std::string_view, CentralHeader*> byName_;
};

// The index file of a builder run: "folderindex.txt" in a private directory
// "._upd.XXXXXX" beside the archive, so that the member keeps its name, no
// symlink can redirect the write, and the scanner never takes the directory
// for a library. Both are removed when the object goes.
class IndexFile {
public:
    IndexFile() = default;
    IndexFile(const IndexFile&) = delete;
    IndexFile& operator=(const IndexFile&) = delete;
    ~IndexFile() { remove(); }

    bool create(const ZipStructure* zs) {
        const char* slash = std::strrchr(zs->zipName, '/');
        const size_t dirLen = slash ? size_t(slash - zs->zipName + 1) : 0;
        dir_.assign(zs->zipName, dirLen).append(kPrivateDirTemplate);
        path_ = dir_ + "/" + kIndexName;
        if (path_.size() >= PATH_MAX) {
            unzipLog(kLogErr, "No memory to create temporary file");
            return false;
        }
        if (!::mkdtemp(dir_.data())) {
            unzipLog(kLogErr, "Failed to open file %s", path_.c_str());
            return false;
        }
        dirMade_ = true;
        path_ = dir_ + "/" + kIndexName;
        fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd_ < 0) {
            unzipLog(kLogErr, "Failed to open file %s", path_.c_str());
            return false;
        }
        fileMade_ = true;
        return true;
    }

    void line(int folder, const char* name) {
        char head[32];
        int n = std::snprintf(head, sizeof head, "FolderID:%d|", folder);
        pending_.append(head, size_t(n)).append("File:").append(name).append("|\n");
        if (pending_.size() >= kWriteChunk) flush();
    }

    // Writes what is pending and closes the file; false when any write
    // failed (the file must then not reach the archive).
    bool finish() {
        flush();
        if (fd_ >= 0 && ::close(fd_) != 0 && !failed_) {
            failed_ = true;
            error_ = errno;
        }
        fd_ = -1;
        return !failed_;
    }

    int error() const { return error_; }

    const char* path() const { return path_.c_str(); }

    void remove() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        if (fileMade_) ::unlink(path_.c_str());
        if (dirMade_) ::rmdir(dir_.c_str());
        fileMade_ = dirMade_ = false;
    }

private:
    void flush() {
        size_t done = 0;
        while (!failed_ && done < pending_.size()) {
            ssize_t w = ::write(fd_, pending_.data() + done, pending_.size() - done);
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) {
                failed_ = true;
                error_ = w < 0 ? errno : ENOSPC;
            } else {
                done += size_t(w);
            }
        }
        pending_.clear();
    }

    std::string dir_;
    std::string path_;
    bool dirMade_ = false;
    bool fileMade_ = false;
    int fd_ = -1;
    bool failed_ = false;
    int error_ = 0;
    std::string pending_;
};

// An open archive descriptor, closed on every path.
struct ArchiveFd {
    ZipStructure* zs;
    int fd;
    ~ArchiveFd() { zs->closeZipFile(fd); }
};

// An extractor with the starting buffer; the messages for a failure are the
// caller's.
enum class Prepared { kOk, kNoExtractor, kNoMemory };
Prepared prepareUnzip(std::unique_ptr<Unzip>* uz) {
    *uz = newUnzip(0);
    if (!*uz) return Prepared::kNoExtractor;
    return (*uz)->allocUnzipBuffer(kUnzipBufferSize, 1) ? Prepared::kOk : Prepared::kNoMemory;
}

std::string_view extracted(const Unzip& uz) {
    return {reinterpret_cast<const char*>(uz.buf), uz.bufwritten};
}

int parseIndexfile(ZipStructure* zs, CentralHeader* indexMember) {
    if (!zs) return 0;
    std::unique_ptr<Unzip> uz;
    Prepared prepared = prepareUnzip(&uz);
    if (prepared == Prepared::kNoExtractor || !indexMember) {
        unzipLog(kLogErr, "Failed to parse index file of %s", zs->zipName);
        return 0;
    }
    if (prepared == Prepared::kNoMemory) {
        unzipLog(kLogErr, "Failed to parse %s, memory allocation failed", zs->zipName);
        return 0;
    }
    ArchiveFd archive{zs, zs->openZipFile()};
    if (archive.fd < 0) {
        unzipLog(kLogErr, "Failed to parse index file from %s", zs->zipName);
        return 0;
    }
    if (!uz->unzip(zs, indexMember, archive.fd, -1)) {
        unzipLog(kLogErr, "Failed to unzip %s ", indexMember->fname);
        return 0;
    }

    // The file lists members in directory order: each lookup starts after
    // the member found for the line before.
    CentralHeader* previous = nullptr;
    std::string name;
    forEachLine(extracted(*uz), [&](std::string_view line) {
        int folder = 0;
        std::string_view text;
        if (!indexLine(line, &folder, &text)) return;
        name.assign(text);
        CentralHeader* ch = zs->findCentralHeader(name.c_str(), previous);
        if (!ch && previous) {
            ch = zs->findCentralHeader(name.c_str(), nullptr);
            if (ch) unzipLog(kLogDebug, "Missing order in %s-> File:%s|", zs->zipName, name.c_str());
        }
        if (!ch)
            unzipLog(kLogDebug, "Missing entry in %s-> File:%s|", zs->zipName, name.c_str());
        else if (ch->folder == 0)
            ch->folder = folder;
        previous = ch;
    });
    return 1;
}

// Each page gets its number; each document it names that has no folder yet
// joins it. Names beginning with 'h' are pages, never documents.
void assignPageFolders(ZipStructure* zs, StringList& pages, MemberIndex& members, Unzip* uz, int fd) {
    int folder = 0;
    std::string name;
    for (String* page = pages.first; page; page = page->next) {
        const char* pageName = StringList::getValue(page);
        pageFolder(page->value, &folder);
        CentralHeader* ch = zs->findCentralHeader(pageName, nullptr);
        if (!ch) {
            unzipLog(kLogErr, "failed to findCentralHeader %s", pageName);
            continue;
        }
        ch->folder = folder;
        LocalHeader* lh = zs->readLocalHeader(ch, fd);
        if (!lh) {
            unzipLog(kLogWarning, "failed to readLocalHeader %s", pageName);
            continue;
        }
        zs->freeLocalHeader(lh);
        if (!uz->unzip(zs, ch, fd, -1)) {
            unzipLog(kLogErr, "failed to unzip %s ", pageName);
            continue;
        }
        forEachLine(extracted(*uz), [&](std::string_view line) {
            std::string_view document = documentName(line);
            if (document.empty() || document[0] == 'h') return;
            name.assign(document);
            CentralHeader* doc = members.find(name);
            if (doc && doc->folder == 0) doc->folder = folder;
        });
    }
}

// Every member in directory order. In the builder run a member with a folder
// keeps it and is listed; in any other run every member, numbered or not,
// takes the folder of a related member that exists (0 included).
void inheritRelatedFolders(ZipStructure* zs, MemberIndex& members, IndexFile* out) {
    std::string related;
    for (CentralHeader* ch = zs->getFirstCentralHeader(); ch; ch = ch->next) {
        if (out && ch->folder != 0) {
            out->line(ch->folder, ch->fname);
            continue;
        }
        if (!relatedName(ch->fname, &related)) continue;
        CentralHeader* source = members.find(related);
        if (!source) continue;
        ch->folder = source->folder;
        if (out) out->line(source->folder, ch->fname);
    }
}

int createIndexfile(ZipStructure* zs, StringList* pageNames) {
    if (!zs || !pageNames) {
        unzipLog(kLogErr, "Create index file invalid input");
        return 0;
    }
    std::unique_ptr<Unzip> uz;
    switch (prepareUnzip(&uz)) {
        case Prepared::kNoExtractor:
            unzipLog(kLogErr, "Failed to create index file of %s", zs->zipName);
            return 0;
        case Prepared::kNoMemory:
            unzipLog(kLogErr, "Failed to create index file %s, memory allocation failed", zs->zipName);
            return 0;
        case Prepared::kOk:
            break;
    }
    ArchiveFd archive{zs, zs->openZipFile()};
    if (archive.fd < 0) {
        unzipLog(kLogErr, "Failed to open %s", zs->zipName);
        return 0;
    }
    const bool writable = ::faccessat(AT_FDCWD, zs->zipName, W_OK, AT_EACCESS) == 0;
    const bool builder = zs->flags & kZipIndexBuilder;
    IndexFile out;
    if (builder && !out.create(zs)) return 0;

    MemberIndex members(zs);
    assignPageFolders(zs, *pageNames, members, uz.get(), archive.fd);
    inheritRelatedFolders(zs, members, builder ? &out : nullptr);
    zs->closeZipFile(archive.fd);
    archive.fd = -1;
    if (!builder) return 1;

    if (!out.finish())
        unzipLog(kLogErr, "Failed to write file %s, %s", out.path(), std::strerror(out.error()));
    else if (writable)
        zs->addIndexfile(out.path());
    else
        unzipLog(kLogNotice, "Failed to add index file, library is not writable %s", zs->zipName);
    return 1;
}

// Unlocks on every path, and only what it holds.
struct HeldMutex {
    Mutex* mutex;
    ~HeldMutex() { mutex->unlock(); }
};

int addIndexfile(ZipStructure* zs, const char* path) {
    if (!zs || !path) return 0;
    struct FileRemover {
        const char* path;
        ~FileRemover() { ::unlink(path); }
    } removeFile{path};

    std::unique_ptr<Mutex> mutex = newMutex(g_updateMutexKey, 0);
    if (!mutex) {
        unzipLog(kLogErr, "Cannot update ZIP %s, failed to create mutex", zs->zipBasename);
        return 0;
    }
    if (mutex->lock(kMutexWaitSeconds) != 1) {
        unzipLog(kLogErr, "Cannot update ZIP, failed to aquire mutex lock");
        return 0;
    }
    HeldMutex held{mutex.get()};

    std::unique_ptr<Zip> zip = newZip(0);
    if (!zip) {
        unzipLog(kLogErr, "Add index file, Failed to create zip object");
        return 0;
    }
    const char* slash = std::strrchr(path, '/');
    const char* memberName = slash ? slash + 1 : path;
    if (!zip->putFile(ZIP_ACTION_UPDATE, zs->zipName, path, memberName, zs->flags & kZipFoldNames)) {
        unzipLog(kLogErr, "Failure during Zip,%s %s %s", path, zs->zipName, zip->getError());
        return 0;
    }
    unzipLog(kLogNotice, "Index file added to %s", zs->zipName);

    // The library keeps the time it had: the index adds nothing a reader
    // of the old archive lacked. Done under the lock, so that it can never
    // date back an update that comes after this one.
    const struct timespec times[2] = {{zs->mTime, 0}, {zs->mTime, 0}};
    if (::utimensat(AT_FDCWD, zs->zipName, times, 0) != 0)
        unzipLog(kLogWarning, "File %s, failed to restore the modification time, %s", zs->zipName,
                 std::strerror(errno));
    struct stat st;
    if (::stat(zs->zipName, &st) != 0) {
        unzipLog(kLogWarning, "File %s, stat failed, %s", zs->zipName, std::strerror(errno));
        return 0;
    }
    zs->fileSize = static_cast<unsigned long>(st.st_size);
    zs->mTime = st.st_mtime;
    return 1;
}

}  // namespace

void installFolderIndex() {
    const FolderIndexHooks hooks = {createIndexfile, addIndexfile, parseIndexfile};
    setFolderIndexHooks(&hooks);
}

void setZipUpdateMutexKey(key_t key) {
    g_updateMutexKey = key;
}

key_t zipUpdateMutexKey() {
    return g_updateMutexKey;
}

}  // namespace ruva

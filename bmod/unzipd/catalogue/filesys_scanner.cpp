#include "bmod/unzipd/catalogue/filesys_scanner.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "bmod/unzipd/log/log_call.h"
#include "common/patterns.h"
#include "common/text.h"

namespace ruva {
namespace {

std::string_view withoutTrailingSlash(std::string_view dir) {
    if (!dir.empty() && dir.back() == '/') dir.remove_suffix(1);
    return dir;
}

// The directory at path, when "path/." shows a directory and it opens;
// *id gets its device and inode. Null otherwise.
DIR* openDirectory(const std::string& path, std::pair<dev_t, ino_t>* id) {
    std::string probe = path + (!path.empty() && path.back() == '/' ? "." : "/.");
    struct stat st {};
    if (stat(probe.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return nullptr;
    *id = {st.st_dev, st.st_ino};
    return opendir(path.c_str());
}

std::unique_ptr<FilesysScanner> makeScanner(std::unique_ptr<FilesysScanner> fs, FileCallback callback) {
    if (!fs) {
        logError(kLogCrit, "No memory");
        return nullptr;
    }
    fs->nonRecursiveDirs = newStringList();
    fs->recursiveDirs = newStringList();
    fs->writableNonRecursiveDirs = newStringList();
    fs->includePatterns = newStringList();
    fs->excludePatterns = newStringList();
    if (!fs->nonRecursiveDirs || !fs->recursiveDirs || !fs->writableNonRecursiveDirs ||
        !fs->includePatterns || !fs->excludePatterns) {
        logError(kLogCrit, "No memory");
        return nullptr;
    }
    if (callback && !fs->setCallback(callback)) {
        logError(kLogCrit, "FilesysScanner.setCallback failed");
        return nullptr;
    }
    return fs;
}

}  // namespace

bool isListablePath(const char* path) {
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(path); *p; ++p)
        if (isAsciiControl(*p) || *p == '"' || *p == '|') return false;
    return true;
}

void logUnlistablePath(const char* path) {
    std::string shown = path;
    for (char& c : shown)
        if (isAsciiControl(static_cast<unsigned char>(c))) c = '?';
    logError(kLogWarning, "Path skipped, it holds a control character, '\"' or '|': %s", shown.c_str());
}

std::unique_ptr<FilesysScanner> newFilesysScanner(const uint16_t* flags, FileCallback callback) {
    std::unique_ptr<FilesysScanner> fs(new (std::nothrow) FilesysScanner);
    if (fs) fs->flags16_ = flags;
    return makeScanner(std::move(fs), callback);
}

std::unique_ptr<FilesysScanner> newFilesysScanner(const unsigned* flags, FileCallback callback) {
    std::unique_ptr<FilesysScanner> fs(new (std::nothrow) FilesysScanner);
    if (fs) fs->flags32_ = flags;
    return makeScanner(std::move(fs), callback);
}

unsigned FilesysScanner::ownerFlags() const {
    if (flags16_) return *flags16_;
    if (flags32_) return *flags32_;
    return 0;
}

void FilesysScanner::clear() {
    deleteDirPatterns();
}

void FilesysScanner::deleteDirPatterns() {
    for (StringList* list : {nonRecursiveDirs.get(), recursiveDirs.get(), writableNonRecursiveDirs.get(),
                             includePatterns.get(), excludePatterns.get()}) {
        if (list) list->clear();
    }
}

int FilesysScanner::addPattern(StringList* list, const char* text, const char* operation) {
    if (!text) {
        logError(kLogCrit, "Null to %s", operation);
        return 0;
    }
    if (!list || !list->add(text)) {
        logError(kLogErr, "Add string in %s", operation);
        return 0;
    }
    return 1;
}

int FilesysScanner::addDir(StringList* list, const char* text, const char* operation) {
    if (text && list) {
        std::string_view wanted = withoutTrailingSlash(text);
        for (const String* s = list->first; s; s = s->next) {
            if (withoutTrailingSlash(s->value) == wanted) return 1;
        }
    }
    return addPattern(list, text, operation);
}

int FilesysScanner::addNonRecursiveDir(const char* text) {
    return addDir(nonRecursiveDirs.get(), text, "addNonRecursiveDir");
}

int FilesysScanner::addRecursiveDir(const char* text) {
    return addDir(recursiveDirs.get(), text, "addRecursiveDir");
}

int FilesysScanner::addWritableNonRecursiveDir(const char* text) {
    return addDir(writableNonRecursiveDirs.get(), text, "addWritableNonRecursiveDir");
}

int FilesysScanner::addIncludePattern(const char* text) {
    return addPattern(includePatterns.get(), text, "addIncludePattern");
}

int FilesysScanner::addExcludePattern(const char* text) {
    return addPattern(excludePatterns.get(), text, "addExcludePattern");
}

int FilesysScanner::setCallback(FileCallback callback) {
    if (!callback) {
        logError(kLogCrit, "Invalid arguments to setCallback");
        return 0;
    }
    fileCallback_ = callback;
    return 1;
}

int FilesysScanner::includeFile(const char* name, const StringList* include,
                                const StringList* exclude) const {
    if (!name) return 0;
    unsigned flags = ownerFlags();
    // An empty include list limits nothing, as no list does.
    if (include && include->first) {
        bool listed = false;
        for (const String* s = include->first; s && !listed; s = s->next) {
            listed = matchPattern(s->value.c_str(), name, static_cast<int>(flags & kScanFoldNames)) != 0;
        }
        if (!listed) {
            if (flags & kScanVerbose) logError(kLogDebug, "Excluded %s, not in includePattern", name);
            return 0;
        }
    }
    if (exclude) {
        for (const String* s = exclude->first; s; s = s->next) {
            if (matchPattern(s->value.c_str(), name, 1)) {
                logError(kLogDebug, "Excluded %s, due to excludePattern %s", name, s->value.c_str());
                return 0;
            }
        }
    }
    return 1;
}

int FilesysScanner::scan(void* clientData) {
    if (!recursiveDirs || !nonRecursiveDirs || !fileCallback_) {
        logError(kLogCrit, "Invalid arguments to scan");
        return 0;
    }
    stopped_ = false;
    entered_.clear();
    int count = 0;
    const std::pair<DbDirType, StringList*> lists[] = {
        {DBDIR_RECURSIVE, recursiveDirs.get()},
        {DBDIR_NONRECURSIVE, nonRecursiveDirs.get()},
        {DBDIR_WRITABLE, writableNonRecursiveDirs.get()},
    };
    for (const auto& [type, list] : lists) {
        dirType_ = type;
        if (!list) continue;
        for (const String* s = list->first; s; s = s->next) {
            count += scanDir(s->value.c_str(), clientData, type == DBDIR_RECURSIVE);
        }
    }
    return count;
}

int FilesysScanner::scanDir(const char* path, void* clientData, bool recursive) {
    if (ownerFlags() & kScanVerbose) logError(kLogDebug, "scanDir %s", path ? path : "(null)");
    if (!path) {
        logError(kLogCrit, "Invalid arguments to scanDir");
        return 0;
    }
    struct Frame {
        DIR* dir;
        std::string path;
    };
    std::vector<Frame> open;
    std::pair<dev_t, ino_t> id;
    DIR* top = openDirectory(path, &id);
    if (!top) return 0;
    entered_.insert(id);
    open.push_back({top, path});

    int count = 0;
    while (!open.empty() && !stopped_) {
        struct dirent* entry = readdir(open.back().dir);
        if (!entry) {
            closedir(open.back().dir);
            open.pop_back();
            continue;
        }
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
        const std::string& dir = open.back().path;
        std::string full = dir;
        if (full.empty() || full.back() != '/') full += '/';
        full += name;
        if (!isListablePath(full.c_str())) {
            logUnlistablePath(full.c_str());
            continue;
        }
        // One long name must not hide the entries listed after it.
        if (full.size() > kScanMaxPath) {
            logError(kLogWarning, "Path too long, skipped %s/%s", dir.c_str(), name);
            continue;
        }
        struct stat st {};
        if (stat(full.c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            if ((ownerFlags() & kScanFoldNames) &&
                includeFile(full.c_str(), includePatterns.get(), excludePatterns.get()) &&
                fileCallback_(clientData, full.c_str())) {
                ++count;
            }
            if (!recursive || !includeFile(full.c_str(), nullptr, excludePatterns.get())) continue;
            // A directory reached again (a link back up, two links to one
            // place) is read once per scan: loops cannot hang the scan.
            if (!entered_.insert({st.st_dev, st.st_ino}).second) continue;
            if (ownerFlags() & kScanVerbose) logError(kLogDebug, "scanDir %s", full.c_str());
            if (DIR* sub = openDirectory(full, &id)) open.push_back({sub, std::move(full)});
        } else if (S_ISREG(st.st_mode) &&
                   includeFile(full.c_str(), includePatterns.get(), excludePatterns.get())) {
            fileCallback_(clientData, full.c_str());
            ++count;
        }
    }
    for (const Frame& f : open) closedir(f.dir);
    return count;
}

}  // namespace ruva

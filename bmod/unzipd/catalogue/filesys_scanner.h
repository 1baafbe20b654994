// Walks the configured library directories and hands every file whose path
// passes the include and exclude patterns to a callback.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <set>
#include <utility>

#include "common/string_list.h"

namespace ruva {

// The kind of directory list being scanned; getDbDirType() tells a callback
// which one it is called from.
enum DbDirType : int {
    DBDIR_RECURSIVE = 1,
    DBDIR_NONRECURSIVE = 2,
    DBDIR_WRITABLE = 3,
};

// Bits of the owner's flags word the scanner reads (the catalogue's low byte).
inline constexpr unsigned kScanFoldNames = 0x01;  // include patterns case-blind; folders offered
inline constexpr unsigned kScanVerbose = 0x04;    // "scanDir %s" and "Excluded ..." lines

// Longest full path of a directory entry the scanner hands on or enters.
inline constexpr size_t kScanMaxPath = 254;

// 1 when path holds no ASCII control character, '"' or '|'. A library path
// with one could end a reply or log line early, close LIST's quoted name or
// split the '|' fields of MLLIST and the watcher's pipe lines, so no scan
// hands such a path on and the watcher never reports one.
bool isListablePath(const char* path);
// The one warning (level 4) for a path refused by isListablePath, its
// control characters shown as '?'.
void logUnlistablePath(const char* path);

// Called with the client data given to scan() and the entry's full path;
// non-zero when it took the entry.
using FileCallback = int (*)(void* clientData, const char* path);

class FilesysScanner {
public:
    ~FilesysScanner() = default;
    FilesysScanner(const FilesysScanner&) = delete;
    FilesysScanner& operator=(const FilesysScanner&) = delete;

    // Both empty all five lists.
    void clear();
    void deleteDirPatterns();

    // Append a copy of text to the list: 1, or 0 for a null text ("Null to
    // addNonRecursiveDir", level 2) or a failed list ("Add string in
    // addNonRecursiveDir", level 3); likewise for the others. A directory
    // equal to one already in the same list, both read without one trailing
    // "/", is not added again (1): it would be scanned twice.
    int addNonRecursiveDir(const char* text);
    int addRecursiveDir(const char* text);
    int addWritableNonRecursiveDir(const char* text);
    int addIncludePattern(const char* text);
    int addExcludePattern(const char* text);

    // 1, or 0 with "Invalid arguments to setCallback" for a null callback.
    int setCallback(FileCallback callback);

    // Scans the recursive directories with their sub-directories, then the
    // non-recursive and the writable ones without, each list in insertion
    // order. Returns the number of files (and, with fold names, folders)
    // taken; 0 with "Invalid arguments to scan" when the recursive or
    // non-recursive list or the callback is missing. Clears the stop bit
    // first. During one scan no sub-directory (device and inode) is entered
    // twice, so symlink loops end; a listed directory is always scanned.
    // An entry whose path fails isListablePath is neither handed on nor
    // entered, with logUnlistablePath's warning once per scan.
    int scan(void* clientData);

    // Ends the running scan after the entry being handled (callbacks call it).
    void stop() { stopped_ = true; }

    // The list being scanned; meaningful only inside a callback. 2 before the
    // first scan, 3 after any.
    DbDirType getDbDirType() const { return dirType_; }

    // 1 when name (a whole path) matches a pattern of a non-empty include list
    // (case-blind with fold names) and no pattern of the exclude list (always
    // case-blind); either list may be null.
    int includeFile(const char* name, const StringList* include, const StringList* exclude) const;

    // The lists. Never null after newFilesysScanner; the owner may swap the
    // non-recursive list out and back (a structure-file backup), and scan()
    // refuses to run while the recursive or non-recursive one is null.
    std::unique_ptr<StringList> nonRecursiveDirs;
    std::unique_ptr<StringList> recursiveDirs;
    std::unique_ptr<StringList> writableNonRecursiveDirs;
    std::unique_ptr<StringList> includePatterns;
    std::unique_ptr<StringList> excludePatterns;

private:
    friend std::unique_ptr<FilesysScanner> newFilesysScanner(const uint16_t*, FileCallback);
    friend std::unique_ptr<FilesysScanner> newFilesysScanner(const unsigned*, FileCallback);
    FilesysScanner() = default;

    // The owner's fold and verbose bits, read at each use so that a change of
    // the owner's flags reaches the scanner.
    unsigned ownerFlags() const;
    int addDir(StringList* list, const char* text, const char* operation);
    int addPattern(StringList* list, const char* text, const char* operation);
    // Reads one listed directory (and, when recursive, its sub-directories,
    // depth first in the order the system lists them, without recursion).
    int scanDir(const char* path, void* clientData, bool recursive);

    const uint16_t* flags16_ = nullptr;
    const unsigned* flags32_ = nullptr;
    bool stopped_ = false;
    DbDirType dirType_ = DBDIR_NONRECURSIVE;
    FileCallback fileCallback_ = nullptr;
    // Directories entered during the running scan.
    std::set<std::pair<dev_t, ino_t>> entered_;
};

// A scanner reading the fold (0x01) and verbose (0x04) bits from *flags, a
// word its owner keeps and may change (null: both off); callback, when not
// null, is set with setCallback. Null with "No memory" (level 2) when memory
// runs out.
std::unique_ptr<FilesysScanner> newFilesysScanner(const uint16_t* flags, FileCallback callback);
std::unique_ptr<FilesysScanner> newFilesysScanner(const unsigned* flags, FileCallback callback);

}  // namespace ruva

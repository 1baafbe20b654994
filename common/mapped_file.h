// Whole-file mappings, file writing and the crash-safe replace.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>

namespace ruva {

// Maps a whole file read-only (private). "-" (when no such file exists) maps
// standard input, copied into an anonymous memory file. 1 with data and size
// set; 0 with data null, size 0 and errno set on failure; an empty file or
// input gives EINVAL.
int mapFile(const char* path, char** data, size_t* size);

// Maps len bytes from byte start (private, read-write). *pgStart gets the
// page-aligned mapping start (munmap it with data - pgStart + size bytes),
// *data the address of byte start, *size = len. A range past the end of the
// file is refused (EINVAL): touching it would raise SIGBUS. Nothing calls it.
int mapFileOffset(const char* path, off_t start, size_t len, char** data, size_t* size, void** pgStart);

// Unmaps when *data is not null; clears both in any case.
void unmapFile(char** data, size_t* size);

// Zero-filled private memory; *size is rounded up to whole pages and written
// back. Null for a null or zero size, an overflowing size or a failure.
void* mapMem(size_t* size);
void unmapMem(void* addr, size_t size);
// Grows a mapping of mapMem of oldSize bytes to *size (rounded up to whole
// pages and written back) by moving its pages, so nothing is copied and no
// page is faulted in again. The first keep bytes stay; every later byte reads
// as zero, as in a new mapping. The new address; null, with the old mapping
// untouched, when *size is not larger, addr is no whole-page mapping or the
// move fails.
void* growMem(void* addr, size_t oldSize, size_t keep, size_t* size);

// Writes len bytes, truncating (mode 0666 less umask when created); "-" is
// standard output. Retries short writes and EINTR. On failure returns 0 with
// the failing errno and removes the file when it is a regular file.
int writeFile(const char* name, const void* data, size_t len);

// Copies src to dst (an empty source makes an empty target). 1 on success.
int copyFile(const char* dst, const char* src);

// The crash-safe replace: after a crash dst is either the old file or the
// whole of src, never a mix or an empty file. src is synced, renamed over
// dst, and dst's directory is synced so that the rename itself survives.
// Across file systems src is copied to a fresh file beside dst, which is
// synced, renamed over dst, and src is removed. On failure source and
// target are as they were; 0 with errno (also when only src could not be
// removed: dst is then in place). A directory that cannot be synced is no
// failure: the rename is done and cannot be taken back.
int renameFile(const char* src, const char* dst);

// The steps of a replace, as ReplaceReport names the one that failed.
enum class ReplaceStep {
    None,        // dst is in place
    SyncSource,  // fsync of src
    Rename,      // rename of src over dst (not across file systems)
    CreateCopy,  // the copy beside dst
    OpenSource,
    ReadSource,
    WriteCopy,
    PrepareCopy,  // ReplaceOptions::prepareCopy
    SyncCopy,
    CloseCopy,
    RenameCopy,  // rename of the copy over dst
};

struct ReplaceOptions {
    // src is synced already (the caller wrote and synced it).
    bool sourceSynced = false;
    // mkostemp(3) template of the copy's name in dst's directory; null: a
    // ".rename.<pid>.<n>.tmp" name, created with mode 0666 less umask.
    const char* copyName = nullptr;
    // Called on the copy before it is synced (owner, mode); false with errno
    // fails the replace.
    std::function<bool(int fd)> prepareCopy;
    // Called once dst is in place (and src removed), before the directory
    // is synced.
    std::function<void()> renamed;
    // A copy that could not be renamed over dst stays, under copyPath.
    bool keepCopyOnFailedRename = false;
};

struct ReplaceReport {
    ReplaceStep failed = ReplaceStep::None;
    int err = 0;            // errno of the failed step
    std::string copyPath;   // the copy beside dst, when one was made
    int sourceLeftErr = 0;  // dst in place but src not removed: errno
    int dirSyncErr = 0;     // dst in place but its directory not synced: errno
};

// renameFile with the caller's options; report (may be null) says which
// step failed, for callers that give each step its own message.
int renameFile(const char* src, const char* dst, const ReplaceOptions& options, ReplaceReport* report);

}  // namespace ruva

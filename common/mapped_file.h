// Whole-file mappings and crash-safe file writing.
#pragma once

#include <sys/types.h>

#include <cstddef>

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

// Writes len bytes, truncating (mode 0666 less umask when created); "-" is
// standard output. Retries short writes and EINTR. On failure returns 0 with
// the failing errno and removes the file when it is a regular file.
int writeFile(const char* name, const void* data, size_t len);

// Copies src to dst (an empty source makes an empty target). 1 on success.
int copyFile(const char* dst, const char* src);

// rename; across file systems copies to a fresh name beside dst, renames it
// over dst and removes src. On failure source and target are as they were;
// 0 with errno.
int renameFile(const char* src, const char* dst);

}  // namespace ruva

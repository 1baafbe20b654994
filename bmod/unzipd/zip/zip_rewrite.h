// Internal to the ZIP layer.
// The rewrite engine: one run reads the old archive, keeps, deletes or
// replaces its entries, compresses the files to add, writes the result to a
// "_ZXXXXXX" file beside the archive, syncs it and renames it into place.
// Driven by Zip (zip_update.h); the records it writes are those the library
// reader expects: 32-bit sizes and offsets, at most 65535 entries, no data
// descriptors on new entries, names and comments of at most 383 characters.
//
// Every failure leaves the archive as it was and removes the temporary file,
// except a failed rename, which leaves the complete new archive under the
// temporary name and says so. One run at a time per process: a run started
// while another is active (from a callback) fails with "Internal logic error".
#pragma once

#include <cstdint>
#include <ctime>

#include "bmod/unzipd/zip/zip_update.h"

namespace ruva {

// One run on a command line (argv[0] the archive path, the rest names and
// options). 1 on success; 0 with zip's error text set.
int zipEntry(Zip* zip, ZipAction action, int argc, const char* const* argv);

// Typed runs (see Zip::putFile and Zip::deleteMembers): no option parsing,
// no ".zip" appended, names taken literally.
int zipEntryPutFile(Zip* zip, ZipAction action, const char* archive, const char* filePath,
                    const char* memberName, bool foldNames);
int zipEntryDeleteMembers(Zip* zip, const char* archive, const char* pattern, bool foldNames);

// MS-DOS time of t: local time rounded up to an even second, packed as
// (year - 1980) << 25 | month << 21 | day << 16 | hour << 11 | minute << 5 |
// second / 2; before 1980 it is 1 January 1980, 00:00:00.
uint32_t zipDosTime(time_t t);

// Test seam for crash tests: a process-wide hook (null in production) told
// when a run reaches each step. count says how often the step was reached in
// this run, from 1 (for EntryCopied the k-th copied entry, for Status the
// status callback's ordinal).
enum class ZipStep {
    TempCreated,  // the temporary file exists, still empty
    EntryCopied,  // an old entry was copied unchanged
    Status,       // right after a statusCallback (also when none is set)
    DataWritten,  // everything written and flushed, not yet synced
    Synced,       // the temporary file is synced and closed
    Renamed,      // the new archive is in place
    DirSynced,    // its directory is synced
};
using ZipStepHook = void (*)(ZipStep step, unsigned long count);
void setZipStepHook(ZipStepHook hook);

}  // namespace ruva

// Internal to the ZIP layer.
// The rewrite engine's command line read into a plain request: the archive,
// the names and "-c" comments in order, the "-i"/"-x" patterns and the
// options. Reading touches no file; the engine opens the archive, looks the
// names up and runs the checks that need both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bmod/unzipd/zip/zip_error.h"
#include "bmod/unzipd/zip/zip_update.h"

namespace ruva {

// The longest name, member comment or archive comment a run writes: the
// reader keeps them in 384-byte pool items.
inline constexpr size_t kZipMaxNewText = 383;

// Files stored uncompressed unless "-n" says otherwise.
inline constexpr const char* kZipDefaultSuffixes = ".Z:.zip:.zoo:.arc:.lzh:.arj";

// A name or a "-c" comment, in command-line order: a comment belongs to what
// the name before it denoted.
struct ZipCommandItem {
    bool isComment;
    std::string text;
};

struct ZipRequest {
    // The archive path, ".zip" appended when its last component has no dot;
    // archiveAt is its argument's index.
    std::optional<std::string> archive;
    int archiveAt = -1;
    int verboseAtArchive = 0;  // "-v"/"-q" before the archive name: how it is read
    std::vector<ZipCommandItem> items;
    std::vector<std::pair<bool, std::string>> patterns;  // (include, pattern)

    // Options, at their values for the start of a run.
    int method = -1;  // -1 automatic, 0 store
    int level = 6;
    bool junkPaths = false;  // "-j"
    int dirnames = 1;
    int verbose = 0;
    std::string special = kZipDefaultSuffixes;
    bool suffixOption = false;       // "-n" given
    bool suffixGiven = false;        // and its list
    std::optional<uint32_t> before;  // "-t" as a DOS time
    std::optional<std::string> tempdir;
    bool comadd = false;
    bool zipedit = false;
    std::string zipComment;  // "-z" texts joined, at most 2047 characters

    // Reading stops at the first fault or at a help option: stopAt is that
    // argument's index, argc for a fault found after the last argument, and
    // -1 when the line was read through.
    ZipFailure failure;
    bool help = false;
    int stopAt = -1;
};

// Reads argv[0..argc) for action (some options are checked against it).
ZipRequest parseZipCommand(ZipAction action, int argc, const char* const* argv);

// The checks that follow the names: "-n" without its list, options that
// deletion refuses, a "-z" text longer than the reader keeps. Clears the
// suffix list where nothing is stored by suffix (level 9, or ":" or ";").
ZipFailure checkZipOptions(ZipAction action, ZipRequest& request, const std::string& archive);

// The usage lines "-h", "-H" and "-?" append to the messages: line i of
// kZipUsageLines.
inline constexpr size_t kZipUsageLines = 3;
const char* zipUsageLine(size_t i);

// Whether iname ends in one of the suffixes (a list split at ':' or ';',
// as "-n" gives it): such files are stored as they are.
bool zipStoredBySuffix(const std::string& iname, const std::string& suffixes);

// The last component of path.
std::string zipLastComponent(const std::string& path);

}  // namespace ruva

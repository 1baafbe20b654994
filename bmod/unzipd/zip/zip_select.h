// Internal to the ZIP layer.
// The rewrite engine's name selection: the names, patterns and "-c" comments
// of a request looked up against the old archive's entries and the file
// system. Old entries it selects are marked in place (mark, path,
// newComment); the files to add are gathered in order. The engine then
// runs its checks on both before writing.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bmod/unzipd/zip/zip_command.h"
#include "bmod/unzipd/zip/zip_old_archive.h"

namespace ruva {

// One file to add.
struct PendingFile {
    std::string path;
    std::string iname;
    std::optional<std::string> comment;
};

struct ZipSelectOptions {
    std::string archive;  // as named, for texts
    bool fold = false;    // names compare case-blind
    bool pathput = true;  // false: names lose their directories ("-j")
    bool dirnames = true;
    std::vector<std::pair<bool, std::string>> patterns;  // "-i"/"-x": (include, pattern)
    // The archive's identity, so that it is never added to itself.
    bool archiveExists = false;
    dev_t archiveDev = 0;
    ino_t archiveIno = 0;
};

// Receives each warning as it is met, as ZipWarning's two parts.
using ZipSelectWarn = std::function<void(const std::string& text, const std::string& detail)>;

// What a name denoted last is written to current / currentFile (the Zip's
// current lists), so that a "-c" comment after it lands there. entries must
// outlive the selection. A failure is returned as a value; what was
// selected before it stays.
class ZipSelection {
public:
    ZipSelection(std::vector<std::unique_ptr<ArchiveEntry>>& entries, ZipSelectOptions options,
                 ArchiveEntry*& current, PendingFile*& currentFile, ZipSelectWarn warn);

    // Names and comments in command-line order; the current lists are
    // cleared at the end.
    ZipFailure addItems(const std::vector<ZipCommandItem>& items);
    // A pattern (or a name not found on disk) against the old entries.
    void matchPattern(const std::string& pattern);
    // The file at path under internal name iname: replaces the entry of that
    // name or becomes a new file.
    ZipFailure addFile(const std::string& path, std::string iname);
    // Whether iname passes the "-i"/"-x" patterns.
    bool filter(const std::string& iname) const;
    bool isArchive(const struct stat& st) const {
        return options_.archiveExists && st.st_dev == options_.archiveDev && st.st_ino == options_.archiveIno;
    }

    std::vector<std::unique_ptr<PendingFile>> found;  // files to add, in order
    bool namesGiven = false;

private:
    ZipFailure addName(const std::string& arg);
    ZipFailure attachComment(const std::string& text);
    ArchiveEntry* findEntry(const std::string& iname) const;
    std::string internalName(const std::string& path) const;
    void clearCurrent() {
        current_ = nullptr;
        currentFile_ = nullptr;
    }
    ZipFailure repeated(const std::string& iname, const std::string& first, const std::string& second);

    std::vector<std::unique_ptr<ArchiveEntry>>& entries_;
    std::vector<ArchiveEntry*> sorted_;  // by name, archive order among equals
    ZipSelectOptions options_;
    ArchiveEntry*& current_;
    PendingFile*& currentFile_;
    ZipSelectWarn warn_;
};

}  // namespace ruva

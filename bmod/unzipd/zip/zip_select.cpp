#include "bmod/unzipd/zip/zip_select.h"

#include <algorithm>

#include "bmod/unzipd/zip/zip_name_match.h"

namespace ruva {

ZipSelection::ZipSelection(std::vector<std::unique_ptr<ArchiveEntry>>& entries, ZipSelectOptions options,
                           ArchiveEntry*& current, PendingFile*& currentFile, ZipSelectWarn warn)
    : entries_(entries),
      options_(std::move(options)),
      current_(current),
      currentFile_(currentFile),
      warn_(std::move(warn)) {
    sorted_.reserve(entries_.size());
    for (auto& e : entries_) sorted_.push_back(e.get());
    std::stable_sort(sorted_.begin(), sorted_.end(),
                     [](const ArchiveEntry* a, const ArchiveEntry* b) { return a->iname < b->iname; });
}

// The entry of that internal name: the first in archive order among equals,
// which is the one the reader serves; case-blind with folded names.
ArchiveEntry* ZipSelection::findEntry(const std::string& iname) const {
    if (options_.fold) {
        for (auto& e : entries_)
            if (zipNameEqualFold(e->iname, iname)) return e.get();
        return nullptr;
    }
    auto it = std::lower_bound(sorted_.begin(), sorted_.end(), iname,
                               [](const ArchiveEntry* a, const std::string& n) { return a->iname < n; });
    if (it == sorted_.end() || (*it)->iname != iname) return nullptr;
    return *it;
}

bool ZipSelection::filter(const std::string& iname) const {
    bool haveInclude = false;
    bool included = false;
    for (const auto& [include, pat] : options_.patterns) {
        bool m = zipNameMatch(pat, iname, false);
        if (!include && m) return false;
        if (include) {
            haveInclude = true;
            included = included || m;
        }
    }
    return !haveInclude || included;
}

std::string ZipSelection::internalName(const std::string& path) const {
    size_t start = path.find_first_not_of('/');
    std::string n = start == std::string::npos ? std::string() : path.substr(start);
    if (!options_.pathput) n = zipLastComponent(n);
    return n;
}

// Names and "-c" comments in command-line order: a comment goes to what the
// name before it denoted.
ZipFailure ZipSelection::addItems(const std::vector<ZipCommandItem>& items) {
    for (const ZipCommandItem& it : items) {
        ZipFailure f = it.isComment ? attachComment(it.text) : addName(it.text);
        if (f) return f;
    }
    clearCurrent();
    return {};
}

ZipFailure ZipSelection::addName(const std::string& arg) {
    clearCurrent();
    namesGiven = true;
    struct stat st;
    if (zipHasWildcard(arg) || ::stat(arg.c_str(), &st) != 0) {
        matchPattern(arg);
        return {};
    }
    std::string path = arg;
    if (S_ISDIR(st.st_mode)) {
        if (!options_.dirnames) return {};
        if (path.back() != '/') path += '/';
    }
    std::string iname = internalName(path);
    if (iname.empty()) {
        if (options_.pathput) return {kZipLogic, "empty name without -j"};
        return {};
    }
    if (!filter(iname)) return {};
    if (isArchive(st)) return {};  // never the archive itself
    return addFile(arg, iname);
}

void ZipSelection::matchPattern(const std::string& pattern) {
    bool any = false;
    for (auto& e : entries_) {
        if (!zipNameMatch(pattern, e->iname, options_.fold) || !filter(e->iname)) continue;
        e->mark = true;
        if (e->path.empty()) e->path = e->iname;
        current_ = e.get();
        any = true;
    }
    if (!any) warn_("name not matched: ", pattern);
}

ZipFailure ZipSelection::repeated(const std::string& iname, const std::string& first,
                                  const std::string& second) {
    warn_("name in zip file repeated: ", iname);
    warn_("  first full name: ", first);
    warn_(" second full name: ", second);
    return {kZipBadArgs, "cannot repeat names in zip file"};
}

ZipFailure ZipSelection::addFile(const std::string& path, std::string iname) {
    if (ArchiveEntry* e = findEntry(iname)) {
        if (!e->path.empty() && e->path != e->iname && e->path != path)
            return repeated(e->iname, e->path, path);
        e->mark = true;
        e->path = path;
        current_ = e;
        return {};
    }
    // The reader keeps names in 384-byte pool items.
    if (iname.size() > kZipMaxNewText)
        return {kZipBadArgs, "name longer than 383 characters: " + iname.substr(0, 64) + "..."};
    for (auto& f : found) {
        if (f->iname != iname) continue;
        if (f->path != path) return repeated(iname, f->path, path);
        currentFile_ = f.get();  // named twice: kept once
        return {};
    }
    auto f = std::make_unique<PendingFile>();
    f->path = path;
    f->iname = std::move(iname);
    currentFile_ = f.get();
    found.push_back(std::move(f));
    return {};
}

ZipFailure ZipSelection::attachComment(const std::string& text) {
    if (!current_ && !currentFile_) return {};
    if (text.size() > kZipMaxNewText) return {kZipBadComment, options_.archive};
    if (current_)
        current_->newComment = text;
    else
        currentFile_->comment = text;
    return {};
}

}  // namespace ruva

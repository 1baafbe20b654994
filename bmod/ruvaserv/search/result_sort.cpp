#include "bmod/ruvaserv/search/result_sort.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <unordered_map>
#include <utility>

#include "bmod/ruvaserv/client/uzresponse.h"
#include "bmod/ruvaserv/search/hit_comment.h"
#include "bmod/ruvaserv/search/library_titles.h"
#include "bmod/ruvaserv/search/title_path.h"
#include "common/docmodel/docno.h"
#include "common/docmodel/qox_doctype.h"
#include "common/text.h"

namespace ruva {
namespace {

constexpr std::string_view kFolderTypeName = "Folder";

// The bytes before the first that differs; n when none does. Titles that
// are equal or share a long start (every title equal is a case the sort
// must bear) are passed eight bytes at a time.
std::size_t equalPrefix(const char* a, const char* b, std::size_t n) {
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t wa;
        std::uint64_t wb;
        std::memcpy(&wa, a + i, 8);
        std::memcpy(&wb, b + i, 8);
        if (wa != wb) break;
    }
    while (i < n && a[i] == b[i]) ++i;
    return i;
}

int compareCaseBlind(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = equalPrefix(a.data(), b.data(), n); i < n;
         i += 1 + equalPrefix(a.data() + i + 1, b.data() + i + 1, n - i - 1)) {
        const unsigned char ca = asciiLower(static_cast<unsigned char>(a[i]));
        const unsigned char cb = asciiLower(static_cast<unsigned char>(b[i]));
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

int compareBytes(std::string_view a, std::string_view b) {
    const int r = a.compare(b);
    return r < 0 ? -1 : r > 0 ? 1 : 0;
}

template <class T>
int compareValues(T a, T b) {
    return a < b ? -1 : a > b ? 1 : 0;
}

bool equalsCaseBlind(const char* value, std::string_view word) {
    return value != nullptr && compareCaseBlind(value, word) == 0;
}

// The class table is searched row by row; a reply has few distinct classes,
// so each is looked up once per sort. Splitting the file name is about a
// third of a key's cost, so a title sort without grouping skips it: nothing
// it gives is compared then.
class KeyBuilder {
public:
    explicit KeyBuilder(bool documentParts = true) : documentParts_(documentParts) {}

    HitSortKey make(UzQxSearchEntry& hit) {
        HitSortKey key;
        key.entry = &hit;
        key.isKwd = hit.isKwd;
        key.searchType = hit.searchType;
        key.hasFileName = !hit.filename.empty();
        if (!key.hasFileName) return key;  // nothing else of it is compared
        key.fileName = hit.filename;
        key.folder = hit.filename[0] == 'h';
        key.title = shownTitle(hit.comment);
        if (!documentParts_) return key;
        filenameToDocnoParts(hit.filename.c_str(), &key.prefix, &decclass_, nullptr, nullptr, nullptr,
                             nullptr);
        key.prefixNumber = std::atoi(key.prefix.c_str());  // at most 4 characters
        key.docType = docTypeOf(decclass_);
        key.typeName = key.folder ? kFolderTypeName : std::string_view(getQoxDoctypeString(key.docType));
        return key;
    }

private:
    int docTypeOf(const std::string& decclass) {
        const auto found = types_.find(decclass);
        if (found != types_.end()) return found->second;
        const int type = decimalClassToQoxDoctype(decclass.c_str());
        types_.emplace(decclass, type);
        return type;
    }

    static std::string shownTitle(std::string_view comment) {
        HitComment hc = readHitComment(comment);
        std::string title = std::move(hc.title);
        if (std::optional<std::string> tail = extractTitleFromPath(title)) title.assign(*tail, 1);
        if (hc.ctw.empty()) return title;
        return hc.ctw + ": " + title;
    }

    bool documentParts_;
    std::string decclass_;
    std::unordered_map<std::string, int> types_;
};

// Keyword hits go first unless the other is a title hit or above; then the
// higher search type, then the lower document type.
int compareSearchGroups(const HitSortKey& a, const HitSortKey& b) {
    const bool keywordA = a.isKwd == 1;
    const bool keywordB = b.isKwd == 1;
    if (keywordA != keywordB) {
        if (keywordA) return b.searchType >= OST_TITLE ? 1 : -1;
        return a.searchType >= OST_TITLE ? -1 : 1;
    }
    if (int r = compareValues(b.searchType, a.searchType)) return r;
    return compareValues(a.docType, b.docType);
}

int directed(int r, const HitSortSettings& settings) {
    return settings.desOrder == 1 ? -r : r;
}

// Ascending: unprefixed documents, prefixed hits, unprefixed folders.
int identityRank(const HitSortKey& k) {
    if (!k.prefix.empty()) return 1;
    return k.folder ? 2 : 0;
}

int compareIdentity(const HitSortKey& a, const HitSortKey& b, const HitSortSettings& settings) {
    const int rankA = identityRank(a);
    const int rankB = identityRank(b);
    if (rankA != rankB) return directed(compareValues(rankA, rankB), settings);
    // Folders by title in both directions.
    if (rankA == 2) return compareCaseBlind(a.title, b.title);
    int r = rankA == 1 ? compareValues(a.prefixNumber, b.prefixNumber) : 0;
    if (r == 0) r = compareBytes(a.fileName, b.fileName);
    if (r == 0) r = compareCaseBlind(a.title, b.title);
    return directed(r, settings);
}

enum class SortBase { kTitle, kIdentity, kType, kNone };

// Read once per sort, not per comparison.
SortBase sortBaseOf(std::string_view base) {
    if (compareCaseBlind(base, "TITLE") == 0) return SortBase::kTitle;
    if (compareCaseBlind(base, "IDENTITY") == 0) return SortBase::kIdentity;
    if (compareCaseBlind(base, "TYPE") == 0) return SortBase::kType;
    return SortBase::kNone;
}

int compareByBase(const HitSortKey& a, const HitSortKey& b, const HitSortSettings& settings, SortBase base) {
    switch (base) {
        case SortBase::kTitle: {
            int r = compareCaseBlind(a.title, b.title);
            if (r == 0) r = compareBytes(a.fileName, b.fileName);
            return directed(r, settings);
        }
        case SortBase::kIdentity:
            return compareIdentity(a, b, settings);
        case SortBase::kType:
            if (int r = compareCaseBlind(a.typeName, b.typeName)) return directed(r, settings);
            return compareCaseBlind(a.title, b.title);  // titles ascend within a type either way
        case SortBase::kNone:
            break;
    }
    return 0;
}

int compareHits(const HitSortKey& a, const HitSortKey& b, SearchResultSortOrder order,
                const HitSortSettings& settings, SortBase base) {
    if (!b.hasFileName) return a.hasFileName ? -1 : 0;
    if (!a.hasFileName) return 1;
    if (order == SRSO_SRCHTYPE && settings.searchtypeNeeded == 1) {
        if (int r = compareSearchGroups(a, b)) return r;
    }
    return compareByBase(a, b, settings, base);
}

void readOrderFields(const char* OD, const char* BA, HitSortSettings& settings) {
    settings.desOrder = 0;
    if (OD != nullptr && *OD != '\0') {
        const bool descending = equalsCaseBlind(OD, "1") || equalsCaseBlind(OD, "9");
        const bool ungrouped = equalsCaseBlind(OD, "9") || equalsCaseBlind(OD, "8");
        settings.desOrder = descending ? 1 : 0;
        settings.searchtypeNeeded = ungrouped ? 0 : 1;
    }
    settings.base = BA != nullptr && *BA != '\0' ? BA : "TITLE";
}

const std::string* orderingTitle(const LibraryTable& libs, std::string_view id) {
    const std::string* title = libs.titleOf(id);
    return title != nullptr && !title->empty() ? title : nullptr;
}

int compareLibraryTitles(std::string_view a, std::string_view b) {
    return compareCaseBlind(a.substr(0, kLibraryOrderTitleMax), b.substr(0, kLibraryOrderTitleMax));
}

void foldId(std::string_view id, std::string& out) {
    out.assign(id);
    for (char& c : out) c = static_cast<char>(asciiLower(static_cast<unsigned char>(c)));
}

std::vector<UzQxSearchEntry*> byLibraryTitle(const std::vector<UzQxSearchEntry*>& hits,
                                             const LibraryTable& libs) {
    struct Library {
        const std::string* title;
        std::vector<UzQxSearchEntry*> hits;
    };
    std::vector<Library> libraries;
    std::unordered_map<std::string, std::size_t> indexOf;
    std::string key;
    for (UzQxSearchEntry* hit : hits) {
        foldId(hit->ID, key);
        auto at = indexOf.find(key);
        if (at == indexOf.end()) {
            at = indexOf.emplace(key, libraries.size()).first;
            libraries.push_back({orderingTitle(libs, hit->ID), {}});
        }
        libraries[at->second].hits.push_back(hit);
    }
    // Unknown titles compare equal to everything in the comparison; here
    // they go last, so the sort has an order to keep and no run splits.
    std::stable_sort(libraries.begin(), libraries.end(), [](const Library& x, const Library& y) {
        if (x.title != nullptr && y.title != nullptr) return compareLibraryTitles(*x.title, *y.title) < 0;
        return x.title != nullptr && y.title == nullptr;
    });
    std::vector<UzQxSearchEntry*> out;
    out.reserve(hits.size());
    for (const Library& library : libraries) out.insert(out.end(), library.hits.begin(), library.hits.end());
    return out;
}

std::vector<UzQxSearchEntry*> byHitKeys(const std::vector<UzQxSearchEntry*>& hits,
                                        SearchResultSortOrder order, const HitSortSettings& settings) {
    const SortBase base = sortBaseOf(settings.base);
    const bool grouped = order == SRSO_SRCHTYPE && settings.searchtypeNeeded == 1;
    KeyBuilder builder(grouped || base == SortBase::kIdentity || base == SortBase::kType);
    std::vector<HitSortKey> keys;
    keys.reserve(hits.size());
    for (UzQxSearchEntry* hit : hits) keys.push_back(builder.make(*hit));
    // Pointers move cheaply; the keys stay where they were built.
    std::vector<const HitSortKey*> sorted;
    sorted.reserve(keys.size());
    for (const HitSortKey& key : keys) sorted.push_back(&key);
    std::stable_sort(sorted.begin(), sorted.end(), [&](const HitSortKey* x, const HitSortKey* y) {
        return compareHits(*x, *y, order, settings, base) < 0;
    });
    std::vector<UzQxSearchEntry*> out;
    out.reserve(sorted.size());
    for (const HitSortKey* key : sorted) out.push_back(key->entry);
    return out;
}

}  // namespace

HitSortKey makeHitSortKey(UzQxSearchEntry& hit) {
    return KeyBuilder().make(hit);
}

int uqxSortCallback(const HitSortKey& a, const HitSortKey& b, SearchResultSortOrder order,
                    const HitSortSettings& settings) {
    return compareHits(a, b, order, settings, sortBaseOf(settings.base));
}

int uqxSortCallbackLibs(std::string_view a, std::string_view b, const LibraryTable& libs) {
    if (compareCaseBlind(a, b) == 0) return 0;
    const std::string* titleA = orderingTitle(libs, a);
    const std::string* titleB = orderingTitle(libs, b);
    if (titleA == nullptr || titleB == nullptr) return 0;
    return compareLibraryTitles(*titleA, *titleB);
}

bool sortSearchResults(std::vector<UzQxSearchEntry*>& hits, int libSort, const char* OD, const char* BA,
                       SearchResultSortOrder order, HitSortSettings& settings, const LibraryTable& libs) {
    readOrderFields(OD, BA, settings);
    if (hits.size() < 2) return true;
    try {
        std::vector<UzQxSearchEntry*> sorted =
            libSort == 1 ? byLibraryTitle(hits, libs) : byHitKeys(hits, order, settings);
        hits.swap(sorted);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace ruva

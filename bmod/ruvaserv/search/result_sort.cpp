#include "bmod/ruvaserv/search/result_sort.h"

namespace ruva {

HitSortKey makeHitSortKey(UzQxSearchEntry& hit) {
    HitSortKey key;
    key.entry = &hit;
    return key;
}

int uqxSortCallback(const HitSortKey&, const HitSortKey&, SearchResultSortOrder, const HitSortSettings&) {
    return 0;
}

int uqxSortCallbackLibs(std::string_view, std::string_view, const LibraryTable&) {
    return 0;
}

bool sortSearchResults(std::vector<UzQxSearchEntry*>&, int, const char*, const char*, SearchResultSortOrder,
                       HitSortSettings&, const LibraryTable&) {
    return false;
}

}  // namespace ruva

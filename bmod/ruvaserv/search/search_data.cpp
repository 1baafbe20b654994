#include "bmod/ruvaserv/search/search_data.h"

#include <new>

namespace ruva {

std::unique_ptr<SearchData> newSearchData() {
    return std::unique_ptr<SearchData>(new (std::nothrow) SearchData());
}

void SearchData::clear() {
    srchTypeBoolOperation = STYPE_AND;
    searchType = OST_UNKNOWN;
    searchScope = OSS_UNKNOWN;
    // Every pattern goes: a later search must not show an earlier one's.
    for (std::string* pattern : {&searchPat, &searchPatTitle, &searchPatDocNo, &searchPatBodyText, &searchPatCtw,
                                 &searchPatTopicTitle, &searchPatFolTitle})
        pattern->clear();
    sTypeCounter = 0;
    isAdvanced = 0;
    isExternSearch = 0;
}

}  // namespace ruva

#include "bmod/ruvaserv/search/search_data.h"

#include <new>

namespace ruva {

std::unique_ptr<SearchData> newSearchData() {
    return std::unique_ptr<SearchData>(new (std::nothrow) SearchData());
}

void SearchData::clear() {}

}  // namespace ruva

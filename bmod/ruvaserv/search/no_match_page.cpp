// The page written when a search leaves nothing to show: what was searched
// and hints for a search that would match.
#include "bmod/ruvaserv/search/search_result_fmt.h"

namespace ruva {

int SearchResultFmt::presentNoMatch(const std::string&, const std::string&) {
    return 0;
}

}  // namespace ruva

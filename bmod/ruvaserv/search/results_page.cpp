// The results page: the single-hit shortcuts, the head with its scripts,
// the summary, the library table and the notes around the rows.
#include "bmod/ruvaserv/search/result_prepare.h"
#include "bmod/ruvaserv/search/search_result_fmt.h"

namespace ruva {

int SearchResultFmt::writeResultsPage(KivoHandler&, PreparedResults&, unsigned, const std::optional<std::string>&) {
    return 0;
}

}  // namespace ruva

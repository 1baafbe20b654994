// The document rows of the results page, grouped under library and search
// type headings, and the notes that close them.
#include "bmod/ruvaserv/search/result_prepare.h"
#include "bmod/ruvaserv/search/search_result_fmt.h"

namespace ruva {

int SearchResultFmt::writeResultRows(KivoHandler&, KvoFormat&, PreparedResults&, const std::optional<std::string>&) {
    return 0;
}

}  // namespace ruva

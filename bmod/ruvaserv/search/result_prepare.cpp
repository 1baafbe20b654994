#include "bmod/ruvaserv/search/result_prepare.h"

#include "bmod/ruvaserv/search/search_result_fmt.h"

namespace ruva {

int SearchResultFmt::prepareResults(KivoHandler&, UzResponse*, PreparedResults&) {
    return 0;
}

}  // namespace ruva

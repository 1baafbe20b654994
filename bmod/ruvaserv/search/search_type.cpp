#include "bmod/ruvaserv/search/search_type.h"

namespace ruva {

int chooseSearchTypes(ValueList&, SearchRequest&, ErrorText&) {
    return 0;
}

}  // namespace ruva

#include "bmod/ruvaserv/search/synopsis.h"

namespace ruva {

std::string makeSynopsis(std::string_view, const std::vector<ContextWord>&, SynopsisMode) {
    return {};
}

}  // namespace ruva

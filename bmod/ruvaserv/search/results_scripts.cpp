#include "bmod/ruvaserv/search/results_scripts.h"

#include "bmod/ruvaserv/cgi/viewer_script.h"

namespace ruva {

std::string_view collectionSearchScript(std::string_view section) {
    return scriptSection(collectionSearchScriptFile(), section);
}

}  // namespace ruva

#include "bmod/ruvaserv/search/search_forms_script.h"

#include "bmod/ruvaserv/cgi/viewer_script.h"

namespace ruva {

std::string_view searchFormsScript(std::string_view section) {
    return scriptSection(searchFormsScriptFile(), section);
}

}  // namespace ruva

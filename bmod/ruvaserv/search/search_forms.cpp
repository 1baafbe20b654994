#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/search/search_actions.h"
#include "bmod/ruvaserv/search/search_forms_script.h"

namespace ruva {

std::span<const DecimalClassRow> builtInDecimalClasses() {
    return {};
}

int SearchActions::advsearchAction() {
    return 0;
}

int SearchActions::docsearchAction() {
    return 0;
}

}  // namespace ruva

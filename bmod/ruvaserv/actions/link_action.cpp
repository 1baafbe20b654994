#include <memory>

#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/search/search_actions.h"

namespace ruva {

int KivoHandler::linkAction() {
    if (!cg || !cg->establishDefaultSession()) return 0;
    std::unique_ptr<SearchActions> sa = newSearchActions(cg);
    if (!sa) {
        setError(msgFormat(0, "kivohandler/78"), "SearchActions");
        return 0;
    }
    if (sa->getKivoDocument(*this)) return 1;
    // Locating the library on the server comes later; until then the
    // request is answered as the dispatcher answers words it cannot run.
    setError(msgFormat(10, "kivohandler/2"), "LINK");
    return 0;
}

int KivoHandler::fetchLinkDocument() {
    setError(msgFormat(10, "kivohandler/2"), "LINK");
    return -1;
}

const char* KivoHandler::linkNotFoundTag() { return "kivohandler/93"; }

}  // namespace ruva

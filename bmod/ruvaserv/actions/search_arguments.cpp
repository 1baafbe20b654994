// The search arguments of SEARCH and SEARCHEXT: library lists, collections
// and the defaults taken from cookies, left in the request's fields.
#include "bmod/ruvaserv/actions/kivohandler.h"

#include "bmod/ruvaserv/cgi/kvo_msg.h"

namespace ruva {

int KivoHandler::searchArguments() {
    setError(msgFormat(10, "kivohandler/2"), "SEARCH");
    return 0;
}

int KivoHandler::externalSearchArguments() {
    setError(msgFormat(10, "kivohandler/2"), "SEARCHEXT");
    return 0;
}

int KivoHandler::collectionCheck(const char*) {
    setError(msgFormat(10, "kivohandler/2"), "SEARCHEXT");
    return 0;
}

int KivoHandler::listSearch(bool) {
    setError(msgFormat(10, "kivohandler/2"), "SEARCH");
    return 0;
}

int KivoHandler::buildLibIds(const std::string&, std::string&) {
    setError(msgFormat(10, "kivohandler/2"), "SEARCHEXT");
    return 0;
}

}  // namespace ruva

#include "bmod/ruvaserv/search/search_actions.h"

#include <new>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/search/library_name.h"

namespace ruva {

std::unique_ptr<SearchActions> newSearchActions(CgiHandler* cg) {
    return std::unique_ptr<SearchActions>(new (std::nothrow) SearchActions(cg));
}

int SearchActions::retrieveFile(std::string& fileName) {
    if (!cg) return 0;
    return cg->retrieveFile(getLibraryName(*cg), fileName);
}

int SearchActions::getKivoDocument(KivoHandler&) {
    if (!cg || !cg->valueList) return 0;
    const Value* fn = cg->valueList->findValue("FN");
    // The catchword and title look-ups come with the searches.
    if (!fn || fn->value.empty()) return 0;
    const std::string asked = fn->value;
    // A chapter is reached by sending the browser to the file with the
    // chapter as its fragment, so the browser scrolls there itself.
    if (cg->valueList->findValue("CH")) return cg->locationDbFile("", "", asked, "");
    std::string file = asked;
    if (!retrieveFile(file)) {
        // The value list has made FN safe for the page already.
        cg->outputError(cg->msg(83, "SearchActions/1"), asked, cg->getError());
        cg->flags |= kCgiResponseDone;
    }
    return 1;
}

}  // namespace ruva

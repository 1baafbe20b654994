#include "bmod/ruvaserv/search/document_lookup.h"

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/search/library_name.h"
#include "bmod/ruvaserv/search/search_actions.h"

namespace ruva {

std::optional<std::string> lookupClassPattern(std::string_view) {
    return std::nullopt;
}

int hasExtension(std::string_view, std::string_view) {
    return 0;
}

int SearchActions::getKivoDocument(KivoHandler& handler) {
    if (!cg) return 0;
    return getKivoDocument(handler, DocumentLookup{getLibraryName(*cg), false});
}

int SearchActions::getKivoDocument(KivoHandler&, const DocumentLookup& lookup) {
    if (!cg || !cg->valueList) return 0;
    const Value* fn = cg->valueList->findValue("FN");
    // The catchword and title look-ups come with the searches.
    if (!fn || fn->value.empty()) return 0;
    const std::string asked = fn->value;
    // A chapter is reached by sending the browser to the file with the
    // chapter as its fragment, so the browser scrolls there itself.
    if (cg->valueList->findValue("CH")) return cg->locationDbFile("", "", asked, "");
    std::string file = asked;
    if (!cg->retrieveFile(lookup.library, file)) {
        // The value list has made FN safe for the page already.
        cg->outputError(cg->msg(83, "SearchActions/1"), asked, lookup.libraryIn83 ? lookup.library : cg->getError());
        cg->flags |= kCgiResponseDone;
    }
    return 1;
}

std::optional<std::string> SearchActions::getDecimalClassAction() {
    return std::nullopt;
}

}  // namespace ruva

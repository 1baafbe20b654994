// The instant-search block's stand-in, until that block is built.
#include <string>

#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"

namespace ruva {

// Only the script's opening line until the instant search is built; the
// main page closes the element.
int KivoHandler::allJSFunctions(const std::string&, const std::string&, int, const std::string&, int, int, int) {
    if (!cg || !cg->docWriteBuf("<script type=\"text/javascript\">\n<!--\n")) return 0;
    const ValueList& fields = *cg->valueList;
    return fields.findValue("ID") || fields.findValue("LI") || fields.findValue("DB") ? 1 : 0;
}

}  // namespace ruva

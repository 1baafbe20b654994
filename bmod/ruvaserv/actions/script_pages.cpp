// The in-line notes script and the empty instant-search result page.
#include "bmod/ruvaserv/actions/kivohandler.h"

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/kvo_msg.h"

namespace ruva {

int KivoHandler::writeJSFunctions() { return 0; }
int KivoHandler::writeInstantResultsPage() { return 0; }

}  // namespace ruva

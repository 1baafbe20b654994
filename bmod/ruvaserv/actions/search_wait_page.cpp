// The waiting page of a search, which reloads itself as the search.
#include "bmod/ruvaserv/actions/kivohandler.h"

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/kvo_msg.h"

namespace ruva {

int KivoHandler::outputSearchMessage(const char*) { return 0; }

}  // namespace ruva

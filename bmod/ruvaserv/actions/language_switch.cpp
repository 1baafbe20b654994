// CHNGLANG: the library and document in another language.
#include "bmod/ruvaserv/actions/kivohandler.h"

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/kvo_msg.h"

namespace ruva {

int KivoHandler::externalLinkAction() { return 0; }

}  // namespace ruva

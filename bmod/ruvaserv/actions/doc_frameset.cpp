// DOCNOTREE: the document frameset without a tree.
#include "bmod/ruvaserv/actions/kivohandler.h"

#include "bmod/ruvaserv/cgi/kvo_msg.h"

namespace ruva {

int KivoHandler::docNoTreeAction() {
    setError(msgFormat(10, "kivohandler/2"), "DOCNOTREE");
    return 0;
}

}  // namespace ruva

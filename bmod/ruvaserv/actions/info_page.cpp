// INFO: the information page of a document.
#include "bmod/ruvaserv/actions/kivohandler.h"

#include "bmod/ruvaserv/cgi/kvo_msg.h"

namespace ruva {

int KivoHandler::infoAction() {
    setError(msgFormat(10, "kivohandler/2"), "INFO");
    return 0;
}

}  // namespace ruva

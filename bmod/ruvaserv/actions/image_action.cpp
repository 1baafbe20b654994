// IMAGE: a member written as it is, with its own header.
#include "bmod/ruvaserv/actions/kivohandler.h"

#include "bmod/ruvaserv/cgi/kvo_msg.h"

namespace ruva {

int KivoHandler::imageAction() {
    setError(msgFormat(10, "kivohandler/2"), "IMAGE");
    return 0;
}

}  // namespace ruva

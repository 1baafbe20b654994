// The library's frameset page with the script the other frames call.
#include "bmod/ruvaserv/actions/kivohandler.h"

#include "bmod/ruvaserv/cgi/kvo_msg.h"

namespace ruva {

int KivoHandler::mainPageAction(int) {
    setError(msgFormat(10, "kivohandler/2"), "LINKEXT");
    return 0;
}

}  // namespace ruva

// CONREF: one topic of a document as an HTML fragment.
#include "bmod/ruvaserv/actions/kivohandler.h"

#include "bmod/ruvaserv/cgi/kvo_msg.h"

namespace ruva {

int KivoHandler::topicContent() {
    setError(msgFormat(10, "kivohandler/2"), "CONREF");
    return 0;
}

}  // namespace ruva

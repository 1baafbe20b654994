// The library drop-down of the toolbar.
#include "bmod/ruvaserv/actions/kivohandler.h"

#include "bmod/ruvaserv/cgi/kvo_msg.h"

namespace ruva {

int KivoHandler::PrintDropDownMenu() {
    setError(msgFormat(10, "kivohandler/2"), "TOOLBAR");
    return 0;
}

}  // namespace ruva

#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/output/kvosrvcompare.h"

namespace ruva {

int KivoHandler::compareAction() {
    return 0;
}

}  // namespace ruva

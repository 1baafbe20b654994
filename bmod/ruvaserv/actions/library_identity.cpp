#include "bmod/ruvaserv/actions/library_identity.h"

namespace ruva {

int KivoHandler::getIDbyDbName() {
    return 0;  // not yet built
}

int KivoHandler::getLIbyHiddenID() {
    return 0;  // not yet built
}

}  // namespace ruva

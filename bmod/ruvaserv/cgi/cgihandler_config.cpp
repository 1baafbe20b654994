#include "bmod/ruvaserv/cgi/cgihandler.h"

namespace ruva {

ConfigKeys kivoConfigKeys() {
    return {};  // not yet built
}

int CgiHandler::readConfigFile(const char*) {
    return 1;  // not yet built
}

}  // namespace ruva

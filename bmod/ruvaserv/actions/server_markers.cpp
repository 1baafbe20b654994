// The small markers: known servers, the server's name, program information,
// the library name, the server address and the root node's id.
#include "bmod/ruvaserv/actions/kivohandler.h"

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/kvo_msg.h"

namespace ruva {

int KivoHandler::outputListServ() { return 1; }
int KivoHandler::outputServName() { return 1; }
int KivoHandler::outputProgInfo() { return 1; }
int KivoHandler::outputDbName() { return 1; }
int KivoHandler::outputUzAddr() { return 1; }
int KivoHandler::outputRootID() { return 1; }

}  // namespace ruva

// The comparison's selection page, its waiting page and the compare marker.
#include "bmod/ruvaserv/actions/kivohandler.h"

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/kvo_msg.h"

namespace ruva {

int KivoHandler::outputCompareSelect() { return 0; }
int KivoHandler::outputCompareMessage() { return 0; }
int KivoHandler::outputCompare(const std::string&, const std::string&) { return 1; }

}  // namespace ruva

// Library lists of the listdb and cmplistdb markers.
#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/actions/library_lists.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/kvo_msg.h"

namespace ruva {

int KivoHandler::outputListDb(const std::string&, const std::string&, int) { return 1; }
int KivoHandler::sortListDb(UzResponse&, int) { return 1; }
int KivoHandler::normalListDb(UzSession&, UzResponse&, const std::string&, const std::string&) { return 1; }
int KivoHandler::compareListDb(UzSession&, UzResponse&, const std::string&, const std::string&) { return 1; }

std::string databaseDisplayName(std::string_view name) { return std::string(name); }

}  // namespace ruva

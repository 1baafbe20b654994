// TREEFRAME: the tree frame page with the library's document filters.
#include "bmod/ruvaserv/actions/tree_frame.h"

#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/kvo_msg.h"

namespace ruva {

bool extractDwFilters(std::string_view, std::string&, std::string&) { return false; }

int KivoHandler::writeDummyTreeFrame() { return 0; }

}  // namespace ruva

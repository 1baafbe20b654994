// The library of a request for the daemon's retrieval commands, for the
// operations that fetch a member without a library identity of their own.
#pragma once

#include <string>

namespace ruva {

class CgiHandler;

// The field ID when it has a value; else DB, with ".kvo" appended when it
// holds no '.'; else "*.kvo", every library.
std::string getLibraryName(const CgiHandler& cg);

}  // namespace ruva

#include "bmod/ruvaserv/cgi/viewer_script.h"

namespace ruva {

// The viewer script is not embedded yet.
std::string_view viewerScript(std::string_view) { return {}; }

}  // namespace ruva

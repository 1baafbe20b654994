#include <string>
#include <string_view>

#include "bmod/ruvaserv/cgi/postprocess_texts.h"

namespace ruva {

std::string_view contextMenuStyle() { return {}; }

std::string documentContextMenu(bool, std::string_view, std::string_view) { return {}; }

std::string_view newContextMenu() { return {}; }

}  // namespace ruva

// The browser side of the viewer: the script text a generated page carries,
// by section ("doc-toc": cNDoc and aNDoc of the document TOC).
#pragma once

#include <string_view>

namespace ruva {

// The section's text; "" for a section the viewer script does not hold.
std::string_view viewerScript(std::string_view section);

}  // namespace ruva

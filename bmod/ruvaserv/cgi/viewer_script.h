// The browser side of the viewer: js/viewer.js, compiled in, whose
// sections ("//@section <name>" lines) generated pages carry.
#pragma once

#include <string_view>

namespace ruva {

// The whole file, static data.
std::string_view viewerScriptFile();

// The text of section name, from the line after its marker to the next
// marker (or the file's end); "" for a section the file does not hold.
std::string_view viewerScript(std::string_view section);

// The same for any compiled-in script file.
std::string_view scriptSection(std::string_view file, std::string_view section);

}  // namespace ruva

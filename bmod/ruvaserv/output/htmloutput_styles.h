// The list pages' style sheets, as formats for kvoPrintf.
#pragma once

namespace ruva {

// Search pages, first half: values (a) to (d) of the page's mode.
inline constexpr char kSearchStyleSheetHead[] = R"()";
// Search pages, second half: values (e) to (g).
inline constexpr char kSearchStyleSheetTail[] = R"()";
// Every other page: the body font; ends with "</head>".
inline constexpr char kPlainStyleSheet[] = R"()";

}  // namespace ruva

// The tree frame's document filters, taken from a library's dwfilters.js.
//
// The file is a script of string assignments, each value a double-quoted
// literal whose lines end in a continuation:
//   var dwf_js="<filter script>";   var dwf_html="...";
//   var dwf_css="<filter style>";   var dwf_cookie="...";
// The tree page carries the script and the style as markup, so the string
// escapes are taken out again.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ruva {

inline constexpr std::string_view kDwfScriptKey = "var dwf_js=";
inline constexpr std::string_view kDwfScriptEndKey = "var dwf_html=";
inline constexpr std::string_view kDwfStyleKey = "var dwf_css=";
inline constexpr std::string_view kDwfStyleEndKey = "var dwf_cookie=";
// Where a value starts after its key (past the opening quote), and the
// least distance from a key to the one that ends its value: the script's
// end key at least 14 characters after its key, the style's at least 16.
inline constexpr size_t kDwfScriptSkip = 12;
inline constexpr size_t kDwfScriptMinDistance = 14;
inline constexpr size_t kDwfStyleSkip = 13;
inline constexpr size_t kDwfStyleMinDistance = 16;
// The style ends this many characters before its end key (its closing
// quote, ';' and line end).
inline constexpr size_t kDwfStyleTail = 3;

// The filter script and style sheet held in the text of dwfilters.js.
// Each end key is looked for after its own key; a key that is missing, an
// end key before its key or nearer than its least distance gives false,
// script and style untouched. Reads nothing outside file.
// The script runs from its value's start to its end key, without the
// continuations "\n\", an 'n' before a backslash, the backslash of an
// escaped quote and a backslash after ';', '{', '}', '(' or ')' (at each
// place the first of these that matches, in this order), and it ends after
// its last '}' ("" without one). The style runs from its value's start to
// kDwfStyleTail before its end key, without a backslash after '}'.
bool extractDwFilters(std::string_view file, std::string& script, std::string& style);

}  // namespace ruva

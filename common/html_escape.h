// Escaping of user input and document text for HTML pages and script strings.
// Inputs are NUL-ended texts; a null text gives "". Results are new strings.
#pragma once

#include <cstddef>
#include <string>

namespace ruva {

// The value of the request field `name` made fit for a page: '<' and '>'
// become a blank each; '"' becomes "&#34;", '\'' "&#39;" and '/' "&#47;",
// except that the search fields PA, PAT, PAC, PAD and SYPA keep '\'', '/'
// and a '"' that is the first or last character of the value, and the
// fields LI, SL, LL, TLL, TSL and FN keep '/'. Names compare case-blind; a
// null name is an ordinary field. The result is at most five times the
// value's length. What the search fields keep is raw for the search engine:
// such a result is not safe inside a quoted attribute.
std::string validateAllChar(const char* name, const char* value);

// '"' to "&#34;" and '\'' to "&#39;"; with `all` also '/' to "&#47;", '<' to
// "&#60;" and '>' to "&#62;".
std::string validateQuotesAndChar(const char* value, bool all);

// Every '&' that does not begin "&amp;" (letters in any case) written as
// "&amp;", so that text already escaped is not escaped twice.
std::string AmpEsc(const char* text);

// For a string inside a script: CR dropped, LF made a blank, and '\'', '"'
// and '\\' preceded by a backslash. At most kEscapeSpecialCharMax characters;
// the text is cut before an escape that would not fit whole, so the result
// never ends in a lone backslash.
constexpr size_t kEscapeSpecialCharMax = 256;
std::string escapeSpecialChar(const char* text);

}  // namespace ruva

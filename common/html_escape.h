// Escaping of user input and document text for HTML pages and script strings.
// Inputs are NUL-ended texts; a null text gives "". Results are new strings.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ruva {

// The value of the request field `name` made fit for a page: '<' and '>'
// become a blank each; '"' becomes "&#34;", '\'' "&#39;" and '/' "&#47;",
// except that the search fields PA, PAT, PAC, PAD, PAOR and SYPA keep '\'', '/'
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

// Outside text made fit for a page: AmpEsc, then validateQuotesAndChar with
// every special character.
std::string htmlEscaped(const std::string& text);

// For a string inside a script: CR dropped, LF made a blank, and '\'', '"'
// and '\\' preceded by a backslash. At most kEscapeSpecialCharMax characters;
// the text is cut before an escape that would not fit whole, so the result
// never ends in a lone backslash.
constexpr size_t kEscapeSpecialCharMax = 256;
std::string escapeSpecialChar(const char* text);

// Text that is already HTML (its entities stay) made safe between tags or
// inside a double-quoted attribute: '<', '>' and '"' become "&lt;", "&gt;"
// and "&quot;", with singleQuoted also '\'' "&#39;"; '&' and every other
// byte are copied.
std::string escapeHtmlKeepEntities(std::string_view text, bool singleQuoted);
// escapeHtmlKeepEntities's text appended to out.
void appendHtmlKeepEntities(std::string& out, std::string_view text, bool singleQuoted);

// The whole text as the body of a script string literal, with no length cut.
// Written as the script reads them: backslash as \\, '"' as \", '\'' as
// \u0027, '<' as \u003C, '>' as \u003E, CR as \r, LF as \n, and the UTF-8
// forms of U+2028 and U+2029 (line ends to older scripts) as \u2028 and
// \u2029; other bytes are copied. Each form is valid between '...' and
// "..." alike and none holds '<' or '>', so no value ends the literal,
// breaks its line or closes the <script> element around it ("</script>").
std::string escapeScriptString(std::string_view text);

}  // namespace ruva

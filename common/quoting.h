// Quoting of reply fields, read back by getNextToken on the other side.
#pragma once

#include <string>

namespace ruva {

// A non-empty text of ASCII letters and digits as it is; otherwise the text
// in double quotes with a backslash before each inner quote. "" for null.
std::string quoteString(const char* text);
// Each " gets a backslash; a backslash followed by a character is copied
// with it unchanged (a trailing one once). "" for null.
std::string quoteQuote(const char* text);

}  // namespace ruva

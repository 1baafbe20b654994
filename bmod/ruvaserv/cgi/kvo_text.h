// The text table of kivoserv: titles, labels, HTTP header words and the day
// and month names of HTTP dates, by number. Only English exists.
#pragma once

#include <string>

#include "bmod/ruvaserv/cgi/checked_format.h"

namespace ruva {

inline constexpr int kTextCount = 162;
// Text 155 begins with '!': an entry out of place moves it.
inline constexpr int kTextCheckIndex = 155;

// The 162 entries (0-161).
TextTable kivoTexts();

// Selects the English text table. With a code given it checks the table and,
// when text 155 does not begin with '!', prints "Check the text array
// boundaries!" on standard output and ends the program with status 255.
void setTextLanguage(const char* code);

// The text; "" for an index outside the table or an empty entry.
std::string getTextStr(int index);

// getTextStr as a format for formatChecked.
TableFormat textFormat(int index);

}  // namespace ruva

// Outside text named in a message that the handler keeps whole (a library
// key, a file name, a command): the message must still reach the error
// page's 1023 characters with its tag span, so the text is cut.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ruva {

// The longest argument shown, before its "...".
inline constexpr size_t kErrorArgumentMax = 200;

// text escaped for the page (escapeHtmlKeepEntities, single quotes too);
// when longer than kErrorArgumentMax, its first characters up to that many,
// never splitting a character reference or a UTF-8 sequence, then "...".
std::string errorArgument(std::string_view text);

}  // namespace ruva

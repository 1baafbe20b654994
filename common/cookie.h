// Reading a cookie of the current request.
#pragma once

#include <optional>
#include <string>

namespace ruva {

// The value of the cookie `name` in the environment variable HTTP_COOKIE.
// The variable is split at ';' and each item trimmed of blanks and tabs;
// the item whose text before its first '=' equals `name` exactly gives the
// text after that '=' (possibly ""). No value when the variable is unset,
// the name is null or empty, or no item matches (an item without '=' never
// does). The first matching item wins.
std::optional<std::string> getcookieforpn(const char* name);

}  // namespace ruva

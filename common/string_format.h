#pragma once

#include <cstdarg>
#include <string>

namespace ruva {

// printf into a std::string of exactly the formatted length; an encoding
// error gives "".
std::string vformat(const char* format, va_list ap);
std::string format(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace ruva

#include "common/string_format.h"

#include <cstdio>

namespace ruva {

std::string vformat(const char* format, va_list ap) {
    char small[256];
    va_list again;
    va_copy(again, ap);
    int n = std::vsnprintf(small, sizeof small, format, ap);
    std::string out;
    if (n < 0) {
        va_end(again);
        return out;
    }
    if (static_cast<size_t>(n) < sizeof small) {
        out.assign(small, static_cast<size_t>(n));
    } else {
        out.resize(static_cast<size_t>(n) + 1);
        std::vsnprintf(out.data(), out.size(), format, again);
        out.resize(static_cast<size_t>(n));
    }
    va_end(again);
    return out;
}

std::string format(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::string out = vformat(fmt, ap);
    va_end(ap);
    return out;
}

}  // namespace ruva

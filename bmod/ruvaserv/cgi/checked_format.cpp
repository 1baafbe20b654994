#include "bmod/ruvaserv/cgi/checked_format.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace ruva::format_detail {

namespace {

// A mismatch is a fault of the calling code, never of a request: the
// sanitizer build stops at it so that tests find it.
int refuse([[maybe_unused]] const char* format, [[maybe_unused]] std::size_t argument,
           [[maybe_unused]] const char* why) {
#ifdef RUVA_SANITIZE_BUILD
    std::fprintf(stderr, "formatChecked: %s at argument %zu of \"%s\"\n", why, argument + 1, format);
    std::abort();
#else
    return 0;
#endif
}

// One conversion after its '%': flags, width, precision, an optional 'l',
// the conversion character. Sets *end past it; 0 for anything else ('*'
// widths, 'n', floating point, "ll").
char readConversion(const char* spec, bool* isLong, const char** end) {
    spec += std::strspn(spec, "-+ #0");
    spec += std::strspn(spec, "0123456789");
    if (*spec == '.') spec += 1 + std::strspn(spec + 1, "0123456789");
    *isLong = *spec == 'l';
    if (*isLong) ++spec;
    char c = *spec;
    if (c == '\0' || !std::strchr(*isLong ? "diuxX" : "diuxXcs%", c)) return 0;
    *end = spec + 1;
    return c;
}

}  // namespace

int conversionsFit(const char* format, const ArgKind* kinds, std::size_t count) {
    std::size_t used = 0;
    for (const char* p = std::strchr(format, '%'); p; p = std::strchr(p, '%')) {
        bool isLong = false;
        char c = readConversion(p + 1, &isLong, &p);
        if (!c) return refuse(format, used, "unknown conversion");
        if (c == '%') continue;
        if (used == count) return refuse(format, used, "missing argument");
        ArgKind want = c == 's' ? ArgKind::kString : isLong ? ArgKind::kLong : ArgKind::kInt;
        if (kinds[used] != want) return refuse(format, used, "argument type does not fit the conversion");
        ++used;
    }
    if (used != count) return refuse(format, used, "argument without conversion");
    return 1;
}

}  // namespace ruva::format_detail

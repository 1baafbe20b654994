#include "bmod/ruvaserv/actions/error_argument.h"

#include "common/html_escape.h"

namespace ruva {

namespace {

// Longer than any reference the escaper writes or a stored value carries.
constexpr size_t kReferenceMax = 10;

bool isUtf8Continuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

}  // namespace

std::string errorArgument(std::string_view text) {
    std::string shown = escapeHtmlKeepEntities(text, true);
    if (shown.size() <= kErrorArgumentMax) return shown;
    size_t cut = kErrorArgumentMax;
    // A reference cut in two would show its half as text.
    const size_t amp = shown.rfind('&', cut - 1);
    if (amp != std::string::npos && cut - amp < kReferenceMax && shown.find(';', amp) >= cut) cut = amp;
    while (cut > 0 && isUtf8Continuation(shown[cut])) --cut;
    shown.resize(cut);
    return shown + "...";
}

}  // namespace ruva

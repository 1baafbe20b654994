// Character references of HTML text: the XML five, the Latin-1 names of
// HTML (nbsp to yuml) and numeric references. Names are case-sensitive and
// every reference needs its ';'; anything else is not a reference and
// stays text as written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace ruva::filter {

struct Reference {
    uint32_t code;  // the code point; 0xFFFD for a number beyond Unicode or 0
    size_t size;    // bytes from the '&' through the ';'
};

// Whether text[pos], an '&', starts a reference; sets ref when it does.
// Reads nothing past the view.
bool decodeReference(std::string_view text, size_t pos, Reference& ref);

}  // namespace ruva::filter

// Light scrambling of a text; not encryption.
#pragma once

#include <string>
#include <string_view>

namespace ruva {

// Each byte XORed with the next byte of a fixed 4-byte key, the key starting
// over at every call. Same length as the input; applying it twice gives the
// input back. The result may hold NUL bytes for input bytes from 0x80.
std::string xorstr(std::string_view text);

}  // namespace ruva

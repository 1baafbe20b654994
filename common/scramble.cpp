#include "common/scramble.h"

namespace ruva {

namespace {

// All key bytes have the high bit set, so ASCII text never scrambles to NUL
// and stays a C string.
constexpr unsigned char kKey[4] = {0x9C, 0xE3, 0xB7, 0xD1};

}  // namespace

std::string xorstr(std::string_view text) {
    std::string out(text);
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<char>(static_cast<unsigned char>(out[i]) ^ kKey[i % 4]);
    return out;
}

}  // namespace ruva

// Explode (method 6) on one member wrapped from the input; the mode byte
// sets general flag bits 1 and 2 (fuzz_support.h).
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ruva::fuzz::decodeMember(ruva::fuzz::Decoder::kExplode, data, size);
    return 0;
}

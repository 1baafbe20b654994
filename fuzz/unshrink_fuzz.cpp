// Unshrink (method 1) on one member wrapped from the input (fuzz_support.h).
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ruva::fuzz::decodeMember(ruva::fuzz::Decoder::kUnshrink, data, size);
    return 0;
}

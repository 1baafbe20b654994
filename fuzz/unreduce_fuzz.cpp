// Unreduce on one member wrapped from the input; the mode byte picks
// methods 2-5 (fuzz_support.h).
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ruva::fuzz::decodeMember(ruva::fuzz::Decoder::kUnreduce, data, size);
    return 0;
}

// The library reader on whole archives, then every member extracted.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ruva::fuzz::readArchive(data, size);
    return 0;
}

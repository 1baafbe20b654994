#include "common/sorting.h"

#include "common/text.h"

namespace ruva {

namespace {

// ASCII case-blind order of unsigned bytes, as strcasecmp in the C locale;
// a null key sorts as an empty one.
int compareCaseBlind(const char* a, const char* b) {
    auto p = reinterpret_cast<const unsigned char*>(a ? a : "");
    auto q = reinterpret_cast<const unsigned char*>(b ? b : "");
    while (*p && asciiLower(*p) == asciiLower(*q)) ++p, ++q;
    return asciiLower(*p) - asciiLower(*q);
}

}  // namespace

void gSort(const char** keys, void** values, int i) {
    if (!keys || i <= 0) return;
    const char* key = keys[i];
    void* value = values ? values[i] : nullptr;
    int j = i;
    // Only strictly greater keys are passed, which keeps the sort stable.
    for (; j > 0 && compareCaseBlind(keys[j - 1], key) > 0; --j) {
        keys[j] = keys[j - 1];
        if (values) values[j] = values[j - 1];
    }
    keys[j] = key;
    if (values) values[j] = value;
}

void optimisedGSort(const char** keys, void** values, int n) {
    for (int i = 1; i < n; ++i) gSort(keys, values, i);
}

}  // namespace ruva

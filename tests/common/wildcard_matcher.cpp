// Feeds (wildcard, text) pairs from standard input to wildcardfit.
//
// Each record is a line "<wildcard length> <text length>" in decimal, then
// exactly that many bytes of wildcard, that many bytes of text and "\n".
// Lengths make every byte but NUL representable, newlines included. For
// each record one line "0" or "1" is written. Exit status 2 on a malformed
// record (after the results of the records before it).
#include <cstdio>
#include <string>

#include "common/patterns.h"

namespace {

// Far more than any test sends; keeps a garbled length from allocating wildly.
constexpr size_t kMaxLength = 1 << 20;

bool readBytes(size_t count, std::string& out) {
    if (count > kMaxLength) return false;
    out.resize(count);
    return std::fread(out.data(), 1, count, stdin) == count;
}

}  // namespace

int main() {
    std::string wildcard;
    std::string text;
    size_t wildcardLength;
    size_t textLength;
    int got;
    while ((got = std::scanf("%zu %zu", &wildcardLength, &textLength)) == 2) {
        if (std::getchar() != '\n' || !readBytes(wildcardLength, wildcard) || !readBytes(textLength, text) ||
            std::getchar() != '\n' || wildcard.find('\0') != std::string::npos ||
            text.find('\0') != std::string::npos) {
            std::fprintf(stderr, "wildcard_matcher: malformed record\n");
            return 2;
        }
        std::printf("%d\n", ruva::wildcardfit(wildcard.c_str(), text.c_str()));
    }
    if (got != EOF) {
        std::fprintf(stderr, "wildcard_matcher: malformed record header\n");
        return 2;
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}

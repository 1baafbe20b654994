// Feeds texts from standard input to urlEncode.
//
// Each record is a line "<mode> <length>" in decimal, then exactly that many
// bytes of text and "\n". For each record the result is written the same
// way: "<length> <truncated 0|1>\n", the bytes, "\n". Exit status 2 on a
// malformed record (after the results of the records before it).
#include <cstdio>
#include <string>

#include "common/url_code.h"

namespace {

constexpr size_t kMaxLength = 1 << 20;

}  // namespace

int main() {
    int mode;
    size_t length;
    int got;
    std::string text;
    while ((got = std::scanf("%d %zu", &mode, &length)) == 2) {
        if (std::getchar() != '\n' || length > kMaxLength) {
            std::fprintf(stderr, "url_coder: malformed record\n");
            return 2;
        }
        text.resize(length);
        if (std::fread(text.data(), 1, length, stdin) != length || std::getchar() != '\n' ||
            text.find('\0') != std::string::npos) {
            std::fprintf(stderr, "url_coder: malformed record\n");
            return 2;
        }
        // Room for every escape, so a cut shows as an error.
        bool truncated = false;
        std::string out = ruva::urlEncode(mode, text.c_str(), 3 * length + 3, &truncated);
        std::printf("%zu %d\n", out.size(), truncated ? 1 : 0);
        std::fwrite(out.data(), 1, out.size(), stdout);
        std::putchar('\n');
    }
    if (got != EOF) {
        std::fprintf(stderr, "url_coder: malformed record header\n");
        return 2;
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}

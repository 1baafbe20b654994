// Runs the preparation of the results page over cases read from standard
// input and prints one JSON line per case.
//
// A case is a sequence of records, each a line "<kind> <length>" in decimal,
// then exactly that many bytes and "\n". Kinds:
//   field    "NAME=value": a request field
//   cookie   "name=value": a request cookie
//   sd       "name=value": a SearchData member (searchType, sTypeCounter,
//            isAdvanced, isExternSearch, isPhraseSearch, srchTypeBoolOperation,
//            searchPat and the other patterns), in decimal or as text
//   order    "0" or "1": the formatter's sort order
//   qxsrch   the daemon's QXSRCH reply lines, "\r\n"-ended
//   mllist   "<argument>\n" then the MLLIST reply lines for that argument
//   end      "" (length 0): runs the case
// Per case one line: {"case":n, ...}; a case that cannot be run prints
// {"case":n,"error":"..."}. Exit status 2 on a malformed record (after the
// lines of the cases before it).
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/json_line.h"

namespace {

constexpr size_t kMaxLength = 1 << 24;

struct Record {
    std::string kind;
    std::string body;
};

// One case's records, in input order.
using Case = std::vector<Record>;

ruva::test::JsonObject runCase(size_t number, const Case&) {
    ruva::test::JsonObject line;
    line.number("case", static_cast<long long>(number));
    line.text("error", "not run");
    return line;
}

bool knownKind(const std::string& kind) {
    static const char* const kinds[] = {"field", "cookie", "sd", "order", "qxsrch", "mllist", "end"};
    for (const char* k : kinds) {
        if (kind == k) return true;
    }
    return false;
}

int malformed(const char* what) {
    std::fprintf(stderr, "prep_dump: malformed %s\n", what);
    return 2;
}

}  // namespace

int main() {
    char kind[16];
    size_t length;
    int got;
    size_t number = 0;
    Case current;
    while ((got = std::scanf("%15s %zu", kind, &length)) == 2) {
        if (std::getchar() != '\n' || length > kMaxLength || !knownKind(kind)) return malformed("record");
        std::string body(length, '\0');
        if (std::fread(body.data(), 1, length, stdin) != length || std::getchar() != '\n') return malformed("record");
        if (std::string(kind) == "end") {
            std::string out = runCase(number++, current).str();
            std::fwrite(out.data(), 1, out.size(), stdout);
            std::putchar('\n');
            current.clear();
            continue;
        }
        current.push_back({kind, std::move(body)});
    }
    if (got != EOF || !current.empty()) return malformed("record header");
    return std::fflush(stdout) == 0 ? 0 : 1;
}

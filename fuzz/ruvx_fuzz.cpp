// The word-index reader on whole images: opening, then fixed searches of
// every kind, suggestions and the document list. An index is a library
// member that any upload can supply.
#include <cstddef>
#include <cstdint>

#include "bmod/unzipd/search/ruvx.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto r = ruva::newRuvx(data, size, nullptr);
    if (!r) return 0;
    static const char* const kExpressions[] = {"a",      "ab | abc", "a* !zzz",   "1st & (ab | \"x y\")",
                                               "*b*",    "[a]b?",    "ABCDEF",    "safety*",
                                               "n*",     "!a",       "a b c d e", "\xb0\xa1*"};
    for (const char* e : kExpressions) {
        r->search(e, 0);
        r->search(e, 2);
        r->searchFS(e, 5, "1|0", nullptr, 0, nullptr);
    }
    r->searchSugs("a", 10);
    r->searchSugs("", 3);
    r->searchSugs("n*", 3);
    ruva::SuggestionCollection col;
    r->searchSugsCol("ab", 10, col);
    r->searchSugsCol("z", 1, col);
    r->listFiles();
    return 0;
}

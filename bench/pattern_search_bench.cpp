// Search beside std::search with the standard Boyer-Moore-Horspool
// searcher, glibc memmem and glibc strcasestr, over 24 MB of seeded
// documentation-style HTML that holds one 8-character word once, near its
// end, so that every searcher reads nearly all of it.
//
// Search in plain mode runs the same algorithm as the standard searcher and
// should take at most about 1.5 times its time. memmem (it skips by two-byte
// hashes) and Search in HTML mode (case-blind, tag and entity state, whole
// words: the mode the commands use, beside strcasestr) are reported without
// a target. Every result is checked before timing; the run aborts on a
// wrong one.
#include <benchmark/benchmark.h>
#include <string.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "bench/ratio_reporter.h"
#include "bmod/unzipd/search/pattern_search.h"
#include "tests/support/html_corpus.h"

namespace {

constexpr size_t kCorpusBytes = 24u << 20;
constexpr uint64_t kSeed = 20261210;
const std::string kWord = "Qzvxjwkb";
// The word's distance from the end of the text.
constexpr size_t kFromEnd = 4096;

struct Corpus {
    std::string text;
    size_t wordAt = 0;
};

const Corpus& corpus() {
    static const Corpus c = [] {
        Corpus made;
        for (const std::string& page : ruva::bench::htmlCorpus(kSeed, kCorpusBytes)) made.text += page;
        size_t at = made.text.rfind("<p>", made.text.size() - kFromEnd);
        if (at == std::string::npos) at = made.text.size() - kFromEnd;
        made.text.insert(at + 3, kWord + " ");
        made.wordAt = at + 3;
        return made;
    }();
    return c;
}

using Finder = std::function<size_t(const std::string&)>;

size_t viaStdBmh(const std::string& text) {
    static const std::boyer_moore_horspool_searcher searcher(kWord.begin(), kWord.end());
    auto hit = std::search(text.begin(), text.end(), searcher);
    return hit == text.end() ? std::string::npos : static_cast<size_t>(hit - text.begin());
}

size_t viaMemmem(const std::string& text) {
    const void* hit = memmem(text.data(), text.size(), kWord.data(), kWord.size());
    return hit ? static_cast<size_t>(static_cast<const char*>(hit) - text.data()) : std::string::npos;
}

size_t viaStrcasestr(const std::string& text) {
    const char* hit = ::strcasestr(text.c_str(), kWord.c_str());
    return hit ? static_cast<size_t>(hit - text.c_str()) : std::string::npos;
}

Finder viaSearch(unsigned flags) {
    std::shared_ptr<ruva::Search> se = ruva::newSearch(flags);
    if (!se || !se->setPattern(kWord.c_str(), kWord.size())) {
        std::fprintf(stderr, "pattern_search_bench: no Search\n");
        std::abort();
    }
    return [se](const std::string& text) -> size_t {
        const uint32_t hit = se->search(text.data(), text.size(), ruva::kSearchPlain, "");
        return hit >= ruva::kSearchNoPattern ? std::string::npos : hit;
    };
}

void findWord(benchmark::State& state, Finder find) {
    const std::string& text = corpus().text;
    size_t hit = 0;
    for (auto _ : state) {
        hit = find(text);
        benchmark::DoNotOptimize(hit);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

}  // namespace

int main(int argc, char** argv) {
    const struct {
        const char* label;
        Finder find;
    } finders[] = {
        {"std_bmh", viaStdBmh},        {"Search", viaSearch(0)},
        {"memmem", viaMemmem},         {"Search_html", viaSearch(ruva::kSearchHtml)},
        {"strcasestr", viaStrcasestr},
    };
    // Timing a finder that gives another answer would compare nothing.
    for (const auto& f : finders) {
        const size_t got = f.find(corpus().text);
        if (got != corpus().wordAt) {
            std::fprintf(stderr, "pattern_search_bench: %s finds %zu, the word is at %zu\n", f.label, got,
                         corpus().wordAt);
            std::abort();
        }
    }
    for (const auto& f : finders)
        benchmark::RegisterBenchmark((std::string(f.label) + "/24MB").c_str(), findWord, f.find);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    ruva::bench::RatioReporter reporter("std_bmh", {"Search", "memmem", "Search_html", "strcasestr"});
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

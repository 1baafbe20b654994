// matchPattern and wildcardfit beside glibc fnmatch over member-style names.
//
// The patterns are chosen so that the greedy and the backtracking matcher
// agree; before timing, every (pattern, name) pair is checked to give the
// same answer from all three, and the run aborts otherwise. At the end the
// time of each matcher is given as a ratio to fnmatch's.
#include <benchmark/benchmark.h>
#include <fnmatch.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "bench/ratio_reporter.h"
#include "common/patterns.h"

namespace {

constexpr int kNames = 10000;
const char* const kPatterns[] = {"*.html", "chapter_01*", "*fig*", "?hapter*", "[abc]*.png", "img/*"};

using Matcher = int (*)(const char* pattern, const char* name);

int viaFnmatch(const char* pattern, const char* name) {
    return fnmatch(pattern, name, 0) == 0;
}
int viaMatchPattern(const char* pattern, const char* name) {
    return ruva::matchPattern(pattern, name, 0);
}
int viaWildcardfit(const char* pattern, const char* name) {
    return ruva::wildcardfit(pattern, name);
}

const struct {
    const char* label;
    Matcher match;
} kMatchers[] = {{"fnmatch", viaFnmatch}, {"matchPattern", viaMatchPattern}, {"wildcardfit", viaWildcardfit}};

// Names as they appear in document libraries: chapters, figures, tables of
// contents, in a fixed pseudo-random mix so that every pattern has hits
// and near misses.
std::vector<std::string> makeNames() {
    static const char* const kForms[] = {
        "chapter_%04u.html", "img/fig_%02u.png", "chapter_01%02u.htm", "a_chapter_%u.png", "Chapter_%u.html",
        "figures/fig%u.svg", "b%u.png",          "c_cover_%u.png.bak", "img/cover_%u.jpg", "toc_%u.html",
        "index%u.xml",       "xhapter_%u.txt",
    };
    std::vector<std::string> names;
    names.reserve(kNames);
    unsigned state = 12345;
    char buf[64];
    for (int i = 0; i < kNames; ++i) {
        state = state * 1103515245u + 12345u;
        unsigned form = (state >> 16) % std::size(kForms);
        std::snprintf(buf, sizeof buf, kForms[form], (state >> 8) % 10000);
        names.emplace_back(buf);
    }
    return names;
}

const std::vector<std::string>& names() {
    static const std::vector<std::string> list = makeNames();
    return list;
}

// Timing a matcher that answers differently would compare nothing.
void checkAgreement() {
    for (const char* pattern : kPatterns) {
        int hits = 0;
        for (const std::string& name : names()) {
            int want = viaFnmatch(pattern, name.c_str());
            hits += want;
            for (const auto& m : kMatchers) {
                if (m.match(pattern, name.c_str()) != want) {
                    std::fprintf(stderr, "pattern_bench: %s(\"%s\", \"%s\") = %d, fnmatch says %d\n", m.label,
                                 pattern, name.c_str(), !want, want);
                    std::abort();
                }
            }
        }
        if (hits == 0 || hits == kNames) {
            std::fprintf(stderr, "pattern_bench: \"%s\" fits %d of %d names\n", pattern, hits, kNames);
            std::abort();
        }
    }
}

void matchAll(benchmark::State& state, const char* pattern, Matcher match) {
    std::vector<const char*> list;
    for (const std::string& name : names()) list.push_back(name.c_str());
    int hits = 0;
    for (auto _ : state) {
        hits = 0;
        for (const char* name : list) hits += match(pattern, name);
        benchmark::DoNotOptimize(hits);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(list.size()));
    state.SetLabel(std::to_string(hits) + " fit");
}

}  // namespace

int main(int argc, char** argv) {
    checkAgreement();
    for (const char* pattern : kPatterns) {
        for (const auto& m : kMatchers) {
            benchmark::RegisterBenchmark((std::string(m.label) + "/" + pattern).c_str(), matchAll, pattern,
                                         m.match);
        }
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    ruva::bench::RatioReporter reporter("fnmatch", {"matchPattern", "wildcardfit"});
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

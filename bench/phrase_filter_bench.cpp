// The phrase filter's body-text step beside a bare strip-and-search, one
// thread, CPU only: seeded documentation pages of 100 KB, 1 MB and 10 MB
// with a numbered chapter heading every 2 KB after the body marker and the
// phrase once, near the end of the body.
//   phrase_filter    phraseInDocument with contexts: the tag-free copy with
//                    its chapter index, the delimiter-bounded case-blind
//                    search and the context under its heading;
//   byte_loop_strip  a byte loop dropping <...> into a reserved buffer,
//                    then memmem.
// Each output is checked before timing: the offset each finds lies at the
// phrase near the end of its text, and the context holds the phrase under
// the last heading before it. At the end, each time over byte_loop_strip,
// and the gate: the filter's time per byte at 10 MB may be at most 1.5
// times its time per byte at 100 KB, else the program exits 1. A run
// without both sizes (--benchmark_filter) skips the gate.
//
// usage: phrase_filter_bench [--benchmark_filter=100K ...]
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bench/ratio_reporter.h"
#include "bmod/ruvaserv/search/phrase_filter.h"
#include "common/plain_text.h"
#include "tests/support/html_corpus.h"

namespace {

constexpr uint64_t kSeed = 20261211;
constexpr double kGateFactor = 1.5;
constexpr size_t kHeadingInterval = 2048;
// Where the phrase goes, as a share of the body; the checks want it found
// past kNearEnd of its text.
constexpr double kPhraseAt = 0.97;
constexpr double kNearEnd = 0.9;
// Words the corpus never writes, so the phrase stands once; it begins
// with a frequent letter, so the search stops at many candidates.
constexpr std::string_view kPhrase = "sentinel threshold marker";

struct PageSize {
    const char* name;
    size_t bytes;
};

const PageSize kSizes[] = {{"100K", 100u << 10}, {"1M", 1u << 20}, {"10M", 10u << 20}};

struct Case {
    std::string page;
    size_t headings = 0;
};

std::string heading(size_t n) {
    char buf[160];
    std::snprintf(buf, sizeof buf,
                  "<h2><span class=\"CHAPNUMBER\">%zu</span><span class=\"CHAPTITLE\">Part %zu</span></h2>\n", n + 1,
                  n + 1);
    return buf;
}

// The seeded page with the body marker, a heading after a blank outside
// tags about every kHeadingInterval bytes, and the phrase after the first
// such blank past kPhraseAt of the body.
Case buildPage(size_t bytes) {
    const std::string seeded = ruva::bench::htmlPage(kSeed ^ bytes, bytes);
    const size_t bodyTag = seeded.find("<body");
    const size_t from = seeded.find('>', bodyTag) + 1;
    const size_t to = seeded.rfind("</body>");
    const size_t phraseFrom = from + static_cast<size_t>((to - from) * kPhraseAt);
    Case c;
    std::string& out = c.page;
    out.reserve(seeded.size() + seeded.size() / 16);
    out.append(seeded, 0, from);
    out += "\n<!--@BODY-->\n";
    size_t since = 0;
    bool inTag = false;
    bool phrasePut = false;
    for (size_t i = from; i < to; ++i) {
        const char ch = seeded[i];
        out += ch;
        ++since;
        if (ch == '<') inTag = true;
        if (ch == '>') inTag = false;
        if (ch != ' ' || inTag) continue;
        if (!phrasePut && i >= phraseFrom) {
            out.append(kPhrase);
            out += ' ';
            phrasePut = true;
        } else if (since >= kHeadingInterval) {
            out += heading(c.headings++);
            since = 0;
        }
    }
    out.append(seeded, to, std::string::npos);
    if (!phrasePut) std::abort();
    return c;
}

std::map<std::string, std::unique_ptr<Case>>& cases() {
    static std::map<std::string, std::unique_ptr<Case>> m;
    return m;
}

const Case& pageCase(const PageSize& size) {
    std::unique_ptr<Case>& c = cases()[size.name];
    if (!c) c = std::make_unique<Case>(buildPage(size.bytes));
    return *c;
}

bool gFailed = false;

void setCounts(benchmark::State& state, const Case& c) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.page.size()));
    state.SetLabel(std::to_string(c.page.size()) + " bytes");
}

// "" when the filter finds the phrase near the end under the last heading
// before it and shows both in the context.
std::string checkFilter(const Case& c, const std::optional<std::string>& context) {
    if (!context) return "phrase not found";
    std::vector<ruva::PlainTextTitle> titles;
    const std::string text = ruva::htmlToPlainText(c.page, &titles, ruva::PlainTextHeadings::kChapterNumbers);
    if (titles.size() != c.headings) return "chapter index does not match the headings";
    const size_t at = ruva::findPhrase(text, kPhrase);
    if (at == std::string::npos || text.compare(at, kPhrase.size(), kPhrase) != 0) return "offset not at the phrase";
    if (at < text.size() * kNearEnd) return "phrase found before the end";
    size_t last = 0;
    while (last < titles.size() && titles[last].start <= at) ++last;
    if (last == 0) return "no heading before the phrase";
    const ruva::PlainTextTitle& h = titles[last - 1];
    const std::string shown = text.substr(h.start, h.end - h.start);
    if (context->find(kPhrase) == std::string::npos) return "context lacks the phrase";
    if (context->compare(0, shown.size(), shown) != 0) return "context does not begin with the heading";
    return "";
}

void phraseFilter(benchmark::State& state, const PageSize* size) {
    const Case& c = pageCase(*size);
    const std::string fault = checkFilter(c, ruva::phraseInDocument(c.page, kPhrase, true));
    if (!fault.empty()) {
        gFailed = true;
        state.SkipWithError(fault.c_str());
        return;
    }
    for (auto _ : state) {
        std::optional<std::string> context = ruva::phraseInDocument(c.page, kPhrase, true);
        benchmark::DoNotOptimize(context);
    }
    setCounts(state, c);
}

// The page without anything between '<' and '>' into out; its length.
size_t stripTags(std::string_view page, char* out) {
    size_t n = 0;
    bool inTag = false;
    for (const char ch : page) {
        if (ch == '<') {
            inTag = true;
        } else if (ch == '>') {
            inTag = false;
        } else if (!inTag) {
            out[n++] = ch;
        }
    }
    return n;
}

size_t stripAndSearch(std::string_view page, char* out) {
    const size_t n = stripTags(page, out);
    const void* hit = memmem(out, n, kPhrase.data(), kPhrase.size());
    return hit ? static_cast<size_t>(static_cast<const char*>(hit) - out) : std::string::npos;
}

void byteLoopStrip(benchmark::State& state, const PageSize* size) {
    const Case& c = pageCase(*size);
    std::string out(c.page.size(), '\0');
    const size_t at = stripAndSearch(c.page, out.data());
    const size_t length = stripTags(c.page, out.data());
    if (at == std::string::npos || out.compare(at, kPhrase.size(), kPhrase) != 0 || at < length * kNearEnd) {
        gFailed = true;
        state.SkipWithError("byte loop offset not at the phrase near the end");
        return;
    }
    for (auto _ : state) {
        size_t found = stripAndSearch(c.page, out.data());
        benchmark::DoNotOptimize(found);
        benchmark::ClobberMemory();
    }
    setCounts(state, c);
}

// The ratio table, then the gate.
class GateReporter : public ruva::bench::RatioReporter {
public:
    GateReporter() : RatioReporter("byte_loop_strip", {"phrase_filter"}) {}

    void Finalize() override {
        RatioReporter::Finalize();
        std::printf("\ngate: phrase_filter time per byte, 10M over 100K (at most %.1f)\n", kGateFactor);
        const double small = timeOf("phrase_filter", kSizes[0].name);
        const double large = timeOf("phrase_filter", kSizes[2].name);
        if (small <= 0 || large <= 0) {
            std::printf("%-24s %14s\n", "phrase_filter", "not run");
            return;
        }
        const double ratio = (large / static_cast<double>(pageCase(kSizes[2]).page.size())) /
                             (small / static_cast<double>(pageCase(kSizes[0]).page.size()));
        failed_ = ratio > kGateFactor;
        std::printf("%-24s %13.2fx %s\n", "phrase_filter", ratio, failed_ ? "FAILED" : "ok");
    }

    bool failed() const { return failed_; }

private:
    bool failed_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    if (!ruva::bench::initializeWithRepetitions(argc, argv)) return 1;
    using Impl = void (*)(benchmark::State&, const PageSize*);
    const std::pair<const char*, Impl> impls[] = {{"phrase_filter", phraseFilter}, {"byte_loop_strip", byteLoopStrip}};
    for (const PageSize& size : kSizes) {
        for (const auto& [name, impl] : impls) {
            const std::string full = std::string(name) + "/" + size.name;
            benchmark::RegisterBenchmark(full.c_str(), impl, &size)->Unit(benchmark::kMicrosecond);
        }
    }
    GateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    if (gFailed) std::fprintf(stderr, "phrase_filter_bench: an output check failed\n");
    if (reporter.failed()) std::fprintf(stderr, "phrase_filter_bench: the 10M page costs more per byte than allowed\n");
    return gFailed || reporter.failed() ? 1 : 0;
}

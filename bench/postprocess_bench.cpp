// Page post-processing beside two bare copies of the same page, one
// thread, CPU only (no field makes the pass ask a document server): seeded
// documentation pages of 100 KB, 1 MB and 10 MB with the features of each
// page kind put in:
//   P0  document page: a CHAPNUMBER heading every 2 KB after the body
//       marker, Latin-1 words and line-drawing bytes;
//   P1  one search word (PA), hit by about 1 % of the words;
//   P2  four search words, one of them "instal*";
//   P3  the phrase "the system";
//   P4  a program link every 200 bytes, some in a script in the body;
//   P5  a CHAPNUMBER heading every 100 bytes.
// plain_copy assigns the page into a reserved string; byte_loop_copy copies
// it byte by byte with the line-drawing map. Each output is checked before
// timing. At the end, each time over byte_loop_copy, and the gate: for
// every page kind the pass's time per byte at 10 MB may be at most 1.5
// times its time per byte at 100 KB, else the program exits 1. A run
// without both sizes of a kind (--benchmark_filter) skips its gate.
//
// usage: postprocess_bench [--benchmark_filter=100K ...]
#include <benchmark/benchmark.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bench/page_insert.h"
#include "bench/ratio_reporter.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "tests/support/html_corpus.h"

namespace {

using ruva::bench::insertEvery;

constexpr uint64_t kSeed = 20261211;
constexpr double kGateFactor = 1.5;
constexpr const char* kDocumentName = "1551-ABC10101Uen.A.html";

// The line-drawing substitutes of bytes 128-138; other bytes stay.
struct ByteMap {
    char to[256];
    ByteMap() {
        for (int c = 0; c < 256; ++c) to[c] = static_cast<char>(c);
        const char drawn[] = "|+\\\\--+-+//";
        for (int c = 128; c <= 138; ++c) to[c] = drawn[c - 128];
    }
};
const ByteMap kByteMap;

// What a page was given, for the checks of the output.
struct Features {
    size_t headings = 0;
    size_t links = 0;
    std::vector<std::pair<std::string, size_t>> words;  // inserted search words and their count
};

struct PageKind {
    const char* name;
    const char* pa;  // the search field, null for none
};

const PageKind kKinds[] = {
    {"P0", nullptr},
    {"P1", "gateway"},
    {"P2", "gateway mirror socket instal*"},
    {"P3", "\"the system\""},
    {"P4", nullptr},
    {"P5", nullptr},
};

struct PageSize {
    const char* name;
    size_t bytes;
};

const PageSize kSizes[] = {{"100K", 100u << 10}, {"1M", 1u << 20}, {"10M", 10u << 20}};

std::string chapterHeading(size_t n, const char* tag) {
    char buf[128];
    std::snprintf(buf, sizeof buf, "<%s><span class=\"CHAPNUMBER\">%zu</span> Part %zu</%s>", tag, n + 1, n + 1,
                  tag);
    return buf;
}

std::string programLink(size_t n) {
    char buf[160];
    if (n % 8 == 7) {
        std::snprintf(buf, sizeof buf,
                      "<script>document.write(\"<a href='HTTP:/kivo?FN=b%zu.html'>b</a>\");</script>", n);
    } else if (n % 8 == 3) {
        std::snprintf(buf, sizeof buf, "<a href=\"qzl:/kivo?FN=c%zu.html\">c</a>", n);
    } else {
        std::snprintf(buf, sizeof buf, "<a href=\"http:/kivo?AC=LINK&amp;FN=a%zu.html\">ref</a>", n);
    }
    return buf;
}

// Inserts words in turn about every interval bytes, counting each.
void insertWords(std::string& page, size_t interval, std::vector<std::string> words, Features& f) {
    std::vector<size_t> counts(words.size());
    insertEvery(page, interval, [&](size_t n) {
        ++counts[n % words.size()];
        return words[n % words.size()] + " ";
    });
    for (size_t i = 0; i < words.size(); ++i) f.words.emplace_back(words[i], counts[i]);
}

// The page of a kind: about bytes long, its features counted in f.
std::string buildPage(std::string_view kind, size_t bytes, Features& f) {
    // Inserted text is counted in the target size: the seeded page is
    // smaller by its share.
    const double share = kind == "P5" ? 0.5 : kind == "P4" ? 0.28 : 0.05;
    std::string page = ruva::bench::htmlPage(kSeed ^ bytes, static_cast<size_t>(bytes * (1 - share)));
    const size_t body = page.find('>', page.find("<body")) + 1;
    page.insert(body, "\n<!--@BODY-->\n<div class=\"DOCTITLE\">Chapter</div>\n");
    if (kind == "P0") {
        f.headings = insertEvery(page, 2048, [](size_t n) { return chapterHeading(n, "h2"); });
        insertEvery(page, 700, [](size_t n) {
            static const char* const kLatin1[] = {"caf\xe9 ", "\xfc" "ber ", "na\xefve ", "\x85 ", "\x80 "};
            return std::string(kLatin1[n % 5]);
        });
    } else if (kind == "P1") {
        insertWords(page, 600, {"gateway"}, f);
    } else if (kind == "P2") {
        insertWords(page, 600, {"gateway", "mirror", "socket", "installation"}, f);
    } else if (kind == "P3") {
        insertWords(page, 2048, {"the system"}, f);
    } else if (kind == "P4") {
        f.links = insertEvery(page, 200, programLink);
    } else if (kind == "P5") {
        f.headings = insertEvery(page, 100, [](size_t n) { return chapterHeading(n, "h3"); });
    }
    return page;
}

size_t countOf(std::string_view text, std::string_view word) {
    size_t n = 0;
    for (size_t at = text.find(word); at != std::string_view::npos; at = text.find(word, at + word.size())) ++n;
    return n;
}

size_t countCaseBlind(std::string_view text, std::string_view lowerWord) {
    std::string lower(text);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return countOf(lower, lowerWord);
}

// One page with the request that post-processes it; the document buffer
// is the request's, the pass only reads it.
struct Case {
    std::string page;
    Features features;
    std::unique_ptr<ruva::CgiHandler> cg;
};

std::map<std::string, std::unique_ptr<Case>>& cases() {
    static std::map<std::string, std::unique_ptr<Case>> m;
    return m;
}

// Bytes of each "<impl>/<case>", for the gate's time per byte.
std::map<std::string, size_t>& bytesOf() {
    static std::map<std::string, size_t> m;
    return m;
}

bool gFailed = false;

Case* pageCase(const PageKind& kind, const PageSize& size) {
    std::unique_ptr<Case>& c = cases()[std::string(kind.name) + "-" + size.name];
    if (c) return c.get();
    c = std::make_unique<Case>();
    c->page = buildPage(kind.name, size.bytes, c->features);
    static char* noEnv[] = {nullptr};
    c->cg = ruva::newCgiHandler(ruva::kKivoservFlags, noEnv);
    ruva::CgiHandler& cg = *c->cg;
    cg.kivoServName = "/127.0.0.1:8080/cgi-bin/kivoserv";
    cg.scriptName = "/cgi-bin/";
    // Nothing may be asked; were it, the refusal would show in the check.
    cg.docServAddr = "127.0.0.1:1";
    cg.valueList->addValue("FN", kDocumentName);
    cg.valueList->addValue("AC", "PRINT");
    if (kind.pa) cg.valueList->addValue("PA", kind.pa);
    if (!cg.allocDocBuf(c->page.size())) std::abort();
    std::memcpy(cg.docBuf, c->page.data(), c->page.size());
    return c.get();
}

// "" when the pass's output has what the page was given.
std::string checkPass(const Case& c, int result) {
    const ruva::CgiHandler& cg = *c.cg;
    if (!result) return "result 0: " + cg.getError();
    if (cg.sess) return "a document server was asked for";
    if (!cg.dstBuf) return "no output buffer";
    const std::string_view out(cg.dstBuf, cg.dstOffs);
    const std::string_view in(c.page);
    if (out.size() < in.size()) return "output shorter than the page";
    for (unsigned char b = 128; b <= 138; ++b) {
        if (out.find(static_cast<char>(b)) != std::string_view::npos) return "a line-drawing byte was kept";
    }
    if (countOf(out, "\xe9") != countOf(in, "\xe9")) return "Latin-1 bytes were changed";
    if (c.features.headings && countOf(out, "<a name=\"_C") != c.features.headings)
        return "chapter anchors do not match the headings";
    if (c.features.links) {
        if (countCaseBlind(out, "http:/kivo") || countCaseBlind(out, "qzl:/kivo")) return "a program link was kept";
        if (countOf(out, "/127.0.0.1:8080/cgi-bin/kivoserv?") < c.features.links) return "a program link was lost";
    }
    for (const auto& [word, count] : c.features.words) {
        if (countOf(out, word) < count) return "search word \"" + word + "\" was lost";
    }
    return "";
}

void setCounts(benchmark::State& state, const Case& c) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.page.size()));
    state.SetLabel(std::to_string(c.page.size()) + " bytes");
}

void postprocess(benchmark::State& state, const PageKind* kind, const PageSize* size) {
    Case* c = pageCase(*kind, *size);
    ruva::CgiHandler& cg = *c->cg;
    setenv("QUERY_STRING", (std::string("FN=") + kDocumentName + "&AC=PRINT").c_str(), 1);
    const std::string fault = checkPass(*c, cg.postProcessFile());
    if (!fault.empty()) {
        gFailed = true;
        state.SkipWithError(fault.c_str());
        return;
    }
    for (auto _ : state) {
        int result = cg.postProcessFile();
        benchmark::DoNotOptimize(result);
        benchmark::DoNotOptimize(cg.dstBuf);
    }
    setCounts(state, *c);
    bytesOf()[std::string("postprocess/") + kind->name + "-" + size->name] = c->page.size();
}

void plainCopy(benchmark::State& state, const PageKind* kind, const PageSize* size) {
    const Case* c = pageCase(*kind, *size);
    std::string out;
    out.reserve(c->page.size());
    out.assign(c->page);
    if (out != c->page) {
        gFailed = true;
        state.SkipWithError("copy differs");
        return;
    }
    for (auto _ : state) {
        out.assign(c->page);
        benchmark::DoNotOptimize(out.data());
    }
    setCounts(state, *c);
}

size_t byteLoop(std::string_view in, char* out) {
    size_t n = 0;
    for (const char c : in) {
        if (c == '\0') break;
        out[n++] = kByteMap.to[static_cast<unsigned char>(c)];
    }
    return n;
}

void byteLoopCopy(benchmark::State& state, const PageKind* kind, const PageSize* size) {
    const Case* c = pageCase(*kind, *size);
    std::string out(c->page.size(), '\0');
    const size_t n = byteLoop(c->page, out.data());
    bool same = n == c->page.size();
    for (size_t i = 0; same && i < n; ++i) {
        const unsigned char b = static_cast<unsigned char>(c->page[i]);
        same = b >= 128 && b <= 138 ? out[i] == kByteMap.to[b] && out[i] != c->page[i] : out[i] == c->page[i];
    }
    if (!same) {
        gFailed = true;
        state.SkipWithError("byte loop output differs");
        return;
    }
    for (auto _ : state) {
        size_t written = byteLoop(c->page, out.data());
        benchmark::DoNotOptimize(written);
        benchmark::ClobberMemory();
    }
    setCounts(state, *c);
}

// The ratio table, then the pass against plain_copy and the gate per page
// kind.
class GateReporter : public ruva::bench::RatioReporter {
public:
    GateReporter() : RatioReporter("byte_loop_copy", {"postprocess", "plain_copy"}) {}

    void Finalize() override {
        RatioReporter::Finalize();
        std::printf("\npostprocess over plain_copy\n");
        for (const PageKind& kind : kKinds) {
            for (const PageSize& size : kSizes) {
                const std::string theCase = std::string(kind.name) + "-" + size.name;
                const double pass = timeOf("postprocess", theCase);
                const double copy = timeOf("plain_copy", theCase);
                if (pass <= 0 || copy <= 0) continue;
                std::printf("%-24s %13.2fx\n", theCase.c_str(), pass / copy);
            }
        }
        std::printf("\ngate: postprocess time per byte, 10M over 100K (at most %.1f)\n", kGateFactor);
        for (const PageKind& kind : kKinds) {
            const std::string small = std::string(kind.name) + "-100K";
            const std::string large = std::string(kind.name) + "-10M";
            const double smallTime = timeOf("postprocess", small);
            const double largeTime = timeOf("postprocess", large);
            if (smallTime <= 0 || largeTime <= 0) {
                std::printf("%-24s %14s\n", kind.name, "not run");
                continue;
            }
            const double ratio = (largeTime / static_cast<double>(bytesOf()["postprocess/" + large])) /
                                 (smallTime / static_cast<double>(bytesOf()["postprocess/" + small]));
            const bool pass = ratio <= kGateFactor;
            if (!pass) failed_ = true;
            std::printf("%-24s %13.2fx %s\n", kind.name, ratio, pass ? "ok" : "FAILED");
        }
    }

    bool failed() const { return failed_; }

private:
    bool failed_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    if (!ruva::bench::initializeWithRepetitions(argc, argv)) return 1;
    unsetenv("RUVA_ADDR");
    using Impl = void (*)(benchmark::State&, const PageKind*, const PageSize*);
    const std::pair<const char*, Impl> impls[] = {
        {"postprocess", postprocess}, {"plain_copy", plainCopy}, {"byte_loop_copy", byteLoopCopy}};
    for (const PageKind& kind : kKinds) {
        for (const PageSize& size : kSizes) {
            for (const auto& [name, impl] : impls) {
                const std::string full = std::string(name) + "/" + kind.name + "-" + size.name;
                benchmark::RegisterBenchmark(full.c_str(), impl, &kind, &size)->Unit(benchmark::kMicrosecond);
            }
        }
    }
    GateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    if (gFailed) std::fprintf(stderr, "postprocess_bench: an output check failed\n");
    if (reporter.failed()) std::fprintf(stderr, "postprocess_bench: the 10M pages cost more per byte than allowed\n");
    return gFailed || reporter.failed() ? 1 : 0;
}

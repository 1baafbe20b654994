// The word index beside a scan of the pages' plain text, on a seeded corpus
// of 3000 HTML pages (bench/index_corpus.py) indexed by the tests' RUVX
// writer.
//
// Index side: newRuvx over the image in memory, then search / searchWord /
// searchSugs; the phrase case checks the index's candidates with
// getRawHtmlWithoutHtmlTag. Scan side: std::boyer_moore_horspool_searcher
// over each page's upper-cased plain text, prepared before timing, per term
// and page. Before timing, each case's two sides must give the same hits;
// the run aborts otherwise. The table at the end gives scan time over
// index time per case.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bench/ratio_reporter.h"
#include "bmod/unzipd/search/html_plain_text.h"
#include "bmod/unzipd/search/ruvx.h"
#include "common/patterns.h"
#include "common/text.h"

namespace {

using ruva::Ruvx;

struct Corpus {
    std::vector<std::string> html;
    std::vector<std::string> plain;  // upper-cased plain text of each page
    std::string image;
    std::unique_ptr<Ruvx> ruvx;
    std::string word, a, b, c, d, phrase1, phrase2;
};

[[noreturn]] void die(const std::string& why) {
    std::fprintf(stderr, "index_search_bench: %s\n", why.c_str());
    std::exit(1);
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) die("cannot read " + path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

Corpus& corpus() {
    static Corpus c = [] {
        Corpus k;
        const std::string dir = RUVA_INDEX_CORPUS;
        const std::string pages = slurp(dir + "/corpus.pages");
        for (size_t pos = 0; pos < pages.size();) {
            size_t nl = pages.find('\n', pos);
            size_t len = std::strtoul(pages.c_str() + pos, nullptr, 10);
            k.html.push_back(pages.substr(nl + 1, len));
            pos = nl + 1 + len;
        }
        for (const std::string& h : k.html) {
            std::string t = ruva::htmlToPlainText(h);
            for (char& ch : t) ch = static_cast<char>(ruva::ltoupper(static_cast<unsigned char>(ch)));
            k.plain.push_back(std::move(t));
        }
        k.image = slurp(dir + "/corpus.qxx");
        k.ruvx = ruva::newRuvx(k.image.data(), k.image.size(), nullptr);
        if (!k.ruvx) die("the corpus index does not open");
        std::istringstream terms(slurp(dir + "/corpus.terms"));
        std::string name, value;
        while (terms >> name >> value) {
            for (char& ch : value) ch = static_cast<char>(ruva::ltoupper(static_cast<unsigned char>(ch)));
            if (name == "mid") k.word = value;
            if (name == "a") k.a = value;
            if (name == "b") k.b = value;
            if (name == "c") k.c = value;
            if (name == "d") k.d = value;
            if (name == "phrase1") k.phrase1 = value;
            if (name == "phrase2") k.phrase2 = value;
        }
        return k;
    }();
    return c;
}

bool delimiterAt(std::string_view text, size_t pos) {
    return pos >= text.size() || ruva::isDelimiter(static_cast<unsigned char>(text[pos]));
}

// Whether the page holds the (upper-cased) word or phrase between delimiters.
bool scanHas(std::string_view page, const std::string& term) {
    std::boyer_moore_horspool_searcher searcher(term.begin(), term.end());
    for (auto it = page.begin();;) {
        auto hit = std::search(it, page.end(), searcher);
        if (hit == page.end()) return false;
        size_t at = static_cast<size_t>(hit - page.begin());
        if ((at == 0 || delimiterAt(page, at - 1)) && delimiterAt(page, at + term.size())) return true;
        it = hit + 1;
    }
}

// Every word of the page that starts with prefix.
void scanWords(std::string_view page, const std::string& prefix, const std::function<void(std::string_view)>& take) {
    std::boyer_moore_horspool_searcher searcher(prefix.begin(), prefix.end());
    for (auto it = page.begin();;) {
        auto hit = std::search(it, page.end(), searcher);
        if (hit == page.end()) return;
        size_t at = static_cast<size_t>(hit - page.begin());
        size_t end = at;
        while (!delimiterAt(page, end)) ++end;
        if (at == 0 || delimiterAt(page, at - 1)) take(page.substr(at, end - at));
        it = page.begin() + static_cast<std::ptrdiff_t>(std::max(end, at + 1));
    }
}

using PageSet = std::vector<int>;

PageSet indexPages(const char* expr) {
    PageSet out;
    const ruva::RuvxSearchList* hits = corpus().ruvx->search(expr, 0);
    if (hits)
        for (const auto& h : *hits) out.push_back(std::atoi(h.filename->c_str() + 1));
    std::sort(out.begin(), out.end());
    return out;
}

PageSet scanPages(const std::function<bool(std::string_view)>& keep) {
    PageSet out;
    const Corpus& k = corpus();
    for (size_t i = 0; i < k.plain.size(); ++i)
        if (keep(k.plain[i])) out.push_back(static_cast<int>(i));
    return out;
}

using WordHits = std::set<std::pair<int, std::string>>;

WordHits indexWordHits(const std::string& pattern) {
    WordHits out;
    auto list = corpus().ruvx->searchWord(pattern.c_str());
    if (list)
        for (const auto& h : *list) out.emplace(static_cast<int>(h.docId), h.tokens);
    return out;
}

WordHits scanWordHits(const std::string& prefix) {
    WordHits out;
    const Corpus& k = corpus();
    for (size_t i = 0; i < k.plain.size(); ++i)
        scanWords(k.plain[i], prefix, [&](std::string_view w) { out.emplace(static_cast<int>(i), std::string(w)); });
    return out;
}

// What the timed index side computes: the hits as the search gives them.
size_t indexCount(const char* expr) {
    const ruva::RuvxSearchList* hits = corpus().ruvx->search(expr, 0);
    return hits ? hits->size() : 0;
}

PageSet indexPhrase() {
    const Corpus& k = corpus();
    const std::string phrase = k.phrase1 + " " + k.phrase2;
    PageSet out;
    for (int p : indexPages(phrase.c_str()))
        if (ruva::getRawHtmlWithoutHtmlTag(k.html[p].c_str(), phrase.c_str())) out.push_back(p);
    return out;
}

PageSet scanPhrase() {
    const std::string phrase = corpus().phrase1 + " " + corpus().phrase2;
    return scanPages([&](std::string_view page) { return scanHas(page, phrase); });
}

std::string scanSuggestions(const std::string& prefix, size_t maxHits) {
    std::set<std::string> words;
    const Corpus& k = corpus();
    for (const std::string& page : k.plain) scanWords(page, prefix, [&](std::string_view w) { words.emplace(w); });
    std::string out;
    size_t n = 0;
    for (const std::string& w : words) {
        if (n == maxHits) return out + ",...";
        out += (n++ ? "," : "") + w;
    }
    return out;
}

const char kSugPrefix[] = "QU";

PageSet scanBoolean() {
    const Corpus& k = corpus();
    return scanPages([&](std::string_view p) {
        return ((scanHas(p, k.a) && scanHas(p, k.b)) || scanHas(p, k.c)) && !scanHas(p, k.d);
    });
}

std::string booleanExpr() {
    const Corpus& k = corpus();
    return k.a + " & " + k.b + " | " + k.c + " !" + k.d;
}

void check(bool same, const char* what) {
    if (!same) die(std::string("index and scan disagree: ") + what);
}

void checkAll() {
    const Corpus& k = corpus();
    PageSet word = indexPages(k.word.c_str());
    check(word == scanPages([&](std::string_view p) { return scanHas(p, k.word); }), "word");
    check(indexPages(booleanExpr().c_str()) == scanBoolean(), "a & b | c !d");
    check(indexWordHits("NETW*") == scanWordHits("NETW"), "netw*");
    check(indexWordHits("N*") == scanWordHits("N"), "n*");
    PageSet phrase = indexPhrase();
    check(!phrase.empty() && phrase == scanPhrase(), "phrase");
    check(*k.ruvx->searchSugs(kSugPrefix, 10) == scanSuggestions(kSugPrefix, 10), "suggestions");
    std::printf("pages %zu; word in %zu, phrase in %zu; netw* %zu hits, n* %zu hits\n", k.html.size(), word.size(),
                phrase.size(), indexWordHits("NETW*").size(), indexWordHits("N*").size());
}

template <typename F>
void run(benchmark::State& state, F f) {
    for (auto _ : state) benchmark::DoNotOptimize(f());
}

void registerAll() {
    const Corpus& k = corpus();
    struct Case {
        const char* name;
        std::function<size_t()> index, scan;
    };
    std::vector<Case> cases = {
        {"word", [&] { return indexCount(k.word.c_str()); },
         [&] { return scanPages([&](std::string_view p) { return scanHas(p, k.word); }).size(); }},
        {"a_and_b_or_c_not_d", [] { return indexCount(booleanExpr().c_str()); },
         [] { return scanBoolean().size(); }},
        {"netw*", [] { return indexCount("netw*"); }, [] { return scanWordHits("NETW").size(); }},
        {"n*", [] { return indexCount("n*"); }, [] { return scanWordHits("N").size(); }},
        {"phrase", [] { return indexPhrase().size(); }, [] { return scanPhrase().size(); }},
        {"suggestions", [&] { return k.ruvx->searchSugs(kSugPrefix, 10)->size(); },
         [] { return scanSuggestions(kSugPrefix, 10).size(); }},
    };
    for (const Case& c : cases) {
        benchmark::RegisterBenchmark((std::string("index/") + c.name).c_str(),
                                     [f = c.index](benchmark::State& s) { run(s, f); });
        benchmark::RegisterBenchmark((std::string("scan/") + c.name).c_str(),
                                     [f = c.scan](benchmark::State& s) { run(s, f); });
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    checkAll();
    registerAll();
    ruva::bench::RatioReporter reporter("index", {"index", "scan"});
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

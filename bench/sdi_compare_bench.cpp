// The comparison of two document lists beside the obvious alternative, one
// thread, over pairs of 5,000, 20,000 and 80,000 documents written at build
// time by gen_sdi_pair.py (seed 1, an old and a new revision), rows sorted
// by number and shuffled:
//   compare/<case>: compareSdi from both SDI files to the report in the
//                   request's document buffer, its steps (loads, indexes,
//                   matching, missing, report) timed through its phase hook
//                   as counters in ms per comparison;
//   join/<case>:    a std::unordered_map join over the loaded rows: folded
//                   numbers first, then folded titles, the rest new or
//                   removed; no report.
// Before timing, each case's page must read through report_rows.py as the
// pair's expected.json, and the join must see every row of the records;
// the run exits 1 otherwise. Peak RSS of the comparison is measured in a
// child per size, forked before the parent loads anything.
//
// Printed at the end: the phase times and the targets:
// time(20k)/time(5k) and time(80k)/time(20k) at most 5; sorted at most 1.5x
// shuffled; matching + missing + report at most 5x the join; peak RSS at
// 80k at most 4.5x that at 20k. Targets are reported, not enforced.
//
// usage: sdi_compare_bench [--benchmark_filter=sorted20000 --benchmark_repetitions=1 ...]
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <regex.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "bench/ratio_reporter.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/output/compare.h"
#include "bmod/ruvaserv/output/htmloutput.h"
#include "bmod/ruvaserv/output/kvooutput.h"
#include "bmod/ruvaserv/sgml/sdi.h"
#include "common/fd_io.h"
#include "common/text_clean.h"

namespace {

using namespace ruva;

constexpr int kSizes[] = {5000, 20000, 80000};
constexpr const char* kOrders[] = {"sorted", "shuffled"};
constexpr const char* kImpls[] = {"join", "compare"};
// compareSdi's steps, as its counters are named.
constexpr const char* kPhases[] = {"load", "indexes", "matching", "missing", "report"};
// The libraries expected.json names the sides by.
constexpr char kOldLib[] = "old";
constexpr char kNewLib[] = "new";

constexpr double kSizeTarget = 5.0;
constexpr double kOrderTarget = 1.5;
constexpr double kJoinTarget = 5.0;
constexpr double kRssTarget = 4.5;

struct Pair {
    std::string name;  // "<order><docs>"
    int docs;
    std::string dir;
    std::string oldSdi() const { return dir + "/old.sgml"; }
    std::string newSdi() const { return dir + "/new.sgml"; }
};

std::vector<Pair>& pairs() {
    static std::vector<Pair> all;
    return all;
}

// One request with its writer and comparison, as the CGI program has them.
struct Comparer {
    Comparer() {
        static char* noEnv[] = {nullptr};
        cg = newCgiHandler(kKivoservFlags, noEnv);
        if (!cg) return;
        out.kvoSetOutput(cg.get(), KVO_OUT_INTERNAL);
        fmt = newKvoHtmlFormat(&out);
        if (fmt) sc = newSdiCompare(*fmt);
    }
    bool ready() const { return sc != nullptr; }
    SdiCompareCode run(const Pair& p) {
        return sc->compareSdi(p.oldSdi(), p.newSdi(), kOldLib, kNewLib, "Old Library", "New Library",
                              std::string("qzl:/kivo?FN=kivologo.gif&DB=") + kNewLib, false);
    }

    std::unique_ptr<CgiHandler> cg;
    KvoOutput out{0};
    std::unique_ptr<KvoFormat> fmt;
    std::unique_ptr<SdiCompare> sc;
};

// ---- the join

// The document rows of one list, loaded as the comparison loads them.
struct Side {
    std::unique_ptr<Sdi> sdi;
    std::vector<const SdiEntry*> rows;
};

int collectRow(Sdi*, void* data, SdiEntry* entry, int) {
    if (entry->type == SDIENTRY_DOCUMENT && entry->title && entry->docno)
        static_cast<std::vector<const SdiEntry*>*>(data)->push_back(entry);
    return 1;
}

bool loadSide(const std::string& path, Side& side) {
    side.sdi = newSdi(0);
    if (!side.sdi || !side.sdi->prepareDocument(path.c_str())) return false;
    side.rows.clear();
    return side.sdi->scanSdiTree(collectRow, &side.rows) != 0;
}

struct JoinResult {
    struct Row {
        const SdiEntry* entry;  // side 2 for new and changed, side 1 for removed
        const SdiEntry* oldEntry;
    };
    std::vector<Row> added, changed, removed;
    size_t same = 0;
};

// Side 1 indexed by folded number and title (first row of each kept),
// side 2 settled by number, then paired by title, else new.
JoinResult join(const std::vector<const SdiEntry*>& olds, const std::vector<const SdiEntry*>& news) {
    JoinResult r;
    std::unordered_map<std::string, size_t> byNumber, byTitle;
    byNumber.reserve(olds.size());
    byTitle.reserve(olds.size());
    std::string key;
    // Rows that take part are unsettled (0); blank or repeated numbers are
    // settled from the start.
    std::vector<char> settled(olds.size(), 1);
    for (size_t i = 0; i < olds.size(); ++i) {
        foldNoSpc(olds[i]->docno->c_str(), key);
        if (key.empty() || !byNumber.try_emplace(key, i).second) continue;
        settled[i] = 0;
        foldNoSpc(olds[i]->title->c_str(), key);
        byTitle.try_emplace(key, i);
    }
    std::unordered_set<std::string> seen;
    seen.reserve(news.size());
    std::vector<const SdiEntry*> unpaired;
    for (const SdiEntry* e : news) {
        foldNoSpc(e->docno->c_str(), key);
        if (key.empty() || !seen.insert(key).second) continue;
        auto hit = byNumber.find(key);
        if (hit == byNumber.end()) {
            unpaired.push_back(e);
        } else {
            settled[hit->second] = 1;
            ++r.same;
        }
    }
    for (const SdiEntry* e : unpaired) {
        foldNoSpc(e->title->c_str(), key);
        auto hit = byTitle.find(key);
        if (hit != byTitle.end() && !settled[hit->second]) {
            settled[hit->second] = 1;
            r.changed.push_back({e, olds[hit->second]});
        } else {
            r.added.push_back({e, nullptr});
        }
    }
    for (size_t i = 0; i < olds.size(); ++i) {
        if (!settled[i]) r.removed.push_back({olds[i], nullptr});
    }
    return r;
}

// ---- checks before timing

// Rows of each side in the generator's records.
bool recordCounts(const Pair& p, size_t& olds, size_t& news) {
    std::ifstream in(p.dir + "/records.jsonl");
    if (!in) return false;
    olds = news = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.find("\"side\": \"old\"") != std::string::npos) ++olds;
        if (line.find("\"side\": \"new\"") != std::string::npos) ++news;
    }
    return true;
}

bool checkJoin(const Pair& p) {
    Side o, n;
    size_t olds = 0, news = 0;
    if (!loadSide(p.oldSdi(), o) || !loadSide(p.newSdi(), n) || !recordCounts(p, olds, news)) {
        std::fprintf(stderr, "sdi_compare_bench: %s: the lists or records do not load\n", p.name.c_str());
        return false;
    }
    const JoinResult r = join(o.rows, n.rows);
    if (o.rows.size() != olds || n.rows.size() != news || r.same == 0 || r.added.empty() ||
        r.removed.empty()) {
        std::fprintf(stderr,
                     "sdi_compare_bench: %s: join over %zu and %zu rows (records %zu and %zu): %zu same, "
                     "%zu new, %zu removed\n",
                     p.name.c_str(), o.rows.size(), n.rows.size(), olds, news, r.same, r.added.size(),
                     r.removed.size());
        return false;
    }
    return true;
}

// Runs report_rows.py on the page against expected.json; its differences
// go to standard output.
bool pageReadsAsExpected(const std::string& page, const Pair& p) {
    const std::string expected = p.dir + "/expected.json";
    const pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        execlp("python3", "python3", "-W", "ignore", RUVA_REPORT_ROWS, page.c_str(), "--check",
               expected.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool checkPage(const Pair& p) {
    Comparer c;
    if (!c.ready()) return false;
    const SdiCompareCode code = c.run(p);
    if (code != SdiCompareCode::kOk || c.cg->docBuf == nullptr) {
        std::fprintf(stderr, "sdi_compare_bench: %s: code %d: %s\n", p.name.c_str(), static_cast<int>(code),
                     c.sc->getError().c_str());
        return false;
    }
    const char* tmp = std::getenv("TMPDIR");
    std::string page =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/sdi_compare_XXXXXX.html";
    Fd fd(mkstemps(page.data(), 5));
    if (!fd.valid()) {
        std::perror("sdi_compare_bench: page");
        return false;
    }
    if (!writeAll(fd.get(), c.cg->docBuf, c.cg->docSize) || !fd.close()) {
        std::perror("sdi_compare_bench: page");
        unlink(page.c_str());
        return false;
    }
    const bool ok = pageReadsAsExpected(page, p);
    unlink(page.c_str());
    if (!ok)
        std::fprintf(stderr, "sdi_compare_bench: %s: the page differs from expected.json\n", p.name.c_str());
    return ok;
}

// ---- peak RSS

// Peak resident kilobytes of a child comparing the pairs of docs; -1 when
// a comparison fails. The child starts from the parent before it loaded
// anything, so its peak is the comparison's.
long peakRss(int docs) {
    const pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        Comparer c;
        if (!c.ready()) _exit(1);
        for (const Pair& p : pairs()) {
            if (p.docs == docs && c.run(p) != SdiCompareCode::kOk) _exit(1);
        }
        _exit(0);
    }
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0) {
        if (errno != EINTR) return -1;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return usage.ru_maxrss;
}

// ---- benchmarks

// When each step of the comparison running now ended.
struct PhaseClock {
    using Clock = std::chrono::steady_clock;
    Clock::time_point start;
    Clock::time_point ends[std::size(kPhases)];
    double totalMs[std::size(kPhases)] = {};

    static void done(void* data, ComparePhase phase) {
        static_cast<PhaseClock*>(data)->ends[static_cast<int>(phase)] = Clock::now();
    }
    void add() {
        Clock::time_point from = start;
        for (size_t i = 0; i < std::size(kPhases); ++i) {
            totalMs[i] += std::chrono::duration<double, std::milli>(ends[i] - from).count();
            from = ends[i];
        }
    }
};

void compareBench(benchmark::State& state, const Pair* p) {
    Comparer c;
    PhaseClock clock;
    if (c.ready()) {
        c.sc->phaseDone = PhaseClock::done;
        c.sc->phaseData = &clock;
    }
    for (auto _ : state) {
        clock.start = PhaseClock::Clock::now();
        if (!c.ready() || c.run(*p) != SdiCompareCode::kOk) {
            state.SkipWithError("the comparison failed");
            break;
        }
        clock.add();
        benchmark::DoNotOptimize(c.cg->docSize);
    }
    for (size_t i = 0; i < std::size(kPhases); ++i)
        state.counters[kPhases[i]] = benchmark::Counter(clock.totalMs[i], benchmark::Counter::kAvgIterations);
}

void joinBench(benchmark::State& state, const Pair* p) {
    Side o, n;
    if (!loadSide(p->oldSdi(), o) || !loadSide(p->newSdi(), n)) {
        state.SkipWithError("a list does not load");
        return;
    }
    for (auto _ : state) {
        JoinResult r = join(o.rows, n.rows);
        benchmark::DoNotOptimize(r.added.data());
    }
}

// ---- report

class CompareReporter : public bench::RatioReporter {
public:
    explicit CompareReporter(const std::map<int, long>& rss)
        : RatioReporter("join", {"compare"}), rss_(rss) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            if (run.run_type != Run::RT_Iteration && run.aggregate_name != "mean") continue;
            for (const auto& [name, counter] : run.counters)
                phases_[run.run_name.str()][name] = counter.value;
        }
        RatioReporter::ReportRuns(runs);
    }

    void Finalize() override {
        RatioReporter::Finalize();
        printPhases();
        std::printf("\ntargets (reported, not enforced)\n");
        printSizeRatios();
        printOrderRatios();
        printJoinRatios();
        printRss();
    }

private:
    static void line(const std::string& what, double ratio, double target) {
        std::printf("%-52s %9.2fx  at most %.1f  %s\n", what.c_str(), ratio, target,
                    ratio <= target ? "ok" : "MISSED");
    }

    // ms of a step of the comparison of theCase; 0 when not run.
    double phase(const std::string& theCase, const char* step) const {
        auto run = phases_.find("compare/" + theCase);
        if (run == phases_.end()) return 0;
        auto it = run->second.find(step);
        return it == run->second.end() ? 0 : it->second;
    }

    void printPhases() const {
        std::printf("\nphases of the comparison (ms; rest: freeing the lists)\n%-16s", "case");
        for (const char* step : kPhases) std::printf(" %10s", step);
        std::printf(" %10s %10s %10s\n", "rest", "compare", "join");
        for (const Pair& p : pairs()) {
            if (timeOf("compare", p.name) <= 0) continue;
            std::printf("%-16s", p.name.c_str());
            double steps = 0;
            for (const char* step : kPhases) {
                steps += phase(p.name, step);
                std::printf(" %10.2f", phase(p.name, step));
            }
            const double compare = timeOf("compare", p.name);
            std::printf(" %10.2f %10.2f %10.2f\n", compare - steps, compare, timeOf("join", p.name));
        }
    }

    void printSizeRatios() const {
        for (const char* order : kOrders) {
            for (size_t i = 1; i < std::size(kSizes); ++i) {
                const std::string small = order + std::to_string(kSizes[i - 1]);
                const std::string large = order + std::to_string(kSizes[i]);
                const double a = timeOf("compare", small), b = timeOf("compare", large);
                if (a > 0 && b > 0) line("compare " + large + " over " + small, b / a, kSizeTarget);
            }
        }
    }

    void printOrderRatios() const {
        for (int docs : kSizes) {
            const double s = timeOf("compare", "sorted" + std::to_string(docs));
            const double r = timeOf("compare", "shuffled" + std::to_string(docs));
            if (s > 0 && r > 0)
                line("compare sorted over shuffled at " + std::to_string(docs), s / r, kOrderTarget);
        }
    }

    void printJoinRatios() const {
        for (const Pair& p : pairs()) {
            const double steps =
                phase(p.name, "matching") + phase(p.name, "missing") + phase(p.name, "report");
            const double j = timeOf("join", p.name);
            if (steps > 0 && j > 0)
                line("matching+missing+report over join, " + p.name, steps / j, kJoinTarget);
        }
    }

    void printRss() const {
        std::printf("\npeak RSS of the comparison (a child per size, both orders)\n");
        for (const auto& [docs, kb] : rss_) {
            if (kb < 0)
                std::printf("%-16d %12s\n", docs, "failed");
            else
                std::printf("%-16d %9ld kB\n", docs, kb);
        }
        auto small = rss_.find(20000), large = rss_.find(80000);
        if (small != rss_.end() && large != rss_.end() && small->second > 0 && large->second > 0)
            line("peak RSS 80000 over 20000", static_cast<double>(large->second) / small->second, kRssTarget);
    }

    const std::map<int, long>& rss_;
    std::map<std::string, std::map<std::string, double>> phases_;  // run name -> step -> ms
};

// The cases the benchmark filter selects, matched as the library matches
// it: an extended regex searched in the name, a leading '-' negating.
// Through libc's regex: GCC 12 warns falsely inside std::regex at -O1.
bool selected(const std::string& theCase) {
    std::string filter = benchmark::GetBenchmarkFilter();
    if (filter.empty() || filter == "all") filter = ".";
    const bool negated = filter[0] == '-';
    if (negated) filter.erase(0, 1);
    regex_t re;
    if (regcomp(&re, filter.c_str(), REG_EXTENDED | REG_NOSUB) != 0) return false;
    bool any = false;
    for (const char* impl : kImpls) {
        const std::string name = std::string(impl) + "/" + theCase;
        any = any || (regexec(&re, name.c_str(), 0, nullptr, 0) == 0) != negated;
    }
    regfree(&re);
    return any;
}

}  // namespace

int main(int argc, char** argv) {
    // Five repetitions, their mean standing, unless the command line asks
    // otherwise: the machine is shared, and single runs of the 80,000 lists
    // are one iteration each.
    std::vector<char*> args(argv, argv + argc);
    static char repetitions[] = "--benchmark_repetitions=5";
    args.insert(args.begin() + 1, repetitions);
    argc = static_cast<int>(args.size());
    argv = args.data();
    benchmark::Initialize(&argc, argv);
    if (argc > 1) {
        std::fprintf(stderr, "usage: %s [benchmark options]\n", argv[0]);
        return 1;
    }
    for (int docs : kSizes) {
        for (const char* order : kOrders) {
            const std::string name = order + std::to_string(docs);
            if (selected(name)) pairs().push_back({name, docs, std::string(RUVA_SDI_PAIRS) + "/" + name});
        }
    }
    std::map<int, long> rss;
    for (int docs : kSizes) {
        for (const Pair& p : pairs()) {
            if (p.docs == docs && !rss.count(docs)) rss[docs] = peakRss(docs);
        }
    }
    bool ok = true;
    for (const Pair& p : pairs()) ok = checkPage(p) && checkJoin(p) && ok;
    if (!ok) return 1;
    for (const Pair& p : pairs()) {
        benchmark::RegisterBenchmark(("join/" + p.name).c_str(), joinBench, &p)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("compare/" + p.name).c_str(), compareBench, &p)
            ->Unit(benchmark::kMillisecond);
    }
    CompareReporter reporter(rss);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    for (const auto& [docs, kb] : rss) {
        if (kb < 0) {
            std::fprintf(stderr, "sdi_compare_bench: the comparison of %d documents failed in its child\n",
                         docs);
            return 1;
        }
    }
    return 0;
}

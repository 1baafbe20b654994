// The results page of a search beside a plain tuple sort of the same hits,
// on seeded full-text replies written at build time by gen_qxsrch.py:
// 20 libraries of 500 hits (hits10000), of 2,000 (hits40000), and of 500
// with every title equal (equal10000). The replies are read once by the
// client from the preparation tests' loopback server; per case:
//   TupleSort/<case>: std::stable_sort of the hits' (title, member name)
//                     pairs, precomputed;
//   sort/<case>:      the sort phase: each library's hits keyed, sorted and
//                     relinked by sortSearchResults (library sort 0);
//   prepare/<case>:   the whole preparation, prepareResults;
//   page/<case>:      the page written from the prepared hits
//                     (writeResultsPage: head, summary, library table, rows).
// Library titles are asked once per request: the formatter is made once per
// case and the output check fills its lookups, so no timed run waits for
// MLLIST; the page still asks LIST for the help library each time (the
// server lists none).
//
// Before timing, every case's prepared order must equal the generator's
// expected order, a second preparation the first, and the page must show
// the documents in that order; the run exits 1 otherwise. Printed at the
// end, beside the targets (reported, not enforced): sort at most 3x and
// prepare at most 6x TupleSort at 10,000 hits; prepare and page at
// 40,000 hits at most 5x their time at 10,000; equal titles at most 1.5x
// distinct ones.
//
// usage: search_results_bench [--benchmark_filter=...]
// On a shared machine, --benchmark_enable_random_interleaving=true with
// --benchmark_repetitions=8 keeps a load spike from falling on one case.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bench/ratio_reporter.h"
#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "bmod/ruvaserv/cgi/kvo_text.h"
#include "bmod/ruvaserv/cgi/valuelist.h"
#include "bmod/ruvaserv/client/uzresponse.h"
#include "bmod/ruvaserv/client/uzsession.h"
#include "bmod/ruvaserv/search/result_prepare.h"
#include "bmod/ruvaserv/search/result_sort.h"
#include "bmod/ruvaserv/search/search_result_fmt.h"
#include "common/net_util.h"
#include "tests/bmod/ruvaserv/search/answering_server.h"

namespace {

using namespace ruva;

constexpr const char* kCases[] = {"hits10000", "hits40000", "equal10000"};
constexpr const char* kImpls[] = {"sort", "prepare", "page"};
constexpr const char* kIndexes[] = {"fulltext.qxx", "title.qxx"};
// The search type the search loop gives each index's hits.
constexpr unsigned long kIndexTypes[] = {OST_BODYTEXT, OST_TITLE};
constexpr const char* kOD = "0";
constexpr const char* kBA = "TITLE";

constexpr double kSortTarget = 3.0;
constexpr double kPrepareTarget = 6.0;
constexpr double kScaleTarget = 5.0;
constexpr double kEqualTarget = 1.5;

[[noreturn]] void die(const std::string& why) {
    std::fprintf(stderr, "search_results_bench: %s\n", why.c_str());
    std::exit(1);
}

// A file of the generator; an unreadable one ends the run.
std::string caseFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (!in.is_open() || text.empty()) die("cannot read " + path);
    return text;
}

// Dotted addresses only: no name service in a timed run.
class NoNames : public Resolver {
public:
    bool addressOf(const std::string&, in_addr_t*) override { return false; }
    bool namesOf(in_addr_t, std::string*, std::vector<std::string>*) override { return false; }
};

// ---- a case

struct Expected {
    std::string id;
    std::string member;
    unsigned long searchType;
};

struct Case {
    std::string name;
    test::ServerScript script;
    std::vector<test::QxExchange> exchanges;
    std::vector<Expected> expected;
    std::thread served;
    std::unique_ptr<CgiHandler> cg;
    std::unique_ptr<SearchData> sd;
    std::unique_ptr<UzResponse> reply;
    std::unique_ptr<KivoHandler> kh;
    std::unique_ptr<SearchResultFmt> fmt;
    // Each library's hits in reply order, libraries by first appearance:
    // what the sort phase starts from.
    std::vector<std::vector<UzQxSearchEntry*>> runs;
    // The same hits' (title, member name), for the baseline.
    std::vector<std::pair<std::string, std::string>> pairs;
    PreparedResults prepared;
};

std::vector<std::unique_ptr<Case>>& cases() {
    static std::vector<std::unique_ptr<Case>> all;
    return all;
}

void readAnswers(const std::string& dir, Case& c) {
    for (size_t i = 0; i < std::size(kIndexes); ++i) {
        test::QxExchange x;
        x.searchType = kIndexTypes[i];
        x.isKwd = 0;
        x.isTopic = 0;
        x.index = kIndexes[i];
        x.lines = caseFile(dir + "/" + kIndexes[i]);
        c.script.qxsrch.push_back(x.lines);
        c.exchanges.push_back(std::move(x));
    }
    std::istringstream mllist(caseFile(dir + "/mllist"));
    std::string line, argument;
    while (std::getline(mllist, line)) {
        if (line.compare(0, 2, "= ") == 0)
            argument = line.substr(2);
        else
            c.script.mllist[argument] += line + "\n";
    }
    std::istringstream expected(caseFile(dir + "/expected"));
    Expected e;
    while (expected >> e.id >> e.member >> e.searchType) c.expected.push_back(e);
    if (c.expected.empty() || c.script.mllist.empty()) die(dir + " holds no case");
}

void groupRuns(Case& c) {
    std::map<std::string, size_t> runOf;
    for (UzQxSearchEntry* e = c.reply->qxsrch(); e; e = e->next.get()) {
        if (!e->filled() || e->filename.empty()) continue;
        const auto [it, added] = runOf.try_emplace(e->ID, c.runs.size());
        if (added) c.runs.emplace_back();
        c.runs[it->second].push_back(e);
        c.pairs.emplace_back(makeHitSortKey(*e).title, e->filename);
    }
}

void checkOrder(const Case& c, const std::vector<UzQxSearchEntry*>& hits, const char* what) {
    if (hits.size() != c.expected.size())
        die(c.name + ": " + what + " holds " + std::to_string(hits.size()) + " hits, expected " +
            std::to_string(c.expected.size()));
    for (size_t i = 0; i < hits.size(); ++i) {
        const Expected& e = c.expected[i];
        if (hits[i]->ID != e.id || hits[i]->filename != e.member || hits[i]->searchType != e.searchType)
            die(c.name + ": " + what + " place " + std::to_string(i) + " holds " + hits[i]->ID + " " +
                hits[i]->filename + ", expected " + e.id + " " + e.member);
    }
}

// The page shows each document once, at its first place in the order.
void checkPage(const Case& c) {
    const std::string page(c.cg->docBuf, c.cg->docSize);
    std::map<std::pair<std::string, std::string>, bool> shown;
    size_t at = 0;
    for (const Expected& e : c.expected) {
        if (!shown.emplace(std::make_pair(e.id, e.member), true).second) continue;
        at = page.find(e.member, at);
        if (at == std::string::npos) die(c.name + ": the page does not show " + e.member + " in its place");
        at += e.member.size();
    }
}

void prepareCase(const std::string& root, const char* name, test::AnsweringServer& server) {
    auto c = std::make_unique<Case>();
    c->name = name;
    readAnswers(root + "/" + name, *c);
    c->served = server.accept(c->script);
    static char* noEnv[] = {nullptr};
    c->cg = newCgiHandler(kKivoservFlags, noEnv);
    if (!c->cg) die("no request");
    c->cg->docServAddr = "127.0.0.1:" + std::to_string(server.port());
    // The toolbar's full-text search of the whole tree.
    static const std::pair<const char*, const char*> kFields[] = {
        {"AC", "SEARCH"}, {"ST", "FULLTEXT"}, {"PA", "installation"}, {"PAOR", "installation"},
        {"ID", "0"},      {"OD", kOD},        {"BA", kBA},            {"SP", "0"}};
    for (const auto& [field, value] : kFields) c->cg->valueList->addValue(field, value);
    if (c->cg->establishDefaultSession() != 1) die("no session: " + c->cg->getError());
    c->sd = newSearchData();
    if (!c->sd) die("no search data");
    c->sd->srchTypeBoolOperation = STYPE_OR;
    c->sd->searchType = OST_BODYTEXT | OST_TITLE;
    c->sd->sTypeCounter = 2;
    c->sd->searchPat = "installation";
    std::map<const UzQxSearchEntry*, size_t> places;
    std::string error;
    c->reply = test::joinExchanges(*c->cg, c->exchanges, places, error);
    if (!c->reply) die(c->name + ": no reply: " + error);
    c->kh = newKivoHandler(c->cg.get());
    c->fmt = defaultSearchResultFmt(*c->sd, *c->cg, SRSO_SRCHTYPE);
    if (!c->kh || !c->fmt) die("no formatter");
    groupRuns(*c);

    if (!c->fmt->prepareResults(*c->kh, c->reply.get(), c->prepared))
        die(c->name + ": preparation failed: " + c->fmt->getError());
    checkOrder(*c, c->prepared.hits, "the preparation");
    PreparedResults again;
    if (!c->fmt->prepareResults(*c->kh, c->reply.get(), again)) die(c->name + ": second preparation failed");
    checkOrder(*c, again.hits, "a second preparation");
    // The sort phase alone over the grouped hits.
    std::vector<UzQxSearchEntry*> sorted;
    HitSortSettings settings;
    for (std::vector<UzQxSearchEntry*> run : c->runs) {
        if (!sortSearchResults(run, 0, kOD, kBA, SRSO_SRCHTYPE, settings, c->fmt->libraries))
            die(c->name + ": sort failed");
        sorted.insert(sorted.end(), run.begin(), run.end());
    }
    checkOrder(*c, sorted, "the sort phase");
    PreparedResults shown = c->prepared;
    if (c->fmt->writeResultsPage(*c->kh, shown, 0, std::nullopt) <= 0) die(c->name + ": no page: " + c->fmt->getError());
    checkPage(*c);
    cases().push_back(std::move(c));
}

void finish() {
    for (auto& c : cases()) {
        if (c->cg->sess) c->cg->sess->quit();
        c->fmt.reset();
        c->kh.reset();
        c->reply.reset();
        c->cg.reset();
        c->served.join();
    }
    cases().clear();
}

// ---- the timed runs

void benchTupleSort(benchmark::State& state, const Case* c) {
    std::vector<std::pair<std::string, std::string>> pairs;
    for (auto _ : state) {
        state.PauseTiming();
        pairs = c->pairs;
        state.ResumeTiming();
        std::stable_sort(pairs.begin(), pairs.end());
        benchmark::DoNotOptimize(pairs.data());
    }
}

void benchSort(benchmark::State& state, const Case* c) {
    std::vector<std::vector<UzQxSearchEntry*>> runs;
    HitSortSettings settings;
    for (auto _ : state) {
        state.PauseTiming();
        runs = c->runs;
        state.ResumeTiming();
        for (auto& run : runs) {
            if (!sortSearchResults(run, 0, kOD, kBA, SRSO_SRCHTYPE, settings, c->fmt->libraries)) std::abort();
        }
        benchmark::DoNotOptimize(runs.data());
    }
}

void benchPrepare(benchmark::State& state, Case* c) {
    for (auto _ : state) {
        PreparedResults out;
        if (!c->fmt->prepareResults(*c->kh, c->reply.get(), out)) std::abort();
        benchmark::DoNotOptimize(out.hits.data());
    }
}

void benchPage(benchmark::State& state, Case* c) {
    for (auto _ : state) {
        state.PauseTiming();
        PreparedResults prepared = c->prepared;
        state.ResumeTiming();
        if (c->fmt->writeResultsPage(*c->kh, prepared, 0, std::nullopt) <= 0) std::abort();
        benchmark::DoNotOptimize(c->cg->docSize);
    }
}

// The ratio table, then the scale and equal-title ratios beside their targets.
class ResultsReporter : public bench::RatioReporter {
public:
    ResultsReporter() : RatioReporter("TupleSort", {kImpls[0], kImpls[1], kImpls[2]}) {}

    void Finalize() override {
        RatioReporter::Finalize();
        std::printf("\n%-40s %10s %8s\n", "ratio", "measured", "target");
        line("sort over TupleSort, 10,000 hits", timeOf("sort", "hits10000"), timeOf("TupleSort", "hits10000"),
             kSortTarget);
        line("prepare over TupleSort, 10,000 hits", timeOf("prepare", "hits10000"),
             timeOf("TupleSort", "hits10000"), kPrepareTarget);
        for (const char* impl : {"prepare", "page"})
            line(std::string(impl) + " 40,000 over 10,000 hits", timeOf(impl, "hits40000"),
                 timeOf(impl, "hits10000"), kScaleTarget);
        for (const char* impl : {"sort", "prepare", "page"})
            line(std::string(impl) + " equal over distinct titles", timeOf(impl, "equal10000"),
                 timeOf(impl, "hits10000"), kEqualTarget);
    }

private:
    static void line(const std::string& what, double time, double base, double target) {
        if (time <= 0 || base <= 0) return;
        const double ratio = time / base;
        std::printf("%-40s %9.2fx %7.1fx%s\n", what.c_str(), ratio, target, ratio > target ? "  over" : "");
    }
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    setMsgLanguage("Uen");
    setTextLanguage("Uen");
    unsetenv("RUVA_ADDR");
    unsetenv("HTTP_COOKIE");
    setenv("REQUEST_METHOD", "GET", 1);
    NoNames noNames;
    setResolver(&noNames);
    test::AnsweringServer server;
    if (!server.ok()) die("no listener");
    for (const char* name : kCases) prepareCase(RUVA_QXSRCH_CASES, name, server);

    for (const auto& c : cases()) {
        const std::string n = "/" + c->name;
        benchmark::RegisterBenchmark(("TupleSort" + n).c_str(), benchTupleSort, c.get())
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("sort" + n).c_str(), benchSort, c.get())->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("prepare" + n).c_str(), benchPrepare, c.get())->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("page" + n).c_str(), benchPage, c.get())->Unit(benchmark::kMillisecond);
    }
    ResultsReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    finish();
    return 0;
}

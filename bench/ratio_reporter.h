// Console output as usual, then a table of each implementation's time over
// the baseline's, case by case. Benchmarks are named "<impl>/<case>"; with
// repetitions the mean (reported after the single runs) stands.
#pragma once

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace ruva::bench {

class RatioReporter : public benchmark::ConsoleReporter {
public:
    RatioReporter(std::string baseline, std::vector<std::string> impls)
        // Colour only on a terminal, so that output kept in a file stays plain.
        : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular),
          baseline_(std::move(baseline)),
          impls_(std::move(impls)) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (!stands(run)) continue;
            std::string name = run.run_name.str();
            auto slash = name.find('/');
            if (slash == std::string::npos) continue;
            std::string theCase = name.substr(slash + 1);
            if (times_.find(theCase) == times_.end()) cases_.push_back(theCase);
            times_[theCase][name.substr(0, slash)] = run.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\ntime over %s\n%-24s", baseline_.c_str(), "case");
        for (const std::string& impl : impls_) std::printf(" %14s", impl.c_str());
        std::printf("\n");
        for (const std::string& theCase : cases_) {
            const auto& t = times_[theCase];
            auto base = t.find(baseline_);
            if (base == t.end() || base->second <= 0) continue;
            std::printf("%-24s", theCase.c_str());
            for (const std::string& impl : impls_) {
                auto it = t.find(impl);
                if (it == t.end())
                    std::printf(" %14s", "-");
                else
                    std::printf(" %13.2fx", it->second / base->second);
            }
            std::printf("\n");
        }
    }

protected:
    // A run whose time counts: a single run, or the mean of repetitions.
    static bool stands(const Run& run) {
        return !run.error_occurred && (run.run_type == Run::RT_Iteration || run.aggregate_name == "mean");
    }

    // The time of impl on theCase as reported; 0 when it did not run.
    double timeOf(const std::string& impl, const std::string& theCase) const {
        auto c = times_.find(theCase);
        if (c == times_.end()) return 0;
        auto t = c->second.find(impl);
        return t == c->second.end() ? 0 : t->second;
    }

private:
    std::string baseline_;
    std::vector<std::string> impls_;
    std::vector<std::string> cases_;
    std::map<std::string, std::map<std::string, double>> times_;
};

// A RatioReporter that prints, after its table, the time of the benchmark
// named large over that of small (full names): the same work at a larger
// size, to show whether it stays linear.
class ScaleRatioReporter : public RatioReporter {
public:
    // Printed as "<label> <ratio>x<note>".
    ScaleRatioReporter(std::string baseline, std::vector<std::string> impls, std::string small,
                       std::string large, std::string label, std::string note = "")
        : RatioReporter(std::move(baseline), std::move(impls)),
          small_(std::move(small)),
          large_(std::move(large)),
          label_(std::move(label)),
          note_(std::move(note)) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (stands(run)) times_[run.run_name.str()] = run.GetAdjustedRealTime();
        }
        RatioReporter::ReportRuns(runs);
    }

    void Finalize() override {
        RatioReporter::Finalize();
        const auto small = times_.find(small_);
        const auto large = times_.find(large_);
        if (small == times_.end() || large == times_.end() || small->second <= 0) return;
        std::printf("\n%s %13.2fx%s\n", label_.c_str(), large->second / small->second, note_.c_str());
    }

private:
    std::string small_;
    std::string large_;
    std::string label_;
    std::string note_;
    std::map<std::string, double> times_;
};

// benchmark::Initialize with five repetitions unless the command line asks
// otherwise; given as a flag, they stay out of the case names the tables
// are keyed by. False, after a usage line, when arguments are left that it
// does not know.
inline bool initializeWithRepetitions(int argc, char** argv) {
    std::vector<char*> args(argv, argv + argc);
    static char repetitions[] = "--benchmark_repetitions=5";
    args.insert(args.begin() + 1, repetitions);
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (count > 1) {
        std::fprintf(stderr, "usage: %s [benchmark options]\n", args[0]);
        return false;
    }
    return true;
}

}  // namespace ruva::bench

// RETR of a deflated member on an open session, and with a new session per
// RETR, against `unzip -p` of the same member read through a pipe. Without
// RUVA_PORT it makes the library and reruns itself under the daemon harness.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "ratio_reporter.h"
#include "retr_session.h"

namespace {

using namespace ruva::bench;

std::string libDir;

void unzipPipe(benchmark::State& state, const Member* m) {
    std::string cmd = "unzip -p '" + libDir + "/bench.kvo' " + m->name;
    char buf[65536];
    for (auto _ : state) {
        FILE* p = ::popen(cmd.c_str(), "r");
        size_t total = 0;
        for (size_t got; (got = std::fread(buf, 1, sizeof buf, p)) > 0;) total += got;
        if (::pclose(p) != 0 || total != m->size) state.SkipWithError("unzip -p failed");
    }
}

void retrNewSession(benchmark::State& state, const Member* m) {
    for (auto _ : state) {
        Session s;
        if (!s.open() || !s.retr(m->name) || !s.send("QUIT\n")) state.SkipWithError("RETR failed");
        s.line();
    }
}

}  // namespace

int main(int argc, char** argv) {
    const char* dir = underHarness(argc, argv, "retr_bench");
    if (dir == nullptr) return harnessStatus;
    libDir = dir;
    benchmark::Initialize(&argc, argv);
    for (const Member& m : kMembers) {
        benchmark::RegisterBenchmark((std::string("unzip-p/") + m.label).c_str(), unzipPipe, &m)->UseRealTime();
        benchmark::RegisterBenchmark((std::string("retr/") + m.label).c_str(), retrOpenSession, &m)->UseRealTime();
        benchmark::RegisterBenchmark((std::string("new-session/") + m.label).c_str(), retrNewSession, &m)
            ->UseRealTime();
    }
    ruva::bench::RatioReporter reporter("unzip-p", {"retr", "new-session"});
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::printf("(targets: retr at most 0.75 of unzip -p for 1m, 0.3 for 16k; new-session without a target)\n");
    return 0;
}

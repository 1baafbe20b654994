// retrMem of the client on an open session against the bare RETR loop of
// retr_session.h, same member, same run. Without RUVA_PORT it makes the
// library and reruns itself under the daemon harness.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>

#include "bmod/ruvaserv/client/uzclient.h"
#include "common/version.h"
#include "ratio_reporter.h"
#include "retr_session.h"

namespace {

using namespace ruva::bench;

void clientRetrMem(benchmark::State& state, const Member* m) {
    auto client = ruva::newUzClient("client_retr_bench", "DOCSRV 1", ruva::kSystemRevision, 0);
    std::string address = "127.0.0.1:" + std::to_string(port);
    ruva::UzSession* session = client ? client->newSession(address.c_str(), 0, 0) : nullptr;
    std::unique_ptr<ruva::UzResponse> greeting = session ? session->connect() : nullptr;
    if (!greeting || greeting->resultCode != 200) {
        state.SkipWithError("no session");
        return;
    }
    std::string data;
    for (auto _ : state) {
        std::unique_ptr<ruva::UzResponse> r = session->retrMem("bench.kvo", m->name, data);
        if (!r || r->resultCode != 200 || data.size() != m->size) state.SkipWithError("retrMem failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * m->size));
}

}  // namespace

int main(int argc, char** argv) {
    if (underHarness(argc, argv, "client_retr_bench") == nullptr) return harnessStatus;
    benchmark::Initialize(&argc, argv);
    for (const Member& m : kMembers) {
        benchmark::RegisterBenchmark((std::string("bare/") + m.label).c_str(), retrOpenSession, &m)->UseRealTime();
        benchmark::RegisterBenchmark((std::string("retrMem/") + m.label).c_str(), clientRetrMem, &m)->UseRealTime();
    }
    ruva::bench::RatioReporter reporter("bare", {"retrMem"});
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::printf("(targets: retrMem at most 1.15 of the bare loop for 1m, 1.3 for 16k)\n");
    return 0;
}

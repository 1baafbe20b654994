// AC=IMAGE of a deflated member: kivoserv started as lighttpd starts it,
// asking the daemon for the member, against `unzip -p` of the same member
// started the same way. Without RUVA_PORT it makes the library and reruns
// itself under the daemon harness.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "cgi_spawn.h"
#include "ratio_reporter.h"
#include "retr_session.h"

extern char** environ;

namespace {

using namespace ruva::bench;

constexpr const char kUnzip[] = "/usr/bin/unzip";

std::string libDir;
std::string libraryFile;
std::string workDir;

struct Case {
    const Member* member;
    std::string query;
    std::string bytes;  // the member as unzip -p gives it
    size_t answerSize;  // kivoserv's, header lines included
};
std::vector<Case> cases;

std::vector<const char*> unzipArgs(const Case& c) {
    return {kUnzip, "-p", libraryFile.c_str(), c.member->name};
}

// kivoserv's answer is its header lines, then exactly the member.
std::string wrongAnswer(const Case& c, const std::string& answer) {
    const std::string length = "Content-Length: " + std::to_string(c.bytes.size()) + "\n";
    if (answer.compare(0, length.size(), length) != 0) return "no Content-Length line of the member's size";
    const size_t end = answer.find("\n\n");
    if (end == std::string::npos) return "no end of the header block";
    if (answer.compare(end + 2, std::string::npos, c.bytes) != 0) return "the body is not the member";
    return "";
}

void unzipPipe(benchmark::State& state, const Case* c) {
    std::string out;
    const std::vector<const char*> args = unzipArgs(*c);
    for (auto _ : state) {
        if (!runProgram(args, environ, out) || out.size() != c->bytes.size()) {
            state.SkipWithError("unzip -p failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c->bytes.size()));
}

void kivoserv(benchmark::State& state, const Case* c) {
    CgiEnv env(c->query, workDir);
    std::string out;
    for (auto _ : state) {
        if (!runProgram({RUVA_KIVOSERV}, env.envp(), out) || out.size() != c->answerSize) {
            state.SkipWithError("kivoserv failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c->bytes.size()));
}

// Every answer is checked once before any timing.
bool prepare() {
    libraryFile = libDir + "/bench.kvo";
    workDir = libDir + "/cgi";
    std::filesystem::create_directories(workDir + "/tmp");
    if (!writeText(workDir + "/kivo.conf",
                   "TempPath " + workDir + "/tmp\nRuvaDaemon 127.0.0.1:" + std::to_string(port) + "\n"))
        return false;
    for (const Member& m : kMembers) {
        Case c{&m, std::string("AC=IMAGE&DB=bench.kvo&FN=") + m.name, {}, 0};
        if (!runProgram(unzipArgs(c), environ, c.bytes) || c.bytes.size() != m.size) {
            std::fprintf(stderr, "image_action_bench: unzip -p failed on %s\n", m.name);
            return false;
        }
        std::string answer;
        if (!runProgram({RUVA_KIVOSERV}, CgiEnv(c.query, workDir).envp(), answer)) {
            std::fprintf(stderr, "image_action_bench: kivoserv failed on %s\n", c.query.c_str());
            return false;
        }
        if (std::string wrong = wrongAnswer(c, answer); !wrong.empty()) {
            std::fprintf(stderr, "image_action_bench: %s: %s (%zu bytes)\n", c.query.c_str(), wrong.c_str(),
                         answer.size());
            return false;
        }
        c.answerSize = answer.size();
        cases.push_back(std::move(c));
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const char* dir = underHarness(argc, argv, "image_action_bench");
    if (dir == nullptr) return harnessStatus;
    libDir = dir;
    if (!prepare()) return 1;
    benchmark::Initialize(&argc, argv);
    for (const Case& c : cases) {
        benchmark::RegisterBenchmark((std::string("unzip/") + c.member->label).c_str(), unzipPipe, &c)
            ->UseRealTime();
        benchmark::RegisterBenchmark((std::string("kivoserv/") + c.member->label).c_str(), kivoserv, &c)
            ->UseRealTime();
    }
    RatioReporter reporter("unzip", {"kivoserv"});
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::printf("(targets: kivoserv at most 2.0 of unzip -p for 16k, 1.3 for 1m)\n");
    return 0;
}

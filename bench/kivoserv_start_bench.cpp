// One request to kivoserv, started as a web server starts a CGI program and
// read to the end of its answer, against minimal_cgi writing the same bytes:
// what kivoserv costs on top of starting a process. Cases: the empty page
// and a toolbar image, the two answers given before any session.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "cgi_spawn.h"
#include "ratio_reporter.h"

namespace {

using ruva::bench::CgiEnv;
using ruva::bench::runProgram;
using ruva::bench::writeText;

// kivoserv's answer to the case's request: "" when it is one, else what is wrong.
using AnswerCheck = std::string (*)(const std::string& answer);

std::string checkEmptyPage(const std::string& answer) {
    static const std::string head = "Content-type: text/html\n\n";
    if (answer.compare(0, head.size(), head) != 0) return "no text/html header block";
    if (answer.find("bgcolor=\"#FFFFFF\"", head.size()) == std::string::npos) return "no white page";
    return "";
}

std::string checkImage(const std::string& answer) {
    size_t end = answer.find("\n\n");
    if (answer.compare(0, 9, "Expires: ") != 0 || end == std::string::npos) return "no Expires line";
    size_t type = answer.find('\n') + 1;
    static const std::string gif = "Content-type: image/gif\nContent-length: ";
    if (answer.compare(type, gif.size(), gif) != 0) return "no image/gif header lines";
    std::string body = answer.substr(end + 2);
    if (std::to_string(body.size()) != answer.substr(type + gif.size(), end - type - gif.size()))
        return "Content-length is not the body's size";
    if (body.compare(0, 6, "GIF89a") != 0) return "the body is no GIF";
    return "";
}

struct Case {
    const char* label;
    const char* query;
    AnswerCheck check;
    std::string answer;  // kivoserv's, taken once before timing
    std::string answerFile;
};
Case cases[] = {{"EMPTY", "AC=EMPTY", checkEmptyPage, {}, {}},
                {"TBIMG-117", "AC=TBIMG&IM=117", checkImage, {}, {}}};

std::string workDir;

// The date of an Expires line moves with the clock; the rest must not.
std::string withoutExpiryDate(std::string answer) {
    size_t end = answer.find("\n\n");
    size_t at = answer.rfind("Expires: ", end);
    if (at != std::string::npos && (at == 0 || answer[at - 1] == '\n'))
        answer.erase(at + 9, answer.find('\n', at) - at - 9);
    return answer;
}

// Runs program (with arg when given) as lighttpd would run kivoserv.
bool runCgi(const char* program, const char* arg, const CgiEnv& env, std::string& out) {
    std::vector<const char*> args{program};
    if (arg != nullptr) args.push_back(arg);
    return runProgram(args, env.envp(), out);
}

void serve(benchmark::State& state, const char* program, const Case* c, bool minimal) {
    CgiEnv env(c->query, workDir);
    const char* arg = minimal ? c->answerFile.c_str() : nullptr;
    std::string out;
    if (!runCgi(program, arg, env, out) || withoutExpiryDate(out) != withoutExpiryDate(c->answer)) {
        state.SkipWithError("the answer differs from kivoserv's first one");
        return;
    }
    for (auto _ : state) {
        if (!runCgi(program, arg, env, out) || out.size() != c->answer.size()) {
            state.SkipWithError("the program failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c->answer.size()));
}

void minimalCgi(benchmark::State& state, const Case* c) {
    serve(state, RUVA_MINIMAL_CGI, c, true);
}

void kivoserv(benchmark::State& state, const Case* c) {
    serve(state, RUVA_KIVOSERV, c, false);
}

// kivoserv's answer to each case, checked and kept for minimal_cgi.
bool takeAnswers() {
    std::filesystem::create_directory(workDir + "/tmp");
    if (!writeText(workDir + "/kivo.conf", "TempPath " + workDir + "/tmp\n")) return false;
    for (Case& c : cases) {
        if (!runCgi(RUVA_KIVOSERV, nullptr, CgiEnv(c.query, workDir), c.answer)) {
            std::fprintf(stderr, "kivoserv_start_bench: kivoserv failed on %s\n", c.query);
            return false;
        }
        std::string wrong = c.check(c.answer);
        if (!wrong.empty()) {
            std::fprintf(stderr, "kivoserv_start_bench: %s: %s (%zu bytes)\n", c.query, wrong.c_str(),
                         c.answer.size());
            return false;
        }
        c.answerFile = workDir + "/" + c.label + ".answer";
        if (!writeText(c.answerFile, c.answer)) return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    char tmpl[] = "/tmp/kivoserv_start_bench.XXXXXX";
    if (::mkdtemp(tmpl) == nullptr) {
        std::perror("kivoserv_start_bench: mkdtemp");
        return 1;
    }
    workDir = tmpl;
    bool ready = takeAnswers();
    if (ready) {
        benchmark::Initialize(&argc, argv);
        for (const Case& c : cases) {
            benchmark::RegisterBenchmark((std::string("minimal/") + c.label).c_str(), minimalCgi, &c)
                ->UseRealTime();
            benchmark::RegisterBenchmark((std::string("kivoserv/") + c.label).c_str(), kivoserv, &c)
                ->UseRealTime();
        }
        ruva::bench::RatioReporter reporter("minimal", {"kivoserv"});
        benchmark::RunSpecifiedBenchmarks(&reporter);
        benchmark::Shutdown();
        std::printf("(target: kivoserv at most 1.3 of minimal for each case)\n");
    }
    std::error_code ec;
    std::filesystem::remove_all(workDir, ec);
    return ready ? 0 : 1;
}

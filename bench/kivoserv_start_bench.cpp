// One request to kivoserv, started as a web server starts a CGI program and
// read to the end of its answer, against minimal_cgi writing the same bytes:
// what kivoserv costs on top of starting a process. Cases: the empty page
// and a toolbar image, the two answers given before any session.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "ratio_reporter.h"

namespace {

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

// What lighttpd gives a CGI program for a GET, with the harness's own
// variables. SERVER_NAME spares kivoserv a name look-up of its own address.
class CgiEnv {
public:
    explicit CgiEnv(const char* query) {
        texts_ = {"GATEWAY_INTERFACE=CGI/1.1", "SERVER_PROTOCOL=HTTP/1.1", "SERVER_SOFTWARE=lighttpd",
                  "REQUEST_METHOD=GET", std::string("QUERY_STRING=") + query,
                  std::string("REQUEST_URI=/cgi-bin/kivoserv?") + query, "SCRIPT_NAME=/cgi-bin/kivoserv",
                  "SERVER_NAME=127.0.0.1", "SERVER_ADDR=127.0.0.1", "SERVER_PORT=8080",
                  "HTTP_HOST=127.0.0.1:8080", "REMOTE_ADDR=127.0.0.1", "REMOTE_PORT=40000", "CONTENT_LENGTH=0",
                  "REDIRECT_STATUS=200", "KIVOSERVCONF=" + workDir + "/kivo.conf", "TMPDIR=" + workDir + "/tmp",
                  "PATH=/usr/bin:/bin"};
        for (std::string& t : texts_) ptrs_.push_back(t.data());
        ptrs_.push_back(nullptr);
    }
    char* const* envp() const { return ptrs_.data(); }

private:
    std::vector<std::string> texts_;
    std::vector<char*> ptrs_;
};

// Runs program (with arg when given) on an empty standard input and reads
// its standard output to the end; false unless it exits with status 0.
bool runCgi(const char* program, const char* arg, const CgiEnv& env, std::string& out) {
    out.clear();
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    char* argv[] = {const_cast<char*>(program), const_cast<char*>(arg), nullptr};
    pid_t pid = -1;
    int failed = ::posix_spawn(&pid, program, &actions, nullptr, argv, env.envp());
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    char buf[65536];
    for (ssize_t got; !failed && (got = ::read(pipeFds[0], buf, sizeof buf)) != 0;) {
        if (got > 0) out.append(buf, static_cast<size_t>(got));
        else if (errno != EINTR) break;
    }
    ::close(pipeFds[0]);
    int status = 0;
    if (failed || ::waitpid(pid, &status, 0) != pid) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void serve(benchmark::State& state, const char* program, const Case* c, bool minimal) {
    CgiEnv env(c->query);
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

bool writeText(const std::string& path, const std::string& text) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && ok;
}

// kivoserv's answer to each case, checked and kept for minimal_cgi.
bool takeAnswers() {
    std::filesystem::create_directory(workDir + "/tmp");
    if (!writeText(workDir + "/kivo.conf", "TempPath " + workDir + "/tmp\n")) return false;
    for (Case& c : cases) {
        if (!runCgi(RUVA_KIVOSERV, nullptr, CgiEnv(c.query), c.answer)) {
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

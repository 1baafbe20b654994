// RETR of a deflated member on an open session, and with a new session per
// RETR, against `unzip -p` of the same member read through a pipe. Without
// RUVA_PORT it makes the library and reruns itself under the daemon harness.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "ratio_reporter.h"

namespace {

std::string libDir;
int port = 0;

struct Member {
    const char* label;
    const char* name;
    size_t size;
};
const Member kMembers[] = {{"16k", "m16k.html", 16 * 1024}, {"1m", "m1m.html", 1 << 20}};

// HTML-like text that deflates about as well as the libraries' documents.
std::string makeText(size_t size, std::mt19937& rng) {
    static const char* words[] = {"library", "document", "server", "member", "<p>", "</p>", "title",
                                  "revision", "install", "the", "and", "of", "configure", "\n"};
    std::string out;
    while (out.size() < size) {
        out += words[rng() % (sizeof words / sizeof *words)];
        out += ' ';
    }
    out.resize(size);
    return out;
}

bool makeLibrary(const std::string& dir) {
    std::mt19937 rng(20261210);
    for (const Member& m : kMembers) {
        FILE* f = std::fopen((dir + "/" + m.name).c_str(), "wb");
        if (f == nullptr) return false;
        std::string text = makeText(m.size, rng);
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
    std::string cmd = "cd '" + dir + "' && zip -q -9 bench.kvo m16k.html m1m.html && rm m16k.html m1m.html";
    return std::system(cmd.c_str()) == 0;
}

class Session {
  public:
    bool open() {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd_ < 0 || ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return false;
        int one = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        return line().rfind("200 ", 0) == 0;
    }
    ~Session() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool send(const std::string& s) { return ::write(fd_, s.data(), s.size()) == static_cast<ssize_t>(s.size()); }
    std::string line() {
        std::string out;
        for (;;) {
            size_t nl = buf_.find('\n', pos_);
            if (nl != std::string::npos) {
                out = buf_.substr(pos_, nl + 1 - pos_);
                pos_ = nl + 1;
                return out;
            }
            if (!fill()) return "";
        }
    }
    // n data bytes, dropped.
    bool skip(size_t n) {
        while (buf_.size() - pos_ < n) {
            n -= buf_.size() - pos_;
            buf_.clear();
            pos_ = 0;
            if (!fill()) return false;
        }
        pos_ += n;
        return true;
    }
    // One RETR: framing line, data, CRC line, end line.
    bool retr(const char* member) {
        if (!send(std::string("RETR bench.kvo ") + member + "\n")) return false;
        std::string head = line();
        if (head.rfind("300-Length ", 0) != 0) return false;
        size_t n = std::strtoul(head.c_str() + 11, nullptr, 10);
        return skip(n) && line().rfind("300-CRC ", 0) == 0 && line().rfind("200-RETR", 0) == 0;
    }

  private:
    bool fill() {
        char tmp[65536];
        ssize_t got = ::read(fd_, tmp, sizeof tmp);
        if (got <= 0) return false;
        buf_.append(tmp, static_cast<size_t>(got));
        return true;
    }
    int fd_ = -1;
    std::string buf_;
    size_t pos_ = 0;
};

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

void retrOpenSession(benchmark::State& state, const Member* m) {
    Session s;
    if (!s.open()) {
        state.SkipWithError("no session");
        return;
    }
    for (auto _ : state)
        if (!s.retr(m->name)) state.SkipWithError("RETR failed");
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
    const char* p = std::getenv("RUVA_PORT");
    if (p == nullptr) {
        char tmpl[] = "/tmp/retr_bench.XXXXXX";
        if (!::mkdtemp(tmpl) || !makeLibrary(tmpl)) {
            std::fprintf(stderr, "retr_bench: cannot make the library\n");
            return 1;
        }
        ::setenv("RUVADAEMON", RUVA_DAEMON, 1);
        std::string cmd = std::string("python3 '") + RUVA_DAEMON_HARNESS + "' run --lib " + tmpl + " -- '" + argv[0] +
                          "' " + tmpl;
        for (int i = 1; i < argc; i++) cmd += std::string(" '") + argv[i] + "'";
        int status = std::system(cmd.c_str());
        std::filesystem::remove_all(tmpl);
        return status == 0 ? 0 : 1;
    }
    port = std::atoi(p);
    if (argc < 2) return 1;
    libDir = argv[1];
    argc--;
    argv[1] = argv[0];
    argv++;
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

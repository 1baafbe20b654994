// The RETR bench's library (a 16 KiB and a 1 MiB deflated member of
// HTML-like text in bench.kvo) and its bare protocol loop: a blocking
// socket, RETR line, framing line, n bytes, CRC and end lines. Shared by the
// benches that measure RETR against it.
#pragma once

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

namespace ruva::bench {

inline int port = 0;

struct Member {
    const char* label;
    const char* name;
    size_t size;
};
inline const Member kMembers[] = {{"16k", "m16k.html", 16 * 1024}, {"1m", "m1m.html", 1 << 20}};

// HTML-like text that deflates about as well as the libraries' documents.
inline std::string makeText(size_t size, std::mt19937& rng) {
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

inline bool makeLibrary(const std::string& dir) {
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

// RETR after RETR of one member on one open session.
inline void retrOpenSession(benchmark::State& state, const Member* m) {
    Session s;
    if (!s.open()) {
        state.SkipWithError("no session");
        return;
    }
    for (auto _ : state)
        if (!s.retr(m->name)) state.SkipWithError("RETR failed");
}

inline int harnessStatus = 0;

// Without RUVA_PORT: makes the library in a new folder (make, by default
// makeLibrary), reruns the program under the daemon harness (RUVA_DAEMON,
// RUVA_DAEMON_HARNESS of the build) with the folder as its first argument,
// keeps its status in harnessStatus and gives null. Under the harness: sets
// port, drops that argument from argv and gives the folder.
inline const char* underHarness(int& argc, char**& argv, const char* name,
                                bool (*make)(const std::string&) = makeLibrary) {
    const char* p = std::getenv("RUVA_PORT");
    if (p == nullptr) {
        std::string tmpl = std::string("/tmp/") + name + ".XXXXXX";
        if (!::mkdtemp(tmpl.data()) || !make(tmpl)) {
            std::fprintf(stderr, "%s: cannot make the library\n", name);
            harnessStatus = 1;
            return nullptr;
        }
        ::setenv("RUVADAEMON", RUVA_DAEMON, 1);
        std::string cmd = std::string("python3 '") + RUVA_DAEMON_HARNESS + "' run --lib " + tmpl + " -- '" + argv[0] +
                          "' " + tmpl;
        for (int i = 1; i < argc; i++) cmd += std::string(" '") + argv[i] + "'";
        int status = std::system(cmd.c_str());
        std::filesystem::remove_all(tmpl);
        harnessStatus = status == 0 ? 0 : 1;
        return nullptr;
    }
    port = std::atoi(p);
    if (argc < 2) {
        harnessStatus = 1;
        return nullptr;
    }
    const char* dir = argv[1];
    argc--;
    argv[1] = argv[0];
    argv++;
    return dir;
}

}  // namespace ruva::bench

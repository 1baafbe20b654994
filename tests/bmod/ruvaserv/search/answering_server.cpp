#include "tests/bmod/ruvaserv/search/answering_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <utility>
#include <variant>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/client/uzresponse.h"
#include "bmod/ruvaserv/client/uzsession.h"
#include "common/fd_io.h"

namespace ruva::test {

namespace {

constexpr char kGreeting[] = "200 UZD ruvadaemon \"DOCSRV 1\" R19K \"Kivo Browser\"\n";

bool sendAll(int fd, const std::string& bytes) { return writeAll(fd, bytes.data(), bytes.size()); }

std::string unquoted(std::string word) {
    if (word.size() >= 2 && word.front() == '"' && word.back() == '"') return word.substr(1, word.size() - 2);
    return word;
}

std::string replyTo(const std::string& line, const ServerScript& script, size_t& nextQx) {
    const std::string word = line.substr(0, line.find(' '));
    const std::string rest = unquoted(line.size() > word.size() ? line.substr(word.size() + 1) : "");
    if (word == "VER") return "200 Version: ruvadaemon \"DOCSRV 1\" R19K \"Kivo Browser\"\n";
    if (word == "QXSRCH") return nextQx < script.qxsrch.size() ? script.qxsrch[nextQx++] : "200-QXSRCH executed.\n";
    if (word == "MLLIST") {
        const auto it = script.mllist.find(rest);
        return it != script.mllist.end() ? it->second : "511 Invalid ID " + rest + "\n";
    }
    if (word == "LIST") return "300-Database     Size    Entries CTime \"Comment\"\n200-LIST executed.\n";
    return "500 Unknown command\n";
}

void serve(int fd, const ServerScript& script) {
    size_t nextQx = 0;
    std::string pending;
    bool open = sendAll(fd, kGreeting);
    char buf[4096];
    while (open) {
        const size_t eol = pending.find('\n');
        if (eol == std::string::npos) {
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) break;
            pending.append(buf, static_cast<size_t>(n));
            continue;
        }
        std::string line = pending.substr(0, eol);
        pending.erase(0, eol + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line == "QUIT") {
            sendAll(fd, "200-See you later.\n");
            break;
        }
        open = sendAll(fd, replyTo(line, script, nextQx));
    }
    ::close(fd);
}

}  // namespace

AnsweringServer::AnsweringServer() {
    // A client that quits early must not end the test with SIGPIPE.
    ::signal(SIGPIPE, SIG_IGN);
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd_, 4) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        return;
    }
    port_ = ntohs(a.sin_port);
}

AnsweringServer::~AnsweringServer() {
    if (fd_ >= 0) ::close(fd_);
}

std::thread AnsweringServer::accept(const ServerScript& script) {
    return std::thread([this, &script] {
        const int c = ::accept(fd_, nullptr, nullptr);
        if (c >= 0) serve(c, script);
    });
}

std::unique_ptr<UzResponse> joinExchanges(CgiHandler& cg, const std::vector<QxExchange>& exchanges,
                                          std::map<const UzQxSearchEntry*, size_t>& places, std::string& error) {
    std::unique_ptr<UzResponse> joined;
    UzQxSearchEntry* tail = nullptr;
    size_t place = 0;
    for (const QxExchange& x : exchanges) {
        std::unique_ptr<UzResponse> r = cg.sess->qxsrch("x", "*.kvo", x.index, 500, std::nullopt, 1);
        if (!r || r->resultCode != 200) {
            error = "QXSRCH: " + (r ? r->resultMessage : cg.sess->getError());
            return nullptr;
        }
        UzQxSearchEntry* head = r->qxsrch();
        if (!head || !head->filled()) continue;
        for (UzQxSearchEntry* e = head; e; e = e->next.get()) {
            e->searchType = x.searchType;
            e->isKwd = x.isKwd;
            e->isTopic = x.isTopic;
            places[e] = place++;
        }
        if (!joined) {
            joined = std::move(r);
        } else {
            tail->next = std::move(std::get<std::unique_ptr<UzQxSearchEntry>>(r->res));
        }
        for (tail = joined->qxsrch(); tail->next; tail = tail->next.get()) {
        }
    }
    return joined;
}

}  // namespace ruva::test

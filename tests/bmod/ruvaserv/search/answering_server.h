// A document server for preparation tests that answers by command: the
// greeting, VER, the scripted QXSRCH replies in turn, MLLIST by argument
// (511 for an argument without answer), an empty LIST and QUIT. Answering
// by argument keeps cases free of the order in which the preparation asks
// for its libraries; ScriptedPeer plays replies in a fixed order.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace ruva {

class CgiHandler;
class UzResponse;
struct UzQxSearchEntry;

namespace test {

// One QXSRCH exchange and the marks the search loop gives its entries.
struct QxExchange {
    unsigned long searchType = 0;
    int isKwd = 2;
    int isTopic = 2;
    std::string index = "fulltext.qxx";
    std::string lines;  // the reply, as the daemon writes it
};

struct ServerScript {
    std::vector<std::string> qxsrch;              // replies in turn
    std::map<std::string, std::string> mllist;   // reply by argument
};

// Listens on 127.0.0.1 at a free port.
class AnsweringServer {
public:
    AnsweringServer();
    ~AnsweringServer();
    AnsweringServer(const AnsweringServer&) = delete;
    AnsweringServer& operator=(const AnsweringServer&) = delete;

    bool ok() const { return fd_ >= 0; }
    unsigned port() const { return port_; }
    // Serves the next connection with script (which must outlive it) on a
    // thread, until QUIT or the client closes; join it afterwards.
    std::thread accept(const ServerScript& script);

private:
    int fd_ = -1;
    unsigned port_ = 0;
};

// Sends every exchange through cg's session and joins the entries into the
// first reply with hits, marked as the search loop marks them; places gets
// each entry's number in join order. Null with error set when an exchange
// fails, null without error when no reply held an entry.
std::unique_ptr<UzResponse> joinExchanges(CgiHandler& cg, const std::vector<QxExchange>& exchanges,
                                          std::map<const UzQxSearchEntry*, size_t>& places, std::string& error);

}  // namespace test
}  // namespace ruva

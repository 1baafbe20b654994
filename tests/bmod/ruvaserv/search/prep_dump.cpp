// Runs the preparation of the results page over cases read from standard
// input and prints one JSON line per case.
//
// A case is a sequence of records, each a line "<kind> <length>" in decimal,
// then exactly that many bytes and "\n". Kinds:
//   field    "NAME=value": a request field, stored as the request stores it
//   cookie   "name=value": a request cookie
//   sd       "name=value": a SearchData member (searchType, sTypeCounter,
//            isAdvanced, isExternSearch, isPhraseSearch, srchTypeBoolOperation,
//            searchPat and the other patterns), in decimal or as text
//   order    "0" or "1": the formatter's sort order
//   qxsrch   "<searchType> <isKwd> <isTopic> <index>\n" then the daemon's
//            QXSRCH reply lines: one QXSRCH exchange whose entries get those
//            marks, appended to the hits as the search loop joins them
//   mllist   "<argument>\n" then the MLLIST reply lines for that argument
//            (an argument without record answers 511 Invalid ID)
//   end      "" (length 0): runs the case
// Per case one line: {"case":n, ...} with the result, the error text, the
// kept entries as their places in the joined reply, the counts, the sorted
// LIBIDS, the library table, the flags, language and options; a case that
// cannot be run prints {"case":n,"error":"..."}. Exit status 2 on a
// malformed record (after the lines of the cases before it).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <variant>
#include <vector>

#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "bmod/ruvaserv/cgi/kvo_text.h"
#include "bmod/ruvaserv/client/uzresponse.h"
#include "bmod/ruvaserv/client/uzsession.h"
#include "bmod/ruvaserv/search/result_prepare.h"
#include "bmod/ruvaserv/search/search_result_fmt.h"
#include "common/net_util.h"
#include "tests/support/json_line.h"

namespace ruva {
namespace {

using test::JsonObject;
using test::jsonText;

constexpr size_t kMaxLength = 1 << 24;
constexpr char kGreeting[] = "200 UZD ruvadaemon \"DOCSRV 1\" R19K \"Kivo Browser\"\n";

struct Record {
    std::string kind;
    std::string body;
};

// One case's records, in input order.
using Case = std::vector<Record>;

struct QxExchange {
    unsigned long searchType = 0;
    int isKwd = 2;
    int isTopic = 2;
    std::string index;
    std::string lines;
};

// What the server says in one case: QXSRCH replies in turn, MLLIST by
// argument. Answering by argument keeps the cases free of the order in
// which the preparation asks for its libraries.
struct ServerScript {
    std::vector<std::string> qxsrch;
    std::map<std::string, std::string> mllist;
};

bool sendAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string unquoted(std::string word) {
    if (word.size() >= 2 && word.front() == '"' && word.back() == '"') return word.substr(1, word.size() - 2);
    return word;
}

// Serves one connection of the session: the greeting, then one reply per
// command line until QUIT or the close.
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
        const std::string word = line.substr(0, line.find(' '));
        const std::string rest = line.size() > word.size() ? line.substr(word.size() + 1) : "";
        std::string reply;
        if (word == "VER") {
            reply = "200 Version: ruvadaemon \"DOCSRV 1\" R19K \"Kivo Browser\"\n";
        } else if (word == "QXSRCH") {
            reply = nextQx < script.qxsrch.size() ? script.qxsrch[nextQx++] : "200-QXSRCH executed.\n";
        } else if (word == "MLLIST") {
            const auto it = script.mllist.find(unquoted(rest));
            reply = it != script.mllist.end() ? it->second : "511 Invalid ID " + unquoted(rest) + "\n";
        } else if (word == "LIST") {
            reply = "300-Database     Size    Entries CTime \"Comment\"\n200-LIST executed.\n";
        } else if (word == "QUIT") {
            sendAll(fd, "200-See you later.\n");
            break;
        } else {
            reply = "500 Unknown command\n";
        }
        open = sendAll(fd, reply);
    }
    ::close(fd);
}

// A listener on 127.0.0.1 that serves each case's one connection.
class Server {
public:
    Server() {
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
    ~Server() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool ok() const { return fd_ >= 0; }
    unsigned port() const { return port_; }
    // Serves the next connection with script on a thread; join it after the
    // client has quit.
    std::thread accept(const ServerScript& script) {
        return std::thread([this, &script] {
            const int c = ::accept(fd_, nullptr, nullptr);
            if (c >= 0) serve(c, script);
        });
    }

private:
    int fd_ = -1;
    unsigned port_ = 0;
};

// Dotted addresses in messages, as the daemon is asked by address.
class NoNames : public Resolver {
public:
    bool addressOf(const std::string&, in_addr_t*) override { return false; }
    bool namesOf(in_addr_t, std::string*, std::vector<std::string>*) override { return false; }
};

std::pair<std::string, std::string> nameValue(const std::string& body) {
    const size_t eq = body.find('=');
    if (eq == std::string::npos) return {body, ""};
    return {body.substr(0, eq), body.substr(eq + 1)};
}

bool setSearchData(SearchData& sd, const std::string& name, const std::string& value) {
    const unsigned long long n = std::strtoull(value.c_str(), nullptr, 10);
    if (name == "searchType") sd.searchType = n;
    else if (name == "sTypeCounter") sd.sTypeCounter = static_cast<uint32_t>(n);
    else if (name == "isAdvanced") sd.isAdvanced = static_cast<uint32_t>(n);
    else if (name == "isExternSearch") sd.isExternSearch = static_cast<uint32_t>(n);
    else if (name == "isPhraseSearch") sd.isPhraseSearch = static_cast<uint32_t>(n);
    else if (name == "srchTypeBoolOperation") sd.srchTypeBoolOperation = n ? STYPE_AND : STYPE_OR;
    else if (name == "searchPat") sd.searchPat = value;
    else if (name == "searchPatTitle") sd.searchPatTitle = value;
    else if (name == "searchPatDocNo") sd.searchPatDocNo = value;
    else if (name == "searchPatBodyText") sd.searchPatBodyText = value;
    else if (name == "searchPatCtw") sd.searchPatCtw = value;
    else if (name == "searchPatTopicTitle") sd.searchPatTopicTitle = value;
    else if (name == "searchPatFolTitle") sd.searchPatFolTitle = value;
    else return false;
    return true;
}

// The hits of every exchange joined into the first reply, marked as the
// search loop marks them; places numbers each entry in join order.
std::unique_ptr<UzResponse> searchAll(CgiHandler& cg, const std::vector<QxExchange>& exchanges,
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
            auto& slot = std::get<std::unique_ptr<UzQxSearchEntry>>(r->res);
            tail->next = std::move(slot);
        }
        for (tail = joined->qxsrch(); tail->next; tail = tail->next.get()) {
        }
    }
    return joined;
}

std::string jsonTexts(const std::vector<std::string>& texts) {
    std::string out = "[";
    for (size_t i = 0; i < texts.size(); ++i) out += (i ? "," : "") + jsonText(texts[i]);
    return out + "]";
}

JsonObject report(size_t number, int result, SearchResultFmt& fmt, const PreparedResults& out,
                  const std::map<const UzQxSearchEntry*, size_t>& places) {
    std::string order = "[";
    for (size_t i = 0; i < out.hits.size(); ++i) {
        const auto it = places.find(out.hits[i]);
        order += (i ? "," : "") + std::to_string(it == places.end() ? -1 : static_cast<long long>(it->second));
    }
    order += "]";
    std::string table = "[";
    for (size_t i = 0; i < fmt.libraries.rows.size(); ++i) {
        const LibraryTable::Row& row = fmt.libraries.rows[i];
        table += (i ? ",[" : "[") + jsonText(row.id) + "," + (row.title ? jsonText(*row.title) : "null") + "]";
    }
    table += "]";
    std::string merged = "[";
    for (size_t i = 0; i < out.hits.size(); ++i) {
        const UzQxSearchEntry& e = *out.hits[i];
        const char* word = e.keywords && e.keywords->first ? StringList::getValue(e.keywords->first) : "";
        merged += (i ? ",[" : "[") + std::to_string(e.searchType) + "," + std::to_string(e.isKwd) + "," +
                  jsonText(word) + "]";
    }
    merged += "]";
    const auto first = out.firstCounted ? places.find(out.firstCounted) : places.end();
    JsonObject line;
    line.number("case", static_cast<long long>(number))
        .number("result", result)
        .text("error", fmt.getError())
        .raw("order", order)
        .raw("marks", merged)
        .number("firstCounted", first == places.end() ? -1 : static_cast<long long>(first->second))
        .number("docMatchCount", out.docMatchCount)
        .number("libSearchCount", out.libSearchCount)
        .number("libHitCount", out.libHitCount)
        .number("maxResultsCrossed", out.maxResultsCrossed)
        .number("isStb", out.isStb)
        .number("isSorted", out.isSorted)
        .number("fIgnoreSearchType", out.fIgnoreSearchType)
        .number("showFilterColumn", out.showFilterColumn)
        .raw("libIds", jsonTexts(out.libIds))
        .raw("libraries", table)
        .number("hasMlids", out.hasMlids)
        .text("langCode", out.langCode)
        .text("options", out.options);
    const Value* id = fmt.cg.valueList->findValue("ID");
    if (id) line.text("ID", id->value);
    line.number("mllistAsked", static_cast<long long>(fmt.lookups.size()));
    return line;
}

JsonObject failed(size_t number, const std::string& why) {
    JsonObject line;
    line.number("case", static_cast<long long>(number)).text("error", why);
    return line;
}

JsonObject runCase(size_t number, const Case& records, Server& server, char** envp) {
    ServerScript script;
    std::vector<QxExchange> exchanges;
    std::vector<std::pair<std::string, std::string>> fields, sdValues;
    std::string cookies;
    SearchResultSortOrder order = SRSO_DEFAULT;
    for (const Record& r : records) {
        if (r.kind == "field") {
            fields.push_back(nameValue(r.body));
        } else if (r.kind == "cookie") {
            cookies += (cookies.empty() ? "" : "; ") + r.body;
        } else if (r.kind == "sd") {
            sdValues.push_back(nameValue(r.body));
        } else if (r.kind == "order") {
            order = r.body == "1" ? SRSO_SRCHTYPE : SRSO_DEFAULT;
        } else if (r.kind == "qxsrch") {
            const size_t eol = r.body.find('\n');
            QxExchange x;
            char index[64] = "";
            if (eol == std::string::npos ||
                std::sscanf(r.body.substr(0, eol).c_str(), "%lu %d %d %63s", &x.searchType, &x.isKwd, &x.isTopic,
                            index) != 4)
                return failed(number, "qxsrch record without marks");
            x.index = index;
            x.lines = r.body.substr(eol + 1);
            script.qxsrch.push_back(x.lines);
            exchanges.push_back(std::move(x));
        } else if (r.kind == "mllist") {
            const size_t eol = r.body.find('\n');
            if (eol == std::string::npos) return failed(number, "mllist record without argument");
            script.mllist[r.body.substr(0, eol)] = r.body.substr(eol + 1);
        }
    }
    if (cookies.empty())
        unsetenv("HTTP_COOKIE");
    else
        setenv("HTTP_COOKIE", cookies.c_str(), 1);

    std::unique_ptr<SearchData> sd = newSearchData();
    if (!sd) std::abort();
    for (const auto& [name, value] : sdValues) {
        if (!setSearchData(*sd, name, value)) return failed(number, "unknown sd member " + name);
    }

    std::thread served = server.accept(script);
    std::map<const UzQxSearchEntry*, size_t> places;
    JsonObject line;
    {
        std::unique_ptr<CgiHandler> cg = newCgiHandler(kKivoservFlags, envp);
        if (!cg) std::abort();
        cg->docServAddr = "127.0.0.1:" + std::to_string(server.port());
        for (const auto& [name, value] : fields) cg->valueList->addValue(name.c_str(), value.c_str());
        if (cg->establishDefaultSession() != 1) {
            line = failed(number, "no session: " + cg->getError());
        } else {
            std::string error;
            std::unique_ptr<UzResponse> reply = searchAll(*cg, exchanges, places, error);
            std::unique_ptr<KivoHandler> kh = newKivoHandler(cg.get());
            std::unique_ptr<SearchResultFmt> fmt = defaultSearchResultFmt(*sd, *cg, order);
            if (!error.empty() || !kh || !fmt) {
                line = failed(number, error.empty() ? "no formatter" : error);
            } else {
                PreparedResults out;
                const int result = fmt->prepareResults(*kh, reply.get(), out);
                line = report(number, result, *fmt, out, places);
            }
            cg->sess->quit();
        }
    }
    served.join();
    return line;
}

bool knownKind(const std::string& kind) {
    static const char* const kinds[] = {"field", "cookie", "sd", "order", "qxsrch", "mllist", "end"};
    for (const char* k : kinds) {
        if (kind == k) return true;
    }
    return false;
}

int malformed(const char* what) {
    std::fprintf(stderr, "prep_dump: malformed %s\n", what);
    return 2;
}

int run(char** envp) {
    setMsgLanguage("Uen");
    setTextLanguage("Uen");
    unsetenv("RUVA_ADDR");
    setenv("REQUEST_METHOD", "GET", 0);
    NoNames noNames;
    setResolver(&noNames);
    Server server;
    if (!server.ok()) {
        std::fprintf(stderr, "prep_dump: no listener\n");
        return 1;
    }

    char kind[16];
    size_t length;
    int got;
    size_t number = 0;
    Case current;
    while ((got = std::scanf("%15s %zu", kind, &length)) == 2) {
        if (std::getchar() != '\n' || length > kMaxLength || !knownKind(kind)) return malformed("record");
        std::string body(length, '\0');
        if (std::fread(body.data(), 1, length, stdin) != length || std::getchar() != '\n') return malformed("record");
        if (std::string(kind) == "end") {
            std::string out = runCase(number++, current, server, envp).str();
            std::fwrite(out.data(), 1, out.size(), stdout);
            std::putchar('\n');
            std::fflush(stdout);
            current.clear();
            continue;
        }
        current.push_back({kind, std::move(body)});
    }
    if (got != EOF || !current.empty()) return malformed("record header");
    return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace
}  // namespace ruva

int main(int, char**, char** envp) { return ruva::run(envp); }

// Runs client operations for the end-to-end tests: reads one operation per
// line from standard input and answers each with one JSON line on standard
// output (flushed), so a test can act on the daemon between operations.
//
//   uzclient_probe [options] (--server HOST:PORT | --config FILE | --discover)
//
// An operation line is its name and arguments separated by tabs; in each
// field \t \n \r \0 \\ and \xHH stand for their bytes, and a field that is
// exactly \N is absent (an optional argument left out). Member data of
// retrMem and getFileData go to <payloads>/<n>.bin, n the operation's number.
//
// With --server the operations run on one session of a client; with
// --config on the request object's default session (after readConfigFile
// and createDefaultSession); with --discover on the first session
// newSessionsByBroadcast made (run "broadcast" first).
#include <arpa/inet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <chrono>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/client/uzclient.h"
#include "bmod/ruvaserv/client/uzsession.h"
#include "common/version.h"
#include "tests/support/json_line.h"

extern char** environ;

namespace ruva {
namespace {

using test::jsonText;
using test::JsonObject;

template <class T>
const T* nextRecord(const T& e) {
    if constexpr (requires { e.next; }) return e.next.get();
    return nullptr;  // the single-record types
}

template <class T, class Fill>
std::string records(const UzResponse& r, Fill fill) {
    std::string out = "[";
    for (const T* e = r.first<T>(); e != nullptr; e = nextRecord(*e)) {
        if (!e->filled()) continue;
        JsonObject o;
        fill(*e, o);
        out += (out.size() > 1 ? "," : "") + o.str();
    }
    return out + "]";
}

void fillMl(const UzMlListEntry& e, JsonObject& o) {
    o.number("type", e.type).number("level", e.level).maybe("database", e.database).text("ID", e.ID);
    o.number("size", static_cast<long long>(e.size)).number("entries", e.entries).number("ctime", e.ctime);
    o.text("comment", e.comment).text("LibState", e.LibState);
}

std::string listRecords(const UzResponse& r);

std::string searchRecords(const UzResponse& r) {
    switch (r.type) {
        case RT_QXSRCH:
            return records<UzQxSearchEntry>(r, [](const UzQxSearchEntry& e, JsonObject& o) {
                o.text("servname", e.servname).maybe("database", e.database).text("ID", e.ID);
                o.text("filename", e.filename).text("comment", e.comment).number("score", e.score);
                o.number("hit", e.hit).number("actualHits", e.actualHits).text("folTitle", e.folTitle);
            });
        case RT_QXSRCHSGS:
            return records<UzQxSearchSgsEntry>(r, [](const UzQxSearchSgsEntry& e, JsonObject& o) {
                o.maybe("database", e.database).text("suggestions", e.suggestions);
            });
        case RT_QXDT:
            return records<UzQxdtEntry>(r, [](const UzQxdtEntry& e, JsonObject& o) {
                o.number("entryType", e.entryType).text("title", e.eu.ne.title).text("fname", e.eu.de.fname);
                o.text("docComment", e.eu.de.comment);
            });
        case RT_SRCH:
            return records<UzSearchEntry>(r, [](const UzSearchEntry& e, JsonObject& o) {
                o.maybe("database", e.database).text("filename", e.filename);
                o.number("offset", static_cast<long long>(e.offset)).text("context", e.context);
            });
        case RT_PUSRCH:
            return records<UzPuSrchEntry>(r, [](const UzPuSrchEntry& e, JsonObject& o) {
                std::string fields = "[";
                for (const std::string& f : e.puLine) fields += (fields.size() > 1 ? "," : "") + jsonText(f);
                o.maybe("database", e.database).text("filename", e.filename).text("extension", e.extension);
                o.raw("puLine", fields + "]");
            });
        case RT_MSRCH:
            return records<UzMetaSearchEntry>(r, [](const UzMetaSearchEntry& e, JsonObject& o) {
                o.maybe("database", e.database).text("ID", e.ID).text("comment", e.comment);
                o.text("systemPath", e.systemPath).number("size", static_cast<long long>(e.size));
                o.text("LibState", e.LibState);
            });
        default:
            return listRecords(r);
    }
}

std::string listRecords(const UzResponse& r) {
    switch (r.type) {
        case RT_CONNECT:
            return records<UzConnectEntry>(r, [](const UzConnectEntry& e, JsonObject& o) {
                o.maybe("servName", e.servName).text("article", e.article).text("revision", e.revision);
                o.text("comment", e.comment);
            });
        case RT_HELP:
            return records<UzHelpEntry>(r, [](const UzHelpEntry& e, JsonObject& o) { o.maybe("message", e.message); });
        case RT_INFO:
            return records<UzInfoEntry>(r, [](const UzInfoEntry& e, JsonObject& o) {
                o.number("dbCount", static_cast<long long>(e.dbCount));
                o.number("fileCount", static_cast<long long>(e.fileCount));
                o.number("numSessions", static_cast<long long>(e.numSessions));
            });
        case RT_CONT:
            return records<UzContEntry>(r, [](const UzContEntry& e, JsonObject& o) {
                o.maybe("database", e.database).text("filename", e.filename);
                o.number("usize", static_cast<long long>(e.usize)).number("csize", static_cast<long long>(e.csize));
                o.number("crc", static_cast<long long>(e.crc)).number("method", e.method).text("comment", e.comment);
            });
        case RT_GET:
            return records<UzGetEntry>(r, [](const UzGetEntry& e, JsonObject& o) {
                o.maybe("database", e.database).text("outname", e.outname);
                o.number("size", static_cast<long long>(e.size)).number("success", e.success);
            });
        case RT_RETR:
            return records<UzRetrEntry>(r, [](const UzRetrEntry& e, JsonObject& o) {
                o.maybe("database", e.database).text("filename", e.filename).text("outname", e.outname);
                o.number("size", static_cast<long long>(e.size)).number("crc", static_cast<long long>(e.crc));
                o.number("success", e.success);
            });
        case RT_IDRETR:
            return records<UzIdRetrEntry>(r, [](const UzIdRetrEntry& e, JsonObject& o) {
                o.text("size", e.size).maybe("database", e.database).text("filename", e.filename);
                o.text("context", e.context);
            });
        case RT_LIST:
            return records<UzListEntry>(r, [](const UzListEntry& e, JsonObject& o) {
                o.maybe("database", e.database).text("comment", e.comment);
                o.number("size", static_cast<long long>(e.size)).number("entries", e.entries);
            });
        case RT_MLLIST:
        case RT_MLSLIST:
            return records<UzMlListEntry>(r, fillMl);
        case RT_SLIST:
            return records<UzSListEntry>(r, [](const UzSListEntry& e, JsonObject& o) {
                o.maybe("address", e.address).text("comment", e.comment);
            });
        case RT_KNOWN:
            return records<UzKnownListEntry>(r, [](const UzKnownListEntry& e, JsonObject& o) {
                o.maybe("address", e.address).text("comment", e.comment).number("flags", e.flags);
            });
        case RT_USER:
            return records<UzUserEntry>(r, [](const UzUserEntry& e, JsonObject& o) { o.maybe("username", e.username); });
        default:
            return "[]";
    }
}

// ---- input

using Field = std::optional<std::string>;

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

Field unescape(std::string_view s) {
    if (s == "\\N") return std::nullopt;
    std::string out;
    for (size_t i = 0; i < s.size(); i++) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        char c = s[++i];
        if (c == 'x' && i + 2 < s.size() + 0 && hexValue(s[i + 1]) >= 0 && hexValue(s[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(s[i + 1]) * 16 + hexValue(s[i + 2]));
            i += 2;
        } else {
            out += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c == '0' ? '\0' : c;
        }
    }
    return out;
}

std::vector<Field> splitFields(const std::string& line) {
    std::vector<Field> fields;
    size_t start = 0;
    for (;;) {
        size_t tab = line.find('\t', start);
        fields.push_back(unescape(std::string_view(line).substr(start, tab - start)));
        if (tab == std::string::npos) return fields;
        start = tab + 1;
    }
}

// ---- the run

struct Options {
    std::string server;
    std::string config;
    bool discover = false;
    std::string payloads = ".";
    std::vector<std::string> cgiFields;
};

class Probe {
public:
    Probe(UzClient* client, UzSession* session, CgiHandler* request, std::string payloads)
        : uzc_(client), sess_(session), cg_(request), payloads_(std::move(payloads)) {}

    // One operation: its JSON line.
    std::string run(const std::vector<Field>& f) {
        count_++;
        JsonObject o;
        o.text("op", f[0].value_or(""));
        std::unique_ptr<UzResponse> r;
        if (!dispatch(f, o, r)) return o.text("unknown", f[0].value_or("")).str();
        if (r) {
            o.raw("null", "false").number("code", r->resultCode).text("message", r->resultMessage);
            o.number("srchtimedout", r->srchtimedout).number("folder", r->folder).number("type", r->type);
            o.raw("records", searchRecords(*r));
        } else if (o.str().find("\"null\":") == std::string::npos) {
            o.raw("null", "true");
        }
        if (sess_) {
            o.text("error", sess_->getError()).number("flags", sess_->flags);
            o.raw("connected", sess_->sockfd >= 0 ? "true" : "false");
        }
        if (uzc_) o.text("clientError", uzc_->getError()).number("isLibFiltered", uzc_->isLibFiltered);
        if (cg_) o.text("requestError", cg_->getError());
        return o.str();
    }

private:
    static std::string_view arg(const std::vector<Field>& f, size_t i) {
        return i < f.size() && f[i] ? std::string_view(*f[i]) : std::string_view();
    }
    static std::optional<std::string_view> opt(const std::vector<Field>& f, size_t i) {
        if (i >= f.size() || !f[i]) return std::nullopt;
        return std::string_view(*f[i]);
    }
    static int num(const std::vector<Field>& f, size_t i) { return std::atoi(std::string(arg(f, i)).c_str()); }
    static std::vector<std::string_view> rest(const std::vector<Field>& f, size_t from) {
        std::vector<std::string_view> out;
        for (size_t i = from; i < f.size(); i++) out.push_back(arg(f, i));
        return out;
    }

    void payload(JsonObject& o, const std::string& data) {
        std::string path = payloads_ + "/" + std::to_string(count_) + ".bin";
        FILE* file = std::fopen(path.c_str(), "wb");
        if (file == nullptr || std::fwrite(data.data(), 1, data.size(), file) != data.size()) {
            std::fprintf(stderr, "uzclient_probe: cannot write %s\n", path.c_str());
            std::exit(2);
        }
        std::fclose(file);
        o.text("data", path).number("size", static_cast<long long>(data.size()));
        o.number("memDataBufLen", static_cast<long long>(sess_->memDataBufLen));
    }

    bool dispatch(const std::vector<Field>& f, JsonObject& o, std::unique_ptr<UzResponse>& r);
    bool dispatchSession(const std::vector<Field>& f, JsonObject& o, std::unique_ptr<UzResponse>& r);
    bool dispatchRequest(const std::vector<Field>& f, JsonObject& o);

    UzClient* uzc_;
    UzSession* sess_;
    CgiHandler* cg_;
    std::string payloads_;
    int count_ = 0;
};

bool Probe::dispatch(const std::vector<Field>& f, JsonObject& o, std::unique_ptr<UzResponse>& r) {
    const std::string op = f[0].value_or("");
    if (op == "broadcast") {
        o.number("result", uzc_->newSessionsByBroadcast()).number("sessions", uzc_->getNumSessions());
        if (!sess_) sess_ = uzc_->getFirstSession();
        if (sess_) o.text("server", sess_->getServerAddr());
        return true;
    }
    if (op == "findKnownServers") {
        r = uzc_->findKnownServers();
        return true;
    }
    if (cg_ && dispatchRequest(f, o)) {
        sess_ = cg_->sess;
        return true;
    }
    if (!sess_) return false;
    return dispatchSession(f, o, r);
}

bool Probe::dispatchRequest(const std::vector<Field>& f, JsonObject& o) {
    const std::string op = f[0].value_or("");
    if (op == "establishDefaultSession") {
        o.number("result", cg_->establishDefaultSession()).text("servId", cg_->servId);
    } else if (op == "getHashIDfromLI") {
        std::string hashID, title;
        o.number("result", cg_->getHashIDfromLI(arg(f, 1), &hashID, &title));
        o.text("hashID", hashID).text("libTitle", title);
    } else if (op == "getIDbyDbName" || op == "getLIbyHiddenID") {
        auto handler = newKivoHandler(cg_);
        if (Value* old = cg_->valueList->findValue("DB")) cg_->valueList->removeValue(old);
        if (opt(f, 1)) cg_->valueList->addValue("DB", std::string(arg(f, 1)).c_str());
        int result = op == "getIDbyDbName" ? handler->getIDbyDbName() : handler->getLIbyHiddenID();
        const Value* id = cg_->valueList->findValue("ID");
        const Value* li = cg_->valueList->findValue("LI_Hidden");
        o.number("result", result).text("handlerError", handler->getError());
        o.maybe("ID", id ? Field(id->value) : std::nullopt).maybe("LI_Hidden", li ? Field(li->value) : std::nullopt);
    } else {
        return false;
    }
    return true;
}

bool Probe::dispatchSession(const std::vector<Field>& f, JsonObject& o, std::unique_ptr<UzResponse>& r) {
    const std::string op = f[0].value_or("");
    UzSession& s = *sess_;
    if (op == "connect") r = s.connect();
    else if (op == "disconnect") s.disconnect();
    else if (op == "ver") r = s.ver();
    else if (op == "help") r = s.help(opt(f, 1));
    else if (op == "info") r = s.info();
    else if (op == "list") r = s.list(arg(f, 1));
    else if (op == "mllist") r = s.mllist(arg(f, 1));
    else if (op == "mlnlist") r = s.mlnlist(arg(f, 1), arg(f, 2));
    else if (op == "mlslist") r = s.mlslist(arg(f, 1), arg(f, 2));
    else if (op == "slist") r = s.slist();
    else if (op == "cont") r = s.cont(arg(f, 1), opt(f, 2));
    else if (op == "contv") r = s.contv(arg(f, 1), opt(f, 2));
    else if (op == "langList") r = s.langList();
    else if (op == "blobTypes") r = s.blobTypes();
    else if (op == "quit") r = s.quit();
    else if (op == "get") r = s.get(arg(f, 1), arg(f, 2));
    else if (op == "retr") r = s.retr(arg(f, 1), arg(f, 2), arg(f, 3));
    else if (op == "retrMem") {
        std::string data;
        r = s.retrMem(arg(f, 1), arg(f, 2), data);
        payload(o, data);
    } else if (op == "getFileData") {
        std::optional<std::string> data = s.getFileData(arg(f, 1), arg(f, 2));
        o.raw("null", data ? "false" : "true");
        if (data) payload(o, *data);
    } else if (op == "idretr") r = s.idretr(arg(f, 1), arg(f, 2), arg(f, 3), arg(f, 4));
    else if (op == "qxsrch") r = s.qxsrch(arg(f, 1), arg(f, 2), arg(f, 3), num(f, 4), opt(f, 5), num(f, 6));
    else if (op == "qxsrchsgs") r = s.qxsrchsgs(arg(f, 1), arg(f, 2), arg(f, 3), num(f, 4));
    else if (op == "qxdt") r = s.qxdt(arg(f, 1), arg(f, 2), arg(f, 3));
    else if (op == "srch") r = s.srch(arg(f, 1), arg(f, 2), arg(f, 3), num(f, 4), arg(f, 5));
    else if (op == "pusrch") r = s.pusrch(arg(f, 1), arg(f, 2), rest(f, 3));
    else if (op == "msrch") r = s.msrch(arg(f, 1), opt(f, 2));
    else if (op == "mpsrch") r = s.mpsrch(arg(f, 1), arg(f, 2), arg(f, 3), arg(f, 4), arg(f, 5), opt(f, 6));
    else if (op == "User") r = s.User(num(f, 1));
    else if (op == "UserP") r = s.UserP(num(f, 1), arg(f, 2), num(f, 3));
    else if (op == "rmfile") r = s.rmfile(arg(f, 1), arg(f, 2));
    else if (op == "updatafile") r = s.updatafile(arg(f, 1), arg(f, 2), rest(f, 3));
    else return false;
    return true;
}

// ---- options

UzWaits parseWait(UzWaits waits, const std::string& spec) {
    static const std::map<std::string, std::chrono::seconds UzWaits::*> kNames = {
        {"connect", &UzWaits::connect}, {"get", &UzWaits::get}, {"retr", &UzWaits::retr},
        {"retrMainPage", &UzWaits::retrMainPage}, {"settle", &UzWaits::settle}, {"qxsrch", &UzWaits::qxsrch},
        {"srch", &UzWaits::srch}, {"pusrch", &UzWaits::pusrch}, {"idretr", &UzWaits::idretr},
        {"update", &UzWaits::update}, {"afterUpdate", &UzWaits::afterUpdate},
        {"quitOnDelete", &UzWaits::quitOnDelete}, {"rawData", &UzWaits::rawData}};
    size_t eq = spec.find('=');
    auto it = kNames.find(spec.substr(0, eq));
    if (eq == std::string::npos || it == kNames.end()) {
        std::fprintf(stderr, "uzclient_probe: unknown wait %s\n", spec.c_str());
        std::exit(2);
    }
    waits.*(it->second) = std::chrono::seconds(std::atol(spec.c_str() + eq + 1));
    return waits;
}

std::vector<BroadcastInterface> gInterfaces;
std::vector<BroadcastInterface> givenInterfaces() { return gInterfaces; }

// "address/broadcast,..."
void parseInterfaces(const std::string& spec) {
    size_t start = 0;
    while (start < spec.size()) {
        size_t comma = spec.find(',', start);
        std::string item = spec.substr(start, comma - start);
        size_t slash = item.find('/');
        BroadcastInterface i;
        i.address = inet_addr(item.substr(0, slash).c_str());
        i.broadcast = slash == std::string::npos ? i.address : inet_addr(item.substr(slash + 1).c_str());
        gInterfaces.push_back(i);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    setInterfaceLister(givenInterfaces);
}

int usage() {
    std::fprintf(stderr,
                 "usage: uzclient_probe [--command-timeout S] [--wait NAME=S]... [--telnet-proxy A:P]\n"
                 "  [--telnet-proxy-cmd TEXT] [--well-known-port P] [--broadcast-timeout S]\n"
                 "  [--interfaces ADDR/BCAST,...] [--central-server A:P] [--client-flags N]\n"
                 "  [--payloads DIR] [--field NAME=VALUE]...\n"
                 "  (--server HOST:PORT | --config FILE | --discover) < operations\n");
    return 2;
}

void applyClientSetting(UzClient& c, const std::string& name, const std::string& value) {
    if (name == "--command-timeout") c.setCommandTimeout(std::atol(value.c_str()));
    else if (name == "--telnet-proxy") c.setTelnetProxy(value.c_str());
    else if (name == "--telnet-proxy-cmd") c.setTelnetProxyCmd(unescape(value).value_or("").c_str());
    else if (name == "--well-known-port") c.setWellKnownPort(static_cast<unsigned>(std::atoi(value.c_str())));
    else if (name == "--broadcast-timeout") c.setBroadcastTimeout(std::atol(value.c_str()));
    else if (name == "--central-server") c.setCentralServer(value.c_str());
}

int runLoop(Probe& probe) {
    std::string line;
    while (std::getline(std::cin, line)) {
        if (line.empty()) continue;
        std::cout << probe.run(splitFields(line)) << std::endl;
    }
    return 0;
}

int probeMain(int argc, char** argv) {
    Options opt;
    std::vector<std::pair<std::string, std::string>> settings;
    uint16_t clientFlags = 0;
    UzWaits waits = uzWaits();
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        if (a == "--discover") {
            opt.discover = true;
            continue;
        }
        if (i + 1 >= argc) return usage();
        std::string v = argv[++i];
        if (a == "--server") opt.server = v;
        else if (a == "--config") opt.config = v;
        else if (a == "--payloads") opt.payloads = v;
        else if (a == "--field") opt.cgiFields.push_back(v);
        else if (a == "--wait") waits = parseWait(waits, v);
        else if (a == "--interfaces") parseInterfaces(v);
        else if (a == "--client-flags") clientFlags = static_cast<uint16_t>(std::atoi(v.c_str()));
        else if (a.starts_with("--")) settings.emplace_back(a, v);
        else return usage();
    }
    setUzWaits(waits);
    if (!opt.config.empty()) {
        auto cg = newCgiHandler(kKivoservFlags, environ);
        if (!cg || !cg->readConfigFile(opt.config.c_str())) return 1;
        for (const auto& [name, value] : settings) applyClientSetting(*cg->uzc, name, value);
        for (const std::string& field : opt.cgiFields) {
            size_t eq = field.find('=');
            cg->valueList->addValue(field.substr(0, eq).c_str(), field.substr(eq + 1).c_str());
        }
        if (!cg->createDefaultSession()) std::fprintf(stderr, "uzclient_probe: %s\n", cg->getError().c_str());
        Probe probe(cg->uzc.get(), cg->sess, cg.get(), opt.payloads);
        return runLoop(probe);
    }
    auto uzc = newUzClient("uzclient_probe", "DOCSRV 1", kSystemRevision, clientFlags);
    if (!uzc) return 1;
    for (const auto& [name, value] : settings) applyClientSetting(*uzc, name, value);
    UzSession* session = nullptr;
    if (!opt.server.empty()) {
        session = uzc->newSession(opt.server.c_str(), 0, 0);
        if (!session) {
            std::fprintf(stderr, "uzclient_probe: %s\n", uzc->getError().c_str());
            return 1;
        }
    } else if (!opt.discover) {
        return usage();
    }
    Probe probe(uzc.get(), session, nullptr, opt.payloads);
    return runLoop(probe);
}

}  // namespace
}  // namespace ruva

int main(int argc, char** argv) { return ruva::probeMain(argc, argv); }

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
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "bmod/ruvaserv/cgi/kvo_text.h"
#include "bmod/ruvaserv/client/uzresponse.h"
#include "bmod/ruvaserv/search/result_prepare.h"
#include "bmod/ruvaserv/search/search_result_fmt.h"
#include "common/net_util.h"
#include "tests/bmod/ruvaserv/cgi/session_replies.h"
#include "tests/bmod/ruvaserv/search/answering_server.h"
#include "tests/support/json_line.h"

namespace ruva {
namespace {

using test::JsonObject;
using test::jsonText;
using test::AnsweringServer;
using test::QxExchange;
using test::ServerScript;

constexpr size_t kMaxLength = 1 << 24;

struct Record {
    std::string kind;
    std::string body;
};

// One case's records, in input order.
using Case = std::vector<Record>;

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

JsonObject runCase(size_t number, const Case& records, AnsweringServer& server, char** envp) {
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
            std::unique_ptr<UzResponse> reply = test::joinExchanges(*cg, exchanges, places, error);
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
    test::NoNames noNames;
    setResolver(&noNames);
    AnsweringServer server;
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

// The template-marker callback: the marker's name picks the operation that
// writes at its place.
#include <string>
#include <string_view>

#include "bmod/ruvaserv/actions/kivohandler.h"
#include "common/text.h"
#include "common/text_view.h"

namespace ruva {

namespace {

// The marker's two arguments: a server ("default" when the word is empty)
// and a library pattern.
struct MarkerArguments {
    std::string server;
    std::string pattern;
};

bool endsWord(unsigned char c) { return isAsciiSpace(c) || c == '-'; }

void skipSpace(std::string_view text, size_t& at) {
    while (at < text.size() && isAsciiSpace(byteAt(text, at))) ++at;
}

std::string readWord(std::string_view text, size_t& at) {
    const size_t start = at;
    while (at < text.size() && !endsWord(byteAt(text, at))) ++at;
    return std::string(text.substr(start, at - start));
}

// Reads after the name: white space, the first word, white space, the
// second word. A word ends at white space, '-' or the text's end.
MarkerArguments readArguments(std::string_view rest) {
    size_t at = 0;
    MarkerArguments args;
    skipSpace(rest, at);
    args.server = readWord(rest, at);
    if (args.server.empty()) args.server = "default";
    skipSpace(rest, at);
    args.pattern = readWord(rest, at);
    return args;
}

struct MarkerRow {
    const char* name;
    int (*run)(KivoHandler& kh, std::string_view rest);
};

// Tried in this order, each over its own length only: "cmplistdb" before
// "listdb", and "listdbx" is listdb with "x" as its server word.
constexpr MarkerRow kMarkers[] = {
    {"cmplistdb",
     [](KivoHandler& kh, std::string_view rest) {
         const MarkerArguments a = readArguments(rest);
         return kh.outputListDb(a.server, a.pattern, 1);
     }},
    {"listdb",
     [](KivoHandler& kh, std::string_view rest) {
         const MarkerArguments a = readArguments(rest);
         return kh.outputListDb(a.server, a.pattern, 0);
     }},
    {"listserv", [](KivoHandler& kh, std::string_view) { return kh.outputListServ(); }},
    {"servname", [](KivoHandler& kh, std::string_view) { return kh.outputServName(); }},
    {"proginfo", [](KivoHandler& kh, std::string_view) { return kh.outputProgInfo(); }},
    {"kivomain", [](KivoHandler& kh, std::string_view) { return kh.outputKivoDoc(); }},
    {"dbname", [](KivoHandler& kh, std::string_view) { return kh.outputDbName(); }},
    {"rootid", [](KivoHandler& kh, std::string_view) { return kh.outputRootID(); }},
    {"uzaddr", [](KivoHandler& kh, std::string_view) { return kh.outputUzAddr(); }},
    {"compare",
     [](KivoHandler& kh, std::string_view rest) {
         const MarkerArguments a = readArguments(rest);
         return kh.outputCompare(a.server, a.pattern);
     }},
};

}  // namespace

int KivoHandler::specCallback(void* clientData, std::string_view marker) {
    for (const MarkerRow& row : kMarkers) {
        const std::string_view name(row.name);
        if (!startsCaseBlindAt(marker, 0, name)) continue;
        // The operation's own result does not matter: a known marker is
        // never copied into the page.
        if (clientData) row.run(*static_cast<KivoHandler*>(clientData), marker.substr(name.size()));
        return 1;
    }
    return 0;
}

}  // namespace ruva

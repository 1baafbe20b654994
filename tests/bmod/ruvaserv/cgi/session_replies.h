// What a scripted document server says to the request's session: the
// daemon's greeting, VER, MLLIST lines, and a resolver that names no
// address, so that messages show dotted addresses.
#pragma once

#include <string>
#include <vector>

#include "common/net_util.h"

namespace ruva::test {

inline constexpr char kGreeting[] = "200 UZD ruvadaemon \"DOCSRV 1\" R19K \"Kivo Browser\"\n";
inline constexpr char kMlHeader[] = "300-Type Level Name         ID  Size\t\tEntries CTime    \"Comment\"\n";
inline constexpr char kMlEnd[] = "200-MLLIST executed.\n";

inline std::string verLine(const std::string& revision = "R19K",
                           const std::string& comment = "Kivo Browser") {
    return "200 Version: ruvadaemon \"DOCSRV 1\" " + revision + " \"" + comment + "\"\n";
}

// A level-0 library line; name as the daemon pads it.
inline std::string dbLine(const std::string& name, unsigned hash, const std::string& comment) {
    return "300   DB     0 \"" + name + "\"  \"00|" + std::to_string(hash) + "|" + name +
           "|\" \t      984     3 " + "1796961933 \"" + comment + "\" FALSE\n";
}

inline constexpr char kFolderLine[] =
    "300  SUB     0            - S|12|-|\t\t\t-     - 1796961933 \"Manuals\"\n";

class NoNames : public Resolver {
public:
    bool addressOf(const std::string&, in_addr_t*) override { return false; }
    bool namesOf(in_addr_t, std::string*, std::vector<std::string>*) override { return false; }
};

}  // namespace ruva::test

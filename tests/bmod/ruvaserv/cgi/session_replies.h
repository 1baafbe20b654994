// What a scripted document server says to the request's session: the
// daemon's greeting, VER, MLLIST, LIST, CONTV and RETR replies as the
// daemon writes them, and a resolver that names no address, so that
// messages show dotted addresses.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>
#include <vector>

#include "common/net_util.h"
#include "common/string_format.h"

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

inline constexpr time_t kLibTime = 1796961933;  // dbLine's and listLine's time

inline std::string mlReply(const std::string& lines) { return kMlHeader + lines + kMlEnd; }
inline std::string folderLine(unsigned node) {
    return format("300  SUB     1            - S|%u|-|\t\t\t-     - %10lu \"Folder\"\n", node,
                  static_cast<unsigned long>(kLibTime));
}

inline std::string listLine(const std::string& name, time_t ctime = kLibTime) {
    return format("300 \"%13s\" %8lu %5u %10lu \"Guide [EN/DOCLIB1 R1A]\"\n", name.c_str(), 1234ul, 3u,
                  static_cast<unsigned long>(ctime));
}
inline std::string listReply(const std::string& lines) {
    return "300-Database     Size    Entries CTime \"Comment\"\n" + lines + "200-LIST executed.\n";
}

struct Member {
    size_t size;
    std::string name;
};
// database: the header's last word, the file name or a node's hash id.
inline std::string contvReply(const std::string& database, const std::vector<Member>& members) {
    std::string reply = "300-  Length       Method     Size Ratio CRC-32 " + database + "\n";
    for (const Member& m : members) {
        reply += format("300 %8lu %12s %8lu %2d%% %08x %s\n", static_cast<unsigned long>(m.size), "Deflated",
                        static_cast<unsigned long>(m.size / 2), 50, 0x1234abcdu, m.name.c_str());
    }
    return reply + "200-CONTV executed.\n";
}
// framed: the name the frame line gives instead of member (the wait page).
inline std::string retrReply(const std::string& member, const std::string& bytes, int folder = 0,
                             const std::string& framed = "") {
    return format("300-Length %zu \"guide.kvo\" \"%s\" \"%d\"\n", bytes.size(),
                  (framed.empty() ? member : framed).c_str(), folder) +
           bytes + "300-CRC 0x1234abcd\n200-RETR executed.\n";
}

// What a peer received up to the client's closing QUIT.
inline std::string beforeQuit(std::string received) {
    if (received.ends_with("QUIT\n")) received.resize(received.size() - 5);
    return received;
}

class NoNames : public Resolver {
public:
    bool addressOf(const std::string&, in_addr_t*) override { return false; }
    bool namesOf(in_addr_t, std::string*, std::vector<std::string>*) override { return false; }
};

}  // namespace ruva::test

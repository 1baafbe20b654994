// Discovery datagrams: one line of blank-separated fields,
//   peer-id address:port [program ["article" [revision ["comment"]]]]
// where the peer id is "UZC" (a client's call), "UZD" (a daemon's
// announcement, answered), "UZd" (a daemon's answer, not answered) or "UZR"
// (a daemon leaving). The fields after the port are tokens (quotes kept
// together) and may end after any of them.
#pragma once

#include <netinet/in.h>

#include <memory>
#include <optional>
#include <string>

namespace ruva {

struct PeerInfo {
    in_addr_t addr = 0;  // network byte order
    unsigned port = 0;   // 1-65535
    std::optional<std::string> comment;
    std::string peerId;
    std::string progName;
    std::string article;
    std::string revision;
};

// Reads one datagram's text. Null, after the level-5 reason ("Missing
// peer-ID in broadcast message <%s>", "No inet addr ...", "Missing port
// number ...", "Invalid port number ...") and the level-4 line that
// rejects the address/port field, when the peer id, a dotted IPv4 address or
// a port of 1-65535 is missing.
std::unique_ptr<PeerInfo> getPeerInfo(const char* text);

}  // namespace ruva

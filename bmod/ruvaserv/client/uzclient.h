// The front end's handle on the document servers: it owns the sessions,
// makes one per server address, finds servers by UDP broadcast, a central
// server and the servers' own SLIST, and carries the settings every new
// session copies (port, reply wait, telnet proxy). One client per request.
//
// Units: uzclient.cpp (settings, the session list), server_discovery.cpp
// (broadcast, the known-server walk, the interface list).
//
// Telnet proxy contract: on connect the proxy writes one line; after the
// command (TelnetProxyCmd, its first two "%s" the server's address and port)
// it connects to that server and relays transparently, with no IAC
// doubling or CR insertion (RETR data are binary), passing the greeting
// through.
#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bmod/ruvaserv/cgi/checked_format.h"
#include "bmod/ruvaserv/client/uzresponse.h"
#include "bmod/ruvaserv/client/uzsession.h"

struct ifaddrs;

namespace ruva {

// Bits of UzClient::flags.
inline constexpr uint16_t kUzClientSessionFlag = 0x1;  // passed on to every session
inline constexpr uint16_t kUzClientMultiSession = 0x2;  // several sessions to one address and port

inline constexpr unsigned kDefaultServerPort = 9229;
inline constexpr time_t kDefaultBroadcastTimeout = 4;
// Discovery binds wellKnownPort + this and names it in its datagrams.
inline constexpr unsigned kDiscoveryPortOffset = 10;
// Address texts (central server, telnet proxy) hold at most this many
// characters.
inline constexpr size_t kClientAddressMax = 63;
// The telnet proxy port when its address names none.
inline constexpr unsigned kDefaultTelnetPort = 23;
// Interfaces discovery sends to, in the system's order.
inline constexpr size_t kBroadcastInterfacesMax = 16;
// Servers findKnownServers lists and visits.
inline constexpr size_t kKnownServersMax = 64;

// One interface discovery sends on; network byte order.
struct BroadcastInterface {
    in_addr_t address = 0;
    in_addr_t broadcast = 0;
};

// The interfaces of list that are up, broadcast-capable and IPv4, at most
// kBroadcastInterfacesMax, in list's order.
std::vector<BroadcastInterface> broadcastInterfaces(const struct ifaddrs* list);
// broadcastInterfaces over getifaddrs; empty when it fails.
std::vector<BroadcastInterface> listBroadcastInterfaces();

// The interface list discovery uses; tests give a fixed one. Null restores
// listBroadcastInterfaces. Returns the function it replaces.
using InterfaceLister = std::vector<BroadcastInterface> (*)();
InterfaceLister setInterfaceLister(InterfaceLister lister);

// What one server told the known-server walk: whether it greeted with
// 200 (and the greeting's comment), and the servers its SLIST named when
// SLIST answered 200, as (address, comment) in the reply's order.
struct KnownServerVisit {
    bool greeted = false;
    std::string greetingComment;
    bool listed = false;
    std::vector<std::pair<std::string, std::string>> servers;
};
using KnownServerVisitor = std::function<KnownServerVisit(const std::string& address)>;

// The walk of findKnownServers over known (RT_KNOWN): visits each record
// without kKnownSlistRead once, in order, records appended on the way
// included; a visit that greets gives a record without a comment the
// greeting's, one that lists sets kKnownSlistRead and appends every named
// server not yet known (flags 0), the list kept to kKnownServersMax
// records. 1, or 0 when memory ran out (500 "Out of memory" in known).
int walkKnownServers(UzResponse& known, const KnownServerVisitor& visit);

// getError, setError and errmsg come from ErrorText.
class UzClient : public ErrorText {
public:
    // del: clear.
    ~UzClient();
    UzClient(const UzClient&) = delete;
    UzClient& operator=(const UzClient&) = delete;

    // Deletes every session (each sends QUIT when connected), empties the
    // list and the error text.
    void clear();

    // ---- discovery (server_discovery.cpp)

    // Broadcasts UZC on every interface and makes a session per answer
    // (and for the central server first). The number of sessions, or -1
    // (369-372). The UDP socket is closed on every path.
    int newSessionsByBroadcast();
    // Discovery, then SLIST of every server found and of every server those
    // name, each visited once, at most kKnownServersMax. RT_KNOWN, or null.
    // Deletes only the sessions it created; a visit goes over a session of
    // its own, so the caller's sessions keep their connections.
    std::unique_ptr<UzResponse> findKnownServers();
    // Reads a broadcast answer "UZD address:port ..." into *iaddr, *port.
    // 1, or 0 with 378 or 379.
    int getAddrPort(std::string_view text, in_addr_t* iaddr, unsigned* port);

    // ---- sessions and settings (uzclient.cpp)

    // The session for host (an address, "address:port" or a name) or iaddr
    // at port (wellKnownPort when 0). Without kUzClientMultiSession an
    // existing session to the same address and port is given instead of a
    // new one; *created (when given) tells which. Not connected. Null with
    // 376 or 377. The client owns it.
    UzSession* newSession(const char* host, in_addr_t iaddr, unsigned port, bool* created = nullptr);
    // A new, unlinked, disconnected session with the client's settings, or
    // null (376, 377).
    std::unique_ptr<UzSession> allocSession(const char* host, in_addr_t iaddr, unsigned port);
    // Unlinks the session when it is in the list and deletes it in any
    // case; null is ignored.
    void deleteSession(UzSession* session);
    // 0 means kDefaultServerPort.
    void setWellKnownPort(unsigned port);
    // 0 means kDefaultBroadcastTimeout.
    void setBroadcastTimeout(time_t seconds);
    // 0 means kDefaultCommandTimeout.
    void setCommandTimeout(time_t seconds);
    // Null empties it. Longer than kClientAddressMax after "~" expansion:
    // 374, 0. Else 1.
    int setCentralServer(const char* address);
    // Null empties it. Longer than kClientAddressMax: 375, 0. Else 1.
    int setTelnetProxy(const char* address);
    // Replaces the stored copy; null removes it.
    void setTelnetProxyCmd(const char* text);
    int getNumSessions() const { return nSessions; }
    UzSession* getFirstSession() const { return firstUzSession; }

    static std::unique_ptr<UzResponse> allocResponse(ResponseType type) { return ruva::allocResponse(type); }
    static void freeResponse(std::unique_ptr<UzResponse> response) { ruva::freeResponse(std::move(response)); }

    // ---- data

    uint16_t flags = 0;  // kUzClient...
    unsigned wellKnownPort = kDefaultServerPort;
    time_t broadcastTimeout = kDefaultBroadcastTimeout;  // the first wait for answers; later ones half
    time_t commandTimeout = kDefaultCommandTimeout;  // copied into each new session
    int nSessions = 0;
    UzSession* firstUzSession = nullptr;  // owned, linked by next/prev
    std::string prog;  // "unknown" when given empty or null
    std::string art;
    std::string rev;
    std::string centralServer;  // "host:port", "" for none
    std::string telnetProxy;    // "host:port", "" for none
    std::string telnetProxyCmd;  // "" for none
    // 1 once qxsrch sent a bitmap that filters; read by the search front
    // end, 0 when the client is made.
    int isLibFiltered = 0;

private:
    friend std::unique_ptr<UzClient> newUzClient(const char* prog, const char* art, const char* rev,
                                                 uint16_t flags);
    UzClient() = default;
};

// The client with the defaults above and no session; null when memory runs
// out.
std::unique_ptr<UzClient> newUzClient(const char* prog, const char* art, const char* rev, uint16_t flags);

}  // namespace ruva

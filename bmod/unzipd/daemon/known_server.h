// The other daemons this daemon heard of, kept across restarts in a cache
// file:
//   three comment lines, then per server
//   "<address word> <port> <lastUpdate> <comment>\n"
// where the address word is the four address bytes in network order read as
// one native 32-bit number (10.0.0.1 is 16777226 on a little-endian host)
// and the comment passes through quoteString (absent: the field is empty).
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <ctime>
#include <list>
#include <memory>
#include <optional>
#include <string>

namespace ruva {

inline constexpr time_t kKnownServerExpireAge = 604800;  // 7 days
inline constexpr size_t kKnownServerMax = 1024;
inline constexpr size_t kKnownServerCommentMax = 255;
// Longest cache line read, line feed not counted; longer lines are skipped.
inline constexpr size_t kKnownServerLineMax = 1023;

// KnownServer::flags: reading the cache file (add keeps times at 0).
inline constexpr uint16_t kKnownServerReading = 0x01;

struct KnownServEntry {
    in_addr_t iaddr = 0;  // network byte order
    int port = 0;
    std::optional<std::string> comment;
    time_t lastUpdate = 0;
};

class KnownServer {
public:
    ~KnownServer() = default;  // del
    KnownServer(const KnownServer&) = delete;
    KnownServer& operator=(const KnownServer&) = delete;

    void clear() { entries.clear(); }
    // The daemon itself, never added.
    void setLocalAddr(in_addr_t addr, int port) {
        localAddr = addr;
        localPort = port;
    }
    // The entry of addr:port: an existing one gets lastUpdate now (not while
    // reading); a new one is appended with time now (0 while reading) and
    // *added (when not null) set to 1. The comment (null: none) is kept with
    // control characters as blanks, cut to 255 characters. Null for the
    // daemon itself and beyond kKnownServerMax entries. The pointer stays
    // valid until the entry is removed.
    KnownServEntry* add(in_addr_t addr, int port, const char* comment, int* added);
    // 1 when the entry was there and is gone.
    int remove(in_addr_t addr, int port);
    // Adds the servers of the cache file, each with its line's time; lines
    // that are not "address port time [comment]" in strict decimals (port
    // 1-65535) are skipped. 0 when the file cannot be opened or is not a
    // regular file (a symlink is not followed).
    int read(const char* name);
    // Replaces the file through a temporary file in its folder, so a reader
    // never sees half a list and a planted symlink is replaced, not
    // followed. 0 (no temporary file left) on failure.
    int write(const char* name) const;
    // The first entry at least expireAge old, or null; the caller removes it.
    KnownServEntry* expire();

    uint16_t flags = 0;
    in_addr_t localAddr = 0;
    int localPort = 0;
    time_t expireAge = kKnownServerExpireAge;
    std::list<KnownServEntry> entries;  // in order of addition

private:
    friend std::unique_ptr<KnownServer> newKnownServer(uint16_t flags);
    KnownServer() = default;
    void readLine(char* line);
};

// Empty list; null when memory runs out.
std::unique_ptr<KnownServer> newKnownServer(uint16_t flags);

}  // namespace ruva

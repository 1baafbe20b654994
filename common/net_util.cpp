#include "common/net_util.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <poll.h>
#include <sys/select.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/fd_io.h"
#include "common/text.h"

namespace ruva {
namespace {

// The reentrant look-ups report ERANGE while their scratch buffer is too
// small; a host with that many names is hostile, so growth stops at 1 MiB.
constexpr size_t kResolverBufferStart = 1024;
constexpr size_t kResolverBufferMax = 1 << 20;

// Host part of makeAddrString's text.
constexpr size_t kMaxHostText = 64;

class SystemResolver final : public Resolver {
public:
    bool addressOf(const std::string& name, in_addr_t* addr) override {
        std::vector<char> buf(kResolverBufferStart);
        for (;;) {
            hostent entry{};
            hostent* found = nullptr;
            int herr = 0;
            int rc = gethostbyname_r(name.c_str(), &entry, buf.data(), buf.size(), &found, &herr);
            if (rc == ERANGE && buf.size() < kResolverBufferMax) {
                buf.resize(buf.size() * 2);
                continue;
            }
            if (rc != 0 || !found || found->h_addrtype != AF_INET || found->h_length != sizeof(in_addr_t) ||
                !found->h_addr_list || !found->h_addr_list[0])
                return false;
            std::memcpy(addr, found->h_addr_list[0], sizeof(in_addr_t));
            return true;
        }
    }

    bool namesOf(in_addr_t addr, std::string* name, std::vector<std::string>* aliases) override {
        in_addr in{};
        in.s_addr = addr;
        std::vector<char> buf(kResolverBufferStart);
        for (;;) {
            hostent entry{};
            hostent* found = nullptr;
            int herr = 0;
            int rc = gethostbyaddr_r(&in, sizeof in, AF_INET, &entry, buf.data(), buf.size(), &found, &herr);
            if (rc == ERANGE && buf.size() < kResolverBufferMax) {
                buf.resize(buf.size() * 2);
                continue;
            }
            if (rc != 0 || !found || !found->h_name) return false;
            *name = found->h_name;
            aliases->clear();
            for (char** a = found->h_aliases; a && *a; ++a) aliases->emplace_back(*a);
            return true;
        }
    }
};

SystemResolver g_systemResolver;
Resolver* g_resolver = nullptr;  // null: the system resolver

Resolver& resolver() {
    return g_resolver ? *g_resolver : g_systemResolver;
}

std::string dotted(in_addr_t addr) {
    in_addr in{};
    in.s_addr = addr;
    char text[INET_ADDRSTRLEN];
    if (!inet_ntop(AF_INET, &in, text, sizeof text)) return std::string();
    return text;
}

// inet_addr could not report failure: "10.0.0.x" read as 255.255.255.255
// and was taken as an address. inet_aton can; what it refuses is a name.
bool readHost(const std::string& host, in_addr_t* addr) {
    if (host.empty()) return false;
    if (!isAsciiAlpha(static_cast<unsigned char>(host[0]))) {
        in_addr in{};
        if (inet_aton(host.c_str(), &in)) {
            *addr = in.s_addr;
            return true;
        }
    }
    return resolver().addressOf(host, addr);
}

// The IPv4 addresses of the interfaces that are up, in the system's order.
bool upAddresses(std::vector<std::string>* out) {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return false;
    for (const ifaddrs* p = list; p; p = p->ifa_next) {
        if (!p->ifa_addr || p->ifa_addr->sa_family != AF_INET || !(p->ifa_flags & IFF_UP)) continue;
        sockaddr_in sin;
        std::memcpy(&sin, p->ifa_addr, sizeof sin);
        std::string text = dotted(sin.sin_addr.s_addr);
        if (!text.empty()) out->push_back(std::move(text));
    }
    freeifaddrs(list);
    return true;
}

// Saves a duplicate of target in *saved and points target at fd.
bool redirectOne(int fd, int target, int* saved) {
    *saved = fcntl(target, F_DUPFD_CLOEXEC, 3);
    if (*saved < 0) return false;
    if (dup2(fd, target) < 0) {
        close(*saved);
        *saved = -1;
        return false;
    }
    return true;
}

}  // namespace

Resolver* setResolver(Resolver* r) {
    Resolver* previous = g_resolver;
    g_resolver = r;
    return previous;
}

std::string makeAddrString(in_addr_t addr, unsigned port) {
    if (addr == 0) return std::string();
    std::string host;
    std::string name;
    std::vector<std::string> aliases;
    if (resolver().namesOf(addr, &name, &aliases)) {
        if (name.find('.') != std::string::npos) {
            host = std::move(name);
        } else {
            for (std::string& alias : aliases) {
                if (alias.find('.') != std::string::npos) {
                    host = std::move(alias);
                    break;
                }
            }
        }
    }
    if (host.empty()) host = dotted(addr);
    if (host.size() > kMaxHostText) host.resize(kMaxHostText);
    host += ':';
    host += std::to_string(port);
    return host;
}

int extractAddrPort(std::string_view text, in_addr_t* addr, unsigned* port) {
    text = text.substr(0, text.find('\0'));
    size_t colon = text.find(':');

    // The digit run is bounded before it is used: 70000 once wrapped to a
    // valid-looking port.
    bool portOk = true;
    unsigned value = 0;
    if (colon != std::string_view::npos) {
        size_t digits = 0;
        for (size_t i = colon + 1; i < text.size() && isAsciiDigit(static_cast<unsigned char>(text[i]));
             ++i) {
            if (value <= 65535) value = value * 10 + static_cast<unsigned>(text[i] - '0');
            ++digits;
        }
        portOk = digits > 0 && value >= 1 && value <= 65535;
        if (!portOk) value = 0;
    }

    in_addr_t host = 0;
    bool hostOk = readHost(std::string(text.substr(0, colon)), &host);
    if (!hostOk) host = 0;
    if (addr) *addr = host;
    if (port) *port = value;
    return hostOk && portOk ? 1 : 0;
}

std::optional<std::string> addrToAddrString(std::string_view text) {
    in_addr_t addr = 0;
    unsigned port = 0;
    if (!extractAddrPort(text, &addr, &port)) return std::nullopt;
    return makeAddrString(addr, port);
}

std::optional<std::string> getIpAddr() {
    std::vector<std::string> addresses;
    if (!upAddresses(&addresses)) return std::nullopt;
    for (std::string& a : addresses)
        if (a.compare(0, 3, "127") != 0) return std::move(a);
    return std::nullopt;
}

int getAllIpAddr(StringList* list) {
    if (!list) return 0;
    std::vector<std::string> addresses;
    if (!upAddresses(&addresses)) return 0;
    int added = 0;
    for (const std::string& a : addresses) {
        if (!list->add(a.c_str())) break;
        ++added;
    }
    return added;
}

// select's fd_set ends at descriptor 1023; poll has no such bound. A caught
// signal (the hang-up and quit handlers a session process inherits) must
// not cut an upload read short, so the wait runs to a fixed deadline.
ssize_t readFromSocket(int fd, char* buf, size_t size, int timeout) {
    if (timeout < 0) return 0;
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(timeout);
    for (;;) {
        // Rounded up so that the wait never ends before the deadline; poll
        // takes an int of milliseconds, so a very long wait goes in pieces.
        long long left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left < 0) left = 0;
        pollfd p{fd, POLLIN, 0};
        int n = poll(&p, 1, left > INT_MAX ? INT_MAX : static_cast<int>(left));
        if (n < 0) {
            if (errno == EINTR) continue;
            return 0;
        }
        if (n == 0) {
            if (Clock::now() < deadline) continue;
            return 0;
        }
        if (p.revents & POLLNVAL) return 0;
        ssize_t got = read(fd, buf, size);
        if (got < 0 && errno == EINTR) continue;
        return got;
    }
}

int mysleep(long usec) {
    timeval tv{};
    tv.tv_usec = usec;
    return select(0, nullptr, nullptr, nullptr, &tv);
}

// One pass into a buffer grown to the text (vasprintf): reply lines carry
// titles and paths of any length, and a fixed buffer would overflow.
// Formatting into a stack buffer first saves 0.2 us on a 123-byte hit line
// but needs a second pass past it, and glibc 2.36's snprintf counts the
// overflow 64 bytes at a time: a 20 KB line took 3x dprintf's time.
int fdprintf(int fd, const char* format, ...) {
    char* text = nullptr;
    va_list args;
    va_start(args, format);
    int len = vasprintf(&text, format, args);
    va_end(args);
    if (len < 0) return -1;  // text is undefined then
    bool written = writeAll(fd, text, static_cast<size_t>(len));
    std::free(text);
    return written ? len : -1;
}

int redirectDescriptors(const char* name, int* out, int* err) {
    if (out) *out = -1;
    if (err) *err = -1;
    if (!name) return 0;
    int fd = open(name, O_WRONLY | O_CREAT | O_CLOEXEC, 0777);
    if (fd < 0) return 0;
    // With descriptor 1 or 2 closed, open hands out that number; closing it
    // below would undo the redirection.
    if (fd <= STDERR_FILENO) {
        int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
        close(fd);
        if (moved < 0) return 0;
        fd = moved;
    }
    int savedOut = -1;
    int savedErr = -1;
    bool ok = !out || redirectOne(fd, STDOUT_FILENO, &savedOut);
    if (ok && err) ok = redirectOne(fd, STDERR_FILENO, &savedErr);
    close(fd);
    if (!ok) {
        restoreDescriptors(savedOut, savedErr);
        return 0;
    }
    if (out) *out = savedOut;
    if (err) *err = savedErr;
    return 1;
}

int restoreDescriptors(int out, int err) {
    int ok = 1;
    if (out >= 0) {
        if (dup2(out, STDOUT_FILENO) < 0) ok = 0;
        close(out);
    }
    if (err >= 0) {
        if (dup2(err, STDERR_FILENO) < 0) ok = 0;
        close(err);
    }
    return ok;
}

}  // namespace ruva

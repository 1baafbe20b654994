#include "bmod/unzipd/daemon/known_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <new>

#include "bmod/unzipd/log/log_call.h"
#include "common/line_reader.h"
#include "common/net_util.h"
#include "common/quoting.h"
#include "common/string_format.h"
#include "common/text.h"
#include "common/tokens.h"

namespace ruva {
namespace {

const char kHeader[] =
    "# List of known servers, written by ruvadaemon.\n"
    "# Automatically maintained, not designed for manual editing.\n"
    "# iaddr(ulong) port(int) lastUpdate(time_t) comment(string)\n";

// Digits only, at most max.
bool strictDecimal(const char* text, unsigned long long max, unsigned long long* out) {
    if (text == nullptr || *text == '\0') return false;
    unsigned long long n = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (!isAsciiDigit(static_cast<unsigned char>(*p))) return false;
        n = n * 10 + static_cast<unsigned>(*p - '0');
        if (n > max) return false;
    }
    *out = n;
    return true;
}

// One line per entry: control characters become blanks.
std::string cleanComment(const char* comment) {
    std::string c(comment, strnlen(comment, kKnownServerCommentMax));
    for (char& ch : c)
        if (isAsciiControl(static_cast<unsigned char>(ch))) ch = ' ';
    return c;
}

std::string dottedAddress(in_addr_t addr) {
    char buf[INET_ADDRSTRLEN] = {};
    struct in_addr in {};
    in.s_addr = addr;
    inet_ntop(AF_INET, &in, buf, sizeof buf);
    return buf;
}

}  // namespace

std::unique_ptr<KnownServer> newKnownServer(uint16_t flags) {
    std::unique_ptr<KnownServer> ks(new (std::nothrow) KnownServer);
    if (ks) ks->flags = flags;
    return ks;
}

KnownServEntry* KnownServer::add(in_addr_t addr, int port, const char* comment, int* added) {
    if (addr == localAddr && port == localPort) return nullptr;
    bool reading = (flags & kKnownServerReading) != 0;
    for (KnownServEntry& e : entries) {
        if (e.iaddr != addr || e.port != port) continue;
        if (!reading) e.lastUpdate = time(nullptr);
        return &e;
    }
    // Announcements come from the network: the list must stay bounded.
    if (entries.size() >= kKnownServerMax) {
        logError(kLogWarning, "Too many known servers, %s:%u not added", dottedAddress(addr).c_str(),
                 static_cast<unsigned>(port));
        return nullptr;
    }
    KnownServEntry e;
    e.iaddr = addr;
    e.port = port;
    if (comment != nullptr) e.comment = cleanComment(comment);
    e.lastUpdate = reading ? 0 : time(nullptr);
    entries.push_back(std::move(e));
    if (added != nullptr) *added = 1;
    return &entries.back();
}

int KnownServer::remove(in_addr_t addr, int port) {
    for (auto it = entries.begin(); it != entries.end(); ++it) {
        if (it->iaddr == addr && it->port == port) {
            entries.erase(it);
            return 1;
        }
    }
    return 0;
}

KnownServEntry* KnownServer::expire() {
    time_t now = time(nullptr);
    for (KnownServEntry& e : entries)
        if (now - e.lastUpdate >= expireAge) return &e;
    return nullptr;
}

void KnownServer::readLine(char* line) {
    char* cursor = line;
    char* fields[3];
    for (char*& f : fields) {
        f = getNextToken(&cursor);
        if (f == nullptr || f[0] == '#') return;
    }
    char* comment = getNextToken(&cursor);
    unsigned long long addr = 0, port = 0, when = 0;
    if (!strictDecimal(fields[0], 4294967295ULL, &addr) || !strictDecimal(fields[1], 65535, &port) ||
        port == 0 || !strictDecimal(fields[2], 0x7fffffffffffffffULL, &when))
        return;
    KnownServEntry* e = add(static_cast<in_addr_t>(addr), static_cast<int>(port), comment, nullptr);
    // Of duplicate lines the last one's time wins.
    if (e != nullptr) e->lastUpdate = static_cast<time_t>(when);
}

int KnownServer::read(const char* name) {
    if (name == nullptr) return 0;
    int fd = ::open(name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return 0;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        logError(kLogWarning, "Cache file %s is not a regular file", name);
        ::close(fd);
        return 0;
    }
    FILE* fp = ::fdopen(fd, "r");
    if (fp == nullptr) {
        ::close(fd);
        return 0;
    }
    flags |= kKnownServerReading;
    forEachLine<kKnownServerLineMax>(fp, [this](char* line, int, bool tooLong) {
        if (!tooLong) readLine(line);
        return true;
    });
    flags &= static_cast<uint16_t>(~kKnownServerReading);
    std::fclose(fp);
    return 1;
}

int KnownServer::write(const char* name) const {
    if (name == nullptr || *name == '\0') return 0;
    std::string body = kHeader;
    for (const KnownServEntry& e : entries) {
        std::string comment;
        if (e.comment) {
            comment = quoteString(e.comment->c_str());
            // A backslash before the closing quote would escape it on reading.
            if (comment.size() > 1 && comment.back() == '"' && comment[comment.size() - 2] == '\\')
                comment.insert(comment.size() - 1, 1, ' ');
        }
        body += format("%u %u %lu %s\n", static_cast<unsigned>(e.iaddr), static_cast<unsigned>(e.port),
                       static_cast<unsigned long>(e.lastUpdate), comment.c_str());
    }
    std::string tmp = name;
    tmp += ".XXXXXX";
    int fd = ::mkstemp(tmp.data());
    if (fd < 0) return 0;
    bool ok = ::fchmod(fd, 0644) == 0 && fdprintf(fd, "%s", body.c_str()) == static_cast<int>(body.size()) &&
              ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(tmp.c_str(), name) != 0) {
        ::unlink(tmp.c_str());
        return 0;
    }
    return 1;
}

}  // namespace ruva

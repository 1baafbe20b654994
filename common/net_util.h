// IPv4 addresses as text, the host's own addresses, socket reads with a
// time-out, short sleeps, formatted writes to a descriptor and redirection
// of standard output and error.
//
// Addresses are in_addr_t in network byte order throughout, as inet_aton,
// the resolver and the interface list deliver them (10.0.0.1 is 16777226 on
// a little-endian host). Ports are plain numbers.
#pragma once

#include <netinet/in.h>
#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/string_list.h"

namespace ruva {

// Name look-ups behind makeAddrString and extractAddrPort, in one place so
// that tests can answer them without outside DNS.
class Resolver {
public:
    virtual ~Resolver() = default;
    // The first IPv4 address of name; false when it has none.
    virtual bool addressOf(const std::string& name, in_addr_t* addr) = 0;
    // The official name and aliases of addr; false when it has no name.
    virtual bool namesOf(in_addr_t addr, std::string* name, std::vector<std::string>* aliases) = 0;
};

// Makes r the resolver in use and returns the one it replaces (null stands
// for the system resolver, the default). r is not owned and must outlive its
// use.
Resolver* setResolver(Resolver* r);

// "host:port". The host is the address's official name when it holds a '.',
// else its first alias holding a '.', else the dotted address; at most 64
// characters of it are kept. Address 0 gives "".
std::string makeAddrString(in_addr_t addr, unsigned port);

// Reads "host[:port]"; the text ends at its end or at a NUL. A host
// beginning with a letter, or one inet_aton cannot read, is resolved (first
// IPv4 address). The port is the run of digits after the first ':'. 1 when
// the host was read and there is either no ':' (port 0) or a port of
// 1-65535, else 0. *addr gets the host's address (0 when it could not be
// read), *port the port (0 when it is missing or out of range); either
// pointer may be null.
int extractAddrPort(std::string_view text, in_addr_t* addr, unsigned* port);

// extractAddrPort then makeAddrString; no value when the text cannot be read.
std::optional<std::string> addrToAddrString(std::string_view text);

// The dotted address of the first interface, in the system's order, that is
// up and whose address does not begin with "127"; no value when there is
// none or the interfaces cannot be listed.
std::optional<std::string> getIpAddr();

// Adds the dotted address of every interface that is up, loopback included,
// to list in the system's order. Returns the number added; 0 for a null list
// or when the interfaces cannot be listed. Stops at the first entry that
// cannot be added.
int getAllIpAddr(StringList* list);

// Waits up to timeout seconds for fd to become readable (poll: any
// descriptor number works), then reads at most size bytes once. Returns the
// bytes read; 0 at end of stream, when the time runs out or the wait fails
// (a negative timeout or a bad descriptor included); -1 when the read fails.
// A signal caught during the wait or the read does not end it: the wait
// resumes with the time left.
ssize_t readFromSocket(int fd, char* buf, size_t size, int timeout);

// Waits usec microseconds with select on no descriptors; usec must be below
// 1,000,000 (it is the microseconds part of the time). select's result.
int mysleep(long usec);

// Formats and writes the whole text to fd, retrying short writes and EINTR.
// Returns the text's length; -1 when formatting fails or a write fails or
// writes nothing. There is no length limit. An empty text writes nothing and
// gives 0.
int fdprintf(int fd, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Opens name for writing (created with mode 0777 less the umask when missing;
// existing contents are not cut) and, for each of out and err that is not
// null, saves a duplicate of descriptor 1 or 2 in it and points that
// descriptor at the file. 1 on success. 0 on failure, with the descriptors
// as they were and the saved ones set to -1.
int redirectDescriptors(const char* name, int* out, int* err);

// Puts each saved descriptor that is not negative back on 1 or 2 and closes
// the saved copy. 1 on success, 0 when a descriptor could not be put back.
int restoreDescriptors(int out, int err);

}  // namespace ruva

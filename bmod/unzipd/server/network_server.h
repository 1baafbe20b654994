// The daemon's network side: the listening TCP socket and the UDP discovery
// socket, the parent's accept loop with one forked process per session,
// reaping, signals turned into states for the main loop, and the means for
// a session to ask the parent for a catalogue refresh and wait for it.
//
// Signals: handlers only set volatile sig_atomic_t fields of the current
// server (one static pointer, set by networkServer, cleared by
// cleanupNetworkServer) or the process-wide quit request, which outlives
// every server: once networkServer has installed the quit handler for
// SIGINT and SIGTERM and the hang-up handler for SIGHUP they stay; a quit
// asked for between two calls ends the next one at once with NS_QUIT, a
// hang-up makes it return NS_RECONFIG. The parent ignores SIGPIPE; replies
// go out with MSG_NOSIGNAL.
#pragma once

#include <netinet/in.h>
#include <signal.h>
#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "bmod/unzipd/daemon/uzd_main.h"
#include "bmod/unzipd/server/ip_mask.h"
#include "bmod/unzipd/server/reply.h"

namespace ruva {

class KnownServer;
class PipeHandler;
class UserProfile;
class ZipStructure;
struct RuvxSearchResult;

inline constexpr const char* kDaemonProgName = "ruvadaemon";
inline constexpr const char* kDaemonArticle = "DOCSRV 1";

// NetworkServer::flags.
inline constexpr uint16_t kNsNoUdp = 0x01;    // AnswerBroadcasts off: no UDP socket
inline constexpr uint16_t kNsQuit = 0x04;     // a session's QUIT
inline constexpr uint16_t kNsDebug = 0x08;    // no session processes
inline constexpr uint16_t kNsVerbose = 0x10;  // trace commands and datagrams
// NetworkServer::nflags.
inline constexpr uint16_t kNsScoredOutput = 0x01;  // nothing sets it
inline constexpr uint16_t kNsScannerPipes = 0x10;  // cleared for good at the scanner's third death

enum NsState { NS_FAILURE = 0, NS_QUIT = 1, NS_PERIODIC = 2, NS_RECONFIG = 3, NS_UPDATE = 4, NS_FSRESTART = 5 };

// Longest command line, line end not counted; also the longest datagram.
inline constexpr size_t kCommandLineMax = 131144;
inline constexpr int kListenBacklog = 16;
inline constexpr int kSelectSeconds = 5;
inline constexpr int kDefaultIdleTimeout = 300;
inline constexpr int kSessionUpdateExit = 3;  // a session's status ordering an update

class NetworkServer {
public:
    // del: closeSockets, cleanupNetworkServer; frees masks, list and texts.
    ~NetworkServer();
    NetworkServer(const NetworkServer&) = delete;
    NetworkServer& operator=(const NetworkServer&) = delete;

    // Shutdown and close of each open listening socket, then -1.
    void closeSockets();
    // TCP (SO_REUSEADDR, backlog 16) and, unless kNsNoUdp, UDP on any
    // address at wellKnownPort. 1, or 0 with both closed and a log line.
    int listenSockets();
    // The parent loop: returns when the main loop has something to do.
    // NS_FAILURE when a socket it needs is not open.
    NsState networkServer();
    // One session on newtcpfd: greeting, then commands until QUIT, end of
    // input, an error that ends it, or a quit request. The socket is shut
    // down and closed at the end. 1 on a normal end, 0 otherwise.
    int handleConnection();
    // Dispatches one command line (cut in place). 1 to go on, 0 to end; 0
    // without a reply for a GET of a name that is neither a node number nor
    // a library file name.
    int parseCommand(char* line);
    // Reads one command line into buffer (limit bytes and a NUL): the bytes
    // before the first CR or LF, taken from the rest data first, then from
    // the socket; what follows the line end stays as the rest data, the
    // start of the next command. -1 when the client closed, the read failed
    // or a quit was requested while waiting. After idleTimeout seconds
    // without input a session process ends with _exit(0); in debug mode -1
    // with kNsQuit. A line that fills limit without a line end gets "400
    // Missing command" and -1. After a CR, one LF that comes next is skipped.
    int getClientCommand(char* buffer, size_t limit);
    // In a session: asks the parent for a refresh (SIGUSR1; zipName, when
    // given, is logged as the library that failed) and waits for the
    // group's SIGUSR1 up to waitOnParentUpdate seconds. 1 when it came.
    int orderParentUpdate(const char* zipName);
    int orderParentUpdateUSR1();
    // QXSRCH hit lines of one index of library zs, in list order (null:
    // none): library, hash, member, type name, score 0, tokens and the
    // member's comment. With a library bitmap, a member found in zs is kept
    // only when its own bitmap is non-empty and passes filterSearchResult.
    // 1, or 0 when a line could not be written.
    int presentRuvxScore(ZipStructure* zs, const std::vector<RuvxSearchResult>* hits, const char* bitmap);

    // Sends this daemon's "UZD" (remove: "UZR") line to host:port. 1 when
    // the whole line was sent. Its socket is closed on every path.
    int informCentralServer(const char* address, int remove);
    // 1 when the client's dotted address may open a session.
    int checkIpMasks(const char* address) const;
    // Append a mask (the text after Allow or Deny). An invalid Allow mask is
    // logged and dropped (1: access only narrows); an invalid Deny mask
    // gives 0, since dropping it would widen access.
    int addAllowMask(const char* text);
    int addDenyMask(const char* text);
    // Appends to the server comment and rebuilds the broadcast line.
    void addServerComment(const char* text);
    // Reads and answers one datagram. 1 handled, 0 refused or nothing read.
    int handleUdpConnection();
    // Builds bResp from the host's address; also sets localAddr and the
    // known-server list's local address. 1 when built.
    int setBroadcastResponse();
    // Reaps finished children without waiting; clears the current-server
    // pointer. The quit, hang-up and refresh-order handlers and SIGPIPE's
    // ignore stay: an order that comes before the next loop is held for it.
    void cleanupNetworkServer();

    // The configuration's port, broadcast flag, masks (0 for an invalid
    // Deny mask), comment, parent wait and session cap.
    int applyServerConfig(const ServerConfig& cfg);
    // Writes the known-server list to the cache file when it changed and
    // the last write is at least a second old.
    void writeKnownServersIfDue();
    // Program, article, revision and comment as the greeting, VER and the
    // broadcast line carry them: ruvadaemon "DOCSRV 1" R19K "comment"
    // ("unknown" for a missing name, article or revision).
    std::string identityText() const;
    // The process-wide quit request (SIGINT, SIGTERM).
    static bool quitRequested();
    // The parent takes the refresh orders it is about to act on; an order
    // that comes later, during the refresh, starts another one.
    void takeUpdateOrders();
    // The same for a reconfiguration: a hang-up after this starts another.
    void takeReconfigOrder();
    static void clearQuitRequest();

    UzdMain* uzd = nullptr;
    void* ldap = nullptr;  // directory handle, never set
    uint16_t flags = 0;
    uint16_t nflags = kNsScannerPipes;
    // The signal-set bits: SIGHUP (reconfigure), SIGUSR1/SIGUSR2 (update
    // ordered), SIGUSR1/SIGUSR2 (update pending), SIGUSR2 (by the scanner).
    volatile sig_atomic_t reconfigRequested = 0;
    volatile sig_atomic_t updateOrdered = 0;
    volatile sig_atomic_t updatePending = 0;
    volatile sig_atomic_t scannerOrdered = 0;

    int tcpfd = -1;
    int udpfd = -1;
    int newtcpfd = -1;
    std::unique_ptr<ReplyWriter> reply;  // on newtcpfd during a session
    std::unique_ptr<UserProfile> userp;
    int fSuperUser = 0;
    struct sockaddr_in saddr = {};
    struct sockaddr_in sudp_addr = {};
    struct sockaddr_in c_addr = {};
    int serverSleepTime = 30;
    int idleTimeout = kDefaultIdleTimeout;
    in_addr_t localAddr = 0;
    int wellKnownPort = 9229;
    std::vector<IpMask> ipMasks;
    std::unique_ptr<KnownServer> ks;
    bool ksChanged = false;  // the list changed since the cache was written
    time_t ksWritten = 0;
    std::string serverComment;
    std::string ProgName;
    std::string Article;
    std::string Revision;
    time_t startTime = 0;  // when this server was made: start-up or reconfiguration
    unsigned long sessionCount = 0;
    int* childCountP = &childCount;  // shared with the sessions once set
    int childCount = 0;
    int waitingChildCount = 0;
    int maxSessions = kDefaultMaxSessions;
    int waitOnParentUpdate = 30;  // 0 means 120
    std::string bResp;
    char cAddrStr[24] = {};

    // The line scanner of PUSRCH.
    int tokCnt = 0;
    int resTokOffs = 0;
    int tokOffs[8] = {};
    char extension[4] = {};
    char tokBuf[8][17] = {};  // eight fields of at most 16 characters
    char resToken[17] = {};

    // Bytes after the last command line's end not yet taken: the next
    // command's, after UPDFILE has taken its data and end line.
    std::string restData;
    // The last line ended with CR and nothing followed it in that read: an
    // LF that comes first in the next read belongs to that line end.
    bool skipLeadingLf = false;

    std::string LDAPServerName;
    std::string LDAPSearchBaseUser;
    std::string LDAPSearchBaseRes;
    int LDAPServerPort = 0;

    // The scanner child: its pid lives in the main object; whoever reaps it
    // zeroes it there. The pipe handler hears of every child reaped here.
    pid_t* filesysPidP = nullptr;
    PipeHandler* ph = nullptr;

private:
    friend std::unique_ptr<NetworkServer> newNetworkServer(UzdMain* uzd, int port, uint16_t flags);
    NetworkServer();

    std::string announcement(const char* peerId) const;
    int addMask(const char* text, IpPermType type);
    void childReaped(pid_t pid);
    // One waitpid(-1, WNOHANG) turn of the loop: a state to return, or
    // NS_PERIODIC to go on.
    NsState reapChildren();
    NsState updateState(const char* how);
    NsState acceptClient(bool* sitOut);
    void denyAccess(int fd);
    [[noreturn]] void runSessionChild();
    int waitForParent();
    int waitForCommand();
    int cutLine(char* buffer, size_t from, size_t to);
    void buildBroadcastLine();
    int sendReplyTwice(const std::string& line, const struct sockaddr_in& to, const char* what);

    pid_t parentPid_ = 0;  // in a session: the daemon that forked it
};

// Both sockets -1, the flags given, nflags kNsScannerPipes, port 9229 for
// 0, an empty known-server list. Null, with "No memory for NetworkServer",
// when memory runs out.
std::unique_ptr<NetworkServer> newNetworkServer(UzdMain* uzd, int port, uint16_t flags);

}  // namespace ruva

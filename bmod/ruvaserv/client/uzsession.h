// One TCP connection to one document server: connects on demand (through a
// telnet proxy when the server cannot be reached directly), checks the
// greeting, sends one command line at a time and reads the reply line by
// line, with the raw data some replies carry after a length line. Every
// protocol command is one operation giving a UzResponse the caller owns, or
// null when the command could not be sent or no first line came (the
// reason in getError).
//
// Units: uzsession.cpp (connection, sending, reading, the shared reply
// classification), uzsession_listing.cpp (VER, HELP, INFO, the lists, CONT,
// CONTV, LANGLIST, BLOBTYPES, QUIT), uzsession_retrieval.cpp (GET, RETR,
// IDRETR), uzsession_search.cpp (QXSRCH, QXSRCHSGS, QXDT, SRCH, PUSRCH,
// MSRCH, MPSRCH), uzsession_user.cpp (USER, RMFILE, UPDFILE).
//
// The socket is non-blocking throughout; every wait is a poll with the time
// left. Texts from the server are copied into messages, never used as
// formats, and HTML-escaped there like library and member names.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "bmod/ruvaserv/cgi/checked_format.h"
#include "bmod/ruvaserv/client/uzresponse.h"

namespace ruva {

// Bits of UzSession::flags.
inline constexpr uint16_t kSessClientFlag = 0x1;  // the client's flag 1, passed on
inline constexpr uint16_t kSessConnected = 0x2;
// The server refused the session (a greeting other than 200); cleared by a
// 200 greeting. Callers read it as "access denied".
inline constexpr uint16_t kSessAccessDenied = 0x4;
// The telnet proxy may be tried: set at creation when the client's proxy
// address parses, cleared by a 200 greeting over a direct connection, set
// again by a refusing greeting.
inline constexpr uint16_t kSessProxyAllowed = 0x8;

// A command line holds at most this many characters before its line feed.
inline constexpr size_t kCommandLineMax = 131143;
// A reply line holds at most this many characters; a longer one comes in
// pieces of this size.
inline constexpr size_t kReplyLineMax = 131144;
// Raw reply data are read in pieces of at most this many bytes.
inline constexpr size_t kDataChunk = 8192;
// An IDRETR section holds at most this many bytes.
inline constexpr size_t kIdRetrSectionMax = 500000;
// retrMem reserves at most this much ahead of the announced length; the
// rest grows as bytes arrive.
inline constexpr size_t kRetrReserveMax = 16 * 1024 * 1024;
// An UPDFILE command line, its line feed included, and its data block.
inline constexpr size_t kUpdLineMax = 1023;
inline constexpr size_t kUpdBlockMax = 0x7FFFFFFF;
// The end marker that follows an UPDFILE data block: 16 bytes.
inline constexpr std::string_view kUpdEndLine = "200-UPDFILE END\n";
// The reply wait when the client sets none, seconds.
inline constexpr time_t kDefaultCommandTimeout = 20;

// getPeerCommand's result when a QXSRCH reply line timed out; below every
// line length and apart from the failure -1.
inline constexpr int kSearchTimedOut = -2;

// The fixed waits of the client, in one table so that tests can shorten
// them. The defaults are the production values.
struct UzWaits {
    std::chrono::seconds connect{20};       // a connect to complete (also before the proxy fallback)
    std::chrono::seconds get{10};           // each GET line
    std::chrono::seconds retr{15};          // RETR lines; never below commandTimeout + settle
    std::chrono::seconds retrMainPage{60};  // RETR of "kvo_ml_sub_main_page"
    std::chrono::seconds settle{30};        // RETR and CONTV lines wait at least commandTimeout + this
    std::chrono::seconds qxsrch{60};        // QXSRCH, QXSRCHSGS and QXDT lines
    std::chrono::seconds srch{300};         // SRCH lines
    std::chrono::seconds pusrch{240};       // PUSRCH lines
    std::chrono::seconds idretr{300};       // IDRETR lines
    std::chrono::seconds update{60};        // the UPDFILE and RMFILE answer
    // The next command's first line after UPDFILE or RMFILE waits
    // commandTimeout + this: the daemon refreshes its catalogue first.
    std::chrono::seconds afterUpdate{30};
    std::chrono::seconds quitOnDelete{2};   // QUIT's line when a session is deleted
    std::chrono::seconds rawData{15};       // readSocket when commandTimeout is 0
};

// The waits in use.
const UzWaits& uzWaits();
// Replaces the waits (tests, the probe's options).
void setUzWaits(const UzWaits& waits);

// The connect call of every session; tests inject results the loopback
// cannot give (ENETUNREACH, EHOSTUNREACH). Null restores connect(2).
// Returns the function it replaces.
using UzConnectFunction = int (*)(int fd, const sockaddr* addr, socklen_t length);
UzConnectFunction setUzConnectFunction(UzConnectFunction function);

// How an argument goes on a command line. The daemon reads words with
// getNextToken: a quoted word ending in '\' would swallow its closing
// quote, so sendCommand refuses it.
enum class UzArgKind {
    kRaw,       // as given (numbers, MLNLIST, the QXDT pattern)
    kFreeText,  // as given when non-empty and free of white space and quotes, else quoteString
    kLibrary,   // quoteString when holding '.', white space or a quote; '"'-led as given; "" left out
    kPattern,   // always quoteString (search patterns)
    kField,     // always in double quotes, '\' before each inner '"' (PUSRCH fields)
};

struct UzArg {
    std::string_view text;
    UzArgKind kind = UzArgKind::kRaw;
};

// What the reply classification makes of one line (see classifyLine).
enum class UzLineKind {
    kNone,    // no line: end of stream or failure
    kShort,   // two characters or fewer
    kError,   // first character neither '2' nor '3': final
    kEnd,     // "nnn-" with a code up to 299: final
    kHeader,  // "nnn-" with a code of 300 or more: skipped
    kEntry,   // any other line: fields from the fifth character
};

// A reply line's text after its four code characters ("nnn-" or "nnn ");
// "" for a line of four characters or fewer.
inline std::string_view replyText(std::string_view line) {
    return line.size() > 4 ? line.substr(4) : std::string_view();
}

struct UzLine {
    UzLineKind kind = UzLineKind::kNone;
    int code = 0;
    std::string_view text;  // after the four code characters; "" for a line of four or fewer
};

// Memory that retrMem writes the first member into in place of a string:
// once the reply announces the member's length, room(size) gives at least
// size writable bytes (size may be 0), owned by the sink and valid until the
// command ends, or null when they cannot be had (message 448). Only size
// bytes are written; on a failed command their content is undefined.
class UzMemberSink {
public:
    virtual ~UzMemberSink() = default;
    virtual char* room(size_t size) = 0;
};

// getError, setError and errmsg come from ErrorText.
class UzSession : public ErrorText {
public:
    // initUzSession: disconnected, with flags; the client sets address,
    // port, proxy and commandTimeout.
    explicit UzSession(uint16_t flags = 0);
    // del: when connected sends QUIT (waiting at most uzWaits().quitOnDelete
    // for its line) and disconnects.
    ~UzSession();
    UzSession(const UzSession&) = delete;
    UzSession& operator=(const UzSession&) = delete;

    // ---- transport (uzsession.cpp)

    // Connects (disconnecting first), falling back to the telnet proxy when
    // kSessProxyAllowed is set and the server refuses, is unreachable or
    // does not answer; reads the greeting. RT_CONNECT with the greeting's
    // code (500 and kSessAccessDenied for a refusal, which also goes to
    // setError), or null with the error set.
    std::unique_ptr<UzResponse> connect();
    // Shuts down and closes the socket when open; sockfd -1, kSessConnected
    // cleared, surplus dropped.
    void disconnect();
    // Sends word and the arguments, each after one blank, and a line feed,
    // connecting first when needed (200 greeting required). Nothing is sent
    // when an argument holds CR, LF or NUL or would go quoted ending in '\'
    // (message 462), or the line exceeds kCommandLineMax (456). Stray bytes
    // or end of stream found before sending reconnect first. On EPIPE,
    // ECONNRESET or end of stream before the reply's first byte the line is
    // sent once more, whole, on a new connection, except UPDFILE, RMFILE and
    // QUIT; QUIT on a connection found stale only disconnects (0, 454).
    // 1 sent, 0 failed (457 and the rest in getError).
    int sendCommand(std::string_view word, std::span<const UzArg> args);
    int sendCommand(std::string_view word, std::initializer_list<UzArg> args = {}) {
        return sendCommand(word, std::span<const UzArg>(args.begin(), args.size()));
    }
    // Sends all of data, connecting first when needed; MSG_NOSIGNAL, EAGAIN
    // waits for writability within commandTimeout; never resent. 1 or 0.
    int sendCmdBuffer(std::string_view data);
    // Reads one reply line into cmd (ended by the first '\n' or '\r'; a
    // longer one than kReplyLineMax comes in pieces of that length).
    // timeout in seconds: 0 is commandTimeout, below 0 none. The line's
    // length (end of stream ends a line too, and disconnects); -1 on failure
    // (453; 454 and 455 with a disconnect); kSearchTimedOut, also with a
    // disconnect, when searchRead is set and the wait ran out. When the
    // connection ends before any byte of the reply to a command sendCommand
    // may resend, the command goes once more on a new connection and the
    // reading goes on there.
    int getPeerCommand(time_t timeout);
    // The last line read, NUL-terminated; its length is cmdCnt.
    const char* getResultPrintout() const { return cmd.data(); }
    // One read of raw reply data: waits at most commandTimeout
    // (uzWaits().rawData when 0). Bytes read; 0 for a time-out or end of
    // stream (which disconnects); -1 on an error (disconnected).
    ssize_t readSocket(char* buffer, size_t size);
    // "address:port" with the dotted address; "Unknown" when either is 0.
    std::string getServerAddr() const;
    UzSession* getNextSession() const { return next; }

    // ---- listing and information (uzsession_listing.cpp)

    std::unique_ptr<UzResponse> ver();
    std::unique_ptr<UzResponse> help(std::optional<std::string_view> topic = std::nullopt);
    std::unique_ptr<UzResponse> info();
    std::unique_ptr<UzResponse> list(std::string_view library);
    std::unique_ptr<UzResponse> mllist(std::string_view library);
    std::unique_ptr<UzResponse> mlnlist(std::string_view hashId, std::string_view userId);
    std::unique_ptr<UzResponse> mlslist(std::string_view library, std::string_view check);
    std::unique_ptr<UzResponse> slist();
    // pattern absent: left out (the daemon takes "*").
    std::unique_ptr<UzResponse> cont(std::string_view library,
                                     std::optional<std::string_view> pattern = std::nullopt);
    std::unique_ptr<UzResponse> contv(std::string_view library,
                                      std::optional<std::string_view> pattern = std::nullopt);
    // CONT, or CONTV when verbose; RT_CONT over every library header.
    std::unique_ptr<UzResponse> handleContCommand(std::string_view library,
                                                  std::optional<std::string_view> pattern, bool verbose);
    std::unique_ptr<UzResponse> langList();
    std::unique_ptr<UzResponse> blobTypes();
    // Disconnects once the line is read, whatever it says.
    std::unique_ptr<UzResponse> quit();

    // ---- retrieval (uzsession_retrieval.cpp)

    // Each library archive to outdir ("" the working directory).
    std::unique_ptr<UzResponse> get(std::string_view library, std::string_view outdir);
    // Each member to outdir ("" the working directory), under the name the
    // daemon sent after its last '/'.
    std::unique_ptr<UzResponse> retr(std::string_view library, std::string_view member, std::string_view outdir);
    // data gets exactly the first member's bytes (others are read and
    // dropped); memDataBufLen = data.size().
    std::unique_ptr<UzResponse> retrMem(std::string_view library, std::string_view member, std::string& data);
    // As retrMem into a string, the bytes straight into sink's room: no
    // copy through a string; memDataBufLen the member's length.
    std::unique_ptr<UzResponse> retrMem(std::string_view library, std::string_view member, UzMemberSink& sink);
    // RETR to outdir or into data (exactly one of them given; else 440).
    std::unique_ptr<UzResponse> handleRetrCommand(std::string_view library, std::string_view member,
                                                  std::optional<std::string_view> outdir, std::string* data);
    // The whole member when CONTV listed it and RETR answered 200, else
    // none; memDataBufLen its length.
    std::optional<std::string> getFileData(std::string_view library, std::string_view member);
    size_t getFileDataLength() const { return memDataBufLen; }
    std::unique_ptr<UzResponse> idretr(std::string_view pattern, std::string_view library, std::string_view member,
                                       std::string_view doctype);

    // ---- search (uzsession_search.cpp)
    //
    // The reply steps are in uzsession_search.h. A reply cut short (no
    // line, a short line, a search time-out) gives code 500 and the
    // command's message, the session disconnected.

    // One QXSRCH per library of the blank-separated libraries, each with
    // its bitmap of the blank-separated bitmaps, at most count libraries.
    // Sets *isLibFiltered for every bitmap sent that filters, never clears
    // it. srchtimedout 1 when a line timed out.
    std::unique_ptr<UzResponse> qxsrch(std::string_view pattern, std::string_view libraries, std::string_view index,
                                       int maxHits, std::optional<std::string_view> bitmaps, int count);
    std::unique_ptr<UzResponse> qxsrchsgs(std::string_view pattern, std::string_view library,
                                          std::string_view index, int maxHits);
    std::unique_ptr<UzResponse> qxdt(std::string_view pattern, std::string_view library, std::string_view member);
    std::unique_ptr<UzResponse> srch(std::string_view pattern, std::string_view library, std::string_view members,
                                     int chkTags, std::string_view tokens);
    // At most eight fields go out (the daemon reads eight).
    std::unique_ptr<UzResponse> pusrch(std::string_view library, std::string_view members,
                                       std::span<const std::string_view> fields);
    std::unique_ptr<UzResponse> pusrch(std::string_view library, std::string_view members,
                                       std::initializer_list<std::string_view> fields) {
        return pusrch(library, members, std::span<const std::string_view>(fields.begin(), fields.size()));
    }
    // productId counts as absent also when it is "(null)" or its value is 1.
    std::unique_ptr<UzResponse> msrch(std::string_view pattern,
                                      std::optional<std::string_view> productId = std::nullopt);
    // With a product id: name prodid from to system productId.
    std::unique_ptr<UzResponse> mpsrch(std::string_view name, std::string_view prodid, std::string_view from,
                                       std::string_view to, std::string_view system,
                                       std::optional<std::string_view> productId = std::nullopt);
    // Sends word with args and reads MSRCH-form entries.
    std::unique_ptr<UzResponse> handleMsrchCommand(std::string_view word, std::span<const UzArg> args);

    // ---- user and update (uzsession_user.cpp)

    // USER with the web user's name (portal header, authEnv, or by useAuth
    // libState/superUserName); null with LOGIN_MISSING, NO_ACCESS,
    // UNKNOWN_ERROR or a support message in getError.
    std::unique_ptr<UzResponse> User(int useAuth);
    std::unique_ptr<UzResponse> UserP(int libtypes, std::string_view systems, int useAuth);
    // RT_UPDFILE with the one reply line; null when not sent or not read.
    std::unique_ptr<UzResponse> rmfile(std::string_view library, std::string_view members);
    // The member's new content is each string followed by its NUL. Refused
    // before sending (null): a member that is not plain, a library that is
    // empty or holds white space or a quote, no strings, a block above
    // kUpdBlockMax, a line above kUpdLineMax.
    std::unique_ptr<UzResponse> updatafile(std::string_view library, std::string_view member,
                                           std::span<const std::string_view> strings);
    std::unique_ptr<UzResponse> updatafile(std::string_view library, std::string_view member,
                                           std::initializer_list<std::string_view> strings) {
        return updatafile(library, member, std::span<const std::string_view>(strings.begin(), strings.size()));
    }

    // ---- responses, as the client hands them out

    static std::unique_ptr<UzResponse> allocResponse(ResponseType type) { return ruva::allocResponse(type); }
    static void freeResponse(std::unique_ptr<UzResponse> response) { ruva::freeResponse(std::move(response)); }

    // ---- data

    UzSession* next = nullptr;  // the client's list; not owned
    UzSession* prev = nullptr;
    uint16_t flags = 0;  // kSess...
    int sockfd = -1;  // -1 when closed (0 is a valid descriptor)
    unsigned port = 0;
    unsigned proxyPort = 0;  // 23 when the proxy address names none
    std::string serverName;  // VER's comment, " " when it has none
    in_addr_t iaddr = 0;  // network byte order
    in_addr_t proxyIaddr = 0;  // network byte order
    time_t commandTimeout = kDefaultCommandTimeout;  // seconds per reply line
    sockaddr_in saddr{};  // the address of the last connect
    // One buffer serves the line reader, the surplus and raw reads: cmd
    // holds the last line, NUL-terminated, then restCnt bytes at restData
    // read beyond it.
    char* restData = nullptr;
    size_t restCnt = 0;
    char* cmdPtr = nullptr;  // fill position while a line is read
    size_t cmdCnt = 0;  // characters held; the line's length once read
    std::array<char, kReplyLineMax + 1> cmd{};
    std::string proxyCmd;  // the telnet proxy command, a copy
    size_t memDataBufLen = 0;  // bytes of the last retrMem or getFileData
    std::string authEnv = "REMOTE_USER";  // the variable USER takes the user name from
    // USER's settings, given as values by the request (library state,
    // super-user name, the support address named in messages 420, 422, 470).
    std::string libState;
    std::string superUserName;
    std::string supportAddress;
    int* isLibFiltered = nullptr;  // the client's flag qxsrch sets; null for none

    // Shared state of the units:
    // set by the search unit around each QXSRCH line read, so that a
    // time-out gives kSearchTimedOut; cleared on every return.
    bool searchRead = false;
    // set when UPDFILE or RMFILE goes out (sendCommand and sendCmdBuffer
    // see to it): the next command's first line waits longer.
    bool afterUpdate = false;
    // a line ended by '\r': the next line read drops one leading '\n';
    // raw reads take bytes exactly and clear it.
    bool dropLf = false;

    // ---- helpers of the units (uzsession.cpp)

    // Classifies the line just read (length from getPeerCommand).
    UzLine classifyLine(int length) const;
    // Raw reply data: the surplus first, then one readSocket of at most
    // size bytes; clears dropLf. Bytes given; 0 for a time-out or end of
    // stream; -1 on an error.
    ssize_t readPayload(char* buffer, size_t size);

private:
    // How a line may go out again when the connection breaks before the
    // reply's first byte.
    enum class Resend { kOnce, kWhole, kQuit };

    std::unique_ptr<UzResponse> runRetr(std::string_view library, std::string_view member,
                                        std::optional<std::string_view> outdir, std::string* data,
                                        UzMemberSink* sink);
    int openConnection(in_addr_t address, unsigned toPort, int* connectError);
    std::unique_ptr<UzResponse> readGreeting(bool proxied);
    bool passProxy();
    bool connectOk();
    bool connectionStale();
    int sendLine(std::string_view line, Resend resend);
    int sendAll(std::string_view data);
    bool resendLastCommand();
    bool takeOwedLineEnd(char c);
    void dropOwedLineEnd();
    void takeSurplus();
    int cutLine(size_t end);

    // The last command line while it may be sent once more (else empty).
    std::string lastCommand_;
    // No byte of the reply to the last command has come yet.
    bool replyPending_ = false;
    // The last command already went out a second time.
    bool resent_ = false;
    // The first line of this reply follows UPDFILE or RMFILE.
    bool extendFirstLine_ = false;
    // The last line filled cmd without its end: a line end next is its own.
    bool cutPiece_ = false;
};

// TelnetProxyCmd as written to the proxy: its first two "%s" become address
// and port, "%%" becomes "%", any other '%' is copied. The text comes from
// the configuration and is never used as a printf format.
std::string formatProxyCommand(std::string_view command, std::string_view address, std::string_view port);

// The line sendCommand sends, its line feed included, into *line. 0 when it
// may go; else the number of the message refusing it: 462 for CR, LF or NUL
// in the word or an argument, or an argument that would go quoted ending in
// '\'; 456 for more than kCommandLineMax characters before the line feed.
int buildCommandLine(std::string_view word, std::span<const UzArg> args, std::string* line);

// The value of cookie name in HTTP_COOKIE (as getcookieforpn), or none.
std::optional<std::string> getcookiepn(const char* name);
// Replaces every from in text by to, in place; gives text.
char* str_replace(char* text, char from, char to);

}  // namespace ruva

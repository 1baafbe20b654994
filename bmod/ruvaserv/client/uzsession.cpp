// The session's connection, sending, reading and the reply classification
// the command units share.
//
// One buffer, cmd, holds the line being read and, behind the last line
// returned, the surplus (restData, restCnt) that came with it. Reads fill it
// up to kReplyLineMax characters, so a line and its surplus never exceed
// it; the next line starts by moving the surplus to the front.
#include "bmod/ruvaserv/client/uzsession.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "common/fd_io.h"
#include "common/html_escape.h"
#include "common/quoting.h"
#include "common/text.h"
#include "common/text_view.h"
#include "common/tokens.h"

namespace ruva {
namespace {

UzWaits gWaits;
UzConnectFunction gConnect = nullptr;

using Clock = std::chrono::steady_clock;

// The proxy's lines before the greeting are read at most this often.
constexpr int kProxyLinesMax = 32;
constexpr std::string_view kGreetingMark = "200 UZD";
constexpr const char* kClosedByServer = "connection closed by server";

// A wait ending at a fixed moment; below 1 second means no limit.
class Deadline {
public:
    explicit Deadline(time_t seconds) {
        if (seconds >= 1)
            end_ = Clock::now() + std::chrono::seconds(std::min<time_t>(seconds, INT_MAX / 1000));
    }
    // poll's timeout: the milliseconds left, rounded up; -1 without limit.
    int pollMs() const {
        if (!end_) return -1;
        auto left = std::chrono::ceil<std::chrono::milliseconds>(*end_ - Clock::now()).count();
        return left > 0 ? static_cast<int>(left) : 0;
    }
    bool passed() const { return end_ && Clock::now() >= *end_; }

private:
    std::optional<Clock::time_point> end_;
};

// Waits for events on fd until the deadline, a signal resuming the wait.
// 1 ready, 0 time-out, -1 failure with errno.
int waitFor(int fd, short events, const Deadline& deadline) {
    for (;;) {
        pollfd p{fd, events, 0};
        int r = ::poll(&p, 1, deadline.pollMs());
        if (r > 0) return 1;
        if (r == 0) {
            if (deadline.passed()) return 0;
            continue;
        }
        if (errno != EINTR) return -1;
    }
}

// The decimal number a reply line begins with; at most nine digits count.
int leadingNumber(const char* text, size_t length) {
    int value = 0;
    for (size_t i = 0; i < length && i < 9 && isAsciiDigit(static_cast<unsigned char>(text[i])); ++i)
        value = value * 10 + (text[i] - '0');
    return value;
}

bool isLineEnd(char c) {
    return c == '\n' || c == '\r';
}

bool startsWithWord(std::string_view line, std::string_view word) {
    return startsCaseBlindAt(line, 0, word) &&
           (line.size() == word.size() || line[word.size()] == ' ' || line[word.size()] == '\n');
}

// The daemon refreshes its catalogue after these before it reads the next
// command, and they must never reach it twice.
bool isUpdateLine(std::string_view line) {
    return startsWithWord(line, "UPDFILE") || startsWithWord(line, "RMFILE");
}

bool needsQuotes(std::string_view text) {
    return text.empty() || std::any_of(text.begin(), text.end(), [](char c) {
               return isAsciiSpace(static_cast<unsigned char>(c)) || c == '"' || c == '\'';
           });
}

// One argument as the daemon's getNextToken will read it back; nullopt
// when it cannot go.
std::optional<std::string> argumentText(const UzArg& arg) {
    const std::string text(arg.text);
    std::string out;
    switch (arg.kind) {
        case UzArgKind::kRaw:
            return text;
        case UzArgKind::kFreeText:
            out = needsQuotes(text) ? quoteString(text.c_str()) : text;
            break;
        case UzArgKind::kLibrary:
            if (!text.empty() && text[0] == '"') return text;
            out = text.find('.') != std::string::npos || needsQuotes(text) ? quoteString(text.c_str()) : text;
            break;
        case UzArgKind::kPattern:
            out = quoteString(text.c_str());
            break;
        case UzArgKind::kField:
            out = "\"";
            for (char c : text) {
                if (c == '"') out += '\\';
                out += c;
            }
            out += '"';
            break;
    }
    // getNextToken takes the closing \" of a word ending in '\' for a quote
    // inside it, and the rest of the line would shift.
    if (out != text && out.size() >= 2 && out[out.size() - 2] == '\\') return std::nullopt;
    return out;
}

bool holdsLineBreakOrNul(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

}  // namespace

const UzWaits& uzWaits() {
    return gWaits;
}

void setUzWaits(const UzWaits& waits) {
    gWaits = waits;
}

UzConnectFunction setUzConnectFunction(UzConnectFunction function) {
    UzConnectFunction old = gConnect;
    gConnect = function;
    return old;
}

std::string formatProxyCommand(std::string_view command, std::string_view address, std::string_view port) {
    std::string out;
    int substituted = 0;
    for (size_t i = 0; i < command.size(); ++i) {
        char c = command[i];
        char after = i + 1 < command.size() ? command[i + 1] : '\0';
        if (c == '%' && after == '%') {
            out += '%';
            ++i;
        } else if (c == '%' && after == 's' && substituted < 2) {
            out += substituted++ == 0 ? address : port;
            ++i;
        } else {
            out += c;
        }
    }
    return out;
}

int buildCommandLine(std::string_view word, std::span<const UzArg> args, std::string* line) {
    line->assign(word);
    if (holdsLineBreakOrNul(word)) return 462;
    for (const UzArg& arg : args) {
        if (holdsLineBreakOrNul(arg.text)) return 462;
        if (arg.kind == UzArgKind::kLibrary && arg.text.empty()) continue;
        std::optional<std::string> text = argumentText(arg);
        if (!text) return 462;
        if (line->size() + 1 + text->size() > kCommandLineMax) return 456;
        *line += ' ';
        *line += *text;
    }
    if (line->size() > kCommandLineMax) return 456;
    *line += '\n';
    return 0;
}

UzSession::UzSession(uint16_t sessionFlags) : flags(sessionFlags) {}

UzSession::~UzSession() {
    if (!(flags & kSessConnected)) return;
    // QUIT's line is only waited for briefly, whatever came before.
    afterUpdate = false;
    if (sendCommand("QUIT")) getPeerCommand(std::max<time_t>(1, uzWaits().quitOnDelete.count()));
    disconnect();
}

// ---- connecting

int UzSession::openConnection(in_addr_t address, unsigned toPort, int* connectError) {
    *connectError = 0;
    Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.valid()) {
        setError(msgFormat(380, "uzsession/1"), strerror(errno));
        return -1;
    }
    int fileFlags = fcntl(fd.get(), F_GETFL);
    if (fileFlags < 0 || fcntl(fd.get(), F_SETFL, fileFlags | O_NONBLOCK) < 0) {
        setError(msgFormat(381, "uzsession/2"), strerror(errno));
        return -1;
    }
    saddr = {};
    saddr.sin_family = AF_INET;
    saddr.sin_port = htons(static_cast<uint16_t>(toPort));
    saddr.sin_addr.s_addr = address;
    UzConnectFunction call = gConnect ? gConnect : ::connect;
    // An interrupted connect goes on in the background, like one in progress.
    if (call(fd.get(), reinterpret_cast<const sockaddr*>(&saddr), sizeof saddr) < 0) {
        if (errno != EINPROGRESS && errno != EINTR) {
            *connectError = errno;
            return -1;
        }
        int ready = waitFor(fd.get(), POLLOUT, Deadline(uzWaits().connect.count()));
        int soError = 0;
        socklen_t length = sizeof soError;
        if (ready == 0)
            soError = ETIMEDOUT;
        else if (ready < 0 || getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &soError, &length) < 0)
            soError = errno;
        if (soError != 0) {
            *connectError = soError;
            return -1;
        }
    }
    return fd.release();
}

std::unique_ptr<UzResponse> UzSession::connect() {
    if (flags & kSessConnected) disconnect();
    for (bool proxied = false;; proxied = true) {
        const bool canFallBack = !proxied && (flags & kSessProxyAllowed) && proxyIaddr != 0;
        int connectError = 0;
        int fd = proxied ? openConnection(proxyIaddr, proxyPort, &connectError)
                         : openConnection(iaddr, port, &connectError);
        if (fd < 0) {
            if (connectError == ETIMEDOUT)
                setError(msgFormat(382, "uzsession/3"), getServerAddr());
            else if (connectError != 0)
                setError("%s", strerror(connectError));
            const bool fallBackError = connectError == ECONNREFUSED || connectError == ENETUNREACH ||
                                       connectError == EHOSTUNREACH || connectError == ETIMEDOUT;
            if (canFallBack && fallBackError) continue;
            return nullptr;
        }
        sockfd = fd;
        flags |= kSessConnected;
        if (getPeerCommand(0) < 0) {
            disconnect();
            if (canFallBack) continue;
            return nullptr;
        }
        return readGreeting(proxied);
    }
}

// The proxy wrote its line; it now gets the command naming the server and
// relays, and the server's greeting shows up among its lines.
bool UzSession::passProxy() {
    std::string server = getServerAddr();
    size_t colon = server.rfind(':');
    std::string command = formatProxyCommand(proxyCmd, std::string_view(server).substr(0, colon),
                                             std::string_view(server).substr(colon + 1));
    if (int err = sendAll(command); err != 0) {
        setError(msgFormat(457, "uzsession/66"), strerror(err));
        return false;
    }
    for (int i = 0; i < kProxyLinesMax; ++i) {
        int length = getPeerCommand(0);
        if (length < 0) return false;
        std::string_view line(cmd.data(), static_cast<size_t>(length));
        size_t mark = line.find(kGreetingMark);
        if (mark == std::string_view::npos) continue;
        cmdCnt = line.size() - mark;
        std::memmove(cmd.data(), cmd.data() + mark, cmdCnt);
        cmd[cmdCnt] = '\0';
        return true;
    }
    setError(msgFormat(384, "uzsession/5"));
    return false;
}

std::unique_ptr<UzResponse> UzSession::readGreeting(bool proxied) {
    if (proxied && !proxyCmd.empty() && !passProxy()) {
        disconnect();
        return nullptr;
    }
    std::unique_ptr<UzResponse> r = allocResponse(RT_CONNECT);
    if (!r) {
        disconnect();
        return nullptr;
    }
    const size_t length = cmdCnt;
    r->resultCode = leadingNumber(cmd.data(), length);
    r->resultMessage.assign(replyText(std::string_view(cmd.data(), length)));
    // A short greeting is no success, whatever its digits say.
    if (length <= 3) {
        r->resultCode = 500;
        r->resultMessage = getMsgStr(383, "uzsession/4");
        r->clientMessage = true;
        setError(msgFormat(383, "uzsession/4"));
        disconnect();
        return r;
    }
    if (r->resultCode != 200) {
        flags |= kSessAccessDenied;
        if (proxyIaddr != 0) flags |= kSessProxyAllowed;
        setError("%s", htmlEscaped(r->resultMessage));
        disconnect();
        return r;
    }
    flags &= ~kSessAccessDenied;
    // Through the proxy the direct way stays worth trying next time.
    if (!proxied) flags &= ~kSessProxyAllowed;
    std::string words = r->resultMessage;
    char* cursor = words.data();
    const char* first = getNextToken(&cursor);
    if (!first || std::strcmp(first, "UZD") != 0) {
        r->resultCode = 500;
        r->resultMessage = getMsgStr(384, "uzsession/5");
        r->clientMessage = true;
        setError(msgFormat(384, "uzsession/5"));
        disconnect();
        return r;
    }
    UzConnectEntry* entry = r->connect();
    std::string* fields[] = {&entry->article, &entry->revision, &entry->comment};
    if (const char* name = getNextToken(&cursor)) {
        entry->servName = name;
        for (std::string* field : fields) {
            const char* word = getNextToken(&cursor);
            if (!word) break;
            *field = word;
        }
    }
    return r;
}

bool UzSession::connectOk() {
    std::unique_ptr<UzResponse> r = connect();
    return r && r->resultCode == 200;
}

void UzSession::disconnect() {
    if (sockfd >= 0) {
        ::shutdown(sockfd, SHUT_RDWR);
        ::close(sockfd);
    }
    sockfd = -1;
    flags &= ~kSessConnected;
    restData = nullptr;
    restCnt = 0;
    dropLf = false;
    cutPiece_ = false;
    replyPending_ = false;
}

std::string UzSession::getServerAddr() const {
    if (iaddr == 0 || port == 0) return "Unknown";
    char text[INET_ADDRSTRLEN] = {};
    in_addr address{};
    address.s_addr = iaddr;
    inet_ntop(AF_INET, &address, text, sizeof text);
    return std::string(text) + ":" + std::to_string(port);
}

// ---- sending

int UzSession::sendCommand(std::string_view word, std::span<const UzArg> args) {
    std::string line;
    switch (buildCommandLine(word, args, &line)) {
        case 0:
            break;
        case 462:
            setError(msgFormat(462, "uzsession/72"));
            return 0;
        default:
            setError(msgFormat(456, "uzsession/65"));
            return 0;
    }
    Resend resend = Resend::kWhole;
    if (startsWithWord(line, "QUIT"))
        resend = Resend::kQuit;
    else if (isUpdateLine(line))
        resend = Resend::kOnce;
    return sendLine(line, resend);
}

int UzSession::sendCmdBuffer(std::string_view data) {
    return sendLine(data, Resend::kOnce);
}

// Whether the connection can no longer carry a command: the server closed
// it, or bytes wait that no reply accounts for (an earlier reply not read
// to its end), which the next reply would be taken from.
bool UzSession::connectionStale() {
    while (restCnt > 0 && takeOwedLineEnd(*restData)) {
        restData = --restCnt > 0 ? restData + 1 : nullptr;
    }
    if (restCnt > 0) return true;
    for (;;) {
        pollfd p{sockfd, POLLIN, 0};
        if (::poll(&p, 1, 0) <= 0) return false;
        char c = 0;
        ssize_t n = ::recv(sockfd, &c, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n < 0) return errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR;
        if (n == 0 || !takeOwedLineEnd(c)) return true;
        (void)::recv(sockfd, &c, 1, MSG_DONTWAIT);
    }
}

// Every byte of data, or the errno that stopped it (ETIMEDOUT when the
// server took nothing for commandTimeout).
int UzSession::sendAll(std::string_view data) {
    size_t sent = 0;
    while (sent < data.size()) {
        ssize_t n = ::send(sockfd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return errno;
        int ready = waitFor(sockfd, POLLOUT, Deadline(commandTimeout));
        if (ready == 0) return ETIMEDOUT;
        if (ready < 0) return errno;
    }
    return 0;
}

int UzSession::sendLine(std::string_view line, Resend resend) {
    if ((flags & kSessConnected) && connectionStale()) {
        disconnect();
        if (resend == Resend::kQuit) {
            setError(msgFormat(454, "uzsession/63"), kClosedByServer);
            return 0;
        }
    }
    if (!(flags & kSessConnected) && !connectOk()) return 0;
    extendFirstLine_ = afterUpdate;
    afterUpdate = isUpdateLine(line);
    bool again = false;
    for (;; again = true) {
        int err = sendAll(line);
        if (err == 0) break;
        // What went out of a broken line must never reach another session
        // of the daemon: only the whole line goes, once more.
        disconnect();
        if (resend != Resend::kWhole || again || (err != EPIPE && err != ECONNRESET)) {
            setError(msgFormat(457, "uzsession/66"), strerror(err));
            return 0;
        }
        if (!connectOk()) return 0;
    }
    lastCommand_.assign(resend == Resend::kWhole ? line : std::string_view());
    replyPending_ = true;
    resent_ = again;
    return 1;
}

// The connection broke before the reply began: the whole last command on a
// new one.
bool UzSession::resendLastCommand() {
    std::string line = std::move(lastCommand_);
    lastCommand_.clear();
    disconnect();
    if (!connectOk()) return false;
    if (int err = sendAll(line); err != 0) {
        disconnect();
        setError(msgFormat(457, "uzsession/66"), strerror(err));
        return false;
    }
    replyPending_ = true;
    resent_ = true;
    return true;
}

// ---- reading

// Whether c, the first byte after the last line, still belongs to that
// line's end: the '\n' after its '\r', or the line end after a piece of
// exactly kReplyLineMax characters (then a line of that length comes
// whole). Settles what is owed next either way.
bool UzSession::takeOwedLineEnd(char c) {
    const bool owed = cutPiece_ ? isLineEnd(c) : dropLf && c == '\n';
    dropLf = owed && cutPiece_ && c == '\r';
    cutPiece_ = false;
    return owed;
}

// Drops from the front of cmd what ends the previous line.
void UzSession::dropOwedLineEnd() {
    while (cmdCnt > 0 && (dropLf || cutPiece_) && takeOwedLineEnd(cmd[0]))
        std::memmove(cmd.data(), cmd.data() + 1, --cmdCnt);
}

void UzSession::takeSurplus() {
    cmdCnt = 0;
    if (restCnt > 0) {
        std::memmove(cmd.data(), restData, restCnt);
        cmdCnt = restCnt;
    }
    restData = nullptr;
    restCnt = 0;
    dropOwedLineEnd();
    cmdPtr = cmd.data() + cmdCnt;
}

// Ends the line at end (an index of its '\n' or '\r'), or at cmdCnt when
// end is past it; what follows the end is the surplus.
int UzSession::cutLine(size_t end) {
    if (end < cmdCnt) {
        // After a CR the next line drops one LF: a relay writing CR LF
        // gives one line end, not an empty line after each.
        dropLf = cmd[end] == '\r';
        restCnt = cmdCnt - end - 1;
        restData = restCnt > 0 ? cmd.data() + end + 1 : nullptr;
        cmdCnt = end;
    } else {
        cutPiece_ = cmdCnt >= kReplyLineMax;
    }
    cmd[cmdCnt] = '\0';
    cmdPtr = cmd.data() + cmdCnt;
    replyPending_ = false;
    extendFirstLine_ = false;
    return static_cast<int>(cmdCnt);
}

int UzSession::getPeerCommand(time_t timeout) {
    if (!(flags & kSessConnected) || sockfd < 0) {
        setError(msgFormat(453, "uzsession/62"));
        return -1;
    }
    time_t wait = timeout == 0 ? commandTimeout : timeout;
    if (extendFirstLine_ && replyPending_ && wait >= 1)
        wait = std::max<time_t>(wait, commandTimeout + uzWaits().afterUpdate.count());
    Deadline deadline(wait);
    takeSurplus();
    size_t scanned = 0;
    for (;;) {
        auto held = cmd.begin() + static_cast<std::ptrdiff_t>(cmdCnt);
        auto end = std::find_if(cmd.begin() + static_cast<std::ptrdiff_t>(scanned), held, isLineEnd);
        if (end != held || cmdCnt >= kReplyLineMax) return cutLine(static_cast<size_t>(end - cmd.begin()));
        scanned = cmdCnt;
        int ready = waitFor(sockfd, POLLIN, deadline);
        if (ready == 0 && searchRead) {
            searchRead = false;
            disconnect();
            return kSearchTimedOut;
        }
        if (ready <= 0) {
            setError(msgFormat(454, "uzsession/63"), strerror(ready == 0 ? ETIMEDOUT : errno));
            disconnect();
            return -1;
        }
        ssize_t n = ::recv(sockfd, cmd.data() + cmdCnt, kReplyLineMax - cmdCnt, 0);
        if (n > 0) {
            cmdCnt += static_cast<size_t>(n);
            if (cmdCnt == static_cast<size_t>(n)) dropOwedLineEnd();
            if (cmdCnt > 0) replyPending_ = false;
            cmdPtr = cmd.data() + cmdCnt;
            continue;
        }
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
        const int err = n < 0 ? errno : 0;
        const bool broken = n == 0 || err == ECONNRESET;
        if (broken && cmdCnt == 0 && replyPending_ && !resent_ && !lastCommand_.empty()) {
            if (!resendLastCommand()) return -1;
            deadline = Deadline(wait);
            takeSurplus();
            scanned = 0;
            continue;
        }
        if (n == 0 && cmdCnt > 0) {
            // The server closed after a last line without its end.
            cutLine(cmdCnt);
            disconnect();
            return static_cast<int>(cmdCnt);
        }
        if (n == 0)
            setError(msgFormat(454, "uzsession/63"), kClosedByServer);
        else
            setError(msgFormat(455, "uzsession/64"), strerror(err));
        disconnect();
        return -1;
    }
}

ssize_t UzSession::readSocket(char* buffer, size_t size) {
    if (!(flags & kSessConnected) || sockfd < 0) {
        setError(msgFormat(453, "uzsession/62"));
        return -1;
    }
    dropLf = false;
    cutPiece_ = false;
    if (size == 0) return 0;
    Deadline deadline(commandTimeout > 0 ? commandTimeout : uzWaits().rawData.count());
    for (;;) {
        int ready = waitFor(sockfd, POLLIN, deadline);
        if (ready == 0) return 0;
        ssize_t n = ready < 0 ? -1 : ::recv(sockfd, buffer, size, 0);
        if (n > 0) {
            replyPending_ = false;
            return n;
        }
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
        if (n == 0)
            setError(msgFormat(454, "uzsession/63"), kClosedByServer);
        else
            setError(msgFormat(455, "uzsession/64"), strerror(errno));
        disconnect();
        return n;
    }
}

ssize_t UzSession::readPayload(char* buffer, size_t size) {
    if (restCnt == 0) return readSocket(buffer, size);
    dropLf = false;
    cutPiece_ = false;
    size_t n = std::min(size, restCnt);
    std::memcpy(buffer, restData, n);
    restCnt -= n;
    restData = restCnt > 0 ? restData + n : nullptr;
    return static_cast<ssize_t>(n);
}

UzLine UzSession::classifyLine(int length) const {
    UzLine line;
    if (length < 0) return line;
    const size_t len = std::min(static_cast<size_t>(length), kReplyLineMax);
    line.code = leadingNumber(cmd.data(), len);
    line.text = replyText(std::string_view(cmd.data(), len));
    if (len <= 2) {
        line.kind = UzLineKind::kShort;
    } else if (cmd[0] != '2' && cmd[0] != '3') {
        line.kind = UzLineKind::kError;
    } else if (len >= 4 && cmd[3] == '-') {
        line.kind = line.code <= 299 ? UzLineKind::kEnd : UzLineKind::kHeader;
    } else {
        line.kind = UzLineKind::kEntry;
    }
    return line;
}

}  // namespace ruva

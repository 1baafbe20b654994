// Reply lines of the daemon protocol and the one writer every reply goes
// through.
//
// A reply line is three digits, a separator ('-' for headers and final
// lines, ' ' for entries) and text, ended by one LF. A reply ends with one
// final line: a 2xx line, or a 4xx/5xx line after which nothing follows.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ruva {

inline constexpr int kReplyOk = 200;             // greeting, single-line answer, success end
inline constexpr int kReplyData = 300;           // header or entry
inline constexpr int kReplyUnpackFailed = 310;   // mid-reply: a member could not be unpacked
inline constexpr int kReplyTooManyHits = 348;
inline constexpr int kReplyNoHits = 349;
inline constexpr int kReplySyntax = 400;         // syntax, unknown or missing command, not found
inline constexpr int kReplyFailed = 500;         // failure; "Access denied." before the greeting
inline constexpr int kReplyNoDatabases = 510;
inline constexpr int kReplyInvalid = 511;
inline constexpr int kReplyNoMemory = 514;
inline constexpr int kReplyUnknownNode = 519;
inline constexpr int kReplyBusy = 520;           // update lock not obtained
inline constexpr int kReplyNoUploadFolder = 550;
inline constexpr int kReplyBeingUpdated = 577;
inline constexpr int kReplyRemoved = 578;

inline constexpr char kReplyHeader = '-';
inline constexpr char kReplyEntry = ' ';

// Replies buffered per session: lines collect until the reply's final line,
// raw data, a full buffer or flush(), so small lines do not stall on Nagle
// and delayed ACK. Writes use send with MSG_NOSIGNAL: a client that went
// away gives a failed write, never SIGPIPE. After the first failed write
// every call fails. The descriptor is not owned.
class ReplyWriter {
public:
    explicit ReplyWriter(int fd) : fd_(fd) {}
    ReplyWriter(const ReplyWriter&) = delete;
    ReplyWriter& operator=(const ReplyWriter&) = delete;

    // Starts the reply to the next command.
    void beginReply() { ended_ = false; }

    // "%03d%c" code and separator, the formatted text, LF. A 2xx, 4xx or
    // 5xx line ends the reply and is sent at once. The text is written as
    // formatted: build text fields with quotedField or plainField. false,
    // writing nothing, once the reply has ended or a write failed.
    bool line(int code, char separator, const char* format, ...) __attribute__((format(printf, 4, 5)));
    // Sends what is buffered, then the bytes unchanged (length-framed data,
    // fields with their own separators). false on a failed write or after
    // the reply ended.
    bool raw(const void* data, size_t size);
    // Sends what is buffered; call before any wait that may block.
    bool flush();

    bool failed() const { return failed_; }
    bool ended() const { return ended_; }
    int fd() const { return fd_; }

    // A free text as a reply field: controls (NUL, CR, LF, tab...) as
    // blanks, then quoteString; a backslash that would stand right before
    // the closing quote gets a blank after it, so it cannot escape the
    // quote. Null: absent, "" (an empty text gives "\"\"").
    static std::string quotedField(const char* text);
    static std::string quotedField(std::string_view text);
    // The text with controls as blanks, for the greeting, VER and the
    // broadcast line, which carry the comment unescaped between quotes.
    // Null gives "".
    static std::string plainField(const char* text);
    static std::string plainField(std::string_view text);

private:
    bool send(const char* data, size_t size);

    int fd_;
    bool ended_ = false;
    bool failed_ = false;
    std::string buffer_;
};

}  // namespace ruva

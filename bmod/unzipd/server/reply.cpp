#include "bmod/unzipd/server/reply.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>

#include "common/quoting.h"
#include "common/string_format.h"
#include "common/text.h"

namespace ruva {
namespace {

// Past this a listing goes out in pieces instead of growing the buffer.
constexpr size_t kReplyBufferMax = 64 * 1024;

bool endsReply(int code) { return code < kReplyData || code >= kReplySyntax; }

}  // namespace

bool ReplyWriter::send(const char* data, size_t size) {
    while (size > 0 && !failed_) {
        ssize_t n = ::send(fd_, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            failed_ = true;
            break;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return !failed_;
}

bool ReplyWriter::flush() {
    if (failed_) return false;
    bool ok = send(buffer_.data(), buffer_.size());
    buffer_.clear();
    return ok;
}

bool ReplyWriter::line(int code, char separator, const char* format, ...) {
    if (ended_ || failed_) return false;
    va_list ap;
    va_start(ap, format);
    std::string text = vformat(format, ap);
    va_end(ap);
    char head[8];
    std::snprintf(head, sizeof head, "%03d%c", code, separator);
    buffer_ += head;
    buffer_ += text;
    buffer_ += '\n';
    if (endsReply(code)) {
        ended_ = true;
        return flush();
    }
    return buffer_.size() < kReplyBufferMax || flush();
}

bool ReplyWriter::raw(const void* data, size_t size) {
    if (ended_ || !flush()) return false;
    return send(static_cast<const char*>(data), size);
}

std::string ReplyWriter::plainField(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (isAsciiControl(static_cast<unsigned char>(c))) c = ' ';
    return out;
}

std::string ReplyWriter::plainField(const char* text) {
    return text != nullptr ? plainField(std::string_view(text)) : std::string();
}

std::string ReplyWriter::quotedField(std::string_view text) {
    std::string out = quoteString(plainField(text).c_str());
    // getNextToken reads \" as a quote inside the field: a text ending in a
    // backslash would swallow the closing quote. An inner quote comes out
    // as \" before the closing one, so only such a text ends in \".
    if (out.size() >= 2 && out.back() == '"' && out[out.size() - 2] == '\\') out.insert(out.size() - 1, 1, ' ');
    return out;
}

std::string ReplyWriter::quotedField(const char* text) {
    return text != nullptr ? quotedField(std::string_view(text)) : std::string();
}

}  // namespace ruva

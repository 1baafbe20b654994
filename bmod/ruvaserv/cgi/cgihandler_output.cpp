#include <signal.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/client/uzsession.h"
#include "common/docmodel/comment_tokens.h"
#include "common/docmodel/docno.h"
#include "common/mapped_file.h"
#include "common/net_util.h"
#include "common/url_code.h"

namespace ruva {

namespace {

time_t (*gResponseClock)() = nullptr;

time_t responseNow() {
    return gResponseClock ? gResponseClock() : time(nullptr);
}

// The used bytes, or the text up to the first NUL when that is longer. A
// NUL right at used (every append leaves one) settles it without scanning
// the page.
size_t keptLength(const char* buf, size_t capacity, size_t used) {
    if (used < capacity && buf[used] == '\0') return used;
    return std::max(used, strnlen(buf, capacity));
}

// Moves a buffer to a new mapping of n bytes holding its used bytes, or its
// text up to the first NUL when a writer left that longer, as far as they
// fit with a NUL; release frees the old buffer. Copying only up to the NUL
// would drop what was appended behind the zero bytes allocDocBuf counts as
// used. 0, the buffer as it was, when no mapping can be had. A buffer that is
// a mapping of its own (mapped) and grows keeps its pages instead of copying
// them: a page grown from empty is remapped a dozen times.
template <class Release>
int remapBuffer(char*& buf, size_t& capacity, size_t& used, size_t n, bool mapped, Release release) {
    if (buf && mapped && n > capacity) {
        const size_t keep = std::min(keptLength(buf, capacity, used), capacity);
        size_t size = n;
        if (char* moved = static_cast<char*>(growMem(buf, capacity, keep, &size))) {
            buf = moved;
            capacity = size;
            used = std::min(used, keep);
            return 1;
        }
    }
    size_t size = n;
    char* fresh = static_cast<char*>(mapMem(&size));
    if (!fresh) return 0;
    size_t keep = buf ? std::min({keptLength(buf, capacity, used), capacity, size - 1}) : 0;
    if (keep) std::memcpy(fresh, buf, keep);
    size_t kept = std::min(used, keep);
    release();
    buf = fresh;
    capacity = size;
    used = kept;
    return 1;
}

// Appends text at *offs when it stays below capacity with its NUL.
int appendBelow(char* buf, size_t capacity, size_t* offs, std::string_view text) {
    if (!buf || *offs >= capacity || text.size() >= capacity - *offs) return 0;
    // An empty view may carry no address, which memcpy must not get.
    if (!text.empty()) std::memcpy(buf + *offs, text.data(), text.size());
    *offs += text.size();
    buf[*offs] = '\0';
    return 1;
}

bool putAll(FILE* fp, std::string_view text) {
    return std::fwrite(text.data(), 1, text.size(), fp) == text.size();
}

// The body goes out in pieces of at most 4096 bytes; a short piece ends it.
bool putBody(FILE* fp, const char* data, size_t len) {
    constexpr size_t kPiece = 4096;
    for (size_t done = 0; done < len;) {
        size_t n = std::min(kPiece, len - done);
        if (std::fwrite(data + done, 1, n, fp) != n) return false;
        done += n;
    }
    return true;
}

std::string_view fieldValue(const CgiHandler& cg, const char* name) {
    const Value* v = cg.valueList ? cg.valueList->findValue(name) : nullptr;
    return v ? std::string_view(v->value) : std::string_view();
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && strncasecmp(text.data(), prefix.data(), prefix.size()) == 0;
}

// The built-in help: pages that change only with the program expire late.
bool isHelpPage(std::string_view fn) {
    static constexpr std::string_view kHelpPages[] = {
        "help.html",         "help_search.html", "help_toolbar.html", "help_lists.html",
        "help_compare.html", "help_notes.html",  "help_print.html",
    };
    return std::any_of(std::begin(kHelpPages), std::end(kHelpPages), [&](std::string_view page) {
        return fn.size() == page.size() && strncasecmp(fn.data(), page.data(), fn.size()) == 0;
    });
}

time_t prelOrReleased(const CgiHandler& cg, bool preliminary) {
    if (!preliminary) return cg.expiryRRelDoc;
    return cg.bNotes ? cg.expiryPrelDocNotes : cg.expiryPrelDoc;
}

// Whether the library of a kivodoc.html page (field ID) is preliminary, by
// the identity in its listing entry; a library the server cannot name
// counts as released.
bool kivodocLibraryIsPreliminary(CgiHandler& cg) {
    if (!cg.establishDefaultSession()) return false;
    std::string_view id = fieldValue(cg, "ID");
    if (id.empty()) return false;
    std::unique_ptr<UzResponse> reply = cg.sess->mllist(id);
    const UzMlListEntry* entry = reply && reply->resultCode == 200 ? reply->mllist() : nullptr;
    if (!entry || !entry->filled()) return false;
    std::string title, identity;
    extractLibTitleId(entry->comment, title, identity);
    for (char& c : identity) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return isPrelLib(identity);
}

// Seconds until the sent page expires; 0 for no Expires line.
time_t responseExpiry(CgiHandler& cg) {
    std::string_view fn = fieldValue(cg, "FN");
    std::string_view ac = fieldValue(cg, "AC");
    time_t period = isHelpPage(fn) ? kLongExpirePeriod : cg.expirePeriod;
    if (!cg.notesEnabled && ac != "CONREF") return period;
    // Notes change under the reader's hands: their pages expire at once.
    if (startsWithNoCase(ac, "NOTE") || !fieldValue(cg, "NI").empty()) return period ? 1 : 0;
    if (fn != "kivodoc.html") {
        std::string docno, rev;
        std::optional<std::string> type;
        std::string name(fn);
        if (!splitDocnoFilename(name.c_str(), &docno, &rev, &type) || type != "html") return period;
        if (ac == "CONREF") {
            if (!rev.empty() && rev[0] == '*') return cg.expiryMyDoc ? cg.expiryMyDocLatestRel : 0;
            return cg.expiryMyDoc;
        }
        return prelOrReleased(cg, !rev.empty() && rev[0] == 'P');
    }
    return prelOrReleased(cg, kivodocLibraryIsPreliminary(cg));
}

// The Content-Disposition line, or "" when the page is shown as it is.
std::string dispositionLine(const CgiHandler& cg) {
    static constexpr std::string_view kAttachmentTypes[] = {
        "application/xml",
        "application/x-pemrusk-channel",
        "application/x-edml",
        "application/x-gtar",
        "application/x-rar-compressed",
        "application/x-sdlflow",
        "application/sgml",
        "application/x-tar",
        "application/zip",
    };
    const bool save = fieldValue(cg, "SV") == "1";
    if (!save && cg.mimeFilename.empty()) return {};
    std::string name;
    if (save) {
        // "._." becomes "." (built anew: gcc 12 misreads an in-place replace
        // as an overlapping copy).
        const std::string& from = cg.mimeFilename;
        for (size_t i = 0; i < from.size();) {
            if (from.compare(i, 3, "._.") == 0) {
                name += '.';
                i += 3;
            } else {
                name += from[i++];
            }
        }
        size_t dot = name.find('.');
        if (name.find(".xls") == std::string::npos && dot != std::string::npos) name[dot] = '_';
    } else {
        name = cg.mimeFilename;
    }
    bool attach = save;
    if (!cg.mimeType.empty() && !cg.mimeFilename.empty()) {
        attach = attach || std::find(std::begin(kAttachmentTypes), std::end(kAttachmentTypes),
                                     std::string_view(cg.mimeType)) != std::end(kAttachmentTypes);
    }
    return formatChecked("Content-Disposition: %s; filename=%s\n", attach ? "attachment" : "inline",
                         CgiHandler::headerValue(name));
}

// Every header line of the response and the empty line after them.
std::string responseHeader(CgiHandler& cg, size_t length) {
    std::string head =
        formatChecked("Content-type: %s\n",
                      cg.mimeType.empty() ? std::string("text/html") : CgiHandler::headerValue(cg.mimeType));
    head += formatChecked("Content-length: %lu\n", static_cast<unsigned long>(length));
    head += dispositionLine(cg);
    time_t expiry = responseExpiry(cg);
    if (expiry != 0 && !(cg.flags & kCgiNoExpires)) {
        if (auto line = cg.createExpireHeader(expiry)) head += *line + "\n";
    }
    if (auto line = cg.createLastModifiedHeader()) head += *line + "\n";
    return head + "\n";
}

// The transfer time-out reports through this; nothing is logged.
template <class... Args>
void logError(const char*, const Args&...) {}

const CgiHandler* gTimeoutRequest = nullptr;

void onTransferTimeout(int) {
    const CgiHandler* cg = gTimeoutRequest;
    if (!cg) return;
    TextTable messages = cg->messages();
    if (cg->bHardLimit) {
        if (messages.size() > 467) logError(messages[467], cg->FileTransferTimeLimit);
        // exit() would run atexit handlers and stdio inside a signal handler.
        _exit(0);
    }
    if (messages.size() > 468) logError(messages[468], cg->FileTransferTimeLimit);
}

}  // namespace

int CgiHandler::allocDocBuf(size_t n) {
    freeDocBuf();
    const size_t wanted = n > SIZE_MAX - kDocBufSlack ? n : n + kDocBufSlack;
    size_t size = wanted;
    void* buf = wanted > n ? mapMem(&size) : nullptr;
    if (!buf) {
        setError(msg(234, "cgihandler/31"), static_cast<unsigned long>(wanted));
        return 0;
    }
    docBuf = static_cast<char*>(buf);
    docSize = n;
    docbufSize = size;
    flags |= kCgiDocBufMapped;
    return 1;
}

int CgiHandler::reallocDocBuf(size_t n) {
    const bool mapped = (flags & kCgiDocBufMapped) && !(flags & kCgiDocBufFile);
    if (!remapBuffer(docBuf, docbufSize, docSize, n, mapped, [this] { freeDocBuf(); })) {
        setError(msg(232, "cgihandler/30"), static_cast<unsigned long>(n));
        return 0;
    }
    flags |= kCgiDocBufMapped;
    return 1;
}

void CgiHandler::freeDocBuf() {
    if (docBuf) {
        if (flags & kCgiDocBufFile) {
            unmapFile(&docBuf, &docbufSize);
        } else if (flags & kCgiDocBufMapped) {
            unmapMem(docBuf, docbufSize);
        } else {
            std::free(docBuf);
        }
    }
    docBuf = nullptr;
    docSize = 0;
    docbufSize = 0;
    // A later buffer of another kind must not be released as this one was.
    flags &= ~(kCgiDocBufMapped | kCgiDocBufFile);
}

int CgiHandler::allocDstBuf(size_t n) {
    freeDstBuf();
    size_t size = n;
    void* buf = mapMem(&size);
    if (!buf) {
        setError(msg(230, "cgihandler/28"), static_cast<unsigned long>(n));
        return 0;
    }
    dstBuf = static_cast<char*>(buf);
    dstbufSize = size;
    dstOffs = 0;
    return 1;
}

int CgiHandler::reallocDstBuf(size_t n) {
    if (!remapBuffer(dstBuf, dstbufSize, dstOffs, n, true, [this] { freeDstBuf(); })) {
        setError(msg(231, "cgihandler/29"), static_cast<unsigned long>(n));
        return 0;
    }
    return 1;
}

void CgiHandler::freeDstBuf() {
    if (dstBuf) unmapMem(dstBuf, dstbufSize);
    dstBuf = nullptr;
    dstbufSize = 0;
    dstOffs = 0;
}

int CgiHandler::docWriteBuf(std::string_view text) {
    if (!docBuf) return 0;
    if (docSize > SIZE_MAX - kDocBufSlack - 1 - text.size()) return 0;
    // A mapped file is read-only, so the first write moves it into memory.
    // Growth keeps the slack that post-processing counts on.
    if ((flags & kCgiDocBufFile) || docSize + text.size() >= docbufSize) {
        if (!reallocDocBuf(docSize + text.size() + 1 + kDocBufSlack)) return 0;
    }
    return appendBelow(docBuf, docbufSize, &docSize, text);
}

int CgiHandler::dstWriteBuf(std::string_view text) {
    return dstAppend(text);
}

int CgiHandler::dstAppend(std::string_view text) {
    if (appendBelow(dstBuf, dstbufSize, &dstOffs, text)) return 1;
    if (!dstPass_ || !growDstFor(text.size())) return 0;
    return appendBelow(dstBuf, dstbufSize, &dstOffs, text);
}

// Doubling keeps a page of many insertions linear in its length.
int CgiHandler::growDstFor(size_t length) {
    const bool overflow = length > SIZE_MAX - 1 - dstOffs;
    const size_t needed = overflow ? SIZE_MAX : dstOffs + length + 1;
    const size_t doubled = dstbufSize > SIZE_MAX / 2 ? SIZE_MAX : dstbufSize * 2;
    const size_t n = std::max(needed, doubled);
    if (overflow || !reallocDstBuf(n)) {
        setError(msg(211, "cgihandler/13"), static_cast<unsigned long>(n));
        dstPassFailed_ = true;
        return 0;
    }
    return 1;
}

int CgiHandler::dstPrintFormatted(std::string_view text) {
    if (dstPass_) return dstAppend(text);
    if (!dstBuf || dstOffs >= dstbufSize) return 0;
    if (dstbufSize - dstOffs < kDstPrintfMinFree || !appendBelow(dstBuf, dstbufSize, &dstOffs, text)) {
        dstBuf[dstOffs] = '\0';
        return 0;
    }
    return 1;
}

int CgiHandler::dstWriteKvoURL() {
    if (!dstWriteBuf(urlProto + kivoServName + "?")) return 0;
    if ((flags & kCgiAllowUzOnUrl) && sess &&
        !dstWriteBuf("UZ=" + makeAddrString(sess->iaddr, sess->port) + "&amp;"))
        return 0;
    if (options && !dstWriteBuf(formatChecked("OP=%x&amp;", options))) return 0;
    if (curId) return dstWriteBuf(formatChecked("ID=%d&amp;", curId));
    // The URL goes into attributes and script strings alike: a name holding
    // "&#39;" must not turn back into a quote there.
    if (!curDb.empty()) return dstWriteBuf("DB=" + encodeLinkValue(curDb) + "&amp;");
    return 1;
}

int CgiHandler::output() {
    if (!cgifile || (flags & kCgiResponseDone)) return 0;
    const char* body = dstBuf ? dstBuf : docBuf;
    size_t length = dstBuf ? dstOffs : docSize;
    if (!body) {
        // Nothing written yet: the error page is the whole response.
        setError(msg(209, "cgihandler/11"));
        outputError(msg(209, "cgihandler/11"));
        flags |= kCgiResponseDone;
        return 0;
    }
    std::string head = responseHeader(*this, length);
    // From the first header line on, nothing else may follow this response.
    flags |= kCgiResponseDone;
    bool written = putAll(cgifile, head);
    if (!(flags & kCgiHeadRequest))
        written = written && std::fflush(cgifile) == 0 && putBody(cgifile, body, length);
    written = std::fflush(cgifile) == 0 && written;
    return written ? 1 : 0;
}

int CgiHandler::outputNoResponse() {
    if (!cgifile || (flags & kCgiResponseDone)) return 0;
    // A CGI/1.0 server would not pass the status on: the caller redirects.
    if (gatewayInterface.empty() || gatewayInterface.find("1.0") != std::string::npos) {
        setError(msg(242, "cgihandler/39"));
        return 0;
    }
    flags |= kCgiResponseDone;
    bool written = putAll(cgifile, getTextStr(104));
    return std::fflush(cgifile) == 0 && written ? 1 : 0;
}

std::string CgiHandler::headerValue(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        if (c != '\r' && c != '\n' && c != '\0') out += c;
    }
    return out;
}

std::optional<std::string> CgiHandler::createExpireHeader(time_t seconds) const {
    time_t when;
    if (__builtin_add_overflow(responseNow(), seconds, &when)) return std::nullopt;
    auto date = createHttpTime(when);
    if (!date) return std::nullopt;
    return getTextStr(105) + *date;
}

std::optional<std::string> CgiHandler::createLastModifiedHeader() const {
    if (!docCTime) return std::nullopt;
    auto date = createHttpTime(docCTime);
    if (!date) return std::nullopt;
    return getTextStr(106) + *date;
}

std::optional<std::string> CgiHandler::createHttpTime(time_t t) {
    struct tm tm;
    if (!gmtime_r(&t, &tm)) return std::nullopt;
    // tm_year + 1900 is done in long: it may not fit an int. A year before
    // 0 has no four-digit form.
    long year = tm.tm_year + 1900L;
    if (year < 0) return std::nullopt;
    return formatChecked("%s, %02d %s %04u %02u:%02u:%02u GMT", getTextStr(107 + tm.tm_wday), tm.tm_mday,
                         getTextStr(114 + tm.tm_mon), static_cast<unsigned>(year),
                         static_cast<unsigned>(tm.tm_hour), static_cast<unsigned>(tm.tm_min),
                         static_cast<unsigned>(tm.tm_sec));
}

void setResponseClock(time_t (*clock)()) {
    gResponseClock = clock;
}

int activateTimeout(CgiHandler& cg) {
    gTimeoutRequest = &cg;
    struct sigaction action = {};
    action.sa_handler = onTransferTimeout;
    sigemptyset(&action.sa_mask);
    sigaction(SIGALRM, &action, nullptr);
    long minutes = std::clamp<long>(cg.FileTransferTimeLimit, 0, UINT_MAX / 60);
    alarm(static_cast<unsigned>(minutes * 60));
    return 1;
}

void deactivateTimeout() {
    alarm(0);
    signal(SIGALRM, SIG_DFL);
    gTimeoutRequest = nullptr;
}

}  // namespace ruva

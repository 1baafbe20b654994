#include "common/docmodel/comment_tokens.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/byte_order.h"
#include "common/cookie.h"
#include "common/html_escape.h"
#include "common/text.h"
#include "common/tokens.h"
#include "common/zip_format.h"

namespace ruva {

namespace {

constexpr size_t npos = std::string_view::npos;

// A stored comment is a C string: whatever follows a NUL is not part of it.
std::string_view untilNul(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (asciiLower(static_cast<unsigned char>(a[i])) != asciiLower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// The token scans cut their text with NULs, so they work on a private copy
// of the first kMemberCommentScanMax characters, never on the comment.
std::string scanCopy(std::string_view comment) {
    return std::string(comment.substr(0, kMemberCommentScanMax));
}

constexpr std::string_view kMethodNames[] = {
    "Stored", "Shrunk", "Reduce1", "Reduce2", "Reduce3", "Reduce4", "Imploded", "Tokenized", "Deflated",
};

constexpr std::string_view kLibExtensions[] = {"kvo", "z", "zip", "zdf", "zsw", "zgp"};

}  // namespace

int extractLibTitleId(std::string_view comment, std::string& title, std::string& id) {
    title.clear();
    id.clear();
    comment = untilNul(comment);
    const size_t open = comment.find('[');
    if (open == npos) return 1;
    const size_t close = comment.find(']');
    if (close != npos && close < open) return 0;

    // The character before '[' is dropped whatever it is: the comment's
    // form puts a blank there.
    std::string raw(comment.substr(0, open == 0 ? 0 : open - 1));
    if (raw.size() > kLibTitleMax) raw = raw.substr(0, kLibTitleMax - 3) + "...";
    title = AmpEsc(raw.c_str());
    if (close != npos) id = comment.substr(open + 1, close - open - 1);
    return 1;
}

bool isPrelLib(std::string_view libId) {
    libId = untilNul(libId);
    const size_t blank = libId.rfind(' ');
    // A blank at position 0 is no word boundary: the id then has no blank.
    if (blank == npos || blank == 0) return libId.size() > 2 && libId[2] == 'P';
    return blank + 1 < libId.size() && libId[blank + 1] == 'P';
}

bool isReleasedLib(std::string_view comment, std::string_view libId) {
    comment = untilNul(comment);
    const bool released = comment.find(kStaReleased) != npos;
    if (released || comment.find(kStaInternal) != npos || comment.find(kStaPreliminary) != npos)
        return released;
    return !isPrelLib(libId);
}

bool isCollection(std::string_view comment) {
    comment = untilNul(comment);
    return !comment.empty() && comment.back() == '+';
}

int extractCategorycomment(std::string_view comment, std::optional<std::string>& cookieName,
                           std::optional<std::string>& defaultBitmap) {
    comment = untilNul(comment);
    const size_t mark = comment.find(kCategoryMark);
    if (mark == npos) return 1;
    const size_t comma = comment.find(',', mark + kCategoryMark.size());
    if (comma == npos) return 1;

    const size_t nameStart = mark + kCategoryMark.size() + 1;  // one separating character
    cookieName =
        comma > nameStart ? std::string(comment.substr(nameStart, comma - nameStart)) : std::string();
    const size_t end = comment.find("STA:", comma + 1);
    if (end != npos) defaultBitmap = std::string(comment.substr(comma + 1, end - comma - 1));
    return 1;
}

int readCatValuefromCookie(std::string_view comment, std::optional<std::string>& bitmap) {
    std::optional<std::string> cookieName;
    std::optional<std::string> defaultBitmap;
    extractCategorycomment(comment, cookieName, defaultBitmap);
    if (cookieName) {
        if (std::optional<std::string> value = getcookieforpn(cookieName->c_str())) {
            bitmap = std::move(value);
            return 1;
        }
    }
    if (defaultBitmap) bitmap = std::move(defaultBitmap);
    return 1;
}

std::optional<std::string> extractDocumentBitmap(std::string_view comment) {
    comment = untilNul(comment);
    const size_t mark = comment.find(kCategoryMark);
    if (mark == npos) return std::nullopt;
    const size_t open = comment.find('"', mark + kCategoryMark.size());
    if (open == npos) return std::nullopt;
    const size_t close = comment.find('"', open + 1);
    if (close == npos) return std::nullopt;
    return std::string(comment.substr(open + 1, close - open - 1));
}

std::optional<std::string> extractZipCommentTitle(std::string_view comment) {
    comment = untilNul(comment);
    if (comment.empty()) return std::nullopt;
    std::string text = scanCopy(comment);
    char* cursor = text.data();
    std::optional<std::string> title;
    while (const char* token = getNextToken(&cursor)) {
        if (equalsNoCase(token, kTitleToken)) {
            if (const char* value = getNextToken(&cursor)) title = value;
        } else if (equalsNoCase(token, kCtwToken)) {
            if (const char* value = getNextToken(&cursor)) title = value;
            break;
        }
    }
    return title;
}

std::optional<std::string> extractDocTitlefrmZipComment(std::string_view comment, std::string& subtitle) {
    comment = untilNul(comment);
    if (comment.empty()) return std::nullopt;
    subtitle.clear();
    std::string text = scanCopy(comment);
    char* cursor = text.data();
    std::optional<std::string> title;
    while (const char* token = getNextToken(&cursor)) {
        if (equalsNoCase(token, kTitleToken)) {
            if (const char* value = getNextToken(&cursor)) title = value;
        } else if (equalsNoCase(token, kSubtitleToken)) {
            if (const char* value = getNextToken(&cursor))
                subtitle = std::string_view(value).substr(0, kSubtitleMax);
        }
    }
    return title;
}

LibType getLibType(std::string_view fileName) {
    fileName = untilNul(fileName);
    const size_t dot = fileName.rfind('.');
    if (dot == npos) return LIB_UNKNOWN;
    const std::string_view extension = fileName.substr(dot + 1);
    for (size_t i = 0; i < std::size(kLibExtensions); ++i)
        if (equalsNoCase(extension, kLibExtensions[i])) return static_cast<LibType>(LIB_KIVO + i);
    return LIB_UNKNOWN;
}

const char* hashID(char* entry) {
    if (entry == nullptr) return "";
    char* first = std::strchr(entry, '|');
    if (first == nullptr) return "";
    char* second = std::strchr(first + 1, '|');
    // The entry comes from a peer's reply: a short one is not cut.
    if (second == nullptr) return "";
    *second = '\0';
    return first + 1;
}

std::string zipMethodName(unsigned method) {
    if (method < std::size(kMethodNames)) return std::string(kMethodNames[method]);
    return "Unknown[" + std::to_string(method) + "]";
}

ZipMethod methodNameToType(std::string_view name) {
    name = untilNul(name);
    for (size_t i = 0; i < std::size(kMethodNames); ++i)
        if (equalsNoCase(name, kMethodNames[i])) return static_cast<ZipMethod>(i);
    return ZIPMETHOD_UNKNOWN;
}

int isZipFile(const char* fileName) {
    if (fileName == nullptr) return 0;
    const int fd = open(fileName, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    unsigned char head[64];
    size_t got = 0;
    // Pipes and some file systems hand out fewer bytes than asked.
    while (got < sizeof head) {
        const ssize_t n = read(fd, head + got, sizeof head - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    close(fd);
    return got == sizeof head && isZipSignature(head, kZipLocalSignature);
}

int extractMappedZipVolumeComment(const char* zip, size_t len, char* buf, size_t bufSize) {
    if (zip == nullptr || buf == nullptr || len < kZipEndRecordSize) return 0;
    // A signature whose record would run past the mapping is comment text
    // or a cut archive, never the record: the search goes on before it.
    for (size_t at = len - kZipEndRecordSize + 1; at-- > 0;) {
        if (!isZipSignature(zip + at, kZipEndSignature)) continue;
        const size_t stored = W2H(zip + at + ZipEndField::kCommentLength);
        const size_t present = len - (at + kZipEndRecordSize);
        const size_t n = std::min({stored, present, bufSize});
        std::memcpy(buf, zip + at + kZipEndRecordSize, n);
        buf[n] = '\0';
        return 1;
    }
    return 0;
}

}  // namespace ruva

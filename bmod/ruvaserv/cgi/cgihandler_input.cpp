#include "bmod/ruvaserv/cgi/cgihandler.h"

#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "common/fd_io.h"
#include "common/html_escape.h"
#include "common/text.h"
#include "common/url_code.h"

namespace ruva {

namespace {

constexpr char kFormContentType[] = "application/x-www-form-urlencoded";
constexpr char kDefaultScriptName[] = "/kivoserv";
// The product token is looked for in this much of the user agent.
constexpr size_t kUserAgentHead = 127;

enum class FieldOutcome { kKept, kInputEnds, kStoreFailed };

bool sameName(const std::string& name, const char* other) {
    return strcasecmp(name.c_str(), other) == 0;
}

bool contains(std::string_view text, std::string_view word) {
    return text.find(word) != std::string_view::npos;
}

// Text from the environment shown inside a message: HTML-escaped, and cut
// at an entity boundary so that the formatted message still fits the error
// text with its tag span whole.
std::string messageArgument(const TableFormat& format, const char* raw) {
    std::string text = htmlEscaped(raw);
    size_t fixed = formatChecked(format, "").size();
    size_t room = fixed < kErrorTextMax ? kErrorTextMax - fixed : 0;
    if (text.size() > room) {
        text.resize(room);
        size_t amp = text.rfind('&');
        if (amp != std::string::npos && text.find(';', amp) == std::string::npos) text.resize(amp);
    }
    return text;
}

int clampedInt(const char* text) {
    long value = std::strtol(text, nullptr, 10);
    return static_cast<int>(std::clamp<long>(value, INT_MIN, INT_MAX));
}

// CONTENT_LENGTH: decimal digits only. The value saturates, so a huge number
// is refused as too large instead of wrapping to a small one.
std::optional<size_t> contentLength(const char* text) {
    if (!text || !*text) return std::nullopt;
    size_t value = 0;
    for (const char* p = text; *p; ++p) {
        if (!isAsciiDigit(static_cast<unsigned char>(*p))) return std::nullopt;
        size_t digit = static_cast<size_t>(*p - '0');
        value = value > (SIZE_MAX - digit) / 10 ? SIZE_MAX : value * 10 + digit;
    }
    return value;
}

// One field, decoded whole (the decode limit counts name and '='), into the
// value list.
FieldOutcome storeField(CgiHandler& cg, const std::string& raw) {
    std::string field = cg.unescapeUrl(raw.c_str());
    size_t eq = field.find('=');
    std::string name = field.substr(0, eq);
    std::string value = eq == std::string::npos ? std::string() : field.substr(eq + 1);

    // As the fields of a request always ended: "a=1&&b=2" never reaches b.
    if (name.empty()) return FieldOutcome::kInputEnds;
    // Tested on the decoded name, so that "%55Z=" does not get round AllowUZonURL.
    if (sameName(name, "UZ") && !(cg.flags & kCgiAllowUzOnUrl)) return FieldOutcome::kKept;
    // These are set from DB and LI below and read as the program's own.
    if (sameName(name, "DB_Original") || sameName(name, "LI_Original") || sameName(name, "LI_Hidden"))
        return FieldOutcome::kKept;
    if (value.empty() && isAsciiDigit(static_cast<unsigned char>(name[0])) && contains(name, ",")) {
        cg.imagemapX = clampedInt(name.c_str());
        cg.imagemapY = clampedInt(name.c_str() + name.find(',') + 1);
        cg.flags |= kCgiImageMapClick;
        return FieldOutcome::kKept;
    }

    const char* original = nullptr;
    if (sameName(name, "AC")) {
        value.resize(std::min(value.find('#'), value.size()));
    } else if (sameName(name, "DB") && contains(value, "*")) {
        original = "DB_Original";
    } else if (sameName(name, "LI") && contains(value, "*")) {
        std::erase(value, ' ');
        original = "LI_Original";
    }
    Value* copy = original ? cg.valueList->addValue(original, "") : nullptr;
    Value* pair = cg.valueList->addValue(name.c_str(), value.c_str());
    if (!pair || (original && !copy)) return FieldOutcome::kStoreFailed;
    // The copy holds the value as the field's own rules made it harmless:
    // LI keeps its '/', which LI_Original, as a name of its own, would lose.
    if (copy) copy->value = pair->value;
    return FieldOutcome::kKept;
}

int readPostBody(CgiHandler& cg) {
    const char* type = std::getenv("CONTENT_TYPE");
    std::optional<size_t> length = contentLength(std::getenv("CONTENT_LENGTH"));
    if (!type || !length) {
        cg.setError(cg.msg(215, "cgihandler/17"));
        return 0;
    }
    if (std::strcmp(type, kFormContentType) != 0) {
        TableFormat message = cg.msg(216, "cgihandler/18");
        cg.setError(message, messageArgument(message, type));
        return 0;
    }
    if (*length > kPostBodyMax) {
        cg.setError(cg.msg(217, "cgihandler/19"),
                    static_cast<unsigned>(std::min<size_t>(*length, UINT_MAX - 1) + 1));
        return 0;
    }
    try {
        cg.buffer.assign(*length, '\0');
    } catch (const std::bad_alloc&) {
        cg.setError(cg.msg(217, "cgihandler/19"), static_cast<unsigned>(*length + 1));
        return 0;
    }
    size_t got = readUpTo(STDIN_FILENO, cg.buffer.data(), *length);
    cg.buffer.resize(got);
    cg.buflen = got;
    if (got < *length) {
        cg.setError(cg.msg(218, "cgihandler/20"), static_cast<unsigned>(*length), static_cast<unsigned>(got));
        return 0;
    }
    cg.parseCgiInput(cg.buffer.c_str(), cg.buflen, '&');
    return 1;
}

// The fields of the request by its method; 0 with the error text set.
int readFields(CgiHandler& cg) {
    const char* method = std::getenv("REQUEST_METHOD");
    if (!method || !*method) method = "GET";
    if (std::strcmp(method, "POST") == 0) return readPostBody(cg);
    if (std::strcmp(method, "HEAD") == 0) {
        cg.flags |= kCgiHeadRequest;
    } else if (std::strcmp(method, "GET") != 0) {
        TableFormat message = cg.msg(219, "cgihandler/21");
        cg.setError(message, messageArgument(message, method));
        return 0;
    }
    if (const char* query = std::getenv("QUERY_STRING")) cg.parseCgiInput(query, std::strlen(query), '&');
    return 1;
}

// After an image-map click the browser's query holds only the coordinates,
// and the fields travel in PATH_INFO.
void readPathInfo(CgiHandler& cg) {
    const char* path = std::getenv("PATH_INFO");
    if (!path) return;
    if (cg.flags & kCgiImageMapClick) {
        while (*path == '/') ++path;
        cg.parseCgiInput(path, std::strlen(path), '/');
    } else {
        cg.pathInfo = path;
    }
}

void setOwnAddress(CgiHandler& cg) {
    const char* script = std::getenv("SCRIPT_NAME");
    // An empty one would leave no '/' between the host and kivoProgName.
    cg.scriptName = script && *script ? script : kDefaultScriptName;
    cg.kivoServName = cg.httpdHost + cg.httpdPort + cg.scriptName;
    size_t slash = cg.scriptName.rfind('/');
    cg.scriptName.resize(slash == std::string::npos ? 0 : slash + 1);
    // With the port: without it the start page's address would name port 80.
    cg.kivoName = cg.urlProto + cg.httpdHost + cg.httpdPort + cg.scriptName + cg.kivoProgName;
}

// Netscape's generations by the version of a "Mozilla/" agent.
BrowserType mozillaGeneration(std::string_view agent, std::string_view version) {
    unsigned char first = version.empty() ? '\0' : static_cast<unsigned char>(version[0]);
    switch (first) {
        case '1':
            return BROWSER_NETSCAPE_1;
        case '2':
            return contains(agent, "compatible") ? BROWSER_IE_3 : BROWSER_NETSCAPE_2;
        case '3':
            return BROWSER_NETSCAPE_3;
        case '4':
            return BROWSER_NETSCAPE_4;
        default:
            break;
    }
    if (first > '4' && isAsciiDigit(first) && contains(agent, "Netscape")) return BROWSER_NETSCAPE_6;
    return BROWSER_UNKNOWN;
}

// "MSIE x": the agent is cut at the ';' after the version, so that the
// tests after it see nothing of what follows (IE 10's "Trident").
void readMsie(std::string& agent, CgiHandler& cg) {
    if (!contains(agent, "MSIE")) return;
    cg.browserType = BROWSER_IE_4;
    size_t at = agent.find("MSIE ");
    if (at == std::string::npos) return;
    size_t end = agent.find(';', at);
    if (end != std::string::npos) agent.resize(end);
    std::string_view version = std::string_view(agent).substr(at + 5);
    if (version.empty()) return;
    if (version[0] == '5') {
        cg.browserType = BROWSER_IE_5;
    } else if (static_cast<unsigned char>(version[0]) > '5' ||
               (version.size() > 1 && isAsciiDigit(static_cast<unsigned char>(version[1])))) {
        cg.browserType = BROWSER_IE_6;
        if (version.starts_with("10")) cg.isBrowserIE10 = 1;
    }
}

// The character after the first occurrence of word, '\0' when none.
char after(std::string_view agent, std::string_view word) {
    size_t at = agent.find(word);
    return at != std::string_view::npos && at + word.size() < agent.size() ? agent[at + word.size()] : '\0';
}

void readBrowserType(std::string& agent, CgiHandler& cg) {
    cg.browserType = mozillaGeneration(agent, cg.browserVersion);
    readMsie(agent, cg);
    size_t rv = agent.find("rv:");
    if (contains(agent, "Trident") && rv != std::string::npos && rv + 4 < agent.size() &&
        isAsciiDigit(static_cast<unsigned char>(agent[rv + 3])) &&
        isAsciiDigit(static_cast<unsigned char>(agent[rv + 4]))) {
        cg.browserType = BROWSER_IE_6;
        cg.isBrowserIE11 = 1;
    }
    if (contains(agent, "Firefox"))
        cg.browserType = after(agent, "Firefox/") == '1' ? BROWSER_FIREFOX_1 : BROWSER_UNKNOWN;
    size_t netscape = agent.find("Netscape");
    if (netscape != std::string::npos && after(std::string_view(agent).substr(netscape), "/") == '7')
        cg.browserType = BROWSER_NETSCAPE_7;
}

void readUserAgent(CgiHandler& cg) {
    cg.browserName.clear();
    cg.browserVersion.clear();
    cg.browserType = BROWSER_UNKNOWN;
    cg.browserPlatform = BPLF_UNKNOWN;
    cg.isBrowserIE10 = 0;
    cg.isBrowserIE11 = 0;
    const char* env = std::getenv("HTTP_USER_AGENT");
    if (!env || !*env) return;
    // A copy: the MSIE rule cuts it, and the environment stays as it came.
    std::string agent = env;
    if (contains(agent, "Win")) cg.browserPlatform = BPLF_WINDOWS;

    std::string_view head = std::string_view(agent).substr(0, kUserAgentHead);
    size_t slash = head.find('/');
    cg.browserName = head.substr(0, std::min(slash, kBrowserNameMax));
    if (slash != std::string_view::npos) {
        std::string_view rest = head.substr(slash + 1);
        cg.browserVersion = rest.substr(0, std::min(rest.find_first_of(" /("), kBrowserVersionMax));
    }
    if (sameName(cg.browserName, "MOZILLA")) readBrowserType(agent, cg);
}

}  // namespace

int CgiHandler::cgiEntry() {
    pathInfo.clear();
    if (!readFields(*this)) return 0;
    readPathInfo(*this);
    setOwnAddress(*this);
    options = 0;
    if (const Value* op = valueList ? valueList->findValue("OP") : nullptr)
        options = hexVal(op->value.c_str());
    readUserAgent(*this);
    const char* gateway = std::getenv("GATEWAY_INTERFACE");
    gatewayInterface = std::string_view(gateway ? gateway : "").substr(0, kGatewayInterfaceMax);
    return 1;
}

int CgiHandler::parseCgiInput(const char* text, size_t length, char separator) {
    if (!text || !valueList) return 0;
    const char* cursor = text;
    std::ptrdiff_t remaining = static_cast<std::ptrdiff_t>(std::min<size_t>(length, PTRDIFF_MAX));
    while (remaining > 0 && *cursor != '\0') {
        std::optional<std::string> field = extractCgiField(&cursor, separator, &remaining);
        if (!field) return 0;
        switch (storeField(*this, *field)) {
            case FieldOutcome::kKept:
                break;
            case FieldOutcome::kInputEnds:
                return 1;
            case FieldOutcome::kStoreFailed:
                return 0;
        }
    }
    return 1;
}

std::optional<std::string> CgiHandler::extractCgiField(const char** cursor, char separator,
                                                       std::ptrdiff_t* remaining) {
    if (!cursor || !*cursor || !remaining || *remaining < 0) {
        outputError(msg(241, "cgihandler/38"));
        return std::nullopt;
    }
    const char* start = *cursor;
    std::ptrdiff_t n = 0;
    while (n < *remaining && start[n] != '\0' && start[n] != separator) ++n;
    std::string field(start, static_cast<size_t>(n));
    if (n < *remaining && start[n] == separator && separator != '\0') ++n;
    *cursor = start + n;
    *remaining -= n;
    return field;
}

std::string CgiHandler::unescapeUrl(const char* field) const {
    return urlEncode(URLMODE_DECODE, field, decodeLimit());
}

}  // namespace ruva

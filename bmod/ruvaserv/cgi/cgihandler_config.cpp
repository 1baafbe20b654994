#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <type_traits>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "common/line_reader.h"
#include "common/net_util.h"
#include "common/paths.h"
#include "common/text.h"
#include "common/text_clean.h"
#include "common/tokens.h"

namespace ruva {
namespace {

constexpr size_t kUncut = std::string::npos;
// initDirPath keeps this many characters of a TempPath; a longer one would
// name another directory, so it is not taken at all.
constexpr size_t kDirPathKept = 255;
// The temporary directory when neither TempPath nor TMPDIR can serve.
constexpr char kLastTempDir[] = "/tmp/";

void setText(std::string& dst, std::string_view value, size_t max) {
    dst.assign(value.substr(0, max));
}

// ---- value rules

// On-by-default switches and UseLDAP: off for "No..." and the plain words
// for off, on for anything else.
bool saysOff(const char* v) {
    return strncasecmp(v, "no", 2) == 0 || strcasecmp(v, "off") == 0 || strcasecmp(v, "false") == 0 ||
           std::strcmp(v, "0") == 0;
}

// Off-by-default switches turn on only for "Yes...".
bool saysYes(const char* v) {
    return strncasecmp(v, "yes", 3) == 0;
}

// strtol's value (saturated on overflow) clamped to the member's type.
template <class T>
T clampedNumber(const char* v, bool dropSign) {
    long n = std::strtol(v, nullptr, 10);
    if (dropSign && n < 0) n = n == LONG_MIN ? LONG_MAX : -n;
    return static_cast<T>(std::clamp<long>(n, std::numeric_limits<T>::min(), std::numeric_limits<T>::max()));
}

// ---- key actions: value is null when the line holds only the key

template <std::string CgiHandler::*member, size_t max = kUncut>
void text(CgiHandler& cg, const char* v, const char*) {
    if (v) setText(cg.*member, v, max);
}

template <size_t bit>
void onSwitch(CgiHandler& cg, const char* v, const char*) {
    if (!v) return;
    if (saysOff(v))
        cg.flags &= ~bit;
    else
        cg.flags |= bit;
}

template <size_t bit>
void offSwitch(CgiHandler& cg, const char* v, const char*) {
    if (!v) return;
    if (saysYes(v))
        cg.flags |= bit;
    else
        cg.flags &= ~bit;
}

template <auto member>
void number(CgiHandler& cg, const char* v, const char*) {
    if (v) cg.*member = clampedNumber<std::remove_reference_t<decltype(cg.*member)>>(v, false);
}

template <auto member>
void magnitude(CgiHandler& cg, const char* v, const char*) {
    if (v) cg.*member = clampedNumber<std::remove_reference_t<decltype(cg.*member)>>(v, true);
}

// The telnet proxy belongs to the document-server client.
void telnetProxyCmd(CgiHandler& cg, const char* v, const char*) {
    if (!v || !cg.uzc) return;
    std::string command(v);
    command.resize(std::strlen(expandEscapes(command.data())));
    cg.uzc->setTelnetProxyCmd(command.c_str());
}

void telnetProxy(CgiHandler& cg, const char* v, const char*) {
    if (v && cg.uzc) cg.uzc->setTelnetProxy(v);
}

void charEncoding(CgiHandler& cg, const char* v, const char*) {
    cg.charEnc = 1;
    if (v) setText(cg.charEncoding, v, kCharEncodingMax);
}

void fileTransferTimeLimit(CgiHandler& cg, const char* v, const char* rest) {
    if (!v) return;
    magnitude<&CgiHandler::FileTransferTimeLimit>(cg, v, rest);
    cg.bHardLimit = 1;
}

// The request's OP field replaces these options later.
void frames(CgiHandler& cg, const char* v, const char*) {
    bool off = v && (strcasecmp(v, "off") == 0 || strcasecmp(v, "no") == 0 || strcasecmp(v, "false") == 0 ||
                     v[0] == '0');
    if (off)
        cg.options |= kOptNoFrames;
    else
        cg.options &= ~kOptNoFrames;
}

// HTTP_HOST without surrounding white space; "" when unset.
std::string requestHost() {
    const char* env = std::getenv("HTTP_HOST");
    if (!env) return {};
    std::string host(env);
    host.resize(std::strlen(trimwhitespace(host.data())));
    return host;
}

// The browser's Host header names the address it used: configured host and
// port count only without one.
void httpdHost(CgiHandler& cg, const char* v, const char*) {
    if (!v || !requestHost().empty()) return;
    setText(cg.httpdHost, "/" + std::string(v), kHttpdHostMax);
    cg.httpdPort.clear();
}

void httpdPort(CgiHandler& cg, const char* v, const char*) {
    if (v && requestHost().empty()) setText(cg.httpdPort, v, kHttpdPortMax);
}

// "CODE=Name; CODE=Name": the code is the run of letters after the blanks,
// upper-cased; the name runs from '=' to ';'.
void languageCodes(CgiHandler& cg, const char* v, const char* rest) {
    if (!v || !cg.langList) return;
    cg.flags |= kCgiLanguageCodes;
    std::string_view line(rest);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    while (!line.empty()) {
        size_t end = std::min(line.find(';'), line.size());
        std::string_view pair = line.substr(0, end);
        line.remove_prefix(std::min(end + 1, line.size()));
        size_t at = 0;
        while (at < pair.size() && isAsciiSpace(pair[at])) ++at;
        std::string code;
        for (; at < pair.size() && isAsciiAlpha(pair[at]); ++at)
            code += static_cast<char>(asciiUpper(pair[at]));
        size_t eq = pair.find('=');
        if (code.empty() || eq == std::string_view::npos) continue;
        cg.langList->addValue(code.c_str(), std::string(pair.substr(eq + 1)).c_str());
    }
}

void privacyUrl(CgiHandler& cg, const char* v, const char*) {
    if (!v) return;
    cg.privacyURL = v;
    cg.privacyStyle = *v ? "inline" : "none";
}

void privacyStatus(CgiHandler& cg, const char* v, const char*) {
    if (v && *v) cg.privacyStatus = v;
}

void printCommand(CgiHandler& cg, const char* v, const char*) {
    if (!v) return;
    expandTilde(cg.printCommand, v);
    setText(cg.printCommand, cg.printCommand, kPrintCommandMax);
}

// The opening mark, and the closing one when a second token follows.
void searchHighLight(CgiHandler& cg, const char* v, const char* rest) {
    if (!v) return;
    setText(cg.searchHighLight, v, kSearchMarkMax);
    std::string tokens(rest);
    char* cursor = tokens.data();
    getNextToken(&cursor);
    if (const char* normal = getNextToken(&cursor)) setText(cg.searchNormal, normal, kSearchMarkMax);
}

// Taken or refused after the whole file (chooseTempDir).
void tempPath(CgiHandler& cg, const char* v, const char*) {
    if (!v || !*v || std::strlen(v) > kDirPathKept) return;
    char dir[kDirPathKept + 2];
    initDirPath(dir, v);
    cg.TempPath = dir;
}

void testMode(CgiHandler& cg, const char* v, const char*) {
    if (v && saysYes(v)) cg.flags |= kCgiTestMode;
}

// Tried in this order: a key matches a token that begins with it, so a key
// must stand before any key that is a prefix of it.
const ConfigKey kKivoKeys[] = {
    {"KivoProgName", 0, text<&CgiHandler::kivoProgName, kKivoProgNameMax>},
    {"AllowUZonURL", 0, offSwitch<kCgiAllowUzOnUrl>},
    {"AuthEnv", 0, text<&CgiHandler::authEnv, kEnvNameMax>},
    {"CharEncoding", 0, charEncoding},
    {"CommandTimeout", 0, magnitude<&CgiHandler::commandTimeout>},
    {"CatCookieExpire", 0, number<&CgiHandler::catCookieExpire>},
    {"Disclaimer", 0, text<&CgiHandler::disclaimer>},
    {"ExpirePeriod", 0, number<&CgiHandler::expirePeriod>},
    {"ExpiryPrelDocNotes", 0, number<&CgiHandler::expiryPrelDocNotes>},
    {"ExpiryPrelDoc", 0, number<&CgiHandler::expiryPrelDoc>},
    {"ExpiryRRelDoc", 0, number<&CgiHandler::expiryRRelDoc>},
    {"ZOPAURL", 0, text<&CgiHandler::isZopaUrl>},
    {"ExtranetSupportURL", 0, text<&CgiHandler::extranetSupportURL, kExtranetSupportUrlMax>},
    {"Frames", 0, frames},
    {"FileTransferTimeLimit", 0, fileTransferTimeLimit},
    {"HttpdHost", 0, httpdHost},
    {"HttpdPort", 0, httpdPort},
    {"HttpdProto", 0, text<&CgiHandler::urlProto, kUrlProtoMax>},
    {"Libstate", 0, text<&CgiHandler::strLibState, kLibStateMax>},
    {"LanguageCodes", 0, languageCodes},
    {"MyDoc", 0, text<&CgiHandler::isUserDoc, kIsUserDocMax>},
    {"NotesCat", 0, text<&CgiHandler::notes_category, kNotesCategoryMax>},
    {"RuvaDaemon", 0, text<&CgiHandler::docServAddr, kDocServAddrMax>},
    {"PrivacyURL", 0, privacyUrl},
    {"PrivacyStatus", 0, privacyStatus},
    {"PrintCommand", 0, printCommand},
    {"PaperSize", 0, text<&CgiHandler::paperSize, kPaperSizeMax>},
    {"ProfileEnv", 0, text<&CgiHandler::profileEnv, kEnvNameMax>},
    {"ProfileId", 0, text<&CgiHandler::ProfileId>},
    {"SearchHighLight", 0, searchHighLight},
    {"servicename", 0, text<&CgiHandler::servicename, kServicenameMax>},
    {"ShowMissingLibs", 0, text<&CgiHandler::showMissingLibs, kShowMissingLibsMax>},
    {"Superusername", 9, text<&CgiHandler::superUserName, kSuperUserNameMax>},
    {"TelnetProxyCmd", 0, telnetProxyCmd},
    {"TelnetProxy", 0, telnetProxy},
    {"TempPath", 0, tempPath},
    {"TestMode", 0, testMode},
    {"ThankyouNote", 0, text<&CgiHandler::thankyounote>},
    {"UseAnnotation", 0, onSwitch<kCgiUseAnnotation>},
    {"UploaderScriptPATH", 0, text<&CgiHandler::uploaderScriptPath>},
    {"UseExtranet", 0, text<&CgiHandler::useExtranet, kUseExtranetMax>},
    {"UseHelp", 0, onSwitch<kCgiUseHelp>},
    {"UseLDAP", 0, onSwitch<kCgiUseLdap>},
    {"UseAUTH", 0, offSwitch<kCgiUseAuth>},
    {"UseInfo", 0, offSwitch<kCgiUseInfo>},
    {"UrlDita", 0, text<&CgiHandler::UserDocUrlDita>},
    {"UrlXTAVR", 0, text<&CgiHandler::UserDocUrlXTAVR>},
    {"UsePrint", 0, onSwitch<kCgiUsePrint>},
    {"UserEnv", 0, text<&CgiHandler::userEnv, kEnvNameMax>},
};

// ---- the file

// Walking the whole table in order is the order within each first letter:
// only a key of the token's own first letter can match it.
const ConfigKey* findKey(ConfigKeys keys, const char* token) {
    for (const ConfigKey& key : keys) {
        size_t n = key.matchLength ? key.matchLength : std::strlen(key.name);
        if (strncasecmp(token, key.name, n) == 0) return &key;
    }
    return nullptr;
}

void applyLine(CgiHandler& cg, char* line) {
    char* cursor = line;
    const char* token = getNextToken(&cursor);
    if (!token || !*token || token[0] == '#') return;
    const ConfigKey* key = findKey(cg.configKeys(), token);
    if (!key) return;
    // Taking the value token cuts the line, so the rest is copied first.
    std::string rest(cursor);
    key->apply(cg, getNextToken(&cursor), rest.c_str());
}

// Fields the file may set but other requests of the same object must not
// inherit.
void resetConfiguration(CgiHandler& cg) {
    cg.httpdPort.clear();
    cg.httpdHost.clear();
    cg.TempPath.clear();
    cg.servicename.clear();
    cg.notes_category.clear();
    cg.isUserDoc = "Yes";
    cg.UserDocUrlDita.clear();
    cg.UserDocUrlXTAVR.clear();
    cg.isZopaUrl.clear();
    cg.privacyStatus.clear();
    cg.privacyStyle = "none";
    cg.extranetSupportURL.clear();
    cg.expirePeriod = kDefaultExpirePeriod;
    cg.docServAddr = "localhost:9229";
}

// Without a server name: the first interface address, named as the
// resolver knows it.
std::string ownAddressName(const char* port) {
    std::optional<std::string> ip = getIpAddr();
    if (!ip) return "127.0.0.1";
    std::string text = *ip;
    if (port && *port) text += std::string(":") + port;
    std::optional<std::string> named = addrToAddrString(text);
    if (!named) return *ip;
    return named->substr(0, named->find(':'));
}

void setOwnHost(CgiHandler& cg) {
    std::string host = requestHost();
    if (!host.empty()) {
        // An IPv6 literal has colons of its own; its port follows the ']'.
        size_t colon = std::string::npos;
        if (host[0] != '[')
            colon = host.find(':');
        else if (size_t close = host.find(']'); close != std::string::npos)
            colon = host.find(':', close);
        if (colon != std::string::npos) {
            setText(cg.httpdPort, std::string_view(host).substr(colon), kHttpdPortMax);
            host.resize(colon);
        }
        setText(cg.httpdHost, "/" + host, kHttpdHostMax);
        return;
    }
    const char* port = std::getenv("SERVER_PORT");
    if (port && *port && std::strcmp(port, "80") != 0)
        setText(cg.httpdPort, std::string(":") + port, kHttpdPortMax);
    const char* name = std::getenv("SERVER_NAME");
    setText(cg.httpdHost, "/" + (name && *name ? std::string(name) : ownAddressName(port)), kHttpdHostMax);
}

// 0 when dir can hold temporary files: an existing directory this process
// may read, write and search, or a missing one it makes; else the errno
// that rules it out. An existing directory's mode is left alone: it may be
// shared with other users and services.
int usableTempDir(const char* dir) {
    struct stat st;
    if (::stat(dir, &st) != 0) {
        if (errno != ENOENT) return errno;
        if (::mkdir(dir, 0777) == 0) return 0;
        // Another request may have made it meanwhile.
        if (errno != EEXIST || ::stat(dir, &st) != 0) return errno;
    }
    if (!S_ISDIR(st.st_mode)) return ENOTDIR;
    return ::access(dir, R_OK | W_OK | X_OK) == 0 ? 0 : errno;
}

// TempPath, else the inherited TMPDIR, else /tmp/; TMPDIR then names the
// one chosen, for every temporary file of the request.
void chooseTempDir(CgiHandler& cg) {
    if (cg.TempPath.empty() || usableTempDir(cg.TempPath.c_str()) != 0) {
        const char* inherited = std::getenv("TMPDIR");
        if (inherited && *inherited && std::strlen(inherited) < kTempPathMax &&
            usableTempDir(inherited) == 0) {
            cg.TempPath = inherited;
            if (cg.TempPath.back() != '/') cg.TempPath += '/';
        } else if (int err = usableTempDir(kLastTempDir)) {
            cg.TempPath = kLastTempDir;
            cg.setError(cg.msg(239, "cgihandler/36"), std::strerror(err), kLastTempDir);
            return;
        } else {
            cg.TempPath = kLastTempDir;
        }
    }
    setenv("TMPDIR", cg.TempPath.c_str(), 1);
}

}  // namespace

ConfigKeys kivoConfigKeys() {
    return kKivoKeys;
}

std::string findConfigFile() {
    if (const char* named = std::getenv("KIVOSERVCONF"); named && *named) return named;
    for (const char* candidate : {"kivo.conf", "/usr/local/etc/kivo.conf"})
        if (::access(candidate, R_OK) == 0) return candidate;
    return {};
}

int CgiHandler::readConfigFile(const char* path) {
    resetConfiguration(*this);
    setOwnHost(*this);
    configName.clear();
    if (FILE* fp = path && *path ? std::fopen(path, "re") : nullptr) {
        setText(configName, path, kConfigNameMax);
        // An over-long line applies its first kConfigLineMax characters.
        forEachLine<kConfigLineMax>(fp, [this](char* line, int, bool) {
            applyLine(*this, line);
            return true;
        });
        std::fclose(fp);
        if (langList && !langList->findValue("EN")) langList->addValue("EN", "English");
    }
    chooseTempDir(*this);
    return 1;
}

}  // namespace ruva

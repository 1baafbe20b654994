// USER, RMFILE and UPDFILE, and two small text functions.
#include "bmod/ruvaserv/client/uzsession_user.h"

#include <charconv>
#include <cstdlib>
#include <new>

#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "bmod/ruvaserv/client/uzsession.h"
#include "common/cookie.h"
#include "common/html_escape.h"

namespace ruva {
namespace {

constexpr int kMsgLoginMissing = 419;
constexpr int kMsgNoAccessSupport = 420;
constexpr int kMsgNoAccess = 421;
constexpr int kMsgSystemErrorSupport = 422;
constexpr int kMsgUnknownError = 423;
constexpr int kMsgNoGroupUser = 470;
constexpr int kMsgShortReply = 383;
constexpr int kMsgUpdateNoMemory = 433;
constexpr int kMsgBlockTooLarge = 434;
constexpr int kMsgCommandTooLong = 456;
constexpr int kMsgInvalidArgument = 462;

// USER reply codes that refuse the user.
constexpr int kUserNoAccess = 589;
constexpr int kUserFailed = 500;
constexpr int kUserFailedToo = 550;
constexpr int kShortReplyCode = 500;

// Member names are plain file names: the daemon joins them to a folder.
bool plainMemberName(std::string_view name) {
    if (name.empty() || name == "." || name == "..") return false;
    for (char c : name) {
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                     c == '_' || c == '+' || c == '.';
        if (!plain) return false;
    }
    return true;
}

// The library goes unquoted: a blank would split the line's words, a quote
// start a quoted one, a line end or NUL cut the line so that the block is
// read as commands.
bool sendableLibrary(std::string_view library) {
    if (library.empty()) return false;
    for (char c : library) {
        auto u = static_cast<unsigned char>(c);
        if (u <= ' ' || u == 0x7f || c == '"' || c == '\'') return false;
    }
    return true;
}

// The data block's size, each string with its NUL; none above kUpdBlockMax.
std::optional<size_t> blockLength(std::span<const std::string_view> strings) {
    size_t total = 0;
    for (std::string_view text : strings) {
        if (text.size() >= kUpdBlockMax - total) return std::nullopt;
        total += text.size() + 1;
    }
    return total;
}

const char* env(const char* name) {
    return std::getenv(name);
}

bool missing(const char* text) {
    return text == nullptr || *text == '\0';
}

// The number a reply line begins with; 0 when it begins otherwise.
int leadingCode(std::string_view line) {
    int code = 0;
    std::from_chars(line.data(), line.data() + line.size(), code);
    return code;
}

// The support messages name the configured address; the others are bare
// words the request maps to its own notices.
std::string userMessage(int index, const std::string& supportAddress) {
    if (index == kMsgNoAccessSupport || index == kMsgSystemErrorSupport || index == kMsgNoGroupUser)
        return formatChecked(msgFormat(index, nullptr), supportAddress);
    return getMsgStr(index, nullptr);
}

// Sends USER with the web user's name (and a profile's words), reads its
// one line.
std::unique_ptr<UzResponse> userCommand(UzSession& s, int useAuth, const UzArg* profile) {
    UserNameChoice choice = chooseUserName(s, useAuth != 0, profile != nullptr);
    if (choice.refusal) {
        s.setError("%s", userMessage(choice.refusal, s.supportAddress));
        return nullptr;
    }
    // A name with blanks is one quoted word, never types and systems.
    UzArg args[3] = {{choice.name, UzArgKind::kFreeText}};
    size_t count = 1;
    if (profile) {
        args[1] = profile[0];
        args[2] = profile[1];
        count = 3;
    }
    if (!s.sendCommand("USER", std::span<const UzArg>(args, count))) return nullptr;
    int length = s.getPeerCommand(0);
    if (length < 0) return nullptr;
    UserReply reply = readUserReply(std::string_view(s.getResultPrintout(), static_cast<size_t>(length)),
                                    useAuth != 0, s.supportAddress);
    if (reply.failed) {
        s.setError("%s", reply.text);
        return nullptr;
    }
    std::unique_ptr<UzResponse> response = UzSession::allocResponse(RT_USER);
    if (!response) return nullptr;
    response->resultCode = reply.code;
    response->resultMessage = std::move(reply.text);
    return response;
}

// The one answer line of an update, waited for while the daemon takes the
// update lock and rewrites the library.
std::unique_ptr<UzResponse> updateReply(UzSession& s) {
    int length = s.getPeerCommand(uzWaits().update.count());
    // The daemon refreshes its catalogue before it reads the next command.
    s.afterUpdate = true;
    if (length < 0) return nullptr;
    std::unique_ptr<UzResponse> response = UzSession::allocResponse(RT_UPDFILE);
    if (!response) return nullptr;
    fillUpdateResponse(*response, std::string_view(s.getResultPrintout(), static_cast<size_t>(length)));
    return response;
}

}  // namespace

UserNameChoice chooseUserName(const UzSession& s, bool useAuth, bool profile) {
    UserNameChoice choice;
    // A request header: it names the user only where the web server strips
    // it from what browsers send.
    const char* portal = env("HTTP_MYR_TQB_PORTAL_NAME");
    const char* name = nullptr;
    if (portal && !(profile && *portal == '\0')) {
        name = portal;
    } else if (!useAuth) {
        name = env(s.authEnv.c_str());
    } else if (s.libState != "Publish") {
        name = env("HTTP_KIVO_GROUP_USER");
        if (missing(name)) {
            choice.refusal = kMsgNoGroupUser;
            return choice;
        }
    } else {
        name = s.superUserName.c_str();
    }
    if (missing(name)) {
        // Only a web server that authenticates itself may let an anonymous user through.
        if (!s.authEnv.starts_with("REMOTE_USER")) choice.refusal = kMsgLoginMissing;
        return choice;
    }
    choice.name = name;
    return choice;
}

UserReply readUserReply(std::string_view line, bool useAuth, const std::string& supportAddress) {
    UserReply reply;
    reply.code = line.size() > 2 ? leadingCode(line) : kShortReplyCode;
    if (reply.code == kUserNoAccess) {
        reply.failed = true;
        reply.text = userMessage(useAuth ? kMsgNoAccessSupport : kMsgNoAccess, supportAddress);
        return reply;
    }
    std::string_view text = replyText(line);
    if (reply.code == kUserFailed || reply.code == kUserFailedToo) {
        // Without LDAP support in the daemon every such USER ends here: keep why.
        reply.failed = true;
        reply.text = userMessage(useAuth ? kMsgSystemErrorSupport : kMsgUnknownError, supportAddress);
        if (!text.empty()) reply.text += " (" + htmlEscaped(std::string(text)) + ")";
        return reply;
    }
    reply.text = text;
    return reply;
}

UpdRefusal checkUpdfile(std::string_view library, std::string_view member,
                        std::span<const std::string_view> strings, std::string& line) {
    if (!plainMemberName(member)) return UpdRefusal::kMember;
    if (!sendableLibrary(library)) return UpdRefusal::kLibrary;
    if (strings.empty()) return UpdRefusal::kNoStrings;
    std::optional<size_t> length = blockLength(strings);
    if (!length) return UpdRefusal::kBlockTooLarge;
    std::string text = "UPDFILE ";
    text.append(library).append(" ").append(member).append(" ").append(std::to_string(*length)).append("\n");
    // The daemon reads the line in a buffer of this size.
    if (text.size() > kUpdLineMax) return UpdRefusal::kLineTooLong;
    line = std::move(text);
    return UpdRefusal::kNone;
}

bool updfileBuffer(std::string_view line, std::span<const std::string_view> strings, std::string& out) {
    size_t total = line.size() + kUpdEndLine.size();
    for (std::string_view text : strings) total += text.size() + 1;
    try {
        out.reserve(total);
    } catch (const std::bad_alloc&) {
        return false;
    }
    out.assign(line);
    for (std::string_view text : strings) out.append(text).push_back('\0');
    out.append(kUpdEndLine);
    return true;
}

void fillUpdateResponse(UzResponse& response, std::string_view line) {
    if (line.size() <= 2) {
        response.resultCode = kShortReplyCode;
        response.resultMessage = getMsgStr(kMsgShortReply, "uzsession/73");
        response.clientMessage = true;
        return;
    }
    response.resultCode = leadingCode(line);
    response.resultMessage = replyText(line);
}

std::unique_ptr<UzResponse> UzSession::User(int useAuth) {
    return userCommand(*this, useAuth, nullptr);
}

std::unique_ptr<UzResponse> UzSession::UserP(int libtypes, std::string_view systems, int useAuth) {
    std::string types = std::to_string(libtypes);
    const UzArg profile[2] = {{types, UzArgKind::kRaw}, {systems, UzArgKind::kFreeText}};
    return userCommand(*this, useAuth, profile);
}

std::unique_ptr<UzResponse> UzSession::rmfile(std::string_view library, std::string_view members) {
    if (!sendCommand("RMFILE", {{library, UzArgKind::kLibrary}, {members, UzArgKind::kFreeText}}))
        return nullptr;
    return updateReply(*this);
}

std::unique_ptr<UzResponse> UzSession::updatafile(std::string_view library, std::string_view member,
                                                  std::span<const std::string_view> strings) {
    std::string line;
    switch (checkUpdfile(library, member, strings, line)) {
        case UpdRefusal::kNone:
            break;
        case UpdRefusal::kBlockTooLarge:
            setError(msgFormat(kMsgBlockTooLarge, "uzsession/45"));
            return nullptr;
        case UpdRefusal::kLineTooLong:
            setError(msgFormat(kMsgCommandTooLong, "uzsession/65"));
            return nullptr;
        default:
            setError(msgFormat(kMsgInvalidArgument, "uzsession/72"));
            return nullptr;
    }
    std::string buffer;
    if (!updfileBuffer(line, strings, buffer)) {
        setError(msgFormat(kMsgUpdateNoMemory, "uzsession/44"));
        return nullptr;
    }
    // One buffer, never resent: a retry on a new session would store the
    // block twice or read its tail as commands.
    if (!sendCmdBuffer(buffer)) return nullptr;
    return updateReply(*this);
}

// Whole cookie names only: a plain substring search matched "cat" inside
// "xcat=1" and read past the end of a name that ends the variable.
std::optional<std::string> getcookiepn(const char* name) {
    return getcookieforpn(name);
}

char* str_replace(char* text, char from, char to) {
    if (!text) return text;
    for (char* p = text; *p; ++p) {
        if (*p == from) *p = to;
    }
    return text;
}

}  // namespace ruva

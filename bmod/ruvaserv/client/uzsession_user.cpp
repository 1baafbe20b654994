// USER, RMFILE and UPDFILE, and two small text functions.
#include "bmod/ruvaserv/client/uzsession_user.h"

#include <charconv>
#include <cstdlib>

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

// USER reply codes that refuse the user.
constexpr int kUserNoAccess = 589;
constexpr int kUserFailed = 500;
constexpr int kUserFailedToo = 550;
constexpr int kShortReplyCode = 500;

const char* env(const char* name) {
    return std::getenv(name);
}

bool empty(const char* text) {
    return text == nullptr || *text == '\0';
}

// The number a reply line begins with; 0 when it begins otherwise.
int leadingCode(std::string_view line) {
    int code = 0;
    std::from_chars(line.data(), line.data() + line.size(), code);
    return code;
}

// A line of four characters or fewer has no text.
std::string_view textAfterCode(std::string_view line) {
    return line.size() > 4 ? line.substr(4) : std::string_view();
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
        if (empty(name)) {
            choice.refusal = kMsgNoGroupUser;
            return choice;
        }
    } else {
        name = s.superUserName.c_str();
    }
    if (empty(name)) {
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
    std::string_view text = textAfterCode(line);
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

std::unique_ptr<UzResponse> UzSession::User(int useAuth) {
    return userCommand(*this, useAuth, nullptr);
}

std::unique_ptr<UzResponse> UzSession::UserP(int libtypes, std::string_view systems, int useAuth) {
    std::string types = std::to_string(libtypes);
    const UzArg profile[2] = {{types, UzArgKind::kRaw}, {systems, UzArgKind::kFreeText}};
    return userCommand(*this, useAuth, profile);
}

std::unique_ptr<UzResponse> UzSession::rmfile(std::string_view, std::string_view) {
    return nullptr;  // not yet built
}

std::unique_ptr<UzResponse> UzSession::updatafile(std::string_view, std::string_view,
                                                  std::span<const std::string_view>) {
    return nullptr;  // not yet built
}

std::optional<std::string> getcookiepn(const char*) {
    return std::nullopt;  // not yet built
}

char* str_replace(char* text, char, char) {
    return text;  // not yet built
}

}  // namespace ruva

// The decisions of USER, RMFILE and UPDFILE that need no socket: where the
// web user's name comes from, what a reply line means, and the bytes an
// upload sends. The session operations in uzsession_user.cpp send and read
// around them.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace ruva {

class UzResponse;
class UzSession;

// The name USER sends for the web user, or the message that refuses the
// command before anything is sent.
struct UserNameChoice {
    std::string name;  // "" goes out as an empty quoted word
    int refusal = 0;   // 0, or 470 (no group user) or 419 (LOGIN_MISSING)
};

// From the environment and the session's authEnv, libState and
// superUserName, in this order: HTTP_MYR_TQB_PORTAL_NAME when set (for a
// profile, UserP, only when not empty); without useAuth the variable named
// by authEnv; with useAuth HTTP_KIVO_GROUP_USER unless libState is
// "Publish" (missing or empty: 470), else superUserName. A name still
// empty is refused (419) unless authEnv begins with "REMOTE_USER".
UserNameChoice chooseUserName(const UzSession& session, bool useAuth, bool profile);

// What a USER reply line means.
struct UserReply {
    bool failed = false;
    int code = 0;      // the line's number; 500 for a short line
    std::string text;  // the text after four characters, or the error text when failed
};

// 589 fails with 420 (useAuth) or 421 NO_ACCESS; 500, 550 and a short line
// fail with 422 (useAuth) or 423 UNKNOWN_ERROR, followed by the daemon's
// text, HTML-escaped, in parentheses. 420 and 422 end with supportAddress.
// Any other line is the response's code and text.
UserReply readUserReply(std::string_view line, bool useAuth, const std::string& supportAddress);

// Why updatafile refuses its arguments before anything is sent.
enum class UpdRefusal {
    kNone,
    kMember,   // empty, "." or "..", or other than letters, digits and "-_+."
    kLibrary,  // empty, or holding white space, a quote or a control character
    kNoStrings,
    kBlockTooLarge,  // the block above kUpdBlockMax bytes
    kLineTooLong,    // the line above kUpdLineMax bytes, its line feed included
};

// Checks an upload's arguments; when none is refused, line gets the command
// line "UPDFILE library member length\n" (both names unquoted, length the
// block's bytes: each string and its NUL).
UpdRefusal checkUpdfile(std::string_view library, std::string_view member,
                        std::span<const std::string_view> strings, std::string& line);

// What an upload sends in one piece: line, block and end marker. False when
// memory runs out.
bool updfileBuffer(std::string_view line, std::span<const std::string_view> strings, std::string& out);

// The single answer line of UPDFILE or RMFILE as the response's code and
// text; a short line is code 500.
void fillUpdateResponse(UzResponse& response, std::string_view line);

}  // namespace ruva

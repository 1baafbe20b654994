#include "bmod/ruvaserv/cgi/server_reply.h"

#include "bmod/ruvaserv/client/uzsession.h"
#include "common/html_escape.h"
#include "common/patterns.h"
#include "common/tokens.h"

namespace ruva {

std::string libraryOfReply(const std::string& text) {
    // getNextToken cuts in place.
    std::string copy = text;
    char* cursor = copy.data();
    if (!getNextToken(&cursor)) return "";
    const char* name = getNextToken(&cursor);
    return name ? name : "";
}

std::string literalMemberName(const std::string& name) {
    if (!isSearchPattern(name.c_str())) return name;
    std::string out;
    for (char c : name) {
        if (c == '\\' || c == '*' || c == '?' || c == '[') out += '\\';
        out += c;
    }
    return out;
}

std::string replyReason(const UzSession& session, const UzResponse* reply) {
    if (reply && !reply->resultMessage.empty()) {
        return reply->clientMessage ? reply->resultMessage : htmlEscaped(reply->resultMessage);
    }
    return session.getError();
}

}  // namespace ruva

// What the front end reads out of document-server replies and how it names
// a listed member back to the server: shared by every caller that fetches
// members, so each reports a refusal the same way.
#pragma once

#include <string>

namespace ruva {

class UzResponse;
class UzSession;

// The library a 577 or 578 line names: the second token of its text,
// quotes honoured ("Library \"guide.kvo\" has been removed." gives
// guide.kvo); "" when there is none. Raw: escape it for a page.
std::string libraryOfReply(const std::string& text);

// name as a RETR or CONTV argument that stands for the listed name alone:
// the daemon matches a name holding wildcard characters as a pattern, so
// each of them (and '\') gets a backslash before it.
std::string literalMemberName(const std::string& name);

// Why a command failed, as HTML for a message: the reply's final text
// (escaped unless it is the client's own message), else the session's
// error text when there is no reply or it has no text.
std::string replyReason(const UzSession& session, const UzResponse* reply);

}  // namespace ruva

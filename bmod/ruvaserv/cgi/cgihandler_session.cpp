// The request's default document-server session, and the page
// post-processing, which stands in until it exists.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "common/docmodel/comment_tokens.h"
#include "common/docmodel/revision.h"
#include "common/html_escape.h"
#include "common/net_util.h"
#include "common/quoting.h"
#include "common/text.h"

namespace ruva {

namespace {

// The oldest server revision the front end works with.
constexpr const char kMinServerRevision[] = "R10C";
constexpr int kMinServerMajor = 10;
constexpr char kMinServerLetter = 'C';

// A UZ value: a dotted address is normalised (the resolver may name it), a
// host name is taken as written, an unreadable value as given.
std::string uzServerAddress(const std::string& uz) {
    if (isAsciiAlpha(static_cast<unsigned char>(uz[0]))) return uz;
    std::optional<std::string> normalised = addrToAddrString(uz);
    return normalised ? *normalised : uz;
}

// True when a server of this revision is too old; a revision that cannot
// be read is let through.
bool revisionTooOld(const std::string& revision) {
    char kind = 0;
    char letter = 0;
    int major = 0;
    int build = 0;
    if (!swVersionToParts(revision.c_str(), &kind, &major, &letter, &build)) return false;
    return major < kMinServerMajor || (major == kMinServerMajor && letter < kMinServerLetter);
}

// The notices for a failed USER under UseAUTH. They name no host; each
// ends with the configured support link.
constexpr FormatLiteral kLoginMissingNotice =
    "Your login information is missing or empty.<br><br>Please enter this application through the customer "
    "portal, also when you switch between portals.<br><br>"
    "If the problem persists, please contact the support desk: %s<br><br>";
constexpr FormatLiteral kNoAccessNotice =
    "You have no access to this application.<br><br>Please contact the support desk: %s<br><br>";
constexpr FormatLiteral kSystemErrorNotice =
    "A system error prevented checking your access to this application.<br><br>"
    "Please contact the support desk: %s<br><br>";

std::string supportLink(const std::string& url) {
    if (url.empty()) return "";
    std::string shown = htmlEscaped(url);
    return "<a href=\"" + shown + "\">" + shown + "</a>";
}

// The text a refused USER leaves in the session, as the user is told it
// under UseAUTH.
void setAccessNotice(CgiHandler& cg, const std::string& reason) {
    std::string link = supportLink(cg.extranetSupportURL);
    // A message's fixed text, up to the support address it may end with.
    auto says = [&](int index) {
        std::string text = getMsgStr(cg.messages(), index, nullptr);
        text.resize(std::min(text.find('%'), text.size()));
        return !text.empty() && reason.starts_with(text);
    };
    if (says(419)) {
        cg.setError(kLoginMissingNotice, link);
    } else if (says(421) || says(420) || says(470)) {
        // Under UseAUTH the session words a refusal as 420 or 470, never
        // NO_ACCESS: still a refusal, not a system error.
        cg.setError(kNoAccessNotice, link);
    } else {
        cg.setError(kSystemErrorNotice, link);
    }
}

// USER for the web user, with the settings USER takes as values. 1 when
// the server took it.
int registerUser(CgiHandler& cg) {
    UzSession& sess = *cg.sess;
    sess.authEnv = cg.authEnv;
    sess.libState = cg.strLibState;
    sess.superUserName = cg.superUserName;
    sess.supportAddress = cg.extranetSupportURL;
    const bool useAuth = (cg.flags & kCgiUseAuth) != 0;
    if (sess.User(useAuth ? 1 : 0)) return 1;
    if (useAuth) {
        setAccessNotice(cg, sess.getError());
    } else {
        cg.setError("%s", sess.getError());
    }
    return 0;
}

}  // namespace

int CgiHandler::determineDocumentServer() {
    const Value* uz = valueList ? valueList->findValue("UZ") : nullptr;
    if (uz && !uz->value.empty()) {
        docServAddr = uzServerAddress(uz->value).substr(0, kDocServAddrMax);
        return 1;
    }
    if (const char* env = std::getenv("RUVA_ADDR")) {
        docServAddr = std::string(env).substr(0, kDocServAddrMax);
        return 1;
    }
    return docServAddr.empty() ? 0 : 1;
}

int CgiHandler::createDefaultSession() {
    if (sess) return 1;
    if (!determineDocumentServer()) return 0;
    in_addr_t address = 0;
    unsigned port = 0;
    if (!extractAddrPort(docServAddr, &address, &port)) {
        setError(msg(202, "cgihandler/4"), docServAddr);
        return 0;
    }
    uzc->setCommandTimeout(commandTimeout);
    sess = uzc->newSession(nullptr, address, port);
    if (!sess) {
        setError(msg(203, "cgihandler/5"), docServAddr, uzc->getError());
        return 0;
    }
    servId.clear();
    servProg.clear();
    servArticle.clear();
    servRev.clear();
    return 1;
}

int CgiHandler::establishDefaultSession() {
    if (!sess && !createDefaultSession()) return 0;
    if (!servId.empty()) return 1;
    uzc->setCommandTimeout(commandTimeout);
    std::unique_ptr<UzResponse> reply = sess->ver();
    if (!reply || reply->resultCode != 200) {
        setError(msg(204, "cgihandler/6"), sess->getServerAddr(), sess->getError());
        return 0;
    }
    const UzConnectEntry* version = reply->connect();
    const bool given = version && version->filled();
    servProg = given ? version->servName->substr(0, kServFieldMax) : "";
    servArticle = given ? version->article.substr(0, kServFieldMax) : "";
    servRev = given ? version->revision.substr(0, kServFieldMax) : "";
    if (revisionTooOld(servRev)) {
        setError(msg(205, "cgihandler/7"), kMinServerRevision, htmlEscaped(servRev));
        return 0;
    }
    if ((flags & kCgiUseLdap) && !registerUser(*this)) return 0;
    // Set last: it marks the session as established, so a refused version
    // or user must leave it empty and fail again on the next call.
    // An empty comment counts as none, so that servId is never left empty.
    const bool hasComment = given && !version->comment.empty();
    servId = hasComment ? version->comment.substr(0, kServIdMax) : "[" + sess->getServerAddr() + "]";
    return 1;
}

int CgiHandler::getHashIDfromLI(std::string_view LI, std::string* hashID, std::string* libTitle) {
    if (!establishDefaultSession()) return 0;
    std::string identity = "[" + std::string(LI) + "]";
    std::unique_ptr<UzResponse> reply = sess->mllist(quoteString(identity.c_str()));
    if (!reply || reply->resultCode != 200) return 0;
    const UzMlListEntry* entry = reply->mllist();
    if (!entry || !entry->filled()) return 0;
    std::string field = entry->ID;
    const std::string hash = ruva::hashID(field.data());
    if (hashID) *hashID = hash;
    if (libTitle) {
        std::string id;
        extractLibTitleId(entry->comment, *libTitle, id);
    }
    return std::atoi(hash.c_str());
}

int CgiHandler::getUserDetails() {
    const char* user = std::getenv(userEnv.c_str());
    if (!user) {
        setError(msg(246, "cgihandler/44"));
        return 0;
    }
    const char* afterDomain = std::strchr(user, '\\');
    userName = std::string(afterDomain ? afterDomain + 1 : user).substr(0, kEnvNameMax);
    const char* profile = std::getenv(profileEnv.c_str());
    if (!profile) {
        setError(msg(246, "cgihandler/45"));
        return 0;
    }
    profileName = std::string(profile).substr(0, kEnvNameMax);
    return 1;
}

}  // namespace ruva

// The small markers: known servers, the server's name, program information,
// the library name, the server address and the root node's id.
//
// Every text that comes from a server, a registration datagram or a field
// is escaped before it lands in the page: an SLIST comment is chosen by
// whoever can send the daemon a datagram.
#include <cctype>
#include <memory>
#include <string>
#include <string_view>

#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/kivo_version.h"
#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "common/docmodel/comment_tokens.h"
#include "common/html_escape.h"
#include "common/net_util.h"
#include "common/url_code.h"
#include "common/version.h"

namespace ruva {

namespace {

// An SLIST line's comment starts in this column (at least one blank
// before it).
constexpr size_t kServerColumn = 34;
// outputDbName shows at most this many characters of the name.
constexpr size_t kDbNameShown = 63;

std::string escaped(std::string_view text) { return escapeHtmlKeepEntities(text, false); }

// "address:port" of the session; "" without one.
std::string sessionAddress(const UzSession* sess) {
    return sess ? makeAddrString(sess->iaddr, sess->port) : std::string();
}

bool accessDenied(const CgiHandler& cg) { return cg.sess && (cg.sess->flags & kSessAccessDenied); }

// One SLIST entry's line. Without AllowUZonURL the anchor stays empty: the
// address may not travel in links then.
int writeServerLine(CgiHandler& cg, const std::string& address, const std::string& comment) {
    const std::string host = addrToAddrString(address).value_or(address);
    const bool uzOnUrl = (cg.flags & kCgiAllowUzOnUrl) != 0;
    // An empty comment is what the daemon writes for none.
    if (comment.empty()) {
        if (uzOnUrl)
            return cg.dstPrintf("<a href=\"%s%s?uz=%s&op=%x\">%s</a> ?\n", cg.urlProto, cg.kivoServName,
                                encodeLinkValue(host), cg.options, escaped(host));
        return cg.dstPrintf("<a href=\"%s%s?op=%x\"></a> ?\n", cg.urlProto, cg.kivoServName, cg.options);
    }
    const std::string padding(host.size() < kServerColumn ? kServerColumn - host.size() : 1, ' ');
    if (uzOnUrl)
        return cg.dstPrintf("<a href=\"%s%s?uz=%s&op=%x\">%s</a>%s%s\n", cg.urlProto, cg.kivoServName,
                            encodeLinkValue(host), cg.options, escaped(host), padding, escaped(comment));
    return cg.dstPrintf("<a href=\"%s%s?op=%x\"></a>%s%s\n", cg.urlProto, cg.kivoServName, cg.options, padding,
                        escaped(comment));
}

// The lines of a 200 SLIST reply, or message 70 when no entry has an
// address. 0 when a write failed.
int writeServerLines(CgiHandler& cg, const UzResponse& reply) {
    bool any = false;
    for (const UzSListEntry* e = reply.slist(); e && e->filled(); e = e->next.get()) {
        if (e->address->empty()) continue;
        any = true;
        if (!writeServerLine(cg, *e->address, e->comment)) return 0;
    }
    return any ? 1 : cg.dstPrintf(cg.msg(70, "kivohandler/55"));
}

bool allDigits(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

// The hash id of the first top-level folder of an MLLIST reply; "" when a
// library comes first or there is none.
std::string rootNodeId(const UzResponse& reply) {
    for (const UzMlListEntry* e = reply.mllist(); e && e->filled(); e = e->next.get()) {
        if (e->type == ML_NODE_TYPE_ZS) return "";
        if (e->level != 0) continue;
        // hashID cuts its argument; the reply stays as it came.
        std::string id = e->ID;
        return hashID(id.data());
    }
    return "";
}

}  // namespace

int KivoHandler::outputListServ() {
    if (!cg) return 0;
    if (accessDenied(*cg)) {
        cg->dstPrintf(cg->msg(67, "kivohandler/52"));
        return 0;
    }
    if (!cg->establishDefaultSession()) {
        if (accessDenied(*cg)) cg->dstPrintf(cg->msg(67, "kivohandler/53"));
        return 0;
    }
    if (!cg->dstWriteBuf("<pre>")) return 0;
    std::unique_ptr<UzResponse> reply = cg->sess->slist();
    const int written = reply && reply->resultCode == 200
                            ? writeServerLines(*cg, *reply)
                            : cg->dstPrintf(cg->msg(69, "kivohandler/54"), escaped(sessionAddress(cg->sess)));
    return cg->dstWriteBuf("</pre>") && written ? 1 : 0;
}

int KivoHandler::outputServName() {
    if (!cg) return 0;
    if (!cg->establishDefaultSession() || accessDenied(*cg)) {
        // docServAddr may come from the UZ field.
        if (!cg->docServAddr.empty())
            cg->dstPrintf("[%s]", escaped(cg->docServAddr));
        else
            cg->dstPrintf(cg->msg(71, "kivohandler/56"));
        return 0;
    }
    return cg->dstPrintf("%s", escaped(cg->servId));
}

int KivoHandler::outputProgInfo() {
    if (!cg) return 0;
    // Without a session the server part stays empty: "[]".
    const std::string address = cg->establishDefaultSession() ? sessionAddress(cg->sess) : makeAddrString(0, 0);
    return cg->dstPrintf("%s %s %s [%s, \"%s\"]<br />\n%s %s %s [%s]", escaped(kKivoservProgName),
                         escaped(kKivoservArticle), escaped(kSystemRevision), escaped(cg->kivoServName),
                         escaped(cg->configName), escaped(cg->servProg), escaped(cg->servArticle),
                         escaped(cg->servRev), escaped(address));
}

int KivoHandler::outputDbName() {
    if (!cg || !cg->valueList) return 0;
    const Value* named = cg->valueList->findValue("ID");
    if (!named || named->value.empty()) named = cg->valueList->findValue("DB");
    if (!named || named->value.empty()) return cg->dstPrintf("%s", "[No Library]");
    // Only a three-letter extension is cut here, unlike the list's names.
    std::string name = named->value.substr(0, kDbNameShown);
    if (name.size() > 4 && name[name.size() - 4] == '.') name.resize(name.size() - 4);
    return cg->dstPrintf("%s", escaped(name));
}

int KivoHandler::outputUzAddr() {
    if (!cg) return 0;
    if (!cg->sess) return 1;
    return cg->dstPrintf("%s", escaped(sessionAddress(cg->sess)));
}

int KivoHandler::outputRootID() {
    if (!cg) return 0;
    // The marker stands as an argument in a script call: whatever happens,
    // a number goes there, else the whole script fails to parse. The root
    // always has slot 0.
    std::unique_ptr<UzResponse> reply;
    if (cg->sess || cg->establishDefaultSession()) reply = cg->sess->mllist("");
    if (!reply || reply->resultCode != 200) {
        setError("Failed to list database on %s, %s", escaped(sessionAddress(cg->sess)),
                 cg->sess ? cg->sess->getError() : cg->getError());
        cg->dstWriteBuf("0");
        return 0;
    }
    const UzMlListEntry* first = reply->mllist();
    const std::string id = rootNodeId(*reply);
    if (!cg->dstWriteBuf(allDigits(id) ? id : "0")) return 0;
    return first && first->filled() ? 1 : 0;
}

}  // namespace ruva

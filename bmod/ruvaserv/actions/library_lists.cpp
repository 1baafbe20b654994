// Library lists of the listdb and cmplistdb markers.
#include "bmod/ruvaserv/actions/library_lists.h"

#include <algorithm>
#include <ctime>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "bmod/ruvaserv/cgi/server_reply.h"
#include "bmod/ruvaserv/cgi/valuelist.h"
#include "bmod/ruvaserv/client/uzclient.h"
#include "common/html_escape.h"
#include "common/net_util.h"
#include "common/patterns.h"
#include "common/string_format.h"
#include "common/text.h"
#include "common/text_view.h"
#include "common/url_code.h"

namespace ruva {

namespace {

constexpr char kDefaultPattern[] = "*.kvo";
constexpr size_t kMpValueMax = 60;

// The length of name's display form, which is always a prefix of it.
size_t displayNameLength(std::string_view name) {
    size_t n = std::min(name.size(), kDisplayNameMax);
    if (n > 3 && name[n - 3] == '.') return n - 3;
    if (n > 4 && name[n - 4] == '.') return n - 4;
    return n;
}

// The comment, or the display name when the comment is empty.
std::string_view shownText(const UzListEntry& entry) {
    if (!entry.comment.empty()) return entry.comment;
    const std::string_view name = entry.database ? std::string_view(*entry.database) : std::string_view();
    return name.substr(0, displayNameLength(name));
}

// Entries with a name the pattern matches. Case-blind, as the daemon's LIST
// matches under its default FoldNames: "*.kvo" must keep "UPPER.KVO".
bool listed(const UzListEntry& entry, const std::string& pattern) {
    return entry.database && !entry.database->empty() &&
           matchPattern(pattern.c_str(), entry.database->c_str(), 1);
}

// The order and pattern of a marker's pattern word: a sort keyword or any
// other word beginning '@' lists "*.kvo".
struct ListChoice {
    std::string pattern;
    int order = 0;
};
ListChoice listChoice(const std::string& pattern) {
    if (pattern.empty()) return {kDefaultPattern, 0};
    if (pattern[0] != '@') return {pattern, 0};
    if (pattern == "@sort_title") return {kDefaultPattern, 1};
    if (pattern == "@sort_date") return {kDefaultPattern, 2};
    return {kDefaultPattern, 0};
}

// The server a list is asked from. A session this marker created is
// deleted again on every path; the default session and one newSession
// handed back as existing stay.
struct ListServer {
    UzClient* client = nullptr;
    UzSession* session = nullptr;
    bool created = false;
    std::string name;  // for messages, escaped
    ~ListServer() {
        if (created && client) client->deleteSession(session);
    }
};

int openOtherServer(CgiHandler& cg, const std::string& server, ListServer& ls) {
    const std::string shown = escapeHtmlKeepEntities(server, false);
    in_addr_t address = 0;
    unsigned port = 0;
    if (!extractAddrPort(server, &address, &port)) {
        cg.setError(cg.msg(73, "kivohandler/58"), shown);
        return 0;
    }
    ls.client = cg.uzc.get();
    ls.session = ls.client ? ls.client->newSession(nullptr, address, port, &ls.created) : nullptr;
    if (!ls.session) {
        cg.setError(cg.msg(74, "kivohandler/59"), shown, ls.client ? ls.client->getError() : std::string());
        return 0;
    }
    std::unique_ptr<UzResponse> ver = ls.session->ver();
    if (!ver || ver->resultCode != 200) {
        cg.setError(cg.msg(75, "kivohandler/60"), ls.session->getServerAddr(), replyReason(*ls.session, ver.get()));
        return 0;
    }
    const UzConnectEntry* greeting = ver->connect();
    ls.name = greeting && !greeting->comment.empty() ? escapeHtmlKeepEntities(greeting->comment, false)
                                                     : "[" + ls.session->getServerAddr() + "]";
    return 1;
}

int openDefaultServer(CgiHandler& cg, ListServer& ls) {
    if (!cg.establishDefaultSession()) {
        if (cg.sess && (cg.sess->flags & kSessAccessDenied)) cg.dstPrintf(cg.msg(72, "kivohandler/57"));
        return 0;
    }
    ls.session = cg.sess;
    ls.name = escapeHtmlKeepEntities(cg.servId, false);
    return 1;
}

// "&MP=<value coded for a script>" when the field MP is there, else "".
std::string mpText(const CgiHandler& cg) {
    const Value* mp = cg.valueList ? cg.valueList->findValue("MP") : nullptr;
    if (!mp) return "";
    return "&MP=" + urlEncode(URLMODE_ENCODE_SCRIPT, mp->value.c_str(), kMpValueMax);
}

// What every row link shares: the script address and, with AllowUZonURL,
// the server; then "db=" follows.
std::string linkPrefix(const CgiHandler& cg, const UzSession& session) {
    std::string prefix = cg.urlProto + cg.kivoServName + "?";
    if (cg.flags & kCgiAllowUzOnUrl) {
        prefix += "uz=";
        appendLinkValue(prefix, makeAddrString(session.iaddr, session.port));
        prefix += "&amp;";
    }
    return prefix + "db=";
}

void appendLink(std::string& row, const std::string& prefix, const std::string& database, std::string_view mp,
                const std::string& op, std::string_view text) {
    row += "<a href=\"";
    row += prefix;
    appendLinkValue(row, database);
    row += "&amp;fn=index.html";
    row += mp;
    row += op;
    row += "\">";
    appendHtmlKeepEntities(row, text, false);
    row += "</a>";
}

// "[yyyy-mm-dd]" in local time; "" when the time cannot be broken down.
std::string listDate(time_t t) {
    struct tm tm {};
    if (!localtime_r(&t, &tm)) return "";
    return format("[%04u-%02u-%02u]", static_cast<unsigned>(tm.tm_year + 1900),
                  static_cast<unsigned>(tm.tm_mon + 1), static_cast<unsigned>(tm.tm_mday));
}

}  // namespace

std::string databaseDisplayName(std::string_view name) {
    return std::string(name.substr(0, displayNameLength(name)));
}

std::string listEntryText(const UzListEntry& entry) { return std::string(shownText(entry)); }

bool listDbSortCommentCallback(const UzListEntry& a, const UzListEntry& b) {
    const std::string_view x = shownText(a);
    const std::string_view y = shownText(b);
    const size_t n = std::min(x.size(), y.size());
    for (size_t i = 0; i < n; ++i) {
        const unsigned char cx = asciiLower(static_cast<unsigned char>(x[i]));
        const unsigned char cy = asciiLower(static_cast<unsigned char>(y[i]));
        if (cx != cy) return cx < cy;
    }
    return x.size() < y.size();
}

bool listDbSortCTimeCallback(const UzListEntry& a, const UzListEntry& b) { return a.ctime > b.ctime; }

int KivoHandler::outputListDb(const std::string& server, const std::string& pattern, int listType) {
    ListServer ls;
    const bool isDefault = server.empty() || (server.size() == 7 && startsCaseBlindAt(server, 0, "default"));
    if (!(isDefault ? openDefaultServer(*cg, ls) : openOtherServer(*cg, server, ls))) return 0;
    const ListChoice choice = listChoice(pattern);

    std::unique_ptr<UzResponse> reply = ls.session->list(choice.pattern);
    if (!reply || reply->resultCode != 200) {
        cg->setError(cg->msg(76, "kivohandler/61"), ls.name, replyReason(*ls.session, reply.get()));
        return 0;
    }
    size_t count = 0;
    for (const UzListEntry* e = reply->list(); e; e = e->next.get()) count += listed(*e, choice.pattern) ? 1 : 0;
    if (count == 0) {
        cg->dstPrintf(cg->msg(77, "kivohandler/62"), escapeHtmlKeepEntities(choice.pattern, false), ls.name);
        return 1;
    }
    if (choice.order != 0 && !sortListDb(*reply, choice.order)) return 0;
    const std::string mp = mpText(*cg);
    return listType == 0 ? normalListDb(*ls.session, *reply, choice.pattern, mp)
                         : compareListDb(*ls.session, *reply, choice.pattern, mp);
}

int KivoHandler::sortListDb(UzResponse& reply, int order) {
    UzListEntry* head = reply.list();
    if (!head || !head->next) return 1;
    if (order != 1 && order != 2) {
        cg->setError(cg->msg(90, "kivohandler/75"), order);
        return 0;
    }
    size_t count = 0;
    for (const UzListEntry* e = head; e; e = e->next.get()) ++count;
    std::vector<std::unique_ptr<UzListEntry>> entries;
    try {
        entries.reserve(count);
    } catch (const std::bad_alloc&) {
        cg->setError(cg->msg(89, "kivohandler/74"));
        return 0;
    }
    // Unlinked front to back, relinked back to front: each record moves once.
    auto& first = std::get<std::unique_ptr<UzListEntry>>(reply.res);
    for (std::unique_ptr<UzListEntry> e = std::move(first); e;) {
        std::unique_ptr<UzListEntry> rest = std::move(e->next);
        entries.push_back(std::move(e));
        e = std::move(rest);
    }
    auto before = order == 1 ? listDbSortCommentCallback : listDbSortCTimeCallback;
    std::stable_sort(entries.begin(), entries.end(),
                     [before](const auto& a, const auto& b) { return before(*a, *b); });
    for (size_t i = entries.size(); i-- > 1;) entries[i - 1]->next = std::move(entries[i]);
    first = std::move(entries.front());
    reply.forgetLastEntry();
    return 1;
}

int KivoHandler::normalListDb(UzSession& session, UzResponse& reply, const std::string& pattern,
                              const std::string& mpText) {
    if (!cg->dstWriteBuf("<table width=\"100%\">\n")) return 0;
    const std::string prefix = linkPrefix(*cg, session);
    const std::string op = format("&amp;op=%x", cg->options);
    std::string row;
    for (const UzListEntry* e = reply.list(); e; e = e->next.get()) {
        if (!listed(*e, pattern)) continue;
        const std::string_view name(*e->database);
        row.assign("<tr>\n<td><b>\n");
        appendLink(row, prefix, *e->database, mpText, op, shownText(*e));
        row += "</b></td>\n<td align=\"left\">\n";
        appendLink(row, prefix, *e->database, "", op, name.substr(0, displayNameLength(name)));
        row += "</td>\n<td align=\"right\">\n";
        row += listDate(e->ctime);
        row += "</td>\n</tr>\n";
        if (!cg->dstWriteBuf(row)) return 0;
    }
    return cg->dstWriteBuf("</table>\n");
}

int KivoHandler::compareListDb(UzSession&, UzResponse& reply, const std::string& pattern, const std::string&) {
    std::string row;
    for (const UzListEntry* e = reply.list(); e; e = e->next.get()) {
        if (!listed(*e, pattern)) continue;
        row.assign("<option value=\"");
        appendHtmlKeepEntities(row, *e->database, true);
        row += "\">";
        appendHtmlKeepEntities(row, shownText(*e), false);
        row += "</option>\n";
        if (!cg->dstWriteBuf(row)) return 0;
    }
    return 1;
}

}  // namespace ruva

// The option list of a library drop-down, from the daemon's multilevel
// list of the request's ID.
#include <algorithm>
#include <memory>
#include <string>
#include <string_view>

#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/server_reply.h"
#include "common/html_escape.h"
#include "common/net_util.h"

namespace ruva {

namespace {

constexpr size_t kDropDownMinFree = 1024;
constexpr size_t kDropDownGrowth = 65536;
// Deeper entries are indented as this deep: the level is the server's
// number, and a wild one must not build a page of gigabytes.
constexpr int kIndentLevelMax = 64;

// A width that shrinks by two characters per level, never below 0: a deep
// tree must not turn it into a huge unsigned cut.
size_t levelWidth(int base, int level) {
    return static_cast<size_t>(std::max(0LL, base - 2LL * level));
}

// The comment as the option shows it: the title before "[" (shortened with
// "..." past 66 - 2 * level characters, 74 - 2 * level without "["), then
// the revision in brackets when the bracketed part ends in a word beginning
// with R or P.
std::string dropDownLabel(std::string_view comment, int level) {
    const size_t open = comment.find('[');
    std::string_view title = comment.substr(0, open);
    while (!title.empty() && title.back() == ' ') title.remove_suffix(1);
    const size_t width = levelWidth(open == std::string_view::npos ? 74 : 66, level);
    std::string label(title.substr(0, width));
    if (title.size() > width) label += "...";
    if (open == std::string_view::npos) return label;
    std::string_view bracket = comment.substr(open + 1);
    bracket = bracket.substr(0, bracket.find(']'));
    while (!bracket.empty() && bracket.back() == ' ') bracket.remove_suffix(1);
    const size_t blank = bracket.find_last_of(' ');
    const std::string_view word = blank == std::string_view::npos ? bracket : bracket.substr(blank + 1);
    if (!word.empty() && (word[0] == 'R' || word[0] == 'P')) label += " [" + std::string(word) + "]";
    return label;
}

// One option: "- " per level below the base, the node mark, the label cut
// to 80 - 2 * level characters before it is escaped.
std::string dropDownOption(const UzMlListEntry& entry, int baseLevel, bool first) {
    std::string option = "    <option value=\"" + escapeHtmlKeepEntities(entry.ID, true) + "\"";
    option += first ? " selected=\"selected\">" : ">";
    const int indent = std::clamp(entry.level - baseLevel, 0, kIndentLevelMax);
    for (int i = 0; i < indent; ++i) option += "- ";
    const bool folder = entry.type == ML_NODE_TYPE_SUB;
    option += folder ? "&lt; " : "-&nbsp; ";
    const std::string label = dropDownLabel(entry.comment, entry.level);
    option += escapeHtmlKeepEntities(label.substr(0, levelWidth(80, entry.level)), true);
    if (folder) option += " &gt;";
    return option + "</option>\n";
}

}  // namespace

int KivoHandler::PrintDropDownMenu() {
    if (!cg->establishDefaultSession()) return 0;
    const Value* id = cg->valueList->findValue("ID");
    std::unique_ptr<UzResponse> reply = cg->sess->mllist(id ? id->value : std::string());
    if (!reply || reply->resultCode != 200) {
        cg->setError(cg->msg(48, "kivohandler/35"), makeAddrString(cg->sess->iaddr, cg->sess->port),
                     replyReason(*cg->sess, reply.get()));
        freeResponse(std::move(reply));
        return 0;
    }
    const UzMlListEntry* entry = reply->mllist();
    const int baseLevel = entry ? entry->level : 0;
    for (bool first = true; entry && entry->filled(); entry = entry->next.get(), first = false) {
        const bool grown = cg->docbufSize >= cg->docSize + kDropDownMinFree ||
                           cg->reallocDocBuf(cg->docbufSize + kDropDownGrowth);
        if (!grown || !cg->docWriteBuf(dropDownOption(*entry, baseLevel, first))) {
            cg->setError(cg->msg(51, "kivohandler/36"));
            freeResponse(std::move(reply));
            return 0;
        }
    }
    freeResponse(std::move(reply));
    if (!cg->docWriteBuf("    <option value=\"S|9999|-|\"> </option>\n")) {
        cg->setError(cg->msg(51, "kivohandler/36"));
        return 0;
    }
    return 1;
}

}  // namespace ruva

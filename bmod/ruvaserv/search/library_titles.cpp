#include "bmod/ruvaserv/search/library_titles.h"

#include <memory>

#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/client/uzresponse.h"
#include "bmod/ruvaserv/client/uzsession.h"
#include "bmod/ruvaserv/client/uzsession_search.h"
#include "common/docmodel/comment_tokens.h"
#include "common/html_escape.h"
#include "common/net_util.h"
#include "common/text_view.h"

namespace ruva {

namespace {

LibraryAnswer askServer(CgiHandler& cg, const std::string& libid) {
    LibraryAnswer answer;
    if (!cg.createDefaultSession() || !cg.sess) {
        answer.resultMessage = cg.getError();
        return answer;
    }
    answer.server = makeAddrString(cg.sess->iaddr, cg.sess->port);
    std::unique_ptr<UzResponse> reply = cg.sess->mllist(libid);
    if (!reply) {
        answer.resultMessage = cg.sess->getError();
        return answer;
    }
    if (reply->resultCode != 200) {
        answer.resultMessage =
            reply->clientMessage ? reply->resultMessage : escapeHtmlKeepEntities(reply->resultMessage, false);
        return answer;
    }
    // 200 without a line is an answer too: a library the server no longer
    // lists has neither title nor identity.
    answer.ok = 1;
    if (const UzMlListEntry* entry = reply->mllist(); entry && entry->filled()) {
        answer.hasEntry = true;
        answer.comment = entry->comment;
    }
    return answer;
}

bool sameCaseBlind(std::string_view a, std::string_view b) {
    return a.size() == b.size() && startsCaseBlindAt(a, 0, b);
}

constexpr char kNoBitmapCell[] = "<td class=\"c3\" align=\"left\"></td>\n";

}  // namespace

const LibraryAnswer& LibraryMemo::mllist(CgiHandler& cg, const std::string& libid) {
    auto [it, inserted] = answers_.try_emplace(libid);
    if (inserted) it->second = askServer(cg, libid);
    return it->second;
}

const std::optional<std::string>& LibraryMemo::dbFromLI(KivoHandler& ah, const std::string& reference,
                                                        std::string& title) {
    auto [it, inserted] = dbs_.try_emplace(reference);
    DbAnswer& answer = it->second;
    if (inserted) answer.db = ah.getDBfromLI(answer.title, reference);
    if (answer.db) title = answer.title;
    return answer.db;
}

const std::string* LibraryTable::titleOf(std::string_view id) const {
    for (const Row& row : rows) {
        if (sameCaseBlind(row.id, id)) return row.title ? &*row.title : nullptr;
    }
    return nullptr;
}

int getLibraryname(CgiHandler& cg, LibraryMemo& memo, const std::string& libid, std::string& libTitle) {
    const LibraryAnswer& answer = memo.mllist(cg, libid);
    if (!answer.ok || !answer.hasEntry || answer.comment.empty()) return 0;
    libTitle = answer.comment;
    return 1;
}

std::string validateLibrary(std::string_view comment, const char* revision, bool& filtered) {
    if (comment.find(kCategoryMark) == std::string_view::npos) return kNoBitmapCell;
    std::optional<std::string> bitmap;
    readCatValuefromCookie(comment, bitmap);
    if (!bitmap) return kNoBitmapCell;
    // The daemon's own rule: a non-zero hex digit within the first 32 words.
    const bool filters = isFilteringBitmap(*bitmap);
    if (filters) filtered = true;
    return formatChecked(
        "<td class=\"c3\" align=\"left\"><img class=\"m5\" border=\"0\" height=\"14\" width=\"14\" "
        "align=\"top\" "
        "title=\"%s\" src=\"qzl:/kivo?VR=%s&amp;AC=TBIMG&amp;IM=%d\"/></td>\n",
        filters ? "This library is filtered" : "No filter selected for this library",
        revision ? revision : "", filters ? 140 : 139);
}

}  // namespace ruva

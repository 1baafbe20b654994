#include "bmod/ruvaserv/actions/library_identity.h"

#include <memory>
#include <string>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "common/docmodel/comment_tokens.h"
#include "common/net_util.h"

namespace ruva {

namespace {

// MLLIST of the field DB on the default session. Null when there is no DB
// (message 91), no session (its own message) or no 200 reply (message 92),
// each in cg's error text.
std::unique_ptr<UzResponse> listDbField(CgiHandler& cg) {
    const Value* db = cg.valueList->findValue("DB");
    if (!db || db->value.empty()) {
        cg.setError(cg.msg(91, "kivohandler/76"));
        return nullptr;
    }
    if (!cg.establishDefaultSession()) return nullptr;
    std::unique_ptr<UzResponse> reply = cg.sess->mllist(db->value);
    if (!reply || reply->resultCode != 200) {
        cg.setError(cg.msg(92, "kivohandler/77"), makeAddrString(cg.sess->iaddr, cg.sess->port),
                    cg.sess->getError());
        return nullptr;
    }
    return reply;
}

}  // namespace

int KivoHandler::getIDbyDbName() {
    if (!cg) return 0;
    std::unique_ptr<UzResponse> reply = listDbField(*cg);
    if (!reply) return 0;
    for (const UzMlListEntry* entry = reply->mllist(); entry && entry->filled(); entry = entry->next.get()) {
        // A folder first: the pattern names no single library.
        if (entry->type == ML_NODE_TYPE_SUB) return 1;
        if (entry->level != 0) continue;
        std::string field = entry->ID;
        cg->valueList->addValue("ID", hashID(field.data()));
        return 1;
    }
    return 0;
}

int KivoHandler::getLIbyHiddenID() {
    if (!cg) return 0;
    std::unique_ptr<UzResponse> reply = listDbField(*cg);
    if (!reply) return 0;
    const UzMlListEntry* first = reply->mllist();
    std::string title;
    std::string identity;
    extractLibTitleId(first && first->filled() ? first->comment : std::string(), title, identity);
    return cg->valueList->addValue("LI_Hidden", identity.c_str()) ? 1 : 0;
}

}  // namespace ruva

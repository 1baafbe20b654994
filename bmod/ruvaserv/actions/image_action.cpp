// IMAGE: a member written as it is, with its own header.
#include <cstdio>
#include <memory>
#include <string>

#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "bmod/ruvaserv/search/search_actions.h"

namespace ruva {

namespace {

// The member is binary: every byte of docSize goes out, NULs included.
bool writeMember(CgiHandler& cg) {
    std::string head = formatChecked("Content-Length: %lu\n", static_cast<unsigned long>(cg.docSize));
    if (cg.expirePeriod != 0 && !(cg.flags & kCgiNoExpires)) {
        if (std::optional<std::string> expires = cg.createExpireHeader(cg.expirePeriod))
            head += *expires + "\n";
    }
    const std::string type =
        cg.mimeType.empty() ? "application/octet-stream" : CgiHandler::headerValue(cg.mimeType);
    head += formatChecked("Content-type: %s\n\n", type);
    // From the first header byte on, no error page may follow.
    cg.flags |= kCgiResponseDone;
    bool written = std::fwrite(head.data(), 1, head.size(), cg.cgifile) == head.size();
    if (written && cg.docBuf && cg.docSize)
        written = std::fwrite(cg.docBuf, 1, cg.docSize, cg.cgifile) == cg.docSize;
    return std::fflush(cg.cgifile) == 0 && written;
}

}  // namespace

int KivoHandler::imageAction() {
    if (!cg || !cg->valueList || !cg->establishDefaultSession()) return 0;
    const Value* fn = cg->valueList->findValue("FN");
    if (!fn || fn->value.empty()) {
        setError(msgFormat(12, "kivohandler/4"));
        return 0;
    }
    // retrieveFile may rewrite the name it is given.
    const std::string asked = fn->value;
    std::string file = asked;
    std::unique_ptr<SearchActions> sa = newSearchActions(cg);
    if (!sa) {
        setError(msgFormat(0, "kivohandler/83"), "SearchActions");
        return 0;
    }
    if (!sa->retrieveFile(file)) {
        setError(msgFormat(11, "kivohandler/3"), errorArgument(asked));
        return 0;
    }
    sa.reset();
    // A response already written stays the only one.
    if (!cg->cgifile || (cg->flags & kCgiResponseDone)) return cg->cgifile ? 1 : 0;
    // A client that left makes the write fail; the answer was begun all the
    // same, so nothing else may be written.
    writeMember(*cg);
    return 1;
}

}  // namespace ruva

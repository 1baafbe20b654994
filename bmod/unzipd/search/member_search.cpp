#include "bmod/unzipd/search/member_search.h"

#include "bmod/unzipd/log/log_call.h"
#include "bmod/unzipd/server/command_handlers.h"
#include "bmod/unzipd/zip/zip_reader.h"
#include "common/log_levels.h"
#include "common/text.h"

namespace ruva {

size_t memberBodyStart(const std::string& text) {
    const char* p = ruva::strcasestr(text.c_str(), "<!--@BODY-->");
    if (p == nullptr) p = ruva::strcasestr(text.c_str(), "<body");
    return p == nullptr ? 0 : static_cast<size_t>(p - text.c_str());
}

MemberStep memberUnzipFailed(NetworkServer* ns, bool* refreshed, bool byNode, ZipStructure* zs,
                             const CentralHeader* ch, const char* what, const std::string& finalLine) {
    std::string path = zs->zipName;
    std::string member = ch->fname;
    if (!*refreshed) {
        *refreshed = true;
        ns->reply->flush();
        if (ns->orderParentUpdate(path.c_str())) return byNode ? MemberStep::kNext : MemberStep::kRestart;
    }
    logError(kLogWarning, "Unzip of %s %s failed during %s", path.c_str(), member.c_str(), what);
    if (!isRmdUpdtFile(ns, zs)) {
        ns->reply->line(kReplyUnpackFailed, kReplyHeader, "Failed to unzip %s %s",
                        ReplyWriter::plainField(path.c_str()).c_str(), ReplyWriter::plainField(member.c_str()).c_str());
        ns->reply->line(kReplyOk, kReplyHeader, "%s", finalLine.c_str());
    }
    return MemberStep::kEnded;
}

}  // namespace ruva

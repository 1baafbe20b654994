// CONREF: one topic of a document as an HTML fragment.
#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "common/html_escape.h"

namespace ruva {

namespace {

// A topic id this short names no topic; the daemon is not asked.
constexpr size_t kTopicIdMin = 6;

constexpr char kSheetEnd[] = "\" rel=\"stylesheet\" type=\"text/css\"";
constexpr char kFailedTopic[] =
    "<body style=\"color:#181818;font-size:10pt;font-family:'Vandrove Sorna',Arial,Helvetica,sans-serif;\">"
    "<p>Failed to retrieve the requested topic content.</p><p>Possible causes:<ul>"
    "<li>Referenced topic is no longer part of the document</li>"
    "<li>Document is no longer present in the latest library version</li></ul></p>";

// The style sheets of the two content sets, served from the help library.
struct TopicSheets {
    std::optional<std::string> myr;
    std::optional<std::string> dita;
};

TopicSheets topicSheets(const CgiHandler& cg) {
    const char* script = std::getenv("SCRIPT_NAME");
    const char* host = std::getenv("HTTP_HOST");
    if (!script || !host) return {};
    // Both come from outside and stand inside a quoted attribute.
    const std::string base = cg.urlProto + "/" + escapeHtmlKeepEntities(host, true) +
                             escapeHtmlKeepEntities(script, true) + "?LI=//123&FN=";
    return {base + "CVL.css", base + "dita_myr.css"};
}

std::string trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// The topic's section as the daemon sends it; none when it has none.
std::optional<std::string> fetchTopic(CgiHandler& cg, const std::string& topic,
                                      const std::string& contentSet) {
    const ValueList& fields = *cg.valueList;
    const std::string id = valueOf(fields, "ID");
    const std::string fn = valueOf(fields, "FN");
    if (topic.size() < kTopicIdMin || id.empty() || fn.empty() || contentSet.empty()) return std::nullopt;
    std::unique_ptr<UzResponse> reply = cg.sess->idretr(topic, id, fn, contentSet);
    const UzIdRetrEntry* entry = reply ? reply->idretr() : nullptr;
    if (!entry || !entry->filled() || entry->context.empty()) return std::nullopt;
    return entry->context;
}

// The page as the buffers hold it: exactly its bytes, post-processing
// reads docSize of them.
int placePage(CgiHandler& cg, const std::string& page) {
    if (!cg.allocDocBuf(page.size())) return 0;
    std::memcpy(cg.docBuf, page.data(), page.size());
    cg.docBuf[page.size()] = '\0';
    cg.docSize = page.size();
    return 1;
}

}  // namespace

int KivoHandler::topicContent() {
    const TopicSheets sheets = topicSheets(*cg);
    ValueList& fields = *cg->valueList;
    const std::string topic = trimmed(valueOf(fields, "CH"));
    const std::string requested = trimmed(valueOf(fields, "CS"));
    if (!resolveLibId("LI", "ID", "DB", true)) return 0;
    cg->curId = std::atoi(valueOf(fields, "ID").c_str());
    if (!cg->establishDefaultSession()) {
        setError(msgFormat(33, "kivohandler/2"), cg->getError());
        return 0;
    }
    const bool dita = strcasecmp(requested.c_str(), "DITA") == 0;
    const bool myr = strcasecmp(requested.c_str(), "MYR") == 0;
    // Any other set is asked for as MYR, without its style sheet.
    std::string contentSet = requested;
    if (!requested.empty() && !dita && !myr) {
        contentSet = "MYR";
        fields.addValue("CS", "MYR");
    }
    std::string page;
    if (std::optional<std::string> section = fetchTopic(*cg, topic, contentSet)) {
        const std::optional<std::string>* sheet = dita ? &sheets.dita : myr ? &sheets.myr : nullptr;
        if (sheet && *sheet) page = " <link href=\"" + **sheet + kSheetEnd + " />";
        page += *section;
    } else {
        page = "<link href=\"" + sheets.myr.value_or("") + kSheetEnd + ">" + kFailedTopic;
    }
    if (!placePage(*cg, page)) {
        errmsg = cg->getError();
        return 0;
    }
    return 1;
}

}  // namespace ruva

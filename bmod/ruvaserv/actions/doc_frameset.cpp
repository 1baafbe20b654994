// DOCNOTREE: the main frame's frameset of a hidden tree frame and the
// document frame, whose address BC chooses.
#include <string>

#include "bmod/ruvaserv/actions/action_scripts.h"
#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "common/html_escape.h"
#include "common/url_code.h"

namespace ruva {

namespace {

constexpr size_t kFramesetBufSize = 50000;
// A coded value is at most three bytes per byte of a decoded field.
constexpr size_t kCodedValueMax = 3 * kFieldDecodeLimit;

// A field value inside the document frame's address: coded so that '&' and
// '+' cannot add fields, then fit for the double-quoted attribute.
std::string addressValue(const std::string& value) {
    return escapeHtmlKeepEntities(urlEncode(URLMODE_ENCODE_SCRIPT, value.c_str(), kCodedValueMax), true);
}

// The document frame's address by BC (compared exactly); false with the
// message set when a field the mode needs is missing.
bool documentAddress(CgiHandler& cg, const std::string& mode, std::string& address, const char*& treeColour) {
    if (mode == "EXTFUNC") {
        const std::string xf = valueOf(*cg.valueList, "XF");
        if (xf.empty()) {
            cg.setError(cg.msg(46, "kivohandler/33"));
            return false;
        }
        // XF is the query the main page's script built, its "&amp;"
        // separators included: entities must reach the browser as they are.
        address = "qzl:/kivo?" + escapeHtmlKeepEntities(xf, true);
        return true;
    }
    const std::string id = valueOf(*cg.valueList, "ID");
    if (mode == "OLDLIB") {
        const std::string db = valueOf(*cg.valueList, "DB");
        const std::string fn = valueOf(*cg.valueList, "FN");
        if (id.empty() || db.empty() || fn.empty()) {
            cg.setError(cg.msg(47, "kivohandler/34"));
            return false;
        }
        address = "qzl:/kivo?ID=" + addressValue(id) + "&amp;DB=" + addressValue(db) +
                  "&amp;FN=" + addressValue(fn);
        treeColour = "006699";
        return true;
    }
    address = id.empty() ? "qzl:/kivo?AC=" + addressValue(mode)
                         : "qzl:/kivo?ID=" + addressValue(id) + "&amp;AC=" + addressValue(mode);
    return true;
}

}  // namespace

int KivoHandler::docNoTreeAction() {
    cg->freeDocBuf();
    if (!cg->allocDocBuf(kFramesetBufSize)) {
        cg->setError(cg->msg(44, "kivohandler/31"), static_cast<unsigned long>(kFramesetBufSize));
        return 0;
    }
    cg->docSize = 0;
    const char* treeColour = "FFFFFF";
    const std::string mode = valueOf(*cg->valueList, "BC");
    if (mode.empty()) {
        cg->setError(cg->msg(45, "kivohandler/32"));
        return 0;
    }
    std::string address;
    if (!documentAddress(*cg, mode, address, treeColour)) return 0;
    const int written =
        cg->docWriteBuf("<html><script type=\"text/javascript\">\n<!--\n") &&
        cg->docWriteBuf(docFramesetScriptFile()) && cg->docWriteBuf("//-->\n</script>\n") &&
        cg->docWriteBuf("<frameset cols=\"0,*\" framespacing=\"0\" frameborder=\"0\" border=\"0\">") &&
        cg->docPrintf(
            " <frame src='qzl:/kivo?AC=BLANK&amp;BG=%s' name='kivotree'  scrolling=\"no\" "
            "noresize=\"noresize\" />\n",
            treeColour) &&
        cg->docPrintf(" <frame src=\"%s\" name=\"kivodoc\" noresize=\"noresize\" />\n</frameset>\n</html>",
                      address);
    if (!written) {
        cg->setError(cg->msg(44, "kivohandler/31"), static_cast<unsigned long>(kFramesetBufSize));
        return 0;
    }
    return 1;
}

}  // namespace ruva

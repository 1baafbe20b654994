// What the pass inserts before "</head>" and "</body>": the context-menu
// style, script include, menus and key handler script.
#include <strings.h>

#include <algorithm>
#include <string>
#include <string_view>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/postprocess_texts.h"
#include "common/version.h"

namespace ruva {

namespace {

// The menus at "</body>" come with their scripts: room for them is made at
// once (at least this much past dstOffs), not piece by piece.
constexpr size_t kBodyEndMinFree = 30720;
constexpr size_t kBodyEndGrowth = 131072;

bool fieldIs(const CgiHandler& cg, const char* name, const char* value) {
    const Value* field = cg.valueList ? cg.valueList->findValue(name) : nullptr;
    return field && strcasecmp(field->value.c_str(), value) == 0;
}

}  // namespace

int CgiHandler::insertHeadEnd() {
    const PageSwitches& sw = pageSwitches;
    bool styleAndInclude = false;
    if (pass_.bAnnotated && pass_.annot) {
        pass_.annot->insertJavaScript();
        if (dstPassFailed()) return 0;
        styleAndInclude = sw.contextMenuExist;
    } else {
        if (sw.Flag_MenuDocFrame && !dstWriteBuf(contextMenuStyle())) return 0;
        styleAndInclude = sw.contextMenuExist && pass_.docLoaded && !sw.flc;
    }
    if (!styleAndInclude) return 1;
    if (!dstWriteBuf(contextMenuStyle())) return 0;
    if (fieldIs(*this, "AC", "CHNGLANG")) return 1;
    const std::string query = formatChecked(kMenuScriptQueryFormat, kSystemRevision, sw.disableContxtMenu ? 1 : 0,
                                            (flags & kCgiUseInfo) ? 1 : 0);
    return dstPrintf(kMenuScriptIncludeFormat, urlProto, kivoServName, query);
}

int CgiHandler::insertBodyEnd() {
    const PageSwitches& sw = pageSwitches;
    const bool notes = (flags & kCgiNotes) != 0;
    const int isMOM = pass_.isMOM ? 1 : 0;
    if (sw.Flag_MenuDocFrame && !sw.flc) {
        const Value* id = valueList ? valueList->findValue("ID") : nullptr;
        const bool withNotes = notes && !sw.disableContxtMenu;
        const std::string menu = documentContextMenu(withNotes, urlProto + kivoServName,
                                                     withNotes && id ? notesIdValue(id->value) : std::string());
        if (!dstWriteBuf(menu) || !dstWriteBuf(kScriptStart) || !dstPrintf(kKeyHandlerFormat, isMOM)) return 0;
        if (notes && !dstPrintf(kButtonB6Format, 0)) return 0;
        const char* reset = fieldIs(*this, "AC", "info") ? kKeyHandlerInfoReset : kKeyHandlerReset;
        if (!dstWriteBuf(reset) || !dstWriteBuf(kScriptEnd)) return 0;
    }
    if (dstbufSize - std::min(dstOffs, dstbufSize) <= kBodyEndMinFree && !growDstFor(kBodyEndGrowth - 1)) return 0;
    if (!sw.contextMenuExist || !pass_.docLoaded) return 1;
    if (!dstWriteBuf(newContextMenu()) || !dstWriteBuf(kScriptStart)) return 0;
    if (!(sw.disableContxtMenu ? dstPrintf(kNewMenuDisabledFormat, isMOM) : dstPrintf(kNewMenuEnabledFormat, isMOM)))
        return 0;
    if (notes && !dstPrintf(kButtonB6Format, 0)) return 0;
    return dstWriteBuf(kScriptEnd);
}

int CgiHandler::toolbarPageRule(size_t&) { return 0; }

}  // namespace ruva

// What the pass inserts before "</head>" and "</body>" (the context-menu
// style, script include, menus and key handler script) and on the toolbar
// page (the annotation button).
#include <strings.h>

#include <algorithm>
#include <string>
#include <string_view>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/page_scan.h"
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

int CgiHandler::toolbarPageRule(size_t& so) {
    if (!pass_.annot) return 0;
    const PageScan page(docBuf, docSize);
    if (page.startsAt(so, "<script")) {
        const size_t scriptEnd = page.find(so, "</script");
        const size_t word = page.find(so, kToolbarScriptWord, scriptEnd);
        if (word == std::string_view::npos) return 0;
        if (!copyScriptUpTo(so, word)) return -1;
        pass_.annot->insertButVariables();
        return dstPassFailed() ? -1 : 1;
    }
    // Only the last such cell gets the button; the search for a later cell
    // stops at the next one, so the page is read once over all cells.
    const std::string_view cell = kToolbarButtonCell;
    if (!page.startsAt(so, cell) || page.find(so + 1, kToolbarCellStart) != std::string_view::npos) return 0;
    pass_.annot->insertButton();
    if (dstPassFailed() || !dstWriteBuf(page.view(so, cell.size()))) return -1;
    so += cell.size();
    return 1;
}

// The toolbar script up to the word before which the button images go: it
// is a script, and the program links in it are completed as the pass would.
int CgiHandler::copyScriptUpTo(size_t& so, size_t end) {
    const PageScan page(docBuf, docSize);
    pass_.inScript = true;
    while (so < end) {
        const size_t http = page.find(so, "http:/", end);
        const size_t qzl = page.find(so, "qzl:/", end);
        const size_t link = std::min(http, qzl);
        const size_t stop = std::min(link, end);
        if (!dstWriteBuf(page.view(so, stop - so))) return 0;
        so = stop;
        if (link == std::string_view::npos) break;
        if (link == http) {
            if (!dstWriteBuf(page.view(so, 6))) return 0;
            so += 6;
        } else {
            if (!dstWriteBuf(urlProto)) return 0;
            so += 5;
        }
        if (!httpPostProcess(so, true)) return 0;
    }
    return 1;
}

}  // namespace ruva

#include <cstdint>
#include <string>
#include <string_view>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/page_scan.h"
#include "bmod/ruvaserv/cgi/postprocess_texts.h"
#include "bmod/ruvaserv/cgi/viewer_script.h"
#include "common/docmodel/class_ref_readers.h"
#include "common/html_escape.h"
#include "common/text_view.h"
#include "common/version.h"

namespace ruva {

namespace {

constexpr size_t kBodyAttrsReach = 1024;  // the body's own attributes are read this far

std::string fieldOf(const CgiHandler& cg, const char* name) {
    const Value* value = cg.valueList ? cg.valueList->findValue(name) : nullptr;
    return value ? value->value : std::string();
}

bool hasField(const CgiHandler& cg, const char* name) {
    return cg.valueList && cg.valueList->findValue(name);
}

bool isOlderBrowser(BrowserType type) {
    return type == BROWSER_IE_5 || type == BROWSER_IE_6 || type == BROWSER_NETSCAPE_6;
}

// The identity of a library reference as a reader sees it: its first two
// fields apart ("ABC99|R1A|x" gives "ABC99 R1A").
std::string displayIdentity(std::string_view record) {
    const size_t bar = record.find('|');
    if (bar == std::string_view::npos) return std::string(record);
    const std::string_view rest = record.substr(bar + 1);
    const std::string_view second = rest.substr(0, rest.find('|'));
    std::string shown(record.substr(0, bar));
    if (!second.empty()) shown.append(" ").append(second);
    return shown;
}

}  // namespace

int CgiHandler::bodyPostProcess(size_t& so) {
    const PageScan scan(docBuf, docSize);
    // The body's own attributes: an onload of its own (or replaceTopUrl)
    // keeps the generated handlers out.
    bool ownOnload = false;
    bool hasAttributes = false;
    const size_t size = scan.size();
    const size_t from = so < size ? so : size;
    const size_t reach = size - from > kBodyAttrsReach ? from + kBodyAttrsReach : size;
    const size_t gt = scan.findByte(from, '>', reach);
    const std::string_view attrs =
        scan.page().substr(from, (gt == std::string_view::npos ? reach : gt) - from);
    for (const char c : attrs)
        if (!isAsciiSpace(static_cast<unsigned char>(c))) hasAttributes = true;
    if (PageScan(attrs.data(), attrs.size()).find(0, "onload") != std::string_view::npos) {
        flags &= ~kCgiWholePage;
        ownOnload = true;
    }
    if (attrs.find("replaceTopUrl();") != std::string_view::npos) ownOnload = true;
    if (!hasAttributes && !bodyAttrs.empty() && (!dstWriteBuf(" ") || !dstWriteBuf(kBodyDefaultAttrs)))
        return 0;
    if (options & kOptPlainFileLinks) return 1;
    if (!dstWriteBuf(" ")) return 0;

    const std::string ac = fieldOf(*this, "AC");
    const bool info = ac.size() == 4 && startsCaseBlindAt(ac, 0, "info");
    std::string_view menuAttr = " ";
    std::string_view menuCall;
    if (info) {
        menuAttr = kBodyCmenuDoc;
        menuCall = kBodyCmenuDocCall;
    } else if (pageSwitches.contextMenuExist && !pageSwitches.flc) {
        menuAttr = kBodyContextArea;
        menuCall = kBodyContextAreaCall;
    } else if (pageSwitches.Flag_MenuDocFrame && !pageSwitches.flc) {
        menuAttr = kBodyCmenuDoc;
        menuCall = kBodyCmenuDocCall;
    }
    if (!dstWriteBuf(menuAttr)) return 0;

    if ((flags & kCgiBodyHandlers) && !ownOnload) {
        std::string handlers;
        if (info) {
            handlers = formatChecked(kBodyInfoOnloadFormat, curId, folder);
        } else {
            handlers = formatChecked(kBodyOnloadFormat, curId, folder, folder);
            if (isOlderBrowser(browserType)) handlers += kBodyOnloadPdfButton;
            if (pageSwitches.flc && pageSwitches.disableContxtMenu) handlers += kBodyOnloadNoMenuButton;
            handlers += kBodyOnloadEnd;
        }
        handlers.append(kBodyMouseDownStart).append(menuCall).append(kBodyMouseDownEnd);
        if (!info) handlers += kBodyOnscroll;
        if (!dstWriteBuf(handlers)) return 0;
    }

    if (hasField(*this, "TI") || hasField(*this, "CW")) {
        if (!isOlderBrowser(browserType)) return dstWriteBuf(kBodySearch);
        if (fieldOf(*this, "FN").empty()) return dstWriteBuf(kBodySearchOld);
    }
    return 1;
}

int CgiHandler::insertCTOCGenerateScript(size_t& so) {
    if (subLibrary.empty()) return 1;
    std::string script = kCollectionTreeHead;
    if (!libraryTitle.empty())
        script += formatChecked(kCollectionRootFormat, escapeScriptString(libraryTitle),
                                escapeScriptString(libraryId));
    else if (!libraryId.empty())
        script += formatChecked(kCollectionNoTitleRootFormat, "No Title");
    const bool showMissing = startsCaseBlindAt(showMissingLibs, 0, "Yes");
    // A library the server cannot name is only missing: its lookup leaves
    // no error text behind.
    const std::string saved = getError();
    const size_t count = libCount > 0 && static_cast<size_t>(libCount) < subLibrary.size()
                             ? static_cast<size_t>(libCount)
                             : subLibrary.size();
    for (size_t i = 0; i < count; ++i) {
        std::string identity, name;
        if (!getLibIdNameFromLibRefString(subLibrary[i].c_str(), identity, name) || identity.empty())
            continue;
        const std::string variable = formatChecked(kCollectionVariableFormat, static_cast<int>(i));
        std::string title;
        if (getHashIDfromLI(identity, nullptr, &title) > 0) {
            script += formatChecked(kCollectionNodeFormat, variable,
                                    escapeScriptString(title.empty() ? "No Title" : title),
                                    escapeScriptString(identity));
        } else if (showMissing) {
            script += formatChecked(kCollectionNodeFormat, variable,
                                    escapeScriptString(displayIdentity(subLibrary[i])),
                                    escapeScriptString("#" + identity));
        }
    }
    errmsg = saved;
    script += kCollectionTreeEnd;
    script += viewerScript("collection");
    subLibrary.clear();
    libCount = 0;
    return writeDocTOCJavaScript(script, so);
}

int CgiHandler::insertTOCGenerateScript() {
    if (kivoServName.empty()) return 1;
    std::string script = formatChecked(kTocTreeHeadFormat, (flags & kCgiNotes) ? 1 : 0);
    script +=
        formatChecked(kTocImageBaseFormat, escapeScriptString(urlProto + kivoServName), kSystemRevision);
    script += viewerScript("tree-render");
    script += viewerScript("generate-dtoc");
    script += viewerScript("generate-ctoc");
    size_t unused = 0;
    return writeDocTOCJavaScript(script, unused);
}

int CgiHandler::insertAutoSyncScript() {
    if (kivoServName.empty()) return 1;
    size_t unused = 0;
    return writeDocTOCJavaScript(viewerScript("auto-sync"), unused);
}

int CgiHandler::updateAutoSyncScript() {
    return 1;
}

int CgiHandler::writeDocTOCJavaScript(std::string_view text, size_t&) {
    if (text.empty()) return 1;
    // Room for the text and its NUL, grown in one step; a failed growth
    // leaves the output as it was.
    if (dstOffs >= dstbufSize || text.size() >= dstbufSize - dstOffs) {
        const bool overflow = text.size() > SIZE_MAX - 1 - dstOffs;
        const size_t n = overflow ? SIZE_MAX : dstOffs + text.size() + 1;
        if (overflow || !reallocDstBuf(n)) {
            if (dstPass_) {
                setError(msg(211, "cgihandler/13"), static_cast<unsigned long>(n));
                dstPassFailed_ = true;
            }
            return 0;
        }
    }
    return dstWriteBuf(text);
}

}  // namespace ruva

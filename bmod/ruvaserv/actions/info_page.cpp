// INFO: the information page of a document, from the META values of its
// first 6143 bytes.
#include <strings.h>

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "bmod/ruvaserv/cgi/kvo_text.h"
#include "bmod/ruvaserv/search/search_actions.h"
#include "common/docmodel/meta_scan.h"
#include "common/html_charset.h"
#include "common/html_escape.h"
#include "common/version.h"

namespace ruva {

namespace {

constexpr size_t kFetchBufSize = 16000;
constexpr size_t kPageBufSize = 8000;
// META values past this many bytes of the document are not looked for.
constexpr size_t kMetaCopyMax = 6143;
constexpr int kLogoIcon = 13;

// Slots of scanMetaData that the page shows.
enum MetaSlot : size_t {
    kAppr = 0,
    kChecked = 2,
    kConfidentiality = 5,
    kCtw = 7,
    kDate = 8,
    kDocName = 9,
    kDocNo = 10,
    kEngTitle = 12,
    kPrep = 15,
    kRef = 16,
    kRev = 17,
    kSubtitle = 22,
    kTitle = 25,
};

using MetaValues = std::array<std::string, kMetaSlots>;

constexpr std::string_view kNoValue = "&nbsp;";

// The character set the document names for itself: its XML declaration
// (white space may come first) before its META.
std::optional<std::string> declaredCharset(std::string_view text) {
    const size_t start = text.find_first_not_of(" \t\r\n");
    std::string_view name =
        start == std::string_view::npos ? std::string_view() : xmlDeclaredCharset(text.substr(start));
    if (name.empty()) name = metaDeclaredCharset(text);
    if (name.empty()) return std::nullopt;
    return std::string(name);
}

// A value as a cell shows it: the stored entities stay, markup does not.
std::string shown(const MetaValues& meta, MetaSlot slot) {
    return escapeHtmlKeepEntities(meta[slot], true);
}

std::string cell(std::string_view caption, const MetaValues& meta, MetaSlot slot, int span) {
    return formatChecked(
        "<td colspan=\"%d\" valign=\"top\"><span class=\"mcaption\">%s</span><br />%s</td>\n", span,
        std::string(caption), shown(meta, slot));
}

// Head up to the title. A charset the page's bytes are in is declared
// twice, since a browser reads the meta and an XML reader the declaration;
// the meta comes early, where browsers look for it.
std::string pageHead(const std::string& charset, bool withMeta) {
    std::string head = formatChecked("<?xml version=\"1.0\" encoding=\"%s\"?>\n", charset);
    head += kXhtmlDoctype;
    head += kXhtmlStartTag;
    head += "\n<head>\n";
    head +=
        "<style type=\"text/css\">\n"
        ".TITLE { font-family:helvetica, arial, sans-serif; font-size:16pt; font-weight:bold }\n"
        ".SHORTTITLE { font-family:helvetica, arial, sans-serif; font-size:12pt; color:#555555 }\n"
        ".SUBTITLE { font-family:helvetica, arial, sans-serif; font-size:12pt; font-style:italic }\n"
        ".mcaption { font-family:helvetica, arial, sans-serif; font-size:8pt; color:#555555 }\n"
        "</style>\n";
    if (withMeta)
        head +=
            formatChecked("<meta http-equiv=\"Content-type\" content=\"text/html; charset=%s\">\n", charset);
    const std::string title = getTextStr(9);
    head += formatChecked("<title>%s</title>\n</head><body>\n", title);
    head += formatChecked(
        "<table width=\"100%%\" border=\"0\"><tr><td class=\"TITLE\">%s</td></tr></table>\n", title);
    return head;
}

std::string pageTables(const MetaValues& meta) {
    std::string page = formatChecked(
        "<table class=\"QOXHEADER\" width=\"100%%\" border=\"0\"><tr>\n"
        "<td><img src=\"qzl:/kivo?VR=%s&amp;AC=tbimg&amp;IM=%d\" title=\"VANDROVE /// \" alt=\"VANDROVE /// "
        "\" /></td>\n"
        "<td align=\"right\" valign=\"top\">%s<br />%s</td>\n</tr></table>\n",
        kSystemRevision, kLogoIcon, shown(meta, kConfidentiality), shown(meta, kDocName));
    page += "<table width=\"100%\" border=\"1\" cellspacing=\"0\" cellpadding=\"2\">\n<tr>\n";
    page += cell("Prepared (also subject responsible if other)", meta, kPrep, 3);
    page += cell("No.", meta, kDocNo, 2);
    page += "</tr>\n<tr>\n";
    page += cell(getTextStr(14), meta, kAppr, 1);
    page += cell(getTextStr(15), meta, kChecked, 1);
    page += cell(getTextStr(11), meta, kDate, 1);
    page += cell(getTextStr(12), meta, kRev, 1);
    page += cell("Reference", meta, kRef, 1);
    page += "</tr>\n</table>\n";
    return page;
}

std::string pageTitles(const MetaValues& meta) {
    std::string page =
        formatChecked("<h2 align=\"right\"><font class=\"SHORTTITLE\">%s</font></h2>\n", shown(meta, kCtw));
    page += formatChecked("<h1 align=\"left\">%s</h1>\n", shown(meta, kTitle));
    // The "&nbsp;" test reads the value as scanned, before it is escaped.
    for (MetaSlot slot : {kSubtitle, kEngTitle}) {
        if (meta[slot] == kNoValue) continue;
        page +=
            formatChecked("<h2 align=\"left\"><font class=\"SUBTITLE\">%s</font></h2>\n", shown(meta, slot));
    }
    return page;
}

// The page replaces the fetched document in the buffer.
int writeInfoPage(CgiHandler& cg, const std::string& document) {
    cg.freeDocBuf();
    if (!cg.allocDocBuf(kPageBufSize)) {
        cg.setError(msgFormat(37, "kivohandler/26"), static_cast<unsigned long>(kPageBufSize));
        return 0;
    }
    cg.docSize = 0;
    MetaValues meta;
    const bool japanese = scanMetaData(meta, document) == 1;
    std::optional<std::string> declared =
        japanese ? std::optional<std::string>("euc-jp") : declaredCharset(document);
    const std::string page =
        pageHead(declared.value_or("UTF-8"), declared.has_value()) + pageTables(meta) + pageTitles(meta);
    if (!cg.docWriteBuf(page)) {
        cg.setError(msgFormat(37, "kivohandler/26"), static_cast<unsigned long>(page.size()));
        return 0;
    }
    if (!cg.outputTail()) return 0;
    cg.flags |= kCgiNoSearchWords;
    return 1;
}

}  // namespace

int KivoHandler::infoAction() {
    if (!cg || !cg->valueList) return 0;
    cg->freeDocBuf();
    // The lookup's own pages (results, no match) are written into this.
    if (!cg->allocDocBuf(kFetchBufSize)) {
        setError(msgFormat(32, "kivohandler/21"), static_cast<unsigned long>(kFetchBufSize));
        return 0;
    }
    cg->docSize = 0;
    if (!cg->establishDefaultSession()) {
        setError(msgFormat(33, "kivohandler/22"), cg->getError());
        return 0;
    }
    if (const Value* dt = cg->valueList->findValue("DT");
        dt && !dt->value.empty() && strcasecmp(dt->value.c_str(), "QX")) {
        setError(msgFormat(34, "kivohandler/23"), errorArgument(dt->value));
        return 0;
    }
    // A chapter would make the lookup redirect to it instead of fetching.
    if (Value* ch = cg->valueList->findValue("CH")) cg->valueList->removeValue(ch);
    std::unique_ptr<SearchActions> sa = newSearchActions(cg);
    if (!sa) {
        setError(msgFormat(0, "kivohandler/79"), "SearchActions");
        return 0;
    }
    // Only the lookup's own pages set this: a hit list or no-match page.
    cg->flags &= ~kCgiNoSearchWords;
    const int fetched = sa->getKivoDocument(*this);
    sa.reset();
    // The lookup answered itself (an error page) or gave its own page
    // instead of a document: that is the answer.
    if (fetched && (cg->flags & (kCgiResponseDone | kCgiNoSearchWords))) return 1;
    if (!fetched || !cg->docBuf || cg->docSize == 0) {
        setError(msgFormat(35, "kivohandler/24"));
        return 0;
    }
    // The copy outlives the buffer, which the page replaces; the last byte
    // is left out as it always was.
    const std::string copy(cg->docBuf, std::min(cg->docSize - 1, kMetaCopyMax));
    return writeInfoPage(*cg, copy);
}

}  // namespace ruva

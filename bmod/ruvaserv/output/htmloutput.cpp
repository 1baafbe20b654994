#include "bmod/ruvaserv/output/htmloutput.h"

#include <strings.h>

#include <charconv>
#include <cstring>
#include <new>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/valuelist.h"
#include "bmod/ruvaserv/output/htmloutput_rows.h"
#include "bmod/ruvaserv/output/htmloutput_styles.h"
#include "common/docmodel/docno.h"
#include "common/html_escape.h"
#include "common/html_header.h"
#include "common/text.h"
#include "common/text_view.h"
#include "common/url_code.h"
#include "common/version.h"

namespace ruva {

namespace {

// The notes address is cut here, as the list page always did.
constexpr std::size_t kNoteUrlMax = 3071;
// The search word of a row's link is cut here.
constexpr std::size_t kSearchWordMax = 1024;
// The notes list's toolbar image.
constexpr int kNoteImage = 133;

const char* orEmpty(const char* s) {
    return s ? s : "";
}

bool isSet(const std::string* value) {
    return value != nullptr && !value->empty();
}

// The type part of a member name, from its last '.'; empty when the name
// splits into number and revision only, so "x.A" is not taken as type "A".
std::string_view memberExtension(const char* fn, const std::optional<std::string>& ftype) {
    return ftype ? fromLastDot(fn) : std::string_view();
}

const char* rowStartTag(int colorChoice) {
    return colorChoice == 1 ? "<tr class=\"b2\">\n" : "<tr class=\"b1\">\n";
}

void appendNumber(std::string& out, std::uint64_t value) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, end);
}

}  // namespace

const std::string* requestField(const KvoOutput* ao, const char* name) {
    if (ao == nullptr || ao->cg == nullptr || ao->cg->valueList == nullptr) return nullptr;
    const Value* pair = ao->cg->valueList->findValue(name);
    return pair ? &pair->value : nullptr;
}

KvoFormat::KvoFormat(KvoOutput* out) : ao(out) {
    iconTable = {{
        {10, "HTML document", {}},
        {12, "PDF document", {}},
        {11, "Multimedia document", {}},
        {10, "", {}},
        {21, "New document", {}},
        {22, "Removed document", {}},
        {23, "Changed document (new)", {}},
        {24, "Changed document (old)", {}},
        {89, "Click to sort", {}},
        {90, "Click to sort", {}},
        {91, "Click to sort", {}},
        {92, "Document Format", {}},
        {93, "Microsoft Excel document", {}},
        {105, "Folder", {}},
    }};
}

KvoFormat::~KvoFormat() = default;

std::unique_ptr<KvoFormat> newKvoHtmlFormat(KvoOutput* out) {
    return std::unique_ptr<KvoFormat>(new (std::nothrow) KvoFormat(out));
}

std::size_t KvoFormat::estimateBufferSize(std::size_t nodeCount) const {
    return nodeCount * 1000 + 4000;
}

void KvoFormat::write(std::string_view text) {
    if (ao != nullptr) ao->kvoWrite(text);
}

int KvoFormat::openDoc(const char* htmlTitle, const char* langCode) {
    write(kXhtmlDoctype);
    write(kXhtmlStartTag);
    print("\n<head>\n<title>%s</title>\n", escapeHtmlKeepEntities(orEmpty(htmlTitle), false));
    if (langCode != nullptr && strcasecmp(langCode, "Uja") == 0) {
        write("<meta http-equiv=\"Content-type\" content=\"text/html; charset=euc-jp\">\n");
    }
    const std::string* sl = requestField(ao, "SL");
    const std::string* ac = requestField(ao, "AC");
    const bool searchPage = (ac != nullptr && strcasestr(ac->c_str(), "search") != nullptr) ||
                            isSet(requestField(ao, "CW")) || isSet(requestField(ao, "TI"));
    const bool collection = isSet(sl);
    if (searchPage) {
        print(kSearchStyleSheetHead, collection ? "" : "position:fixed;", collection ? "-2px" : "0px",
              collection ? "" : "padding-top:3px;", collection ? "0px" : "2px");
        print(kSearchStyleSheetTail, collection ? "0px" : "62px", collection ? "0px" : "52px",
              collection ? "position:absolute;" : "position:fixed;");
        write("</head>");
    } else {
        print(kPlainStyleSheet, "helvetica, arial, sans-serif");
    }
    const std::string* st = requestField(ao, "ST");
    const bool searchAction = ac != nullptr && (strcasecmp(ac->c_str(), "SEARCH") == 0 ||
                                                strcasecmp(ac->c_str(), "SEARCHEXT") == 0);
    if (searchAction && (st == nullptr || strcasecmp(st->c_str(), "DocSearch") != 0)) {
        write(
            "<body bgcolor=\"#FFFFFF\" link=\"#004499\" vlink=\"#004499\" alink=\"#004499\" id=\"srchBody\" "
            "onload=\"if(self.name=='kivodoc'){var browser = new top.browserType();if(browser.isIE){"
            "top.kivomain.kivodoc.focus();}if(top.kivotbar) top.kivotbar.enableBut('b3'); if(top.kivomain "
            "&& !top.OvrlyDisplyed){top.kivomain.togBnew(0);top.dynamicToolBar();} }\" "
            "onmousedown=\"if(self.name=='kivodoc'){ top.whichElement(event); }\">\n");
    } else {
        write(
            "<body bgcolor=\"#FFFFFF\" link=\"#004499\" vlink=\"#004499\" alink=\"#004499\" "
            "onload=\"if(self.name=='kivodoc'){ if(top.kivotbar) top.kivotbar.enableBut('b3'); "
            "if(top.kivomain){top.kivomain.togBnew(0);top.dynamicToolBar();} }\">\n");
    }
    return 1;
}

int KvoFormat::closeDoc() {
    write("<hr size=\"1\">\n</body></html>\n");
    return 1;
}
int KvoFormat::openList() {
    write("<table width=\"100%\" border=\"0\" cellspacing=\"1\" cellpadding=\"1\">\n");
    return 1;
}
int KvoFormat::closeList() {
    write("</table>");
    return 1;
}
int KvoFormat::setListSymbol(const char* RGBcode) {
    print("<td bgcolor=\"#%s\">&nbsp;</td>", orEmpty(RGBcode));
    return 1;
}
int KvoFormat::startList() {
    write("<td><pre>");
    return 1;
}
int KvoFormat::stopList() {
    write("</pre></td>");
    return 1;
}
int KvoFormat::startRow(int colorChoice) {
    write(rowStartTag(colorChoice));
    return 1;
}
int KvoFormat::stopRow() {
    write("</tr>\n");
    return 1;
}

// The row is built in one string and written once: a comparison page holds
// thousands of rows, and each write costs a growth check and a copy.
int KvoFormat::writeDocRow(const char* db, const char* fn, int toolbar, int* pfr, const char* title,
                           const char* engtitle, const char* synopsis, int searchType, int colorChoice,
                           int force_icon) {
    if (fn == nullptr || filenameToDocno(fn, &rowDocno_, &rowRev_, &rowType_) == 0) return 0;
    std::string& out = rowText_;
    out.clear();
    out += rowStartTag(colorChoice);
    setHtmlFileIcon(out, db, fn, rowType_, toolbar, searchType, force_icon);
    setHtmlDocTitle(out, db, fn, toolbar, pfr, title, engtitle, synopsis);
    setHtmlDocId(out, rowDocno_, rowRev_);
    out += "</tr>\n";
    write(out);
    return 0;
}

int KvoFormat::writeRow(const char* str) {
    write(orEmpty(str));
    return 1;
}

int KvoFormat::writeTableCellRow(const char* buffer) {
    write("<tr><td colspan=\"3\" bgcolor=\"fcfcfc\">");
    write("<table width=\"100%\"><tr><td width=\"20\"></td><td>");
    write(orEmpty(buffer));
    write("</td></tr></table>");
    write("</td></tr>\n");
    return 1;
}

int KvoFormat::startHeader(const char* hLevel) {
    print("\n<%s%s>&nbsp;&nbsp;", orEmpty(hLevel), (flags & kKvoFormatCenter) ? " align=center" : "");
    return 1;
}
int KvoFormat::stopHeader(const char* hLevel) {
    print("</%s>\n", orEmpty(hLevel));
    return 1;
}

// The builders double every '%', the caller's text included; undoing that
// by substitution keeps the text away from any formatting pass.
int KvoFormat::writeMainHeader(const char* str) {
    write(undoublePercents(makeHtmlMainHeader(str)));
    return 1;
}
int KvoFormat::writeListingHeader(const char* str) {
    write(undoublePercents(makeHtmlCompareHeader(str)));
    return 1;
}
int KvoFormat::writeListingHeaderSearch(const char* str, int col) {
    write(undoublePercents(makeHtmlSearchHeader(str, col)));
    return 1;
}

int KvoFormat::writeSubHeader(const char* str, const char* hLevel, int center) {
    setCenter(center);
    startHeader(hLevel);
    write(orEmpty(str));
    stopHeader(hLevel);
    return 1;
}
int KvoFormat::write2partHeader(const char* str1, const char* str2, int center) {
    setCenter(center);
    startHeader("p");
    print("<b>%s</b> %s", orEmpty(str1), orEmpty(str2));
    stopHeader("p");
    return 1;
}

void KvoFormat::setCenter(int center) {
    if (center == 1) {
        flags |= kKvoFormatCenter;
    } else {
        flags &= static_cast<std::uint16_t>(~kKvoFormatCenter);
    }
}

int KvoFormat::writeHorizontalDivider() {
    write("<hr size=\"1\" class=\"hr\" />");
    return 1;
}

int KvoFormat::writeCompareHeader(const char* dbTitle1, const char* dbTitle2) {
    write(
        "<tr>\n<td colspan=\"2\" bgcolor=\"#fcfcfc\" align=\"center\">\n"
        "<table border=\"0\" cellspacing=\"2\" cellpadding=\"0\">\n"
        "<tr><td colspan=\"2\" height=\"6\"></td></tr>\n<tr>\n"
        "<td class=\"c4\">Changes in new library</td>\n");
    print("<td class=\"c4\" align=\"left\"><b><font color=\"#666666\">&nbsp; %s</font></b></td>\n</tr>\n",
          escapeHtmlKeepEntities(orEmpty(dbTitle2), false));
    write("<tr><td class=\"c4\">compared to old library</td>\n");
    print("<td class=\"c4\" align=\"left\"><b><font color=\"#666666\">&nbsp; %s</font></b></td>\n</tr>\n",
          escapeHtmlKeepEntities(orEmpty(dbTitle1), false));
    write("<tr><td colspan=\"2\" height=\"6\"></td></tr>\n</table>\n</td>\n</tr>\n");
    return 1;
}

int KvoFormat::writeListingSubHeader(const char* str, int center) {
    write("<tr height=\"35\"><td colspan=\"2\" bgcolor=\"#e5e5e5\" class=\"c2\" ");
    write(center == 1 ? "align=\"center\">\n" : ">\n");
    print("<b>&nbsp; %s</b></td></tr>\n", orEmpty(str));
    return 1;
}

int KvoFormat::writeListingHeadTitles() {
    write(
        "<tr bgcolor=\"#e5e5e5\">\n"
        "<td width=\"70%\" class=\"c3\" height=\"22\">Title</td>\n"
        "<td width=\"30%\" class=\"c3\" height=\"22\">Identity</td>\n"
        "</tr>\n"
        "<tr><td height=\"2\" colspan=\"2\"></td></tr>\n");
    return 1;
}

int KvoFormat::writeListingInterHeader(const char* str1, const char* str2, int space) {
    if (space == 1) write("<tr><td height=\"11\" colspan=\"4\"></td></tr>\n");
    write("<tr bgcolor=\"#e5e5e5\">\n");
    if (strcasecmp(orEmpty(str2), " - please refine the search or use the Advanced Search form") == 0) {
        print(
            "<td colspan=\"4\" class=\"c4\" height=\"22\"><b> %s</b> &nbsp; &nbsp; - please refine the "
            "search "
            "or use <a href='javascript:top.selFunc(\"advsearch\")'>the Advanced Search form</a></td>\n",
            orEmpty(str1));
    } else {
        print("<td colspan=\"4\" class=\"c4\" height=\"22\"><b> %s</b> &nbsp; &nbsp;%s</td>\n", orEmpty(str1),
              orEmpty(str2));
    }
    write("</tr>\n");
    return 1;
}

int KvoFormat::writeBlankRow() {
    write("<tr bgcolor=\"#fcfcfc\">\n<td colspan=\"3\" height=\"22\">&nbsp;</td>\n</tr>\n");
    return 1;
}

int KvoFormat::setKvoHtmlIcon(std::uint64_t id, const char* path) {
    for (DocRowIcon& icon : iconTable) {
        if (icon.id == id) icon.physicalPath = std::string(orEmpty(path));
    }
    return 1;
}

int KvoFormat::setHtmlDocType(const char* doctype) {
    write("<td class=\"c1\">");
    if (std::strcmp(orEmpty(doctype), "ZUnknown") != 0) write(orEmpty(doctype));
    write("</td>\n");
    return 1;
}

int KvoFormat::setHtmlDocNote(const char* db, const char* fn, int noteflag) {
    write("<td class=\"sh1_nt\">");
    if (noteflag != 0) {
        std::string url = "qzl:/kivo?AC=NOTELI&FN=" + encodeLinkValue(orEmpty(fn));
        url += isLibraryId(db) ? "&ID=" : "&DB=";
        url += encodeLinkValue(orEmpty(db));
        if (url.size() > kNoteUrlMax) url.resize(kNoteUrlMax);
        print(
            "<a href=\"javascript: top.createlistwindow('%s')\" title=\"List all Notes in this document\">"
            "<img src=\"qzl:/kivo?VR=%s&amp;AC=tbimg&amp;IM=%d\" title=\"List all Notes in this document\" "
            "width=\"17\" height=\"16\"/></a>",
            url, kSystemRevision, kNoteImage);
    }
    write("</td>\n");
    return 1;
}

void KvoFormat::setHtmlFileIcon(std::string& out, const char* db, const char* fn,
                                const std::optional<std::string>& ftype, int toolbar, int searchType,
                                int force_icon) const {
    // ST matters only beside PA; a comparison has neither.
    const std::string* pa = requestField(ao, "PA");
    const std::string* st = isSet(pa) ? requestField(ao, "ST") : nullptr;
    const DocRowIcon& icon = iconTable[rowIconIndex(fn, memberExtension(fn, ftype), force_icon, false)];
    out += "<td class=\"c1\">";
    out += toolbar == 1 ? "<a href=\"qzl:/kivo?AC=LINKEXT&amp;" : "<a href=\"qzl:/kivo?AC=LINK&amp;";
    out += isLibraryId(db) ? "ID=" : "DB=";
    appendLinkValue(out, orEmpty(db));
    out += "&amp;FN=";
    appendLinkValue(out, fn);
    if (isSet(pa) && isSet(st)) {
        std::string_view word;
        if (searchType == kSearchTypeTitle) {
            word = "Title";
        } else if (searchType == kSearchTypeDocNo) {
            word = "DocNo";
        } else if (searchType == kSearchTypeCatchwordAlt || searchType == kSearchTypeCatchword) {
            word = "Catchword";
        } else if (searchType == kSearchTypeFolder) {
            word = "FOLDER";
        } else {
            word = std::string_view(*st).substr(0, kSearchWordMax);
        }
        const bool anchor = isMatchAnchorWord(word) && !isPdfExtension(memberExtension(fn, ftype)) &&
                            (flags & kKvoFormatMatchAnchor) != 0;
        out += "&amp;PA=";
        out += urlEncode(URLMODE_ENCODE_SCRIPT, pa->c_str(), pa->size() + 80);
        out += "&amp;ST=";
        appendLinkValue(out, word);
        out += anchor ? "#SearchMatch1\">" : "\">";
    } else {
        out += "\">";
    }
    out += "&nbsp;<img class=\"m5\" border=\"0\" align=\"top\" src=\"qzl:/kivo?VR=";
    out += kSystemRevision;
    out += "&amp;AC=TBIMG&amp;IM=";
    appendNumber(out, icon.id);
    out += "\" alt=\"";
    out += icon.text;
    out += "\" title=\"";
    out += icon.text;
    out += "\"/>";
}

void KvoFormat::setHtmlDocTitle(std::string& out, const char*, const char*, int, int*, const char* title,
                                const char* engtitle, const char* synopsis) {
    out += "&nbsp; ";
    appendHtmlKeepEntities(out, orEmpty(title), false);
    out += " &nbsp;";
    if (engtitle != nullptr && *engtitle != '\0') {
        out += "<br>&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;<font color=\"#505050\">";
        appendHtmlKeepEntities(out, engtitle, false);
        out += "</font>";
    }
    out += "</a>";
    // The synopsis is HTML by contract; short ones are noise.
    if (synopsis != nullptr && std::strlen(synopsis) > 6) {
        out += "<br>&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;<font size=\"2\"><i>";
        out += synopsis;
        out += "</i></font>";
    }
    out += "</td>";
}

void KvoFormat::setHtmlDocId(std::string& out, std::string_view docno, std::string_view rev) {
    out += "<td nowrap=\"nowrap\" class=\"c3\" valign=\"top\">";
    appendHtmlKeepEntities(out, docno, false);
    out += "&nbsp;";
    appendHtmlKeepEntities(out, rev, false);
    out += "</td>\n";
}

// writeDocRow's cells with the link taken out: the icon and title markup
// stay theirs, and the identity is the number as listed.
int KvoFormat::writeDocRowNoLink(const char* title, const char* engtitle, const char* number, int colorChoice,
                                 int force_icon) {
    static constexpr std::string_view kLinkStart = "<a href=\"";
    static constexpr std::string_view kIconStart = "&nbsp;<img ";
    static constexpr std::string_view kLinkEnd = "</a>";
    std::string& out = rowText_;
    out.clear();
    out += rowStartTag(colorChoice);
    const std::size_t iconCell = out.size();
    setHtmlFileIcon(out, "", "", std::nullopt, 0, 0, force_icon);
    const std::size_t link = out.find(kLinkStart, iconCell);
    const std::size_t icon = out.find(kIconStart, link);
    if (link == std::string::npos || icon == std::string::npos) return 0;
    out.erase(link, icon - link);
    const std::size_t titleCell = out.size();
    setHtmlDocTitle(out, "", "", 0, nullptr, title, engtitle, nullptr);
    const std::size_t linkEnd = out.rfind(kLinkEnd);
    if (linkEnd == std::string::npos || linkEnd < titleCell) return 0;
    out.erase(linkEnd, kLinkEnd.size());
    out += "<td nowrap=\"nowrap\" class=\"c3\" valign=\"top\">";
    appendHtmlKeepEntities(out, orEmpty(number), false);
    out += "</td>\n</tr>\n";
    write(out);
    return 1;
}

}  // namespace ruva

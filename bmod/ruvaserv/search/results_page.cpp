// The results page: the single-hit shortcuts, the head with its scripts,
// the summary, the library table and the notes around the rows.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "bmod/ruvaserv/client/uzresponse.h"
#include "bmod/ruvaserv/client/uzsession.h"
#include "bmod/ruvaserv/output/htmloutput.h"
#include "bmod/ruvaserv/output/kvooutput.h"
#include "bmod/ruvaserv/search/results_page_parts.h"
#include "bmod/ruvaserv/search/results_scripts.h"
#include "common/docmodel/comment_tokens.h"
#include "common/url_code.h"

namespace ruva {

using namespace results_page;

namespace {

constexpr const char* kPageTitle = "Kivo Browser - Search Results";
constexpr const char* kHelpMember = "kivo_help.khx";
constexpr std::size_t kLoadingArgumentMax = 3071;
// The summary's running length starts here; parts stop once it passes 45.
constexpr std::size_t kSummaryStart = 23;
constexpr std::size_t kSummaryRoom = 45;
// Longer patterns of other searches show as "<b>...</b>".
constexpr std::size_t kSummaryPatternMax = 29;
constexpr int kIconFilters = 139;
constexpr int kIconLibrary = 87;
constexpr int kIconCollection = 89;
constexpr int kIconSpacer = 124;

// One library's run in the working order with the hits it counts.
struct LibraryRun {
    const UzQxSearchEntry* first = nullptr;
    std::int64_t count = 0;
};

std::vector<LibraryRun> libraryRuns(const std::vector<UzQxSearchEntry*>& hits) {
    std::vector<LibraryRun> runs;
    for (const UzQxSearchEntry* e : hits) {
        if (e->ID.empty()) continue;
        if (runs.empty() || runs.back().first->ID != e->ID) runs.push_back({e, 0});
        const std::int64_t n = e->actualHits > 0 ? static_cast<std::int64_t>(e->actualHits) : 1;
        runs.back().count = std::min(runs.back().count + n, kShownCountMax);
    }
    return runs;
}

// The three spacer images that give the head the list's column widths.
std::string spacerRow(const CgiHandler& cg, const char* revision) {
    const std::string src = pageText(cg.urlProto + cg.kivoServName);
    std::string row = "<tr>";
    for (const char* width : {"418", "176", "236"}) {
        row += formatChecked(
            "<td class=\"s2\"><img height=\"1\" width=\"%s\" alt=\"\" "
            "src=\"%s?VR=%s&amp;AC=tbimg&amp;IM=%d\" /></td>",
            width, src, revision, kIconSpacer);
    }
    return row + "</tr>\n";
}

std::string iconImage(const char* revision, int icon) {
    if (icon == 0) return "";
    return formatChecked(
        "<img border=\"0\" align=\"top\" alt=\"\" src=\"qzl:/kivo?VR=%s&amp;AC=TBIMG&amp;IM=%d\"/>", revision,
        icon);
}

// A value of the Loading page's arguments, URL-coded.
std::string loadingArgument(const char* name, std::string_view value) {
    return std::string(name) +
           urlEncode(URLMODE_ENCODE_SCRIPT, std::string(value).c_str(), kLoadingArgumentMax);
}

// The page's writer: the request, the prepared results and the output.
class PageWriter {
public:
    PageWriter(SearchResultFmt& sr, PreparedResults& out, KvoFormat& fmt,
               const std::optional<std::string>& SL)
        : sr_(sr), cg_(sr.cg), out_(out), fmt_(fmt), ao_(*fmt.ao), SL_(SL) {}

    void loadingPage(const UzQxSearchEntry& hit);
    void head();
    void resultsHeader();
    int libraryTable();
    void capNotice();

private:
    void summary();
    void advancedSummary(bool linkList);
    void otherSummary();
    bool wantsTable() const;
    void writeLibraryRow(const LibraryRun& run, const LibraryAnswer& answer, int icon, bool linked);
    void writeZeroRow(const std::string& id);
    std::string filterCell(const LibraryAnswer& answer);

    SearchResultFmt& sr_;
    CgiHandler& cg_;
    PreparedResults& out_;
    KvoFormat& fmt_;
    KvoOutput& ao_;
    const std::optional<std::string>& SL_;
};

void PageWriter::loadingPage(const UzQxSearchEntry& hit) {
    std::vector<std::string> args;
    if (cg_.flags & kCgiAllowUzOnUrl) args.push_back(loadingArgument("UZ=", hit.servname));
    args.push_back(loadingArgument(hit.ID.find('.') != std::string::npos ? "DB=" : "ID=", hit.ID));
    args.push_back(loadingArgument("FN=", hit.filename));
    if (const std::string* sl = field(cg_, "SL")) args.push_back(loadingArgument("SL=", *sl));
    if (const std::string* ch = field(cg_, "CH")) args.push_back(loadingArgument("CH=", *ch));
    args.push_back("AC=LINKEXT");
    if (cg_.options) args.push_back(formatChecked("OP=%x", cg_.options));
    std::string joined;
    for (const std::string& a : args) joined += (joined.empty() ? "" : "&") + a;

    ao_.kvoWrite(
        "<HTML>\n<HEAD>\n<TITLE>\n Generating Test Results\n</TITLE>\n</HEAD>\n"
        "<BODY onload=\"replaceTopUrl();\n\">");
    ao_.kvoWrite("<script type=\"text/javascript\">\n//<![CDATA[\n");
    ao_.kvoPrintf("var protocol = '%s';\nvar kivoserv = '%s';\nvar args = '%s';\n",
                  escapeScriptString(cg_.urlProto), escapeScriptString(cg_.kivoServName),
                  escapeScriptString(joined));
    ao_.kvoWrite(loadingPageScriptFile());
    ao_.kvoWrite("//]]>\n</script>\n");
    ao_.kvoWrite(
        "<center><p><b>Please, wait ...</b></p>"
        "<p><font color=\"#999999\">Loading document</font></p></center>\n");
    ao_.kvoWrite("</BODY>\n</HTML>");
}

void PageWriter::head() {
    fmt_.openDoc(kPageTitle, out_.langCode.c_str());
    cg_.helpCount = 0;
    std::unique_ptr<UzResponse> listing = cg_.sess ? cg_.sess->list("") : nullptr;
    if (listing && listing->resultCode == 200) {
        for (const UzListEntry* e = listing->list(); e != nullptr; e = e->next.get()) {
            if (!e->filled() || e->database->find(kHelpMember) == std::string::npos) continue;
            ++cg_.helpCount;
            cg_.helpID = e->database->substr(0, kHelpIdMax);
        }
    }
    ao_.kvoWrite("<script type=\"text/javascript\">\n//<![CDATA[\n");
    ao_.kvoPrintf("var helpID = '%s';\nvar helpCount = %d;\n", escapeScriptString(cg_.helpID), cg_.helpCount);
    ao_.kvoWrite(resultsPageScriptFile());
    ao_.kvoWrite("//]]>\n</script>\n");
}

void PageWriter::resultsHeader() {
    const char* revision = sr_.edition.revision;
    if (isDocSearch(cg_)) {
        if (cg_.charEnc)
            ao_.kvoWrite("\n<meta http-equiv=\"Content-type\" content=\"text/html; charset=euc-jp\">\n");
        ao_.kvoWrite(
            "<table width=\"100%\" cellspacing=\"1\" cellpadding=\"1\">\n"
            "<tr><th class=\"sh2\" colspan=\"3\" align=\"left\"><table width=\"100%\" cellspacing=\"0\" "
            "cellpadding=\"0\"><tr><td><b>Search Results</b></td>");
        ao_.kvoWrite("</tr></table>\n");
        ao_.kvoWrite("</th></tr>\n");
        ao_.kvoWrite(spacerRow(cg_, revision));
        return;
    }
    fmt_.writeListingHeaderSearch("Search Results", 3);
    if (out_.docMatchCount > 0)
        summary();
    else
        ao_.kvoWrite("<td class=\"td_sy\"></td></tr></table></th></tr>\n");
    const std::string* ac = field(cg_, "AC");
    if (ac != nullptr && strcasecmp(ac->c_str(), "Docsearch") != 0) ao_.kvoWrite(spacerRow(cg_, revision));
}

void PageWriter::summary() {
    ao_.kvoPrintf("<td class=\"td_sy\"><b>%d</b> documents matching ", shownCount(out_.docMatchCount));
    const bool linkList = field(cg_, "AC") == nullptr && field(cg_, "ST") == nullptr &&
                          (hasText(field(cg_, "TI")) || hasText(field(cg_, "CW")));
    if (sr_.sd.isAdvanced || linkList)
        advancedSummary(linkList);
    else
        otherSummary();
    ao_.kvoWrite("</td>\n");
    ao_.kvoWrite("</tr></table></th></tr>\n");
}

void PageWriter::advancedSummary(bool linkList) {
    const std::string none;
    auto text = [&](const char* name) -> const std::string& {
        const std::string* v = field(cg_, name);
        return v ? *v : none;
    };
    const std::string& pa = text("PA");
    const std::string& paor = text("PAOR");
    const std::string& pat = text(linkList ? "TI" : "PAT");
    const std::string& pac = text(linkList ? "CW" : "PAC");
    const std::string& pad = text("PAD");

    std::size_t length = kSummaryStart;
    bool cut = false;
    // Writes a part while there is room; the first part past it is "...".
    auto part = [&](std::size_t shown, std::size_t extra, const std::string& html) {
        if (cut) return;
        if (length > kSummaryRoom) {
            ao_.kvoWrite("<b>...</b>");
            length += 3;
            cut = true;
            return;
        }
        ao_.kvoWrite(html);
        length += shown + extra;
    };
    if (!pa.empty()) {
        if (paor.find('"') != std::string::npos)
            part(paor.size(), 9, formatChecked("<b>%s</b> in body ", pageText(paor)));
        else
            part(paor.size(), 16, dispSearchPattern(paor) + " in body");
    }
    if (!pat.empty()) {
        const std::string shown = shownPattern(pat);
        part(shown.size(), pa.empty() ? 9 : 15,
             pa.empty() ? formatChecked("<b>%s</b> in title", pageText(shown))
                        : formatChecked(", and <b>%s</b> in title", pageText(shown)));
    }
    if (!pac.empty()) {
        const bool after = !pat.empty() || !pa.empty();
        part(pac.size(), after ? 31 : 25,
             after ? formatChecked(", and <b>%s</b> in keyword", pageText(pac))
                   : formatChecked("<b>%s</b> in keyword", pageText(pac)));
    }
    if (!pad.empty()) {
        const std::string shown = shownPattern(pad);
        const bool after = !pac.empty() || !pat.empty() || !pa.empty();
        part(shown.size(), after ? 28 : 22,
             after ? formatChecked(", and <b>%s</b> in document identity ", pageText(shown))
                   : formatChecked("<b>%s</b> in document identity ", pageText(shown)));
    }
}

void PageWriter::otherSummary() {
    const std::string* paor = field(cg_, "PAOR");
    if (!hasText(paor)) return;
    if (paor->find('"') != std::string::npos) {
        if (paor->size() > kSummaryPatternMax)
            ao_.kvoWrite("<b>...</b>");
        else
            ao_.kvoPrintf("search phrase <b>%s</b>", pageText(*paor));
        return;
    }
    const std::string& pattern = sr_.sd.searchPat;
    ao_.kvoWrite(pattern.size() > kSummaryPatternMax ? std::string("<b>...</b>")
                                                     : dispSearchPattern(pattern));
}

bool PageWriter::wantsTable() const {
    if (out_.docMatchCount < 1 || out_.libHitCount < 1) return false;
    if (out_.libHitCount >= 2 || isDocSearch(cg_)) return true;
    return fieldIs(cg_, "ST", "advsearch") && out_.libSearchCount >= 2;
}

std::string PageWriter::filterCell(const LibraryAnswer& answer) {
    if (!out_.showFilterColumn) return "";
    bool filtered = false;
    return validateLibrary(answer.comment, sr_.edition.revision, filtered);
}

void PageWriter::writeLibraryRow(const LibraryRun& run, const LibraryAnswer& answer, int icon, bool linked) {
    std::string title;
    std::string libId;
    if (answer.hasEntry) extractLibTitleId(answer.comment, title, libId);
    const std::string shownTitle = escapeHtmlKeepEntities(title, true);
    const std::string shownId = libId.empty() ? std::string("&quot;&quot;") : pageText(libId);
    const char* revision = sr_.edition.revision;

    ao_.kvoWrite("<tr>");
    fmt_.writeRow(filterCell(answer).c_str());
    fmt_.writeRow(
        formatChecked("<td align=\"right\" class=\"c4\"><b>%d</b> &nbsp;</td>\n", shownCount(run.count))
            .c_str());
    std::string cell;
    if (linked) {
        cell = formatChecked(
            "<td  class=\"c4\" align=\"left\"><a title=\"Click to scroll down to hits from this library%s\" "
            "href=\"#%s|%s\">",
            isDocSearch(cg_) ? "" : " - Right-click to open it", pageText(run.first->ID), shownId);
        cell += iconImage(revision, icon);
        cell += formatChecked("<span class='a2'>&nbsp;&nbsp;%s</span>\n", shownTitle);
        cell += "</a>";
    } else {
        cell = "<td  class=\"c4\" align=\"left\">" + iconImage(revision, icon) +
               formatChecked("<span class='a3'>&nbsp;&nbsp;%s</span>\n", shownTitle);
    }
    if (!isReleasedLib(answer.comment, libId))
        cell += formatChecked("<span class='%s'><font color=\"red\">&nbsp;[Preliminary]</font></span>",
                              out_.maxResultsCrossed ? "a3" : "a2");
    cell += "</td>";
    fmt_.writeRow(cell.c_str());
    fmt_.writeRow(formatChecked("<td class=\"c4\" align=\"left\"><span class='a3'>%s</span>\n</td>\n",
                                libId.empty() ? std::string() : pageText(libId))
                      .c_str());
    fmt_.stopRow();
}

void PageWriter::writeZeroRow(const std::string& id) {
    const LibraryAnswer& answer = sr_.lookups.mllist(cg_, id);
    if (!answer.ok) return;
    std::string title;
    std::string libId;
    if (answer.hasEntry) extractLibTitleId(answer.comment, title, libId);
    ao_.kvoWrite("<tr align=\"left\" bgcolor=\"#fcfcfc\">");
    fmt_.writeRow(filterCell(answer).c_str());
    fmt_.writeRow(formatChecked("<td class=\"c3\" align=\"right\"><b>%d</b> &nbsp;</td>\n", 0).c_str());
    fmt_.writeRow(
        formatChecked("<td  class=\"c4\" align=\"left\"><span class='a3'>&nbsp;&nbsp;%s</span>\n</td>\n",
                      escapeHtmlKeepEntities(title, true))
            .c_str());
    fmt_.writeRow(formatChecked("<td class=\"c4\" align=\"left\">%s</td>\n", pageText(libId)).c_str());
    fmt_.stopRow();
}

int PageWriter::libraryTable() {
    if (!wantsTable()) return 1;
    const char* revision = sr_.edition.revision;
    ao_.kvoWrite("<tr><td colspan=\"3\" bgcolor=\"#fcfcfc\" align=\"center\">\n");
    ao_.kvoWrite("<table cellspacing=\"0\" cellpadding=\"2\">\n");
    ao_.kvoWrite("<tr><td colspan=\"4\" height=\"6\"></td></tr>\n");
    if (out_.showFilterColumn)
        ao_.kvoPrintf(
            "<tr><td class=\"c3\" align=\"left\"><img class=\"m5\" border=\"0\" height=\"14\" width=\"14\" "
            "align=\"top\" title=\"Library contains filters\" "
            "src=\"qzl:/kivo?VR=%s&amp;AC=TBIMG&amp;IM=%d\"/></td>\n",
            revision, kIconFilters);
    else
        ao_.kvoWrite("<tr>");
    fmt_.writeRow(
        "<td class=\"c3\" align=\"right\"><b>Hits</b></td>\n"
        "<td class=\"c3\" align=\"left\"><b>Library Title</b></td>\n"
        "<td class=\"c3\" align=\"left\"><b>Library Identity</b></td>\n");
    fmt_.stopRow();

    // Requested libraries without hits go before the first library with
    // hits that follows them in the (title-sorted) request list.
    std::unordered_map<std::string, std::size_t> listed;
    for (std::size_t i = 0; i < out_.libIds.size(); ++i) listed.emplace(out_.libIds[i], i);
    const std::vector<LibraryRun> runs = libraryRuns(out_.hits);
    std::vector<bool> hasHits(out_.libIds.size(), false);
    for (const LibraryRun& run : runs) {
        if (auto at = listed.find(run.first->ID); at != listed.end()) hasHits[at->second] = true;
    }
    std::size_t nextZero = 0;
    auto zeroRowsBefore = [&](std::size_t end) {
        for (; nextZero < end; ++nextZero) {
            if (!hasHits[nextZero]) writeZeroRow(out_.libIds[nextZero]);
        }
    };

    const bool linked = !out_.maxResultsCrossed && headingsFollow(cg_, out_, SL_);
    int icon = 0;
    for (const LibraryRun& run : runs) {
        const LibraryAnswer& answer = sr_.lookups.mllist(cg_, run.first->ID);
        if (!answer.ok) {
            failedLookup(sr_, answer, "SearchResultFmt/6");
            return 0;
        }
        if (getLibType(run.first->database.value_or("")) == LIB_KIVO)
            icon = isCollection(answer.comment) ? kIconCollection : kIconLibrary;
        if (auto at = listed.find(run.first->ID); at != listed.end()) zeroRowsBefore(at->second);
        writeLibraryRow(run, answer, icon, linked);
    }
    zeroRowsBefore(out_.libIds.size());

    ao_.kvoWrite("<tr><td colspan=\"4\" height=\"6\"></td></tr>\n");
    fmt_.closeList();
    ao_.kvoWrite("</td></tr>\n");
    return 1;
}

void PageWriter::capNotice() {
    ao_.kvoWrite("<tr><td class=\"c4\" colspan=\"3\">\n");
    fmt_.writeHorizontalDivider();
    if (const std::string* paor = field(cg_, "PAOR"); hasText(paor))
        ao_.kvoPrintf(
            "<b>&nbsp; Total %d matching document(s) were found with search pattern:%s</b><br /></td></tr>\n",
            shownCount(out_.docMatchCount), pageText(*paor));
    ao_.kvoWrite("</table>");
    if (isDocSearch(cg_))
        ao_.kvoWrite(
            "<p class=\"ps\"><b>Number of search results exceeds the maximum number (3000).<br><br>Please "
            "refine "
            "your search by selecting fewer libraries, or by providing a more specific search "
            "pattern.</b></p>\n");
    else
        ao_.kvoWrite(
            "<p class=\"ps\"><b>Number of search results exceeds the maximum number (3000).<br><br>Please "
            "refine "
            "your search by providing a more specific search pattern.</b></p>\n");
    cg_.outputTail();
}

}  // namespace

namespace results_page {

JapaneseNotice japaneseNotice() {
    // Message 99 holds both: the English text to its "<br>", then the
    // Japanese in parentheses.
    const std::string text = getMsgStr(99, nullptr);
    const std::size_t br = text.find("<br>(");
    if (br == std::string::npos) return {text, ""};
    const std::size_t start = br + 5;
    const std::size_t end = text.rfind(")<br><br>");
    return {text.substr(0, br + 4),
            end != std::string::npos && end >= start ? text.substr(start, end - start) : ""};
}

}  // namespace results_page

int SearchResultFmt::writeResultsPage(KivoHandler& handler, PreparedResults& out, unsigned isExternSearch,
                                      const std::optional<std::string>& SL) {
    // One counted hit of an external search (or AC=search with LD=1) opens
    // that document at once.
    const bool wholePage =
        fieldIs(cg, "SW", "1") ||
        ((isExternSearch != 1 || out.hasMlids) && !(fieldIs(cg, "AC", "search") && fieldIs(cg, "LD", "1"))) ||
        out.docMatchCount != 1;
    if (!wholePage && out.firstCounted != nullptr) {
        const UzQxSearchEntry& hit = *out.firstCounted;
        return cg.locationDbFile(hit.servname, hit.ID, hit.filename, out.options) ? 1 : 0;
    }

    cg.flags |= kCgiNoExpires;
    std::unique_ptr<KvoOutput> ao = newKvoOutput(0);
    if (!ao) {
        setError(cg.msg(53, "SearchResultFmt/2"));
        return 0;
    }
    ao->kvoSetOutput(&cg, KVO_OUT_INTERNAL);
    std::unique_ptr<KvoFormat> fmt = newKvoHtmlFormat(ao.get());
    if (!fmt) {
        setError(cg.msg(52, "SearchResultFmt/1"));
        return 0;
    }
    const std::size_t libraryRows =
        std::max<std::size_t>(out.libIds.size(), static_cast<std::size_t>(out.libHitCount));
    if (ao->kvoOpenOutput(fmt->estimateBufferSize(out.hits.size() + libraryRows)) == kKvoOpenFailed) {
        setError(cg.msg(53, "SearchResultFmt/2"));
        return 0;
    }
    PageWriter page(*this, out, *fmt, SL);
    if (out.docMatchCount == 1 && out.hasMlids && !out.isStb && out.firstCounted != nullptr) {
        page.loadingPage(*out.firstCounted);
        ao->kvoCloseOutput();
        return 1;
    }
    page.head();
    page.resultsHeader();
    if (out.docMatchCount <= 0) {
        std::string pastr = sd.searchPat;
        if (pastr.empty()) {
            if (const std::string* pa = field(cg, "PA")) pastr = *pa;
        }
        ao->kvoCloseOutput();
        return presentNoMatch(pastr, out.options);
    }
    if (!page.libraryTable()) return 0;
    if (out.maxResultsCrossed) {
        page.capNotice();
        ao->kvoCloseOutput();
        cg.flags |= kCgiNoSearchWords;
        return shownCount(out.docMatchCount);
    }
    fmt->writeListingHeadTitlesSearch();
    if (!writeResultRows(handler, *fmt, out, SL)) return 0;
    ao->kvoCloseOutput();
    cg.flags |= kCgiNoSearchWords;
    return 1;
}

}  // namespace ruva

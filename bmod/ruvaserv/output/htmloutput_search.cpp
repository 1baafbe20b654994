#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bmod/ruvaserv/output/htmloutput.h"
#include "bmod/ruvaserv/output/htmloutput_rows.h"
#include "common/cookie.h"
#include "common/docmodel/docno.h"
#include "common/html_escape.h"
#include "common/search_expr.h"
#include "common/text.h"
#include "common/text_view.h"
#include "common/url_code.h"
#include "common/version.h"

namespace ruva {

namespace {

constexpr size_t kSearchWordMax = 1024;
constexpr size_t kTooltipMax = 2000;
constexpr size_t kFolderTitleMax = 1024;
constexpr size_t kTooltipMinPath = 23;  // "Folder&nbsp;path:&nbsp;" alone is no path
constexpr size_t kPatternTermsMax = 50;
constexpr size_t kPatternTermMax = 49;
constexpr size_t kPatternPassMax = 131144;
constexpr size_t kPaEncodeRoom = 80;

constexpr std::string_view kInertStyle = "<a style=\"pointer-events: none;color:#333333;cursor: default;\" name=\"";
constexpr std::string_view kColouredAnchor =
    "<a style=\"color: rgb(0, 68, 153); text-decoration: none;\" onmouseover=\"this.style.color='#6699cc'\" "
    "onmouseout=\"this.style.color='#004499'\" href=\"qzl:/kivo?AC=LINK&amp;";
constexpr std::string_view kHrefLink = "<a href=\"qzl:/kivo?AC=LINK&amp;";
constexpr std::string_view kHrefLinkExt = "<a href=\"qzl:/kivo?AC=LINKEXT&amp;";
constexpr std::string_view kOpenDocLinkExt = "<a href=\"#\" onclick=\"openDoc('qzl:/kivo?AC=LINKEXT&amp;";

bool hasText(const char* s) { return s != nullptr && *s != '\0'; }

bool equalsCaseBlind(std::string_view a, std::string_view b) {
    return a.size() == b.size() && startsCaseBlindAt(a, 0, b);
}

std::string upperAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(asciiUpper(static_cast<unsigned char>(c)));
    return out;
}

std::string trimBlanks(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return std::string(s);
}

std::vector<std::string> splitBars(std::string_view s) {
    std::vector<std::string> items;
    size_t start = 0;
    for (;;) {
        const size_t bar = s.find('|', start);
        items.emplace_back(s.substr(start, bar == std::string_view::npos ? s.npos : bar - start));
        if (bar == std::string_view::npos) return items;
        start = bar + 1;
    }
}

}  // namespace

// The request's field as a value (null channel or request: none).
static std::optional<std::string> fieldOf(const KvoOutput* ao, const char* name) {
    const std::string* v = requestField(ao, name);
    return v ? std::optional<std::string>(*v) : std::nullopt;
}

static bool beginsWithOne(const std::optional<std::string>& s) { return s && !s->empty() && (*s)[0] == '1'; }

static std::string searchWord(int searchType, const std::optional<std::string>& st) {
    switch (searchType) {
        case kSearchTypeTitle:
            return "Title";
        case kSearchTypeDocNo:
            return "DocNo";
        case kSearchTypeCatchword:
        case kSearchTypeCatchwordAlt:
            return "Catchword";
        case kSearchTypeFolder:
            return "FOLDER";
        case kSearchTypeTopicTitle:
            return "Topictitle";
        default:
            return encodeLinkValue(std::string_view(st.value_or("")).substr(0, kSearchWordMax));
    }
}

int KvoFormat::writeDocRowSearch(const char* db, const char* dbname, const char* fn, int toolbar, int* pfr,
                                 const char* title, const char* engtitle, const char* subtitle,
                                 const char* synopsis, int searchType, int colorChoice, int force_icon, int,
                                 const char* SL, const char* doctype, const char* searchPatt1, const char*,
                                 const char* extn, const char* tokens, int isKwd, int isTopic, int ctwFlag,
                                 const char* librayID) {
    if (pfr != nullptr) *pfr = 0;
    std::string docno;
    std::string rev;
    std::optional<std::string> ftype;
    if (fn == nullptr || filenameToDocno(fn, &docno, &rev, &ftype) == 0) return 0;
    const std::string identity = docno.starts_with('h') ? std::string() : docno + " " + rev;

    row = SearchRowState{};
    row.chkKwd = isKwd;
    std::string shownTitle = title != nullptr ? title : "";
    if (searchType == kSearchTypeFolder) {
        const size_t bar = shownTitle.rfind('|');
        if (bar != std::string::npos) {
            std::string tip = extractTooltip(shownTitle.c_str());
            if (tip.size() > kTooltipMinPath) row.tooltip = std::move(tip);
            shownTitle = shownTitle.substr(bar + 1, kFolderTitleMax);
        }
    }
    startRow(colorChoice);
    setHtmlFileIconSearch(db, dbname, fn, toolbar, searchType, force_icon, SL, extn, tokens, isKwd, isTopic,
                          librayID);
    setHtmlDocTitleSearch(shownTitle.c_str(), engtitle, subtitle, synopsis, searchType, SL, searchPatt1, tokens,
                          isKwd, isTopic, ctwFlag);
    setHtmlDocType(doctype);
    setHtmlDocIdSearch(identity.c_str(), searchPatt1, searchType);
    stopRow();
    row = SearchRowState{};
    return 0;
}

// The closing parameters of a hit link; end closes the opening written.
static std::string closingParams(const KvoOutput* ao, std::uint16_t flags, const char* fn, int searchType,
                                 const char* tokens, int isKwd, int isTopic, std::string_view end) {
    const auto pa = fieldOf(ao, "PA");
    const auto st = fieldOf(ao, "ST");
    if (!pa || pa->empty() || !st || st->empty()) return std::string(end);
    const std::string plain = pa->find('"') == std::string::npos ? operatorPlusMinusSupport(*pa) : *pa;
    const std::string p = "&amp;PA=" + urlEncode(URLMODE_ENCODE_SCRIPT, plain.c_str(), plain.size() + kPaEncodeRoom);
    const std::string w = searchWord(searchType, st);
    const bool haveTokens = hasText(tokens);
    const std::string kw = haveTokens ? "#KW:" + encodeLinkValue(upperAscii(tokens)) : std::string();
    const std::string chapter = haveTokens ? "#CHAPTER" + encodeLinkValue(tokens) : std::string();
    const bool match =
        isMatchAnchorWord(w) && !isPdfExtension(fromLastDot(fn)) && (flags & kKvoFormatMatchAnchor) != 0;
    std::string out = p;
    if (!match) {
        out += "&amp;ST=" + w;
        if (isKwd == 1)
            out += kw;
        else if (isTopic == 1)
            out += chapter;
    } else if (isKwd == 0) {
        out += "&amp;ST=Catchword";
    } else if (isKwd == 1) {
        out += "&amp;ST=Catchword" + kw;
    } else if (isTopic == 0) {
        out += "&amp;";
    } else if (isTopic == 1) {
        out += "&amp;ST=Topictitle" + chapter;
    } else {
        out += "&amp;ST=" + w + "#SearchMatch1";
    }
    return out += end;
}

int KvoFormat::setHtmlFileIconSearch(const char* db, const char* dbname, const char* fn, int toolbar,
                                     int searchType, int force_icon, const char* SL, const char* extn,
                                     const char* tokens, int isKwd, int isTopic, const char* librayID) {
    const bool collection = hasText(SL);
    const bool kwdOrTopicHit = (isKwd == 1 || isTopic == 1) &&
                               (searchType == kSearchTypeCatchword || searchType == kSearchTypeTopicTitle);
    std::string opening;
    if (toolbar == 1) {
        opening = searchType == kSearchTypeCatchword ? std::string(kInertStyle) + "kivo?AC=LINKEXT&amp;"
                                                     : std::string(kHrefLinkExt);
        row.tempUrl = kHrefLinkExt;
    } else if (collection) {
        opening = searchType == kSearchTypeCatchword || searchType == kSearchTypeTopicTitle
                      ? std::string(kInertStyle) + "('kivo?AC=LINKEXT&amp;"
                      : std::string(kOpenDocLinkExt);
        row.tempUrl = searchType == kSearchTypeCatchword ? kOpenDocLinkExt : kColouredAnchor;
    } else if (kwdOrTopicHit) {
        opening = std::string(kInertStyle) + "kivo?AC=LINK&amp;";
        row.tempUrl = searchType == kSearchTypeCatchword ? kHrefLink : kColouredAnchor;
    } else {
        opening = kHrefLink;
        row.tempUrl = kHrefLink;
    }
    // A script call opened with "('" is closed with its argument.
    const std::string_view end = opening.find("('") != std::string::npos ? "')\">" : "\">";

    std::string params;
    if (hasText(librayID)) params += "LI=" + encodeLinkValue(librayID) + "&amp;";
    const bool byId = isLibraryId(db);
    params += (byId ? "ID=" : "DB=") + encodeLinkValue(db != nullptr ? db : "") + "&amp;FN=" + encodeLinkValue(fn);
    if (byId && hasText(dbname)) params += "&amp;DB=" + encodeLinkValue(dbname);
    const auto ch = fieldOf(ao, "CH");
    const auto st = fieldOf(ao, "ST");
    if (ch && !ch->empty() && (!st || *st != "Catchword")) params += "&amp;CH=" + encodeLinkValue(*ch);
    if (byId && collection) params += "&amp;SL=" + encodeLinkValue(SL);
    params += closingParams(ao, flags, fn, searchType, tokens, isKwd, isTopic, end);
    row.tempUrl += params;

    const DocRowIcon& icon = iconTable[rowIconIndex(fn, fromLastDot(fn), force_icon, hasText(extn))];
    ao->kvoWrite("<td class=\"tdT\">");
    ao->kvoWrite(opening);
    ao->kvoWrite(params);
    ao->kvoPrintf("<img src=\"qzl:/kivo?VR=%s&amp;AC=TBIMG&amp;IM=%lu", kSystemRevision,
                  static_cast<unsigned long>(icon.id));
    if (searchType == kSearchTypeFolder)
        ao->kvoPrintf("\" title=\"%s\"/>", row.tooltip);
    else
        ao->kvoPrintf("\" title=\"%s\"/>", icon.text);
    return 1;
}

// The link start of a keyword or topic line: tempUrl through the '#' that
// begins its fragment, or without its ending and with a '#' added.
static std::string lineLinkStart(const std::string& tempUrl) {
    const size_t params = tempUrl.find("?AC=");
    const size_t hash = tempUrl.find('#', params == std::string::npos ? 0 : params);
    if (hash != std::string::npos) return tempUrl.substr(0, hash + 1);
    std::string_view base(tempUrl);
    if (base.ends_with("')\">"))
        base.remove_suffix(4);
    else if (base.ends_with("\">"))
        base.remove_suffix(2);
    return std::string(base) + "#";
}

static std::string highlightOrCopy(const KvoFormat& f, const std::string& text, const std::string& patt) {
    return patt.empty() ? text : f.pattern(text.c_str(), patt.c_str());
}

// Keyword lines: one link per '|' item, quotes removed, blanks around items
// trimmed (the daemon joins keywords with " | "). 1 when any was written.
static int writeKeywordLines(KvoFormat& f, const char* tokens, const std::string& patt) {
    std::string unquoted(tokens);
    std::erase(unquoted, '"');
    const std::string start = lineLinkStart(f.row.tempUrl);
    const bool openDocForm = f.row.tempUrl.starts_with(kOpenDocLinkExt);
    std::string out;
    for (const std::string& item : splitBars(unquoted)) {
        const std::string kw = trimBlanks(item);
        if (kw.empty()) continue;
        std::string anchor = upperAscii(kw);
        std::replace(anchor.begin(), anchor.end(), ' ', '_');
        if (!out.empty()) out += " <br> ";
        out += start + "KW:" + encodeLinkValue(anchor) + (openDocForm ? "')" : "") +
               "\" class=\"cy\" ><span title= 'Show topic'>" +
               highlightOrCopy(f, escapeHtmlKeepEntities(kw, false), patt) + "</span></a>";
    }
    if (out.empty()) return 0;
    f.ao->kvoWrite("<div class=\"cx\"><font face=\"monospace\" size=\"2\">");
    f.ao->kvoWrite(out);
    f.ao->kvoWrite("</font></div>");
    return 1;
}

// Topic lines from "title|number|" pairs: the number names the anchor, the
// title is shown. 1 when any was written.
static int writeTopicLines(KvoFormat& f, const char* tokens, const std::string& patt) {
    const std::vector<std::string> items = splitBars(tokens);
    const std::string start = lineLinkStart(f.row.tempUrl);
    const bool openDocForm = f.row.tempUrl.starts_with(kOpenDocLinkExt);
    std::string out;
    for (size_t i = 0; i + 1 < items.size(); i += 2) {
        const std::string topic = trimBlanks(items[i]);
        const std::string number = trimBlanks(items[i + 1]);
        if (topic.empty() && number.empty()) continue;
        if (!out.empty()) out += " <br> ";
        out += start + "CHAPTER" + encodeLinkValue(number) + (openDocForm ? "')" : "") +
               "\" class=\"cy\" ><span title= 'Show topic'>" +
               highlightOrCopy(f, escapeHtmlKeepEntities(topic, false), patt) + "</span></a>";
    }
    if (out.empty()) return 0;
    f.ao->kvoWrite("<div class=\"cx\"><font size=\"2\">");
    f.ao->kvoWrite(out);
    f.ao->kvoWrite("</font></div>");
    return 1;
}

int KvoFormat::setHtmlDocTitleSearch(const char* title, const char* engtitle, const char* subtitle,
                                     const char* synopsis, int searchType, const char*, const char* searchPatt1,
                                     const char* tokens, int isKwd, int isTopic, int ctwFlag) {
    const auto mt = fieldOf(ao, "MT");
    const auto sp = fieldOf(ao, "SP");
    const auto st = fieldOf(ao, "ST");
    const auto pa = fieldOf(ao, "PA");
    const bool allTitles = beginsWithOne(mt) || beginsWithOne(getcookieforpn("showAllTitles"));
    const bool context = beginsWithOne(sp) || beginsWithOne(getcookieforpn("showContext"));
    ao->kvoWrite("<div class=\"d1\"><small>\n");

    std::string titlePatt;
    if (st && equalsCaseBlind(*st, "Fulltext")) {
        const auto paor = fieldOf(ao, "PAOR");
        titlePatt = paor && paor->find('"') != std::string::npos ? *paor : filterPatt(searchPatt1);
    } else {
        const auto ctw = st && *st == "Catchword" ? pa : fieldOf(ao, "PAC");
        row.patCtw = ctw.value_or("");
        row.filpatCtw = filterPatt(row.patCtw.c_str());
        const auto tp = st && *st == "Title" ? pa : fieldOf(ao, "PAT");
        const std::string tps = tp.value_or("");
        const bool phrase = tps.find('"') != std::string::npos;
        row.hyphenCounter = tp && !phrase ? 1 : 0;
        titlePatt = phrase ? tps : filterPatt(tps.c_str());
    }

    // Outside text is escaped before it is marked; marking skips entities.
    const std::string text = escapeHtmlKeepEntities(title != nullptr ? title : "", false);
    const size_t colon = ctwFlag ? text.find(':') : std::string::npos;
    const bool split = colon != std::string::npos;
    const std::string ctwPart = split ? text.substr(0, colon + 1) : std::string();
    const std::string rest = split ? text.substr(colon + 1) : text;
    const bool titleSearch = searchType == kSearchTypeCatchword || searchType == kSearchTypeTitle ||
                             searchType == kSearchTypeCatchwordAlt || searchType == kSearchTypeFolder;
    std::string shown;
    if (titleSearch && isKwd != 1) {
        const std::string& ctwPatt = row.filpatCtw.empty() ? titlePatt : row.filpatCtw;
        const std::string marked = highlightOrCopy(*this, rest, titlePatt);
        shown = split ? "<font face=\"monospace\" size=\"2\">" +
                            (isKwd == 2 ? ctwPart : highlightOrCopy(*this, ctwPart, ctwPatt)) + "</font>" + marked
                      : marked;
    } else {
        shown = split ? "<font face=\"monospace\" size=\"2\">" + ctwPart + "</font>" + rest : text;
    }
    ao->kvoWrite(shown);
    ao->kvoWrite("</small></div></a>");
    if (allTitles) {
        if (hasText(subtitle)) ao->kvoPrintf("<div class=\"cs\">%s</div>", escapeHtmlKeepEntities(subtitle, false));
        if (hasText(engtitle)) ao->kvoPrintf("<div class=\"cs\">%s</div>", escapeHtmlKeepEntities(engtitle, false));
    }

    bool lines = false;
    if (hasText(tokens) && isKwd == 1 &&
        (searchType == kSearchTypeCatchword || searchType == kSearchTypeCatchwordAlt)) {
        lines = writeKeywordLines(*this, tokens, row.filpatCtw.empty() ? titlePatt : row.filpatCtw);
    } else if (hasText(tokens) && isTopic == 1 && searchType == kSearchTypeTopicTitle) {
        lines = writeTopicLines(*this, tokens, titlePatt);
    }
    if (!lines && synopsis != nullptr && std::strlen(synopsis) > 6 && isKwd != 0 && context)
        ao->kvoPrintf("<div class=\"cx\">%s</div>", synopsis);  // HTML by contract
    ao->kvoWrite("</td>");
    row.tempUrl.clear();
    return 1;
}

int KvoFormat::setHtmlDocIdSearch(const char* docno, const char*, int searchType) {
    std::string shown = escapeHtmlKeepEntities(docno != nullptr ? docno : "", false);
    if (searchType == kSearchTypeDocNo) {
        const auto st = fieldOf(ao, "ST");
        const auto patt = st && *st == "DocNo" ? fieldOf(ao, "PA") : fieldOf(ao, "PAD");
        if (patt && !patt->empty()) {
            row.PADcounter = 1;
            shown = pattern(shown.c_str(), filterPatt(patt->c_str()).c_str());
            row.PADcounter = 0;
        }
    }
    ao->kvoWrite("<td class=\"c1\">");
    ao->kvoWrite(shown);
    ao->kvoWrite("</td>\n");
    return 1;
}

// The number in a field's leading digits (at most maxDigits); none when it
// does not begin with a digit.
static std::optional<int> leadingNumber(const std::optional<std::string>& v, size_t maxDigits) {
    if (!v || v->empty() || !isAsciiDigit(static_cast<unsigned char>((*v)[0]))) return std::nullopt;
    int n = 0;
    for (size_t i = 0; i < v->size() && i < maxDigits && isAsciiDigit(static_cast<unsigned char>((*v)[i])); ++i)
        n = n * 10 + ((*v)[i] - '0');
    return n;
}

// The request's values the search list head reads, in the form its links take.
struct SearchHead {
    std::optional<std::string> st;
    std::optional<int> od;
    std::string sortKey;  // TITLE, TYPE or IDENTITY
    bool collection = false;
    bool docSearch = false;
    bool allTitles = false;
    bool context = false;
    std::string address;  // the re-search address
};

static SearchHead readSearchHead(const KvoOutput* ao) {
    SearchHead h;
    h.st = fieldOf(ao, "ST");
    const auto od = fieldOf(ao, "OD");
    h.od = leadingNumber(od, 2);
    const auto ba = fieldOf(ao, "BA");
    h.sortKey = "TITLE";
    if (ba && (equalsCaseBlind(*ba, "TYPE") || equalsCaseBlind(*ba, "IDENTITY"))) h.sortKey = upperAscii(*ba);
    const auto sl = fieldOf(ao, "SL");
    h.collection = sl && !sl->empty();
    h.docSearch = h.st && *h.st == "DocSearch";
    const auto mt = fieldOf(ao, "MT");
    const auto sp = fieldOf(ao, "SP");
    h.allTitles = beginsWithOne(mt) || beginsWithOne(getcookieforpn("showAllTitles"));
    h.context = beginsWithOne(sp) || beginsWithOne(getcookieforpn("showContext"));

    std::string a = "qzl:/kivo?AC=SEARCH&amp;SS=Database";
    auto text = [&](const char* name) {
        const auto v = fieldOf(ao, name);
        if (v && !v->empty()) a += std::string("&amp;") + name + "=" + encodeLinkValue(*v);
    };
    auto number = [&](const char* name, const std::optional<int>& n) {
        if (n) a += std::string("&amp;") + name + "=" + std::to_string(*n);
    };
    text("DB");
    text("ST");
    text("DO");
    text("BA");
    number("OD", h.od);
    number("MT", leadingNumber(mt, 9));
    number("SP", leadingNumber(sp, 9));
    text("PAT");
    text("PAD");
    text("PAC");
    if (h.docSearch) {
        const auto mlids = fieldOf(ao, "MLIDS");
        const auto libids = mlids && !mlids->empty() ? std::optional<std::string>("\"" + *mlids + " \"")
                                                     : fieldOf(ao, "LIBIDS");
        if (libids && !libids->empty()) {
            a += "&amp;LIBIDS=" + urlEncode(URLMODE_ENCODE_SCRIPT, libids->c_str(), libids->size() + kPaEncodeRoom);
            if (fieldOf(ao, "PROFILE")) a += "&amp;PROFILE=0";
        } else {
            a += "&amp;DB=*.kvo";
        }
    }
    auto pa = fieldOf(ao, "PAOR");
    if (!pa || pa->empty()) pa = fieldOf(ao, "PA");
    if (pa && !pa->empty())
        a += "&amp;PA=" + urlEncode(URLMODE_ENCODE_SCRIPT, pa->c_str(), pa->size() + kPaEncodeRoom);
    h.address = std::move(a);
    return h;
}

// sortdisplay's arguments for a column: the sorted column reverses the
// current direction (1<->0, 9<->8; absent gives 1), any other takes the
// ascending value of the current grouping, which is also the second one.
static std::pair<int, int> sortArguments(const SearchHead& h, std::string_view key) {
    const int ascending = h.od && (*h.od == 8 || *h.od == 9) ? 8 : 0;
    if (key != h.sortKey) return {ascending, ascending};
    return {h.od ? (*h.od ^ 1) : 1, ascending};
}

static void writeHeadCell(KvoFormat& f, const SearchHead& h, const char* key, const char* label,
                          int sortImage) {
    const auto [n, a] = sortArguments(h, key);
    if (h.collection)
        f.ao->kvoPrintf(
            "<td class=\"c8\"><b><a href=\"#\" title=\"Click to sort by %s\" "
            "onclick=\"sortdisplayMulti('%s',%d,'%s',%d)\">%s</a></b>",
            label, h.address, n, key, a, label);
    else
        f.ao->kvoPrintf(
            "<td class=\"sh1\"><b><a href=\"#\" title=\"Click to sort by %s\" onclick=\"sortdisplay(%d, '%s',%d)\">%s</a></b>",
            label, n, key, a, label);
    if (!h.docSearch && h.sortKey == key)
        f.ao->kvoPrintf("&nbsp;<img src=\"qzl:/kivo?VR=%s&amp;AC=tbimg&amp;IM=%d\" />", kSystemRevision, sortImage);
    f.ao->kvoWrite("</td>\n");
}

// The display switches; each sets its field in the toolbar frame and the cookie.
static void writeSwitches(KvoFormat& f, const SearchHead& h) {
    struct Switch {
        const char* cookie;
        const char* cls;
        const char* field;
        const char* label;
        bool on;
    } const switches[] = {
        {"showAllTitles", "mt", "MT", "Show all Titles", h.allTitles},
        {"showContext", "sp", "SP", "Show Context", h.context},
    };
    for (const Switch& s : switches) {
        const char* checked = s.on ? " checked=\"checked\"" : "";
        if (h.collection)
            f.ao->kvoPrintf(
                "&nbsp;<input type=\"checkbox\" class=\"%s\"%s onclick=\"if (this.checked) "
                "setCookieMulti('%s','%s','1'); else setCookieMulti('%s','%s','0');\" />%s",
                s.cls, checked, h.address, s.cookie, h.address, s.cookie, s.label);
        else
            f.ao->kvoPrintf(
                "&nbsp;<input type=\"checkbox\" class=\"%s\"%s onclick=\"top.kivotbar.document.lib.%s.value = "
                "this.checked ? '1' : '0'; setCookie('%s', this.checked ? '1' : '0');\" />%s",
                s.cls, checked, s.field, s.cookie, s.label);
    }
}

int KvoFormat::writeListingHeadTitlesSearch() {
    const SearchHead h = readSearchHead(ao);
    ao->kvoWrite("<tr bgcolor=\"#e5e5e5\">\n");
    iconTable[kIconSpreadsheet].id = 118;
    const bool fulltext = h.st && startsCaseBlindAt(*h.st, 0, "fulltext");
    const int sortImage = fulltext && (!h.od || *h.od == 0) ? 98 : (h.od && *h.od % 2 == 1 ? 97 : 96);

    ao->kvoPrintf(
        "<td class=\"%s\"><img class=\"img_df\" src=\"qzl:/kivo?VR=%s&amp;AC=tbimg&amp;IM=%d\" title=\"Document "
        "format\" />",
        h.collection ? "c7" : "ht", kSystemRevision, 99);
    const auto [n, a] = sortArguments(h, "TITLE");
    if (h.collection)
        ao->kvoPrintf(
            "<b><a href=\"#\" title=\"Click to sort by Title\" onclick=\"sortdisplayMulti('%s',%d,'TITLE',%d)\">"
            "Title</a></b>",
            h.address, n, a);
    else
        ao->kvoPrintf(
            "<b><a href=\"#\" title=\"Click to sort by Title\" onclick=\"sortdisplay(%d,'TITLE',%d)\">Title</a></b>",
            n, a);
    if (!h.docSearch && h.sortKey == "TITLE")
        ao->kvoPrintf("&nbsp;<img src=\"qzl:/kivo?VR=%s&amp;AC=tbimg&amp;IM=%d\" />", kSystemRevision, sortImage);
    writeSwitches(*this, h);
    ao->kvoWrite("</td>\n");
    writeHeadCell(*this, h, "TYPE", "Type", sortImage);
    writeHeadCell(*this, h, "IDENTITY", "Identity", sortImage);
    ao->kvoWrite("</tr>\n");

    if (!h.docSearch) {
        const char* height = h.collection ? "0px" : "52px";
        ao->kvoPrintf(
            "</table></div></div><div id=\"search_list\"><table width=\"100%%\" cellspacing=\"1\" "
            "cellpadding=\"1\"><tr style=\"height:0px\"><td class=\"s2\" width=\"100%%\"><img style=\"height:%s\" "
            "width=\"418\" src=\"\n",
            height);
        ao->kvoPrintf("qzl:/kivo?VR=%s&amp;AC=tbimg&amp;IM=%d\" /></td>", kSystemRevision, 124);
        for (const char* width : {"176", "236"})
            ao->kvoPrintf(
                "<td class=\"s2\"><img style=\"height:%s\" width=\"%s\" src=\"qzl:/kivo?VR=%s&amp;AC=tbimg&amp;"
                "IM=%d\" /></td>",
                height, width, kSystemRevision, 124);
        ao->kvoWrite("</tr>\n");
    }
    if (h.st && *h.st == "AdvSearch")
        ao->kvoWrite(
            "<tr><td class=\"s2\"><hr /></td><td class=\"s2\" align=\"center\"><b>Hits in body text</b></td>"
            "<td class=\"s2\"><hr /></td></tr>\n");
    return 1;
}

std::string KvoFormat::filterPatt(const char* pat) const {
    std::string out;
    if (pat == nullptr) return out;
    const std::string_view p(pat);
    for (size_t i = 0; i < p.size(); ++i) {
        const char c = p[i];
        if (c == ' ' && i + 1 < p.size() && (p[i + 1] == '+' || p[i + 1] == '-' || p[i + 1] == '*')) {
            const char op = p[i + 1] == '-' ? '!' : '&';
            if (i + 2 < p.size() && p[i + 2] == ' ') {  // " + " between words
                out += op;
                i += 2;
                continue;
            }
            if (i + 2 < p.size()) {  // " +" before a word
                out += op;
                i += 1;
                continue;
            }
        }
        if (c == ' ' || std::strchr("*{}<>", c) != nullptr) {
            out += '&';
        } else if (c == '_' && row.chkKwd != 0 && row.chkKwd != 1) {
            out += '/';
        } else if (c == '-' && row.hyphenCounter != 0) {
            out += '&';
        } else {
            out += c;
        }
    }
    return out;
}

// The terms of patt, longest first (a stable sort, so equal lengths keep
// their order); at most 50 of at most 49 characters.
static std::vector<std::string> patternTerms(std::string_view patt) {
    std::vector<std::string> terms;
    std::string term;
    auto flush = [&] {
        if (!term.empty() && terms.size() < kPatternTermsMax) terms.push_back(term.substr(0, kPatternTermMax));
        term.clear();
    };
    for (const char c : patt) {
        if (std::strchr("&|!()", c) != nullptr)
            flush();
        else
            term += c;
    }
    flush();
    std::stable_sort(terms.begin(), terms.end(),
                     [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    return terms;
}

// End of a match of term at text[at], or npos. skipBlanks: blanks of the
// text inside the match do not count.
static size_t matchAt(std::string_view text, size_t at, std::string_view term, bool skipBlanks) {
    size_t i = at;
    for (size_t k = 0; k < term.size(); ++k) {
        if (skipBlanks && k > 0)
            while (i < text.size() && text[i] == ' ') ++i;
        if (i >= text.size() || asciiLower(static_cast<unsigned char>(text[i])) !=
                                    asciiLower(static_cast<unsigned char>(term[k])))
            return std::string_view::npos;
        ++i;
    }
    return i;
}

static std::string markTerm(std::string_view text, std::string_view term, size_t keepUpTo, bool skipBlanks) {
    std::string out;
    size_t i = std::min(keepUpTo, text.size());
    out.append(text.substr(0, i));
    while (i < text.size() && out.size() < kPatternPassMax) {
        if (text[i] == '&') {
            // An entity is copied whole; an '&' without ';' is a character.
            const size_t semi = text.find(';', i);
            if (semi != std::string_view::npos) {
                out.append(text.substr(i, semi + 1 - i));
                i = semi + 1;
                continue;
            }
        }
        if (startsAt(text, i, "<b>")) {
            const size_t close = text.find("</b>", i);
            const size_t end = close == std::string_view::npos ? text.size() : close + 4;
            out.append(text.substr(i, end - i));
            i = end;
            continue;
        }
        const size_t end = matchAt(text, i, term, skipBlanks);
        if (end != std::string_view::npos) {
            out += "<b>";
            out.append(text.substr(i, end - i));
            out += "</b>";
            i = end;
        } else {
            out += text[i++];
        }
    }
    if (out.size() > kPatternPassMax) out.resize(kPatternPassMax);
    return out;
}

std::string KvoFormat::pattern(const char* strH, const char* patt) const {
    std::string text = strH != nullptr ? strH : "";
    if (patt == nullptr || *patt == '\0') return text;
    std::string_view p(patt);
    const bool phrase = p.front() == '"';
    if (phrase) p = p.size() >= 2 ? p.substr(1, p.size() - 2) : std::string_view();
    // With a title search the catchword prefix before ':' is not the title.
    size_t keepUpTo = 0;
    const auto st = fieldOf(ao, "ST");
    if (st && *st == "Title" && fieldOf(ao, "PA")) {
        const size_t colon = text.find(':');
        if (colon != std::string::npos) keepUpTo = colon;
    }
    const bool skipBlanks = row.PADcounter != 0 && !phrase;
    for (const std::string& term : patternTerms(p)) text = markTerm(text, term, keepUpTo, skipBlanks);
    return text;
}

std::string extractTooltip(const char* title) {
    std::string out = "Folder&nbsp;path:&nbsp;";
    if (title == nullptr) return out;
    const std::string_view t(title);
    const size_t bar = t.rfind('|');
    if (bar == std::string_view::npos) return out;
    const std::string path = bar == 0 ? "/" : escapeHtmlKeepEntities(t.substr(0, bar), false);
    for (const char c : path) {
        const std::string_view piece = c == ' ' ? std::string_view("&nbsp;") : std::string_view(&c, 1);
        if (out.size() + piece.size() > kTooltipMax) break;
        out.append(piece);
    }
    return out;
}

}  // namespace ruva

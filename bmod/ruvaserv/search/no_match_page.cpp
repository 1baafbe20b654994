// The page written when a search leaves nothing to show: what was searched
// and hints for a search that would match.
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "bmod/ruvaserv/client/uzclient.h"
#include "bmod/ruvaserv/search/pattern_display.h"
#include "bmod/ruvaserv/search/results_scripts.h"
#include "bmod/ruvaserv/search/search_result_fmt.h"
#include "common/cookie.h"
#include "common/eucjp.h"
#include "common/html_escape.h"
#include "common/search_expr.h"
#include "common/text_view.h"
#include "common/url_code.h"

namespace ruva {

namespace {

constexpr char kHead[] = "<tr><td class=\"zR\" colspan=\"3\">\n";
// Characters the indexer reads as word separators.
constexpr std::string_view kSeparators = ",.:$/=<>{}~^`'%";
constexpr char kPhraseHint[] =
    "<p><b>Hint:</b> When searching for a quoted phrase, the words you gave in the search expression must "
    "occur in exactly the same order in the document text, title or identity with no other words in "
    "between. In case of keywords, the quoted search expression must exactly match a complete keyword "
    "defined in the document. Perhaps removing a word or changing word order would help?</p>";
constexpr char kTitleHint[] =
    "<p><b>Hint:</b> By adding '*' at the first and last position in the expression, the search string may "
    "occur anywhere in the title.</p><p>'string*' will find all titles beginning with "
    "'string'.</p><p>'*string' will find all titles ending with 'string'.</p><p>Without any '*', the "
    "string must match the complete title.</p></p>";

bool isWildcard(char c) {
    return c == '*' || c == '?';
}

bool holds(std::string_view text, char c) {
    return text.find(c) != std::string_view::npos;
}

bool holdsWildcard(std::string_view text) {
    return text.find_first_of("*?") != std::string_view::npos;
}

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

std::string text(std::string_view s) {
    return escapeHtmlKeepEntities(s, false);
}

// A value in a link: script-mode coding also codes '&', '+' and '\'', so
// it neither adds a field nor ends the single-quoted attribute.
std::string linkValue(std::string_view s) {
    const std::string value(s);
    return urlEncode(URLMODE_ENCODE_SCRIPT, value.c_str(), value.size() * 3 + 3);
}

class NoMatchPage {
public:
    NoMatchPage(const SearchData& sd, CgiHandler& cg, const char* revision)
        : sd_(sd), cg_(cg), revision_(revision ? revision : "") {}

    std::string write(const std::string& pastr);

private:
    const std::string* field(const char* name) const {
        const Value* v = cg_.valueList ? cg_.valueList->findValue(name) : nullptr;
        return v ? &v->value : nullptr;
    }
    std::string fieldOr(const char* name) const {
        const std::string* v = field(name);
        return v ? *v : std::string();
    }
    bool fieldIs(const char* name, std::string_view value) const {
        const std::string* v = field(name);
        return v && v->size() == value.size() && startsCaseBlindAt(*v, 0, value);
    }
    std::string switchValue(const char* name, const char* cookie) const;
    void readContext();
    void advancedHeading();
    void heading(const std::string& pastr);
    void hints(const std::string& pattern);
    void singleTypeHint(KivoSearchType type, std::string_view pattern);
    void separatorAnalysis(std::string_view pattern);
    void suggestionLink(std::string_view word);
    void closing(const std::string& pattern);

    const SearchData& sd_;
    CgiHandler& cg_;
    const char* revision_;
    std::string sp_;
    std::string mt_;
    std::string libField_;  // "&ID=12": the library field of the links, "" for none
    bool filtered_ = false;
    std::string out_;
};

// A request value counts when it is "0" or "1", a cookie by its first
// character; else "1".
std::string NoMatchPage::switchValue(const char* name, const char* cookie) const {
    if (const std::string* v = field(name); v && (*v == "0" || *v == "1")) return *v;
    if (const std::optional<std::string> c = getcookieforpn(cookie);
        c && !c->empty() && ((*c)[0] == '0' || (*c)[0] == '1'))
        return c->substr(0, 1);
    return "1";
}

void NoMatchPage::readContext() {
    sp_ = switchValue("SP", "showContext");
    mt_ = switchValue("MT", "showAllTitles");
    for (const char* name : {"ID", "DB", "LI"}) {
        if (const std::string* v = field(name)) {
            libField_ = std::string("&") + name + "=" + linkValue(*v);
            break;
        }
    }
    filtered_ = cg_.uzc && cg_.uzc->isLibFiltered;
}

void NoMatchPage::advancedHeading() {
    out_ += filtered_
                ? "<b>No documents matching search pattern with current filter selections:</b></td></tr>\n"
                : "<b>No documents matching search pattern:</b></td></tr>\n";
    const bool phrase = sd_.isPhraseSearch;
    const std::string pa = phrase ? fieldOr("PA") : operatorPlusMinusSupport(fieldOr("PA"));
    if (!pa.empty()) {
        const std::string paor = fieldOr("PAOR");
        if (holds(paor, '"')) {
            out_ += formatChecked("<tr><td class=\"sf\">document body text: <b> %s </b>&nbsp;</td></tr>",
                                  text(paor));
        } else {
            out_ += "<tr><td class=\"sf\">document body text: " + dispSearchPattern(paor) + "</td></tr>";
        }
    }
    // A quoted pattern is shown as written, any other in words.
    auto shown = [](const std::string& pattern) {
        return text(holds(pattern, '"') ? pattern : filterPattern(pattern));
    };
    if (std::string pat = fieldOr("PAT"); !pat.empty()) {
        if (!phrase && !field("LLF")) pat = operatorPlusMinusSupport(pat);
        out_ += formatChecked("<tr><td class=\"sf\">title: <b> %s </b>&nbsp;</td></tr>", shown(pat));
    }
    if (std::string pac = fieldOr("PAC"); !pac.empty()) {
        if (!phrase) pac = operatorPlusMinusSupport(pac);
        out_ += formatChecked("<tr><td class=\"sf\">keyword: <b> %s </b> &nbsp;</td></tr>", shown(pac));
    }
    if (const std::string pad = fieldOr("PAD"); !pad.empty())
        out_ += formatChecked("<tr><td class=\"sf\">document identity:<b> %s </b></td></tr>", shown(pad));
    out_ += "\n";
    out_ += kHead;
}

void NoMatchPage::heading(const std::string& pastr) {
    out_ += kHead;
    if (sd_.isAdvanced) {
        advancedHeading();
        return;
    }
    const std::string paor = fieldOr("PAOR");
    if (holds(paor, '"')) {
        out_ += filtered_ ? formatChecked(
                                "<p>&nbsp;</p><p>No documents matching phrase <b> %s</b> with current "
                                "filter selections.</p>",
                                text(paor))
                          : formatChecked("<p>&nbsp;</p><p>No documents matching phrase <b> %s</b>.</p>",
                                          text(paor));
    } else {
        out_ += "<p style=\"margin-top:0px;line-height:12%;\">&nbsp;</p><p>No documents matching ";
        out_ += dispSearchPattern(pastr);
        out_ += filtered_ ? " with current filter selections.</p>" : ".</p>";
    }
    out_ += "\n";
}

void NoMatchPage::hints(const std::string& pattern) {
    if (pattern.empty()) {
        out_ += "<p><b>Hint:</b> No search expression was provided. No search was made.</p>\n";
        out_ += "<p>Example search expression: <tt><b>statistics</b></tt></p>\n";
        return;
    }
    const KivoSearchType types = sd_.searchType & ~(OST_UNKNOWN | OST_COMBINED);
    // The loop counts the title and folder indexes of one title search as
    // two types; its hints are those of one.
    const bool titleSearch = types == OST_TITLE || types == (OST_TITLE | OST_FOLTITLE);
    if (sd_.sTypeCounter < 2 || titleSearch) {
        singleTypeHint(titleSearch ? OST_TITLE : types, pattern);
    } else if (sd_.isAdvanced) {
        out_ += "<p>Try to make another search with a different expression.</p>";
    } else {
        separatorAnalysis(pattern);
    }
}

void NoMatchPage::singleTypeHint(KivoSearchType type, std::string_view pattern) {
    const size_t start = pattern.find_first_not_of(" \"");
    const char first = start == std::string_view::npos ? '\0' : pattern[start];
    const char last =
        pattern.size() > 1 && pattern.back() == '"' ? pattern[pattern.size() - 2] : pattern.back();
    const bool bothWild = isWildcard(first) && isWildcard(last);
    switch (type) {
        case OST_DOCNO:
            if (!bothWild)
                out_ +=
                    "<p><b>Hint:</b> By adding '*' to the start and end of the expression, you can search "
                    "for incomplete document numbers.</p>";
            break;
        case OST_KEYWORD_LOGICAL:
        case OST_CTW:
            if (!bothWild)
                out_ +=
                    "<p><b>Hint:</b> By adding '*' to the start or end of the expression, you can search "
                    "for incomplete keywords.</p>";
            break;
        case OST_TITLE:
            out_ +=
                isWildcard(first)
                    ? "<p><b>Hint:</b> Maybe the information you are looking for is not part of a title.</p>"
                    : kTitleHint;
            break;
        case OST_OPI:
        case OST_COD:
        case OST_POD:
        case OST_ADI:
        case OST_2AI:
        case OST_BODYTEXT:
        case OST_MAN:
            separatorAnalysis(pattern);
            break;
        default:
            break;
    }
}

void NoMatchPage::separatorAnalysis(std::string_view pattern) {
    const size_t sep = pattern.find_first_of(kSeparators);
    const bool quote = holds(pattern, '"');
    const bool blank = holds(pattern, ' ');
    if (sep != std::string_view::npos) {
        const std::string_view rest = pattern.substr(sep);
        if (holds(rest, '"') && holds(rest, ' ')) {
            out_ += kPhraseHint;
        } else if (!holds(rest, '"')) {
            out_ += formatChecked(
                "<p><b>Hint:</b> The character '%s' in your search expression is treated as a separator by "
                "the indexer.</p>",
                text(pattern.substr(sep, 1)));
            out_ +=
                "<p><b>Please avoid using the characters:</b></p><p><tt><b>,.:$/=&lt;&gt;{}~^`'%</b></tt> "
                "in your search expression.</p>";
        }
        std::string blanked(pattern);
        for (char& c : blanked) {
            if (kSeparators.find(c) != std::string_view::npos) c = ' ';
        }
        const std::string_view word = trimBlanks(blanked);
        if (!word.empty() && !holds(word, ' ') && !holdsWildcard(word)) suggestionLink(word);
        return;
    }
    const bool anOperator = pattern.find_first_of("&|!") != std::string_view::npos;
    if (quote && blank && anOperator) {
        out_ += kPhraseHint;
    } else if (anOperator) {
        if (sd_.isAdvanced && blank && !quote)
            out_ += "<p><b>Hint:</b> Try with a less restricting search expression.</p>";
        else if (!sd_.isAdvanced && !quote)
            out_ +=
                "<p><b>Hint:</b> In case of a simple search, spaces are converted into logical AND "
                "operators. Try a single word search or use advanced search.</p>";
    } else if (quote && blank) {
        out_ += kPhraseHint;
    } else if (!holdsWildcard(pattern) && !quote) {
        const std::string_view word = trimBlanks(pattern);
        if (!word.empty() && !holds(word, ' ')) suggestionLink(word);
    }
}

// The link searches for the word as part of a longer one: the word left
// after the separators, not the field PA, which still holds them and would
// repeat the search that just failed.
void NoMatchPage::suggestionLink(std::string_view word) {
    if (!field("PA")) return;
    const std::string base = escapeHtmlKeepEntities(cg_.urlProto + cg_.kivoServName, true);
    const std::string pa = linkValue(word);
    if (sd_.isAdvanced && fieldIs("ST", "DocSearch")) {
        out_ += formatChecked(
            "<p>Search for documents matching <a href='%s?ST=DocSearch&AC=search&LIBIDS=%s&PROFILE=&DO="
            "&PA=*%s*&PAT=&PAC=&PAD=&DB=&OD=0&BA=TITLE&MT=%s&SP=%s'><b>%s</b></a> anywhere in a word.</p>",
            base, linkValue(fieldOr("LIBIDS")), pa, mt_, sp_, text(word));
    } else if (fieldIs("ST", "AdvSearch")) {
        const std::string* sl = field("SL");
        const std::string slPart = sl ? "&SL=" + linkValue(*sl) : std::string();
        out_ += formatChecked(
            "<p>Search for documents matching <a href='%s?ST=AdvSearch&AC=SEARCH&DO=&PA=*%s*&PAT=&PAC="
            "&PAD=%s&OD=0&BA=TITLE&MT=%s&SP=%s%s'><b>%s</b></a> anywhere in a word.</p>",
            base, pa, libField_, mt_, sp_, slPart, text(word));
    } else if (!sd_.isAdvanced && fieldIs("ST", "Fulltext")) {
        out_ += formatChecked(
            "<p>Search for documents matching <a href='%s?PA=*%s*&AC=SEARCH&ST=FULLTEXT%s&OD=0&BA=TITLE"
            "&MT=%s&SP=%s'><b>%s</b></a> anywhere in a word.</p>",
            base, pa, libField_, mt_, sp_, text(word));
    }
}

// The Japanese notice, the collection search script and the help line.
void NoMatchPage::closing(const std::string& pattern) {
    if ((sd_.searchType & OST_BODYTEXT) &&
        (strEUCHiragana(pattern.c_str()) || strEUCKanji(pattern.c_str()))) {
        out_ += kKanjiNoticeEnglish;
        out_ += kKanjiNoticeJapanese;
        out_ += "<br>";
    }
    if (fieldIs("STB", "1")) {
        out_ += "<script type=\"text/javascript\">\n//<![CDATA[\n";
        out_ += collectionSearchScript("nomatch");
        out_ += "//]]>\n</script>\n";
    }
    const bool docSearch = fieldIs("ST", "DocSearch");
    if (!docSearch || (cg_.flags & kCgiUseHelp)) {
        // The address goes into a script string inside a double-quoted
        // attribute: escaped for the one, then for the other.
        const std::string address =
            escapeHtmlKeepEntities(escapeScriptString(cg_.urlProto + cg_.kivoServName), false);
        out_ += formatChecked(
            "<p><b>For more information about searching and search patterns, see <a href=\"#\" "
            "onclick=\"%s('%s?VR=%s&amp;FN=help.html&amp;CH=%s')\">Help</a>.</b></p>",
            docSearch ? "openHelp" : "top.openHelp", address,
            escapeHtmlKeepEntities(escapeScriptString(revision_), false),
            docSearch ? "LBmultiple" : "DBsearching");
    }
    out_ += "</td></tr></table>\n";
}

std::string NoMatchPage::write(const std::string& pastr) {
    readContext();
    heading(pastr);
    const std::string* paor = field("PAOR");
    const std::string pattern = paor ? *paor : pastr;
    hints(pattern);
    closing(pattern);
    return std::move(out_);
}

}  // namespace

int SearchResultFmt::presentNoMatch(const std::string& pastr, const std::string&) {
    if (!cg.docBuf) {
        setError(cg.msg(235, "SearchResultFmt/7"));
        return 0;
    }
    NoMatchPage page(sd, cg, edition.revision);
    // A page that cannot be stored whole is a failure, not an answer.
    if (!cg.docWriteBuf(page.write(pastr)) || !cg.outputTail()) {
        setError(cg.msg(53, "SearchResultFmt/8"));
        return 0;
    }
    cg.flags |= kCgiNoSearchWords;
    return 1;
}

}  // namespace ruva

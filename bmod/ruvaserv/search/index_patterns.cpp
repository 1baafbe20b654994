#include "bmod/ruvaserv/search/index_patterns.h"

#include <algorithm>
#include <iterator>

#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "bmod/ruvaserv/search/pattern_prep.h"
#include "bmod/ruvaserv/search/search_functions.h"
#include "common/search_expr.h"
#include "common/text.h"

namespace ruva {

namespace {

// In the order the loop searches them; the class-bound full-text types keep
// only hits whose file name holds their class number.
constexpr IndexOfType kIndexOfType[] = {
    {OST_2AI, "fulltext.qxx", "PA", "PA", "15518"},
    {OST_ADI, "fulltext.qxx", "PA", "PA", "15542"},
    {OST_POD, "fulltext.qxx", "PA", "PA", "19083"},
    {OST_COD, "fulltext.qxx", "PA", "PA", "19082"},
    {OST_MAN, "fulltext.qxx", "PA", "PA", "19080"},
    {OST_OPI, "fulltext.qxx", "PA", "PA", "15431"},
    {OST_CTW, "ctw.qxx", "PA", "PAC", nullptr},
    {OST_TITLE, "title.qxx", "PA", "PAT", nullptr},
    {OST_FOLTITLE, "folder.qxx", "PA", "PAT", nullptr},
    {OST_TOPICTITLE, "topictitle.qxx", "PA", "PA", nullptr},
    {OST_DOCNO, "docno.qxx", "PA", "PAD", nullptr},
    {OST_BODYTEXT, "fulltext.qxx", "PA", "PA", nullptr},
};

// Every step here works as in the engine's 1024-byte expression buffer:
// a pattern that reaches 1024 characters is refused, never cut.
int tooLong(SearchFunctions& sf) {
    sf.setError(msgFormat(97, "SearchFunctions/2"));
    return 0;
}

bool fits(const std::string& pattern) {
    return pattern.size() <= kSearchExprMax;
}

// +word, -word and grouping into the engine's syntax.
int rewrite(SearchFunctions& sf, std::string& pattern) {
    bool truncated = false;
    std::string out = paranthesisPattern(operatorPlusMinusSupport(pattern), &truncated);
    if (truncated) return tooLong(sf);
    pattern = std::move(out);
    return 1;
}

int cleanup(SearchFunctions& sf, std::string& pattern) {
    return srchPattCleanup(pattern, CleanupMode{sf.kwd_check, sf.cleanupPhrase}, sf);
}

int cleanupAndCheck(SearchFunctions& sf, std::string& pattern) {
    return cleanup(sf, pattern) && srchPattSyntaxChk(pattern, sf);
}

bool containsCaseBlind(const std::string& text, const char* word) {
    return strcasestr(text.c_str(), word) != nullptr;
}

bool equalsCaseBlind(const std::string& text, const char* word) {
    const std::string_view w = word;
    return text.size() == w.size() && containsCaseBlind(text, word);
}

bool hasAnyOf(const std::string& pattern, std::string_view chars) {
    return pattern.find_first_of(chars) != std::string::npos;
}

size_t countOf(const std::string& pattern, char c) {
    return static_cast<size_t>(std::count(pattern.begin(), pattern.end(), c));
}

// Keyword mode for the catchword preparation only.
class KeywordMode {
public:
    explicit KeywordMode(SearchFunctions& sf) : sf_(sf), saved_(sf.kwd_check) { sf.kwd_check = true; }
    ~KeywordMode() { sf_.kwd_check = saved_; }
    KeywordMode(const KeywordMode&) = delete;
    KeywordMode& operator=(const KeywordMode&) = delete;

private:
    SearchFunctions& sf_;
    bool saved_;
};

int prepareDocno(SearchFunctions& sf, const IndexPatternRequest& request, std::string& pattern,
                 std::optional<std::string>& shown) {
    const bool phrase = sf.sd.isPhraseSearch != 0;
    if (containsCaseBlind(request.ST, "DOCNO")) removeSpacesExceptLast(pattern);
    // Grouping runs before the revision mark: "1551ABC123 R1A" is searched
    // as "1551ABC123*&(R1A)*".
    if (!phrase && !rewrite(sf, pattern)) return 0;
    if (equalsCaseBlind(request.ST, "DOCNO")) shown = pattern;
    std::replace(pattern.begin(), pattern.end(), '/', '_');
    if (handleDocnoRev(pattern) == 1) {
        pattern += '*';
        if (!fits(pattern)) return tooLong(sf);
    }
    if (!cleanup(sf, pattern)) return 0;
    if (!equalsCaseBlind(request.ST, "DOCNO") && !request.external && !srchPattComplete(pattern, 0, sf))
        return 0;
    sf.sd.searchPatDocNo = pattern;
    return 1;
}

// Titles, topic titles and folder titles: rewrite, clean, check, complete.
int prepareTitle(SearchFunctions& sf, std::string_view index, const IndexPatternRequest& request,
                 std::string& pattern, std::optional<std::string>& shown) {
    const bool phrase = sf.sd.isPhraseSearch != 0;
    const bool folder = index == "folder.qxx";
    const bool title = index == "title.qxx";
    if (!phrase && !(title && request.hasLLF) && !rewrite(sf, pattern)) return 0;
    if (!cleanupAndCheck(sf, pattern)) return 0;
    if (folder) shown = pattern;
    // Folder titles are completed for external searches too.
    if ((folder || !request.external) && !srchPattComplete(pattern, 0, sf)) return 0;
    std::string& kept = folder  ? sf.sd.searchPatFolTitle
                        : title ? sf.sd.searchPatTitle
                                : sf.sd.searchPatTopicTitle;
    kept = pattern;
    return 1;
}

// "\"*words*\"": the words as one catchword phrase.
int enclose(SearchFunctions& sf, std::string& pattern) {
    pattern = "\"*" + pattern + "*\"";
    return fits(pattern) ? 1 : tooLong(sf);
}

// "a|b", "a|b c" or "(a|b) (c|d)": the alternatives written out.
int catchwordAlternatives(SearchFunctions& sf, std::string& pattern, size_t bars) {
    std::erase_if(pattern, [](char c) { return c == '(' || c == ')'; });
    std::replace(pattern.begin(), pattern.end(), '&', ' ');
    if (!cleanupAndCheck(sf, pattern)) return 0;
    if (bars == 2)
        pattern = keywordProcessing_twoExpandablewords(pattern);
    else if (pattern.find(' ') == std::string::npos)
        return srchPattComplete(pattern, 1, sf);
    else
        pattern = keywordProcessing_oneExpandableword(pattern);
    return fits(pattern) ? 1 : tooLong(sf);
}

// Grouped alternatives are taken from the request's ORPA, as typed.
int catchwordFromOrpa(SearchFunctions& sf, const std::string& orpa, bool sameCounts, std::string& pattern) {
    if (!fits(orpa)) return tooLong(sf);
    std::string text = orpa;
    const auto dropTrailingBlanks = [&] { text.erase(text.find_last_not_of(' ') + 1); };
    dropTrailingBlanks();
    const size_t n = text.size();
    if (n >= 2 && (text[n - 1] == '|' || text[n - 1] == '&') && text[n - 2] == ' ') text.pop_back();
    dropTrailingBlanks();
    std::replace(text.begin(), text.end(), '&', ' ');
    if (!cleanupAndCheck(sf, text)) return 0;
    pattern = std::move(text);
    if (sameCounts) return enclose(sf, pattern);
    if (pattern.find(' ') == std::string::npos) return srchPattComplete(pattern, 1, sf);
    pattern = keywordProcessing_oneExpandableword(pattern);
    return fits(pattern) ? 1 : tooLong(sf);
}

int catchwordWildcards(SearchFunctions& sf, const IndexPatternRequest& request, bool phrase,
                       std::string& pattern) {
    if (request.DO == "COD" || request.DO == "MAN") {
        pattern += '*';
        if (!fits(pattern)) return tooLong(sf);
    }
    if (!phrase) {
        bool truncated = false;
        std::string grouped = paranthesisPattern(pattern, &truncated);
        if (truncated) return tooLong(sf);
        pattern = std::move(grouped);
    }
    return cleanupAndCheck(sf, pattern) && srchPattComplete(pattern, 1, sf);
}

int catchwordRules(SearchFunctions& sf, const IndexPatternRequest& request, std::string& pattern) {
    const bool phrase = sf.sd.isPhraseSearch != 0;
    if (!phrase) pattern = operatorPlusMinusSupport(pattern);
    const size_t bars = countOf(pattern, '|');
    const size_t opens = countOf(pattern, '(');
    const size_t closes = countOf(pattern, ')');
    const bool wildOrNot = hasAnyOf(pattern, "!?*");

    const bool twoGroups =
        bars == 2 && opens == 2 && closes == 2 && pattern.starts_with('(') && pattern.ends_with(')');
    if (!phrase && !wildOrNot && (bars == 1 || twoGroups)) return catchwordAlternatives(sf, pattern, bars);

    if (!phrase && !hasAnyOf(pattern, "!|*?()") && pattern.find(' ') != std::string::npos) {
        std::replace(pattern.begin(), pattern.end(), '&', ' ');
        return cleanupAndCheck(sf, pattern) && enclose(sf, pattern);
    }
    if (!phrase && !wildOrNot && opens >= 1 && closes >= 1 && (bars == opens || bars == opens + 1) &&
        request.ORPA)
        return catchwordFromOrpa(sf, *request.ORPA, bars == opens, pattern);

    if (!phrase || hasAnyOf(pattern, "&|!*?,.:$/=<>{}~^`'%\\[]@"))
        return catchwordWildcards(sf, request, phrase, pattern);

    // A phrase of plain words is searched as it stands, no longer as a phrase.
    if (!cleanupAndCheck(sf, pattern)) return 0;
    pattern = '"' + pattern + '"';
    if (!fits(pattern)) return tooLong(sf);
    sf.sd.isPhraseSearch = 0;
    return 1;
}

}  // namespace

const IndexOfType* indexOfType(KivoSearchType type) {
    const auto row = std::find_if(std::begin(kIndexOfType), std::end(kIndexOfType),
                                  [type](const IndexOfType& r) { return r.type == type; });
    return row == std::end(kIndexOfType) ? nullptr : row;
}

std::string normaliseSearchField(std::string_view pa) {
    const auto collapses = [](char c) { return c == ' ' || c == '*' || c == '+' || c == '-' || c == '|'; };
    // Junk before the first word goes; EUC-JP bytes (above 0x80) begin a
    // word as ASCII letters do.
    const auto opens = [](char c) {
        const auto b = static_cast<unsigned char>(c);
        return c == '(' || c == ')' || c == '"' || c == '*' || c == '?' || isAsciiAlnum(b) || b > 0x80;
    };
    std::string out;
    for (size_t i = 0; i < pa.size(); ++i) {
        const char c = pa[i];
        if (i > 0 && c == pa[i - 1] && collapses(c)) continue;
        if (out.empty() && !opens(c)) continue;
        out += c;
    }
    const auto dropTrailingBlanks = [&] { out.erase(out.find_last_not_of(' ') + 1); };
    dropTrailingBlanks();
    const size_t n = out.size();
    if (n >= 2 && out[n - 2] == ' ' &&
        (out[n - 1] == '+' || out[n - 1] == '-' || out[n - 1] == '|' || out[n - 1] == '&'))
        out.pop_back();
    dropTrailingBlanks();
    return out;
}

int prepareIndexPattern(SearchFunctions& sf, std::string_view index, const IndexPatternRequest& request,
                        std::string& pattern, std::optional<std::string>& shown) {
    shown.reset();
    if (!fits(pattern)) return tooLong(sf);
    const bool phrase = sf.sd.isPhraseSearch != 0;
    sf.cleanupPhrase = false;
    if (index == "fulltext.qxx") {
        sf.cleanupPhrase = phrase;
        if (!phrase && !rewrite(sf, pattern)) return 0;
        if (!cleanupAndCheck(sf, pattern)) return 0;
        sf.sd.searchPatBodyText = pattern;
        return 1;
    }
    if (index == "docno.qxx") return prepareDocno(sf, request, pattern, shown);
    if (index == "title.qxx" || index == "topictitle.qxx" || index == "folder.qxx")
        return prepareTitle(sf, index, request, pattern, shown);
    // No rule for this index: "Illegal index value."
    return tooLong(sf);
}

int prepareCatchwordPattern(SearchFunctions& sf, const IndexPatternRequest& request, std::string& pattern) {
    if (!fits(pattern)) return tooLong(sf);
    const KeywordMode keyword(sf);
    sf.cleanupPhrase = false;
    if (!catchwordRules(sf, request, pattern)) return 0;
    sf.sd.searchPatCtw = pattern;
    return 1;
}

}  // namespace ruva

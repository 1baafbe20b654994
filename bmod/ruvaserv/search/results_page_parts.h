// What the results page's writers share: the request's fields as the page
// reads them, the libraries' headings rule and the texts both halves write.
// Internal to results_page.cpp and results_rows.cpp.
#pragma once

#include <strings.h>

#include <string>
#include <string_view>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/search/library_titles.h"
#include "bmod/ruvaserv/search/pattern_display.h"
#include "bmod/ruvaserv/search/result_prepare.h"
#include "bmod/ruvaserv/search/search_result_fmt.h"
#include "common/html_escape.h"

namespace ruva::results_page {

// The request's field, null when absent.
inline const std::string* field(const CgiHandler& cg, const char* name) {
    const Value* v = cg.valueList ? cg.valueList->findValue(name) : nullptr;
    return v ? &v->value : nullptr;
}

inline bool hasText(const std::string* value) {
    return value != nullptr && !value->empty();
}

// ASCII case-blind: ST and the other request words arrive in any case.
inline bool fieldIs(const CgiHandler& cg, const char* name, const char* word) {
    const std::string* v = field(cg, name);
    return v != nullptr && strcasecmp(v->c_str(), word) == 0;
}

inline bool isDocSearch(const CgiHandler& cg) {
    return fieldIs(cg, "ST", "DocSearch");
}

// ST absent counts as full text.
inline bool isFullText(const CgiHandler& cg) {
    return field(cg, "ST") == nullptr || fieldIs(cg, "ST", "Fulltext");
}

inline std::string pageText(std::string_view text) {
    return escapeHtmlKeepEntities(text, false);
}

// A title, keyword or identity pattern as a sentence shows it: a phrase as
// given, else in words. Unescaped.
inline std::string shownPattern(const std::string& pattern) {
    return pattern.find('"') != std::string::npos ? pattern : filterPattern(pattern);
}

inline constexpr const char* kRefineSuffix = " - please refine the search or use the Advanced Search form";

// Library headings (and so the table's links to them) follow the table
// only for a document search or a multi-library advanced search of a
// collection, and only when some library had hits.
inline bool headingsFollow(const CgiHandler& cg, const PreparedResults& out,
                           const std::optional<std::string>& SL) {
    if (out.libHitCount < 1) return false;
    if (isDocSearch(cg)) return true;
    const std::string* id = field(cg, "ID");
    return !out.isStb && SL.has_value() && fieldIs(cg, "ST", "AdvSearch") && id != nullptr &&
           id->find(' ') != std::string::npos;
}

// A phrase search: the PAOR value, or PA when the search kept no pattern,
// begins with a double quote.
inline bool isPhraseSearch(const CgiHandler& cg, const SearchData& sd) {
    const std::string* paor = field(cg, "PAOR");
    const std::string* text = paor ? paor : (sd.searchPat.empty() ? field(cg, "PA") : nullptr);
    return text != nullptr && !text->empty() && (*text)[0] == '"';
}

// Message 55 for a failed library lookup; the answer's text is fit for a
// page already.
inline void failedLookup(SearchResultFmt& sr, const LibraryAnswer& answer, const char* tag) {
    sr.setError(sr.cg.msg(55, tag), answer.server, answer.resultMessage);
}

// The notice that Japanese words were not searched in body text, in
// English and in Japanese, as message 99 words it.
struct JapaneseNotice {
    std::string english;   // with its closing "<br>"
    std::string japanese;  // EUC-JP
};
JapaneseNotice japaneseNotice();

}  // namespace ruva::results_page

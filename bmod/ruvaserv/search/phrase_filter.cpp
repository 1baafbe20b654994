#include "bmod/ruvaserv/search/phrase_filter.h"

#include <algorithm>
#include <memory>
#include <variant>
#include <vector>

#include "bmod/ruvaserv/client/uzresponse.h"
#include "bmod/ruvaserv/client/uzsession.h"
#include "bmod/ruvaserv/search/search_data.h"
#include "bmod/ruvaserv/search/synopsis.h"
#include "bmod/ruvaserv/search/title_path.h"
#include "common/docmodel/comment_tokens.h"
#include "common/plain_text.h"
#include "common/string_list.h"
#include "common/text.h"
#include "common/text_clean.h"

namespace ruva {

namespace {

// A document search keeps checking until more than this many hits stay.
constexpr size_t kDocumentSearchKept = 3000;
constexpr int kDocnoMax = 1024;
constexpr size_t kFileNameMax = 1023;
// The context: from this many characters before the occurrence, this many
// characters long.
constexpr size_t kContextBefore = 50;
constexpr size_t kContextLength = 150;
// A heading this long is a span the markup never closed in time, not a
// heading to show.
constexpr size_t kHeadingMax = 824;

bool holds(const std::string& text, const std::string& phrase) {
    return strcasestr(text.c_str(), phrase.c_str()) != nullptr;
}

// The heading the occurrence at `at` falls under: the last one starting at
// or before it; null when none does or it is unclosed or too long.
const PlainTextTitle* headingOf(const std::vector<PlainTextTitle>& headings, size_t at) {
    const PlainTextTitle* found = nullptr;
    for (const PlainTextTitle& h : headings) {
        if (h.start > at) break;
        found = &h;
    }
    if (!found || found->end == std::string::npos || found->end - found->start >= kHeadingMax) return nullptr;
    return found;
}

// The text shown for the occurrence at `at`: the heading it falls under,
// then kContextLength characters of text from just after that heading, or
// from kContextBefore characters before the occurrence when the heading
// ends farther back (" ..." marks the gap) or there is none.
std::string phraseContext(const std::string& text, size_t at, const std::vector<PlainTextTitle>& headings) {
    std::string context;
    size_t start = at > kContextBefore ? at - kContextBefore : 0;
    bool midWord = start > 0;
    if (const PlainTextTitle* h = headingOf(headings, at)) {
        context.assign(text, h->start, h->end - h->start);
        if (h->end + kContextBefore >= at) {
            start = std::min(h->end, at);
            midWord = false;
        } else {
            context += " ...";
        }
    }
    std::string_view window = std::string_view(text).substr(start, kContextLength);
    // A start inside a word skips to the blank after it, never past the
    // occurrence itself.
    if (midWord) {
        const size_t blank = window.find(' ');
        if (blank != std::string_view::npos && start + blank <= at) window.remove_prefix(blank);
    }
    if (headings.empty()) context = "...";
    context.append(window);
    return context;
}

const std::string& libraryOf(const UzQxSearchEntry& e) {
    static const std::string kNone;
    if (!e.ID.empty()) return e.ID;
    return e.database ? *e.database : kNone;
}

// The items of a "a|b|c|" text one by one; false once none is left.
bool nextItem(std::string_view text, size_t& pos, std::string_view& item) {
    if (pos >= text.size()) return false;
    size_t bar = text.find('|', pos);
    if (bar == std::string_view::npos) bar = text.size();
    item = text.substr(pos, bar - pos);
    pos = bar + 1;
    return true;
}

struct Filter {
    UzSession& session;
    const std::string phrase;  // NUL-ended for strcasestr
    std::string docno;
    PhraseFilterMode mode;
    bool failed = false;

    bool keep(UzQxSearchEntry& e) {
        if (e.filename.empty() || libraryOf(e).empty()) return false;
        switch (e.searchType) {
            case OST_TITLE:
                return holds(e.comment, phrase);
            case OST_DOCNO:
                return checkDochit(e.filename, docno) != 0;
            case OST_FOLTITLE:
                return keepFolder(e);
            case OST_TOPICTITLE:
                return keepTopics(e);
            case OST_BODYTEXT:
                return keepBodyText(e);
            default:
                // Class-bound full-text hits are not read.
                return false;
        }
    }

    bool keepFolder(const UzQxSearchEntry& e) {
        std::string subtitle;
        const std::optional<std::string> path = extractDocTitlefrmZipComment(e.comment, subtitle);
        if (!path) return false;
        // A folder title without '|' is a title of one level, used whole.
        const std::optional<std::string> last = extractTitleFromPath(*path);
        return holds(last ? last->substr(1) : *path, phrase);
    }

    bool keepTopics(UzQxSearchEntry& e) {
        if (!e.topics || !e.topics->first) return false;
        const std::string pairs = keepTopicPairs(e.topics->first->value, phrase);
        e.topics->clear();
        if (pairs.empty()) return false;
        if (!e.topics->addBuffer(pairs.data(), pairs.size())) failed = true;
        return true;
    }

    bool keepBodyText(UzQxSearchEntry& e) {
        if (strcasestr(e.filename.c_str(), ".pdf")) return false;
        const std::optional<std::string> html = session.getFileData(libraryOf(e), e.filename);
        if (!html) return false;
        const size_t length = std::min(html->size(), session.getFileDataLength());
        std::optional<std::string> context = phraseInDocument(std::string_view(*html).substr(0, length), phrase,
                                                              mode.contexts);
        if (!context) return false;
        e.synopsis = std::move(*context);
        return true;
    }
};

}  // namespace

std::optional<std::string> phraseInDocument(std::string_view html, std::string_view phrase, bool contexts) {
    std::vector<PlainTextTitle> headings;
    const std::string text = htmlToPlainText(html, contexts ? &headings : nullptr, PlainTextHeadings::kChapterNumbers);
    const size_t at = findPhrase(text, phrase);
    if (at == std::string::npos) return std::nullopt;
    if (!contexts) return std::string();
    return escapeSynopsisText(phraseContext(text, at, headings));
}

std::string keepTopicPairs(std::string_view pairs, std::string_view phrase) {
    const std::string wanted(phrase);
    std::string kept;
    size_t pos = 0;
    std::string_view title;
    while (nextItem(pairs, pos, title)) {
        std::string_view number;
        if (!nextItem(pairs, pos, number)) number = {};
        if (!holds(std::string(title), wanted)) continue;
        kept.append(title);
        kept += '|';
        kept.append(number);
        kept += '|';
    }
    return kept;
}

int checkDochit(std::string_view filename, std::string_view docno) {
    std::string name;
    for (const char c : filename.substr(0, kFileNameMax)) {
        if (c == '\0') break;
        if (c != '.') name += c == '_' ? '/' : c;
    }
    return strcasestr(name.c_str(), std::string(docno).c_str()) ? 1 : 0;
}

int rmvDocsPhraseSearch(UzSession& session, UzResponse& reply, std::string_view phrase, PhraseFilterMode mode) {
    auto* link = std::get_if<std::unique_ptr<UzQxSearchEntry>>(&reply.res);
    if (!link) return 1;
    Filter filter{session, std::string(phrase), std::string(), mode};
    std::vector<char> docno(kDocnoMax + 1);
    removeSpaces(docno.data(), filter.phrase.c_str(), kDocnoMax);
    filter.docno = docno.data();

    size_t kept = 0;
    while (*link && !(mode.documentSearch && kept > kDocumentSearchKept)) {
        UzQxSearchEntry& e = **link;
        // A library's summary line (348, 349) carries the "more hits" notice.
        const bool summary = e.hit == 0 && e.filename.empty();
        if (summary || filter.keep(e)) {
            if (!summary) ++kept;
            link = &e.next;
        } else {
            *link = std::move(e.next);  // frees e, whose next is now empty
        }
        if (filter.failed) return 0;
    }
    return 1;
}

}  // namespace ruva

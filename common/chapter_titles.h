// Document and chapter titles read out of rendered HTML, and the ordering of
// topic-title hits by chapter number.
//
// Texts end at their end or at a NUL, whichever comes first.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace ruva {

constexpr size_t kDocTitleMax = 254;
constexpr size_t kChapterNumberMax = 20;
constexpr size_t kChapterTitleMax = 256;

// The text between the first '>' and the first '<' after it, at most
// kDocTitleMax characters (possibly ""). No value when either is missing.
std::optional<std::string> getDocTitle(std::string_view html);

struct ChapterTitle {
    std::string title;         // text to "</a>" without tags, entities kept
    std::string number;        // digits, '.' and '-' after "CHAPTER"
    std::string childHeader;   // TOC node of the chapter: "dfT2_3_1"
    std::string parentHeader;  // TOC node of its parent: "dfT2_3", or "dfT"
};

// Reads the anchor tag that starts the text: "<a" followed by white space
// or '>', up to its first '>', holding an attribute `name` (any case) whose
// value, in '"', '\'' or unquoted and closed inside the tag, begins with
// "CHAPTER" (any case). The number is the run of
// digits, '.' and '-' after it (at most kChapterNumberMax); the title is the
// text after the tag up to "</a>" (or the end) with tags left out, at most
// kChapterTitleMax characters. The node names are "dfT" and the number with
// '.' written '_' and '-' written 'x' (one-to-one); the parent drops the
// last '.'-level, and a number without '.' has the root "dfT" as parent. An
// empty number leaves both names empty. No value when the text does not
// start with such an anchor.
std::optional<ChapterTitle> getChapterTitleAndNumber(std::string_view html);

// Orders the items of a topic-title hit by chapter number. The list is the
// hit's index words "title|number|rest", each possibly quoted and joined by
// " | " (`"SAFETY|2.10|" | "SCOPE|2.3|"`), or already "title|number|..."
// plain. Quotes (with the backslash that escapes one) are removed, the text
// split at '|', items trimmed and empty ones dropped. An item beginning with
// a digit and made of digits, '.' and '-' is a number; it pairs with the
// nearest unused other item before it (an empty title when there is none);
// unpaired other items are dropped. Pairs sort by number level by level
// (levels split at '.': leading digits by value, then the rest case-blind;
// fewer levels first; equal numbers keep their order). The result is
// "title|number|" per pair; a list without a number comes back unchanged.
std::string sortTopicTitle(std::string_view list);

}  // namespace ruva

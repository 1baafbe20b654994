// One pattern searched in the text of an extracted member, right to left
// with a bad-character shift table.
//
// Texts are a pointer and a length: member text is not NUL-ended (a stored
// member is a mapping of the archive), and a NUL in it is just a byte.
//
// HTML mode compares case-blind (Latin-1), takes a line feed as a blank,
// passes over matches inside tags and character entities, wants whole words,
// and accepts '*' and '?'. The full wildcard pattern is held once for the
// whole process: the last setPattern with wildcards sets it, one without
// empties it, whichever Search object is used.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace ruva {

// Reserved results; every offset found is below both.
inline constexpr uint32_t kSearchNotFound = 0xFFFFFFFF;
inline constexpr uint32_t kSearchNoPattern = 0xFFFFFFFE;

// Bit 0 of Search's flags.
inline constexpr unsigned kSearchHtml = 1;

// Longest literal pattern; a longer one is cut.
inline constexpr size_t kSearchPatternMax = 255;

// chkTags of search.
inline constexpr int kSearchPlain = 0;
inline constexpr int kSearchKeywordAnchor = 1;  // <a name="KW:text">
inline constexpr int kSearchChapterAnchor = 2;  // <a name="CHAPTERtext">

class Search {
public:
    explicit Search(unsigned flags) : flags_(static_cast<uint8_t>(flags)) {}
    Search(const Search&) = delete;
    Search& operator=(const Search&) = delete;

    // The pattern is its first `length` bytes, or up to its NUL. One holding
    // '*' or '?' becomes the process-wide wildcard pattern and its longest
    // literal piece the pattern searched; else the wildcard pattern is
    // emptied. The literal pattern is cut to kSearchPatternMax. 0, setting
    // nothing, for a null pattern, a length of 0, or a wildcard pattern
    // without literal piece.
    int setPattern(const char* pattern, size_t length);

    // Offset of the first hit in text[0, length), kSearchNotFound, or
    // kSearchNoPattern when no pattern is set.
    //
    // Without HTML mode: the first exact occurrence. In HTML mode chkTags
    // chooses what counts:
    // - kSearchPlain: a match outside tags and entities, delimited on both
    //   sides (isDelimiter; the text's ends count as delimiters); with a
    //   wildcard pattern, the whole word around the match must fit it and
    //   the word's start is the result. An '&' outside a tag skips the text
    //   up to its ';', and with no ';' after it the search ends.
    // - kSearchKeywordAnchor / kSearchChapterAnchor: the anchor text after
    //   the nearest ':' before the match (case-blind "<a name=\"KW:" before
    //   it) or after the nearest "CHAPTER" ("<a name=\"CHAPTER" before it)
    //   must begin with tokens (case-blind) and, up to its next '"', fit the
    //   wildcard pattern (an empty one fits only an empty text). The result
    //   is the anchor text's start.
    uint32_t search(const char* text, size_t length, int chkTags, const char* tokens);

    // In HTML mode, the start of an attribute value holding the pattern:
    // the value after the nearest '"' before a match, preceded by "id=\""
    // (docType not 0) or "<a name=\"" (docType 0), case-blind. With a
    // wildcard pattern the value, up to its next '"', must fit it. Without
    // HTML mode as search.
    uint32_t idretrive(const char* text, size_t length, int docType);

private:
    // Start of the first match at or after `from`, or length.
    size_t nextMatch(const unsigned char* text, size_t length, size_t from) const;
    uint32_t firstMatch(const unsigned char* text, size_t length) const;
    uint32_t searchWords(const unsigned char* text, size_t length);
    uint32_t searchAnchors(const unsigned char* text, size_t length, int chkTags, const char* tokens);

    bool html() const { return flags_ & kSearchHtml; }

    uint8_t flags_;
    uint8_t patLen_ = 0;  // 0: no pattern
    unsigned char patBuf_[kSearchPatternMax + 1] = {};
    uint8_t distBuf_[256] = {};
};

// Null only when memory runs out.
std::unique_ptr<Search> newSearch(unsigned flags);

}  // namespace ruva

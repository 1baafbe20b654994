// Contexts of search hits in rendered HTML, for the daemon's reply lines.
//
// The markup relied on: chapter titles in `<span class="CHAPTITLE"` or
// `<span class=CHAPTITLE` (any case) inside a heading closed by
// "</span></h" (any case), and the end of the body "<!--@/BODY-->". A byte
// is visible when it lies from 32 to 126 or above 160; every other byte is a
// separator and is written as a blank. Texts end at their end or at a NUL,
// whichever comes first. Contexts never hold a tag, '<', '>' or a byte below
// 32; each '"' is written as \" and no context ends in a lone backslash, so
// the quoted field reads back whole with getNextToken.
//
// A hit's context is, as the daemon joins it: backStr up to the hit, then
// hexStr at the hit without its first character (its opening quote).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ruva {

// Characters of context that follow or precede a hit.
constexpr size_t kSnippetMax = 200;

// What the backward scan of one hit (backStr, or the daemon's backStrFT)
// hands to the hexStr that follows it. Make one per hit, or reuse it:
// hexStr clears it.
struct SnippetState {
    // The hit word ends at "&nbsp;": hexStr writes a blank before that
    // entity, so the word stays apart from it once the entity is removed.
    bool spaceContext = false;
};

// True for bytes 32-126 and 161-255.
inline bool isSnippetVisible(unsigned char c) {
    return (c >= 32 && c <= 126) || c > 160;
}
// Whether a chapter-title span starts, or a title ends ("</span></h"), at
// pos (any case).
bool isChapterTitleSpanAt(std::string_view html, size_t pos);
bool isChapterTitleEndAt(std::string_view html, size_t pos);

// Whether a hit at the start of html lies in a chapter heading: scanning
// forward while fewer than 150 separators have been met, up to the end of
// the text or of the body, a title end met before any title span opens
// gives the offset just past "</span></h2>" (its position + 12, at most the
// text's length). 0 otherwise, and for an empty text. The result is
// backStr's isTitle.
size_t hitpos(std::string_view html);

// Replaces dst with the context that follows a hit: '"', the visible text of
// html with tags skipped and separators as blanks (a separator after a tag
// is not written while nothing has been), runs of blanks written once
// unless isKwd, then '"'. Stops at the end of the text or the body, or when
// the next character would pass the limit: kSnippetMax - count characters
// (0 when count is larger) or, with isKwd, kSnippetMax (\" counts two; an
// escape is never split). With isKwd the first title end writes ':' and
// gives kSnippetMax more characters after it. Without isKwd the first title
// end met before any title span opens restarts the output after it. The
// first "&nbsp;" met while state.spaceContext is set gets a blank before it;
// state.spaceContext is false on return. Returns the offset just past the
// restarting title end (as hitpos), else 1 after a keyword-mode title, else
// 0.
size_t hexStr(std::string& dst, std::string_view html, int isKwd, size_t count, SnippetState& state);

// Length of the hit word at html[hitPos]: up to a blank, another invisible
// byte or "&nbsp;", at most 50 characters. *nbsp tells whether "&nbsp;"
// ended it.
size_t hitWordLength(std::string_view html, size_t hitPos, bool* nbsp);

// Replaces dst with the context that precedes the hit at html[hitPos]: '"'
// and no closing quote (the joined hexStr closes it). Returns dst's length,
// every character counted, which the caller passes to hexStr as count.
//
// isTitle is hitpos() of the hit. When it is not 0 (the hit lies in a
// heading), the nearest title span before the hit gives its text (at most
// kSnippetMax visible characters, blank runs once) and ':'; when that title
// ends before the hit, " ..." and at most kSnippetMax characters of the text
// between follow, started at a word when cut. No title span: just '"'.
//
// When isTitle is 0: the hit word (up to a blank, a separator or "&nbsp;",
// at most 50 characters; "&nbsp;" sets state.spaceContext, which is
// otherwise cleared) plus 3 is reserved of kSnippetMax, and so is the
// chapter title with its ':' when the nearest title span before the hit
// ends before it. The rest is filled with the text before the hit,
// collected backwards with tags skipped until the budget is used, a block
// starts (<p, <li, <tr or <dt followed by white space or '>', any case) or a
// title ends. Written: the title and ':', then " ..." and the collected text
// from a word on when it had to be cut, else the collected text. The
// joined context then holds fewer than kSnippetMax characters between its
// quotes, the hit word included, unless the title alone takes the room.
size_t backStr(std::string& dst, std::string_view html, size_t hitPos, size_t isTitle, SnippetState& state);

}  // namespace ruva

// Text helpers of the daemon's full-text commands, shared with the second
// edition's front end: hit contexts with their chapter titles (FSRCH) and
// the sections that IDRETR sends.
//
// Texts are member HTML held in memory and end at their end or at a NUL,
// whichever comes first. The chapter-title markup is hit_snippet.h's, except
// that a title span directly after `class="titled-block">` does not count.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "common/hit_snippet.h"

namespace ruva {

// ---- Hit contexts and IDRETR sections ----

// Separates a chapter title from the context after it, on the wire too.
inline constexpr char kTitleSeparator = '\x11';
// Longest section userdoc copies.
inline constexpr size_t kUserdocMax = 500000;

// Replaces dst with the context before the hit at html[hitPos]: '"' and no
// closing quote (the joined hexStr closes it); an empty text gives just the
// quote and 0. Invisible bytes are written
// as blanks and '"' as \" throughout; the title is copied whole, however
// long.
//
// isTitle (hitpos() of the hit) not 0: the hit lies in a heading. Walking
// back from html[hitPos + isTitle - 1] to the nearest title span (not below
// offset 6), the span's title text is copied, tags skipped. One title end
// or none on the way: kTitleSeparator follows. More: "...", up to
// kSnippetMax characters before the hit (started at a word when cut) and a
// blank follow. Returns the characters written after the opening quote.
//
// isTitle 0: the hit word is looked at forward (at most 50 characters, up
// to a blank or "&nbsp;", which sets state.spaceContext; it is cleared
// otherwise, and in the other modes); it and 3 more count against kSnippetMax. Text before the hit is
// collected backwards while the budget lasts, tags skipped, "&nbsp;" as a
// blank, a blank after a blank once; it stops at a title end, or with two
// blanks at a block start (<p, <li, <tr, <td followed by a blank or '>', any
// case) or at ". ". A budget used up keeps the 150 characters nearest the
// hit, started at a word. Written: the title and kTitleSeparator when a
// title span with an end lies before the hit, then "..." unless the
// collection stopped at a boundary or at a single title end, the collected
// text and a blank. Returns the characters written after the title (the
// "...", the text with its escapes, and 2 for the end): hexStr's count.
size_t backStrFT(std::string& dst, std::string_view html, size_t hitPos, size_t isTitle, SnippetState& state);

// Replaces dst with the section around html[hitPos], at most kUserdocMax
// characters; returns 0.
//
// chktag 1 (DITA): from the nearest "<div " or "<div>" at or before the hit
// (else the text's start) through the first heading "<h1" to "<h5" (followed
// by a blank or '>'), up to the next heading of the same or a higher level,
// "<div id=\"msg_", "<!--@/b" or "</bo" (any case), or the end. The first
// "</div>" that closes the topic's parent, or a "<div" that opens the next
// topic, cuts the section before it.
// chktag 0 (heading): from the nearest heading at or before the hit up to
// the next heading of the same or a higher level, "<!--@/b", "<!--@/B" or
// "</bo" (any case of b and o), or the end; empty when no heading precedes
// the hit.
// Any other chktag gives an empty section.
int userdoc(std::string& dst, std::string_view html, size_t hitPos, int chktag);

// Writes IDRETR's entry line to fd: "300 <sbufSize> \"<zipBasename>\"
// \"<fname>\"  ", the section and a line feed, retrying short writes until
// all is out. Control bytes of the two names go out as blanks; the section
// goes out as it is (it is length-framed), but for a NUL, written as a blank
// so that the frame stays whole. 1, or -1 when a write fails.
int fdUDprintf(int fd, size_t sbufSize, std::string_view zipBasename, std::string_view fname,
               std::string_view sbuf);

// ---- end of hit contexts and IDRETR sections ----

}  // namespace ruva

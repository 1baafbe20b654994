// Cleaning, trimming and measuring of texts. Output limits are exact: the
// callers size their buffers by them.
#pragma once

#include <string>

namespace ruva {

// Copies without bytes below 0x20; a LF becomes one blank unless the output
// already ends with one; at most max-1 characters and a NUL; then leading
// white space is removed and trailing blanks and LFs cut. Does nothing and
// returns null when an argument is null or max is 0; else returns dst.
char* removeControls(char* dst, const char* src, int max);
// Each run of control characters becomes one blank (not after a blank);
// at most max characters and a NUL; leading white space then removed, but
// one blank kept when the source began with a LF. Returns dst.
char* controlsToSpace(char* dst, const char* src, int max);
// Copies without white space and controls (ASCII), at most max and a NUL.
char* removeSpaces(char* dst, const char* src, int max);
// The bytes removeSpaces keeps, ASCII-lower-cased, with no length limit:
// the key form of B-tree NoSpc look-ups, so anything pairing texts as they
// do must fold through this one. out is cleared first.
void foldNoSpc(const char* text, std::string& out);
// Without white space only.
char* removeSpacesforpn(char* dst, const char* src, int max);
// Without white space; a '/' that ends the source is dropped.
char* removeSpacesforpath(char* dst, const char* src, int max);
// Moves the text without leading and trailing white space to the start of
// the buffer and returns it; an all-blank text becomes "".
char* trimwhitespace(char* text);
// Expands a packed line: a byte with the top bit set is (byte & 0x7f)
// blanks (0x80 gives none). 1, or 0 when the result would reach max
// characters; then dst holds its first max-1 characters. Never writes more
// than max bytes.
int unpackLine(char* dst, const char* src, int max);
// Visible characters of HTML: an entity counts one, a tag none.
int estimateVisualLength(const char* html);
// "YYYYMMDD" from up to three digit groups (year, month, day); a missing
// month or day gives "00", a text without digits "00000000", null "".
// Nothing calls it.
std::string normalizeDate(const char* text);
// Appends value cut to width-1 and padded with blanks to width characters.
// Nothing calls it.
void addField(char* dst, const char* value, int width);

}  // namespace ruva

// Plain text of a rendered HTML member and the phrase test on it: the
// full-text index search keeps a phrase hit only when its member holds the
// phrase as whole words.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace ruva {

class Unzip;
class ZipStructure;
struct CentralHeader;

// A chapter title's place in the plain text: [start, end); end is npos
// while the title is not closed.
struct PlainTextTitle {
    size_t start = 0;
    size_t end = std::string::npos;
};

// The text from "<!--@BODY-->" (else the start) up to "</html>" (both found
// case-blind; else the end, or a NUL) as plain text: tags dropped, "&nbsp;"
// one blank unless a blank precedes, runs of blanks and line breaks one
// blank, and after a tag a blank between two word characters (isDelimiter).
// With titles, chapter titles (a "<span class=CHAPTITLE" tag, the class in
// quotes or not, any case, not right after class="titled-block">, closed
// by the next "</span></h") are recorded by their plain-text positions.
std::string htmlToPlainText(std::string_view html, std::vector<PlainTextTitle>* titles = nullptr);

// The first case-blind (Latin-1) occurrence of phrase in text that stands
// between delimiters: the byte before it (or the phrase's first) and the
// byte after it (or the phrase's last) must be delimiters; the text's ends
// count as delimiters. npos when none counts; *stoppedAt (when given) gets
// the last occurrence looked at, 0 when the phrase does not occur at all.
size_t findPhrase(std::string_view text, std::string_view phrase, size_t* stoppedAt = nullptr);

// 1 when the plain text of the NUL-ended html holds the phrase by
// findPhrase; else 0 (also for null arguments or an empty phrase).
int getRawHtmlWithoutHtmlTag(const char* html, const char* phrase);

// Called when a member could not be extracted, so that the caller can have
// the catalogue refreshed.
using ExtractFailureHook = std::function<void(ZipStructure* zs, const CentralHeader* ch)>;

// The phrase test of one library: every member matching `members` is
// extracted with uz and tested with getRawHtmlWithoutHtmlTag on a NUL-ended
// copy; the answer is that of the last member tested, 0 when none was. A
// library whose size or modification time differs from the catalogue's
// (or that is gone) answers 1 without being read: it is being replaced.
// Nothing is written anywhere.
int getRawHtml(Unzip& uz, ZipStructure* zs, const char* members, const char* phrase,
               const ExtractFailureHook& onExtractFailure = {});

}  // namespace ruva

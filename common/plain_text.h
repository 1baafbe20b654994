// Plain text of a rendered HTML page and the whole-word phrase test on it,
// shared by the daemon's full-text phrase check and the front end's phrase
// filter so both judge a phrase alike.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace ruva {

// A chapter title's place in the plain text: [start, end); end is npos
// while the title is not closed.
struct PlainTextTitle {
    size_t start = 0;
    size_t end = std::string::npos;
};

// Which spans open a recorded heading. kChapterTitles: the CHAPTITLE spans
// below. kChapterNumbers: a "<span class=CHAPNUMBER" (quoted or not, any
// case) opens one, a CHAPTITLE span only when none is open, so a numbered
// heading holds its number and title; both close at "</span></h".
enum class PlainTextHeadings { kChapterTitles, kChapterNumbers };

// The text from "<!--@BODY-->" (else the start) up to "</html>" (both found
// case-blind; else the end, or a NUL) as plain text: tags dropped, "&nbsp;"
// one blank unless a blank precedes, runs of blanks and line breaks one
// blank, and after a tag a blank between two word characters (isDelimiter).
// With titles, chapter titles (a "<span class=CHAPTITLE" tag, the class in
// quotes or not, any case, not right after class="titled-block">, closed
// by the next "</span></h") are recorded by their plain-text positions;
// headings chooses which spans open one.
std::string htmlToPlainText(std::string_view html, std::vector<PlainTextTitle>* titles = nullptr,
                            PlainTextHeadings headings = PlainTextHeadings::kChapterTitles);

// The first case-blind (Latin-1) occurrence of phrase in text that stands
// between delimiters: the byte before it (or the phrase's first) and the
// byte after it (or the phrase's last) must be delimiters; the text's ends
// count as delimiters. npos when none counts; *stoppedAt (when given) gets
// the last occurrence looked at, 0 when the phrase does not occur at all.
size_t findPhrase(std::string_view text, std::string_view phrase, size_t* stoppedAt = nullptr);

}  // namespace ruva

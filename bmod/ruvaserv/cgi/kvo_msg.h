// The message table of kivoserv: every error and notice text of the front
// end, fetched by number together with a tag naming the place that raised
// it ("kivoserv/4", "uzsession/63"), so that a user's report points into the
// program. Only English exists.
#pragma once

#include <cstddef>
#include <string>

#include "bmod/ruvaserv/cgi/checked_format.h"

namespace ruva {

inline constexpr int kMessageCount = 480;
// Longest result of getMsgStr, in characters.
inline constexpr std::size_t kMessageLimit = 639;

// The notice of message 99, which the search pages show as well: English,
// then the same in Japanese (EUC-JP).
inline constexpr char kKanjiNoticeEnglish[] =
    "Please note that search query contained Hiragana/Kanji which were not searched in documents body "
    "text by this KIVO version.<br>";
inline constexpr char kKanjiNoticeJapanese[] =
    "\xa4\xb3\xa4\xce\xc8\xc7\xa4\xceKIVO\xa4\xc7\xa4\xcf\xa1\xa2\xb8\xa1\xba\xf7\xb8\xec\xa4\xcb\xb4\xde"
    "\xa4\xde\xa4\xec\xa4\xeb\xa4\xd2\xa4\xe9\xa4\xac\xa4\xca\xa1\xa6\xb4\xc1\xbb\xfa\xa4\xcf\xca\xb8\xbd"
    "\xf1\xcb\xdc\xca\xb8\xa4\xce\xb8\xa1\xba\xf7\xa4\xcb\xbb\xc8\xcd\xd1\xa4\xb5\xa4\xec\xa4\xde\xa4\xbb"
    "\xa4\xf3\xa4\xc7\xa4\xb7\xa4\xbf\xa1\xa3";

// The 480 entries (0-479); most are printf formats ending in "<br><br>".
// Static data, for a request object that is given its program's table.
TextTable kivoMessages();

// Selects the English message table whatever the code; getMsgStr selects it
// by itself when nothing is selected yet.
void setMsgLanguage(const char* code);

// The message followed by its tag in a grey span:
//   message + "<span style='color:#D8D8D8'> [" + tag + "]</span>"
// and the message alone for a null tag. "" for an index outside the table or
// an empty entry. The message is cut so that the whole holds at most
// kMessageLimit characters; the cut never splits the span or a conversion.
// Each result is a string of its own.
std::string getMsgStr(int index, const char* tag);
std::string getMsgStr(TextTable table, int index, const char* tag);

// getMsgStr as a format for formatChecked.
TableFormat msgFormat(int index, const char* tag);
TableFormat msgFormat(TextTable table, int index, const char* tag);

}  // namespace ruva

// The pattern operations that turn a user's search text into an expression
// the word-index search accepts. Each works on a std::string in place; those
// that can fail return 1, or 0 with the message (and its tag) in error.
// The engine's expressions hold at most 1024 characters; inputs longer
// than 1023 are refused by the callers first.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "bmod/ruvaserv/cgi/checked_format.h"

namespace ruva {

// The clean-up's two modes.
struct CleanupMode {
    bool keyword = false;  // kwd_check: a blank stays a blank, no "&" before "("
    bool phrase = false;   // the phrase step runs (not in keyword mode)
};

// Separator and wildcard runs, blanks to "&", "!" preceded by "&", the
// phrase step. An output of 1024 or more: message 97 "SearchFunctions/2".
int srchPattCleanup(std::string& pattern, CleanupMode mode, ErrorText& error);

// Parentheses balanced and never closed before opened; else message 98.
int srchPattSyntaxChk(std::string_view pattern, ErrorText& error);

// "*" at word ends, and with whrAdd 0 at word starts too. Stops silently at
// 1024 characters (no final "*" then); a step past 1024: message 97
// "SearchFunctions/5".
int srchPattComplete(std::string& pattern, int whrAdd, ErrorText& error);

// isPhraseSearch 1 when the pattern begins with a double quote, else 0; all
// double quotes removed; a quote count other than 0 or 2: message 98.
int preparePhraseSearch(std::string& pattern, uint32_t& isPhraseSearch, ErrorText& error);

// A last word not beginning with a digit gets "*" for the blank before it:
// 1 then, else 0 (nothing changed).
int handleDocnoRev(std::string& pattern);

// handleDocnoRev's test with "?" for the blank and "?" appended; always 1.
int completeDocnoInUrl(std::string& pattern);

// With a blank after the first character, every blank but the last removed.
void removeSpacesExceptLast(std::string& pattern);

// "a|b c" gives "\"*a c*\" | \"*b c*\"": one "|" offering two words in one
// place, with the words before and after it shared. "" without a shared
// word or with an alternative missing.
std::string keywordProcessing_oneExpandableword(std::string_view pattern);

// "a|b c|d" gives the four quoted pairs joined by " | "; "" unless the
// pattern is two blank-separated words of two "|"-joined parts each.
std::string keywordProcessing_twoExpandablewords(std::string_view pattern);

// An EUC-JP pattern split into tokens (at most 63 bytes, at most 16) and
// rejoined by "&": each hiragana and kanji alone, runs of one class of
// Latin, katakana, Greek, Cyrillic or ASCII letters and digits together
// (a longer run goes on in a new token), anything else separates. More
// than 16: message 88 "SearchFunctions/6", pattern and tokens unchanged.
int processJapaneseFulltextExpression(std::string& pattern, std::vector<std::string>& tokens, ErrorText& error);

}  // namespace ruva

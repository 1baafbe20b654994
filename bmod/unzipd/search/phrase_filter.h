// A small boolean expression of phrases tested against a short text (a
// library comment and its date, a title, a product id).
//
// Tokens: a word up to a blank, '!', '&', '|' or the end; a phrase in double
// quotes; the operators '!' (not), '&' (and), '|' (or). Evaluation runs left
// to right without precedence; two terms side by side mean and. A term is a
// phrase or word, true when the text holds it, or '!' and a term.
#pragma once

#include <optional>
#include <string>

namespace ruva {

// Token types.
inline constexpr char kPhraseToken = 'P';
inline constexpr char kNotToken = '!';
inline constexpr char kAndToken = '&';
inline constexpr char kOrToken = '|';
inline constexpr char kEndToken = '0';
inline constexpr char kUnknownToken = 'U';  // a quote that is not closed

// 1 match, 0 no match, -1 malformed. Text and pattern are lower-cased
// (Latin-1) and every blank is removed from the text, not from the pattern.
// A null or empty pattern matches everything; a null text nothing.
int phrsrch_filter(const char* pattern, const char* text);

// The expression against the text as given. A token that cannot be read
// (an unclosed quote) ends it with the value so far, -1 before any term. An
// operator met before any term takes the value of the term after it.
int phrsrch_matchExpression(const char* expression, const char* text);

// The one term at the start of expression: 1, 0, or -1 when there is no
// term; *next is set behind it. A run of '!' negates once when it is odd.
int phrsrch_matchPattern(const char* expression, const char* text, const char** next);

// The next token after leading blanks: the word, the phrase without its
// quotes, or the operator character; none at the end (or for a null
// expression) and for an unclosed quote. *type gets the type and *next the
// position behind the token (the end after an unclosed quote).
std::optional<std::string> phrsrch_getToken(const char* expression, char* type, const char** next);

// The characters from first up to, not including, last; none when last
// lies before first.
std::optional<std::string> phrsrch_makestr(const char* first, const char* last);

}  // namespace ruva

// Two of the three wildcard matchers; the third, the ZIP writer's member
// selector, is bmod/unzipd/zip/zip_name_match.h. They differ on purpose
// (ranges, '*' greed, a leftover '?', newline, '!') and share no code.
#pragma once

#include <string>

namespace ruva {

// 1 when the text holds '*', '?' or '['; 0 for null or empty.
int isSearchPattern(const char* str);

// Member-name matcher: '?', '[set]' without ranges or negation, '\' escape,
// '*' greedy to the LAST occurrence of the literal after it, never
// backtracking. Flag 1: ASCII case-blind. A null pattern matches everything;
// a null text reads as empty. A trailing '\' stands for a backslash.
int matchPattern(const char* pat, const char* str, int flags);
// matchPattern with the literal after a '*' taken at its FIRST occurrence:
// the document-number index's matcher ("*A*B" misses "AXBAB").
int matchPatternDocID(const char* pat, const char* str, int flags);

// The longest piece between '?' and '*' (first of equal ones); "" for none.
std::string parsePattern(const char* pattern);

// Text-search matcher, case-sensitive: '?', '*', '[...]' with '!' and
// ranges; a newline in the wildcard, an unterminated '[' or a null argument
// fits nothing. Iterative: constant memory, no recursion on hostile patterns.
int wildcardfit(const char* wildcard, const char* text);

// 0 for ASCII letters, digits, '#', '-', '_'; 1 for every other byte.
int isDelimiter(int ch);

}  // namespace ruva

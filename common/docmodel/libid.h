// Library ids and the language codes in them, and the language codes in
// document file names.
//
// A library id may begin with a two-letter language code and a slash
// ("DE/LZN 702 0012"); an id without one is English. A document file name
// carries its language as an upper-case 'U' and one or two letters at the
// end of its stem ("1_1553-CXA1234567Uen.R1A.html"). Positions count from 0.
// Arguments may be null; a result without a value stands for null.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace ruva {

// The language of an id without a code.
inline constexpr const char* kDefaultLanguageCode = "EN";

// The id inside the last pair of square brackets (the last ']' and the last
// '[' before it), in Latin-1 upper case without white space and controls.
// No value when there is no ']', no '[' before it or nothing between them.
std::optional<std::string> libidGetFromText(const char* text);

// 1 when the code has at least two characters and the first two are ASCII
// letters.
int libidIsValidLanguageCode(const char* code);

// The '/' after the id's language code: the id has more than two
// characters, the first two are ASCII letters and the third is '/'. Null
// when the id has no code.
const char* libidFindLanguageCode(const char* libid);

// The id's language code in upper case; no value when it has none.
std::optional<std::string> libidGetLanguageCode(const char* libid);

// The id's language code in upper case, or "EN" when it has none; no value
// only for a null id.
std::optional<std::string> libidGetLanguageCodeOrDefault(const char* libid);

// With a code: the code as given, '/' and the id without its language code
// in upper case ("DE/abc", "sv" -> "sv/ABC"). With a null code: the id
// without its language code and '/', case kept ("DE/abc" -> "abc"; an id
// without a code comes back unchanged). No value for a null id.
std::optional<std::string> libidSetLanguageCode(const char* libid, const char* code);

// Finds the language code of a document file name: the stem before the
// first '.' must end in its last upper-case 'U' and one or two ASCII letters.
// Sets *start (position after that 'U') and *length and returns 1; returns 0
// when there is no such code or no '.'; -1 for a null or empty name or a
// null output. Both outputs are set to 0 first when not null.
int docidFindLanguageCode(const char* docid, size_t* start, size_t* length);

// The name with its language code replaced by one '*', so that one pattern
// matches the document in every language; the name unchanged when it has no
// code. No value for a null name.
std::optional<std::string> docidMaskLanguageCode(const char* docid);

// The name with its language code replaced by code; the name unchanged
// when code is null or the name has no code. No value for a null name.
std::optional<std::string> docidChangeLanguageCode(const char* docid, const char* code);

}  // namespace ruva

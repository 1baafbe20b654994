// Readers of the decimal-classes and library-references files that libraries
// carry, for the front ends' pages. Texts end at their end or at a NUL,
// whichever comes first.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace ruva {

inline constexpr size_t kDecimalClassOptionsMax = 500;
inline constexpr size_t kDecimalClassEntryMax = 254;
inline constexpr size_t kLibRefRecordsMax = 127;

// The HTML option list of a decimal-classes file, "" when it lists no class
// with a type. Each "<dc>" ... "</dc>" inside "<dec-classes>" ...
// "</dec-classes>" (closing tags in any case; a later "<dec-classes>" starts
// another list) is a class once its white space is removed. A class whose
// type is neither QOXDOC_UNKNOWN nor QOXDOC_INST makes the entry
// "<type name> (<content as written>)", cut to 254 characters; the first 500
// entries are kept. Entries are sorted with sortDecimalClassCallback (stable),
// and each that still holds ')' gives the line
// `            <option value="V">ENTRY</option>` and LF, V being the text
// between '(' and ')' without white space. '"', '<' and '>' in V and ENTRY
// are written "&#34;", "&#60;" and "&#62;".
std::string parseDecimalClass(std::string_view text);

// strcasecmp in the C locale: <0, 0 or >0 as a sorts before, with or after b,
// letters compared without regard to case.
int sortDecimalClassCallback(std::string_view a, std::string_view b);

// The library references of a library-references file, at most 127, each
// "prodno|rstate|title": the contents of the first <prod-no>, <rstate> and
// <title> elements of each "<library>" element, prodno and rstate without
// white space, the title as written. Reading starts after
// "<library-references>" and ends at "</library-references>" (any case). A
// library ends at its "</library>" (or the next "<library>"); an element
// missing there, or without its closing tag, gives an empty field. No
// records (or no list) gives an empty vector.
std::vector<std::string> parseLibRefFile(std::string_view text);

// Splits a library reference: identity is its first field followed directly
// by its second ("ABC123|R1A|x" gives "ABC123R1A"), name the text after the
// last '|' or "No Title" when that is empty (also when the record holds no
// '|', whose identity is then the whole record). Returns 1; 0 for a null
// record, with both outputs empty.
int getLibIdNameFromLibRefString(const char* record, std::string& identity, std::string& name);

}  // namespace ruva

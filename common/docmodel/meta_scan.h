// The META values of a served page, for the document information page.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace ruva {

inline constexpr size_t kMetaSlots = 33;
inline constexpr size_t kMetaValueMax = 255;

// Fills the 33 slots by name: 0 APPR, 2 CHECKED, 3 COMPANY, 5
// CONFIDENTIALITY, 6 CRIGHT, 7 CTW, 8 DATE, 9 DOCNAME, 10 DOCNO, 12 ENGTITLE,
// 13 INFO, 14 LANG, 15 PREP, 16 REF, 17 REV, 21 SUBRESP, 22 SUBTITLE, 23 USER,
// 25 TITLE, 26 SRCDOCTYPE, 27 SRCDTD, 28 FILTERPRG, 29 FILTERART, 30
// FILTERREV, 31 FILTERTIME, 32 GENERATOR; slots 1, 4, 11, 18-20 and 24 have
// no name. A name counts at its first occurrence (case matters) right after
// '=', '"' or '\'' (one at the start of the text has nothing before it and
// does not count). Its value follows the next '=' before any '>': in '"' or
// '\'' up to that quote, else up to '>' or white space; at most 255
// characters either way. No '=' there, or an empty value, leaves the slot
// empty; every empty slot is then "&nbsp;". Returns 1 when the page is
// Japanese (DOCNO holds "Uja" or LANG holds "ja", any case), else 0. The
// text ends at its end or at a NUL.
int scanMetaData(std::array<std::string, kMetaSlots>& values, std::string_view text);

// One slot as scanMetaData fills it ("&nbsp;" when empty or unnamed), for
// a caller that needs one value before it decides whether to read the rest.
std::string scanMetaValue(std::string_view text, size_t slot);

}  // namespace ruva

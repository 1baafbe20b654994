// What the comparison row and search hit row writers read alike: the
// request's fields, a row's library form, its icon and the member's type.
// Internal to the list writer.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

#include "bmod/ruvaserv/output/htmloutput.h"
#include "common/text.h"
#include "common/text_view.h"

namespace ruva {

// The request's field of that name; null without a channel, request or field.
const std::string* requestField(const KvoOutput* ao, const char* name);

// A library text of decimal digits only (or empty, or null) is an
// identifier (ID=), anything else a name (DB=).
inline bool isLibraryId(const char* db) {
    for (const char* p = db; p != nullptr && *p != '\0'; ++p) {
        if (!isAsciiDigit(static_cast<unsigned char>(*p))) return false;
    }
    return true;
}

// The text of fn from its last '.'; empty without one.
inline std::string_view fromLastDot(const char* fn) {
    const char* dot = std::strrchr(fn, '.');
    return dot ? std::string_view(dot) : std::string_view();
}

inline bool isPdfExtension(std::string_view ext) {
    return startsCaseBlindAt(ext, 0, ".PDF");
}

// A search word whose links may jump to the first match in the document.
inline bool isMatchAnchorWord(std::string_view word) {
    return startsCaseBlindAt(word, 0, "FullText") || startsCaseBlindAt(word, 0, "AdvSearch") ||
           startsCaseBlindAt(word, 0, "DocSearch");
}

// Index into the icon table for a row of fn whose type is ext: a forced
// change mark, then a spreadsheet, then a folder ('h'), then the type; no
// type is HTML.
inline std::size_t rowIconIndex(const char* fn, std::string_view ext, int force_icon, bool spreadsheet) {
    switch (force_icon) {
        case '1':
            return kIconNew;
        case '2':
            return kIconChangedNew;
        case '3':
            return kIconRemoved;
        case '6':
            return kIconChangedOld;
        default:
            break;
    }
    if (spreadsheet) return kIconSpreadsheet;
    if (fn[0] == 'h') return kIconFolder;
    if (ext.empty() || startsCaseBlindAt(ext, 0, ".HTM") || startsCaseBlindAt(ext, 0, ".*")) return kIconHtml;
    if (isPdfExtension(ext)) return kIconPdf;
    return kIconMultimedia;
}

}  // namespace ruva

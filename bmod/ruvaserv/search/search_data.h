// The search request record shared by the search actions, the search
// functions and the result formatter, and the enumerations of the search
// front end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "bmod/ruvaserv/cgi/checked_format.h"

namespace ruva {

// Bits of SearchData::searchType; the comment names the index each searches.
using KivoSearchType = uint64_t;
inline constexpr KivoSearchType OST_UNKNOWN = 1;            // no type chosen yet; the loop skips it
inline constexpr KivoSearchType OST_COMBINED = 2;           // set by no request
inline constexpr KivoSearchType OST_OPI = 4;                // fulltext.qxx
inline constexpr KivoSearchType OST_COD = 8;                // fulltext.qxx
inline constexpr KivoSearchType OST_POD = 16;               // fulltext.qxx
inline constexpr KivoSearchType OST_ADI = 32;               // fulltext.qxx
inline constexpr KivoSearchType OST_2AI = 64;               // fulltext.qxx
inline constexpr KivoSearchType OST_BODYTEXT = 128;         // fulltext.qxx
inline constexpr KivoSearchType OST_DOCNO = 256;            // docno.qxx
inline constexpr KivoSearchType OST_TOPICTITLE = 512;       // topictitle.qxx
inline constexpr KivoSearchType OST_KEYWORD_LOGICAL = 1024; // a catchword-index hit by keyword
inline constexpr KivoSearchType OST_TITLE = 2048;           // title.qxx
inline constexpr KivoSearchType OST_CTW = 4096;             // ctw.qxx
inline constexpr KivoSearchType OST_MAN = 8192;             // fulltext.qxx
inline constexpr KivoSearchType OST_FOLTITLE = 16384;       // folder.qxx

enum KivoSearchScope : unsigned { OSS_UNKNOWN = 0, OSS_DATABASE = 1, OSS_ALLDB = 2, OSS_EVERYWHERE = 3 };

// How the hits of several types combine (the result formatter's filter).
enum SearchTypeBooleanOperator : unsigned { STYPE_OR = 0, STYPE_AND = 1 };

// Given to the result formatter.
enum SearchResultSortOrder : unsigned { SRSO_DEFAULT = 0, SRSO_SRCHTYPE = 1 };

// The operator characters of a search expression.
enum SearchBooleanOperator : char { SRCH_AND = '&', SRCH_OR = '|', SRCH_NOT = '!' };

// Error texts of the search objects keep at most this many characters.
inline constexpr size_t kSearchErrorMax = 511;

// ErrorText whose setError keeps the first kSearchErrorMax characters.
class SearchErrorText : public ErrorText {
public:
    template <class... Args>
    void setError(FormatLiteral format, const Args&... args) {
        ErrorText::setError(format, args...);
        cut();
    }
    template <class... Args>
    void setError(const TableFormat& format, const Args&... args) {
        ErrorText::setError(format, args...);
        cut();
    }
    void setError(std::nullptr_t) { errmsg.clear(); }

private:
    void cut() {
        if (errmsg.size() > kSearchErrorMax) errmsg.resize(kSearchErrorMax);
    }
};

class SearchData {
public:
    SearchData(const SearchData&) = delete;
    SearchData& operator=(const SearchData&) = delete;

    // STYPE_AND, searchType OST_UNKNOWN, OSS_UNKNOWN; all seven patterns
    // emptied; sTypeCounter, isAdvanced and isExternSearch 0.
    void clear();

    SearchTypeBooleanOperator srchTypeBoolOperation = STYPE_AND;
    KivoSearchType searchType = 0;
    KivoSearchScope searchScope = OSS_UNKNOWN;
    std::string searchPat;            // the last prepared (or shown) pattern
    std::string searchPatTitle;       // title.qxx
    std::string searchPatDocNo;       // docno.qxx
    std::string searchPatBodyText;    // the full-text group
    std::string searchPatCtw;         // ctw.qxx
    std::string searchPatTopicTitle;  // topictitle.qxx
    std::string searchPatFolTitle;    // folder.qxx
    uint32_t sTypeCounter = 0;        // types visited by the last loop; drives the AND filter
    uint32_t isAdvanced = 0;          // 1: from the advanced or document search form
    uint32_t isExternSearch = 0;      // 1: started outside the browser frames
    uint32_t isPhraseSearch = 0;      // 1: the current pattern is a quoted phrase

private:
    friend std::unique_ptr<SearchData> newSearchData();
    SearchData() = default;
};

// STYPE_AND, search type 0, OSS_UNKNOWN. Null when it cannot be made.
std::unique_ptr<SearchData> newSearchData();

}  // namespace ruva

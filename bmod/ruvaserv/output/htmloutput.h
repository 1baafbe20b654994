// The writer of the generated list pages (comparison report, search
// results): XHTML 1.0 Transitional written in page order through a
// KvoOutput. Callers never write markup themselves.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "bmod/ruvaserv/output/kvooutput.h"

namespace ruva {

// KvoFormat::flags bits.
inline constexpr std::uint16_t kKvoFormatCenter = 0x1;       // centre the next headers
inline constexpr std::uint16_t kKvoFormatMatchAnchor = 0x2;  // rows are full-text, advanced or document hits

// A hit's searchType bits; they choose the search word of its link.
inline constexpr int kSearchTypeDocNo = 256;
inline constexpr int kSearchTypeTopicTitle = 512;
inline constexpr int kSearchTypeCatchword = 1024;
inline constexpr int kSearchTypeTitle = 2048;
inline constexpr int kSearchTypeCatchwordAlt = 4096;
inline constexpr int kSearchTypeFolder = 16384;

// A row icon: a toolbar image served by the front end (AC=TBIMG).
struct DocRowIcon {
    std::uint64_t id = 0;
    const char* text = "";                    // alt and title text
    std::optional<std::string> physicalPath;  // set by setKvoHtmlIcon; read by no writer
};

// Places in the icon table.
inline constexpr std::size_t kDocRowIconCount = 14;
inline constexpr std::size_t kIconHtml = 0;
inline constexpr std::size_t kIconPdf = 1;
inline constexpr std::size_t kIconMultimedia = 2;
inline constexpr std::size_t kIconNew = 4;
inline constexpr std::size_t kIconRemoved = 5;
inline constexpr std::size_t kIconChangedNew = 6;
inline constexpr std::size_t kIconChangedOld = 7;
inline constexpr std::size_t kIconSpreadsheet = 12;  // id 118 once a search list head was written
inline constexpr std::size_t kIconFolder = 13;

// State shared by the writers of one search hit row; cleared at the row's end.
struct SearchRowState {
    std::string tempUrl;    // the hit's link as the icon cell wrote it, for keyword and topic lines
    std::string tooltip;    // folder path of a folder hit
    int chkKwd = 0;         // the row's isKwd
    int hyphenCounter = 0;  // a '-' in the title pattern counts as AND
    int PADcounter = 0;     // identity cell: blanks of the text are skipped when matching
    std::string patCtw;     // catchword pattern
    std::string filpatCtw;  // and its filtered form
    std::string resStr;     // the last highlighted text
};

// Texts are NUL-ended; a null text is "none". Writers return 1 unless said
// otherwise; text the page buffer refuses is lost (KvoOutput).
class KvoFormat {
public:
    KvoFormat(const KvoFormat&) = delete;
    KvoFormat& operator=(const KvoFormat&) = delete;
    virtual ~KvoFormat();

    // nodeCount x 1000 + 4000: the size to give kvoOpenOutput. Virtual so a
    // test writer can ask for a size no buffer gets.
    virtual std::size_t estimateBufferSize(std::size_t nodeCount) const;
    // DOCTYPE, head with title and style sheet, body; a search page (AC holds
    // "search", or CW or TI given) gets the search style sheet.
    virtual int openDoc(const char* htmlTitle, const char* langCode);
    int closeDoc();
    int openList();
    int closeList();
    int setListSymbol(const char* RGBcode);
    int startList();
    int stopList();
    int startRow(int colorChoice);
    int stopRow();
    // One document row; nothing when fn gives no document number. Returns 0.
    int writeDocRow(const char* db, const char* fn, int toolbar, int* pfr, const char* title,
                    const char* engtitle, const char* synopsis, int searchType, int colorChoice,
                    int force_icon);
    // One search hit row; nothing when fn gives no document number. Clears
    // *pfr. Returns 0.
    int writeDocRowSearch(const char* db, const char* dbname, const char* fn, int toolbar, int* pfr,
                          const char* title, const char* engtitle, const char* subtitle, const char* synopsis,
                          int searchType, int colorChoice, int force_icon, int advSearchType, const char* SL,
                          const char* doctype, const char* searchPatt1, const char* searchPatt2,
                          const char* extn, const char* tokens, int isKwd, int isTopic, int ctwFlag,
                          const char* librayID);
    // writeDocRow's row for a number that gives no file name: the status
    // icon (force_icon) and title without links, number through
    // escapeHtmlKeepEntities as the identity.
    int writeDocRowNoLink(const char* title, const char* engtitle, const char* number, int colorChoice,
                          int force_icon);
    // Markup by contract: written as given.
    int writeRow(const char* str);
    // buffer in an indented block under a row, verbatim.
    int writeTableCellRow(const char* buffer);
    int startHeader(const char* hLevel);
    int stopHeader(const char* hLevel);
    // Header builders' markup with str exactly as given.
    int writeMainHeader(const char* str);
    int writeSubHeader(const char* str, const char* hLevel, int center);
    int write2partHeader(const char* str1, const char* str2, int center);
    int writeHorizontalDivider();
    // dbTitle1 is the old library, dbTitle2 the new.
    int writeCompareHeader(const char* dbTitle1, const char* dbTitle2);
    int writeListingHeaderSearch(const char* str, int col);
    int writeListingHeader(const char* str);
    int writeListingSubHeader(const char* str, int center);
    int writeListingHeadTitles();
    // The search list head: re-search address, sort links, display switches.
    int writeListingHeadTitlesSearch();
    int writeListingInterHeader(const char* str1, const char* str2, int space);
    int writeBlankRow();
    // Every entry of id gets a copy of path.
    int setKvoHtmlIcon(std::uint64_t id, const char* path);
    // The document type cell; "ZUnknown" leaves it empty.
    int setHtmlDocType(const char* doctype);
    // The notes cell; a link to the document's notes when noteflag is set.
    virtual int setHtmlDocNote(const char* db, const char* fn, int noteflag);

    // A user pattern in the operator form of pattern(); reads chkKwd and
    // hyphenCounter of row.
    std::string filterPatt(const char* pat) const;
    // strH with each term of patt wrapped in "<b>" "</b>"; entities and
    // marked spans are left alone. Never reads past strH.
    std::string pattern(const char* strH, const char* patt) const;

    std::uint16_t flags = 0;  // kKvoFormatCenter, kKvoFormatMatchAnchor
    KvoOutput* ao = nullptr;  // not owned
    std::array<DocRowIcon, kDocRowIconCount> iconTable;
    SearchRowState row;

protected:
    explicit KvoFormat(KvoOutput* out);

private:
    friend std::unique_ptr<KvoFormat> newKvoHtmlFormat(KvoOutput* out);

    // Writes to ao; nothing without a channel.
    void write(std::string_view text);
    template <class... Args>
    void print(FormatLiteral format, const Args&... args) {
        if (ao != nullptr) ao->kvoPrintf(format, args...);
    }
    void setCenter(int center);

    // The cells of a document row, appended to out.
    void setHtmlFileIcon(std::string& out, const char* db, const char* fn, const std::optional<std::string>& ftype,
                         int toolbar, int searchType, int force_icon) const;
    static void setHtmlDocTitle(std::string& out, const char* db, const char* fn, int toolbar, int* pfr,
                                const char* title, const char* engtitle, const char* synopsis);
    static void setHtmlDocId(std::string& out, std::string_view docno, std::string_view rev);
    int setHtmlFileIconSearch(const char* db, const char* dbname, const char* fn, int toolbar, int searchType,
                              int force_icon, const char* SL, const char* extn, const char* tokens, int isKwd,
                              int isTopic, const char* librayID);
    int setHtmlDocTitleSearch(const char* title, const char* engtitle, const char* subtitle,
                              const char* synopsis, int searchType, const char* SL, const char* searchPatt1,
                              const char* tokens, int isKwd, int isTopic, int ctwFlag);
    int setHtmlDocIdSearch(const char* docno, const char* searchPatt1, int searchType);

    // A document row being built and its member name's parts; kept so rows
    // reuse their capacity.
    std::string rowText_;
    std::string rowDocno_;
    std::string rowRev_;
    std::optional<std::string> rowType_;
};

// The HTML writer on out (not owned), icons as built, flags 0; null when
// memory is short.
std::unique_ptr<KvoFormat> newKvoHtmlFormat(KvoOutput* out);

// "Folder&nbsp;path:&nbsp;" and the path before title's last '|', blanks as
// "&nbsp;" ("/" for a leading '|' only); at most 2,000 characters.
std::string extractTooltip(const char* title);

}  // namespace ruva

// A table of contents, list of figures or list of tables: collects
// entries, keeps chapter numbers (six levels, optional part number) and
// writes the list into an output node list as HTML, as a preformatted block
// or a two-column table, with chapter headings that link back to the top.
//
// Operations give 1 or a text, or 0 with the error text set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "bmod/ruvaserv/cgi/checked_format.h"
#include "bmod/ruvaserv/sgml/sgmlscanner.h"
#include "common/pool.h"

namespace ruva {

enum TocType : int {
    TOT_TOC = 0,
    TOT_LOF = 1,
    TOT_LOT = 2,
};

// Toc::flags
inline constexpr uint16_t kTocPreformatted = 0x1;  // preformatted block instead of a table
inline constexpr uint16_t kTocPlainTop = 0x2;      // top-level chapters not bold
inline constexpr uint16_t kTocPartNumber = 0x4;    // chapter strings start with the part number
inline constexpr uint16_t kTocThreeBlanks = 0x8;   // "   " instead of " &#160; " after a chapter number

// TocEntry::flags
inline constexpr uint8_t kTocEntryNamed = 0x1;    // name instead of a level
inline constexpr uint8_t kTocEntryBold = 0x2;     // table form: bold after a line break
inline constexpr uint8_t kTocEntryRestart = 0x4;  // numbering restarts after this entry

inline constexpr int kTocLevels = 6;              // chapter levels counted
inline constexpr int kTocCounters = 7;            // chapNum slots
inline constexpr int kTocDefaultLevel = 2;        // contentsLevel after construction
inline constexpr size_t kTocChstrMax = 31;
inline constexpr size_t kTocAidMax = 39;
inline constexpr size_t kTocHrefBaseMax = 39;
inline constexpr size_t kTocPoolItems = 4096;     // TocEntry items per heap
inline constexpr uint16_t kTocPoolFlags = 3;      // kPoolNoSemaphore | kPoolPrivate
inline constexpr size_t kTocPreWrap = 54;         // longer titles and sources break once
inline constexpr size_t kTocPreBreakWindow = 55;  // the break is at the last blank within these
inline constexpr int kTocPreIndent = 9;           // blanks before a continuation line
inline constexpr int kTocPreNumberWidth = 8;      // number text padded to this, plus one blank

// One entry; built in place in a pool item.
struct TocEntry {
    TocEntry* next = nullptr;
    int level = 0;                    // chapter entry: 1 to 6
    std::optional<std::string> name;  // named entry (kTocEntryNamed)
    std::optional<std::string> title;
    std::optional<std::string> source;
    std::optional<std::string> link;  // replaces the computed link in the table form
    uint8_t flags = 0;                // kTocEntry*
};

class Toc : public ErrorText {
public:
    // del: clear, the pool, the object.
    ~Toc();
    Toc(const Toc&) = delete;
    Toc& operator=(const Toc&) = delete;

    // Removes every entry, forgets the output target, frees the heading and the message.
    void clear();
    // Output target, level, heading (copied; null for none), type with its
    // anchor and link prefix; partCount 0.
    int init(TocType type, SgmlScanner* scanner, SgmlNodeList* output, int level, const char* heading);
    // Appends an entry: a copy of name when flags has kTocEntryNamed, else
    // level. 364 when the pool is exhausted.
    int addEntry(int entryLevel, const char* entryName, const char* title, const char* source, uint8_t entryFlags);
    void clearEntryList();
    void clearEntry(TocEntry* entry);

    // outputContentsPre with kTocPreformatted, else outputContentsTbl.
    int output();
    // contentsLevel below 1 writes nothing. 365.
    int outputContentsPre();
    // contentsLevel below 1 writes nothing. 366.
    int outputContentsTbl();
    int outputTocStartPre();
    int outputTocStartTbl();

    void clearChapters();
    // The counters of levels 1 to currentLevel joined by '.', after the
    // part number and '-' with kTocPartNumber.
    const std::string& chapterString();
    // Counts a chapter of level 1-6 and resets the deeper counters; a level
    // below 1 resets every counter, above 6 none.
    const std::string& updateChapter(int chapterLevel);
    // Chapter heading up to where the caller writes the title. 367.
    int outputChapter(const char* chapterStr, const char* role);
    // 368.
    int outputChapterEnd();

    uint16_t flags = 0;  // kToc*
    std::unique_ptr<Pool> pool;
    TocEntry* firstEntry = nullptr;
    TocEntry* lastEntry = nullptr;
    SgmlScanner* oss = nullptr;       // not owned
    SgmlNodeList* osnl = nullptr;     // not owned
    std::optional<std::string> tocHeading;
    int contentsLevel = kTocDefaultLevel;
    int currentLevel = 0;
    TocType tocType = TOT_TOC;
    int chapNum[kTocCounters] = {};
    int partCount = 0;  // nothing sets it after init
    std::string chstr;     // up to kTocChstrMax characters
    std::string aid;       // up to kTocAidMax
    std::string hrefBase;  // up to kTocHrefBaseMax

private:
    friend std::unique_ptr<Toc> newToc(uint16_t flags);
    Toc() = default;
};

// The object and its entry pool; null when either fails.
std::unique_ptr<Toc> newToc(uint16_t flags);

}  // namespace ruva

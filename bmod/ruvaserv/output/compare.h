// The comparison of two libraries' document lists (SDI files) and its HTML
// report. Side 1 is the older list, side 2 the newer. Documents pair by
// number; failing that, by title, catchword or number with any revision as
// their decimal class says. Keys compare as foldNoSpc copies (blanks and
// controls out, ASCII lower-cased), never as patterns.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "bmod/ruvaserv/cgi/checked_format.h"
#include "bmod/ruvaserv/output/cpodcmp.h"

namespace ruva {

class KvoFormat;
struct SdiEntry;

// compareSdi's results: 0 the report was written, else the step that
// failed, with the error text set.
enum class SdiCompareCode : int {
    kOk = 0,
    kNewSdi1 = 1,        // message 164
    kLoadSdi1 = 2,       // 153-155 around the reader's text
    kNewSdi2 = 3,        // 165
    kLoadSdi2 = 4,       // 153-155
    kDocnoIndex1 = 5,    // 166
    kAddDocno1 = 6,      // 156
    kDocnoIndex2 = 7,    // 168
    kAddDocno2 = 8,      // 156
    kTagSdi = 9,         // 170
    kCatchIndex = 10,    // 171
    kAddCatch = 11,      // 172
    kTitleIndex1 = 12,   // 173
    kAddTitle1 = 13,     // 174
    kTitleIndex2 = 14,   // 175
    kAddTitle2 = 15,     // 176
    kResultList = 16,    // 177
    kMatch = 17,         // 178; a block comparer failure as 178 ": " its text
    kMiss = 18,          // 179
    kGenerateList = 19,  // the request's message 234 (page buffer refused)
};

// The steps of compareSdi in the order they end, as a measuring hook
// sees them.
enum class ComparePhase : int {
    kLoads,     // both lists read
    kIndexes,   // keys folded, numbers settled, side 1 indexed
    kMatching,  // side 2 paired or new
    kMissing,   // side 1 left over as removed
    kReport,    // the page written
};

// How a class pairs documents that do not share a number.
enum class CompareLogic : int {
    kCatchword = 1,
    kTitle = 2,
    kDocno = 3,  // same number with any revision
};

// A row's status, the character of the old report keys and icon codes.
enum class DocStatus : char {
    kNew = '1',        // side 2 only
    kChanged = '2',
    kRemoved = '3',    // side 1 only
    kSame = '4',       // not reported
    kSearching = '5',  // internal
};

// A decimal class's report group ('1'-'7'), pairing logic and section
// colour (six hex digits).
struct ClassRule {
    char group;
    CompareLogic logic;
    const char* colour;
};

// The rule of decclass, with or without its blank padding to 7: the six
// listed classes and "00000" (no valid number); group '7' and kDocno for
// any other.
ClassRule classRuleOf(std::string_view decclass);
// classRuleOf(decclass).colour.
const char* colorCodeOf(std::string_view decclass);

// The pieces of one document's number, as look-up keys. All empty and
// decclass "00000  " when the number is invalid or does not split.
struct DocParts {
    std::string catchword;  // class + the title's first word (to ' ' or ':', at most 15), logic 1 only
    std::string docno;      // article (any revision)
    std::string title;      // cut at 255
    std::string prefix;
    std::string decclass;   // blank-padded to 7
    std::string ind;
    std::string variant;
    std::string lang;
    std::string rev;
};

// The parts of entry; the first language "UJA" (any case) met sets
// languageCode when it is empty. Never fails.
DocParts extractDocParts(const SdiEntry& entry, std::string& languageCode);

// 1 for null, "" and texts of blanks, tabs and line feeds only; else 0.
int checkIfStringEmpty(const char* text);

// The section name of a row whose file name is fileName: its document type
// name, "Other Documents" for an unknown type or no file name.
std::string compareSectionName(const std::string& fileName);

// One reported difference. A changed pair is one row: the side-2 entry is
// shown first, then oldEntry.
struct ResultRow {
    char group = '7';
    std::string decclass;  // blank-padded to 7
    DocStatus status = DocStatus::kNew;
    std::uint32_t order = 0;             // order found; compared as a number
    const SdiEntry* entry = nullptr;     // side 2 for new and changed, side 1 for removed
    const SdiEntry* oldEntry = nullptr;  // changed only
    std::string blockKey;                // the block comparer's key for entry, "" none
    std::string oldBlockKey;             // and for oldEntry
};

// What the report remembers between rows; reset per report, the section
// fields per section.
struct ReportState {
    char rl_type = '0';       // group of the previous row
    char rl_status = '0';     // status of the previous row
    int rl_pair = 0;          // which half of a changed pair comes next
    int rl_firstRow = 1;      // 1 at the start of a section
    std::string rl_old_decc;  // the current section's class; "" none yet
    int rl_rowNum = 48;       // row colour counter, 48 at each section start
};

class SdiCompare : public ErrorText {
public:
    ~SdiCompare();
    SdiCompare(const SdiCompare&) = delete;
    SdiCompare& operator=(const SdiCompare&) = delete;

    // Compares oldSdiFile (side 1) with newSdiFile (side 2) and writes the
    // report through the writer into its request's document buffer. The
    // libraries name the rows' links, the titles head the report;
    // logotypeGif is the logo link. With codPod only COD and POD documents
    // are reported, changed ones block by block. kOk, or the failing step
    // with getError set.
    SdiCompareCode compareSdi(const std::string& oldSdiFile, const std::string& newSdiFile,
                              const std::string& oldLib, const std::string& newLib,
                              const std::string& oldTitle, const std::string& newTitle,
                              const std::string& logotypeGif, bool codPod);

    // The report of rows (sorted here by group, class, status, order)
    // through the writer, using the sides and report state below; called
    // by compareSdi, public so the report can be checked from rows. kOk or
    // kGenerateList.
    SdiCompareCode generateList(std::vector<ResultRow>& rows);

    // Decimal-class filter: only documents of this class take part; 0 all.
    std::uint32_t documentType = 0;

    // Set by compareSdi, read by the report.
    std::string database1;  // side 1 (old) library
    std::string database2;  // side 2 (new) library
    std::string dbTitle1;
    std::string dbTitle2;
    std::string logotypeGif;
    std::string languageCode;  // "UJA" when a Japanese document was met, else ""
    bool isCodPodSelected = false;

    ReportState report;

    // When set, called as each step of a successful compareSdi ends; for
    // measuring only.
    void (*phaseDone)(void* data, ComparePhase phase) = nullptr;
    void* phaseData = nullptr;

    // The block comparer (owned); never null once made.
    CPodCmp& blockComparer() { return *cpCmp_; }

private:
    friend std::unique_ptr<SdiCompare> newSdiCompare(KvoFormat& alf);
    SdiCompare(KvoFormat& alf, std::unique_ptr<CPodCmp> cpCmp);

    struct Impl;          // the loaded lists and their indexes, during compareSdi
    class ReportWriter;  // the rows of one report

    KvoFormat& alf_;
    std::unique_ptr<CPodCmp> cpCmp_;
};

// The comparison writing through alf (not owned; its channel must be bound
// to a request, which the block comparer fetches through). Null when it
// cannot be made.
std::unique_ptr<SdiCompare> newSdiCompare(KvoFormat& alf);

}  // namespace ruva

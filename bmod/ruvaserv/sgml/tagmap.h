// Per-DTD table of element types: tag name to tag number, an element's
// flags, which children its content allows and the document's top element.
// The element context stack and the document tree consult it. One DTD
// family is built in (tavrmap.h), used for TAVR, XTAVR and HOB.
//
// Lookups never fail loudly: unknown names give -1 or null, numbers out of
// range 0 or null. init and initTopElement give 1 or 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace ruva {

// Document type definitions by number; stored files and callers use the
// numbers. Only TAVR, XTAVR and HOB have a table.
enum MapDtd : int {
    MAPDTD_UNKNOWN = 0,
    MAPDTD_TAVR = 1,
    MAPDTD_OPI = 2,
    MAPDTD_COD = 3,
    MAPDTD_POD = 4,
    MAPDTD_INCH = 5,
    MAPDTD_ADI = 6,
    MAPDTD_AI = 7,
    MAPDTD_TAD = 8,
    MAPDTD_DMD = 9,
    MAPDTD_EBCEDML = 10,
    MAPDTD_MIND = 11,
    MAPDTD_JP = 12,
    MAPDTD_DESC = 13,
    MAPDTD_BOOK = 14,
    MAPDTD_XTAVR = 15,
    MAPDTD_HOB = 16,
    MAPDTD_MANPAGE = 17,
};

// Element flags (TagEntry::flags).
inline constexpr uint8_t kTagEmpty = 0x01;           // popped as soon as pushed; no end tag written
inline constexpr uint8_t kTagOpenContent = 0x02;     // every child allowed; foreign tags ignored inside
inline constexpr uint8_t kTagText = 0x04;            // free text written line by line on text output
inline constexpr uint8_t kTagEmptyWithAttrs = 0x08;  // empty when its start tag carries an attribute
inline constexpr uint8_t kTagImpliedStart = 0x10;    // may be opened implicitly for a child it allows

inline constexpr size_t kTagNameMax = 31;         // characters of an element name
inline constexpr size_t kTagMapChildren = 28;     // child slots of a TagEntry
inline constexpr uint8_t kTagMapEnd = 255;        // ends a shorter child list
inline constexpr size_t kBigTagMapChildren = 122;  // child slots of a BigTagEntry
inline constexpr uint16_t kBigTagMapEnd = 0xFFFF;

// One element type. Packed to 61 bytes: the layout of the constant table.
struct TagEntry {
    uint8_t flags;
    uint8_t map[kTagMapChildren];  // child tag numbers; ends at kTagMapEnd or after the 28th
    char name[kTagNameMax + 1];    // upper case, NUL-terminated
};
static_assert(sizeof(TagEntry) == 61);

// The same for tables of more than 255 element types; no built-in table uses it.
struct BigTagEntry {
    uint8_t flags;
    uint16_t map[kBigTagMapChildren];  // ends at kBigTagMapEnd
    char name[kTagNameMax + 1];
};

// TagMap::flags
inline constexpr uint16_t kTagMapBigEntries = 0x01;  // entries are BigTagEntry

class TagMap {
public:
    // del
    ~TagMap() = default;
    TagMap(const TagMap&) = delete;
    TagMap& operator=(const TagMap&) = delete;

    // Sets topElement -1 and clears kTagMapBigEntries; loads the TAVR table
    // for MAPDTD_TAVR, MAPDTD_XTAVR and MAPDTD_HOB, any other value fails.
    // mapDtd is set on success and 0 on failure. A null topelem loads the
    // table without a top element; an unknown one fails with the table loaded.
    int init(MapDtd dtd, const char* topelem);

    // tavrDoctypeToDtd.
    MapDtd doctypeToDtd(const char* doctype, const char* pubid) const;

    // Tag number of a name, case ignored, first match in table order; -1
    // for null, "" or an unknown name.
    int mapTag(const char* tag) const;

    // The entry of a name, looked up as mapTag; null when not found.
    // getBigTagEntry gives null on a table of small entries.
    const TagEntry* getTagEntry(const char* tag) const;
    const BigTagEntry* getBigTagEntry(const char* tag) const;

    // The stored name; null outside 0..tagCount-1.
    const char* getTagName(int tagno) const;
    // The entry's flags; 0 out of range.
    int getTagFlags(int tagno) const;

    // 0 when the parent is out of range; 1 when it has kTagOpenContent or
    // child stands in its list before the list's end; else 0.
    int isAllowed(int parent, int child) const;

    // Null: 1 without change. Else the first entry of that name (case
    // ignored) becomes topElement; the entry at topElement is read only
    // when topElement is in range. None: 0.
    int initTopElement(const char* topelem);

    // Copies the TAVR table (tagCount 187) and sets topElement through
    // initTopElement (TAVR, DOC and SET without a search).
    int initTavrTags(const char* topelem);

    // Loads a caller's table instead of a built-in one (the tests' tables).
    // mapDtd is left to the caller; topelem as in initTopElement.
    int initTable(std::span<const TagEntry> table, const char* topelem);

    MapDtd mapDtd = MAPDTD_UNKNOWN;  // 0 when no table is loaded
    uint16_t flags = 0;              // kTagMapBigEntries
    int topElement = -1;             // tag number of the top element; -1 when none
    int tagCount = 0;
    std::vector<TagEntry> entries;        // by tag number; owned copies
    std::vector<BigTagEntry> bigEntries;  // with kTagMapBigEntries

private:
    friend std::unique_ptr<TagMap> newTagMap(MapDtd dtd, uint16_t flags);
    TagMap() = default;
};

// A map with the given flags, initialised at once (no top element) when dtd
// is not 0. Null when memory or the initialisation fails.
std::unique_ptr<TagMap> newTagMap(MapDtd dtd, uint16_t flags);

// A public identifier beginning "-//VANDROVE//DTD XTAVR " gives
// MAPDTD_XTAVR, "-//VANDROVE//DTD HOB " MAPDTD_HOB; else the doctype name,
// case ignored: "XTAVR" 15, "HOB" 16, "TAVR" 1, anything else or null 0.
MapDtd tavrDoctypeToDtd(const char* doctype, const char* pubid);

}  // namespace ruva

#include "bmod/ruvaserv/sgml/tagmap.h"

#include <new>
#include <string_view>

#include "bmod/ruvaserv/sgml/tavrmap.h"
#include "common/text.h"
#include "common/text_view.h"

namespace ruva {
namespace {

bool sameName(const char* stored, const char* name) {
    std::string_view s = stored;
    std::string_view n = name;
    return s.size() == n.size() && startsCaseBlindAt(s, 0, n);
}

// The first letter is compared upper-cased first: most entries differ there.
template <typename Entry>
int findEntry(const std::vector<Entry>& entries, int count, const char* tag) {
    if (!tag || !*tag) return -1;
    unsigned char first = asciiUpper(static_cast<unsigned char>(*tag));
    for (int i = 0; i < count && i < static_cast<int>(entries.size()); ++i) {
        const char* name = entries[i].name;
        if (static_cast<unsigned char>(name[0]) == first && sameName(name, tag)) return i;
    }
    return -1;
}

// A child list ends at its terminator or when every slot is used.
template <typename Entry, typename Number>
int listsChild(const Entry& entry, Number end, int child) {
    for (Number n : entry.map) {
        if (n == end) return 0;
        if (n == child) return 1;
    }
    return 0;
}

}  // namespace

int TagMap::init(MapDtd dtd, const char* topelem) {
    topElement = -1;
    flags &= ~kTagMapBigEntries;
    if ((dtd == MAPDTD_TAVR || dtd == MAPDTD_XTAVR || dtd == MAPDTD_HOB) && initTavrTags(topelem)) {
        mapDtd = dtd;
        return 1;
    }
    mapDtd = MAPDTD_UNKNOWN;
    return 0;
}

MapDtd TagMap::doctypeToDtd(const char* doctype, const char* pubid) const {
    return tavrDoctypeToDtd(doctype, pubid);
}

int TagMap::mapTag(const char* tag) const {
    if (flags & kTagMapBigEntries) return findEntry(bigEntries, tagCount, tag);
    return findEntry(entries, tagCount, tag);
}

const TagEntry* TagMap::getTagEntry(const char* tag) const {
    if (flags & kTagMapBigEntries) return nullptr;
    int n = findEntry(entries, tagCount, tag);
    return n < 0 ? nullptr : &entries[n];
}

const BigTagEntry* TagMap::getBigTagEntry(const char* tag) const {
    if (!(flags & kTagMapBigEntries)) return nullptr;
    int n = findEntry(bigEntries, tagCount, tag);
    return n < 0 ? nullptr : &bigEntries[n];
}

const char* TagMap::getTagName(int tagno) const {
    if (tagno < 0 || tagno >= tagCount) return nullptr;
    if (flags & kTagMapBigEntries) {
        return static_cast<size_t>(tagno) < bigEntries.size() ? bigEntries[tagno].name : nullptr;
    }
    return static_cast<size_t>(tagno) < entries.size() ? entries[tagno].name : nullptr;
}

int TagMap::getTagFlags(int tagno) const {
    if (tagno < 0 || tagno >= tagCount) return 0;
    if (flags & kTagMapBigEntries) {
        return static_cast<size_t>(tagno) < bigEntries.size() ? bigEntries[tagno].flags : 0;
    }
    return static_cast<size_t>(tagno) < entries.size() ? entries[tagno].flags : 0;
}

int TagMap::isAllowed(int parent, int child) const {
    if (getTagName(parent) == nullptr) return 0;
    if (getTagFlags(parent) & kTagOpenContent) return 1;
    if (flags & kTagMapBigEntries) return listsChild(bigEntries[parent], kBigTagMapEnd, child);
    return listsChild(entries[parent], kTagMapEnd, child);
}

int TagMap::initTopElement(const char* topelem) {
    if (!topelem) return 1;
    // topElement is -1 right after init; only a number in range names an entry.
    const char* current = getTagName(topElement);
    if (current && sameName(current, topelem)) return 1;
    int n = mapTag(topelem);
    if (n < 0) return 0;
    topElement = n;
    return 1;
}

int TagMap::initTavrTags(const char* topelem) {
    entries.assign(kTavrTags.begin(), kTavrTags.end());
    bigEntries.clear();
    tagCount = static_cast<int>(kTavrTags.size());
    if (!topelem) return 1;
    if (sameName("TAVR", topelem)) {
        topElement = kTavrTopTavr;
    } else if (sameName("DOC", topelem)) {
        topElement = kTavrTopDoc;
    } else if (sameName("SET", topelem)) {
        topElement = kTavrTopSet;
    } else {
        return initTopElement(topelem);
    }
    return 1;
}

int TagMap::initTable(std::span<const TagEntry> table, const char* topelem) {
    flags &= ~kTagMapBigEntries;
    entries.assign(table.begin(), table.end());
    // Lookups read names as C strings; a caller's name may fill every slot.
    for (TagEntry& e : entries) e.name[kTagNameMax] = '\0';
    bigEntries.clear();
    tagCount = static_cast<int>(table.size());
    topElement = -1;
    return initTopElement(topelem);
}

std::unique_ptr<TagMap> newTagMap(MapDtd dtd, uint16_t flags) {
    std::unique_ptr<TagMap> map(new (std::nothrow) TagMap());
    if (!map) return nullptr;
    map->flags = flags;
    if (dtd != MAPDTD_UNKNOWN && !map->init(dtd, nullptr)) return nullptr;
    return map;
}

MapDtd tavrDoctypeToDtd(const char* doctype, const char* pubid) {
    std::string_view id = pubid ? pubid : "";
    if (id.starts_with("-//VANDROVE//DTD XTAVR ")) return MAPDTD_XTAVR;
    if (id.starts_with("-//VANDROVE//DTD HOB ")) return MAPDTD_HOB;
    if (!doctype) return MAPDTD_UNKNOWN;
    if (sameName("XTAVR", doctype)) return MAPDTD_XTAVR;
    if (sameName("HOB", doctype)) return MAPDTD_HOB;
    if (sameName("TAVR", doctype)) return MAPDTD_TAVR;
    return MAPDTD_UNKNOWN;
}

}  // namespace ruva

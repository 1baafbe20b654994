#include "bmod/ruvaserv/sgml/tagmap.h"

namespace ruva {

int TagMap::init(MapDtd, const char*) {
    mapDtd = MAPDTD_UNKNOWN;
    return 0;
}

MapDtd TagMap::doctypeToDtd(const char* doctype, const char* pubid) const { return tavrDoctypeToDtd(doctype, pubid); }

int TagMap::mapTag(const char*) const { return -1; }

const TagEntry* TagMap::getTagEntry(const char*) const { return nullptr; }

const BigTagEntry* TagMap::getBigTagEntry(const char*) const { return nullptr; }

const char* TagMap::getTagName(int) const { return nullptr; }

int TagMap::getTagFlags(int) const { return 0; }

int TagMap::isAllowed(int, int) const { return 0; }

int TagMap::initTopElement(const char*) { return 0; }

int TagMap::initTavrTags(const char*) { return 0; }

int TagMap::initTable(std::span<const TagEntry>, const char*) { return 0; }

std::unique_ptr<TagMap> newTagMap(MapDtd, uint16_t) { return nullptr; }

MapDtd tavrDoctypeToDtd(const char*, const char*) { return MAPDTD_UNKNOWN; }

}  // namespace ruva

#include "bmod/unzipd/catalogue/zip_list.h"

#include <strings.h>
#include <sys/stat.h>

#include <cstdarg>
#include <cstring>
#include <new>

#include "bmod/unzipd/catalogue/filesys_scanner.h"
#include "bmod/unzipd/log/log_call.h"
#include "bmod/unzipd/zip/unzip.h"
#include "bmod/unzipd/zip/zip_pool.h"
#include "bmod/unzipd/zip/zip_reader.h"
#include "common/docmodel/comment_tokens.h"
#include "common/docmodel/libid.h"
#include "common/patterns.h"
#include "common/string_format.h"
#include "common/text.h"

namespace ruva {
namespace {

// Quick-index slot of a first character; -1 for anything but an ASCII letter.
int quickSlot(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return 26 + (c - 'a');
    return -1;
}

// The corrupt list keeps paths cut to 255 characters and compares them so.
std::string keptPath(const char* path) {
    return std::string(path, strnlen(path, kCatalogueMaxPath));
}

}  // namespace

std::unique_ptr<ZipList> newZipList(uint16_t flags, key_t languageListKey) {
    std::unique_ptr<ZipList> zl(new (std::nothrow) ZipList);
    if (zl) zl->shared_ = newCatalogueShared();
    if (!zl || !zl->shared_) {
        logError(kLogCrit, "No memory");
        return nullptr;
    }
    zl->flags = flags;
    zl->filesysScanner = newFilesysScanner(&zl->flags, fileSysAddZipCallback);
    if (!zl->filesysScanner) return nullptr;
    zl->unzip = newUnzip(0);
    if (!zl->unzip) return nullptr;
    zl->languageList = newLanguageList(languageListKey);
    zl->superusers = newStringList();
    if (!zl->languageList || !zl->superusers) {
        logError(kLogCrit, "No memory");
        return nullptr;
    }
    return zl;
}

ZipList::~ZipList() {
    unzip.reset();
    if (shared_ && mayChange()) {
        while (ZipStructure* zs = block()->firstZipStructure) deleteZipStructure(zs);
        delMlStruct(block()->MlRoot);
    }
    filesysScanner.reset();
    zipPool.reset();
}

void ZipList::setError(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    errmsg_ = vformat(format, ap);
    va_end(ap);
}

void ZipList::warn(void*, int level, const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    std::string text = vformat(format, ap);
    va_end(ap);
    logError(level, "%s", text.c_str());
}

int ZipList::allocZipPool(unsigned maxZipStructures, unsigned maxCentralHeaders, unsigned namePoolSize) {
    if (!mayChange()) return 0;
    // Nothing may point into the pool that goes: slots, node lists and the
    // quick index are cleared with each library.
    while (ZipStructure* zs = block()->firstZipStructure) unhookAndDelete(zs);
    clearMlStruct(block()->MlRoot);
    for (ZipStructure*& slot : block()->zipStructIndex) publish(slot, static_cast<ZipStructure*>(nullptr));
    zipPool.reset();
    zipPool = newZipPool(sizeof(ZipStructure), sizeof(CentralHeader), maxZipStructures, maxCentralHeaders,
                         namePoolSize);
    return zipPool ? 1 : 0;
}

bool ZipList::isTreeLibrary(const ZipStructure* zs) const {
    const char* dot = std::strrchr(zs->zipBasename, '.');
    if (!dot || strcasecmp(dot, ".anx") == 0) return false;
    return filesysScanner->includeFile(dot, filesysScanner->includePatterns.get(), nullptr) != 0;
}

void ZipList::insertByName(ZipStructure* zs) {
    ZipStructure** link = &block()->firstZipStructure;
    while (*link && std::strcmp((*link)->zipBasename, zs->zipBasename) <= 0) link = &(*link)->next;
    zs->next = *link;
    publish(*link, zs);
}

void ZipList::insertByLibID(ZipStructure* zs) {
    ZipStructure** link = &block()->firstZipStructureLZN;
    while (*link && std::strcmp((*link)->libID, zs->libID) <= 0) link = &(*link)->nextLZN;
    zs->nextLZN = *link;
    publish(*link, zs);
}

ZipStructure* ZipList::newZipStructure(const char* path, uint16_t zsFlags) {
    if (!path || !mayChange()) return nullptr;
    ZipStructure* zs = ruva::newZipStructure(zipPool.get(), path, zsFlags, this, &ZipList::warn);
    if (!zs) return nullptr;
    if (zs->version[0] == '\0') std::memcpy(zs->version, "00", 3);
    CatalogueBlock* b = block();
    if (isTreeLibrary(zs)) {
        zs->hashID = createHashID(zs->zipName, zs->centralDirEnd.comment);
        if (zs->hashID < 0)
            logError(kLogErr, "No free hash id for '%s'", zs->zipName);
        else
            setHashSlot(b, zs->hashID, ML_NODE_TYPE_ZS, zs);
    }
    languageList->addCode(zs->languageCode);
    insertByName(zs);
    insertByLibID(zs);
    if (zs->flags & kZipVerbose) logError(kLogDebug, "File %s, created ZipStructure", zs->zipName);
    ++b->structureCount;
    return zs;
}

void ZipList::deleteZipStructure(ZipStructure* zs) {
    if (!zs || !mayChange()) return;
    if (zs->flags & kZipVerbose) logError(kLogDebug, "File %s, unallocating ZipStructure", zs->zipName);
    CatalogueBlock* b = block();
    ZipStructure** link = &b->firstZipStructure;
    while (*link && *link != zs) link = &(*link)->next;
    if (*link) publish(*link, zs->next);
    link = &b->firstZipStructureLZN;
    while (*link && *link != zs) link = &(*link)->nextLZN;
    if (*link) publish(*link, zs->nextLZN);
    languageList->removeCode(zs->languageCode);
    zs->del();
    if (b->structureCount > 0) --b->structureCount;
}

void ZipList::unhookAndDelete(ZipStructure* zs) {
    if (!zs || !mayChange()) return;
    CatalogueBlock* b = block();
    if (zs->hashID >= 0 && zs->hashID < kMlHashSize && b->MlZipHash[zs->hashID].MlNode == zs)
        setHashSlot(b, zs->hashID, ML_NODE_TYPE_ZS, nullptr);
    unlinkFromNode(zs);
    int k = quickSlot(zs->zipBasename[0]);
    if (k >= 0 && b->zipStructIndex[k] == zs) {
        ZipStructure* successor = zs->next;
        if (successor && successor->zipBasename[0] != zs->zipBasename[0]) successor = nullptr;
        publish(b->zipStructIndex[k], successor);
    }
    deleteZipStructure(zs);
}

int ZipList::buildQuickAccessIndex() {
    if (!mayChange()) return 1;
    ZipStructure* firsts[kQuickIndexSlots] = {};
    for (ZipStructure* zs = block()->firstZipStructure; zs; zs = zs->next) {
        int k = quickSlot(zs->zipBasename[0]);
        if (k >= 0 && !firsts[k]) firsts[k] = zs;
    }
    for (int k = 0; k < kQuickIndexSlots; ++k) publish(block()->zipStructIndex[k], firsts[k]);
    return 1;
}

ZipStructure* ZipList::findZipStructure(const char* name, ZipStructure* prev) const {
    if (!name) return nullptr;
    ZipStructure* zs;
    if (prev) {
        zs = prev->next;
    } else if (quickSlot(name[0]) >= 0 && !(flags & kZipFoldNames)) {
        // The slot holds the first library of exactly that letter; with fold
        // names off a name of the other case is not looked for.
        zs = block()->zipStructIndex[quickSlot(name[0])];
    } else {
        zs = block()->firstZipStructure;
    }
    if (isSearchPattern(name)) {
        // Only a pattern beginning with a letter or digit fixes the first
        // character: "[ab]*" must see every library.
        bool sameFirst = isAsciiAlnum(static_cast<unsigned char>(name[0]));
        unsigned char first = asciiLower(static_cast<unsigned char>(name[0]));
        for (; zs; zs = zs->next) {
            if (sameFirst && asciiLower(static_cast<unsigned char>(zs->zipBasename[0])) != first) continue;
            if (matchPattern(name, zs->zipBasename, zs->flags)) return zs;
        }
        return nullptr;
    }
    // Most libraries differ from the name in their first character: telling
    // those apart inline saves a strcasecmp call per library (bytes from
    // 0x80 on are left to strcasecmp, which may fold them by locale).
    unsigned char first = static_cast<unsigned char>(name[0]);
    bool asciiFirst = first < 0x80;
    first = asciiLower(first);
    for (; zs; zs = zs->next) {
        unsigned char c = static_cast<unsigned char>(zs->zipBasename[0]);
        if (asciiFirst && c < 0x80 && asciiLower(c) != first) continue;
        if (strcasecmp(zs->zipBasename, name) == 0) return zs;
    }
    return nullptr;
}

ZipStructure* ZipList::findZipStructureByLibID(const char* text, ZipStructure* prev) const {
    if (!text || !*text) return nullptr;
    std::optional<std::string> id = libidGetFromText(text);
    if (!id || id->empty()) return nullptr;
    bool pattern = id->find('*') != std::string::npos;
    for (ZipStructure* zs = prev ? prev->nextLZN : block()->firstZipStructureLZN; zs; zs = zs->nextLZN) {
        if (!zs->libID || !*zs->libID) continue;
        if (pattern ? matchPattern(id->c_str(), zs->libID, 0) : std::strcmp(id->c_str(), zs->libID) == 0)
            return zs;
    }
    return nullptr;
}

ZipStructure* ZipList::findZipStructureByPath(const char* path) const {
    if (!path) return nullptr;
    for (ZipStructure* zs = block()->firstZipStructure; zs; zs = zs->next)
        if (std::strcmp(zs->zipName, path) == 0) return zs;
    return nullptr;
}

int ZipList::isInWritableDir(const char* path) const {
    if (!path || !filesysScanner || !filesysScanner->writableNonRecursiveDirs) return 0;
    const char* slash = std::strrchr(path, '/');
    if (!slash) return 0;
    std::string_view folder(path, static_cast<size_t>(slash - path));
    for (const String* s = filesysScanner->writableNonRecursiveDirs->first; s; s = s->next) {
        std::string_view entry(s->value.c_str());
        if (!entry.empty() && entry.back() == '/') entry.remove_suffix(1);
        if (entry == folder) return 1;
    }
    return 0;
}

int fileSysAddZipCallback(void* clientData, const char* path) {
    auto* zl = static_cast<ZipList*>(clientData);
    if (!zl || !path) return 0;
    // The writable mark comes from the file's own folder, never from the
    // catalogue's flags or the list being scanned.
    uint16_t zsFlags = zl->flags & ~kZipWritableDir;
    if (zl->isInWritableDir(path)) zsFlags |= kZipWritableDir;
    if (!isZipFile(path)) return 0;
    // A folder on two lists (or under a recursive one) is met twice: one
    // entry, one id.
    if (zl->findZipStructureByPath(path)) return 0;
    if (zl->newZipStructure(path, zsFlags)) {
        zl->removeCorruptFileEntry(path);
        return 1;
    }
    struct stat st;
    if (::stat(path, &st) == 0) zl->addCorruptFileEntry(path, static_cast<size_t>(st.st_size), st.st_mtime);
    return 0;
}

int ZipList::addCorruptFileEntry(const char* path, size_t size, time_t mtime) {
    if (!path) return 0;
    std::string kept = keptPath(path);
    for (CorruptFile& entry : corruptFiles) {
        if (entry.path != kept) continue;
        if (entry.size == size && entry.mtime == mtime) {
            logError(kLogInfo, "ZIP file is still corrupt '%s'", path);
        } else {
            entry.size = size;
            entry.mtime = mtime;
            logError(kLogInfo, "Updated a corrupt ZIP file '%s' size %lu mtime %lu", path,
                     static_cast<unsigned long>(size), static_cast<unsigned long>(mtime));
        }
        return 1;
    }
    try {
        corruptFiles.push_back(CorruptFile{size, mtime, std::move(kept)});
    } catch (const std::bad_alloc&) {
        return 0;
    }
    logError(kLogInfo, "Registered a corrupt ZIP file '%s'", path);
    return 1;
}

int ZipList::removeCorruptFileEntry(const char* path) {
    if (!path) return 0;
    std::string kept = keptPath(path);
    for (auto it = corruptFiles.begin(); it != corruptFiles.end(); ++it) {
        if (it->path != kept) continue;
        corruptFiles.erase(it);
        logError(kLogInfo, "Corrupt ZIP has been repaired '%s'", path);
        return 1;
    }
    return 0;
}

int ZipList::addFileChangeInfoEntry(const char* path, size_t size, time_t mtime, FileState state) {
    if (!path) return 0;
    if (std::strlen(path) >= kCatalogueMaxPath) {
        logError(kLogErr, "Failed to register a changed  file '%s'", path);
        return 0;
    }
    for (FileChangeInfo& entry : fileChangeInfos) {
        if (entry.fspath != path) continue;
        if (entry.size != size || entry.mtime != mtime) {
            entry.size = size;
            entry.mtime = mtime;
            logError(kLogInfo, "Updated a cahnged  file '%s'", path);
        }
        return 1;
    }
    try {
        fileChangeInfos.push_back(FileChangeInfo{mtime, size, path, state});
    } catch (const std::bad_alloc&) {
        return 0;
    }
    logError(kLogInfo, "Registered a cahnged  file '%s'", path);
    return 1;
}

int ZipList::removeFileChangeInfoEntry(const char* path) {
    if (!path) return 0;
    for (auto it = fileChangeInfos.begin(); it != fileChangeInfos.end(); ++it) {
        if (it->fspath != path) continue;
        fileChangeInfos.erase(it);
        logError(kLogInfo, "Changed ZIP has been repaired '%s'", path);
        return 1;
    }
    return 0;
}

int ZipList::addSuperuser(const char* name) {
    if (!name) {
        logError(kLogErr, "Null to addSuperuser ");
        return 0;
    }
    if (!superusers->add(name)) {
        logError(kLogErr, "Failed to add superuser name to the string list");
        return 0;
    }
    return 1;
}

}  // namespace ruva

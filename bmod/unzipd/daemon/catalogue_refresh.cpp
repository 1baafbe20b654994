// The parent's side of the catalogue refresh: the scanner's lines, the full
// rescan and the pass over changed libraries. Sessions read the catalogue
// meanwhile: a library leaves its lists, slot and node before it is freed,
// and a new one is complete before it is linked.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "bmod/unzipd/catalogue/filesys_scanner.h"
#include "bmod/unzipd/catalogue/zip_list.h"
#include "bmod/unzipd/daemon/uzd_main.h"
#include "bmod/unzipd/zip/zip_reader.h"
#include "common/string_list.h"
#include "int_interfaces/pipe_handler.h"

namespace ruva {
namespace {

constexpr uint16_t kLibraryBits = kZipFoldNames | kZipVerbose | kCatalogueDebug;

// The flags a library opened by a refresh gets: the catalogue's, and the
// writable mark from its own folder.
uint16_t libraryFlags(const ZipList& zl, const char* path) {
    uint16_t f = static_cast<uint16_t>(zl.flags & kLibraryBits);
    if (zl.isInWritableDir(path)) f |= kZipWritableDir;
    return f;
}

// The library in slot hashID when its path is path, else null.
ZipStructure* librarySlot(const ZipList& zl, int hashID, const char* path) {
    if (hashID < 0 || hashID >= kMlHashSize) return nullptr;
    const MlHashTable& slot = zl.block()->MlZipHash[hashID];
    if (slot.type != ML_NODE_TYPE_ZS || slot.MlNode == nullptr) return nullptr;
    auto* zs = static_cast<ZipStructure*>(slot.MlNode);
    if (zs->zipName == nullptr || std::strcmp(zs->zipName, path) != 0) return nullptr;
    return zs;
}

// The library a line names: the one in slot hashID with that path, else one
// that holds no slot (.anx, or no id was free) by its path. A library that
// holds a slot is never taken by path alone: a stale id must not drop it.
ZipStructure* lineLibrary(const ZipList& zl, int hashID, const char* path) {
    if (ZipStructure* zs = librarySlot(zl, hashID, path)) return zs;
    ZipStructure* zs = zl.findZipStructureByPath(path);
    if (zs == nullptr) return nullptr;
    bool holdsSlot = zs->hashID >= 0 && zs->hashID < kMlHashSize && zl.block()->MlZipHash[zs->hashID].MlNode == zs;
    return holdsSlot ? nullptr : zs;
}

void rebuildTree(ZipList& zl) {
    zl.clearMlStruct(zl.getMlRoot());
    zl.buildMlStructure();
    zl.buildQuickAccessIndex();
}

struct Rescan {
    ZipList* zl;
    int added;
};

int rescanCallback(void* clientData, const char* path) {
    auto* r = static_cast<Rescan*>(clientData);
    if (r->zl->findZipStructureByPath(path) != nullptr) return 0;
    if (!fileSysAddZipCallback(r->zl, path)) return 0;
    logError(kLogNotice, "Indexing new database: %s", path);
    ++r->added;
    return 1;
}

// Opens path and hangs it under node mlID (kNoMlNode: under none); on
// failure it joins the corrupt list.
bool openIntoNode(ZipList& zl, const char* path, int mlID) {
    ZipStructure* zs = zl.newZipStructure(path, libraryFlags(zl, path));
    if (zs == nullptr) {
        struct stat st;
        if (::stat(path, &st) == 0) zl.addCorruptFileEntry(path, static_cast<size_t>(st.st_size), st.st_mtime);
        return false;
    }
    zl.removeCorruptFileEntry(path);
    if (mlID != kNoMlNode) zl.addZStoMl(zs, path, mlID);
    return true;
}

}  // namespace

void UzdMain::rememberStructureTime() {
    const char* conf = zipList ? zipList->getMlConfFile() : nullptr;
    struct stat st;
    if (conf != nullptr && conf[0] != '\0' && ::stat(conf, &st) == 0) mlConfTime = st.st_mtime;
}

int UzdMain::addNewFileToCache(const char* name, int mlID) {
    ZipList& zl = *zipList;
    // The scan callback's rule: a path in the catalogue is never entered twice.
    if (zl.findZipStructureByPath(name) != nullptr) {
        logError(kLogDebug, "Already in the catalogue: %s", name);
        return 0;
    }
    if (mlID != kNoMlNode && zl.findMlNodeLabel(zl.getMlRoot(), mlID) == nullptr) {
        logError(kLogErr, "Invalid Node ID %u", static_cast<unsigned>(mlID));
        logError(kLogErr, "ADD FAIL: %s", name);
        return 0;
    }
    if (!openIntoNode(zl, name, mlID)) {
        logError(kLogErr, "ADD FAIL: %s", name);
        return 0;
    }
    logError(kLogInfo, "Successfully added %s", name);
    return 1;
}

int UzdMain::updateFileInCache(const char* name, int hashID, int mlID) {
    ZipList& zl = *zipList;
    ZipStructure* zs = lineLibrary(zl, hashID, name);
    if (zs == nullptr || (mlID != kNoMlNode && zl.findMlNodeLabel(zl.getMlRoot(), mlID) == nullptr)) {
        logError(kLogErr, "Invalid hashID:%d or mlID:%d for Removing\n", hashID, mlID);
        logError(kLogErr, "CHANGE FAIL: %s", name);
        return 0;
    }
    zl.unhookAndDelete(zs);
    if (!openIntoNode(zl, name, mlID)) {
        logError(kLogErr, "CHANGE FAIL: %s", name);
        return 0;
    }
    logError(kLogInfo, "Sucessfully updated %s", name);
    return 1;
}

int UzdMain::removeFileFromCache(const char* name, int hashID) {
    ZipList& zl = *zipList;
    ZipStructure* zs = lineLibrary(zl, hashID, name);
    if (zs == nullptr) {
        logError(kLogErr, "Invalid hashID %d for Removing\n", hashID);
        logError(kLogErr, "REMOVE FAIL: %s", name);
        return 0;
    }
    auto* node = static_cast<MlZipStruct*>(zs->MlSub);
    if (node != nullptr && std::strcmp(node->descr, kMlDefaultRootName) == 0)
        logError(kLogDebug, "File %s removed from root node", name);
    else if (node != nullptr)
        logError(kLogDebug, "File %s removed from %s node", name, node->descr);
    zl.unhookAndDelete(zs);
    logError(kLogInfo, "Sucessfully removed %s", name);
    return 1;
}

int UzdMain::updateMlNodesInCache(const char* name) {
    ZipList& zl = *zipList;
    ZipList::MlBackup backup;
    if (!zl.takeMlBackup(&backup)) {
        logError(kLogErr, "FS FAIL: %s", name);
        return 0;
    }
    // A file without records leaves no root: every library would go with it.
    if (zl.readMlConfig(zl.getMlConfFile()) > 0) {
        logError(kLogDebug, "Releasing backup copies of multi-level structures");
        // A dropped folder's libraries go now, else they stay listed without a
        // node; the old tree, still alive, tells which folders were dropped.
        zl.bldMlSnChkRMl(backup.root);
        zl.releaseMlBackup(&backup);
        logError(kLogInfo, "Reconfigured %s", name);
        logError(kLogInfo, "Reconfigure request handled for %s", name);
        return 1;
    }
    logError(kLogErr, "Error in system structure configuration");
    logError(kLogWarning, "Attempting to proceed with last known good configuration");
    zl.restoreMlBackup(&backup);
    logError(kLogErr, "FS FAIL: %s", name);
    return 0;
}

int UzdMain::applyPipeLine(const char* line, int counts[3]) {
    std::string name;
    int hashID, mlID;
    if (!parseFSstring(line, &name, &hashID, &mlID)) {
        logError(kLogErr, "INVALID: %s", line);
        return 0;
    }
    logError(kLogDebug, "HASHID:%d MLID:%d ZipName: %s", hashID, mlID, name.c_str());
    switch (line[0]) {
    case 'A':
        if (addNewFileToCache(name.c_str(), mlID)) ++counts[0];
        return 'A';
    case 'C':
        if (updateFileInCache(name.c_str(), hashID, mlID)) ++counts[2];
        return 'C';
    case 'R':
        if (removeFileFromCache(name.c_str(), hashID)) ++counts[1];
        return 'R';
    case 'F':
        return updateMlNodesInCache(name.c_str()) ? 'F' : -1;
    default:
        logError(kLogErr, "INVALID: %s", line);
        return 0;
    }
}

int UzdMain::updateCache() {
    if (filesysPid > 0) ::kill(filesysPid, SIGUSR2);
    rememberStructureTime();
    // Every line the scanner wrote is in the pipe before its SIGUSR2.
    if (pe != nullptr && ph && ph->findEntry(pe)) {
        while (ph->findEntry(pe) && ph->parentChildHasData(pe) > 0 && ph->parentReadProcessData(pe) > 0) {
        }
    }
    int counts[3] = {0, 0, 0};  // added, removed, changed
    bool failed = false;
    if (pe != nullptr && ph && ph->findEntry(pe) && pe->sl) {
        while (String* s = pe->sl->unqueue()) {
            if (applyPipeLine(StringList::getValue(s), counts) < 0) failed = true;
            pe->sl->qfree(s);
        }
    }
    rebuildTree(*zipList);
    if (failed) return 0;
    if (counts[0] + counts[1] + counts[2] > 0)
        logError(kLogNotice, "Refresh finished Added:%d Removed:%d Changed:%d", counts[0], counts[1], counts[2]);
    return 1;
}

int UzdMain::checkChangedZipFiles() {
    ZipList& zl = *zipList;
    int changed = 0;
    bool again = true;
    while (again) {
        again = false;
        for (ZipStructure* zs = zl.getFirstZipStructure(); zs != nullptr; zs = zs->getNext()) {
            struct stat st;
            std::string path = zs->zipName != nullptr ? zs->zipName : "";
            if (::stat(path.c_str(), &st) != 0) {
                logError(kLogWarning, "Zip file has been removed, %s", path.c_str());
                auto* node = static_cast<MlZipStruct*>(zs->MlSub);
                if (node != nullptr && std::strcmp(node->descr, kMlDefaultRootName) == 0)
                    logError(kLogDebug, "%s removed from root node", path.c_str());
                else if (node != nullptr)
                    logError(kLogDebug, "%s removed from %s node", path.c_str(), node->descr);
                else if (zs->flags & kZipWritableDir)
                    logError(kLogDebug, "Zip file was removed from writable directory");
                else
                    logError(kLogDebug, "Zip structure without node assigned to it! No additional actions performed");
                zl.unhookAndDelete(zs);
                ++changed;
                again = true;
                break;
            }
            if (static_cast<unsigned long>(st.st_size) == zs->fileSize && st.st_mtime == zs->mTime) continue;
            // The slot is freed first, so the reopened library gets its id back.
            zl.unhookAndDelete(zs);
            ++changed;
            again = true;
            if (zl.newZipStructure(path.c_str(), libraryFlags(zl, path.c_str())) != nullptr) {
                zl.removeCorruptFileEntry(path.c_str());
                if (zl.flags & kZipVerbose)
                    logError(kLogInfo, "ZIP \"%s\" refreshed, new mtime is %lu", path.c_str(),
                             static_cast<unsigned long>(st.st_mtime));
            } else {
                logError(kLogWarning, "Failed to refresh \"%s\"", path.c_str());
                zl.addCorruptFileEntry(path.c_str(), static_cast<size_t>(st.st_size), st.st_mtime);
            }
            break;
        }
    }
    if (changed > 0) rebuildTree(zl);
    return changed;
}

int UzdMain::rescanFilesystem() {
    ZipList& zl = *zipList;
    int changed = checkChangedZipFiles();
    Rescan r{&zl, 0};
    FilesysScanner& s = *zl.filesysScanner;
    s.setCallback(rescanCallback);
    int n = s.scan(&r);
    s.setCallback(fileSysAddZipCallback);
    rebuildTree(zl);
    if (n < 0) {
        logError(kLogErr, "Refresh failed due to serious error");
        return -1;
    }
    logError(kLogNotice, "Refresh finished, %d changed, %d new databases.", changed, r.added);
    return 1;
}

}  // namespace ruva

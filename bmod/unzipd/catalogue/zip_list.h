// The daemon's catalogue: every library the scanner found, in two sorted
// lists with a quick index by first letter, the hash-id table, the
// multilevel node tree, the corrupt and changed-file lists, the language
// codes of the loaded libraries and the superuser names.
//
// The lists, counts, index, table and tree live in shared memory made by
// newZipList (catalogue_shared.h) and libraries in the shared pools of
// allocZipPool, so session processes forked from the main process read the
// catalogue as it stands now. Only the main process changes that state: in
// any other process the changing calls do nothing and return 0, -1 or null.
// The corrupt, changed-file and superuser lists, the scanner and the error
// text are private to each process.
//
// Messages go to the daemon log (logError).
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "bmod/unzipd/catalogue/catalogue_shared.h"
#include "bmod/unzipd/catalogue/filesys_scanner.h"
#include "bmod/unzipd/catalogue/ml_tree.h"
#include "common/docmodel/language_list.h"
#include "common/string_list.h"

namespace ruva {

class Unzip;
class ZipPool;
class ZipStructure;

// ZipList::flags bits beyond the libraries' own (kZipFoldNames, kZipVerbose).
constexpr uint16_t kCatalogueDebug = 0x08;
constexpr uint16_t kCatalogueChangeSeen = 0x200;
constexpr uint16_t kCatalogueWatchStructure = 0x400;

// Longest path kept in the corrupt and changed-file lists.
constexpr size_t kCatalogueMaxPath = 255;

enum FileState : int {
    FS_RM_FILE = 0,
    FS_CH_FILE = 1,
    FS_AD_FILE = 2,
    FS_FSCH_FILE = 3,
    FS_CORRUPT_FILE = 4,
    FS_STATCH_FILE = 5,
    FS_NOLDAP_FILE = 6,
    FS_INVALID = 7,
};

// A library that could not be opened.
struct CorruptFile {
    size_t size;
    time_t mtime;
    std::string path;  // at most 255 characters
};

// A library the watcher child saw change.
struct FileChangeInfo {
    time_t mtime;
    size_t size;
    std::string fspath;  // at most 254 characters
    FileState state;
};

class ZipList {
public:
    // del: deletes every library and the node tree, then the scanner, the
    // extractor and the pools. Never run it in a forked process: there it
    // only unmaps, leaving the shared state to the main process.
    ~ZipList();
    ZipList(const ZipList&) = delete;
    ZipList& operator=(const ZipList&) = delete;

    // The last error text, "" when there is none.
    const char* getError() const { return errmsg_.c_str(); }
    void setError(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // Replaces the library pools: every library goes (with its hash slot, its
    // place in the node lists and the quick index), then a ZipPool of these
    // sizes (0 takes a default) is made. 1, or 0 when it cannot be made.
    int allocZipPool(unsigned maxZipStructures, unsigned maxCentralHeaders, unsigned namePoolSize);

    // Opens the library at path with flags and enters it: hash slot (unless
    // .anx or not included), language code, both lists. Null when it cannot
    // be opened.
    ZipStructure* newZipStructure(const char* path, uint16_t flags);
    // Unlinks the library from both lists, drops its language code and
    // deletes it. Its hash slot and node list are left: use unhookAndDelete.
    void deleteZipStructure(ZipStructure* zs);
    // Clears the library's hash slot (when it holds it), unlinks it from its
    // node's list, moves a quick-index slot that points at it to its
    // successor when that begins with the same letter (else clears it), then
    // deleteZipStructure. Every path that drops a library uses it.
    void unhookAndDelete(ZipStructure* zs);

    ZipStructure* getFirstZipStructure() const { return block()->firstZipStructure; }
    ZipStructure* getFirstZipStructureLZN() const { return block()->firstZipStructureLZN; }

    // First library after prev (from the start when null) whose base name
    // equals name case-blind, or matches it when it is a pattern. Without
    // fold names a name beginning with a letter starts at that letter's
    // quick-index slot (case kept).
    ZipStructure* findZipStructure(const char* name, ZipStructure* prev) const;
    // First library after prev in the library-id list whose id equals the id
    // in text (libidGetFromText), or matches it when it holds '*'. Null for
    // a null or empty text or one without an id.
    ZipStructure* findZipStructureByLibID(const char* text, ZipStructure* prev) const;
    // The library whose full path is path, or null.
    ZipStructure* findZipStructureByPath(const char* path) const;

    // Reads the structure file (or makes the default tree), scans, rebuilds
    // the quick index and the node lists. Files taken, or -1.
    int scanFilesystem();
    // Fills the 52 quick-index slots from the name list. 1.
    int buildQuickAccessIndex();

    // Message callback of every library: formats and logs at level.
    // clientData is the catalogue.
    static void warn(void* clientData, int level, const char* format, ...)
        __attribute__((format(printf, 3, 4)));

    // The structure file (ml_tree.cpp).
    // Sets MlConfFile, a path or "default". 0 and nothing changed for a null
    // name or one of 4096 characters or more.
    int setMlConfFile(const char* path);
    // Records read, or -1. On success the new tree becomes MlRoot (a tree
    // still there is deleted: takeMlBackup keeps one); on -1 the nodes read
    // are deleted again and MlRoot is left as it was.
    int readMlConfig(const char* file);
    // Adds a node: the root when root is null (then returned), else a node
    // placed by level under root (root returned, also when the record is
    // skipped with a message). Null for an invalid root or a second root.
    MlZipStruct* addMlNode(MlZipStruct* root, int level, const char* name, const char* path,
                           const char* indexFile, const char* label, int dummyNode);
    // Frees the node, its siblings and their subtrees, clearing their hash
    // slots and the libraries' links to them; MlRoot when it is one of them.
    // node is the top of a tree: nothing else may point to it.
    void delMlStruct(MlZipStruct* node);
    // Empties the library list of node, its siblings and their subtrees.
    void clearMlStruct(MlZipStruct* node);
    // A free slot for the hash of first and second, probing upwards; -1 when
    // every slot is taken. Slot 0 is the root's and never handed out.
    int createHashID(const char* first, const char* second) const;
    // Appends the library to the list of the node holding path's folder. 1,
    // or 0 when no node holds it.
    int addMlZipStructure(ZipStructure* zs, const char* path);
    // The node whose folder is path's folder (case-blind), from node: the
    // node, its child subtree, its siblings. Null when none.
    MlZipStruct* findMlNode(MlZipStruct* node, const char* path) const;
    // The node whose ID is ID, in the same order as findMlNode.
    MlZipStruct* findMlNodeLabel(MlZipStruct* node, int ID) const;
    // Hangs every library on its node, sorted by comment (strcasecmp).
    void buildMlStructure();
    // Deletes every library whose folder has no node. 1.
    int checkRemovedMl();
    // buildMlStructure, deleting libraries without a node, then drops corrupt
    // entries that are gone or lie outside every node. With oldRoot (the tree
    // the new one replaces, still alive) only what lay under one of its
    // nodes goes: a library that never had a node (a recursive or annotation
    // folder) stays, as a full scan keeps it. 1.
    int bldMlSnChkRMl(MlZipStruct* oldRoot = nullptr);
    // Hangs one library on the node in slot hashID. 1, or 0 when that slot
    // holds no node.
    int addZStoMl(ZipStructure* zs, const char* path, int hashID);

    // A tree kept while a new structure file is read, to go back to when the
    // read fails. takeMlBackup moves MlRoot, the node slots and the
    // scanner's non-recursive list out (false, and nothing taken, without a
    // tree); restoreMlBackup deletes whatever tree was read and puts the old
    // one back with its library lists emptied; releaseMlBackup deletes it.
    struct MlBackup {
        MlZipStruct* root = nullptr;
        unsigned long subCount = 0;
        std::vector<std::pair<int, MlZipStruct*>> nodeSlots;
        std::unique_ptr<StringList> nonRecursiveDirs;
    };
    bool takeMlBackup(MlBackup* backup);
    void restoreMlBackup(MlBackup* backup);
    void releaseMlBackup(MlBackup* backup);

    // The corrupt list.
    void freeCorruptFileList() { corruptFiles.clear(); }
    int removeCorruptFileEntry(const char* path);
    int addCorruptFileEntry(const char* path, size_t size, time_t mtime);

    // The changed-file list (the watcher child's).
    void freeFileChangeInfoList() { fileChangeInfos.clear(); }
    int removeFileChangeInfoEntry(const char* path);
    int addFileChangeInfoEntry(const char* path, size_t size, time_t mtime, FileState state);

    LanguageList* getLanguageList() const { return languageList.get(); }
    int addSuperuser(const char* name);

    // 1 when path's folder (up to its last "/") equals an entry of the
    // scanner's writable list, both read without one trailing "/".
    int isInWritableDir(const char* path) const;

    // The shared state.
    CatalogueBlock* block() const { return shared_->block(); }
    MlZipStruct* getMlRoot() const { return block()->MlRoot; }
    const char* getMlConfFile() const { return block()->MlConfFile; }
    unsigned long structureCount() const { return block()->structureCount; }
    unsigned long subCount() const { return block()->subCount; }
    CatalogueShared* shared() const { return shared_.get(); }

    int changeCount = 0;
    std::vector<FileChangeInfo> fileChangeInfos;  // insertion order
    uint16_t flags = 0;                           // the scanner reads its fold and verbose bits from here
    std::unique_ptr<ZipPool> zipPool;
    std::unique_ptr<FilesysScanner> filesysScanner;
    std::unique_ptr<Unzip> unzip;
    std::vector<CorruptFile> corruptFiles;  // insertion order
    std::unique_ptr<LanguageList> languageList;
    std::unique_ptr<StringList> superusers;

private:
    friend std::unique_ptr<ZipList> newZipList(uint16_t flags, key_t languageListKey);
    ZipList() = default;

    bool mayChange() const { return shared_->isOwner(); }
    // Not .anx, with an extension that passes the include patterns: such a
    // library gets a hash id and hangs on a node.
    bool isTreeLibrary(const ZipStructure* zs) const;
    void insertByName(ZipStructure* zs);
    void insertByLibID(ZipStructure* zs);
    void hangOnNode(ZipStructure* zs, MlZipStruct* node);
    void unlinkFromNode(ZipStructure* zs);
    MlZipStruct* addNode(MlZipStruct* root, int level, const char* name, const char* path,
                         const char* indexFile, const char* label, int dummyNode, const char* confName,
                         bool* added);
    void placeNode(MlZipStruct* root, MlZipStruct* node, int level);
    struct MlRead;
    // One line of the structure file into the record being read; a record
    // complete after it is added to the tree. False ends the read as failed.
    bool readMlLine(char* line, int lineNo, MlRead* r);
    // Replaces the catalogue's tree by root; returns count.
    int installMlTree(MlZipStruct* root, int count, const char* file);
    MlZipStruct* lastSibling(MlZipStruct* first);
    int makeDefaultTree();
    int readTreeKeepingOld();

    std::unique_ptr<CatalogueShared> shared_;
    std::string errmsg_;
    // Last node of each sibling list, by the list's first node: placement
    // appends without walking the list. Emptied whenever nodes are freed.
    std::unordered_map<MlZipStruct*, MlZipStruct*> lastSiblings_;
};

// A catalogue with an empty shared block, its scanner (callback
// fileSysAddZipCallback), extractor, language list (under languageListKey)
// and superuser list; no pool yet (allocZipPool). Null, with "No memory"
// (level 2) when the object cannot be made, or when a part cannot be made.
std::unique_ptr<ZipList> newZipList(uint16_t flags, key_t languageListKey = kLanguageListKey);

// The scanner's callback: enters a library found at path (clientData is the
// catalogue), marked writable when isInWritableDir. 1 when it was entered;
// 0 for a file that is no library, a path already in the catalogue, or a
// library that cannot be opened (it joins the corrupt list).
int fileSysAddZipCallback(void* clientData, const char* path);

}  // namespace ruva

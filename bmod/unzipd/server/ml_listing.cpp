// The tree listings MLLIST, MLNLIST and MLSLIST: folder (SUB) and library
// (DB) lines, filtered by the session's profile, hidden folders and ids.
#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "bmod/unzipd/catalogue/zip_list.h"
#include "bmod/unzipd/daemon/user_profile.h"
#include "bmod/unzipd/log/log_call.h"
#include "bmod/unzipd/server/command_handlers.h"
#include "bmod/unzipd/zip/zip_reader.h"
#include "common/tokens.h"

namespace ruva {
namespace {

constexpr size_t kCommentMax = 1024;

enum class MlKind { kList, kNList, kSList };
enum MlMode { kMlThis = 0, kMlSiblings = 1, kMlOneLibrary = 2 };

struct MlWalk {
    NetworkServer* ns;
    const ZipList* zl;
    MlKind kind;
    int startLevel = 0;
    bool showHidden = false;  // MLSLIST of a "__" folder shows everything
    bool wroteFolder = false;
    bool wroteLibrary = false;
};

std::string quoted(const char* text) {
    if (text == nullptr) return "";
    return ReplyWriter::quotedField(std::string_view(text).substr(0, kCommentMax));
}

bool hiddenFolder(const MlZipStruct* node) { return std::strncmp(node->descr, "__", 2) == 0; }

bool writeHeader(NetworkServer* ns) {
    return ns->reply->line(kReplyData, kReplyHeader, "Type Level Name         ID  Size\t\tEntries CTime    \"Comment\"");
}

// The library filters of a tree listing.
bool libraryShown(const MlWalk& w, const ZipStructure* zs, bool oneLibrary) {
    const char* ext = std::strrchr(zs->zipBasename, '.');
    if (ext != nullptr && strcasecmp(ext, ".anx") == 0) return false;
    const FilesysScanner* fs = w.zl->filesysScanner.get();
    if (fs && !fs->includeFile(zs->zipName, fs->includePatterns.get(), fs->excludePatterns.get())) return false;
    if (w.ns->userp && ext != nullptr && strcasecmp(ext, ".khx") != 0 && strcasecmp(ext, ".ers") != 0 &&
        !isBLOBTypeAllowed(w.ns->userp.get(), ext))
        return false;
    bool slashId = zs->libID && std::strncmp(zs->libID, "//", 2) == 0;
    if (slashId && w.kind == MlKind::kList && !oneLibrary) return false;
    if (slashId && w.kind == MlKind::kSList && !w.showHidden) return false;
    return true;
}

bool writeLibrary(MlWalk& w, const ZipStructure* zs, int level) {
    w.wroteLibrary = true;
    return w.ns->reply->line(kReplyData, kReplyEntry, "  DB %5d \"%12s\"  \"%s|%u|%s|\" \t %8lu %5u %10lu %s %s", level,
                             zs->zipBasename, zs->version, static_cast<unsigned>(zs->hashID), zs->zipBasename,
                             zs->fileSize, static_cast<unsigned>(zs->centralDirEnd.totalCentralEntries),
                             static_cast<unsigned long>(zs->mTime), quoted(zs->centralDirEnd.comment).c_str(),
                             zs->pubInExtranet ? "TRUE" : "FALSE");
}

bool printFolder(MlWalk& w, const MlZipStruct* node, int mode, bool top);

bool printNode(MlWalk& w, const MlZipStruct* node, bool top) {
    if (node->level == 1 && w.ns->userp && !isSystemAllowed(w.ns->userp.get(), node->ID)) return true;
    if (w.kind == MlKind::kList && hiddenFolder(node)) return true;
    if (w.kind == MlKind::kSList && !top && !w.showHidden && hiddenFolder(node)) return true;
    w.wroteFolder = true;
    if (!w.ns->reply->line(kReplyData, kReplyEntry, " SUB %5d            - S|%u|-|\t\t\t-     - %10lu %s", node->level,
                           static_cast<unsigned>(node->ID), static_cast<unsigned long>(node->mTime),
                           quoted(node->descr).c_str()))
        return false;
    for (const ZipStructure* zs = node->zs; zs; zs = zs->MlNext)
        if (libraryShown(w, zs, false) && !writeLibrary(w, zs, node->level)) return false;
    return node->child == nullptr || printFolder(w, node->child, kMlSiblings, false);
}

// A folder and what it holds; in mode 1 also its following siblings (for
// MLNLIST only while their level differs from the starting folder's).
bool printFolder(MlWalk& w, const MlZipStruct* node, int mode, bool top) {
    for (; node; node = node->next) {
        if (!printNode(w, node, top)) return false;
        if (mode != kMlSiblings) break;
        if (w.kind == MlKind::kNList && node->next && node->next->level == w.startLevel) break;
        top = false;
    }
    return true;
}

// Mode 2: the first library from start on, in catalogue order, that passes
// the filters.
bool printOneLibrary(MlWalk& w, const ZipStructure* start) {
    for (const ZipStructure* zs = start; zs; zs = zs->getNext()) {
        if (!libraryShown(w, zs, true)) continue;
        const MlZipStruct* folder = static_cast<const MlZipStruct*>(zs->MlSub);
        return writeLibrary(w, zs, folder ? folder->level : 0);
    }
    return true;
}

bool hasStructureFile(const ZipList* zl) {
    const char* f = zl->getMlConfFile();
    return zl->getMlRoot() != nullptr && *f != '\0' && std::strcmp(f, "default") != 0;
}

const MlHashTable* nodeSlot(const ZipList* zl, const char* arg) {
    unsigned long id = std::strtoul(arg, nullptr, 10);
    if (id >= static_cast<unsigned long>(kMlHashSize)) return nullptr;
    const MlHashTable* slot = &zl->block()->MlZipHash[id];
    return slot->MlNode ? slot : nullptr;
}

}  // namespace

int handleMlListCommand(NetworkServer* ns, char* args) {
    const char* arg = getNextToken(&args);
    ZipList* zl = sessionCatalogue(ns);
    if (zl == nullptr) {
        ns->reply->line(kReplyFailed, kReplyHeader, "Failed to list libraries");
        return replyResult(ns);
    }
    MlWalk w{ns, zl, MlKind::kList};
    if (arg == nullptr) {
        writeHeader(ns);
        if (hasStructureFile(zl)) {
            printFolder(w, zl->getMlRoot(), kMlThis, true);
        } else {
            for (const ZipStructure* zs = zl->getFirstZipStructure(); zs; zs = zs->getNext())
                if (libraryShown(w, zs, false) && !writeLibrary(w, zs, 0)) break;
        }
    } else if (isNodeNumber(arg)) {
        LibrarySelection sel;
        if (!selectLibraries(ns, arg, &sel)) return replyResult(ns);
        writeHeader(ns);
        if (sel.folder)
            printFolder(w, sel.folder, kMlThis, true);
        else if (!sel.libraries.empty())
            printOneLibrary(w, sel.libraries.front());
    } else {
        ZipStructure* zs = std::strchr(arg, '[') ? findZipStructureByLi(zl, arg, nullptr) : zl->findZipStructure(arg, nullptr);
        if (zs == nullptr) {
            ns->reply->line(kReplyInvalid, kReplyEntry, "Invalid database '%s'", arg);
            return replyResult(ns);
        }
        writeHeader(ns);
        printOneLibrary(w, zs);
        if (!w.wroteLibrary) {
            ns->reply->line(kReplyFailed, kReplyHeader, "Failed to list libraries");
            return replyResult(ns);
        }
    }
    ns->reply->line(kReplyOk, kReplyHeader, "MLLIST executed.");
    return replyResult(ns);
}

int handleMlNListCommand(NetworkServer* ns, char* args) {
    const char* arg = getNextToken(&args);
    getNextToken(&args);  // the user id: read, not used
    ZipList* zl = sessionCatalogue(ns);
    const MlHashTable* slot = zl && arg && isNodeNumber(arg) && hasStructureFile(zl) ? nodeSlot(zl, arg) : nullptr;
    const MlZipStruct* folder =
        slot && slot->type == ML_NODE_TYPE_SUB ? static_cast<const MlZipStruct*>(slot->MlNode) : nullptr;
    MlWalk w{ns, zl, MlKind::kNList};
    if (folder != nullptr && folder->level > 0) {
        w.startLevel = folder->level;
        writeHeader(ns);
        printFolder(w, folder, kMlThis, true);
    }
    if (!w.wroteFolder) {
        // The session ends: the client has no folder to upload to.
        ns->reply->line(kReplyNoUploadFolder, kReplyHeader, "No folder with upload access available");
        replyResult(ns);
        return 0;
    }
    ns->reply->line(kReplyOk, kReplyHeader, "MLNLIST executed.");
    return replyResult(ns);
}

int handleMlsListCommand(NetworkServer* ns, char* args) {
    const char* arg = getNextToken(&args);
    const char* kind = getNextToken(&args);
    if (arg == nullptr) {
        ns->reply->line(kReplyFailed, kReplyEntry, "No Product Name/Path specified ");
        return replyResult(ns);
    }
    int check = 0;
    if (kind && (strcasecmp(kind, "path") == 0 || std::strcmp(kind, "1") == 0)) check = 1;
    if (kind && (strcasecmp(kind, "name") == 0 || std::strcmp(kind, "2") == 0)) check = 2;
    if (check == 0) {
        ns->reply->line(kReplyFailed, kReplyEntry, "No Name/Path specified ");
        return replyResult(ns);
    }
    ZipList* zl = sessionCatalogue(ns);
    if (zl == nullptr || !hasStructureFile(zl)) {
        ns->reply->line(kReplyFailed, kReplyEntry, "No Product Structure defined for this Installation ");
        return replyResult(ns);
    }
    const MlZipStruct* found = inOrder(zl->getMlRoot(), arg, check);
    if (found == nullptr) {
        ns->reply->line(kReplyInvalid, kReplyEntry, "Invalid Product Name/Path'%s'", arg);
        return replyResult(ns);
    }
    MlWalk w{ns, zl, MlKind::kSList};
    w.showHidden = hiddenFolder(found);
    writeHeader(ns);
    printFolder(w, found, kMlThis, true);
    ns->reply->line(kReplyOk, kReplyHeader, "MLSLIST executed.");
    return replyResult(ns);
}

}  // namespace ruva

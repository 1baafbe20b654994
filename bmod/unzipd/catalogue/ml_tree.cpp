#include "bmod/unzipd/catalogue/ml_tree.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

#include "bmod/unzipd/catalogue/filesys_scanner.h"
#include "bmod/unzipd/catalogue/zip_list.h"
#include "bmod/unzipd/log/log_call.h"
#include "bmod/unzipd/zip/zip_reader.h"
#include "common/text.h"
#include "common/tokens.h"

namespace ruva {
namespace {

// Longest structure-file line, its newline not counted.
constexpr size_t kMlLineMax = 1023;
// Characters of a folder that inOrder's check 1 compares.
constexpr size_t kInOrderPathMax = 1024;

const char* const kMlKeywords[] = {"Name:", "Label:", "Level:", "Path:", "IndexFile:"};
constexpr int kMlFields = 5;

// The level stored for the node added last, in this process: a node is
// stored at most one level below it. Never reset, not even between reads.
int g_lastStoredLevel = 0;

void copyCut(char* dst, const char* src, size_t max) {
    size_t len = src ? strnlen(src, max) : 0;
    std::memcpy(dst, src ? src : "", len);
    dst[len] = '\0';
}

// initDirPath's rule with room for 4096 characters: a "/" is added unless
// the path ends in one or begins with "-". False when the result is longer.
bool prepareFolder(char* out, const char* path) {
    size_t len = std::strlen(path);
    bool addSlash = len > 0 && path[len - 1] != '/' && path[0] != '-';
    if (len + (addSlash ? 1 : 0) > kMlPathMax) return false;
    std::memcpy(out, path, len);
    if (addSlash) out[len++] = '/';
    out[len] = '\0';
    return true;
}

bool readableOrDash(const char* path) {
    return path[0] == '-' || access(path, R_OK) == 0;
}

// atoi that saturates instead of overflowing: a hostile "Level:" is a level
// like any other.
int saturatingLevel(const char* text) {
    while (isAsciiSpace(static_cast<unsigned char>(*text))) ++text;
    bool negative = *text == '-';
    if (*text == '-' || *text == '+') ++text;
    long long value = 0;
    for (; isAsciiDigit(static_cast<unsigned char>(*text)); ++text)
        if (value <= INT_MAX) value = value * 10 + (*text - '0');
    if (negative) return value > INT_MAX ? INT_MIN : -static_cast<int>(value);
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

// Node, child subtree, siblings: the order of findMlNode, findMlNodeLabel
// and inOrder. An explicit stack: the tree's depth comes from the file.
template <class Match>
MlZipStruct* preOrderFind(MlZipStruct* node, Match match) {
    std::vector<MlZipStruct*> stack;
    if (node) stack.push_back(node);
    while (!stack.empty()) {
        MlZipStruct* n = stack.back();
        stack.pop_back();
        if (match(n)) return n;
        if (n->next) stack.push_back(n->next);
        if (n->child) stack.push_back(n->child);
    }
    return nullptr;
}

std::string withoutBlanks(const char* text, size_t max) {
    std::string out;
    for (size_t i = 0; i < max && text[i]; ++i)
        if (text[i] != ' ' && text[i] != '\t') out += text[i];
    return out;
}

bool nameMatches(const MlZipStruct* n, const char* token) {
    return strcasecmp(withoutBlanks(n->descr, sizeof n->descr).c_str(), token) == 0;
}

bool folderMatches(const MlZipStruct* n, const char* token) {
    std::string folder = withoutBlanks(n->libpath, kInOrderPathMax);
    if (!folder.empty() && folder.back() == '/') folder.pop_back();
    return strcasecmp(folder.c_str(), token) == 0;
}

MlZipStruct* findByNamePath(MlZipStruct* root, const char* token) {
    std::string path(token);
    bool slash = path.find('/') != std::string::npos;
    std::vector<std::string> names;
    size_t start = 0;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '\\' && !(slash && path[i] == '/')) continue;
        if (i > start) names.push_back(path.substr(start, i - start));
        start = i + 1;
    }
    if (names.empty() || !nameMatches(root, names[0].c_str())) return nullptr;
    MlZipStruct* found = root;
    for (size_t k = 1; k < names.size() && found; ++k) {
        MlZipStruct* n = found->child;
        while (n && !nameMatches(n, names[k].c_str())) n = n->next;
        found = n;
    }
    return found;
}

}  // namespace

int mlHashOf(const char* first, const char* second) {
    uint16_t sum = 0;
    for (const char* text : {first, second}) {
        if (!text) continue;
        uint16_t weight = 1;
        // From the 16th character on the weight is a multiple of 0x8000,
        // which the mask drops.
        for (size_t i = 0; i < 15 && text[i]; ++i) {
            sum = static_cast<uint16_t>(sum + static_cast<int8_t>(text[i]) * weight);
            weight = static_cast<uint16_t>(weight * 10);
        }
    }
    return sum & 0x7fff;
}

MlZipStruct* inOrderID(MlZipStruct* node, int ID) {
    std::vector<MlZipStruct*> stack;
    MlZipStruct* n = node;
    while (n || !stack.empty()) {
        for (; n; n = n->child) stack.push_back(n);
        n = stack.back();
        stack.pop_back();
        if (n->ID == ID) return n;
        n = n->next;
    }
    return nullptr;
}

MlZipStruct* inOrder(MlZipStruct* node, const char* token, int check) {
    if (!node || !token) return nullptr;
    if (check == 1) return preOrderFind(node, [&](MlZipStruct* n) { return folderMatches(n, token); });
    if (check != 2) return nullptr;
    if (node->ID == 0 && std::strpbrk(token, "/\\")) return findByNamePath(node, token);
    return preOrderFind(node, [&](MlZipStruct* n) { return nameMatches(n, token); });
}

int ZipList::createHashID(const char* first, const char* second) const {
    const MlHashTable* table = block()->MlZipHash;
    int h = mlHashOf(first, second);
    // One round of the table at most: a full table gives no id.
    for (int probes = 0; probes < kMlHashSize; ++probes, h = (h + 1) & (kMlHashSize - 1))
        if (h != 0 && !table[h].MlNode) return h;
    return -1;
}

int ZipList::setMlConfFile(const char* path) {
    if (!path || std::strlen(path) >= kMlConfFileSize || !mayChange()) return 0;
    std::strcpy(block()->MlConfFile, path);
    return 1;
}

MlZipStruct* ZipList::addMlNode(MlZipStruct* root, int level, const char* name, const char* path,
                                const char* indexFile, const char* label, int dummyNode) {
    bool added;
    return addNode(root, level, name, path, indexFile, label, dummyNode, block()->MlConfFile, &added);
}

MlZipStruct* ZipList::lastSibling(MlZipStruct* first) {
    auto it = lastSiblings_.find(first);
    MlZipStruct* last = it != lastSiblings_.end() ? it->second : first;
    while (last->next) last = last->next;
    lastSiblings_[first] = last;
    return last;
}

// From the root at depth 0: while above the level, go to the last sibling
// and down to its first child. At the level the node becomes the last
// sibling; where no child leads on, the first child of the last sibling.
void ZipList::placeNode(MlZipStruct* root, MlZipStruct* node, int level) {
    MlZipStruct* list = root;
    for (int depth = 0; depth < level; ++depth) {
        MlZipStruct* last = lastSibling(list);
        if (!last->child) {
            lastSiblings_[node] = node;
            publish(last->child, node);
            return;
        }
        list = last->child;
    }
    MlZipStruct* last = lastSibling(list);
    lastSiblings_[list] = node;
    publish(last->next, node);
}

MlZipStruct* ZipList::addNode(MlZipStruct* root, int level, const char* name, const char* path,
                              const char* indexFile, const char* label, int dummyNode, const char* confName,
                              bool* added) {
    *added = false;
    if (!mayChange()) return nullptr;
    if (!name) name = "";
    // A negative level would place like 0: a second root.
    if (level < 0 || (root && level == 0)) {
        logError(kLogErr, "Node '%s' wrongly defined as root", name);
        return nullptr;
    }
    // A bad root fails the read; a bad node is skipped and the read goes on.
    MlZipStruct* onSkip = root;
    if (!path || !*path) {
        logError(kLogErr, "Invalid library path");
        return onSkip;
    }
    if (!readableOrDash(path)) {
        logError(kLogErr, "Path '%s' specified in '%s' does not exist", path, confName);
        return onSkip;
    }
    char folder[kMlPathMax + 1];
    if (!prepareFolder(folder, path)) {
        logError(kLogErr, "Invalid path '%s' specified in system structure configuration file", path);
        return onSkip;
    }
    int id = 0;
    if (root) {
        id = createHashID(name, path);
        if (id < 0) {
            logError(kLogErr, "No free hash id for '%s'", name);
            return root;
        }
    }
    MlZipStruct* node = shared_->allocNode();
    if (!node) {
        logError(kLogCrit, "No memory");
        return nullptr;
    }
    copyCut(node->descr, name, kMlNameMax);
    copyCut(node->label, label, kMlLabelMax);
    std::strcpy(node->libpath, folder);
    if (!indexFile) indexFile = "-";
    if (std::strlen(indexFile) <= kMlPathMax && readableOrDash(indexFile)) {
        std::strcpy(node->ifile, indexFile);
    } else {
        logError(kLogErr,
                 root ? "Invalid IndexFile '%s' specified in '%s', using default "
                      : "Invalid IndexFile '%s' specified in '%s', using default",
                 indexFile, confName);
        std::strcpy(node->ifile, "-");
    }
    node->ID = id;
    node->mTime = time(nullptr);
    node->level = level;
    if (root) {
        node->level = std::min(level, g_lastStoredLevel + 1);
        g_lastStoredLevel = node->level;
        placeNode(root, node, level);
    }
    setHashSlot(block(), id, ML_NODE_TYPE_SUB, node);
    if (dummyNode != 1) filesysScanner->addNonRecursiveDir(folder);
    *added = true;
    return root ? root : node;
}

// The records of a structure file read so far.
struct ZipList::MlRead {
    const char* file;
    MlZipStruct* root = nullptr;
    int count = 0;
    int field = 0;  // the keyword the next line must carry
    std::string values[kMlFields];
};

bool ZipList::readMlLine(char* line, int lineNo, MlRead* r) {
    char* cursor = line;
    char* keyword = getNextToken(&cursor);
    // A blank or comment line also drops a record begun before it.
    if (!keyword || keyword[0] == '#') {
        r->field = 0;
        return true;
    }
    if (strcasecmp(keyword, kMlKeywords[r->field]) != 0) {
        logError(kLogErr, "Unexpected keyword \"%s\" on line %d in '%s', expected \"%s\"", keyword, lineNo,
                 r->file, kMlKeywords[r->field]);
        return false;
    }
    char* value = getNextToken(&cursor);
    if (!value) {
        logError(kLogErr, "Value for keyword \"%s\" missing in '%s'", keyword, r->file);
        return false;
    }
    r->values[r->field] = value;
    if (++r->field < kMlFields) return true;
    r->field = 0;
    std::string& path = r->values[3];
    if (size_t quote = path.rfind('"'); quote != std::string::npos) path.resize(quote);
    bool added;
    MlZipStruct* root = addNode(r->root, saturatingLevel(r->values[2].c_str()), r->values[0].c_str(), path.c_str(),
                                r->values[4].c_str(), r->values[1].c_str(), 0, r->file, &added);
    if (!root) return false;
    r->root = root;
    if (!added) return true;
    ++r->count;
    if (flags & kZipVerbose) logError(kLogDebug, "Node '%s' added to multilevel configuration", r->values[0].c_str());
    return true;
}

int ZipList::installMlTree(MlZipStruct* root, int count, const char* file) {
    CatalogueBlock* b = block();
    // A tree still in place (no backup was taken) goes with the new one.
    if (b->MlRoot && b->MlRoot != root) delMlStruct(b->MlRoot);
    publish(b->MlRoot, root);
    b->subCount = static_cast<unsigned long>(count);
    struct stat st;
    if (::stat(file, &st) == 0) b->m_ConfFileTime = st.st_mtime;
    return count;
}

int ZipList::readMlConfig(const char* file) {
    if (!mayChange()) return -1;
    if (!file) file = "";
    FILE* fp = std::fopen(file, "r");
    if (!fp) {
        logError(kLogErr, "Failed to open multilevel library config file '%s'", file);
        return -1;
    }
    MlRead r;
    r.file = file;
    int lineNo = 0;
    bool failed = false;
    char* line = nullptr;
    size_t capacity = 0;
    ssize_t got;
    while (!failed && (got = getline(&line, &capacity, fp)) >= 0) {
        ++lineNo;
        size_t len = static_cast<size_t>(got);
        if (len > 0 && line[len - 1] == '\n') line[--len] = '\0';
        if (len > kMlLineMax) {
            logError(kLogErr, "Line %d too long in '%s'", lineNo, file);
            failed = true;
        } else {
            failed = !readMlLine(line, lineNo, &r);
        }
    }
    if (!failed && std::ferror(fp))
        logError(kLogErr, "Failed to read from multilevel config file '%s' %s", file, std::strerror(errno));
    else if (!failed && r.field > 0)
        logError(kLogErr, "Failed to read from multilevel config file '%s'", file);
    std::free(line);
    std::fclose(fp);
    if (!failed) return installMlTree(r.root, r.count, file);
    delMlStruct(r.root);
    // The root read took slot 0 from a tree still in place.
    CatalogueBlock* b = block();
    if (b->MlRoot) setHashSlot(b, 0, ML_NODE_TYPE_SUB, b->MlRoot);
    return -1;
}

void ZipList::clearMlStruct(MlZipStruct* node) {
    if (!mayChange()) return;
    preOrderFind(node, [](MlZipStruct* n) {
        ZipStructure* zs = n->zs;
        publish(n->zs, static_cast<ZipStructure*>(nullptr));
        while (zs) {
            ZipStructure* following = zs->MlNext;
            zs->MlNext = nullptr;
            zs = following;
        }
        return false;
    });
}

void ZipList::delMlStruct(MlZipStruct* node) {
    if (!node || !mayChange()) return;
    // The node, then its next sibling's whole tree, then its child's.
    std::vector<MlZipStruct*> order;
    std::vector<MlZipStruct*> stack{node};
    while (!stack.empty()) {
        MlZipStruct* n = stack.back();
        stack.pop_back();
        order.push_back(n);
        if (n->child) stack.push_back(n->child);
        if (n->next) stack.push_back(n->next);
    }
    CatalogueBlock* b = block();
    std::unordered_set<const void*> going(order.begin(), order.end());
    if (going.count(b->MlRoot)) publish(b->MlRoot, static_cast<MlZipStruct*>(nullptr));
    for (ZipStructure* zs = b->firstZipStructure; zs; zs = zs->next) {
        if (!going.count(zs->MlSub)) continue;
        zs->MlSub = nullptr;
        zs->MlNext = nullptr;
    }
    lastSiblings_.clear();
    for (MlZipStruct* n : order) {
        if (flags & kZipVerbose) {
            if (std::strcmp(n->descr, kMlDefaultRootName) == 0)
                logError(kLogDebug, "Removed root node from MultiLevelLibrary structure");
            else
                logError(kLogDebug, "Removed `%s` node from MultiLevelLibrary structure", n->descr);
        }
        if (n->ID >= 0 && n->ID < kMlHashSize && b->MlZipHash[n->ID].MlNode == n)
            setHashSlot(b, n->ID, ML_NODE_TYPE_SUB, nullptr);
        shared_->freeNode(n);
    }
}

MlZipStruct* ZipList::findMlNode(MlZipStruct* node, const char* path) const {
    if (!path) return nullptr;
    const char* slash = std::strrchr(path, '/');
    const char* backslash = std::strrchr(path, '\\');
    if (!slash || (backslash && backslash > slash)) slash = backslash;
    if (!slash) return nullptr;
    size_t len = static_cast<size_t>(slash - path) + 1;
    if (len > kMlPathMax) return nullptr;
    std::string folder(path, len);
    return preOrderFind(node, [&](MlZipStruct* n) { return strcasecmp(n->libpath, folder.c_str()) == 0; });
}

MlZipStruct* ZipList::findMlNodeLabel(MlZipStruct* node, int ID) const {
    return preOrderFind(node, [&](MlZipStruct* n) { return n->ID == ID; });
}

void ZipList::unlinkFromNode(ZipStructure* zs) {
    auto* node = static_cast<MlZipStruct*>(zs->MlSub);
    if (node) {
        ZipStructure** link = &node->zs;
        while (*link && *link != zs) link = &(*link)->MlNext;
        if (*link) publish(*link, zs->MlNext);
    }
    zs->MlNext = nullptr;
    zs->MlSub = nullptr;
}

void ZipList::hangOnNode(ZipStructure* zs, MlZipStruct* node) {
    unlinkFromNode(zs);
    zs->MlSub = node;
    const char* comment = zs->centralDirEnd.comment;
    if (!comment) return;
    ZipStructure** link = &node->zs;
    while (*link && strcasecmp((*link)->centralDirEnd.comment, comment) < 0) link = &(*link)->MlNext;
    zs->MlNext = *link;
    publish(*link, zs);
}

int ZipList::addMlZipStructure(ZipStructure* zs, const char* path) {
    if (!zs || !mayChange()) return 0;
    MlZipStruct* node = findMlNode(block()->MlRoot, path);
    if (!node) return 0;
    unlinkFromNode(zs);
    zs->MlSub = node;
    ZipStructure** link = &node->zs;
    while (*link) link = &(*link)->MlNext;
    publish(*link, zs);
    return 1;
}

int ZipList::addZStoMl(ZipStructure* zs, const char* path, int hashID) {
    if (!zs || !mayChange()) return 0;
    const MlHashTable* slot = hashID >= 0 && hashID < kMlHashSize ? &block()->MlZipHash[hashID] : nullptr;
    if (!slot || !slot->MlNode || slot->type != ML_NODE_TYPE_SUB) {
        logError(kLogErr, "Failed to add '%s' to multilevel configuration", path ? path : zs->zipName);
        return 0;
    }
    hangOnNode(zs, static_cast<MlZipStruct*>(slot->MlNode));
    return 1;
}

void ZipList::buildMlStructure() {
    if (!mayChange()) return;
    MlZipStruct* root = block()->MlRoot;
    // Lists are rebuilt from empty: on a built tree a library would else be
    // linked after itself.
    clearMlStruct(root);
    for (ZipStructure* zs = block()->firstZipStructure; zs; zs = zs->next) {
        if (!isTreeLibrary(zs)) continue;
        MlZipStruct* node = findMlNode(root, zs->zipName);
        if (!node) {
            logError(kLogErr, "Failed to add '%s' to multilevel configuration", zs->zipName);
            continue;
        }
        hangOnNode(zs, node);
    }
}

int ZipList::checkRemovedMl() {
    if (!mayChange()) return 0;
    MlZipStruct* root = block()->MlRoot;
    for (ZipStructure *zs = block()->firstZipStructure, *following; zs; zs = following) {
        following = zs->next;
        if (!isTreeLibrary(zs) || findMlNode(root, zs->zipName)) continue;
        logError(kLogErr, "Removed '%s'", zs->zipName);
        unhookAndDelete(zs);
    }
    return 1;
}

int ZipList::bldMlSnChkRMl(MlZipStruct* oldRoot) {
    if (!mayChange()) return 0;
    MlZipStruct* root = block()->MlRoot;
    auto droppedFolder = [&](const char* path) {
        return !findMlNode(root, path) && (!oldRoot || findMlNode(oldRoot, path));
    };
    clearMlStruct(root);
    for (ZipStructure *zs = block()->firstZipStructure, *following; zs; zs = following) {
        following = zs->next;
        if (!isTreeLibrary(zs)) continue;
        MlZipStruct* node = findMlNode(root, zs->zipName);
        if (node) {
            hangOnNode(zs, node);
            continue;
        }
        if (!droppedFolder(zs->zipName)) continue;
        logError(kLogNotice, "Remove '%s' as MLnode removed", zs->zipName);
        unhookAndDelete(zs);
    }
    std::erase_if(corruptFiles, [&](const CorruptFile& entry) {
        struct stat st;
        return ::stat(entry.path.c_str(), &st) != 0 || droppedFolder(entry.path.c_str());
    });
    return 1;
}

bool ZipList::takeMlBackup(MlBackup* backup) {
    CatalogueBlock* b = block();
    if (!mayChange() || !b->MlRoot) return false;
    auto fresh = newStringList();
    if (!fresh) return false;
    backup->root = b->MlRoot;
    backup->subCount = b->subCount;
    backup->nodeSlots.clear();
    for (int id = 0; id < kMlHashSize; ++id) {
        MlHashTable& slot = b->MlZipHash[id];
        if (!slot.MlNode || slot.type != ML_NODE_TYPE_SUB) continue;
        backup->nodeSlots.emplace_back(id, static_cast<MlZipStruct*>(slot.MlNode));
        setHashSlot(b, id, ML_NODE_TYPE_SUB, nullptr);
    }
    backup->nonRecursiveDirs = std::move(filesysScanner->nonRecursiveDirs);
    filesysScanner->nonRecursiveDirs = std::move(fresh);
    publish(b->MlRoot, static_cast<MlZipStruct*>(nullptr));
    return true;
}

void ZipList::restoreMlBackup(MlBackup* backup) {
    if (!mayChange() || !backup->root) return;
    CatalogueBlock* b = block();
    delMlStruct(b->MlRoot);
    clearMlStruct(backup->root);
    for (const auto& [id, node] : backup->nodeSlots) setHashSlot(b, id, ML_NODE_TYPE_SUB, node);
    filesysScanner->nonRecursiveDirs = std::move(backup->nonRecursiveDirs);
    b->subCount = backup->subCount;
    publish(b->MlRoot, backup->root);
    backup->root = nullptr;
}

void ZipList::releaseMlBackup(MlBackup* backup) {
    if (!mayChange() || !backup->root) return;
    delMlStruct(backup->root);
    backup->root = nullptr;
    backup->nodeSlots.clear();
    backup->nonRecursiveDirs.reset();
}

int ZipList::readTreeKeepingOld() {
    CatalogueBlock* b = block();
    MlBackup backup;
    bool kept = takeMlBackup(&backup);
    int records = readMlConfig(b->MlConfFile);
    if (records < 1) {
        logError(kLogErr, "Error in system structure configuration");
        if (!kept) return -1;
        logError(kLogWarning, "Attempting to proceed with last known good configuration");
        restoreMlBackup(&backup);
        return 0;
    }
    if (kept) {
        logError(kLogDebug, "Releasing backup copies of multi-level structures");
        releaseMlBackup(&backup);
    }
    return records;
}

int ZipList::makeDefaultTree() {
    CatalogueBlock* b = block();
    delMlStruct(b->MlRoot);
    const StringList* dirs = filesysScanner->nonRecursiveDirs.get();
    const char* folder = dirs && dirs->first ? dirs->first->value.c_str() : nullptr;
    bool added;
    MlZipStruct* root = addNode(nullptr, 0, kMlDefaultRootName, folder, "-", "", 1, b->MlConfFile, &added);
    if (!root) return -1;
    publish(b->MlRoot, root);
    b->subCount = 1;
    if (flags & kZipVerbose) logError(kLogDebug, "Root node added to multilevel configuration");
    setMlConfFile("default");
    return 1;
}

int ZipList::scanFilesystem() {
    if (!mayChange()) return -1;
    const char* conf = block()->MlConfFile;
    if (conf[0] && std::strncmp(conf, "default", 7) != 0) {
        if (readTreeKeepingOld() < 0) return -1;
        if (!checkRemovedMl()) {
            logError(kLogErr, "Failed to check removed system structure");
            return -1;
        }
    } else if (makeDefaultTree() < 0) {
        return -1;
    }
    int taken = filesysScanner->scan(this);
    buildQuickAccessIndex();
    buildMlStructure();
    return taken;
}

}  // namespace ruva

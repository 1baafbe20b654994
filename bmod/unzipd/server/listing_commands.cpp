// LIST, CONT, CONTV, SLIST, LANGLIST and BLOBTYPES, the library check that
// every command runs before it reads a library, and library selection.
#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>

#include "bmod/unzipd/catalogue/zip_list.h"
#include "bmod/unzipd/daemon/known_server.h"
#include "bmod/unzipd/log/log_call.h"
#include "bmod/unzipd/server/command_handlers.h"
#include "bmod/unzipd/zip/zip_pool.h"
#include "bmod/unzipd/zip/zip_reader.h"
#include "common/docmodel/comment_tokens.h"
#include "common/tokens.h"

namespace ruva {
namespace {

constexpr size_t kCommentMax = 1024;      // characters of a free text kept before quoting
constexpr size_t kContCommentMax = 1022;  // the same in CONT
constexpr const char* kSubMainPage = "kvo_ml_sub_main_page";
constexpr unsigned long kSubMainPageSize = 4096;

// " " and the quoted text cut to max characters, or nothing when absent.
std::string commentField(const char* text, size_t max) {
    if (text == nullptr) return "";
    std::string_view v(text);
    return " " + ReplyWriter::quotedField(v.substr(0, max));
}

std::string cutQuoted(const char* text, size_t max) {
    if (text == nullptr) return "";
    return ReplyWriter::quotedField(std::string_view(text).substr(0, max));
}

// 100 minus the compressed share in integers; 0 for an empty side, so an
// empty deflated member does not divide by zero.
int compressionRatio(unsigned long cSize, unsigned long ucSize) {
    if (cSize == 0 || ucSize == 0) return 0;
    return static_cast<int>(100 - static_cast<long long>(cSize) * 100 / static_cast<long long>(ucSize));
}

int writeContLines(NetworkServer* ns, ZipStructure* zs, const char* filepat) {
    if (!ns->reply->line(kReplyData, kReplyHeader, "Contents of Database %s", zs->zipBasename)) return 0;
    for (CentralHeader* ch = zs->findCentralHeader(filepat, nullptr); ch; ch = zs->findCentralHeader(filepat, ch))
        if (!ns->reply->line(kReplyData, kReplyEntry, "%s%s", ReplyWriter::plainField(ch->fname).c_str(),
                             commentField(ch->comment, kContCommentMax).c_str()))
            return 0;
    return 1;
}

// CONTV of one library. Writes its member lines from the first member that
// matches; on a failed local header the library is refreshed once. 1 to go
// on with the next library, 0 when the reply has ended.
enum class ContvStep { kNext, kEnded, kRelist };
ContvStep writeContvMembers(NetworkServer* ns, ZipStructure* zs, const char* filepat, bool byNode, bool mayRetry) {
    int fd = -1;
    ContvStep step = ContvStep::kNext;
    for (CentralHeader* ch = zs->findCentralHeader(filepat, nullptr); ch; ch = zs->findCentralHeader(filepat, ch)) {
        if (fd < 0 && (fd = openCheckedLibrary(ns, zs)) < 0) return ContvStep::kEnded;
        LocalHeader* lh = zs->readLocalHeader(ch, fd);
        if (lh == nullptr) {
            zs->closeZipFile(fd);
            fd = -1;
            std::string path = zs->zipName, name = ch->fname;
            // One refresh per library: a second failure ends the reply.
            if (mayRetry && ns->orderParentUpdate(path.c_str())) {
                if (!byNode) return ContvStep::kRelist;
                mayRetry = false;
                continue;
            }
            logError(kLogErr, "CONTV, failed to read local header of %s in %s", name.c_str(), path.c_str());
            if (!isRmdUpdtFile(ns, zs))
                ns->reply->line(kReplyFailed, kReplyHeader, "CONTV, failed to read local header of %s in %s",
                                name.c_str(), path.c_str());
            return ContvStep::kEnded;
        }
        bool ok = ns->reply->line(kReplyData, kReplyEntry, "%8lu %12s %8lu %2d%% %08x %s%s",
                                  static_cast<unsigned long>(lh->ucSize), zipMethodName(lh->method).c_str(),
                                  lh->cSize, compressionRatio(lh->cSize, lh->ucSize),
                                  static_cast<unsigned>(lh->crc), ReplyWriter::plainField(ch->fname).c_str(),
                                  commentField(ch->comment, kCommentMax).c_str());
        zs->freeLocalHeader(lh);
        if (!ok) {
            step = ContvStep::kEnded;
            break;
        }
    }
    zs->closeZipFile(fd);
    return step;
}

bool contvHeader(NetworkServer* ns, ZipStructure* zs, bool byNode) {
    if (byNode) return ns->reply->line(kReplyData, kReplyHeader, "  Length       Method     Size Ratio CRC-32 %u",
                                       static_cast<unsigned>(zs->hashID));
    return ns->reply->line(kReplyData, kReplyHeader, "  Length       Method     Size Ratio CRC-32 %s",
                           zs->zipBasename);
}

}  // namespace

ZipList* sessionCatalogue(const NetworkServer* ns) {
    return ns->uzd != nullptr ? ns->uzd->zipList.get() : nullptr;
}

int replyResult(NetworkServer* ns) {
    if (!ns->reply->failed()) return 1;
    logError(kLogErr, "Write error on client socket %s", ns->cAddrStr);
    return 0;
}

int isRmdUpdtFile(NetworkServer* ns, const ZipStructure* zs) {
    struct stat st;
    if (::stat(zs->zipName, &st) != 0) {
        ns->reply->line(kReplyRemoved, kReplyEntry, "Library \"%s\" has been removed.", zs->zipBasename);
        return 1;
    }
    // Something else in the library's place (a folder, a FIFO) is a change,
    // whatever its size and time.
    if (S_ISREG(st.st_mode) && st.st_mtime == zs->mTime &&
        static_cast<unsigned long>(st.st_size) == zs->fileSize)
        return 0;
    ns->reply->line(kReplyBeingUpdated, kReplyEntry,
                    "Library \"%s\" is being updated. Please perform this operation after some time.",
                    zs->zipBasename);
    return 1;
}

int isChangedOpenFile(NetworkServer* ns, const ZipStructure* zs, int fd) {
    struct stat st;
    if (::fstat(fd, &st) == 0 && st.st_mtime == zs->mTime && static_cast<unsigned long>(st.st_size) == zs->fileSize)
        return 0;
    if (isRmdUpdtFile(ns, zs)) return 1;
    // The path holds the catalogued file again, but not the one opened.
    ns->reply->line(kReplyBeingUpdated, kReplyEntry,
                    "Library \"%s\" is being updated. Please perform this operation after some time.",
                    zs->zipBasename);
    return 1;
}

int openCheckedLibrary(NetworkServer* ns, ZipStructure* zs) {
    int fd = zs->openZipFile();
    if (fd < 0) {
        logError(kLogErr, "Could not open ZIP file %s", zs->zipName);
        if (!isRmdUpdtFile(ns, zs)) ns->reply->line(kReplyFailed, kReplyHeader, "Could not open \"%s\"", zs->zipBasename);
        return -1;
    }
    if (isChangedOpenFile(ns, zs, fd)) {
        zs->closeZipFile(fd);
        return -1;
    }
    return fd;
}

bool isNodeNumber(const char* arg) {
    if (arg == nullptr || *arg == '\0') return false;
    for (const char* p = arg; *p; ++p)
        if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
    return true;
}

int selectLibraries(NetworkServer* ns, const char* arg, LibrarySelection* sel) {
    if (!isNodeNumber(arg)) return 1;
    sel->byNode = true;
    errno = 0;
    unsigned long id = std::strtoul(arg, nullptr, 10);
    sel->nodeId = id > UINT_MAX ? UINT_MAX : static_cast<unsigned>(id);
    ZipList* zl = sessionCatalogue(ns);
    const MlHashTable* slot = zl != nullptr && id < static_cast<unsigned long>(kMlHashSize)
                                  ? &zl->block()->MlZipHash[id]
                                  : nullptr;
    if (slot == nullptr || slot->MlNode == nullptr) {
        ns->reply->line(kReplyInvalid, kReplyEntry, "Invalid ID %u", sel->nodeId);
        return 0;
    }
    if (slot->type == ML_NODE_TYPE_SUB) {
        sel->folder = static_cast<MlZipStruct*>(slot->MlNode);
        for (ZipStructure* zs = sel->folder->zs; zs; zs = zs->MlNext) sel->libraries.push_back(zs);
        return 1;
    }
    if (slot->type == ML_NODE_TYPE_ZS) {
        sel->libraries.push_back(static_cast<ZipStructure*>(slot->MlNode));
        return 1;
    }
    ns->reply->line(kReplyUnknownNode, kReplyEntry, "Unknown node type");
    return 0;
}

int folderWithoutLibraries(NetworkServer* ns, const LibrarySelection& sel, char quote) {
    if (!sel.libraries.empty()) return 0;
    ns->reply->line(kReplyNoDatabases, kReplyEntry, "Node contains no databases %c%s%c", quote,
                    ReplyWriter::plainField(sel.folder->descr).c_str(), quote);
    return 1;
}

int handleListCommand(NetworkServer* ns, char* args) {
    const char* pattern = getNextToken(&args);
    if (pattern == nullptr) pattern = "*";
    ns->reply->line(kReplyData, kReplyHeader, "Database     Size    Entries CTime \"Comment\"");
    ZipList* zl = sessionCatalogue(ns);
    for (ZipStructure* zs = zl ? zl->findZipStructure(pattern, nullptr) : nullptr; zs && !ns->reply->failed();
         zs = zl->findZipStructure(pattern, zs))
        ns->reply->line(kReplyData, kReplyEntry, "\"%13s\" %8lu %5u %10lu %s", zs->zipBasename, zs->fileSize,
                        static_cast<unsigned>(zs->centralDirEnd.totalCentralEntries),
                        static_cast<unsigned long>(zs->mTime), cutQuoted(zs->centralDirEnd.comment, kCommentMax).c_str());
    ns->reply->line(kReplyOk, kReplyHeader, "LIST executed.");
    return replyResult(ns);
}

int handleContCommand(NetworkServer* ns, char* args) {
    const char* dbpat = getNextToken(&args);
    const char* filepat = getNextToken(&args);
    if (dbpat == nullptr) {
        ns->reply->line(kReplySyntax, kReplyEntry, "Syntax error in CONT command. Try HELP CONT");
        return replyResult(ns);
    }
    if (filepat == nullptr) filepat = "*";
    LibrarySelection sel;
    if (!selectLibraries(ns, dbpat, &sel)) return replyResult(ns);
    if (sel.byNode) {
        if (folderWithoutLibraries(ns, sel, '"')) return replyResult(ns);
        // Only the first library of a folder is checked.
        if (isRmdUpdtFile(ns, sel.libraries.front())) return replyResult(ns);
        for (ZipStructure* zs : sel.libraries)
            if (!writeContLines(ns, zs, filepat)) return replyResult(ns);
    } else {
        ZipList* zl = sessionCatalogue(ns);
        for (ZipStructure* zs = zl ? zl->findZipStructure(dbpat, nullptr) : nullptr; zs;
             zs = zl->findZipStructure(dbpat, zs)) {
            if (isRmdUpdtFile(ns, zs)) return replyResult(ns);
            if (!writeContLines(ns, zs, filepat)) return replyResult(ns);
        }
    }
    ns->reply->line(kReplyOk, kReplyHeader, "CONT executed.");
    return replyResult(ns);
}

int handleContvCommand(NetworkServer* ns, char* args) {
    char* dbpat = getNextToken(&args);
    const char* filepat = getNextToken(&args);
    if (dbpat == nullptr) {
        ns->reply->line(kReplySyntax, kReplyEntry, "Syntax error in CONTV command. Try HELP CONTV");
        return replyResult(ns);
    }
    if (filepat == nullptr) filepat = "*";
    ZipList* zl = sessionCatalogue(ns);
    std::string byId;
    if (std::strchr(dbpat, '[') != nullptr && std::strchr(dbpat, ']') != nullptr) {
        ZipStructure* zs = zl ? zl->findZipStructureByLibID(dbpat, nullptr) : nullptr;
        if (zs == nullptr) {
            ns->reply->line(kReplyFailed, kReplyHeader, "Invalid library identifier.");
            return replyResult(ns);
        }
        byId = std::to_string(zs->hashID);
        dbpat = byId.data();
    }
    LibrarySelection sel;
    if (!selectLibraries(ns, dbpat, &sel)) return replyResult(ns);
    if (sel.byNode) {
        if (std::strcmp(filepat, kSubMainPage) == 0) {
            ns->reply->line(kReplyData, kReplyHeader, "Length   Method  Size  Ratio   CRC-32  %u", sel.nodeId);
            ns->reply->line(kReplyData, kReplyEntry, "   %lu   Stored   %lu    0        -   %s", kSubMainPageSize,
                            kSubMainPageSize, kSubMainPage);
            ns->reply->line(kReplyOk, kReplyHeader, "CONTV executed.");
            return replyResult(ns);
        }
        if (folderWithoutLibraries(ns, sel, '"')) return replyResult(ns);
        if (isRmdUpdtFile(ns, sel.libraries.front())) return replyResult(ns);
        for (ZipStructure* zs : sel.libraries) {
            if (!contvHeader(ns, zs, true)) return replyResult(ns);
            if (writeContvMembers(ns, zs, filepat, true, true) == ContvStep::kEnded) return replyResult(ns);
        }
    } else {
        bool retried = false;
        for (ZipStructure* zs = zl ? zl->findZipStructure(dbpat, nullptr) : nullptr; zs;
             zs = zl->findZipStructure(dbpat, zs)) {
            if (isRmdUpdtFile(ns, zs)) return replyResult(ns);
            if (!contvHeader(ns, zs, false)) return replyResult(ns);
            ContvStep step = writeContvMembers(ns, zs, filepat, false, !retried);
            if (step == ContvStep::kRelist) {
                // The refreshed catalogue holds a new record for the path.
                retried = true;
                std::string path = zs->zipName;
                zs = zl->findZipStructureByPath(path.c_str());
                if (zs == nullptr) {
                    ns->reply->line(kReplyRemoved, kReplyEntry, "Library \"%s\" has been removed.",
                                    path.substr(path.rfind('/') + 1).c_str());
                    return replyResult(ns);
                }
                step = writeContvMembers(ns, zs, filepat, false, false);
            }
            if (step == ContvStep::kEnded) return replyResult(ns);
        }
    }
    ns->reply->line(kReplyOk, kReplyHeader, "CONTV executed.");
    return replyResult(ns);
}

int handleInfoCommand(NetworkServer* ns, char*) {
    ZipList* zl = sessionCatalogue(ns);
    unsigned long libraries = 0, files = 0;
    for (const ZipStructure* zs = zl ? zl->getFirstZipStructure() : nullptr; zs; zs = zs->getNext()) {
        ++libraries;
        files += zs->centralDirEnd.totalCentralEntries;
    }
    struct tm local = {};
    ::localtime_r(&ns->startTime, &local);
    const char* tz = std::getenv("TZ");
    const ZipPool* pool = zl ? zl->zipPool.get() : nullptr;
    const Pool* zsPool = pool ? pool->zipStructurePool.get() : nullptr;
    const Pool* chPool = pool ? pool->centralHeaderPool.get() : nullptr;
    const VPool* names = pool ? pool->namePool.get() : nullptr;
    unsigned long nameBytes = names ? names->allocSize : 0;
    ReplyWriter& r = *ns->reply;
    r.line(kReplyData, kReplyHeader, "Server Information:");
    r.line(kReplyData, kReplyEntry, "Server start/reconfiguration time: [%04d-%02d-%02d %02d:%02d %s] %lu",
           local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, tz ? tz : "",
           static_cast<unsigned long>(ns->startTime));
    r.line(kReplyData, kReplyEntry, "Number of client sessions: %lu", ns->sessionCount);
    r.line(kReplyData, kReplyEntry, "Number of active sessions: %lu",
           static_cast<unsigned long>(ns->childCountP ? *ns->childCountP : 0));
    r.line(kReplyData, kReplyEntry, "Number of databases: %lu", zl ? zl->structureCount() : 0UL);
    r.line(kReplyData, kReplyEntry, "Number of Sub-systems: %lu", zl ? zl->subCount() : 0UL);
    r.line(kReplyData, kReplyEntry, "Total number of files: %lu", files);
    r.line(kReplyData, kReplyEntry, "Estimated cache memory requirement (in bytes): %lu",
           libraries * 376 + files * 72 + nameBytes);
    r.line(kReplyData, kReplyEntry, "ZipStructure Pool: Heaps %d, usedItems %lu, itemSize %lu",
           zsPool ? zsPool->numHeaps : 0, static_cast<unsigned long>(zsPool ? zsPool->usedItems : 0),
           static_cast<unsigned long>(zsPool ? zsPool->itemSize : 0));
    r.line(kReplyData, kReplyEntry, "CentralHeader Pool: Heaps %d, usedItems %lu, itemSize %lu",
           chPool ? chPool->numHeaps : 0, static_cast<unsigned long>(chPool ? chPool->usedItems : 0),
           static_cast<unsigned long>(chPool ? chPool->itemSize : 0));
    r.line(kReplyData, kReplyEntry, "Name Pool: Heaps %d, allocSize %lu", names ? names->numHeaps : 0, nameBytes);
    r.line(kReplyOk, kReplyHeader, "INFO executed.");
    return replyResult(ns);
}

int handleSListCommand(NetworkServer* ns, char*) {
    ns->reply->line(kReplyData, kReplyHeader, "Address \"Comment\"");
    if (ns->ks) {
        for (const KnownServEntry& e : ns->ks->entries) {
            struct in_addr a;
            a.s_addr = e.iaddr;
            char dotted[INET_ADDRSTRLEN] = "";
            ::inet_ntop(AF_INET, &a, dotted, sizeof dotted);
            std::string comment = e.comment ? ReplyWriter::quotedField(std::string_view(*e.comment)) : "";
            if (!ns->reply->line(kReplyData, kReplyEntry, "%s:%u %s", dotted, static_cast<unsigned>(e.port),
                                 comment.c_str()))
                break;
        }
    }
    ns->reply->line(kReplyOk, kReplyHeader, "SLIST executed.");
    return replyResult(ns);
}

int handleLangListCommand(NetworkServer* ns, char*) {
    ZipList* zl = sessionCatalogue(ns);
    LanguageList* list = zl ? zl->getLanguageList() : nullptr;
    std::string codes;
    if (list != nullptr) {
        if (list->lock(15) != 1) {
            logError(kLogWarning, "LANGLIST: could not lock the language list");
        } else {
            for (const LanguageCode* c = list->getLanguageCodes(); c; c = c->next) codes += std::string(c->code) + " ";
            list->unlock();
        }
    }
    if (codes.empty())
        ns->reply->line(kReplyOk, kReplyEntry, "%s", "EN");
    else
        ns->reply->line(kReplyOk, kReplyEntry, "%s ", codes.c_str());
    return replyResult(ns);
}

int handleBlobTypesCommand(NetworkServer* ns, char*) {
    static const char* const kTypes[] = {".kvo", ".z", ".zip", ".zdf", ".zsw", ".zgp"};
    ZipList* zl = sessionCatalogue(ns);
    std::string text;
    for (int i = 0; i < 6; ++i) {
        std::string name = std::string("/blobtype") + kTypes[i];
        const FilesysScanner* fs = zl ? zl->filesysScanner.get() : nullptr;
        if (fs && fs->includeFile(name.c_str(), fs->includePatterns.get(), fs->excludePatterns.get()))
            text += std::to_string(i + 1) + " ";
    }
    ns->reply->line(kReplyOk, kReplyEntry, "%s ", text.c_str());
    return replyResult(ns);
}

}  // namespace ruva

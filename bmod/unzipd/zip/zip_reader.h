// One library archive: its end record, its central directory and the local
// headers of its members. Records live in the catalogue's shared pools (or
// malloc memory without a ZipPool) and are read by every session process:
// plain standard-layout types with raw pointers into pool memory only.
//
// Every text a record points to (names, comments, bitmaps, path, library id,
// language code) comes from the ZipPool's name pool, so with a pool each is
// at most 383 characters; a longer one refuses the library with an "out of
// memory" message. Without a pool they are malloc'd; the archive comment is
// still read with one 1023-byte read, so a longer one refuses the library.
//
// Sizes and offsets are 32-bit: ZIP64 archives are refused, never read with
// members lost.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <type_traits>

namespace ruva {

class ZipPool;
class StringList;

// Message sink of the ZIP layer: client data, log level (2 critical,
// 3 error, 4 warning, 5 notice, 6 information, 7 debug), printf format.
using ZipWarnFn = void (*)(void* clientData, int level, const char* format, ...);

// ZipStructure::flags bits, the catalogue's own flags.
constexpr uint16_t kZipFoldNames = 0x01;
constexpr uint16_t kZipVerbose = 0x04;
constexpr uint16_t kZipWritableDir = 0x10;
constexpr uint16_t kZipIndexBuilder = 0x20;

struct CentralDirEnd {
    char* comment;  // leading blanks removed; null when the stored length is 0
    uint16_t diskNumber;
    uint16_t diskCentralStart;
    uint16_t centralEntryCountThisDisk;
    uint16_t totalCentralEntries;
    size_t centralDirSize;
    unsigned long centralStartOffset;
    uint16_t commentLen;  // after the blanks; the comment's allocation is commentLen + 1
};

struct CentralHeader {
    CentralHeader* next;  // central-directory order
    char* fname;          // lower-cased when names are folded
    char* comment;        // null when empty
    int folder;           // 0 = none
    char* bitmap;         // category bitmap of a "CAT:" comment, else null
    unsigned long localHeaderOffset;
    uint32_t trailerLen;  // name + extra + comment; wider than 16 bits on purpose
    // The central CRC and sizes: the local ones are 0 when a data descriptor
    // follows the member (general flag bit 3).
    uint32_t crc;
    uint32_t cSize;
    uint32_t ucSize;
    // Allocated sizes of fname and comment (stored length + 1). The
    // "kvoversion.txt" comment is cut in place to "INFO:", so its strlen no
    // longer tells what to give back.
    uint32_t fnameSize;
    uint32_t commentSize;
};

struct LocalHeader {
    unsigned char versionNeeded[2];  // version (10 x major + minor), host
    uint16_t generalFlags;
    uint16_t method;
    uint16_t modTime;
    uint16_t modDate;
    // With general flag bit 3 these three are the central directory's;
    // otherwise the local header's own.
    unsigned long crc;
    unsigned long cSize;
    size_t ucSize;
    // The local lengths: the member's data starts at localHeaderOffset + 30 +
    // fnameLen + extraLen (the central extra field may differ in length).
    uint16_t fnameLen;
    uint16_t extraLen;
};

class ZipStructure {
public:
    // Returns names, comments, bitmaps, headers, path, base name, archive
    // comment, library id and language code to the pools (or malloc), then
    // the structure itself.
    void del();

    // Next member matching name after `after` (from the first when null), or
    // null. A name with '*', '?' or '[' is a pattern (matchPattern, case-blind
    // when names are folded); otherwise strcasecmp when folded, else exact.
    CentralHeader* findCentralHeader(const char* name, CentralHeader* after);
    CentralHeader* getFirstCentralHeader() const { return firstCentralHeader; }
    static CentralHeader* getNextCentralHeader(const CentralHeader* ch) { return ch ? ch->next : nullptr; }
    // Reads up to 1023 bytes at fd's position and parses them as one header.
    CentralHeader* readCentralHeader(int fd);
    // Parses one header of at most count bytes (never reading past them),
    // appends it to the member list and returns it; null with a message.
    CentralHeader* parseCentralHeader(const unsigned char* bytes, size_t count);
    // Read-only descriptor of zipName, or -1 with a message; anything but a
    // regular file is refused without waiting (a FIFO would block open).
    int openZipFile();
    void closeZipFile(int fd);  // -1 is ignored
    ZipStructure* getNext() const { return next; }
    ZipStructure* getNextLZN() const { return nextLZN; }
    // A new LocalHeader (free with freeLocalHeader) or null with a message;
    // fd -1 opens the archive for the call. Moves fd's position.
    LocalHeader* readLocalHeader(const CentralHeader* ch, int fd);
    void freeLocalHeader(LocalHeader* lh);
    // Folder index of kvo libraries: calls through the hooks below; without
    // them every folder stays 0 and each returns 0.
    int createIndexfile(StringList* pageNames);
    int addIndexfile(const char* path);
    int parseIndexfile(CentralHeader* indexMember);

    ZipStructure* next;
    ZipStructure* MlNext;
    uint16_t flags;
    unsigned long fileSize;
    time_t mTime;
    ZipPool* zipPool;
    ZipWarnFn warn;
    void* clientData;
    CentralHeader* firstCentralHeader;
    CentralHeader* lastCentralHeader;
    void* MlSub;
    char* zipName;
    char* zipBasename;
    int hashID;
    char** ldapattributes;
    int pubInExtranet;
    char version[4];  // two digits from "kvoversion.txt", else ""
    CentralDirEnd centralDirEnd;
    char* libID;         // "" when the archive comment has none
    char* languageCode;  // "EN" when the id has no language code
    ZipStructure* nextLZN;
};

// Pool items shared by every daemon process.
static_assert(std::is_standard_layout_v<ZipStructure> && std::is_trivially_destructible_v<ZipStructure>);
static_assert(std::is_standard_layout_v<CentralHeader> && std::is_trivially_destructible_v<CentralHeader>);

// Opens and indexes one library; null (with a level-3 warn message) when
// refused. A null zipPool takes malloc memory instead of the pools. Release
// with del(). flags are kZipFoldNames and the others above.
ZipStructure* newZipStructure(ZipPool* zipPool, const char* path, uint16_t flags, void* clientData,
                              ZipWarnFn warn);

// The folder index operations. They live in the writer library, which the
// reader never links: the writer registers them (installFolderIndex in
// folder_index.h), the daemon at start-up. 1 done, 0 failed.
struct FolderIndexHooks {
    int (*createIndexfile)(ZipStructure* zs, StringList* pageNames);
    int (*addIndexfile)(ZipStructure* zs, const char* path);
    int (*parseIndexfile)(ZipStructure* zs, CentralHeader* indexMember);
};
// Copies the table; null, or a null entry, restores the default that does
// nothing and returns 0.
void setFolderIndexHooks(const FolderIndexHooks* hooks);

// Test seam: when set, newZipStructure shows each kvo library (path holding
// ".kvo") to the observer just before the folder index runs: the collected
// folder pages (names beginning with 'h' and holding ".html", in directory
// order, up to the first "folderindex.txt") and that member, or null.
using FolderIndexObserver = void (*)(const ZipStructure* zs, const StringList* pageNames,
                                     const CentralHeader* indexMember);
void setFolderIndexObserver(FolderIndexObserver observer);

}  // namespace ruva

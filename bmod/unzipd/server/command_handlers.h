// The command handlers of a session and what they share: library selection
// by node number or pattern, and the check that a library on disk is still
// the one the catalogue holds.
//
// Every handler gets the server and the rest of the command line (its
// private copy, cut in place by the tokenizer), writes its whole reply
// through ns->reply and returns 1 to go on, 0 to end the session (a reply
// line could not be written, or the command ends the session).
#pragma once

#include <cstdint>
#include <vector>

#include "bmod/unzipd/server/network_server.h"

namespace ruva {

class ZipList;
class ZipStructure;
struct MlZipStruct;

int handleListCommand(NetworkServer* ns, char* args);
int handleContCommand(NetworkServer* ns, char* args);
int handleContvCommand(NetworkServer* ns, char* args);
int handleLangListCommand(NetworkServer* ns, char* args);
int handleBlobTypesCommand(NetworkServer* ns, char* args);
int handleSListCommand(NetworkServer* ns, char* args);
int handleInfoCommand(NetworkServer* ns, char* args);
int handleGetCommand(NetworkServer* ns, char* args);
int handleRetrCommand(NetworkServer* ns, char* args);
int handleMlListCommand(NetworkServer* ns, char* args);
int handleMlNListCommand(NetworkServer* ns, char* args);
int handleMlsListCommand(NetworkServer* ns, char* args);
int handleUpdFileCommand(NetworkServer* ns, char* args);
int handleRmFileCommand(NetworkServer* ns, char* args);
int handleUserCommand(NetworkServer* ns, char* args);

// The session's catalogue; null when the daemon has none.
ZipList* sessionCatalogue(const NetworkServer* ns);

// 1 after the end of a reply, 0 (logged) when a line could not be written.
int replyResult(NetworkServer* ns);

// Compares the library file with the catalogue entry. Gone: "578 Library
// \"%s\" has been removed."; size or modification time differ, or the path
// holds no regular file: "577 Library \"%s\" is being updated. Please
// perform this operation after some time.".
// 1 when it wrote such a line (the reply has ended), 0 when they agree.
int isRmdUpdtFile(NetworkServer* ns, const ZipStructure* zs);
// The same check on a descriptor opened on the library, so that catalogue
// offsets are never used on another file: 577 or 578 (when the path is
// gone) when the open file differs from the catalogue entry. 1 when it
// wrote a line.
int isChangedOpenFile(NetworkServer* ns, const ZipStructure* zs, int fd);

// Opens the library for reading and checks the open file. -1 when it
// cannot be opened ("Could not open ZIP file %s" logged; the library check,
// else "500-Could not open \"%s\"") or differs from the catalogue; the
// reply has then ended.
int openCheckedLibrary(NetworkServer* ns, ZipStructure* zs);

// The library for the library id in text (between its last square
// brackets), walking the catalogue in library-id order after previous (from
// the start when null): without '*' the first equal id; with '*' the latest
// revision among the ids holding the part before the '*' whose base (up to
// the first P or R) is the prefix's, else the last id holding that part.
// Null when none.
ZipStructure* findZipStructureByLi(const ZipList* zl, const char* text, ZipStructure* previous);

// A dbpat/ID argument: node number or library-name pattern.
struct LibrarySelection {
    bool byNode = false;
    unsigned nodeId = 0;
    MlZipStruct* folder = nullptr;        // a folder node
    std::vector<ZipStructure*> libraries;  // by node: the folder's libraries or the one library
};
// For an argument of digits only: the node's libraries, or 511/519 written
// (returns 0). Otherwise byNode is false and nothing is selected: the
// caller walks the pattern. 1 when the caller goes on.
int selectLibraries(NetworkServer* ns, const char* arg, LibrarySelection* sel);
// A selection by node that holds no library: writes "Node contains no
// databases" with the folder's description between two quote characters
// and returns 1 (the reply has ended); else 0.
int folderWithoutLibraries(NetworkServer* ns, const LibrarySelection& sel, char quote);
// True for a non-empty text of decimal digits only.
bool isNodeNumber(const char* arg);

}  // namespace ruva

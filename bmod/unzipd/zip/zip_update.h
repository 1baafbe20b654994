// The update object: the only way the daemon changes a library archive. It
// hands the rewrite engine (zip_rewrite.h) an action and a command line,
// collects the engine's warnings and progress lines, keeps its last error
// text and offers two callbacks. It can also hold pending entries from which
// it builds the engine's command lines itself.
//
// One object serves one update. Runs are not re-entrant: a callback that
// starts another run (on any Zip) gets 0 with "Internal logic error".
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "common/string_list.h"

namespace ruva {

enum ZipAction {
    ZIP_ACTION_DELETE = 0,   // remove the entries the names or patterns select
    ZIP_ACTION_ADD = 1,      // add every file, replacing entries of the same name
    ZIP_ACTION_UPDATE = 2,   // add new files; replace an entry only when its file is newer
    ZIP_ACTION_FRESHEN = 3,  // only replace entries whose file is newer
};

// Zip::flags bits.
constexpr uint16_t kZipJunkPaths = 0x01;    // entry names keep only the last path component
constexpr uint16_t kZipLogCommands = 0x02;  // zip() records each command line in the messages

// ZipEntry::flags bits.
constexpr uint16_t kZipEntryStore = 0x01;           // goes into the archive uncompressed
constexpr uint16_t kZipEntryArchiveComment = 0x02;  // comment is the archive's, not the entry's

// One pending entry of an entry list.
struct ZipEntry {
    ZipEntry* next = nullptr;
    uint16_t flags = 0;
    std::optional<std::string> name;  // file path, or a name pattern for deletion
    std::optional<std::string> comment;
};

// Called just before the engine deletes, replaces or adds an entry; ordinal
// counts the entries so treated in one run, from 1.
using ZipStatusCallback = void (*)(void* clientData, const char* entryName, unsigned long ordinal);
// Called after a new entry was added (not for replaced entries).
using ZipOkCallback = void (*)(void* clientData, const char* entryName, const char* filePath);

struct ArchiveEntry;
struct PendingFile;

class Zip {
public:
    ~Zip();  // also frees a remaining own entry list
    Zip(const Zip&) = delete;
    Zip& operator=(const Zip&) = delete;

    // Empties the message list and drops the error text.
    void clear();
    // The last error text, "" when there is none; owned by the object.
    const char* getError() const;

    // One engine run on argc arguments: argv[0] is the archive path, the rest
    // names and options (the full command-line grammar). 1 on success, 0 on
    // failure with getError telling why. A run that could not read one of its
    // files also gives 0 ("warn: Could not open ..."), the archive rewritten
    // without that file. With kZipLogCommands the line "zip <opt> <archive>"
    // and one "<arg> " per further argument are appended first.
    int zip(ZipAction action, int argc, const char* const* argv);

    // Typed calls: no options parsed, no ".zip" appended, names taken
    // literally. Results, error texts, messages, callbacks and the
    // kZipLogCommands lines as zip() gives them.
    //
    // Adds filePath as memberName (ADD, UPDATE or FRESHEN). ADD always
    // replaces; UPDATE and FRESHEN replace only a newer file (2-second DOS
    // time). With foldNames the first entry equal case-blind is replaced and
    // keeps its stored spelling. The stored mode comes from the file's status.
    int putFile(ZipAction action, const char* archive, const char* filePath, const char* memberName,
                bool foldNames);
    // Deletes the entries whose internal names match pattern (the engine's
    // matcher, case-blind with foldNames); never looks at the file system.
    int deleteMembers(const char* archive, const char* pattern, bool foldNames);

    // Runs the engine on an entry list (the object's own when list is null)
    // for the archive database: first the entries without kZipEntryStore,
    // then those with it after "-0". 1 when no line was run.
    int zipEntries(ZipAction action, const char* database, ZipEntry* list);
    // Rewrites database with comment as its archive comment, adding nothing.
    int setZipComment(const char* database, const char* comment);

    // Appends an entry with copies of name and comment (either may be null).
    // A null list or the object's own first entry appends to the own list;
    // otherwise to the end of the caller's chain beginning at list. Null with
    // "No memory" when memory runs out.
    ZipEntry* addZipEntry(ZipEntry* list, const char* name, const char* comment, uint16_t flags);
    // Frees list to the end of its chain; null or the own first entry frees
    // and empties the own list. numZipEntries becomes 0 either way.
    void deleteZipEntries(ZipEntry* list);

    // The message list in order of arrival.
    String* getFirstMessage() const { return zipMsg->first; }
    static String* getNextMessage(const String* message) { return message ? message->next : nullptr; }
    static const char* getValue(const String* message) { return StringList::getValue(message); }

    // A null callback switches it off.
    void setStatusCallback(ZipStatusCallback callback, void* clientData);
    void setOkCallback(ZipOkCallback callback, void* clientData);

    // Null format: no error text. Otherwise the text, cut at 511 characters.
    void setError(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Appends one message cut at 2047 characters; 1 when appended, else 0.
    int printf(const char* format, ...) __attribute__((format(printf, 2, 3)));

    uint16_t flags = 0;
    std::unique_ptr<char[]> errmsg;  // null when there is no error text
    ZipEntry* fze = nullptr;         // own entry list, first and last
    ZipEntry* lze = nullptr;
    std::unique_ptr<StringList> zipMsg;
    // Set by the engine while it reads a command line: what the last name
    // denoted, for a following "-c". Not owned; only valid during a run.
    ArchiveEntry* curZList = nullptr;
    PendingFile* curFList = nullptr;
    size_t numZipEntries = 0;
    ZipStatusCallback statusCallback = nullptr;
    void* clientData = nullptr;
    ZipOkCallback okCallback = nullptr;
    void* okClientData = nullptr;

private:
    friend std::unique_ptr<Zip> newZip(uint16_t flags);
    Zip() = default;
    void logCommand(ZipAction action, const char* archive, int argc, const char* const* args);
};

// Empty object with an empty message list; null when memory runs out.
std::unique_ptr<Zip> newZip(uint16_t flags);

}  // namespace ruva

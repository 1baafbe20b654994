// Child processes that each run a handler function, and the text lines
// carried between the parent and every child over a pair of pipes.
//
// Wire: lines ending in "\n", nothing else. The parent ends a child's input
// with "VKCL\nVKCL\n" and closing its pipe; a child takes a line beginning
// "VKCL" as the end of its input and never hands it to its handler.
#pragma once

#include <sys/time.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

#include "common/string_list.h"

namespace ruva {

// PipeHandler::flags.
inline constexpr unsigned kPipeInline = 0x02;         // run the handler in this process
inline constexpr unsigned kPipeIsChild = 0x04;        // set in a child
inline constexpr unsigned kPipeTrace = 0x08;          // trace lines to the log file
inline constexpr unsigned kPipeEntryRemoved = 0x10;   // a dead child's entry was removed
inline constexpr unsigned kPipeBlockingInput = 0x20;  // the child's input stays blocking

// Longest partial line kept between reads, and the read buffer around it.
inline constexpr size_t kPipeLineMax = 511;
inline constexpr size_t kPipeReadBuffer = 2048;

class PipeHandler;
struct PipeHandlerEntry;

// Runs in the child; its result is the child's exit status.
using PipeChildHandler = int (*)(PipeHandler* ph, PipeHandlerEntry* entry);

// One child. In the parent parentwfds[1] and parentrfds[0] are the open ends
// (the others -1); in the child its input and output are descriptors 0 and 1.
struct PipeHandlerEntry {
    PipeHandlerEntry() = default;
    // Closes the ends this process owns; never descriptor 0 it borrowed.
    ~PipeHandlerEntry();
    PipeHandlerEntry(const PipeHandlerEntry&) = delete;
    PipeHandlerEntry& operator=(const PipeHandlerEntry&) = delete;

    PipeHandlerEntry* next = nullptr;
    pid_t cpid = 0;                  // child's pid; 0 once known dead, -1 inside the child
    int parentwfds[2] = {-1, -1};    // parent to child: read end, write end
    int parentrfds[2] = {-1, -1};    // child to parent: read end, write end
    std::unique_ptr<StringList> sl;  // lines received, oldest first
    int privCounter = 0;
    PipeChildHandler handler = nullptr;
    void* cdata1 = nullptr;
    size_t cdata2 = 0;
    size_t entryBufLen = 0;
    char entryBuf[kPipeLineMax + 1] = {};  // the unfinished line
};

// Replaceable waits and signals, so that tests can follow the escalation of
// freeEntryList without waiting for it. Null members use the system's.
struct PipeHooks {
    void (*sleep)(void* context, long usec) = nullptr;
    int (*signal)(void* context, pid_t pid, int sig) = nullptr;
    void* context = nullptr;
};

class PipeHandler {
public:
    // clear(): ends the children (freeEntryList) and drops the error text.
    ~PipeHandler();
    PipeHandler(const PipeHandler&) = delete;
    PipeHandler& operator=(const PipeHandler&) = delete;

    void clear();
    const char* getError() const { return errmsg_.c_str(); }
    // Keeps the formatted text; with tracing on it also goes to the trace file.
    void setError(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // Starts a child running handler (in inline mode runs it here first) and
    // returns its entry, owned by this object; null when a pipe, the fork or
    // memory fails. The parent ignores SIGPIPE from then on. The child
    // never returns from add(): it ends with _exit(handler's result).
    PipeHandlerEntry* add(PipeChildHandler handler, void* cdata1);

    // Collects dead children: a child that waitpid reports, that is already
    // reaped elsewhere (ECHILD) or that childReaped() named has its pipe read
    // to end of file (at most one pipe buffer) and its descriptors closed; a
    // dead child's entry with nothing queued is freed (kPipeEntryRemoved).
    void parentWaitChildren();
    // Whoever reaps a child of ours tells us here: its entry gets cpid 0.
    void childReaped(pid_t pid);

    // A new empty entry at the end of the list; null with "No memory".
    PipeHandlerEntry* allocEntry();
    // Unlinks and frees the entry (queue, descriptors). 1, or 0 when it is
    // not in the list.
    int unlinkEntry(PipeHandlerEntry* entry);

    // An entry with a queued line, or null once a wait found nothing.
    PipeHandlerEntry* parentWaitEntry();
    // Reads whatever the children have written, without waiting; the number
    // of lines of the last read. Then parentWaitChildren(): entries of dead
    // children may be freed.
    int parentWaitData();
    // One read into the entry's queue (see the .cpp): lines queued, or -1 at
    // end of input with nothing pending, on a read error or "No memory".
    int parentReadProcessData(PipeHandlerEntry* entry);
    // The first entry whose pipe can be read within the wait time, or null.
    PipeHandlerEntry* nextChildWithData();
    int parentChildHasData(PipeHandlerEntry* entry);
    // Bytes read (0 at end of input), -1 on error.
    ssize_t parentReadChild(PipeHandlerEntry* entry, char* buf, size_t size);
    // Writes all of text, reading the children's data while the pipe is
    // full. 1, or 0 with "Cannot write, pipe to child closed" or "Write
    // failed, %s" (a dead child: the parent lives on).
    int parentWriteChild(PipeHandlerEntry* entry, const char* text, size_t length);
    // Close word, a sleep of 1 s, then the write end closed. 1, or 0 with
    // "Already closed" or "Failed to close descriptor, %s". The entry may
    // be freed meanwhile when its child died: check with findEntry().
    int parentCloseEntry(PipeHandlerEntry* entry);
    // The close word written once, no retry, no sleep, then closed.
    int parentCloseEntryNowait(PipeHandlerEntry* entry);

    // In a child: lines received into the entry's queue; 0 also once the
    // input has ended (end of file or the close word: parentwfds[0] is then -1).
    int childWaitData(PipeHandlerEntry* entry);
    // 1 when input waits within the wait time, 0 none, -1 error or no input.
    int childWaitParentData(PipeHandlerEntry* entry);
    // 1, or 0 with "Failed to write parent, %s".
    int childWriteParent(PipeHandlerEntry* entry, const char* text, size_t length);

    // At most 15 characters; with argv set, also written over argv[0], but
    // never past its own length.
    void setHandlerName(const char* name);
    const char* handlerName() const { return handlerName_; }
    // Trace lines to file (not owned); null turns tracing off.
    void setLogFile(FILE* file);
    void setWaitTime(long seconds, long microseconds);

    // Ends every child: close word, then SIGHUP, then SIGKILL, each after a
    // sleep of 1 s that found children left; then frees every entry. In a
    // child only frees the entries.
    void freeEntryList();
    int findEntry(const PipeHandlerEntry* entry) const;
    int countEntries() const;
    // freeEntryList without any sleep, and the error text dropped.
    void freeEntryListNowait();

    void setHooks(const PipeHooks& hooks) { hooks_ = hooks; }
    PipeHandlerEntry* firstEntry() const { return firstEntry_; }

    unsigned flags = 0;
    // The process's argument vector, for setHandlerName; may stay null.
    char** argv = nullptr;

private:
    friend std::unique_ptr<PipeHandler> newPipeHandler(unsigned flags);
    PipeHandler() = default;

    void trace(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void pause(long usec);
    void sendSignal(int sig);
    void drainQueues();
    void readDeadChild(PipeHandlerEntry* entry);
    // One read into the entry's buffer; *got the bytes read.
    int readIntoQueue(PipeHandlerEntry* entry, ssize_t* got);
    [[noreturn]] void runChild(PipeHandlerEntry* entry);
    void endEntries(bool wait);
    int closeEntry(PipeHandlerEntry* entry, bool wait);

    PipeHandlerEntry* firstEntry_ = nullptr;
    PipeHandlerEntry* lastEntry_ = nullptr;
    struct timeval tv_ = {0, 500000};
    FILE* logf_ = nullptr;
    std::string errmsg_;
    char handlerName_[16] = {};
    PipeHooks hooks_;
};

// A handler with no entries and a wait time of 0.5 s; null when memory runs out.
std::unique_ptr<PipeHandler> newPipeHandler(unsigned flags);

}  // namespace ruva

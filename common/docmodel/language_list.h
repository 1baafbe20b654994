// The daemon's counted list of the language codes of its loaded libraries.
//
// The list lives in one shared anonymous mapping made with it, so every
// process forked afterwards sees it change. Only the process that made the
// list adds, removes or clears; in any other process those calls do
// nothing. Readers lock, walk from getLanguageCodes() and unlock, in the
// same process: SEM_UNDO belongs to the process that locked.
//
// The lock is a Mutex over a System V set that the destructor never
// removes: the daemon makes a new list under the same key at every
// reconfiguration.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <memory>

#include "common/sysv_lock.h"

namespace ruva {

inline constexpr key_t kLanguageListKey = 0x4fd5f3;  // one per installation
inline constexpr int kLanguageListCapacity = 512;    // entries; a full list ignores new codes
inline constexpr size_t kLanguageCodeMax = 15;       // characters kept of a code
inline constexpr int kLanguageListWait = 100;        // longest lock wait, seconds

// One entry, inside the shared mapping. Entries are in the order in which
// their codes were first added.
struct LanguageCode {
    int count;                        // loaded libraries with this code
    char code[kLanguageCodeMax + 1];  // NUL-ended
    LanguageCode* next;               // null at the end
};

class LanguageList {
public:
    // Releases a lock this process still holds, unmaps the list in this
    // process (others keep their view) and closes the Mutex.
    ~LanguageList();
    LanguageList(const LanguageList&) = delete;
    LanguageList& operator=(const LanguageList&) = delete;

    // Empties the list under the lock; an empty list is left alone.
    void clear();
    // The first entry, or null. Walk it under the lock where another
    // process may change the list.
    const LanguageCode* getLanguageCodes() const;
    // 1 when an entry's first two characters, in upper case, are not "EN".
    int containsNondefaultCode() const;
    // Counts one more library with this code. The code is cut to 15
    // characters and lower-cased; one without two leading letters counts
    // as "EN" (upper case, an entry apart from "en"). A known code's count
    // is raised without the lock; a new one is appended under it. Null:
    // nothing.
    void addCode(const char* code);
    // Counts one library fewer (same normalisation) under the lock; an entry
    // whose count reaches 0 is unlinked. Unknown or null: nothing.
    void removeCode(const char* code);

    // 1 when held, 0 when the wait (at most and by default 100 s) ran out or
    // this process already holds it. Callers repeat until 1. Once the set
    // has been removed the list goes on without a Mutex, which counts as
    // held, so such a loop ends at once.
    int lock(int waitTime = kLanguageListWait);
    // 1 when released or when there is no Mutex; 0 when this process does
    // not hold the lock.
    int unlock();

private:
    struct Shared;
    friend std::unique_ptr<LanguageList> newLanguageList(key_t key);
    LanguageList() = default;
    bool isOwner() const;
    LanguageCode* find(const char* code) const;
    void dropMutexIfRemoved();

    Shared* shared_ = nullptr;
    std::unique_ptr<Mutex> mtx_;
    pid_t owner_ = 0;
};

// An empty list and its Mutex (newMutex(key, 1)); the daemon uses the
// default key. Null when the mapping or the semaphore set cannot be had.
std::unique_ptr<LanguageList> newLanguageList(key_t key = kLanguageListKey);

}  // namespace ruva

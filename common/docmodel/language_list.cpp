#include "common/docmodel/language_list.h"

#include <sys/mman.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "common/heap_mapping.h"
#include "common/docmodel/libid.h"
#include "common/text.h"

namespace ruva {

// Entries link by address: the mapping is made before any fork, so it has
// the same address in every process. A slot with count 0 is free; a linked
// entry never has count 0.
struct LanguageList::Shared {
    LanguageCode* first;
    LanguageCode slots[kLanguageListCapacity];
};

namespace {

using CodeText = char[kLanguageCodeMax + 1];

void normalise(const char* code, CodeText& out) {
    size_t n = strnlen(code, kLanguageCodeMax);
    std::memcpy(out, code, n);
    out[n] = '\0';
    lstrlwr(out);
    if (!libidIsValidLanguageCode(out)) std::strcpy(out, kDefaultLanguageCode);
}

bool setRemoved(int err) {
    return err == EIDRM || err == EINVAL;
}

}  // namespace

std::unique_ptr<LanguageList> newLanguageList(key_t key) {
    std::unique_ptr<LanguageList> list(new (std::nothrow) LanguageList());
    if (!list) return nullptr;
    void* map = mmap(nullptr, sizeof(LanguageList::Shared), PROT_READ | PROT_WRITE,
                     MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (map == MAP_FAILED) return nullptr;
    list->shared_ = new (map) LanguageList::Shared();
    list->mtx_ = newMutex(key, 1);
    if (!list->mtx_) return nullptr;
    list->owner_ = trackedPid();
    return list;
}

LanguageList::~LanguageList() {
    // A hold left behind would outlive this object (SEM_UNDO acts only at
    // exit) and block the next list under the same key. Not held: no-op.
    if (mtx_) mtx_->unlock();
    if (shared_) munmap(shared_, sizeof(Shared));
}

bool LanguageList::isOwner() const {
    return isCurrentProcess(owner_);
}

LanguageCode* LanguageList::find(const char* code) const {
    for (LanguageCode* e = shared_->first; e; e = e->next) {
        if (std::strcmp(e->code, code) == 0) return e;
    }
    return nullptr;
}

const LanguageCode* LanguageList::getLanguageCodes() const {
    return shared_->first;
}

int LanguageList::containsNondefaultCode() const {
    for (const LanguageCode* e = shared_->first; e; e = e->next) {
        if (ltoupper(e->code[0]) != 'E' || ltoupper(e->code[1]) != 'N') return 1;
    }
    return 0;
}

// Changes below take the lock for its full wait and go on when it is not
// had: the daemon must not hang behind a reader stuck in a write, and a
// reader walking without it still meets only whole slots and NUL-ended
// codes (byte 15 is never written). They unlock only what they locked;
// 0 from lock also means this process holds it already.

void LanguageList::addCode(const char* code) {
    if (!code || !isOwner()) return;
    CodeText text;
    normalise(code, text);
    if (LanguageCode* known = find(text)) {
        ++known->count;
        return;
    }
    LanguageCode* slot = nullptr;
    for (LanguageCode& s : shared_->slots) {
        if (s.count == 0) {
            slot = &s;
            break;
        }
    }
    if (!slot) return;
    int held = lock();
    std::memcpy(slot->code, text, sizeof text);
    slot->count = 1;
    slot->next = nullptr;
    LanguageCode** link = &shared_->first;
    while (*link) link = &(*link)->next;
    *link = slot;
    if (held) unlock();
}

void LanguageList::removeCode(const char* code) {
    if (!code || !isOwner() || !shared_->first) return;
    CodeText text;
    normalise(code, text);
    LanguageCode* entry = find(text);
    if (!entry) return;
    int held = lock();
    if (--entry->count == 0) {
        LanguageCode** link = &shared_->first;
        while (*link != entry) link = &(*link)->next;
        *link = entry->next;
        std::memset(entry, 0, sizeof *entry);
    }
    if (held) unlock();
}

void LanguageList::clear() {
    if (!isOwner() || !shared_->first) return;
    int held = lock();
    shared_->first = nullptr;
    std::memset(shared_->slots, 0, sizeof shared_->slots);
    if (held) unlock();
}

int LanguageList::lock(int waitTime) {
    if (!mtx_) return 1;
    if (waitTime <= 0 || waitTime > kLanguageListWait) waitTime = kLanguageListWait;
    if (mtx_->lock(waitTime)) return 1;
    dropMutexIfRemoved();
    return mtx_ ? 0 : 1;
}

int LanguageList::unlock() {
    if (!mtx_) return 1;
    if (mtx_->unlock()) return 1;
    dropMutexIfRemoved();
    return mtx_ ? 0 : 1;
}

// Callers repeat lock until it gives 1; a removed set would fail at once
// for ever and spin them, so the list goes on unguarded instead.
void LanguageList::dropMutexIfRemoved() {
    if (setRemoved(errno)) mtx_.reset();
}

}  // namespace ruva

// The update mutex: serialises ZIP updates (uploads, removals, folder-index
// writes) among all processes of one daemon, keyed by its port.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>

#include "common/sysv_lock.h"

namespace ruva {

class Config;

// kZipUpdateMutexKeyBase plus the WellKnownPort of config (9229 when there
// is no configuration, no value or 0). Makes no set.
key_t zupdMutexKey(const Config* config);

class ZupdMutex {
public:
    ~ZupdMutex() = default;  // close: the set stays for the other processes
    ZupdMutex(const ZupdMutex&) = delete;
    ZupdMutex& operator=(const ZupdMutex&) = delete;

    // Removes the set from the system: only the main loop's end calls it.
    void del() { mu->del(); }
    // 1 when held within waitTime seconds, else 0; as Mutex.
    int lock(int waitTime) { return mu->lock(waitTime); }
    int unlock() { return mu->unlock(); }

    key_t key = 0;
    uint16_t flags = 0;
    std::unique_ptr<Mutex> mu;

private:
    friend std::unique_ptr<ZupdMutex> newZupdMutex(const Config* config, uint16_t flags);
    ZupdMutex() = default;
};

// Joins or creates the set under zupdMutexKey(config); null when it cannot.
std::unique_ptr<ZupdMutex> newZupdMutex(const Config* config, uint16_t flags);

}  // namespace ruva

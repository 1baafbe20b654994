#include "bmod/unzipd/daemon/zupd_mutex.h"

#include <new>

#include "bmod/unzipd/daemon/config.h"
#include "bmod/unzipd/daemon/uzd_main.h"
#include "bmod/unzipd/zip/folder_index.h"

namespace ruva {

key_t zupdMutexKey(const Config* config) {
    const ConfigEntry* e = config != nullptr ? config->findEntry("WellKnownPort") : nullptr;
    const ConfigValue* v = e != nullptr ? e->first() : nullptr;
    int port = v != nullptr && v->v != 0 ? v->v : kDefaultWellKnownPort;
    return kZipUpdateMutexKeyBase + port;
}

std::unique_ptr<ZupdMutex> newZupdMutex(const Config* config, uint16_t flags) {
    std::unique_ptr<ZupdMutex> m(new (std::nothrow) ZupdMutex);
    if (!m) return nullptr;
    m->key = zupdMutexKey(config);
    m->flags = flags;
    m->mu = newMutex(m->key, flags);
    if (!m->mu) return nullptr;
    return m;
}

}  // namespace ruva

#include "bmod/unzipd/search/wtb.h"

#include <cstring>
#include <new>

#include "common/byte_order.h"
#include "common/mapped_file.h"

namespace ruva {

size_t wtbEntries(int dimension) {
    size_t entries = 26;
    for (int i = 1; i < dimension; ++i) entries *= 27;
    return entries + 1;
}

std::unique_ptr<Wtb> newWtb(int dim) {
    std::unique_ptr<Wtb> w(new (std::nothrow) Wtb);
    if (w) w->setDimension(dim);
    return w;
}

Wtb::~Wtb() {
    freeWtb();
}

void Wtb::setDimension(int dim) {
    freeWtb();
    wtbDimension = dim <= 1 ? 2 : dim > 4 ? 4 : dim;
}

void Wtb::setBuffer(unsigned char* buf) {
    freeWtb();
    if (!buf) return;
    wtb = buf;
    wtbSize = wtbEntries(wtbDimension) * 4;
    flags |= kWtbCallerBuffer;
}

int Wtb::alloc() {
    freeWtb();
    if (wtbDimension < 2 || wtbDimension > 4) return 0;
    size_t want = wtbEntries(wtbDimension) * 4;
    size_t mapped = want;
    void* mem = mapMem(&mapped);
    if (!mem) return 0;
    wtb = static_cast<unsigned char*>(mem);
    wtbSize = want;
    mmapSize = mapped;
    flags &= static_cast<uint16_t>(~kWtbCallerBuffer);
    clear();
    return 1;
}

void Wtb::freeWtb() {
    if (wtb && !(flags & kWtbCallerBuffer)) unmapMem(wtb, mmapSize);
    wtb = nullptr;
    wtbSize = 0;
    mmapSize = 0;
}

void Wtb::clear() {
    if (wtb) std::memset(wtb, 0xFF, wtbSize);
}

uint32_t Wtb::getOffset(const char* name) const {
    static const uint32_t kWeight[4] = {1, 26, 676, 17576};
    uint32_t slot = 0;
    for (int i = 0; name && i < wtbDimension; ++i) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        unsigned char upper = c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 32) : c;
        // Every character after the first non-letter counts 0.
        if (upper < 'A' || upper > 'Z') break;
        slot += (upper - 'A' + 1) * kWeight[i];
    }
    return slot;
}

uint32_t Wtb::get(size_t offs) const {
    if (!wtb || offs >= wtbSize / 4) return kWtbEmpty;
    return getLong(wtb + offs * 4);
}

int Wtb::set(size_t offs, uint32_t value) {
    if (!wtb || offs >= wtbSize / 4) return 0;
    putLong(wtb + offs * 4, value);
    return 1;
}

size_t Wtb::read(FILE* file) {
    size_t entries = wtbSize / 4;
    for (size_t i = 0; i < entries; ++i) {
        unsigned char b[4];
        if (std::fread(b, 1, 4, file) != 4) return static_cast<size_t>(-1);
        set(i, getLong(b));
    }
    return entries * 4;
}

size_t Wtb::write(FILE* file) const {
    size_t entries = wtbSize / 4;
    for (size_t i = 0; i < entries; ++i)
        if (!writeLong(file, get(i))) return static_cast<size_t>(-1);
    return entries * 4;
}

}  // namespace ruva

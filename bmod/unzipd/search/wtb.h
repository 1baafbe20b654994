// The word-prefix table of a word index: one big-endian 32-bit offset per
// prefix slot of up to `wtbDimension` letters, 0xFFFFFFFF for an empty slot.
// The index search lays a Wtb over the table inside an index image; the
// object can also own a table of its own in anonymous mapped memory.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

namespace ruva {

inline constexpr uint32_t kWtbEmpty = 0xFFFFFFFF;
// flags bit 0: the table is the caller's and is never unmapped here.
inline constexpr uint16_t kWtbCallerBuffer = 0x01;

// Entries of the table for a dimension of 2 to 4: 26 x 27^(d-1) + 1
// (703, 18955, 511759).
size_t wtbEntries(int dimension);

class Wtb {
public:
    ~Wtb();  // del: freeWtb
    Wtb(const Wtb&) = delete;
    Wtb& operator=(const Wtb&) = delete;

    // Drops the table; 1 or less becomes 2, above 4 becomes 4.
    void setDimension(int dim);
    // Drops the table and reads entries from buf, which must hold the whole
    // table for the dimension and stays the caller's. The index search only
    // reads through it; set writes into it.
    void setBuffer(unsigned char* buf);
    // Drops the table and maps a table of its own, every entry empty; 1, or
    // 0 when the mapping fails.
    int alloc();
    // Unmaps a table of its own; forgets the table in any case.
    void freeWtb();
    // Every entry empty.
    void clear();
    // Prefix slot of a word: the first up to wtbDimension characters, A-Z in
    // either case 1-26, the first other character and all after it 0;
    // c1 + 26 c2 + 676 c3 + 17576 c4.
    uint32_t getOffset(const char* name) const;
    // Entry offs, or kWtbEmpty without a table or out of range.
    uint32_t get(size_t offs) const;
    // Stores entry offs; 0 (nothing stored) without a table or out of range.
    int set(size_t offs, uint32_t value);
    // The table as entries x 4 big-endian bytes, entry by entry through set
    // and get; the byte count, or (size_t)-1 at a short read or failed write
    // (entries read so far stay set). Without a table: 0.
    size_t read(FILE* file);
    size_t write(FILE* file) const;

    int dimension() const { return wtbDimension; }
    size_t size() const { return wtbSize; }
    uint16_t getFlags() const { return flags; }

private:
    friend std::unique_ptr<Wtb> newWtb(int dim);
    Wtb() = default;

    unsigned char* wtb = nullptr;
    int wtbDimension = 2;
    size_t wtbSize = 0;
    size_t mmapSize = 0;
    uint16_t flags = 0;
};

// A table-less Wtb of dimension dim (as setDimension sets it); null when
// memory runs out.
std::unique_ptr<Wtb> newWtb(int dim);

}  // namespace ruva

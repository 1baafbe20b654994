// The element context stack: the open elements while a node list is
// walked. For each start tag it decides from the tag map whether the
// element may stand where it is; if not it closes elements (implied end
// tags) until one allows it, or opens an implied parent first. End tags
// close everything up to their element. Clients keep per-element state on
// the entries through the push and pop callbacks.
//
// Operations give 1 or a pointer, or 0/null with the error text set; the
// stack keeps what was pushed and popped up to the failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "bmod/ruvaserv/cgi/checked_format.h"
#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "bmod/ruvaserv/sgml/sgmlscanner.h"
#include "bmod/ruvaserv/sgml/tagmap.h"
#include "common/pool.h"

namespace ruva {

inline constexpr int kContextClientWords = 10;        // ContextEntry::u
inline constexpr size_t kContextEntriesPerHeap = 512;  // pool heap size; the pool grows as the stack deepens
inline constexpr int kContextMaxPops = 512;            // implied end tags per start or end tag
inline constexpr int kContextTraceIndentMax = 31;      // trace indentation, in blanks

// SContext::flags
inline constexpr uint16_t kContextTrace = 0x01;  // trace pushes and pops on stderr

// One open element; a pool item.
struct ContextEntry {
    ContextEntry* parent;  // the entry below
    MapDtd dtd;            // of the map in force when pushed
    int tagno;
    SgmlNode* sn;  // start tag's node, not owned; nodes never move
    // Client state; a new entry starts as a copy of its parent's.
    uintptr_t u[kContextClientWords];
};

// Push and pop callbacks: 1 for success.
using ContextCallback = int (*)(ContextEntry* entry, void* data);

// getError/setError and errmsg come from ErrorText.
class SContext : public ErrorText {
public:
    // del: the map, the pool and the object.
    ~SContext();
    SContext(const SContext&) = delete;
    SContext& operator=(const SContext&) = delete;

    // Empties the pool, the stack and the message.
    void clear();


    // Initialises the map (TagMap::init); 278 on failure.
    int setMap(MapDtd dtd, const char* topelem);
    // Stores the callbacks and their data; returns 1.
    int initCallbacks(ContextCallback pushCb, void* pushArg, ContextCallback popCb, void* popArg);

    // A start-tag node: implied parents and end tags as needed, then the
    // push. 279, 280.
    int start(SgmlNode* node);
    // An end-tag node "/NAME" ("/" ends the top element). 281, 282, 283.
    int end(SgmlNode* node);
    // Pops while entries are left and every pop succeeds; the last pop's
    // result, 1 when already empty.
    int empty();
    // Pushes an entry for node, then calls the push callback; its result.
    int push(SgmlNode* node, int tagno);
    // Calls the pop callback, then pops even when it failed (286). 285 when empty.
    int pop();

    // Tag number of entry's parent (cur's when null); -1 when none.
    int getParentTagno(const ContextEntry* entry) const;
    // Nearest open entry of that tag from the top; 287, 288.
    ContextEntry* findTagnameContext(const char* tagname);
    // How many open entries have that tag.
    int countTagnameContexts(const char* tagname);
    // Nearest entry of that tag from `from` (cur when null) downwards.
    ContextEntry* findParentTagnameContext(const char* tagname, ContextEntry* from);
    // Flags of the top element's entry; 0 on an empty stack.
    int getCurTagFlags() const;
    // Names joined by ", "; "[invalid]" for a number without a name.
    std::string printTagnoList(std::span<const int> tagnos) const;
    // Open start tags from the top as "<NAME>" joined by ", "; "[nontag]",
    // "[empty]".
    std::string printContextStack() const;
    // The map's name of a tag number; null when none.
    const char* getTagName(int tagno) const;

    uint16_t flags = 0;  // kContextTrace
    std::unique_ptr<TagMap> tagMap;
    std::unique_ptr<Pool> pool;  // entries
    ContextEntry* cur = nullptr;  // top; null when empty
    int level = 0;                // depth
    MapDtd mapDtd = MAPDTD_UNKNOWN;
    void* pushData = nullptr;
    ContextCallback pushCallback = nullptr;
    void* popData = nullptr;
    ContextCallback popCallback = nullptr;

private:
    friend std::unique_ptr<SContext> newSContext(MapDtd dtd, uint16_t flags);
    SContext() = default;
};

// The map (newTagMap(dtd, 0)) and the entry pool; null when either fails.
std::unique_ptr<SContext> newSContext(MapDtd dtd, uint16_t flags);

}  // namespace ruva

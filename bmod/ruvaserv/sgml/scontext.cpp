#include "bmod/ruvaserv/sgml/scontext.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "common/heap_mapping.h"
#include "common/html_escape.h"

namespace ruva {
namespace {

TableFormat msg(int index, int tagno) {
    char tag[24];
    std::snprintf(tag, sizeof tag, "scontext/%d", tagno);
    return msgFormat(index, tag);
}

// Names from the document (entity expansion can put "<" in them) reach the
// comparison page inside these messages.
std::string escaped(const char* text) {
    return htmlEscaped(text ? text : "");
}

// The i-th allowed child of parent in stored order; -1 past the list's end.
int childAt(const TagMap& map, int parent, size_t i) {
    if (parent < 0 || parent >= map.tagCount) return -1;
    if (map.flags & kTagMapBigEntries) {
        if (i >= kBigTagMapChildren || static_cast<size_t>(parent) >= map.bigEntries.size()) return -1;
        uint16_t c = map.bigEntries[parent].map[i];
        return c == kBigTagMapEnd ? -1 : c;
    }
    if (i >= kTagMapChildren || static_cast<size_t>(parent) >= map.entries.size()) return -1;
    uint8_t c = map.entries[parent].map[i];
    return c == kTagMapEnd ? -1 : c;
}

// 1 when the start tag at node carries an attribute name before (or on) the
// node that closes it.
bool startTagHasAttribute(const SgmlNode* node) {
    for (const SgmlNode* n = node; n && n->state != SPS_EOF; n = n->next) {
        if (n != node) {
            if (n->state == SPS_TAGNAME) break;
            if (n->state == SPS_TAGATTRNAME) return true;
        }
        if (n->flags & kNodeTagEnd) break;
    }
    return false;
}

// Implied end tags: pops until the top allows tagno. A stack popped empty
// takes only the map's top element (any tag when the map has none).
int closeUntilAllowed(SContext& sc, const char* name, int tagno) {
    std::vector<int> popped;
    while (sc.cur && !sc.tagMap->isAllowed(sc.cur->tagno, tagno)) {
        if (popped.size() == static_cast<size_t>(kContextMaxPops)) {
            sc.setError(msg(280, 3), escaped(name), htmlEscaped(sc.printTagnoList(popped)));
            return 0;
        }
        popped.push_back(sc.cur->tagno);
        if (!sc.pop()) return 0;
    }
    if (!sc.cur && sc.tagMap->topElement >= 0 && sc.tagMap->topElement != tagno) {
        sc.setError(msg(280, 3), escaped(name), htmlEscaped(sc.printTagnoList(popped)));
        return 0;
    }
    return 1;
}

void trace(const SContext& sc, const char* open, int tagno) {
    const char* name = sc.tagMap->getTagName(tagno);
    std::fprintf(stderr, "%*s%s%s>\n", std::min(sc.level, kContextTraceIndentMax), "", open,
                 name ? name : "");
}

}  // namespace

SContext::~SContext() = default;

void SContext::clear() {
    pool->clear();
    cur = nullptr;
    level = 0;
    setError(nullptr);
}

int SContext::setMap(MapDtd dtd, const char* topelem) {
    if (!tagMap->init(dtd, topelem)) {
        setError(msg(278, 1));
        return 0;
    }
    mapDtd = dtd;
    return 1;
}

int SContext::initCallbacks(ContextCallback pushCb, void* pushArg, ContextCallback popCb, void* popArg) {
    pushCallback = pushCb;
    pushData = pushArg;
    popCallback = popCb;
    popData = popArg;
    return 1;
}

int SContext::start(SgmlNode* node) {
    const char* name = node->text();
    int tagno = tagMap->mapTag(name);
    if (tagno < 0) {
        if (getCurTagFlags() & kTagOpenContent) return 1;
        setError(msg(279, 2), escaped(name));
        return 0;
    }
    if (cur && !tagMap->isAllowed(cur->tagno, tagno)) {
        int implied = -1;
        for (size_t i = 0; (implied = childAt(*tagMap, cur->tagno, i)) >= 0; ++i) {
            if ((tagMap->getTagFlags(implied) & kTagImpliedStart) && tagMap->isAllowed(implied, tagno)) break;
        }
        if (implied >= 0) {
            if (!push(node, implied)) return 0;
        } else if (!closeUntilAllowed(*this, name, tagno)) {
            return 0;
        }
    }
    int result = push(node, tagno);
    if (!result) return 0;
    int tagFlags = tagMap->getTagFlags(tagno);
    if ((tagFlags & kTagEmpty) || ((tagFlags & kTagEmptyWithAttrs) && startTagHasAttribute(node)))
        result = pop();
    return result;
}

int SContext::end(SgmlNode* node) {
    if (!cur) {
        setError(msg(281, 4));
        return 0;
    }
    const char* text = node->text() ? node->text() : "";
    const char* name = text[0] == '/' ? text + 1 : text;
    int tagno = name[0] ? tagMap->mapTag(name) : cur->tagno;
    bool openContent = getCurTagFlags() & kTagOpenContent;
    if (tagno < 0) {
        if (openContent) return 1;
        setError(msg(282, 5), escaped(name));
        return 0;
    }
    if (openContent && cur->tagno != tagno) return 1;
    std::vector<int> popped;
    while (cur && popped.size() < static_cast<size_t>(kContextMaxPops)) {
        int top = cur->tagno;
        popped.push_back(top);
        if (!pop()) return 0;
        if (top == tagno) return 1;
    }
    setError(msg(283, 6), escaped(name), htmlEscaped(printTagnoList(popped)));
    return 0;
}

int SContext::empty() {
    int result = 1;
    while (cur && result) result = pop();
    return result;
}

int SContext::push(SgmlNode* node, int tagno) {
    void* item = pool->alloc();
    if (!item) {
        setError(msg(284, 7));
        return 0;
    }
    auto* entry = new (item) ContextEntry{};
    entry->parent = cur;
    entry->dtd = tagMap->mapDtd;
    entry->tagno = tagno;
    entry->sn = node;
    if (cur) std::memcpy(entry->u, cur->u, sizeof entry->u);
    cur = entry;
    ++level;
    if (flags & kContextTrace) trace(*this, "<", tagno);
    return pushCallback ? pushCallback(entry, pushData) : 1;
}

int SContext::pop() {
    if (!cur) {
        setError(msg(285, 8));
        return 0;
    }
    int result = popCallback ? popCallback(cur, popData) : 1;
    // The entry goes even when the client failed: its state is gone either way.
    if (!result) setError(msg(286, 9));
    if (flags & kContextTrace) trace(*this, "</", cur->tagno);
    ContextEntry* entry = cur;
    cur = entry->parent;
    --level;
    pool->free(entry);
    return result;
}

int SContext::getParentTagno(const ContextEntry* entry) const {
    const ContextEntry* e = entry ? entry : cur;
    return e && e->parent ? e->parent->tagno : -1;
}

ContextEntry* SContext::findTagnameContext(const char* tagname) {
    return findParentTagnameContext(tagname, nullptr);
}

int SContext::countTagnameContexts(const char* tagname) {
    int tagno = tagMap->mapTag(tagname);
    int count = 0;
    if (tagno < 0) return 0;
    for (const ContextEntry* e = cur; e; e = e->parent) count += e->tagno == tagno;
    return count;
}

ContextEntry* SContext::findParentTagnameContext(const char* tagname, ContextEntry* from) {
    int tagno = tagMap->mapTag(tagname);
    if (tagno < 0) {
        setError(msg(288, 11), escaped(tagname));
        return nullptr;
    }
    if (!cur) {
        setError(msg(287, 10));
        return nullptr;
    }
    for (ContextEntry* e = from ? from : cur; e; e = e->parent) {
        if (e->tagno == tagno) return e;
    }
    return nullptr;
}

int SContext::getCurTagFlags() const {
    return cur ? tagMap->getTagFlags(cur->tagno) : 0;
}

std::string SContext::printTagnoList(std::span<const int> tagnos) const {
    std::string out;
    for (int tagno : tagnos) {
        if (!out.empty()) out += ", ";
        const char* name = tagMap->getTagName(tagno);
        out += name ? name : "[invalid]";
    }
    return out;
}

std::string SContext::printContextStack() const {
    if (!cur) return "[empty]";
    std::string out;
    for (const ContextEntry* e = cur; e; e = e->parent) {
        if (e != cur) out += ", ";
        if (e->sn && e->sn->state == SPS_TAGNAME && e->sn->text()) {
            out += '<';
            out += e->sn->text();
            out += '>';
        } else {
            out += "[nontag]";
        }
    }
    return out;
}

const char* SContext::getTagName(int tagno) const {
    return tagMap->getTagName(tagno);
}

std::unique_ptr<SContext> newSContext(MapDtd dtd, uint16_t flags) {
    std::unique_ptr<SContext> sc(new (std::nothrow) SContext);
    if (!sc) return nullptr;
    sc->flags = flags;
    sc->tagMap = newTagMap(dtd, 0);
    sc->pool = newPool(sizeof(ContextEntry), kContextEntriesPerHeap, kPoolNoSemaphore | kPoolPrivate);
    if (!sc->tagMap || !sc->pool) return nullptr;
    sc->mapDtd = sc->tagMap->mapDtd;
    return sc;
}

}  // namespace ruva

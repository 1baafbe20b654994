// Editing node lists: removing, joining, copying and inserting nodes and
// building tag and comment chains. Nodes never move, so a node pointer held
// across a growth stays valid and nothing here has to look a node up again.
#include <cstring>
#include <new>
#include <string_view>

#include "bmod/ruvaserv/sgml/sgmlscanner.h"

namespace ruva {
namespace {

// Walks stop at the end of the chain and at the end-of-input node.
bool walkable(const SgmlNode* node) {
    return node != nullptr && node->state != SPS_EOF;
}

bool isEmptyText(const SgmlNode* node) {
    return node->state == SPS_FREETEXT && (node->text() == nullptr || node->text()[0] == '\0');
}

SgmlNode* chainEnd(SgmlNode* chain) {
    while (chain->next != nullptr) chain = chain->next;
    return chain;
}

// The node whose next is `node`; null when node is first or not linked.
SgmlNode* predecessorOf(const SgmlNodeList* list, const SgmlNode* node) {
    for (SgmlNode* cur = list->firstNode; cur != nullptr; cur = cur->next) {
        if (cur->next == node) return cur;
    }
    return nullptr;
}

// Links first..last after `after` (kInsertAtStart, kInsertAtEnd or a node).
void linkChain(SgmlNodeList* list, SgmlNode* after, SgmlNode* first, SgmlNode* last) {
    if (after == kInsertAtEnd) after = list->lastNode;
    if (after == kInsertAtStart) {
        last->next = list->firstNode;
        list->firstNode = first;
    } else {
        last->next = after->next;
        after->next = first;
    }
    if (last->next == nullptr) list->lastNode = last;
}

// Unlinks the node after `before` (the first node when before is null).
SgmlNode* unlinkAfter(SgmlNodeList* list, SgmlNode* before) {
    SgmlNode* node = before != nullptr ? before->next : list->firstNode;
    if (before != nullptr) {
        before->next = node->next;
    } else {
        list->firstNode = node->next;
    }
    if (list->lastNode == node) list->lastNode = before;
    node->next = nullptr;
    return node;
}

// Counts the nodes from `from` up to the end-of-input node; *eof gets that
// node, or null when the chain ends without one.
size_t countToEof(const SgmlNode* from, const SgmlNode** eof) {
    size_t count = 0;
    for (; walkable(from); from = from->next) count++;
    *eof = from;
    return count;
}

// Frees an unlinked chain; null is nothing.
void freeChain(SgmlScanner* ss, SgmlNodeList* list, SgmlNode* chain) {
    while (chain != nullptr) {
        SgmlNode* next = chain->next;
        ss->freeSgmlNode(list, chain);
        chain = next;
    }
}

}  // namespace

void SgmlScanner::freeSgmlNodes(SgmlNodeList* list, SgmlNode* from) {
    if (list == nullptr || from == kInsertAtEnd) return;
    if (from == nullptr || from == list->firstNode) {
        from = list->firstNode;
        list->firstNode = nullptr;
        list->lastNode = nullptr;
    } else if (SgmlNode* before = predecessorOf(list, from); before != nullptr) {
        before->next = nullptr;
        list->lastNode = before;
    }
    // A chain that was never linked is freed as it stands.
    freeChain(this, list, from);
}

int SgmlScanner::removeSgmlNodeTag(SgmlNodeList* list, SgmlNode* before) {
    if (list == nullptr || before == kInsertAtEnd) return 0;
    SgmlNode* tag = before != nullptr ? before->next : list->firstNode;
    if (tag == nullptr || tag->state != SPS_TAGNAME) return 0;
    // A tag cut short by the end of input ends before the end-of-input node.
    while (true) {
        SgmlNode* node = unlinkAfter(list, before);
        const bool tagEnd = (node->flags & kNodeTagEnd) != 0;
        freeSgmlNode(list, node);
        SgmlNode* next = before != nullptr ? before->next : list->firstNode;
        if (tagEnd || !walkable(next)) break;
    }
    return 1;
}

int SgmlScanner::removeSgmlNodeType(SgmlNodeList* list, SgmlParserState state, SgmlNode** before,
                                    SgmlNode* end) {
    if (list == nullptr || before == nullptr || *before == kInsertAtEnd) return 0;
    SgmlNode* prev = *before;
    SgmlNode* node = prev != nullptr ? prev->next : list->firstNode;
    int removed = 0;
    while (walkable(node)) {
        const bool atEnd = node == end;
        if (node->state == state) {
            unlinkAfter(list, prev);
            freeSgmlNode(list, node);
            *before = prev;
            removed = 1;
            if (end == nullptr || atEnd) break;
        } else {
            if (atEnd) break;
            prev = node;
        }
        node = prev != nullptr ? prev->next : list->firstNode;
    }
    return removed;
}

int SgmlScanner::optimizeNodeList(SgmlNodeList* list) {
    if (list == nullptr) return 0;
    for (SgmlNode* node = list->firstNode; walkable(node); node = node->next) {
        while (node->next != nullptr && node->next->level == node->level) {
            SgmlNode* next = node->next;
            // An empty text that carries a closing ">" ("]>", "]]>") is kept:
            // dropping it would lose that ">" from the printed markup.
            if (isEmptyText(next) && !(next->flags & kNodeTagEnd)) {
                freeSgmlNode(list, unlinkAfter(list, node));
            } else if (next->state == SPS_TAGATTRSCANNAME) {
                node->flags |= next->flags & kNodeTagEnd;
                freeSgmlNode(list, unlinkAfter(list, node));
            } else {
                break;
            }
        }
        // A text whose tag closes after it is not joined with the next one:
        // the ">" would move behind both.
        while (node->state == SPS_FREETEXT && !(node->flags & kNodeTagEnd) && node->next != nullptr &&
               node->next->state == SPS_FREETEXT && node->next->level == node->level) {
            SgmlNode* next = node->next;
            const std::string_view head = node->text() != nullptr ? node->text() : "";
            const std::string_view tail = next->text() != nullptr ? next->text() : "";
            std::unique_ptr<char[]> joined(new (std::nothrow) char[head.size() + tail.size() + 1]);
            if (!joined) {
                setError(msg(340, "sgmlscanner/26"));
                return 0;
            }
            std::memcpy(joined.get(), head.data(), head.size());
            std::memcpy(joined.get() + head.size(), tail.data(), tail.size());
            joined[head.size() + tail.size()] = '\0';
            node->value = std::move(joined);
            node->flags |= next->flags & kNodeTagEnd;
            freeSgmlNode(list, unlinkAfter(list, node));
        }
    }
    return 1;
}

int SgmlScanner::insertCopyNodeList(SgmlNodeList* dst, const SgmlNodeList* src, SgmlNode* after,
                                    const SgmlNode* from) {
    if (dst == nullptr || src == nullptr) return 0;
    const SgmlNode* start = from != nullptr ? from : src->firstNode;
    const SgmlNode* eof = nullptr;
    const size_t count = countToEof(start, &eof);
    if (count == 0) return 1;
    const size_t room = from != nullptr || !src->pool ? count : src->pool->usedItems;
    if (!verifyFreeNodes(dst, room)) return 0;

    // The copies are chained apart and linked at the end, so a failure
    // leaves dst as it was and src may be dst itself.
    SgmlNode* first = nullptr;
    SgmlNode* last = nullptr;
    for (const SgmlNode* node = start; walkable(node); node = node->next) {
        SgmlNode* copy = allocSgmlNode(dst, static_cast<SgmlParserState>(node->state), node->text());
        if (copy == nullptr) {
            freeChain(this, dst, first);
            return 0;
        }
        copy->flags = node->flags;
        copy->level = node->level;
        (last != nullptr ? last->next : first) = copy;
        last = copy;
    }
    if (eof != nullptr && (eof->flags & kNodeTagEnd)) last->flags |= kNodeTagEnd;
    linkChain(dst, after, first, last);
    return 1;
}

int SgmlScanner::appendCopyNodeList(SgmlNodeList* dst, const SgmlNodeList* src) {
    return insertCopyNodeList(dst, src, kInsertAtEnd, nullptr);
}

SgmlNode* SgmlScanner::addSgmlNodeAtEndTag(SgmlNodeList* list, SgmlNode* start, SgmlParserState state,
                                           const char* value) {
    if (list == nullptr) return nullptr;
    SgmlNode* node = allocSgmlNode(list, state, value);
    if (node == nullptr) return nullptr;
    SgmlNode* after = kInsertAtEnd;
    for (SgmlNode* cur = start != nullptr ? start : list->firstNode; walkable(cur); cur = cur->next) {
        if (cur->flags & kNodeTagEnd) {
            after = cur;
            break;
        }
    }
    insertSgmlNode(list, after, node);
    return node;
}

SgmlNode* SgmlScanner::allocCommentChain(SgmlNodeList* list, std::string text) {
    if (list == nullptr || !verifyFreeNodes(list, kCommentChainNodes)) return nullptr;
    if (text.size() > kSgmlCommentMax) text.resize(kSgmlCommentMax);
    SgmlNode* tag = allocSgmlNode(list, SPS_TAGNAME, "!--");
    if (tag == nullptr) return nullptr;
    SgmlNode* comment = allocSgmlNode(list, SPS_COMMENT, text.c_str());
    if (comment == nullptr) {
        freeSgmlNode(list, tag);
        return nullptr;
    }
    comment->flags = kNodeTagEnd;
    comment->level = tag->level;
    tag->next = comment;
    return tag;
}

SgmlNode* SgmlScanner::allocSgmlNodeTag(SgmlNodeList* list, const char* tag,
                                        std::initializer_list<SgmlTagAttr> attrs) {
    if (list == nullptr || !verifyFreeNodes(list, kTagChainNodes)) return nullptr;
    SgmlNode* first = allocSgmlNode(list, SPS_TAGNAME, tag);
    SgmlNode* last = first;
    for (const SgmlTagAttr& attr : attrs) {
        if (last == nullptr || attr.name == nullptr) break;
        // No value: the value is the name ("checked") and the list ends.
        const std::string value(attr.value ? *attr.value : std::string_view(attr.name));
        SgmlNode* name = allocSgmlNode(list, SPS_TAGATTRNAME, attr.name);
        SgmlNode* val = name != nullptr ? allocSgmlNode(list, SPS_TAGATTRVALUE, value.c_str()) : nullptr;
        if (val == nullptr) {
            if (name != nullptr) freeSgmlNode(list, name);
            last = nullptr;
            break;
        }
        if (value.empty()) name->flags |= kNodeHasValue;
        val->flags = value.find('"') != std::string::npos ? kNodeQuoted | kNodeApostrophe : kNodeQuoted;
        name->next = val;
        last->next = name;
        last = val;
        if (!attr.value) break;
    }
    if (last == nullptr) {
        freeChain(this, list, first);
        return nullptr;
    }
    last->flags |= kNodeTagEnd;
    return first;
}

SgmlNode* SgmlScanner::appendSgmlNodeTag(SgmlNodeList* list, const char* tag,
                                         std::initializer_list<SgmlTagAttr> attrs) {
    SgmlNode* chain = allocSgmlNodeTag(list, tag, attrs);
    if (chain != nullptr) insertSgmlNode(list, kInsertAtEnd, chain);
    return chain;
}

int SgmlScanner::insertSgmlNode(SgmlNodeList* list, SgmlNode* after, SgmlNode* chain) {
    if (list == nullptr || chain == nullptr) return 0;
    SgmlNode* last = chainEnd(chain);
    // The chain carries its level changes into the nodes made after it.
    if (chain->flags & kNodeLevelChange) currentLevel = chain->level;
    for (SgmlNode* node = chain->next; node != nullptr && node != last; node = node->next) {
        if ((node->flags & kNodeLevelChange) && node->level != currentLevel) currentLevel = node->level;
    }
    linkChain(list, after, chain, last);
    return 1;
}

}  // namespace ruva

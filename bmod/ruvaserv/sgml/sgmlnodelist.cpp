#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "bmod/ruvaserv/sgml/sgmlscanner.h"
#include "common/text.h"

namespace ruva {

namespace {

// Writes bytes, keeping the first failure's errno; later writes are skipped.
class NodeWriter {
public:
    explicit NodeWriter(FILE* file) : file_(file) {}
    void put(const char* text, size_t len) {
        if (err_ == 0 && len && std::fwrite(text, 1, len, file_) != len) err_ = errno ? errno : EIO;
    }
    void put(const char* text) {
        if (text) put(text, std::strlen(text));
    }
    void put(char c) { put(&c, 1); }
    // 0 on success, else the errno of the failed write, flush or stream.
    int finish() {
        if (err_ == 0 && std::fflush(file_) != 0) err_ = errno ? errno : EIO;
        if (err_ == 0 && std::ferror(file_)) err_ = errno ? errno : EIO;
        return err_;
    }

private:
    FILE* file_;
    int err_ = 0;
};

// Writes value between quotes, the quote itself as a character reference.
void putQuoted(NodeWriter& out, const char* value, char quote) {
    out.put(quote);
    for (const char* p = value; *p; ++p) {
        if (*p == quote) {
            out.put(quote == '"' ? "&#34;" : "&#39;");
        } else {
            out.put(*p);
        }
    }
    out.put(quote);
}

// The attribute value as printAttrVal writes it.
void putAttrVal(NodeWriter& out, const SgmlNode* node) {
    const char* value = node->text();
    if (!value) return;
    uint16_t quoteFlags = node->flags & (kNodeQuoted | kNodeApostrophe);
    char quote;
    if (quoteFlags == kNodeQuoted) {
        quote = '"';
    } else if (quoteFlags == (kNodeQuoted | kNodeApostrophe)) {
        quote = '\'';
    } else if (quoteFlags == kNodeApostrophe) {
        return;
    } else if (node->state == SPS_TAGATTRVALUE) {
        quote = '"';
    } else {
        out.put(value);
        return;
    }
    // A value holding its quote takes the other kind, so it prints back as
    // it was scanned; holding both, the quote becomes a reference.
    char other = quote == '"' ? '\'' : '"';
    if (std::strchr(value, quote) && !std::strchr(value, other)) quote = other;
    putQuoted(out, value, quote);
}

// A copy of value in a new array; null for null. *ok false when memory fails.
std::unique_ptr<char[]> copyValue(const char* value, bool* ok) {
    *ok = true;
    if (!value) return nullptr;
    size_t len = std::strlen(value);
    std::unique_ptr<char[]> copy(new (std::nothrow) char[len + 1]);
    if (!copy) {
        *ok = false;
        return nullptr;
    }
    std::memcpy(copy.get(), value, len + 1);
    return copy;
}

// Destroys every node linked from first; each is destroyed before its item
// goes back, so no value outlives its node.
void destroyChain(Pool* pool, SgmlNode* first) {
    while (first) {
        SgmlNode* next = first->next;
        first->~SgmlNode();
        if (pool) pool->free(first);
        first = next;
    }
}

}  // namespace

SgmlNodeList::~SgmlNodeList() {
    destroyChain(pool.get(), firstNode);
    firstNode = lastNode = nullptr;
}

std::unique_ptr<SgmlNodeList> SgmlScanner::newNodeList(size_t maxNodes) {
    size_t n = maxNodes ? maxNodes : kNodeListDefault;
    std::unique_ptr<SgmlNodeList> list(new (std::nothrow) SgmlNodeList);
    if (list) list->pool = newPool(sizeof(SgmlNode), n, kPoolNoSemaphore | kPoolPrivate);
    if (!list || !list->pool) {
        setError(msg(331, "sgmlscanner/17"), static_cast<unsigned long>(n));
        return nullptr;
    }
    list->capacity = n;
    return list;
}

// Nodes never move: growing adds one heap, so every node pointer a caller
// holds stays valid and the callback only reports the growth.
int SgmlScanner::reallocNodeList(SgmlNodeList* list, size_t maxNodes) {
    if (!list || !list->pool) {
        setError(msg(329, "sgmlscanner/15"));
        return 0;
    }
    if (maxNodes <= list->capacity) {
        setError(msg(330, "sgmlscanner/16"), static_cast<unsigned long>(maxNodes),
                 static_cast<unsigned long>(list->capacity));
        return 0;
    }
    if (!list->pool->allocHeap(sizeof(SgmlNode), maxNodes - list->capacity)) {
        setError(msg(331, "sgmlscanner/17"), static_cast<unsigned long>(maxNodes));
        return 0;
    }
    list->capacity = maxNodes;
    if (reallocCallback) reallocCallback(this, clientData);
    return 1;
}

int SgmlScanner::verifyFreeNodes(SgmlNodeList* list, size_t minFree) {
    if (!list || !list->pool) {
        setError(msg(329, "sgmlscanner/15"));
        return 0;
    }
    size_t used = list->pool->usedItems;
    size_t freeNodes = list->capacity > used ? list->capacity - used : 0;
    if (freeNodes >= minFree) return 1;
    if (flags & kScanFixedLists) {
        setError(msg(333, "sgmlscanner/19"), static_cast<unsigned long>(list->capacity));
        return 0;
    }
    size_t step = std::max(kNodeListGrow, minFree - freeNodes + kNodeListSlack);
    return reallocNodeList(list, list->capacity + step);
}

void SgmlScanner::freeNodeList(std::unique_ptr<SgmlNodeList> list) {
    flags |= kScanFreeingList;
    list.reset();
    flags &= static_cast<uint16_t>(~kScanFreeingList);
}

void SgmlScanner::freeSgmlNode(SgmlNodeList* list, SgmlNode* node) {
    if (!node) return;
    node->~SgmlNode();
    if (list && list->pool) list->pool->free(node);
}

SgmlNode* SgmlScanner::allocSgmlNode(SgmlNodeList* list, SgmlParserState state, const char* value) {
    if (!list || !list->pool) {
        setError(msg(329, "sgmlscanner/15"));
        return nullptr;
    }
    // The count is checked before Pool::alloc, which at a full pool would
    // add a heap by itself: a growth without callback, and against 0x0100.
    if (list->pool->usedItems >= list->capacity) {
        if (flags & kScanFixedLists) {
            setError(msg(343, "sgmlscanner/29"), static_cast<unsigned long>(list->capacity));
            return nullptr;
        }
        if (!reallocNodeList(list, list->capacity + kNodeListGrow)) {
            setError(msg(344, "sgmlscanner/30"));
            return nullptr;
        }
    }
    bool ok;
    std::unique_ptr<char[]> copy = copyValue(value, &ok);
    if (!ok) {
        setError("%s", std::strerror(ENOMEM));
        return nullptr;
    }
    void* raw = list->pool->alloc();
    if (!raw) {
        setError(msg(344, "sgmlscanner/30"));
        return nullptr;
    }
    SgmlNode* node = new (raw) SgmlNode;
    node->value = std::move(copy);
    node->state = state;
    node->level = currentLevel;
    return node;
}

SgmlNode* SgmlScanner::appendSgmlNode(SgmlNodeList* list, SgmlParserState state, const char* value) {
    SgmlNode* node = allocSgmlNode(list, state, value);
    if (!node) return nullptr;
    if (list->lastNode) {
        list->lastNode->next = node;
    } else {
        list->firstNode = node;
    }
    list->lastNode = node;
    return node;
}

int SgmlScanner::printAttrVal(const SgmlNode* node, FILE* file) {
    if (!node || !file) return 0;
    NodeWriter out(file);
    putAttrVal(out, node);
    if (int err = out.finish()) {
        setError("%s", std::strerror(err));
        return 0;
    }
    return 1;
}

namespace {

// The node's own text: the markup its token came from, without the marks
// for levels and the tag's closing.
void putNodeText(NodeWriter& out, const SgmlNode* node, const SgmlNode* prev, bool lowerNames) {
    const char* value = node->text();
    switch (node->state) {
    case SPS_FREETEXT: out.put(value); break;
    case SPS_TAGNAME:
        out.put('<');
        out.put(value);
        break;
    case SPS_TAGATTRNAME:
        out.put(' ');
        if (lowerNames && value) {
            for (const char* p = value; *p; ++p) out.put(static_cast<char>(asciiLower(static_cast<unsigned char>(*p))));
        } else {
            out.put(value);
        }
        break;
    case SPS_TAGATTRVALUE:
        out.put('=');
        putAttrVal(out, node);
        break;
    case SPS_COMMENT:
        // "<!--" already wrote the opening dashes.
        if (!(prev && prev->state == SPS_TAGNAME && prev->text() && std::strcmp(prev->text(), "!--") == 0))
            out.put("--");
        out.put(value);
        out.put("--");
        break;
    case SPS_DECLNAME:
    case SPS_DECLTYPE:
    case SPS_DECLID:
        if ((value && *value) || (node->flags & kNodeQuoted)) out.put(' ');
        putAttrVal(out, node);
        break;
    default: break;  // between attributes and EOF: marks and closing only
    }
}

// " [" when the next node lies deeper, one "]" per level it rises.
void putLevelMarks(NodeWriter& out, const SgmlNode* node) {
    const SgmlNode* next = node->next;
    if (!next) return;
    if (next->level > node->level) {
        out.put(" [");
    } else {
        for (int i = next->level; i < node->level; ++i) out.put(']');
    }
}

void putTagClose(NodeWriter& out, const SgmlNode* tag) {
    if (tag && (tag->flags & kNodeEmptyTag)) out.put(" /");
    if (tag && tag->text() && tag->text()[0] == '?') out.put('?');
    out.put('>');
}

}  // namespace

int SgmlScanner::printNodeList(const SgmlNodeList* list, FILE* file) {
    if (!list || !file) return 0;
    NodeWriter out(file);
    bool lowerNames = validate == xhtmlValidate;
    const SgmlNode* tag = nullptr;  // tag-name node of the open tag
    bool refused = false;           // the hook refused the open tag: write none of it
    const SgmlNode* prev = nullptr;
    for (const SgmlNode* node = list->firstNode; node; prev = node, node = node->next) {
        if (node->state == SPS_TAGNAME) {
            tag = node;
            refused = validate && !validate(const_cast<SgmlNode*>(node), this, file);
        }
        if (!refused) putNodeText(out, node, prev, lowerNames);
        putLevelMarks(out, node);
        if (node->flags & kNodeTagEnd) {
            if (!refused) putTagClose(out, tag);
            refused = false;
            tag = nullptr;
        }
        if (node->state == SPS_EOF) break;
    }
    if (int err = out.finish()) {
        setError("%s", std::strerror(err));
        return 0;
    }
    return 1;
}

}  // namespace ruva

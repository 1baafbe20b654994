#include "common/btree.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "common/byte_order.h"
#include "common/patterns.h"
#include "common/text.h"
#include "common/text_clean.h"

namespace ruva {

namespace {

constexpr size_t kHeaderLength = 24;   // "BTREE 1 0 FFFF 00000000\n"
constexpr long kRootOffsetAt = 15;     // where the 8 hex digits of the root offset start
constexpr size_t kMaxHeaderLine = 28;  // a longer header line is refused
constexpr size_t kRecordPointers = 8;  // left and right offsets before the key
constexpr size_t kValueLength = 4;

// strcasecmp in the C locale, on unsigned bytes.
int compareCaseBlind(const char* a, const char* b) {
    auto p = reinterpret_cast<const unsigned char*>(a);
    auto q = reinterpret_cast<const unsigned char*>(b);
    while (*p && asciiLower(*p) == asciiLower(*q)) ++p, ++q;
    return asciiLower(*p) - asciiLower(*q);
}

// Compares one search text with the keys met on a descent, in the tree's
// order or in the NoSpc order (folded copies, compared byte-wise).
class KeyOrder {
public:
    KeyOrder(const char* id, uint16_t flags, bool noSpc)
        : id_(id), caseBlind_(flags & kBTreeCaseBlind), noSpc_(noSpc) {
        if (noSpc_) foldNoSpc(id, foldedId_);
    }

    void meet(const char* key) {
        key_ = key;
        if (noSpc_) foldNoSpc(key, foldedKey_);
    }
    int compare() const {
        if (noSpc_) return std::strcmp(foldedId_.c_str(), foldedKey_.c_str());
        return caseBlind_ ? compareCaseBlind(id_, key_) : std::strcmp(id_, key_);
    }
    bool matches() const {
        if (noSpc_) return matchPattern(foldedId_.c_str(), foldedKey_.c_str(), 0);
        return matchPattern(id_, key_, caseBlind_ ? 1 : 0);
    }

private:
    const char* id_;
    const char* key_ = "";
    bool caseBlind_;
    bool noSpc_;
    std::string foldedId_;
    std::string foldedKey_;
};

uint32_t lowBits(const BTreeValue& v) {
    int64_t value;
    std::memcpy(&value, &v, sizeof value);
    return static_cast<uint32_t>(value);
}

// Writes one record at the stream's position, which becomes its offset;
// 0 when that offset does not fit the image's 32 bits or a write fails.
unsigned long writeRecord(BTree& bt, BTreeNode* node, unsigned long left, unsigned long right) {
    long pos = std::ftell(bt.fp);
    if (pos <= 0 || static_cast<unsigned long>(pos) > UINT32_MAX) return 0;
    size_t keyBytes = std::strlen(node->id) + 1;
    if (!writeLong(bt.fp, static_cast<uint32_t>(left)) || !writeLong(bt.fp, static_cast<uint32_t>(right)) ||
        std::fwrite(node->id, 1, keyBytes, bt.fp) != keyBytes) {
        return 0;
    }
    int valueWritten = bt.diskCB ? bt.diskCB(&bt, node) : writeLong(bt.fp, lowBits(node->uval));
    return valueWritten ? static_cast<unsigned long>(pos) : 0;
}

// A child's record lies before its parent's (the writer works in post-order),
// which also rules out cycles.
bool childOffsetOk(uint32_t child, size_t parent) {
    return child == 0 || (child >= kHeaderLength && child < parent);
}

}  // namespace

BTree::~BTree() {
    clear();
}

void BTree::clear() {
    deleteNode(root);
    root = nullptr;
}

void BTree::setClientData(void* data) {
    extdata = data;
}

void BTree::deleteNode(BTreeNode* node) {
    if (!node) return;
    std::vector<BTreeNode*> stack{node};
    while (!stack.empty()) {
        BTreeNode* n = stack.back();
        // A child is unhooked when it is stacked, so its parent is met again
        // with one child fewer and freed once both are gone.
        if (n->left) {
            stack.push_back(n->left);
            n->left = nullptr;
            continue;
        }
        if (n->right) {
            stack.push_back(n->right);
            n->right = nullptr;
            continue;
        }
        stack.pop_back();
        if (deleteNodeCallback) deleteNodeCallback(extdata, n);
        delete[] n->id;
        delete n;
        if (nodeCount > 0) --nodeCount;
    }
}

BTreeNode* BTree::insert(const char* id, BTreeValue value, bool noSpc) {
    if (!id) return nullptr;
    KeyOrder order(id, flags, noSpc);
    BTreeNode** link = &root;
    while (*link) {
        BTreeNode* n = *link;
        order.meet(n->id);
        int c = order.compare();
        if (c == 0 && (flags & (kBTreeReplace | kBTreeKeepFirst))) {
            if (flags & kBTreeKeepFirst) return n;
            if (deleteNodeCallback) deleteNodeCallback(extdata, n);
            n->uval = value;
            return n;
        }
        link = c < 0 ? &n->left : &n->right;
    }
    size_t bytes = std::strlen(id) + 1;
    char* key = new (std::nothrow) char[bytes];
    if (!key) return nullptr;
    BTreeNode* node = new (std::nothrow) BTreeNode;
    if (!node) {
        delete[] key;
        return nullptr;
    }
    std::memcpy(key, id, bytes);
    node->id = key;
    node->uval = value;
    *link = node;
    ++nodeCount;
    return node;
}

BTreeNode* BTree::search(const char* id, BTreeNode* start, bool noSpc) {
    if (!id) return nullptr;
    bool pattern = isSearchPattern(id);
    KeyOrder order(id, flags, noSpc);
    for (BTreeNode* n = start ? start : root; n;) {
        order.meet(n->id);
        if (pattern && order.matches()) return n;
        int c = order.compare();
        if (!pattern && c == 0) return n;
        n = c < 0 ? n->left : n->right;
    }
    return nullptr;
}

BTreeNode* BTree::addNode(const char* id, BTreeValue value) {
    return insert(id, value, false);
}

BTreeNode* BTree::findNode(const char* id, BTreeNode* start) {
    return search(id, start, false);
}

BTreeNode* BTree::addNodeNoSpc(const char* id, BTreeValue value) {
    return insert(id, value, true);
}

BTreeNode* BTree::findNodeNoSpc(const char* id, BTreeNode* start) {
    return search(id, start, true);
}

int BTree::scanTree(BTreeNode* start, BTreeScanCallback callback) {
    scanLevel = 0;
    struct Pending {
        BTreeNode* node;
        int depth;
    };
    std::vector<Pending> stack;
    BTreeNode* n = start ? start : root;
    int depth = 0;
    while (n || !stack.empty()) {
        for (; n; n = n->left, ++depth) stack.push_back({n, depth});
        Pending p = stack.back();
        stack.pop_back();
        scanLevel = p.depth;
        if (callback && !callback(extdata, p.node)) return 0;
        n = p.node->right;
        depth = p.depth + 1;
    }
    scanLevel = 0;
    return 1;
}

int BTree::writeDisk(FILE* out, BTreeDiskCallback callback) {
    diskCB = callback;
    fp = out;
    int ok = 0;
    // Offsets are ftell positions and the root offset is patched at a fixed
    // byte from the start: anywhere but position 0 would give a broken image
    // and overwrite bytes of what the stream already holds.
    if (fp && std::ftell(fp) == 0 &&
        std::fprintf(fp, "BTREE 1 0 %04X %08lX\n", static_cast<unsigned>(flags), 0UL) ==
            static_cast<int>(kHeaderLength) &&
        std::fflush(fp) == 0) {
        if (!root) {
            ok = 1;
        } else {
            rootoffs = writeScanner(root);
            ok = rootoffs != 0 && std::fseek(fp, kRootOffsetAt, SEEK_SET) == 0 &&
                 std::fprintf(fp, "%08lX", rootoffs) == 8 && std::fflush(fp) == 0;
        }
    }
    fp = nullptr;
    return ok;
}

unsigned long BTree::writeScanner(BTreeNode* node) {
    if (!node || !fp) return 0;
    // Post-order: a record needs its children's offsets, so they go first.
    struct Frame {
        BTreeNode* node;
        unsigned long left = 0;
        unsigned long right = 0;
        int next = 0;  // 0: left child to write, 1: right child, 2: the node itself
    };
    std::vector<Frame> stack{{node}};
    for (;;) {
        Frame& f = stack.back();
        if (f.next == 0) {
            f.next = 1;
            if (BTreeNode* child = f.node->left) {
                stack.push_back({child});
                continue;
            }
        }
        if (f.next == 1) {
            f.next = 2;
            if (BTreeNode* child = f.node->right) {
                stack.push_back({child});
                continue;
            }
        }
        unsigned long offset = writeRecord(*this, f.node, f.left, f.right);
        if (!offset) return 0;
        stack.pop_back();
        if (stack.empty()) return offset;
        Frame& parent = stack.back();
        (parent.next == 1 ? parent.left : parent.right) = offset;
    }
}

int BTree::readDisk(const char* buf, size_t len, BTreeDiskCallback callback) {
    diskCB = callback;
    if (root) return 0;
    nodeCount = 0;
    if (!buf || len <= 22 || std::memcmp(buf, "BTREE ", 6) != 0) return 0;
    auto newline = static_cast<const char*>(std::memchr(buf, '\n', len));
    if (!newline) return 0;
    size_t lineLength = static_cast<size_t>(newline - buf);
    if (lineLength >= kMaxHeaderLine) return 0;
    char line[kMaxHeaderLine];
    std::memcpy(line, buf, lineLength);
    line[lineLength] = '\0';
    char ident[kMaxHeaderLine] = "";
    unsigned major = 0, minor = 0, headerFlags = 0;
    unsigned long offset = 0;
    // All five fields: a header cut short would otherwise read as an empty tree.
    if (std::sscanf(line, "%27s %u %u %x %lx", ident, &major, &minor, &headerFlags, &offset) != 5 ||
        ident[0] == '\0' || major == 0) {
        return 0;
    }
    flags = static_cast<uint16_t>(headerFlags & 7);
    rootoffs = offset;
    if (offset == 0) return 1;
    if (offset < kHeaderLength || offset >= len) return 0;
    rbuf = buf;
    rlen = len;
    root = diskReadScanTree(offset);
    rbuf = nullptr;
    rlen = 0;
    if (!root) nodeCount = 0;
    return root ? 1 : 0;
}

BTreeNode* BTree::diskReadScanTree(size_t offset) {
    if (!rbuf || offset < kHeaderLength || offset >= rlen) return nullptr;
    struct Pending {
        size_t offset;
        BTreeNode** link;
    };
    BTreeNode* top = nullptr;
    std::vector<Pending> pending{{offset, &top}};
    // Bytes taken by the pointers and keys read so far. Records never
    // overlap in a written image; refusing overlaps reads each record once
    // (a shared record would multiply) and keeps the copied keys within len.
    std::vector<bool> taken(rlen);
    bool ok = true;
    while (ok && !pending.empty()) {
        Pending p = pending.back();
        pending.pop_back();
        uint32_t left = 0, right = 0;
        BTreeNode* n = readDiskNode(p.offset, left, right);
        if (!n) {
            ok = false;
            break;
        }
        *p.link = n;
        ++nodeCount;
        size_t end = std::min(rlen, p.offset + kRecordPointers + std::strlen(n->id) + 1);
        for (size_t i = p.offset; ok && i < end; ++i) {
            ok = !taken[i];
            taken[i] = true;
        }
        ok = ok && childOffsetOk(left, p.offset) && childOffsetOk(right, p.offset);
        // Right stacked first: the left subtree is read before the right.
        if (right) pending.push_back({right, &n->right});
        if (left) pending.push_back({left, &n->left});
    }
    if (ok) return top;
    deleteNode(top);
    return nullptr;
}

BTreeNode* BTree::readDiskNode(size_t offset, uint32_t& left, uint32_t& right) {
    left = right = 0;
    if (!rbuf || offset > rlen || rlen - offset < kRecordPointers + 1) return nullptr;
    const char* key = rbuf + offset + kRecordPointers;
    auto nul = static_cast<const char*>(std::memchr(key, '\0', rlen - offset - kRecordPointers));
    if (!nul) return nullptr;
    size_t keyBytes = static_cast<size_t>(nul - key) + 1;
    size_t valueAt = offset + kRecordPointers + keyBytes;
    if (!diskCB && rlen - valueAt < kValueLength) return nullptr;
    char* id = new (std::nothrow) char[keyBytes];
    if (!id) return nullptr;
    BTreeNode* node = new (std::nothrow) BTreeNode;
    if (!node) {
        delete[] id;
        return nullptr;
    }
    std::memcpy(id, key, keyBytes);
    node->id = id;
    left = getLong(rbuf + offset);
    right = getLong(rbuf + offset + 4);
    diskOffs = valueAt;
    if (diskCB) {
        if (!diskCB(this, node)) {
            delete[] node->id;
            delete node;
            return nullptr;
        }
    } else {
        node->uval.value = getLong(rbuf + valueAt);
    }
    return node;
}

std::unique_ptr<BTree> newBTree(uint16_t flags) {
    std::unique_ptr<BTree> bt(new (std::nothrow) BTree());
    if (bt) bt->flags = flags;
    return bt;
}

}  // namespace ruva

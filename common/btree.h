// An unbalanced binary search tree keyed by text, with a value per node and
// a disk image format.
//
// Not balanced on purpose: which of several equal keys, and which pattern
// match, a search finds depends on the shape that insertion order gives.
// Keys added in sorted order make a list, so every walk over the tree uses
// an explicit stack instead of recursion.
//
// Disk image: the header line "BTREE 1 0 %04X %08lX\n" (flags, offset of the
// root's record; 24 bytes, the root offset at byte 15), then one record per
// node in post-order (left subtree, right subtree, node), so the root's
// record comes last and every child's record lies before its parent's:
//   left   4 bytes big-endian  absolute offset of the left child's record, 0 = none
//   right  4 bytes big-endian  same for the right child
//   key    the key and its NUL
//   value  4 bytes big-endian  low 32 bits of uval, unless diskCB writes it
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

namespace ruva {

union BTreeValue {
    void* data;
    int64_t value;
};

struct BTreeNode {
    BTreeNode* left = nullptr;
    BTreeNode* right = nullptr;
    char* id = nullptr;  // the key, owned by the tree
    BTreeValue uval{};
};

class BTree;

// Scan callback: 0 stops the walk.
using BTreeScanCallback = int (*)(void* extdata, BTreeNode* node);
// Told of a node whose value is replaced or which is deleted; the node still
// holds its key and value.
using BTreeDeleteCallback = void (*)(void* extdata, BTreeNode* node);
// Writes the node's value to bt->fp, or reads it from bt->rbuf at
// bt->diskOffs (within bt->rlen); 0 on failure.
using BTreeDiskCallback = int (*)(BTree* bt, BTreeNode* node);

// Flag bits.
constexpr uint16_t kBTreeCaseBlind = 1;  // keys compared ASCII case-blind
constexpr uint16_t kBTreeReplace = 2;    // an equal key replaces the value
constexpr uint16_t kBTreeKeepFirst = 4;  // an equal key keeps the first value (wins over 2)

class BTree {
public:
    // del: clear().
    ~BTree();
    BTree(const BTree&) = delete;
    BTree& operator=(const BTree&) = delete;

    // Deletes every node (deleteNode on the root); root becomes null.
    void clear();
    // The pointer given to scan and delete callbacks.
    void setClientData(void* extdata);
    // Deletes node and everything under it, children before parents (left
    // subtree, right subtree, node); per node deleteNodeCallback is called
    // (key and value intact, children already gone and their pointers null),
    // then the key and the node are freed and nodeCount shrinks. The node is
    // not unlinked from its parent: only meant for the root (clear).
    void deleteNode(BTreeNode* node);

    // Inserts a copy of id: less goes left, greater or equal right. Under
    // kBTreeKeepFirst an equal key returns the existing node unchanged; under
    // kBTreeReplace deleteNodeCallback sees the node with its old value, then
    // the new value is stored and the node returned. Null for a null id or
    // when memory runs out (the tree unchanged).
    BTreeNode* addNode(const char* id, BTreeValue value);
    // Searches from start, or from the root when start is null. An exact key
    // gives the equal node nearest to start; find the next equal one from its
    // right child (when it has one: null restarts at the root). A pattern
    // (isSearchPattern) is matched with matchPattern on each node along the
    // path of its own text only; the first match is returned. Null when none.
    BTreeNode* findNode(const char* id, BTreeNode* start);
    // As addNode and findNode, but comparing ASCII-lower-cased copies of both
    // texts without white space and control characters (whatever flag 1
    // says); patterns are matched on such copies too. The stored key is id
    // as given.
    BTreeNode* addNodeNoSpc(const char* id, BTreeValue value);
    BTreeNode* findNodeNoSpc(const char* id, BTreeNode* start);

    // In-order walk from start, or from the root when start is null; depth
    // counts from the starting node (scanLevel 0). callback (may be null) is
    // called per node with scanLevel at that node's depth; its 0 ends the
    // walk at once and gives 0. Otherwise 1, also for an empty tree.
    int scanTree(BTreeNode* start, BTreeScanCallback callback);

    // Writes the image to fp, which must be at position 0 (offsets in the
    // image are ftell positions): the header with root offset 0, flushed;
    // then the records and the root offset patched in at byte 15, flushed.
    // diskCB = callback (null: the low 32 bits of uval are written). 1 on
    // success; 0 when fp is not at position 0, on any write, seek or flush
    // failure, or when a record offset does not fit in 32 bits; fp is left
    // wherever that happened.
    int writeDisk(FILE* fp, BTreeDiskCallback callback);
    // Builds the tree from an image held whole in buf; keys and values are
    // copied, so buf may go once it returns. diskCB = callback (null: values
    // are read as unsigned 32-bit numbers). The header line must start with
    // "BTREE ", end in a newline and be under 28 characters, and give all of
    // "%s %u %u %x %lx" with a non-zero major version; flags become its flags
    // & 7. Root offset 0 is an empty tree. Each record must lie wholly in buf
    // at an offset of 24 or more, a child's before its parent's, and no two
    // records may overlap. 1 on success; 0 when the tree is not empty (it is
    // left as it was) or on any fault (the tree is then empty).
    int readDisk(const char* buf, size_t len, BTreeDiskCallback callback);

    // Reads the subtree whose root record is at offset in rbuf/rlen, checking
    // it as readDisk says; nodeCount counts each node read. Null on any fault,
    // with what was read of it deleted.
    BTreeNode* diskReadScanTree(size_t offset);
    // Reads one record at offset: its child offsets into left and right, a
    // copy of its key, diskOffs = the position after the key's NUL, then the
    // value (diskCB, or 4 bytes there). Null when a field runs past rlen,
    // diskCB fails or memory runs out.
    BTreeNode* readDiskNode(size_t offset, uint32_t& left, uint32_t& right);
    // Writes node's subtree to fp in post-order; the offset of node's record,
    // 0 on failure.
    unsigned long writeScanner(BTreeNode* node);

    BTreeDeleteCallback deleteNodeCallback = nullptr;
    BTreeDiskCallback diskCB = nullptr;

    uint16_t flags = 0;
    BTreeNode* root = nullptr;
    unsigned long nodeCount = 0;
    int scanLevel = 0;           // depth of the node a scan is at
    void* extdata = nullptr;     // given to scan and delete callbacks
    FILE* fp = nullptr;          // image being written, only during writeDisk
    const char* rbuf = nullptr;  // image being read, only during readDisk
    size_t rlen = 0;
    unsigned long rootoffs = 0;  // offset of the root's record
    size_t diskOffs = 0;         // read position after the key of the node being read

private:
    friend std::unique_ptr<BTree> newBTree(uint16_t flags);
    BTree() = default;

    BTreeNode* insert(const char* id, BTreeValue value, bool noSpc);
    BTreeNode* search(const char* id, BTreeNode* start, bool noSpc);
};

// An empty tree with both callbacks null; null when memory runs out.
std::unique_ptr<BTree> newBTree(uint16_t flags);

}  // namespace ruva

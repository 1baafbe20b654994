// The document tree: one node per element, text run, comment and
// declaration, built over a scanner node list by the element context stack,
// which decides where elements open and close (implied ones too). The tree
// is searched by tag paths ("DOC-ID/DATE/Y") and printed back as SGML.
//
// Tree nodes point into the node list, which must outlive the tree; a tree
// is valid from a successful parseDocumentInstance until the next clear,
// lexicalScan, registerLexicalScan or build. Walks (free, print, find) use
// an explicit stack, so depth costs no stack frames.
//
// Operations give 1 or a pointer, or 0/null with the error text set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <string>

#include "bmod/ruvaserv/cgi/checked_format.h"
#include "bmod/ruvaserv/sgml/scontext.h"
#include "bmod/ruvaserv/sgml/sgmlscanner.h"
#include "bmod/ruvaserv/sgml/tagmap.h"
#include "common/docmodel/content_type.h"
#include "common/pool.h"

namespace ruva {

// SgmlTree::flags
inline constexpr uint16_t kTreeExtract = 0x1;         // text extraction; mirrored into the context stack
inline constexpr uint16_t kTreeListRegistered = 0x2;  // snl is the caller's, never freed here
inline constexpr uint16_t kTreeJapanese = 0x4;        // the public identifier contains "Uja"

inline constexpr size_t kTreePathMax = 1039;        // characters of a findNode path
inline constexpr size_t kTreeMessageMax = 511;      // error texts are cut here
inline constexpr uint16_t kTreePoolFlags = 3;       // kPoolNoSemaphore | kPoolPrivate
inline constexpr const char* kTreeJapaneseMark = "Uja";

// One element or leaf; an item of the tree's pool.
struct SgmlTreeNode {
    SgmlTreeNode* parent = nullptr;  // enclosing element; null at top level
    SgmlTreeNode* next = nullptr;    // next sibling
    SgmlTreeNode* fchild = nullptr;
    SgmlTreeNode* lchild = nullptr;
    SgmlNode* sn = nullptr;  // tag-name, text, comment or declaration node; nodes never move
    // The node that ended the element: its end tag, or the node whose
    // arrival made the context stack close it (the list's SPS_EOF node for
    // an element open at the end). Null while open and for leaves. Text
    // walks stop here, so they never run into later elements.
    SgmlNode* endsn = nullptr;
    int32_t tagno = -1;  // tag map number; -1 for a leaf or a name not starting with a letter
};

// An attribute for addSgmlTreeNodeChildTag. A null value ends the list;
// "" writes the name alone.
struct SgmlTreeAttr {
    const char* name;
    const char* value;
};

class SgmlTree : public ErrorText {
public:
    // del: clear, then the scanner, the context stack, the pool.
    ~SgmlTree();
    SgmlTree(const SgmlTree&) = delete;
    SgmlTree& operator=(const SgmlTree&) = delete;

    // Frees every tree node and an owned node list; resets doct, subt,
    // topelem, the pool, the message, the context stack and, as the
    // stack forgets them, its callbacks are registered again.
    void clear();
    // Takes kTreeExtract only, into the tree and the context stack.
    void setFlags(uint16_t newFlags);

    // lexicalScan, then parseDocumentInstance.
    int createSgmlInstance(const char* text);
    // Scans the file `name` into a node list of the tree's own. 353, 354, 355.
    int lexicalScan(const char* name);
    // Builds over the caller's list, which the tree never frees. Always 1.
    int registerLexicalScan(SgmlNodeList* list, DocType doctype, SubDocType subtype);
    // Document type, map and build. 356, 357; the scanner's and the
    // context stack's texts as they are.
    int parseDocumentInstance();
    // A new pool sized to the list, the walk, then the stack emptied. 358, 359.
    int buildTree();
    // The walk over the node list from firstNode; 0 stops at the first failure.
    int internalBuildTree(SgmlNode* firstNode);

    // Context stack callbacks; data is the tree. 1, or 0 when memory fails.
    static int addContextCallback(ContextEntry* entry, void* data);
    static int endContextCallback(ContextEntry* entry, void* data);

    // Path search: components joined by '/', each matched by tag number or
    // by name ignoring case. findRelNode searches from node's first child
    // (root when null), findNextRelNode from node's next sibling (root when
    // null). Null when not found or the path is longer than kTreePathMax.
    SgmlTreeNode* findRelNode(SgmlTreeNode* node, const char* path);
    SgmlTreeNode* findNextRelNode(SgmlTreeNode* node, const char* path);
    SgmlTreeNode* findNode(const char* path);

    // Prints the tree as markup into outname ("-" = standard output, not
    // closed). 360, 361; a failed write, fflush or fclose 361 [sgmltree/12].
    int print(const char* outname);
    // Prints node, its children and its following siblings at level.
    int internalPrintTree(SgmlTreeNode* node, int level);

    // Editing. Each new scanner node also goes to the end of the node list.
    // Without a parent the new node becomes root, with the old root chain
    // as its children (parent set along it, lchild its end).
    SgmlTreeNode* addSgmlTreeNodeChild(SgmlTreeNode* parent, SgmlNode* sn);
    // A new scanner node of that state and value. 362.
    SgmlTreeNode* addSgmlTreeNodeChildNode(SgmlTreeNode* parent, SgmlParserState state, const char* value);
    // A tag-name node with its attribute nodes; the last node carries
    // kNodeTagEnd. Makes room for kTagChainNodes nodes first.
    SgmlTreeNode* addSgmlTreeNodeChildTag(SgmlTreeNode* parent, const char* tag,
                                          std::initializer_list<SgmlTreeAttr> attrs);

    // A leaf for sn under cur (root when there is none yet); null on memory failure.
    SgmlTreeNode* createLinkedTreeNode(SgmlNode* sn);
    // A pool item, links empty, tagno -1. 363.
    SgmlTreeNode* allocTreeNode();
    // Frees node, its children and its following siblings.
    void freeTreeNode(SgmlTreeNode* node);
    // topelem and pubid from the list's first node; the scanner's text.
    int initDoctype();

    std::unique_ptr<SgmlScanner> ss;
    SgmlNodeList* snl = nullptr;  // the list built over; owned (ownedList_) unless kTreeListRegistered
    std::unique_ptr<SContext> scon;  // bound to this tree's callbacks
    std::unique_ptr<Pool> pool;      // tree nodes; replaced at every build
    SgmlTreeNode* root = nullptr;    // first top-level node
    SgmlTreeNode* cur = nullptr;     // element new leaves attach to
    MapDtd dtd = MAPDTD_UNKNOWN;
    DocType doct = DOCT_UNKNOWN;
    SubDocType subt = DOC_SUBTYPE_UNKNOWN;
    uint16_t flags = 0;     // kTree*
    FILE* ofp = nullptr;    // print stream while printing
    FILE* wfp = nullptr;    // extracted text; nothing sets it
    std::string topelem;    // up to kSgmlTopElemMax characters
    std::string pubid;      // up to kSgmlPubidMax characters

private:
    friend std::unique_ptr<SgmlTree> newSgmlTree(uint16_t flags);
    SgmlTree() = default;

    std::unique_ptr<SgmlNodeList> ownedList_;
    SgmlNode* walkNode_ = nullptr;  // node being built over: it ends what the stack closes now
};

// Context stack (MAPDTD_UNKNOWN) bound to the tree, scanner, flags. Null on failure.
std::unique_ptr<SgmlTree> newSgmlTree(uint16_t flags);

}  // namespace ruva

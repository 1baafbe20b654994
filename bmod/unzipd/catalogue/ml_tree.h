// The multilevel node tree: folder nodes read from the structure file, the
// libraries hanging on them, and the table of hash ids that names nodes and
// libraries in the protocol.
//
// Node records live in the catalogue's shared node pool and the table in its
// shared block (catalogue_shared.h), so session processes forked from the
// daemon see the tree as it stands now. Records hold raw pointers into the
// pools only. The tree operations themselves are ZipList's (zip_list.h); the
// read-only look-ups below need no catalogue.
#pragma once

#include <cstddef>
#include <ctime>
#include <type_traits>

#include "common/ml_node_type.h"

namespace ruva {

class ZipStructure;

// Slots of the hash-id table; the root always holds slot 0.
constexpr int kMlHashSize = 32768;

constexpr size_t kMlNameMax = 255;    // characters of a node name
constexpr size_t kMlLabelMax = 1023;  // characters of a label: a whole structure-file line
constexpr size_t kMlPathMax = 4096;   // characters of a node folder or index file

// Name of the root of the default tree; also marks the root in messages.
inline constexpr const char* kMlDefaultRootName = "<!--@@servname-->";

// One slot: free when MlNode is null. MlNode is a MlZipStruct for
// ML_NODE_TYPE_SUB and a ZipStructure for ML_NODE_TYPE_ZS.
struct MlHashTable {
    MlNodeType type;
    void* MlNode;
};

// One node of the tree.
struct MlZipStruct {
    MlZipStruct* next;   // next sibling
    MlZipStruct* child;  // first child
    int level;
    int ID;            // its hash id; 0 for the root
    time_t mTime;      // when it was added
    ZipStructure* zs;  // first library, chained through MlNext, sorted by comment
    char descr[kMlNameMax + 1];
    char** ldapattributes;  // never set
    char label[kMlLabelMax + 1];
    char ifile[kMlPathMax + 1];    // index file, or "-"
    char libpath[kMlPathMax + 1];  // the folder, ending in "/" (unless it begins with "-")
};
static_assert(std::is_standard_layout_v<MlZipStruct> && std::is_trivially_destructible_v<MlZipStruct>);

// The hash of two texts before probing: a 16-bit sum of each character (a
// signed byte) times a weight that starts at 1 and grows tenfold per
// character, the weight restarting at 1 for second; a null text adds
// nothing. The result is the sum & 0x7fff. Weights wrap in 16 bits, so only
// the first 15 characters of each text count (the 15th by its parity only).
int mlHashOf(const char* first, const char* second);

// The node at or below node (its child subtree, then its siblings) whose ID
// is ID: the child subtree is tried before the node itself. Null when none.
MlZipStruct* inOrderID(MlZipStruct* node, int ID);

// Look-up by folder (check 1) or by node name (check 2); any other check
// finds nothing. Check 1 compares token with a node's libpath (blanks and
// one trailing slash removed, at most 1024 characters), check 2 with its
// name (blanks removed); both case-blind. Order: the node, its child
// subtree, its siblings. With check 2, a token holding a slash or backslash
// given at the root (ID 0) is a path of names, split at slashes and
// backslashes when it holds a slash, else at backslashes: the first must
// name the root, each next one a node among the children of the last found.
MlZipStruct* inOrder(MlZipStruct* node, const char* token, int check);

}  // namespace ruva

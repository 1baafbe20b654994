#include "bmod/ruvaserv/sgml/sgmltree.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string_view>
#include <vector>

#include "common/html_escape.h"
#include "common/text.h"
#include "common/text_view.h"

namespace ruva {
namespace {

// Heap size of a pool made for editing a tree that was never built; it grows.
constexpr size_t kTreeEditHeap = 256;

TableFormat msg(int index, const char* tag) { return msgFormat(index, tag); }

bool equalCaseBlind(std::string_view a, std::string_view b) {
    return a.size() == b.size() && startsCaseBlindAt(a, 0, b);
}

bool startsWithLetter(const char* name) {
    return name && isAsciiAlpha(static_cast<unsigned char>(name[0]));
}

void appendChild(SgmlTreeNode* parent, SgmlTreeNode* node) {
    node->parent = parent;
    if (parent->lchild) {
        parent->lchild->next = node;
    } else {
        parent->fchild = node;
    }
    parent->lchild = node;
}

// A marked section other than IGNORE keeps its content in the tree, so its
// opening tag prints only its declaration parts.
bool opensIncludedSection(const SgmlNode* tag) {
    if (!tag->text() || std::strcmp(tag->text(), "![") != 0) return false;
    const SgmlNode* decl = tag->next;
    return !(decl && decl->state == SPS_DECLNAME && decl->text() && equalCaseBlind(decl->text(), "IGNORE"));
}

bool isContent(const SgmlNode* node) {
    return node->state == SPS_FREETEXT || node->state == SPS_TAGNAME || node->state == SPS_COMMENT;
}

// Writes one tree as markup. Failures are collected from the stream and
// from printAttrVal and reported once at the end.
class TreePrinter {
public:
    TreePrinter(SgmlTree& tree, int level) : tree_(tree), out_(tree.ofp), running_(level) {}

    int run(SgmlTreeNode* node);

private:
    void put(const char* text) {
        if (text && std::fputs(text, out_) == EOF) failed_ = true;
    }
    void put(char c) {
        if (std::fputc(c, out_) == EOF) failed_ = true;
    }
    // " [" going deeper; going shallower one ']' per level, and '>' when
    // it closes a marked section between tree nodes (inside a tag the tag
    // writes its own '>').
    void levelMark(int level, bool insideTag) {
        if (level > running_) {
            put(" [");
        } else if (level < running_) {
            for (int i = level; i < running_; ++i) put(']');
            if (!insideTag) put('>');
        }
        running_ = level;
    }
    void putTag(const SgmlTreeNode* node);
    void putTagPart(const SgmlNode* part, int& nested);
    void putStart(const SgmlTreeNode* node);
    void putEnd(const SgmlTreeNode* node);

    SgmlTree& tree_;
    FILE* out_;
    int running_;
    bool failed_ = false;
};

void TreePrinter::putTagPart(const SgmlNode* part, int& nested) {
    const char* text = part->text();
    switch (part->state) {
    case SPS_TAGNAME:
        put('<');
        put(text);
        ++nested;
        break;
    case SPS_FREETEXT: put(text); break;
    case SPS_TAGATTRNAME:
        put(' ');
        put(text);
        break;
    case SPS_TAGATTRVALUE:
        put('=');
        if (!tree_.ss->printAttrVal(part, out_)) failed_ = true;
        break;
    case SPS_COMMENT:
        put(text);
        put("--");
        break;
    case SPS_DECLNAME:
    case SPS_DECLTYPE:
    case SPS_DECLID:
        if ((text && *text) || (part->flags & (kNodeQuoted | kNodeApostrophe))) put(' ');
        if (!tree_.ss->printAttrVal(part, out_)) failed_ = true;
        break;
    default: break;
    }
}

// '<', the name, then the tag's own nodes up to the one that ends it; tags
// nested in it (a DOCTYPE's subset, an ignored section) are written whole.
void TreePrinter::putTag(const SgmlTreeNode* node) {
    const SgmlNode* sn = node->sn;
    const char* mapped = node->tagno >= 0 ? tree_.scon->getTagName(node->tagno) : nullptr;
    put('<');
    put(mapped ? mapped : sn->text());
    // An implied element stands on its child's start tag: the attributes are the child's.
    bool implied = node->tagno >= 0 && tree_.scon->tagMap->mapTag(sn->text()) != node->tagno;
    if ((sn->flags & kNodeTagEnd) || implied) {
        put('>');
        return;
    }
    const bool declOnly = opensIncludedSection(sn);
    int nested = 0;
    for (const SgmlNode* p = sn->next; p && p->state != SPS_EOF; p = p->next) {
        if (declOnly && isContent(p)) {
            // " [" goes with the declaration: the content may belong to
            // another element (an end tag implied inside the section).
            levelMark(p->level, true);
            return;
        }
        levelMark(p->level, true);
        putTagPart(p, nested);
        if (!(p->flags & kNodeTagEnd)) continue;
        if (nested > 0) {
            --nested;
            put('>');
            continue;
        }
        // A subset or ignored section closes with the tag: "]>" or "]]>".
        if (p->next && p->next->level < running_) levelMark(p->next->level, true);
        put('>');
        return;
    }
}

void TreePrinter::putStart(const SgmlTreeNode* node) {
    const SgmlNode* sn = node->sn;
    if (!sn) return;
    levelMark(sn->level, false);
    if (sn->state == SPS_FREETEXT) {
        put(sn->text());
    } else if (sn->state == SPS_TAGNAME) {
        putTag(node);
    }
}

// The end tag: always after children; without them only for a tag the map
// knows as neither empty nor empty-with-attributes.
void TreePrinter::putEnd(const SgmlTreeNode* node) {
    const SgmlNode* sn = node->sn;
    if (!sn || sn->state != SPS_TAGNAME || !startsWithLetter(sn->text())) return;
    if (!node->fchild) {
        const TagMap& map = *tree_.scon->tagMap;
        int tagFlags = -1;
        if (map.flags & kTagMapBigEntries) {
            if (const BigTagEntry* e = map.getBigTagEntry(sn->text())) tagFlags = e->flags;
        } else if (const TagEntry* e = map.getTagEntry(sn->text())) {
            tagFlags = e->flags;
        }
        if (tagFlags < 0 || (tagFlags & (kTagEmpty | kTagEmptyWithAttrs))) return;
    }
    // The end stands where the element ended: inside a section when a tag
    // there implied it.
    levelMark(node->endsn ? node->endsn->level : sn->level, false);
    const char* mapped = node->tagno >= 0 ? tree_.scon->getTagName(node->tagno) : nullptr;
    put("</");
    put(mapped ? mapped : sn->text());
    put('>');
}

// Pre-order with an explicit stack of elements whose children are printing.
int TreePrinter::run(SgmlTreeNode* node) {
    std::vector<const SgmlTreeNode*> open;
    const SgmlTreeNode* n = node;
    while (n || !open.empty()) {
        if (!n) {
            n = open.back();
            open.pop_back();
            putEnd(n);
            n = n->next;
            continue;
        }
        putStart(n);
        if (n->fchild && n->sn && n->sn->state == SPS_TAGNAME) {
            open.push_back(n);
            n = n->fchild;
            continue;
        }
        putEnd(n);
        n = n->next;
    }
    return failed_ ? 0 : 1;
}

}  // namespace

std::unique_ptr<SgmlTree> newSgmlTree(uint16_t flags) {
    std::unique_ptr<SgmlTree> tree(new (std::nothrow) SgmlTree);
    if (!tree) return nullptr;
    tree->scon = newSContext(MAPDTD_UNKNOWN, 0);
    if (!tree->scon) return nullptr;
    tree->scon->initCallbacks(&SgmlTree::addContextCallback, tree.get(), &SgmlTree::endContextCallback, tree.get());
    tree->ss = newSgmlScanner(0);
    if (!tree->ss) return nullptr;
    tree->setFlags(flags);
    return tree;
}

SgmlTree::~SgmlTree() {
    if (scon && ss) clear();
}

void SgmlTree::clear() {
    if (pool) freeTreeNode(root);
    root = cur = nullptr;
    if (ownedList_) ss->freeNodeList(std::move(ownedList_));
    snl = nullptr;
    flags &= ~kTreeListRegistered;
    doct = DOCT_UNKNOWN;
    subt = DOC_SUBTYPE_UNKNOWN;
    topelem.clear();
    if (pool) pool->clear();
    setError(nullptr);
    scon->clear();
    scon->initCallbacks(&SgmlTree::addContextCallback, this, &SgmlTree::endContextCallback, this);
}

void SgmlTree::setFlags(uint16_t newFlags) {
    flags = static_cast<uint16_t>((flags & ~kTreeExtract) | (newFlags & kTreeExtract));
    scon->flags = static_cast<uint16_t>((scon->flags & ~kTreeExtract) | (newFlags & kTreeExtract));
}

int SgmlTree::createSgmlInstance(const char* text) { return lexicalScan(text) && parseDocumentInstance(); }

int SgmlTree::lexicalScan(const char* name) {
    if (!ss->setInput(name)) {
        setError(msg(353, "sgmltree/1"), ss->getError());
        return 0;
    }
    if (ownedList_) ss->freeNodeList(std::move(ownedList_));
    snl = nullptr;
    flags &= ~kTreeListRegistered;
    doct = DOCT_UNKNOWN;
    subt = DOC_SUBTYPE_UNKNOWN;
    getDocType(ss->indata, ss->indataSize, &doct, &subt);
    ownedList_ = ss->newNodeList(0);
    if (!ownedList_) {
        setError(msg(354, "sgmltree/2"), ss->getError());
        ss->closeInput();
        return 0;
    }
    if (!ss->buildNodeList(ownedList_.get())) {
        setError(msg(355, "sgmltree/3"), ss->getError());
        ss->freeNodeList(std::move(ownedList_));
        ss->closeInput();
        return 0;
    }
    snl = ownedList_.get();
    ss->closeInput();
    return 1;
}

int SgmlTree::registerLexicalScan(SgmlNodeList* list, DocType doctype, SubDocType subtype) {
    if (ownedList_) ss->freeNodeList(std::move(ownedList_));
    snl = list;
    flags |= kTreeListRegistered;
    doct = doctype;
    subt = subtype;
    return 1;
}

int SgmlTree::parseDocumentInstance() {
    if (!snl) {
        setError(msg(356, "sgmltree/4"));
        return 0;
    }
    if (!initDoctype()) return 0;
    dtd = scon->tagMap->doctypeToDtd(topelem.c_str(), pubid.c_str());
    if (dtd == MAPDTD_UNKNOWN) {
        setError(msg(357, "sgmltree/5"), htmlEscaped(topelem));
        return 0;
    }
    flags &= ~kTreeJapanese;
    if (pubid.find(kTreeJapaneseMark) != std::string::npos) flags |= kTreeJapanese;
    if (!scon->setMap(dtd, topelem.c_str())) {
        setError("%s", scon->getError());
        return 0;
    }
    return buildTree();
}

int SgmlTree::buildTree() {
    if (!snl || !snl->firstNode || snl->firstNode->state == SPS_EOF) {
        setError(msg(358, "sgmltree/6"));
        return 0;
    }
    // Entries left by a failed build point into the pool about to go.
    scon->clear();
    pool.reset();
    root = cur = nullptr;
    const size_t count = std::max<size_t>(snl->pool ? snl->pool->usedItems : 0, 1);
    pool = newPool(sizeof(SgmlTreeNode), count, kTreePoolFlags);
    if (!pool) {
        setError(msg(359, "sgmltree/7"), static_cast<unsigned long>(count));
        return 0;
    }
    if (!internalBuildTree(snl->firstNode)) return 0;
    if (!root) {
        setError(msg(358, "sgmltree/6"));
        return 0;
    }
    // walkNode_ is the list's end: it ends every element still open.
    if (!scon->empty()) {
        setError("%s", scon->getError());
        walkNode_ = nullptr;
        return 0;
    }
    walkNode_ = nullptr;
    return 1;
}

int SgmlTree::internalBuildTree(SgmlNode* firstNode) {
    SgmlNode* p = firstNode;
    for (SgmlNode* next; p && p->state != SPS_EOF; p = next) {
        next = p->next;
        const char* name = p->text() ? p->text() : "";
        switch (p->state) {
        case SPS_FREETEXT:
            if (scon->getCurTagFlags() & kTagOpenContent) break;
            if (!createLinkedTreeNode(p)) return 0;
            if ((flags & kTreeExtract) && wfp && (scon->getCurTagFlags() & kTagText) && *name &&
                std::strcmp(name, "\n") != 0)
                std::fprintf(wfp, "%s\n", name);
            break;
        case SPS_TAGNAME:
            walkNode_ = p;
            if (name[0] == '/' || isAsciiAlpha(static_cast<unsigned char>(name[0]))) {
                if (!(name[0] == '/' ? scon->end(p) : scon->start(p))) {
                    setError("%s", scon->getError());
                    walkNode_ = nullptr;
                    return 0;
                }
            } else if ((name[0] == '?' || name[0] == '!') && !(scon->getCurTagFlags() & kTagOpenContent)) {
                if (!createLinkedTreeNode(p)) return 0;
            }
            break;
        case SPS_COMMENT:
            if (!createLinkedTreeNode(p)) return 0;
            break;
        case SPS_DECLNAME:
            if (equalCaseBlind(name, "IGNORE")) next = skipIgnoredSection(p, nullptr);
            break;
        default: break;  // attribute names and values belong to their tag
        }
    }
    walkNode_ = p;
    return 1;
}

int SgmlTree::addContextCallback(ContextEntry* entry, void* data) {
    auto* tree = static_cast<SgmlTree*>(data);
    // The entry starts as a copy of its parent's; a failed push must not
    // leave the parent's node here for the pop to close.
    SgmlTreeNode* parent = entry->parent ? reinterpret_cast<SgmlTreeNode*>(entry->parent->u[0]) : nullptr;
    entry->u[0] = 0;
    SgmlTreeNode* node = tree->allocTreeNode();
    if (!node) return 0;
    node->sn = entry->sn;
    node->tagno = entry->tagno;
    entry->u[0] = reinterpret_cast<uintptr_t>(node);
    if (parent) {
        appendChild(parent, node);
    } else if (!tree->root) {
        tree->root = node;
    } else {
        SgmlTreeNode* last = tree->root;
        while (last->next) last = last->next;
        last->next = node;
    }
    tree->cur = node;
    return 1;
}

int SgmlTree::endContextCallback(ContextEntry* entry, void* data) {
    auto* tree = static_cast<SgmlTree*>(data);
    if (auto* node = reinterpret_cast<SgmlTreeNode*>(entry->u[0])) {
        node->endsn = tree->walkNode_;
        tree->cur = node->parent;
    }
    return 1;
}

namespace {

bool matchesComponent(const SgmlTreeNode* node, std::string_view component, int tagno) {
    if (node->tagno >= 0 && node->tagno == tagno) return true;
    return node->sn && node->sn->state == SPS_TAGNAME && node->sn->text() &&
           equalCaseBlind(node->sn->text(), component);
}

// Components are matched among siblings from start, then among the found
// node's children; empty components ("a//b") are skipped.
SgmlTreeNode* findFrom(const TagMap& map, SgmlTreeNode* start, const char* path) {
    if (!path || std::strlen(path) > kTreePathMax) return nullptr;
    std::string_view rest(path);
    SgmlTreeNode* n = start;
    bool any = false;
    while (!rest.empty()) {
        size_t slash = rest.find('/');
        std::string component(rest.substr(0, slash));
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        if (component.empty()) continue;
        if (any) {
            if (!n->fchild) return nullptr;
            n = n->fchild;
        }
        const int tagno = map.mapTag(component.c_str());
        while (n && !matchesComponent(n, component, tagno)) n = n->next;
        if (!n) return nullptr;
        any = true;
    }
    return any ? n : nullptr;
}

}  // namespace

SgmlTreeNode* SgmlTree::findRelNode(SgmlTreeNode* node, const char* path) {
    return findFrom(*scon->tagMap, node ? node->fchild : root, path);
}

SgmlTreeNode* SgmlTree::findNextRelNode(SgmlTreeNode* node, const char* path) {
    return findFrom(*scon->tagMap, node ? node->next : root, path);
}

SgmlTreeNode* SgmlTree::findNode(const char* path) { return findRelNode(nullptr, path); }

int SgmlTree::print(const char* outname) {
    if (!root) {
        setError(msg(360, "sgmltree/8"));
        return 0;
    }
    const bool toStdout = outname && std::strcmp(outname, "-") == 0;
    FILE* file = toStdout ? stdout : outname ? std::fopen(outname, "w") : nullptr;
    if (!file) {
        setError(msg(361, "sgmltree/9"), htmlEscaped(outname ? outname : ""));
        return 0;
    }
    ofp = file;
    int ok = internalPrintTree(root, 0);
    if (std::ferror(file)) ok = 0;
    if (std::fflush(file) != 0) ok = 0;
    if (!toStdout && std::fclose(file) != 0) ok = 0;
    ofp = nullptr;
    if (!ok) setError(msg(361, "sgmltree/12"), htmlEscaped(outname));
    return ok;
}

int SgmlTree::internalPrintTree(SgmlTreeNode* node, int level) {
    if (!ofp) return 0;
    return TreePrinter(*this, level).run(node);
}

SgmlTreeNode* SgmlTree::addSgmlTreeNodeChild(SgmlTreeNode* parent, SgmlNode* sn) {
    if (!snl) {
        setError(msg(356, "sgmltree/4"));
        return nullptr;
    }
    SgmlTreeNode* node = allocTreeNode();
    if (!node) return nullptr;
    node->sn = sn;
    if (sn->state == SPS_TAGNAME && startsWithLetter(sn->text())) node->tagno = scon->tagMap->mapTag(sn->text());
    ss->insertSgmlNode(snl, kInsertAtEnd, sn);
    if (parent) {
        appendChild(parent, node);
        return node;
    }
    // A new root holds the old top-level chain.
    node->fchild = root;
    for (SgmlTreeNode* n = root; n; n = n->next) {
        n->parent = node;
        node->lchild = n;
    }
    root = node;
    return node;
}

SgmlTreeNode* SgmlTree::addSgmlTreeNodeChildNode(SgmlTreeNode* parent, SgmlParserState state, const char* value) {
    if (!snl) {
        setError(msg(356, "sgmltree/4"));
        return nullptr;
    }
    SgmlNode* sn = ss->allocSgmlNode(snl, state, value);
    if (!sn) {
        setError(msg(362, "sgmltree/10"));
        return nullptr;
    }
    SgmlTreeNode* node = addSgmlTreeNodeChild(parent, sn);
    if (!node) ss->freeSgmlNode(snl, sn);
    return node;
}

SgmlTreeNode* SgmlTree::addSgmlTreeNodeChildTag(SgmlTreeNode* parent, const char* tag,
                                                std::initializer_list<SgmlTreeAttr> attrs) {
    if (!snl) {
        setError(msg(356, "sgmltree/4"));
        return nullptr;
    }
    if (!ss->verifyFreeNodes(snl, kTagChainNodes)) {
        setError("%s", ss->getError());
        return nullptr;
    }
    SgmlNode* first = ss->allocSgmlNode(snl, SPS_TAGNAME, tag);
    SgmlNode* last = first;
    auto chainNode = [&](SgmlParserState state, const char* value) {
        SgmlNode* n = ss->allocSgmlNode(snl, state, value);
        if (n) {
            n->level = last->level;
            last->next = n;
            last = n;
        }
        return n;
    };
    bool ok = first != nullptr;
    for (const SgmlTreeAttr& attr : attrs) {
        if (!ok || !attr.name) break;
        SgmlNode* name = chainNode(SPS_TAGATTRNAME, attr.name);
        if (!(ok = name != nullptr) || !attr.value) break;
        if (!*attr.value) {
            name->flags |= kNodeHasValue;
            continue;
        }
        SgmlNode* value = chainNode(SPS_TAGATTRVALUE, attr.value);
        if (!(ok = value != nullptr)) break;
        if (std::strchr(attr.value, '"')) {
            value->flags = kNodeQuoted | kNodeApostrophe;
        } else if (std::any_of(attr.value, attr.value + std::strlen(attr.value),
                               [](char c) { return !isAsciiAlnum(static_cast<unsigned char>(c)); })) {
            value->flags = kNodeQuoted;
        }
    }
    SgmlTreeNode* node = nullptr;
    if (ok) {
        last->flags |= kNodeTagEnd;
        node = addSgmlTreeNodeChild(parent, first);
    } else {
        setError(msg(362, "sgmltree/10"));
    }
    if (!node) {
        for (SgmlNode* n = first; n;) {
            SgmlNode* next = n->next;
            ss->freeSgmlNode(snl, n);
            n = next;
        }
    }
    return node;
}

SgmlTreeNode* SgmlTree::createLinkedTreeNode(SgmlNode* sn) {
    SgmlTreeNode* node = allocTreeNode();
    if (!node) return nullptr;
    node->sn = sn;
    if (sn->state == SPS_TAGNAME && startsWithLetter(sn->text())) node->tagno = scon->tagMap->mapTag(sn->text());
    if (cur) {
        appendChild(cur, node);
    } else if (!root) {
        root = node;
    }
    return node;
}

SgmlTreeNode* SgmlTree::allocTreeNode() {
    if (!pool) pool = newPool(sizeof(SgmlTreeNode), kTreeEditHeap, kTreePoolFlags);
    void* item = pool ? pool->alloc() : nullptr;
    if (!item) {
        setError(msg(363, "sgmltree/11"));
        return nullptr;
    }
    return new (item) SgmlTreeNode{};
}

void SgmlTree::freeTreeNode(SgmlTreeNode* node) {
    if (!pool) return;
    std::vector<SgmlTreeNode*> chains;
    if (node) chains.push_back(node);
    while (!chains.empty()) {
        SgmlTreeNode* n = chains.back();
        chains.pop_back();
        while (n) {
            SgmlTreeNode* next = n->next;
            if (n->fchild) chains.push_back(n->fchild);
            pool->free(n);
            n = next;
        }
    }
}

int SgmlTree::initDoctype() {
    if (!ss->extractSgmlId(snl ? snl->firstNode : nullptr, &topelem, &pubid, nullptr)) {
        setError("%s", ss->getError());
        return 0;
    }
    return 1;
}

}  // namespace ruva

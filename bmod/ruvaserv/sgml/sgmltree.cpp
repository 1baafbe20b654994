#include "bmod/ruvaserv/sgml/sgmltree.h"

namespace ruva {

std::unique_ptr<SgmlTree> newSgmlTree(uint16_t) { return nullptr; }

SgmlTree::~SgmlTree() = default;

void SgmlTree::clear() {}
void SgmlTree::setFlags(uint16_t) {}
int SgmlTree::createSgmlInstance(const char*) { return 0; }
int SgmlTree::lexicalScan(const char*) { return 0; }
int SgmlTree::registerLexicalScan(SgmlNodeList*, DocType, SubDocType) { return 0; }
int SgmlTree::parseDocumentInstance() { return 0; }
int SgmlTree::buildTree() { return 0; }
int SgmlTree::internalBuildTree(SgmlNode*) { return 0; }
int SgmlTree::addContextCallback(ContextEntry*, void*) { return 0; }
int SgmlTree::endContextCallback(ContextEntry*, void*) { return 0; }
SgmlTreeNode* SgmlTree::findRelNode(SgmlTreeNode*, const char*) { return nullptr; }
SgmlTreeNode* SgmlTree::findNextRelNode(SgmlTreeNode*, const char*) { return nullptr; }
SgmlTreeNode* SgmlTree::findNode(const char*) { return nullptr; }
int SgmlTree::print(const char*) { return 0; }
int SgmlTree::internalPrintTree(SgmlTreeNode*, int) { return 0; }
SgmlTreeNode* SgmlTree::addSgmlTreeNodeChild(SgmlTreeNode*, SgmlNode*) { return nullptr; }
SgmlTreeNode* SgmlTree::addSgmlTreeNodeChildNode(SgmlTreeNode*, SgmlParserState, const char*) { return nullptr; }
SgmlTreeNode* SgmlTree::addSgmlTreeNodeChildTag(SgmlTreeNode*, const char*, std::initializer_list<SgmlTreeAttr>) {
    return nullptr;
}
SgmlTreeNode* SgmlTree::createLinkedTreeNode(SgmlNode*) { return nullptr; }
SgmlTreeNode* SgmlTree::allocTreeNode() { return nullptr; }
void SgmlTree::freeTreeNode(SgmlTreeNode*) {}
int SgmlTree::initDoctype() { return 0; }

}  // namespace ruva

#include "bmod/ruvaserv/sgml/sgmlscanner.h"

namespace ruva {

SgmlNodeList::~SgmlNodeList() = default;

std::unique_ptr<SgmlNodeList> SgmlScanner::newNodeList(size_t) { return nullptr; }

int SgmlScanner::reallocNodeList(SgmlNodeList*, size_t) { return 0; }

int SgmlScanner::verifyFreeNodes(SgmlNodeList*, size_t) { return 0; }

void SgmlScanner::freeNodeList(std::unique_ptr<SgmlNodeList>) {}

int SgmlScanner::optimizeNodeList(SgmlNodeList*) { return 0; }

int SgmlScanner::insertCopyNodeList(SgmlNodeList*, const SgmlNodeList*, SgmlNode*, const SgmlNode*) { return 0; }

int SgmlScanner::appendCopyNodeList(SgmlNodeList*, const SgmlNodeList*) { return 0; }

int SgmlScanner::printNodeList(const SgmlNodeList*, FILE*) { return 0; }

int SgmlScanner::printAttrVal(const SgmlNode*, FILE*) { return 0; }

void SgmlScanner::freeSgmlNode(SgmlNodeList*, SgmlNode*) {}

void SgmlScanner::freeSgmlNodes(SgmlNodeList*, SgmlNode*) {}

int SgmlScanner::removeSgmlNodeTag(SgmlNodeList*, SgmlNode*) { return 0; }

int SgmlScanner::removeSgmlNodeType(SgmlNodeList*, SgmlParserState, SgmlNode**, SgmlNode*) { return 0; }

SgmlNode* SgmlScanner::allocSgmlNode(SgmlNodeList*, SgmlParserState, const char*) { return nullptr; }

SgmlNode* SgmlScanner::appendSgmlNode(SgmlNodeList*, SgmlParserState, const char*) { return nullptr; }

SgmlNode* SgmlScanner::addSgmlNodeAtEndTag(SgmlNodeList*, SgmlNode*, SgmlParserState, const char*) {
    return nullptr;
}

SgmlNode* SgmlScanner::allocCommentChain(SgmlNodeList*, std::string) { return nullptr; }

SgmlNode* SgmlScanner::allocSgmlNodeTag(SgmlNodeList*, const char*, std::initializer_list<SgmlTagAttr>) {
    return nullptr;
}

SgmlNode* SgmlScanner::appendSgmlNodeTag(SgmlNodeList*, const char*, std::initializer_list<SgmlTagAttr>) {
    return nullptr;
}

int SgmlScanner::insertSgmlNode(SgmlNodeList*, SgmlNode*, SgmlNode*) { return 0; }

}  // namespace ruva

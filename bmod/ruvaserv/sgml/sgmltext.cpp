#include "bmod/ruvaserv/sgml/sgmlscanner.h"

namespace ruva {

std::optional<std::string> SgmlScanner::getContainerText(const SgmlNodeList*, SgmlNode**, const char*) {
    return std::nullopt;
}

std::optional<std::string> SgmlScanner::getContainerTextEndNode(const SgmlNodeList*, SgmlNode**, const SgmlNode*) {
    return std::nullopt;
}

SgmlNode* SgmlScanner::splitFreeText(SgmlNodeList*, SgmlNode*, int) { return nullptr; }

SgmlNode* SgmlScanner::splitFreeTextForLink(SgmlNodeList*, SgmlNode*, const char*, int, int) { return nullptr; }

const char* SgmlScanner::getAttr(SgmlNode**, const char*) { return nullptr; }

const char* SgmlScanner::findTag(const SgmlNodeList*, SgmlNode**, const char*) { return nullptr; }

const char* SgmlScanner::findTagAttr(const SgmlNodeList*, SgmlNode**, const char*, const char*) { return nullptr; }

int SgmlScanner::extractSgmlId(SgmlNode*, std::string*, std::string*, std::string*) { return 0; }

}  // namespace ruva

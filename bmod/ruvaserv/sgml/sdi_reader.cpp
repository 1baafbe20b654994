#include "bmod/ruvaserv/sgml/sdi.h"

namespace ruva {

std::unique_ptr<Sdi> newSdi(uint16_t) { return nullptr; }

Sdi::~Sdi() = default;

void Sdi::clear() {}
void Sdi::closeInput() {}
int Sdi::setInput(const char*) { return 0; }
int Sdi::registerInput(const void*, size_t) { return 0; }
void Sdi::freeSdiEntry(SdiEntry*) {}
int Sdi::prepareDocument(const char*) { return 0; }
int Sdi::getMetaData() { return 0; }
int Sdi::parseDocument() { return 0; }
SdiEntry* Sdi::internalParseDocument(SgmlTreeNode*, SdiEntry*) { return nullptr; }
void Sdi::initLang(const char*) {}
int Sdi::scanSdiTree(SdiScanCallback, void*) { return 0; }
int Sdi::internalScanSdiTree(SdiEntry*, int) { return 0; }

}  // namespace ruva

#include "bmod/ruvaserv/sgml/sgmlscanner.h"

#include <new>

namespace ruva {

SgmlScanner::~SgmlScanner() { freeParentNodes(); }

void SgmlScanner::closeInput() {}

int SgmlScanner::registerInput(const void*, size_t) { return 0; }

int SgmlScanner::setInput(const char*) { return 0; }

int SgmlScanner::initInput() { return 0; }

SgmlParserState SgmlScanner::parseStatement() { return SPS_ERROR; }

int SgmlScanner::buildNodeList(SgmlNodeList*) { return 0; }

int SgmlScanner::addEntity(const char*, const char*, uint16_t) { return 0; }

const ScannerEntity* SgmlScanner::findEntity(std::string_view) const { return nullptr; }

std::optional<std::string> SgmlScanner::expandTextEntities(std::string_view) const { return std::nullopt; }

void SgmlScanner::freeEntityList(int) {}

std::unique_ptr<SgmlScanner> newSgmlScanner(uint16_t flags) {
    std::unique_ptr<SgmlScanner> ss(new (std::nothrow) SgmlScanner);
    if (!ss) return nullptr;
    ss->flags = flags;
    ss->oldflags = flags;
    ss->freeText.reserve(kSgmlFreeTextInitial - 1);
    return ss;
}

}  // namespace ruva

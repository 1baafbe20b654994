#include "bmod/ruvaserv/sgml/scontext.h"

namespace ruva {

SContext::~SContext() = default;

void SContext::clear() {}

int SContext::setMap(MapDtd, const char*) { return 0; }

int SContext::initCallbacks(ContextCallback, void*, ContextCallback, void*) { return 0; }

int SContext::start(SgmlNode*) { return 0; }

int SContext::end(SgmlNode*) { return 0; }

int SContext::empty() { return 0; }

int SContext::push(SgmlNode*, int) { return 0; }

int SContext::pop() { return 0; }

int SContext::getParentTagno(const ContextEntry*) const { return -1; }

ContextEntry* SContext::findTagnameContext(const char*) { return nullptr; }

int SContext::countTagnameContexts(const char*) { return 0; }

ContextEntry* SContext::findParentTagnameContext(const char*, ContextEntry*) { return nullptr; }

int SContext::getCurTagFlags() const { return 0; }

std::string SContext::printTagnoList(std::span<const int>) const { return {}; }

std::string SContext::printContextStack() const { return {}; }

const char* SContext::getTagName(int) const { return nullptr; }

std::unique_ptr<SContext> newSContext(MapDtd, uint16_t) { return nullptr; }

}  // namespace ruva

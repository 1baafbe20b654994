#include "bmod/ruvaserv/sgml/toc.h"

namespace ruva {

std::unique_ptr<Toc> newToc(uint16_t) { return nullptr; }

Toc::~Toc() = default;

void Toc::clear() {}
int Toc::init(TocType, SgmlScanner*, SgmlNodeList*, int, const char*) { return 0; }
int Toc::addEntry(int, const char*, const char*, const char*, uint8_t) { return 0; }
void Toc::clearEntryList() {}
void Toc::clearEntry(TocEntry*) {}
int Toc::output() { return 0; }
int Toc::outputContentsPre() { return 0; }
int Toc::outputContentsTbl() { return 0; }
int Toc::outputTocStartPre() { return 0; }
int Toc::outputTocStartTbl() { return 0; }
void Toc::clearChapters() {}
const std::string& Toc::chapterString() { return chstr; }
const std::string& Toc::updateChapter(int) { return chstr; }
int Toc::outputChapter(const char*, const char*) { return 0; }
int Toc::outputChapterEnd() { return 0; }

}  // namespace ruva

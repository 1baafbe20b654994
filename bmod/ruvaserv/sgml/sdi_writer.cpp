#include "bmod/ruvaserv/sgml/sdi.h"

namespace ruva {

int Sdi::output(const char*) { return 0; }
int Sdi::generate() { return 0; }
int Sdi::internalGenerateSdi(SdiEntry*, int) { return 0; }
SdiEntry* Sdi::addSdiEntry(SdiEntry*, SdiEntryType, const char*, const char*, const char*, const char*) {
    return nullptr;
}
int Sdi::setMetadata(TavrLang, const char*, const char*, const char*, const char*, const char*, const char*,
                     const char*) {
    return 0;
}
int Sdi::outputDoclistRow(SdiEntry*) { return 0; }
int Sdi::outputDoclistStart(SdiEntry*) { return 0; }
int Sdi::outputDoclistEnd(int) { return 0; }
int Sdi::outputDocBodyStart() { return 0; }
int Sdi::outputTavrStart() { return 0; }

}  // namespace ruva

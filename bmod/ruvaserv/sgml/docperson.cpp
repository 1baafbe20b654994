#include "bmod/ruvaserv/sgml/docperson.h"

namespace ruva {

std::unique_ptr<DocPerson> newDocPerson(uint16_t) { return nullptr; }

DocPerson::~DocPerson() = default;

void DocPerson::clear() {}
int DocPerson::init(SgmlScanner*, SgmlNodeList*, SgmlNodeList*, Entity*, DocnoType) { return 0; }
int DocPerson::countPersons(const TavrPerson*) const { return 0; }
TavrPerson* DocPerson::createTavrPerson(SgmlNode**) { return nullptr; }
void DocPerson::freeTavrPerson(TavrPerson*) {}
std::optional<std::string> DocPerson::tavrPersonToString(const TavrPerson*, int) { return std::nullopt; }
int DocPerson::collectPerson(TavrPerson**, const char*) { return 0; }
int DocPerson::veskoCollectPerson(TavrPerson**, const char*) { return 0; }
int DocPerson::outputTavrPerson(const TavrPerson*) { return 0; }

}  // namespace ruva

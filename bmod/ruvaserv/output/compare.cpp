#include "bmod/ruvaserv/output/compare.h"

#include <new>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/output/htmloutput.h"
#include "bmod/ruvaserv/sgml/sdi.h"

namespace ruva {

std::unique_ptr<SdiCompare> newSdiCompare(KvoFormat& alf) {
    if (alf.ao == nullptr || alf.ao->cg == nullptr) return nullptr;
    std::unique_ptr<CPodCmp> cpCmp = NewCPodCmp(*alf.ao->cg);
    if (!cpCmp) return nullptr;
    return std::unique_ptr<SdiCompare>(new (std::nothrow) SdiCompare(alf, std::move(cpCmp)));
}

SdiCompare::SdiCompare(KvoFormat& alf, std::unique_ptr<CPodCmp> cpCmp) : alf_(alf), cpCmp_(std::move(cpCmp)) {}

SdiCompare::~SdiCompare() = default;

SdiCompareCode SdiCompare::compareSdi(const std::string&, const std::string&, const std::string&,
                                      const std::string&, const std::string&, const std::string&,
                                      const std::string&, bool) {
    return SdiCompareCode::kNewSdi1;
}

ClassRule classRuleOf(std::string_view) {
    return {'7', CompareLogic::kDocno, "ffffff"};
}

const char* colorCodeOf(std::string_view decclass) {
    return classRuleOf(decclass).colour;
}

DocParts extractDocParts(const SdiEntry&, std::string&) {
    return {};
}

int checkIfStringEmpty(const char*) {
    return 0;
}

}  // namespace ruva

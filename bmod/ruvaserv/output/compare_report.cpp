#include "bmod/ruvaserv/output/compare.h"
#include "bmod/ruvaserv/output/htmloutput.h"
#include "bmod/ruvaserv/sgml/sdi.h"

namespace ruva {

SdiCompareCode SdiCompare::generateList(std::vector<ResultRow>&) {
    return SdiCompareCode::kGenerateList;
}

std::string compareSectionName(const std::string&) {
    return {};
}

}  // namespace ruva

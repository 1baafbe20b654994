#include "bmod/ruvaserv/sgml/sgmlscanner.h"

namespace ruva {

void SgmlScanner::freeParentNodes() {}

int xhtmlValidate(SgmlNode*, SgmlScanner*, FILE*) { return 1; }

int xhtmlForbidden(const ParentNode*, const char*) { return 0; }

void xhtmlEmpty(SgmlNode*) {}

}  // namespace ruva

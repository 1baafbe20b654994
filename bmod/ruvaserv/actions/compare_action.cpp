#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/output/kvosrvcompare.h"

namespace ruva {

namespace {

// A pair counts only when both of its fields have a value: one library
// alone cannot be compared.
bool fieldPair(const ValueList& fields, const char* first, const char* second, const std::string** a,
               const std::string** b) {
    const Value* x = fields.findValue(first);
    const Value* y = fields.findValue(second);
    if (!x || !y || x->value.empty() || y->value.empty()) return false;
    *a = &x->value;
    *b = &y->value;
    return true;
}

}  // namespace

int KivoHandler::compareAction() {
    if (!cg || !cg->establishDefaultSession()) return 0;
    // The first of a pair is the new library, the second the old one.
    const std::string* newLib = nullptr;
    const std::string* oldLib = nullptr;
    if (!fieldPair(*cg->valueList, "ID", "IC", &newLib, &oldLib) &&
        !fieldPair(*cg->valueList, "DB", "DC", &newLib, &oldLib)) {
        setError(msgFormat(13, "kivohandler/5"));
        return 0;
    }
    std::unique_ptr<KvoSrvCompare> compare = newKvoSrvCompare(0);
    if (!compare) {
        setError(msgFormat(14, "kivohandler/6"));
        return 0;
    }
    if (compare->doKvoSrvCompare(*cg, *newLib, *oldLib) != KvoSrvCompareResult::kOk) {
        setError(msgFormat(15, "kivohandler/7"), cg->getError());
        return 0;
    }
    cg->mimeType = "text/html";
    cg->mimeFilename = "compare.html";
    return 1;
}

}  // namespace ruva

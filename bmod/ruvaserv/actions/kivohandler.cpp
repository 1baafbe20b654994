#include "bmod/ruvaserv/actions/kivohandler.h"

#include "bmod/ruvaserv/cgi/cgihandler.h"

namespace ruva {

std::unique_ptr<KivoHandler> newKivoHandler(CgiHandler* cg) {
    std::unique_ptr<KivoHandler> kh(new KivoHandler(cg));
    if (cg) cg->setSpecCallback(&KivoHandler::specCallback, kh.get());
    return kh;
}

KivoHandler::~KivoHandler() {
    clear();
    if (cg) cg->setSpecCallback(nullptr, nullptr);
}

void KivoHandler::clear() { errmsg.clear(); }

int KivoHandler::entry(const char*) {
    return 0;  // not yet built
}

// The document-server client does not exist yet: nothing can be looked up.
int KivoHandler::getIDbyDbName() { return 0; }
int KivoHandler::getLIbyHiddenID() { return 0; }

int KivoHandler::specCallback(void*, std::string_view) {
    return 0;  // not yet built
}

}  // namespace ruva

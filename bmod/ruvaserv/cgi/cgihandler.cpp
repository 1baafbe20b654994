#include "bmod/ruvaserv/cgi/cgihandler.h"

namespace ruva {

std::unique_ptr<CgiHandler> newCgiHandler(size_t flags, char** envp, TextTable messages, ConfigKeys keys,
                                          size_t decodeLimit) {
    std::unique_ptr<CgiHandler> cg(new CgiHandler(messages, keys, decodeLimit));
    cg->flags = flags;
    cg->envp = envp;
    cg->valueList = newValueList(kValueListNoCase);
    cg->langList = newValueList(kValueListNoCase);
    return cg;
}

CgiHandler::~CgiHandler() { clear(); }

void CgiHandler::clear() {
    // not yet built
}

void CgiHandler::keepError(std::string text) {
    errmsg = std::move(text);
    if (errmsg.size() > kErrorTextMax) errmsg.resize(kErrorTextMax);
}

int CgiHandler::handleGenericActions() {
    return 0;  // not yet built
}

int CgiHandler::tbimgAction() {
    return 0;  // not yet built
}

int CgiHandler::printEnv() {
    return 0;  // not yet built
}

}  // namespace ruva

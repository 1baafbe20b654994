// A library's start page, the about page, the kivomain marker and the
// bookmark window.
#include "bmod/ruvaserv/actions/kivohandler.h"

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/kvo_msg.h"

namespace ruva {

int KivoHandler::outputDatabaseMainPage(const char*) { return 0; }
int KivoHandler::outputAbout() { return 0; }
int KivoHandler::outputKivoDoc() { return 1; }
int KivoHandler::BookmarkAction() { return 0; }

}  // namespace ruva

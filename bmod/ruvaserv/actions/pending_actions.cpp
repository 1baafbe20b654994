// Actions whose pages come with later work: each answers as an unknown word
// does, naming its own, so the dispatcher's rows and preparations stand.
#include <string>

#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/kvo_msg.h"

namespace ruva {

namespace {

int notYetBuilt(KivoHandler& kh, const std::string& word) {
    kh.setError(msgFormat(10, "kivohandler/2"), shownArgument(word));
    return 0;
}

}  // namespace

int KivoHandler::annotAction(const std::string& word) { return notYetBuilt(*this, word); }
int KivoHandler::externalLinkAction() { return notYetBuilt(*this, "CHNGLANG"); }
int KivoHandler::outputAbout() { return notYetBuilt(*this, "ABOUT"); }
int KivoHandler::BookmarkAction() { return notYetBuilt(*this, "BOOKMARK"); }
int KivoHandler::outputCompareSelect() { return notYetBuilt(*this, "COMPSEL"); }
int KivoHandler::outputCompareMessage() { return notYetBuilt(*this, "COMPMSG"); }
int KivoHandler::outputSearchMessage(const char* kind) { return notYetBuilt(*this, kind ? kind : ""); }
int KivoHandler::writeJSFunctions() { return notYetBuilt(*this, "JSNOTESINLINE"); }
int KivoHandler::writeDummyTreeFrame() { return notYetBuilt(*this, "TREEFRAME"); }
int KivoHandler::writeInstantResultsPage() { return notYetBuilt(*this, "INSTANT"); }

// Only the script's opening line until the instant search is built; the
// main page closes the element.
int KivoHandler::allJSFunctions(const std::string&, const std::string&, int, const std::string&, int, int, int) {
    if (!cg || !cg->docWriteBuf("<script type=\"text/javascript\">\n<!--\n")) return 0;
    const ValueList& fields = *cg->valueList;
    return fields.findValue("ID") || fields.findValue("LI") || fields.findValue("DB") ? 1 : 0;
}

}  // namespace ruva

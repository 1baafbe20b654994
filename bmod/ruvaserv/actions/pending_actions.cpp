// Actions whose pages come with later work: each answers as an unknown word
// does, naming its own, so the dispatcher's rows and preparations stand.
#include <string>

#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/kvo_msg.h"

namespace ruva {

namespace {

int notYetBuilt(KivoHandler& kh, const std::string& word) {
    kh.setError(msgFormat(10, "kivohandler/2"), errorArgument(word));
    return 0;
}

}  // namespace

int KivoHandler::annotAction(const std::string& word) { return notYetBuilt(*this, word); }

}  // namespace ruva

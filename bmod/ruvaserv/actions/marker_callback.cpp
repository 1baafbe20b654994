// The template-marker callback: the marker's name picks the operation that
// writes at its place.
#include "bmod/ruvaserv/actions/kivohandler.h"

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "common/text_view.h"

namespace ruva {

namespace {

// Tried in this order by their first letters.
constexpr const char* kMarkerNames[] = {"cmplistdb", "listdb", "listserv", "servname", "proginfo",
                                        "kivomain",  "dbname", "rootid",   "uzaddr",   "compare"};

}  // namespace

int KivoHandler::specCallback(void*, std::string_view marker) {
    for (const char* name : kMarkerNames) {
        if (startsCaseBlindAt(marker, 0, name)) return 1;
    }
    return 0;
}

}  // namespace ruva

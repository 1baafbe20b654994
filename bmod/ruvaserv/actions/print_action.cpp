// PRINT, PRINTA4, PRINTUS: the document through the configured print
// command, its PostScript written with its own header.
#include "bmod/ruvaserv/actions/kivohandler.h"

#include "bmod/ruvaserv/actions/print_command.h"
#include "bmod/ruvaserv/cgi/kvo_msg.h"

namespace ruva {

int KivoHandler::printAction() {
    setError(msgFormat(10, "kivohandler/2"), "PRINT");
    return 0;
}

int KivoHandler::locationPrint(PrintPaperSize size) {
    setError(msgFormat(10, "kivohandler/2"), size == PSIZE_US ? "PRINTUS" : "PRINTA4");
    return 0;
}

}  // namespace ruva

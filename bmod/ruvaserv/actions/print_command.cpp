#include "bmod/ruvaserv/actions/print_command.h"

namespace ruva {

int formatPrintCommand(const std::string&, const std::string&, const std::string&, std::string&,
                       std::string& reason) {
    reason = "invalid print command";
    return 0;
}

int runPrintFilter(const std::string&, PrintFilterRun& run, const volatile std::sig_atomic_t*, size_t) {
    run = PrintFilterRun{};
    return 0;
}

}  // namespace ruva

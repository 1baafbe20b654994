#include "bmod/ruvaserv/output/kvooutput.h"

namespace ruva {

std::unique_ptr<KvoOutput> newKvoOutput(std::uint16_t) {
    return nullptr;
}

int KvoOutput::kvoSetOutput(CgiHandler*, KvoOutMode) {
    return 1;
}

int KvoOutput::kvoOpenOutput(std::size_t) {
    return kKvoOpenFailed;
}

int KvoOutput::kvoCloseOutput() {
    return 1;
}

void KvoOutput::kvoWrite(std::string_view) {}

void KvoOutput::kvoPrintURL() {}

}  // namespace ruva

#include "bmod/ruvaserv/output/kvosrvcompare.h"

#include <new>

#include "bmod/ruvaserv/cgi/cgihandler.h"

namespace ruva {

std::unique_ptr<KvoSrvCompare> newKvoSrvCompare(std::uint16_t flags) {
    return std::unique_ptr<KvoSrvCompare>(new (std::nothrow) KvoSrvCompare(flags));
}

KvoSrvCompare::~KvoSrvCompare() = default;

KvoSrvCompareResult KvoSrvCompare::doKvoSrvCompare(CgiHandler&, const std::string&, const std::string&) {
    return KvoSrvCompareResult::kFailed;
}

KvoSrvCompareResult KvoSrvCompare::prepareSdiFile(CgiHandler&, const std::string&, const std::string&,
                                                  std::string*) {
    return KvoSrvCompareResult::kFailed;
}

std::optional<std::string> getDatabaseTitle(CgiHandler&, const std::string&) {
    return std::nullopt;
}

std::uint32_t classFilterOf(const std::string*) {
    return 0;
}

}  // namespace ruva

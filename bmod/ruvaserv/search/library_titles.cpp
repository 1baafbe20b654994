#include "bmod/ruvaserv/search/library_titles.h"

namespace ruva {

const LibraryAnswer& LibraryMemo::mllist(CgiHandler&, const std::string& libid) {
    return answers_[libid];
}

const std::optional<std::string>& LibraryMemo::dbFromLI(KivoHandler&, const std::string& reference, std::string&) {
    return dbs_[reference].db;
}

const std::string* LibraryTable::titleOf(std::string_view) const {
    return nullptr;
}

int getLibraryname(CgiHandler&, LibraryMemo&, const std::string&, std::string&) {
    return 0;
}

std::string validateLibrary(std::string_view, const char*, bool&) {
    return {};
}

}  // namespace ruva

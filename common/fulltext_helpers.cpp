#include "common/fulltext_helpers.h"

#include <strings.h>

#include <algorithm>

#include "common/docmodel/docno.h"

namespace ruva {

// --- Document numbers of full-text hits -------------------------------------

std::optional<std::string> filenameToDocnoFS(const char* name) {
    std::string stem, rev;
    std::optional<std::string> type;
    if (!splitDocnoFilename(name, &stem, &rev, &type)) return std::nullopt;
    std::replace(stem.begin(), stem.end(), '_', '/');
    std::replace(rev.begin(), rev.end(), '_', '/');
    std::string docno = stem + " " + rev;
    if (type && strcasecmp(type->c_str(), "html") != 0 && strcasecmp(type->c_str(), "pdf") != 0 &&
        strcasecmp(type->c_str(), "fdp") != 0)
        docno += "|" + *type;
    return docno;
}

}  // namespace ruva

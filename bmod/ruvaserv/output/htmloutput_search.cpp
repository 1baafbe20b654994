#include "bmod/ruvaserv/output/htmloutput.h"

namespace ruva {

int KvoFormat::writeDocRowSearch(const char*, const char*, const char*, int, int*, const char*, const char*,
                                 const char*, const char*, int, int, int, int, const char*, const char*,
                                 const char*, const char*, const char*, const char*, int, int, int,
                                 const char*) {
    return 1;
}

int KvoFormat::writeListingHeadTitlesSearch() {
    return 0;
}

int KvoFormat::setHtmlFileIconSearch(const char*, const char*, const char*, int, int, int, const char*,
                                     const char*, const char*, int, int, const char*) {
    return 0;
}

int KvoFormat::setHtmlDocTitleSearch(const char*, const char*, const char*, const char*, int, const char*,
                                     const char*, const char*, int, int, int) {
    return 0;
}

int KvoFormat::setHtmlDocIdSearch(const char*, const char*, int) {
    return 0;
}

std::string KvoFormat::filterPatt(const char*) const {
    return {};
}

std::string KvoFormat::pattern(const char*, const char*) const {
    return {};
}

std::string extractTooltip(const char*) {
    return {};
}

}  // namespace ruva

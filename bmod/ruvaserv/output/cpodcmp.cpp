#include "bmod/ruvaserv/output/cpodcmp.h"

#include <new>

#include "bmod/ruvaserv/cgi/cgihandler.h"

namespace ruva {

std::unique_ptr<CPodCmp> NewCPodCmp(CgiHandler& cg) {
    return std::unique_ptr<CPodCmp>(new (std::nothrow) CPodCmp(cg));
}

CPodCmp::~CPodCmp() = default;

int CPodCmp::isCodDocument(const std::string&) const {
    return 0;
}

int CPodCmp::isPodDocument(const std::string&) const {
    return 0;
}

CompareDocsResult CPodCmp::compareDocs(const std::string&, const std::string&, const std::string&,
                                       const std::string&, const std::string&, const std::string&) {
    return CompareDocsResult::kError;
}

std::size_t CPodCmp::getResultsSize() const {
    return totalResultDataSize_;
}

const std::string& CPodCmp::getError() const {
    return errMsg_;
}

const std::string* CPodCmp::findResult(const std::string& key) const {
    auto it = results_.find(key);
    return it == results_.end() ? nullptr : &it->second;
}

DocDataResult CPodCmp::getDocData(const std::string&, const std::string&, std::string& result) {
    result.clear();
    return DocDataResult::kCopyFailed;
}

void CPodCmp::convertToLineGraphChars(std::string&) {}

void CPodCmp::stripSpaces(std::string&) {}

void CPodCmp::stripHtmlTags(std::string&) {}

void CPodCmp::stripCertainHtmlTags(std::string&, std::string_view) {}

int CPodCmp::byteCmp(const std::string*, const std::string*, char) {
    return 1;
}

std::size_t CPodCmp::findNextStartStr(std::string_view, std::size_t, std::span<const char* const>) {
    return std::string_view::npos;
}

std::size_t CPodCmp::findNextEndStr(std::string_view document, std::size_t) {
    return document.size();
}

std::string CPodCmp::sanitizeDisplayCopy(std::string_view) {
    return {};
}

}  // namespace ruva

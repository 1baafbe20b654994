#include "bmod/ruvaserv/output/htmloutput.h"

#include "bmod/ruvaserv/output/htmloutput_styles.h"

namespace ruva {

KvoFormat::KvoFormat(KvoOutput* out) : ao(out) {}

KvoFormat::~KvoFormat() = default;

std::unique_ptr<KvoFormat> newKvoHtmlFormat(KvoOutput*) {
    return nullptr;
}

std::size_t KvoFormat::estimateBufferSize(std::size_t) const {
    return 0;
}

int KvoFormat::openDoc(const char*, const char*) {
    return 0;
}
int KvoFormat::closeDoc() {
    return 0;
}
int KvoFormat::openList() {
    return 0;
}
int KvoFormat::closeList() {
    return 0;
}
int KvoFormat::setListSymbol(const char*) {
    return 0;
}
int KvoFormat::startList() {
    return 0;
}
int KvoFormat::stopList() {
    return 0;
}
int KvoFormat::startRow(int) {
    return 0;
}
int KvoFormat::stopRow() {
    return 0;
}

int KvoFormat::writeDocRow(const char*, const char*, int, int*, const char*, const char*, const char*, int,
                           int, int) {
    return 1;
}

int KvoFormat::writeRow(const char*) {
    return 0;
}
int KvoFormat::writeTableCellRow(const char*) {
    return 0;
}
int KvoFormat::startHeader(const char*) {
    return 0;
}
int KvoFormat::stopHeader(const char*) {
    return 0;
}
int KvoFormat::writeMainHeader(const char*) {
    return 0;
}
int KvoFormat::writeSubHeader(const char*, const char*, int) {
    return 0;
}
int KvoFormat::write2partHeader(const char*, const char*, int) {
    return 0;
}
int KvoFormat::writeHorizontalDivider() {
    return 0;
}
int KvoFormat::writeCompareHeader(const char*, const char*) {
    return 0;
}
int KvoFormat::writeListingHeaderSearch(const char*, int) {
    return 0;
}
int KvoFormat::writeListingHeader(const char*) {
    return 0;
}
int KvoFormat::writeListingSubHeader(const char*, int) {
    return 0;
}
int KvoFormat::writeListingHeadTitles() {
    return 0;
}
int KvoFormat::writeListingInterHeader(const char*, const char*, int) {
    return 0;
}
int KvoFormat::writeBlankRow() {
    return 0;
}
int KvoFormat::setKvoHtmlIcon(std::uint64_t, const char*) {
    return 0;
}
int KvoFormat::setHtmlDocType(const char*) {
    return 0;
}
int KvoFormat::setHtmlDocNote(const char*, const char*, int) {
    return 0;
}

int KvoFormat::setHtmlFileIcon(const char*, const char*, int, int, int) {
    return 0;
}
int KvoFormat::setHtmlDocTitle(const char*, const char*, int, int*, const char*, const char*, const char*) {
    return 0;
}
int KvoFormat::setHtmlDocId(const char*, const char*) {
    return 0;
}

}  // namespace ruva

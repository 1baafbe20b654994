#include "common/docmodel/qox_doctype.h"

#include <cstring>
#include <string>

#include "common/docmodel/docno.h"
#include "common/text.h"

namespace ruva {

namespace {

constexpr std::array<QoxDocTypeRow, kQoxDocTypeCount> kTable = {{
#include "common/docmodel/qox_doctype_table.inc"
}};

static_assert([] {
    for (size_t i = 0; i < kTable.size(); ++i) {
        if (kTable[i].value != static_cast<int>(i)) return false;
    }
    return true;
}());

// atoi(text) != 0 without atoi's overflow: a run of digits after white space
// and a sign is non-zero when any of its digits is.
bool leadingNumberIsNonZero(const char* text) {
    auto p = reinterpret_cast<const unsigned char*>(text);
    while (isAsciiSpace(*p)) ++p;
    if (*p == '+' || *p == '-') ++p;
    for (; isAsciiDigit(*p); ++p) {
        if (*p != '0') return true;
    }
    return false;
}

}  // namespace

// The fallback rows are never matched.
bool isKnownClassRow(const QoxDocTypeRow& row) {
    switch (row.value) {
        case QOXDOC_UNKNOWN:
        case QOXDOC_006:
        case QOXDOC_0:
        case QOXDOC_1:
        case QOXDOC_2:
        case QOXDOC_3:
        case QOXDOC_INST:
            return false;
        default:
            return true;
    }
}

const std::array<QoxDocTypeRow, kQoxDocTypeCount>& qoxDoctypeTable() {
    return kTable;
}

QoxDocType decimalClassToQoxDoctype(const char* decimalClass) {
    if (!decimalClass || !*decimalClass || !leadingNumberIsNonZero(decimalClass)) return QOXDOC_INST;
    const char first = decimalClass[0];
    if (first == '3') return QOXDOC_3;
    if (first != '0' && first != '1' && first != '2') return QOXDOC_UNKNOWN;
    for (const QoxDocTypeRow& row : kTable) {
        if (isKnownClassRow(row) && std::strcmp(row.decimalClass, decimalClass) == 0) {
            return static_cast<QoxDocType>(row.value);
        }
    }
    if (first == '1') return QOXDOC_1;
    if (first == '2') return QOXDOC_2;
    return std::strncmp(decimalClass, "006", 3) == 0 ? QOXDOC_006 : QOXDOC_0;
}

const char* getQoxDoctypeString(int type) {
    if (type < 0 || type >= static_cast<int>(kTable.size())) return kTable[QOXDOC_UNKNOWN].name;
    return kTable[type].name;
}

int docnoToQoxDoctype(const char* fname) {
    std::string decclass;
    if (!filenameToDocnoParts(fname, nullptr, &decclass, nullptr, nullptr, nullptr, nullptr)) return 0;
    return decimalClassToQoxDoctype(decclass.c_str());
}

}  // namespace ruva

// Document types named after decimal classes, the class part of a document
// number. The table is fixed: 370 types, values 0 to 369.
#pragma once

#include <array>
#include <cstddef>

namespace ruva {

// QOXDOC_<class> for each known class, leading zeros kept (QOXDOC_1553,
// QOXDOC_00021). QOXDOC_UNKNOWN (0) is no type; the fallbacks QOXDOC_006,
// QOXDOC_0, QOXDOC_1, QOXDOC_2 and QOXDOC_3 stand for whole ranges, and
// QOXDOC_INST (366) for a missing class.
enum QoxDocType : int {
#define RUVA_QOXDOC_ENUMERATOR(suffix, value) QOXDOC_##suffix = value,
#include "common/docmodel/qox_doctype_table.inc"
#undef RUVA_QOXDOC_ENUMERATOR
};

inline constexpr size_t kQoxDocTypeCount = 370;

struct QoxDocTypeRow {
    int value;
    const char* decimalClass;  // "" for QOXDOC_UNKNOWN, "INST" for QOXDOC_INST
    const char* name;          // English name; several classes share one
};

// The rows in value order: row i has value i.
const std::array<QoxDocTypeRow, kQoxDocTypeCount>& qoxDoctypeTable();

// False for the rows that stand for no class or a range of them
// (QOXDOC_UNKNOWN, the fallbacks and QOXDOC_INST): 363 rows are classes.
bool isKnownClassRow(const QoxDocTypeRow& row);

// The type of a decimal class. Classes are texts compared exactly: "00021",
// "0021" and "006" differ, and blanks are not removed. Null, "" or a class
// whose leading number is 0 ("0", "A12") gives QOXDOC_INST. A class that
// begins with 0, 1 or 2 and is not in the table falls back to QOXDOC_006
// (beginning "006"), QOXDOC_0, QOXDOC_1 or QOXDOC_2; one beginning with 3
// gives QOXDOC_3; any other first character (4-9, a blank, a sign) gives
// QOXDOC_UNKNOWN.
QoxDocType decimalClassToQoxDoctype(const char* decimalClass);

// The English name of a type value; "ZUnknown" for 0 and for any value
// outside 0..369. The text is constant.
const char* getQoxDoctypeString(int type);

}  // namespace ruva

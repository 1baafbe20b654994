#include "common/docmodel/qox_doctype.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "common/docmodel/docno.h"
#include "tests/support/test_support.h"

namespace ruva {
namespace {

using test::exactCopy;

bool isKnownClass(const QoxDocTypeRow& row) {
    return row.value != QOXDOC_UNKNOWN && row.value != QOXDOC_006 && row.value != QOXDOC_0 &&
           row.value != QOXDOC_1 && row.value != QOXDOC_2 && row.value != QOXDOC_3 &&
           row.value != QOXDOC_INST;
}

TEST(QoxDoctypeTable, RowsAreConsecutiveAndClassesDistinct) {
    const auto& table = qoxDoctypeTable();
    ASSERT_EQ(table.size(), 370u);
    std::set<std::string> classes;
    std::set<std::string> names;
    int byFirstDigit[3] = {0, 0, 0};
    for (size_t i = 0; i < table.size(); ++i) {
        const QoxDocTypeRow& row = table[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(row.value, static_cast<int>(i));
        ASSERT_NE(row.decimalClass, nullptr);
        ASSERT_NE(row.name, nullptr);
        EXPECT_GT(std::strlen(row.name), 0u);
        names.insert(row.name);
        if (!isKnownClass(row)) continue;
        const std::string cls = row.decimalClass;
        EXPECT_TRUE(classes.insert(cls).second) << cls;
        EXPECT_EQ(cls.find_first_not_of("0123456789"), std::string::npos) << cls;
        ASSERT_FALSE(cls.empty());
        ASSERT_TRUE(cls[0] >= '0' && cls[0] <= '2') << cls;
        ++byFirstDigit[cls[0] - '0'];
    }
    EXPECT_EQ(classes.size(), 363u);
    EXPECT_EQ(byFirstDigit[0], 52);
    EXPECT_EQ(byFirstDigit[1], 292);
    EXPECT_EQ(byFirstDigit[2], 19);
    EXPECT_EQ(names.size(), 329u);
}

TEST(QoxDoctypeTable, SpecialRows) {
    const struct {
        int value;
        const char* decimalClass;
        const char* name;
    } rows[] = {
        {QOXDOC_UNKNOWN, "", "ZUnknown"},
        {QOXDOC_1, "1", "Technical Document"},
        {QOXDOC_2, "2", "Commercial Document"},
        {QOXDOC_006, "006", "Administrative Document"},
        {QOXDOC_0, "0", "General Document"},
        {QOXDOC_3, "3", "Financial Document"},
        {QOXDOC_INST, "INST", "General Office Document"},
    };
    const int values[] = {0, 294, 311, 363, 364, 365, 366};
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(rows[i].name);
        EXPECT_EQ(rows[i].value, values[i]);
        const QoxDocTypeRow& row = qoxDoctypeTable()[rows[i].value];
        EXPECT_STREQ(row.decimalClass, rows[i].decimalClass);
        EXPECT_STREQ(row.name, rows[i].name);
    }
}

// Type names are shown on pages and compared by the front end, so the long
// names stay whole, byte for byte.
TEST(QoxDoctypeTable, TypeNamesAreWrittenInFull) {
    const struct {
        int value;
        const char* decimalClass;
        const char* name;
    } rows[] = {
        {31, "15502", "Characteristics Specification"},
        {38, "15517", "Function Specification"},
        {62, "15241", "Test Specification"},
        {63, "15242", "System Test Specification"},
        {66, "1528", "Method Specification"},
        {78, "1533", "Environmental Specifications"},
        {94, "15935", "Specification"},
        {100, "1301", "Product Specification"},
        {101, "13011", "Process Specification"},
        {104, "13051", "Administration Specification"},
        {107, "1313", "Specification Key"},
        {110, "13161", "Structure Specification"},
        {115, "19001", "Data Specification"},
        {147, "19098", "Message Specification"},
        {155, "19205", "Model Specification"},
        {157, "19212", "Test Specification"},
        {160, "19306", "Floor Plan Specification"},
        {187, "19811", "Requirements Specification"},
        {194, "19823", "Market Adaptation Specification"},
        {201, "12261", "Assignment Specification"},
        {207, "12702", "Project Specification"},
        {209, "12711", "Plant Specification"},
        {225, "10262", "Design Specification Information"},
        {231, "10272", "Integration Specification"},
        {234, "10291", "Product Function Specification"},
        {236, "10549", "Material Specification"},
        {238, "1056", "Requirements Specification"},
        {260, "10942", "Info Structure Specification"},
        {279, "17425", "Test Environment Specification"},
        {357, "0450", "Environmental Care Specification"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.value);
        const QoxDocTypeRow& row = qoxDoctypeTable()[r.value];
        EXPECT_STREQ(row.decimalClass, r.decimalClass);
        EXPECT_STREQ(row.name, r.name);
        EXPECT_STREQ(getQoxDoctypeString(r.value), r.name);
        EXPECT_EQ(decimalClassToQoxDoctype(exactCopy(r.decimalClass).get()), r.value);
    }
}

// Each enumerator is named after its row's class and carries its value.
TEST(QoxDoctypeTable, EnumeratorsMatchRows) {
    struct Enumerator {
        const char* suffix;
        int listed;
        QoxDocType value;
    };
    const std::vector<Enumerator> enumerators = {
#define RUVA_QOXDOC_ENUMERATOR(suffix, value) {#suffix, value, QOXDOC_##suffix},
#include "common/docmodel/qox_doctype_table.inc"
#undef RUVA_QOXDOC_ENUMERATOR
    };
    ASSERT_EQ(enumerators.size(), qoxDoctypeTable().size());
    for (size_t i = 0; i < enumerators.size(); ++i) {
        const Enumerator& e = enumerators[i];
        SCOPED_TRACE(e.suffix);
        EXPECT_EQ(e.listed, static_cast<int>(i));
        EXPECT_EQ(e.value, static_cast<int>(i));
        const std::string cls = qoxDoctypeTable()[i].decimalClass;
        EXPECT_EQ(cls.empty() ? std::string("UNKNOWN") : cls, e.suffix);
    }
    static_assert(QOXDOC_1553 == 1 && QOXDOC_00021 == 312 && QOXDOC_0061 == 330 && QOXDOC_22112 == 369);
}

TEST(QoxDoctypeLookup, EveryKnownClassFindsItsRow) {
    for (const QoxDocTypeRow& row : qoxDoctypeTable()) {
        if (!isKnownClass(row)) continue;
        SCOPED_TRACE(row.decimalClass);
        EXPECT_EQ(decimalClassToQoxDoctype(exactCopy(row.decimalClass).get()), row.value);
    }
}

TEST(QoxDoctypeLookup, Lookups) {
    const struct {
        const char* decimalClass;
        int type;
    } cases[] = {
        {"1553", 1},
        {"15531", 41},
        {"00692", 23},
        {"00021", 312},
        {"0021", 364},  // not 00021: classes are texts
        {"0061", 330},  // known before the 006 fallback
        {"006", 363},
        {"0069", 363},
        {"00611", 363},
        {"0999", 364},
        {"15999", 294},
        {"1", 294},
        {"155 31", 294},  // blanks are not removed
        {"1553 ", 294},
        {"2999", 311},
        {"2", 311},
        {"22112", 369},
        {"3", 365},
        {"35", 365},
        {"3ABC", 365},
        {"", 366},
        {"0", 366},
        {"000", 366},
        {"A12", 366},  // no leading number
        {"INST", 366},
        {"4711", 0},
        {"9", 0},
        {" 1553", 0},
        {"-1553", 0},
        {"+1553", 0},
        {"00000000000000000000000000001", 364},  // non-zero however long
        {"10000000000000000000000000000", 294},
        {"99999999999999999999999999999", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.decimalClass);
        EXPECT_EQ(decimalClassToQoxDoctype(exactCopy(c.decimalClass).get()), c.type);
    }
    EXPECT_EQ(decimalClassToQoxDoctype(nullptr), QOXDOC_INST);
}

TEST(QoxDoctypeString, NamesAndOutOfRange) {
    const struct {
        int type;
        const char* name;
    } cases[] = {
        {0, "ZUnknown"},
        {1, "User Guide"},
        {41, "Language Description"},
        {294, "Technical Document"},
        {330, "Letter"},
        {366, "General Office Document"},
        {369, "Solution Guideline"},
        {370, "ZUnknown"},
        {-1, "ZUnknown"},
        {INT_MAX, "ZUnknown"},
        {INT_MIN, "ZUnknown"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        EXPECT_STREQ(getQoxDoctypeString(c.type), c.name);
    }
}

TEST(QoxDoctypeOfFileName, ClassOfAFileName) {
    const struct {
        const char* fname;
        int type;
    } cases[] = {
        {"1_1553-CXA1234567Uen.R1A.html", 1},
        {"15531-CXA1234567-2Uen.B.pdf", 41},
        {"0061-CXA1234567Uen.A.html", 330},
        {"19999-CXA1234567Uen.A.html", 294},
        {"155311-CXA1234567Uen.A.html", 366},  // six-digit class is empty
        {"4711-CXA1234567Uen.A.html", 0},
        {"noext", 0},  // does not split
        {"", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fname);
        EXPECT_EQ(docnoToQoxDoctype(exactCopy(c.fname).get()), c.type);
    }
    EXPECT_EQ(docnoToQoxDoctype(nullptr), 0);
}

}  // namespace
}  // namespace ruva

#include "common/docmodel/revision.h"

#include <gtest/gtest.h>

#include <string>

namespace ruva {
namespace {

TEST(RevisionSizeValue, Table) {
    const struct {
        const char* rev;
        int value;
    } cases[] = {
        {"PA1", 102},   {"A", 200},
        {"A1", 201},    {"B", 400},
        {"Z", 5200},    {"AA", 5400},
        {"AB", 5600},   {"BA", 10600},
        {"ZZ", 140400}, {"AA3", 5403},
        {"a1", 201},    {"pa", 101},
        {"PB", 301},    {"P", 3200},
        {"P1", 3201},   {"-", 1},
        {"-A", 1},      {"", 0},
        {"*", 0},       {"12", 12},
        {"A 1", 200},   {"A99999999999", 200 + 999999999},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rev);
        EXPECT_EQ(computedocRevSizeValue(c.rev), c.value);
    }
    EXPECT_EQ(computedocRevSizeValue(nullptr), 0);
}

TEST(RevisionIsPrelDocrev, Table) {
    const struct {
        const char* rev;
        int prel;
    } cases[] = {
        {"PA1", 1}, {"pb", 1}, {"-", 1}, {"P", 0}, {"P1", 0}, {"A", 0}, {"", 0}, {nullptr, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rev ? c.rev : "null");
        EXPECT_EQ(isPrelDocrev(c.rev), c.prel);
    }
}

TEST(RevisionCompareDocRev, Table) {
    const struct {
        const char* rev;
        const char* crev;
        int result;
    } cases[] = {
        {"A", "B", 1},    {"B1", "A", -1},   {"a", "A", 0}, {"PA1", "A", 1}, {"AA", "Z", -1},
        {"A1", "a01", 0},  // equal values, different texts
        {"", "A", 1},     {nullptr, "A", 1}, {"", "", 1},   {"A", "", -1},   {"A", nullptr, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.rev ? c.rev : "null") + " " + (c.crev ? c.crev : "null"));
        EXPECT_EQ(compareDocRev(c.rev, c.crev), c.result);
    }
}

TEST(RevisionIsSameDocRevRange, Table) {
    const struct {
        const char* rev;
        const char* crev;
        int same;
    } cases[] = {
        {"PA1", "A", 1}, {"A", "PA1", 1}, {"A", "PB", 0},    {"PB", "B3", 1}, {"A", "A99", 1},
        {"A", "B", 0},   {"A1", "A2", 1}, {"-", "-", 0},     {"-", "*", 1},   {"*", "A", 1},
        {"-", "A", 0},   {"", "A", 0},    {"A", nullptr, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.rev ? c.rev : "null") + " " + (c.crev ? c.crev : "null"));
        EXPECT_EQ(isSameDocRevRange(c.rev, c.crev), c.same);
    }
}

TEST(RevisionSwVersionToParts, Table) {
    const struct {
        const char* ver;
        int result;
        char rp;
        int maj;
        char min;
        int build;
    } cases[] = {
        {"R19F", 1, 'R', 19, 'F', 0}, {"P3E12", 1, 'P', 3, 'E', 12}, {"p3e", 1, 'P', 3, 'E', 0},
        {"r10c", 1, 'R', 10, 'C', 0}, {"R3E12", 1, 'R', 3, 'E', 0},  {"P123Z7x", 1, 'P', 123, 'Z', 7},
        {"P1Ax", 1, 'P', 1, 'A', 0},  {"R1234A", 0, 0, 0, 0, 0},     {"R", 0, 0, 0, 0, 0},
        {"R4", 0, 0, 0, 0, 0},        {"RA1", 0, 0, 0, 0, 0},        {"X1A", 0, 0, 0, 0, 0},
        {"R4-", 0, 0, 0, 0, 0},       {"", 0, 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ver);
        char rp = 0, min = 0;
        int maj = 0, build = 0;
        EXPECT_EQ(swVersionToParts(c.ver, &rp, &maj, &min, &build), c.result);
        EXPECT_EQ(rp, c.rp);
        EXPECT_EQ(maj, c.maj);
        EXPECT_EQ(min, c.min);
        EXPECT_EQ(build, c.build);
    }
}

TEST(RevisionSwVersionToParts, NullArgumentsGiveZero) {
    char rp, min;
    int maj, build;
    EXPECT_EQ(swVersionToParts(nullptr, &rp, &maj, &min, &build), 0);
    EXPECT_EQ(swVersionToParts("R1A", nullptr, &maj, &min, &build), 0);
    EXPECT_EQ(swVersionToParts("R1A", &rp, nullptr, &min, &build), 0);
    EXPECT_EQ(swVersionToParts("R1A", &rp, &maj, nullptr, &build), 0);
    EXPECT_EQ(swVersionToParts("R1A", &rp, &maj, &min, nullptr), 0);
}

TEST(RevisionProductRevToDocRev, Table) {
    const struct {
        const char* prev;
        int result;
        const char* drev;
    } cases[] = {
        {"R1A", 1, "A1"},    {"P2B", 1, "PB2"},  {"R27", 1, "AA"},
        {"R26", 1, "Z"},     {"R52", 1, "AZ"},   {"R53", 1, "BA"},
        {"R702", 1, "ZZ"},   {"R703", 0, ""},    {"R1/A", 1, "A1"},
        {"R1/5x", 1, "A5x"}, {"R1z", 1, "A26"},  {"r3", 1, "C"},
        {"p1", 1, "PA"},     {"R1B12", 1, "A2"}, {"R1 A", 1, "A"},
        {"R0", 0, ""},       {"R", 0, ""},       {"RA", 0, ""},
        {"X1", 0, ""},       {"", 0, ""},        {"R99999999999999", 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.prev);
        std::string drev = "old";
        EXPECT_EQ(productRevToDocRev(c.prev, drev), c.result);
        EXPECT_EQ(drev, c.drev);
    }
    std::string drev = "old";
    EXPECT_EQ(productRevToDocRev(nullptr, drev), 0);
    EXPECT_EQ(drev, "");
}

TEST(RevisionHostile, LongTextsGiveDefinedResults) {
    const std::string digits(10000, '9');
    EXPECT_EQ(computedocRevSizeValue(("A" + digits).c_str()), 200 + 999999999);
    std::string drev;
    EXPECT_EQ(productRevToDocRev(("R1/1" + digits).c_str(), drev), 1);
    EXPECT_EQ(drev, "A1" + digits);
    char rp, min;
    int maj, build;
    EXPECT_EQ(swVersionToParts(("P1A" + digits).c_str(), &rp, &maj, &min, &build), 1);
    EXPECT_EQ(build, 999999999);
}

}  // namespace
}  // namespace ruva

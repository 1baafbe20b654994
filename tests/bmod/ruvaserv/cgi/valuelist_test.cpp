#include "bmod/ruvaserv/cgi/valuelist.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace ruva {
namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

Pairs pairsOf(const ValueList& vl) {
    Pairs out;
    for (const Value* v = vl.firstValue(); v; v = vl.nextValue(v)) out.emplace_back(v->name, v->value);
    return out;
}

TEST(ValueList, NamesOccurOnceInOrderOfFirstArrival) {
    struct {
        const char* name;
        uint16_t flags;
        Pairs adds;
        Pairs want;
    } const cases[] = {
        {"case-blind: the later value, the first name", kValueListNoCase, {{"x", "1"}, {"X", "2"}}, {{"x", "2"}}},
        {"exact: two names", 0, {{"x", "1"}, {"X", "2"}}, {{"x", "1"}, {"X", "2"}}},
        {"a replaced value keeps its place",
         kValueListNoCase,
         {{"a", "1"}, {"b", "2"}, {"A", "3"}},
         {{"a", "3"}, {"b", "2"}}},
        {"non-ASCII bytes compare exactly", kValueListNoCase, {{"\xe9", "1"}, {"\xc9", "2"}},
         {{"\xe9", "1"}, {"\xc9", "2"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto vl = newValueList(c.flags);
        for (const auto& [name, value] : c.adds) ASSERT_NE(vl->addValue(name.c_str(), value.c_str()), nullptr);
        EXPECT_EQ(pairsOf(*vl), c.want);
    }
}

TEST(ValueList, ValuesAreMadeHarmlessExceptInRawFields) {
    struct {
        const char* name;
        const char* value;
        const char* stored;
    } const cases[] = {
        {"DB", "<b>x", " b x"},
        {"TI", "\"a\"", "&#34;a&#34;"},
        {"NS", "<b>", "<b>"},
        {"ns", "\"a\"", "\"a\""},
        {"NC", "a/b", "a/b"},
        {"CM", "it's", "it's"},
        {"Cr", "<i>", "<i>"},
        {"LIBIDS", "\"12 34 \"", "\"12 34 \""},
        // Only the five whole names keep their value raw.
        {"NSX", "<b>", " b "},
        {"LIBID", "\"1\"", "&#34;1&#34;"},
    };
    auto vl = newValueList(kValueListNoCase);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Value* v = vl->addValue(c.name, c.value);
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(v->value, c.stored);
        EXPECT_EQ(vl->findValue(c.name), v);
    }
}

TEST(ValueList, NoNameStoresNothing) {
    auto vl = newValueList(kValueListNoCase);
    EXPECT_EQ(vl->addValue(nullptr, "1"), nullptr);
    EXPECT_EQ(vl->addValue("", "1"), nullptr);
    EXPECT_EQ(vl->firstValue(), nullptr);
    EXPECT_EQ(vl->findValue(nullptr), nullptr);
    EXPECT_EQ(vl->nextValue(nullptr), nullptr);

    Value* v = vl->addValue("a", nullptr);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->value, "");
}

TEST(ValueList, FindValueComparesAsTheFlagsSay) {
    auto blind = newValueList(kValueListNoCase);
    auto exact = newValueList(0);
    Value* b = blind->addValue("AC", "LINK");
    Value* e = exact->addValue("AC", "LINK");
    EXPECT_EQ(blind->findValue("ac"), b);
    EXPECT_EQ(blind->findValue("AC"), b);
    EXPECT_EQ(exact->findValue("ac"), nullptr);
    EXPECT_EQ(exact->findValue("AC"), e);
    EXPECT_EQ(blind->findValue("A"), nullptr);
    EXPECT_EQ(blind->findValue("ACX"), nullptr);
}

TEST(ValueList, RemoveValueUnlinksOnlyItsOwnPair) {
    struct {
        const char* name;
        const char* removed;
        Pairs want;
    } const cases[] = {
        {"first", "a", {{"b", "2"}, {"c", "3"}}},
        {"middle", "b", {{"a", "1"}, {"c", "3"}}},
        {"last", "c", {{"a", "1"}, {"b", "2"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto vl = newValueList(kValueListNoCase);
        vl->addValue("a", "1");
        vl->addValue("b", "2");
        vl->addValue("c", "3");
        vl->removeValue(vl->findValue(c.removed));
        EXPECT_EQ(pairsOf(*vl), c.want);
        EXPECT_EQ(vl->findValue(c.removed), nullptr);

        // The name comes back at the end, and the list still links both ways.
        vl->addValue(c.removed, "9");
        Pairs again = c.want;
        again.emplace_back(c.removed, "9");
        EXPECT_EQ(pairsOf(*vl), again);
        vl->removeValue(vl->findValue(c.removed));
        EXPECT_EQ(pairsOf(*vl), c.want);
    }
}

TEST(ValueList, ForeignOrNullPairIsLeftAlone) {
    auto vl = newValueList(kValueListNoCase);
    auto other = newValueList(kValueListNoCase);
    vl->addValue("a", "1");
    Value* foreign = other->addValue("a", "2");
    vl->removeValue(foreign);
    vl->removeValue(nullptr);
    EXPECT_EQ(pairsOf(*vl), (Pairs{{"a", "1"}}));
    EXPECT_EQ(pairsOf(*other), (Pairs{{"a", "2"}}));
}

TEST(ValueList, ClearEmptiesTheListForReuse) {
    auto vl = newValueList(kValueListNoCase);
    vl->addValue("a", "1");
    vl->addValue("b", "2");
    vl->clear();
    EXPECT_EQ(vl->firstValue(), nullptr);
    EXPECT_EQ(vl->findValue("a"), nullptr);
    vl->addValue("B", "3");
    EXPECT_EQ(pairsOf(*vl), (Pairs{{"B", "3"}}));
}

// A POST body may hold hundreds of thousands of distinct names; each store
// and look-up must stay cheap, and deleting the list must not recurse.
TEST(ValueList, ManyDistinctNamesKeepTheirOrder) {
    constexpr int kCount = 200000;
    auto vl = newValueList(kValueListNoCase);
    for (int i = 0; i < kCount; ++i) {
        std::string name = "f" + std::to_string(i);
        ASSERT_NE(vl->addValue(name.c_str(), "v"), nullptr);
    }
    int n = 0;
    for (const Value* v = vl->firstValue(); v; v = vl->nextValue(v), ++n)
        if (v->name != "f" + std::to_string(n)) FAIL() << "pair " << n << " is " << v->name;
    EXPECT_EQ(n, kCount);
    EXPECT_NE(vl->findValue("F199999"), nullptr);
}

}  // namespace
}  // namespace ruva

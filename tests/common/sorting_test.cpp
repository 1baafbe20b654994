#include "common/sorting.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ruva {
namespace {

// Sorts the keys with their positions as values and gives "key@position"
// for each, so both order and stability show.
std::vector<std::string> sortTagged(std::vector<const char*> keys) {
    std::vector<void*> values;
    std::vector<int> positions(keys.size());
    for (size_t i = 0; i < keys.size(); ++i) {
        positions[i] = static_cast<int>(i);
        values.push_back(&positions[i]);
    }
    optimisedGSort(keys.data(), values.data(), static_cast<int>(keys.size()));
    std::vector<std::string> out;
    for (size_t i = 0; i < keys.size(); ++i) {
        out.push_back(std::string(keys[i]) + "@" + std::to_string(*static_cast<int*>(values[i])));
    }
    return out;
}

TEST(SortingOptimisedGSort, CaseBlindAndStable) {
    EXPECT_EQ(sortTagged({"b", "A", "a", "B", "c"}),
              (std::vector<std::string>{"A@1", "a@2", "b@0", "B@3", "c@4"}));
}

TEST(SortingOptimisedGSort, FoldsToLowerCaseLikeStrcasecmp) {
    // '_' lies between the ASCII upper- and lower-case letters, so the fold
    // direction decides where it goes.
    EXPECT_EQ(sortTagged({"B", "_", "a"}), (std::vector<std::string>{"_@1", "a@2", "B@0"}));
}

TEST(SortingOptimisedGSort, PrefixFirstAndHighBytesAfterAscii) {
    EXPECT_EQ(sortTagged({"\xE9", "ABC", "z", "ab", ""}),
              (std::vector<std::string>{"@4", "ab@3", "ABC@1", "z@2", "\xE9@0"}));
}

TEST(SortingOptimisedGSort, OnlyTheFirstNKeysAndNullValues) {
    const char* keys[] = {"c", "b", "a"};
    optimisedGSort(keys, nullptr, 2);
    EXPECT_STREQ(keys[0], "b");
    EXPECT_STREQ(keys[1], "c");
    EXPECT_STREQ(keys[2], "a");
    optimisedGSort(keys, nullptr, 0);
    optimisedGSort(keys, nullptr, 1);
    EXPECT_STREQ(keys[0], "b");
}

TEST(SortingGSort, MovesOneKeyDownPastGreaterKeys) {
    const char* keys[] = {"a", "c", "d", "B", "e"};
    int v[] = {0, 1, 2, 3, 4};
    void* values[] = {&v[0], &v[1], &v[2], &v[3], &v[4]};
    gSort(keys, values, 3);
    const char* expected[] = {"a", "B", "c", "d", "e"};
    int expectedValues[] = {0, 3, 1, 2, 4};
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        EXPECT_STREQ(keys[i], expected[i]);
        EXPECT_EQ(*static_cast<int*>(values[i]), expectedValues[i]);
    }
}

}  // namespace
}  // namespace ruva

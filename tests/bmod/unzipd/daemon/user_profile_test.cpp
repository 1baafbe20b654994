#include "bmod/unzipd/daemon/user_profile.h"

#include <gtest/gtest.h>

#include <vector>

namespace ruva {
namespace {

std::vector<int> allowedOf(const UserProfile* p) {
    std::vector<int> out;
    for (int n : {0, 3, 5, 7, 12, 13}) if (isSystemAllowed(p, n)) out.push_back(n);
    return out;
}

TEST(UserProfile, SetSystems) {
    const std::vector<int> all = {0, 3, 5, 7, 12, 13};
    struct Case {
        const char* text;
        std::vector<int> allowed;
    } cases[] = {
        {"12|x|7", {7, 12}},
        {" 0", all},
        {"", all},
        {nullptr, all},
        {"3|-1", {}},
        {"-10", {}},
        {"|| 5", {5}},
        {"x|y", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text != nullptr ? c.text : "(null)");
        auto p = newUserProfile();
        ASSERT_TRUE(p);
        ASSERT_EQ(p->setSystems(c.text), 1);
        EXPECT_EQ(allowedOf(p.get()), c.allowed);
    }
}

TEST(UserProfile, NewProfileAllowsAllTypesAndNoSystem) {
    auto p = newUserProfile();
    EXPECT_EQ(allowedOf(p.get()), std::vector<int>{});
    EXPECT_EQ(isBLOBTypeAllowed(p.get(), "foo"), 1);
    // No profile allows nothing.
    EXPECT_EQ(isSystemAllowed(nullptr, 1), 0);
    EXPECT_EQ(isBLOBTypeAllowed(nullptr, "kvo"), 0);
}

TEST(UserProfile, SetBLOBTypes) {
    struct Case {
        const char* text;
        const char* extension;
        int allowed;
    } cases[] = {
        {"5", "kvo", 1}, {"5", "KHX", 1}, {"5", ".ers", 1}, {"5", "Zip", 1},  {"5", "z", 0},
        {"5", "zdf", 0}, {"5", "zsw", 0}, {"5", "zgp", 0},  {"5", "foo", 0},  {nullptr, "foo", 1},
        {"-3", "foo", 1}, {"-3", "zgp", 1}, {"0", "kvo", 0}, {"0", "foo", 0}, {"32", "zgp", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text != nullptr ? c.text : "(null)") + " " + c.extension);
        auto p = newUserProfile();
        p->setBLOBTypes(c.text);
        EXPECT_EQ(isBLOBTypeAllowed(p.get(), c.extension), c.allowed);
    }
}

TEST(UserProfile, ExtensionToLibType) {
    EXPECT_EQ(ExtensionToLibType("kvo"), LIB_KIVO);
    EXPECT_EQ(ExtensionToLibType("ERS"), LIB_KIVO);
    EXPECT_EQ(ExtensionToLibType("z"), LIB_HTML);
    EXPECT_EQ(ExtensionToLibType("zgp"), LIB_GENERIC);
    EXPECT_EQ(ExtensionToLibType("anx"), LIB_UNKNOWN);
    EXPECT_EQ(ExtensionToLibType(nullptr), LIB_UNKNOWN);
}

}  // namespace
}  // namespace ruva

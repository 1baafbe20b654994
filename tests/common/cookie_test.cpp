#include "common/cookie.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace ruva {
namespace {

// Sets HTTP_COOKIE (unset for null) for one test and puts it back after.
class CookieGetcookieforpn : public ::testing::Test {
protected:
    void SetUp() override {
        const char* old = std::getenv("HTTP_COOKIE");
        if (old != nullptr) saved_ = old;
    }
    void TearDown() override {
        if (saved_)
            setenv("HTTP_COOKIE", saved_->c_str(), 1);
        else
            unsetenv("HTTP_COOKIE");
    }
    static void setCookies(const char* value) {
        if (value != nullptr)
            ASSERT_EQ(setenv("HTTP_COOKIE", value, 1), 0);
        else
            ASSERT_EQ(unsetenv("HTTP_COOKIE"), 0);
    }

private:
    std::optional<std::string> saved_;
};

TEST_F(CookieGetcookieforpn, MatchesWholeNames) {
    struct {
        const char* name;
        const char* cookies;
        const char* wanted;
        std::optional<std::string> value;
    } const cases[] = {
        {"exact name", "xcat=1; cat=2; catx=3", "cat", "2"},
        {"prefix of a name", "xcat=1; cat=2; catx=3", "ca", std::nullopt},
        {"first item", "xcat=1; cat=2; catx=3", "xcat", "1"},
        {"last item", "xcat=1; cat=2; catx=3", "catx", "3"},
        {"name inside a value", "x=cat=9", "cat", std::nullopt},
        {"value holding =", "a=b=c; d=e", "a", "b=c"},
        {"empty value", "cat=; dog=1", "cat", ""},
        {"item without =", "flag; cat=2", "flag", std::nullopt},
        {"name ends the variable", "dog=1; cat", "cat", std::nullopt},
        {"blanks and tabs trimmed", " \tcat=2 \t;dog=1", "cat", "2"},
        {"no blank after ;", "dog=1;cat=2", "cat", "2"},
        {"inner blanks kept", "cat=a b ; x=1", "cat", "a b"},
        {"blank before = is part of the name", "cat =2", "cat", std::nullopt},
        {"first match wins", "cat=1; cat=2", "cat", "1"},
        {"case matters", "CAT=1", "cat", std::nullopt},
        {"empty items", ";; cat=2;", "cat", "2"},
        {"empty variable", "", "cat", std::nullopt},
        {"unset variable", nullptr, "cat", std::nullopt},
        {"empty name", "=1; cat=2", "", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        setCookies(c.cookies);
        EXPECT_EQ(getcookieforpn(c.wanted), c.value);
    }
}

TEST_F(CookieGetcookieforpn, NullNameHasNoValue) {
    setCookies("cat=2");
    EXPECT_EQ(getcookieforpn(nullptr), std::nullopt);
}

}  // namespace
}  // namespace ruva

#include "common/text_view.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>


namespace ruva {
namespace {

TEST(TextViewFindCaseBlind, Table) {
    struct {
        const char* text;
        size_t from;
        const char* word;
        size_t at;
    } const cases[] = {
        {"<HTML><Body>", 0, "<body>", 6},
        {"<body><body>", 1, "<BODY>", 6},
        {"<body>", 6, "", 6},
        {"<bod", 0, "<body>", std::string_view::npos},
        {"abc", 4, "a", std::string_view::npos},
        {"abc", std::string_view::npos, "a", std::string_view::npos},
        {"", 0, "x", std::string_view::npos},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        // No NUL after the view: a look past its end would be reported.
        std::string_view text(c.text);
        auto exact = std::make_unique<char[]>(text.size());
        text.copy(exact.get(), text.size());
        EXPECT_EQ(findCaseBlind(std::string_view(exact.get(), text.size()), c.from, c.word), c.at);
    }
}

}  // namespace
}  // namespace ruva

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "common/fulltext_helpers.h"

namespace ruva {
namespace {

TEST(FilenameToDocnoFS, TableOfNames) {
    const struct {
        const char* name;
        std::optional<std::string> want;
    } cases[] = {
        {"123_45-ABC.R1A.html", "123/45-ABC R1A"},
        {"123_45-ABC.R1A.HTML", "123/45-ABC R1A"},
        {"1_1553-CXA.R_1.xml", "1/1553-CXA R/1|xml"},
        {"a.B.Pdf", "a B"},
        {"a.B.fdp", "a B"},
        {"x..pdf", "x "},
        {"a.b", "a b"},
        {"abc", std::nullopt},
        {"", std::nullopt},
        {nullptr, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name ? c.name : "(null)");
        EXPECT_EQ(filenameToDocnoFS(c.name), c.want);
    }
}

}  // namespace
}  // namespace ruva

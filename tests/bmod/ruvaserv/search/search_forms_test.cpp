#include "bmod/ruvaserv/search/search_forms_script.h"

#include <gtest/gtest.h>

namespace ruva {
namespace {

TEST(SearchFormsScript, IsCompiledIn) {
    EXPECT_NE(searchFormsScriptFile().find("//@section advanced"), std::string_view::npos);
}

}  // namespace
}  // namespace ruva

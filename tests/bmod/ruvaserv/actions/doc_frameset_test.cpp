// DOCNOTREE: the document frameset's exact bytes per BC.
#include <gtest/gtest.h>

#include "bmod/ruvaserv/actions/action_scripts.h"

namespace ruva {
namespace {

TEST(DocFrameset, ScriptIsCompiledIn) {
    EXPECT_FALSE(docFramesetScriptFile().empty());
}

}  // namespace
}  // namespace ruva

#include "bmod/ruvaserv/sgml/sgmltree.h"

#include <gtest/gtest.h>

namespace ruva {
namespace {

TEST(SgmlTree, NotBuiltYet) { GTEST_SKIP() << "cases follow with the unit"; }

}  // namespace
}  // namespace ruva

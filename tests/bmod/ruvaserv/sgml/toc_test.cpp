#include "bmod/ruvaserv/sgml/toc.h"

#include <gtest/gtest.h>

namespace ruva {
namespace {

TEST(Toc, NotBuiltYet) { GTEST_SKIP() << "cases follow with the unit"; }

}  // namespace
}  // namespace ruva

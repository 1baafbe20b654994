#include "bmod/ruvaserv/sgml/sdi.h"

#include <gtest/gtest.h>

namespace ruva {
namespace {

TEST(SdiWriter, NotBuiltYet) { GTEST_SKIP() << "cases follow with the unit"; }

}  // namespace
}  // namespace ruva

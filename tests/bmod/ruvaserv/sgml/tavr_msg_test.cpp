#include "bmod/ruvaserv/sgml/tavr_msg.h"

#include <gtest/gtest.h>

namespace ruva {
namespace {

TEST(TavrMsg, NotBuiltYet) { GTEST_SKIP() << "cases follow with the unit"; }

}  // namespace
}  // namespace ruva

#include "bmod/ruvaserv/sgml/scontext.h"

#include <gtest/gtest.h>

namespace ruva {
namespace {

// Placeholder until the unit's cases land.
TEST(SContext, Placeholder) { SUCCEED(); }

}  // namespace
}  // namespace ruva

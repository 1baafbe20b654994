// Helpers shared by every test program.
#pragma once

#include <string>

namespace ruva::test {

// Directory of the read-only test data beside the project. The environment
// variable RUVA_TESTDATA overrides the configured path. Fails the calling
// test (and returns "") when the directory does not exist.
std::string testDataDir();

}  // namespace ruva::test

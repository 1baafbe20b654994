#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

namespace ruva::test {

std::string testDataDir() {
    const char* env = std::getenv("RUVA_TESTDATA");
    std::string dir = env && *env ? env : RUVA_TESTDATA_DIR;
    struct stat st;
    if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        ADD_FAILURE() << "test data directory not found: " << dir
                      << " (set RUVA_TESTDATA or configure RUVA_TESTDATA_DIR)";
        return "";
    }
    return dir;
}

}  // namespace ruva::test

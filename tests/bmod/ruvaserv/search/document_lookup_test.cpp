#include "bmod/ruvaserv/search/document_lookup.h"

#include <gtest/gtest.h>

namespace ruva {
namespace {

TEST(DocumentLookup, LibraryIsNotNamedInMessage83ByDefault) {
    const DocumentLookup lookup{"77"};
    EXPECT_EQ(lookup.library, "77");
    EXPECT_FALSE(lookup.libraryIn83);
}

}  // namespace
}  // namespace ruva

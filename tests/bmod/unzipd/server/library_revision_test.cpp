// findZipStructureByLi over a catalogue of libraries that differ only in
// their library ids.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bmod/unzipd/server/command_handlers.h"
#include "tests/bmod/unzipd/catalogue/catalogue_fixture.h"

namespace ruva {
namespace {

TEST(LibraryRevision, LatestRevisionByLibraryId) {
    test::TempDir dir;
    test::SetRemover remover{test::cat::languageKey()};
    const char* ids[] = {"EN/DOCLIB1 R1A", "EN/DOCLIB1 R2A", "EN/DOCLIB1 R10A", "EN/DOCLIB1 P1A",
                         "EN/DOC2 P3A",    "EN/DOC2 R3A",    "EN/DOC3 R1A",     "EN/DOC3 R1AB",
                         "EN/DOC4 R1A1",   "EN/DOC4 R1A",    "EN/DOC5 R1A",     "EN/DOC5 R1A/1",
                         "EN/NOREV1",      "EN/NOREV2"};
    std::vector<test::cat::LibrarySpec> libs;
    int n = 0;
    for (const char* id : ids) libs.push_back({dir.file("l/" + std::to_string(n++) + ".kvo"), std::string("T [") + id + "]"});
    ASSERT_TRUE(test::cat::makeLibraries(libs));
    auto zl = test::cat::newTestZipList(0);
    ASSERT_TRUE(zl && zl->allocZipPool(100, 1000, 65536));
    zl->filesysScanner->addNonRecursiveDir(dir.file("l").c_str());
    zl->filesysScanner->addIncludePattern("*.kvo");
    ASSERT_EQ(zl->scanFilesystem(), static_cast<int>(std::size(ids)));
    struct Case {
        const char* text;
        const char* id;  // expected, "" for none
    };
    const Case cases[] = {
        {"[EN/DOCLIB1*]", "EN/DOCLIB1R10A"},   // R10A walks before R1A: found by comparing
        {"x [EN/DOCLIB1R*]", "EN/DOCLIB1R10A"},
        {"[EN/DOC2*]", "EN/DOC2R3A"},          // R after P at equal numbers
        {"[EN/DOC3*]", "EN/DOC3R1AB"},         // the longer letter group
        {"[EN/DOC4*]", "EN/DOC4R1A"},          // no second number beats one
        {"[EN/DOC5*]", "EN/DOC5R1A/1"},        // a suffix beats none
        {"[en/doclib1 r2a]", "EN/DOCLIB1R2A"},  // exact, upper case, no blanks
        {"[EN/DOCLIB1R3A]", ""},
        {"[EN/NOREV*]", "EN/NOREV2"},          // no revisions: the last candidate
        {"[EN/NONE*]", ""},
        {"no id", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ZipStructure* zs = findZipStructureByLi(zl.get(), c.text, nullptr);
        EXPECT_EQ(zs ? std::string(zs->libID) : "", c.id);
    }
}

}  // namespace
}  // namespace ruva

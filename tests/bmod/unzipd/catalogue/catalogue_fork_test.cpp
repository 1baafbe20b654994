// A session process forked from the daemon reads the catalogue as the main
// process changes it afterwards, heaps added after the fork included.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "bmod/unzipd/catalogue/ml_tree.h"
#include "bmod/unzipd/catalogue/zip_list.h"
#include "bmod/unzipd/zip/zip_pool.h"
#include "bmod/unzipd/zip/zip_reader.h"
#include "tests/bmod/unzipd/catalogue/catalogue_fixture.h"

namespace ruva {
namespace {

using test::Child;
using test::Link;
using test::SetRemover;
using test::TempDir;
using namespace test::cat;

constexpr int kBefore = 10;
constexpr int kAdded = 40;
const int kDeleted[] = {3, 25};  // one from before the fork, one added after

std::string libName(int n) {
    return "lib" + std::to_string(n) + ".kvo";
}

std::vector<LibrarySpec> libraries(const std::string& dir, int from, int to) {
    std::vector<LibrarySpec> specs;
    for (int n = from; n <= to; ++n) specs.push_back({dir + "/" + libName(n), "Guide [EN/LIB" + std::to_string(n) + "]"});
    return specs;
}

bool inList(const MlZipStruct* node, const ZipStructure* zs) {
    for (const ZipStructure* z = node ? node->zs : nullptr; z; z = z->MlNext)
        if (z == zs) return true;
    return false;
}

bool deleted(int n) {
    for (int d : kDeleted)
        if (d == n) return true;
    return false;
}

// The reader's checks; 0 when all hold, else the number of the one failed.
int readerChecks(const ZipList& zl, const std::string& dir) {
    const CatalogueBlock* b = zl.block();
    for (int n = 1; n <= kBefore + kAdded; ++n) {
        std::string name = libName(n);
        ZipStructure* byName = zl.findZipStructure(name.c_str(), nullptr);
        ZipStructure* byId = zl.findZipStructureByLibID(("[EN/LIB" + std::to_string(n) + "]").c_str(), nullptr);
        if (deleted(n)) {
            if (byName || byId) return 10;
            for (const MlHashTable& slot : b->MlZipHash)
                if (slot.MlNode && slot.type == ML_NODE_TYPE_ZS &&
                    std::strcmp(static_cast<ZipStructure*>(slot.MlNode)->zipName, (dir + "/" + name).c_str()) == 0)
                    return 11;
            for (const ZipStructure* z = b->MlRoot ? b->MlRoot->zs : nullptr; z; z = z->MlNext)
                if (std::strcmp(z->zipBasename, name.c_str()) == 0) return 12;
            continue;
        }
        if (!byName || byName->zipName != dir + "/" + name) return 2;
        if (byId != byName) return 3;
        if (byName->hashID <= 0 || b->MlZipHash[byName->hashID].MlNode != byName) return 4;
        if (byName->MlSub != b->MlRoot || !inList(b->MlRoot, byName)) return 5;
    }
    if (b->structureCount != static_cast<unsigned long>(kBefore + kAdded - 2)) return 6;
    return 0;
}

TEST(CatalogueFork, ChildSeesParentChanges) {
    TempDir dir;
    SetRemover remover(languageKey());
    std::string lib = dir.file("lib");
    ASSERT_TRUE(makeLibraries(libraries(lib, 1, kBefore)));
    auto zl = newTestZipList();
    ASSERT_TRUE(zl);
    // Four library records asked for: one page of 21 per heap.
    ASSERT_TRUE(zl->allocZipPool(4, 2000, 65536));
    zl->filesysScanner->addNonRecursiveDir(lib.c_str());
    ASSERT_EQ(zl->scanFilesystem(), kBefore);
    ASSERT_EQ(zl->zipPool->zipStructurePool->numHeaps, 1);
    ASSERT_TRUE(makeLibraries(libraries(lib, kBefore + 1, kBefore + kAdded)));

    Child reader([&](const Link& link) {
        if (zl->findZipStructure(libName(kBefore + 1).c_str(), nullptr)) return 1;
        if (!link.send('r') || link.receive() != 'g') return 100;
        if (int failed = readerChecks(*zl, lib)) return failed;
        // A session cannot change the catalogue: these calls do nothing here.
        ZipStructure* first = zl->findZipStructure(libName(1).c_str(), nullptr);
        zl->unhookAndDelete(first);
        zl->deleteZipStructure(first);
        zl->delMlStruct(zl->getMlRoot());
        if (zl->newZipStructure((lib + "/" + libName(3)).c_str(), 0)) return 20;
        if (zl->allocZipPool(4, 10, 4096) || zl->scanFilesystem() != -1) return 21;
        return 0;
    });
    ASSERT_TRUE(reader.started());
    ASSERT_EQ(reader.receive(), 'r');

    for (int n = kBefore + 1; n <= kBefore + kAdded; ++n)
        ASSERT_EQ(fileSysAddZipCallback(zl.get(), (lib + "/" + libName(n)).c_str()), 1) << n;
    for (int n : kDeleted) {
        ZipStructure* zs = zl->findZipStructure(libName(n).c_str(), nullptr);
        ASSERT_NE(zs, nullptr);
        zl->unhookAndDelete(zs);
    }
    zl->buildQuickAccessIndex();
    zl->buildMlStructure();
    EXPECT_GT(zl->zipPool->zipStructurePool->numHeaps, 1);
    EXPECT_EQ(readerChecks(*zl, lib), 0);

    ASSERT_TRUE(reader.send('g'));
    EXPECT_EQ(reader.finish(), 0);
    EXPECT_EQ(readerChecks(*zl, lib), 0);
}

}  // namespace
}  // namespace ruva

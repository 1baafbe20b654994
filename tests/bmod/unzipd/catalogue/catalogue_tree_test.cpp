// The catalogue and its node tree together: scans with a structure file,
// refreshes, and libraries whose node went away.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <string>
#include <vector>

#include "bmod/unzipd/catalogue/filesys_scanner.h"
#include "bmod/unzipd/catalogue/ml_tree.h"
#include "bmod/unzipd/catalogue/zip_list.h"
#include "bmod/unzipd/zip/zip_reader.h"
#include "tests/bmod/unzipd/catalogue/catalogue_fixture.h"

namespace ruva {
namespace {

using test::runShell;
using test::SetRemover;
using test::TempDir;
using test::writeFile;
using namespace test::cat;

std::vector<std::string> listEntries(const StringList* list) {
    std::vector<std::string> out;
    for (const String* s = list ? list->first : nullptr; s; s = s->next) out.push_back(s->value);
    return out;
}

// r/ holds the root's library, na/ node A's (sorted by comment, one without
// one), nb/ node B's.
class CatalogueTree : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.ok());
        r = dir.file("r");
        na = dir.file("na");
        nb = dir.file("nb");
        ASSERT_TRUE(makeLibraries({{r + "/r1.kvo", "Root one [EN/R1]"},
                                   {na + "/a1.kvo", "beta [EN/A1]"},
                                   {na + "/a2.kvo", "Alpha [EN/A2]"},
                                   {na + "/a3.kvo", "gamma [EN/A3]"},
                                   {na + "/a4.kvo", "ALPHA2 [EN/A4]"},
                                   {na + "/nc.kvo", std::nullopt},
                                   {nb + "/b1.kvo", "B one [EN/B1]"}}));
        conf = dir.file("structure.txt");
        writeStructure(true);
    }
    void writeStructure(bool withB) {
        std::vector<MlRecord> records = {{"Root", "the root", "0", r}, {"A", "node a", "1", na}};
        if (withB) records.push_back({"B", "node b", "1", nb});
        writeFile(conf, structureText(records));
    }
    std::unique_ptr<ZipList> catalogue(bool withStructure = true) {
        auto zl = newTestZipList();
        if (!zl || !zl->allocZipPool(50, 500, 65536)) return nullptr;
        if (withStructure) zl->setMlConfFile(conf.c_str());
        zl->filesysScanner->addIncludePattern("*.kvo");
        return zl;
    }
    MlZipStruct* node(ZipList& zl, const char* name) { return inOrder(zl.getMlRoot(), name, 2); }

    TempDir dir;
    SetRemover remover{languageKey()};
    std::string r, na, nb, conf;
};

TEST_F(CatalogueTree, ScanHangsLibrariesOnTheirNodesSortedByComment) {
    auto zl = catalogue();
    ASSERT_TRUE(zl);
    ASSERT_EQ(zl->scanFilesystem(), 7);
    EXPECT_EQ(zl->structureCount(), 7u);
    EXPECT_EQ(zl->subCount(), 3u);
    struct stat st;
    ASSERT_EQ(stat(conf.c_str(), &st), 0);
    EXPECT_EQ(zl->block()->m_ConfFileTime, st.st_mtime);
    EXPECT_EQ(listEntries(zl->filesysScanner->nonRecursiveDirs.get()),
              (std::vector<std::string>{r + "/", na + "/", nb + "/"}));

    MlZipStruct* a = node(*zl, "A");
    MlZipStruct* b = node(*zl, "B");
    ASSERT_TRUE(a && b);
    std::vector<std::string> sortedA = {na + "/a2.kvo", na + "/a4.kvo", na + "/a1.kvo", na + "/a3.kvo"};
    EXPECT_EQ(nodeLibraries(a), sortedA);
    EXPECT_EQ(nodeLibraries(b), (std::vector<std::string>{nb + "/b1.kvo"}));
    EXPECT_EQ(nodeLibraries(zl->getMlRoot()), (std::vector<std::string>{r + "/r1.kvo"}));
    ZipStructure* nc = zl->findZipStructure("nc.kvo", nullptr);
    ASSERT_NE(nc, nullptr);
    EXPECT_EQ(nc->MlSub, a);
    for (ZipStructure* zs = a->zs; zs; zs = zs->MlNext) EXPECT_EQ(zs->MlSub, a);

    // Building again gives the same lists, without a library linked to itself.
    zl->buildMlStructure();
    zl->buildMlStructure();
    EXPECT_EQ(nodeLibraries(a), sortedA);
    EXPECT_EQ(nodeLibraries(b), (std::vector<std::string>{nb + "/b1.kvo"}));

    // One library hung again by its node's id, and one appended by path.
    ZipStructure* a3 = zl->findZipStructure("a3.kvo", nullptr);
    EXPECT_EQ(zl->addZStoMl(a3, a3->zipName, a->ID), 1);
    EXPECT_EQ(nodeLibraries(a), sortedA);
    EXPECT_EQ(zl->addMlZipStructure(a3, (nb + "/x.kvo").c_str()), 1);
    EXPECT_EQ(nodeLibraries(b), (std::vector<std::string>{nb + "/b1.kvo", na + "/a3.kvo"}));
    EXPECT_EQ(nodeLibraries(a), (std::vector<std::string>{na + "/a2.kvo", na + "/a4.kvo", na + "/a1.kvo"}));
    LogCapture log;
    ZipStructure* r1 = zl->findZipStructure("r1.kvo", nullptr);
    EXPECT_EQ(zl->addZStoMl(r1, "r1", r1->hashID), 0);
    EXPECT_TRUE(log.has("Failed to add 'r1' to multilevel configuration")) << log.all();
    EXPECT_EQ(zl->addMlZipStructure(r1, (dir.path() + "/elsewhere/x.kvo").c_str()), 0);
}

TEST_F(CatalogueTree, DefaultTreeNeedsADirectory) {
    auto zl = catalogue(false);
    ASSERT_TRUE(zl);
    EXPECT_EQ(zl->scanFilesystem(), -1);
    EXPECT_EQ(zl->getMlRoot(), nullptr);
    zl->filesysScanner->addNonRecursiveDir(na.c_str());
    zl->filesysScanner->addNonRecursiveDir(nb.c_str());
    ASSERT_EQ(zl->scanFilesystem(), 6);
    MlZipStruct* root = zl->getMlRoot();
    ASSERT_NE(root, nullptr);
    EXPECT_STREQ(root->descr, "<!--@@servname-->");
    EXPECT_EQ(root->libpath, na + "/");
    EXPECT_STREQ(root->ifile, "-");
    EXPECT_STREQ(root->label, "");
    EXPECT_EQ(root->ID, 0);
    EXPECT_EQ(zl->subCount(), 1u);
    EXPECT_STREQ(zl->getMlConfFile(), "default");
    EXPECT_EQ(nodeLibraries(root).size(), 4u);
    // The default root's folder is not added to the scanner's list again.
    EXPECT_EQ(listEntries(zl->filesysScanner->nonRecursiveDirs.get()), (std::vector<std::string>{na, nb}));
    // A second scan makes a new default tree over the same libraries.
    ASSERT_EQ(zl->scanFilesystem(), 6);
    EXPECT_EQ(zl->structureCount(), 6u);
    EXPECT_EQ(nodeLibraries(zl->getMlRoot()).size(), 4u);
}

TEST_F(CatalogueTree, ANodeRemovedFromTheFileTakesItsLibrariesAlong) {
    auto zl = catalogue();
    ASSERT_TRUE(zl);
    ASSERT_EQ(zl->scanFilesystem(), 7);
    int idA = node(*zl, "A")->ID;
    ZipStructure* b1 = zl->findZipStructure("b1.kvo", nullptr);
    ASSERT_NE(b1, nullptr);
    int idB1 = b1->hashID;

    writeStructure(false);
    LogCapture log;
    ASSERT_EQ(zl->scanFilesystem(), 6);
    EXPECT_TRUE(log.has("Removed '" + nb + "/b1.kvo'")) << log.all();
    EXPECT_EQ(log.levelOf("Removed '" + nb + "/b1.kvo'"), kLogErr);
    EXPECT_EQ(log.levelOf("Releasing backup copies of multi-level structures"), kLogDebug);
    EXPECT_EQ(zl->findZipStructure("b1.kvo", nullptr), nullptr);
    EXPECT_EQ(zl->block()->MlZipHash[idB1].MlNode, nullptr);
    EXPECT_EQ(zl->structureCount(), 6u);
    EXPECT_EQ(zl->subCount(), 2u);
    ASSERT_NE(node(*zl, "A"), nullptr);
    EXPECT_EQ(node(*zl, "A")->ID, idA);
    EXPECT_EQ(node(*zl, "B"), nullptr);
    EXPECT_EQ(listEntries(zl->filesysScanner->nonRecursiveDirs.get()), (std::vector<std::string>{r + "/", na + "/"}));
    EXPECT_EQ(zl->shared()->nodePool()->usedItems, 2u);
}

TEST_F(CatalogueTree, ABrokenFileAtRefreshKeepsTheOldTree) {
    {
        // The first read of a broken file fails the scan.
        auto fresh = catalogue();
        ASSERT_TRUE(fresh);
        writeFile(conf, "Label: x\n");
        EXPECT_EQ(fresh->scanFilesystem(), -1);
        EXPECT_EQ(fresh->getMlRoot(), nullptr);
        writeStructure(true);
    }
    auto zl = catalogue();
    ASSERT_TRUE(zl);
    ASSERT_EQ(zl->scanFilesystem(), 7);
    MlZipStruct* root = zl->getMlRoot();
    std::map<int, const void*> slots;
    for (int id = 0; id < kMlHashSize; ++id)
        if (zl->block()->MlZipHash[id].MlNode) slots[id] = zl->block()->MlZipHash[id].MlNode;
    std::vector<std::string> dirs = listEntries(zl->filesysScanner->nonRecursiveDirs.get());
    std::vector<std::string> listA = nodeLibraries(node(*zl, "A"));

    // A record after the root is broken: the nodes read before it go again.
    writeFile(conf, structureText({{"Root", "", "0", r}, {"N", "", "1", na}}) + "Name: X\nLevel: 1\n");
    LogCapture log;
    ASSERT_EQ(zl->scanFilesystem(), 7);
    EXPECT_EQ(log.levelOf("Error in system structure configuration"), kLogErr) << log.all();
    EXPECT_EQ(log.levelOf("Attempting to proceed with last known good configuration"), kLogWarning);
    EXPECT_EQ(zl->getMlRoot(), root);
    std::map<int, const void*> after;
    for (int id = 0; id < kMlHashSize; ++id)
        if (zl->block()->MlZipHash[id].MlNode) after[id] = zl->block()->MlZipHash[id].MlNode;
    EXPECT_EQ(after, slots);
    EXPECT_EQ(listEntries(zl->filesysScanner->nonRecursiveDirs.get()), dirs);
    EXPECT_EQ(nodeLibraries(node(*zl, "A")), listA);
    EXPECT_EQ(zl->subCount(), 3u);
    EXPECT_EQ(zl->shared()->nodePool()->usedItems, 3u);

    // An unreadable file does the same.
    std::remove(conf.c_str());
    ASSERT_EQ(zl->scanFilesystem(), 7);
    EXPECT_EQ(zl->getMlRoot(), root);
    EXPECT_EQ(nodeLibraries(node(*zl, "A")), listA);
}

TEST_F(CatalogueTree, RebuildAfterANewFileDropsLibrariesAndCorruptEntriesWithoutNode) {
    ASSERT_EQ(runShell("head -c 200 " + shellQuote(nb + "/b1.kvo") + " > " + shellQuote(nb + "/bad.kvo") +
                       " && head -c 200 " + shellQuote(nb + "/b1.kvo") + " > " + shellQuote(na + "/bad2.kvo")),
              0);
    auto zl = catalogue();
    ASSERT_TRUE(zl);
    ASSERT_EQ(zl->scanFilesystem(), 9);
    ASSERT_EQ(zl->corruptFiles.size(), 2u);
    zl->addCorruptFileEntry((na + "/gone.kvo").c_str(), 1, 1);

    // The refresh of a new structure file: read it under a backup, rebuild.
    writeStructure(false);
    ZipList::MlBackup backup;
    ASSERT_TRUE(zl->takeMlBackup(&backup));
    ASSERT_EQ(zl->readMlConfig(conf.c_str()), 2);
    zl->releaseMlBackup(&backup);
    LogCapture log;
    EXPECT_EQ(zl->bldMlSnChkRMl(), 1);
    EXPECT_TRUE(log.has("Remove '" + nb + "/b1.kvo' as MLnode removed")) << log.all();
    EXPECT_EQ(log.levelOf("Remove '" + nb + "/b1.kvo' as MLnode removed"), kLogNotice);
    EXPECT_EQ(zl->findZipStructure("b1.kvo", nullptr), nullptr);
    ASSERT_EQ(zl->corruptFiles.size(), 1u);
    EXPECT_EQ(zl->corruptFiles[0].path, na + "/bad2.kvo");
    EXPECT_EQ(nodeLibraries(node(*zl, "A")),
              (std::vector<std::string>{na + "/a2.kvo", na + "/a4.kvo", na + "/a1.kvo", na + "/a3.kvo"}));
    EXPECT_EQ(nodeLibraries(zl->getMlRoot()), (std::vector<std::string>{r + "/r1.kvo"}));
}

}  // namespace
}  // namespace ruva

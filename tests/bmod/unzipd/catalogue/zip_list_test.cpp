#include "bmod/unzipd/catalogue/zip_list.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "bmod/unzipd/catalogue/filesys_scanner.h"
#include "bmod/unzipd/zip/zip_reader.h"
#include "tests/bmod/unzipd/catalogue/catalogue_fixture.h"

namespace ruva {
namespace {

using test::capture;
using test::runShell;
using test::SetRemover;
using test::TempDir;
using namespace test::cat;

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

// lib/: b.kvo, A.kvo, a.kvo, x.anx, 0.kvo (no comment), bad.kvo (cut);
// other/: a second a.kvo. Scanned from lib/, then other/.
class Catalogue : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.ok());
        lib = dir.file("lib");
        other = dir.file("other");
        ASSERT_TRUE(makeLibraries({{lib + "/b.kvo", "Book B [EN/LIBB]"},
                                   {lib + "/A.kvo", "  Alpha [EN/LIBA]"},
                                   {lib + "/a.kvo", "alpha one [DE/LIBA1]"},
                                   {lib + "/x.anx", "Notes [EN/ANX1]"},
                                   {lib + "/0.kvo", std::nullopt},
                                   {other + "/a.kvo", "alpha two [EN/LIBA2]"}}));
        ASSERT_EQ(runShell("head -c 200 " + shellQuote(lib + "/b.kvo") + " > " + shellQuote(lib + "/bad.kvo")), 0);
    }

    std::unique_ptr<ZipList> scanned(uint16_t flags) {
        auto zl = newTestZipList(flags);
        if (!zl || !zl->allocZipPool(100, 1000, 65536)) return nullptr;
        zl->filesysScanner->addNonRecursiveDir(lib.c_str());
        zl->filesysScanner->addNonRecursiveDir(other.c_str());
        zl->filesysScanner->addIncludePattern("*.kvo");
        zl->filesysScanner->addIncludePattern("*.anx");
        if (zl->scanFilesystem() < 0) return nullptr;
        return zl;
    }

    TempDir dir;
    SetRemover remover{languageKey()};
    std::string lib, other;
};

TEST_F(Catalogue, ListsIndexAndCommentsAgreeWithInfoZipAndPython) {
    LogCapture log;
    auto zl = scanned(0);
    ASSERT_TRUE(zl);
    EXPECT_TRUE(log.has("Registered a corrupt ZIP file '" + lib + "/bad.kvo'")) << log.all();
    EXPECT_EQ(zl->structureCount(), 6u);

    // One python run (it starts slowly): the base names sorted as bytes,
    // then each archive comment without leading blanks ("-" for none).
    std::vector<ZipStructure*> all;
    std::string args;
    for (ZipStructure* zs = zl->getFirstZipStructure(); zs; zs = zs->getNext()) {
        all.push_back(zs);
        args += " " + shellQuote(zs->zipName);
    }
    std::string script =
        "import os,sys,zipfile\n"
        "for n in sorted(os.path.basename(p).encode() for p in sys.argv[1:]): print(n.decode())\n"
        "for p in sys.argv[1:]:\n c = zipfile.ZipFile(p).comment.lstrip(b' ')\n print(c.decode() if c else '-')\n";
    std::vector<std::string> oracle = lines(capture("python3 -c " + shellQuote(script) + args));
    ASSERT_EQ(oracle.size(), 2 * all.size());
    std::vector<std::string> sortedNames(oracle.begin(), oracle.begin() + static_cast<long>(all.size()));
    EXPECT_EQ(nameList(*zl), sortedNames);
    for (size_t i = 0; i < all.size(); ++i) {
        SCOPED_TRACE(all[i]->zipName);
        const std::string& comment = oracle[all.size() + i];
        if (comment == "-")
            EXPECT_EQ(all[i]->centralDirEnd.comment, nullptr);
        else
            EXPECT_STREQ(all[i]->centralDirEnd.comment, comment.c_str());
    }
    std::vector<std::string> aPaths;
    for (ZipStructure* zs : all)
        if (std::strcmp(zs->zipBasename, "a.kvo") == 0) aPaths.push_back(zs->zipName);
    EXPECT_EQ(aPaths, (std::vector<std::string>{lib + "/a.kvo", other + "/a.kvo"}));

    // Library-id list: the library without an id first, then by strcmp.
    std::vector<std::string> ids;
    ZipStructure* firstLzn = zl->getFirstZipStructureLZN();
    ASSERT_NE(firstLzn, nullptr);
    EXPECT_STREQ(firstLzn->zipBasename, "0.kvo");
    for (ZipStructure* zs = firstLzn; zs; zs = zs->getNextLZN()) ids.push_back(zs->libID);
    EXPECT_EQ(ids, (std::vector<std::string>{"", "DE/LIBA1", "EN/ANX1", "EN/LIBA", "EN/LIBA2", "EN/LIBB"}));

    // Quick index: four slots filled, 48 empty.
    const CatalogueBlock* b = zl->block();
    auto slot = [&](char c) { return b->zipStructIndex[c >= 'a' ? 26 + c - 'a' : c - 'A']; };
    ASSERT_NE(slot('A'), nullptr);
    ASSERT_NE(slot('a'), nullptr);
    ASSERT_NE(slot('b'), nullptr);
    ASSERT_NE(slot('x'), nullptr);
    EXPECT_STREQ(slot('A')->zipName, (lib + "/A.kvo").c_str());
    EXPECT_STREQ(slot('a')->zipName, (lib + "/a.kvo").c_str());
    EXPECT_STREQ(slot('b')->zipName, (lib + "/b.kvo").c_str());
    EXPECT_STREQ(slot('x')->zipName, (lib + "/x.anx").c_str());
    int empty = 0;
    for (ZipStructure* zs : b->zipStructIndex) empty += zs == nullptr;
    EXPECT_EQ(empty, 48);

    // Hash slots: every .kvo library holds its own; x.anx none and no node.
    std::set<int> used;
    for (ZipStructure* zs : all) {
        SCOPED_TRACE(zs->zipName);
        bool anx = std::strcmp(zs->zipBasename, "x.anx") == 0;
        bool held = false;
        for (const MlHashTable& s : b->MlZipHash) held = held || s.MlNode == zs;
        EXPECT_EQ(held, !anx);
        if (anx) {
            EXPECT_EQ(zs->MlSub, nullptr);
            continue;
        }
        EXPECT_EQ(b->MlZipHash[zs->hashID].MlNode, zs);
        EXPECT_EQ(b->MlZipHash[zs->hashID].type, ML_NODE_TYPE_ZS);
        EXPECT_GT(zs->hashID, 0);
        EXPECT_TRUE(used.insert(zs->hashID).second);
        EXPECT_STREQ(zs->version, "00");
    }
    EXPECT_EQ(zl->findZipStructure("x.anx", nullptr), slot('x'));

    // Default tree: the root on lib/; libraries with a comment hang on it,
    // sorted by comment; other/a.kvo has no node.
    MlZipStruct* root = zl->getMlRoot();
    ASSERT_NE(root, nullptr);
    EXPECT_STREQ(root->descr, kMlDefaultRootName);
    EXPECT_EQ(root->libpath, lib + "/");
    EXPECT_STREQ(zl->getMlConfFile(), "default");
    EXPECT_EQ(nodeLibraries(root),
              (std::vector<std::string>{lib + "/A.kvo", lib + "/a.kvo", lib + "/b.kvo"}));
    EXPECT_TRUE(log.has("Failed to add '" + other + "/a.kvo' to multilevel configuration")) << log.all();
}

TEST_F(Catalogue, FindByName) {
    auto off = scanned(0);
    auto on = scanned(kZipFoldNames);
    ASSERT_TRUE(off && on);
    struct Case {
        const char* name;
        bool fold;
        std::vector<std::string> results;  // path of each hit, continuing with prev
    };
    const Case cases[] = {
        {"a.kvo", false, {lib + "/a.kvo", other + "/a.kvo"}},
        {"a.kvo", true, {lib + "/A.kvo", lib + "/a.kvo", other + "/a.kvo"}},
        {"A*", false, {lib + "/A.kvo"}},
        {"a*", true, {lib + "/A.kvo", lib + "/a.kvo", other + "/a.kvo"}},
        {"[ab].kvo", true, {lib + "/A.kvo", lib + "/a.kvo", other + "/a.kvo", lib + "/b.kvo"}},
        {"[ab].kvo", false, {lib + "/a.kvo", other + "/a.kvo", lib + "/b.kvo"}},
        // Without fold names the walk starts at the slot of the exact letter.
        {"B.kvo", false, {}},
        {"b.kvo", true, {lib + "/b.kvo"}},
        {"A.KVO", false, {lib + "/A.kvo", lib + "/a.kvo", other + "/a.kvo"}},
        {"0.kvo", false, {lib + "/0.kvo"}},
        {"*.anx", false, {lib + "/x.anx"}},
        {"bad.kvo", true, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + (c.fold ? " fold" : ""));
        ZipList* zl = c.fold ? on.get() : off.get();
        std::vector<std::string> got;
        for (ZipStructure* zs = zl->findZipStructure(c.name, nullptr); zs && got.size() < 10;
             zs = zl->findZipStructure(c.name, zs))
            got.push_back(zs->zipName);
        EXPECT_EQ(got, c.results);
    }
    EXPECT_EQ(off->findZipStructure(nullptr, nullptr), nullptr);
}

TEST_F(Catalogue, FindByLibraryId) {
    auto zl = scanned(0);
    ASSERT_TRUE(zl);
    auto path = [](ZipStructure* zs) { return zs ? std::string(zs->zipName) : std::string("null"); };
    EXPECT_EQ(path(zl->findZipStructureByLibID("[EN/LIBA]", nullptr)), lib + "/A.kvo");
    EXPECT_EQ(path(zl->findZipStructureByLibID("Guide [en/liba]", nullptr)), lib + "/A.kvo");
    ZipStructure* first = zl->findZipStructureByLibID("[EN/LIBA*]", nullptr);
    EXPECT_EQ(path(first), lib + "/A.kvo");
    ZipStructure* second = zl->findZipStructureByLibID("[EN/LIBA*]", first);
    EXPECT_EQ(path(second), other + "/a.kvo");
    EXPECT_EQ(zl->findZipStructureByLibID("[EN/LIBA*]", second), nullptr);
    EXPECT_EQ(path(zl->findZipStructureByLibID("[*]", nullptr)), lib + "/a.kvo");
    EXPECT_EQ(zl->findZipStructureByLibID("[EN/LIBA]", first), nullptr);
    EXPECT_EQ(zl->findZipStructureByLibID("[EN/NONE]", nullptr), nullptr);
    EXPECT_EQ(zl->findZipStructureByLibID("", nullptr), nullptr);
    EXPECT_EQ(zl->findZipStructureByLibID(nullptr, nullptr), nullptr);
    EXPECT_EQ(zl->findZipStructureByLibID("no id here", nullptr), nullptr);
    EXPECT_EQ(zl->findZipStructureByLibID("[]", nullptr), nullptr);
}

TEST_F(Catalogue, UnhookAndDeleteLeavesNoDanglingEntry) {
    auto zl = scanned(0);
    ASSERT_TRUE(zl);
    CatalogueBlock* b = zl->block();
    ZipStructure* upperA = zl->findZipStructure("A.kvo", nullptr);
    ZipStructure* lowerA = zl->findZipStructure("a.kvo", nullptr);
    ASSERT_TRUE(upperA && lowerA);
    int idUpper = upperA->hashID, idLower = lowerA->hashID;
    // The successor of A.kvo begins with another letter: the slot empties.
    zl->unhookAndDelete(upperA);
    EXPECT_EQ(b->zipStructIndex['A' - 'A'], nullptr);
    EXPECT_EQ(b->MlZipHash[idUpper].MlNode, nullptr);
    // The second a.kvo takes over the slot of the first.
    zl->unhookAndDelete(lowerA);
    ASSERT_NE(b->zipStructIndex[26], nullptr);
    EXPECT_EQ(b->zipStructIndex[26]->zipName, other + "/a.kvo");
    EXPECT_EQ(b->MlZipHash[idLower].MlNode, nullptr);
    EXPECT_EQ(nodeLibraries(zl->getMlRoot()), (std::vector<std::string>{lib + "/b.kvo"}));
    EXPECT_EQ(zl->structureCount(), 4u);
    EXPECT_EQ(nameList(*zl), (std::vector<std::string>{"0.kvo", "a.kvo", "b.kvo", "x.anx"}));

    // Reopened, a library gets its old id back while the slot is free.
    ZipStructure* again = zl->newZipStructure((lib + "/A.kvo").c_str(), 0);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->hashID, idUpper);
}

TEST_F(Catalogue, AllocZipPoolOnAFilledCatalogueEmptiesEverything) {
    auto zl = scanned(0);
    ASSERT_TRUE(zl);
    ASSERT_GT(zl->structureCount(), 0u);
    ASSERT_TRUE(zl->allocZipPool(50, 500, 65536));
    const CatalogueBlock* b = zl->block();
    EXPECT_EQ(zl->structureCount(), 0u);
    EXPECT_EQ(zl->getFirstZipStructure(), nullptr);
    EXPECT_EQ(zl->getFirstZipStructureLZN(), nullptr);
    for (ZipStructure* zs : b->zipStructIndex) EXPECT_EQ(zs, nullptr);
    for (int id = 1; id < kMlHashSize; ++id) EXPECT_EQ(b->MlZipHash[id].MlNode, nullptr) << id;
    ASSERT_NE(zl->getMlRoot(), nullptr);
    EXPECT_EQ(zl->getMlRoot()->zs, nullptr);
    EXPECT_EQ(zl->getLanguageList()->getLanguageCodes(), nullptr);
    // The catalogue fills again from the new pool.
    EXPECT_GE(zl->scanFilesystem(), 0);
    EXPECT_EQ(zl->structureCount(), 6u);
}

TEST_F(Catalogue, CorruptListLifecycle) {
    auto zl = scanned(0);
    ASSERT_TRUE(zl);
    std::string bad = lib + "/bad.kvo";
    ASSERT_EQ(zl->corruptFiles.size(), 1u);
    EXPECT_EQ(zl->corruptFiles[0].path, bad);
    EXPECT_EQ(zl->corruptFiles[0].size, 200u);

    LogCapture log;
    EXPECT_EQ(fileSysAddZipCallback(zl.get(), bad.c_str()), 0);
    EXPECT_TRUE(log.has("ZIP file is still corrupt '" + bad + "'")) << log.all();
    EXPECT_EQ(log.levelOf("ZIP file is still corrupt '" + bad + "'"), kLogInfo);

    ASSERT_EQ(runShell("truncate -s 150 " + shellQuote(bad)), 0);
    struct stat st;
    ASSERT_EQ(stat(bad.c_str(), &st), 0);
    EXPECT_EQ(fileSysAddZipCallback(zl.get(), bad.c_str()), 0);
    EXPECT_TRUE(log.has("Updated a corrupt ZIP file '" + bad + "' size 150 mtime " +
                        std::to_string(static_cast<unsigned long>(st.st_mtime))))
        << log.all();
    ASSERT_EQ(zl->corruptFiles.size(), 1u);
    EXPECT_EQ(zl->corruptFiles[0].size, 150u);

    ASSERT_TRUE(makeLibraries({{bad, "Fixed [EN/FIXED]"}}));
    EXPECT_EQ(fileSysAddZipCallback(zl.get(), bad.c_str()), 1);
    EXPECT_TRUE(log.has("Corrupt ZIP has been repaired '" + bad + "'")) << log.all();
    EXPECT_TRUE(zl->corruptFiles.empty());
    EXPECT_NE(zl->findZipStructureByPath(bad.c_str()), nullptr);
    // A path already in the catalogue is not entered twice.
    EXPECT_EQ(fileSysAddZipCallback(zl.get(), bad.c_str()), 0);
    EXPECT_EQ(zl->structureCount(), 7u);
    // Not a library at all: neither entered nor corrupt.
    test::writeFile(lib + "/plain.kvo", std::string(100, 'x'));
    EXPECT_EQ(fileSysAddZipCallback(zl.get(), (lib + "/plain.kvo").c_str()), 0);
    EXPECT_TRUE(zl->corruptFiles.empty());

    // Paths are kept to 255 characters, and found again by them.
    std::string longPath = "/" + std::string(300, 'p');
    EXPECT_EQ(zl->addCorruptFileEntry(longPath.c_str(), 1, 2), 1);
    ASSERT_EQ(zl->corruptFiles.size(), 1u);
    EXPECT_EQ(zl->corruptFiles[0].path, longPath.substr(0, 255));
    EXPECT_EQ(zl->addCorruptFileEntry(longPath.c_str(), 1, 2), 1);
    EXPECT_EQ(zl->corruptFiles.size(), 1u);
    EXPECT_EQ(zl->removeCorruptFileEntry("/nothing"), 0);
    EXPECT_EQ(zl->removeCorruptFileEntry(longPath.c_str()), 1);
}

TEST(CatalogueLists, ChangedFilesAndSuperusers) {
    SetRemover remover(languageKey());
    auto zl = newTestZipList();
    ASSERT_TRUE(zl);
    LogCapture log;
    std::string tooLong = "/" + std::string(254, 'c');
    EXPECT_EQ(zl->addFileChangeInfoEntry(tooLong.c_str(), 1, 1, FS_CH_FILE), 0);
    EXPECT_TRUE(log.has("Failed to register a changed  file '" + tooLong + "'")) << log.all();
    EXPECT_EQ(log.levelOf("Failed to register a changed  file '" + tooLong + "'"), kLogErr);
    std::string fits = tooLong.substr(0, 254);
    EXPECT_EQ(zl->addFileChangeInfoEntry(fits.c_str(), 1, 1, FS_CH_FILE), 1);
    EXPECT_TRUE(log.has("Registered a cahnged  file '" + fits + "'")) << log.all();
    EXPECT_EQ(zl->addFileChangeInfoEntry("CH-FILE:|/l/b.kvo|", 5, 6, FS_AD_FILE), 1);
    size_t before = log.texts.size();
    EXPECT_EQ(zl->addFileChangeInfoEntry(fits.c_str(), 1, 1, FS_CH_FILE), 1);
    EXPECT_EQ(log.texts.size(), before);
    EXPECT_EQ(zl->addFileChangeInfoEntry(fits.c_str(), 2, 1, FS_CH_FILE), 1);
    EXPECT_TRUE(log.has("Updated a cahnged  file '" + fits + "'")) << log.all();
    ASSERT_EQ(zl->fileChangeInfos.size(), 2u);
    EXPECT_EQ(zl->fileChangeInfos[0].fspath, fits);
    EXPECT_EQ(zl->fileChangeInfos[0].size, 2u);
    EXPECT_EQ(zl->fileChangeInfos[1].state, FS_AD_FILE);
    EXPECT_EQ(zl->removeFileChangeInfoEntry(fits.c_str()), 1);
    EXPECT_TRUE(log.has("Changed ZIP has been repaired '" + fits + "'")) << log.all();
    zl->freeFileChangeInfoList();
    EXPECT_TRUE(zl->fileChangeInfos.empty());

    EXPECT_EQ(zl->addSuperuser(nullptr), 0);
    EXPECT_TRUE(log.has("Null to addSuperuser ")) << log.all();
    EXPECT_EQ(zl->addSuperuser("root"), 1);
    EXPECT_EQ(zl->superusers->countEntries(), 1);
    EXPECT_STREQ(zl->getError(), "");
    zl->setError("bad %d", 7);
    EXPECT_STREQ(zl->getError(), "bad 7");
}

TEST(CatalogueLists, IsInWritableDir) {
    SetRemover remover(languageKey());
    auto zl = newTestZipList();
    ASSERT_TRUE(zl);
    zl->filesysScanner->addWritableNonRecursiveDir("/srv/w");
    zl->filesysScanner->addWritableNonRecursiveDir("/srv/w2/");
    struct Case {
        const char* path;
        int expected;
    } cases[] = {
        {"/srv/w/x.kvo", 1}, {"/srv/w2/x.kvo", 1}, {"/srv/w/sub/x.kvo", 0},
        {"/srv/x.kvo", 0},   {"/srv/wx/x.kvo", 0}, {"x.kvo", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(zl->isInWritableDir(c.path), c.expected) << c.path;
    EXPECT_EQ(zl->isInWritableDir(nullptr), 0);
}

// The scanner reads fold names from the catalogue's flags at each use.
TEST(CatalogueLists, ScannerFollowsTheCatalogueFlags) {
    SetRemover remover(languageKey());
    auto zl = newTestZipList();
    ASSERT_TRUE(zl);
    zl->filesysScanner->addIncludePattern("*.kvo");
    const StringList* include = zl->filesysScanner->includePatterns.get();
    EXPECT_EQ(zl->filesysScanner->includeFile("/l/X.KVO", include, nullptr), 0);
    zl->flags |= kZipFoldNames;
    EXPECT_EQ(zl->filesysScanner->includeFile("/l/X.KVO", include, nullptr), 1);
}

// Only a library in a writable folder is marked, whichever list finds it,
// and also when it is entered after a scan.
TEST(CatalogueLists, WritableMarkFollowsTheFolder) {
    TempDir dir;
    SetRemover remover(languageKey());
    std::string lib = dir.file("lib"), wr = dir.file("lib/wr");
    ASSERT_TRUE(makeLibraries({{lib + "/l.kvo", "L [EN/L]"}, {wr + "/w.kvo", "W [EN/W]"}}));
    auto zl = newTestZipList(kZipWritableDir);
    ASSERT_TRUE(zl && zl->allocZipPool(20, 100, 65536));
    // The recursive list meets both first; the other lists repeat them.
    zl->filesysScanner->addRecursiveDir(dir.path().c_str());
    zl->filesysScanner->addNonRecursiveDir(lib.c_str());
    zl->filesysScanner->addWritableNonRecursiveDir(wr.c_str());
    ASSERT_GE(zl->scanFilesystem(), 2);
    EXPECT_EQ(zl->structureCount(), 2u);
    ZipStructure* l = zl->findZipStructureByPath((lib + "/l.kvo").c_str());
    ZipStructure* w = zl->findZipStructureByPath((wr + "/w.kvo").c_str());
    ASSERT_TRUE(l && w);
    EXPECT_EQ(w->flags & kZipWritableDir, kZipWritableDir);
    EXPECT_EQ(l->flags & kZipWritableDir, 0);

    ASSERT_EQ(zl->filesysScanner->getDbDirType(), DBDIR_WRITABLE);
    ASSERT_TRUE(makeLibraries({{lib + "/n.kvo", "N [EN/N]"}}));
    EXPECT_EQ(fileSysAddZipCallback(zl.get(), (lib + "/n.kvo").c_str()), 1);
    ZipStructure* n = zl->findZipStructureByPath((lib + "/n.kvo").c_str());
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(n->flags & kZipWritableDir, 0);
}

}  // namespace
}  // namespace ruva

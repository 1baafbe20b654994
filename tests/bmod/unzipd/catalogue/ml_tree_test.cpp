#include "bmod/unzipd/catalogue/ml_tree.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <string>
#include <vector>

#include "bmod/unzipd/catalogue/filesys_scanner.h"
#include "bmod/unzipd/catalogue/zip_list.h"
#include "tests/bmod/unzipd/catalogue/catalogue_fixture.h"

namespace ruva {
namespace {

using test::SetRemover;
using test::TempDir;
using test::writeFile;
using namespace test::cat;

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

class MlTree : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.ok());
        ASSERT_TRUE(zl);
    }
    std::string folder(const std::string& name) {
        std::string p = dir.file(name);
        mkdir(p.c_str(), 0755);
        return p;
    }
    // Reads text (with {D} the test folder and {F} the file) as a structure file.
    int read(const std::string& text) {
        writeFile(conf, replaceAll(replaceAll(text, "{D}", dir.path()), "{F}", conf));
        return zl->readMlConfig(conf.c_str());
    }
    std::string expand(const std::string& text) {
        return replaceAll(replaceAll(text, "{D}", dir.path()), "{F}", conf);
    }

    TempDir dir;
    SetRemover remover{languageKey()};
    std::unique_ptr<ZipList> zl = newTestZipList();
    std::string conf = dir.file("structure.txt");
};

const std::string kRoot = "Name: R\nLabel: root\nLevel: 0\nPath: {D}\nIndexFile: -\n";

std::string record(const std::string& name, const std::string& level, const std::string& path = "{D}",
                   const std::string& indexFile = "-") {
    return "Name: " + name + "\nLabel: l" + name + "\nLevel: " + level + "\nPath: " + path +
           "\nIndexFile: " + indexFile + "\n";
}

TEST(MlHash, KnownValuesAndTheCharactersThatCount) {
    EXPECT_EQ(mlHashOf("ab", nullptr), 1077);
    EXPECT_EQ(mlHashOf("\xE9", nullptr), 32745);
    // The weight restarts at 1 for the second text.
    EXPECT_EQ(mlHashOf("a", "b"), 97 + 98);
    EXPECT_EQ(mlHashOf(nullptr, nullptr), 0);
    // After 14 equal characters the 15th counts by its parity only; the
    // 16th and later never count.
    std::string base14 = "abcdefghijklmn";
    EXPECT_EQ(mlHashOf((base14 + "x").c_str(), nullptr), mlHashOf((base14 + "z").c_str(), nullptr));
    EXPECT_NE(mlHashOf((base14 + "x").c_str(), nullptr), mlHashOf((base14 + "y").c_str(), nullptr));
    EXPECT_EQ(mlHashOf((base14 + "xA").c_str(), "p"), mlHashOf((base14 + "xQ").c_str(), "p"));
}

TEST_F(MlTree, CreateHashIdProbesUpwardsAndGivesUpOnAFullTable) {
    MlHashTable* table = zl->block()->MlZipHash;
    EXPECT_EQ(zl->createHashID("ab", nullptr), 1077);
    EXPECT_EQ(zl->createHashID("\xE9", nullptr), 32745);
    int taken = 0;
    table[1077].MlNode = &taken;
    EXPECT_EQ(zl->createHashID("ab", nullptr), 1078);
    // Slot 0 is the root's, also before a root exists.
    EXPECT_EQ(mlHashOf("", nullptr), 0);
    EXPECT_EQ(zl->createHashID("", nullptr), 1);
    // Wrapping: from a taken 32767 past slot 0 to 1.
    EXPECT_EQ(mlHashOf("\xFF", nullptr), 32767);
    table[32767].MlNode = &taken;
    EXPECT_EQ(zl->createHashID("\xFF", nullptr), 1);
    for (MlHashTable& slot : zl->block()->MlZipHash) slot.MlNode = &taken;
    EXPECT_EQ(zl->createHashID("ab", nullptr), -1);
    for (MlHashTable& slot : zl->block()->MlZipHash) slot.MlNode = nullptr;
}

TEST_F(MlTree, AFullTableLeavesALibraryWithoutSlot) {
    ASSERT_TRUE(zl->allocZipPool(0, 0, 0));
    std::string lib = dir.file("l.kvo");
    ASSERT_TRUE(makeLibraries({{lib, "Guide [EN/LIB1]"}}));
    int taken = 0;
    for (MlHashTable& slot : zl->block()->MlZipHash) slot.MlNode = &taken;
    LogCapture log;
    ZipStructure* zs = zl->newZipStructure(lib.c_str(), 0);
    ASSERT_NE(zs, nullptr);
    zl->buildQuickAccessIndex();
    EXPECT_EQ(zs->hashID, -1);
    EXPECT_TRUE(log.has("No free hash id for '" + lib + "'")) << log.all();
    EXPECT_EQ(log.levelOf("No free hash id for '" + lib + "'"), kLogErr);
    EXPECT_EQ(zl->findZipStructure("l.kvo", nullptr), zs);
    for (MlHashTable& slot : zl->block()->MlZipHash) slot.MlNode = nullptr;
}

TEST_F(MlTree, AFullTableSkipsANodeAndTheReadGoesOn) {
    int taken = 0;
    for (int id = 1; id < kMlHashSize; ++id) zl->block()->MlZipHash[id].MlNode = &taken;
    LogCapture log;
    EXPECT_EQ(read(kRoot + record("B", "1")), 1);
    EXPECT_TRUE(log.has("No free hash id for 'B'")) << log.all();
    ASSERT_NE(zl->getMlRoot(), nullptr);
    EXPECT_EQ(zl->getMlRoot()->child, nullptr);
    EXPECT_EQ(zl->subCount(), 1u);
    for (int id = 1; id < kMlHashSize; ++id) zl->block()->MlZipHash[id].MlNode = nullptr;
}

TEST_F(MlTree, SkippedRecordsAreNotCountedOrAnnounced) {
    zl = newTestZipList(kZipVerbose);
    ASSERT_TRUE(zl);
    LogCapture log;
    EXPECT_EQ(read(kRoot + record("Gone", "1", "{D}/nothere") + record("B", "1")), 2);
    EXPECT_TRUE(log.has("Node 'R' added to multilevel configuration")) << log.all();
    EXPECT_TRUE(log.has("Node 'B' added to multilevel configuration")) << log.all();
    EXPECT_FALSE(log.has("Node 'Gone' added to multilevel configuration")) << log.all();
    EXPECT_EQ(zl->subCount(), 2u);
}

TEST_F(MlTree, StructureFileNameHasRoomFor4095Characters) {
    std::string longest(4095, 'f');
    EXPECT_EQ(zl->setMlConfFile(longest.c_str()), 1);
    EXPECT_EQ(zl->getMlConfFile(), longest);
    EXPECT_EQ(zl->setMlConfFile((longest + "g").c_str()), 0);
    EXPECT_EQ(zl->getMlConfFile(), longest);
    EXPECT_EQ(zl->setMlConfFile(nullptr), 0);
    EXPECT_EQ(zl->setMlConfFile("default"), 1);
    EXPECT_STREQ(zl->getMlConfFile(), "default");
}

TEST_F(MlTree, NodesAgreeingInFifteenCharactersGetNeighbouringIds) {
    std::string p1 = folder("p1"), p2 = folder("p2");
    ASSERT_EQ(p1.substr(0, 15), p2.substr(0, 15));
    std::string n1 = "abcdefghijklmnoX", n2 = "abcdefghijklmnoY";
    ASSERT_EQ(read(kRoot + record(n1, "1", p1) + record(n2, "1", p2)), 3);
    MlZipStruct* root = zl->getMlRoot();
    ASSERT_NE(root, nullptr);
    ASSERT_NE(root->child, nullptr);
    ASSERT_NE(root->child->next, nullptr);
    int h = mlHashOf(n1.c_str(), p1.c_str());
    ASSERT_EQ(h, mlHashOf(n2.c_str(), p2.c_str()));
    EXPECT_EQ(root->ID, 0);
    EXPECT_EQ(root->child->ID, h == 0 ? 1 : h);
    EXPECT_EQ(root->child->next->ID, ((h == 0 ? 1 : h) + 1) & 0x7fff);
    EXPECT_EQ(zl->block()->MlZipHash[root->child->ID].MlNode, root->child);
    EXPECT_EQ(zl->block()->MlZipHash[0].MlNode, root);
    EXPECT_EQ(zl->block()->MlZipHash[0].type, ML_NODE_TYPE_SUB);
}

TEST_F(MlTree, StructureFileErrorTable) {
    struct Case {
        const char* name;
        std::string text;
        std::string message;  // "" = no error message at all
        int result;
    };
    const std::string long1024 = "#" + std::string(1023, 'x') + "\n";
    const std::string long1023 = "#" + std::string(1022, 'x') + "\n";
    const Case cases[] = {
        {"label before name", "Label: x\n", "Unexpected keyword \"Label:\" on line 1 in '{F}', expected \"Name:\"", -1},
        {"wrong third keyword", "Name: R\nlabel: l\nPath: {D}\n",
         "Unexpected keyword \"Path:\" on line 3 in '{F}', expected \"Level:\"", -1},
        {"keyword without value", "Name: R\nLabel:\n", "Value for keyword \"Label:\" missing in '{F}'", -1},
        {"blank line inside a record", "Name: X\nLabel: l\n\n" + kRoot, "", 1},
        {"comment line inside a record", "Name: X\n# note\n" + kRoot, "", 1},
        {"missing path folder", kRoot + record("B", "1", "{D}/nothere"),
         "Path '{D}/nothere' specified in '{F}' does not exist", 1},
        {"missing root folder", record("R", "0", "{D}/nothere"), "Path '{D}/nothere' specified in '{F}' does not exist",
         -1},
        {"second level 0", kRoot + record("B", "0"), "Node 'B' wrongly defined as root", -1},
        {"level -1", kRoot + record("B", "-1"), "Node 'B' wrongly defined as root", -1},
        {"huge level saturates", kRoot + record("B", "99999999999999999999999"), "", 2},
        {"line of 1024 characters", kRoot + long1024, "Line 6 too long in '{F}'", -1},
        {"line of 1023 characters", kRoot + long1023, "", 1},
        {"unreadable root index file", record("R", "0", "{D}", "{D}/noidx"),
         "Invalid IndexFile '{D}/noidx' specified in '{F}', using default", 1},
        {"unreadable node index file", kRoot + record("B", "1", "{D}", "{D}/noidx"),
         "Invalid IndexFile '{D}/noidx' specified in '{F}', using default ", 2},
        {"EOF inside a record", kRoot + "Name: B\nLabel: b\n", "Failed to read from multilevel config file '{F}'", 1},
        {"empty file", "", "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        zl = newTestZipList();
        ASSERT_TRUE(zl);
        LogCapture log;
        EXPECT_EQ(read(c.text), c.result);
        if (c.message.empty()) {
            for (int level : log.levels) EXPECT_GT(level, kLogErr) << log.all();
        } else {
            EXPECT_TRUE(log.has(expand(c.message))) << log.all();
            EXPECT_EQ(log.levelOf(expand(c.message)), kLogErr);
        }
        if (c.result < 0) {
            EXPECT_EQ(zl->getMlRoot(), nullptr);
            EXPECT_EQ(zl->block()->MlZipHash[0].MlNode, nullptr);
        } else {
            EXPECT_EQ(zl->subCount(), static_cast<unsigned long>(c.result));
        }
    }
    LogCapture log;
    std::string missing = dir.file("none");
    EXPECT_EQ(zl->readMlConfig(missing.c_str()), -1);
    EXPECT_TRUE(log.has("Failed to open multilevel library config file '" + missing + "'")) << log.all();
}

TEST_F(MlTree, RecordFieldsAndIndexFileFallback) {
    std::string idx = dir.file("index.txt");
    writeFile(idx, "x");
    ASSERT_EQ(read("Name: \"Root Node\"\nLabel: 'The label'\nLevel: 0\nPath: \"{D}\"\nIndexFile: " + idx + "\n" +
                   record("B", "1", "{D}/\"", "{D}/noidx")),
              2);
    MlZipStruct* root = zl->getMlRoot();
    ASSERT_NE(root, nullptr);
    EXPECT_STREQ(root->descr, "Root Node");
    EXPECT_STREQ(root->label, "The label");
    EXPECT_EQ(root->libpath, dir.path() + "/");
    EXPECT_EQ(root->ifile, idx);
    EXPECT_EQ(root->level, 0);
    ASSERT_NE(root->child, nullptr);
    // The Path value is cut at its last double quote.
    EXPECT_EQ(root->child->libpath, dir.path() + "/");
    EXPECT_STREQ(root->child->ifile, "-");
    EXPECT_STREQ(root->child->label, "lB");
    // Every node folder joins the scanner's non-recursive list.
    ASSERT_NE(zl->filesysScanner->nonRecursiveDirs->first, nullptr);
    EXPECT_EQ(zl->filesysScanner->nonRecursiveDirs->first->value, dir.path() + "/");
}

TEST_F(MlTree, LevelsPlaceAndStore) {
    ASSERT_EQ(read(kRoot + record("A", "1") + record("B", "2") + record("C", "1") + record("D", "2") +
                   record("E", "3")),
              6);
    MlZipStruct* r = zl->getMlRoot();
    ASSERT_NE(r, nullptr);
    MlZipStruct* a = r->child;
    ASSERT_NE(a, nullptr);
    MlZipStruct* c = a->next;
    ASSERT_NE(c, nullptr);
    ASSERT_NE(a->child, nullptr);
    ASSERT_NE(c->child, nullptr);
    ASSERT_NE(c->child->child, nullptr);
    EXPECT_STREQ(a->descr, "A");
    EXPECT_STREQ(a->child->descr, "B");
    EXPECT_STREQ(c->descr, "C");
    EXPECT_STREQ(c->child->descr, "D");
    EXPECT_STREQ(c->child->child->descr, "E");
    EXPECT_EQ(r->next, nullptr);
    EXPECT_EQ(a->child->next, nullptr);
    EXPECT_EQ(c->next, nullptr);
    EXPECT_EQ(r->level, 0);
    EXPECT_EQ(a->level, 1);
    EXPECT_EQ(a->child->level, 2);
    EXPECT_EQ(c->level, 1);
    EXPECT_EQ(c->child->level, 2);
    EXPECT_EQ(c->child->child->level, 3);
    EXPECT_EQ(zl->subCount(), 6u);

    // A level-3 record right after a level-1 one: placed under it, stored as 2.
    ASSERT_EQ(read(kRoot + record("A", "1") + record("B", "3")), 3);
    r = zl->getMlRoot();
    ASSERT_NE(r->child, nullptr);
    ASSERT_NE(r->child->child, nullptr);
    EXPECT_STREQ(r->child->child->descr, "B");
    EXPECT_EQ(r->child->child->level, 2);
}

TEST_F(MlTree, LookUps) {
    std::string ra = folder("a"), rz = folder("z");
    // R with A (child B on z) and A's sibling C, also on z; "My Node" under C.
    ASSERT_EQ(read(kRoot + record("A", "1", ra) + record("B", "2", rz) + record("C", "1", rz) +
                   "Name: \"My Node\"\nLabel: x\nLevel: 2\nPath: {D}\nIndexFile: -\n"),
              5);
    MlZipStruct* r = zl->getMlRoot();
    MlZipStruct* a = r->child;
    MlZipStruct* b = a->child;
    MlZipStruct* c = a->next;
    MlZipStruct* my = c->child;
    ASSERT_NE(my, nullptr);

    std::string upper = rz;
    for (char& ch : upper) ch = static_cast<char>(toupper(static_cast<unsigned char>(ch)));
    // Two nodes on one folder: the child subtree comes before the siblings.
    EXPECT_EQ(zl->findMlNode(r, (upper + "/x.kvo").c_str()), b);
    EXPECT_EQ(zl->findMlNode(r, (ra + "/x.kvo").c_str()), a);
    EXPECT_EQ(zl->findMlNode(c, (rz + "/x.kvo").c_str()), c);
    EXPECT_EQ(zl->findMlNode(r, (dir.path() + "/none/x.kvo").c_str()), nullptr);
    EXPECT_EQ(zl->findMlNode(r, "x.kvo"), nullptr);

    EXPECT_EQ(inOrder(r, "R/A/B", 2), b);
    EXPECT_EQ(inOrder(r, "r\\c", 2), c);
    EXPECT_EQ(inOrder(r, "R/C/MyNode", 2), my);
    EXPECT_EQ(inOrder(r, "R/A/C", 2), nullptr);
    EXPECT_EQ(inOrder(r, "X/A", 2), nullptr);
    EXPECT_EQ(inOrder(r, "mynode", 2), my);
    EXPECT_EQ(inOrder(r, "B", 2), b);
    EXPECT_EQ(inOrder(r, upper.c_str(), 1), b);
    EXPECT_EQ(inOrder(r, (ra + "/").c_str(), 1), nullptr);
    EXPECT_EQ(inOrder(r, ra.c_str(), 1), a);
    EXPECT_EQ(inOrder(r, "B", 3), nullptr);

    for (MlZipStruct* n : {r, a, b, c, my}) {
        EXPECT_EQ(inOrderID(r, n->ID), n) << n->descr;
        EXPECT_EQ(zl->findMlNodeLabel(r, n->ID), n) << n->descr;
    }
    EXPECT_EQ(inOrderID(r, -5), nullptr);
    EXPECT_EQ(zl->findMlNodeLabel(r, -5), nullptr);
}

TEST_F(MlTree, DeleteWalksNodeSiblingsThenChildrenAndFreesSlots) {
    zl = newTestZipList(kZipVerbose);
    ASSERT_TRUE(zl);
    ASSERT_EQ(read(kRoot + record("A", "1") + record("B", "2") + record("C", "1") + record("D", "2") +
                   record("E", "3")),
              6);
    std::vector<int> ids;
    for (int id = 0; id < kMlHashSize; ++id)
        if (zl->block()->MlZipHash[id].MlNode) ids.push_back(id);
    EXPECT_EQ(ids.size(), 6u);
    LogCapture log;
    zl->delMlStruct(zl->getMlRoot());
    std::vector<std::string> expected;
    for (const char* n : {"R", "A", "C", "D", "E", "B"})
        expected.push_back(std::string("Removed `") + n + "` node from MultiLevelLibrary structure");
    EXPECT_EQ(log.texts, expected);
    EXPECT_EQ(zl->getMlRoot(), nullptr);
    for (int id : ids) EXPECT_EQ(zl->block()->MlZipHash[id].MlNode, nullptr);
    EXPECT_EQ(zl->shared()->nodePool()->usedItems, 0u);
}

TEST_F(MlTree, DirectNodesWithLongFolders) {
    MlZipStruct* root = zl->addMlNode(nullptr, 0, "R", dir.path().c_str(), "-", "", 1);
    ASSERT_NE(root, nullptr);
    LogCapture log;
    std::string tooLong = "-" + std::string(4096, 'p');
    EXPECT_EQ(zl->addMlNode(root, 1, "N", tooLong.c_str(), "-", "", 1), root);
    // The log line is cut at 503 characters.
    ASSERT_EQ(log.texts.size(), 1u);
    EXPECT_EQ(log.texts[0], ("Invalid path '" + tooLong).substr(0, kLogTextMax)) << log.all();
    EXPECT_EQ(root->child, nullptr);
    std::string fits = "-" + std::string(4095, 'p');
    std::string longIndex = "-" + std::string(4096, 'i');
    EXPECT_EQ(zl->addMlNode(root, 1, "M", fits.c_str(), longIndex.c_str(), "", 1), root);
    ASSERT_NE(root->child, nullptr);
    EXPECT_EQ(root->child->libpath, fits);
    EXPECT_STREQ(root->child->ifile, "-");
    // A root whose folder cannot be prepared is not made.
    EXPECT_EQ(zl->addMlNode(nullptr, 0, "R2", tooLong.c_str(), "-", "", 1), nullptr);
    EXPECT_EQ(zl->addMlNode(nullptr, 0, "R3", nullptr, "-", "", 1), nullptr);
    EXPECT_TRUE(log.has("Invalid library path")) << log.all();
    zl->delMlStruct(root);
}

TEST_F(MlTree, HostileSizesEndCleanly) {
    EXPECT_EQ(read(kRoot + "Label: " + std::string(100000, 'x') + "\n"), -1);
    std::string text = expand(kRoot);
    for (int i = 0; i < 20000; ++i) text += record("N" + std::to_string(i), "1", dir.path());
    writeFile(conf, text);
    ASSERT_EQ(zl->readMlConfig(conf.c_str()), 20001);
    int siblings = 0;
    for (MlZipStruct* n = zl->getMlRoot()->child; n; n = n->next) ++siblings;
    EXPECT_EQ(siblings, 20000);
    EXPECT_EQ(zl->subCount(), 20001u);
}

}  // namespace
}  // namespace ruva

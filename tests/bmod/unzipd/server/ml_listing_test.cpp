// MLLIST, MLNLIST and MLSLIST on a structure-file fixture: a root without
// libraries, three level-1 folders, a "__" folder, a "//" library id and an
// annotation library.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/bmod/unzipd/server/library_fixture.h"

namespace ruva {
namespace {

using test::readLine;
using test::sendText;

class MlListing : public test::LibrarySession {
protected:
    void addLibraries() override {
        root = dir.file("root");
        ASSERT_TRUE(test::cat::makeLibraries({{root + "/a/a1.kvo", "A one [EN/A1]"},
                                              {root + "/a/notes.anx", "Notes [EN/N1]"},
                                              {root + "/b/b1.kvo", "B one [EN/B1]"},
                                              {root + "/b/s1.kvo", "System [//SYS1]"},
                                              {root + "/c/c1.kvo", "C one [EN/C1]"},
                                              {root + "/h/h1.kvo", "Hidden [EN/H1]"}}));
        ASSERT_EQ(test::runShell("mkdir -p " + test::shellQuote(root + "/r")), 0);
        test::writeFile(dir.file("structure.txt"),
                        test::cat::structureText({{"Root", "root", "0", root + "/r"},
                                                  {"FolderA", "a", "1", root + "/a"},
                                                  {"FolderB", "b", "1", root + "/b"},
                                                  {"FolderC", "c", "1", root + "/c"},
                                                  {"__Hidden", "h", "1", root + "/h"}}));
    }
    void configureScanner(ZipList* zl) override {
        zl->setMlConfFile(dir.file("structure.txt").c_str());
        zl->filesysScanner->addIncludePattern("*.anx");
    }
    // The kind and name of each SUB and DB line ("SUB FolderA", "DB a1.kvo").
    std::vector<std::string> names(const std::vector<std::string>& lines) {
        std::vector<std::string> out;
        for (const std::string& l : lines) {
            size_t q = l.find('"');
            if (l.compare(0, 8, "300  SUB") == 0) out.push_back("SUB " + l.substr(l.rfind(' ') + 1));
            if (l.compare(0, 8, "300   DB") != 0) continue;
            std::string name = l.substr(q + 1, l.find('"', q + 1) - q - 1);
            out.push_back("DB " + name.substr(name.find_first_not_of(' ')));
        }
        return out;
    }
    unsigned folderId(const char* name) { return static_cast<unsigned>(inOrder(uzd.zipList->getMlRoot(), name, 2)->ID); }
    std::string root;
};

TEST_F(MlListing, TreeHidesFoldersIdsAndAnnotations) {
    startAndGreet();
    auto lines = reply("MLLIST\n");
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines.front(), "300-Type Level Name         ID  Size\t\tEntries CTime    \"Comment\"");
    EXPECT_EQ(lines.back(), "200-MLLIST executed.");
    EXPECT_EQ(names(lines), (std::vector<std::string>{"SUB Root", "SUB FolderA", "DB a1.kvo", "SUB FolderB", "DB b1.kvo",
                                             "SUB FolderC", "DB c1.kvo"}));
    ZipStructure* a1 = uzd.zipList->findZipStructure("a1.kvo", nullptr);
    char line[512];
    std::snprintf(line, sizeof line, "300   DB     1 \"%12s\"  \"%s|%u|%s|\" \t %8lu %5u %10lu %s FALSE", "a1.kvo",
                  a1->version, static_cast<unsigned>(a1->hashID), "a1.kvo", a1->fileSize, 1u,
                  static_cast<unsigned long>(a1->mTime), "\"A one [EN/A1]\"");
    EXPECT_NE(std::find(lines.begin(), lines.end(), std::string(line)), lines.end());
}

TEST_F(MlListing, ProfileKeepsItsFolders) {
    startAndGreet();
    std::string user = "USER u 1 \"" + std::to_string(folderId("FolderA")) + "|" + std::to_string(folderId("FolderC")) + "\"\n";
    EXPECT_EQ(reply(user), (std::vector<std::string>{"200-User profile successfuly set"}));
    EXPECT_EQ(names(reply("MLLIST\n")), (std::vector<std::string>{"SUB Root", "SUB FolderA", "DB a1.kvo", "SUB FolderC", "DB c1.kvo"}));
}

// One library of a type that profile types 5 (kvo and zip) let through, one
// of a type they filter out.
class MlListingTypes : public MlListing {
protected:
    void addLibraries() override {
        MlListing::addLibraries();
        ASSERT_TRUE(test::cat::makeLibraries(
            {{root + "/a/a2.zip", "A paper [EN/A2]"}, {root + "/c/c2.zdf", "C pdf [EN/C2]"}}));
    }
    void configureScanner(ZipList* zl) override {
        MlListing::configureScanner(zl);
        zl->filesysScanner->addIncludePattern("*.zip");
        zl->filesysScanner->addIncludePattern("*.zdf");
    }
};

// A profile without a systems list allows every level-1 folder, as "0" does.
TEST_F(MlListingTypes, ProfileWithoutSystemsShowsEveryFolder) {
    std::string folderA = std::to_string(folderId("FolderA"));
    for (const char* user : {"USER u 5\n", "USER u 5 0\n"}) {
        SCOPED_TRACE(user);
        newSession();
        startAndGreet();
        EXPECT_EQ(reply(user), (std::vector<std::string>{"200-User profile successfuly set"}));
        EXPECT_EQ(names(reply("MLLIST\n")),
                  (std::vector<std::string>{"SUB Root", "SUB FolderA", "DB a1.kvo", "DB a2.zip",
                                            "SUB FolderB", "DB b1.kvo", "SUB FolderC", "DB c1.kvo"}));
        auto lines = reply("MLNLIST " + folderA + " u\n");
        EXPECT_EQ(lines.back(), "200-MLNLIST executed.");
        EXPECT_EQ(names(lines), (std::vector<std::string>{"SUB FolderA", "DB a1.kvo", "DB a2.zip"}));
    }
}

TEST_F(MlListing, SmallAnswers) {
    startAndGreet();
    EXPECT_EQ(reply("MLSLIST\n"), (std::vector<std::string>{"500 No Product Name/Path specified "}));
    EXPECT_EQ(reply("MLSLIST x other\n"), (std::vector<std::string>{"500 No Name/Path specified "}));
    EXPECT_EQ(reply("MLSLIST nothing name\n"), (std::vector<std::string>{"511 Invalid Product Name/Path'nothing'"}));
    EXPECT_EQ(names(reply("MLSLIST FolderB name\n")), (std::vector<std::string>{"SUB FolderB", "DB b1.kvo"}));
    EXPECT_EQ(names(reply("MLLIST [EN/B*]\n")), (std::vector<std::string>{"DB b1.kvo"}));
    EXPECT_EQ(reply("MLLIST none.kvo\n"), (std::vector<std::string>{"511 Invalid database 'none.kvo'"}));
    EXPECT_EQ(reply("MLNLIST 0 u\n"), (std::vector<std::string>{"550-No folder with upload access available"}));
    EXPECT_EQ(readLine(sv[1]), "<EOF>");
}

TEST_F(MlListing, FolderNumbersSelectTheirLibraries) {
    std::string b1 = test::readFile(root + "/b/b1.kvo"), s1 = test::readFile(root + "/b/s1.kvo");
    std::string rootId = std::to_string(folderId("Root"));
    startAndGreet();
    // GET of a folder: each library after its own framing line, in the
    // folder's order (by comment).
    ASSERT_TRUE(sendText(sv[1], "GET " + std::to_string(folderId("FolderB")) + "\n"));
    EXPECT_EQ(readLine(sv[1]), "300-Length " + std::to_string(b1.size()) + " \"b1.kvo\"");
    EXPECT_EQ(readBytes(b1.size()), b1);
    EXPECT_EQ(readLine(sv[1]), "300-Length " + std::to_string(s1.size()) + " \"s1.kvo\"");
    EXPECT_EQ(readBytes(s1.size()), s1);
    EXPECT_EQ(readLine(sv[1]), "200-GET executed.");
    EXPECT_EQ(reply("CONT " + rootId + "\n"), (std::vector<std::string>{"510 Node contains no databases \"Root\""}));
    EXPECT_EQ(reply("CONTV " + rootId + "\n"), (std::vector<std::string>{"510 Node contains no databases \"Root\""}));
    EXPECT_EQ(reply("GET " + rootId + "\n"), (std::vector<std::string>{"510 Node contains no databases 'Root'"}));
    // The sub-folder page needs no library.
    EXPECT_EQ(reply("CONTV " + rootId + " kvo_ml_sub_main_page\n").back(), "200-CONTV executed.");
}

}  // namespace
}  // namespace ruva

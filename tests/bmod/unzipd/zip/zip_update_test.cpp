#include "bmod/unzipd/zip/zip_update.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bmod/unzipd/zip/zip_reader.h"
#include "tests/bmod/unzipd/zip/zip_write_fixture.h"

namespace ruva {
namespace {

using namespace test::zw;
using test::TempDir;

// Rows name only the expectations that matter to them.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

// 2020-01-01 12:00:00 in Europe/Berlin: the default time of fixture members.
constexpr time_t kMemberTime = 1577876400;

struct File {
    std::string path;  // relative to the working directory
    std::string data;
    time_t mtime = 0;  // 0: now
};

struct Expect {
    int result = 1;
    std::string error;                                          // exact; "<path>" stands for the archive path
    std::vector<std::string> messages;                          // each present
    std::vector<std::string> absent;                            // each absent
    bool unchanged = false;                                     // bytes and inode
    std::vector<std::pair<std::string, std::string>> contents;  // the members in order, when written
    std::vector<std::pair<std::string, int>> methods;
    std::vector<std::pair<std::string, std::string>> comments;
};

// One row runs through Zip::zip and, when typed is set, through the typed
// call that does the same job.
struct Row {
    const char* name;
    std::vector<Member> members;  // empty: no archive
    std::vector<File> files;
    ZipAction action;
    std::vector<std::string> zipArgs;  // after the archive path
    Expect viaZip;
    char typed = 0;  // 'p' putFile(tFile, tMember), 'd' deleteMembers(tPattern)
    std::string tFile, tMember;
    bool fold = false;
    Expect viaTyped = {};
};

std::string fill(const std::string& s, const std::string& path) {
    std::string out = s;
    size_t at = out.find("<path>");
    if (at != std::string::npos) out.replace(at, 6, path);
    return out;
}

void runOne(const Row& row, bool typed) {
    SCOPED_TRACE(std::string(row.name) + (typed ? " (typed call)" : " (zip)"));
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    CwdGuard cwd(dir.path());
    const std::string archive = dir.file("lib.kvo");
    if (!row.members.empty()) makeArchive(archive, row.members, "library [LIB1]");
    for (const File& f : row.files) {
        size_t slash = f.path.rfind('/');
        if (slash != std::string::npos) sh("mkdir -p " + quote(dir.file(f.path.substr(0, slash))));
        writeFile(dir.file(f.path), f.data);
        if (f.mtime) setMtime(dir.file(f.path), f.mtime);
    }
    const std::string before = readFile(archive);
    const ino_t beforeInode = inode(archive);
    auto oldRecords = row.members.empty() ? decltype(records(archive))() : records(archive);

    auto zip = newZip(kZipJunkPaths);
    ASSERT_TRUE(zip);
    int result;
    const Expect& ex = typed ? row.viaTyped : row.viaZip;
    if (!typed) {
        std::vector<const char*> argv{archive.c_str()};
        for (const std::string& a : row.zipArgs) argv.push_back(a.c_str());
        result = zip->zip(row.action, static_cast<int>(argv.size()), argv.data());
    } else if (row.typed == 'p') {
        result = zip->putFile(row.action, archive.c_str(), row.tFile.c_str(), row.tMember.c_str(), row.fold);
    } else {
        result = zip->deleteMembers(archive.c_str(), row.tFile.c_str(), row.fold);
    }
    EXPECT_EQ(result, ex.result) << zip->getError();
    if (!ex.error.empty()) {
        EXPECT_EQ(zip->getError(), fill(ex.error, archive));
    }
    for (const std::string& m : ex.messages)
        EXPECT_TRUE(hasMessage(*zip, fill(m, archive))) << fill(m, archive);
    for (const std::string& m : ex.absent)
        EXPECT_FALSE(hasMessage(*zip, fill(m, archive))) << fill(m, archive);
    EXPECT_TRUE(temps(dir.path()).empty());
    if (ex.unchanged) {
        EXPECT_EQ(readFile(archive), before);
        EXPECT_EQ(inode(archive), beforeInode);
        return;
    }
    std::vector<std::string> fresh;
    for (const auto& [name, data] : ex.contents) {
        bool same = false;
        for (const Member& m : row.members) same = same || (m.name == name && m.data == data);
        if (!same) fresh.push_back(name);
    }
    Listing l;
    if (ex.contents.empty()) {
        EXPECT_EQ(unzipTest(archive), 1);  // "zipfile is empty"
        l = list(archive);
    } else {
        l = expectValid(archive, fresh);
    }
    ASSERT_TRUE(l.ok) << l.error;
    ASSERT_EQ(l.entries.size(), ex.contents.size());
    for (size_t i = 0; i < ex.contents.size(); ++i) {
        EXPECT_EQ(l.entries[i].name, ex.contents[i].first);
        EXPECT_EQ(l.entries[i].data, ex.contents[i].second) << ex.contents[i].first;
    }
    for (const auto& [name, method] : ex.methods) {
        const Info* i = l.find(name);
        ASSERT_NE(i, nullptr) << name;
        EXPECT_EQ(i->method, method) << name;
    }
    for (const auto& [name, comment] : ex.comments) {
        const Info* i = l.find(name);
        ASSERT_NE(i, nullptr) << name;
        EXPECT_EQ(i->comment, comment) << name;
    }
    if (!row.members.empty()) {
        EXPECT_EQ(l.comment, "library [LIB1]");
    }
    // Untouched entries stay byte-identical.
    auto now = records(archive);
    for (const auto& [name, data] : ex.contents) {
        if (std::find(fresh.begin(), fresh.end(), name) != fresh.end()) continue;
        ASSERT_TRUE(oldRecords.count(name)) << name;
        EXPECT_EQ(now[name], oldRecords[name]) << name;
    }
}

// Rows [first, last) of a table: each gtest case stays well under its time
// limit in the sanitizer build.
void runRows(const std::vector<Row>& table, size_t first, size_t last) {
    TzGuard tz("Europe/Berlin");
    ASSERT_LE(last, table.size());
    for (size_t i = first; i < last; ++i) {
        const Row& row = table[i];
        runOne(row, false);
        if (row.typed) runOne(row, true);
    }
}

const std::string kA = text(3000, 1), kB = text(2000, 2), kC = text(1500, 3), kNew = text(4000, 9);

std::vector<Row> addRows() {
    Expect newUpdate{.messages = {"warning: <path> not found or empty\n"}, .contents = {{"x.html", kNew}}};
    Expect newAdd{.absent = {"warning: <path> not found or empty\n"}, .contents = {{"x.html", kNew}}};
    Expect added{.contents = {{"a.html", kA}, {"b.html", kB}, {"c.html", kNew}}, .methods = {{"c.html", 8}}};
    return {
        {"new archive with update",
         {},
         {{"x.html", kNew}},
         ZIP_ACTION_UPDATE,
         {"x.html"},
         newUpdate,
         'p',
         "x.html",
         "x.html",
         false,
         newUpdate},
        {"new archive with add",
         {},
         {{"x.html", kNew}},
         ZIP_ACTION_ADD,
         {"x.html"},
         newAdd,
         'p',
         "x.html",
         "x.html",
         false,
         newAdd},
        {"add",
         {{"a.html", kA}, {"b.html", kB}},
         {{"c.html", kNew}},
         ZIP_ACTION_ADD,
         {"c.html"},
         added,
         'p',
         "c.html",
         "c.html",
         false,
         added},
        {"empty file is stored",
         {{"a.html", kA}},
         {{"empty.txt", ""}},
         ZIP_ACTION_ADD,
         {"empty.txt"},
         Expect{.contents = {{"a.html", kA}, {"empty.txt", ""}}, .methods = {{"empty.txt", 0}}},
         'p',
         "empty.txt",
         "empty.txt",
         false,
         Expect{.contents = {{"a.html", kA}, {"empty.txt", ""}}, .methods = {{"empty.txt", 0}}}},
        {"a .zip member is stored",
         {{"a.html", kA}},
         {{"x.zip", kNew}},
         ZIP_ACTION_UPDATE,
         {"x.zip"},
         Expect{.contents = {{"a.html", kA}, {"x.zip", kNew}}, .methods = {{"x.zip", 0}}},
         'p',
         "x.zip",
         "x.zip",
         false,
         Expect{.contents = {{"a.html", kA}, {"x.zip", kNew}}, .methods = {{"x.zip", 0}}}},
    };
}

std::vector<Row> replaceRows() {
    std::vector<Member> members{{"a.html", kA}, {"b.html", kB, "Title CAT:0101"}, {"c.html", kC}};
    Expect replaced{.contents = {{"a.html", kA}, {"b.html", kNew}, {"c.html", kC}},
                    .comments = {{"b.html", "Title CAT:0101"}}};
    Expect unchanged{.unchanged = true};
    return {
        {"newer replace",
         members,
         {{"b.html", kNew}},
         ZIP_ACTION_UPDATE,
         {"b.html"},
         replaced,
         'p',
         "b.html",
         "b.html",
         false,
         replaced},
        {"not newer: update succeeds unwritten",
         members,
         {{"b.html", kNew, kMemberTime - 1}},
         ZIP_ACTION_UPDATE,
         {"b.html"},
         unchanged,
         'p',
         "b.html",
         "b.html",
         false,
         unchanged},
        {"equal time: add replaces",
         members,
         {{"b.html", kNew, kMemberTime}},
         ZIP_ACTION_ADD,
         {"b.html"},
         replaced,
         'p',
         "b.html",
         "b.html",
         false,
         replaced},
        {"freshen adds nothing",
         members,
         {{"d.html", kNew}},
         ZIP_ACTION_FRESHEN,
         {"d.html"},
         unchanged,
         'p',
         "d.html",
         "d.html",
         false,
         unchanged},
        {"folded names replace the served entry",
         {{"Doc.HTML", kA}, {"x.html", kB}},
         {{"doc.html", kNew}},
         ZIP_ACTION_ADD,
         {"doc.html"},
         Expect{.contents = {{"Doc.HTML", kA}, {"x.html", kB}, {"doc.html", kNew}}},
         'p',
         "doc.html",
         "doc.html",
         true,
         Expect{.contents = {{"Doc.HTML", kNew}, {"x.html", kB}}}},
    };
}

std::vector<Row> deleteRows() {
    Expect none{.result = 0,
                .error = "Nothing to do! (<path>)",
                .messages = {"warning: name not matched: zz*\n"},
                .unchanged = true};
    Expect lastGone{.messages = {"warning: zip file empty\n"}, .contents = {}};
    std::vector<Member> hs{
        {"h1.html", kA}, {"x.html", kB}, {"h/x.html", kC}, {"sub/h3.html", kA}, {"h2.htm", kB}};
    Expect hDeleted{.contents = {{"x.html", kB}, {"sub/h3.html", kA}, {"h2.htm", kB}}};
    std::vector<Member> sets{{"a1", kA}, {"b1", kB}, {"c1", kC}, {"A1", kA}};
    Expect setDeleted{.contents = {{"c1", kC}, {"A1", kA}}};
    std::vector<Member> stars{{"*", kA}, {"x*y", kB}, {"a", kC}};
    Expect starDeleted{.contents = {{"x*y", kB}, {"a", kC}}};
    std::vector<Member> docs{{"Doc.HTML", kA}, {"x.html", kB}};
    return {
        {"exact name",
         {{"a.html", kA}, {"b.html", kB}, {"c.html", kC}},
         {},
         ZIP_ACTION_DELETE,
         {"b.html"},
         Expect{.contents = {{"a.html", kA}, {"c.html", kC}}},
         'd',
         "b.html",
         "",
         false,
         Expect{.contents = {{"a.html", kA}, {"c.html", kC}}}},
        {"h*.html crosses slashes",
         hs,
         {},
         ZIP_ACTION_DELETE,
         {"h*.html"},
         hDeleted,
         'd',
         "h*.html",
         "",
         false,
         hDeleted},
        {"[ab]*", sets, {}, ZIP_ACTION_DELETE, {"[ab]*"}, setDeleted, 'd', "[ab]*", "", false, setDeleted},
        {"literal \\*",
         stars,
         {},
         ZIP_ACTION_DELETE,
         {"\\*"},
         starDeleted,
         'd',
         "\\*",
         "",
         false,
         starDeleted},
        {"matching nothing",
         {{"a.html", kA}},
         {},
         ZIP_ACTION_DELETE,
         {"zz*"},
         none,
         'd',
         "zz*",
         "",
         false,
         none},
        {"the last entry",
         {{"a.html", kA}},
         {},
         ZIP_ACTION_DELETE,
         {"a.html"},
         lastGone,
         'd',
         "a.html",
         "",
         false,
         lastGone},
        {"folded names",
         docs,
         {},
         ZIP_ACTION_DELETE,
         {"doc.html"},
         Expect{.result = 0, .error = "Nothing to do! (<path>)", .unchanged = true},
         'd',
         "doc.html",
         "",
         true,
         Expect{.contents = {{"x.html", kB}}}},
    };
}

std::vector<Row> literalRows() {
    std::vector<Member> base{{"z.html", kA}};
    return {
        {"a name starting with -",
         base,
         {{"-doc.html", kNew}},
         ZIP_ACTION_ADD,
         {"-doc.html"},
         Expect{.result = 0, .error = "Invalid command arguments (no such option: d)", .unchanged = true},
         'p',
         "-doc.html",
         "-doc.html",
         false,
         Expect{.contents = {{"z.html", kA}, {"-doc.html", kNew}}}},
        {"a path holding [",
         base,
         {{"a[1].html", kNew}},
         ZIP_ACTION_UPDATE,
         {"a[1].html"},
         Expect{.messages = {"warning: name not matched: a[1].html\n"}, .unchanged = true},
         'p',
         "a[1].html",
         "a[1].html",
         false,
         Expect{.contents = {{"z.html", kA}, {"a[1].html", kNew}}}},
        {"a path holding *",
         base,
         {{"s*.html", kNew}},
         ZIP_ACTION_UPDATE,
         {"s*.html"},
         Expect{.messages = {"warning: name not matched: s*.html\n"}, .unchanged = true},
         'p',
         "s*.html",
         "s*.html",
         false,
         Expect{.contents = {{"z.html", kA}, {"s*.html", kNew}}}},
        {"a delete name that exists as a file",
         {{"x.html", kA}, {"y.html", kB}},
         {{"sub/x.html", kNew}},
         ZIP_ACTION_DELETE,
         {"sub/x.html"},
         Expect{.contents = {{"y.html", kB}}},
         'd',
         "sub/x.html",
         "",
         false,
         Expect{.result = 0, .error = "Nothing to do! (<path>)", .unchanged = true}},
    };
}

std::vector<Row> grammarRows() {
    std::vector<Member> base{{"a.html", kA}};
    std::vector<File> files{{"x.html", kNew}};
    auto bad = [](const char* detail) {
        return Expect{.result = 0,
                      .error = std::string("Invalid command arguments (") + detail + ")",
                      .unchanged = true};
    };
    return {
        {"-b after the archive",
         base,
         files,
         ZIP_ACTION_ADD,
         {"x.html", "-b", "/tmp"},
         bad("use -b before zip file name")},
        {"delete with -0",
         base,
         files,
         ZIP_ACTION_DELETE,
         {"-0", "a.html"},
         bad("invalid option(s) used with -d")},
        {"bad -t",
         base,
         files,
         ZIP_ACTION_UPDATE,
         {"-t", "133199", "x.html"},
         bad("invalid date entered for -t option")},
        {"trailing -c",
         base,
         files,
         ZIP_ACTION_ADD,
         {"x.html", "-c"},
         bad("-C must be followed by comment string argument")},
        {"-Q", base, files, ZIP_ACTION_ADD, {"-Q", "x.html"}, bad("no such option: Q")},
        {"an option that is not built",
         base,
         files,
         ZIP_ACTION_ADD,
         {"-r", "x.html"},
         bad("no such option: r")},
        {"a lone -", base, files, ZIP_ACTION_ADD, {"-"}, bad("no such option: -")},
        {"check 4 comes before check 9",
         base,
         files,
         ZIP_ACTION_DELETE,
         {"-0", "zz"},
         bad("invalid option(s) used with -d")},
        {"-i before any name", base, files, ZIP_ACTION_ADD, {"-i", "x*"}, bad("nothing to select from")},
        {"-c comments the file before it",
         base,
         files,
         ZIP_ACTION_ADD,
         {"x.html", "-c", "Note CAT:11"},
         Expect{.contents = {{"a.html", kA}, {"x.html", kNew}}, .comments = {{"x.html", "Note CAT:11"}}}},
        {"-x after the names",
         base,
         {{"x.html", kNew}, {"y.html", kB}},
         ZIP_ACTION_ADD,
         {"x.html", "y.html", "-x", "y*"},
         Expect{.contents = {{"a.html", kA}, {"x.html", kNew}}}},
        {"-t keeps older files out",
         base,
         files,
         ZIP_ACTION_ADD,
         {"-t", "010130", "x.html"},
         Expect{.result = 0, .error = "Nothing to do! (<path>)", .unchanged = true}},
    };
}

TEST(ZipEngineTable, NewArchives) {
    runRows(addRows(), 0, 2);
}
TEST(ZipEngineTable, Adds) {
    runRows(addRows(), 2, addRows().size());
}
TEST(ZipEngineTable, Replacements) {
    runRows(replaceRows(), 0, 3);
}
TEST(ZipEngineTable, FreshenAndFoldedReplace) {
    runRows(replaceRows(), 3, replaceRows().size());
}
TEST(ZipEngineTable, DeletesByNameAndPattern) {
    runRows(deleteRows(), 0, 4);
}
TEST(ZipEngineTable, DeletesOfNothingTheLastAndFolded) {
    runRows(deleteRows(), 4, deleteRows().size());
}
TEST(ZipEngineTable, LiteralNames) {
    runRows(literalRows(), 0, literalRows().size());
}
TEST(ZipEngineTable, GrammarErrors) {
    runRows(grammarRows(), 0, 9);
}
TEST(ZipEngineTable, GrammarRuns) {
    runRows(grammarRows(), 9, grammarRows().size());
}

// Two uploads within the same two seconds: the second still replaces.
TEST(ZipPutFile, SameSecondAddReplaces) {
    TzGuard tz("Europe/Berlin");
    TempDir dir;
    const std::string archive = dir.file("lib.kvo");
    const std::string file = dir.file("recv");
    writeFile(file, "first version");
    setMtime(file, kMemberTime);
    auto zip = newZip(kZipJunkPaths);
    ASSERT_EQ(zip->putFile(ZIP_ACTION_ADD, archive.c_str(), file.c_str(), "doc.html", false), 1)
        << zip->getError();
    writeFile(file, "second version");
    setMtime(file, kMemberTime + 1);
    ASSERT_EQ(zip->putFile(ZIP_ACTION_ADD, archive.c_str(), file.c_str(), "doc.html", false), 1)
        << zip->getError();
    Listing l = list(archive);
    ASSERT_EQ(l.entries.size(), 1u);
    EXPECT_EQ(l.entries[0].data, "second version");
    // UPDATE keeps the old one at an equal DOS time.
    writeFile(file, "third version");
    setMtime(file, kMemberTime);
    ASSERT_EQ(zip->putFile(ZIP_ACTION_UPDATE, archive.c_str(), file.c_str(), "doc.html", false), 1);
    EXPECT_EQ(list(archive).entries[0].data, "second version");
}

TEST(ZipPutFile, RefusesBadArguments) {
    TempDir dir;
    const std::string archive = dir.file("lib.kvo");
    writeFile(dir.file("f"), "x");
    auto zip = newZip(0);
    EXPECT_EQ(zip->putFile(ZIP_ACTION_DELETE, archive.c_str(), dir.file("f").c_str(), "f", false), 0);
    EXPECT_EQ(zip->putFile(ZIP_ACTION_ADD, archive.c_str(), dir.file("f").c_str(), "", false), 0);
    EXPECT_EQ(zip->putFile(ZIP_ACTION_ADD, archive.c_str(), dir.path().c_str(), "d", false), 0);
    std::string longName(384, 'n');
    EXPECT_EQ(zip->putFile(ZIP_ACTION_ADD, archive.c_str(), dir.file("f").c_str(), longName.c_str(), false),
              0);
    EXPECT_EQ(std::string(zip->getError()).rfind("Invalid command arguments (", 0), 0u) << zip->getError();
    EXPECT_FALSE(exists(archive));
    std::string name383(383, 'n');
    EXPECT_EQ(zip->putFile(ZIP_ACTION_ADD, archive.c_str(), dir.file("f").c_str(), name383.c_str(), false), 1)
        << zip->getError();
}

TEST(Zip, FreshObject) {
    auto zip = newZip(0);
    ASSERT_TRUE(zip);
    EXPECT_STREQ(zip->getError(), "");
    EXPECT_EQ(zip->getFirstMessage(), nullptr);
    EXPECT_EQ(zip->numZipEntries, 0u);
}

TEST(Zip, ErrorAndMessageLimits) {
    auto zip = newZip(0);
    std::string big(3000, 'e');
    zip->setError("%s", big.c_str());
    EXPECT_EQ(strlen(zip->getError()), 511u);
    zip->setError(nullptr);
    EXPECT_STREQ(zip->getError(), "");
    EXPECT_EQ(zip->printf("%s", big.c_str()), 1);
    EXPECT_EQ(zip->printf("line %d", 2), 1);
    auto m = messages(*zip);
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0].size(), 2047u);
    EXPECT_EQ(m[1], "line 2");
    zip->setError("x");
    zip->clear();
    EXPECT_STREQ(zip->getError(), "");
    EXPECT_EQ(zip->getFirstMessage(), nullptr);
}

TEST(Zip, CommandLinesAreRecorded) {
    TempDir dir;
    const std::string archive = dir.file("lib.kvo");
    makeArchive(archive, {{"a.html", "aaa"}, {"b.html", "bbb"}});
    auto zip = newZip(kZipJunkPaths | kZipLogCommands);
    ASSERT_EQ(zip->deleteMembers(archive.c_str(), "a.html", false), 1) << zip->getError();
    const char* argv[] = {archive.c_str(), "b.html"};
    ASSERT_EQ(zip->zip(ZIP_ACTION_DELETE, 2, argv), 1) << zip->getError();
    auto m = messages(*zip);
    ASSERT_GE(m.size(), 4u);
    EXPECT_EQ(m[0], "zip -d " + archive);
    EXPECT_EQ(m[1], "a.html ");
    EXPECT_EQ(m[2], "zip -d " + archive);
    EXPECT_EQ(m[3], "b.html ");

    auto add = newZip(kZipLogCommands);
    writeFile(dir.file("c.html"), "ccc");
    ASSERT_EQ(add->putFile(ZIP_ACTION_UPDATE, archive.c_str(), dir.file("c.html").c_str(), "c.html", false),
              1);
    m = messages(*add);
    ASSERT_GE(m.size(), 2u);
    EXPECT_EQ(m[0], "zip -u " + archive);
    EXPECT_EQ(m[1], dir.file("c.html") + " ");
}

TEST(Zip, EntryLists) {
    auto zip = newZip(0);
    ZipEntry* first = zip->addZipEntry(nullptr, "a", "comment", 0);
    ASSERT_NE(first, nullptr);
    zip->addZipEntry(first, "b", nullptr, kZipEntryStore);
    EXPECT_EQ(zip->fze, first);
    EXPECT_EQ(zip->lze->name, "b");
    EXPECT_FALSE(zip->lze->comment);
    EXPECT_EQ(zip->numZipEntries, 2u);

    // A chain the caller holds grows at its end and is freed alone.
    ZipEntry* own = new ZipEntry{nullptr, 0, std::string("x"), std::nullopt};
    zip->addZipEntry(own, "y", nullptr, 0);
    ASSERT_NE(own->next, nullptr);
    EXPECT_EQ(own->next->name, "y");
    EXPECT_EQ(zip->numZipEntries, 3u);
    zip->deleteZipEntries(own);
    EXPECT_EQ(zip->numZipEntries, 0u);
    EXPECT_EQ(zip->fze, first);
    EXPECT_EQ(zip->fze->next, zip->lze);
    // The own list is left for the destructor.
}

TEST(Zip, ZipEntriesBuildsTwoLines) {
    TempDir dir;
    CwdGuard cwd(dir.path());
    const std::string archive = dir.file("lib.kvo");
    writeFile("a.html", text(2000));
    writeFile("b.bin", text(2000, 5));
    auto zip = newZip(kZipJunkPaths | kZipLogCommands);

    // Neither names nor comments: nothing runs.
    zip->addZipEntry(nullptr, nullptr, nullptr, 0);
    EXPECT_EQ(zip->zipEntries(ZIP_ACTION_ADD, archive.c_str(), nullptr), 1);
    EXPECT_EQ(zip->getFirstMessage(), nullptr);
    zip->deleteZipEntries(nullptr);

    // Store entries only: only the "-0" line.
    zip->addZipEntry(nullptr, "b.bin", nullptr, kZipEntryStore);
    EXPECT_EQ(zip->zipEntries(ZIP_ACTION_ADD, archive.c_str(), nullptr), 1) << zip->getError();
    auto m = messages(*zip);
    ASSERT_GE(m.size(), 3u);
    EXPECT_EQ(m[0], "zip  " + archive);
    EXPECT_EQ(m[1], "-0 ");
    EXPECT_EQ(m[2], "b.bin ");
    EXPECT_EQ(list(archive).find("b.bin")->method, 0);
    zip->deleteZipEntries(nullptr);
    zip->clear();

    // Both lines, comments attached, the archive comment through "-z".
    zip->addZipEntry(nullptr, "a.html", "Page CAT:1", 0);
    zip->addZipEntry(nullptr, nullptr, "library [LIB9]", kZipEntryArchiveComment);
    zip->addZipEntry(nullptr, "b.bin", "Binary", kZipEntryStore);
    EXPECT_EQ(zip->zipEntries(ZIP_ACTION_ADD, archive.c_str(), nullptr), 1) << zip->getError();
    m = messages(*zip);
    std::vector<std::string> expected{"zip  " + archive, "a.html ",         "-c ", "Page CAT:1 ", "-z ",
                                      "library [LIB9] ", "zip  " + archive, "-0 ", "b.bin ",      "-c ",
                                      "Binary "};
    EXPECT_EQ(m, expected);
    Listing l = list(archive);
    EXPECT_EQ(l.comment, "library [LIB9]");
    ASSERT_NE(l.find("a.html"), nullptr);
    EXPECT_EQ(l.find("a.html")->comment, "Page CAT:1");
    EXPECT_EQ(l.find("a.html")->method, 8);
    EXPECT_EQ(l.find("b.bin")->comment, "Binary");
    EXPECT_EQ(l.find("b.bin")->method, 0);

    EXPECT_EQ(zip->zipEntries(ZIP_ACTION_ADD, nullptr, nullptr), 0);
    EXPECT_STREQ(zip->getError(), "zipEntries requires a database");
}

TEST(Zip, SetZipComment) {
    TempDir dir;
    const std::string archive = dir.file("lib.kvo");
    auto zip = newZip(kZipJunkPaths);
    EXPECT_EQ(zip->setZipComment(archive.c_str(), "new [LIB2]"), 0);
    EXPECT_EQ(zip->getError(), "Nothing to do! (" + archive + ")");
    EXPECT_FALSE(exists(archive));

    makeArchive(archive, {{"a.html", text(1000)}, {"b.html", text(500, 2)}}, "old");
    auto before = records(archive);
    ASSERT_EQ(zip->setZipComment(archive.c_str(), "new [LIB2]"), 1) << zip->getError();
    EXPECT_EQ(list(archive).comment, "new [LIB2]");
    EXPECT_EQ(records(archive), before);
    expectValid(archive);

    std::string tooLong(384, 'c');
    EXPECT_EQ(zip->setZipComment(archive.c_str(), tooLong.c_str()), 0);
    EXPECT_EQ(zip->getError(), "Invalid comment format (" + archive + ")");
    std::string longest(383, 'c');
    EXPECT_EQ(zip->setZipComment(archive.c_str(), longest.c_str()), 1) << zip->getError();
    EXPECT_EQ(list(archive).comment, longest);
}

TEST(Zip, LongMemberCommentIsRefused) {
    TempDir dir;
    CwdGuard cwd(dir.path());
    const std::string archive = dir.file("lib.kvo");
    makeArchive(archive, {{"a.html", "a"}});
    writeFile("x.html", "x");
    auto zip = newZip(kZipJunkPaths);
    std::string tooLong(384, 'c');
    const char* argv[] = {archive.c_str(), "x.html", "-c", tooLong.c_str()};
    std::string before = readFile(archive);
    EXPECT_EQ(zip->zip(ZIP_ACTION_ADD, 4, argv), 0);
    EXPECT_EQ(zip->getError(), "Invalid comment format (" + archive + ")");
    EXPECT_EQ(readFile(archive), before);
}

TEST(Zip, UsageEndsTheRunWithSuccess) {
    auto zip = newZip(0);
    const char* argv[] = {"-h"};
    EXPECT_EQ(zip->zip(ZIP_ACTION_ADD, 1, argv), 1);
    auto m = messages(*zip);
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(m[0], "");
    EXPECT_EQ(m[1], "zip [-options] [-b path] [-t mmddyy] [-n suffixes] [-z comment] [[-c comment]...]");
    EXPECT_EQ(m[2], "    [zipfile list] [-xi list]");
}

struct CallbackLog {
    std::vector<std::string> lines;
    Zip* zip = nullptr;
    int nested = -1;
};

void statusCb(void* data, const char* name, unsigned long ordinal) {
    static_cast<CallbackLog*>(data)->lines.push_back("status " + std::string(name) + " " +
                                                     std::to_string(ordinal));
}
void okCb(void* data, const char* name, const char* path) {
    static_cast<CallbackLog*>(data)->lines.push_back("ok " + std::string(name) + " " + path);
}

TEST(Zip, CallbacksSeeEveryTreatedEntry) {
    TempDir dir;
    CwdGuard cwd(dir.path());
    const std::string archive = dir.file("lib.kvo");
    makeArchive(archive, {{"a.html", "a"}, {"b.html", "b"}, {"c.html", "c"}});
    writeFile("b.html", "new b");
    writeFile("d.html", "new d");
    auto zip = newZip(kZipJunkPaths);
    CallbackLog log;
    zip->setStatusCallback(statusCb, &log);
    zip->setOkCallback(okCb, &log);
    const char* argv[] = {archive.c_str(), "b.html", "d.html"};
    ASSERT_EQ(zip->zip(ZIP_ACTION_UPDATE, 3, argv), 1) << zip->getError();
    std::vector<std::string> expected{"status b.html 1", "status d.html 2", "ok d.html d.html"};
    EXPECT_EQ(log.lines, expected);
    log.lines.clear();
    zip->setOkCallback(nullptr, nullptr);
    EXPECT_EQ(zip->deleteMembers(archive.c_str(), "[ac].html", false), 1);
    expected = {"status a.html 1", "status c.html 2"};
    EXPECT_EQ(log.lines, expected);
}

void nestingCb(void* data, const char*, unsigned long) {
    auto* log = static_cast<CallbackLog*>(data);
    auto inner = newZip(0);
    log->nested = inner->deleteMembers("/nonexistent/x.zip", "*", false);
    log->lines.push_back(inner->getError());
}

TEST(Zip, NestedRunFromCallbackIsRefused) {
    TempDir dir;
    const std::string archive = dir.file("lib.kvo");
    makeArchive(archive, {{"a.html", "a"}, {"b.html", "b"}});
    auto zip = newZip(0);
    CallbackLog log;
    zip->setStatusCallback(nestingCb, &log);
    EXPECT_EQ(zip->deleteMembers(archive.c_str(), "a.html", false), 1) << zip->getError();
    EXPECT_EQ(log.nested, 0);
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0], "Internal logic error (/nonexistent/x.zip)");
    EXPECT_EQ(list(archive).names(), std::vector<std::string>{"b.html"});
}

void quietWarn(void*, int, const char*, ...) {}

// The last entry gone: the reader still opens the archive, with no members.
TEST(Zip, EmptiedArchiveOpensInTheReader) {
    TempDir dir;
    const std::string archive = dir.file("lib.kvo");
    makeArchive(archive, {{"a.html", "a"}}, "library [LIB1]");
    auto zip = newZip(0);
    ASSERT_EQ(zip->deleteMembers(archive.c_str(), "a.html", false), 1) << zip->getError();
    EXPECT_EQ(readFile(archive).size(), 22u + 14u);
    ZipStructure* zs = newZipStructure(nullptr, archive.c_str(), 0, nullptr, quietWarn);
    ASSERT_NE(zs, nullptr);
    EXPECT_EQ(zs->getFirstCentralHeader(), nullptr);
    EXPECT_STREQ(zs->libID, "LIB1");
    zs->del();
}

}  // namespace
}  // namespace ruva

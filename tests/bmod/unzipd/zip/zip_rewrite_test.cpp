#include "bmod/unzipd/zip/zip_rewrite.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "bmod/unzipd/zip/unzip.h"
#include "bmod/unzipd/zip/zip_name_match.h"
#include "bmod/unzipd/zip/zip_reader.h"
#include "common/crc32.h"
#include "tests/bmod/unzipd/zip/zip_write_fixture.h"
#include "tests/support/zip_builder.h"

namespace ruva {
namespace {

using namespace test::zw;
using test::inChild;
using test::TempDir;

void quietWarn(void*, int, const char*, ...) {}

// Every member as the daemon's own reader and extractor give it.
std::map<std::string, std::string> readerContents(const std::string& path) {
    std::map<std::string, std::string> out;
    ZipStructure* zs = newZipStructure(nullptr, path.c_str(), 0, nullptr, quietWarn);
    if (!zs) return out;
    auto uz = newUnzip(0);
    for (CentralHeader* ch = zs->getFirstCentralHeader(); ch; ch = ZipStructure::getNextCentralHeader(ch)) {
        if (uz->unzip(zs, ch, -1, -1) != 1) {
            out[ch->fname] = "<failed>";
            continue;
        }
        out[ch->fname] = std::string(reinterpret_cast<char*>(uz->buf), uz->bufwritten);
    }
    uz.reset();
    zs->del();
    return out;
}

// ---------------------------------------------------------------- matcher

TEST(ZipNameMatch, Table) {
    struct Case {
        const char* pattern;
        const char* name;
        bool fold;
        bool match;
    } cases[] = {
        {"*", "a/b", false, true},
        {"h*.html", "h/x.html", false, true},  // '*' crosses '/'
        {"h*.html", "sub/h3.html", false, false},
        {"?", "", false, false},
        {"?", "/", false, true},
        {"a?c", "abc", false, true},
        {"[ab]*", "bx", false, true},
        {"[ab]*", "cx", false, false},
        {"[!ab]x", "bx", false, false},
        {"[!ab]x", "cx", false, true},
        {"[^ab]x", "cx", false, true},
        {"[a-c]1", "b1", false, true},
        {"[a-c]1", "d1", false, false},
        {"[]]", "]", false, true},
        {"[a\\]]", "]", false, true},
        {"[", "[", false, true},  // an open bracket is an ordinary character
        {"\\*", "*", false, true},
        {"\\*", "x", false, false},
        {"a\\?", "a?", false, true},
        {"a\\?", "ab", false, false},
        {"a\\", "a\\", false, true},
        {"*.html", "doc.HTML", false, false},
        {"*.html", "doc.HTML", true, true},
        {"doc.html", "Doc.Html", true, true},
        {"[A-C]x", "bx", true, true},
        {"[a-c]x", "BX", true, true},
        {"", "", false, true},
        {"", "a", false, false},
        {"**", "abc", false, true},
        {"*a*", "", false, false},
        {"*x*y*", "axbxcy", false, true},
        {"*x*y*", "axbxc", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.pattern) + " ~ " + c.name);
        EXPECT_EQ(zipNameMatch(c.pattern, c.name, c.fold), c.match);
    }
}

// Many stars against a long near miss: no exponential backtracking.
TEST(ZipNameMatch, StarsStayLinear) {
    std::string name(20000, 'a');
    std::string pattern;
    for (int i = 0; i < 30; ++i) pattern += "a*";
    pattern += "b";
    EXPECT_FALSE(zipNameMatch(pattern, name, false));
    EXPECT_TRUE(zipNameMatch(pattern, name + "b", false));
}

TEST(ZipNameMatch, Wildcards) {
    EXPECT_TRUE(zipHasWildcard("a*"));
    EXPECT_TRUE(zipHasWildcard("a?"));
    EXPECT_TRUE(zipHasWildcard("a[1]"));
    EXPECT_FALSE(zipHasWildcard("a\\*"));
    EXPECT_FALSE(zipHasWildcard("plain.html"));
}

// ---------------------------------------------------------------- DOS time

struct DosCase {
    const char* name;
    int y, mo, d, h, mi, s;  // UTC
    const char* expected;    // local date_time in Europe/Berlin as python shows it
};

const DosCase kDosCases[] = {
    {"odd second rounds up", 2021, 6, 15, 8, 20, 31, "2021-6-15 10:20:32"},
    {"1979 becomes 1980", 1979, 7, 1, 0, 0, 0, "1980-1-1 0:0:0"},
    {"29 February", 2024, 2, 29, 11, 0, 0, "2024-2-29 12:0:0"},
    {"29 February rounds into March", 2024, 2, 29, 22, 59, 59, "2024-3-1 0:0:0"},
    {"spring change", 2021, 3, 28, 0, 59, 59, "2021-3-28 3:0:0"},
    {"autumn change, summer time", 2021, 10, 31, 0, 30, 0, "2021-10-31 2:30:0"},
    {"autumn change, winter time", 2021, 10, 31, 1, 30, 0, "2021-10-31 2:30:0"},
};

time_t utc(const DosCase& c) {
    struct tm tm {};
    tm.tm_year = c.y - 1900;
    tm.tm_mon = c.mo - 1;
    tm.tm_mday = c.d;
    tm.tm_hour = c.h;
    tm.tm_min = c.mi;
    tm.tm_sec = c.s;
    return timegm(&tm);
}

std::string decodeDos(uint32_t t) {
    return std::to_string((t >> 25) + 1980) + "-" + std::to_string((t >> 21) & 15) + "-" +
           std::to_string((t >> 16) & 31) + " " + std::to_string((t >> 11) & 31) + ":" +
           std::to_string((t >> 5) & 63) + ":" + std::to_string((t & 31) * 2);
}

TEST(ZipDosTime, AgainstPythonDateTime) {
    TzGuard tz("Europe/Berlin");
    TempDir dir;
    const std::string archive = dir.file("t.kvo");
    auto zip = newZip(kZipJunkPaths);
    std::vector<std::string> names;
    for (const DosCase& c : kDosCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(decodeDos(zipDosTime(utc(c))), c.expected);
        std::string name = "f" + std::to_string(names.size());
        writeFile(dir.file(name), c.name);
        setMtime(dir.file(name), utc(c));
        ASSERT_EQ(zip->putFile(ZIP_ACTION_ADD, archive.c_str(), dir.file(name).c_str(), name.c_str(), false),
                  1)
            << zip->getError();
        names.push_back(name);
    }
    Listing l = expectValid(archive, names);
    for (size_t i = 0; i < names.size(); ++i) {
        SCOPED_TRACE(kDosCases[i].name);
        const Info* info = l.find(names[i]);
        ASSERT_NE(info, nullptr);
        EXPECT_EQ(info->dateTime, kDosCases[i].expected);
    }
}

// ---------------------------------------------------------------- records as written

TEST(ZipWrite, NewEntriesCarryTheirFields) {
    TzGuard tz("Europe/Berlin");
    TempDir dir;
    CwdGuard cwd(dir.path());
    const std::string archive = dir.file("lib.kvo");
    const std::string page = text(20000), random = randomBytes(20000);
    writeFile("page.html", page);
    writeFile("ro.html", page.substr(0, 5000));
    chmod("ro.html", 0444);
    writeFile("r.bin", random);
    writeFile("x.zip", page.substr(0, 3000));
    writeFile("empty", "");
    writeFile("fast.html", page.substr(0, 8000));
    writeFile("best.html", page.substr(0, 9000));
    writeFile("best.bin", random.substr(0, 9000));
    auto zip = newZip(kZipJunkPaths);
    const char* a1[] = {archive.c_str(), "page.html", "ro.html", "r.bin", "x.zip", "empty"};
    ASSERT_EQ(zip->zip(ZIP_ACTION_ADD, 6, a1), 1) << zip->getError();
    const char* a2[] = {archive.c_str(), "-1", "fast.html"};
    ASSERT_EQ(zip->zip(ZIP_ACTION_ADD, 3, a2), 1) << zip->getError();
    const char* a3[] = {archive.c_str(), "-9", "best.html", "best.bin"};
    ASSERT_EQ(zip->zip(ZIP_ACTION_ADD, 4, a3), 1) << zip->getError();

    std::vector<std::string> all{"page.html", "ro.html",   "r.bin",     "x.zip",
                                 "empty",     "fast.html", "best.html", "best.bin"};
    Listing l = expectValid(archive, all);
    struct Want {
        const char* name;
        int method, flags, extractVersion, internalAttr;
        unsigned long attr;
    } wants[] = {
        {"page.html", 8, 0, 20, 1, 0100644ul << 16}, {"ro.html", 8, 0, 20, 1, (0100444ul << 16) | 1},
        {"r.bin", 0, 0, 10, 0, 0100644ul << 16},  // does not shrink: stored whole
        {"x.zip", 0, 0, 10, 0, 0100644ul << 16},     {"empty", 0, 0, 10, 0, 0100644ul << 16},
        {"fast.html", 8, 4, 20, 1, 0100644ul << 16}, {"best.html", 8, 2, 20, 1, 0100644ul << 16},
        {"best.bin", 0, 2, 10, 0, 0100644ul << 16},
    };
    struct stat st;
    ASSERT_EQ(stat("page.html", &st), 0);
    std::string when = decodeDos(zipDosTime(st.st_mtime));
    for (const Want& w : wants) {
        SCOPED_TRACE(w.name);
        const Info* i = l.find(w.name);
        ASSERT_NE(i, nullptr);
        EXPECT_EQ(i->method, w.method);
        EXPECT_EQ(i->flags, w.flags);
        EXPECT_EQ(i->createSystem, 3);
        EXPECT_EQ(i->createVersion, 20);
        EXPECT_EQ(i->extractVersion, w.extractVersion);
        EXPECT_EQ(i->internalAttr, w.internalAttr);
        EXPECT_EQ(i->externalAttr, w.attr);
        EXPECT_EQ(i->dateTime, when);
    }
    // The daemon's reader and extractor take every member.
    auto got = readerContents(archive);
    ASSERT_EQ(got.size(), all.size());
    EXPECT_EQ(got["page.html"], page);
    EXPECT_EQ(got["r.bin"], random);
    EXPECT_EQ(got["empty"], "");
    EXPECT_EQ(got["best.bin"], random.substr(0, 9000));
    EXPECT_EQ(unzipTest(archive), 0);
    std::string zi = capture("zipinfo -v " + quote(archive) + " 2>&1");
    EXPECT_NE(zi.find("file system or operating system of origin:      Unix"), std::string::npos) << zi;
}

TEST(ZipWrite, StepHookSeesEachStep) {
    static std::vector<std::string> seen;
    seen.clear();
    setZipStepHook([](ZipStep s, unsigned long n) {
        static const char* names[] = {"temp",   "copied",  "status",   "written",
                                      "synced", "renamed", "dirsynced"};
        seen.push_back(std::string(names[static_cast<int>(s)]) + std::to_string(n));
    });
    TempDir dir;
    const std::string archive = dir.file("lib.kvo");
    makeArchive(archive, {{"a", "1"}, {"b", "2"}, {"c", "3"}});
    auto zip = newZip(0);
    EXPECT_EQ(zip->deleteMembers(archive.c_str(), "b", false), 1);
    setZipStepHook(nullptr);
    std::vector<std::string> expected{"temp1",    "copied1", "status1",  "copied2",
                                      "written1", "synced1", "renamed1", "dirsynced1"};
    EXPECT_EQ(seen, expected);
}

// ---------------------------------------------------------------- old archives

void makeInfoZip(const TempDir& dir, const std::string& archive) {
    writeFile(dir.file("a.html"), text(6000));
    writeFile(dir.file("b.txt"), text(300, 4));
    writeFile(dir.file("c.bin"), randomBytes(3000));
    ASSERT_EQ(sh("cd " + quote(dir.path()) + " && zip -q " + quote(archive) + " a.html b.txt c.bin"), 0);
}

// Adds a new member to an old archive; the old entries must come through
// byte for byte.
void addKeepsOldEntries(const std::string& archive, const std::string& dirPath) {
    auto before = records(archive);
    ASSERT_FALSE(before.empty());
    const std::string file = dirPath + "/new.html";
    writeFile(file, text(5000, 8));
    auto zip = newZip(kZipJunkPaths);
    ASSERT_EQ(zip->putFile(ZIP_ACTION_ADD, archive.c_str(), file.c_str(), "new.html", false), 1)
        << zip->getError();
    auto after = records(archive);
    for (const auto& [name, rec] : before) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(after.count(name));
        EXPECT_EQ(after[name], rec);
    }
    EXPECT_TRUE(after.count("new.html"));
    expectValid(archive, {"new.html"});
    EXPECT_TRUE(temps(dirPath).empty());
}

TEST(ZipOldArchive, InfoZipWithExtras) {
    TempDir dir;
    const std::string archive = dir.file("old.zip");
    makeInfoZip(dir, archive);
    std::string z = capture("zipinfo -v " + quote(archive));
    ASSERT_NE(z.find("UT"), std::string::npos);
    addKeepsOldEntries(archive, dir.path());
    // A replaced entry drops its extra fields and is made by 788.
    writeFile(dir.file("a.html"), text(7000, 5));
    auto zip = newZip(kZipJunkPaths);
    ASSERT_EQ(zip->putFile(ZIP_ACTION_ADD, archive.c_str(), dir.file("a.html").c_str(), "a.html", false), 1);
    auto [local, central] = records(archive)["a.html"];
    ASSERT_GE(local.size(), 30u);
    EXPECT_EQ(local.substr(28, 2), std::string(2, '\0'));
    EXPECT_EQ(central.substr(30, 2), std::string(2, '\0'));
    EXPECT_EQ(central.substr(4, 2), std::string("\x14\x03", 2));
    expectValid(archive, {"a.html"});
}

TEST(ZipOldArchive, StreamedWithDescriptors) {
    TempDir dir;
    const std::string archive = dir.file("s.zip");
    writeFile(dir.file("a.html"), text(6000));
    writeFile(dir.file("b.txt"), text(200, 3));
    ASSERT_EQ(sh("cd " + quote(dir.path()) + " && zip -q - a.html b.txt | cat > s.zip"), 0);
    std::string d = readFile(archive);
    ASSERT_GT(d.size(), 30u);
    ASSERT_TRUE(d[6] & 8) << "fixture without a data descriptor";
    ASSERT_EQ(d.substr(14, 8), std::string(8, '\0')) << "local CRC and compressed size should be 0";
    addKeepsOldEntries(archive, dir.path());
    // Deleting the streamed entries leaves only the new one.
    auto zip = newZip(0);
    ASSERT_EQ(zip->deleteMembers(archive.c_str(), "[ab].*", false), 1) << zip->getError();
    EXPECT_EQ(list(archive).names(), std::vector<std::string>{"new.html"});
}

TEST(ZipOldArchive, Preamble) {
    TempDir dir;
    const std::string plain = dir.file("plain.zip");
    makeInfoZip(dir, plain);
    const std::string archive = dir.file("pre.zip");
    const std::string stub = "#!/bin/sh\necho self-extracting stub\nexit 0\n" + std::string(200, '#') + "\n";
    writeFile(archive, stub + readFile(plain));
    ASSERT_EQ(sh("zip -qA " + quote(archive)), 0);
    addKeepsOldEntries(archive, dir.path());
    EXPECT_EQ(readFile(archive).substr(0, stub.size()), stub);
    auto zip = newZip(0);
    ASSERT_EQ(zip->deleteMembers(archive.c_str(), "new.html", false), 1) << zip->getError();
    EXPECT_TRUE(hasMessage(
        *zip, "warning: " + archive + " has a preamble of " + std::to_string(stub.size()) + " bytes\n"));
}

TEST(ZipOldArchive, LongCommentIsKept) {
    TempDir dir;
    const std::string archive = dir.file("c.kvo");
    std::string comment = text(1000, 6);
    makeArchive(archive, {{"a.html", text(3000)}, {"b.html", text(100, 2), "", 0}}, comment);
    addKeepsOldEntries(archive, dir.path());
    EXPECT_EQ(list(archive).comment, comment);
}

// Damaged archives: never a crash, a change or a leftover temporary file.
TEST(ZipOldArchive, DamageIsRefused) {
    TempDir dir;
    const std::string good = dir.file("good.kvo");
    makeArchive(good, {{"a.html", text(3000)}, {"b.txt", text(500, 2), "note", 0}}, "comment");
    const std::string base = readFile(good);
    const size_t e = base.rfind(std::string("PK\x05\x06", 4));
    const size_t cd = static_cast<unsigned char>(base[e + 16]) | static_cast<unsigned char>(base[e + 17])
                                                                     << 8;
    const size_t cd2 = cd + 46 + 6;  // the second central header ("a.html" has no extra or comment)
    auto set16 = [](std::string& d, size_t at, unsigned v) {
        d[at] = static_cast<char>(v & 0xFF);
        d[at + 1] = static_cast<char>(v >> 8);
    };
    const std::string structure = "Zip file structure invalid (<path>)";
    const std::string unexpected = "Unexpected end of zip file (<path>)";
    struct Case {
        const char* name;
        std::function<void(std::string&)> damage;
        std::string error;
    } cases[] = {
        {"wrong end count", [&](std::string& d) { set16(d, e + 8, 3), set16(d, e + 10, 3); }, structure},
        {"local and central names differ", [&](std::string& d) { d[cd + 46] = 'X'; }, structure},
        {"wrong local offset", [&](std::string& d) { d[cd2 + 42] = static_cast<char>(d[cd2 + 42] + 1); },
         structure},
        {"wrong central start", [&](std::string& d) { d[e + 16] = static_cast<char>(d[e + 16] + 1); },
         structure},
        {"missing end record", [&](std::string& d) { d.resize(e); }, structure},
        {"not an archive", [&](std::string& d) { d = "just some text, no archive at all\n"; }, structure},
        {"extraneous central header", [&](std::string& d) { d.insert(e, d.substr(cd2, e - cd2)); },
         structure},
        {"descriptor missing",
         [&](std::string& d) {
             d[6] = static_cast<char>(d[6] | 8);
             d[cd + 8] = static_cast<char>(d[cd + 8] | 8);
         },
         structure},
        {"truncated in the data", [&](std::string& d) { d.resize(100); }, unexpected},
        {"local extra past the end", [&](std::string& d) { set16(d, 28, 0xFFFF); }, unexpected},
        {"compressed size past the end", [&](std::string& d) { set16(d, 20, 0x7FFF); }, unexpected},
        {"central comment past the end", [&](std::string& d) { set16(d, cd + 32, 0xFFFF); }, unexpected},
        {"archive comment past the end", [&](std::string& d) { set16(d, e + 20, 0xFFFF); }, unexpected},
        {"truncated end record", [&](std::string& d) { d.resize(e + 10); }, unexpected},
    };
    writeFile(dir.file("n.html"), "new");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string archive = dir.file("bad.kvo");
        std::string d = base;
        c.damage(d);
        writeFile(archive, d);
        ino_t ino = inode(archive);
        std::string expected = c.error;
        expected.replace(expected.find("<path>"), 6, archive);
        auto zip = newZip(kZipJunkPaths);
        EXPECT_EQ(zip->putFile(ZIP_ACTION_ADD, archive.c_str(), dir.file("n.html").c_str(), "n.html", false),
                  0);
        EXPECT_EQ(zip->getError(), expected);
        EXPECT_EQ(zip->deleteMembers(archive.c_str(), "a.html", false), 0);
        EXPECT_EQ(zip->getError(), expected);
        const char* argv[] = {archive.c_str(), "b.txt"};
        EXPECT_EQ(zip->zip(ZIP_ACTION_DELETE, 2, argv), 0);
        EXPECT_EQ(zip->getError(), expected);
        EXPECT_EQ(readFile(archive), d);
        EXPECT_EQ(inode(archive), ino);
        EXPECT_TRUE(temps(dir.path()).empty());
    }
}

// ---------------------------------------------------------------- failures

// Runs body in a child that is not root (uid 65534 when the tests run as
// root); false when that is impossible.
bool asNobody(const std::function<int()>& body, int* status) {
    *status = inChild([&] {
        if (!dropToNobody()) return 99;
        return body();
    });
    return *status != 99;
}

TEST(ZipFailure, ReadOnlyDirectory) {
    TempDir dir;
    const std::string sub = dir.file("ro");
    ASSERT_EQ(mkdir(sub.c_str(), 0755), 0);
    const std::string archive = sub + "/lib.kvo";
    makeArchive(archive, {{"a.html", text(2000)}});
    writeFile(dir.file("n.html"), "new");
    chmod(dir.path().c_str(), 0755);
    giveToNobody(dir.path());
    chmod(sub.c_str(), 0555);
    const std::string before = readFile(archive);
    ino_t ino = inode(archive);
    const std::string errFile = dir.file("err.txt");
    int status;
    bool ran = asNobody(
        [&] {
            auto zip = newZip(kZipJunkPaths);
            int r =
                zip->putFile(ZIP_ACTION_ADD, archive.c_str(), dir.file("n.html").c_str(), "n.html", false);
            std::string err = zip->getError();
            auto fresh = newZip(kZipJunkPaths);
            std::string newArchive = sub + "/new.kvo";
            int r2 = fresh->putFile(ZIP_ACTION_ADD, newArchive.c_str(), dir.file("n.html").c_str(), "n.html",
                                    false);
            FILE* f = fopen(errFile.c_str(), "w");
            if (f) {
                fprintf(f, "%s\n%s\n", err.c_str(), fresh->getError());
                fclose(f);
            }
            return r == 0 && r2 == 0 ? 0 : 1;
        },
        &status);
    chmod(sub.c_str(), 0755);
    if (!ran) GTEST_SKIP() << "cannot drop to an unprivileged user";
    EXPECT_EQ(status, 0);
    std::string errs = readFile(errFile);
    EXPECT_EQ(errs.rfind("Temporary file failure, Permission denied (", 0), 0u) << errs;
    EXPECT_NE(errs.find("\nCould not create output file, Permission denied (" + sub + "/new.kvo)\n"),
              std::string::npos)
        << errs;
    EXPECT_EQ(readFile(archive), before);
    EXPECT_EQ(inode(archive), ino);
    EXPECT_FALSE(exists(sub + "/new.kvo"));
    EXPECT_TRUE(temps(sub).empty());
}

TEST(ZipFailure, FileSizeLimit) {
    TempDir dir;
    const std::string archive = dir.file("lib.kvo");
    makeArchive(archive, {{"a.html", text(2000)}});
    writeFile(dir.file("big.bin"), randomBytes(300000));
    const std::string before = readFile(archive);
    ino_t ino = inode(archive);
    const std::string errFile = dir.file("err.txt");
    int status = inChild([&] {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit rl {
            100000, 100000
        };
        if (setrlimit(RLIMIT_FSIZE, &rl) != 0) return 2;
        auto zip = newZip(kZipJunkPaths);
        int r = zip->putFile(ZIP_ACTION_ADD, archive.c_str(), dir.file("big.bin").c_str(), "big.bin", false);
        FILE* f = fopen(errFile.c_str(), "w");
        if (f) {
            fprintf(f, "%s", zip->getError());
            fclose(f);
        }
        return r == 0 ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(readFile(errFile).rfind("Output file write failure, File too large (", 0), 0u)
        << readFile(errFile);
    EXPECT_EQ(readFile(archive), before);
    EXPECT_EQ(inode(archive), ino);
    EXPECT_TRUE(temps(dir.path()).empty());
}

std::string g_hookArchive;

TEST(ZipFailure, FailedRenameLeavesTheNewArchive) {
    TempDir dir;
    const std::string archive = dir.file("lib.kvo");
    g_hookArchive = archive;
    makeArchive(archive, {{"a.html", text(2000)}, {"b.html", text(500, 2)}});
    // Just before the rename a directory takes the archive's place.
    setZipStepHook([](ZipStep s, unsigned long) {
        if (s != ZipStep::Synced) return;
        rename(g_hookArchive.c_str(), (g_hookArchive + ".moved").c_str());
        mkdir(g_hookArchive.c_str(), 0755);
        writeFile(g_hookArchive + "/x", "x");
    });
    auto zip = newZip(0);
    EXPECT_EQ(zip->deleteMembers(archive.c_str(), "a.html", false), 0);
    setZipStepHook(nullptr);
    EXPECT_EQ(zip->getError(),
              std::string("Could not create output file, Is a directory (was replacing the original "
                          "zip file)"));
    auto left = temps(dir.path());
    ASSERT_EQ(left.size(), 1u);
    EXPECT_TRUE(hasMessage(*zip, "warning: new zip file left as: " + dir.file(left[0]) + "\n"));
    EXPECT_EQ(list(dir.file(left[0])).names(), std::vector<std::string>{"b.html"});
    EXPECT_EQ(unzipTest(dir.file(left[0])), 0);
}

TEST(ZipFailure, TempDirOnAnotherFileSystem) {
    TempDir dir;
    TempDir other("/dev/shm");
    struct stat a, b;
    if (!other.ok() || stat(dir.path().c_str(), &a) != 0 || stat(other.path().c_str(), &b) != 0 ||
        a.st_dev == b.st_dev)
        GTEST_SKIP() << "no second file system for -b";
    CwdGuard cwd(dir.path());
    const std::string archive = dir.file("lib.kvo");
    makeArchive(archive, {{"a.html", text(2000)}});
    chmod(archive.c_str(), 0640);
    writeFile("n.html", text(3000, 3));
    auto zip = newZip(kZipJunkPaths);
    const char* argv[] = {"-b", other.path().c_str(), archive.c_str(), "n.html"};
    ASSERT_EQ(zip->zip(ZIP_ACTION_ADD, 4, argv), 1) << zip->getError();
    EXPECT_EQ(list(archive).names(), (std::vector<std::string>{"a.html", "n.html"}));
    expectValid(archive, {"n.html"});
    EXPECT_TRUE(temps(dir.path()).empty());
    EXPECT_TRUE(temps(other.path()).empty());
    struct stat st;
    ASSERT_EQ(stat(archive.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(ZipFailure, UnreadableSource) {
    TempDir dir;
    const std::string archive = dir.file("lib.kvo");
    makeArchive(archive, {{"a.html", text(2000)}, {"b.html", text(700, 2)}});
    writeFile(dir.file("b.html"), "new b");
    writeFile(dir.file("n.html"), "new n");
    chmod(dir.path().c_str(), 0755);
    giveToNobody(dir.path());
    chmod(dir.file("b.html").c_str(), 0);
    chmod(dir.file("n.html").c_str(), 0);
    const auto before = records(archive);
    const ino_t ino = inode(archive);
    const std::string errFile = dir.file("err.txt");
    const std::string newArchive = dir.file("new.kvo");
    int status;
    bool ran = asNobody(
        [&] {
            if (chdir(dir.path().c_str()) != 0) return 2;
            auto zip = newZip(kZipJunkPaths);
            const char* argv[] = {archive.c_str(), "b.html"};
            int r = zip->zip(ZIP_ACTION_ADD, 2, argv);
            std::string e1 = zip->getError();
            auto fresh = newZip(kZipJunkPaths);
            int r2 = fresh->putFile(ZIP_ACTION_ADD, newArchive.c_str(), dir.file("n.html").c_str(), "n.html",
                                    false);
            FILE* f = fopen(errFile.c_str(), "w");
            if (f) {
                fprintf(f, "%s\n%s\n", e1.c_str(), fresh->getError());
                fclose(f);
            }
            return r == 0 && r2 == 0 ? 0 : 1;
        },
        &status);
    if (!ran) GTEST_SKIP() << "cannot drop to an unprivileged user";
    EXPECT_EQ(status, 0);
    EXPECT_EQ(readFile(errFile),
              "warn: Could not open b.html for reading, will copy over b.html\n"
              "warn: Could not open " +
                  dir.file("n.html") + " for reading\n");
    EXPECT_EQ(records(archive), before);
    EXPECT_NE(inode(archive), ino);
    expectValid(archive);
    EXPECT_EQ(readFile(newArchive), std::string("PK\x05\x06", 4) + std::string(18, '\0'));
    EXPECT_TRUE(temps(dir.path()).empty());
}

// ---------------------------------------------------------------- replace

TEST(ZipReplace, ModeAndOwnerAreKept) {
    TempDir dir;
    const std::string archive = dir.file("lib.kvo");
    makeArchive(archive, {{"a.html", text(2000)}});
    chmod(archive.c_str(), 0640);
    bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(chown(archive.c_str(), 65534, 65534), 0);
    }
    setMtime(archive, 978307200);  // 2001
    writeFile(dir.file("n.html"), "n");
    time_t start = time(nullptr);
    auto zip = newZip(0);
    ASSERT_EQ(zip->putFile(ZIP_ACTION_ADD, archive.c_str(), dir.file("n.html").c_str(), "n.html", false), 1)
        << zip->getError();
    struct stat st;
    ASSERT_EQ(stat(archive.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    if (root) {
        EXPECT_EQ(st.st_uid, 65534u);
        EXPECT_EQ(st.st_gid, 65534u);
    }
    EXPECT_GE(st.st_mtime, start - 1);  // the time of the write, never restored
}

TEST(ZipReplace, NewArchiveTakesTheUmask) {
    TempDir dir;
    writeFile(dir.file("n.html"), "n");
    mode_t old = umask(027);
    auto zip = newZip(0);
    int r = zip->putFile(ZIP_ACTION_ADD, dir.file("lib.kvo").c_str(), dir.file("n.html").c_str(), "n.html",
                         false);
    umask(old);
    ASSERT_EQ(r, 1) << zip->getError();
    struct stat st;
    ASSERT_EQ(stat(dir.file("lib.kvo").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

// fchown refused (a group the user is not in): the update still succeeds.
TEST(ZipReplace, RefusedChownIsIgnored) {
    TempDir dir;
    const std::string archive = dir.file("lib.kvo");
    makeArchive(archive, {{"a.html", text(2000)}});
    writeFile(dir.file("n.html"), "n");
    chmod(dir.path().c_str(), 0755);
    giveToNobody(dir.path());
    if (geteuid() == 0) {
        ASSERT_EQ(chown(archive.c_str(), 65534, 0), 0);
    }
    chmod(archive.c_str(), 0664);
    int status;
    bool ran = asNobody(
        [&] {
            auto zip = newZip(0);
            return zip->putFile(ZIP_ACTION_ADD, archive.c_str(), dir.file("n.html").c_str(), "n.html",
                                false) == 1
                       ? 0
                       : 1;
        },
        &status);
    if (!ran) GTEST_SKIP() << "cannot drop to an unprivileged user";
    EXPECT_EQ(status, 0);
    struct stat st;
    ASSERT_EQ(stat(archive.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0664u);
    EXPECT_EQ(list(archive).names(), (std::vector<std::string>{"a.html", "n.html"}));
}

TEST(ZipReplace, SymlinkStaysALink) {
    TempDir dir;
    ASSERT_EQ(mkdir(dir.file("real").c_str(), 0755), 0);
    const std::string target = dir.file("real/lib.kvo");
    makeArchive(target, {{"a.html", text(2000)}});
    const std::string link = dir.file("link.kvo");
    ASSERT_EQ(symlink("real/lib.kvo", link.c_str()), 0);
    writeFile(dir.file("n.html"), "n");
    auto zip = newZip(0);
    ASSERT_EQ(zip->putFile(ZIP_ACTION_ADD, link.c_str(), dir.file("n.html").c_str(), "n.html", false), 1)
        << zip->getError();
    struct stat st;
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(list(target).names(), (std::vector<std::string>{"a.html", "n.html"}));
    EXPECT_TRUE(temps(dir.path()).empty());
    EXPECT_TRUE(temps(dir.file("real")).empty());
}

TEST(ZipReplace, HardLinksAreRefused) {
    TempDir dir;
    const std::string archive = dir.file("lib.kvo");
    makeArchive(archive, {{"a.html", text(2000)}});
    ASSERT_EQ(link(archive.c_str(), dir.file("other.kvo").c_str()), 0);
    writeFile(dir.file("n.html"), "n");
    const std::string before = readFile(archive);
    ino_t ino = inode(archive);
    auto zip = newZip(0);
    EXPECT_EQ(zip->putFile(ZIP_ACTION_ADD, archive.c_str(), dir.file("n.html").c_str(), "n.html", false), 0);
    EXPECT_EQ(zip->getError(), "Could not create output file, Too many links (" + archive + ")");
    EXPECT_EQ(readFile(archive), before);
    EXPECT_EQ(inode(archive), ino);
    EXPECT_TRUE(temps(dir.path()).empty());
}

// A complete archive in memory: every member inflates to its CRC. The
// reader's view of "not torn".
bool completeArchive(const std::string& d) {
    size_t e = d.rfind(std::string("PK\x05\x06", 4));
    if (e == std::string::npos || e + 22 != d.size()) return false;  // no comment here
    auto u16 = [&d](size_t at) {
        return unsigned((unsigned char)d[at]) | unsigned((unsigned char)d[at + 1]) << 8;
    };
    auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
    size_t n = u16(e + 10), p = u32(e + 16);
    for (size_t k = 0; k < n; ++k) {
        if (p + 46 > e || d.compare(p, 4, "PK\x01\x02", 4) != 0) return false;
        size_t lo = u32(p + 42);
        if (lo + 30 > d.size() || d.compare(lo, 4, "PK\x03\x04", 4) != 0) return false;
        unsigned method = u16(lo + 8), crc = u32(lo + 14), cs = u32(lo + 18), us = u32(lo + 22);
        size_t data = lo + 30 + u16(lo + 26) + u16(lo + 28);
        if (data + cs > d.size()) return false;
        std::string out(us, '\0');
        if (method == 0) {
            if (cs != us) return false;
            out = d.substr(data, cs);
        } else {
            z_stream z{};
            if (inflateInit2(&z, -15) != Z_OK) return false;
            z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(d.data() + data));
            z.avail_in = cs;
            z.next_out = reinterpret_cast<Bytef*>(out.data());
            z.avail_out = us;
            int r = inflate(&z, Z_FINISH);
            inflateEnd(&z);
            if (r != Z_STREAM_END || z.avail_out != 0) return false;
        }
        if (crc32Update(0xFFFFFFFFu, reinterpret_cast<const unsigned char*>(out.data()), out.size()) !=
            (crc ^ 0xFFFFFFFFu))
            return false;
        p += 46 + u16(p + 28) + u16(p + 30) + u16(p + 32);
    }
    return true;
}

TEST(ZipReplace, ConcurrentReaderNeverSeesATornArchive) {
    TempDir dir;
    const std::string archive = dir.file("lib.kvo");
    const std::string stop = dir.file("stop");
    makeArchive(archive, {{"a.html", text(20000)}, {"b.bin", randomBytes(5000), "", 0}});
    std::fflush(nullptr);
    pid_t reader = fork();
    ASSERT_GE(reader, 0);
    if (reader == 0) {
        // open -> fstat -> read everything through that descriptor.
        long rounds = 0;
        for (;;) {
            bool last = access(stop.c_str(), F_OK) == 0;
            int fd = open(archive.c_str(), O_RDONLY);
            if (fd < 0) _exit(2);
            struct stat st;
            if (fstat(fd, &st) != 0) _exit(3);
            std::string d(static_cast<size_t>(st.st_size), '\0');
            if (pread(fd, d.data(), d.size(), 0) != st.st_size) _exit(4);
            close(fd);
            if (!completeArchive(d)) _exit(5);
            ++rounds;
            if (last) _exit(rounds > 1 ? 0 : 6);
        }
    }
    const std::string file = dir.file("n.html");
    auto zip = newZip(0);
    int failures = 0;
    for (int i = 0; i < 200; ++i) {
        writeFile(file, text(1000 + 37 * i, i));
        if (zip->putFile(ZIP_ACTION_ADD, archive.c_str(), file.c_str(), "n.html", false) != 1) ++failures;
    }
    writeFile(stop, "");
    int status = 0;
    ASSERT_EQ(waitpid(reader, &status, 0), reader);
    EXPECT_EQ(failures, 0) << zip->getError();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "2 ENOENT, 5 torn archive";
    expectValid(archive);
}

// ---------------------------------------------------------------- limits

// 65535 empty stored entries, written directly.
void make65535(const std::string& path) {
    test::ZipArchive full;
    char name[16];
    for (int i = 0; i < 65535; ++i) {
        std::snprintf(name, sizeof name, "%05d", i);
        full.members.push_back({.name = name,
                                .versionNeeded = 10,
                                .versionMadeBy = 0x0314,
                                .dosDate = 0x5021,
                                .externalAttributes = 0100644u << 16});
    }
    test::writeZip(path, full);
}

TEST(ZipLimits, AddingTo65535EntriesIsRefused) {
    TempDir dir;
    const std::string archive = dir.file("full.kvo");
    make65535(archive);
    writeFile(dir.file("n.html"), "n");
    const std::string before = readFile(archive);
    ino_t ino = inode(archive);
    auto zip = newZip(0);
    EXPECT_EQ(zip->putFile(ZIP_ACTION_ADD, archive.c_str(), dir.file("n.html").c_str(), "n.html", false), 0);
    EXPECT_EQ(zip->getError(), "Entry too big to split (" + archive + ")");
    bool named = false;
    for (const std::string& m : messages(*zip)) named = named || m.find("65535") != std::string::npos;
    EXPECT_TRUE(named);
    EXPECT_EQ(readFile(archive), before);
    EXPECT_EQ(inode(archive), ino);
    EXPECT_TRUE(temps(dir.path()).empty());
}

TEST(ZipLimits, Replacing1Of65535EntriesWorks) {
    TempDir dir;
    const std::string archive = dir.file("full.kvo");
    make65535(archive);
    writeFile(dir.file("n"), "new content");
    auto zip = newZip(0);
    ASSERT_EQ(zip->putFile(ZIP_ACTION_ADD, archive.c_str(), dir.file("n").c_str(), "30000", false), 1)
        << zip->getError();
    EXPECT_EQ(unzipTest(archive), 0);
    EXPECT_EQ(walk(archive, {"30000"}), "OK\n");
    EXPECT_EQ(capture("unzip -p " + quote(archive) + " 30000"), "new content");
}

}  // namespace
}  // namespace ruva

// Crash safety of the rewrite: a child rewriting a library is killed at each
// step of the run (stopped there by the step hook first, so the parent sees
// exactly that moment) and at delays spread over a measured run. After every
// kill the library is whole, old or new, nothing the scanner would catalogue
// is left beside it, and the next run succeeds.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/html_corpus.h"
#include "bmod/unzipd/zip/folder_index.h"
#include "bmod/unzipd/zip/unzip.h"
#include "bmod/unzipd/zip/zip_reader.h"
#include "bmod/unzipd/zip/zip_name_match.h"
#include "bmod/unzipd/zip/zip_rewrite.h"
#include "common/mapped_file.h"
#include "common/patterns.h"
#include "common/sysv_lock.h"
#include "tests/bmod/unzipd/zip/zip_write_fixture.h"

namespace ruva {
namespace {

using namespace test::zw;
using test::TempDir;

constexpr time_t kSourceTime = 1600000000;  // 2020-09-13, every source file
constexpr size_t kHtmlSize = 200000;        // 20 pages, about 1.4 MB deflated
constexpr size_t kBinSize = 1150000;        // 20 random files, stored: 24 MB in all
constexpr size_t kReplacementSize = 4 << 20;
constexpr int kMembers = 40;
constexpr int kFolderPages = 4;
const int kNewLibraryMembers[] = {12, 13, 2, 25, 14, 27};  // in the new library's order

// The scanner's default include patterns, matched against the whole path.
const char* const kIncludePatterns[] = {"*.[kK][vV][oO]", "*.[aA][nN][xX]", "*.khx", "*.ers"};

bool catalogued(const std::string& path) {
    for (const char* pattern : kIncludePatterns)
        if (matchPattern(pattern, path.c_str(), 0) || matchPattern(pattern, path.c_str(), 1)) return true;
    return false;
}

void quietWarn(void*, int, const char*, ...) {}

// n incompressible bytes (splitmix64) written to path through one small
// buffer: 23 MB of them are made per test program. *keep gets a copy.
void writeRandom(const std::string& path, size_t n, uint64_t seed, std::string* keep) {
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    char buf[65536];
    for (size_t done = 0; done < n;) {
        size_t len = std::min(sizeof buf, n - done);
        for (size_t i = 0; i < len; i += 8) {
            uint64_t z = (seed += 0x9E3779B97F4A7C15ull);
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
            z ^= z >> 31;
            memcpy(buf + i, &z, std::min<size_t>(8, len - i));
        }
        EXPECT_EQ(fwrite(buf, 1, len, f), len);
        if (keep) keep->append(buf, len);
        done += len;
    }
    fclose(f);
}

// A file mapped for the checks (the libraries here are 24 MB and looked at
// after every kill); an empty view when it cannot be mapped.
class Mapped {
public:
    explicit Mapped(const std::string& path) {
        if (!mapFile(path.c_str(), &data_, &size_)) data_ = nullptr;
    }
    ~Mapped() { unmapFile(&data_, &size_); }
    Mapped(const Mapped&) = delete;
    Mapped& operator=(const Mapped&) = delete;
    std::string_view view() const { return {data_, size_}; }

private:
    char* data_ = nullptr;
    size_t size_ = 0;
};

// What the file holds, in short: enough to see that nothing changed it.
size_t fingerprint(const std::string& path) {
    Mapped m(path);
    return std::hash<std::string_view>{}(m.view()) ^ m.view().size();
}

void copyLibrary(const std::string& from, const std::string& to) {
    std::error_code ec;
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, ec);
    EXPECT_FALSE(ec) << ec.message();
}

// A member's bytes in an archive: its local record (header, data and any
// descriptor, up to the next record) and its central header around the
// local offset field (bytes 42-45), which moves when members before it do.
struct MemberBytes {
    std::string_view local, centralHead, centralTrailer;
    bool operator==(const MemberBytes&) const = default;
};

// The members of an archive in memory, by name; views into d. Empty when
// the end record is missing or a record lies outside d.
std::map<std::string, MemberBytes> memberBytes(std::string_view d) {
    std::map<std::string, MemberBytes> out;
    size_t e = d.rfind(std::string_view("PK\x05\x06", 4));
    if (e == std::string_view::npos || d.size() - e < 22) return out;
    auto u16 = [&d](size_t at) -> size_t {
        return at + 2 <= d.size() ? (unsigned char)d[at] | (unsigned char)d[at + 1] << 8 : 0;
    };
    auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
    size_t count = u16(e + 10), cenStart = u32(e + 16);
    std::vector<std::pair<size_t, size_t>> byOffset;  // local offset, central header
    for (size_t k = 0, p = cenStart; k < count && p + 46 <= d.size(); ++k) {
        byOffset.emplace_back(u32(p + 42), p);
        p += 46 + u16(p + 28) + u16(p + 30) + u16(p + 32);
    }
    std::sort(byOffset.begin(), byOffset.end());
    for (size_t k = 0; k < byOffset.size(); ++k) {
        auto [local, p] = byOffset[k];
        size_t end = k + 1 < byOffset.size() ? byOffset[k + 1].first : cenStart;
        size_t trailer = u16(p + 28) + u16(p + 30) + u16(p + 32);
        if (local > end || end > d.size() || p + 46 + trailer > d.size()) return {};
        out[std::string(d.substr(p + 46, u16(p + 28)))] = {d.substr(local, end - local), d.substr(p, 42),
                                                           d.substr(p + 46, trailer)};
    }
    return out;
}

// Member i of the library: even members are pages (the first four folder
// pages "h000k_k.html", then documents "dNN.html"), odd ones random data
// "rNN.bin"; so the middle member (20) is a deflated page between two
// stored ones.
bool isFolderPage(int i) {
    return i % 2 == 0 && i < 2 * kFolderPages;
}

std::string memberName(int i) {
    char name[32];
    if (isFolderPage(i))
        snprintf(name, sizeof name, "h%04d_%d.html", i / 2 + 1, i / 2 + 1);
    else
        snprintf(name, sizeof name, i % 2 == 0 ? "d%02d.html" : "r%02d.bin", i);
    return name;
}

// Folder page k lists every member j (not a page) with j % kFolderPages ==
// k - 1, so each member gets a folder in the index run.
int folderOf(int i) {
    return isFolderPage(i) ? i / 2 + 1 : i % kFolderPages + 1;
}

bool inNewLibrary(int i) {
    return std::find(std::begin(kNewLibraryMembers), std::end(kNewLibraryMembers), i) !=
           std::end(kNewLibraryMembers);
}

// The source files, the 24 MB library Info-ZIP made of them, and the files
// the runs add. Made once per test program; every case works on a copy.
struct Library {
    TempDir root;
    std::string src;  // the source files
    std::string archive;
    std::unique_ptr<Mapped> bytes;
    std::vector<std::string> names;               // in directory order
    std::map<std::string, std::string> contents;  // of the new library's members
    std::string indexText;                        // what the index run's "folderindex.txt" holds
};

const Library& library() {
    static Library lib;
    static bool made = false;
    if (made) return lib;
    made = true;
    TzGuard tz("UTC");
    lib.src = lib.root.file("src");
    mkdir(lib.src.c_str(), 0755);
    std::string list;
    for (int i = 0; i < kMembers; ++i) {
        std::string name = memberName(i);
        std::string data;
        if (i % 2 == 1) {
            writeRandom(lib.src + "/" + name, kBinSize, 100 + i, inNewLibrary(i) ? &data : nullptr);
        } else {
            data = bench::htmlPage(1000 + i, kHtmlSize);
            if (isFolderPage(i)) {
                data += "\n<TABLE>\n";
                for (int j = 0; j < kMembers; ++j)
                    if (!isFolderPage(j) && folderOf(j) == folderOf(i))
                        data += "<TR><TD valign=top nowrap><A HREF=\"/doc?FN=" + memberName(j) + "\">" +
                                memberName(j) + "</A></TD></TR>\n";
                data += "</TABLE>\n";
            }
            writeFile(lib.src + "/" + name, data);
        }
        setMtime(lib.src + "/" + name, kSourceTime);
        lib.names.push_back(name);
        lib.indexText += "FolderID:" + std::to_string(folderOf(i)) + "|File:" + name + "|\n";
        list += " " + name;
        if (inNewLibrary(i)) lib.contents[name] = std::move(data);
    }
    writeFile(lib.src + "/next.txt", "the next run\n");
    lib.archive = lib.root.file("lib.kvo");
    EXPECT_EQ(sh("cd " + quote(lib.src) + " && zip -qX -n .bin " + quote(lib.archive) + list), 0);
    lib.bytes = std::make_unique<Mapped>(lib.archive);
    return lib;
}

// The 4 MB page that replaces "d20.html", as "new20.html" beside the
// sources; made on first use.
const std::string& replacementPage() {
    static std::string page;
    if (page.empty()) {
        page = bench::htmlPage(77, kReplacementSize);
        writeFile(library().src + "/new20.html", page);
        setMtime(library().src + "/new20.html", kSourceTime + 3600);
    }
    return page;
}

enum class State { Missing, Old, New, Broken };

const char* stateName(State s) {
    static const char* names[] = {"missing", "old", "new", "broken"};
    return names[static_cast<int>(s)];
}

// An index run's process-wide settings: the folder index installed, its own
// update mutex key, a quiet log. Put back (and the semaphore set removed)
// when the run goes.
struct IndexSettings {
    explicit IndexSettings(key_t k) : key(k) {
        installFolderIndex();
        setZipUpdateMutexKey(key);
        setUnzipLogSink([](void*, int, const char*) {}, nullptr);
    }
    ~IndexSettings() {
        setFolderIndexHooks(nullptr);
        setUnzipLogSink(nullptr, nullptr);
        if (std::unique_ptr<Mutex> m = newMutex(key, 0)) m->del();
        setZipUpdateMutexKey(kDefaultZipUpdateMutexKey);
    }
    IndexSettings(const IndexSettings&) = delete;
    IndexSettings& operator=(const IndexSettings&) = delete;
    key_t key;
};

// One kind of run on a fresh copy of the library.
struct CrashRun {
    std::shared_ptr<TempDir> work;
    std::shared_ptr<IndexSettings> index;  // index runs only
    std::string dir;                       // the library's directory, holding nothing else
    std::string path;                      // the library
    bool existed = true;
    std::string_view oldBytes;  // the library's, which outlives every run
    std::vector<std::string> oldNames, newNames;
    std::set<std::string> kept;                // members the run copies unchanged
    std::map<std::string, std::string> fresh;  // members it writes anew
    std::function<int()> op;                   // 1 on success
    // The first new archive found sound; the same bytes again need no
    // second look (the index run's differ in the new member's time).
    mutable std::string newBytes;
};

// The members as the daemon's reader lists them; false when it refuses the
// archive.
bool readerNames(const std::string& path, std::vector<std::string>* names) {
    ZipStructure* zs = newZipStructure(nullptr, path.c_str(), 0, nullptr, quietWarn);
    if (!zs) return false;
    for (CentralHeader* ch = zs->getFirstCentralHeader(); ch; ch = ZipStructure::getNextCentralHeader(ch))
        names->push_back(ch->fname);
    zs->del();
    return true;
}

// Whether the daemon's reader and extractor give these contents.
std::string readerMismatch(const std::string& path, const std::map<std::string, std::string>& expected) {
    ZipStructure* zs = newZipStructure(nullptr, path.c_str(), 0, nullptr, quietWarn);
    if (!zs) return "reader refuses the archive";
    std::string why;
    auto uz = newUnzip(0);
    for (const auto& [name, data] : expected) {
        CentralHeader* ch = zs->findCentralHeader(name.c_str(), nullptr);
        if (!ch || uz->unzip(zs, ch, -1, -1) != 1) {
            why = name + " cannot be extracted";
            break;
        }
        if (std::string(reinterpret_cast<char*>(uz->buf), uz->bufwritten) != data) {
            why = name + " differs";
            break;
        }
    }
    uz.reset();
    zs->del();
    return why;
}

// What the path holds: the old bytes, or a sound archive of the new members
// with the kept ones byte-identical.
State classify(const CrashRun& r, std::string* why) {
    if (!exists(r.path)) return State::Missing;
    Mapped file(r.path);
    std::string_view bytes = file.view();
    if (r.existed && bytes == r.oldBytes) return State::Old;
    if (!r.newBytes.empty() && bytes == r.newBytes) return State::New;
    std::vector<std::string> names;
    if (unzipTest(r.path) != 0) {
        *why = "unzip -tqq fails";
        return State::Broken;
    }
    if (!readerNames(r.path, &names)) {
        *why = "newZipStructure refuses it";
        return State::Broken;
    }
    if (names != r.newNames) {
        *why = "members are neither the old nor the new set";
        return State::Broken;
    }
    auto now = memberBytes(bytes), old = memberBytes(r.oldBytes);
    for (const std::string& name : r.kept) {
        if (!now.count(name) || !old.count(name) || !(now[name] == old[name])) {
            *why = "kept member " + name + " changed";
            return State::Broken;
        }
    }
    *why = readerMismatch(r.path, r.fresh);
    if (!why->empty()) return State::Broken;
    std::vector<std::string> freshNames;
    for (const auto& f : r.fresh) freshNames.push_back(f.first);
    *why = walk(r.path, freshNames);
    if (*why != "OK\n") return State::Broken;
    why->clear();
    r.newBytes = bytes;
    return State::New;
}

// Every entry under dir but the libraries: a "_Z" temporary file or a
// "._upd." folder (with what it holds), none of them catalogued.
void expectNothingCatalogued(const std::string& dir, const std::set<std::string>& libraries,
                             const std::string& top = "") {
    DIR* d = opendir(dir.c_str());
    ASSERT_NE(d, nullptr) << dir;
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        std::string path = dir + "/" + name;
        if (libraries.count(path)) {
            EXPECT_TRUE(catalogued(path)) << path;
            continue;
        }
        std::string first = top.empty() ? name : top;
        EXPECT_TRUE(first.rfind("_Z", 0) == 0 || first.rfind("._upd.", 0) == 0) << path;
        EXPECT_FALSE(catalogued(path)) << path;
        struct stat st;
        if (lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            expectNothingCatalogued(path, libraries, first);
    }
    closedir(d);
}

// Names and sizes of everything under dir.
std::map<std::string, off_t> listing(const std::string& dir) {
    std::map<std::string, off_t> out;
    DIR* d = opendir(dir.c_str());
    if (!d) return out;
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        std::string path = dir + "/" + name;
        struct stat st;
        if (lstat(path.c_str(), &st) != 0) continue;
        out[path] = S_ISDIR(st.st_mode) ? -1 : st.st_size;
        if (S_ISDIR(st.st_mode))
            for (auto& [p, size] : listing(path)) out[p] = size;
    }
    closedir(d);
    return out;
}

// The checks after a kill: the library is one of the allowed states and
// sound, and nothing else there would be catalogued. The state seen.
State expectWhole(const CrashRun& r, std::set<State> allowed) {
    std::string why;
    State s = classify(r, &why);
    EXPECT_TRUE(allowed.count(s)) << "the library is " << stateName(s) << (why.empty() ? "" : ": ") << why;
    if (s == State::Old) {
        std::vector<std::string> names;
        EXPECT_TRUE(readerNames(r.path, &names));
        EXPECT_EQ(names, r.oldNames);
    }
    expectNothingCatalogued(r.dir, {r.path});
    return s;
}

// After a kill: a run from the state left behind succeeds. From the old
// state (or none) the same run makes the new library; from the new one a
// small addition goes through.
void expectNextRunSucceeds(const CrashRun& r, State s) {
    if (s == State::Old || s == State::Missing) {
        EXPECT_EQ(r.op(), 1);
        std::string why;
        EXPECT_EQ(classify(r, &why), State::New) << why;
    } else if (s == State::New) {
        auto zip = newZip(0);
        std::string next = library().src + "/next.txt";
        EXPECT_EQ(zip->putFile(ZIP_ACTION_ADD, r.path.c_str(), next.c_str(), "next.txt", false), 1)
            << zip->getError();
        EXPECT_EQ(unzipTest(r.path), 0);
        std::vector<std::string> names, expected = r.newNames;
        expected.push_back("next.txt");
        EXPECT_TRUE(readerNames(r.path, &names));
        EXPECT_EQ(names, expected);
    }
    expectNothingCatalogued(r.dir, {r.path});
}

// ---------------------------------------------------------------- runs

enum class Kind { Replace, Delete, NewLibrary, Index };

// A directory of its own for the library; a copy of it unless the run makes
// a new one.
CrashRun startRun(const char* name, bool copy) {
    const Library& lib = library();
    CrashRun r;
    r.work = std::make_shared<TempDir>();
    r.dir = r.work->file("lib");
    mkdir(r.dir.c_str(), 0755);
    r.path = r.dir + "/" + name;
    r.existed = copy;
    if (copy) {
        copyLibrary(lib.archive, r.path);
        r.oldBytes = lib.bytes->view();
        r.oldNames = lib.names;
    }
    return r;
}

// "d20.html", the middle member, replaced by a 4 MB page.
CrashRun replaceRun() {
    CrashRun r = startRun("lib.kvo", true);
    r.newNames = r.oldNames;
    for (const std::string& n : r.oldNames)
        if (n != "d20.html") r.kept.insert(n);
    r.fresh["d20.html"] = replacementPage();
    std::string path = r.path, file = library().src + "/new20.html";
    r.op = [path, file] {
        auto zip = newZip(0);
        return zip->putFile(ZIP_ACTION_ADD, path.c_str(), file.c_str(), "d20.html", false);
    };
    return r;
}

// Five stored members deleted by a pattern ("r11.bin" to "r19.bin").
CrashRun deleteRun() {
    CrashRun r = startRun("lib.kvo", true);
    for (const std::string& n : r.oldNames) {
        if (zipNameMatch("r1?.bin", n, false)) continue;
        r.newNames.push_back(n);
        r.kept.insert(n);
    }
    std::string path = r.path;
    r.op = [path] {
        auto zip = newZip(0);
        return zip->deleteMembers(path.c_str(), "r1?.bin", false);
    };
    return r;
}

// A new library of six source files.
CrashRun newLibraryRun() {
    const Library& lib = library();
    CrashRun r = startRun("new.kvo", false);
    std::vector<std::string> files;
    for (int i : kNewLibraryMembers) {
        std::string name = memberName(i);
        r.newNames.push_back(name);
        r.fresh[name] = lib.contents.at(name);
        files.push_back(lib.src + "/" + name);
    }
    std::string path = r.path;
    r.op = [path, files] {
        std::vector<const char*> argv{path.c_str()};
        for (const std::string& f : files) argv.push_back(f.c_str());
        auto zip = newZip(kZipJunkPaths);
        return zip->zip(ZIP_ACTION_ADD, static_cast<int>(argv.size()), argv.data());
    };
    return r;
}

// The daemon's index-builder opening of the library: its folder numbers
// written to "folderindex.txt" and added through addIndexfile, under the
// update mutex of the given port.
CrashRun indexRun(int port) {
    CrashRun r = startRun("lib.kvo", true);
    r.index = std::make_shared<IndexSettings>(kZipUpdateMutexKeyBase + port);
    r.newNames = r.oldNames;
    r.newNames.push_back("folderindex.txt");
    r.kept.insert(r.oldNames.begin(), r.oldNames.end());
    r.fresh["folderindex.txt"] = library().indexText;
    std::string path = r.path;
    r.op = [path] {
        ZipStructure* zs = newZipStructure(nullptr, path.c_str(), kZipIndexBuilder, nullptr, quietWarn);
        if (!zs) return 0;
        zs->del();
        return 1;
    };
    return r;
}

CrashRun makeRun(Kind kind, int port) {
    switch (kind) {
        case Kind::Replace:
            return replaceRun();
        case Kind::Delete:
            return deleteRun();
        case Kind::NewLibrary:
            return newLibraryRun();
        case Kind::Index:
            break;
    }
    return indexRun(port);
}

// After a kill, SEM_UNDO gave the update mutex back: it is free at once.
void expectMutexFree(const CrashRun& r) {
    if (!r.index) return;
    std::unique_ptr<Mutex> m = newMutex(r.index->key, 0);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->lock(1), 1);
    m->unlock();
}

// ---------------------------------------------------------------- stop and kill

struct StopPoint {
    ZipStep step;
    unsigned long count;
};

StopPoint g_stop;

void stopHook(ZipStep step, unsigned long count) {
    if (step == g_stop.step && count == g_stop.count) raise(SIGSTOP);
}

// A child that is killed and reaped when a check returns early, so that no
// stopped run outlives the case.
struct Child {
    pid_t pid = -1;
    ~Child() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    // Kills and reaps it; its wait status.
    int kill9() {
        int status = 0;
        ::kill(pid, SIGKILL);
        EXPECT_EQ(waitpid(pid, &status, 0), pid);
        pid = -1;
        return status;
    }
};

// Runs r in a child that stops at the point; the parent checks, kills,
// reaps, checks again and runs once more.
void stopAndKill(const CrashRun& r, StopPoint point) {
    g_stop = point;
    Child child;
    child.pid = fork();
    ASSERT_GE(child.pid, 0);
    if (child.pid == 0) {
        setZipStepHook(stopHook);
        _exit(r.op() == 1 ? 0 : 3);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child.pid, &status, WUNTRACED), child.pid);
    if (!WIFSTOPPED(status)) {
        child.pid = -1;
        ADD_FAILURE() << "the run ended (status " << status << ") before the step";
        return;
    }
    // Up to the rename the old library (or none) is in place, from there on
    // the new one.
    bool renamed = point.step == ZipStep::Renamed || point.step == ZipStep::DirSynced;
    State before = r.existed ? State::Old : State::Missing;
    State s = expectWhole(r, {renamed ? State::New : before});
    auto files = listing(r.dir);
    size_t stopped = exists(r.path) ? fingerprint(r.path) : 0;
    if (r.index) {
        // The stopped child holds the update mutex for the whole rewrite.
        std::unique_ptr<Mutex> m = newMutex(r.index->key, 0);
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(m->lock(1), 0);
    }

    status = child.kill9();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    // The kill changed nothing: the same files, the library the same bytes.
    EXPECT_EQ(listing(r.dir), files);
    EXPECT_EQ(exists(r.path) ? fingerprint(r.path) : 0, stopped);
    expectMutexFree(r);
    expectNextRunSucceeds(r, s);
}

struct StopCase {
    const char* name;
    Kind kind;
    StopPoint point;
    int port = 0;  // index runs: their own update mutex
};

void PrintTo(const StopCase& c, std::ostream* os) {
    *os << c.name;
}

class ZipCrashStop : public testing::TestWithParam<StopCase> {};

TEST_P(ZipCrashStop, LibraryStaysWhole) {
    TzGuard tz("UTC");
    CrashRun r = makeRun(GetParam().kind, GetParam().port);
    stopAndKill(r, GetParam().point);
}

// Replace: "d20.html" follows 20 copied members, 19 more follow it.
// Delete: "r11.bin" follows 11 copied members, 35 are copied in all.
// New library: six files, nothing copied.
// Index: 40 members copied, then "folderindex.txt" added.
// The ports lie outside those of the folder index tests (20000-49999).
const StopCase kStopCases[] = {
    {"ReplaceTempCreated", Kind::Replace, {ZipStep::TempCreated, 1}},
    {"ReplaceFirstCopied", Kind::Replace, {ZipStep::EntryCopied, 1}},
    {"ReplaceCopiedBeforeTheNewMember", Kind::Replace, {ZipStep::EntryCopied, 20}},
    {"ReplaceStatus", Kind::Replace, {ZipStep::Status, 1}},
    {"ReplaceCopiedAfterTheNewMember", Kind::Replace, {ZipStep::EntryCopied, 21}},
    {"ReplaceLastCopied", Kind::Replace, {ZipStep::EntryCopied, 39}},
    {"ReplaceDataWritten", Kind::Replace, {ZipStep::DataWritten, 1}},
    {"ReplaceSynced", Kind::Replace, {ZipStep::Synced, 1}},
    {"ReplaceRenamed", Kind::Replace, {ZipStep::Renamed, 1}},
    {"ReplaceDirSynced", Kind::Replace, {ZipStep::DirSynced, 1}},
    {"DeleteTempCreated", Kind::Delete, {ZipStep::TempCreated, 1}},
    {"DeleteCopiedBeforeTheFirst", Kind::Delete, {ZipStep::EntryCopied, 11}},
    {"DeleteFirstStatus", Kind::Delete, {ZipStep::Status, 1}},
    {"DeleteLastStatus", Kind::Delete, {ZipStep::Status, 5}},
    {"DeleteLastCopied", Kind::Delete, {ZipStep::EntryCopied, 35}},
    {"DeleteDataWritten", Kind::Delete, {ZipStep::DataWritten, 1}},
    {"DeleteSynced", Kind::Delete, {ZipStep::Synced, 1}},
    {"DeleteRenamed", Kind::Delete, {ZipStep::Renamed, 1}},
    {"DeleteDirSynced", Kind::Delete, {ZipStep::DirSynced, 1}},
    {"NewLibraryTempCreated", Kind::NewLibrary, {ZipStep::TempCreated, 1}},
    {"NewLibraryFirstStatus", Kind::NewLibrary, {ZipStep::Status, 1}},
    {"NewLibraryLastStatus", Kind::NewLibrary, {ZipStep::Status, 6}},
    {"NewLibraryDataWritten", Kind::NewLibrary, {ZipStep::DataWritten, 1}},
    {"NewLibrarySynced", Kind::NewLibrary, {ZipStep::Synced, 1}},
    {"NewLibraryRenamed", Kind::NewLibrary, {ZipStep::Renamed, 1}},
    {"NewLibraryDirSynced", Kind::NewLibrary, {ZipStep::DirSynced, 1}},
    {"IndexTempCreated", Kind::Index, {ZipStep::TempCreated, 1}, 50101},
    {"IndexFirstCopied", Kind::Index, {ZipStep::EntryCopied, 1}, 50102},
    {"IndexLastCopied", Kind::Index, {ZipStep::EntryCopied, 40}, 50103},
    {"IndexStatus", Kind::Index, {ZipStep::Status, 1}, 50104},
    {"IndexDataWritten", Kind::Index, {ZipStep::DataWritten, 1}, 50105},
    {"IndexSynced", Kind::Index, {ZipStep::Synced, 1}, 50106},
    {"IndexRenamed", Kind::Index, {ZipStep::Renamed, 1}, 50107},
    {"IndexDirSynced", Kind::Index, {ZipStep::DirSynced, 1}, 50108},
};

INSTANTIATE_TEST_SUITE_P(Steps, ZipCrashStop, testing::ValuesIn(kStopCases),
                         [](const testing::TestParamInfo<StopCase>& info) { return info.param.name; });

// ---------------------------------------------------------------- sweep

double seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The sweep's kills fall at k/7 of a measured run, k = 1..6, one or two to
// a case so that each case stays short under the sanitizers.
constexpr int kSweepDelays = 6;

struct SweepCase {
    const char* name;
    Kind kind;
    int firstDelay, lastDelay;  // the k of the case's kills
    int port = 0;
};

void PrintTo(const SweepCase& c, std::ostream* os) {
    *os << c.name;
}

class ZipCrashSweep : public testing::TestWithParam<SweepCase> {};

// One measured run, then kills at delays spread evenly over its length; the
// library is put back before each.
TEST_P(ZipCrashSweep, LibraryStaysWhole) {
    TzGuard tz("UTC");
    CrashRun r = makeRun(GetParam().kind, GetParam().port);
    double start = seconds();
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) _exit(r.op() == 1 ? 0 : 3);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    double length = seconds() - start;
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    std::string why;
    ASSERT_EQ(classify(r, &why), State::New) << why;

    for (int k = GetParam().firstDelay; k <= GetParam().lastDelay; ++k) {
        double delay = length * k / (kSweepDelays + 1);
        SCOPED_TRACE("kill after " + std::to_string(delay) + " s");
        if (r.existed)
            copyLibrary(library().archive, r.path);
        else
            unlink(r.path.c_str());
        Child child;
        child.pid = fork();
        ASSERT_GE(child.pid, 0);
        if (child.pid == 0) _exit(r.op() == 1 ? 0 : 3);
        struct timespec ts;
        ts.tv_sec = static_cast<time_t>(delay);
        ts.tv_nsec = static_cast<long>((delay - static_cast<double>(ts.tv_sec)) * 1e9);
        nanosleep(&ts, nullptr);
        child.kill9();
        State s = expectWhole(r, {r.existed ? State::Old : State::Missing, State::New});
        expectMutexFree(r);
        expectNextRunSucceeds(r, s);
    }
}

// A replace run rewrites 24 MB and compresses 4 MB each time: one kill per
// case.
const SweepCase kSweepCases[] = {
    {"ReplaceDelay1", Kind::Replace, 1, 1},           {"ReplaceDelay2", Kind::Replace, 2, 2},
    {"ReplaceDelay3", Kind::Replace, 3, 3},           {"ReplaceDelay4", Kind::Replace, 4, 4},
    {"ReplaceDelay5", Kind::Replace, 5, 5},           {"ReplaceDelay6", Kind::Replace, 6, 6},
    {"DeleteDelays1To2", Kind::Delete, 1, 2},         {"DeleteDelays3To4", Kind::Delete, 3, 4},
    {"DeleteDelays5To6", Kind::Delete, 5, 6},         {"NewLibraryDelays1To2", Kind::NewLibrary, 1, 2},
    {"NewLibraryDelays3To4", Kind::NewLibrary, 3, 4}, {"NewLibraryDelays5To6", Kind::NewLibrary, 5, 6},
    {"IndexDelays1To2", Kind::Index, 1, 2, 50111},    {"IndexDelays3To4", Kind::Index, 3, 4, 50112},
    {"IndexDelays5To6", Kind::Index, 5, 6, 50113},
};

INSTANTIATE_TEST_SUITE_P(Delays, ZipCrashSweep, testing::ValuesIn(kSweepCases),
                         [](const testing::TestParamInfo<SweepCase>& info) { return info.param.name; });

}  // namespace
}  // namespace ruva

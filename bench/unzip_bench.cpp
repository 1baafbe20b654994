// Member extraction beside its peers, in one run:
//   inflate-<archive>: every deflated or stored member through
//     Unzip::unzip into memory, beside zlib inflate + crc32 of the same
//     compressed bytes (already in memory) into a buffer of the member's
//     size (a stored member: memcpy + crc32);
//   extract-<archive>: newZipStructure and every member to /dev/null,
//     beside `unzip -p archive > /dev/null` run as a child.
// The corpus is made at start-up with `zip -9` from seeded text and
// compressible binary: many 4-64 KiB members, and a few of several MB; and
// a mixed one where every third member is incompressible, so stored (as
// `zip` stores the .gz and .png files of a documentation tree). A
// large archive is added when given as an argument, or found (a JDK
// src.zip); nothing depends on one.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <glob.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/ratio_reporter.h"
#include "bmod/unzipd/zip/unzip.h"
#include "bmod/unzipd/zip/zip_reader.h"
#include "common/zip_format.h"

extern char** environ;

namespace {

using namespace ruva;

void quietWarn(void*, int, const char*, ...) {}
void quietSink(void*, int level, const char* message) {
    if (level <= 3) std::fprintf(stderr, "unzip_bench: %s\n", message);
}

// ---- corpus

std::string makeText(size_t n, std::mt19937& rng) {
    static const char* const words[] = {
        "the",     "library", "member",   "of",        "a",         "document", "index",   "search",
        "and",     "is",      "archive",  "server",    "to",        "in",       "for",     "with",
        "section", "chapter", "figure",   "table",     "procedure", "install",  "remove",  "check",
        "pump",    "valve",   "pressure", "operator",  "warning",   "note",     "see",     "page",
        "system",  "control", "unit",     "reference", "manual",    "revision", "service", "maintenance"};
    constexpr size_t kWords = sizeof words / sizeof *words;
    std::string s;
    s.reserve(n + 32);
    while (s.size() < n) {
        // Skewed choice: a few words are common, as in real text.
        size_t r = rng() % (kWords * kWords);
        size_t w = kWords - 1 - size_t(std::sqrt(double(r)));
        s += words[w];
        unsigned p = rng() % 32;
        s += p == 0 ? ".\n" : p == 1 ? ", " : p == 2 ? std::to_string(rng() % 1000) + " " : " ";
    }
    s.resize(n);
    return s;
}

std::string makeRandom(size_t n, std::mt19937& rng) {
    std::string s(n, '\0');
    for (char& c : s) c = char(rng());
    return s;
}

// Records of slowly changing fields with a random tail: compressible binary.
std::string makeBinary(size_t n, std::mt19937& rng) {
    std::string s;
    s.reserve(n + 32);
    uint32_t id = rng(), stamp = rng();
    while (s.size() < n) {
        id += 1 + rng() % 3;
        stamp += rng() % 200;
        uint32_t fields[4] = {id, stamp, uint32_t(rng() % 16), uint32_t(0x00010000u | (rng() % 4))};
        s.append(reinterpret_cast<const char*>(fields), sizeof fields);
        for (int i = 0; i < 8; i++) s += char(rng() % 4 == 0 ? rng() : 0);
    }
    s.resize(n);
    return s;
}

bool writeFile(const std::string& path, const std::string& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

// Makes dir/<name>.zip with `zip -9` from the given members.
bool zipArchive(const std::string& dir, const std::string& name,
                const std::vector<std::pair<std::string, std::string>>& members) {
    std::string src = dir + "/" + name;
    std::filesystem::create_directories(src);
    for (const auto& [file, bytes] : members)
        if (!writeFile(src + "/" + file, bytes)) return false;
    std::string cmd = "cd '" + src + "' && zip -q -X -9 -r '../" + name + ".zip' . >/dev/null";
    return std::system(cmd.c_str()) == 0;
}

struct Archive {
    std::string label;
    std::string path;
    // Deflated and stored members, for the inflate cases.
    std::vector<const CentralHeader*> deflated;
    std::vector<std::string> compressed;
    std::vector<uint32_t> crcs;
    std::vector<size_t> sizes;
    std::vector<bool> stored;
    size_t deflatedBytes = 0;  // uncompressed
    size_t allBytes = 0;       // uncompressed, every member
    ZipStructure* zs = nullptr;
};

bool loadArchive(Archive& a) {
    a.zs = newZipStructure(nullptr, a.path.c_str(), 0, nullptr, quietWarn);
    if (!a.zs) return false;
    int fd = a.zs->openZipFile();
    if (fd < 0) return false;
    for (const CentralHeader* ch = a.zs->getFirstCentralHeader(); ch;
         ch = ZipStructure::getNextCentralHeader(ch)) {
        LocalHeader* lh = a.zs->readLocalHeader(ch, fd);
        if (!lh) return false;
        a.allBytes += ch->ucSize;
        const bool readable = lh->method == ZIPMETHOD_DEFLATED || lh->method == ZIPMETHOD_STORED;
        if (readable && !(lh->generalFlags & kZipFlagEncrypted)) {
            std::string comp(ch->cSize, '\0');
            off_t at = off_t(ch->localHeaderOffset + kZipLocalHeaderSize + lh->fnameLen + lh->extraLen);
            if (pread(fd, comp.data(), comp.size(), at) != ssize_t(comp.size())) return false;
            a.deflated.push_back(ch);
            a.compressed.push_back(std::move(comp));
            a.crcs.push_back(ch->crc);
            a.sizes.push_back(ch->ucSize);
            a.stored.push_back(lh->method == ZIPMETHOD_STORED);
            a.deflatedBytes += ch->ucSize;
        }
        a.zs->freeLocalHeader(lh);
    }
    a.zs->closeZipFile(fd);
    return true;
}

// ---- the cases

void ownInflate(benchmark::State& state, Archive* a) {
    std::unique_ptr<Unzip> uz = newUnzip(0);
    int fd = a->zs->openZipFile();
    // Checked once before timing: each member against zlib's CRC.
    for (size_t i = 0; i < a->deflated.size(); i++) {
        if (uz->unzip(a->zs, a->deflated[i], fd, -1) != 1 || uz->bufwritten != a->sizes[i] ||
            uint32_t(crc32(0, uz->buf, uInt(uz->bufwritten))) != a->crcs[i]) {
            state.SkipWithError(("wrong output for " + std::string(a->deflated[i]->fname)).c_str());
            a->zs->closeZipFile(fd);
            return;
        }
    }
    for (auto _ : state)
        for (const CentralHeader* ch : a->deflated) benchmark::DoNotOptimize(uz->unzip(a->zs, ch, fd, -1));
    a->zs->closeZipFile(fd);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(a->deflatedBytes));
    state.SetLabel("Unzip::unzip into memory");
}

void zlibInflate(benchmark::State& state, Archive* a) {
    size_t largest = 0;
    for (size_t n : a->sizes) largest = std::max(largest, n);
    std::vector<unsigned char> out(largest + 1);
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) {
        state.SkipWithError("inflateInit2 failed");
        return;
    }
    auto one = [&](size_t i) {
        if (a->stored[i]) {
            std::memcpy(out.data(), a->compressed[i].data(), a->sizes[i]);
            return uint32_t(crc32(0, out.data(), uInt(a->sizes[i]))) == a->crcs[i];
        }
        inflateReset(&z);
        z.next_in = reinterpret_cast<Bytef*>(a->compressed[i].data());
        z.avail_in = uInt(a->compressed[i].size());
        z.next_out = out.data();
        z.avail_out = uInt(a->sizes[i]);
        int rc = inflate(&z, Z_FINISH);
        uint32_t crc = uint32_t(crc32(0, out.data(), uInt(a->sizes[i])));
        return rc == Z_STREAM_END && crc == a->crcs[i];
    };
    for (size_t i = 0; i < a->deflated.size(); i++)
        if (!one(i)) {
            state.SkipWithError("zlib disagrees");
            inflateEnd(&z);
            return;
        }
    for (auto _ : state)
        for (size_t i = 0; i < a->deflated.size(); i++) benchmark::DoNotOptimize(one(i));
    inflateEnd(&z);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(a->deflatedBytes));
    state.SetLabel("zlib inflate + crc32");
}

void ownExtract(benchmark::State& state, Archive* a) {
    int null = open("/dev/null", O_WRONLY);
    std::unique_ptr<Unzip> uz = newUnzip(0);
    auto all = [&] {
        ZipStructure* zs = newZipStructure(nullptr, a->path.c_str(), 0, nullptr, quietWarn);
        if (!zs) return false;
        bool ok = true;
        int fd = zs->openZipFile();
        for (const CentralHeader* ch = zs->getFirstCentralHeader(); ch;
             ch = ZipStructure::getNextCentralHeader(ch))
            ok &= uz->unzip(zs, ch, fd, null) == 1;
        zs->closeZipFile(fd);
        zs->del();
        return ok;
    };
    if (!all()) state.SkipWithError("a member failed");
    for (auto _ : state) benchmark::DoNotOptimize(all());
    close(null);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(a->allBytes));
    state.SetLabel("newZipStructure + Unzip::unzip to /dev/null");
}

void unzipExtract(benchmark::State& state, Archive* a) {
    auto run = [&] {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        const char* argv[] = {"unzip", "-p", a->path.c_str(), nullptr};
        pid_t pid;
        int rc = posix_spawnp(&pid, "unzip", &actions, nullptr, const_cast<char**>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        int status = 0;
        return rc == 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    };
    if (!run()) state.SkipWithError("unzip -p failed");
    for (auto _ : state) benchmark::DoNotOptimize(run());
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(a->allBytes));
    state.SetLabel("unzip -p > /dev/null");
}

std::string findLargeArchive() {
    glob_t found{};
    std::string path;
    if (glob("/usr/lib/jvm/*/lib/src.zip", 0, nullptr, &found) == 0)
        for (size_t i = 0; i < found.gl_pathc && path.empty(); i++) {
            struct stat st;
            if (stat(found.gl_pathv[i], &st) == 0 && st.st_size > (1 << 20)) path = found.gl_pathv[i];
        }
    globfree(&found);
    return path;
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    setUnzipLogSink(quietSink, nullptr);

    char tmpl[] = "/tmp/unzip_bench.XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    std::string dir = tmpl;
    std::mt19937 rng(20240601);
    std::vector<std::pair<std::string, std::string>> small, large, mixed;
    for (int i = 0; i < 320; i++) {
        size_t size = 4096 + rng() % (60 * 1024);
        bool text = i % 4 != 3;
        small.emplace_back("m" + std::to_string(i) + (text ? ".txt" : ".bin"),
                           text ? makeText(size, rng) : makeBinary(size, rng));
    }
    large.emplace_back("big1.txt", makeText(4 << 20, rng));
    large.emplace_back("big2.txt", makeText(3 << 20, rng));
    large.emplace_back("big3.bin", makeBinary(3 << 20, rng));
    for (int i = 0; i < 240; i++) {
        size_t size = 4096 + rng() % (60 * 1024);
        bool text = i % 3 != 2;
        mixed.emplace_back("d" + std::to_string(i) + (text ? ".html" : ".gz"),
                           text ? makeText(size, rng) : makeRandom(size, rng));
    }
    std::vector<Archive> archives;
    if (!zipArchive(dir, "many", small) || !zipArchive(dir, "few", large) ||
        !zipArchive(dir, "mixed", mixed)) {
        std::fprintf(stderr, "unzip_bench: zip failed\n");
        return 1;
    }
    archives.push_back(Archive{"many", dir + "/many.zip", {}, {}, {}, {}, {}, 0, 0, nullptr});
    archives.push_back(Archive{"few", dir + "/few.zip", {}, {}, {}, {}, {}, 0, 0, nullptr});
    archives.push_back(Archive{"mixed", dir + "/mixed.zip", {}, {}, {}, {}, {}, 0, 0, nullptr});
    std::string extra = argc > 1 ? argv[1] : findLargeArchive();
    if (!extra.empty()) archives.push_back(Archive{"large", extra, {}, {}, {}, {}, {}, 0, 0, nullptr});

    for (Archive& a : archives) {
        if (!loadArchive(a)) {
            std::fprintf(stderr, "unzip_bench: cannot read %s\n", a.path.c_str());
            return 1;
        }
        std::fprintf(stderr, "%s: %s, %zu members deflated or stored, %.1f MB\n", a.label.c_str(),
                     a.path.c_str(), a.deflated.size(), double(a.allBytes) / 1e6);
    }
    for (Archive& a : archives) {
        benchmark::RegisterBenchmark(("peer/inflate-" + a.label).c_str(), zlibInflate, &a)->UseRealTime();
        benchmark::RegisterBenchmark(("own/inflate-" + a.label).c_str(), ownInflate, &a)->UseRealTime();
    }
    for (Archive& a : archives) {
        benchmark::RegisterBenchmark(("peer/extract-" + a.label).c_str(), unzipExtract, &a)->UseRealTime();
        benchmark::RegisterBenchmark(("own/extract-" + a.label).c_str(), ownExtract, &a)->UseRealTime();
    }
    // peer: zlib inflate + crc32 for inflate-*, `unzip -p` for extract-*.
    ruva::bench::RatioReporter reporter("peer", {"own"});
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::printf("(peer: zlib inflate + crc32 for inflate-*, unzip -p > /dev/null for extract-*)\n");

    for (Archive& a : archives) a.zs->del();
    std::filesystem::remove_all(dir);
    return 0;
}

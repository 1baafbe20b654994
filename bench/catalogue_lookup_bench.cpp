// findZipStructure by exact name with fold names on, over 700 libraries,
// beside a linear strcasecmp search of a std::vector<std::string> holding the
// same names. With fold names on the catalogue cannot use its quick index
// and walks its name list from the start, as the vector search does.
//
// The libraries are opened before timing, from archives holding only an end
// record and a comment. Before timing every query is checked to find the
// same name both ways, and the run aborts otherwise. At the end the
// catalogue's time is given as a ratio to the vector's.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <strings.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/ratio_reporter.h"
#include "bmod/unzipd/catalogue/zip_list.h"
#include "bmod/unzipd/zip/zip_reader.h"

namespace {

constexpr int kLibraries = 700;
constexpr int kQueries = 1000;

// Library file names of a few shapes in mixed case, in a fixed
// pseudo-random order.
std::vector<std::string> makeNames() {
    static const char* const kForms[] = {"Manual_%04u.kvo", "guide_%04u.kvo", "NOTE%04u_ref.kvo",
                                         "lzn%04uR2A.kvo"};
    std::vector<std::string> names;
    std::mt19937 rng(20261210);
    char buf[64];
    for (unsigned i = 0; i < kLibraries; ++i) {
        std::snprintf(buf, sizeof buf, kForms[rng() % std::size(kForms)], i);
        names.emplace_back(buf);
    }
    std::shuffle(names.begin(), names.end(), rng);
    return names;
}

// An archive with no members: the 22-byte end record and its comment.
std::string emptyArchive(const std::string& comment) {
    std::string bytes("PK\5\6", 4);
    bytes.append(16, '\0');  // disks, entry counts, directory size and offset
    bytes += static_cast<char>(comment.size() & 0xff);
    bytes += static_cast<char>(comment.size() >> 8);
    return bytes + comment;
}

struct Fixture {
    std::vector<std::string> names;
    std::vector<std::string> queries;
    std::unique_ptr<ruva::ZipList> catalogue;
    key_t languageKey = static_cast<key_t>(0x52564200 + (getpid() & 0xff));

    Fixture() {
        names = makeNames();
        std::mt19937 rng(7);
        for (int i = 0; i < kQueries; ++i) queries.push_back(names[rng() % names.size()]);

        catalogue = ruva::newZipList(ruva::kZipFoldNames, languageKey);
        if (!catalogue || !catalogue->allocZipPool(kLibraries + 100, 1000, 1 << 20)) fail("no catalogue");
        char dirTemplate[] = "/tmp/catalogue_bench.XXXXXX";
        if (!mkdtemp(dirTemplate)) fail("no temporary folder");
        std::string dir = dirTemplate;
        for (size_t i = 0; i < names.size(); ++i) {
            std::string path = dir + "/" + names[i];
            FILE* f = std::fopen(path.c_str(), "wb");
            std::string bytes =
                emptyArchive("Library " + std::to_string(i) + " [EN/LIB" + std::to_string(i) + "]");
            if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fclose(f) != 0)
                fail("cannot write a library");
            if (!catalogue->newZipStructure(path.c_str(), catalogue->flags)) fail("cannot open a library");
        }
        std::filesystem::remove_all(dir);
        catalogue->buildQuickAccessIndex();
    }
    ~Fixture() {
        catalogue.reset();
        int set = semget(languageKey, 0, 0);
        if (set >= 0) semctl(set, 0, IPC_RMID);
    }

    [[noreturn]] static void fail(const char* what) {
        std::fprintf(stderr, "catalogue_lookup_bench: %s\n", what);
        std::exit(1);
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

const std::string* vectorFind(const std::vector<std::string>& names, const char* name) {
    for (const std::string& n : names)
        if (strcasecmp(n.c_str(), name) == 0) return &n;
    return nullptr;
}

// Timing a search that answers differently would compare nothing.
void checkAgreement() {
    Fixture& f = fixture();
    for (const std::string& q : f.queries) {
        ruva::ZipStructure* zs = f.catalogue->findZipStructure(q.c_str(), nullptr);
        const std::string* hit = vectorFind(f.names, q.c_str());
        if (!zs || !hit || *hit != zs->zipBasename) {
            std::fprintf(stderr, "catalogue_lookup_bench: \"%s\" found as \"%s\" and \"%s\"\n", q.c_str(),
                         zs ? zs->zipBasename : "(none)", hit ? hit->c_str() : "(none)");
            std::abort();
        }
    }
}

void catalogueFind(benchmark::State& state) {
    Fixture& f = fixture();
    for (auto _ : state)
        for (const std::string& q : f.queries)
            benchmark::DoNotOptimize(f.catalogue->findZipStructure(q.c_str(), nullptr));
    state.SetItemsProcessed(state.iterations() * kQueries);
}

void vectorFindAll(benchmark::State& state) {
    Fixture& f = fixture();
    for (auto _ : state)
        for (const std::string& q : f.queries) benchmark::DoNotOptimize(vectorFind(f.names, q.c_str()));
    state.SetItemsProcessed(state.iterations() * kQueries);
}

}  // namespace

int main(int argc, char** argv) {
    checkAgreement();
    benchmark::RegisterBenchmark("vector/exact700", vectorFindAll);
    benchmark::RegisterBenchmark("catalogue/exact700", catalogueFind);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    ruva::bench::RatioReporter reporter("vector", {"catalogue"});
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

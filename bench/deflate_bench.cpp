// The archive writer's deflate beside zlib's raw deflate at the same level,
// memory to memory, without CRC: 16 MB of seeded documentation-style HTML
// compressed as one stream and page by page (one object reused, as the
// rewrite engine does; zlib through deflateReset). An optional directory
// argument adds its regular files, as a third case per level.
//
// Before timing, each of our outputs is inflated by zlib and compared with
// the input; the run aborts on a difference. At the end, per case: size and
// throughput of ours over zlib's.
//
// usage: deflate_bench [directory] [--benchmark_filter=L6/...]
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <sys/stat.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/html_corpus.h"
#include "bench/ratio_reporter.h"
#include "bmod/unzipd/zip/deflate.h"

namespace {

constexpr size_t kCorpusBytes = 16u << 20;
constexpr uint64_t kSeed = 20240611;

class MemInput : public ruva::DeflateInput {
public:
    explicit MemInput(const std::string& data) : data_(data) {}
    ptrdiff_t read(uint8_t* buf, size_t n) override {
        n = std::min(n, data_.size() - pos_);
        std::memcpy(buf, data_.data() + pos_, n);
        pos_ += n;
        return static_cast<ptrdiff_t>(n);
    }

private:
    const std::string& data_;
    size_t pos_ = 0;
};

// Appends to a buffer reserved once, so that timing sees no reallocation.
class MemOutput : public ruva::DeflateOutput {
public:
    bool write(const uint8_t* data, size_t n) override {
        bytes.append(reinterpret_cast<const char*>(data), n);
        return true;
    }
    std::string bytes;
};

struct Corpus {
    std::string name;
    std::vector<std::string> files;  // a single entry for the one-stream case
    size_t bytes = 0;
};

using Compressor = size_t (*)(const Corpus& corpus, int level, std::string* last);

ruva::Deflater& deflater() {
    static ruva::Deflater d;
    return d;
}

// Returns the compressed size of all files; *last gets the last file's bytes.
size_t viaOurs(const Corpus& corpus, int level, std::string* last) {
    static MemOutput out;
    size_t total = 0;
    for (const std::string& file : corpus.files) {
        out.bytes.clear();
        MemInput in(file);
        uint16_t attribute = 0, method = 8, flags = 0;
        ruva::Deflater& d = deflater();
        d.bi_init(&out);
        d.ct_init(&attribute, &method);
        if (d.lm_init(level, &flags, &in) != 0 || d.deflate() < 0) {
            std::fprintf(stderr, "deflate_bench: %s\n", d.errorText());
            std::abort();
        }
        d.lm_free();
        // A whole-file stored entry is the input itself, method 0.
        total += out.bytes.size();
        if (last && method == 0) {
            *last = "stored";
            *last += out.bytes;
        } else if (last) {
            *last = out.bytes;
        }
    }
    return total;
}

size_t viaZlib(const Corpus& corpus, int level, std::string* last) {
    static z_stream s{};
    static int streamLevel = -1;
    static std::string out;
    if (streamLevel != level) {
        if (streamLevel != -1) deflateEnd(&s);
        s = z_stream{};
        if (deflateInit2(&s, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) std::abort();
        streamLevel = level;
    }
    size_t total = 0;
    for (const std::string& file : corpus.files) {
        deflateReset(&s);
        size_t bound = deflateBound(&s, file.size());
        if (out.size() < bound) out.resize(bound);
        s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(file.data()));
        s.avail_in = static_cast<uInt>(file.size());
        s.next_out = reinterpret_cast<Bytef*>(out.data());
        s.avail_out = static_cast<uInt>(out.size());
        if (deflate(&s, Z_FINISH) != Z_STREAM_END) std::abort();
        total += s.total_out;
        if (last) last->assign(out.data(), s.total_out);
    }
    return total;
}

bool inflatesTo(const std::string& deflated, const std::string& want) {
    if (deflated.compare(0, 6, "stored") == 0) return deflated.compare(6, std::string::npos, want) == 0;
    z_stream s{};
    if (inflateInit2(&s, -15) != Z_OK) return false;
    std::string out(want.size() + 1, '\0');
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(deflated.data()));
    s.avail_in = static_cast<uInt>(deflated.size());
    s.next_out = reinterpret_cast<Bytef*>(out.data());
    s.avail_out = static_cast<uInt>(out.size());
    int ret = inflate(&s, Z_FINISH);
    bool ok = ret == Z_STREAM_END && s.avail_in == 0 && s.total_out == want.size() &&
              std::memcmp(out.data(), want.data(), want.size()) == 0;
    inflateEnd(&s);
    return ok;
}

// Sizes by "<impl>/<case>", for the table at the end.
std::map<std::string, size_t>& sizes() {
    static std::map<std::string, size_t> m;
    return m;
}

void run(benchmark::State& state, const Corpus* corpus, int level, Compressor compress, const char* impl) {
    std::string last;
    size_t size = compress(*corpus, level, &last);
    if (compress == viaOurs && !inflatesTo(last, corpus->files.back())) {
        std::fprintf(stderr, "deflate_bench: %s level %d does not inflate to its input\n",
                     corpus->name.c_str(), level);
        std::abort();
    }
    for (auto _ : state) {
        size = compress(*corpus, level, nullptr);
        benchmark::DoNotOptimize(size);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * corpus->bytes));
    state.counters["ratio"] = static_cast<double>(corpus->bytes) / static_cast<double>(size);
    sizes()[std::string(impl) + "/L" + std::to_string(level) + "/" + corpus->name] = size;
}

// Adds the ours/zlib size and throughput per case to the time table.
class DeflateReporter : public ruva::bench::RatioReporter {
public:
    DeflateReporter() : RatioReporter("zlib", {"ours"}) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            if (run.run_type != Run::RT_Iteration && run.aggregate_name != "mean") continue;
            std::string name = run.run_name.str();
            if (times_.find(name) == times_.end()) order_.push_back(name);
            times_[name] = run.GetAdjustedRealTime();
        }
        RatioReporter::ReportRuns(runs);
    }

    void Finalize() override {
        RatioReporter::Finalize();
        std::printf("\nours over zlib\n%-24s %12s %12s %12s %12s\n", "case", "ours bytes", "zlib bytes",
                    "size", "throughput");
        for (const std::string& name : order_) {
            if (name.compare(0, 5, "ours/") != 0) continue;
            std::string theCase = name.substr(5);
            auto zt = times_.find("zlib/" + theCase);
            auto zs = sizes().find("zlib/" + theCase);
            auto os = sizes().find(name);
            if (zt == times_.end() || zs == sizes().end() || os == sizes().end()) continue;
            std::printf("%-24s %12zu %12zu %12.4f %12.3f\n", theCase.c_str(), os->second, zs->second,
                        static_cast<double>(os->second) / static_cast<double>(zs->second),
                        zt->second / times_[name]);
        }
    }

private:
    std::map<std::string, double> times_;
    std::vector<std::string> order_;
};

void addDirectory(const std::string& dir, Corpus& corpus) {
    DIR* d = opendir(dir.c_str());
    if (!d) return;
    while (dirent* e = readdir(d)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        std::string path = dir + "/" + e->d_name;
        struct stat st;
        if (lstat(path.c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            addDirectory(path, corpus);
        } else if (S_ISREG(st.st_mode) && st.st_size > 0) {
            std::ifstream f(path, std::ios::binary);
            std::stringstream buf;
            buf << f.rdbuf();
            corpus.files.push_back(buf.str());
            corpus.bytes += corpus.files.back().size();
        }
    }
    closedir(d);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (argc > 2) {
        std::fprintf(stderr, "usage: %s [directory] [benchmark options]\n", argv[0]);
        return 1;
    }

    static std::vector<Corpus> corpora(2);
    corpora[0].name = "files";
    corpora[0].files = ruva::bench::htmlCorpus(kSeed, kCorpusBytes);
    std::string stream;
    for (const std::string& f : corpora[0].files) {
        corpora[0].bytes += f.size();
        stream += f;
    }
    corpora[1].name = "stream";
    corpora[1].files.push_back(std::move(stream));
    corpora[1].bytes = corpora[0].bytes;
    if (argc == 2) {
        Corpus dir;
        dir.name = "dir";
        addDirectory(argv[1], dir);
        if (dir.files.empty()) {
            std::fprintf(stderr, "deflate_bench: no files in %s\n", argv[1]);
            return 1;
        }
        corpora.push_back(std::move(dir));
    }

    for (int level = 1; level <= 9; ++level) {
        for (const Corpus& corpus : corpora) {
            std::string theCase = "L" + std::to_string(level) + "/" + corpus.name;
            benchmark::RegisterBenchmark(("zlib/" + theCase).c_str(), run, &corpus, level, viaZlib, "zlib")
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark(("ours/" + theCase).c_str(), run, &corpus, level, viaOurs, "ours")
                ->Unit(benchmark::kMillisecond);
        }
    }
    DeflateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

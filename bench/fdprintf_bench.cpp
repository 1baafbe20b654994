// fdprintf beside glibc dprintf, writing index-search hit lines to /dev/null.
//
// Two lines: a typical hit of 123 bytes and one whose bracketed hit words run
// to 20,000 bytes (dprintf writes that in pieces of 8 KiB).
// Before timing, both writers' bytes for each line are read back from a file
// and compared with snprintf's; the run aborts when they differ. At the end
// fdprintf's time is given as a ratio to dprintf's.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "bench/ratio_reporter.h"
#include "common/net_util.h"

namespace {

#define HIT_FORMAT "300 \"%s\" %u \"%s\" %s 0 [%s]\n"

struct HitLine {
    const char* label;
    std::string library;
    unsigned hits;
    std::string title;
    std::string member;
    std::string words;
};

std::vector<HitLine> makeLines() {
    std::string manyWords;
    while (manyWords.size() < 20000) manyWords += "\"PUMP|4.2|\" | \"HYDRAULIC UNIT|4.2.1|\" | ";
    return {
        {"hit", "manuals/en/ABC_1234_5678.zip", 17, "Installation and maintenance of the feed pump unit",
         "chapter_0042.html", "pump unit"},
        {"long", "manuals/en/ABC_1234_5678.zip", 4711, "Hydraulic system, complete reference",
         "chapter_0001.html", manyWords},
    };
}

const std::vector<HitLine>& lines() {
    static const std::vector<HitLine> list = makeLines();
    return list;
}

int viaFdprintf(int fd, const HitLine& l) {
    return ruva::fdprintf(fd, HIT_FORMAT, l.library.c_str(), l.hits, l.title.c_str(), l.member.c_str(),
                          l.words.c_str());
}

int viaDprintf(int fd, const HitLine& l) {
    return dprintf(fd, HIT_FORMAT, l.library.c_str(), l.hits, l.title.c_str(), l.member.c_str(),
                   l.words.c_str());
}

using Writer = int (*)(int fd, const HitLine& line);

const struct {
    const char* label;
    Writer write;
} kWriters[] = {{"dprintf", viaDprintf}, {"fdprintf", viaFdprintf}};

// Timing a writer that writes other bytes would compare nothing.
void checkOutput() {
    for (const HitLine& l : lines()) {
        int len = std::snprintf(nullptr, 0, HIT_FORMAT, l.library.c_str(), l.hits, l.title.c_str(),
                                l.member.c_str(), l.words.c_str());
        std::string want(static_cast<size_t>(len) + 1, '\0');
        std::snprintf(want.data(), want.size(), HIT_FORMAT, l.library.c_str(), l.hits, l.title.c_str(),
                      l.member.c_str(), l.words.c_str());
        want.pop_back();
        for (const auto& w : kWriters) {
            std::FILE* tmp = std::tmpfile();
            if (!tmp) std::abort();
            int fd = fileno(tmp);
            int rc = w.write(fd, l);
            std::string got(want.size() + 1, '\0');
            ssize_t n = pread(fd, got.data(), got.size(), 0);
            std::fclose(tmp);
            if (rc != len || n != len || got.compare(0, want.size(), want) != 0) {
                std::fprintf(stderr,
                             "fdprintf_bench: %s wrote %zd bytes (returned %d) for the %s line, want %d\n",
                             w.label, n, rc, l.label, len);
                std::abort();
            }
        }
    }
}

void writeLines(benchmark::State& state, const HitLine* line, Writer write) {
    int fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        state.SkipWithError("cannot open /dev/null");
        return;
    }
    int len = 0;
    for (auto _ : state) {
        len = write(fd, *line);
        benchmark::DoNotOptimize(len);
    }
    close(fd);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(len));
    state.SetLabel(std::to_string(len) + " bytes");
}

}  // namespace

int main(int argc, char** argv) {
    checkOutput();
    for (const HitLine& l : lines()) {
        for (const auto& w : kWriters)
            benchmark::RegisterBenchmark((std::string(w.label) + "/" + l.label).c_str(), writeLines, &l,
                                         w.write);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    ruva::bench::RatioReporter reporter("dprintf", {"fdprintf"});
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

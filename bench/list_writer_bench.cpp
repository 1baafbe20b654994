// The list writer's rows into a request's document buffer: 20,000
// comparison rows with the buffer sized up front by estimateBufferSize
// ("estimate") and grown from empty ("grow"), beside the same row bytes
// formatted with snprintf from the member name and title into a std::string
// reserved once ("snprintf").
// Search rows with a three-term title pattern, 3,000 and 12,000 of them,
// show whether highlighting stays linear; their ratio is printed last.
//
// Before timing, every case's output is compared by size and hash with the
// writer's page; the run aborts on a difference.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench/ratio_reporter.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/valuelist.h"
#include "bmod/ruvaserv/output/htmloutput.h"
#include "bmod/ruvaserv/output/kvooutput.h"

namespace {

constexpr int kCompareRows = 20000;
constexpr int kMapThreshold = 1 << 20;
constexpr char kCompareTitle[] = "Installation guide for the node";

// One request, channel and writer; the page is reopened per run.
struct Writer {
    explicit Writer(std::initializer_list<std::pair<const char*, const char*>> fields) {
        static char* noEnv[] = {nullptr};
        cg = ruva::newCgiHandler(ruva::kKivoservFlags, noEnv);
        if (!cg) std::abort();
        for (const auto& [name, value] : fields) cg->valueList->addValue(name, value);
        out.kvoSetOutput(cg.get(), ruva::KVO_OUT_INTERNAL);
        fmt = ruva::newKvoHtmlFormat(&out);
        if (!fmt) std::abort();
    }
    void open(size_t size) {
        if (out.kvoOpenOutput(size) != ruva::kKvoOpenOk) std::abort();
    }
    std::string page() const { return std::string(cg->docBuf, cg->docSize); }

    std::unique_ptr<ruva::CgiHandler> cg;
    ruva::KvoOutput out{0};
    std::unique_ptr<ruva::KvoFormat> fmt;
};

// Row i's member name; made once, outside every timed loop, as the baseline
// formats from finished names too.
const std::string& memberName(int i) {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> all;
        for (int k = 0; k < kCompareRows; ++k) {
            char name[64];
            std::snprintf(name, sizeof name, "1551-ABC%05dUen.%c.%s", 10000 + k % 90000, 'A' + k % 5,
                          k % 3 == 0 ? "pdf" : "htm");
            all.emplace_back(name);
        }
        return all;
    }();
    return names[static_cast<size_t>(i)];
}

// afterRow (when set) runs after each row.
void writeCompareRows(ruva::KvoFormat& fmt, const std::function<void(const std::string&)>& afterRow = nullptr) {
    static const char kForced[] = {'1', '2', '3', '6'};
    for (int i = 0; i < kCompareRows; ++i) {
        const std::string& fn = memberName(i);
        fmt.writeDocRow("lib2", fn.c_str(), 0, nullptr, kCompareTitle, "", "", 0, i & 1, kForced[i % 4]);
        if (afterRow) afterRow(fn);
    }
}

void writeSearchRows(ruva::KvoFormat& fmt, int rows) {
    for (int i = 0; i < rows; ++i) {
        const std::string& fn = memberName(i);
        int first = 1;
        fmt.writeDocRowSearch("lib2", nullptr, fn.c_str(), 0, &first,
                              "Install the node: setup guide and install checks for the node setup", "", "", "",
                              ruva::kSearchTypeTitle, i & 1, 0, 0, nullptr, "Description", "", "", "", "", 0, 0, 0,
                              nullptr);
    }
}

// The baseline's rows: each row's bytes as a format whose member name and
// title are "%s" again, with those two values.
struct RowFormat {
    std::string format;
    std::string fn;
};
std::vector<RowFormat>& compareRowFormats() {
    static std::vector<RowFormat> rows;
    return rows;
}

RowFormat rowFormat(std::string row, const std::string& fn) {
    std::string format;
    for (size_t i = 0; i < row.size();) {
        if (row.compare(i, fn.size(), fn) == 0) {
            format += "%1$s";
            i += fn.size();
        } else if (row.compare(i, sizeof kCompareTitle - 1, kCompareTitle) == 0) {
            format += "%2$s";
            i += sizeof kCompareTitle - 1;
        } else {
            if (row[i] == '%') format += '%';
            format += row[i++];
        }
    }
    return {std::move(format), fn};
}

void appendRows(std::string& page) {
    char buf[4096];
    for (const RowFormat& row : compareRowFormats()) {
        const int n = std::snprintf(buf, sizeof buf, row.format.c_str(), row.fn.c_str(), kCompareTitle);
        page.append(buf, static_cast<size_t>(n));
    }
}

std::string& expectedCompare() {
    static std::string page;
    return page;
}

size_t fnv1a(const std::string& s) {
    size_t h = 1469598103934665603ull;
    for (unsigned char c : s) h = (h ^ c) * 1099511628211ull;
    return h;
}

void check(const std::string& what, const std::string& got, const std::string& expected) {
    if (got.size() != expected.size() || fnv1a(got) != fnv1a(expected)) {
        std::fprintf(stderr, "list_writer_bench: %s gives %zu bytes, expected %zu\n", what.c_str(), got.size(),
                     expected.size());
        std::exit(1);
    }
}

void benchWriter(benchmark::State& state, bool estimate) {
    Writer w({});
    const size_t size = estimate ? w.fmt->estimateBufferSize(kCompareRows) : 0;
    for (auto _ : state) {
        w.open(size);
        writeCompareRows(*w.fmt);
        benchmark::DoNotOptimize(w.cg->docSize);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * expectedCompare().size()));
}

// Each run reserves a new string, as each writer run opens a new page: with
// the mapping threshold fixed in main, both take fresh pages from the kernel.
void benchSnprintf(benchmark::State& state) {
    size_t size = 0;
    for (auto _ : state) {
        std::string page;
        page.reserve(expectedCompare().size() + 1);
        appendRows(page);
        benchmark::DoNotOptimize(page.data());
        size = page.size();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

void benchSearch(benchmark::State& state, int rows) {
    Writer w({{"ST", "Title"}, {"PA", "install setup node"}});
    for (auto _ : state) {
        w.open(w.fmt->estimateBufferSize(rows));
        writeSearchRows(*w.fmt, rows);
        benchmark::DoNotOptimize(w.cg->docSize);
    }
}

// Checks every case's output before any timing.
void prepare() {
    Writer w({});
    w.open(0);
    size_t before = 0;
    writeCompareRows(*w.fmt, [&](const std::string& fn) {
        compareRowFormats().push_back(rowFormat(std::string(w.cg->docBuf + before, w.cg->docSize - before), fn));
        before = w.cg->docSize;
    });
    expectedCompare() = w.page();
    if (expectedCompare().size() < kCompareRows * 100u) {
        std::fprintf(stderr, "list_writer_bench: rows are missing (%zu bytes)\n", expectedCompare().size());
        std::exit(1);
    }
    std::string joined;
    appendRows(joined);
    check("snprintf", joined, expectedCompare());
    for (const bool estimate : {true, false}) {
        Writer v({});
        v.open(estimate ? v.fmt->estimateBufferSize(kCompareRows) : 0);
        writeCompareRows(*v.fmt);
        check(estimate ? "estimate" : "grow", v.page(), expectedCompare());
    }
    // Search rows mark their titles, and the first 3,000 of 12,000 are the 3,000.
    Writer s3({{"ST", "Title"}, {"PA", "install setup node"}});
    s3.open(0);
    writeSearchRows(*s3.fmt, 3000);
    Writer s12({{"ST", "Title"}, {"PA", "install setup node"}});
    s12.open(0);
    writeSearchRows(*s12.fmt, 12000);
    const std::string p3 = s3.page();
    const std::string p12 = s12.page();
    if (p3.find("<b>setup</b>") == std::string::npos || !p12.starts_with(p3)) {
        std::fprintf(stderr, "list_writer_bench: search rows are not as expected\n");
        std::exit(1);
    }
}

}  // namespace

int main(int argc, char** argv) {
    // malloc would otherwise raise its threshold after the first free and keep
    // the baseline's page in its heap, faulted once; the document buffer is
    // mapped anew on every open.
    mallopt(M_MMAP_THRESHOLD, kMapThreshold);
    benchmark::Initialize(&argc, argv);
    prepare();
    benchmark::RegisterBenchmark("snprintf/rows20000", benchSnprintf)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("estimate/rows20000", benchWriter, true)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("grow/rows20000", benchWriter, false)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("search3000/title", benchSearch, 3000)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("search12000/title", benchSearch, 12000)->Unit(benchmark::kMillisecond);
    // The time of 12,000 search rows over that of 3,000 follows the table.
    ruva::bench::ScaleRatioReporter reporter("snprintf", {"estimate", "grow"}, "search3000/title",
                                             "search12000/title", "search12000/title over search3000/title");
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

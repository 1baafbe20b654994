// The SDI reader beside the scan it stands on, over the same bytes in one run:
//   scan/rowsN: the scanner's registerInput + buildNodeList + freeNodeList;
//   read/rowsN: Sdi registerInput + getMetaData + parseDocument.
// The document is one table of N rows shaped like a document list's
// commented row (a title with its English title in LITERAL, a number, a
// comment); 20,000 rows are about 3.1 MB. Each reading is checked before
// timing: N rows and a separator. Targets: read at most 3.0x the scan, and
// 20,000 rows at most 5x 5,000 rows (a quadratic walk fails both).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/ratio_reporter.h"
#include "bmod/ruvaserv/sgml/sdi.h"

namespace {

using namespace ruva;

std::string sdiDocument(int rows) {
    std::string doc =
        "<!DOCTYPE TAVR PUBLIC \"-//VANDROVE//DTD TAVR 1/1056-ABC 901 01//EN\">\n<TAVR>\n<META-DATA>\n"
        "<DOC-ID>\n<DOC-NO>1/1553-ABC 901 00 Uen</DOC-NO>\n<REV>B</REV>\n</DOC-ID>\n"
        "<TITLE>Demo Library</TITLE>\n</META-DATA>\n<BODY>\n<CHL1 "
        "ROLE=\"MOD-DESC\"><TITLE>Descriptions</TITLE>\n"
        "<TABLE><TGROUP COLS=\"3\"><TBODY>\n";
    for (int i = 0; i < rows; ++i) {
        const std::string n = std::to_string(100000 + i);
        doc += "<ROW><ENTRY>Systembeskrivning nr " + n +
               "<LITERAL>System Overview</LITERAL></ENTRY><ENTRY>154 31-ABC 901 " + n +
               " Usv B</ENTRY><ENTRY>New in R2A</ENTRY></ROW>\n";
    }
    doc += "</TBODY></TGROUP></TABLE>\n</CHL1>\n</BODY>\n</TAVR>\n";
    return doc;
}

std::map<int, std::string>& documents() {
    static std::map<int, std::string> docs;
    return docs;
}

int countEntry(Sdi*, void* count, SdiEntry*, int level) {
    if (level == 2) ++*static_cast<int*>(count);
    return 1;
}

// Entries under the heading; -1 when the read fails.
int readRows(Sdi* sdi, const std::string& doc) {
    if (!sdi->registerInput(doc.data(), doc.size()) || !sdi->getMetaData() || !sdi->parseDocument())
        return -1;
    int count = 0;
    sdi->scanSdiTree(countEntry, &count);
    return count;
}

void scanBench(benchmark::State& state, int rows) {
    const std::string& doc = documents()[rows];
    std::unique_ptr<SgmlScanner> ss = newSgmlScanner(0);
    for (auto _ : state) {
        std::unique_ptr<SgmlNodeList> list = ss->newNodeList(0);
        if (!ss->registerInput(doc.data(), doc.size()) || !list || !ss->buildNodeList(list.get())) {
            state.SkipWithError(ss->getError().c_str());
            break;
        }
        ss->closeInput();
        ss->freeNodeList(std::move(list));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(doc.size()));
}

void readBench(benchmark::State& state, int rows) {
    const std::string& doc = documents()[rows];
    std::unique_ptr<Sdi> sdi = newSdi(0);
    for (auto _ : state) {
        if (!sdi->registerInput(doc.data(), doc.size()) || !sdi->getMetaData() || !sdi->parseDocument()) {
            state.SkipWithError(sdi->getError().c_str());
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(doc.size()));
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    std::unique_ptr<Sdi> sdi = newSdi(0);
    if (!sdi) {
        std::fprintf(stderr, "sdi_read_bench: no SDI object\n");
        return 1;
    }
    for (int rows : {5000, 20000}) {
        documents()[rows] = sdiDocument(rows);
        const int entries = readRows(sdi.get(), documents()[rows]);
        if (entries != rows + 1) {
            std::fprintf(stderr, "sdi_read_bench: %d rows read as %d entries, want %d: %s\n", rows, entries,
                         rows + 1, sdi->getError().c_str());
            return 1;
        }
        std::printf("rows%d: %zu bytes, %d entries\n", rows, documents()[rows].size(), entries);
        const std::string theCase = "rows" + std::to_string(rows);
        benchmark::RegisterBenchmark(("scan/" + theCase).c_str(), scanBench, rows)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("read/" + theCase).c_str(), readBench, rows)
            ->Unit(benchmark::kMillisecond);
    }
    sdi.reset();
    // The read's 20,000-row time over its 5,000-row time follows the table.
    ruva::bench::ScaleRatioReporter reporter("scan", {"read"}, "read/rows5000", "read/rows20000",
                                             "read rows20000 over rows5000", " (4x the rows)");
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

// The post-processing pass over a 1 MB Latin-1 document page with 500
// chapter headings, side by side:
//   plain      no annotation inserter;
//   icons      the inserter, whose listing names every second chapter (250
//              members): an icon after each of those headings and the title;
//   all_boxes  the same with AN=ALL: each member read (one RETR) and its
//              box woven in, no icon.
// The members are in annot.anx of the library that the daemon harness
// serves; without RUVA_PORT the program writes it and reruns itself under
// the harness. Each output is checked before timing: outside the woven
// fragments the page equals the plain one. Target: icons at most 1.2 times
// plain; all_boxes has none.
//
// usage: annotation_insert_bench [benchmark options]
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "bench/page_insert.h"
#include "bench/ratio_reporter.h"
#include "bench/retr_session.h"
#include "bmod/ruvaserv/actions/kvo_srv_annot.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "tests/support/html_corpus.h"

namespace {

using namespace ruva::bench;

constexpr uint64_t kSeed = 20261211;
constexpr size_t kPageBytes = 1u << 20;
constexpr size_t kHeadings = 500;
constexpr const char* kDocumentName = "1551-ABC10101Uen.A.html";

// Chapters 2, 4, ..., 500 are annotated.
bool annotated(size_t chapter) { return chapter % 2 == 0; }

// annot.anx of the library folder, written by the tests' record builder.
bool makeAnnotLibrary(const std::string& dir) {
    const std::string cmd = std::string("python3 -c '") +
                            "import sys; sys.path.insert(0, sys.argv[1]); import annotation_records as a\n"
                            "doc = \"" + kDocumentName + "\"\n"
                            "text = \"Checked against the installed release; the defaults differ. \" * 4\n"
                            "a.write_archive(sys.argv[2], [(a.member_name(doc, str(n)), "
                            "a.record(header=\"H%d\" % n, chapter=str(n), text=text)) "
                            "for n in range(2, " + std::to_string(kHeadings + 1) + ", 2)])' '" +
                            RUVA_TEST_SUPPORT + "' '" + dir + "/annot.anx'";
    return std::system(cmd.c_str()) == 0;
}

std::string buildPage() {
    std::string page = htmlPage(kSeed, kPageBytes * 95 / 100);
    const size_t body = page.find('>', page.find("<body")) + 1;
    page.insert(body, "\n<!--@BODY-->\n<h1><a name=\"TITLE\"></a>Installation</h1>\n");
    const size_t region = page.rfind("</body>") - body;
    const size_t made = insertEvery(page, region / (kHeadings + 10), [](size_t n) {
        if (n >= kHeadings) return std::string();
        char buf[96];
        std::snprintf(buf, sizeof buf, "<h2><a name=\"CHAPTER%zu\"></a>Part %zu</h2>", n + 1, n + 1);
        return std::string(buf);
    });
    if (made < kHeadings) {
        std::fprintf(stderr, "annotation_insert_bench: only %zu headings\n", made);
        std::exit(1);
    }
    insertEvery(page, 700, [](size_t n) {
        static const char* const kLatin1[] = {"caf\xe9 ", "\xfc" "ber ", "na\xefve ", "\xe9t\xe9 "};
        return std::string(kLatin1[n % 4]);
    });
    return page;
}

const std::string& page() {
    static const std::string p = buildPage();
    return p;
}

struct Mode {
    const char* name;
    bool inserter;
    const char* an;  // null for none
};

const Mode kModes[] = {{"plain", false, nullptr}, {"icons", true, nullptr}, {"all_boxes", true, "ALL"}};

std::unique_ptr<ruva::CgiHandler> request(const Mode& mode) {
    static char* noEnv[] = {nullptr};
    auto cg = ruva::newCgiHandler(ruva::kKivoservFlags, noEnv);
    cg->kivoServName = "/127.0.0.1:8080/cgi-bin/kivoserv";
    cg->scriptName = "/cgi-bin/";
    cg->docServAddr = "127.0.0.1:" + std::to_string(port);
    cg->valueList->addValue("FN", kDocumentName);
    cg->valueList->addValue("AC", "LINK");
    if (mode.an) cg->valueList->addValue("AN", mode.an);
    if (mode.inserter) cg->annotFactory = &ruva::newKvoSrvAnnot;
    if (!cg->allocDocBuf(page().size())) std::abort();
    std::memcpy(cg->docBuf, page().data(), page().size());
    return cg;
}

size_t countOf(std::string_view text, std::string_view word) {
    size_t n = 0;
    for (size_t at = text.find(word); at != std::string_view::npos; at = text.find(word, at + word.size())) ++n;
    return n;
}

// The pass's output for the fields of mode without an inserter, the
// reference of the others.
const std::string& plainOutput(const Mode& mode) {
    static std::map<std::string, std::string> outs;
    auto [at, made] = outs.try_emplace(mode.name);
    if (made) {
        std::unique_ptr<ruva::CgiHandler> cg = request({mode.name, false, mode.an});
        if (cg->postProcessFile() && cg->dstBuf) at->second.assign(cg->dstBuf, cg->dstOffs);
    }
    return at->second;
}

// out without the woven fragments: icons, boxes and the edit script.
std::string withoutMarks(std::string_view out, const std::string& prefix) {
    const std::string icon = "<a href=\"" + prefix + "FN=" + kDocumentName + "&amp;AN=";
    const struct {
        std::string start;
        std::string end;
    } marks[] = {
        {icon, "/></a>"},
        {"<table width=\"100%\" cellspacing=\"0\" cellpadding=\"4\"", "</table>\n"},
        {"<script type=\"text/javascript\">\n<!--\nvar kvTexts", "</script>\n"},
    };
    std::string rest;
    size_t i = 0;
    while (i < out.size()) {
        bool cut = false;
        for (const auto& m : marks) {
            if (out.compare(i, m.start.size(), m.start) != 0) continue;
            const size_t end = out.find(m.end, i);
            if (end == std::string_view::npos) break;
            i = end + m.end.size();
            cut = true;
            break;
        }
        if (!cut) rest += out[i++];
    }
    return rest;
}

// "" when the pass's output has what the mode weaves in, and the page as
// plain has it elsewhere.
std::string checkPass(const Mode& mode, const ruva::CgiHandler& cg, int result) {
    if (!result) return "result 0: " + cg.getError();
    if (!cg.dstBuf) return "no output buffer";
    const std::string_view out(cg.dstBuf, cg.dstOffs);
    if (countOf(out, "\xe9") != countOf(page(), "\xe9")) return "Latin-1 bytes were changed";
    const std::string prefix = cg.urlProto + cg.kivoServName + "?";
    const size_t icons = countOf(out, "AC=TBIMG&amp;IM=1\"");
    const size_t boxes = countOf(out, "cellpadding=\"4\" style=\"background-color: #fffce9;");
    if (!mode.inserter) {
        if (cg.sess) return "a document server was asked for";
        if (icons || boxes) return "marks without an inserter";
        return out == plainOutput(mode) ? "" : "plain passes differ";
    }
    if (withoutMarks(out, prefix) != plainOutput(mode)) return "the page differs outside the marks";
    const size_t members = kHeadings / 2;
    if (!mode.an) {
        if (icons != members + 1 || boxes) return "icons " + std::to_string(icons) + ", boxes " + std::to_string(boxes);
        for (size_t n = 1; n <= kHeadings; ++n) {
            const std::string link = "&amp;AN=" + std::to_string(n) + "#CHAPTER" + std::to_string(n) + "\"";
            if ((out.find(link) != std::string_view::npos) != annotated(n))
                return "chapter " + std::to_string(n) + ": icon where none belongs, or none where one does";
        }
        return "";
    }
    if (icons || boxes != members) return "icons " + std::to_string(icons) + ", boxes " + std::to_string(boxes);
    size_t at = 0;
    for (size_t n = 2; n <= kHeadings; n += 2) {
        at = out.find("<b>H" + std::to_string(n) + "</b>", at);
        if (at == std::string_view::npos) return "box " + std::to_string(n) + " missing or out of order";
    }
    return "";
}

bool gFailed = false;

void pass(benchmark::State& state, const Mode* mode) {
    std::unique_ptr<ruva::CgiHandler> cg = request(*mode);
    std::string query = std::string("FN=") + kDocumentName + "&AC=LINK";
    if (mode->an) query += std::string("&AN=") + mode->an;
    setenv("QUERY_STRING", query.c_str(), 1);
    const std::string fault = checkPass(*mode, *cg, cg->postProcessFile());
    if (!fault.empty()) {
        gFailed = true;
        state.SkipWithError(fault.c_str());
        return;
    }
    for (auto _ : state) {
        int result = cg->postProcessFile();
        if (!result) state.SkipWithError("the pass failed");
        benchmark::DoNotOptimize(cg->dstBuf);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page().size()));
}

}  // namespace

int main(int argc, char** argv) {
    if (underHarness(argc, argv, "annotation_insert_bench", makeAnnotLibrary) == nullptr) return harnessStatus;
    if (!initializeWithRepetitions(argc, argv)) return 1;
    unsetenv("RUVA_ADDR");
    for (const Mode& mode : kModes) {
        benchmark::RegisterBenchmark((std::string(mode.name) + "/1M").c_str(), pass, &mode)
            ->Unit(benchmark::kMicrosecond)
            ->UseRealTime();
    }
    RatioReporter reporter("plain", {"icons", "all_boxes"});
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::printf("(target: icons at most 1.2 of plain; all_boxes without a target)\n");
    if (gFailed) std::fprintf(stderr, "annotation_insert_bench: an output check failed\n");
    return gFailed ? 1 : 0;
}

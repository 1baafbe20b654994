// The SGML scanner beside expat over one large XML file, in one run:
//   scanner/iso_639_3: registerInput + buildNodeList + freeNodeList;
//   expat/iso_639_3: XML_Parse of the same bytes, its handlers copying
//     every name, attribute and text run into a std::vector<std::string>,
//     the work a node list does.
// The file is iso_639-3.xml of the Debian package iso-codes (about 1 MB,
// over 100,000 nodes), or the path given as the first argument. Both
// sides are checked before timing: the same count of start tags.
#include <benchmark/benchmark.h>
#include <expat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench/ratio_reporter.h"
#include "bmod/ruvaserv/sgml/sgmlscanner.h"
#include "common/mapped_file.h"

namespace {

using namespace ruva;

constexpr const char* kDefaultFile = "/usr/share/xml/iso-codes/iso_639-3.xml";

struct Input {
    char* data = nullptr;
    size_t size = 0;
};
Input gInput;

struct Copies {
    std::vector<std::string> strings;
    size_t elements = 0;
};

void XMLCALL startElement(void* user, const XML_Char* name, const XML_Char** attrs) {
    auto* c = static_cast<Copies*>(user);
    c->strings.emplace_back(name);
    for (const XML_Char** a = attrs; *a; ++a) c->strings.emplace_back(*a);
    ++c->elements;
}

void XMLCALL endElement(void* user, const XML_Char* name) { static_cast<Copies*>(user)->strings.emplace_back(name); }

void XMLCALL characterData(void* user, const XML_Char* text, int len) {
    static_cast<Copies*>(user)->strings.emplace_back(text, static_cast<size_t>(len));
}

// Start tags found by expat; 0 when it refuses the input.
size_t expatParse(Copies* copies) {
    XML_Parser p = XML_ParserCreate(nullptr);
    if (!p) return 0;
    XML_SetUserData(p, copies);
    XML_SetElementHandler(p, startElement, endElement);
    XML_SetCharacterDataHandler(p, characterData);
    const bool ok = XML_Parse(p, gInput.data, static_cast<int>(gInput.size), 1) == XML_STATUS_OK;
    XML_ParserFree(p);
    return ok ? copies->elements : 0;
}

// Start tags of the root element and below in the scanner's list; 0 when it fails.
size_t scannerParse(SgmlScanner* ss, size_t* nodes) {
    if (!ss->registerInput(gInput.data, gInput.size)) return 0;
    std::unique_ptr<SgmlNodeList> list = ss->newNodeList(0);
    if (!list || !ss->buildNodeList(list.get())) return 0;
    size_t elements = 0;
    *nodes = 0;
    for (const SgmlNode* n = list->firstNode; n; n = n->next) {
        ++*nodes;
        const char* v = n->text();
        if (n->state == SPS_TAGNAME && n->level == 0 && v && std::strchr("/!?", v[0]) == nullptr) ++elements;
    }
    ss->freeNodeList(std::move(list));
    return elements;
}

void expatBench(benchmark::State& state) {
    for (auto _ : state) {
        Copies copies;
        benchmark::DoNotOptimize(expatParse(&copies));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(gInput.size));
}

void scannerBench(benchmark::State& state) {
    std::unique_ptr<SgmlScanner> ss = newSgmlScanner(0);
    if (!ss) {
        state.SkipWithError("no scanner");
        return;
    }
    for (auto _ : state) {
        if (!ss->registerInput(gInput.data, gInput.size)) state.SkipWithError(ss->getError().c_str());
        std::unique_ptr<SgmlNodeList> list = ss->newNodeList(0);
        if (!list || !ss->buildNodeList(list.get())) {
            state.SkipWithError(ss->getError().c_str());
            break;
        }
        ss->freeNodeList(std::move(list));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(gInput.size));
}

// Both sides read the same document before anything is timed.
bool checkAgreement() {
    Copies copies;
    const size_t expatElements = expatParse(&copies);
    std::unique_ptr<SgmlScanner> ss = newSgmlScanner(0);
    size_t nodes = 0;
    const size_t scannerElements = ss ? scannerParse(ss.get(), &nodes) : 0;
    if (expatElements == 0 || scannerElements != expatElements) {
        std::fprintf(stderr, "sgml_scan_bench: expat finds %zu start tags, the scanner %zu (%s)\n", expatElements,
                     scannerElements, ss ? ss->getError().c_str() : "no scanner");
        return false;
    }
    std::printf("%zu bytes, %zu start tags, %zu nodes\n", gInput.size, expatElements, nodes);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (argc > 2) {
        std::fprintf(stderr, "usage: sgml_scan_bench [benchmark options] [file.xml]\n");
        return 1;
    }
    const char* path = argc == 2 ? argv[1] : kDefaultFile;
    if (!mapFile(path, &gInput.data, &gInput.size)) {
        std::fprintf(stderr, "sgml_scan_bench: cannot map %s: %s (install the Debian package iso-codes)\n", path,
                     std::strerror(errno));
        return 1;
    }
    if (!checkAgreement()) return 1;
    benchmark::RegisterBenchmark("expat/iso_639_3", expatBench);
    benchmark::RegisterBenchmark("scanner/iso_639_3", scannerBench);
    ruva::bench::RatioReporter reporter("expat", {"scanner"});
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    unmapFile(&gInput.data, &gInput.size);
    return 0;
}

// Test program of the SGML library for the differential scripts: one mode,
// then any number of files, each scanned on the same scanner.
//   --tagmap          the TAVR table: number, name, flags, child names
//   --nodes FILE...   one row per node: state/flags@level "value" (flags
//                     two hex digits; "@level" only when not 0; no value when
//                     null; '"' and '\\' backslashed, controls \n \r \t \xHH)
//   --print FILE...   the node list printed back as markup
//   --context TOP FILE...  "(NAME" per push, ")NAME" per pop
//   --entities FILE...     the parameter entities, also after a failed scan:
//                          "name value", or "name" for one without value
//   --xhtml FILE...   printed through the XHTML hook
// Exit status 0 when every file scanned, 1 otherwise; messages on stderr.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "bmod/ruvaserv/sgml/scontext.h"
#include "bmod/ruvaserv/sgml/sgmlscanner.h"
#include "bmod/ruvaserv/sgml/tagmap.h"
#include "tests/bmod/ruvaserv/sgml/context_walk.h"
#include "tests/bmod/ruvaserv/sgml/dump_value.h"

namespace ruva {
namespace {

enum class Mode { kTagmap, kNodes, kPrint, kContext, kEntities, kXhtml };

int usage() {
    std::fputs("usage: sgmldump --tagmap | --nodes|--print|--entities|--xhtml FILE... | --context TOP FILE...\n",
               stderr);
    return 2;
}

int dumpTagmap() {
    std::unique_ptr<TagMap> map = newTagMap(MAPDTD_TAVR, 0);
    if (!map) {
        std::fputs("sgmldump: no tag map\n", stderr);
        return 1;
    }
    for (int no = 0; no < map->tagCount; ++no) {
        const TagEntry& e = map->entries[no];
        std::printf("%d %s 0x%02X", no, e.name, e.flags);
        for (uint8_t child : e.map) {
            if (child == kTagMapEnd) break;
            std::printf(" %s", map->getTagName(child));
        }
        std::putchar('\n');
    }
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}

// Scans one file into a new list; null with the message on stderr.
std::unique_ptr<SgmlNodeList> scanFile(SgmlScanner* ss, const char* path) {
    if (!ss->setInput(path)) {
        std::fprintf(stderr, "%s: %s\n", path, ss->getError().c_str());
        return nullptr;
    }
    std::unique_ptr<SgmlNodeList> list = ss->newNodeList(0);
    if (!list || !ss->buildNodeList(list.get())) {
        std::fprintf(stderr, "%s: %s\n", path, ss->getError().c_str());
        return nullptr;
    }
    return list;
}

// One row per node: state/flags, "@level" when not 0, the value unless null.
int dumpNodes(SgmlScanner*, const SgmlNodeList* list) {
    for (const SgmlNode* node = list->firstNode; node; node = node->next) {
        std::fprintf(stdout, "%d/%02X", node->state, node->flags);
        if (node->level) std::fprintf(stdout, "@%d", node->level);
        if (node->text()) {
            std::fputc(' ', stdout);
            putDumpValue(node->text());
        }
        std::fputc('\n', stdout);
    }
    return std::fflush(stdout) == 0;
}

int dumpPrint(SgmlScanner* ss, const SgmlNodeList* list) { return ss->printNodeList(list, stdout); }

int logContext(const char* mark, ContextEntry* entry, void* data) {
    const char* name = static_cast<SContext*>(data)->getTagName(entry->tagno);
    std::printf("%s%s\n", mark, name ? name : "");
    return 1;
}
int logPush(ContextEntry* entry, void* data) { return logContext("(", entry, data); }
int logPop(ContextEntry* entry, void* data) { return logContext(")", entry, data); }

// The element structure as the context stack sees it, closed at the end.
int dumpContext(const char* path, const SgmlNodeList* list, const char* top) {
    std::unique_ptr<SContext> sc = newSContext(MAPDTD_TAVR, 0);
    if (!sc) {
        std::fputs("sgmldump: no context stack\n", stderr);
        return 0;
    }
    sc->initCallbacks(logPush, sc.get(), logPop, sc.get());
    if (!sc->setMap(MAPDTD_TAVR, top) || !test::walkContext(sc.get(), list)) {
        std::fprintf(stderr, "%s: %s\n", path, sc->getError().c_str());
        return 0;
    }
    return 1;
}

// One line per entity in declaration order: name, then its value unless none.
int dumpEntities(SgmlScanner* ss) {
    for (const ScannerEntity& entity : ss->entities) {
        std::fputs(entity.name.c_str(), stdout);
        if (entity.value) std::fprintf(stdout, " %s", entity.value->c_str());
        std::fputc('\n', stdout);
    }
    return std::fflush(stdout) == 0;
}

int dumpXhtml(SgmlScanner* ss, const SgmlNodeList* list) {
    ss->validate = xhtmlValidate;
    int ok = ss->printNodeList(list, stdout);
    ss->validate = nullptr;
    return ok;
}

int dumpFile(SgmlScanner* ss, Mode mode, const char* top, const char* path) {
    std::unique_ptr<SgmlNodeList> list = scanFile(ss, path);
    int ok = 0;
    switch (mode) {
    case Mode::kNodes: ok = list && dumpNodes(ss, list.get()); break;
    case Mode::kPrint: ok = list && dumpPrint(ss, list.get()); break;
    case Mode::kContext: ok = list && dumpContext(path, list.get(), top); break;
    case Mode::kEntities: ok = dumpEntities(ss) && list; break;
    case Mode::kXhtml: ok = list && dumpXhtml(ss, list.get()); break;
    case Mode::kTagmap: break;
    }
    if (list) ss->freeNodeList(std::move(list));
    ss->closeInput();
    return ok;
}

int run(int argc, char** argv) {
    if (argc < 2) return usage();
    const char* opt = argv[1];
    if (std::strcmp(opt, "--tagmap") == 0) return argc == 2 ? dumpTagmap() : usage();
    Mode mode;
    int first = 2;
    const char* top = nullptr;
    if (std::strcmp(opt, "--nodes") == 0) {
        mode = Mode::kNodes;
    } else if (std::strcmp(opt, "--print") == 0) {
        mode = Mode::kPrint;
    } else if (std::strcmp(opt, "--entities") == 0) {
        mode = Mode::kEntities;
    } else if (std::strcmp(opt, "--xhtml") == 0) {
        mode = Mode::kXhtml;
    } else if (std::strcmp(opt, "--context") == 0 && argc >= 3) {
        mode = Mode::kContext;
        top = argv[2];
        first = 3;
    } else {
        return usage();
    }
    if (first >= argc) return usage();
    std::unique_ptr<SgmlScanner> ss = newSgmlScanner(0);
    if (!ss) {
        std::fputs("sgmldump: no scanner\n", stderr);
        return 1;
    }
    int status = 0;
    for (int i = first; i < argc; ++i) {
        if (!dumpFile(ss.get(), mode, top, argv[i])) status = 1;
    }
    return status;
}

}  // namespace
}  // namespace ruva

int main(int argc, char** argv) { return ruva::run(argc, argv); }

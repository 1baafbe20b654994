// The SGML scanner on whole inputs: the node list built from the caller's
// memory (no NUL after it), printed back plainly and through the XHTML
// hook, then walked by an element context stack over the TAVR map as the
// document tree walks it. Any page an upload brings goes this way.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "bmod/ruvaserv/sgml/scontext.h"
#include "bmod/ruvaserv/sgml/sgmlscanner.h"

namespace {

using namespace ruva;

FILE* devNull() {
    static FILE* f = std::fopen("/dev/null", "w");
    return f;
}

// Start and end tags at level 0, as the tree hands them to the stack; the
// walk ends at the first refusal, as the tree's does.
void walkContext(const SgmlNodeList* list) {
    std::unique_ptr<SContext> sc = newSContext(MAPDTD_TAVR, 0);
    if (!sc || !sc->setMap(MAPDTD_TAVR, nullptr)) return;
    for (SgmlNode* n = list->firstNode; n && n->state != SPS_EOF; n = n->next) {
        const char* name = n->text();
        if (n->state != SPS_TAGNAME || n->level != 0 || !name || name[0] == '!' || name[0] == '?') continue;
        if (!(name[0] == '/' ? sc->end(n) : sc->start(n))) break;
    }
    sc->printContextStack();
    sc->empty();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::unique_ptr<SgmlScanner> ss = newSgmlScanner(0);
    if (!ss || !ss->registerInput(data, size)) return 0;
    std::unique_ptr<SgmlNodeList> list = ss->newNodeList(0);
    if (!list) return 0;
    if (ss->buildNodeList(list.get())) {
        ss->printNodeList(list.get(), devNull());
        ss->validate = xhtmlValidate;
        ss->printNodeList(list.get(), devNull());
        ss->validate = nullptr;
        walkContext(list.get());
    }
    ss->freeNodeList(std::move(list));
    ss->closeInput();
    return 0;
}

// Feeds a node list's tags to an element context stack as the document
// tree walks it: start and end tags in order, declarations, comments and
// processing instructions left out, every open element closed at the end.
#pragma once

#include "bmod/ruvaserv/sgml/scontext.h"
#include "bmod/ruvaserv/sgml/sgmlscanner.h"

namespace ruva::test {

// 1 when every tag was taken; 0 at the first refused one, the message in sc.
inline int walkContext(SContext* sc, const SgmlNodeList* list) {
    for (SgmlNode* n = list->firstNode; n && n->state != SPS_EOF; n = n->next) {
        if (n->state != SPS_TAGNAME || !n->text()) continue;
        char first = n->text()[0];
        if (first == '!' || first == '?') continue;
        if (!(first == '/' ? sc->end(n) : sc->start(n))) return 0;
    }
    return sc->empty();
}

}  // namespace ruva::test

// The annotation inserter that post-processing asks for annotation marks.
// The request actions provide it; kivoserv registers its factory. Without a
// factory pages get no annotation marks, as for a document without
// annotation entries.
#pragma once

#include <memory>
#include <string_view>

namespace ruva {

class CgiHandler;

class KvoSrvAnnot {
public:
    virtual ~KvoSrvAnnot() = default;

    // Set on creation: -2 internal error, -1 no annotation entries, 0 ready.
    int status = 0;

    // tag: the page from just after "<a" up to the bound the pass allows.
    // 1 when the anchor names the next annotated chapter.
    virtual int checkNameAttr(std::string_view tag) = 0;
    virtual int insertAnnotGif(std::string_view an) = 0;
    virtual int insertAnnotationIfRequested(std::string_view fn, std::string_view an) = 0;
    virtual int insertJavaScript() = 0;
    virtual int insertButVariables() = 0;
    virtual int insertButton() = 0;
};

// newKvoSrvAnnot: the inserter for document docname (at most 255
// characters), writing into cg's output buffer; null when it cannot be made.
using KvoSrvAnnotFactory = std::unique_ptr<KvoSrvAnnot> (*)(std::string_view docname, CgiHandler& cg);

}  // namespace ruva

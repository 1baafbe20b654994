// The annotation marks woven into a document page while post-processing
// copies it: an icon or the annotation's box at each annotated chapter
// heading, the edit script in the head, and the annotation button of the
// toolbar page. The walk follows the document's members in chapter order,
// in step with the chapter anchors the page holds.
//
// Everything is written through an external-mode channel, straight into
// the request's output buffer. Members are read into the store's own
// buffer: the pass is copying out of the request's document buffer.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "bmod/ruvaserv/actions/annotation.h"
#include "bmod/ruvaserv/actions/annotation_fmt.h"
#include "bmod/ruvaserv/cgi/annotation_inserter.h"
#include "bmod/ruvaserv/output/kvooutput.h"

namespace ruva {

// currChapRef holds at most this many characters.
inline constexpr size_t kChapRefMax = 255;

class AnnotationMarks : public KvoSrvAnnot {
public:
    AnnotationMarks(const AnnotationMarks&) = delete;
    AnnotationMarks& operator=(const AnnotationMarks&) = delete;

    // tag: the page just after "<a". Sets currChapRef from a name value
    // "CHAPTER<digits and dots>" or "TITLE<digits and dots>" ("A" and those;
    // "A" alone becomes "ALL") standing before the tag's '>'. 1 when it
    // names the next member's chapter; members whose chapter sorts before a
    // chapter anchor's are passed over first, so one no heading carries does
    // not hide the later ones. The title anchor also gives 1, and takes a
    // whole-document member (chapter "0") when that is next.
    int checkNameAttr(std::string_view tag) override;
    // Unless an is currChapRef or "ALL": the icon linking to this chapter's
    // annotation. 1.
    int insertAnnotGif(std::string_view an) override;
    // The matched member's box when an asks for it: an equal to currChapRef,
    // or "ALL" (at the title only for a whole-document member). A member
    // that cannot be read shows nothing and leaves the request's error text
    // as it was. 0 without members, else 1.
    int insertAnnotationIfRequested(std::string_view fn, std::string_view an) override;
    // The script element defining openAnEd. 1.
    int insertJavaScript() override;
    // The toolbar script's two button images (icons 15 and 14). 1.
    int insertButVariables() override;
    // The toolbar cell of the annotation button. 1.
    int insertButton() override;

    const std::string& currChapRef() const { return currChapRef_; }
    const std::vector<AnnoZip>& members() const { return annoFList_; }

private:
    friend std::unique_ptr<KvoSrvAnnot> newKvoSrvAnnot(std::string_view docname, CgiHandler& cg);
    explicit AnnotationMarks(std::string_view docname) : docname_(docname) {}

    // Declared so that the page writer goes before the store and channel.
    std::unique_ptr<KvoOutput> ao_;
    std::unique_ptr<Annotation> an_;
    std::unique_ptr<AnnotationFmt> af_;
    std::string docname_;
    std::string currChapRef_;
    std::vector<AnnoZip> annoFList_;
    size_t next_ = 0;     // pAFL: the next member to match
    size_t current_ = 0;  // pCurrentAFL: the member matched last
};

// The marks for document docname on the request cg (the pass gives at most
// kAnnoNameMax characters); null only when memory runs out. status: -2 when
// the channel, store or page writer cannot be made; -1 when docname is not
// a document file name (nothing is sent), its listing failed (the request's
// error text is kept as it was) or named no member; else 0.
std::unique_ptr<KvoSrvAnnot> newKvoSrvAnnot(std::string_view docname, CgiHandler& cg);

}  // namespace ruva

// The HTML of annotations: the mark beside a chapter heading, the box shown
// inside a document, the annotations page of a document, the edit form, the
// script that opens the edit window and the page that confirms a change.
//
// Everything goes through an output channel its creator has bound to the
// request. Links back to the front end use the channel's URL writer: in
// internal mode (pages built in the document buffer) "qzl:/kivo?", which
// post-processing completes; in external mode (text woven into a served
// page) the front end's own address. Stored fields are written with their
// character references kept and markup shown as text; values in links and
// script strings are link-encoded, so no stored or requested value becomes
// markup or script.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "bmod/ruvaserv/actions/anno_record.h"

namespace ruva {

class Annotation;
class KvoOutput;

class AnnotationFmt {
public:
    AnnotationFmt(Annotation* an, KvoOutput* ao) : an(an), ao(ao) {}
    AnnotationFmt(const AnnotationFmt&) = delete;
    AnnotationFmt& operator=(const AnnotationFmt&) = delete;
    // Closes the channel's output.
    ~AnnotationFmt();

    // The mark of chapRef's annotation, linking to it (firstChapRef: the
    // first annotated chapter, where "ALL" leads). gifURL is not used.
    // Returns 0.
    int formatAnnotationGif(const std::string& gifURL, const std::string& docname, const std::string& chapRef,
                            const std::string& firstChapRef);
    // 'javascript:openAnEd("…")' for the edit form of docname's chapter,
    // quoted for an attribute. Returns 0.
    int formatEditURL(const std::string& docname, const std::string& chapter);
    // The box of one annotation. Returns 0.
    int formatAnnotation(const std::string& docname, const AnnoStruct& as);
    // The table of all annotations of docname, list in display order.
    // Returns 0.
    int formatAnnoTable(const std::string& docname, const std::vector<AnnoStruct>& list,
                        const std::string& gifURL);
    // The annotations page of docname, every revision. 0; 1 when the
    // listing or a member's read failed (the store's message is set) or
    // the output cannot be opened.
    int getAnnotationDoc(const std::string& docname, const std::string& gifURL);
    // The edit form of docname's chapter: for as when given (a joined text
    // to replace the stored one), else for the stored annotation, else for
    // a new one. The form carries the version it was built from (AV). 0; 1
    // when the read failed (its message is set) or the output cannot be
    // opened.
    int getUpdateForm(const std::string& docname, const std::string& chapter, const AnnoStruct* as);
    // The script element defining openAnEd.
    int insertJavaScript();
    // The page confirming a change. 0, or 1 when the output cannot be opened.
    int generateOKresponse();

    Annotation* an;  // not owned
    KvoOutput* ao;   // not owned
};

// Null when memory runs out.
std::unique_ptr<AnnotationFmt> newAnnotationFmt(Annotation* an, KvoOutput* ao);

}  // namespace ruva
